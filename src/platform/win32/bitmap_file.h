// Screenshots on Windows: the 8-bit picture with its palette as a .bmp
// file, which every Windows program opens (the Windows build has no PNG
// library).
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace nebla::platform::win32 {

// Writes width x height pixels (rows `stride` bytes apart, top row first)
// and the 256-entry palette as an uncompressed 8-bit bottom-up .bmp file.
// False with the system's reason in `failure` when the file could not be
// made or written; a partly written file is removed.
bool writeBitmapFile(const std::string& path, const BYTE* pixels, int width, int height, int stride,
                     const PALETTEENTRY* palette, std::string& failure);

}  // namespace nebla::platform::win32
