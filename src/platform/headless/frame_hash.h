// The hash that tells one run's frames from another's: FNV-1a over the
// pixels and then the palette of every presented frame, in order. The
// capture tool prints it; the page reports it for its replays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/headless/headless.h"

namespace nebla::platform::headless {

struct FrameHash {
  std::uint64_t value = 1469598103934665603ull;
  std::uint32_t frames = 0;

  void add(const void* data, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) value = (value ^ bytes[i]) * 1099511628211ull;
  }
  void add(const PresentedFrame& frame) {
    ++frames;
    add(frame.pixels.data(), frame.pixels.size());
    add(frame.palette.data(), sizeof(frame.palette));
  }
};

}  // namespace nebla::platform::headless
