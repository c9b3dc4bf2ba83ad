// The window icon: the largest 32-bit picture of the program's .ico file,
// unpacked to rows of blue, green, red, alpha bytes, top row first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nebla::platform {

struct IconImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgra;  // width * height * 4 bytes
};

// Called when the window is created, with the class icon's file bytes.
// Entries that are not uncompressed 32-bit pictures are passed over; an
// image with none (or a damaged file) gives an empty result, and the window
// then keeps the system's icon.
IconImage decodeIcon(std::span<const unsigned char> file);

}  // namespace nebla::platform
