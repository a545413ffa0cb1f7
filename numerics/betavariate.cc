// numerics/betavariate.cc: the envelope is fitted to the smaller shape; the
// draw is w / (large + w) or its complement.
#include "numerics/betavariate.h"

#include <algorithm>
#include <cmath>
#include <limits>

double betavariate(double p, double q, StreamState& streams) {
  const double small = std::min(p, q);
  const double large = std::max(p, q);
  const double sum = small + large;
  const double scale = std::sqrt((sum - 2) / ((2 * small) * large - sum));
  const double shift = small + 1 / scale;
  const double log4 = std::log(4.0);
  double w = 0;
  for (;;) {
    const double u1 = uniform01(streams);
    const double u2 = uniform01(streams);
    if (!(u1 > 0 && u1 < 1)) continue;
    const double v = scale * std::log(u1 / (1 - u1));
    w = small * std::exp(v);
    // An infinite w lies beyond every acceptance test.
    if (!std::isfinite(w)) continue;
    const double z = (u1 * u1) * u2;
    const double r = shift * v - log4;
    const double s = (small + r) - w;
    // The squeeze, then the full test.
    if (s + 2.609438 >= 5 * z) break;
    const double t = std::log(z);
    if (s > t) break;
    if (r + sum * std::log(sum / (large + w)) >= t) break;
  }
  double x = small == p ? w / (large + w) : large / (large + w);
  if (x == 0) x = std::numeric_limits<double>::denorm_min();
  if (x == 1) x = 1.0 - std::numeric_limits<double>::epsilon() / 2;
  return x;
}
