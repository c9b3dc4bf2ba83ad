// Footprint offsets, and the counted splat. The footprint is rows of 3, 5,
// 5, 5 and 3 cells, so each count row is summed across 3 and across 5
// cells once, and every output pixel adds five of those row sums: all in
// bytes with saturation, 16 pixels at a time.
#include "particles/footprint.h"

#include <cstring>

#include "platform/kernel.h"

namespace nebla::particles {
namespace {

typedef std::uint8_t Bytes __attribute__((vector_size(16)));
constexpr int kLanes = static_cast<int>(sizeof(Bytes));

Bytes load(const std::uint8_t* from) {
  Bytes v;
  std::memcpy(&v, from, sizeof v);
  return v;
}

void store(std::uint8_t* to, Bytes v) { std::memcpy(to, &v, sizeof v); }

// min(255, a + b), lane by lane.
Bytes addSaturated(Bytes a, Bytes b) {
  const Bytes room = ~a;
  return a + (b < room ? b : room);
}

std::uint8_t addSaturated(std::uint8_t a, std::uint8_t b) {
  const unsigned sum = unsigned{a} + b;
  return static_cast<std::uint8_t>(sum > 255 ? 255 : sum);
}

}  // namespace

void buildFootprint(std::int32_t pitch, std::ptrdiff_t offsets[kFootprintCells]) {
  int n = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      if ((dx == -2 || dx == 2) && (dy == -2 || dy == 2)) continue;
      offsets[n++] = static_cast<std::ptrdiff_t>(dy) * pitch + dx;
    }
  }
}

DensityCounts::~DensityCounts() { release(); }

void DensityCounts::release() {
  if (counts_ != nullptr) platform::HeapFree(platform::GetProcessHeap(), 0, counts_);
  counts_ = rowSums_ = nullptr;
  width_ = height_ = 0;
}

bool DensityCounts::begin(std::uint32_t width, std::uint32_t height) {
  if (counts_ == nullptr || width != width_ || height != height_) {
    release();
    const std::size_t stride = std::size_t{width} + 4;
    const std::size_t countBytes = stride * (std::size_t{height} + 4);
    const std::size_t bytes = countBytes + 10 * stride;
    counts_ = static_cast<std::uint8_t*>(platform::HeapAlloc(platform::GetProcessHeap(), 0, bytes));
    if (counts_ == nullptr) return false;
    std::memset(counts_, 0, bytes);
    rowSums_ = counts_ + countBytes;
    width_ = width;
    height_ = height;
    stride_ = static_cast<std::int32_t>(stride);
  }
  first_ = stride_ * static_cast<std::int32_t>(height_ + 4);
  last_ = -1;
  return true;
}

void DensityCounts::add(const std::int32_t* cells, int count) {
  std::int32_t first = first_, last = last_;
  for (int k = 0; k < count; ++k) {
    const std::int32_t cell = cells[k];
    if (cell < 0) continue;
    std::uint8_t& n = counts_[cell];
    n = static_cast<std::uint8_t>(n + (n != 255));
    first = cell < first ? cell : first;
    last = cell > last ? cell : last;
  }
  first_ = first;
  last_ = last;
}

// The sums across 3 and across 5 cells of one count row, for the image
// columns 1 to width - 2 (the only ones a footprint reaches).
void DensityCounts::sumRow(std::int32_t countRow, std::uint8_t* three, std::uint8_t* five) const {
  const std::uint8_t* c = counts_ + static_cast<std::size_t>(countRow) * stride_ + 2;
  const std::int32_t end = static_cast<std::int32_t>(width_) - 1;
  std::int32_t x = 1;
  for (; x + kLanes <= end; x += kLanes) {
    const Bytes sum3 = addSaturated(addSaturated(load(c + x - 1), load(c + x)), load(c + x + 1));
    store(three + x, sum3);
    store(five + x, addSaturated(addSaturated(sum3, load(c + x - 2)), load(c + x + 2)));
  }
  for (; x < end; ++x) {
    const std::uint8_t sum3 = addSaturated(addSaturated(c[x - 1], c[x]), c[x + 1]);
    three[x] = sum3;
    five[x] = addSaturated(addSaturated(sum3, c[x - 2]), c[x + 2]);
  }
}

// One image row from the row sums of the rows 2 above to 2 below it:
// 3-sums, 5-sums, 5-sums, 5-sums, 3-sums.
void DensityCounts::applyRow(std::uint8_t* row, const std::uint8_t* const sums[5]) const {
  const std::int32_t end = static_cast<std::int32_t>(width_) - 1;
  std::int32_t x = 1;
  for (; x + kLanes <= end; x += kLanes) {
    Bytes value = load(row + x);
    for (int i = 0; i < 5; ++i) value = addSaturated(value, load(sums[i] + x));
    store(row + x, value);
  }
  for (; x < end; ++x) {
    for (int i = 0; i < 5; ++i) row[x] = addSaturated(row[x], sums[i][x]);
  }
}

void DensityCounts::apply(std::uint8_t* image, std::int32_t pitch) {
  if (last_ < 0) return;
  // Count row r holds the centres of image row r - 2, whose footprints
  // reach image rows r - 4 to r. Row sums of count row r stay in slot r % 5
  // while image rows r - 4 to r are written.
  const std::int32_t firstCountRow = first_ / stride_, lastCountRow = last_ / stride_;
  const std::size_t rowBytes = static_cast<std::size_t>(stride_);
  std::uint8_t* three[5];
  std::uint8_t* five[5];
  for (int i = 0; i < 5; ++i) {
    three[i] = rowSums_ + i * rowBytes;
    five[i] = rowSums_ + (5 + i) * rowBytes;
  }
  for (std::int32_t r = firstCountRow - 4; r < firstCountRow; ++r)
    sumRow(r, three[r % 5], five[r % 5]);
  for (std::int32_t y = firstCountRow - 4; y <= lastCountRow; ++y) {
    sumRow(y + 4, three[(y + 4) % 5], five[(y + 4) % 5]);
    const std::uint8_t* const sums[5] = {three[y % 5], five[(y + 1) % 5], five[(y + 2) % 5],
                                         five[(y + 3) % 5], three[(y + 4) % 5]};
    applyRow(image + static_cast<std::ptrdiff_t>(y) * pitch, sums);
  }
  std::memset(counts_ + first_, 0, static_cast<std::size_t>(last_ - first_ + 1));
}

}  // namespace nebla::particles
