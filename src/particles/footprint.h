// The splat footprint, the 21 cells of a 5 x 5 square without its corners,
// and the two ways the pass adds footprints to an 8-bit image: one at a
// time, or counted per cell and added in one sweep. Every cell gains 1 per
// footprint and saturates at 255, so the result is min(255, v + n) in
// whatever order the footprints come.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nebla::particles {

inline constexpr int kFootprintCells = 21;

// Byte offsets dy * pitch + dx of the footprint, row by row.
void buildFootprint(std::int32_t pitch, std::ptrdiff_t offsets[kFootprintCells]);

// Adds one footprint around the byte at `centre`.
inline void splat(std::uint8_t* centre, const std::ptrdiff_t offsets[kFootprintCells]) {
  for (int i = 0; i < kFootprintCells; ++i) {
    std::uint8_t& cell = centre[offsets[i]];
    if (cell != 255) ++cell;
  }
}

// Footprint centres counted per cell during a pass, then added to the image
// at once: far cheaper than single footprints when thousands of particles
// share the screen. Counts stop at 255, where every covered cell saturates
// anyway, so all the sums can saturate at 255 too.
class DensityCounts {
 public:
  DensityCounts() = default;
  ~DensityCounts();
  DensityCounts(const DensityCounts&) = delete;
  DensityCounts& operator=(const DensityCounts&) = delete;

  // Ready to count centres on a width x height image. The count image comes
  // from the process heap, once per size; false if the heap refused it.
  bool begin(std::uint32_t width, std::uint32_t height);

  // Counts a footprint at each of the cells, given as
  // (iy + 2) * (width + 4) + ix + 2 for cells at least 2 inside the image;
  // negative entries are skipped.
  void add(const std::int32_t* cells, int count);

  // Adds every counted footprint to the image (rows `pitch` bytes apart)
  // and clears the counts.
  void apply(std::uint8_t* image, std::int32_t pitch);

 private:
  void release();
  void sumRow(std::int32_t countRow, std::uint8_t* three, std::uint8_t* five) const;
  void applyRow(std::uint8_t* row, const std::uint8_t* const sums[5]) const;

  std::uint8_t* counts_ = nullptr;   // (width + 4) x (height + 4): 2 cells of margin
  std::uint8_t* rowSums_ = nullptr;  // five rows of 3-sums and five of 5-sums
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::int32_t stride_ = 0;
  std::int32_t first_ = 0;  // lowest and highest cell index counted
  std::int32_t last_ = -1;
};

}  // namespace nebla::particles
