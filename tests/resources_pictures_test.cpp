// Checks the committed picture and icon files under resources/: the formats
// the loaders expect and the properties the effects rely on (two-colour glyph
// strip with ink in every cell, black-bordered grey Trible, colour outro).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readResource(const std::string& name) {
  std::ifstream in(std::string(NEBLA_SOURCE_DIR) + "/resources/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t u32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t u16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// A parsed uncompressed palette bitmap, as the program's loader sees it.
struct Bitmap {
  int width = 0;
  int height = 0;
  int bits = 0;
  std::vector<std::array<int, 3>> table;  // red, green, blue
  Bytes data;
  std::size_t pixels = 0;
  std::size_t stride = 0;

  // Palette index at (x, y), y counted from the top row of the picture.
  int index(int x, int y) const {
    std::size_t row = pixels + static_cast<std::size_t>(height - 1 - y) * stride;
    if (bits == 8) return data[row + x];
    std::uint8_t pair = data[row + x / 2];
    return x % 2 == 0 ? pair >> 4 : pair & 0x0F;
  }
  std::array<int, 3> colour(int x, int y) const { return table[index(x, y)]; }
};

// Fails the calling test (and returns an empty bitmap) unless the file is a
// well-formed bottom-up BI_RGB bitmap whose pixel rows all lie in the file.
Bitmap loadBitmap(const std::string& name) {
  Bitmap bmp;
  bmp.data = readResource(name);
  const Bytes& d = bmp.data;
  if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') {
    ADD_FAILURE() << name << ": not a bitmap file";
    return {};
  }
  EXPECT_EQ(u32(d, 2), d.size()) << name;
  EXPECT_EQ(u32(d, 14), 40u) << name;
  EXPECT_EQ(u32(d, 30), 0u) << name << ": compressed";
  bmp.width = static_cast<int>(u32(d, 18));
  bmp.height = static_cast<int>(u32(d, 22));
  bmp.bits = u16(d, 28);
  std::uint32_t used = u32(d, 46);
  std::size_t entries = used != 0 ? used : 1u << bmp.bits;
  bmp.pixels = u32(d, 10);
  bmp.stride = (static_cast<std::size_t>(bmp.width) * bmp.bits + 31) / 32 * 4;
  if (bmp.width <= 0 || bmp.height <= 0 || (bmp.bits != 4 && bmp.bits != 8) ||
      54 + entries * 4 > bmp.pixels || bmp.pixels + bmp.stride * bmp.height > d.size()) {
    ADD_FAILURE() << name << ": bad header or truncated";
    return {};
  }
  for (std::size_t i = 0; i < entries; ++i) {
    std::size_t at = 54 + i * 4;
    bmp.table.push_back({d[at + 2], d[at + 1], d[at]});
  }
  return bmp;
}

constexpr int kCell = 16;
constexpr int kGlyphs = 47;
constexpr std::array<int, 3> kInk{170, 170, 170};
constexpr std::array<int, 3> kPaper{4, 4, 4};

bool cellHasInk(const Bitmap& strip, int cell, int fromRow, int toRow) {
  for (int y = fromRow; y < toRow; ++y)
    for (int x = cell * kCell; x < (cell + 1) * kCell; ++x)
      if (strip.colour(x, y) == kInk) return true;
  return false;
}

TEST(ResourcesPictures, GlyphStripIsTwoColoursWithEveryGlyphInked) {
  Bitmap strip = loadBitmap("glyphs.bmp");
  ASSERT_EQ(strip.width, kCell * kGlyphs);
  ASSERT_EQ(strip.height, 27);
  ASSERT_EQ(strip.bits, 4);
  ASSERT_EQ(strip.table.size(), 16u);
  for (int y = 0; y < strip.height; ++y)
    for (int x = 0; x < strip.width; ++x) {
      auto c = strip.colour(x, y);
      ASSERT_TRUE(c == kInk || c == kPaper) << "stray colour at " << x << "," << y;
    }
  for (int cell = 0; cell < kGlyphs; ++cell)
    EXPECT_TRUE(cellHasInk(strip, cell, 0, 27)) << "glyph " << cell << " is empty";
  for (int y = 0; y < strip.height; ++y) {
    EXPECT_EQ(strip.colour(750, y), kPaper) << "row " << y;
    EXPECT_EQ(strip.colour(751, y), kPaper) << "row " << y;
  }
}

