// Paired streams: patients who are the same whatever the design, trials that
// are the same whatever the run, designs that stay in step, and the paired
// differences of their figures.
#include "engine/compare.h"
#include "engine/simulate.h"
#include "engine/trial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "design/posterior.h"

namespace {

// A 3x3 scenario where every phase I course reaches phase II most of the time.
Scenario pairedscenario() {
  Scenario sc;
  SimulationSettings& s = sc.settings;
  s.ndose1 = 3;
  s.ndose2 = 3;
  s.targettox = 0.3;
  s.mineff = 0.2;
  s.ncohort1 = 4;
  s.cohortsize1 = 3;
  s.ncohort2 = 2;
  s.cohortsize2 = 3;
  s.ntrial = 6;
  const double tox[3][3] = {{0.05, 0.1, 0.2}, {0.1, 0.2, 0.35}, {0.2, 0.35, 0.5}};
  const double eff[3][3] = {{0.1, 0.2, 0.3}, {0.2, 0.35, 0.45}, {0.3, 0.45, 0.55}};
  for (int d1 = 0; d1 < 3; ++d1) {
    for (int d2 = 0; d2 < 3; ++d2) {
      sc.input.scentox[d1][d2] = tox[d1][d2];
      sc.input.sceneff[d1][d2] = eff[d1][d2];
    }
    sc.input.scenprior1[d1] = 0.1 * (d1 + 1);
    sc.input.scenprior2[d1] = 0.1 * (d1 + 1);
  }
  return sc;
}

// Every trial's outcome, and the counts of every update's trial record.
struct Course {
  std::vector<TrialOutcome> outcomes;
  std::vector<std::vector<std::vector<int>>> updates;  // per trial
};

class CourseObserver : public Observer {
 public:
  explicit CourseObserver(Course& course) : course_(course) {}
  bool starttrial(std::int64_t) override {
    course_.updates.emplace_back();
    return true;
  }
  void endtrial(std::int64_t, const TrialOutcome& outcome) override {
    course_.outcomes.push_back(outcome);
  }
  void beforeupdate(const TrialState& s, const StreamState&) override {
    std::vector<int> counts{s.phase1, s.nadm};
    for (int d1 = 0; d1 < 3; ++d1) {
      for (int d2 = 0; d2 < 3; ++d2) {
        counts.insert(counts.end(), {s.npat[d1][d2], s.ntox[d1][d2], s.nresp[d1][d2]});
      }
    }
    course_.updates.back().push_back(counts);
  }

