// tests/gamma_test.cc: ln Gamma and gamma variates.
#include "numerics/gamma.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "numerics/streams.h"
#include "tests/stat_helpers.h"

namespace {

constexpr double kMaxUniform = 1.0000000022113151;

// A uniform source that hands out a fixed script and counts what it gave.
struct Script {
  std::vector<double> values;
  std::size_t used = 0;
  double operator()() {
    EXPECT_LT(used, values.size()) << "script exhausted";
    return used < values.size() ? values[used++] : 0.5;
  }
};

// The truncated series is not exact at 1 and 2; these values come from its
// coefficients as written (an exact ln Gamma gives 0, and 0.5723649429247001
// at 0.5).
TEST(gamma, LogGammaCheckValues) {
  EXPECT_EQ(loggamma(0.5), 0.5723649429133815);
  EXPECT_NEAR(loggamma(1), -3.4136e-11, 0.5e-15);
  EXPECT_NEAR(loggamma(2), -7.8188e-11, 0.5e-15);
}

TEST(gamma, LogGammaTracksTheLibrary) {
  for (const double x : {1e-3, 0.1, 0.3, 1.5, 3.7, 10.0, 50.5, 100.0, 150.0}) {
    EXPECT_NEAR(loggamma(x), std::lgamma(x), 5e-10) << "x = " << x;
  }
}

TEST(gamma, ShapeOneTakesOneUniform) {
  Script s{{0.25}};
  EXPECT_EQ(gammadrawt(1.0, s), -std::log(0.25));
  EXPECT_EQ(s.used, 1u);
}

// uniform01 can give exactly 0 and values up to kMaxUniform: -ln u would be
// +infinity or negative. Such u are drawn again.
TEST(gamma, ShapeOneSkipsUniformsOutsideTheOpenInterval) {
  Script s{{0.0, kMaxUniform, 1.0, 0.25}};
  EXPECT_EQ(gammadrawt(1.0, s), -std::log(0.25));
  EXPECT_EQ(s.used, 4u);
}

// u1 = b takes the power piece: x = (b / b)^(1/a) = 1, q = exp(-1); q equal
// to u2 accepts, q below u2 rejects.
TEST(gamma, ShapeBelowOneBoundaries) {
  const double a = 0.5;
  const double b = 2.7182818 / (a + 2.7182818);
  const double q = std::exp(-1.0);
  Script accept{{b, q}};
  EXPECT_EQ(gammadrawt(a, accept), 1.0);
  EXPECT_EQ(accept.used, 2u);
  Script reject{{b, std::nextafter(q, 1.0), b, q}};
  EXPECT_EQ(gammadrawt(a, reject), 1.0);
  EXPECT_EQ(reject.used, 4u);
}

// Candidates that are not finite or not above 0 are rejected before q is
// formed, each attempt consuming its two uniforms. Taken literally, u1 = 0
// returns 0, u1 above 1 returns NaN, u1 = 1 with u2 = 0 returns +infinity,
// and a power piece that underflows returns 0.
TEST(gamma, ShapeBelowOneRejectsBadCandidates) {
  const double a = 0.1;
  const double b = 2.7182818 / (a + 2.7182818);
  Script s{{0.0, 0.5,             // power piece, x = 0
            kMaxUniform, 0.5,     // exponential piece, ln of a negative number
            1.0, 0.0,             // exponential piece, x = +infinity
            1e-40, 0.5,           // power piece, (1e-40 / b)^10 underflows to 0
            b, std::exp(-1.0)}};  // accepted: x = 1
  EXPECT_EQ(gammadrawt(a, s), 1.0);
  EXPECT_EQ(s.used, 10u);
}

// U = u2 + (1 - 1.86 u1) c5. With 1.86 u1 == 1, U = u2. U exactly 0 or 1 is
// refused, and so is a tiny U, for which U - 0.5 rounds to -0.5; a test of
// U <= 0 would let U = 1e-17 through, and the logarithmic test would accept
// it (W = c2, c3 ln U very negative).
TEST(gamma, ShapeAboveOneRefusesUAtTheEnds) {
  const double a = 2;
  const double u1 = 1 / 1.86;
  ASSERT_EQ(1 - 1.86 * u1, 0.0);
  Script good{{0.5, 0.5}};
  const double expected = gammadrawt(a, good);
  ASSERT_EQ(good.used, 2u);
  Script s{{u1, 0.0, u1, 1.0, u1, 1e-17, 0.5, 0.5}};
  EXPECT_EQ(gammadrawt(a, s), expected);
  EXPECT_EQ(s.used, 8u);
}

// A shape a step away from 1 takes the other branches: pairs of uniforms.
TEST(gamma, ShapesBesideOneTakePairs) {
  uniform01reset();
  for (const double a : {std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0)}) {
    for (int i = 0; i < 1000; ++i) {
      std::size_t used = 0;
      const double x = gammadrawt(a, [&used] {
        ++used;
        return uniform01();
      });
      ASSERT_TRUE(std::isfinite(x) && x > 0) << "a = " << a;
      ASSERT_EQ(used % 2, 0u) << "a = " << a;
    }
  }
  std::size_t used = 0;
  for (int i = 0; i < 1000; ++i) {
    gammadrawt(1.0, [&used] {
      ++used;
      return uniform01();
    });
  }
  EXPECT_EQ(used, 1000u);
}

std::vector<double> drawgamma(double a, int n) {
  std::vector<double> sample(n);
  for (double& x : sample) x = gammadraw(a, processstreams());
  return sample;
}

// Mean a and variance a; bounds of 6 standard errors, with the variance of
// the sample variance (mu4 - sigma^4) / n = (2 a^2 + 6 a) / n.
TEST(gamma, MeanAndVarianceMatchTheShape) {
  uniform01reset();
  const int n = 200000;
  for (const double a : {0.1, 0.5, 1.0, 1.2, 2.0, 5.0, 50.0}) {
    const std::vector<double> sample = drawgamma(a, n);
    for (const double x : sample) {
      ASSERT_TRUE(std::isfinite(x) && x > 0) << "a = " << a << ", x = " << x;
    }
    const stattest::Moments m = stattest::moments(sample);
    EXPECT_NEAR(m.mean, a, 6 * std::sqrt(a / n)) << "a = " << a;
    EXPECT_NEAR(m.var, a, 6 * std::sqrt((2 * a * a + 6 * a) / n))
        << "a = " << a;
  }
}

TEST(gamma, DistributionPassesKolmogorovSmirnov) {
  uniform01reset();
  const int n = 100000;
  const double p = 1e-6;
  for (const double a : {0.1, 0.5, 1.2, 2.0, 5.0}) {
    std::vector<double> sample = drawgamma(a, n);
    const double d = stattest::ksdistance(
        sample, [a](double x) { return stattest::gammacdf(a, x); });
    EXPECT_LT(d, stattest::dkwbound(n, p))
        << "a = " << a << ", n = " << n << ", p = " << p;
  }
}

}  // namespace
