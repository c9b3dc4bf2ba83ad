// Writes an 8-bit picture through its palette as an RGB PNG file: captured
// frames and screenshots.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace nebla::platform::png {

// The capture tool (every kept frame) and the windowed backend (PrintScreen)
// call this; false when the file cannot be written.
bool writePng(const std::string& path, const std::uint8_t* pixels, std::uint32_t width,
              std::uint32_t height, std::int32_t pitch, const PALETTEENTRY* palette);

}  // namespace nebla::platform::png
