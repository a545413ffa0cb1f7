// tests/engine_test.cc: the engine on its own, without the console: the
// golden report from simulate() alone, outcome sums that agree with the
// per-combination sums, design rules that move decisions, the observer, and
// designs run one after another in one process.
#include "engine/simulate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "engine/conduct.h"

#include "design/toxmodel.h"
#include "formats/dialogue.h"
#include "formats/report.h"
#include "numerics/streams.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

// The scenario of an answer file, read by the dialogue without echo.
Scenario fixturescenario(const std::string& name) {
  std::istringstream in(readfile(sourcefile("tests/fixtures/" + name + ".txt")));
  std::ostream silent(nullptr);
  Scenario scenario;
  EXPECT_EQ(readscenario(in, silent, scenario.settings, scenario.input), 0);
  return scenario;
}

// An n by n scenario with the same truth in every cell.
Scenario flatscenario(double tox, double eff, int ntrial, int n = 2) {
  Scenario sc;
  SimulationSettings& s = sc.settings;
  s.ndose1 = n;
  s.ndose2 = n;
  s.targettox = 0.3;
  s.mineff = 0.2;
  s.ncohort1 = 6;
  s.cohortsize1 = 3;
  s.ncohort2 = 2;
  s.cohortsize2 = 3;
  s.ntrial = ntrial;
  for (int d1 = 0; d1 < n; ++d1) {
    sc.input.scenprior1[d1] = 0.1 + 0.1 * d1;
    sc.input.scenprior2[d1] = 0.1 + 0.05 * d1;
    for (int d2 = 0; d2 < n; ++d2) {
      sc.input.scentox[d1][d2] = tox;
      sc.input.sceneff[d1][d2] = eff;
    }
  }
  return sc;
}

std::int64_t gridsum(const std::int64_t (&m)[kMaxDose][kMaxDose]) {
  std::int64_t total = 0;
  for (const auto& row : m) {
    for (std::int64_t v : row) total += v;
  }
  return total;
}

TEST(Engine, GivesTheGoldenReportOnItsOwn) {
  for (const char* name : {"golden_2x4", "golden_toxic", "golden_1x1"}) {
    const Scenario scenario = fixturescenario(name);
    const SimulationResult result =
        simulate(designof(scenario, DesignRules{}), scenario.input, Streams{}, nullptr);
    ASSERT_TRUE(result.ok()) << name << ": " << result.message;
    ReportData data;
    data.calendar = "<calendar time>\n";
    data.design = designof(scenario, DesignRules{});
    data.inconclusive = inconclusivepercent(result.acc, data.design);
    std::ostringstream block;
    writereportcopy(block, scenario.input, result.acc, data, kFileTrialLabel);
    EXPECT_EQ(maskclock(block.str()),
              readfile(sourcefile("tests/fixtures/" + std::string(name) +
                                  ".results.expected")))
        << name;
  }
}

TEST(Engine, OutcomesAgreeWithThePerCombinationSums) {
  struct Case {
    Scenario scenario;
    TrialEnd only;  // the one way every trial ends, or kSelected for a mix
  } const cases[] = {
      {fixturescenario("golden_3x3"), TrialEnd::kSelected},
      {fixturescenario("golden_toxic"), TrialEnd::kSelected},
      {flatscenario(1, 0.5, 4), TrialEnd::kPhase1Stopped},
      // Safe but without any response: the one combination closes as futile.
      {flatscenario(0.01, 0, 3, 1), TrialEnd::kAllClosed},
  };
  for (const Case& c : cases) {
    const SimulationResult r = simulate(designof(c.scenario, DesignRules{}), c.scenario.input, Streams{}, nullptr);
    ASSERT_TRUE(r.ok()) << r.message;
    const OutcomeSums& o = r.outcomes;
    const SimulationSettings& s = c.scenario.settings;
    EXPECT_EQ(o.ntrial, s.ntrial);
    std::int64_t ended = 0;
    for (std::int64_t n : o.reasons) ended += n;
    EXPECT_EQ(ended, s.ntrial);
    EXPECT_EQ(o.reasons[static_cast<int>(TrialEnd::kSelected)], gridsum(r.acc.nselect));
    EXPECT_EQ(o.patients, gridsum(r.acc.sumpat));
    EXPECT_EQ(o.toxicities, gridsum(r.acc.sumtox));
    EXPECT_EQ(o.responses, gridsum(r.acc.sumresp));
    std::int64_t overtoxic = 0;
    for (int d1 = 0; d1 < s.ndose1; ++d1) {
      for (int d2 = 0; d2 < s.ndose2; ++d2) {
        if (c.scenario.input.scentox[d1][d2] > s.targettox) {
          overtoxic += r.acc.sumpat[d1][d2];
        }
      }
    }
    EXPECT_EQ(o.overtoxic, overtoxic);
    EXPECT_LE(o.minpatients * s.ntrial, o.patients);
    EXPECT_GE(o.maxpatients * s.ntrial, o.patients);
    if (c.only != TrialEnd::kSelected) {
      EXPECT_EQ(o.reasons[static_cast<int>(c.only)], s.ntrial) << trialendname(c.only);
    }
  }
}

