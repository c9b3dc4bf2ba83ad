// GDI device contexts and bitmaps: picture copies into 8-bit surfaces with
// colour matching, colour tables and text output.
#include "platform/gdi.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "platform/fault.h"
#include "platform/font8x14.h"
#include "platform/internal.h"
#include "platform/kernel.h"

namespace nebla::platform {

struct DeviceContext {
  IDirectDrawSurface* surface = nullptr;  // set for a surface's context
  GdiBitmap* bitmap = nullptr;            // memory contexts: the selected bitmap
  COLORREF text = RGB(0, 0, 0);
  COLORREF background = RGB(255, 255, 255);
  int backgroundMode = OPAQUE;
};

namespace {

struct GdiState {
  std::vector<std::unique_ptr<DeviceContext>> contexts;
  std::vector<std::unique_ptr<GdiBitmap>> bitmaps;
};

GdiState& gdi() {
  static GdiState state;
  return state;
}

// What a new memory context holds until a picture is selected into it.
GdiBitmap& stockBitmap() {
  static GdiBitmap stock = [] {
    GdiBitmap b;
    b.width = 1;
    b.height = 1;
    b.bitsPerPixel = 1;
    b.colours = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    b.indices = {0};
    return b;
  }();
  return stock;
}

DeviceContext* findContext(HDC dc) {
  for (auto& c : gdi().contexts)
    if (c.get() == dc) return c.get();
  return nullptr;
}

GdiBitmap* findBitmap(HGDIOBJ object) {
  if (object == &stockBitmap()) return &stockBitmap();
  for (auto& b : gdi().bitmaps)
    if (b.get() == object) return b.get();
  return nullptr;
}

DeviceContext* surfaceContext(HDC dc) {
  DeviceContext* context = findContext(dc);
  if (context == nullptr || context->surface == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return context;
}

const PaletteEntries& screenColours() {
  const PaletteEntries* palette = paletteInEffect();
  return palette != nullptr ? *palette : greyRamp();
}

BYTE matchColour(COLORREF colour) {
  return nearestIndex(screenColours(), static_cast<BYTE>(colour & 0xFF),
                      static_cast<BYTE>((colour >> 8) & 0xFF),
                      static_cast<BYTE>((colour >> 16) & 0xFF));
}

bool sameColours(const std::vector<RGBQUAD>& table, const PaletteEntries& palette) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    const PALETTEENTRY& p = palette[i];
    if (table[i].rgbRed != p.peRed || table[i].rgbGreen != p.peGreen ||
        table[i].rgbBlue != p.peBlue)
      return false;
  }
  return true;
}

// Source colour-table index -> surface value; a picture drawn in the very
// colours of the screen keeps its indices.
std::array<BYTE, 256> colourMap(const DeviceContext& source) {
  std::array<BYTE, 256> map{};
  for (int i = 0; i < 256; ++i) map[i] = static_cast<BYTE>(i);
  if (source.surface != nullptr) return map;
  const PaletteEntries& palette = screenColours();
  const std::vector<RGBQUAD>& table = source.bitmap->colours;
  if (sameColours(table, palette)) return map;
  for (std::size_t i = 0; i < table.size(); ++i)
    map[i] = nearestIndex(palette, table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue);
  return map;
}

struct Span {
  int first;  // first offset inside the copy that lands on both sides
  int end;    // one past the last
};

// Offsets 0..length-1 of a copy from source position s (extent sourceSize)
// to destination position d (extent destSize) that are inside both.
Span clipSpan(int length, int s, int sourceSize, int d, int destSize) {
  int first = std::max({0, -s, -d});
  int end = std::min({length, sourceSize - s, destSize - d});
  return {first, std::max(first, end)};
}

BYTE sourceIndex(const DeviceContext& source, int x, int y) {
  if (source.surface != nullptr)
    return source.surface->pixels()[static_cast<std::size_t>(y) * source.surface->pitch() + x];
  return source.bitmap->at(x, y);
}

void drawGlyph(IDirectDrawSurface& surface, int left, int top, unsigned char ch, BYTE ink,
               BYTE paper, bool opaque) {
  const FontGlyph& glyph = fontGlyph(ch);
  auto width = static_cast<int>(surface.width());
  auto height = static_cast<int>(surface.height());
  for (int row = 0; row < kFontCellHeight; ++row) {
    int y = top + row;
    if (y < 0 || y >= height) continue;
    BYTE* line = surface.pixels() + static_cast<std::size_t>(y) * surface.pitch();
    for (int col = 0; col < kFontCellWidth; ++col) {
      int x = left + col;
      if (x < 0 || x >= width) continue;
      bool set = (glyph[row] & (0x80 >> col)) != 0;
      if (set || opaque) line[x] = set ? ink : paper;
    }
  }
}

}  // namespace

HDC createSurfaceDC(IDirectDrawSurface* surface) {
  auto context = std::make_unique<DeviceContext>();
  context->surface = surface;
  gdi().contexts.push_back(std::move(context));
  return gdi().contexts.back().get();
}

void destroySurfaceDC(HDC dc) {
  std::erase_if(gdi().contexts, [dc](const auto& c) { return c.get() == dc; });
}

HBITMAP adoptBitmap(std::unique_ptr<GdiBitmap> bitmap) {
  gdi().bitmaps.push_back(std::move(bitmap));
  return gdi().bitmaps.back().get();
}

