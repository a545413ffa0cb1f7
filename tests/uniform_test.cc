// tests/uniform_test.cc: the process-wide uniform stream.
#include "numerics/streams.h"
#include "numerics/uniform.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/stat_helpers.h"

namespace {

constexpr double kMaxUniform = 1.0000000022113151;

// Check values of the seed word -29, worked through by hand:
// s1 = (54773 + 29) mod 259200 = 54802; one step gives 3855 = s2; one more
// gives 108128 = s3. The 97-slot fill then leaves these states and slots.
TEST(uniform, InitialisationCheckValues) {
  UniformState s;
  uniforminit(s);
  EXPECT_EQ(s.rngseed, 1);
  EXPECT_EQ(s.rngready, 1);
  EXPECT_EQ(s.rnglcg1, 7669);
  EXPECT_EQ(s.rnglcg2, 25914);
  EXPECT_EQ(s.rnglcg3, 108128);  // not stepped during the fill
  EXPECT_EQ(s.rngshuffle[0], 0.1544021964128477);
  EXPECT_EQ(s.rngshuffle[1], 0.7960452621778943);
  EXPECT_EQ(s.rngshuffle[96], 0.029587934989870158);
}

TEST(uniform, FirstCallStepsStatesAndHandsOutSlot71) {
  UniformState s;
  uniforminit(s);
  const UniformState filled = s;
  const double v = uniformnext(s);
  EXPECT_EQ(s.rnglcg1, 127902);
  EXPECT_EQ(s.rnglcg2, 52365);
  EXPECT_EQ(s.rnglcg3, 176157);
  // 1 + (97 * 176157) div 243000 = 71: the old value goes out, a new one in.
  EXPECT_EQ(v, filled.rngshuffle[70]);
  EXPECT_EQ(s.rngshuffle[70], uniformslot(127902, 52365));
  for (int k = 0; k < 97; ++k) {
    if (k == 70) continue;
    EXPECT_EQ(s.rngshuffle[k], filled.rngshuffle[k]) << "slot " << k + 1;
  }
}

TEST(uniform, FirstThreeValuesOfTheProgram) {
  uniform01reset();
  EXPECT_EQ(uniform01(), 0.7879286167848271);
  EXPECT_EQ(uniform01(), 0.909089254098817);
  EXPECT_EQ(uniform01(), 0.8148496802069014);
}

TEST(uniform, ResetRestoresProgramStart) {
  uniform01reset();
  std::vector<double> first;
  for (int i = 0; i < 1000; ++i) first.push_back(uniform01());
  uniform01reset();
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(uniform01(), first[i]) << "draw " << i;
}

TEST(uniform, OwnStateFollowsTheProcessStream) {
  uniform01reset();
  UniformState s;
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(uniformnext(s), uniform01()) << "draw " << i;
}

TEST(uniform, NegativeSeedWordReinitialises) {
  UniformState s;
  for (int i = 0; i < 10; ++i) uniformnext(s);
  s.rngseed = -29;
  EXPECT_EQ(uniformnext(s), 0.7879286167848271);
}

// The scale factors are rounded decimals, so the slot values span slightly
// more than [0, 1].
TEST(uniform, SlotValueRange) {
  EXPECT_EQ(uniformslot(0, 0), 0.0);
  EXPECT_EQ(uniformslot(259199, 134455), kMaxUniform);
  EXPECT_LT(uniformslot(259199, 134377), 1.0);
  EXPECT_GE(uniformslot(259199, 134378), 1.0);
  EXPECT_LT(uniformslot(259198, 134455), 1.0);
}

TEST(uniform, StreamIsUniform) {
  uniform01reset();
  const int n = 1000000;
  std::vector<double> sample(n);
  for (double& u : sample) {
    u = uniform01();
    ASSERT_GE(u, 0.0);
    ASSERT_LE(u, kMaxUniform);
  }
  const stattest::Moments m = stattest::moments(sample);
  EXPECT_NEAR(m.mean, 0.5, 6 * std::sqrt(1.0 / 12 / n));
  EXPECT_NEAR(m.var, 1.0 / 12, 6 * std::sqrt(1.0 / 180 / n));
  const double d = stattest::ksdistance(sample, [](double u) { return u; });
  EXPECT_LT(d, stattest::dkwbound(n, 1e-6)) << "n = " << n;
}

}  // namespace
