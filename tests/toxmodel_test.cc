// Toxicity model: the copula formula, the log full conditional and the phase I
// posterior summaries.
#include "design/toxmodel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <memory>
#include <random>

#include "design/design.h"
#include "numerics/arms.h"
#include "numerics/streams.h"

namespace {

class ToxModel : public ::testing::Test {
 protected:
  void SetUp() override {
    design.settings.ndose1 = 3;
    design.settings.ndose2 = 2;
    design.settings.targettox = 0.3;
    const double p1[3] = {0.05, 0.1, 0.2};
    const double p2[2] = {0.1, 0.3};
    for (int d = 0; d < 3; ++d) s->priortox1[d] = p1[d];
    for (int d = 0; d < 2; ++d) s->priortox2[d] = p2[d];
  }
  void treat(int d1, int d2, int npat, int ntox) {
    s->npat[d1][d2] = npat;
    s->ntox[d1][d2] = ntox;
  }

  Design design;
  std::unique_ptr<TrialState> s = std::make_unique<TrialState>();
};

TEST_F(ToxModel, ProbtoxMatchesHandComputedValues) {
  // alpha = beta = gamma = 1: 1 - 1 / (1/(1-p) + 1/(1-q) - 1).
  s->betatox[0] = s->betatox[1] = s->betatox[2] = 1;
  // p = 0.1, q = 0.3: pi = 1 - 1 / (10/9 + 10/7 - 1) = 34/97.
  EXPECT_NEAR(probtox(*s, 1, 1), 1 - 1 / (1 / 0.9 + 1 / 0.7 - 1), 1e-15);
  EXPECT_NEAR(probtox(*s, 1, 1), 0.35051546391752575, 1e-15);
  // alpha = 2, beta = 0.5, gamma = 2 at p = 0.2, q = 0.1:
  // A = (1 - 0.04)^-2, B = (1 - 0.316227766)^-2, pi = 1 - (A + B - 1)^-0.5.
  s->betatox[0] = 2;
  s->betatox[1] = 0.5;
  s->betatox[2] = 2;
  const double a = 1 / (0.96 * 0.96);
  const double b = 1 / ((1 - std::sqrt(0.1)) * (1 - std::sqrt(0.1)));
  EXPECT_NEAR(probtox(*s, 2, 0), 1 - 1 / std::sqrt(a + b - 1), 1e-14);
  // Single-drug limits: a combination never has less toxicity than either
  // drug alone, p^alpha and q^beta.
  EXPECT_GT(probtox(*s, 2, 0), 0.04);
  EXPECT_GT(probtox(*s, 2, 0), std::sqrt(0.1));
}

TEST_F(ToxModel, LogDensityIsPriorPlusBinomialLikelihood) {
  treat(0, 0, 3, 0);
  treat(1, 0, 3, 1);
  treat(1, 1, 4, 4);
  s->betatox[0] = 1.3;
  s->betatox[1] = 0.7;
  s->betatox[2] = 2.5;
  for (int k = 0; k < 3; ++k) {
    s->toxpar = k;
    const double x = 0.9 + k;
    const double value = logdenstox(x, *s, design);
    EXPECT_EQ(s->betatox[k], x) << "the candidate stays in betatox";
    // Independent evaluation: the binomial log likelihood summed in another
    // order, with the log prior of the parameter under update.
    double loglik = 0;
    for (int d2 = 1; d2 >= 0; --d2) {
      for (int d1 = 2; d1 >= 0; --d1) {
        const int n = s->npat[d1][d2], y = s->ntox[d1][d2];
        if (n == 0) continue;
        const double pi = probtox(*s, d1, d2);
        loglik += y * std::log(pi) + (n - y) * std::log1p(-pi);
      }
    }
    const double prior = k == 2 ? -0.9 * std::log(x) - 0.1 * x
                                : -0.5 * std::log(x) - 0.5 * x;
    EXPECT_NEAR(value, prior + loglik, 1e-12) << "parameter " << k;
  }
}

TEST_F(ToxModel, LogDensityStaysFiniteWhenTheModelSaysZeroOrOne) {
  // Priors this close to 0 and 1 make pi exactly 0 or 1 in double precision.
  s->priortox1[0] = 1e-300;
  s->priortox2[0] = 1e-300;
  s->priortox1[2] = 0.9999999999999999;
  treat(0, 0, 3, 1);
  treat(2, 1, 3, 2);
  s->betatox[0] = 0.1;
  s->betatox[1] = 4;
  s->betatox[2] = 0.1;
  ASSERT_EQ(probtox(*s, 0, 0), 0);
  ASSERT_EQ(probtox(*s, 2, 1), 1);
  s->toxpar = 0;
  EXPECT_TRUE(std::isfinite(logdenstox(0.1, *s, design)));
  s->toxpar = 2;
  EXPECT_TRUE(std::isfinite(logdenstox(0.1, *s, design)));
}

TEST_F(ToxModel, UntreatedGridIsThePriorAlone) {
  s->toxpar = 1;
  EXPECT_EQ(logdenstox(2.0, *s, design), -0.5 * std::log(2.0) - 0.5 * 2.0);
}

TEST_F(ToxModel, SummariesFollowTheData) {
  uniform01reset();
  samplerrandreset();
  treat(0, 0, 6, 0);
  ASSERT_TRUE(updatetox(*s, design, processstreams()).ok());
  const double safelow = s->prsafe[0][0];
  const double meanlow = s->meantox[0][0];
  treat(0, 0, 6, 5);
  ASSERT_TRUE(updatetox(*s, design, processstreams()).ok());
  EXPECT_LT(s->prsafe[0][0], safelow);
  EXPECT_GT(s->meantox[0][0], meanlow);
  // Higher doses are more toxic under the model, for every draw.
  EXPECT_GT(s->meantox[2][1], s->meantox[0][0]);
  EXPECT_LE(s->prsafe[2][1], s->prsafe[0][0]);
  for (int d1 = 0; d1 < 3; ++d1) {
    for (int d2 = 0; d2 < 2; ++d2) {
      EXPECT_GE(s->prsafe[d1][d2], 0);
      EXPECT_LE(s->prsafe[d1][d2], 1.0000000001);
      EXPECT_GT(s->meantox[d1][d2], 0);
      EXPECT_LT(s->meantox[d1][d2], 1);
    }
  }
}

TEST_F(ToxModel, RestartsFromTheSameStateWhateverBetatoxHeld) {
  treat(0, 0, 3, 1);
  treat(1, 0, 3, 0);
  uniform01reset();
  samplerrandreset();
  s->betatox[0] = 3.7;
  ASSERT_TRUE(updatetox(*s, design, processstreams()).ok());
  auto first = std::make_unique<TrialState>(*s);
  samplerrandreset();
  s->betatox[0] = 0.2;
  s->betatox[2] = 7;
  ASSERT_TRUE(updatetox(*s, design, processstreams()).ok());
  for (int d1 = 0; d1 < 3; ++d1) {
    for (int d2 = 0; d2 < 2; ++d2) {
      EXPECT_EQ(s->meantox[d1][d2], first->meantox[d1][d2]);
      EXPECT_EQ(s->prsafe[d1][d2], first->prsafe[d1][d2]);
    }
  }
  EXPECT_EQ(s->toxpar, 2);
}

TEST_F(ToxModel, CellsOutsideTheGridAreNotTouched) {
  s->meantox[3][0] = 42;
  s->prsafe[0][2] = 42;
  samplerrandreset();
  ASSERT_TRUE(updatetox(*s, design, processstreams()).ok());
  EXPECT_EQ(s->meantox[3][0], 42);
  EXPECT_EQ(s->prsafe[0][2], 42);
}

}  // namespace

