// The program's built-in resources (pictures and icon), embedded at build
// time and found by their resource number.
#pragma once

#include <cstddef>
#include <span>

namespace nebla::platform {

struct ResourceEntry {
  int id;
  const unsigned char* data;
  std::size_t size;
};

// Used by LoadImageA and LoadIconA to find a resource's file image.
std::span<const ResourceEntry> resourceTable();

}  // namespace nebla::platform
