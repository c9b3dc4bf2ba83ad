// The user's text in the writer's format: strict UTF-8 decoding, the
// mapping of each character to a byte the glyph table knows, word wrap and
// pages centred like the built-in title page.
#include "effects/user_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <utility>

#include "diag/log.h"
#include "effects/scroll_text.h"

namespace nebla::effects {

namespace {

// The base letter of U+00C0 + i, '*' where Unicode gives none: the
// ligatures, the letters with a stroke, the sharp s, thorn and eth, and the
// two signs of arithmetic.
constexpr std::string_view kBaseLetters =
    "aaaaaa*ceeeeiiii"   // U+00C0
    "*nooooo**uuuuy**"   // U+00D0
    "aaaaaa*ceeeeiiii"   // U+00E0
    "*nooooo**uuuuy*y"   // U+00F0
    "aaaaaaccccccccdd"   // U+0100
    "**eeeeeeeeeegggg"   // U+0110
    "gggghh**iiiiiiii"   // U+0120
    "i***jjkk*llllll*"   // U+0130
    "***nnnnnn***oooo"   // U+0140
    "oo**rrrrrrssssss"   // U+0150
    "sstttt**uuuuuuuu"   // U+0160
    "uuuuwwyyyzzzzzz*";  // U+0170
constexpr char32_t kFirstAccented = 0xC0;

// Straight, curly and low quotes, single and double, and guillemets.
bool isQuote(char32_t c) {
  constexpr std::u32string_view kQuotes = U"'\"`\u00AB\u00BB\u2039\u203A";
  return kQuotes.find(c) != std::u32string_view::npos || (c >= 0x2018 && c <= 0x201F);
}

bool isCombiningMark(char32_t c) { return c >= 0x300 && c <= 0x36F; }

// One character starting at s[i]; false for anything strict UTF-8 refuses:
// a stray or missing continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF.
bool decodeOne(std::string_view s, std::size_t& i, char32_t& c) {
  const auto lead = static_cast<unsigned char>(s[i]);
  std::size_t extra = lead < 0x80 ? 0 : lead < 0xC2 ? 4 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  if (extra == 4 || lead > 0xF4 || s.size() - i <= extra) return false;
  static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  c = extra == 0 ? lead : lead & (0x3F >> extra);
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) return false;
    c = (c << 6) | (next & 0x3F);
  }
  i += extra + 1;
  return c >= kLeast[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// The text split into lines of characters; false with the line of the
// first byte that is not UTF-8.
bool decodeLines(std::string_view s, std::vector<std::u32string>& lines, std::size_t& badLine) {
  lines.assign(1, {});
  for (std::size_t i = 0; i < s.size();) {
    char32_t c = 0;
    if (!decodeOne(s, i, c)) {
      badLine = lines.size();
      return false;
    }
    // A byte order mark is skipped where it belongs, at the very start.
    if (c == U'\n') {
      lines.emplace_back();
    } else if (c != 0xFEFF || i != 3) {
      lines.back() += c;
    }
  }
  if (lines.back().empty()) lines.pop_back();
  for (std::u32string& line : lines)
    if (!line.empty() && line.back() == U'\r') line.pop_back();
  return true;
}

// The pages as lines; a page that is full makes way for the next.
class PageSetter {
 public:
  void addLine(std::string line) {
    if (pages_.back().size() == kPageRows) pages_.emplace_back();
    if (!line.empty() || !pages_.back().empty()) pages_.back().push_back(std::move(line));
  }
  void breakPage() {
    if (!pages_.back().empty()) pages_.emplace_back();
  }
  bool tooLong() const { return pageCount() > kMaxPages; }
  std::string finish() const;

 private:
  // A page break at the end opens no page of its own.
  std::size_t pageCount() const {
    return pages_.size() > 1 && pages_.back().empty() ? pages_.size() - 1 : pages_.size();
  }

  using Page = std::vector<std::string>;
  std::vector<Page> pages_{Page{}};
};

// A page's lines as one block in the middle of the page, flush left within
// it; an odd row or column left over goes below or to the right.
void setPage(std::vector<std::string> lines, std::string& out) {
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::size_t widest = 0;
  for (const std::string& line : lines) widest = std::max(widest, line.size());
  const std::size_t left = (kPageColumns - widest) / 2;
  const std::size_t top = (kPageRows - lines.size()) / 2;
  std::string page(kPageCells, ' ');
  for (std::size_t row = 0; row < lines.size(); ++row)
    page.replace((top + row) * kPageColumns + left, lines[row].size(), lines[row]);
  out += page;
}

std::string PageSetter::finish() const {
  std::string out;
  for (std::size_t i = 0; i < pageCount(); ++i) setPage(pages_[i], out);
  return out;
}

// Words go on the line while they fit, with the spaces before them as
// written; where a line breaks, those spaces go. A word longer than a line
// is cut into pieces of a line.
void wrapLine(std::string_view line, PageSetter& pages) {
  line = line.substr(0, line.find_last_not_of(' ') + 1);
  std::string current;
  for (std::size_t i = 0; i < line.size();) {
    const std::size_t start = line.find_first_not_of(' ', i);
    const std::size_t end = std::min(line.find(' ', start), line.size());
    std::string_view word = line.substr(start, end - start);
    const std::size_t gap = start - i;
    i = end;
    if (current.size() + gap + word.size() <= kPageColumns) {
      current.append(gap, ' ').append(word);
      continue;
    }
    if (!current.empty()) pages.addLine(std::exchange(current, {}));
    for (; word.size() > kPageColumns; word.remove_prefix(kPageColumns))
      pages.addLine(std::string(word.substr(0, kPageColumns)));
    current = word;
  }
  pages.addLine(std::move(current));
}

// One line in the writer's bytes; characters without a glyph are noted
// once each.
std::string mapLine(const std::u32string& line, std::set<char32_t>& seen, UserText& text) {
  std::string bytes;
  for (char32_t c : line) {
    if (isCombiningMark(c)) continue;
    const char b = c == U'\t' || c == 0xA0 ? ' ' : writerByte(c);
    if (b == kEmptyCell && seen.insert(c).second) text.unmapped.push_back(c);
    bytes += b;
  }
  return bytes;
}

bool isPageBreak(const std::u32string& line) { return line == U"\f" || line == U"---"; }

void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  static constexpr unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};
  const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
  for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

std::string tooLongReason() {
  return "too long: more than " + std::to_string(kMaxPages) + " pages";
}

}  // namespace

