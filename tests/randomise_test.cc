// Phase II adaptive randomisation: staged elimination and the walk.
#include "design/randomise.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class Randomise : public ::testing::Test {
 protected:
  // nadm entries at (j, 0), all open.
  void entries(int nadm) {
    s->nadm = nadm;
    for (int j = 0; j < nadm; ++j) {
      s->adm1[j] = j;
      s->adm2[j] = 0;
      s->admopen[j] = 1;
    }
  }
  // Fills draws t in [from, from + count) of entries 0, 1, 2, 3.
  void fill(int from, int count, double e0, double e1, double e2, double e3) {
    for (int t = from; t < from + count; ++t) {
      s->effdraws[0][t] = e0;
      s->effdraws[1][t] = e1;
      s->effdraws[2][t] = e2;
      s->effdraws[3][t] = e3;
    }
  }

  std::unique_ptr<TrialState> s = std::make_unique<TrialState>();
};

TEST_F(Randomise, WorkedExample) {
  // Entry 1 closed; candidates 0, 2 and 3. Against the three-way average the
  // scores are 500, 900 and 1400; against the two-way average of 2 and 3 they
  // are 300 and 1700.
  entries(4);
  s->admopen[1] = 0;
  fill(0, 300, 0.9, 0.99, 0.1, 0.2);      // above: 0
  fill(300, 300, 0.1, 0.99, 0.9, 0.2);    // above: 2; 2 over 3
  fill(600, 600, 0.1, 0.99, 0.2, 0.9);    // above: 3
  fill(1200, 200, 0.8, 0.99, 0.1, 0.9);   // above: 0 and 3
  fill(1400, 600, 0.1, 0.99, 0.8, 0.9);   // above: 2 and 3
  double r[kMaxAdm];
  EXPECT_EQ(randomisationprobs(*s, r), 3);
  EXPECT_EQ(r[0], 0.17857142857142858);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[2], 0.17857142857142858);
  EXPECT_EQ(r[3], 0.6428571428571428);
  EXPECT_EQ(walkprobs(r, 4, 0.2, 3), 2);
  EXPECT_EQ(walkprobs(r, 4, 0.1, 3), 0);
  EXPECT_EQ(walkprobs(r, 4, 0.5, 3), 3);
  // A draw equal to a running sum chooses where that sum is reached.
  EXPECT_EQ(walkprobs(r, 4, 0.17857142857142858, 3), 0);
  // Above the last running sum: the last candidate.
  EXPECT_EQ(walkprobs(r, 4, 1.0000000022113151, 3), 3);
}

TEST_F(Randomise, OneOpenEntryTakesEverything) {
  entries(3);
  s->admopen[0] = 0;
  s->admopen[2] = 0;
  double r[kMaxAdm];
  EXPECT_EQ(randomisationprobs(*s, r), 1);
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], 1);
  EXPECT_EQ(r[2], 0);
  // Even a draw of exactly 0 does not go to the closed first entry.
  EXPECT_EQ(walkprobs(r, 3, 0.0, 1), 1);
  s->cur1 = s->cur2 = 7;
  phase2randomise(*s, processstreams());
  EXPECT_EQ(s->cur1, 1);
  EXPECT_EQ(s->cur2, 0);
}

TEST_F(Randomise, TwoEntriesSplitTheIterations) {
  entries(2);
  fill(0, 1500, 0.3, 0.6, 0, 0);
  fill(1500, 500, 0.6, 0.3, 0, 0);
  double r[kMaxAdm];
  randomisationprobs(*s, r);
  EXPECT_EQ(r[0], 500.0 / 2000);
  EXPECT_EQ(r[1], 1 - 500.0 / 2000);
}

TEST_F(Randomise, EqualSmallestSharesFixTheLowerIndexFirst) {
  entries(3);
  fill(0, 500, 0.9, 0.1, 0.1, 0);
  fill(500, 500, 0.1, 0.9, 0.1, 0);
  fill(1000, 1000, 0.1, 0.1, 0.9, 0);
  double r[kMaxAdm];
  randomisationprobs(*s, r);
  // Stage 1: 0.25, 0.25, 0.5; entry 0 is fixed. Stage 2 between 1 and 2
  // (their first 500 draws tie with the average): (0.75 * 500) / 1500.
  EXPECT_EQ(r[0], 0.25);
  EXPECT_EQ(r[1], 0.25);
  EXPECT_EQ(r[2], 0.5);
}

TEST_F(Randomise, FirstStageScoreOfZeroKeepsZero) {
  entries(3);
  // Entry 1 is never above the average; entries 0 and 2 alternate.
  fill(0, 1000, 0.9, 0.0, 0.3, 0);
  fill(1000, 1000, 0.3, 0.0, 0.9, 0);
  double r[kMaxAdm];
  randomisationprobs(*s, r);
  EXPECT_EQ(r[1], 0);  // fixed first at 0
  EXPECT_EQ(walkprobs(r, 3, 0.5, 2), 0);
  EXPECT_EQ(walkprobs(r, 3, 0.5000000000000001, 2), 2);
}

TEST_F(Randomise, LaterScoreOfZeroIsRaisedToThePreviousShare) {
  entries(3);
  fill(0, 400, 0.9, 0.1, 0.2, 0);     // above: 0
  fill(400, 600, 0.1, 0.6, 0.9, 0);   // above: 1 and 2
  fill(1000, 1000, 0.1, 0.2, 0.9, 0); // above: 2
  // Stage 1: scores 400, 600, 1600 of 2600; entry 0 is fixed at 400/2600.
  // Stage 2: entry 1 is never above the average of 1 and 2: share 0,
  // raised to entry 0's share.
  double r[kMaxAdm];
  EXPECT_EQ(randomisationprobs(*s, r), 2);
  const double first = 400.0 / 2600;
  EXPECT_EQ(r[0], first);
  EXPECT_EQ(r[1], first);
  EXPECT_EQ(r[2], 1 - (first + first));
}

TEST_F(Randomise, NoCandidateAboveTheAverageSharesEqually) {
  entries(2);
  fill(0, 2000, 0.4, 0.4, 0, 0);
  double r[kMaxAdm];
  EXPECT_EQ(randomisationprobs(*s, r), 1);
  EXPECT_EQ(r[0], 0.5);
  EXPECT_EQ(r[1], 0.5);
}

TEST_F(Randomise, ClosedEntriesAreNeverChosen) {
  entries(4);
  s->admopen[0] = 0;
  s->admopen[2] = 0;
  fill(0, 2000, 0.9, 0.5, 0.9, 0.6);
  double r[kMaxAdm];
  const int last = randomisationprobs(*s, r);
  for (double u : {0.0, 1e-300, 0.25, 0.5, 0.75, 1.0, 1.0000000022113151}) {
    const int j = walkprobs(r, 4, u, last);
    EXPECT_TRUE(j == 1 || j == 3) << "u = " << u << " chose " << j;
  }
}

}  // namespace
