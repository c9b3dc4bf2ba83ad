// The user's text in the writer's format: the character mapping, word wrap,
// pages and their layout, what is refused, and a whole run that burns the
// first laid-out page in where the layout put its characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "app_harness.h"
#include "effects/scroll_text.h"
#include "effects/text_writer.h"
#include "effects/user_text.h"
#include "platform/headless/script.h"

namespace nebla::testing {
namespace {

using effects::kEmptyCell;
using effects::kPageCells;
using effects::kPageColumns;
using effects::writerByte;

effects::UserText layOut(std::string_view utf8) {
  effects::UserText text;
  std::string reason;
  EXPECT_TRUE(effects::layOutText(utf8, text, reason)) << reason;
  EXPECT_EQ(text.pages.size() % kPageCells, 0u);
  return text;
}

// Row r of page p, without its trailing spaces.
std::string row(const effects::UserText& text, std::size_t page, std::size_t r) {
  std::string line = text.pages.substr(page * kPageCells + r * kPageColumns, kPageColumns);
  return line.substr(0, line.find_last_not_of(' ') + 1);
}

std::size_t pages(const effects::UserText& text) { return text.pages.size() / kPageCells; }

TEST(EffectsUserText, CharactersBecomeTheWritersBytes) {
  EXPECT_EQ(writerByte(U'A'), 'a');
  EXPECT_EQ(writerByte(U'M'), 'm') << "upper-case M is the mark's glyph, not a letter";
  for (char32_t same : {U'z', U'0', U'.', U',', U'!', U':', U'?', U'/', U'-', U'%', U' '})
    EXPECT_EQ(writerByte(same), static_cast<char>(same));
  for (char32_t quote : {U'\'', U'"', U'`', U'\u2018', U'\u2019', U'\u201C', U'\u201E', U'\u00AB'})
    EXPECT_EQ(writerByte(quote), '\xA7') << static_cast<unsigned>(quote);
  EXPECT_EQ(writerByte(U'\u00C0'), 'a');  // the first of the table
  EXPECT_EQ(writerByte(U'\u00C9'), 'e');
  EXPECT_EQ(writerByte(U'\u00FF'), 'y');
  EXPECT_EQ(writerByte(U'\u0107'), 'c');
  EXPECT_EQ(writerByte(U'\u017E'), 'z');  // the last letter with a base
  for (char32_t none : {U'\u00C6', U'\u00DF', U'\u0141', U'\u017F', U'\u0180', U'\u00A7', U'(',
                        U';', U'\0', U'\u2603', U'\U0001F600'})
    EXPECT_EQ(writerByte(none), kEmptyCell) << static_cast<unsigned>(none);
  // What the writer relies on: the empty cell stops its pass over spaces
  // and draws nothing.
  EXPECT_NE(kEmptyCell, ' ');
  EXPECT_LT(effects::glyphIndex(kEmptyCell), 0);
}

TEST(EffectsUserText, AShortPageIsCentredAsOneBlockFlushLeft) {
  EXPECT_EQ(layOut("nebla\n").pages, std::string_view(effects::ScrollText, kPageCells))
      << "laid out like the built-in title page";
  effects::UserText text = layOut("ab\n  longer line\n");
  ASSERT_EQ(pages(text), 1u);
  EXPECT_EQ(row(text, 0, 4), "");
  EXPECT_EQ(row(text, 0, 5), std::string(12, ' ') + "ab");
  EXPECT_EQ(row(text, 0, 6), std::string(12, ' ') + "  longer line");
  EXPECT_EQ(row(text, 0, 7), "");
  EXPECT_EQ(layOut("").pages, std::string(kPageCells, ' ')) << "nothing is one blank page";
}

TEST(EffectsUserText, WordsWrapAtSpacesLongWordsBreakBlankLinesStay) {
  effects::UserText text =
      layOut("the quick brown fox jumps over the lazy dog  again\n\n" + std::string(80, 'x'));
  ASSERT_EQ(pages(text), 1u);
  EXPECT_EQ(row(text, 0, 2), "");
  EXPECT_EQ(row(text, 0, 3), "the quick brown fox jumps over the");
  EXPECT_EQ(row(text, 0, 4), "lazy dog  again");
  EXPECT_EQ(row(text, 0, 5), "");
  EXPECT_EQ(row(text, 0, 6), std::string(38, 'x'));
  EXPECT_EQ(row(text, 0, 7), std::string(38, 'x'));
  EXPECT_EQ(row(text, 0, 8), "xxxx");
  EXPECT_EQ(row(text, 0, 9), "");
}

TEST(EffectsUserText, PageBreaksAndPagesThatRunOver) {
  effects::UserText text = layOut("one\n---\n\n\ntwo\r\n\f\r\n---\nthree\n---\n");
  ASSERT_EQ(pages(text), 3u) << "a break on an empty page or at the end opens none";
  // Blank lines at the top of a page are dropped, not centred with it.
  EXPECT_EQ(row(text, 0, 6), std::string(17, ' ') + "one");
  EXPECT_EQ(row(text, 1, 6), std::string(17, ' ') + "two");
  EXPECT_EQ(row(text, 2, 6), std::string(16, ' ') + "three");
  std::string fourteen;
  for (int i = 10; i < 24; ++i) fourteen += std::to_string(i) + "\n";
  text = layOut(fourteen);
  ASSERT_EQ(pages(text), 2u);
  EXPECT_EQ(row(text, 0, 0), std::string(18, ' ') + "10");
  EXPECT_EQ(row(text, 0, 12), std::string(18, ' ') + "22");
  EXPECT_EQ(row(text, 1, 6), std::string(18, ' ') + "23");
  EXPECT_EQ(row(layOut(" ---\n"), 0, 6), std::string(17, ' ') + " ---") << "only --- breaks";
}

TEST(EffectsUserText, AccentsQuotesAndCharactersWithoutAGlyphReportedOnce) {
  effects::UserText text = layOut(
      "\xEF\xBB\xBF\xC3\x87"
      "a va? Don\xE2\x80\x99t; e\xCC\x81t\xC3\xA9 \xE2\x98\x83\xE2\x98\x83\t\xE2\x82\xAC\x07;");
  EXPECT_EQ(row(text, 0, 6), std::string(7, ' ') + "ca va? don\xA7t\x7F ete \x7F\x7F \x7F\x7F\x7F");
  EXPECT_EQ(effects::describeUnmapped(text.unmapped), "; \xE2\x98\x83 \xE2\x82\xAC U+0007");
  std::vector<char32_t> many;
  for (char32_t c = 0x4E00; c < 0x4E00 + 25; ++c) many.push_back(c);
  EXPECT_EQ(effects::describeUnmapped(many).substr(20 * 3 + 19), " and 5 more");
}

TEST(EffectsUserText, RefusesWhatIsNotUtf8AndWhatRunsPastTheLastPage) {
  for (std::string_view bad : {"ok\n\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
                               "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "\xFF"}) {
    effects::UserText text;
    text.pages = "kept";
    std::string reason;
    EXPECT_FALSE(effects::layOutText(bad, text, reason)) << ::testing::PrintToString(bad);
    EXPECT_EQ(text.pages, "kept");
    EXPECT_EQ(reason, bad[0] == 'o' ? "not UTF-8 (line 2)" : "not UTF-8 (line 1)");
  }
  std::string full;
  for (std::size_t i = 0; i < effects::kMaxPages * effects::kPageRows; ++i) full += "x\n";
  EXPECT_EQ(pages(layOut(full + "---\n")), effects::kMaxPages);
  effects::UserText text;
  std::string reason;
  EXPECT_FALSE(effects::layOutText(full + "x", text, reason));
  EXPECT_EQ(reason, "too long: more than 200 pages");
}

TEST(EffectsUserText, LoadsAFileAndRefusesOneTooLargeOrMissing) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("nebla-text-" + std::to_string(::getpid()));
  std::ofstream(file) << "hi\n";
  effects::UserText text;
  std::string words, message;
  EXPECT_TRUE(effects::loadUserText(file.string(), words, text, message)) << message;
  EXPECT_EQ(words, "hi\n");
  EXPECT_EQ(row(text, 0, 6), std::string(18, ' ') + "hi");
  std::ofstream(file) << std::string(effects::kMaxTextBytes + 1, ' ');
  EXPECT_FALSE(effects::loadUserText(file.string(), words, text, message));
  EXPECT_EQ(message, file.string() + ": too long: more than 200 pages");
  std::filesystem::remove(file);
  EXPECT_FALSE(effects::loadUserText(file.string(), words, text, message));
  EXPECT_EQ(message.rfind(file.string() + ": cannot open: ", 0), 0u) << message;
}

// Ink in the middle of a cell, away from what its neighbours' footprints
// spill over its edges.
int inkIn(const PresentedFrame& f, std::size_t column, std::size_t r) {
  const int x0 = static_cast<int>(column + 1) * 16, y0 = static_cast<int>(r) * 29 + 49;
  int ink = 0;
  for (int y = y0 + 2; y < y0 + 25; ++y)
    for (int x = x0 + 2; x < x0 + 14; ++x) ink += at(f, x, y) - 1;
  return ink;
}

class UserTextRun : public AppRun {};

// The words come the way a recording carries them, as a script's text
// event, and the first page burns in where the layout put its characters.
TEST_F(UserTextRun, AScriptsTextBurnsInWhereTheLayoutPutItsCharacters) {
  const std::string words =
      "\xC3\x87"
      "a \xC2\xAB va \xC2\xBB?\nna\xC3\xAFve \xE2\x98\x83 ok #1\n---\nnext";
  effects::UserText text = layOut(words);
  ASSERT_EQ(pages(text), 2u);
  const std::string page = text.pages.substr(0, kPageCells);
  const auto steps = static_cast<std::uint32_t>(
      std::count_if(page.begin(), page.end(), [](char c) { return c != ' '; }));
  platform::InputEvent event{platform::InputEvent::Kind::Text, 0, 0, 0, 0, words};
  const std::string line = platform::headless::formatScriptEvent(event);
  // One step a character, 50 frames for the last glyph's flight, well
  // before the 90 frames' wait is over.
  RunResult r = run(line + "\n", steps + 60);
  std::vector<PresentedFrame> flips = r.flips();
  ASSERT_EQ(flips.size(), steps + 60);
  for (std::size_t cell = 0; cell < kPageCells; ++cell) {
    const bool glyph = effects::glyphIndex(page[cell]) >= 0;
    const int ink = inkIn(flips.back(), cell % kPageColumns, cell / kPageColumns);
    EXPECT_EQ(ink > 0, glyph) << "cell " << cell << " '" << page[cell] << "' ink " << ink;
  }
  EXPECT_NE(r.log.find("text: the user's words in pages: 2"), std::string::npos) << r.log;
}

TEST_F(UserTextRun, WordsThatCannotBeLaidOutLeaveTheWritersTextAndSayWhy) {
  RunResult r = run("0 text \"caf\\xE9\"\n", 2);
  EXPECT_NE(r.log.find("text refused, the writer keeps its text: not UTF-8 (line 1)"),
            std::string::npos)
      << r.log;
}

// A settings page passes every field that is filled in and names the one
// to use; a command line without a mode may give only one.
TEST(TextSource, TheModeKeepsItsSourceAndOnlyIt) {
  effects::TextChoice all{"f.txt", "words", "fortune", ""};
  std::string reason;
  effects::TextChoice choice = all;
  EXPECT_FALSE(effects::pickTextSource(choice, reason));
  EXPECT_EQ(reason,
            "give only one of --text, --text-literal and --text-program (or pick one with "
            "--text-mode)");
  for (auto [mode, file, literal, program] :
       {std::tuple{"program", "", "", "fortune"}, std::tuple{"file", "f.txt", "", ""},
        std::tuple{"literal", "", "words", ""}, std::tuple{"own", "", "", ""}}) {
    choice = all;
    choice.mode = mode;
    ASSERT_TRUE(effects::pickTextSource(choice, reason)) << mode << ": " << reason;
    EXPECT_EQ(std::tie(choice.file, choice.literal, choice.program),
              std::tie(file, literal, program))
        << mode;
  }
  choice = effects::TextChoice{"", "words", "", "program"};
  EXPECT_FALSE(effects::pickTextSource(choice, reason));
  EXPECT_EQ(reason, "--text-mode program needs --text-program COMMAND");
  choice = effects::TextChoice{"", "words", "", "url"};
  EXPECT_FALSE(effects::pickTextSource(choice, reason));
  EXPECT_EQ(reason, "--text-mode wants own, literal, file or program");
  choice = effects::TextChoice{"", "", "fortune", ""};
  EXPECT_TRUE(effects::pickTextSource(choice, reason));
  EXPECT_EQ(choice.program, "fortune");
}

TEST(TextSource, LiteralWordsBreakAtBackslashNAndSqueezeBlanks) {
  EXPECT_EQ(effects::literalText("one\\ntwo\\n---\\nthree"), "one\ntwo\n---\nthree");
  EXPECT_EQ(effects::literalText("a \\ b\\"), "a \\ b\\");
  EXPECT_EQ(effects::literalText("wrapped\t  \t\t  here \\n  next"), "wrapped here \n next");
}

}  // namespace
}  // namespace nebla::testing
