// numerics/gamma.h: gamma variates with unit scale, and ln Gamma(x).
#ifndef COMBOSIM_NUMERICS_GAMMA_H_
#define COMBOSIM_NUMERICS_GAMMA_H_

#include <cmath>

#include "numerics/streams.h"

// Returns ln Gamma(x) by a six-term series. REQUIRES: x > 0.
double loggamma(double x);

// Returns a gamma(shape) variate with scale 1, finite and > 0.
// REQUIRES: shape > 0. Consumes numbers from uniform01(streams): one for
// shape 1 (more only if that one is 0 or not below 1), two per attempt
// otherwise.
double gammadraw(double shape, StreamState& streams);

// As gammadraw, but takes its uniform numbers from uniform(), a callable
// returning double (tests script it; gammadraw passes uniform01).
template <class U>
double gammadrawt(double shape, U&& uniform);

// ---------------------------------------------------------------------------
// Implementation.
//
// Shape below 1: rejection from a mixture of a power piece on (0, 1] and an
// exponential piece beyond it. Shape above 1: ratio of uniforms with the
// acceptance region mapped into a parallelogram, used for every shape above
// 1 and without a quick pre-test, so that every candidate meets the
// logarithmic test. The constants 2.7182818 and 1.86 are kept as written, not
// replaced by "better" ones, so that draws reproduce exactly.
//
// uniform01 can return exactly 0 and values slightly above 1. Candidates
// that such values would turn into NaN, infinity, 0 or a negative number are
// rejected (shapes 1 and below); the test of shapes above 1 already refuses
// them.

template <class U>
double gammadrawt(double shape, U&& uniform) {
  const double a = shape;
  if (a == 1) {
    // Exponential: -ln u for u in (0, 1).
    double u;
    do {
      u = uniform();
    } while (u <= 0 || u >= 1);
    return -std::log(u);
  }

  if (a < 1) {
    // Step 1.
    const double b = 2.7182818 / (a + 2.7182818);
    for (;;) {
      // Step 2.
      const double u1 = uniform();
      const double u2 = uniform();
      // Step 3: the power piece up to b, the exponential piece above it.
      double x;
      double q;
      if (u1 <= b) {
        x = std::pow(u1 / b, 1 / a);
        if (!(std::isfinite(x) && x > 0)) continue;
        q = std::exp(-x);
      } else {
        x = -std::log((1 - u1) / (a * b));
        if (!(std::isfinite(x) && x > 0)) continue;
        q = std::pow(x, a - 1);
      }
      // Step 4.
      if (q >= u2) return x;
    }
  }

  // Step 1: derived values, fresh on every call.
  const double c1 = a - 1;
  const double c2 = (a - 1 / (6 * a)) / c1;
  const double c3 = 2 / c1;
  const double c5 = 1 / std::sqrt(a);
  for (;;) {
    // Step 2.
    const double u1 = uniform();
    const double u2 = uniform();
    // Step 3: the parallelogram transformation.
    const double uu = u2 + (1 - 1.86 * u1) * c5;
    // Step 4: refuse U outside (0, 1), tested as written: for a tiny U,
    // U - 0.5 rounds to -0.5 and U is refused.
    if (std::fabs(uu - 0.5) >= 0.5) continue;
    // Step 5.
    const double w = (c2 * u2) / uu;
    // Step 6: strict logarithmic acceptance test.
    if ((c3 * std::log(uu) - std::log(w)) + w < 1) return w * c1;
  }
}

#endif  // COMBOSIM_NUMERICS_GAMMA_H_
