// GDI: reading BMP images, memory contexts and bitmaps, picture copies with
// colour matching and clipping, colour tables and text output.
#include "platform/bitmap.h"
#include "platform/font8x14.h"
#include "platform/gdi.h"
#include "platform/internal.h"
#include "platform/kernel.h"
#include "platform_support.h"

namespace nebla::platform::testing {
namespace {

using PlatformGdi = PlatformTest;

std::unique_ptr<GdiBitmap> parsed(const BmpSpec& spec, DWORD& error) {
  std::vector<unsigned char> file = makeBmp(spec);
  return parseBmp(file, error);
}

HBITMAP bitmapFrom(const BmpSpec& spec) {
  DWORD error = 0;
  auto bmp = parsed(spec, error);
  EXPECT_NE(bmp, nullptr);
  return adoptBitmap(std::move(bmp));
}

// A memory context holding the picture.
HDC memoryWith(HBITMAP bitmap) {
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_NE(SelectObject(dc, bitmap), HGDI_ERROR);
  return dc;
}

BmpSpec greyPicture(int w, int h) {
  BmpSpec s{w, h, 8, greyTable(), {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s.pixels.push_back(static_cast<BYTE>((x * 3 + y * 5) & 0xFF));
  return s;
}

TEST(PlatformGdiBmp, ReadsFourBitBottomUpAndEightBitTopDownPictures) {
  BmpSpec four{5,
               3,
               4,
               {{0, 0, 0, 0}, {4, 4, 4, 0}, {170, 170, 170, 0}},
               {0, 1, 2, 1, 0, 2, 2, 2, 2, 2, 1, 0, 0, 0, 1}};
  DWORD error = 0;
  auto a = parsed(four, error);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->width, 5);
  EXPECT_EQ(a->height, 3);
  EXPECT_EQ(a->bitsPerPixel, 4);
  EXPECT_EQ(a->colours.size(), 3u);
  EXPECT_EQ(a->indices, four.pixels);

  BmpSpec eight = greyPicture(7, 4);
  eight.topDown = true;
  auto b = parsed(eight, error);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->indices, eight.pixels);
  EXPECT_EQ(b->colours[200], (RGBQUAD{200, 200, 200, 0}));
}

TEST(PlatformGdiBmp, RejectsBrokenImages) {
  BmpSpec good = greyPicture(4, 4);
  std::vector<unsigned char> file = makeBmp(good);
  DWORD error = 0;
  std::vector<unsigned char> truncated(file.begin(), file.end() - 3);
  EXPECT_EQ(parseBmp(truncated, error), nullptr);
  EXPECT_EQ(error, ERROR_INVALID_DATA);

  std::vector<unsigned char> compressed = file;
  compressed[30] = 1;  // run-length coding
  EXPECT_EQ(parseBmp(compressed, error), nullptr);

  BmpSpec small{2, 1, 8, {{0, 0, 0, 0}, {1, 1, 1, 0}}, {0, 5}};  // index past the table
  EXPECT_EQ(parsed(small, error), nullptr);
  std::vector<unsigned char> notBmp(60, 0);
  EXPECT_EQ(parseBmp(notBmp, error), nullptr);
}

TEST(PlatformGdiColour, NearestEntryWithLowestIndexOnTies) {
  PaletteEntries ramp = blueRamp();
  EXPECT_EQ(nearestIndex(ramp, 4, 4, 4), 2);
  EXPECT_EQ(nearestIndex(ramp, 170, 170, 170), 187);
  EXPECT_EQ(nearestIndex(ramp, 0, 0, 0), 0);
  PaletteEntries twins{};
  twins.fill({50, 50, 50, 0});
  twins[10] = {200, 0, 0, 0};
  twins[20] = {200, 0, 0, 0};
  EXPECT_EQ(nearestIndex(twins, 190, 10, 0), 10);
  EXPECT_EQ(nearestIndex(twins, 60, 60, 60), 0);
  EXPECT_EQ(nearestIndex(greyRamp(), 77, 77, 77), 77);
}

TEST_F(PlatformGdi, OversizedCopyIsClippedToPictureAndSurface) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* front = primary(dd);
  ASSERT_EQ(front->SetPalette(palette(dd, blueRamp())), DD_OK);
  IDirectDrawSurface* target = offscreen(dd, 81, 61);
  withPixels(target, [](BYTE* p, LONG pitch) {
    for (int y = 0; y < 61; ++y) p[y * pitch + 81] = 0x55;  // padding after each row
  });
  BmpSpec spec = greyPicture(81, 61);
  HDC mem = memoryWith(bitmapFrom(spec));
  HDC dc = nullptr;
  ASSERT_EQ(target->GetDC(&dc), DD_OK);
  EXPECT_TRUE(StretchBlt(dc, 0, 0, 96, 96, mem, 0, 0, 96, 96, SRCCOPY));
  ASSERT_EQ(target->ReleaseDC(dc), DD_OK);
  PaletteEntries ramp = blueRamp();
  withPixels(target, [&](BYTE* p, LONG pitch) {
    for (int y = 0; y < 61; ++y) {
      for (int x = 0; x < 81; ++x) {
        BYTE g = spec.pixels[y * 81 + x];
        ASSERT_EQ(p[y * pitch + x], nearestIndex(ramp, g, g, g)) << x << "," << y;
      }
      ASSERT_EQ(p[y * pitch + 81], 0x55);
    }
  });
  DeleteDC(mem);
  dd->Release();
}

TEST_F(PlatformGdi, PictureInTheScreensOwnColoursKeepsItsIndices) {
  IDirectDraw* dd = openDisplay(8, 4);
  IDirectDrawSurface* front = primary(dd);
  PaletteEntries colours{};
  colours.fill({9, 9, 9, 0});  // duplicates: matching alone would pick index 0
  std::vector<RGBQUAD> table;
  for (const PALETTEENTRY& e : colours) table.push_back({e.peBlue, e.peGreen, e.peRed, 0});
  ASSERT_EQ(front->SetPalette(palette(dd, colours)), DD_OK);
  BmpSpec spec{8, 10, 8, table, {}};
  for (int i = 0; i < 80; ++i) spec.pixels.push_back(static_cast<BYTE>(i * 3));
  HDC mem = memoryWith(bitmapFrom(spec));
  HDC screen = nullptr;
  ASSERT_EQ(front->GetDC(&screen), DD_OK);
  frames.clear();
  EXPECT_TRUE(StretchBlt(screen, 0, 0, 8, 10, mem, 0, 3, 8, 10, SRCCOPY));
  ASSERT_EQ(frames.size(), 1u) << "drawing on the screen is presented";
  EXPECT_FALSE(frames[0].fromFlip);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(frames[0].pixels[y * 8 + x], spec.pixels[(y + 3) * 8 + x]);
  ASSERT_EQ(front->ReleaseDC(screen), DD_OK);
  DeleteDC(mem);
  dd->Release();
}

TEST_F(PlatformGdi, WithoutAPaletteColoursMatchAGreyRamp) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* s = offscreen(dd, 2, 1);
  BmpSpec spec{2, 1, 4, {{0, 0, 0, 0}, {0, 0, 0, 0}, {130, 130, 130, 0}}, {2, 0}};
  HDC mem = memoryWith(bitmapFrom(spec));
  HDC dc = nullptr;
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  EXPECT_TRUE(StretchBlt(dc, 0, 0, 2, 1, mem, 0, 0, 2, 1, SRCCOPY));
  EXPECT_FALSE(StretchBlt(dc, 0, 0, 2, 1, mem, 0, 0, 1, 1, SRCCOPY)) << "no scaling";
  EXPECT_FALSE(StretchBlt(mem, 0, 0, 2, 1, dc, 0, 0, 2, 1, SRCCOPY))
      << "surfaces are the only targets";
  ASSERT_EQ(s->ReleaseDC(dc), DD_OK);
  EXPECT_EQ(pixel(s, 0, 0), 130);
  EXPECT_EQ(pixel(s, 1, 0), 0);
  DeleteDC(mem);
  dd->Release();
}

