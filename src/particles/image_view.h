// An 8-bit image in memory as the passes see it: its first byte and the
// distance between rows. A locked surface's rows may be wider than the
// picture, so the pitch always travels with the bytes.
#pragma once

#include <cstdint>

namespace nebla::particles {

template <typename Byte>
struct BasicImageView {
  Byte* bytes = nullptr;
  std::int32_t pitch = 0;  // bytes from one row to the next

  // A writable image can always be read.
  operator BasicImageView<const Byte>() const { return {bytes, pitch}; }
};

using ImageView = BasicImageView<std::uint8_t>;
using ConstImageView = BasicImageView<const std::uint8_t>;

}  // namespace nebla::particles