namespace {

// The sampler's evaluators compute exactly what the model as written does.
TEST_F(ToxModel, FastEvaluatorsAreBitIdenticalToTheModelAsWritten) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(0.001, 0.999);
  std::uniform_int_distribution<int> count(0, 6);
  for (int round = 0; round < 200; ++round) {
    design.settings.ndose1 = 1 + round % 4;
    design.settings.ndose2 = 1 + (round / 4) % 4;
    for (int d = 0; d < kMaxDose; ++d) {
      s->priortox1[d] = unit(rng);
      s->priortox2[d] = unit(rng);
    }
    for (int d1 = 0; d1 < kMaxDose; ++d1) {
      for (int d2 = 0; d2 < kMaxDose; ++d2) {
        const int n = count(rng) < 3 ? 0 : count(rng);
        treat(d1, d2, n, n == 0 ? 0 : std::min(n, count(rng)));
      }
    }
    const TreatedCells cells = treatedcells(*s, design);
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < 3; ++i) s->betatox[i] = 0.1 + 3.9 * unit(rng);
      auto copy = std::make_unique<TrialState>(*s);
      const ToxMemo nomemo{};
      ToxDensity fast(*s, cells, k, nomemo, 1.0);
      copy->toxpar = k;
      for (int e = 0; e < 9; ++e) {
        // Random points, and the sampler's initial abscissae.
        const double x = e < 5 ? 0.1 + (k == 2 ? 7.9 : 3.9) * unit(rng)
                               : cells.xinit[k][e - 5];
        ASSERT_EQ(fast(x), logdenstox(x, *copy, design)) << "round " << round << " k " << k;
        ASSERT_EQ(s->betatox[k], x);
      }
    }
    ToxGrid grid;
    static const int levels[kMaxDose] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    grid.update(*s, levels, design.settings.ndose1, levels, design.settings.ndose2,
                ToxMemo());
    for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
      for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
        ASSERT_EQ(grid.probtox(d1, d2), probtox(*s, d1, d2));
      }
    }
  }
}

}  // namespace

