// Reading input scripts: one timed event a line.
#include "platform/headless/script.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/user.h"

namespace nebla::platform::headless {
namespace {

using Kind = InputEvent::Kind;

struct KeyName {
  std::string_view name;
  int code;
};

constexpr KeyName kKeys[] = {
    {"esc", VK_ESCAPE},  {"q", 'Q'},        {"space", VK_SPACE}, {"left", VK_LEFT}, {"up", VK_UP},
    {"right", VK_RIGHT}, {"down", VK_DOWN}, {"c", 'C'},          {"d", 'D'},        {"l", 'L'},
    {"m", 'M'},          {"t", 'T'},        {"shift", VK_SHIFT},
};

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t\r", at);
    if (at == std::string_view::npos) return out;
    std::size_t end = line.find_first_of(" \t\r", at);
    if (end == std::string_view::npos) end = line.size();
    out.push_back(line.substr(at, end - at));
    at = end;
  }
}

template <typename T>
bool number(std::string_view text, T& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// "down"/"up" after key, left and right; "lost"/"gained" after focus.
bool pairEvent(std::string_view first, std::string_view second, Kind& kind) {
  struct Pair {
    std::string_view first, second;
    Kind kind;
  };
  static constexpr Pair kPairs[] = {
      {"key", "down", Kind::KeyDown},     {"key", "up", Kind::KeyUp},
      {"left", "down", Kind::LeftDown},   {"left", "up", Kind::LeftUp},
      {"right", "down", Kind::RightDown}, {"right", "up", Kind::RightUp},
      {"focus", "lost", Kind::FocusLost}, {"focus", "gained", Kind::FocusGained},
  };
  for (const Pair& p : kPairs) {
    if (p.first == first && p.second == second) {
      kind = p.kind;
      return true;
    }
  }
  return false;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One escape after a backslash at `at`; moves `at` past it.
std::string readEscape(std::string_view rest, std::size_t& at, std::string& out) {
  char c = at + 1 < rest.size() ? rest[at + 1] : '\0';
  static constexpr std::string_view kNamed = "\\\"ntr";
  static constexpr std::string_view kMeant = "\\\"\n\t\r";
  if (std::size_t named = kNamed.find(c); named != std::string_view::npos) {
    out += kMeant[named];
    at += 2;
    return "";
  }
  if (c == 'x' && at + 3 < rest.size() && hexDigit(rest[at + 2]) >= 0 &&
      hexDigit(rest[at + 3]) >= 0) {
    out += static_cast<char>(hexDigit(rest[at + 2]) * 16 + hexDigit(rest[at + 3]));
    at += 4;
    return "";
  }
  return "unknown escape in the text (\\\\ \\\" \\n \\t \\r \\xNN are known)";
}

// The words of `text "WORDS"`, between the quotes, escapes undone.
std::string readQuotedText(std::string_view rest, InputEvent& e) {
  if (rest.empty() || rest[0] != '"') return "expected 'text \"WORDS\"' or 'text keyless'";
  std::size_t at = 1;
  while (at < rest.size() && rest[at] != '"') {
    if (rest[at] != '\\') {
      e.text += rest[at++];
      continue;
    }
    if (std::string reason = readEscape(rest, at, e.text); !reason.empty()) return reason;
  }
  if (at == rest.size()) return "the text's closing quote is missing";
  return rest.find_first_not_of(" \t\r", at + 1) == std::string_view::npos
             ? ""
             : "unexpected text after the text's closing quote";
}

// `text keyless` or `text "WORDS"`; rest is what follows the word text.
std::string readText(std::string_view rest, InputEvent& e) {
  std::size_t first = rest.find_first_not_of(" \t");
  rest = first == std::string_view::npos ? std::string_view() : rest.substr(first);
  std::size_t last = rest.find_last_not_of(" \t\r");
  if (rest.substr(0, last + 1) == "keyless") {
    e.kind = Kind::KeylessText;
    return "";
  }
  e.kind = Kind::Text;
  return readQuotedText(rest, e);
}

// The event after the time; an empty reason means success.
std::string readEvent(const std::vector<std::string_view>& w, InputEvent& e) {
  std::string_view what = w[1];
  std::size_t count = w.size();
  if (what == "close") {
    e.kind = Kind::Close;
    return count == 2 ? "" : "unexpected text after 'close'";
  }
  if (what == "mouse") {
    e.kind = Kind::MouseMove;
    if (count != 4 || !number(w[2], e.x) || !number(w[3], e.y)) return "expected 'mouse X Y'";
    return e.x < -32768 || e.x > 32767 || e.y < -32768 || e.y > 32767
               ? "mouse position out of range"
               : "";
  }
  if (count < 3 || !pairEvent(what, w[2], e.kind)) return "unknown event " + quoted(what);
  bool isKey = e.kind == Kind::KeyDown || e.kind == Kind::KeyUp;
  if (!isKey) return count == 3 ? "" : "unexpected text after the event";
  if (count != 4) return "expected 'key down|up NAME'";
  e.key = scriptKeyCode(w[3]);
  if (e.key < 0) return "unknown key " + quoted(w[3]);
  return "";
}

std::string readLine(std::string_view line, DWORD previous, InputEvent& e) {
  std::vector<std::string_view> w = words(line);
  if (!number(w[0], e.time)) return "bad time " + quoted(w[0]);
  if (e.time < previous)
    return "time " + std::to_string(e.time) + " is before the previous event's " +
           std::to_string(previous);
  if (w.size() < 2) return "missing event after the time";
  if (w[1] == "text") return readText(line.substr(w[1].data() + w[1].size() - line.data()), e);
  return readEvent(w, e);
}

// A comment starts at a # outside a text's quotes.
std::size_t commentStart(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && !quoted) return i;
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '\\' && quoted) ++i;
  }
  return line.size();
}

