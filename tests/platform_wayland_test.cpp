// The wallpaper's picture in an output's buffer: the buffer size a scaled
// output needs, the palette's colours, where the picture lands and that
// every picture pixel becomes one sharp block, bars black, rows padded
// past the width left alone.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/wayland/picture.h"

namespace nebla::platform::wayland {
namespace {

constexpr int kW = 640;
constexpr int kH = 480;

// Every pixel a colour of its own position, so a misplaced one shows.
struct Frame {
  static constexpr int pitch = kW + 8;  // the program's surfaces may have padded rows
  std::vector<BYTE> pixels;
  std::array<PALETTEENTRY, 256> palette{};

  Frame() : pixels(static_cast<std::size_t>(pitch) * kH, 0xEE) {
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) pixels[y * pitch + x] = static_cast<BYTE>((x + 3 * y) % 251 + 1);
    for (int i = 0; i < 256; ++i) palette[i] = {BYTE(i), BYTE(255 - i), BYTE(i ^ 0x5A), 0};
  }
  Picture picture() const {
    Picture p;
    p.take({pixels.data(), pitch, kW, kH, palette.data(), true});
    return p;
  }
  std::uint32_t colourAt(int x, int y) const {
    const PALETTEENTRY& e = palette[pixels[y * pitch + x]];
    return std::uint32_t{e.peRed} << 16 | std::uint32_t{e.peGreen} << 8 | e.peBlue;
  }
};

// A 1920 x 1080 output at scale 3 is 640 x 360 in surface units; its buffer
// must be the device's pixels, or the picture would be drawn for a third of
// the size and enlarged blurred.
TEST(WaylandPicture, BufferHasTheOutputsDevicePixels) {
  BufferSize b = bufferFor(640, 360, 3);
  EXPECT_EQ(b.width, 1920);
  EXPECT_EQ(b.height, 1080);
  BufferSize unscaled = bufferFor(1280, 800, 0);  // before the output told its scale
  EXPECT_EQ(unscaled.width, 1280);
  EXPECT_EQ(unscaled.height, 800);
}

TEST(WaylandPicture, DoubledCentredWithBlackBarsOnFullHd) {
  Frame frame;
  Picture picture = frame.picture();
  const int stride = 1920 + 16;
  std::vector<std::uint32_t> buffer(static_cast<std::size_t>(stride) * 1080, 0xDEADBEEF);
  Rect at = drawPicture(picture, buffer.data(), 1920, 1080, stride);
  EXPECT_EQ(at.x, 320);
  EXPECT_EQ(at.y, 60);
  EXPECT_EQ(at.w, 1280);
  EXPECT_EQ(at.h, 960);
  for (int y = 0; y < 1080; ++y)
    for (int x = 0; x < stride; ++x) {
      std::uint32_t got = buffer[y * stride + x];
      if (x >= 1920) {
        ASSERT_EQ(got, 0xDEADBEEFu) << "padding written at " << x << "," << y;
      } else if (x < 320 || x >= 1600 || y < 60 || y >= 1020) {
        ASSERT_EQ(got, 0u) << "bar not black at " << x << "," << y;
      } else {
        ASSERT_EQ(got, frame.colourAt((x - 320) / 2, (y - 60) / 2)) << "at " << x << "," << y;
      }
    }
}

// An output smaller than the picture gets it shrunk to fit, nearest pixel,
// without writing past the buffer.
TEST(WaylandPicture, ShrunkOnASmallOutput) {
  Frame frame;
  Picture picture = frame.picture();
  std::vector<std::uint32_t> buffer(320 * 200, 0xDEADBEEF);
  Rect at = drawPicture(picture, buffer.data(), 320, 200, 320);
  EXPECT_EQ(at.x, 26);
  EXPECT_EQ(at.w, 267);
  EXPECT_EQ(at.h, 200);
  EXPECT_EQ(buffer[25], 0u);
  EXPECT_EQ(buffer[26], frame.colourAt(0, 0));
  // The last column and row show picture pixels 637 and 477 (of 0 to 639
  // and 0 to 479): the nearest ones at their left and top edges.
  EXPECT_EQ(buffer[199 * 320 + 26 + 266], frame.colourAt(637, 477));
  EXPECT_EQ(buffer[199 * 320 + 26 + 267], 0u);
}

TEST(WaylandPicture, NothingPresentedLeavesTheBufferBlack) {
  std::vector<std::uint32_t> buffer(64 * 48, 0xDEADBEEF);
  Rect at = drawPicture(Picture{}, buffer.data(), 64, 48, 64);
  EXPECT_EQ(at.w, 0);
  for (std::uint32_t p : buffer) ASSERT_EQ(p, 0u);
}

}  // namespace
}  // namespace nebla::platform::wayland