TEST(Engine, StricterEscalationTreatsFewerPatientsHigher) {
  const Scenario safe = flatscenario(0.05, 0.4, 10);
  DesignRules strict;
  strict.escalate = 0.99;
  const SimulationResult usual = simulate(designof(safe, DesignRules{}), safe.input, Streams{}, nullptr);
  const SimulationResult slow = simulate(designof(safe, strict), safe.input, Streams{}, nullptr);
  ASSERT_TRUE(usual.ok() && slow.ok());
  // Patients above the lowest combination: phase I escalates less often.
  const auto higher = [](const SimulationResult& r) {
    return r.acc.sumpat[0][1] + r.acc.sumpat[1][0] + r.acc.sumpat[1][1];
  };
  EXPECT_LT(higher(slow), higher(usual));
  EXPECT_GT(slow.acc.sumpat[0][0], usual.acc.sumpat[0][0]);
}

// Stops after `last` trials; keeps a copy of the record and both streams
// before the second update of trial `last`, and the probabilities that update
// gave (as the next update finds them).
class Recorder : public Observer {
 public:
  explicit Recorder(std::int64_t last) : last_(last) {}
  bool starttrial(std::int64_t trial) override {
    trial_ = trial;
    updates_ = 0;
    return trial <= last_;
  }
  void beforeupdate(const TrialState& s, const StreamState& at) override {
    if (trial_ != last_) return;
    ++updates_;
    if (updates_ == 2) {
      saved = std::make_unique<TrialState>(s);
      streams = at;
    } else if (updates_ == 3) {
      for (int d1 = 0; d1 < kMaxDose; ++d1) {
        for (int d2 = 0; d2 < kMaxDose; ++d2) prsafe[d1][d2] = s.prsafe[d1][d2];
      }
    }
  }

  std::unique_ptr<TrialState> saved;
  StreamState streams;
  double prsafe[kMaxDose][kMaxDose] = {};

 private:
  std::int64_t last_;
  std::int64_t trial_ = 0;
  int updates_ = 0;
};

TEST(Engine, ObserverCancelsAndItsStreamCopyReplaysAnUpdate) {
  Scenario scenario = fixturescenario("golden_3x3");
  Recorder recorder(3);
  Streams seeded;
  seeded.seeded = true;
  seeded.seed = 7;
  const SimulationResult r = simulate(designof(scenario, DesignRules{}), scenario.input, seeded, &recorder);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.ntrial, 3);
  EXPECT_EQ(r.outcomes.ntrial, 3);
  ASSERT_NE(recorder.saved, nullptr);

  // The same update from the copied streams draws the same posterior.
  ASSERT_TRUE(updatetox(*recorder.saved, designof(scenario, DesignRules{}),
                        recorder.streams)
                  .ok());
  for (int d1 = 0; d1 < scenario.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < scenario.settings.ndose2; ++d2) {
      EXPECT_EQ(recorder.saved->prsafe[d1][d2], recorder.prsafe[d1][d2]);
    }
  }
}

// Design A, then design B (other rules, another target), then A again in one
// process: A gives exactly the same results both times, in simulation and in
// the conduct of a trial, under every posterior method.
TEST(Engine, TwoDesignsInOneProcessEachKeepTheirResults) {
  const Scenario scenario = flatscenario(0.2, 0.4, 3, 3);
  DesignRules strict;
  strict.escalate = 0.9;
  strict.admissible = 0.6;
  strict.futility = 0.3;
  for (const PosteriorMethod method : {PosteriorMethod::kGibbs}) {
    Design a = designof(scenario, DesignRules{});
    Design b = designof(scenario, strict);
    b.settings.targettox = 0.25;
    a.method = b.method = method;
    const Streams seeded{true, 11, 2};
    const std::vector<Cohort> cohorts = {{{0, 0}, 3, 0, 1}, {{1, 0}, 3, 1, 2}};
    ConductOptions options;
    options.streams = freshstreams(seeded);

    const SimulationResult first = simulate(a, scenario.input, seeded, nullptr);
    const ConductResult conductfirst = runconduct(a, cohorts, options);
    const SimulationResult other = simulate(b, scenario.input, seeded, nullptr);
    const ConductResult conductother = runconduct(b, cohorts, options);
    const SimulationResult again = simulate(a, scenario.input, seeded, nullptr);
    const ConductResult conductagain = runconduct(a, cohorts, options);

    ASSERT_TRUE(first.ok() && other.ok() && again.ok());
    EXPECT_EQ(std::memcmp(&first.acc, &again.acc, sizeof first.acc), 0);
    EXPECT_EQ(std::memcmp(&first.outcomes, &again.outcomes, sizeof first.outcomes), 0);
    // B is another design indeed.
    EXPECT_NE(std::memcmp(&first.acc, &other.acc, sizeof first.acc), 0);

    ASSERT_EQ(conductfirst.problem, "");
    ASSERT_EQ(conductagain.problem, "");
    ASSERT_EQ(conductother.problem, "");
    EXPECT_TRUE(sameoutcome(conductfirst.next, conductagain.next));
    ASSERT_EQ(conductfirst.next.table.size(), conductagain.next.table.size());
    for (std::size_t i = 0; i < conductfirst.next.table.size(); ++i) {
      EXPECT_EQ(conductfirst.next.table[i].prsafe, conductagain.next.table[i].prsafe);
      EXPECT_EQ(conductfirst.next.table[i].meantox, conductagain.next.table[i].meantox);
    }
    EXPECT_NE(conductfirst.next.table[0].prsafe, conductother.next.table[0].prsafe);
  }
}

}  // namespace