// A line as it stands in the text, comment and all; blank when it holds no
// event. The NUL is looked for before the comment is cut off: a page hands
// the parser the whole text with its length, where a C string would end at
// the NUL, so a NUL anywhere is refused and every reader of a script agrees.
std::string readWholeLine(std::string_view line, DWORD previous, InputEvent& e, bool& blank) {
  if (line.find('\0') != std::string_view::npos) return "a NUL byte (a script is plain text)";
  line = line.substr(0, commentStart(line));
  blank = line.find_first_not_of(" \t\r") == std::string_view::npos;
  return blank ? "" : readLine(line, previous, e);
}

// Bytes of one well-formed UTF-8 character at text[at] beyond the first
// (0 for ASCII); -1 when the bytes there are not one.
int utf8Tail(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 0;
  int tail = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
             : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
  if (tail < 0) return -1;
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (byte(at + 1) < low || byte(at + 1) > high) return -1;
  for (int i = 2; i <= tail; ++i)
    if ((byte(at + static_cast<std::size_t>(i)) & 0xC0) != 0x80) return -1;
  return tail;
}

// A text's words for a script line: readable UTF-8 stays as it is; quotes,
// backslashes, line ends, tabs, control bytes and bytes that are not UTF-8
// are escaped, so that the line reads back as the same bytes.
std::string escapeText(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    auto c = static_cast<unsigned char>(text[at]);
    int tail = utf8Tail(text, at);
    if (c == '\\' || c == '"') {
      out += {'\\', static_cast<char>(c)};
    } else if (c == '\n' || c == '\t') {
      out += c == '\n' ? "\\n" : "\\t";
    } else if (c < 0x20 || c == 0x7F || tail < 0) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += text.substr(at, static_cast<std::size_t>(tail) + 1);
      at += static_cast<std::size_t>(tail);
    }
  }
  return out;
}

}  // namespace

std::string quoted(std::string_view word) {
  constexpr std::size_t kLongest = 40;
  std::string out = "'";
  for (unsigned char c : word.substr(0, kLongest)) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + (word.size() > kLongest ? "...'" : "'");
}

int scriptKeyCode(std::string_view name) {
  if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') return name[0];
  for (const KeyName& k : kKeys)
    if (k.name == name) return k.code;
  return -1;
}

std::string_view scriptKeyName(int key) {
  static constexpr std::string_view kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  if (key >= '0' && key <= '9') return kDigits[key - '0'];
  for (const KeyName& k : kKeys)
    if (k.code == key) return k.name;
  return {};
}

std::string formatScriptEvent(const InputEvent& e) {
  std::string line = std::to_string(e.time) + " ";
  switch (e.kind) {
    case Kind::KeyDown:
    case Kind::KeyUp: {
      std::string_view name = scriptKeyName(e.key);
      if (name.empty()) return {};
      return line + (e.kind == Kind::KeyDown ? "key down " : "key up ") + std::string(name);
    }
    case Kind::MouseMove: return line + "mouse " + std::to_string(e.x) + " " + std::to_string(e.y);
    case Kind::LeftDown: return line + "left down";
    case Kind::LeftUp: return line + "left up";
    case Kind::RightDown: return line + "right down";
    case Kind::RightUp: return line + "right up";
    case Kind::FocusLost: return line + "focus lost";
    case Kind::FocusGained: return line + "focus gained";
    case Kind::Close: return line + "close";
    case Kind::Text: return line + "text \"" + escapeText(e.text) + "\"";
    case Kind::KeylessText: return line + "text keyless";
  }
  return {};
}

bool parseScript(std::string_view text, std::string_view fileName, std::vector<InputEvent>& events,
                 std::string& error) {
  events.clear();
  DWORD previous = 0;
  int lineNumber = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    InputEvent e;
    bool blank = false;
    std::string reason = readWholeLine(line, previous, e, blank);
    if (!reason.empty()) {
      error = std::string(fileName) + ":" + std::to_string(lineNumber) + ": " + reason;
      events.clear();
      return false;
    }
    if (blank) continue;
    previous = e.time;
    events.push_back(e);
  }
  return true;
}

bool loadScript(const std::string& path, std::vector<InputEvent>& events, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parseScript(text.str(), path, events, error);
}

}  // namespace nebla::platform::headless
