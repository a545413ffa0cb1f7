// Conduct of a real trial: trials simulated by the engine, fed back cohort by
// cohort with the random streams where the simulation had them, give the
// simulator's decisions; clear-cut decisions; refused cohorts; pathways and
// the Monte Carlo standard errors behind close calls.
#include "engine/conduct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>

#include "engine/conductwords.h"
#include "engine/simulate.h"

namespace {

// --- Replay ----------------------------------------------------------------

// What a simulated trial showed at each posterior update.
struct Update {
  StreamState streams;  // where the update starts
  bool phase1 = true;
  int cohort = -1;      // the cohort just treated (index), or -1: the switch
  std::vector<Combination> admissible;
  std::vector<int> open;  // admopen per entry, as the last update left it
};

struct SimulatedTrial {
  std::vector<Cohort> cohorts;
  std::vector<Update> updates;
  TrialOutcome outcome;
  std::vector<int> finalopen;  // admopen after the last update
};

// Records every trial's cohorts, from the counts' growth at the current
// combination, and the streams before every update.
class Recorder : public Observer {
 public:
  bool starttrial(std::int64_t) override {
    trials.emplace_back();
    seen = std::make_unique<TrialState>();
    return true;
  }
  void beforeupdate(const TrialState& s, const StreamState& streams) override {
    state = &s;
    SimulatedTrial& t = trials.back();
    Update u;
    u.streams = streams;
    u.phase1 = s.phase1;
    if (s.ntotal > seen->ntotal) {
      const int a = s.cur1;
      const int b = s.cur2;
      Cohort k{{a, b}, s.ntotal - seen->ntotal, s.ntox[a][b] - seen->ntox[a][b],
               s.nresp[a][b] - seen->nresp[a][b]};
      seen->ntotal = s.ntotal;
      seen->ntox[a][b] = s.ntox[a][b];
      seen->nresp[a][b] = s.nresp[a][b];
      u.cohort = static_cast<int>(t.cohorts.size());
      t.cohorts.push_back(k);
    }
    if (!s.phase1) {
      for (int k = 0; k < s.nadm; ++k) {
        u.admissible.push_back({s.adm1[k], s.adm2[k]});
        u.open.push_back(s.admopen[k]);
      }
    }
    t.updates.push_back(u);
  }
  void endtrial(std::int64_t, const TrialOutcome& outcome) override {
    trials.back().outcome = outcome;
    if (!state->phase1) {
      for (int k = 0; k < state->nadm; ++k) {
        trials.back().finalopen.push_back(state->admopen[k]);
      }
    }
  }