char writerByte(char32_t c) {
  if (c == U' ') return ' ';
  if (c >= U'A' && c <= U'Z') c += U'a' - U'A';
  if (c > 0 && c < 0x80 && glyphIndex(static_cast<char>(c)) >= 0) return static_cast<char>(c);
  if (isQuote(c)) return '\xA7';
  if (c >= kFirstAccented && c - kFirstAccented < kBaseLetters.size() &&
      kBaseLetters[c - kFirstAccented] != '*')
    return kBaseLetters[c - kFirstAccented];
  return kEmptyCell;
}

bool layOutText(std::string_view utf8, UserText& out, std::string& reason) {
  std::vector<std::u32string> lines;
  std::size_t badLine = 0;
  if (!decodeLines(utf8, lines, badLine)) {
    reason = "not UTF-8 (line " + std::to_string(badLine) + ")";
    return false;
  }
  UserText text;
  std::set<char32_t> seen;
  PageSetter pages;
  for (const std::u32string& line : lines) {
    if (isPageBreak(line))
      pages.breakPage();
    else
      wrapLine(mapLine(line, seen, text), pages);
    if (pages.tooLong()) {
      reason = tooLongReason();
      return false;
    }
  }
  text.pages = pages.finish();
  out = std::move(text);
  return true;
}

bool loadUserText(const std::string& path, std::string& words, UserText& out,
                  std::string& message) {
  const std::string name = path == "-" ? "standard input" : path;
  std::ifstream file;
  if (path != "-") file.open(path, std::ios::binary);
  std::istream& in = path == "-" ? std::cin : file;
  if (!in) {
    message = name + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::string bytes(kMaxTextBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  std::string reason;
  if (in.bad())
    reason = "cannot read it";
  else if (bytes.size() > kMaxTextBytes)
    reason = tooLongReason();
  if (reason.empty() && layOutText(bytes, out, reason)) {
    words = std::move(bytes);
    return true;
  }
  message = name + ": " + reason;
  return false;
}

void announceText(const UserText& text, std::string_view program, const std::string& source) {
  if (!text.unmapped.empty())
    std::fprintf(stderr, "%.*s: no glyph for: %s (left empty)\n", static_cast<int>(program.size()),
                 program.data(), describeUnmapped(text.unmapped).c_str());
  std::size_t pages = text.pages.size() / kPageCells;
  diag::logInfoAtOpen("text: " + std::to_string(pages) + (pages == 1 ? " page" : " pages") +
                      " from " + source);
}

std::string describeUnmapped(const std::vector<char32_t>& unmapped) {
  constexpr std::size_t kShown = 20;
  std::string out;
  for (std::size_t i = 0; i < std::min(unmapped.size(), kShown); ++i) {
    const char32_t c = unmapped[i];
    if (i > 0) out += ' ';
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      out += code;
    } else {
      appendUtf8(c, out);
    }
  }
  if (unmapped.size() > kShown) out += " and " + std::to_string(unmapped.size() - kShown) + " more";
  return out;
}

bool isTextMode(std::string_view mode) {
  return mode == "own" || mode == "literal" || mode == "file" || mode == "program";
}

bool pickTextSource(TextChoice& choice, std::string& reason) {
  struct Source {
    const char* mode;
    std::string* value;
    const char* option;
  };
  const Source sources[] = {{"literal", &choice.literal, "--text-literal WORDS"},
                            {"file", &choice.file, "--text FILE"},
                            {"program", &choice.program, "--text-program COMMAND"}};
  if (choice.mode.empty()) {
    int given = 0;
    for (const Source& source : sources) given += source.value->empty() ? 0 : 1;
    if (given > 1)
      reason =
          "give only one of --text, --text-literal and --text-program "
          "(or pick one with --text-mode)";
    return given <= 1;
  }
  if (!isTextMode(choice.mode)) {
    reason = "--text-mode wants own, literal, file or program";
    return false;
  }
  for (const Source& source : sources) {
    if (choice.mode != source.mode) {
      source.value->clear();
    } else if (source.value->empty()) {
      reason = "--text-mode " + choice.mode + " needs " + source.option;
      return false;
    }
  }
  return true;
}

std::string literalText(std::string_view words) {
  std::string lines;
  for (std::size_t i = 0; i < words.size(); ++i) {
    bool blank = words[i] == ' ' || words[i] == '\t';
    if (blank && !lines.empty() && lines.back() == ' ') continue;
    bool lineBreak = words.substr(i, 2) == "\\n";
    lines += lineBreak ? '\n' : blank ? ' ' : words[i];
    i += lineBreak ? 1 : 0;
  }
  return lines;
}

}  // namespace nebla::effects
