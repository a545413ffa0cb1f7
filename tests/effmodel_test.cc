// Phase II efficacy model: the log full conditional, the Beta draws, the
// Gibbs update and the stopping rules.
#include "design/effmodel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "design/design.h"
#include "numerics/arms.h"
#include "numerics/gamma.h"
#include "numerics/streams.h"

namespace {

class EffModel : public ::testing::Test {
 protected:
  void SetUp() override {
    design.settings.ndose1 = 2;
    design.settings.ndose2 = 2;
    design.settings.targettox = 0.3;
    design.settings.mineff = 0.2;
    for (int d = 0; d < 2; ++d) {
      s->priortox1[d] = 0.1 * (d + 1);
      s->priortox2[d] = 0.1 * (d + 1);
    }
    uniform01reset();
    samplerrandreset();
  }
  // Appends (d1, d2) to the admissible list, open, with the given counts.
  void admit(int d1, int d2, int npat, int ntox, int nresp) {
    const int j = s->nadm++;
    s->adm1[j] = d1;
    s->adm2[j] = d2;
    s->admopen[j] = 1;
    s->npat[d1][d2] = npat;
    s->ntox[d1][d2] = ntox;
    s->nresp[d1][d2] = nresp;
  }

  Design design;
  std::unique_ptr<TrialState> s = std::make_unique<TrialState>();
};

TEST_F(EffModel, LogDensityIsBetaLikelihoodOfTheCurrentDraws) {
  admit(0, 0, 3, 0, 1);
  admit(1, 0, 3, 0, 2);
  s->peff[0] = 0.25;
  s->peff[1] = 0.6;
  s->betaeff[0] = 1.5;
  s->betaeff[1] = 3;
  // a under update: -0.99 ln a - 0.01 a + sum lnG(a+b) - lnG(a) + (a-1) ln p.
  s->effpar = 0;
  const double a = 2.5, b = 3;
  const double expecta = -0.99 * std::log(a) - 0.01 * a +
                         2 * (std::lgamma(a + b) - std::lgamma(a)) +
                         (a - 1) * (std::log(0.25) + std::log(0.6));
  EXPECT_NEAR(logdenseff(a, *s), expecta, 1e-8);
  EXPECT_EQ(s->betaeff[0], a);
  s->effpar = 1;
  const double b2 = 4;
  const double expectb = -0.99 * std::log(b2) - 0.01 * b2 +
                         2 * (std::lgamma(a + b2) - std::lgamma(b2)) +
                         (b2 - 1) * (std::log(0.75) + std::log(0.4));
  EXPECT_NEAR(logdenseff(b2, *s), expectb, 1e-8);
  // No admissible entry: the prior alone.
  s->nadm = 0;
  EXPECT_EQ(logdenseff(b2, *s), -0.99 * std::log(b2) - 0.01 * b2);
}

TEST_F(EffModel, BetaDrawsStayStrictlyInsideTheUnitInterval) {
  // Beta(0.1, 0.1) is U-shaped: X / (X + Y) is often exactly 1 in double
  // precision, and such draws are held just below 1.
  int heldbelowone = 0;
  for (int i = 0; i < 20000; ++i) {
    const double p = betadraw(0.1, 0.1, 0, 0, processstreams());
    ASSERT_GT(p, 0);
    ASSERT_LT(p, 1);
    if (p == 0.99999999999999989) ++heldbelowone;
  }
  EXPECT_GT(heldbelowone, 0);
}

TEST_F(EffModel, BetaDrawsHaveTheConjugateMean) {
  // Beta(a + r, b + n - r) with a = 1, b = 2, n = 10, r = 4: mean 5/13.
  double sum = 0;
  const int draws = 40000;
  for (int i = 0; i < draws; ++i) sum += betadraw(1, 2, 10, 4, processstreams());
  // Standard deviation of the mean: sqrt(5 * 8 / (13^2 * 14)) / 200 ~ 6.5e-4.
  EXPECT_NEAR(sum / draws, 5.0 / 13, 0.004);
}

TEST_F(EffModel, NoAdmissibleEntryStillRunsTheChainsAndReportsAllClosed) {
  const int before = samplerrand();
  samplerrandreset();
  int allclosed = 0;
  ASSERT_TRUE(phase2update(*s, design, processstreams(), &allclosed).ok());
  EXPECT_EQ(allclosed, 1);
  // 2100 iterations of five sampler calls consumed the sampler's integers.
  EXPECT_NE(samplerrand(), before);
}

TEST_F(EffModel, FutileEntryWithManyPatientsCloses) {
  admit(0, 0, 30, 0, 0);   // no response in 30 patients: futile
  admit(0, 1, 30, 0, 15);  // half respond: stays open
  int allclosed = 0;
  ASSERT_TRUE(phase2update(*s, design, processstreams(), &allclosed).ok());
  EXPECT_EQ(allclosed, 0);
  EXPECT_EQ(s->admopen[0], 0);
  EXPECT_EQ(s->admopen[1], 1);
  EXPECT_LT(s->admpreff[0], 0.15);
  EXPECT_GT(s->meaneff[1], s->meaneff[0]);
  // The stored draws are the ones summarised.
  double mean = 0;
  for (int t = 0; t < kNumDraws; ++t) mean += s->effdraws[1][t] / kNumDraws;
  EXPECT_EQ(mean, s->meaneff[1]);
}

TEST_F(EffModel, UnsafeEntryWithManyPatientsCloses) {
  admit(1, 1, 12, 10, 6);
  int allclosed = 0;
  ASSERT_TRUE(phase2update(*s, design, processstreams(), &allclosed).ok());
  EXPECT_LT(s->admprsafe[0], 0.4);
  EXPECT_EQ(s->admopen[0], 0);
  EXPECT_EQ(allclosed, 1);
}

TEST_F(EffModel, SixPatientsNeverClose) {
  admit(1, 1, 6, 6, 0);
  int allclosed = 1;
  ASSERT_TRUE(phase2update(*s, design, processstreams(), &allclosed).ok());
  EXPECT_EQ(allclosed, 0);
  EXPECT_EQ(s->admopen[0], 1);
}

TEST_F(EffModel, StoppingRulesAreStrictOnTheRunningSums) {
  // 300 shares of 1/2000 add up to just above 0.15 and 800 to just above 0.4.
  double share300 = 0, share800 = 0;
  for (int i = 0; i < 300; ++i) share300 += 1.0 / 2000;
  for (int i = 0; i < 800; ++i) share800 += 1.0 / 2000;
  admit(0, 0, 7, 0, 0);
  admit(0, 1, 7, 0, 0);
  admit(1, 0, 7, 0, 0);
  admit(1, 1, 6, 0, 0);
  s->admpreff[0] = 0.15;
  s->admprsafe[0] = 0.4;  // exactly on both bounds: open
  s->admpreff[1] = share300;
  s->admprsafe[1] = share800;  // the sums themselves: open
  s->admpreff[2] = share300 - 1.0 / 2000;
  s->admprsafe[2] = 1;  // 299 shares: futile
  s->admpreff[3] = 0;
  s->admprsafe[3] = 0;  // 6 patients: open whatever the summaries
  EXPECT_EQ(applystoppingrules(*s, DesignRules{}), 0);
  EXPECT_EQ(s->admopen[0], 1);
  EXPECT_EQ(s->admopen[1], 1);
  EXPECT_EQ(s->admopen[2], 0);
  EXPECT_EQ(s->admopen[3], 1);
}

TEST_F(EffModel, ClosuresCountAgainstMinpatientsCloseAlone) {
  admit(0, 0, 3, 0, 0);
  s->admpreff[0] = 0;  // futile, with 3 patients
  s->admprsafe[0] = 1;
  DesignRules rules;
  rules.minpatients_stop = 0;
  rules.minpatients_close = 3;
  EXPECT_EQ(applystoppingrules(*s, rules), 0);
  EXPECT_EQ(s->admopen[0], 1);
  rules.minpatients_stop = 9;
  rules.minpatients_close = 2;
  EXPECT_EQ(applystoppingrules(*s, rules), 1);
  EXPECT_EQ(s->admopen[0], 0);
}

TEST_F(EffModel, ClosedEntryStaysClosedAndStaysInTheModel) {
  admit(0, 0, 9, 0, 8);
  admit(0, 1, 9, 0, 7);
  s->admopen[0] = 0;  // closed earlier in the trial
  int allclosed = 0;
  ASSERT_TRUE(phase2update(*s, design, processstreams(), &allclosed).ok());
  EXPECT_EQ(s->admopen[0], 0);
  EXPECT_EQ(allclosed, 0);
  EXPECT_GT(s->meaneff[0], 0.5);  // still drawn and summarised
  s->admopen[1] = 0;
  EXPECT_EQ(applystoppingrules(*s, DesignRules{}), 1);
}

TEST_F(EffModel, SameDataAndStreamsGiveTheSameSummaries) {
  admit(0, 0, 6, 1, 2);
  admit(1, 0, 9, 2, 5);
  int allclosed = 0;
  ASSERT_TRUE(phase2update(*s, design, processstreams(), &allclosed).ok());
  auto first = std::make_unique<TrialState>(*s);
  uniform01reset();
  samplerrandreset();
  s->betaeff[0] = 50;
  ASSERT_TRUE(phase2update(*s, design, processstreams(), &allclosed).ok());
  for (int j = 0; j < 2; ++j) {
    EXPECT_EQ(s->meaneff[j], first->meaneff[j]);
    EXPECT_EQ(s->admpreff[j], first->admpreff[j]);
    EXPECT_EQ(s->admprsafe[j], first->admprsafe[j]);
    EXPECT_EQ(s->effdraws[j][1999], first->effdraws[j][1999]);
  }
}

}  // namespace

