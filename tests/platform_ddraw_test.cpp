// DirectDraw surfaces, palettes and the display: locking, blits, flips,
// presentation and reference counts.
#include <cstring>

#include "platform_support.h"

namespace nebla::platform::testing {
namespace {

using PlatformDDraw = PlatformTest;

TEST_F(PlatformDDraw, PitchIsLargerThanWidthAndLockAddressesRowsByPitch) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* s = offscreen(dd, 81, 61);
  DDSURFACEDESC desc{};
  desc.dwSize = kSurfaceDescSize;
  ASSERT_EQ(s->Lock(nullptr, &desc, 0, nullptr), DD_OK);
  EXPECT_GT(desc.lPitch, 81);
  EXPECT_EQ(desc.dwWidth, 81u);
  EXPECT_EQ(desc.dwHeight, 61u);
  auto* base = static_cast<BYTE*>(desc.lpSurface);
  base[60 * desc.lPitch + 80] = 0xAB;  // the last pixel
  ASSERT_EQ(s->Unlock(nullptr), DD_OK);

  RECT r{80, 60, 81, 61};
  ASSERT_EQ(s->Lock(&r, &desc, 0, nullptr), DD_OK);
  EXPECT_EQ(*static_cast<BYTE*>(desc.lpSurface), 0xAB);
  ASSERT_EQ(s->Unlock(nullptr), DD_OK);
  RECT outside{80, 60, 82, 61};
  EXPECT_EQ(s->Lock(&outside, &desc, 0, nullptr), DDERR_INVALIDRECT);
  dd->Release();
}

TEST_F(PlatformDDraw, LockedSurfaceIsBusyAndUnlockNeedsALock) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* a = offscreen(dd, 8, 8);
  IDirectDrawSurface* b = offscreen(dd, 8, 8);
  DDSURFACEDESC desc{};
  desc.dwSize = kSurfaceDescSize;
  EXPECT_EQ(a->Unlock(nullptr), DDERR_NOTLOCKED);
  ASSERT_EQ(a->Lock(nullptr, &desc, 0, nullptr), DD_OK);
  EXPECT_EQ(a->Lock(nullptr, &desc, 0, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(b->BltFast(0, 0, a, nullptr, DDBLTFAST_WAIT), DDERR_SURFACEBUSY);
  EXPECT_EQ(a->BltFast(0, 0, b, nullptr, DDBLTFAST_WAIT), DDERR_SURFACEBUSY);
  DDBLTFX fx{};
  fx.dwSize = kBltFxSize;
  EXPECT_EQ(a->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx),
            DDERR_SURFACEBUSY);
  HDC dc = nullptr;
  EXPECT_EQ(a->GetDC(&dc), DDERR_SURFACEBUSY);
  EXPECT_EQ(a->Unlock(nullptr), DD_OK);
  EXPECT_EQ(a->Unlock(nullptr), DDERR_NOTLOCKED);

  ASSERT_EQ(a->GetDC(&dc), DD_OK);
  EXPECT_EQ(a->Lock(nullptr, &desc, 0, nullptr), DDERR_SURFACEBUSY);
  HDC again = nullptr;
  EXPECT_EQ(a->GetDC(&again), DDERR_DCALREADYCREATED);
  EXPECT_EQ(a->ReleaseDC(dc), DD_OK);
  EXPECT_EQ(a->ReleaseDC(dc), DDERR_NODC);

  DDSURFACEDESC unsized{};
  EXPECT_EQ(a->Lock(nullptr, &unsized, 0, nullptr), DDERR_INVALIDPARAMS);
  dd->Release();
}

TEST_F(PlatformDDraw, BltFastCopiesBytesAndClipsToTheDestination) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* src = offscreen(dd, 10, 10);
  IDirectDrawSurface* dst = offscreen(dd, 8, 8);
  withPixels(src, [](BYTE* p, LONG pitch) {
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) p[y * pitch + x] = static_cast<BYTE>(10 * y + x);
  });
  RECT from{2, 2, 10, 10};
  ASSERT_EQ(dst->BltFast(5, 5, src, &from, DDBLTFAST_WAIT), DD_OK);
  withPixels(dst, [](BYTE* p, LONG pitch) {
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        BYTE expected = (x >= 5 && y >= 5) ? static_cast<BYTE>(10 * (y - 3) + (x - 3)) : 0;
        ASSERT_EQ(p[y * pitch + x], expected) << x << "," << y;
      }
    EXPECT_EQ(p[5 * pitch + 8], 0) << "nothing lands in the row padding";
  });
  RECT tooBig{0, 0, 11, 10};
  EXPECT_EQ(dst->BltFast(0, 0, src, &tooBig, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  EXPECT_EQ(dst->BltFast(0, 0, nullptr, nullptr, DDBLTFAST_WAIT), DDERR_INVALIDPARAMS);
  dd->Release();
}

TEST_F(PlatformDDraw, BltFastWithinOneSurfaceMovesRowsDown) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* s = offscreen(dd, 4, 6);
  withPixels(s, [](BYTE* p, LONG pitch) {
    for (int y = 0; y < 6; ++y) std::memset(p + y * pitch, y + 1, 4);
  });
  RECT top{0, 0, 4, 4};
  ASSERT_EQ(s->BltFast(0, 2, s, &top, DDBLTFAST_WAIT), DD_OK);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(pixel(s, 3, y), y < 2 ? y + 1 : y - 1) << y;
  dd->Release();
}

