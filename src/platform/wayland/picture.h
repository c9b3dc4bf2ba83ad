// The program's 8-bit picture turned into the XRGB8888 pixels of one
// output's buffer: at the largest whole multiple that fits, centred, black
// around, every picture pixel a sharp square block.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/backend.h"
#include "platform/viewport.h"

namespace nebla::platform::wayland {

// The newest frame the program presented: its own copy, so any output can
// be drawn again whenever the compositor is ready for it.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<BYTE> pixels;               // width x height, no padding
  std::array<std::uint32_t, 256> xrgb{};  // the palette as 0x00RRGGBB

  // Takes the frame's pixels (any pitch) and palette.
  void take(const Presentation& frame);
  bool empty() const { return pixels.empty(); }
};

// The buffer pixels an output of this size in surface units needs at this
// scale factor (the compositor shows one buffer pixel per device pixel).
struct BufferSize {
  int width = 0;
  int height = 0;
};
BufferSize bufferFor(int surfaceWidth, int surfaceHeight, int scale);

// Draws the picture into a buffer of width x height pixels whose rows are
// stride pixels apart, and answers where it went. A buffer smaller than the
// picture gets it shrunk to fit, nearest pixel; an empty picture or buffer
// leaves the buffer black.
Rect drawPicture(const Picture& picture, std::uint32_t* buffer, int width, int height, int stride);

}  // namespace nebla::platform::wayland