  std::vector<SimulatedTrial> trials;
  const TrialState* state = nullptr;  // the engine's trial record
  std::unique_ptr<TrialState> seen;   // counts already given to cohorts
};

std::vector<int> openof(const Decision& d) {
  std::vector<int> open(d.admissible.size());
  std::vector<int> byentry;
  for (const PosteriorRow& row : d.table) {
    if (row.entry < 0) continue;
    if (static_cast<int>(byentry.size()) <= row.entry) byentry.resize(row.entry + 1);
    byentry[row.entry] = row.open ? 1 : 0;
  }
  return byentry;
}

// Which kinds of decision the replays met, so the scenarios cover them all.
struct Coverage {
  std::set<std::string> seen;
};

// Feeds the trial's cohorts one by one with the recorded streams and checks
// every decision against what the simulation did next.
void replay(const Design& design, const SimulatedTrial& t, Coverage& met,
            const std::string& name) {
  UpdateStreams streams;
  for (const Update& u : t.updates) streams.given.push_back(u.streams);
  Conduct c = startconduct(design);
  std::vector<int> admopen;  // after the last decision, per entry
  for (std::size_t i = 0; i < t.cohorts.size(); ++i) {
    SCOPED_TRACE(name + ", cohort " + std::to_string(i + 1));
    const CohortStep step = addcohort(c, t.cohorts[i], streams);
    ASSERT_EQ(step.problem, "");
    EXPECT_TRUE(step.warnings.empty()) << step.warnings.front();
    const Decision& d = step.decision;
    // The updates this cohort's steps made: its own, and the switch's.
    std::size_t u = 0;
    while (t.updates[u].cohort != static_cast<int>(i)) ++u;
    std::size_t next = u + 1;
    if (next < t.updates.size() && t.updates[next].cohort < 0) {
      ASSERT_TRUE(d.switched);
      EXPECT_EQ(d.admissible, t.updates[next].admissible);
      met.seen.insert("switch");
      ++next;
    } else {
      EXPECT_FALSE(d.switched);
    }
    EXPECT_EQ(c.nupdate, static_cast<int>(next));
    if (d.phase1 && !d.switched && d.stage != Stage::kEnded) {
      met.seen.insert(d.next == d.current ? "stay"
                      : d.branch == Branch::kEscalate ? "escalate" : "de-escalate");
    }
    for (const Closure& x : d.closures) met.seen.insert(x.futile ? "futile" : "unsafe");
    if (next < t.updates.size()) {
      // The trial went on: to the simulator's next combination, with its
      // closures.
      ASSERT_NE(d.stage, Stage::kEnded);
      EXPECT_EQ(d.next, t.cohorts[i + 1].at);
      EXPECT_EQ(d.stage == Stage::kPhase1, t.updates[next].phase1);
      if (!t.updates[next].phase1) {
        EXPECT_EQ(openof(d), t.updates[next].open);
      }
      if (d.randomised) met.seen.insert("randomise");
    } else {
      ASSERT_EQ(d.stage, Stage::kEnded);
      EXPECT_EQ(d.end, t.outcome.reason);
      if (d.end == TrialEnd::kSelected) {
        EXPECT_EQ(d.selected, (Combination{t.outcome.sel1, t.outcome.sel2}));
      }
      if (d.phase2) {
        EXPECT_EQ(openof(d), t.finalopen);
      }
      met.seen.insert(trialendname(d.end));
    }
  }
  EXPECT_EQ(c.nupdate, static_cast<int>(t.updates.size()));

  // The whole trial at once gives the same decisions.
  ConductOptions options;
  options.streams = streams;
  const ConductResult whole = runconduct(design, t.cohorts, options);
  ASSERT_EQ(whole.problem, "");
  ASSERT_EQ(whole.history.size(), t.cohorts.size());
  EXPECT_TRUE(sameoutcome(whole.next, c.last));
}

struct ReplayCase {
  const char* name;
  Scenario scenario;
  Streams streams;
  DesignRules rules = {};
};

// The options a design may add to the thresholds.
DesignRules withoptions(Phase2Scope scope, int start1, int start2, int stop,
                        int close) {
  DesignRules rules;
  rules.phase2 = scope;
  rules.start1 = start1;
  rules.start2 = start2;
  rules.minpatients_stop = stop;
  rules.minpatients_close = close;
  return rules;
}

// A grid with every cell of the two matrices given by a function of (d1, d2).
Scenario scenario(int j, int k, double target, double mineff, int n1, int n2,
                  int ntrial, double (*tox)(int, int), double (*eff)(int, int)) {
  Scenario s;
  s.settings.ndose1 = j;
  s.settings.ndose2 = k;
  s.settings.targettox = target;
  s.settings.mineff = mineff;
  s.settings.ncohort1 = n1;
  s.settings.cohortsize1 = 3;
  s.settings.ncohort2 = n2;
  s.settings.cohortsize2 = 3;
  s.settings.ntrial = ntrial;
  for (int a = 0; a < j; ++a) {
    for (int b = 0; b < k; ++b) {
      s.input.scentox[a][b] = tox(a, b);
      s.input.sceneff[a][b] = eff(a, b);
    }
  }
  for (int a = 0; a < j; ++a) s.input.scenprior1[a] = 0.05 * (a + 1);
  for (int b = 0; b < k; ++b) s.input.scenprior2[b] = 0.05 * (b + 1);
  return s;
}

TEST(Conduct, ReplayedTrialsMakeTheSimulatorsDecisions) {
  const ReplayCase cases[] = {
      // Toxicity rising along both drugs: escalation, de-escalation, both
      // phases, a selection.
      {"rising 3x3",
       scenario(3, 3, 0.3, 0.2, 6, 4, 4,
                [](int a, int b) { return 0.12 * (a + b + 1); },
                [](int a, int b) { return 0.15 * (a + b + 1); }),
       Streams{}},
      // Little response: futile closures.
      {"futile 2x4",
       scenario(2, 4, 0.3, 0.4, 4, 5, 3, [](int, int) { return 0.05; },
                [](int a, int) { return a == 0 ? 0.02 : 0.6; }),
       Streams{true, 2024, 1}},
      // Toxic from the start: phase I stops, or phase II closes as unsafe.
      {"toxic 2x2",
       scenario(2, 2, 0.25, 0.2, 5, 3, 4, [](int, int) { return 0.45; },
                [](int, int) { return 0.5; }),
       Streams{}},
      // No response at all: every entry closes as futile.
      {"hopeless 1x2",
       scenario(1, 2, 0.3, 0.3, 6, 3, 2, [](int, int) { return 0.05; },
                [](int, int) { return 0.0; }),
       Streams{}},
      // No phase II cohorts: the selection right after the switch.
      {"no phase II 2x3",
       scenario(2, 3, 0.3, 0.2, 4, 0, 2, [](int, int) { return 0.1; },
                [](int a, int b) { return 0.1 * (a + b + 1); }),
       Streams{true, 7, 3}},
      // The options: a start off the lowest combination, phase II kept to
      // treated combinations or widening one step at a time, split counts.
      {"options treated 3x3",
       scenario(3, 3, 0.3, 0.2, 3, 4, 3, [](int a, int b) { return 0.08 * (a + b + 1); },
                [](int a, int b) { return 0.15 * (a + b + 1); }),
       Streams{true, 11, 1}, withoptions(Phase2Scope::kTreated, 1, 0, 2, 4)},
      {"options adjacent 3x3",
       scenario(3, 3, 0.3, 0.3, 2, 5, 3, [](int, int) { return 0.05; },
                [](int a, int) { return a == 0 ? 0.05 : 0.5; }),
       Streams{true, 12, 1}, withoptions(Phase2Scope::kAdjacent, 0, 1, 6, 2)},
  };
  Coverage met;
  for (const ReplayCase& c : cases) {
    Recorder recorder;
    const Design design = designof(c.scenario, c.rules);
    const SimulationResult run =
        simulate(design, c.scenario.input, c.streams, &recorder);
    ASSERT_TRUE(run.ok()) << c.name;
    for (std::size_t t = 0; t < recorder.trials.size(); ++t) {
      replay(design, recorder.trials[t], met,
             std::string(c.name) + ", trial " + std::to_string(t + 1));
    }
  }
  for (const char* kind : {"escalate", "de-escalate", "stay", "switch", "futile",
                           "unsafe", "randomise", "selected", "phase1_stopped",
                           "all_closed"}) {
    EXPECT_EQ(met.seen.count(kind), 1u) << "no replayed decision: " << kind;
  }
}

// --- Clear-cut decisions -----------------------------------------------------

class ConductCase : public ::testing::Test {
 protected:
  void SetUp() override {
    design.settings.ndose1 = 3;
    design.settings.ndose2 = 3;
    design.settings.targettox = 0.3;
    design.settings.mineff = 0.2;
    design.settings.ncohort1 = 4;
    design.settings.cohortsize1 = 3;
    design.settings.ncohort2 = 3;
    design.settings.cohortsize2 = 3;
    for (int d = 0; d < 3; ++d) {
      design.prior1[d] = 0.05 * (d + 1);
      design.prior2[d] = 0.05 * (d + 1);
    }
    ASSERT_EQ(checkdesign(design), "");
    options.streams = freshstreams(Streams{});
  }
  ConductResult run(const std::vector<Cohort>& cohorts) {
    return runconduct(design, cohorts, options);
  }

