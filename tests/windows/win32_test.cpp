// The Windows backend's parts that need no window: the screensaver's
// command line, where its pictures go on the monitors, and the screenshot
// file.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/bitmap_file.h"
#include "platform/win32/monitors.h"
#include "platform/win32/screensaver_args.h"

namespace nebla::platform::win32 {
namespace {

using Kind = ScreenSaverCall::Kind;

ScreenSaverCall parse(std::vector<std::string> args) { return parseScreenSaverArguments(args); }

TEST(ScreenSaverArguments, TheSystemsCallsInEveryWriting) {
  EXPECT_EQ(parse({"/s"}).kind, Kind::Run);
  EXPECT_EQ(parse({"-S"}).kind, Kind::Run);
  ScreenSaverCall preview = parse({"/p", "4242"});
  EXPECT_EQ(preview.kind, Kind::Preview);
  EXPECT_EQ(preview.window, 4242u);
  EXPECT_EQ(parse({"/P:17"}).window, 17u);
  EXPECT_EQ(parse({}).kind, Kind::Configure);
  EXPECT_EQ(parse({"/c"}).window, 0u);
  ScreenSaverCall settings = parse({"/c:394"});
  EXPECT_EQ(settings.kind, Kind::Configure);
  EXPECT_EQ(settings.window, 394u);
}

TEST(ScreenSaverArguments, DamagedOrUnknownOnesAreNone) {
  for (auto args : std::vector<std::vector<std::string>>{{"/p"},
                                                         {"/p", ""},
                                                         {"/p", "0"},
                                                         {"/p", "12a"},
                                                         {"/p", "-5"},
                                                         {"/p", "99999999999999999999999"},
                                                         {"/c:x"},
                                                         {"/a"},
                                                         {"/sx"},
                                                         {"s"},
                                                         {""},
                                                         {"/"},
                                                         {"--help"}})
    EXPECT_EQ(parse(args).kind, Kind::None) << (args.empty() ? "" : args[0]);
}

// "x,y wxh" for each rectangle, so a failure shows them all.
std::string text(const std::vector<Rect>& rects) {
  std::string out;
  for (const Rect& r : rects)
    out += std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.w) + "x" +
           std::to_string(r.h) + ";";
  return out;
}

TEST(MonitorPictures, EachMonitorAtItsOwnWholeMultipleInWindowCoordinates) {
  // A 1024 x 768 monitor left of and below the top of a 1920 x 1200
  // primary, and a small one on the right: the virtual screen starts left
  // of the primary's corner and above it.
  Rect virtualScreen{-1024, -100, 1024 + 1920 + 800, 1300};
  std::vector<Rect> monitors{{0, 0, 1920, 1200}, {-1024, 200, 1024, 768}, {1920, -100, 800, 600}};
  EXPECT_EQ(text(picturesOnMonitors(virtualScreen, monitors, 640, 480)),
            text({{1024 + 320, 100 + 120, 1280, 960},
                  {0 + 192, 300 + 144, 640, 480},
                  {1024 + 1920 + 80, 0 + 60, 640, 480}}));
}

TEST(MonitorPictures, SmallOrEmptyMonitorsAndNoneAtAll) {
  Rect virtualScreen{0, 0, 1600, 1200};
  // Smaller than the picture: its plain fit; no area: left out.
  EXPECT_EQ(text(picturesOnMonitors(virtualScreen, {{0, 0, 0, 0}, {800, 600, 320, 300}}, 640, 480)),
            text({{800, 600 + 30, 320, 240}}));
  EXPECT_EQ(text(picturesOnMonitors(virtualScreen, {}, 640, 480)), text({{160, 120, 1280, 960}}));
  EXPECT_TRUE(picturesOnMonitors({0, 0, 0, 0}, {}, 640, 480).empty());
}

std::vector<unsigned char> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t word(const std::vector<unsigned char>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(BitmapFile, RowsBottomUpPaddedWithThePalette) {
  // Three pixels wide (rows padded to four), two high, read from rows five
  // bytes apart.
  const BYTE pixels[] = {1, 2, 3, 9, 9, 4, 5, 6, 9, 9};
  std::array<PALETTEENTRY, 256> palette{};
  palette[5] = {10, 20, 30, 0};
  std::string failure;
  ASSERT_TRUE(writeBitmapFile("shot.bmp", pixels, 3, 2, 5, palette.data(), failure)) << failure;
  std::vector<unsigned char> b = readFile("shot.bmp");
  std::remove("shot.bmp");
  ASSERT_EQ(b.size(), 14u + 40u + 1024u + 8u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(word(b, 2), b.size());
  EXPECT_EQ(word(b, 10), 14u + 40u + 1024u);
  EXPECT_EQ(word(b, 18), 3u);
  EXPECT_EQ(word(b, 22), 2u);
  EXPECT_EQ(b[28], 8);
  EXPECT_EQ(b[54 + 5 * 4], 30);  // blue, green, red
  EXPECT_EQ(b[54 + 5 * 4 + 2], 10);
  std::vector<unsigned char> rows(b.end() - 8, b.end());
  EXPECT_EQ(rows, (std::vector<unsigned char>{4, 5, 6, 0, 1, 2, 3, 0}));
}

TEST(BitmapFile, AFolderThatIsNotThereIsToldAndLeavesNothing) {
  const BYTE pixels[4] = {};
  std::array<PALETTEENTRY, 256> palette{};
  std::string failure;
  EXPECT_FALSE(
      writeBitmapFile("no-such-folder/shot.bmp", pixels, 2, 2, 2, palette.data(), failure));
  EXPECT_FALSE(failure.empty());
}

}  // namespace
}  // namespace nebla::platform::win32
