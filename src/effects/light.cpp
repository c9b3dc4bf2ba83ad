// The light pass: one ray from the light to every border pixel, walked pixel
// by pixel with the integer line walk. Each pixel is brightened by the mean
// smoke density the ray has crossed so far, weighted by a strength that
// falls linearly with the distance from the light. Along a ray, n counts the
// pixels walked, A sums three times their densities and K is the strength,
// lowered by J per step. The fast pass walks each ray in two stretches:
// while the strength lasts, and then plain copies; with a helper thread it
// casts the later half of the rays there.
#include "effects/light.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "particles/helper_thread.h"
#include "platform/kernel.h"

namespace nebla::effects {
namespace {

// For a light far off the screen, the product of a step index and a ray
// length can pass 2^63.
using Wide = unsigned __int128;

// What every ray of one pass shares.
struct Pass {
  const state::LightSource& light;
  const std::uint8_t* source;
  std::uint8_t* destination;
  std::int64_t width;
  std::int64_t height;
  std::int64_t sourcePitch;
  std::int64_t destinationPitch;
  double diagonalReach;  // the screen diagonal times the reach
  // Where not null, a byte per destination pixel (same pitch) set to 1 for
  // every pixel written.
  std::uint8_t* marks = nullptr;
};

// One ray reduced to its major and minor axes. The walk moves one pixel
// along the major axis per step; the minor axis catches up at the end of
// each run, when the error term has become 0 or more.
struct Ray {
  std::int64_t major = 0;  // pixels along the major axis: the step count
  std::int64_t minor = 0;
  std::int64_t first = 0;  // index of the first pixel on the screen
  std::int64_t sourceOffset = 0;
  std::int64_t destinationOffset = 0;
  std::int64_t sourceMajorStep = 0;
  std::int64_t sourceMinorStep = 0;
  std::int64_t destinationMajorStep = 0;
  std::int64_t destinationMinorStep = 0;
  std::int64_t error = 0;
};

// Pixel moves along one axis needed from `start` before the coordinate lies
// in [0, size). The ray's end is on the screen, so from an outside start the
// ray always heads inwards.
std::int64_t movesToEnter(std::int64_t start, std::int64_t size) {
  if (start < 0) return -start;
  if (start >= size) return start - (size - 1);
  return 0;
}

// Index of the first pixel of the ray that lies on the screen: the later of
// the first pixel whose major coordinate is in range and the first whose
// minor coordinate is. The minor coordinate of pixel k is
// floor(k * minor / major) moves from its start.
std::int64_t firstInside(std::int64_t majorMoves, std::int64_t minorMoves, std::int64_t major,
                         std::int64_t minor) {
  if (minorMoves == 0) return majorMoves;
  const Wide needed = static_cast<Wide>(minorMoves) * static_cast<Wide>(major);
  const Wide k = (needed + static_cast<Wide>(minor) - 1) / static_cast<Wide>(minor);
  return std::max(majorMoves, static_cast<std::int64_t>(k));
}

// Lays out the ray from the light to (ex, ey) and places it at its first
// pixel on the screen, with the error term the walk from the light would
// have there.
Ray layOutRay(const Pass& pass, std::int64_t ex, std::int64_t ey) {
  const std::int64_t lx = pass.light.x;
  const std::int64_t ly = pass.light.y;
  const std::int64_t adx = std::abs(lx - ex);
  const std::int64_t ady = std::abs(ly - ey);
  const std::int64_t sx = ex >= lx ? 1 : -1;
  const std::int64_t sy = ey >= ly ? 1 : -1;
  const bool xMajor = adx >= ady;

  Ray ray;
  ray.major = xMajor ? adx : ady;
  ray.minor = xMajor ? ady : adx;
  const std::int64_t xMoves = movesToEnter(lx, pass.width);
  const std::int64_t yMoves = movesToEnter(ly, pass.height);
  ray.first =
      xMajor ? firstInside(xMoves, yMoves, adx, ady) : firstInside(yMoves, xMoves, ady, adx);

  std::int64_t minorMoves = 0;
  std::int64_t remainder = 0;
  if (ray.first > 0) {
    const Wide travelled = static_cast<Wide>(ray.first) * static_cast<Wide>(ray.minor);
    minorMoves = static_cast<std::int64_t>(travelled / static_cast<Wide>(ray.major));
    remainder = static_cast<std::int64_t>(travelled % static_cast<Wide>(ray.major));
  }
  ray.error = remainder - ray.major;

  const std::int64_t px = lx + sx * (xMajor ? ray.first : minorMoves);
  const std::int64_t py = ly + sy * (xMajor ? minorMoves : ray.first);
  ray.sourceOffset = py * pass.sourcePitch + px;
  ray.destinationOffset = py * pass.destinationPitch + px;
  ray.sourceMajorStep = xMajor ? sx : sy * pass.sourcePitch;
  ray.sourceMinorStep = xMajor ? sy * pass.sourcePitch : sx;
  ray.destinationMajorStep = xMajor ? sx : sy * pass.destinationPitch;
  ray.destinationMinorStep = xMajor ? sy * pass.destinationPitch : sx;
  return ray;
}

// J, how much K drops per step of this ray: a step along the major axis
// covers the ray's length divided by its step count, and K reaches 0 at
// half the diagonal times the reach.
double stepDecrement(const Pass& pass, const Ray& ray) {
  if (ray.major == 0) return 0.0;
  const auto major = static_cast<std::uint64_t>(ray.major);
  const auto minor = static_cast<std::uint64_t>(ray.minor);
  const double length = std::sqrt(static_cast<double>(major * major + minor * minor));
  return ((2.0 * pass.light.intensity * length) / static_cast<double>(major)) / pass.diagonalReach;
}

// One step of the integer line walk.
inline void stepAlong(Ray& ray) {
  ray.sourceOffset += ray.sourceMajorStep;
  ray.destinationOffset += ray.destinationMajorStep;
  ray.error += ray.minor;
  if (ray.error >= 0) {
    ray.sourceOffset += ray.sourceMinorStep;
    ray.destinationOffset += ray.destinationMinorStep;
    ray.error -= ray.major;
  }
}

// K where the ray enters the screen: the skipped pixels lower it as one
// product.
double startStrength(const Pass& pass, const Ray& ray, double decrement) {
  const double intensity = pass.light.intensity;
  return ray.first == 0 ? intensity : intensity - static_cast<double>(ray.first) * decrement;
}

// Densities as doubles, once and three times: table reads instead of
// conversions in the pixel loop.
struct DensityTables {
  double once[256];
  double thrice[256];
  constexpr DensityTables() : once(), thrice() {
    for (int d = 0; d < 256; ++d) {
      once[d] = d;
      thrice[d] = 3 * d;
    }
  }
};
constexpr DensityTables kDensities;

// Walks one ray from its first pixel on the screen to its end on the border.
// The pixels before the first one still count in n and in K.
void castRay(const Pass& pass, std::int64_t ex, std::int64_t ey) {
  Ray ray = layOutRay(pass, ex, ey);
  const double decrement = stepDecrement(pass, ray);
  double strength = startStrength(pass, ray, decrement);
  // n and A are whole numbers far below 2^53, so doubles hold them exactly
  // and spare the loop two conversions per pixel.
  double count = static_cast<double>(ray.first);
  double sum = 0.0;
  const std::uint8_t* source = pass.source;
  std::uint8_t* destination = pass.destination;

  for (std::int64_t pixel = ray.first; pixel <= ray.major; ++pixel) {
    const std::int32_t density = source[ray.sourceOffset];
    count += 1.0;
    sum += static_cast<double>(3 * density);
    if (strength > 0.0) {
      const double lit = (sum * strength) / count + static_cast<double>(density);
      // Truncated, with 255 and more written as 254.
      destination[ray.destinationOffset] = lit < 255.0 ? static_cast<std::uint8_t>(lit) : 254;
    } else {
      destination[ray.destinationOffset] = static_cast<std::uint8_t>(density);
    }
    if (pass.marks != nullptr) pass.marks[ray.destinationOffset] = 1;
    strength -= decrement;
    stepAlong(ray);
  }
}

// The same walk, faster. K only falls (J >= 0, or J is NaN and K becomes
// NaN), so once it is 0 or below every later pixel is a copy; with a
// negative J (a negative intensity or reach) the plain walk runs instead.
template <bool kMarked>
void castRayFast(const Pass& pass, std::int64_t ex, std::int64_t ey) {
  Ray ray = layOutRay(pass, ex, ey);
  const double decrement = stepDecrement(pass, ray);
  if (decrement < 0.0) {
    castRay(pass, ex, ey);
    return;
  }
  double strength = startStrength(pass, ray, decrement);
  double count = static_cast<double>(ray.first);
  double sum = 0.0;
  const std::uint8_t* source = pass.source;
  std::uint8_t* destination = pass.destination;
  std::int64_t pixel = ray.first;
  for (; pixel <= ray.major && strength > 0.0; ++pixel) {
    const std::uint8_t density = source[ray.sourceOffset];
    count += 1.0;
    sum += kDensities.thrice[density];
    const double lit = (sum * strength) / count + kDensities.once[density];
    destination[ray.destinationOffset] = lit < 255.0 ? static_cast<std::uint8_t>(lit) : 254;
    if constexpr (kMarked) pass.marks[ray.destinationOffset] = 1;
    strength -= decrement;
    stepAlong(ray);
  }
  for (; pixel <= ray.major; ++pixel) {
    destination[ray.destinationOffset] = source[ray.sourceOffset];
    if constexpr (kMarked) pass.marks[ray.destinationOffset] = 1;
    stepAlong(ray);
  }
}

// Calls cast(ex, ey) for every border pixel in cast order. Later rays
// overwrite earlier ones where they cross, so the order counts: top edge
// from x = 1, right edge, bottom edge, left edge ending at (0, 0).
template <class Cast>
void forEachRayEnd(std::int64_t w, std::int64_t h, Cast cast) {
  for (std::int64_t ex = 1; ex < w; ++ex) cast(ex, 0);
  for (std::int64_t ey = 0; ey < h; ++ey) cast(w - 1, ey);
  for (std::int64_t ex = w - 1; ex >= 0; --ex) cast(ex, h - 1);
  for (std::int64_t ey = h - 1; ey >= 0; --ey) cast(0, ey);
}

Pass makePass(const state::LightSource& light, const std::uint8_t* source,
              std::uint8_t* destination, std::int32_t width, std::int32_t height,
              std::int32_t sourcePitch, std::int32_t destinationPitch) {
  const std::int64_t w = width;
  const std::int64_t h = height;
  const double diagonalReach = std::sqrt(static_cast<double>(w * w + h * h)) * light.reach;
  return Pass{light, source, destination, w, h, sourcePitch, destinationPitch, diagonalReach};
}

// The rays from index `first` (in cast order) up to, not including, `end`.
template <bool kMarked>
void castRange(const Pass& pass, std::int64_t first, std::int64_t end) {
  std::int64_t index = 0;
  forEachRayEnd(pass.width, pass.height, [&](std::int64_t ex, std::int64_t ey) {
    if (index >= first && index < end) castRayFast<kMarked>(pass, ex, ey);
    ++index;
  });
}

// The ray index that halves the work. A ray costs its steps, a bright step
// (while the strength lasts: about major * diagonal * reach / (2 * length)
// steps) about three times a copied one.
std::int64_t halfwayRay(const Pass& pass) {
  const std::int64_t lx = pass.light.x, ly = pass.light.y;
  auto cost = [&](std::int64_t ex, std::int64_t ey) {
    const double adx = static_cast<double>(std::abs(ex - lx)),
                 ady = static_cast<double>(std::abs(ey - ly));
    const double steps = 1.0 + std::max(adx, ady);
    const double length = std::sqrt(adx * adx + ady * ady);
    const double bright =
        length > 0.0 ? std::max(adx, ady) * pass.diagonalReach / (2.0 * length) : steps;
    const double lit = std::max(0.0, std::min(steps, bright));
    return 3.0 * lit + (steps - lit);
  };
  double total = 0.0;
  forEachRayEnd(pass.width, pass.height,
                [&](std::int64_t ex, std::int64_t ey) { total += cost(ex, ey); });
  double sum = 0.0;
  std::int64_t index = 0, halfway = -1;
  forEachRayEnd(pass.width, pass.height, [&](std::int64_t ex, std::int64_t ey) {
    sum += cost(ex, ey);
    ++index;
    if (halfway < 0 && 2.0 * sum >= total) halfway = index;
  });
  return halfway;
}

// The helper's half of the rays is cast into an image of its own, with a
// mark for every pixel written; the marked pixels then replace the main
// half's, as the later rays would have. Taken from the process heap on the
// first split pass and kept.
class SplitImage {
 public:
  ~SplitImage() {
    if (bytes_ != nullptr) platform::HeapFree(platform::GetProcessHeap(), 0, bytes_);
  }
  // Room for a width x height image and its marks (all 0); false if the
  // heap refused it.
  bool reserve(std::int64_t width, std::int64_t height) {
    const auto size = static_cast<std::size_t>(width * height);
    if (size <= size_) return true;
    if (bytes_ != nullptr) platform::HeapFree(platform::GetProcessHeap(), 0, bytes_);
    bytes_ =
        static_cast<std::uint8_t*>(platform::HeapAlloc(platform::GetProcessHeap(), 0, 2 * size));
    size_ = bytes_ != nullptr ? size : 0;
    if (bytes_ != nullptr) std::memset(bytes_, 0, 2 * size);
    return bytes_ != nullptr;
  }
  std::uint8_t* pixels() { return bytes_; }
  std::uint8_t* marks() { return bytes_ + size_; }