void resetGdi() {
  gdi().contexts.clear();
  gdi().bitmaps.clear();
}

HDC CreateCompatibleDC(HDC dc) {
  if (auto error = injectedFault<DWORD>("CreateCompatibleDC", ERROR_NOT_ENOUGH_MEMORY)) {
    SetLastError(*error);
    return nullptr;
  }
  if (dc != nullptr && findContext(dc) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto context = std::make_unique<DeviceContext>();
  context->bitmap = &stockBitmap();
  gdi().contexts.push_back(std::move(context));
  return gdi().contexts.back().get();
}

BOOL DeleteDC(HDC dc) {
  if (auto r = injectedFault<BOOL>("DeleteDC", FALSE)) return *r;
  DeviceContext* context = findContext(dc);
  if (context == nullptr || context->surface != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (context->bitmap != &stockBitmap()) context->bitmap->selectedInto = nullptr;
  destroySurfaceDC(dc);
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  if (auto fault = checkFault("SelectObject"))
    return fault->has_value() ? reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(**fault))
                              : HGDI_ERROR;
  DeviceContext* context = findContext(dc);
  GdiBitmap* bitmap = findBitmap(object);
  bool usable = context != nullptr && context->surface == nullptr && bitmap != nullptr &&
                (bitmap->selectedInto == nullptr || bitmap->selectedInto == context);
  if (!usable) {
    SetLastError(ERROR_INVALID_HANDLE);
    return HGDI_ERROR;
  }
  GdiBitmap* previous = context->bitmap;
  if (previous != &stockBitmap()) previous->selectedInto = nullptr;
  if (bitmap != &stockBitmap()) bitmap->selectedInto = context;
  context->bitmap = bitmap;
  return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
  if (auto r = injectedFault<BOOL>("DeleteObject", FALSE)) return *r;
  GdiBitmap* bitmap = findBitmap(object);
  if (bitmap == nullptr || bitmap->selectedInto != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (bitmap == &stockBitmap()) return TRUE;
  std::erase_if(gdi().bitmaps, [bitmap](const auto& b) { return b.get() == bitmap; });
  return TRUE;
}

BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, int ws, int hs,
                DWORD rop) {
  if (auto r = injectedFault<BOOL>("StretchBlt", FALSE)) return *r;
  DeviceContext* target = surfaceContext(dst);
  DeviceContext* source = findContext(src);
  if (target == nullptr || source == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (rop != SRCCOPY || w != ws || h != hs) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  IDirectDrawSurface& surface = *target->surface;
  int sourceWidth = source->surface != nullptr ? static_cast<int>(source->surface->width())
                                               : source->bitmap->width;
  int sourceHeight = source->surface != nullptr ? static_cast<int>(source->surface->height())
                                                : source->bitmap->height;
  Span cols = clipSpan(w, xs, sourceWidth, x, static_cast<int>(surface.width()));
  Span rows = clipSpan(h, ys, sourceHeight, y, static_cast<int>(surface.height()));
  std::array<BYTE, 256> map = colourMap(*source);
  for (int j = rows.first; j < rows.end; ++j) {
    BYTE* line = surface.pixels() + static_cast<std::size_t>(y + j) * surface.pitch();
    for (int i = cols.first; i < cols.end; ++i)
      line[x + i] = map[sourceIndex(*source, xs + i, ys + j)];
  }
  surface.presentIfVisible();
  return TRUE;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* out) {
  if (auto r = injectedFault<UINT>("GetDIBColorTable", 0)) return *r;
  DeviceContext* context = findContext(dc);
  if (context == nullptr || context->bitmap == nullptr || context->bitmap == &stockBitmap() ||
      out == nullptr)
    return 0;
  const std::vector<RGBQUAD>& table = context->bitmap->colours;
  if (start >= table.size()) return 0;
  UINT copied = std::min<UINT>(count, static_cast<UINT>(table.size()) - start);
  std::copy_n(table.begin() + start, copied, out);
  return copied;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  if (auto r = injectedFault<COLORREF>("SetTextColor", CLR_INVALID)) return *r;
  DeviceContext* context = findContext(dc);
  if (context == nullptr) return CLR_INVALID;
  return std::exchange(context->text, colour);
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  if (auto r = injectedFault<COLORREF>("SetBkColor", CLR_INVALID)) return *r;
  DeviceContext* context = findContext(dc);
  if (context == nullptr) return CLR_INVALID;
  return std::exchange(context->background, colour);
}

int SetBkMode(HDC dc, int mode) {
  if (auto r = injectedFault<int>("SetBkMode", 0)) return *r;
  DeviceContext* context = findContext(dc);
  if (context == nullptr || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  return std::exchange(context->backgroundMode, mode);
}

BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
  if (auto r = injectedFault<BOOL>("TextOutA", FALSE)) return *r;
  DeviceContext* context = surfaceContext(dc);
  if (context == nullptr || length < 0 || (text == nullptr && length > 0)) return FALSE;
  BYTE ink = matchColour(context->text);
  BYTE paper = matchColour(context->background);
  bool opaque = context->backgroundMode == OPAQUE;
  for (int i = 0; i < length; ++i)
    drawGlyph(*context->surface, x + i * kFontCellWidth, y, static_cast<unsigned char>(text[i]),
              ink, paper, opaque);
  context->surface->presentIfVisible();
  return TRUE;
}

}  // namespace nebla::platform
