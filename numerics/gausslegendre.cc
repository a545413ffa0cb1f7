// numerics/gausslegendre.cc: nodes by Newton's method on the Legendre
// polynomial from the usual cosine guesses, weights from its derivative.
#include "numerics/gausslegendre.h"

#include <cmath>

GaussRule gausslegendre(int n, double lo, double hi) {
  GaussRule rule;
  rule.x.assign(n, 0);
  rule.w.assign(n, 0);
  const double pi = 3.14159265358979323846;
  const double mid = (lo + hi) / 2;
  const double half = (hi - lo) / 2;
  for (int i = 0; i < (n + 1) / 2; ++i) {
    // The i-th largest root of P_n on [-1, 1].
    double z = std::cos(pi * (i + 0.75) / (n + 0.5));
    double dp = 1;
    for (int iter = 0; iter < 100; ++iter) {
      double p0 = 1;
      double p1 = z;
      for (int k = 2; k <= n; ++k) {
        const double p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      if (n == 1) p0 = 1;
      dp = n * (z * p1 - p0) / (z * z - 1);
      const double step = p1 / dp;
      z = z - step;
      if (std::fabs(step) < 1e-16) break;
    }
    // Derivative at the final root.
    double p0 = 1;
    double p1 = z;
    for (int k = 2; k <= n; ++k) {
      const double p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
      p0 = p1;
      p1 = p2;
    }
    dp = n == 1 ? 1 : n * (z * p1 - p0) / (z * z - 1);
    const double weight = 2 / ((1 - z * z) * dp * dp);
    // Symmetric pairs; the middle node of an odd rule is 0.
    if (2 * i + 1 == n) z = 0;
    rule.x[i] = mid - half * z;
    rule.x[n - 1 - i] = mid + half * z;
    rule.w[i] = half * weight;
    rule.w[n - 1 - i] = half * weight;
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
