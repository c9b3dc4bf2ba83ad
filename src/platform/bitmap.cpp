// Reading BMP file images into GDI bitmaps, and nearest-colour matching.
#include "platform/bitmap.h"

#include <cstdint>
#include <cstdlib>

namespace nebla::platform {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

std::uint32_t read32(std::span<const unsigned char> data, std::size_t at) {
  return static_cast<std::uint32_t>(data[at]) | (static_cast<std::uint32_t>(data[at + 1]) << 8) |
         (static_cast<std::uint32_t>(data[at + 2]) << 16) |
         (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

std::uint16_t read16(std::span<const unsigned char> data, std::size_t at) {
  return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

struct Header {
  std::uint32_t pixelOffset;
  std::uint32_t infoSize;
  std::int32_t width;
  std::int32_t height;
  std::uint16_t bitsPerPixel;
  std::uint32_t colourCount;
};

bool readHeader(std::span<const unsigned char> file, Header& h) {
  if (file.size() < kFileHeaderSize + kInfoHeaderSize || file[0] != 'B' || file[1] != 'M')
    return false;
  h.pixelOffset = read32(file, 10);
  h.infoSize = read32(file, 14);
  h.width = static_cast<std::int32_t>(read32(file, 18));
  h.height = static_cast<std::int32_t>(read32(file, 22));
  std::uint16_t planes = read16(file, 26);
  h.bitsPerPixel = read16(file, 28);
  std::uint32_t compression = read32(file, 30);
  std::uint32_t used = read32(file, 46);
  bool depthOk = h.bitsPerPixel == 1 || h.bitsPerPixel == 4 || h.bitsPerPixel == 8;
  if (h.infoSize < kInfoHeaderSize || planes != 1 || compression != 0 || !depthOk) return false;
  std::uint32_t full = 1u << h.bitsPerPixel;
  h.colourCount = used == 0 ? full : used;
  return h.colourCount <= full && h.width > 0 && h.width <= 65536 && h.height != 0 &&
         std::abs(static_cast<long long>(h.height)) <= 65536;
}

bool readColours(std::span<const unsigned char> file, const Header& h, GdiBitmap& bitmap) {
  std::size_t at = kFileHeaderSize + h.infoSize;
  if (at + 4ull * h.colourCount > file.size()) return false;
  for (std::uint32_t i = 0; i < h.colourCount; ++i, at += 4)
    bitmap.colours.push_back({file[at], file[at + 1], file[at + 2], 0});
  return true;
}

// Rows are stored in 4-byte units, bottom row first unless the height is
// negative; pixels of fewer than 8 bits fill each byte from the top bit.
bool readPixels(std::span<const unsigned char> file, const Header& h, GdiBitmap& bitmap) {
  std::size_t stride = (static_cast<std::size_t>(h.width) * h.bitsPerPixel + 31) / 32 * 4;
  if (h.pixelOffset + stride * bitmap.height > file.size()) return false;
  bitmap.indices.resize(static_cast<std::size_t>(bitmap.width) * bitmap.height);
  int perByte = 8 / h.bitsPerPixel;
  unsigned mask = (1u << h.bitsPerPixel) - 1;
  for (int stored = 0; stored < bitmap.height; ++stored) {
    int row = h.height > 0 ? bitmap.height - 1 - stored : stored;
    const unsigned char* in = file.data() + h.pixelOffset + stride * stored;
    for (int x = 0; x < bitmap.width; ++x) {
      int shift = (perByte - 1 - x % perByte) * h.bitsPerPixel;
      BYTE index = static_cast<BYTE>((in[x / perByte] >> shift) & mask);
      if (index >= bitmap.colours.size()) return false;
      bitmap.indices[static_cast<std::size_t>(row) * bitmap.width + x] = index;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<GdiBitmap> parseBmp(std::span<const unsigned char> file, DWORD& error) {
  Header header{};
  auto bitmap = std::make_unique<GdiBitmap>();
  bool ok = readHeader(file, header);
  if (ok) {
    bitmap->width = header.width;
    bitmap->height = std::abs(header.height);
    bitmap->bitsPerPixel = header.bitsPerPixel;
    ok = readColours(file, header, *bitmap) && readPixels(file, header, *bitmap);
  }
  if (!ok) {
    error = ERROR_INVALID_DATA;
    return nullptr;
  }
  return bitmap;
}

BYTE nearestIndex(const PaletteEntries& palette, BYTE r, BYTE g, BYTE b) {
  int best = 0;
  int bestDistance = 3 * 256 * 256;
  for (int i = 0; i < 256; ++i) {
    int dr = palette[i].peRed - r;
    int dg = palette[i].peGreen - g;
    int db = palette[i].peBlue - b;
    int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return static_cast<BYTE>(best);
}

const PaletteEntries& greyRamp() {
  static const PaletteEntries ramp = [] {
    PaletteEntries entries{};
    for (int i = 0; i < 256; ++i) {
      auto v = static_cast<BYTE>(i);
      entries[i] = {v, v, v, 0};
    }
    return entries;
  }();
  return ramp;
}

}  // namespace nebla::platform
