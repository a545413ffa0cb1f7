// The race of candidate designs: a clear winner is chosen, a candidate far
// outside a constraint goes at once, survivors are ranked, and the
// confirmation runs trials the race never ran.
#include "engine/calibrate.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/simulate.h"
#include "formats/searchspace.h"

namespace {

Scenario racescenario(double shift) {
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
  s.ntrial = 1;
  for (int d1 = 0; d1 < 3; ++d1) {
    for (int d2 = 0; d2 < 3; ++d2) {
      sc.input.scentox[d1][d2] = 0.05 + shift * (d1 + d2);
      sc.input.sceneff[d1][d2] = 0.1 + 0.1 * (d1 + d2);
    }
    sc.input.scenprior1[d1] = 0.1 * (d1 + 1);
    sc.input.scenprior2[d1] = 0.1 * (d1 + 1);
  }
  return sc;
}

Candidate candidate(const std::string& label, const DesignRules& rules,
                    const std::vector<Scenario>& scenarios) {
  Candidate c;
  c.label = label;
  for (const Scenario& sc : scenarios) {
    Design d = designof(sc, rules);
    d.method = PosteriorMethod::kQuadrature;
    c.designs.push_back(d);
  }
  return c;
}

TEST(Calibrate, ClearWinnerChosenAndFarOutsideAConstraintDroppedAtOnce) {
  const std::vector<Scenario> scenarios = {racescenario(0.04), racescenario(0.08)};
  CalibrationPlan plan;
  for (std::size_t s = 0; s < scenarios.size(); ++s) {
    plan.scenarios.push_back({"s" + std::to_string(s + 1), scenarios[s].settings,
                              scenarios[s].input, 1.0});
  }
  DesignRules plain;
  DesignRules reckless;  // starts at the most toxic combination
  reckless.start1 = 2;
  reckless.start2 = 2;
  DesignRules closed;    // admits nothing to phase II: never right here
  closed.admissible = 0.999;
  plan.candidates = {candidate("closed", closed, scenarios),
                     candidate("plain", plain, scenarios),
                     candidate("reckless", reckless, scenarios)};
  plan.constraints.push_back({"overtoxic_patients", true, 15, {}});
  plan.stages = {12, 24};
  plan.seed = 9;
  plan.confirmtrials = 20;
  plan.threads = 2;
  ASSERT_EQ(checkcalibration(plan), "");
  const CalibrationResult r = calibrate(plan);
  ASSERT_EQ(r.failure, "");
  EXPECT_EQ(r.chosen, 1);
  ASSERT_FALSE(r.survivors.empty());
  EXPECT_EQ(r.survivors.front(), 1);

  // The reckless candidate is gone after the first stage, for the
  // constraint; every candidate of the last stage left undropped is a
  // survivor.
  for (const CandidateStage& row : r.history) {
    if (row.candidate == 2) {
      EXPECT_EQ(row.stage, 0);
      EXPECT_NE(row.dropped.find("overtoxic_patients"), std::string::npos) << row.dropped;
    }
    if (row.stage == r.laststage && row.dropped.empty()) {
      EXPECT_NE(std::find(r.survivors.begin(), r.survivors.end(), row.candidate),
                r.survivors.end());
    }
  }

  // The confirmation: trials after the race's last, as a run of the chosen
  // design from there gives them.
  EXPECT_EQ(r.confirmfirst, r.racetrials + 1);
  ASSERT_EQ(r.confirmation.size(), 2u);
  for (std::size_t s = 0; s < 2; ++s) {
    Design d = plan.candidates[1].designs[s];
    d.settings.ntrial = 20;
    Streams streams;
    streams.seeded = true;
    streams.seed = 9;
    streams.paired = true;
    streams.firsttrial = r.racetrials + 1;
    const SimulationResult sim = simulate(d, scenarios[s].input, streams, nullptr);
    const OperatingCharacteristics oc = operatingcharacteristics(
        scenarios[s].settings, scenarios[s].input, sim.acc, sim.outcomes);
    EXPECT_EQ(r.confirmation[s].ntrial, 20);
    EXPECT_EQ(r.confirmation[s].correct.value, oc.correct.value);
    EXPECT_EQ(r.confirmation[s].overtoxic_patients.value, oc.overtoxic_patients.value);
  }

  // The same race on one thread gives the same result.
  plan.threads = 1;
  const CalibrationResult one = calibrate(plan);
  ASSERT_EQ(one.history.size(), r.history.size());
  for (std::size_t i = 0; i < r.history.size(); ++i) {
    EXPECT_EQ(one.history[i].objective.value, r.history[i].objective.value);
  }
}

TEST(Calibrate, BadSettingsAreNamed) {
  const Scenario sc = racescenario(0.04);
  CalibrationPlan plan;
  plan.scenarios.push_back({"s1", sc.settings, sc.input, 1.0});
  plan.candidates = {candidate("plain", DesignRules{}, {sc})};
  EXPECT_EQ(checkcalibration(plan), "");
  CalibrationPlan bad = plan;
  bad.objective = "overtoxic_patients";
  EXPECT_NE(checkcalibration(bad).find("objective: figure \"overtoxic_patients\""),
            std::string::npos);
  bad = plan;
  bad.constraints.push_back({"nonsense", true, 1, {}});
  EXPECT_EQ(checkcalibration(bad), "constraints: unknown figure \"nonsense\"");
  bad = plan;
  bad.constraints.push_back({"overtoxic", true, 1, {3}});
  EXPECT_EQ(checkcalibration(bad), "constraints: overtoxic: unknown scenario");
  bad = plan;
  bad.stages = {50, 50};
  EXPECT_NE(checkcalibration(bad).find("budget: trials"), std::string::npos);
}

}  // namespace

