// tests/oc_test.cc: operating characteristics. Sixteen trials written down
// from a --trials run of tests/fixtures/oc_small.json, worked by hand; the
// same trials when no combination is acceptable and a single trial; then
// the built combosim-batch: its "oc" recomputed from its own trials file,
// oc.csv against NAME.json, and a scenario whose every trial stops in phase
// I.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "batch/scenariofile.h"
#include "engine/oc.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

const char kSmall[] = "tests/fixtures/oc_small.json";

ScenarioRead smallscenario() {
  Json j;
  std::string problem;
  EXPECT_TRUE(readjsonfile(sourcefile(kSmall).string(), j, problem)) << problem;
  return readjsonscenario(j, "oc_small");
}

// One trial as NAME.trials.csv gives it.
struct Row {
  const char* selected;  // "d1,d2", levels from 1; "" for none
  TrialEnd reason;
  int patients, toxicities, responses, overtoxic;
};

constexpr TrialEnd kSel = TrialEnd::kSelected;
constexpr TrialEnd kStop = TrialEnd::kPhase1Stopped;

// combosim-batch --seed 7 --trials tests/fixtures/oc_small.json. Truth:
// toxicity [[0.2, 0.3], [0.3, 0.5]], response [[0.2, 0.35], [0.35, 0.6]],
// targettox 0.3, mineff 0.2: (1,1) acceptable (response = mineff), (1,2)
// and (2,1) targets (toxicity = targettox, tied responses), (2,2) overly
// toxic.
constexpr Row kRows[] = {
    {"2,2", kSel, 18, 2, 6, 3}, {"2,2", kSel, 18, 5, 6, 0},
    {"1,2", kSel, 18, 4, 4, 0}, {"1,2", kSel, 18, 4, 3, 0},
    {"2,1", kSel, 18, 3, 4, 0}, {"", kStop, 9, 4, 2, 0},
    {"", kStop, 9, 3, 4, 0},    {"2,2", kSel, 18, 2, 2, 3},
    {"1,2", kSel, 18, 4, 7, 0}, {"", kStop, 9, 3, 1, 0},
    {"2,1", kSel, 18, 5, 7, 3}, {"2,2", kSel, 18, 3, 5, 0},
    {"2,2", kSel, 18, 4, 6, 0}, {"1,1", kSel, 18, 6, 5, 0},
    {"", kStop, 9, 3, 3, 0},    {"1,1", kSel, 18, 5, 2, 0},
};

// The sums of `rows` as the engine keeps them.
void sumrows(const Row* rows, int n, Accumulators& acc, OutcomeSums& sums) {
  for (int i = 0; i < n; ++i) {
    const Row& r = rows[i];
    if (r.selected[0] != '\0') ++acc.nselect[r.selected[0] - '1'][r.selected[2] - '1'];
    addoutcome(sums, {r.reason, -1, -1, r.patients, r.toxicities, r.responses,
                      r.overtoxic});
  }
}

