// The description the program gives for every off-screen surface: 8-bit
// palette-indexed pixels in system memory, where the passes read and write
// them directly.
#pragma once

#include <cstdint>

#include "platform/ddraw.h"

namespace nebla::display {

// A w x h off-screen surface of the program's kind, for CreateSurface.
inline platform::DDSURFACEDESC offscreenDesc(std::uint32_t w, std::uint32_t h) {
  using namespace platform;
  DDSURFACEDESC desc{};
  desc.dwSize = kSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
  desc.dwWidth = w;
  desc.dwHeight = h;
  desc.ddpfPixelFormat.dwSize = kPixelFormatSize;
  desc.ddpfPixelFormat.dwFlags = DDPF_PALETTEINDEXED8 | DDPF_RGB;
  desc.ddpfPixelFormat.dwRGBBitCount = 8;
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
  return desc;
}

}  // namespace nebla::display