namespace {

TEST(SearchSpace, CandidatesAreEveryCombinationAndBadSectionsAreNamed) {
  std::vector<SearchKey> keys;
  ASSERT_EQ(searchfromjson(Json::parse(R"({"rules.escalate": [0.75, 0.85],
      "rules.safety": {"from": 0.3, "to": 0.5, "step": 0.1},
      "ncohort2": [2, 4], "rules.start": [[1, 1], [2, 1]]})"), keys), "");
  EXPECT_EQ(searchsize(keys), 24u);
  // The last key fastest; a range's values free of rounding.
  EXPECT_EQ(candidatechanges(keys, 0).dump(),
            R"({"rules":{"escalate":0.75,"safety":0.3,"start":[1,1]},"ncohort2":2})");
  EXPECT_EQ(candidatelabel(keys, 23),
            "rules.escalate=0.85, rules.safety=0.5, ncohort2=4, rules.start=[2,1]");
  EXPECT_EQ(keys[1].values[1].get<double>(), 0.4);

  const struct {
    const char* search;
    const char* problem;
  } bad[] = {
      {"{}", "search: empty: name at least one field to search"},
      {R"({"rules.safety": {"from": 0.3, "to": 0.5, "step": 0}})",
       "search.rules.safety.step: must be above 0"},
      {R"({"rules.safety": []})", "search.rules.safety: no values"},
      {R"({"ncohort2": [2.5]})", "search.ncohort2: values must be whole numbers"},
      {R"({"rules.escalate": [0.8, 0.80]})",
       "search.rules.escalate: 0.8 given more than once"},
      {R"({"ncohort2": {"from": 2, "to": 3, "step": 0.5}})",
       "search.ncohort2: values must be whole numbers"},
  };
  for (const auto& b : bad) {
    EXPECT_EQ(searchfromjson(Json::parse(b.search), keys), b.problem) << b.search;
  }
  EXPECT_EQ(searchfromjson(Json::parse(R"({"targettox": [0.3]})"), keys)
                .rfind("search.targettox: not a field a search can change", 0),
            0u);

  CalibrationPlan plan;
  plan.scenarios.resize(2);
  EXPECT_EQ(racefromjson(Json::parse(R"({"constraints": [{"figure": "overtoxic",
      "max": 10, "scenarios": ["a", "c"]}]})"), {"a", "b"}, plan),
            "constraints[1].scenarios: unknown scenario \"c\"");
  ASSERT_EQ(racefromjson(Json::parse(R"({"objective": {"figure": "acceptable",
      "weights": {"b": 3}}, "constraints": [{"figure": "inconclusive", "min": 80,
      "scenarios": ["b"]}], "budget": {"trials": [20, 60], "margin": 1}})"),
                         {"a", "b"}, plan), "");
  EXPECT_EQ(plan.objective, "acceptable");
  EXPECT_EQ(plan.scenarios[1].weight, 3);
  EXPECT_FALSE(plan.constraints[0].upper);
  EXPECT_EQ(plan.constraints[0].scenarios, std::vector<int>{1});
  EXPECT_EQ(plan.stages, (std::vector<int>{20, 60}));
}

}  // namespace