  // Copies the marked pixels into the destination and clears the marks.
  void mergeInto(std::uint8_t* destination, std::int64_t pitch, std::int64_t width,
                 std::int64_t height) {
    for (std::int64_t y = 0; y < height; ++y) {
      mergeRow(destination + y * pitch, pixels() + y * width, marks() + y * width, width);
    }
  }

 private:
  typedef std::uint8_t Bytes __attribute__((vector_size(16)));

  static void mergeRow(std::uint8_t* row, const std::uint8_t* pixel, std::uint8_t* mark,
                       std::int64_t width) {
    std::int64_t x = 0;
    for (; x + 16 <= width; x += 16) {
      Bytes r, p, m;
      std::memcpy(&r, row + x, sizeof r);
      std::memcpy(&p, pixel + x, sizeof p);
      std::memcpy(&m, mark + x, sizeof m);
      const Bytes take = reinterpret_cast<Bytes>(m != 0);
      r = (p & take) | (r & ~take);
      std::memcpy(row + x, &r, sizeof r);
    }
    for (; x < width; ++x) {
      if (mark[x] != 0) row[x] = pixel[x];
    }
    std::memset(mark, 0, static_cast<std::size_t>(width));
  }

  std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
};

SplitImage splitImage;

// Below this many pixels the hand-over costs more than the helper saves.
constexpr std::int64_t kSplitMinPixels = 128 * 128;

struct HelperHalf {
  const Pass* pass;
  std::int64_t first;
  std::int64_t end;
};

void castHelperHalf(void* task, int) {
  const auto* half = static_cast<const HelperHalf*>(task);
  castRange<true>(*half->pass, half->first, half->end);
}

// Both halves at once; true if the split could be made.
bool castSplit(const Pass& pass) {
  particles::HelperThread* helper =
      pass.width * pass.height >= kSplitMinPixels ? particles::HelperThread::get() : nullptr;
  if (helper == nullptr || !splitImage.reserve(pass.width, pass.height)) return false;
  Pass second = pass;
  second.destination = splitImage.pixels();
  second.destinationPitch = pass.width;
  second.marks = splitImage.marks();
  const std::int64_t halfway = halfwayRay(pass);
  HelperHalf task{&second, halfway, 2 * (pass.width + pass.height)};
  helper->offer(castHelperHalf, &task, 1);
  castRange<false>(pass, 0, halfway);
  helper->finish();
  splitImage.mergeInto(pass.destination, pass.destinationPitch, pass.width, pass.height);
  return true;
}

}  // namespace

void castLight(const state::LightSource& light, particles::ConstImageView source,
               particles::ImageView destination, std::int32_t width, std::int32_t height) {
  const Pass pass = makePass(light, source.bytes, destination.bytes, width, height, source.pitch,
                             destination.pitch);
  if (castSplit(pass)) return;
  forEachRayEnd(pass.width, pass.height,
                [&pass](std::int64_t ex, std::int64_t ey) { castRayFast<false>(pass, ex, ey); });
}

void castLightReference(const state::LightSource& light, particles::ConstImageView source,
                        particles::ImageView destination, std::int32_t width, std::int32_t height) {
  const Pass pass = makePass(light, source.bytes, destination.bytes, width, height, source.pitch,
                             destination.pitch);
  forEachRayEnd(pass.width, pass.height,
                [&pass](std::int64_t ex, std::int64_t ey) { castRay(pass, ex, ey); });
}

}  // namespace nebla::effects