TEST_F(PlatformDDraw, ColourFillSetsEveryByteOfTheArea) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* s = offscreen(dd, 33, 7);
  DDBLTFX fx{};
  fx.dwSize = kBltFxSize;
  fx.dwFillColor = 1;
  ASSERT_EQ(s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
  withPixels(s, [](BYTE* p, LONG pitch) {
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 33; ++x) ASSERT_EQ(p[y * pitch + x], 1);
  });
  RECT part{1, 1, 3, 2};
  fx.dwFillColor = 0x1FF;  // only the low byte counts on an 8-bit surface
  ASSERT_EQ(s->Blt(&part, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
  EXPECT_EQ(pixel(s, 1, 1), 0xFF);
  EXPECT_EQ(pixel(s, 2, 1), 0xFF);
  EXPECT_EQ(pixel(s, 3, 1), 1);
  EXPECT_EQ(pixel(s, 1, 2), 1);
  fx.dwSize = 0;
  EXPECT_EQ(s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_INVALIDPARAMS);
  dd->Release();
}

TEST_F(PlatformDDraw, FlipShowsTheBackBufferThroughTheAttachedPalette) {
  IDirectDraw* dd = openDisplay(16, 4);
  IDirectDrawSurface* front = primary(dd);
  DDSCAPS caps{DDSCAPS_BACKBUFFER};
  IDirectDrawSurface* back = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
  IDirectDrawPalette* ramp = palette(dd, blueRamp());
  ASSERT_EQ(front->SetPalette(ramp), DD_OK);
  withPixels(back, [](BYTE* p, LONG pitch) { p[3 * pitch + 15] = 200; });
  frames.clear();

  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].fromFlip);
  EXPECT_EQ(frames[0].width, 16u);
  ASSERT_EQ(frames[0].pixels.size(), 64u);
  EXPECT_EQ(frames[0].pixels[3 * 16 + 15], 200);
  EXPECT_EQ(frames[0].palette, blueRamp());
  EXPECT_EQ(pixel(back, 15, 3), 0) << "the old front is now the back buffer";
  EXPECT_EQ(pixel(front, 15, 3), 200);

  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_TRUE(frames.back().fromFlip);
  EXPECT_EQ(frames.back().pixels[3 * 16 + 15], 0);
  EXPECT_EQ(back->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
  back->Release();
  dd->Release();
}

TEST_F(PlatformDDraw, NewPaletteOnThePrimaryRecoloursTheScreenAtOnce) {
  IDirectDraw* dd = openDisplay(4, 4);
  IDirectDrawSurface* front = primary(dd);
  IDirectDrawSurface* other = offscreen(dd, 4, 4);
  PaletteEntries red{};
  red.fill({255, 0, 0, 0});
  IDirectDrawPalette* p = palette(dd, red);
  frames.clear();
  ASSERT_EQ(other->SetPalette(p), DD_OK);
  EXPECT_TRUE(frames.empty()) << "an off-screen palette shows nothing";
  ASSERT_EQ(front->SetPalette(p), DD_OK);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_FALSE(frames[0].fromFlip);
  EXPECT_EQ(frames[0].palette[7], (PALETTEENTRY{255, 0, 0, 0}));
  EXPECT_EQ(paletteInEffect(), &p->entries());
  ASSERT_EQ(front->SetPalette(nullptr), DD_OK);
  EXPECT_EQ(paletteInEffect(), nullptr);
  dd->Release();
}

