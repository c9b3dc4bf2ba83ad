// Tests of the volumetric light pass: fixed values it must produce, and
// agreement with a slow, literal walk of every ray over many images and
// light positions, on and off the screen.
#include "effects/light.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "particles/helper_thread.h"

namespace {

using nebla::effects::castLight;
using nebla::state::LightSource;

constexpr std::uint8_t kSentinel = 77;

// An 8-bit image with rows `pitch` bytes apart; the bytes past the width
// start as the sentinel so stray writes show.
struct Image {
  std::int32_t width;
  std::int32_t height;
  std::int32_t pitch;
  std::vector<std::uint8_t> bytes;

  Image(std::int32_t w, std::int32_t h, std::int32_t p, std::uint8_t fill)
      : width(w), height(h), pitch(p), bytes(static_cast<std::size_t>(p) * h, kSentinel) {
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x) at(x, y) = fill;
  }
  std::uint8_t& at(std::int64_t x, std::int64_t y) {
    return bytes[static_cast<std::size_t>(y * pitch + x)];
  }
  std::uint8_t at(std::int64_t x, std::int64_t y) const {
    return bytes[static_cast<std::size_t>(y * pitch + x)];
  }
};

using Point = std::pair<std::int64_t, std::int64_t>;

// The light as every frame sets it up.
LightSource frameLight(Point at) {
  LightSource light;
  light.setPosition(static_cast<std::int32_t>(at.first), static_cast<std::int32_t>(at.second));
  light.setIntensity(0.8);
  light.setReach(0.9);
  return light;
}

void cast(const LightSource& light, const Image& source, Image& destination) {
  castLight(light, {source.bytes.data(), source.pitch},
            {destination.bytes.data(), destination.pitch}, source.width, source.height);
}

Image randomImage(std::int32_t w, std::int32_t h, std::int32_t pitch, std::mt19937& random,
                  int maxDensity = 255) {
  Image image(w, h, pitch, 0);
  const auto levels = static_cast<std::uint32_t>(maxDensity + 1);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      image.at(x, y) = static_cast<std::uint8_t>(random() % levels);
  return image;
}

// ---- The literal reference -------------------------------------------------
// Kept as plain as possible and independent of the fast pass: each pixel of
// a ray is found from its index with a division, every pixel from the light
// on is visited, and outside pixels are counted but not touched.

std::vector<Point> borderInCastOrder(std::int64_t w, std::int64_t h) {
  std::vector<Point> ends;
  for (std::int64_t x = 1; x <= w - 1; ++x) ends.emplace_back(x, 0);
  for (std::int64_t y = 0; y <= h - 1; ++y) ends.emplace_back(w - 1, y);
  for (std::int64_t x = w - 1; x >= 0; --x) ends.emplace_back(x, h - 1);
  for (std::int64_t y = h - 1; y >= 0; --y) ends.emplace_back(0, y);
  return ends;
}

void literalRay(const LightSource& light, Point end, const Image& source, Image& destination) {
  const std::int64_t w = source.width;
  const std::int64_t h = source.height;
  const auto [ex, ey] = end;
  const std::int64_t adx = std::llabs(light.x - ex);
  const std::int64_t ady = std::llabs(light.y - ey);
  const std::int64_t sx = ex >= light.x ? 1 : -1;
  const std::int64_t sy = ey >= light.y ? 1 : -1;
  const bool xMajor = adx >= ady;
  const std::int64_t major = std::max(adx, ady);
  const std::int64_t minor = std::min(adx, ady);

  double j = 0.0;
  if (major != 0) {
    const std::int64_t screenSquared = w * w + h * h;
    j = ((2.0 * light.intensity * std::sqrt(static_cast<double>(adx * adx + ady * ady))) /
         static_cast<double>(major)) /
        (std::sqrt(static_cast<double>(screenSquared)) * light.reach);
  }

  double k = light.intensity;
  std::int64_t a = 0;
  std::int64_t n = 0;
  std::int64_t skipped = 0;
  bool entered = false;
  for (std::int64_t step = 0; step <= major; ++step) {
    const std::int64_t side = major == 0 ? 0 : step * minor / major;
    const std::int64_t px = light.x + sx * (xMajor ? step : side);
    const std::int64_t py = light.y + sy * (xMajor ? side : step);
    const bool inside = px >= 0 && px < w && py >= 0 && py < h;
    if (!entered) {
      if (!inside) {
        ++skipped;
        continue;
      }
      entered = true;
      n = skipped;
      k = light.intensity - static_cast<double>(skipped) * j;
    }
    ASSERT_TRUE(inside) << "ray left the screen at " << px << "," << py;
    n = n + 1;
    const std::int64_t d = source.at(px, py);
    a = a + 3 * d;
    if (k > 0.0) {
      const auto v = static_cast<std::int64_t>(
          (static_cast<double>(a) * k) / static_cast<double>(n) + static_cast<double>(d));
      destination.at(px, py) = static_cast<std::uint8_t>(v > 254 ? 254 : v);
    } else {
      destination.at(px, py) = static_cast<std::uint8_t>(d);
    }
    k = k - j;
  }
}

