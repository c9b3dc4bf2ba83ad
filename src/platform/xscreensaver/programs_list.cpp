// Reads XScreenSaver's list of programs the way XScreenSaver reads its
// preferences file, remembering where each character came from, so that a
// change touches only the bytes it must.
#include "platform/xscreensaver/programs_list.h"

#include <cctype>
#include <cstddef>
#include <vector>

namespace nebla::platform::xscreensaver {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kUserKey = "programs:";

// A file made from nothing says where it came from; XScreenSaver skips
// comment lines.
constexpr std::string_view kHeader =
    "# XScreenSaver Preferences File\n"
    "# Begun by nebla --add-to-xscreensaver: the system's list of programs\n"
    "# with Nebla added. Every other setting still comes from the system's\n"
    "# defaults.\n"
    "\n";

// One resource line: [begin, end) in the text, its continuations included,
// end just before its final newline (or at the end of the text).
struct Line {
  std::size_t begin;
  std::size_t end;
};

struct Resource {
  std::size_t valueBegin;  // just after the colon
  std::size_t end;
};

// The value's characters with the offset in the text each came from.
struct Decoded {
  std::string chars;
  std::vector<std::size_t> at;
};

struct Entry {
  std::size_t dash;  // the offset of its `-`, kNone when enabled
  std::string_view program;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool sameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// As XScreenSaver joins them: a line goes on while it ends in a backslash
// with something before it.
Line lineFrom(std::string_view text, std::size_t begin) {
  std::size_t physical = begin;
  for (;;) {
    std::size_t newline = text.find('\n', physical);
    if (newline == kNone) return {begin, text.size()};
    if (newline < physical + 2 || text[newline - 1] != '\\') return {begin, newline};
    physical = newline + 1;
  }
}

// The key before the colon, stripped; empty for comments and blank lines.
std::string_view keyOf(std::string_view text, Line line, std::size_t& colon) {
  std::size_t start = line.begin;
  while (start < line.end && blank(text[start])) ++start;
  colon = text.find(':', start);
  if (start == line.end || text[start] == '#' || text[start] == '!' || text[start] == ';' ||
      colon == kNone || colon >= line.end)
    return {};
  std::size_t stop = colon;
  while (stop > start && blank(text[stop - 1])) --stop;
  return text.substr(start, stop - start);
}

// The last resource whose key passes `wanted`: the one that counts, as a
// later value replaces an earlier one.
template <typename Wanted>
std::optional<Resource> findResource(std::string_view text, Wanted wanted) {
  std::optional<Resource> found;
  for (std::size_t begin = 0; begin < text.size();) {
    Line line = lineFrom(text, begin);
    std::size_t colon = 0;
    std::string_view key = keyOf(text, line, colon);
    if (!key.empty() && wanted(key)) found = Resource{colon + 1, line.end};
    begin = line.end + 1;
  }
  return found;
}

bool isUserKey(std::string_view key) { return sameLetters(key, "programs"); }

// In the app-defaults file the list is `*programs` or
// `XScreenSaver.programs` (any binding, either case of the class).
bool isDefaultsKey(std::string_view key) {
  constexpr std::string_view name = "programs";
  if (key.size() <= name.size() || key.substr(key.size() - name.size()) != name) return false;
  char binding = key[key.size() - name.size() - 1];
  std::string_view prefix = key.substr(0, key.size() - name.size() - 1);
  return (binding == '*' || binding == '.') &&
         (prefix.empty() || sameLetters(prefix, "xscreensaver"));
}

// Backslash-newline is dropped first, then the escapes are read, as
// XScreenSaver does.
Decoded decode(std::string_view text, Resource list) {
  Decoded joined;
  for (std::size_t i = list.valueBegin; i < list.end; ++i) {
    if (text[i] == '\\' && i + 1 < list.end && text[i + 1] == '\n') {
      ++i;
      continue;
    }
    joined.chars += text[i];
    joined.at.push_back(i);
  }
  Decoded value;
  for (std::size_t i = 0; i < joined.chars.size(); ++i) {
    char c = joined.chars[i];
    std::size_t at = joined.at[i];
    if (c == '\\' && i + 1 < joined.chars.size()) {
      char next = joined.chars[++i];
      c = next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    }
    value.chars += c;
    value.at.push_back(at);
  }
  return value;
}

// One entry of the list, chars [begin, end) of the value: `-`, then a
// visual before a colon, then a "label", then the command.
Entry parseEntry(const Decoded& value, std::size_t begin, std::size_t end) {
  std::string_view s(value.chars);
  auto skipBlanks = [&](std::size_t i) {
    while (i < end && blank(s[i])) ++i;
    return i;
  };
  std::size_t i = skipBlanks(begin);
  Entry entry{kNone, {}};
  if (i < end && s[i] == '-') entry.dash = value.at[i], i = skipBlanks(i + 1);
  std::size_t word = i;
  while (word < end && s[word] != ':' && s[word] != '"' && !blank(s[word])) ++word;
  if (word < end && s[word] == ':') i = skipBlanks(word + 1);
  if (i < end && s[i] == '"') {
    std::size_t close = s.find('"', i + 1);
    i = skipBlanks(close == kNone || close >= end ? end : close + 1);
  }
  std::size_t stop = i;
  while (stop < end && !blank(s[stop])) ++stop;
  std::string_view path = s.substr(i, stop - i);
  std::size_t slash = path.rfind('/');
  entry.program = slash == kNone ? path : path.substr(slash + 1);
  return entry;
}

std::vector<Entry> entries(const Decoded& value) {
  std::vector<Entry> list;
  for (std::size_t begin = 0; begin < value.chars.size();) {
    std::size_t end = value.chars.find('\n', begin);
    if (end == kNone) end = value.chars.size();
    list.push_back(parseEntry(value, begin, end));
    begin = end + 1;
  }
  return list;
}

// Nebla's line in XScreenSaver's own columns: the command from column 32,
// its `\n` at column 76.
std::string neblaLine() { return "\t\t\t\t" + std::string(kNeblaCommand) + "\t\t\t\t    \\n"; }

// A list whose last entry is not closed with `\n` gets one first.
void appendNebla(std::string& text, Resource list, const Decoded& value) {
  std::size_t last = value.chars.find_last_not_of(" \t");
  bool closed = last == kNone || value.chars[last] == '\n';
  bool atEnd = list.end == text.size();
  text.insert(list.end, (closed ? "\\\n" : " \\n\\\n") + neblaLine() + (atEnd ? "\n" : ""));
}

// The defaults' list under the user file's key, with Nebla after it.
std::string listFromDefaults(const std::optional<std::string>& defaults) {
  std::string block(kUserKey);
  if (defaults) {
    std::optional<Resource> list = findResource(*defaults, isDefaultsKey);
    if (list) block += defaults->substr(list->valueBegin, list->end - list->valueBegin);
  }
  block += '\n';
  Resource own{kUserKey.size(), block.size() - 1};
  appendNebla(block, own, decode(block, own));
  return block;
}

}  // namespace

Edited addNebla(const std::optional<std::string>& user,
                const std::optional<std::string>& defaults) {
  if (!user) return {std::string(kHeader) + listFromDefaults(defaults), Change::Added, true};
  std::string text = *user;
  std::optional<Resource> list = findResource(text, isUserKey);
  if (!list) {
    if (!text.empty()) text += text.back() == '\n' ? "\n" : "\n\n";
    return {text + listFromDefaults(defaults), Change::Added, true};
  }
  Decoded value = decode(text, *list);
  std::size_t disabled = kNone;
  for (const Entry& entry : entries(value)) {
    if (entry.program != "nebla") continue;
    if (entry.dash == kNone) return {text, Change::AlreadyListed, false};
    if (disabled == kNone) disabled = entry.dash;
  }
  if (disabled != kNone) return {text.erase(disabled, 1), Change::Enabled, false};
  appendNebla(text, *list, value);
  return {text, Change::Added, false};
}

}  // namespace nebla::platform::xscreensaver