  Design design;
  ConductOptions options;
};

TEST_F(ConductCase, NoToxicityInThreeAtTheLowestEscalates) {
  const ConductResult r = run({{{0, 0}, 3, 0, 0}});
  ASSERT_EQ(r.problem, "");
  EXPECT_EQ(r.next.branch, Branch::kEscalate);
  EXPECT_GT(r.next.prsafe, design.rules.escalate);
  EXPECT_EQ(r.next.stage, Stage::kPhase1);
  EXPECT_TRUE(r.next.next == (Combination{1, 0}) || r.next.next == (Combination{0, 1}));
  EXPECT_EQ(r.next.ncand, 2);
  EXPECT_EQ(r.next.table.size(), 9u);
}

TEST_F(ConductCase, SevenPatientsAtTheLowestWithManyToxicitiesStop) {
  // Three of three: too toxic, but 3 patients are not more than 6: stay.
  ConductResult r = run({{{0, 0}, 3, 3, 0}});
  ASSERT_EQ(r.problem, "");
  EXPECT_EQ(r.next.branch, Branch::kDeescalate);
  EXPECT_EQ(r.next.ncand, 0);
  EXPECT_EQ(r.next.stage, Stage::kPhase1);
  EXPECT_EQ(r.next.next, (Combination{0, 0}));
  // Four more, all toxic: 7 > 6 patients, the trial stops (a dropout-free
  // cohort of 4 is a size warning only).
  r = run({{{0, 0}, 3, 3, 0}, {{0, 0}, 4, 3, 0}});
  ASSERT_EQ(r.problem, "");
  EXPECT_EQ(r.next.stage, Stage::kEnded);
  EXPECT_EQ(r.next.end, TrialEnd::kPhase1Stopped);
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.warnings[0], "cohort 2: 4 patients; the design's cohort size is 3");
  // Nothing may follow.
  r = run({{{0, 0}, 3, 3, 0}, {{0, 0}, 4, 3, 0}, {{0, 0}, 3, 0, 0}});
  EXPECT_EQ(r.problem,
            "cohort 3: the design stopped the trial after cohort 2: phase I "
            "stopped at the lowest combination");
  EXPECT_EQ(r.cohort, 3);
}

