// The ten colour ramps that turn smoke density into colour, and the digit
// keys' switch between them.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace nebla::display {

// Entry i of scheme `scheme` (0 to 9) for i = 0..255, flags 0. The set-up's
// first palette is scheme 1 built here, so there is one source of truth.
void buildRamp(std::uint32_t scheme, platform::PALETTEENTRY entries[256]);

}  // namespace nebla::display