void literalCast(const LightSource& light, const std::vector<Point>& ends, const Image& source,
                 Image& destination) {
  for (const Point& end : ends) literalRay(light, end, source, destination);
}

void literalCast(const LightSource& light, const Image& source, Image& destination) {
  literalCast(light, borderInCastOrder(source.width, source.height), source, destination);
}

// Runs both on the same source into fresh sentinel-filled destinations whose
// pitch differs from the source's, and compares every byte, padding included.
void expectMatchesLiteral(const LightSource& light, const Image& source, std::int32_t destPitch) {
  Image fast(source.width, source.height, destPitch, kSentinel);
  Image slow(source.width, source.height, destPitch, kSentinel);
  cast(light, source, fast);
  literalCast(light, source, slow);
  ASSERT_EQ(fast.bytes, slow.bytes)
      << "light at " << light.x << "," << light.y << " on " << source.width << "x" << source.height;
}

double distance(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
  return std::hypot(static_cast<double>(x1 - x0), static_cast<double>(y1 - y0));
}

// ---- Fixed values -------------------------------------------------------------

TEST(LightValues, EmptyImageWritesZeroToEveryPixel) {
  const Image source(640, 480, 640, 0);
  Image destination(640, 480, 648, kSentinel);
  cast(frameLight({320, 240}), source, destination);
  for (std::int32_t y = 0; y < 480; ++y) {
    for (std::int32_t x = 0; x < 640; ++x) ASSERT_EQ(destination.at(x, y), 0) << x << "," << y;
    for (std::int32_t x = 640; x < 648; ++x) ASSERT_EQ(destination.at(x, y), kSentinel);
  }
}

TEST(LightValues, LightsOwnPixelIsDensityTimes3Point4Capped) {
  struct Case {
    std::uint8_t density;
    std::uint8_t lit;
  };
  for (const Case c : {Case{100, 254}, Case{10, 34}, Case{50, 170}, Case{74, 251}, Case{75, 254}}) {
    for (const Point& at : {Point{320, 240}, Point{0, 0}, Point{639, 479}, Point{5, 470}}) {
      Image source(640, 480, 640, 0);
      source.at(at.first, at.second) = c.density;
      Image destination(640, 480, 640, kSentinel);
      cast(frameLight(at), source, destination);
      EXPECT_EQ(destination.at(at.first, at.second), c.lit)
          << "density " << int(c.density) << " at " << at.first << "," << at.second;
    }
  }
}

// A uniform 255 source: every brightened pixel would exceed 254 and is
// capped, while pixels beyond 360 px (where the strength has run out) are
// copied, 255 included.
TEST(LightValues, BrightenedPixelsCapAt254AndFarPixelsKeep255) {
  const Image source(640, 480, 640, 255);
  for (const Point& light : {Point{320, 240}, Point{0, 0}, Point{600, 30}}) {
    Image destination(640, 480, 640, kSentinel);
    cast(frameLight(light), source, destination);
    int near = 0;
    int far = 0;
    for (std::int64_t y = 0; y < 480; ++y) {
      for (std::int64_t x = 0; x < 640; ++x) {
        const double r = distance(light.first, light.second, x, y);
        if (r <= 355.0) {
          ASSERT_EQ(destination.at(x, y), 254) << x << "," << y;
          ++near;
        } else if (r >= 362.0) {
          ASSERT_EQ(destination.at(x, y), 255) << x << "," << y;
          ++far;
        }
      }
    }
    EXPECT_GT(near, 1000);
    EXPECT_GT(far, 1000);
  }
}