TEST_F(ConductCase, AClosedCombinationNeverReceivesTheNextCohort) {
  // Phase I safe everywhere; (1, 1) has 9 patients and no response, so the
  // switch closes it as futile.
  const std::vector<Cohort> cohorts = {{{0, 0}, 3, 0, 0}, {{0, 0}, 3, 0, 0},
                                       {{0, 0}, 3, 0, 0}, {{1, 0}, 3, 0, 3}};
  options.replicates = 40;
  const ConductResult r = run(cohorts);
  ASSERT_EQ(r.problem, "");
  ASSERT_TRUE(r.next.switched);
  ASSERT_EQ(r.closures.size(), 1u);
  EXPECT_EQ(r.closures[0].at, (Combination{0, 0}));
  EXPECT_TRUE(r.closures[0].futile);
  EXPECT_EQ(r.next.probs[r.closures[0].entry], 0.0);
  EXPECT_NE(r.next.next, (Combination{0, 0}));
  int total = 0;
  for (const OutcomeCount& o : r.stability.outcomes) {
    total += o.count;
    EXPECT_NE(o.decision.next, (Combination{0, 0}));
    ASSERT_EQ(o.decision.closures.size(), 1u);
  }
  EXPECT_EQ(total, 40);
  EXPECT_GT(r.stability.outcomes.size(), 1u);  // the draw does vary
  // A later cohort there anyway is a warning, and the entry stays closed.
  std::vector<Cohort> more = cohorts;
  more.push_back({{0, 0}, 3, 3, 3});
  options.replicates = 0;
  const ConductResult later = run(more);
  ASSERT_EQ(later.problem, "");
  // Cohorts 2 and 3 stayed where the design escalated; cohort 5 is at (1, 1).
  ASSERT_EQ(later.warnings.size(), 3u);
  EXPECT_EQ(later.warnings[2].rfind(
                "cohort 5: treated at (1, 1), which was closed after cohort 4; "
                "the design chose ", 0),
            0u);
  EXPECT_FALSE(later.next.table[0].open);
}