TEST(ResourcesPictures, GlyphStripIsStoredTheRightWayUp) {
  Bitmap strip = loadBitmap("glyphs.bmp");
  ASSERT_EQ(strip.width, kCell * kGlyphs);
  const int fullStop = 36;
  const int quoteMark = 38;
  EXPECT_TRUE(cellHasInk(strip, fullStop, 14, 27));
  EXPECT_FALSE(cellHasInk(strip, fullStop, 0, 14));
  EXPECT_TRUE(cellHasInk(strip, quoteMark, 0, 13));
  EXPECT_FALSE(cellHasInk(strip, quoteMark, 13, 27));
}

TEST(ResourcesPictures, TribleIsGreyOnBlackWithEnoughToSample) {
  Bitmap trible = loadBitmap("trible.bmp");
  ASSERT_EQ(trible.width, 81);
  ASSERT_EQ(trible.height, 61);
  ASSERT_EQ(trible.bits, 8);
  ASSERT_EQ(trible.table.size(), 256u);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(trible.table[i], (std::array<int, 3>{i, i, i}));
  for (int x = 0; x < 81; ++x) {
    EXPECT_EQ(trible.index(x, 0), 0);
    EXPECT_EQ(trible.index(x, 60), 0);
  }
  for (int y = 0; y < 61; ++y) {
    EXPECT_EQ(trible.index(0, y), 0);
    EXPECT_EQ(trible.index(80, y), 0);
  }
  int drawn = 0;
  for (int y = 0; y < 61; ++y)
    for (int x = 0; x < 81; ++x) drawn += trible.index(x, y) > 10;
  EXPECT_GE(drawn, 500);
  EXPECT_LE(drawn, 81 * 61 / 2) << "the background should dominate";
}

TEST(ResourcesPictures, OutroHasItsOwnColourTable) {
  Bitmap outro = loadBitmap("outro.bmp");
  ASSERT_EQ(outro.width, 640);
  ASSERT_EQ(outro.height, 666);
  ASSERT_EQ(outro.bits, 8);
  ASSERT_EQ(outro.table.size(), 256u);
  int tinted = 0;
  for (const auto& c : outro.table) tinted += !(c[0] == c[1] && c[1] == c[2]);
  EXPECT_GT(tinted, 128) << "expected a colour palette, not a grey ramp";
}

TEST(ResourcesPictures, IconHoldsA32By32Image) {
  Bytes ico = readResource("nebla.ico");
  ASSERT_GE(ico.size(), 6u);
  ASSERT_EQ(u16(ico, 0), 0);
  ASSERT_EQ(u16(ico, 2), 1);
  int count = u16(ico, 4);
  ASSERT_GE(ico.size(), 6u + 16u * count);
  bool found = false;
  for (int i = 0; i < count; ++i) {
    std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    std::uint32_t size = u32(ico, entry + 8);
    std::uint32_t offset = u32(ico, entry + 12);
    ASSERT_LE(static_cast<std::size_t>(offset) + size, ico.size()) << "entry " << i;
    if (ico[entry] != 32 || ico[entry + 1] != 32) continue;
    found = true;
    ASSERT_GE(size, 40u);
    EXPECT_EQ(u32(ico, offset + 4), 32u);
    EXPECT_EQ(u32(ico, offset + 8), 64u) << "colour and mask rows";
    EXPECT_EQ(u16(ico, offset + 14), 32);
    EXPECT_EQ(size, 40u + 32 * 32 * 4 + 32 * 4) << "BGRA pixels plus AND mask";
  }
  EXPECT_TRUE(found);
}

}  // namespace
