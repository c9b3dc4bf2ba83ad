// Reading the .ico directory and one 32-bit bottom-up picture from it.
#include "platform/icon.h"

#include <cstring>

namespace nebla::platform {
namespace {

std::uint32_t read16(std::span<const unsigned char> d, std::size_t at) {
  return static_cast<std::uint32_t>(d[at] | (d[at + 1] << 8));
}

std::uint32_t read32(std::span<const unsigned char> d, std::size_t at) {
  return read16(d, at) | (read16(d, at + 2) << 16);
}

// The picture of one directory entry, if it is a plain 32-bit bitmap whose
// bytes lie inside the file. Its header gives twice the height: the colour
// rows are followed by a 1-bit mask, which 32-bit pictures do not need.
IconImage decodeEntry(std::span<const unsigned char> file, std::size_t entry) {
  std::uint32_t size = read32(file, entry + 8);
  std::uint32_t offset = read32(file, entry + 12);
  if (offset > file.size() || size > file.size() - offset || size < 40) return {};
  std::span<const unsigned char> dib = file.subspan(offset, size);
  if (read32(dib, 0) != 40 || read16(dib, 14) != 32 || read32(dib, 16) != 0) return {};
  auto width = static_cast<std::int32_t>(read32(dib, 4));
  auto height = static_cast<std::int32_t>(read32(dib, 8)) / 2;
  if (width <= 0 || height <= 0 || width > 256 || height > 256) return {};
  std::size_t row = static_cast<std::size_t>(width) * 4;
  if (dib.size() < 40 + row * static_cast<std::size_t>(height)) return {};
  IconImage image{width, height, std::vector<std::uint8_t>(row * static_cast<std::size_t>(height))};
  for (int y = 0; y < height; ++y)
    std::memcpy(image.bgra.data() + row * static_cast<std::size_t>(height - 1 - y),
                dib.data() + 40 + row * static_cast<std::size_t>(y), row);
  return image;
}

// Pictures drawn without an alpha channel leave it all zero; they are meant
// to be opaque.
void makeOpaqueIfNoAlpha(IconImage& image) {
  bool anyAlpha = false;
  for (std::size_t i = 3; i < image.bgra.size() && !anyAlpha; i += 4) anyAlpha = image.bgra[i] != 0;
  if (anyAlpha) return;
  for (std::size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = 0xFF;
}

}  // namespace

IconImage decodeIcon(std::span<const unsigned char> file) {
  if (file.size() < 6 || read16(file, 0) != 0 || read16(file, 2) != 1) return {};
  std::size_t count = read16(file, 4);
  if (file.size() < 6 + count * 16) return {};
  IconImage best;
  for (std::size_t i = 0; i < count; ++i) {
    IconImage candidate = decodeEntry(file, 6 + i * 16);
    if (candidate.width * candidate.height > best.width * best.height) best = std::move(candidate);
  }
  makeOpaqueIfNoAlpha(best);
  return best;
}

}  // namespace nebla::platform
