// Locking a whole 8-bit surface for direct byte access, as the frame step
// and the effects do it: no flags, so a busy surface fails at once.
#pragma once

#include <cstdint>

#include "particles/image_view.h"
#include "platform/ddraw.h"

namespace nebla::display {

// What a lock gives: the surface's first byte and its pitch.
using LockedSurface = particles::ImageView;

// False when the lock fails; the caller skips its work and does not unlock.
inline bool lockWhole(platform::IDirectDrawSurface* surface, LockedSurface& out) {
  platform::DDSURFACEDESC desc{};
  desc.dwSize = platform::kSurfaceDescSize;
  if (surface->Lock(nullptr, &desc, 0, nullptr) != platform::DD_OK) return false;
  out.bytes = static_cast<std::uint8_t*>(desc.lpSurface);
  out.pitch = desc.lPitch;
  return true;
}

}  // namespace nebla::display