 private:
  Course& course_;
};

Course runcourse(const Design& design, const Scenario& sc,
                 std::int64_t firsttrial) {
  Course course;
  CourseObserver observer(course);
  Streams streams;
  streams.seeded = true;
  streams.seed = 17;
  streams.paired = true;
  streams.firsttrial = firsttrial;
  const SimulationResult result = simulate(design, sc.input, streams, &observer);
  EXPECT_TRUE(result.ok()) << result.message;
  return course;
}

bool sameoutcome(const TrialOutcome& a, const TrialOutcome& b) {
  return a.reason == b.reason && a.sel1 == b.sel1 && a.sel2 == b.sel2 &&
         a.patients == b.patients && a.toxicities == b.toxicities &&
         a.responses == b.responses && a.untried == b.untried;
}

TEST(Paired, EachPatientDrawsTheSameNumbersWhateverTheCohortSize) {
  const Scenario sc = pairedscenario();
  Design design = designof(sc, DesignRules{});
  auto s = std::make_unique<TrialState>();
  auto acc = std::make_unique<Accumulators>();
  preparetrials(design, sc.input, *s, *acc);
  s->truetox[0][0] = 0.5;
  s->trueeff[0][0] = 0.5;
  // Patient by patient: the number for toxicity, then for response.
  StreamState reference = pairedstreamstate(17, 4, PairedKind::kPatients, 0);
  int tox = 0, resp = 0;
  for (int i = 0; i < 6; ++i) {
    tox += uniform01(reference) < 0.5;
    resp += uniform01(reference) < 0.5;
  }
  for (int size : {1, 2, 6}) {
    starttrial(*s, design);
    design.settings.cohortsize1 = size;
    StreamState patients = pairedstreamstate(17, 4, PairedKind::kPatients, 0);
    for (int n = 0; n < 6; n += size) genpatients(*s, design, patients);
    EXPECT_EQ(s->npat[0][0], 6) << size;
    EXPECT_EQ(s->ntox[0][0], tox) << size;
    EXPECT_EQ(s->nresp[0][0], resp) << size;
  }
}

TEST(Paired, TrialsAreTheSameInEveryRunAndDesignsStayInStep) {
  for (PosteriorMethod method : {PosteriorMethod::kGibbs, PosteriorMethod::kQuadrature}) {
    Scenario sc = pairedscenario();
    Design design = designof(sc, DesignRules{});
    design.method = method;
    // Trials 3 to 5 of a run of 6 are the trials of a run of 3 from trial 3.
    const Course whole = runcourse(design, sc, 1);
    design.settings.ntrial = 3;
    const Course part = runcourse(design, sc, 3);
    ASSERT_EQ(whole.outcomes.size(), 6u);
    for (std::size_t t = 0; t < 3; ++t) {
      EXPECT_TRUE(sameoutcome(part.outcomes[t], whole.outcomes[t + 2])) << t;
      EXPECT_EQ(part.updates[t], whole.updates[t + 2]) << t;
    }

    // A design with more phase II cohorts takes the same course as long as
    // the shorter one runs: the same patients, the same updates, the same
    // picks. Every course of the shorter design is the start of the
    // longer's.
    design.settings.ntrial = 6;
    Design longer = design;
    longer.settings.ncohort2 = 5;
    const Course more = runcourse(longer, sc, 1);
    int reachedphase2 = 0;
    for (std::size_t t = 0; t < 6; ++t) {
      const auto& a = whole.updates[t];
      const auto& b = more.updates[t];
      ASSERT_LE(a.size(), b.size()) << t;
      for (std::size_t u = 0; u < a.size(); ++u) EXPECT_EQ(a[u], b[u]) << t << " " << u;
      EXPECT_EQ(whole.outcomes[t].reason == TrialEnd::kPhase1Stopped,
                more.outcomes[t].reason == TrialEnd::kPhase1Stopped);
      reachedphase2 += b.size() > a.size();
    }
    EXPECT_GT(reachedphase2, 0);  // the comparison went past the shorter design
  }
}

// Adds `n` trials of two designs' made-up counts, and the figures of their
// trial-by-trial differences computed directly.
TEST(PairedDifferences, MatchTheTrialByTrialDifferencesAndVanishForOneDesign) {
  TruthClasses classes;
  classes.anyacceptable = true;
  classes.acceptable[1][1] = classes.target[1][1] = true;
  classes.acceptable[0][1] = true;
  classes.overtoxic[2][2] = true;
  std::vector<TrialOutcome> a, b;
  const TrialEnd ends[] = {TrialEnd::kSelected, TrialEnd::kPhase1Stopped,
                           TrialEnd::kAllClosed, TrialEnd::kSelected};
  for (int t = 0; t < 40; ++t) {
    TrialOutcome x;
    x.reason = ends[t % 4];
    if (x.reason == TrialEnd::kSelected) {
      x.sel1 = x.sel2 = (t / 4) % 3;
    }
    x.patients = 12 + t % 7;
    x.toxicities = t % 5;
    x.responses = t % 6;
    x.overtoxic = (t * 7) % 9;
    x.phase2patients = t % 3 == 0 ? 0 : 6;
    x.untried = x.phase2patients > 0 ? (t % 2) * 3 : 0;
    a.push_back(x);
    TrialOutcome y = x;  // the reference differs in some trials only
    if (t % 3 == 1) {
      y.reason = TrialEnd::kSelected;
      y.sel1 = 1;
      y.sel2 = 1;
      y.patients += 3;
      y.overtoxic = t % 4;
      y.untried = 0;
    }
    b.push_back(y);
  }
  PairedSums self, pair, half1, half2;
  for (int t = 0; t < 40; ++t) {
    TrialCounts ca, cb;
    trialcounts(classes, a[t], ca);
    trialcounts(classes, b[t], cb);
    addpair(self, ca, ca);
    addpair(pair, ca, cb);
    addpair(t < 15 ? half1 : half2, ca, cb);
  }
  // A design against itself: exactly 0, with a paired SE of exactly 0.
  for (const FigureDifference& d : differences(self)) {
    EXPECT_EQ(d.difference, 0) << d.figure;
    EXPECT_EQ(d.mcse, 0) << d.figure;
    if (d.figure == "correct") {
      EXPECT_GT(d.unpairedmcse, 0);
    }
  }
  // Parts add up to the whole exactly.
  ASSERT_TRUE(addpairedsums(half1, half2));
  EXPECT_EQ(std::memcmp(&half1, &pair, sizeof pair), 0);

  // correct and overtoxic_patients against the trials' own differences.
  const std::vector<FigureDifference> diffs = differences(pair);
  const auto find = [&diffs](const char* name) {
    for (const FigureDifference& d : diffs) {
      if (d.figure == name) return d;
    }
    ADD_FAILURE() << name;
    return FigureDifference{};
  };
  const double n = 40;
  double sumd = 0, sumd2 = 0;
  double xa = 0, ya = 0, xb = 0, yb = 0;
  for (int t = 0; t < 40; ++t) {
    TrialCounts ca, cb;
    trialcounts(classes, a[t], ca);
    trialcounts(classes, b[t], cb);
    const double d = 100.0 * (ca[kCountCorrect] - cb[kCountCorrect]);
    sumd += d;
    sumd2 += d * d;
    xa += a[t].overtoxic;
    ya += a[t].patients;
    xb += b[t].overtoxic;
    yb += b[t].patients;
  }
  const FigureDifference correct = find("correct");
  EXPECT_NEAR(correct.difference, sumd / n, 1e-9);
  EXPECT_NEAR(correct.mcse,
              std::sqrt((sumd2 - sumd * sumd / n) / (n - 1)) / std::sqrt(n), 1e-9);
  double z2 = 0;
  for (int t = 0; t < 40; ++t) {
    const double z = (a[t].overtoxic - xa / ya * a[t].patients) / (ya / n) -
                     (b[t].overtoxic - xb / yb * b[t].patients) / (yb / n);
    z2 += z * z;
  }
  const FigureDifference overtoxic = find("overtoxic_patients");
  EXPECT_NEAR(overtoxic.difference, 100 * (xa / ya - xb / yb), 1e-9);
  EXPECT_NEAR(overtoxic.mcse, 100 * std::sqrt(z2 / (n * (n - 1))), 1e-9);
  EXPECT_NEAR(overtoxic.unpairedmcse,
              std::hypot(overtoxic.design.mcse, overtoxic.reference.mcse), 1e-12);
}

}  // namespace
