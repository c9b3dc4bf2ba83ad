// Helpers for the platform tests: a clean headless platform per test, a
// display with a flip chain, off-screen surfaces, and BMP file images built
// in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "display/offscreen.h"
#include "platform/ddraw.h"
#include "platform/headless/headless.h"
#include "platform/user.h"

namespace nebla::platform::testing {

// Scheme-1 ramp: r = i*i/255, g = i, b = 2i - i*i/255.
inline PaletteEntries blueRamp() {
  PaletteEntries p{};
  for (int i = 0; i < 256; ++i) {
    int sq = i * i / 255;
    p[i] = {static_cast<BYTE>(sq), static_cast<BYTE>(i), static_cast<BYTE>(2 * i - sq), 0};
  }
  return p;
}

class PlatformTest : public ::testing::Test {
 protected:
  headless::HeadlessSession session;
  std::vector<headless::PresentedFrame> frames;

  void SetUp() override {
    session.backend().setFrameCallback(
        [this](const headless::PresentedFrame& f) { frames.push_back(f); });
  }

  headless::HeadlessBackend& backend() { return session.backend(); }

  IDirectDraw* openDisplay(DWORD w = 64, DWORD h = 48) {
    IDirectDraw* dd = nullptr;
    EXPECT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
    EXPECT_EQ(dd->SetDisplayMode(w, h, 8), DD_OK);
    return dd;
  }

  static IDirectDrawSurface* primary(IDirectDraw* dd) {
    DDSURFACEDESC desc{};
    desc.dwSize = kSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.dwBackBufferCount = 1;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    IDirectDrawSurface* s = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), DD_OK);
    return s;
  }

  static IDirectDrawSurface* offscreen(IDirectDraw* dd, DWORD w, DWORD h) {
    DDSURFACEDESC desc = display::offscreenDesc(w, h);
    IDirectDrawSurface* s = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), DD_OK);
    return s;
  }

  static IDirectDrawPalette* palette(IDirectDraw* dd, PaletteEntries entries) {
    IDirectDrawPalette* p = nullptr;
    EXPECT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries.data(), &p, nullptr), DD_OK);
    return p;
  }

  // Locks, hands (pixels, pitch) to f, unlocks.
  template <typename F>
  static void withPixels(IDirectDrawSurface* s, F f) {
    DDSURFACEDESC desc{};
    desc.dwSize = kSurfaceDescSize;
    ASSERT_EQ(s->Lock(nullptr, &desc, 0, nullptr), DD_OK);
    f(static_cast<BYTE*>(desc.lpSurface), desc.lPitch);
    ASSERT_EQ(s->Unlock(nullptr), DD_OK);
  }

  static BYTE pixel(IDirectDrawSurface* s, int x, int y) {
    BYTE v = 0;
    withPixels(s, [&](BYTE* p, LONG pitch) { v = p[y * pitch + x]; });
    return v;
  }
};

// A BMP file image; pixels are colour indices, top row first.
struct BmpSpec {
  int width;
  int height;
  int bits;  // 4 or 8
  std::vector<RGBQUAD> colours;
  std::vector<BYTE> pixels;
  bool topDown = false;
};

inline void put32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

inline std::vector<unsigned char> makeBmp(const BmpSpec& s) {
  std::size_t stride = (static_cast<std::size_t>(s.width) * s.bits + 31) / 32 * 4;
  std::uint32_t offset = 14 + 40 + 4 * static_cast<std::uint32_t>(s.colours.size());
  std::vector<unsigned char> out{'B', 'M'};
  put32(out, offset + static_cast<std::uint32_t>(stride * s.height));
  put32(out, 0);
  put32(out, offset);
  put32(out, 40);
  put32(out, static_cast<std::uint32_t>(s.width));
  put32(out, static_cast<std::uint32_t>(s.topDown ? -s.height : s.height));
  put32(out, 1u | (static_cast<std::uint32_t>(s.bits) << 16));
  for (int i = 0; i < 4; ++i) put32(out, 0);
  put32(out, static_cast<std::uint32_t>(s.colours.size()));
  put32(out, 0);
  for (const RGBQUAD& c : s.colours) out.insert(out.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed, 0});
  for (int stored = 0; stored < s.height; ++stored) {
    int row = s.topDown ? stored : s.height - 1 - stored;
    std::vector<unsigned char> line(stride, 0);
    for (int x = 0; x < s.width; ++x) {
      BYTE v = s.pixels[static_cast<std::size_t>(row) * s.width + x];
      if (s.bits == 8)
        line[x] = v;
      else
        line[x / 2] |= static_cast<unsigned char>(x % 2 == 0 ? v << 4 : v);
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  return out;
}

inline std::vector<RGBQUAD> greyTable() {
  std::vector<RGBQUAD> t;
  for (int i = 0; i < 256; ++i)
    t.push_back({static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0});
  return t;
}

}  // namespace nebla::platform::testing
