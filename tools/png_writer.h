// Writes an 8-bit picture through its palette as an RGB PNG file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace nebla::tools {

// The capture tool calls this for every kept frame; false when the file
// cannot be written.
bool writePng(const std::string& path, const std::uint8_t* pixels, std::uint32_t width,
              std::uint32_t height, std::int32_t pitch, const platform::PALETTEENTRY* palette);

}  // namespace nebla::tools