TEST_F(PlatformGdi, SelectionAndDeletionFollowOwnership) {
  HBITMAP bitmap = bitmapFrom(greyPicture(4, 4));
  HDC first = CreateCompatibleDC(nullptr);
  HDC second = CreateCompatibleDC(nullptr);
  HGDIOBJ stock = SelectObject(first, bitmap);
  ASSERT_NE(stock, HGDI_ERROR);
  EXPECT_EQ(SelectObject(second, bitmap), HGDI_ERROR) << "one context at a time";
  EXPECT_FALSE(DeleteObject(bitmap)) << "still selected";
  EXPECT_EQ(SelectObject(first, stock), bitmap);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(SelectObject(first, bitmap), HGDI_ERROR) << "gone";
  EXPECT_TRUE(DeleteDC(first));
  EXPECT_FALSE(DeleteDC(first));
  EXPECT_TRUE(DeleteDC(second));
}

TEST_F(PlatformGdi, ColourTableOfTheSelectedBitmap) {
  HDC dc = CreateCompatibleDC(nullptr);
  RGBQUAD table[256] = {};
  EXPECT_EQ(GetDIBColorTable(dc, 0, 256, table), 0u) << "stock bitmap has none";
  ASSERT_NE(SelectObject(dc, bitmapFrom(greyPicture(2, 2))), HGDI_ERROR);
  EXPECT_EQ(GetDIBColorTable(dc, 0, 256, table), 256u);
  EXPECT_EQ(table[255], (RGBQUAD{255, 255, 255, 0}));
  EXPECT_EQ(GetDIBColorTable(dc, 250, 10, table), 6u);
  EXPECT_EQ(table[0], (RGBQUAD{250, 250, 250, 0}));
  EXPECT_EQ(GetDIBColorTable(dc, 256, 1, table), 0u);
  DeleteDC(dc);
}

