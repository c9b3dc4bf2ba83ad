// The picture in an output's buffer: palette lookup and nearest-pixel
// scaling, row by row.
#include "platform/wayland/picture.h"

#include <algorithm>
#include <cstring>

namespace nebla::platform::wayland {
namespace {

void fillBlack(std::uint32_t* buffer, int width, int height, int stride) {
  for (int y = 0; y < height; ++y)
    std::fill_n(buffer + static_cast<std::ptrdiff_t>(y) * stride, width, 0u);
}

// One output row of the picture: each picture pixel repeated across the
// columns that map onto it.
void drawRow(const Picture& picture, const BYTE* source, const Rect& at, std::uint32_t* row) {
  for (int x = 0; x < at.w; ++x) {
    int from = static_cast<int>(static_cast<long long>(x) * picture.width / at.w);
    row[at.x + x] = picture.xrgb[source[from]];
  }
}

}  // namespace

void Picture::take(const Presentation& frame) {
  width = static_cast<int>(frame.width);
  height = static_cast<int>(frame.height);
  pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    std::memcpy(pixels.data() + static_cast<std::size_t>(y) * width,
                frame.pixels + static_cast<std::ptrdiff_t>(y) * frame.pitch, width);
  for (int i = 0; i < 256; ++i) {
    const PALETTEENTRY& e = frame.palette[i];
    xrgb[i] = static_cast<std::uint32_t>(e.peRed) << 16 |
              static_cast<std::uint32_t>(e.peGreen) << 8 | e.peBlue;
  }
}

BufferSize bufferFor(int surfaceWidth, int surfaceHeight, int scale) {
  scale = std::max(scale, 1);
  return {surfaceWidth * scale, surfaceHeight * scale};
}

// A row that repeats the one above it (a whole multiple above 1) is copied.
Rect drawPicture(const Picture& picture, std::uint32_t* buffer, int width, int height, int stride) {
  fillBlack(buffer, width, height, stride);
  if (picture.empty() || width <= 0 || height <= 0) return {};
  Rect at = fitWholeMultiple(width, height, picture.width, picture.height);
  int lastSource = -1;
  for (int y = 0; y < at.h; ++y) {
    int source = static_cast<int>(static_cast<long long>(y) * picture.height / at.h);
    std::uint32_t* row = buffer + static_cast<std::ptrdiff_t>(at.y + y) * stride;
    if (source == lastSource)
      std::memcpy(row + at.x, row - stride + at.x, sizeof(std::uint32_t) * at.w);
    else
      drawRow(picture, picture.pixels.data() + static_cast<std::ptrdiff_t>(source) * picture.width,
              at, row);
    lastSource = source;
  }
  return at;
}

}  // namespace nebla::platform::wayland
