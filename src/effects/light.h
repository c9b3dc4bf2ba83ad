// The volumetric light: rays from the light to every border pixel brighten
// the smoke they pass, writing the lit picture into a second image.
#pragma once

#include <cstdint>

#include "particles/image_view.h"
#include "state/light_source.h"

namespace nebla::effects {

// Called by the frame step while the light is on, after the particles have
// been splatted: reads the density image `source` and writes the lit image
// into `destination` (both width x height). Only destination pixels that a ray passes are written
// (with the light in the middle of the screen, that is all of them); the source is only read. The
// image is exactly castLightReference's.
void castLight(const state::LightSource& light, particles::ConstImageView source,
               particles::ImageView destination, std::int32_t width, std::int32_t height);

// The same pass written plainly, pixel by pixel. Tests and benchmarks hold
// the fast pass against it.
void castLightReference(const state::LightSource& light, particles::ConstImageView source,
                        particles::ImageView destination, std::int32_t width, std::int32_t height);

}  // namespace nebla::effects