TEST_F(PlatformGdi, LoadsTheProgramsPictures) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  struct Expected {
    int id, width, height, bits;
  };
  for (Expected e :
       {Expected{120, 81, 61, 8}, Expected{114, 752, 27, 4}, Expected{119, 640, 666, 8}}) {
    HANDLE image = LoadImageA(module, MAKEINTRESOURCEA(e.id), IMAGE_BITMAP, 0, 0,
                              LR_CREATEDIBSECTION | LR_DEFAULTSIZE);
    ASSERT_NE(image, nullptr) << e.id;
    auto* bitmap = static_cast<HBITMAP>(image);
    EXPECT_EQ(bitmap->width, e.width);
    EXPECT_EQ(bitmap->height, e.height);
    EXPECT_EQ(bitmap->bitsPerPixel, e.bits);
    EXPECT_TRUE(DeleteObject(bitmap));
  }
  EXPECT_EQ(LoadImageA(module, MAKEINTRESOURCEA(999), IMAGE_BITMAP, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(LoadImageA(module, MAKEINTRESOURCEA(101), IMAGE_BITMAP, 0, 0, 0), nullptr) << "an icon";
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_NE(LoadIconA(module, MAKEINTRESOURCEA(101)), nullptr);
  EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCEA(120)), nullptr);
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
}

TEST_F(PlatformGdi, ProgramPicturesCopyIntoTheirSurfaces) {
  IDirectDraw* dd = openDisplay(640, 480);
  IDirectDrawSurface* front = primary(dd);
  ASSERT_EQ(front->SetPalette(palette(dd, blueRamp())), DD_OK);
  HINSTANCE module = GetModuleHandleA(nullptr);
  IDirectDrawSurface* font = offscreen(dd, 750, 27);
  HDC mem = memoryWith(
      static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(114), IMAGE_BITMAP, 0, 0, 0)));
  HDC dc = nullptr;
  ASSERT_EQ(font->GetDC(&dc), DD_OK);
  StretchBlt(dc, 0, 0, 750, 27, mem, 0, 0, 750, 27, SRCCOPY);
  font->ReleaseDC(dc);
  DeleteDC(mem);
  int ink = 0;
  withPixels(font, [&](BYTE* p, LONG pitch) {
    for (int y = 0; y < 27; ++y)
      for (int x = 0; x < 750; ++x) {
        BYTE v = p[y * pitch + x];
        ASSERT_TRUE(v == 2 || v == 187) << int(v) << " at " << x << "," << y;
        ink += v == 187;
      }
  });
  EXPECT_GT(ink, 0);

  // The outro shows in its own colours: indices go to the screen unchanged.
  auto* outro =
      static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(119), IMAGE_BITMAP, 0, 0, 0));
  mem = memoryWith(outro);
  RGBQUAD table[256];
  ASSERT_EQ(GetDIBColorTable(mem, 0, 256, table), 256u);
  PaletteEntries own{};
  for (int i = 0; i < 256; ++i) own[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  ASSERT_EQ(front->SetPalette(palette(dd, own)), DD_OK);
  ASSERT_EQ(front->GetDC(&dc), DD_OK);
  frames.clear();
  StretchBlt(dc, 0, 0, 640, 666, mem, 0, 159, 640, 666, SRCCOPY);
  front->ReleaseDC(dc);
  ASSERT_EQ(frames.size(), 1u);
  for (int y = 0; y < 480; y += 7)
    for (int x = 0; x < 640; x += 3)
      ASSERT_EQ(frames[0].pixels[y * 640 + x], outro->at(x, y + 159));
  DeleteDC(mem);
  dd->Release();
}

