// The quadrature posterior: its probabilities against adaptive integration,
// decisions that no seed changes, ties between the drugs' first steps, and
// randomisation from fewer draws.
#include "design/quadrature.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "design/phase1rule.h"
#include "design/posterior.h"
#include "design/randomise.h"
#include "engine/conduct.h"
#include "numerics/betavariate.h"
#include "numerics/streams.h"

namespace {

struct Cell {
  int d1, d2, n, tox, resp;
};

// A data set with the design it belongs to; quadrature unless told.
struct DataSet {
  Design design;
  std::unique_ptr<TrialState> s = std::make_unique<TrialState>();

  DataSet(int j, int k, double target, double mineff,
          const std::vector<double>& prior1, const std::vector<double>& prior2,
          const std::vector<Cell>& cells,
          const std::vector<std::pair<int, int>>& adm) {
    design.method = PosteriorMethod::kQuadrature;
    design.settings.ndose1 = j;
    design.settings.ndose2 = k;
    design.settings.targettox = target;
    design.settings.mineff = mineff;
    design.settings.ncohort1 = 100;
    design.settings.cohortsize1 = 1;
    for (int d = 0; d < j; ++d) s->priortox1[d] = design.prior1[d] = prior1[d];
    for (int d = 0; d < k; ++d) s->priortox2[d] = design.prior2[d] = prior2[d];
    for (const Cell& c : cells) {
      s->npat[c.d1][c.d2] = c.n;
      s->ntox[c.d1][c.d2] = c.tox;
      s->nresp[c.d1][c.d2] = c.resp;
    }
    s->nadm = static_cast<int>(adm.size());
    for (int e = 0; e < s->nadm; ++e) {
      s->adm1[e] = adm[e].first;
      s->adm2[e] = adm[e].second;
      s->admopen[e] = 1;
    }
  }
};

// 100 patients on a 2 by 9 grid, and 3 patients on a 2 by 2 grid, from
// bench/quadrature_reference.R (seed 7), whose values come from adaptive
// integration in the parameters' own scale.
DataSet hundredpatients() {
  return DataSet(
      2, 9, 0.25, 0.1, {0.11295451920479536, 0.38257252607494591},
      {0.082822404303587976, 0.31294969719834625, 0.40139777006581423,
       0.47161888652946798, 0.47187748396303503, 0.48952146611176428,
       0.52247649289201947, 0.52787235243711617, 0.53984735710546372},
      {{0, 0, 3, 1, 0},
       {0, 1, 9, 5, 8},
       {0, 2, 7, 1, 5},
       {0, 3, 3, 1, 2},
       {0, 4, 1, 0, 1},
       {0, 5, 3, 0, 0},
       {0, 6, 8, 1, 2},
       {0, 8, 3, 0, 2},
       {1, 0, 11, 5, 9},
       {1, 1, 5, 1, 2},
       {1, 3, 4, 1, 1},
       {1, 4, 6, 3, 2},
       {1, 5, 9, 6, 8},
       {1, 6, 17, 11, 9},
       {1, 7, 9, 2, 4},
       {1, 8, 2, 2, 2}},
      {{0, 3}, {0, 4}, {0, 5}, {1, 2}, {1, 6}, {1, 7}});
}
DataSet threepatients() {
  return DataSet(2, 2, 0.33, 0.1, {0.12567914278246461, 0.43922600043471899},
                 {0.33322111987974495, 0.35173873182386162},
                 {{1, 0, 1, 1, 0}, {1, 1, 2, 1, 0}}, {{0, 0}, {1, 1}});
}

struct ToxReference {
  int d1, d2;
  double meantox, prsafe;
};
struct EffReference {
  int entry;
  double meaneff, preff;
};

void expectaccurate(DataSet& data, const std::vector<ToxReference>& tox,
                    const std::vector<EffReference>& eff) {
  const auto posterior = makeposterior(data.design);
  StreamState streams;
  TrialState& s = *data.s;
  ASSERT_TRUE(posterior->toxicity(s, streams, true).ok());
  for (const ToxReference& r : tox) {
    EXPECT_NEAR(s.meantox[r.d1][r.d2], r.meantox, 5e-4) << r.d1 << r.d2;
    EXPECT_NEAR(s.prsafe[r.d1][r.d2], r.prsafe, 2e-3) << r.d1 << r.d2;
  }
  ASSERT_TRUE(posterior->phase2(s, streams, false).ok());
  for (int e = 0; e < s.nadm; ++e) {
    for (const ToxReference& r : tox) {
      if (r.d1 == s.adm1[e] && r.d2 == s.adm2[e]) {
        EXPECT_NEAR(s.admprsafe[e], r.prsafe, 2e-3) << e;
      }
    }
  }
  for (const EffReference& r : eff) {
    EXPECT_NEAR(s.meaneff[r.entry], r.meaneff, 5e-4) << r.entry;
    EXPECT_NEAR(s.admpreff[r.entry], r.preff, 2e-3) << r.entry;
  }
}

TEST(Quadrature, AgreesWithAdaptiveIntegration) {
  DataSet many = hundredpatients();
  expectaccurate(many,
                 {{0, 3, 0.282548509722, 0.300901781324},
                  {0, 4, 0.282677981546, 0.300126928988},
                  {0, 5, 0.291813841502, 0.248375218500}},
                 {{0, 0.523095185552, 0.998337167126},
                  {1, 0.538045967611, 0.995182802643},
                  {2, 0.367003566043, 0.909791997684}});
  DataSet few = threepatients();
  expectaccurate(few,
                 {{0, 0, 0.578878517784, 0.147646682793},
                  {1, 1, 0.709083175913, 0.026207199655},
                  {1, 0, 0.703213959545, 0.029184427502}},
                 {{0, 0.183430203214, 0.408928364572},
                  {1, 0.112971182919, 0.329707921010}});
}

// Every probability a rule reads is the same to the last bit under any
// streams; only the randomisation's draws differ.
// Without the whole grid a phase I update fills the current combination and
// the neighbours the phase I rule reads with the whole grid's bits, and
// nothing else.
TEST(Quadrature, PhaseOneUpdateOfTheNeighbourhoodHasTheWholeGridsValues) {
  DataSet data = hundredpatients();
  const auto posterior = makeposterior(data.design);
  StreamState streams;
  TrialState& whole = *data.s;
  ASSERT_TRUE(posterior->toxicity(whole, streams, true).ok());
  auto part = std::make_unique<TrialState>(whole);
  part->cur1 = 0;
  part->cur2 = 4;
  for (int d1 = 0; d1 < 2; ++d1) {
    for (int d2 = 0; d2 < 9; ++d2) part->meantox[d1][d2] = -1;
  }
  ASSERT_TRUE(posterior->toxicity(*part, streams, false).ok());
  for (int d1 = 0; d1 < 2; ++d1) {
    for (int d2 = 0; d2 < 9; ++d2) {
      // (0, 3), (0, 4), (0, 5), (1, 4) and the diagonal (1, 3).
      const bool read = (d1 == 0 && d2 >= 3 && d2 <= 5) ||
                        (d1 == 1 && (d2 == 3 || d2 == 4));
      if (read) {
        EXPECT_EQ(part->meantox[d1][d2], whole.meantox[d1][d2]) << d1 << d2;
        EXPECT_EQ(part->prsafe[d1][d2], whole.prsafe[d1][d2]) << d1 << d2;
      } else {
        EXPECT_EQ(part->meantox[d1][d2], -1) << d1 << d2;
      }
    }
  }
}

TEST(Quadrature, DecisionsDoNotDependOnTheStreams) {
  DataSet one = hundredpatients();
  DataSet two = hundredpatients();
  const auto posterior = makeposterior(one.design);
  StreamState fixed;
  StreamState seeded = seededstreamstate(99, 4);
  ASSERT_TRUE(posterior->phase2(*one.s, fixed, true).ok());
  ASSERT_TRUE(posterior->phase2(*two.s, seeded, true).ok());
  const TrialState& a = *one.s;
  const TrialState& b = *two.s;
  EXPECT_EQ(std::memcmp(a.meantox, b.meantox, sizeof a.meantox), 0);
  EXPECT_EQ(std::memcmp(a.prsafe, b.prsafe, sizeof a.prsafe), 0);
  EXPECT_EQ(std::memcmp(a.admprsafe, b.admprsafe, sizeof a.admprsafe), 0);
  EXPECT_EQ(std::memcmp(a.admpreff, b.admpreff, sizeof a.admpreff), 0);
  EXPECT_EQ(std::memcmp(a.meaneff, b.meaneff, sizeof a.meaneff), 0);
  EXPECT_NE(a.effdraws[0][0], b.effdraws[0][0]);
  EXPECT_EQ(a.ndraws, kMaxQuadDraws);
  // The draws follow the posterior: their mean is near meaneff.
  double mean = 0;
  for (int t = 0; t < a.ndraws; ++t) mean += a.effdraws[2][t] / a.ndraws;
  EXPECT_NEAR(mean, a.meaneff[2], 0.02);
}

// Symmetric priors: after a first cohort without toxicity at the lowest
// combination, escalating in either drug is equally close to the target, and
// the rule's order sends the next cohort to drug 1's next level under every
// seed (examples/trial_design.json and the first cohort of
// examples/trial_phase2.csv).
TEST(Quadrature, FirstEscalationOfTheExampleTrialIsTheSameUnderEverySeed) {
  Design design;
  design.method = PosteriorMethod::kQuadrature;
  design.settings.ndose1 = 3;
  design.settings.ndose2 = 3;
  design.settings.targettox = 0.3;
  design.settings.mineff = 0.2;
  design.settings.ncohort1 = 10;
  design.settings.cohortsize1 = 3;
  design.settings.ncohort2 = 5;
  design.settings.cohortsize2 = 3;
  const double prior[3] = {0.05, 0.1, 0.2};
  for (int d = 0; d < 3; ++d) design.prior1[d] = design.prior2[d] = prior[d];
  ASSERT_EQ(checkdesign(design), "");
  const std::vector<Cohort> first = {Cohort{{0, 0}, 3, 0, 0}};
  for (std::uint64_t seed : {1u, 2u, 3u, 17u, 2024u}) {
    ConductOptions options;
    options.streams = freshstreams(Streams{true, seed, 1});
    const ConductResult result = runconduct(design, first, options);
    ASSERT_EQ(result.problem, "");
    EXPECT_EQ(result.next.stage, Stage::kPhase1);
    EXPECT_EQ(result.next.next, (Combination{1, 0})) << "seed " << seed;
  }
}

// A cohort far beyond the size the nodes are laid out for: the conduct says
// its probabilities may be off, and a cohort of the usual size does not.
TEST(Quadrature, ConductWarnsWhenTheNodesAreTooCoarse) {
  Design design;
  design.method = PosteriorMethod::kQuadrature;
  design.settings = {3, 3, 0.3, 0.2, 10, 3, 5, 3, 0, "./"};
  const double prior[3] = {0.05, 0.1, 0.2};
  for (int d = 0; d < 3; ++d) design.prior1[d] = design.prior2[d] = prior[d];
  ConductOptions options;
  options.streams = freshstreams(Streams{});
  ConductResult r = runconduct(design, {Cohort{{0, 0}, 3, 0, 0}}, options);
  ASSERT_EQ(r.problem, "");
  EXPECT_TRUE(r.warnings.empty());
  r = runconduct(design,
                 {Cohort{{0, 0}, 1000, 100, 0}, Cohort{{1, 0}, 1000, 200, 0},
                  Cohort{{1, 1}, 1000, 300, 0}},
                 options);
  ASSERT_EQ(r.problem, "");
  ASSERT_FALSE(r.warnings.empty());
  EXPECT_NE(r.warnings.back().find("cohort 3: the posterior is narrower than the "
                                   "quadrature nodes resolve"),
            std::string::npos)
      << r.warnings.back();
}

// Under quadrature a candidate must be closer by more than 1e-9 to replace
// the one before it; sampled means are compared as they are.
TEST(Quadrature, NearlyEqualDistancesTieOnlyUnderQuadrature) {
  auto s = std::make_unique<TrialState>();
  Design design;
  design.settings.ndose1 = 3;
  design.settings.ndose2 = 3;
  design.settings.targettox = 0.3;
  for (int d1 = 0; d1 < 3; ++d1) {
    for (int d2 = 0; d2 < 3; ++d2) s->meantox[d1][d2] = 0.9;
  }
  s->prsafe[0][0] = 0.95;
  s->meantox[0][0] = 0.1;
  s->meantox[1][0] = 0.2;
  s->meantox[0][1] = 0.2 + 1e-12;  // closer to 0.3 by 1e-12
  for (PosteriorMethod method :
       {PosteriorMethod::kGibbs, PosteriorMethod::kQuadrature}) {
    design.method = method;
    s->cur1 = 0;
    s->cur2 = 0;
    phase1rule(*s, design);
    const bool quadrature = method == PosteriorMethod::kQuadrature;
    EXPECT_EQ(s->cur1, quadrature ? 1 : 0);
    EXPECT_EQ(s->cur2, quadrature ? 0 : 1);
  }
}

// The randomisation reads only the draws the update made.
TEST(Quadrature, RandomisationReadsOnlyTheDrawsMade) {
  auto s = std::make_unique<TrialState>();
  s->nadm = 2;
  s->admopen[0] = s->admopen[1] = 1;
  for (int t = 0; t < kNumDraws; ++t) {
    const bool made = t < kMinQuadDraws;
    s->effdraws[0][t] = made ? 0.6 : 0.1;  // entry 0 ahead in the draws made,
    s->effdraws[1][t] = made ? 0.2 : 0.9;  // entry 1 in the stale ones
  }
  s->ndraws = kMinQuadDraws;
  double r[2];
  randomisationprobs(*s, r);
  EXPECT_EQ(r[0], 1);
  EXPECT_EQ(r[1], 0);
}

}  // namespace

