// The flow field's sine and cosine against MPFR's correctly rounded values:
// ten million arguments over the ranges the pass produces and beyond, the
// arguments closest to multiples of pi/2 and special values. Built only
// where MPFR is installed.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "particles/trig.h"

namespace nebla::particles {
namespace {

// Distance in representable doubles; doubles of opposite signs count the
// zeros between them.
std::uint64_t ulpsApart(double a, double b) {
  auto ordered = [](double v) {
    const auto bits = std::bit_cast<std::int64_t>(v);
    return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
  };
  const std::int64_t x = ordered(a), y = ordered(b);
  return x > y ? static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(y)
               : static_cast<std::uint64_t>(y) - static_cast<std::uint64_t>(x);
}

// MPFR allocates and frees scratch limbs in every call; under the address
// sanitizer each allocation records a stack, which makes MPFR itself the
// slowest part of the test. Blocks are kept per thread and size and handed
// out again instead.
class LimbCache {
 public:
  ~LimbCache() {
    for (auto& [size, blocks] : free_)
      for (void* block : blocks) std::free(block);
  }
  void* take(std::size_t size) {
    auto found = free_.find(size);
    if (found == free_.end() || found->second.empty()) return std::malloc(size);
    void* block = found->second.back();
    found->second.pop_back();
    return block;
  }
  void give(void* block, std::size_t size) { free_[size].push_back(block); }

 private:
  std::unordered_map<std::size_t, std::vector<void*>> free_;
};

thread_local LimbCache limbCache;

void* takeLimbs(std::size_t size) { return limbCache.take(size); }
void* resizeLimbs(void* block, std::size_t oldSize, std::size_t newSize) {
  void* moved = limbCache.take(newSize);
  std::memcpy(moved, block, oldSize < newSize ? oldSize : newSize);
  limbCache.give(block, oldSize);
  return moved;
}
void giveLimbs(void* block, std::size_t size) { limbCache.give(block, size); }

// Installed before any test touches MPFR.
const bool limbCacheInstalled = [] {
  mp_set_memory_functions(takeLimbs, resizeLimbs, giveLimbs);
  return true;
}();

// Correctly rounded sin and cos from MPFR, one per thread.
class Mpfr {
 public:
  Mpfr() { mpfr_inits2(53, x_, sin_, cos_, static_cast<mpfr_ptr>(nullptr)); }
  // MPFR keeps constants such as pi per thread; they go with the last
  // user on the thread.
  ~Mpfr() {
    mpfr_clears(x_, sin_, cos_, static_cast<mpfr_ptr>(nullptr));
    mpfr_free_cache();
  }
  Mpfr(const Mpfr&) = delete;
  Mpfr& operator=(const Mpfr&) = delete;

  void sinCos(double x, double& s, double& c) {
    mpfr_set_d(x_, x, MPFR_RNDN);
    mpfr_sin_cos(sin_, cos_, x_, MPFR_RNDN);
    s = mpfr_get_d(sin_, MPFR_RNDN);
    c = mpfr_get_d(cos_, MPFR_RNDN);
  }

 private:
  mpfr_t x_, sin_, cos_;
};

struct Tally {
  std::uint64_t checked = 0;
  std::uint64_t notCorrectlyRounded = 0;
  std::uint64_t worst = 0;
  std::vector<std::string> failures;

  void check(Mpfr& mpfr, double x) {
    double s = 0, c = 0;
    mpfr.sinCos(x, s, c);
    record(x, "sine", sine(x), s);
    record(x, "cosine", cosine(x), c);
  }
  void record(double x, const char* name, double got, double want) {
    ++checked;
    const std::uint64_t apart = ulpsApart(got, want);
    worst = std::max(worst, apart);
    if (apart != 0) ++notCorrectlyRounded;
    if (apart > 1 && failures.size() < 5) {
      std::ostringstream text;
      text << std::hexfloat << name << "(" << x << ") = " << got << ", MPFR " << want << " ("
           << std::dec << apart << " ulps)";
      failures.push_back(text.str());
    }
  }
  void add(const Tally& other) {
    checked += other.checked;
    notCorrectlyRounded += other.notCorrectlyRounded;
    worst = std::max(worst, other.worst);
    for (const auto& f : other.failures)
      if (failures.size() < 10) failures.push_back(f);
  }
};

// One argument from the mixture: what the pass's six waves see early on
// and after hours, sweepPhase up to 2^30, small and huge magnitudes, and
// arguments near multiples of pi/2.
double drawArgument(std::mt19937_64& random) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double sign = random() % 2 ? 1.0 : -1.0;
  switch (random() % 16) {
    case 0:
    case 1:
    case 2:
    case 3: return unit(random) * 2600.0 - 60.0;  // y / 9 + phase and the like
    case 4:
    case 5:
    case 6:
    case 7: return std::exp2(unit(random) * 30.0);  // sweepPhase from 1 to 2^30
    case 8:
    case 9: return sign * std::exp2(unit(random) * 60.0 - 60.0);  // below 1
    case 10:
    case 11:
    case 12: {
      // Next to k * pi/2 for k below 2^29.
      const double k = std::floor(std::exp2(unit(random) * 29.0));
      double x = k * 1.5707963267948966;
      for (std::uint64_t step = random() % 5; step > 0; --step)
        x = std::nextafter(x, sign * INFINITY);
      return x;
    }
    case 13: return sign * std::exp2(30.0 + unit(random) * 70.0);  // the exact reduction
    case 14:
      // Huge arguments cost MPFR far more, so fewer of them.
      return sign * std::exp2(random() % 8 == 0 ? 100.0 + unit(random) * 923.0
                                                : 30.0 + unit(random) * 20.0);
    default: return sign * unit(random) * 4.0;
  }
}

TEST(Trig, WithinOneUlpOfMpfrOnTenMillionArguments) {
  constexpr std::uint64_t kArguments = 10'000'000;
  const unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  std::vector<Tally> tallies(threads);
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([t, threads, &tallies] {
      Mpfr mpfr;
      std::mt19937_64 random(1000 + t);
      for (std::uint64_t i = t; i < kArguments; i += threads)
        tallies[t].check(mpfr, drawArgument(random));
    });
  }
  for (auto& w : workers) w.join();
  Tally all;
  for (const auto& t : tallies) all.add(t);
  EXPECT_EQ(all.checked, 2 * kArguments);
  EXPECT_LE(all.worst, 1u);
  for (const auto& f : all.failures) ADD_FAILURE() << f;
  RecordProperty("not_correctly_rounded", std::to_string(all.notCorrectlyRounded));
}