namespace {

// The log likelihood carried from one sampler call to the next is the one at
// the chain's new point.
TEST_F(ToxModel, MemoHoldsTheLogLikelihoodAtTheChainsPoint) {
  treat(0, 0, 6, 1);
  treat(1, 0, 3, 2);
  treat(2, 1, 3, 0);
  const TreatedCells cells = treatedcells(*s, design);
  samplerrandreset();
  double prev[3] = {1, 1, 1};
  s->betatox[0] = s->betatox[1] = s->betatox[2] = 1;
  ToxMemo memo(cells);
  for (int iter = 0; iter < 50; ++iter) {
    ASSERT_TRUE(drawtoxparams(*s, cells, prev, memo, processstreams()).ok());
    ASSERT_TRUE(memo.valid);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(memo.at[k], s->betatox[k]);
    auto copy = std::make_unique<TrialState>(*s);
    copy->toxpar = 0;
    const double prior = -0.5 * std::log(s->betatox[0]) - 0.5 * s->betatox[0];
    ASSERT_EQ(prior + memo.loglik, logdenstox(s->betatox[0], *copy, design));
    // The carried drug terms are those of the chain's point.
    ASSERT_EQ(memo.agamma, s->betatox[2]);
    ASSERT_EQ(memo.bgamma, s->betatox[2]);
    for (int r = 0; r < cells.nrows; ++r) {
      const int d1 = cells.rows[r];
      ASSERT_EQ(memo.a[d1], std::pow(1 - std::pow(s->priortox1[d1], memo.aalpha),
                                     -memo.agamma));
    }
  }
}

}  // namespace

namespace {

// The Gibbs scan through the fast evaluators draws exactly what the scan
// through the model as written, behind the sampler's function-pointer entry,
// draws from the same integer stream.
TEST_F(ToxModel, FastScanDrawsWhatTheScanAsWrittenDraws) {
  treat(0, 0, 6, 1);
  treat(1, 0, 3, 0);
  treat(1, 1, 6, 3);
  treat(2, 1, 3, 3);
  const TreatedCells cells = treatedcells(*s, design);
  auto reference = std::make_unique<TrialState>(*s);
  double prev[3] = {1, 1, 1};
  double refprev[3] = {1, 1, 1};
  s->betatox[0] = s->betatox[1] = s->betatox[2] = 1;
  reference->betatox[0] = reference->betatox[1] = reference->betatox[2] = 1;
  ToxMemo memo(cells);
  ToxCallbackData data{reference.get(), &design};
  for (int iter = 0; iter < 100; ++iter) {
    samplerrandreset();
    for (int i = 0; i < iter; ++i) samplerrand();  // a fresh stream position
    ASSERT_TRUE(drawtoxparams(*s, cells, prev, memo, processstreams()).ok());
    samplerrandreset();
    for (int i = 0; i < iter; ++i) samplerrand();
    for (int k = 0; k < 3; ++k) {
      reference->toxpar = k;
      double draw = 0;
      ASSERT_EQ(armsdraw(kToxLower[k], kToxUpper[k], logdenstoxcallback,
                         &data, refprev[k], &draw, processstreams()),
                0);
      reference->betatox[k] = draw;
      refprev[k] = draw;
    }
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(s->betatox[k], reference->betatox[k]) << "iteration " << iter;
    }
  }
}

}  // namespace