TEST_F(ConductCase, TheSameInputGivesTheSameAnswerAndSeedsDiffer) {
  const std::vector<Cohort> cohorts = {{{0, 0}, 3, 0, 1}, {{1, 0}, 3, 1, 0}};
  const ConductResult a = run(cohorts);
  const ConductResult b = run(cohorts);
  EXPECT_EQ(a.next.prsafe, b.next.prsafe);
  options.streams = freshstreams(Streams{true, 11, 1});
  const ConductResult c = run(cohorts);
  EXPECT_NE(a.next.prsafe, c.next.prsafe);
  // Replicate r runs on (S, r + 1): with S = 11, replicate 0 is the run
  // itself.
  options.replicates = 1;
  options.seed = 11;
  const ConductResult d = run(cohorts);
  ASSERT_EQ(d.stability.spreads.size(), 1u);
  EXPECT_EQ(d.stability.spreads[0].mean, c.next.prsafe);
}

// Stops the replicates before replicate `stopat`, counting the calls.
class StopAt : public Observer {
 public:
  explicit StopAt(int stopat) : stopat_(stopat) {}
  bool starttrial(std::int64_t r) override {
    asked.push_back(r);
    return r < stopat_;
  }
  std::vector<std::int64_t> asked;

 private:
  int stopat_;
};

TEST_F(ConductCase, AnObserverSeesEachReplicateAndCanStopThem) {
  const std::vector<Cohort> cohorts = {{{0, 0}, 3, 0, 1}, {{1, 0}, 3, 1, 0}};
  options.replicates = 4;
  const ConductResult plain = run(cohorts);
  StopAt never(5);
  options.observer = &never;
  const ConductResult watched = run(cohorts);
  EXPECT_EQ(never.asked, (std::vector<std::int64_t>{1, 2, 3, 4}));
  EXPECT_FALSE(watched.cancelled);
  ASSERT_EQ(watched.stability.spreads.size(), 1u);
  EXPECT_EQ(watched.stability.spreads[0].mean, plain.stability.spreads[0].mean);
  StopAt third(3);
  options.observer = &third;
  const ConductResult stopped = run(cohorts);
  EXPECT_TRUE(stopped.cancelled);
  EXPECT_EQ(stopped.problem, "");
  EXPECT_EQ(third.asked, (std::vector<std::int64_t>{1, 2, 3}));
}