// Expected cell: ink where the glyph has a pixel, paper elsewhere.
void expectCell(BYTE* p, LONG pitch, int left, unsigned char ch, BYTE ink, BYTE paper) {
  const FontGlyph& g = fontGlyph(ch);
  for (int row = 0; row < kFontCellHeight; ++row)
    for (int col = 0; col < kFontCellWidth; ++col) {
      bool set = (g[row] & (0x80 >> col)) != 0;
      ASSERT_EQ(p[row * pitch + left + col], set ? ink : paper) << ch << " " << col << "," << row;
    }
}

TEST_F(PlatformGdi, TextIsDrawnInCellsOnAnOpaqueBoxInMatchedColours) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* front = primary(dd);
  ASSERT_EQ(front->SetPalette(palette(dd, blueRamp())), DD_OK);
  IDirectDrawSurface* s = offscreen(dd, 30, 20);
  DDBLTFX fx{};
  fx.dwSize = kBltFxSize;
  fx.dwFillColor = 77;
  ASSERT_EQ(s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
  HDC dc = nullptr;
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  EXPECT_EQ(SetTextColor(dc, RGB(85, 85, 85)), RGB(0, 0, 0));
  EXPECT_EQ(SetBkColor(dc, RGB(0, 0, 0)), RGB(255, 255, 255));
  const char text[] = "Ag\x01zz";
  EXPECT_TRUE(TextOutA(dc, 0, 0, text, 3));
  ASSERT_EQ(s->ReleaseDC(dc), DD_OK);

  BYTE ink = nearestIndex(blueRamp(), 85, 85, 85);
  withPixels(s, [&](BYTE* p, LONG pitch) {
    expectCell(p, pitch, 0, 'A', ink, 0);
    expectCell(p, pitch, 8, 'g', ink, 0);
    expectCell(p, pitch, 16, 0x01, ink, 0);
    for (int x = 24; x < 30; ++x) EXPECT_EQ(p[x], 77) << "only length characters are drawn";
    EXPECT_EQ(p[14 * pitch], 77) << "cells are 14 rows high";
  });
  EXPECT_NE(fontGlyph('A'), fontGlyph('B'));
  EXPECT_EQ(fontGlyph(' '), FontGlyph{});
  dd->Release();
}

TEST_F(PlatformGdi, TextIsClippedAtTheSurfaceEdges) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* s = offscreen(dd, 10, 10);
  HDC dc = nullptr;
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkColor(dc, RGB(10, 10, 10));
  EXPECT_TRUE(TextOutA(dc, -4, 5, "WW", 2));
  ASSERT_EQ(s->ReleaseDC(dc), DD_OK);
  withPixels(s, [](BYTE* p, LONG pitch) {
    EXPECT_EQ(p[4 * pitch + 0], 0) << "above the text";
    EXPECT_EQ(p[5 * pitch + 0], 10) << "top row of the cell is paper";
    const BYTE row[] = {10, 255, 255, 10, 255, 255, 10, 10, 10, 255};  // "W" from its 5th column
    for (int x = 0; x < 10; ++x) EXPECT_EQ(p[7 * pitch + x], row[x]) << x;
    EXPECT_EQ(p[7 * pitch + 10], 0) << "the row padding stays untouched";
  });
  dd->Release();
}

}  // namespace
}  // namespace nebla::platform::testing
