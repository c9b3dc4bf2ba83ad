// Scalar sine and cosine, and the exact reduction by pi/2 for the arguments
// the fast reduction cannot serve: x times 2/pi worked out in integers with
// 192 bits of 2/pi around x's binary point.
#include "particles/trig.h"

#include <cstdint>

#include "particles/trig_lanes.h"

namespace nebla::particles {
namespace {

// 2/pi in binary, 32 bits per word, most significant first: 1344 bits,
// enough for the largest finite double and 192 bits below its point.
constexpr std::uint32_t kTwoOverPiBits[] = {
    0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0, 0xdb629599, 0x3c439041, 0xfe5163ab,
    0xdebbc561, 0xb7246e3a, 0x424dd2e0, 0x06492eea, 0x09d1921c, 0xfe1deb1c, 0xb129a73e,
    0xe88235f5, 0x2ebb4484, 0xe99c7026, 0xb45f7e41, 0x3991d639, 0x835339f4, 0x9c845f8b,
    0xbdf9283b, 0x1ff897ff, 0xde05980f, 0xef2f118b, 0x5a0a6d1f, 0x6d367ecf, 0x27cb09b7,
    0x4f463f66, 0x9e5fea2d, 0x7527bac7, 0xebe5f17b, 0x3d0739f7, 0x8a5292ea, 0x6bfb5fb1,
    0x1f8d5d08, 0x56033046, 0xfc7b6bab, 0xf0cfbc20, 0x9af4361d, 0xa9e39161, 0x5ee61b08,
};
constexpr int kTableBits = 32 * static_cast<int>(sizeof kTwoOverPiBits / sizeof kTwoOverPiBits[0]);

// pi/2 as a sum of two doubles.
constexpr double kPiOver2Hi = 0x1.921fb54442d18p+0;
constexpr double kPiOver2Lo = 0x1.1a62633145c07p-54;

constexpr int kWindowWords = 6;  // 192 bits of 2/pi per reduction

// The 32-bit word of 2/pi at index w (0 is the first word after the point);
// words before the point and past the table are 0.
std::uint64_t tableWord(int w) { return w >= 0 && w < kTableBits / 32 ? kTwoOverPiBits[w] : 0; }

// 32 bits of 2/pi from bit `first` on (bit 1 is the first after the point),
// the first of them most significant.
std::uint32_t wordOfTwoOverPi(int first) {
  const int at = first - 1;
  const int w = at >= 0 ? at / 32 : (at - 31) / 32;  // floor division
  const int shift = at - 32 * w;
  const std::uint64_t pair = (tableWord(w) << 32) | tableWord(w + 1);
  return static_cast<std::uint32_t>(pair >> (32 - shift));
}

// 2^e for the exponents this file needs, built from its bits.
double powerOfTwo(int e) {
  return __builtin_bit_cast(double, static_cast<std::uint64_t>(e + 1023) << 52);
}

// The product of the 53-bit mantissa m and the window of 2/pi modulo
// 2^192, in 32-bit limbs, least significant first.
void multiplyWindow(std::uint64_t m, const std::uint32_t window[kWindowWords],
                    std::uint32_t product[kWindowWords]) {
  const std::uint64_t m0 = m & 0xffffffffu, m1 = m >> 32;
  std::uint64_t carry = 0;
  for (int i = 0; i < kWindowWords; ++i) {
    const std::uint64_t low = m0 * window[i];
    const std::uint64_t high = i > 0 ? m1 * window[i - 1] : 0;
    const std::uint64_t column = (low & 0xffffffffu) + (high & 0xffffffffu) + (carry & 0xffffffffu);
    product[i] = static_cast<std::uint32_t>(column);
    carry = (low >> 32) + (high >> 32) + (carry >> 32) + (column >> 32);
  }
}

// 2^190 - value over the low 190 bits, for a value in [2^189, 2^190).
void negateFraction(std::uint32_t limbs[kWindowWords]) {
  std::uint64_t borrow = 0;
  for (int i = 0; i < kWindowWords; ++i) {
    const std::uint64_t difference = 0 - static_cast<std::uint64_t>(limbs[i]) - borrow;
    limbs[i] = static_cast<std::uint32_t>(difference);
    borrow = difference >> 63;
  }
  limbs[kWindowWords - 1] &= 0x3fffffffu;
}

void twoSum(double a, double b, double& sum, double& error) {
  sum = a + b;
  const double back = sum - a;
  error = (a - (sum - back)) + (b - back);
}

// Dekker's exact product, split by Veltkamp: no fused multiply-add needed.
void twoProduct(double a, double b, double& product, double& error) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double ca = kSplitter * a, cb = kSplitter * b;
  const double aHigh = ca - (ca - a), aLow = a - aHigh;
  const double bHigh = cb - (cb - b), bLow = b - bHigh;
  product = a * b;
  error = (((aHigh * bHigh - product) + aHigh * bLow) + aLow * bHigh) + aLow * bLow;
}

// The fraction limbs * 2^-190 as a normalised sum of two doubles. All the
// parts are positive, so the running two-sum loses nothing that matters.
void fractionToDouble(const std::uint32_t limbs[kWindowWords], double& hi, double& lo) {
  hi = 0.0;
  lo = 0.0;
  for (int i = kWindowWords - 1; i >= 0; --i) {
    double error = 0.0;
    twoSum(hi, static_cast<double>(limbs[i]) * powerOfTwo(32 * i - 190), hi, error);
    lo = lo + error;
  }
  const double sum = hi + lo;
  lo = lo - (sum - hi);
  hi = sum;
}

// (hi + lo) * pi/2, normalised.
void timesPiOver2(double& hi, double& lo) {
  double product = 0.0, error = 0.0;
  twoProduct(hi, kPiOver2Hi, product, error);
  error = error + (hi * kPiOver2Lo + lo * kPiOver2Hi);
  hi = product + error;
  lo = error - (hi - product);
}

// |x| * 2/pi modulo 4, with 190 bits after the point, for |x| given as
// mantissa * 2^exponent. Bits of 2/pi before exponent - 1 only add
// multiples of 4, so a window of 192 bits from there on is enough.
void timesTwoOverPiModulo4(std::uint64_t mantissa, int exponent,
                           std::uint32_t product[kWindowWords]) {
  std::uint32_t window[kWindowWords];
  for (int w = 0; w < kWindowWords; ++w) {
    window[kWindowWords - 1 - w] = wordOfTwoOverPi(exponent - 1 + 32 * w);
  }
  multiplyWindow(mantissa, window, product);
}

}  // namespace