TEST(Oc, SixteenTrialsWorkedByHand) {
  const ScenarioRead read = smallscenario();
  ASSERT_EQ(read.problem, "");
  Accumulators acc;
  OutcomeSums sums;
  sumrows(kRows, 16, acc, sums);
  const OperatingCharacteristics oc =
      operatingcharacteristics(read.scenario.settings, read.scenario.input, acc, sums);
  const double e = 1e-12;
  // Targets (1,2) 3 + (2,1) 2 = 5 of 16; 100 sqrt(0.3125 * 0.6875 / 16).
  EXPECT_EQ(oc.correct.value, 31.25);
  EXPECT_NEAR(oc.correct.mcse, 11.587810136086974, e);
  // Acceptable: those and (1,1) 2: 7 of 16.
  EXPECT_EQ(oc.acceptable.value, 43.75);
  EXPECT_NEAR(oc.acceptable.mcse, 12.401959270615269, e);
  EXPECT_EQ(oc.overtoxic.value, 31.25);  // (2,2) 5 times
  // 4 of 16 without a selection, all stopped in phase I.
  EXPECT_EQ(oc.inconclusive.value, 25);
  EXPECT_NEAR(oc.inconclusive.mcse, 10.825317547305483, e);
  EXPECT_EQ(oc.phase1_stopped.value, 25);
  EXPECT_EQ(oc.none_admissible.value, 0);
  EXPECT_EQ(oc.all_closed.value, 0);
  EXPECT_EQ(oc.no_positive_mean.value, 0);
  EXPECT_EQ(oc.no_positive_mean.mcse, 0);
  // Patients: 12 x 18 + 4 x 9 = 252, squares 4212; SD =
  // sqrt((16 x 4212 - 252^2) / (16 x 15)) = sqrt(16.2).
  EXPECT_EQ(oc.patients_mean.value, 15.75);
  EXPECT_NEAR(oc.patients_sd, 4.024922359499621, e);
  EXPECT_NEAR(oc.patients_mean.mcse, 4.024922359499621 / 4, e);
  EXPECT_EQ(oc.patients_min, 9);
  EXPECT_EQ(oc.patients_max, 18);
  // Overly toxic patients: 9 of 252, R = 1/28; sum X^2 27, sum XY 162:
  // 100 sqrt((27 - 2 R 162 + R^2 4212) / 240) / 15.75.
  EXPECT_NEAR(oc.overtoxic_patients.value, 100.0 / 28, e);
  EXPECT_NEAR(oc.overtoxic_patients.mcse, 1.8692015869434133, e);
  // Toxicities 60 (squares 244), responses 67 (squares 335).
  EXPECT_EQ(oc.toxicities_mean.value, 3.75);
  EXPECT_NEAR(oc.toxicities_mean.mcse, 0.2813657169355689, e);
  EXPECT_EQ(oc.responses_mean.value, 4.1875);
  EXPECT_NEAR(oc.responses_mean.mcse, 0.4762592956223182, e);

  // The figures by name, each metric followed by its standard error.
  const std::vector<OcFigure> figures = ocfigures(oc);
  ASSERT_EQ(figures.size(), 29u);
  EXPECT_EQ(figures[0].name, "correct");
  EXPECT_EQ(figures[1].name, "correct_mcse");
  EXPECT_EQ(figures[1].value, oc.correct.mcse);
  EXPECT_EQ(figures[18].name, "patients_sd");
  EXPECT_EQ(figures[19].name, "patients_min");
  EXPECT_TRUE(figures[19].integer);
  EXPECT_EQ(figures[26].name, "responses_mean_mcse");
  // No trial had a phase II patient: no share of them, nor its error.
  EXPECT_EQ(figures[27].name, "untried_patients");
  EXPECT_EQ(figures[28].name, "untried_patients_mcse");
  EXPECT_TRUE(std::isnan(figures[27].value) && std::isnan(figures[28].value));
}

TEST(Oc, NoAcceptableCombinationAndOneTrial) {
  ScenarioRead read = smallscenario();
  ASSERT_EQ(read.problem, "");
  Accumulators acc;
  OutcomeSums sums;
  sumrows(kRows, 16, acc, sums);
  // No response reaches 0.7: selecting none, as 4 of 16 trials did, is right.
  read.scenario.settings.mineff = 0.7;
  const TruthClasses c = classifytruth(read.scenario.settings, read.scenario.input);
  EXPECT_FALSE(c.anyacceptable);
  OperatingCharacteristics oc =
      operatingcharacteristics(read.scenario.settings, read.scenario.input, acc, sums);
  EXPECT_EQ(oc.correct.value, 25);
  EXPECT_EQ(oc.correct.mcse, oc.inconclusive.mcse);
  EXPECT_EQ(oc.acceptable.value, 0);
  EXPECT_EQ(oc.overtoxic.value, 31.25);

  // One trial: no SD, so no standard error of a mean or of the ratio.
  Accumulators one;
  OutcomeSums onesum;
  sumrows(kRows, 1, one, onesum);
  oc = operatingcharacteristics(read.scenario.settings, read.scenario.input, one, onesum);
  EXPECT_EQ(oc.overtoxic.value, 100);
  EXPECT_EQ(oc.overtoxic.mcse, 0);
  EXPECT_EQ(oc.patients_mean.value, 18);
  EXPECT_TRUE(std::isnan(oc.patients_sd));
  EXPECT_TRUE(std::isnan(oc.patients_mean.mcse));
  EXPECT_TRUE(std::isnan(oc.overtoxic_patients.mcse));
  EXPECT_DOUBLE_EQ(oc.overtoxic_patients.value, 100.0 / 6);
}

// --- The built program ----------------------------------------------------

