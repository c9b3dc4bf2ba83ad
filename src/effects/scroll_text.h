// The text the writer spells page by page, and the glyph table that maps its
// characters to cells of the glyph strip.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nebla::effects {

// Nine pages of thirteen lines of 38 characters, padded with spaces and
// ended by a NUL that is not part of the text. The byte 0xA7 stands for an
// apostrophe or quotation mark; brackets leave their cell empty.
constexpr std::size_t kScrollTextLength = 4446;
extern const char ScrollText[kScrollTextLength + 1];

// Glyph i of the strip draws the i-th byte of this table.
constexpr std::size_t kGlyphCount = 47;
extern const char GlyphTable[kGlyphCount + 1];

// The writer and the glyph emitter ask for a character's glyph: its index
// in the table (first exact byte match), or -1 when it has none.
std::int32_t glyphIndex(char c);

}  // namespace nebla::effects
