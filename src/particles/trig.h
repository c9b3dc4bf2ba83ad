// The flow field's own sine and cosine. They give the same bits on every
// build (GCC or clang, any vector width, x86-64 or WebAssembly), because
// they use nothing but +, - and x in a fixed order and no C library call.
#pragma once

namespace nebla::particles {

// sin(x) and cos(x) within 1 ulp of the correctly rounded result, for every
// finite double; NaN for infinities and NaN. Arguments below 2^30 in
// magnitude take the fast reduction; larger ones, and the rare arguments
// very close to a multiple of pi/2, take the exact reduction.
double sine(double x);
double cosine(double x);

// The exact reduction: x = (4m + quadrant) * pi/2 + (hi + lo) with
// |hi + lo| <= pi/4, hi + lo accurate to about 2^-100 relative, for every
// finite x. Infinities and NaN give a NaN in hi. The vector passes call it
// for their rare lanes that the fast reduction cannot serve.
void reduceExact(double x, double& hi, double& lo, int& quadrant);

}  // namespace nebla::particles
