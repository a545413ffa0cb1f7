// tests/options_test.cc: where phase II may randomise, the starting
// combination, and the phase II patients treated at combinations phase I did
// not try, followed through simulated trials cohort by cohort.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "design/posterior.h"
#include "engine/oc.h"
#include "engine/observer.h"
#include "engine/simulate.h"
#include "engine/trial.h"

namespace {

// A 3 by 3 grid, safe everywhere, two short phase I cohorts: phase II starts
// with most combinations untried.
Scenario widescenario(int ntrial) {
  Scenario sc;
  SimulationSettings& s = sc.settings;
  s.ndose1 = 3;
  s.ndose2 = 3;
  s.targettox = 0.3;
  s.mineff = 0.2;
  s.ncohort1 = 2;
  s.cohortsize1 = 3;
  s.ncohort2 = 4;
  s.cohortsize2 = 2;
  s.ntrial = ntrial;
  for (int d = 0; d < 3; ++d) {
    sc.input.scenprior1[d] = 0.05 + 0.05 * d;
    sc.input.scenprior2[d] = 0.05 + 0.05 * d;
    for (int e = 0; e < 3; ++e) {
      sc.input.scentox[d][e] = 0.05;
      sc.input.sceneff[d][e] = 0.3 + 0.1 * e;
    }
  }
  return sc;
}

// Follows each trial cohort by cohort from the records its updates start
// from: where each phase II cohort went, what was treated before it, and the
// trial's phase II patients at combinations without a phase I patient.
class CohortLog : public Observer {
 public:
  explicit CohortLog(Phase2Scope scope) : scope_(scope) {}

  bool starttrial(std::int64_t) override {
    lastntotal_ = 0;
    for (auto& row : phase1_) {
      for (int& n : row) n = 0;
    }
    u_ = 0;
    v_ = 0;
    return true;
  }

  void beforeupdate(const TrialState& s, const StreamState&) override {
    if (s.ntotal == lastntotal_) return;  // the switch's refit, same cohort
    const int n = s.ntotal - lastntotal_;
    lastntotal_ = s.ntotal;
    const int c1 = s.cur1;
    const int c2 = s.cur2;
    if (s.phase1) {
      phase1_[c1][c2] += n;
      return;
    }
    v_ += n;
    if (phase1_[c1][c2] == 0) u_ += n;
    // Treated before this cohort joined the counts.
    const auto before = [&](int d1, int d2) {
      if (d1 < 0 || d2 < 0 || d1 >= kMaxDose || d2 >= kMaxDose) return false;
      return s.npat[d1][d2] - (d1 == c1 && d2 == c2 ? n : 0) > 0;
    };
    if (scope_ == Phase2Scope::kTreated) {
      EXPECT_TRUE(before(c1, c2));
    }
    if (scope_ == Phase2Scope::kAdjacent) {
      EXPECT_TRUE(before(c1, c2) || before(c1 - 1, c2) || before(c1 + 1, c2) ||
                  before(c1, c2 - 1) || before(c1, c2 + 1))
          << "(" << c1 + 1 << ", " << c2 + 1 << ")";
    }
  }

  void endtrial(std::int64_t, const TrialOutcome& outcome) override {
    EXPECT_EQ(outcome.untried, u_);
    EXPECT_EQ(outcome.phase2patients, v_);
    untried.push_back(u_);
    phase2.push_back(v_);
  }

  std::vector<double> untried;  // per trial
  std::vector<double> phase2;

 private:
  Phase2Scope scope_;
  int lastntotal_ = 0;
  int phase1_[kMaxDose][kMaxDose] = {};
  int u_ = 0;
  int v_ = 0;
};

TEST(Phase2Scope, CohortsGoOnlyWhereTheScopeAllowsAndUntriedPatientsAreCounted) {
  const Scenario sc = widescenario(6);
  for (Phase2Scope scope : {Phase2Scope::kAdmissible, Phase2Scope::kTreated,
                            Phase2Scope::kAdjacent}) {
    SCOPED_TRACE(phase2scopename(scope));
    DesignRules rules;
    rules.phase2 = scope;
    CohortLog log(scope);
    const SimulationResult r =
        simulate(designof(sc, rules), sc.input, Streams{}, &log);
    ASSERT_TRUE(r.ok()) << r.message;
    const OperatingCharacteristics oc = operatingcharacteristics(
        sc.settings, sc.input, r.acc, r.outcomes);

    // The figure from the per-trial counts: the ratio of the totals, its SE
    // from the spread of u - R v.
    double sumu = 0, sumv = 0, squares = 0;
    const double n = log.untried.size();
    for (std::size_t t = 0; t < log.untried.size(); ++t) {
      sumu += log.untried[t];
      sumv += log.phase2[t];
    }
    ASSERT_GT(sumv, 0);
    const double ratio = sumu / sumv;
    for (std::size_t t = 0; t < log.untried.size(); ++t) {
      const double e = log.untried[t] - ratio * log.phase2[t];
      squares += e * e;
    }
    EXPECT_NEAR(oc.untried_patients.value, 100 * ratio, 1e-9);
    EXPECT_NEAR(oc.untried_patients.mcse,
                100 * std::sqrt(squares / (n * (n - 1))) / (sumv / n), 1e-9);
    if (scope == Phase2Scope::kAdmissible) {
      EXPECT_GT(sumu, 0);  // the other scopes' checks have something to stop
    }
    if (scope == Phase2Scope::kTreated) {
      EXPECT_EQ(oc.untried_patients.value, 0);
    }
  }
}

TEST(Phase2Scope, NothingAllowedEndsAsAllClosedAndTheStartIsTheDesigns) {
  Scenario sc = widescenario(1);
  sc.settings.ncohort1 = 1;
  Design design = designof(sc, DesignRules{});
  design.rules.start1 = 2;
  design.rules.start2 = 2;
  const std::unique_ptr<const Posterior> posterior = makeposterior(design);
  auto s = std::make_unique<TrialState>();
  auto acc = std::make_unique<Accumulators>();
  preparetrials(design, sc.input, *s, *acc);
  starttrial(*s, design);
  EXPECT_EQ(s->cur1, 2);
  EXPECT_EQ(s->cur2, 2);
  // The first cohort, at the top corner, two toxicities in three: with a low
  // bar for admission the lowest combinations stay admissible, none of them
  // treated; the top corner is not (prsafe about 0.23 at (1, 1), 0.06 at
  // (3, 3)).
  design.rules.admissible = 0.15;
  s->npat[2][2] = 3;
  s->ntox[2][2] = 2;
  s->ntotal = 3;
  const auto saved = std::make_unique<TrialState>(*s);
  for (Phase2Scope scope : {Phase2Scope::kAdmissible, Phase2Scope::kTreated}) {
    *s = *saved;
    design.rules.phase2 = scope;
    StreamState streams;
    const StepDecision d = designstep(*s, 1, TrialRun{design, *posterior, streams});
    ASSERT_TRUE(d.failure.ok());
    ASSERT_TRUE(d.switched);
    ASSERT_GT(s->nadm, 0);
    EXPECT_LE(s->prsafe[2][2], design.rules.admissible);
    if (scope == Phase2Scope::kAdmissible) {
      EXPECT_TRUE(d.randomised);
    } else {
      EXPECT_TRUE(d.ended);
      EXPECT_EQ(d.end, TrialEnd::kAllClosed);
    }
  }
}

}  // namespace