namespace {

TEST_F(EffModel, FastEvaluatorIsBitIdenticalToTheModelAsWritten) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int nadm = 0; nadm <= 12; ++nadm) {
    s->nadm = nadm;
    double logp[kMaxAdm], log1mp[kMaxAdm];
    for (int j = 0; j < nadm; ++j) {
      s->peff[j] = unit(rng);
      logp[j] = std::log(s->peff[j]);
      log1mp[j] = std::log(1 - s->peff[j]);
    }
    for (int k = 0; k < 2; ++k) {
      s->betaeff[0] = 0.1 + 99.9 * unit(rng);
      s->betaeff[1] = 0.1 + 99.9 * unit(rng);
      auto copy = std::make_unique<TrialState>(*s);
      copy->effpar = k;
      const EffDensity::Init init;
      EffDensity fast(*s, k, logp, log1mp, init);
      for (int e = 0; e < 9; ++e) {
        // Random points, and the sampler's initial abscissae.
        const double x = e < 5 ? 0.1 + 99.9 * unit(rng) : init.x[e - 5];
        ASSERT_EQ(fast(x), logdenseff(x, *copy)) << "nadm " << nadm << " k " << k;
      }
    }
  }
}

}  // namespace

namespace {

// Hyper-parameter draws through the fast evaluator equal those through the
// model as written behind the sampler's function-pointer entry.
TEST_F(EffModel, FastDrawsAreTheDrawsAsWritten) {
  admit(0, 0, 6, 1, 2);
  admit(0, 1, 3, 0, 0);
  admit(1, 0, 9, 2, 7);
  const EffDensity::Init init;
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> unit(0.01, 0.99);
  double prev[2] = {1, 1};
  s->betaeff[0] = 1;
  s->betaeff[1] = 2;
  for (int iter = 0; iter < 100; ++iter) {
    double logp[kMaxAdm], log1mp[kMaxAdm];
    for (int j = 0; j < s->nadm; ++j) {
      s->peff[j] = unit(rng);
      logp[j] = std::log(s->peff[j]);
      log1mp[j] = std::log(1 - s->peff[j]);
    }
    for (int k = 0; k < 2; ++k) {
      auto reference = std::make_unique<TrialState>(*s);
      reference->effpar = k;
      samplerrandreset();
      double fast = 0, written = 0;
      ASSERT_EQ(armsdrawt(kEffLower, kEffUpper,
                          EffDensity(*s, k, logp, log1mp, init), prev[k], &fast, processstreams()),
                0);
      samplerrandreset();
      ASSERT_EQ(armsdraw(kEffLower, kEffUpper, logdenseffcallback,
                         reference.get(), prev[k], &written, processstreams()),
                0);
      ASSERT_EQ(fast, written) << "iteration " << iter << " k " << k;
      s->betaeff[k] = fast;
      prev[k] = fast;
    }
  }
}

}  // namespace