// For each binade below 2^30, the continued fraction of pi/2 scaled to the
// binade's last place gives the multiples k whose k * pi/2 lie closest to
// a double: the arguments that reduce to the tiniest remainders.
std::vector<double> closestToMultiplesOfPiOver2() {
  std::vector<double> cases;
  mpfr_t alpha, term, product;
  mpfr_inits2(400, alpha, term, product, static_cast<mpfr_ptr>(nullptr));
  for (int e = -1; e < 30; ++e) {
    mpfr_const_pi(alpha, MPFR_RNDN);
    mpfr_mul_2si(alpha, alpha, 51 - e, MPFR_RNDN);  // pi/2 in units of the binade's last place
    std::uint64_t qPrevious = 0, q = 1;
    for (int n = 0; n < 80; ++n) {
      mpfr_floor(term, alpha);
      const std::uint64_t a = mpfr_get_ui(term, MPFR_RNDN);
      if (n > 0) {
        if (a != 0 && q > (std::uint64_t{1} << 31) / a) break;
        const std::uint64_t next = a * q + qPrevious;
        qPrevious = q;
        q = next;
      }
      mpfr_sub(alpha, alpha, term, MPFR_RNDN);
      if (mpfr_zero_p(alpha)) break;
      mpfr_ui_div(alpha, 1, alpha, MPFR_RNDN);
      if (q == 0 || q >= (std::uint64_t{1} << 30)) continue;
      mpfr_const_pi(product, MPFR_RNDN);
      mpfr_mul_ui(product, product, q, MPFR_RNDN);
      mpfr_div_2ui(product, product, 1, MPFR_RNDN);
      const double x = mpfr_get_d(product, MPFR_RNDN);
      if (std::fabs(x) >= 0x1p30) continue;
      for (double v : {x, std::nextafter(x, 0.0), std::nextafter(x, INFINITY)}) {
        cases.push_back(v);
        cases.push_back(-v);
      }
    }
  }
  mpfr_clears(alpha, term, product, static_cast<mpfr_ptr>(nullptr));
  mpfr_free_cache();
  std::sort(cases.begin(), cases.end());
  cases.erase(std::unique(cases.begin(), cases.end()), cases.end());
  return cases;
}

TEST(Trig, ArgumentsClosestToMultiplesOfPiOver2) {
  const std::vector<double> cases = closestToMultiplesOfPiOver2();
  ASSERT_GT(cases.size(), 300u);
  Mpfr mpfr;
  Tally tally;
  for (double x : cases) tally.check(mpfr, x);
  EXPECT_LE(tally.worst, 1u);
  for (const auto& f : tally.failures) ADD_FAILURE() << f;
  // The famous worst case of all doubles for this reduction.
  tally.check(mpfr, std::ldexp(6381956970095103.0, 797));
  EXPECT_LE(tally.worst, 1u);
}

TEST(Trig, SpecialValuesAndTheEdgesOfTheFastReduction) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(sine(0.0)), 0u);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_TRUE(std::signbit(sine(-0.0)));
  EXPECT_TRUE(std::isnan(sine(INFINITY)));
  EXPECT_TRUE(std::isnan(cosine(-INFINITY)));
  EXPECT_TRUE(std::isnan(sine(NAN)));
  EXPECT_EQ(sine(5e-324), 5e-324);
  Mpfr mpfr;
  Tally tally;
  for (double edge : {0x1p30, 0x1p-10, 1.0, 1.5707963267948966, 3.141592653589793, 0x1p1023,
                      1.7976931348623157e308}) {
    for (double x : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, INFINITY)}) {
      tally.check(mpfr, x);
      tally.check(mpfr, -x);
    }
  }
  EXPECT_LE(tally.worst, 1u);
  for (const auto& f : tally.failures) ADD_FAILURE() << f;
}

}  // namespace
}  // namespace nebla::particles
