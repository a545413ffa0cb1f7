// tests/stat_helpers.h: statistical checks shared by the generator tests.
//
// A sample is compared with its distribution function by the Kolmogorov-
// Smirnov distance D = sup |F_n(x) - F(x)|, and D is held against the
// Dvoretzky-Kiefer-Wolfowitz bound: for n independent draws,
// P(D > eps) <= 2 exp(-2 n eps^2) (Massart's constant). The streams are fixed,
// so every check is deterministic; with p = 1e-6 a correct generator passes by
// a wide margin, and a wrong distribution of a sample this size fails.
#ifndef COMBOSIM_TESTS_STAT_HELPERS_H_
#define COMBOSIM_TESTS_STAT_HELPERS_H_

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace stattest {

// The eps with 2 exp(-2 n eps^2) = p.
inline double dkwbound(std::size_t n, double p) {
  return std::sqrt(std::log(2 / p) / (2.0 * static_cast<double>(n)));
}

// D = sup |F_n(x) - cdf(x)| of `sample` (sorted by the call).
template <class Cdf>
double ksdistance(std::vector<double>& sample, Cdf cdf) {
  std::sort(sample.begin(), sample.end());
  const double n = static_cast<double>(sample.size());
  double d = 0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const double f = cdf(sample[i]);
    d = std::max(d, std::max(f - i / n, (i + 1) / n - f));
  }
  return d;
}

struct Moments {
  double mean = 0;
  double var = 0;  // divided by n
};

inline Moments moments(const std::vector<double>& sample) {
  Moments m;
  for (const double x : sample) m.mean += x;
  m.mean /= static_cast<double>(sample.size());
  for (const double x : sample) m.var += (x - m.mean) * (x - m.mean);
  m.var /= static_cast<double>(sample.size());
  return m;
}

inline double normalcdf(double x) {
  return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

// P(a, x), the regularised lower incomplete gamma function: the gamma(a)
// distribution function with scale 1. Series below a + 1, continued fraction
// (modified Lentz) above; relative accuracy about 1e-14.
inline double gammacdf(double a, double x) {
  if (x <= 0) return 0;
  const double lead = a * std::log(x) - x - std::lgamma(a);
  if (x < a + 1) {
    double term = 1 / a;
    double sum = term;
    for (int k = 1; k < 1000 && std::fabs(term) > 1e-17 * sum; ++k) {
      term *= x / (a + k);
      sum += term;
    }
    return sum * std::exp(lead);
  }
  const double tiny = 1e-300;
  double b = x + 1 - a;
  double c = 1 / tiny;
  double d = 1 / b;
  double h = d;
  for (int k = 1; k < 1000; ++k) {
    const double an = -k * (k - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1) < 1e-16) break;
  }
  return 1 - std::exp(lead) * h;
}

}  // namespace stattest

#endif  // COMBOSIM_TESTS_STAT_HELPERS_H_