void reduceExact(double x, double& hi, double& lo, int& quadrant) {
  const std::uint64_t bits = __builtin_bit_cast(std::uint64_t, x);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  quadrant = 0;
  lo = 0.0;
  if (biased == 0x7ff || (x > -0.78 && x < 0.78)) {
    // NaN for infinities and NaN; within pi/4 already (zeros and
    // subnormals included).
    hi = biased == 0x7ff ? x - x : x;
    return;
  }
  const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  std::uint32_t product[kWindowWords];
  timesTwoOverPiModulo4(mantissa, biased - 1075, product);

  // The whole part is the quadrant; a fraction of a half or more rounds it
  // up and leaves a negative remainder.
  int whole = static_cast<int>(product[kWindowWords - 1] >> 30);
  product[kWindowWords - 1] &= 0x3fffffffu;
  const bool roundUp = (product[kWindowWords - 1] & 0x20000000u) != 0;
  if (roundUp) {
    negateFraction(product);
    whole += 1;
  }
  fractionToDouble(product, hi, lo);
  timesPiOver2(hi, lo);
  if (roundUp != (x < 0.0)) {
    hi = -hi;
    lo = -lo;
  }
  quadrant = (x < 0.0 ? -whole : whole) & 3;
}

double sine(double x) { return trig::sineOf(x); }

double cosine(double x) { return trig::cosineOf(x); }

}  // namespace nebla::particles
