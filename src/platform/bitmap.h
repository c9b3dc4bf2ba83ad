// Pictures inside the platform: a device-independent bitmap as GDI keeps it
// (one colour-table index per pixel, top row first), reading one out of a
// BMP file image, and matching colours to palette indices.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "platform/ddraw.h"
#include "platform/types.h"

namespace nebla::platform {

struct GdiBitmap {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  std::vector<RGBQUAD> colours;  // the colour table
  std::vector<BYTE> indices;     // width * height, row 0 at the top
  DeviceContext* selectedInto = nullptr;

  BYTE at(int x, int y) const { return indices[static_cast<std::size_t>(y) * width + x]; }
};

// Reads a BMP file image (BITMAPINFOHEADER, 1, 4 or 8 bits per pixel,
// uncompressed, bottom-up or top-down). Null and error set on bad data.
std::unique_ptr<GdiBitmap> parseBmp(std::span<const unsigned char> file, DWORD& error);

// Index of the entry nearest to (r, g, b): smallest squared distance, the
// lowest index on ties.
BYTE nearestIndex(const PaletteEntries& palette, BYTE r, BYTE g, BYTE b);

// Entry i is (i, i, i): what colours match against with no palette on screen.
const PaletteEntries& greyRamp();

}  // namespace nebla::platform
