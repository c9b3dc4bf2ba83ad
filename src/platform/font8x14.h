// The built-in fixed-width font that TextOutA draws with.
#pragma once

#include <array>

#include "platform/gdi.h"
#include "platform/types.h"

namespace nebla::platform {

// One row a byte, top row first; bit 0x80 is the leftmost pixel.
using FontGlyph = std::array<BYTE, kFontCellHeight>;

// The glyph of a character; characters outside 0x20..0x7E get a hollow box.
const FontGlyph& fontGlyph(unsigned char ch);

}  // namespace nebla::platform
