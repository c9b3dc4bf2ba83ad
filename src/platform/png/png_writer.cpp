// PNG output through libpng.
#include "platform/png/png_writer.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace nebla::platform::png {

bool writePng(const std::string& path, const std::uint8_t* pixels, std::uint32_t width,
              std::uint32_t height, std::int32_t pitch, const PALETTEENTRY* palette) {
  // Declared before setjmp, so a libpng error never jumps over its lifetime.
  std::vector<png_byte> row(std::size_t{width} * 3);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto& c = palette[src[x]];
      row[x * 3] = c.peRed;
      row[x * 3 + 1] = c.peGreen;
      row[x * 3 + 2] = c.peBlue;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

}  // namespace nebla::platform::png