TEST_F(ConductCase, RefusedCohortsNameTheCohortAndField) {
  const Cohort good{{0, 0}, 3, 0, 0};
  struct Case {
    Cohort bad;
    const char* problem;
  } const cases[] = {
      {{{0, 0}, 3, 4, 0}, "cohort 2: toxicities: 4 is more than the 3 patients"},
      {{{0, 0}, 3, 0, 5}, "cohort 2: responses: 5 is more than the 3 patients"},
      {{{0, 0}, 3, -1, 0}, "cohort 2: toxicities: must not be negative"},
      {{{0, 0}, 3, 0, -2}, "cohort 2: responses: must not be negative"},
      {{{0, 0}, -3, 0, 0}, "cohort 2: patients: must be at least 1"},
      {{{0, 0}, 1001, 0, 0}, "cohort 2: patients: must be at most 1000"},
      {{{3, 0}, 3, 0, 0}, "cohort 2: combination: (4, 1) is outside the 3 by 3 grid"},
      {{{0, -1}, 3, 0, 0}, "cohort 2: combination: (1, 0) is outside the 3 by 3 grid"},
  };
  for (const Case& c : cases) {
    const ConductResult r = run({good, c.bad});
    EXPECT_EQ(r.problem, c.problem);
    EXPECT_EQ(r.cohort, 2);
  }
  // Eight cohorts: the design has seven.
  std::vector<Cohort> many(8, Cohort{{0, 0}, 3, 0, 0});
  EXPECT_EQ(run(many).problem,
            "cohort 8: the design has 7 cohorts (4 in phase I, 3 in phase II)");
  many.pop_back();
  const ConductResult all = run(many);
  ASSERT_EQ(all.problem, "");
  EXPECT_EQ(all.next.stage, Stage::kEnded);
}

TEST(ConductDesign, ProblemsNameTheField) {
  Design d;
  d.settings = {3, 3, 0.3, 0.2, 4, 3, 3, 3, 0, "./"};
  for (int i = 0; i < 3; ++i) d.prior1[i] = d.prior2[i] = 0.1;
  EXPECT_EQ(checkdesign(d), "");
  d.prior2[2] = 1;
  EXPECT_EQ(checkdesign(d),
            "scenprior2[3] (drug-2 level 3): The prior estimate of toxicity "
            "probability must lie strictly between 0 and 1");
  d.prior2[2] = 0.1;
  d.rules.escalate = 0.3;
  EXPECT_EQ(checkdesign(d), "rules.deescalate: must be below escalate");
  d.rules.escalate = 0.8;
  d.rules.start1 = 3;  // drug-1 level 4 of 3
  EXPECT_EQ(checkdesign(d), "rules.start: [4, 1] lies outside the 3 by 3 grid");
  d.rules.start1 = 0;
  d.rules.minpatients_close = -1;
  EXPECT_EQ(checkdesign(d), "rules.minpatients_close: must not be negative");
}


// --- Pathways and close calls -------------------------------------------------

// A 2 by 2 grid under quadrature, three phase I cohorts of 2 and two phase II
// cohorts of 2.
class PathwaysCase : public ::testing::Test {
 protected:
  void SetUp() override {
    design.settings.ndose1 = 2;
    design.settings.ndose2 = 2;
    design.settings.targettox = 0.3;
    design.settings.mineff = 0.2;
    design.settings.ncohort1 = 3;
    design.settings.cohortsize1 = 2;
    design.settings.ncohort2 = 2;
    design.settings.cohortsize2 = 2;
    design.prior1[0] = 0.1;
    design.prior1[1] = 0.25;
    design.prior2[0] = 0.1;
    design.prior2[1] = 0.25;
    design.rules.minpatients_close = 1;
    design.method = PosteriorMethod::kQuadrature;
    ASSERT_EQ(checkdesign(design), "");
    options.streams = freshstreams(Streams{true, 11, 1});
  }

  // The cohorts of node `i`'s pathway after `cohorts`, the real ones.
  static std::vector<Cohort> pathway(const Pathways& p, int i, std::vector<Cohort> cohorts) {
    std::vector<Cohort> path;
    for (int k = i; k >= 0; k = p.nodes[static_cast<std::size_t>(k)].parent) {
      path.insert(path.begin(), p.nodes[static_cast<std::size_t>(k)].cohort);
    }
    cohorts.insert(cohorts.end(), path.begin(), path.end());
    return cohorts;
  }

  Design design;
  ConductOptions options;
};

