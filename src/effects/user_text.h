// A plain UTF-8 text of the user's, laid out in pages for the text writer:
// lines of the page's width, a whole number of pages, every character one
// byte the writer knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nebla::effects {

// The writer's page at 640 x 480: 38 cells across, 13 lines down.
constexpr std::size_t kPageColumns = 38;
constexpr std::size_t kPageRows = 13;
constexpr std::size_t kPageCells = kPageColumns * kPageRows;

// A longer text is refused; so is a file of more than kMaxTextBytes, which
// is not read on.
constexpr std::size_t kMaxPages = 200;
constexpr std::size_t kMaxTextBytes = std::size_t{1} << 20;

// The byte a character without a glyph becomes. It is neither a space nor
// in the glyph table, so, like the built-in text's brackets, it costs the
// writer a step and leaves its cell empty.
constexpr char kEmptyCell = '\x7F';

struct UserText {
  std::string pages;               // kPageCells bytes a page, at least one page
  std::vector<char32_t> unmapped;  // characters without a glyph, each once, in order
};

// The writer's byte for one character: lower-case letters, digits and the
// glyph table's punctuation as they are; upper case lowered; quotes and
// apostrophes the quote mark (0xA7); letters of Latin-1 Supplement and
// Latin Extended-A (U+00C0 to U+017F) with a canonical decomposition their
// base letter; space a space; anything else kEmptyCell.
char writerByte(char32_t c);

// Lays text out: words wrap at spaces, a word longer than a line is broken
// into pieces of a line, blank lines are kept, and a line holding only a
// form feed or only "---" starts a new page; a page that runs over goes on
// on the next. Each page's lines are centred as one block, down and across,
// and stay flush left within it; blank lines at a page's top and bottom are
// dropped. A byte order mark at the start is skipped, "\r\n" is a line end,
// a tab a space, and combining marks (U+0300 to U+036F) go with their
// letter. False, with out untouched and a reason ("not UTF-8 (line N)",
// "longer than 200 pages"), when the text is refused.
bool layOutText(std::string_view utf8, UserText& out, std::string& reason);

// Reads the file at path ("-" for standard input) into words and lays it
// out. False with "NAME: reason" in message when it cannot be read or is
// refused; a file over kMaxTextBytes is refused as too long.
bool loadUserText(const std::string& path, std::string& words, UserText& out,
                  std::string& message);

// Where the user's text comes from, as a command line gives it; empty: not
// given.
struct TextChoice {
  std::string file;     // --text FILE
  std::string literal;  // --text-literal WORDS
  std::string program;  // --text-program COMMAND
  std::string mode;     // --text-mode own, literal, file or program
};

// Whether mode is one --text-mode takes: own, literal, file or program.
bool isTextMode(std::string_view mode);

// Leaves at most one source in choice. A mode keeps the source it names and
// clears the others ("own" clears all), so that a settings page can pass
// every field it has; without a mode, two sources or more are refused.
// False with a one-line reason for that, for an unknown mode (the reason
// does not repeat it: name it quoted), or for a mode whose source is not
// given.
bool pickTextSource(TextChoice& choice, std::string& reason);

// --text-literal's words as a text: the two characters \n are a line break,
// since a one-line field cannot hold one, and a run of spaces and tabs is
// one space (XScreenSaver's file of programs adds blanks where it wraps a
// long entry, inside quotes too).
std::string literalText(std::string_view words);

// What nebla and nebla-capture tell of a text laid out before the run: the
// characters without a glyph, once on standard error after "PROGRAM: ",
// and where the text came from ("the file 'x'"), as the log's first line.
void announceText(const UserText& text, std::string_view program, const std::string& source);

// The unmapped characters for a one-line report: each as itself, control
// characters as U+XXXX, the first 20 and then how many more.
std::string describeUnmapped(const std::vector<char32_t>& unmapped);

}  // namespace nebla::effects
