// numerics/gausslegendre.cc: Gauss-Legendre nodes from Boost.Math's roots of
// the Legendre polynomial, weights from its derivative there.
#include "numerics/gausslegendre.h"

#include <cmath>

#include <boost/math/special_functions/legendre.hpp>

#include "numerics/doublepolicy.h"

GaussRule gausslegendre(int n, double lo, double hi) {
  GaussRule rule;
  rule.x.assign(n, 0);
  rule.w.assign(n, 0);
  const double mid = (lo + hi) / 2;
  const double half = (hi - lo) / 2;
  // The nonnegative roots of P_n, ascending (0 first for odd n); each z > 0
  // stands for the pair -z, z.
  const std::vector<double> roots =
      boost::math::legendre_p_zeros<double>(n, DoublePolicy());
  for (std::size_t k = 0; k < roots.size(); ++k) {
    const double z = roots[k];
    const double dp = boost::math::legendre_p_prime(n, z, DoublePolicy());
    const double weight = half * (2 / ((1 - z * z) * dp * dp));
    // +z is node n/2 + k of the n ascending nodes, -z its mirror image.
    const int up = n / 2 + static_cast<int>(k);
    rule.x[up] = mid + half * z;
    rule.w[up] = weight;
    rule.x[n - 1 - up] = mid - half * z;
    rule.w[n - 1 - up] = weight;
  }
  return rule;
}

std::vector<double> barycentric(const GaussRule& rule) {
  const int n = static_cast<int>(rule.x.size());
  std::vector<double> bary(n, 1);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (j != i) bary[i] /= rule.x[i] - rule.x[j];
    }
  }
  // Scaled by a common factor, which cancels in lagrangebasis, to stay well
  // inside the range of doubles.
  double largest = 0;
  for (double b : bary) largest = std::fmax(largest, std::fabs(b));
  for (double& b : bary) b /= largest;
  return bary;
}

void lagrangebasis(const GaussRule& rule, const std::vector<double>& bary,
                   double z, double* l) {
  const int n = static_cast<int>(rule.x.size());
  for (int i = 0; i < n; ++i) {
    if (z == rule.x[i]) {
      for (int j = 0; j < n; ++j) l[j] = j == i ? 1 : 0;
      return;
    }
  }
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    l[i] = bary[i] / (z - rule.x[i]);
    sum = sum + l[i];
  }
  for (int i = 0; i < n; ++i) l[i] = l[i] / sum;
}