TEST_F(PathwaysCase, EachBranchIsTheConductOfItsCohortsByHand) {
  // Phase I, two cohorts ahead from the first: the second cohort's three
  // outcomes, each followed by the third's, which ends phase I.
  const std::vector<Cohort> real{{{0, 0}, 2, 0, 1}};
  options.pathways = 2;
  const ConductResult r = runconduct(design, real, options);
  ASSERT_EQ(r.problem, "");
  const Pathways& p = r.pathways;
  ASSERT_EQ(p.problem, "");
  EXPECT_EQ(p.updates, 3 + 9 * 2);  // the third cohort's updates: toxicity, switch
  ASSERT_EQ(p.nodes.size(), 12u);
  int switched = 0;
  for (std::size_t i = 0; i < p.nodes.size(); ++i) {
    const PathwayNode& n = p.nodes[i];
    EXPECT_EQ(n.cohort.npat, 2);
    EXPECT_EQ(n.cohort.nresp, 0);
    // Each cohort goes where the design sent it, outcomes in order.
    const Decision& before = n.parent < 0 ? r.next : p.nodes[static_cast<std::size_t>(n.parent)].decision;
    EXPECT_TRUE(n.cohort.at == before.next) << i;
    const ConductResult direct =
        runconduct(design, pathway(p, static_cast<int>(i), real), ConductOptions{options.streams});
    ASSERT_EQ(direct.problem, "") << i;
    EXPECT_EQ(direct.warnings.size(), 0u) << i;
    const Decision& d = direct.next;
    EXPECT_EQ(n.decision.stage, d.stage) << i;
    EXPECT_TRUE(n.decision.next == d.next) << i;
    EXPECT_EQ(n.decision.prsafe, d.prsafe) << i;
    EXPECT_EQ(n.decision.branch, d.branch) << i;
    EXPECT_EQ(n.decision.admissible, d.admissible) << i;
    if (d.switched) ++switched;
  }
  EXPECT_EQ(switched, 9);  // every pathway reaches the switch

  // Phase II, one cohort ahead, at each open combination.
  std::vector<Cohort> more = real;
  for (const PathwayNode& n : p.nodes) {
    if (n.decision.switched && n.decision.stage == Stage::kPhase2) {
      more = pathway(p, static_cast<int>(&n - p.nodes.data()), real);
      break;
    }
  }
  ASSERT_EQ(more.size(), 3u);
  options.pathways = 1;
  const ConductResult r2 = runconduct(design, more, options);
  ASSERT_EQ(r2.pathways.problem, "");
  const Pathways& p2 = r2.pathways;
  EXPECT_TRUE(p2.phase2);
  EXPECT_EQ(p2.nodes.size(), r2.next.admissible.size() * 9);
  for (std::size_t i = 0; i < p2.nodes.size(); ++i) {
    std::vector<Cohort> cohorts = more;
    cohorts.push_back(p2.nodes[i].cohort);
    const ConductResult direct = runconduct(design, cohorts, ConductOptions{options.streams});
    ASSERT_EQ(direct.problem, "") << i;
    const Decision& d = direct.next;
    const Decision& n = p2.nodes[i].decision;
    EXPECT_EQ(n.probs, d.probs) << i;
    ASSERT_EQ(n.closures.size(), d.closures.size()) << i;
    for (std::size_t k = 0; k < d.closures.size(); ++k) {
      EXPECT_TRUE(n.closures[k].at == d.closures[k].at) << i;
      EXPECT_EQ(closurewhy(n.closures[k]), closurewhy(d.closures[k])) << i;
    }
  }
  // Some outcome closes a combination: the table shows the rules at work.
  EXPECT_TRUE(std::any_of(p2.nodes.begin(), p2.nodes.end(),
                          [](const PathwayNode& n) { return !n.decision.closures.empty(); }));
}