TEST_F(PlatformDDraw, ReferenceCountsKeepTheChainAliveAndFreeAtZero) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* front = primary(dd);
  DDSCAPS caps{DDSCAPS_BACKBUFFER};
  IDirectDrawSurface* back = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
  EXPECT_EQ(back->AddRef(), 3u) << "front's reference, the caller's, this one";
  EXPECT_EQ(back->Release(), 2u);
  EXPECT_EQ(back->Release(), 1u);
  EXPECT_EQ(pixel(back, 0, 0), 0) << "still alive while the front lives";

  IDirectDrawPalette* p = palette(dd, blueRamp());
  ASSERT_EQ(front->SetPalette(p), DD_OK);
  EXPECT_EQ(p->AddRef(), 3u);
  EXPECT_EQ(p->Release(), 2u);
  EXPECT_EQ(p->Release(), 1u) << "the front still holds it";
  EXPECT_EQ(&p->entries(), paletteInEffect());

  EXPECT_EQ(front->Release(), 0u);
  EXPECT_EQ(primarySurface(), nullptr);
  EXPECT_EQ(paletteInEffect(), nullptr);
  IDirectDrawSurface* again = primary(dd);  // the old chain is gone entirely
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(dd->Release(), 0u);
}

TEST_F(PlatformDDraw, CreationFailuresReportTheirCodes) {
  IDirectDraw* dd = nullptr;
  ASSERT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
  DDSURFACEDESC desc{};
  desc.dwSize = kSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  IDirectDrawSurface* s = reinterpret_cast<IDirectDrawSurface*>(&desc);
  EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), DDERR_INVALIDMODE);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(dd->SetDisplayMode(640, 480, 16), DDERR_UNSUPPORTEDMODE);
  ASSERT_EQ(dd->SetDisplayMode(640, 480, 8), DD_OK);
  ASSERT_EQ(dd->CreateSurface(&desc, &s, nullptr), DD_OK);
  IDirectDrawSurface* second = nullptr;
  EXPECT_EQ(dd->CreateSurface(&desc, &second, nullptr), DDERR_PRIMARYSURFACEALREADYEXISTS);

  DDSURFACEDESC wide = display::offscreenDesc(8, 8);
  wide.ddpfPixelFormat.dwRGBBitCount = 16;
  EXPECT_EQ(dd->CreateSurface(&wide, &second, nullptr), DDERR_INVALIDPIXELFORMAT);
  DDSURFACEDESC sizeless = display::offscreenDesc(8, 8);
  sizeless.dwFlags &= ~DDSD_WIDTH;
  EXPECT_EQ(dd->CreateSurface(&sizeless, &second, nullptr), DDERR_INVALIDPARAMS);
  PaletteEntries entries{};
  IDirectDrawPalette* p = nullptr;
  EXPECT_EQ(dd->CreatePalette(0, entries.data(), &p, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE),
            DDERR_INVALIDPARAMS);
  dd->Release();

  backend().setDisplayAvailable(false);
  EXPECT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DDERR_NODIRECTDRAWHW);
  EXPECT_EQ(dd, nullptr);
  backend().setDisplayAvailable(true);
  ASSERT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
  backend().setModeAvailable(false);
  EXPECT_EQ(dd->SetDisplayMode(640, 480, 8), DDERR_UNSUPPORTEDMODE);
  dd->Release();
  EXPECT_FALSE(backend().displayOpen());
}

TEST_F(PlatformDDraw, DrawingStraightOntoThePrimaryIsPresented) {
  IDirectDraw* dd = openDisplay(4, 4);
  IDirectDrawSurface* front = primary(dd);
  frames.clear();
  DDBLTFX fx{};
  fx.dwSize = kBltFxSize;
  fx.dwFillColor = 9;
  ASSERT_EQ(front->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_FALSE(frames[0].fromFlip);
  EXPECT_EQ(frames[0].pixels[15], 9);
  EXPECT_EQ(frames[0].palette[9], (PALETTEENTRY{9, 9, 9, 0})) << "grey without a palette";
  dd->Release();
}

}  // namespace
}  // namespace nebla::platform::testing