// Past 360 px the source shows through unchanged, whatever its values.
TEST(LightValues, FarPixelsAreCopiedUnchanged) {
  std::mt19937 random(11);
  const Image source = randomImage(640, 480, 640, random);
  Image destination(640, 480, 700, kSentinel);
  cast(frameLight({2, 3}), source, destination);
  int checked = 0;
  for (std::int64_t y = 0; y < 480; ++y) {
    for (std::int64_t x = 0; x < 640; ++x) {
      if (distance(2, 3, x, y) < 362.0) continue;
      ASSERT_EQ(destination.at(x, y), source.at(x, y)) << x << "," << y;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100000);
}

// ---- Ray order ---------------------------------------------------------------

// 7 x 5 with the light at (3, 2): the pixel (2, 2) lies on the rays to the
// whole left edge, and the ray to (0, 0), cast last, decides it. Its value
// is worked out here by hand for that ray: two pixels walked, K = I - J.
TEST(LightOrder, RayToOriginIsCastLast) {
  Image source(7, 5, 9, 0);
  source.at(3, 2) = 60;
  source.at(2, 2) = 40;
  Image destination(7, 5, 12, kSentinel);
  const LightSource light = frameLight({3, 2});
  cast(light, source, destination);

  const double j = ((2.0 * 0.8 * std::sqrt(13.0)) / 3.0) / (std::sqrt(74.0) * 0.9);
  const auto expected = static_cast<std::uint8_t>((3.0 * (60 + 40) * (0.8 - j)) / 2.0 + 40.0);
  EXPECT_EQ(destination.at(2, 2), expected);
  // The ray to (0, 1), the one before it, would have left a different value.
  const double jBefore = ((2.0 * 0.8 * std::sqrt(10.0)) / 3.0) / (std::sqrt(74.0) * 0.9);
  const auto before = static_cast<std::uint8_t>((3.0 * (60 + 40) * (0.8 - jBefore)) / 2.0 + 40.0);
  ASSERT_NE(before, expected);
}

// A small busy image where the overwrite order shows: the pass must equal
// the literal walk in the documented order, and that result must differ
// from the same walk in other orders (else the comparison proves nothing).
TEST(LightOrder, SmallImageMatchesLiteralOrderOnly) {
  std::mt19937 random(5);
  const Image source = randomImage(12, 9, 13, random, 40);
  const LightSource light = frameLight({4, 3});
  Image fast(12, 9, 16, kSentinel);
  cast(light, source, fast);

  std::vector<Point> order = borderInCastOrder(12, 9);
  ASSERT_EQ(order.front(), Point(1, 0));
  ASSERT_EQ(order.back(), Point(0, 0));
  Image expected(12, 9, 16, kSentinel);
  literalCast(light, order, source, expected);
  EXPECT_EQ(fast.bytes, expected.bytes);

  std::vector<Point> originFirst(order.begin(), order.end() - 1);
  originFirst.insert(originFirst.begin(), Point(0, 0));
  Image wrongStart(12, 9, 16, kSentinel);
  literalCast(light, originFirst, source, wrongStart);
  EXPECT_NE(wrongStart.bytes, expected.bytes);

  std::vector<Point> reversed(order.rbegin(), order.rend());
  Image wrongWay(12, 9, 16, kSentinel);
  literalCast(light, reversed, source, wrongWay);
  EXPECT_NE(wrongWay.bytes, expected.bytes);
}

// The minor coordinate moves at the end of a run: from (0, 0) to (4, 1) the
// pixels are (1, 0), (2, 0), (3, 0), (4, 1). In a 5 x 2 image where only
// (3, 0) holds smoke, that ray alone carries it into (4, 1); a walk that
// stepped down in the middle of the run would leave (4, 1) dark.
TEST(LightOrder, MinorStepComesAtEndOfRun) {
  Image source(5, 2, 5, 0);
  source.at(3, 0) = 100;
  Image destination(5, 2, 5, kSentinel);
  LightSource light = frameLight({0, 0});
  light.setReach(3.0);
  cast(light, source, destination);
  // Ray to (4, 1): five pixels, A = 300 from (3, 0) on, K lowered four times.
  const double j = ((2.0 * 0.8 * std::sqrt(17.0)) / 4.0) / (std::sqrt(29.0) * 3.0);
  double k = 0.8;
  for (int step = 0; step < 4; ++step) k -= j;
  ASSERT_GT(k, 0.0);
  EXPECT_EQ(destination.at(4, 1), static_cast<std::uint8_t>((300.0 * k) / 5.0));
  EXPECT_GT(destination.at(4, 1), 0);
  // The rays to (3, 1) and (2, 1) step down before column 3, so the bottom
  // row left of (4, 1) stays dark.
  EXPECT_EQ(destination.at(2, 1), 0);
  EXPECT_EQ(destination.at(3, 1), 0);
}

// ---- Rounding -------------------------------------------------------------------

// 3 x 3, all density 4, light at (2, 2): on the last ray, to (0, 0), K has
// fallen to about 1/6 at the corner, where (A x K) / n = (36 x K) / 3 lies
// right at 2. Multiplying before dividing gives 5 there; other groupings
// round across the whole number.
TEST(LightRounding, BrightenedValueMultipliesBeforeDividing) {
  const Image source(3, 3, 3, 4);
  LightSource light = frameLight({2, 2});
  light.setIntensity(0.5);
  light.setReach(2.0);
  Image destination(3, 3, 5, kSentinel);
  cast(light, source, destination);

  const double j = ((2.0 * 0.5 * std::sqrt(8.0)) / 2.0) / (std::sqrt(18.0) * 2.0);
  const double k = (0.5 - j) - j;
  const auto expected = static_cast<std::uint8_t>((36.0 * k) / 3.0 + 4.0);
  EXPECT_EQ(destination.at(0, 0), expected);
  EXPECT_EQ(expected, 5);
  ASSERT_NE(static_cast<std::uint8_t>(36.0 * (k / 3.0) + 4.0), expected);
  expectMatchesLiteral(light, source, 5);
}

// ---- Light off the screen ------------------------------------------------------

TEST(LightClip, OutsideLightMatchesLiteralWalk) {
  std::mt19937 random(23);
  const Image source = randomImage(64, 48, 70, random, 60);
  const std::vector<Point> lights = {{-30, 20}, {-1, -1},   {70, -9},   {64, 48},
                                     {100, 30}, {20, -200}, {-5, 60},   {63, 48},
                                     {64, 47},  {-400, -7}, {33, 1000}, {-200, 250}};
  // The frame's own settings reach 36 px here; the wider reach keeps the
  // strength alive across the skipped pixels.
  for (const std::pair<double, double>& setting : {std::pair{0.8, 0.9}, std::pair{1.5, 8.0}}) {
    for (const Point& at : lights) {
      LightSource light = frameLight(at);
      light.setIntensity(setting.first);
      light.setReach(setting.second);
      expectMatchesLiteral(light, source, 66);
    }
  }
}

// A light far away: the pixels skipped before the screen already use up the
// strength, so every pixel a ray reaches is a plain copy, and the pass must
// not step through the skipped pixels one by one.
TEST(LightClip, FarAwayLightCopiesSource) {
  std::mt19937 random(29);
  const Image source = randomImage(640, 480, 640, random);
  for (const Point& at : {Point{INT32_MIN, INT32_MIN}, Point{INT32_MAX, 240}, Point{-70000, 65535},
                          Point{320, INT32_MAX}}) {
    Image destination(640, 480, 640, kSentinel);
    cast(frameLight(at), source, destination);
    for (std::int32_t y = 0; y < 480; ++y) {
      for (std::int32_t x = 0; x < 640; ++x) {
        const bool border = x == 0 || y == 0 || x == 639 || y == 479;
        const std::uint8_t got = destination.at(x, y);
        if (border || got != kSentinel) {
          ASSERT_EQ(got, source.at(x, y)) << x << "," << y;
        }
      }
    }
  }
}

// Thousands of pixels skipped with a reach long enough that the strength
// survives them: n and K at the first pixel on the screen decide every value.
TEST(LightClip, FarOutsideLightMatchesLiteralWalk) {
  std::mt19937 random(31);
  const Image source = randomImage(16, 12, 16, random, 40);
  for (const Point& at : {Point{-20000, 7000}, Point{9000, -3}, Point{5, 30000}}) {
    LightSource light = frameLight(at);
    light.setIntensity(2000.0);
    light.setReach(4000.0);
    expectMatchesLiteral(light, source, 20);
  }
}

// 4 x 3, all density 5, light three pixels left of (0, 2). The ray to
// (2, 2), the last to pass that pixel, skips three pixels; lowering K by the
// three skipped steps as one product puts the value exactly on 7, while
// three separate subtractions would fall just short of it.
TEST(LightClip, SkippedStepsLowerStrengthAsOneProduct) {
  const Image source(4, 3, 4, 5);
  LightSource light = frameLight({-3, 2});
  light.setReach(3.0);
  Image destination(4, 3, 6, kSentinel);
  cast(light, source, destination);

  const double j = ((2.0 * 0.8 * 5.0) / 5.0) / (std::sqrt(25.0) * 3.0);
  const double k = ((0.8 - 3.0 * j) - j) - j;
  const auto expected = static_cast<std::uint8_t>((45.0 * k) / 6.0 + 5.0);
  EXPECT_EQ(destination.at(2, 2), expected);
  EXPECT_EQ(expected, 7);
  const double stepped = ((((0.8 - j) - j) - j) - j) - j;
  ASSERT_NE(static_cast<std::uint8_t>((45.0 * stepped) / 6.0 + 5.0), expected);
  expectMatchesLiteral(light, source, 6);
}

// ---- Random comparisons --------------------------------------------------------

TEST(LightRandom, ScreenSizedImagesMatchLiteralWalk) {
  std::mt19937 random(2024);
  const Image busy = randomImage(640, 480, 704, random);
  for (const Point& at :
       {Point{0, 0}, Point{639, 479}, Point{639, 0}, Point{0, 479}, Point{320, 0}}) {
    expectMatchesLiteral(frameLight(at), busy, 656);
  }
  for (int trial = 0; trial < 4; ++trial) {
    const Image source = randomImage(640, 480, 704, random, trial % 2 == 0 ? 255 : 30);
    const auto x = static_cast<std::int64_t>(random() % 640);
    const auto y = static_cast<std::int64_t>(random() % 480);
    expectMatchesLiteral(frameLight({x, y}), source, 656);
  }
}

// Small odd sizes (down to a single row or column), lights on and off the
// screen, sparse smoke so that the values stay below the cap, and mostly
// short decimal intensities and reaches: with those, many values land on or
// next to a whole number, so any other rounding of J, K or the brightened
// value shows up in the truncation.
TEST(LightRandom, SmallImagesMatchLiteralWalk) {
  std::mt19937 random(77);
  auto below = [&random](std::uint32_t bound) {
    return static_cast<std::int32_t>(random() % bound);
  };
  const double intensities[] = {0.8, 0.5, 1.0, 0.625, 1.5, 2.0, 0.1, 0.3};
  const double reaches[] = {0.9, 1.0, 2.0, 0.5, 1.25, 3.0, 1.6, 0.8};
  for (int trial = 0; trial < 3000; ++trial) {
    const std::int32_t w = 1 + below(16);
    const std::int32_t h = 1 + below(16);
    Image source(w, h, w + below(6), 0);
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x) source.at(x, y) = static_cast<std::uint8_t>(below(41));
    LightSource light;
    const std::int32_t x = below(static_cast<std::uint32_t>(w + 8)) - 4;
    const std::int32_t y = below(static_cast<std::uint32_t>(h + 8)) - 4;
    light.setPosition(x, y);
    light.setIntensity(trial % 5 == 0 ? 0.05 + 0.001 * below(3000) : intensities[below(8)]);
    light.setReach(trial % 7 == 0 ? 0.05 + 0.001 * below(3000) : reaches[below(8)]);
    expectMatchesLiteral(light, source, w + below(6));
  }
}