TEST_F(PathwaysCase, TooManyUpdatesPastTheEndAndDeepPhaseTwoAreRefused) {
  design.settings.ncohort1 = 10;
  design.settings.cohortsize1 = 3;
  ASSERT_EQ(checkdesign(design), "");
  const Conduct start = startconduct(design);
  EXPECT_EQ(pathwayupdates(start, 4), 340);
  EXPECT_EQ(pathwayupdates(start, 5), 1364);
  const Pathways refused = pathways(start, 6, options.streams);
  EXPECT_EQ(refused.problem, "needs 5460 posterior updates, more than the 2000 allowed");
  EXPECT_TRUE(refused.nodes.empty());

  // A trial the design stopped, and phase II more than one cohort ahead.
  design.settings.ncohort1 = 1;
  Conduct c = startconduct(design);
  ASSERT_EQ(addcohort(c, {{0, 0}, 3, 0, 1}, options.streams).problem, "");
  ASSERT_EQ(c.last.stage, Stage::kPhase2);
  EXPECT_EQ(pathways(c, 2, options.streams).problem,
            "in phase II the pathways go one cohort ahead, not 2");
  design.settings.ncohort1 = 3;
  design.rules.minpatients_stop = 2;
  Conduct stopped = startconduct(design);
  ASSERT_EQ(addcohort(stopped, {{0, 0}, 3, 3, 0}, options.streams).problem, "");
  ASSERT_EQ(stopped.last.stage, Stage::kEnded);
  EXPECT_NE(pathways(stopped, 1, options.streams).problem.find("the trial has ended"),
            std::string::npos);
}

TEST_F(ConductCase, StandardErrorsOfTheDrawsMatchTheSpreadOverSeeds) {
  // Each compared probability's batch-means SE, from the update's own draws,
  // against its standard deviation over 80 other seeds (the sd's own
  // relative SE is about 8%, the batch means' about 16%).
  design.rules.minpatients_close = 2;
  const std::vector<Cohort> cohorts{{{0, 0}, 3, 0, 0}, {{1, 0}, 3, 0, 1}, {{1, 1}, 3, 1, 1},
                                    {{1, 1}, 3, 0, 1}, {{1, 0}, 3, 1, 0}};
  options.replicates = 80;
  options.seed = 5;
  const ConductResult r = run(cohorts);
  ASSERT_EQ(r.problem, "");
  ASSERT_TRUE(r.next.phase2);
  int checked = 0;
  for (const Comparison& x : r.next.comparisons) {
    for (const Spread& s : r.stability.spreads) {
      if (s.what != x.what || !(s.at == x.at) || s.sd < 0.005) continue;
      EXPECT_GT(x.se / s.sd, 0.5) << comparedname(x.what) << " " << levels(x.at);
      EXPECT_LT(x.se / s.sd, 2.0) << comparedname(x.what) << " " << levels(x.at);
      ++checked;
    }
  }
  EXPECT_GE(checked, 4);
  // Close calls are the comparisons within two SEs of their threshold.
  for (const CloseCall& call : r.next.closecalls) {
    EXPECT_LT(std::fabs(call.value - call.threshold), 2 * call.se);
  }
}

TEST_F(ConductCase, NoCloseCallWhereEitherSideMovesAlike) {
  // 0.793 against 0.8 at the top corner, where escalating stays too (the
  // design of examples/trial_design.json).
  design.settings.ncohort1 = 10;
  design.prior1[2] = 0.2;
  design.prior2[2] = 0.2;
  design.rules.escalate = 0.8;
  design.rules.deescalate = 0.45;
  const ConductResult r = run({{{0, 0}, 3, 0, 0}, {{1, 0}, 3, 0, 2}, {{2, 0}, 3, 0, 2},
                               {{2, 1}, 3, 1, 1}, {{2, 2}, 3, 0, 0}, {{2, 2}, 3, 1, 0}});
  ASSERT_EQ(r.problem, "");
  ASSERT_EQ(r.next.branch, Branch::kStay);
  EXPECT_LT(std::fabs(r.next.prsafe - design.rules.escalate), 0.01);
  EXPECT_TRUE(r.next.closecalls.empty());
}

}  // namespace
