// The built-in text is what every viewer reads: its page format, the
// characters it may use, and the key help that must stand at fixed places.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "effects/scroll_text.h"

namespace {

using nebla::effects::glyphIndex;
using nebla::effects::ScrollText;

constexpr std::size_t kColumns = 38;
constexpr std::size_t kRows = 13;

// Row `row` of page `page`, both counted from the top of the text (page 1).
std::string_view line(int page, std::size_t row) {
  return std::string_view(ScrollText).substr(((page - 1) * kRows + row) * kColumns, kColumns);
}

bool blank(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }

std::string_view trimmed(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  return s.substr(first, s.find_last_not_of(' ') + 1 - first);
}

// Headings may stand in any column.
constexpr std::size_t kAnyColumn = std::string_view::npos;

TEST(EffectsScrollText, NinePagesOfFixedLinesFromTheAllowedCharacters) {
  std::string_view text(ScrollText);
  ASSERT_EQ(text.size(), 9 * kRows * kColumns);
  EXPECT_EQ(text.find_first_not_of("abcdefghijklmnopqrstuvwxyz1234567890.,\xA7!:?/-% ()MT"),
            std::string_view::npos);
  // The framed mark's halves are drawn by neighbouring glyphs: together, once at most.
  const std::size_t mark = text.find('M');
  EXPECT_EQ(text.find('T'), mark == std::string_view::npos ? mark : mark + 1);
  EXPECT_LE(std::count(text.begin(), text.end(), 'M') + std::count(text.begin(), text.end(), 'T'),
            2);
}

TEST(EffectsScrollText, HeadingsAndKeyHelpStandAtTheirCells) {
  struct Placed {
    int page;
    std::size_t row, column;
    std::string_view text;
  };
  const Placed placed[] = {
      {4, 3, kAnyColumn, "ok, how to handle this baby:"},
      {4, 6, 4,
       "\xA7q\xA7 and \xA7"
       "esc\xA7 -- quit"},
      {4, 7, 4, "\xA7t\xA7 -- stop/continue textwriter"},
      {4, 8, 4,
       "\xA7"
       "d\xA7 -- turn on/off some infos"},
      {4, 9, 4, "\xA7m\xA7 -- turn on/off mousepointer"},
      {5, 1, kAnyColumn, "something to play around:"},
      {5, 4, 2, "lmb/rmb -- add smoke to the screen"},
      {5, 5, 2, "cursor keys -- some wind"},
      {5, 6, 2,
       "\xA7"
       "1\xA7-\xA7"
       "0\xA7 -- change colors"},
      {5, 8, 2,
       "(shift)\xA7"
       "c\xA7 -- less/more particles"},
      {5, 9, 16, "per mouseclick"},
      {5, 11, 2, "(shift)\xA7l\xA7 -- less/more lifetime"},
      {5, 12, 16, "of those particles"},
      {6, 6, 1, "space -- experimental light routine."},
      {6, 7, 6, "!!!don\xA7t turn this on!!!"},
      {6, 8, 5, "it will make your pc crawl"},
  };
  for (const Placed& p : placed) {
    std::string_view row = line(p.page, p.row);
    ASSERT_FALSE(blank(row)) << p.text;
    if (p.column != kAnyColumn) {
      EXPECT_EQ(row.find_first_not_of(' '), p.column) << p.text;
    }
    EXPECT_EQ(trimmed(row), p.text);
  }
}

TEST(EffectsScrollText, TitleAloneBlankLastPageSignatureRightAligned) {
  for (std::size_t row = 0; row < kRows; ++row) {
    if (row != 6) {
      EXPECT_TRUE(blank(line(1, row))) << row;
    }
    EXPECT_TRUE(blank(line(9, row))) << row;
  }
  EXPECT_EQ(trimmed(line(1, 6)), "nebla");
  EXPECT_NE(line(8, 12).back(), ' ');
  EXPECT_NE(line(8, 11).back(), ' ');
}

TEST(EffectsScrollText, GlyphLookupIsByExactByte) {
  const std::pair<char, int> found[] = {{'a', 0},     {'1', 26}, {'0', 35},
                                        {'\xA7', 38}, {'M', 45}, {'T', 46}};
  for (auto [c, index] : found) EXPECT_EQ(glyphIndex(c), index) << c;
  for (char none : {' ', '(', ')', 'A', 'Q', '\0', '\xA8'})
    EXPECT_EQ(glyphIndex(none), -1) << int(none);
}

}  // namespace
