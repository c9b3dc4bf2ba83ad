// An 8-bit .bmp file: file header, information header, colour table, rows
// from the bottom up, each padded to four bytes.
#include "platform/win32/bitmap_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace nebla::platform::win32 {
namespace {

constexpr std::uint32_t kFileHeader = 14;
constexpr std::uint32_t kInfoHeader = 40;
constexpr std::uint32_t kColours = 256;

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

std::vector<std::uint8_t> headers(int width, int height, std::uint32_t rowBytes,
                                  const PALETTEENTRY* palette) {
  std::uint32_t offset = kFileHeader + kInfoHeader + kColours * 4;
  std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(height);
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  put32(out, offset + imageBytes);
  put32(out, 0);
  put32(out, offset);
  put32(out, kInfoHeader);
  put32(out, static_cast<std::uint32_t>(width));
  put32(out, static_cast<std::uint32_t>(height));  // positive: bottom row first
  put16(out, 1);                                   // planes
  put16(out, 8);                                   // bits per pixel
  put32(out, 0);                                   // no compression
  put32(out, imageBytes);
  put32(out, 2835);  // 72 dots per inch
  put32(out, 2835);
  put32(out, kColours);
  put32(out, 0);
  for (std::uint32_t i = 0; i < kColours; ++i) {
    out.push_back(palette[i].peBlue);
    out.push_back(palette[i].peGreen);
    out.push_back(palette[i].peRed);
    out.push_back(0);
  }
  return out;
}

}  // namespace

bool writeBitmapFile(const std::string& path, const BYTE* pixels, int width, int height, int stride,
                     const PALETTEENTRY* palette, std::string& failure) {
  if (width <= 0 || height <= 0) {
    failure = "no picture";
    return false;
  }
  auto rowBytes = (static_cast<std::uint32_t>(width) + 3) & ~3u;
  std::vector<std::uint8_t> file = headers(width, height, rowBytes, palette);
  std::vector<std::uint8_t> row(rowBytes, 0);
  for (int y = height - 1; y >= 0; --y) {
    std::memcpy(row.data(), pixels + static_cast<std::ptrdiff_t>(y) * stride,
                static_cast<std::size_t>(width));
    file.insert(file.end(), row.begin(), row.end());
  }
  errno = 0;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  bool written = out != nullptr && std::fwrite(file.data(), 1, file.size(), out) == file.size();
  int error = errno;
  if (out != nullptr && std::fclose(out) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written) return true;
  if (out != nullptr) std::remove(path.c_str());
  failure = error != 0 ? std::strerror(error) : "the file could not be written";
  return false;
}

}  // namespace nebla::platform::win32