std::vector<std::string> csvfields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (char ch : line) {
    if (ch == '"') quoted = !quoted;
    else if (ch == ',' && !quoted) fields.push_back(std::move(field)), field.clear();
    else field += ch;
  }
  fields.push_back(field);
  return fields;
}

std::vector<std::vector<std::string>> csvrows(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(readfile(path));
  for (std::string line; std::getline(in, line);) rows.push_back(csvfields(line));
  return rows;
}

Json loadjson(const fs::path& path) {
  Json j;
  std::string problem;
  EXPECT_TRUE(readjsonfile(path.string(), j, problem)) << problem;
  return j;
}

// Mean and the standard error of the mean, in two passes.
std::pair<double, double> meanse(const std::vector<double>& x) {
  double sum = 0;
  for (double v : x) sum += v;
  const double mean = sum / x.size();
  double squares = 0;
  for (double v : x) squares += (v - mean) * (v - mean);
  return {mean, std::sqrt(squares / (x.size() - 1)) / std::sqrt(x.size())};
}

TEST(OcProgram, OcIsWhatTheTrialsFileGivesAndOcCsvCarriesIt) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string command =
      "cd " + shellquote(dir.path().string()) + " && " +
      shellquote(COMBOSIM_BATCH_EXE) + " --seed 7 --trials --out out " +
      shellquote(sourcefile(kSmall).string()) + " " +
      shellquote(sourcefile("tests/fixtures/extreme_tox1.txt").string()) +
      " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const fs::path out = dir.path() / "out";
  const Json small = loadjson(out / "oc_small.json");
  const Json& oc = small["oc"];

  // From the trials file, one row per trial, in two passes.
  const auto rows = csvrows(out / "oc_small.trials.csv");
  ASSERT_EQ(rows[0], (std::vector<std::string>{"trial", "selected", "reason",
                                               "patients", "toxicities",
                                               "responses", "overtoxic"}));
  const double n = rows.size() - 1;
  std::map<std::string, double> selected, reasons;
  std::vector<double> patients, toxicities, responses, overtoxic;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ++selected[rows[i][1]];
    ++reasons[rows[i][2]];
    patients.push_back(std::stod(rows[i][3]));
    toxicities.push_back(std::stod(rows[i][4]));
    responses.push_back(std::stod(rows[i][5]));
    overtoxic.push_back(std::stod(rows[i][6]));
  }
  const double e = 1e-9;
  const auto percent = [&](const char* key, double count) {
    const double p = count / n;
    EXPECT_NEAR(oc[key].get<double>(), 100 * p, e) << key;
    EXPECT_NEAR(oc[std::string(key) + "_mcse"].get<double>(),
                100 * std::sqrt(p * (1 - p) / n), e) << key;
  };
  percent("correct", selected["1,2"] + selected["2,1"]);
  percent("acceptable", selected["1,1"] + selected["1,2"] + selected["2,1"]);
  percent("overtoxic", selected["2,2"]);
  percent("inconclusive", selected[""]);
  for (const char* reason : {"phase1_stopped", "none_admissible", "all_closed",
                             "no_positive_mean"}) {
    percent(reason, reasons[reason]);
  }
  // The split of the trials without a selection adds up to them.
  EXPECT_EQ(reasons["selected"] + selected[""], n);
  EXPECT_EQ(n - reasons["selected"], selected[""]);
  for (const auto& [key, x] : {std::pair<std::string, std::vector<double>*>{
                                   "patients_mean", &patients},
                               {"toxicities_mean", &toxicities},
                               {"responses_mean", &responses}}) {
    const auto [mean, se] = meanse(*x);
    EXPECT_NEAR(oc[key].get<double>(), mean, e) << key;
    EXPECT_NEAR(oc[key + "_mcse"].get<double>(), se, e) << key;
  }
  EXPECT_NEAR(oc["patients_sd"].get<double>(),
              meanse(patients).second * std::sqrt(n), e);
  EXPECT_EQ(oc["patients_min"], *std::min_element(patients.begin(), patients.end()));
  EXPECT_EQ(oc["patients_max"], *std::max_element(patients.begin(), patients.end()));
  // The ratio of totals, and the spread of each trial's X - R Y.
  double sumx = 0, sumy = 0, squares = 0;
  for (std::size_t i = 0; i < patients.size(); ++i) {
    sumx += overtoxic[i];
    sumy += patients[i];
  }
  const double r = sumx / sumy;
  for (std::size_t i = 0; i < patients.size(); ++i) {
    squares += (overtoxic[i] - r * patients[i]) * (overtoxic[i] - r * patients[i]);
  }
  EXPECT_NEAR(oc["overtoxic_patients"].get<double>(), 100 * r, e);
  EXPECT_NEAR(oc["overtoxic_patients_mcse"].get<double>(),
              100 * std::sqrt(squares / (n * (n - 1))) / (sumy / n), e);
  // The trials' overly toxic patients are those treated at (2,2).
  EXPECT_EQ(sumx, small["sums"]["patients"][1][1].get<double>());
  // Correct selection is the selection percentages of the targets added up.
  EXPECT_NEAR(oc["correct"].get<double>(),
              small["selectionpercent"][0][1].get<double>() +
                  small["selectionpercent"][1][0].get<double>(),
              e);

  // Phase II patients at untried combinations: the ratio of the sums, a
  // number once a trial had a phase II patient.
  const Json& sums = small["sums"]["outcomes"];
  if (sums["phase2patients"] == 0) {
    EXPECT_TRUE(oc["untried_patients"].is_null());
  } else {
    EXPECT_NEAR(oc["untried_patients"].get<double>(),
                100 * sums["untried"].get<double>() /
                    sums["phase2patients"].get<double>(),
                e);
    EXPECT_TRUE(oc["untried_patients_mcse"].is_number());
  }

  // oc.csv: the JSON's figures, one row per scenario in the run's order, the
  // last two after the settings; empty where the JSON has null.
  const std::vector<std::string> settings = {
      "trials", "generator", "seed", "nshard", "mathlib", "targettox", "mineff",
      "escalate", "deescalate", "admissible", "safety", "futility", "minpatients"};
  const auto csv = csvrows(out / "oc.csv");
  ASSERT_EQ(csv.size(), 3u);
  ASSERT_EQ(csv[0].size(), 1 + oc.size() + settings.size());
  EXPECT_EQ(csv[0][0], "scenario");
  const std::size_t before = oc.size() - 2;  // the figures before the settings
  const auto at = [&](std::size_t figure) {
    return figure < before ? 1 + figure : 1 + figure + settings.size();
  };
  for (std::size_t row = 1; row <= 2; ++row) {
    const Json j = loadjson(out / (csv[row][0] + ".json"));
    std::size_t figure = 0;
    for (const auto& [key, value] : j["oc"].items()) {
      const std::string& cell = csv[row][at(figure)];
      EXPECT_EQ(csv[0][at(figure)], key);
      if (value.is_null()) {
        EXPECT_EQ(cell, "") << key;
      } else {
        EXPECT_EQ(std::stod(cell), value.get<double>()) << key;
      }
      ++figure;
    }
    EXPECT_EQ(figure, oc.size());
    EXPECT_EQ(std::vector<std::string>(csv[row].begin() + 1 + before,
                                       csv[row].begin() + 1 + before + settings.size()),
              (std::vector<std::string>{j["trials"].dump(), "mt19937_64", "7",
                                        "1", j["mathlib"].get<std::string>(),
                                        "0.3", j["scenario"]["mineff"].dump(),
                                        "0.8", "0.45", "0.4", "0.4", "0.15", "6"}));
  }
  EXPECT_EQ(std::vector<std::string>(csv[0].begin() + 1 + before,
                                     csv[0].begin() + 1 + before + settings.size()),
            settings);

  // Every trial stops in phase I, every combination overly toxic: selecting
  // none is right every time.
  const Json stop = loadjson(out / "extreme_tox1.json")["oc"];
  for (const char* key : {"correct", "inconclusive", "phase1_stopped",
                          "overtoxic_patients"}) {
    EXPECT_EQ(stop[key], 100.0) << key;
    EXPECT_EQ(stop[std::string(key) + "_mcse"], 0.0) << key;
  }
  EXPECT_EQ(stop["acceptable"], 0.0);
  EXPECT_EQ(stop["overtoxic"], 0.0);
  // No phase II patient in any trial.
  EXPECT_TRUE(stop["untried_patients"].is_null());
  EXPECT_TRUE(stop["untried_patients_mcse"].is_null());
}

}  // namespace
