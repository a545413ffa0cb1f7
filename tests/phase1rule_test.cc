// Phase I rule: candidate lists, ties, thresholds, counts and the early stop.
#include "design/phase1rule.h"

#include <gtest/gtest.h>

#include <memory>

#include "design/design.h"

namespace {

class Phase1Rule : public ::testing::Test {
 protected:
  void SetUp() override { grid(3, 3); }

  // A J by K grid with every meantox far from the target and every prsafe in
  // the stay band.
  void grid(int j, int k) {
    design.settings.ndose1 = j;
    design.settings.ndose2 = k;
    design.settings.targettox = 0.3;
    for (int d1 = 0; d1 < kMaxDose; ++d1) {
      for (int d2 = 0; d2 < kMaxDose; ++d2) {
        s->meantox[d1][d2] = 0.9;
        s->prsafe[d1][d2] = 0.6;
        s->ndeesc[d1][d2] = 0;
      }
    }
  }
  void at(int c1, int c2, double prsafe, double meantox) {
    s->cur1 = c1;
    s->cur2 = c2;
    s->prsafe[c1][c2] = prsafe;
    s->meantox[c1][c2] = meantox;
  }
  void expectcur(int c1, int c2) {
    EXPECT_EQ(s->cur1, c1);
    EXPECT_EQ(s->cur2, c2);
  }