// The rejection sampler's draws have the Beta distribution's mean and
// variance, for either shape the smaller.
TEST(Quadrature, BetaVariatesHaveTheirDistributionsMoments) {
  StreamState streams;
  for (const auto& [p, q] :
       {std::pair{2.5, 7.0}, std::pair{30.0, 4.0}, std::pair{1.01, 1.5}}) {
    const int n = 40000;
    double sum = 0, squares = 0;
    for (int i = 0; i < n; ++i) {
      const double x = betavariate(p, q, streams);
      ASSERT_GT(x, 0);
      ASSERT_LT(x, 1);
      sum += x;
      squares += x * x;
    }
    const double mean = p / (p + q);
    const double var = (p * q) / ((p + q) * (p + q) * (p + q + 1));
    EXPECT_NEAR(sum / n, mean, 4 * std::sqrt(var / n)) << p << " " << q;
    EXPECT_NEAR(squares / n - (sum / n) * (sum / n), var, 0.05 * var)
        << p << " " << q;
  }
}

// Each update says how many nodes it rested on; ten times the patients make
// the toxicity posterior too narrow for the rule.
TEST(Quadrature, UpdatesSayWhenThePosteriorIsTooNarrowForTheNodes) {
  DataSet data = hundredpatients();
  const auto posterior = makeposterior(data.design);
  StreamState streams;
  TrialState& s = *data.s;
  ASSERT_TRUE(posterior->toxicity(s, streams, true).ok());
  EXPECT_GT(s.effectivenodes, kMinEffNodes);
  EXPECT_FALSE(coarseupdate(s));
  for (int d1 = 0; d1 < 2; ++d1) {
    for (int d2 = 0; d2 < 9; ++d2) {
      s.npat[d1][d2] *= 10;
      s.ntox[d1][d2] *= 10;
      s.nresp[d1][d2] *= 10;
    }
  }
  ASSERT_TRUE(posterior->phase2(s, streams, false).ok());
  EXPECT_TRUE(coarseupdate(s));
}

// A design's quadrature settings outside their bounds are refused by name.
TEST(Quadrature, DesignsWithSettingsOutOfBoundsAreRefused) {
  DataSet data = threepatients();
  Design& design = data.design;
  design.settings.mineff = 0.2;
  design.settings.ncohort1 = 4;
  design.settings.cohortsize1 = 3;
  design.settings.ncohort2 = 2;
  design.settings.cohortsize2 = 3;
  ASSERT_EQ(checkdesign(design), "");
  design.quadrature.ndraws = 99;
  EXPECT_EQ(checkdesign(design), "posterior.ndraws: must be from 100 to 2000");
  design.quadrature.ndraws = 2000;
  design.quadrature.toxnodes[2] = 97;
  EXPECT_EQ(checkdesign(design), "posterior.toxnodes[2]: must be from 2 to 96");
  design.quadrature.toxnodes[2] = 16;
  design.quadrature.toxnodes[0] = 64;
  design.quadrature.toxnodes[1] = 64;
  EXPECT_EQ(checkdesign(design),
            "posterior.toxnodes: at most 32768 nodes in all");
  design.method = PosteriorMethod::kGibbs;  // not read under Gibbs
  EXPECT_EQ(checkdesign(design), "");
}