// ---- The fast pass against the plain one ------------------------------------

// The fast walk (copies once the strength has run out, densities from
// tables) must leave exactly the image the plain walk leaves: busy and
// sparse images, lights in the middle, on the border, in corners and off
// the screen, strengths that make many values land next to a whole number,
// and a negative reach, where the strength grows along the ray.
TEST(LightFast, MatchesThePlainPassOnManyImagesAndLights) {
  std::mt19937 random(99);
  for (int trial = 0; trial < 60; ++trial) {
    // Every other trial casts half the rays on the helper thread, where
    // there is one.
    nebla::particles::HelperThread::setEnabled(trial % 2 == 1);
    const bool screen = trial % 3 != 2;
    const std::int32_t w = screen ? 640 : 1 + static_cast<std::int32_t>(random() % 40);
    const std::int32_t h = screen ? 480 : 1 + static_cast<std::int32_t>(random() % 30);
    const Image source = randomImage(w, h, w + static_cast<std::int32_t>(random() % 9), random,
                                     trial % 2 == 0 ? 255 : 20);
    LightSource light = frameLight({static_cast<std::int64_t>(random() % (w + 60)) - 30,
                                    static_cast<std::int64_t>(random() % (h + 60)) - 30});
    if (trial % 4 == 3) {
      light.setIntensity(0.05 + 0.001 * static_cast<double>(random() % 3000));
      light.setReach((trial % 8 == 7 ? -1.0 : 1.0) *
                     (0.05 + 0.001 * static_cast<double>(random() % 3000)));
    }
    const std::int32_t pitch = w + static_cast<std::int32_t>(random() % 7);
    Image fast(w, h, pitch, kSentinel), plain(w, h, pitch, kSentinel);
    cast(light, source, fast);
    nebla::effects::castLightReference(light, {source.bytes.data(), source.pitch},
                                       {plain.bytes.data(), pitch}, w, h);
    nebla::particles::HelperThread::setEnabled(false);
    ASSERT_EQ(fast.bytes, plain.bytes)
        << "light at " << light.x << "," << light.y << " on " << w << "x" << h << ", reach "
        << light.reach << (trial % 2 ? ", two threads" : "");
  }
}

}  // namespace