  Design design;
  std::unique_ptr<TrialState> s = std::make_unique<TrialState>();
};

TEST_F(Phase1Rule, WorkedExampleMovesDiagonally) {
  at(1, 1, 0.9, 0.2);
  s->meantox[2][1] = 0.35;
  s->meantox[1][2] = 0.28;
  s->meantox[0][2] = 0.31;
  s->meantox[2][0] = 0.25;
  EXPECT_FALSE(phase1rule(*s, design).stopped);
  expectcur(0, 2);
}

TEST_F(Phase1Rule, ThresholdsThemselvesStay) {
  at(1, 1, 0.8, 0.2);
  EXPECT_FALSE(phase1rule(*s, design).stopped);
  expectcur(1, 1);
  at(1, 1, 0.45, 0.2);
  EXPECT_FALSE(phase1rule(*s, design).stopped);
  expectcur(1, 1);
  EXPECT_EQ(s->ndeesc[1][1], 0);
  // Just beyond the thresholds the rule moves.
  at(1, 1, 0.8000000000000002, 0.2);
  phase1rule(*s, design);
  expectcur(2, 1);
  at(1, 1, 0.44999999999999996, 0.2);
  phase1rule(*s, design);
  expectcur(0, 1);
  EXPECT_EQ(s->ndeesc[1][1], 1);
}

TEST_F(Phase1Rule, RunningSumsOfSharesDecide) {
  // 1600 shares of 1/2000 end below 0.8 and 900 above 0.45: both stay.
  double safe1600 = 0, safe900 = 0, safe1601 = 0;
  for (int i = 0; i < 1600; ++i) safe1600 += 1.0 / 2000;
  for (int i = 0; i < 900; ++i) safe900 += 1.0 / 2000;
  safe1601 = safe1600 + 1.0 / 2000;
  at(1, 1, safe1600, 0.2);
  phase1rule(*s, design);
  expectcur(1, 1);
  at(1, 1, safe900, 0.2);
  phase1rule(*s, design);
  expectcur(1, 1);
  at(1, 1, safe1601, 0.2);
  phase1rule(*s, design);
  expectcur(2, 1);
}

TEST_F(Phase1Rule, EarlyStopNeedsMoreThanSixPatients) {
  at(0, 0, 0.1, 0.6);
  s->ntotal = 6;
  EXPECT_FALSE(phase1rule(*s, design).stopped);
  expectcur(0, 0);
  EXPECT_EQ(s->ndeesc[0][0], 1);
  s->ntotal = 7;
  EXPECT_TRUE(phase1rule(*s, design).stopped);
  expectcur(0, 0);
  EXPECT_EQ(s->ndeesc[0][0], 2);
}

TEST_F(Phase1Rule, EarlyStopCountsAgainstMinpatientsStopAlone) {
  design.rules.minpatients_stop = 2;
  design.rules.minpatients_close = 20;
  at(0, 0, 0.1, 0.6);
  s->ntotal = 3;
  EXPECT_TRUE(phase1rule(*s, design).stopped);
  design.rules.minpatients_stop = 20;
  design.rules.minpatients_close = 0;
  s->ntotal = 7;
  EXPECT_FALSE(phase1rule(*s, design).stopped);
}

TEST_F(Phase1Rule, TopCornerStaysWhenSafe) {
  at(2, 2, 0.95, 0.05);
  EXPECT_FALSE(phase1rule(*s, design).stopped);
  expectcur(2, 2);
}

TEST_F(Phase1Rule, StraightTiesGoToDrugOne) {
  design.settings.targettox = 0.5;  // distances of exactly 0.25 both ways
  at(1, 1, 0.9, 0.1);
  s->meantox[2][1] = 0.75;
  s->meantox[1][2] = 0.25;
  phase1rule(*s, design);
  expectcur(2, 1);
  at(1, 1, 0.1, 0.6);
  s->meantox[0][1] = 0.75;
  s->meantox[1][0] = 0.25;
  phase1rule(*s, design);
  expectcur(0, 1);
}

TEST_F(Phase1Rule, DiagonalNeedsStrictlyHigherOrLowerMean) {
  // Escalating from (1, 1): (0, 2) at the target but with the current mean.
  at(1, 1, 0.9, 0.3);
  s->meantox[0][2] = 0.3;
  phase1rule(*s, design);
  expectcur(2, 1);
  // De-escalating from (1, 1): (2, 0) at the target with the current mean.
  at(1, 1, 0.1, 0.3);
  s->meantox[2][0] = 0.3;
  phase1rule(*s, design);
  expectcur(0, 1);
  // Strictly lower: taken.
  s->meantox[0][2] = 0.9;
  at(1, 1, 0.1, 0.31);
  s->meantox[2][0] = 0.3;
  phase1rule(*s, design);
  expectcur(2, 0);
}

TEST_F(Phase1Rule, EdgeRowsOfTheDecisionTable) {
  // (0, c2) escalating: (1, c2), (0, c2 + 1), (1, c2 - 1)*.
  at(0, 1, 0.9, 0.1);
  s->meantox[1][0] = 0.3;
  phase1rule(*s, design);
  expectcur(1, 0);
  grid(3, 3);
  // (c1, 0) de-escalating: (c1 - 1, 0), (c1 - 1, 1)**.
  at(2, 0, 0.1, 0.8);
  s->meantox[1][1] = 0.3;
  phase1rule(*s, design);
  expectcur(1, 1);
  grid(3, 3);
  // (J - 1, c2) escalating: (J - 1, c2 + 1), (J - 2, c2 + 1)*.
  at(2, 1, 0.9, 0.1);
  s->meantox[1][2] = 0.3;
  phase1rule(*s, design);
  expectcur(1, 2);
  grid(3, 3);
  // (J - 1, K - 1) de-escalating: (J - 2, K - 1), (J - 1, K - 2).
  at(2, 2, 0.1, 0.8);
  s->meantox[2][1] = 0.3;
  phase1rule(*s, design);
  expectcur(2, 1);
  grid(3, 3);
  // (c1, K - 1) escalating: (c1 + 1, K - 1), (c1 + 1, K - 2)*.
  at(1, 2, 0.9, 0.1);
  phase1rule(*s, design);
  expectcur(2, 2);
}

TEST_F(Phase1Rule, CountLimits) {
  // A later escalation candidate with exactly 200 is not eligible...
  at(1, 1, 0.9, 0.1);
  s->meantox[1][2] = 0.3;
  s->ndeesc[1][2] = 200;
  phase1rule(*s, design);
  expectcur(2, 1);
  // ...while an initial choice with 200 is still taken...
  at(1, 1, 0.9, 0.1);
  s->ndeesc[2][1] = 200;
  phase1rule(*s, design);
  expectcur(2, 1);
  // ...and one with 201 cancels the move even if a later one has a low count.
  s->ndeesc[1][2] = 0;
  s->meantox[1][2] = 0.9;
  at(1, 1, 0.9, 0.1);
  s->ndeesc[2][1] = 201;
  phase1rule(*s, design);
  expectcur(1, 1);
  // De-escalation: counts never stop a candidate, only the final check.
  at(1, 1, 0.1, 0.8);
  s->ndeesc[0][1] = 201;
  s->meantox[0][1] = 0.3;
  phase1rule(*s, design);
  expectcur(1, 1);
}

TEST_F(Phase1Rule, OneColumnAndOneRowGridsStayInside) {
  grid(1, 3);
  at(0, 2, 0.95, 0.05);
  EXPECT_FALSE(phase1rule(*s, design).stopped);
  expectcur(0, 2);
  at(0, 1, 0.95, 0.05);
  phase1rule(*s, design);
  expectcur(0, 2);
  at(0, 1, 0.1, 0.8);
  phase1rule(*s, design);
  expectcur(0, 0);
  grid(3, 1);
  at(2, 0, 0.95, 0.05);
  phase1rule(*s, design);
  expectcur(2, 0);
  at(1, 0, 0.1, 0.8);
  phase1rule(*s, design);
  expectcur(0, 0);
  grid(1, 1);
  at(0, 0, 0.95, 0.05);
  EXPECT_FALSE(phase1rule(*s, design).stopped);
  expectcur(0, 0);
  s->ntotal = 9;
  at(0, 0, 0.1, 0.8);
  EXPECT_TRUE(phase1rule(*s, design).stopped);
}

}  // namespace
