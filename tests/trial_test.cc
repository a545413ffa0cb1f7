// Trial loop: cohort outcomes, a trial stopped in phase I, the admissible
// list and the final selection.
#include "engine/trial.h"
#include "console/program.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "design/design.h"
#include "numerics/arms.h"
#include "numerics/streams.h"

namespace {

class Trial : public ::testing::Test {
 protected:
  void SetUp() override {
    design.settings.ndose1 = 2;
    design.settings.ndose2 = 2;
    design.settings.targettox = 0.3;
    design.settings.mineff = 0.2;
    design.settings.ncohort1 = 5;
    design.settings.cohortsize1 = 3;
    design.settings.ncohort2 = 2;
    design.settings.cohortsize2 = 3;
    design.settings.ntrial = 1;
    for (int d1 = 0; d1 < 2; ++d1) {
      for (int d2 = 0; d2 < 2; ++d2) {
        scenario.scentox[d1][d2] = 0.1;
        scenario.sceneff[d1][d2] = 0.5;
      }
      design.prior1[d1] = 0.1 * (d1 + 1);
      design.prior2[d1] = 0.1 * (d1 + 1);
    }
    uniform01reset();
    samplerrandreset();
  }

  Design design;
  ScenarioInput scenario;
  std::unique_ptr<TrialState> s = std::make_unique<TrialState>();
  std::unique_ptr<Accumulators> acc = std::make_unique<Accumulators>();
};

TEST_F(Trial, CertainOutcomesAndImpossibleOnes) {
  scenario.scentox[0][0] = 0;
  scenario.sceneff[0][0] = 1;
  preparetrials(design, scenario, *s, *acc);
  design.settings.cohortsize1 = 1000;
  gencohort(*s, design, processstreams());
  EXPECT_EQ(s->npat[0][0], 1000);
  EXPECT_EQ(s->ntotal, 1000);
  EXPECT_EQ(s->ntox[0][0], 0);
  EXPECT_EQ(s->nresp[0][0], 1000);
  // In phase II the cohort size is cohortsize2, at the current combination.
  s->phase1 = false;
  s->cur1 = 1;
  s->cur2 = 0;
  gencohort(*s, design, processstreams());
  EXPECT_EQ(s->npat[1][0], 3);
  EXPECT_EQ(s->ntotal, 1003);
}

TEST_F(Trial, ToxicitiesAreDrawnBeforeResponses) {
  preparetrials(design, scenario, *s, *acc);
  design.settings.cohortsize1 = 4;
  scenario.scentox[0][0] = 0.5;
  s->truetox[0][0] = 0.5;
  s->trueeff[0][0] = 0.5;
  double u[8];
  for (double& x : u) x = uniform01();
  int tox = 0, resp = 0;
  for (int i = 0; i < 4; ++i) tox += u[i] < 0.5;
  for (int i = 4; i < 8; ++i) resp += u[i] < 0.5;
  uniform01reset();
  gencohort(*s, design, processstreams());
  EXPECT_EQ(s->ntox[0][0], tox);
  EXPECT_EQ(s->nresp[0][0], resp);
}

TEST_F(Trial, StoppedInPhaseOneAddsExactlyItsCohorts) {
  // Every patient has a toxicity: the lowest combination is too toxic, the
  // trial stays there twice and stops after the third cohort (9 > 6).
  for (int d1 = 0; d1 < 2; ++d1) {
    for (int d2 = 0; d2 < 2; ++d2) scenario.scentox[d1][d2] = 1;
  }
  preparetrials(design, scenario, *s, *acc);
  ASSERT_TRUE(runtrial(*s, design, *makeposterior(design), processstreams(), *acc).ok());
  EXPECT_EQ(acc->sumpat[0][0], 9);
  EXPECT_EQ(acc->sumtox[0][0], 9);
  EXPECT_EQ(acc->sumpat[0][1] + acc->sumpat[1][0] + acc->sumpat[1][1], 0);
  EXPECT_EQ(s->nadm, 0);
  EXPECT_TRUE(s->phase1);
  for (int d1 = 0; d1 < 2; ++d1) {
    for (int d2 = 0; d2 < 2; ++d2) EXPECT_EQ(acc->nselect[d1][d2], 0);
  }
  // The next trial starts again at (0, 0) with clean counts.
  ASSERT_TRUE(runtrial(*s, design, *makeposterior(design), processstreams(), *acc).ok());
  EXPECT_EQ(acc->sumpat[0][0], 18);
}

TEST_F(Trial, SafeScenarioRunsBothPhasesToOneSelection) {
  preparetrials(design, scenario, *s, *acc);
  ASSERT_TRUE(runtrial(*s, design, *makeposterior(design), processstreams(), *acc).ok());
  EXPECT_FALSE(s->phase1);
  EXPECT_GT(s->nadm, 0);
  // The admissible list is in grid order and distinct.
  for (int k = 1; k < s->nadm; ++k) {
    EXPECT_LT(s->adm1[k - 1] * 10 + s->adm2[k - 1], s->adm1[k] * 10 + s->adm2[k]);
  }
  std::int64_t selected = 0, patients = 0;
  for (int d1 = 0; d1 < 2; ++d1) {
    for (int d2 = 0; d2 < 2; ++d2) {
      selected += acc->nselect[d1][d2];
      patients += acc->sumpat[d1][d2];
      EXPECT_LE(acc->sumtox[d1][d2], acc->sumpat[d1][d2]);
      EXPECT_LE(acc->sumresp[d1][d2], acc->sumpat[d1][d2]);
    }
  }
  EXPECT_LE(selected, 1);
  EXPECT_EQ(patients, 5 * 3 + 2 * 3);
  EXPECT_EQ(patients, s->ntotal);
}

TEST_F(Trial, SelectBestTakesTheEarliestOpenMaximum) {
  s->nadm = 4;
  const double meaneff[4] = {0.3, 0.5, 0.5, 0.7};
  const int open[4] = {1, 1, 1, 0};
  for (int k = 0; k < 4; ++k) {
    s->adm1[k] = k;
    s->adm2[k] = 1;
    s->meaneff[k] = meaneff[k];
    s->admopen[k] = open[k];
  }
  EXPECT_EQ(bestentry(*s), 1);  // tie with entry 2; entry 3 is closed
  // A mean of exactly 0 is never selected.
  for (int k = 0; k < 4; ++k) s->meaneff[k] = 0;
  EXPECT_EQ(bestentry(*s), -1);
}

TEST_F(Trial, SamplerFailureMessages) {
  std::ostringstream out;
  EXPECT_EQ(samplerfailure(out, DrawStatus{1007, 2, false}), 1);
  EXPECT_EQ(out.str(), "error code for drawing betatox[2]:1007\n");
  out.str("");
  EXPECT_EQ(samplerfailure(out, DrawStatus{1003, 1, true}), 1);
  EXPECT_EQ(out.str(), "error code for drawing betaeff[1]:1003\n");
  out.str("");
  EXPECT_EQ(samplerfailure(out, DrawStatus{-31, 0, false}), 31);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
