// numerics/gamma.cc: ln Gamma(x) by Lanczos's series, and gamma variates.
#include "numerics/gamma.h"

#include <cmath>

#include "numerics/streams.h"

double loggamma(double x) {
  // Six-term Lanczos series with offset 5.5; the coefficients and the factor
  // 2.50662827465 (about sqrt(2 pi)) are kept to the digits written.
  static constexpr double kCoef[6] = {76.18009173,   -86.50532033,
                                      24.01409822,   -1.231739516,
                                      0.00120858003, -5.36382e-06};
  const double xm = x - 1;
  double t = xm + 5.5;
  t = t - (xm + 0.5) * std::log(t);
  double ser = 1;
  double d = xm;
  for (const double c : kCoef) {
    d = d + 1;  // denominators xm + 1, ..., xm + 6, each by adding 1
    ser = ser + c / d;
  }
  return std::log(2.50662827465 * ser) - t;
}

double gammadraw(double shape, StreamState& streams) {
  return gammadrawt(shape, [&streams] { return uniform01(streams); });
}
