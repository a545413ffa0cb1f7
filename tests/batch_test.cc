// tests/batch_test.cc: combosim-batch. Scenario files read through the
// dialogue (problems named by line or field), the split into shards and the
// merge, in process; then the built program run as a user runs it: the same
// report as combosim, serial and parallel runs alike, shards merged exactly,
// bad files reported while the others complete, summary.csv against the JSON,
// the shard scripts, and the output folder kept whole: locks, leftovers,
// files that are not the program's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <tuple>

#include "batch/merge.h"
#include "batch/resultjson.h"
#include "batch/results.h"
#include "batch/resulttext.h"
#include "batch/scenariofile.h"
#include "numerics/mathprobe.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

const char kSmallAnswers[] = "tests/fixtures/batch_small.txt";
const char kSmallJson[] = "tests/fixtures/batch_small_json.json";
// The closing lines of a batch report on combosim's streams, run here.
std::string fixedlines() {
  BatchResult here;
  here.mathlib = mathimplementation();
  return "\nRandom numbers: combosim's fixed-seed generators\nMath functions: " +
         describemath(here) + "\n";
}

Json smalljson() {
  Json j;
  std::string problem;
  EXPECT_TRUE(readjsonfile(sourcefile(kSmallJson).string(), j, problem))
      << problem;
  return j;
}

// --- Scenario files, in process ------------------------------------------

// The answers of tests/fixtures/batch_small.txt, one per line.
std::string smallanswers() { return readfile(sourcefile(kSmallAnswers)); }

// `answers` with the answer on line `line` (from 1) replaced by `value`.
std::string withanswer(const std::string& answers, int line,
                       const std::string& value) {
  std::string edited;
  std::istringstream in(answers);
  std::string text;
  for (int n = 1; std::getline(in, text); ++n) {
    edited += (n == line ? value : text) + "\n";
  }
  return edited;
}

TEST(ScenarioFile, AnswerFileProblemsNameTheLineAndTheAnswer) {
  const std::string good = smallanswers();
  struct Case {
    std::string answers;
    std::string problem;
  } const cases[] = {
      {withanswer(good, 1, "11"),
       "f.txt:1: The number of dose for drug 1 is too large"},
      {withanswer(good, 2, "0"),
       "f.txt:2: The number of dose for drug 2 is too small"},
      {withanswer(good, 9, "O.3"),
       "f.txt:9: Invalid input for the true response probability for the "
       "combination (1, 2): \"O.3\" is not a number"},
      // "0.1y" is refused whole, at its own question.
      {withanswer(good, 4, "0.1y"),
       "f.txt:4: Invalid input for the true toxicity probability for the "
       "combination (1, 2): \"0.1y\" is not a number"},
      {"2\n2\n0.05\n", "f.txt: Unexpected end of input while reading the true "
                       "toxicity probability for the combination (1, 2)"},
      {"", "f.txt: Unexpected end of input while reading the number of dose "
           "for drug 1"},
      // A toxicity above 1 with no correction after it: every later answer
      // is read one place early, until "y" is read as a probability.
      {withanswer(good, 4, "1.5"),
       "f.txt:7: Invalid input for the true toxicity probability for the "
       "combination (2, 2): \"y\" is not a number (after an answer "
       "rejected at f.txt:4: The toxicity probability is larger than 1)"},
      {withanswer(good, 21, "0"),
       "f.txt:26: Invalid input for the number of simulated trials: \"y\" is "
       "not a whole number written in digits (after an answer rejected at "
       "f.txt:21: The "
       "total number of cohorts for the phase I dose finding must be at "
       "least 1)"},
  };
  for (const Case& c : cases) {
    const ScenarioRead read = readanswers(c.answers, "f.txt");
    EXPECT_EQ(read.problem, c.problem) << c.answers;
  }
}

TEST(ScenarioFile, CorrectedAnswerIsReadAsCombosimReadsIt) {
  // 1.5 on line 4, then its correction: combosim accepts this file, and so
  // does the batch, with a note.
  std::string answers = smallanswers();
  answers.insert(answers.find("0.1\n0.2\n0.35"), "1.5\n");
  const ScenarioRead read = readanswers(answers, "f.txt");
  EXPECT_EQ(read.problem, "");
  ASSERT_EQ(read.notes.size(), 1u);
  EXPECT_EQ(read.notes[0],
            "f.txt:4: The toxicity probability is larger than 1; the next "
            "answer was read in its place");
  EXPECT_EQ(read.scenario.input.scentox[0][1], 0.1);
  EXPECT_EQ(read.scenario.input.scentox[1][0], 0.2);
  EXPECT_EQ(read.scenario.settings.ntrial, 3);
}

TEST(ScenarioFile, ByteOrderMarkIsSkippedAndLeftoverAnswersNoted) {
  const ScenarioRead marked = readanswers("\xEF\xBB\xBF" + smallanswers(), "f.txt");
  EXPECT_EQ(marked.problem, "");
  EXPECT_EQ(marked.notes, std::vector<std::string>{});
  EXPECT_EQ(marked.scenario.settings.ndose1, 2);
  // The closing key "x" is the last answer; "5" after it was meant for
  // something else.
  const ScenarioRead extra = readanswers(smallanswers() + "\n5\n", "f.txt");
  EXPECT_EQ(extra.problem, "");
  EXPECT_EQ(extra.notes,
            std::vector<std::string>{"f.txt:29: answers after the scenario's "
                                     "last answer and the closing key are not "
                                     "read"});
}

TEST(ScenarioFile, JsonAndAnswerFileGiveTheSameScenario) {
  const ScenarioRead answers = readanswers(smallanswers(), "a");
  const ScenarioRead json = readjsonscenario(smalljson(), "j");
  ASSERT_EQ(answers.problem, "");
  ASSERT_EQ(json.problem, "");
  // The JSON form's own order: the same object comes back.
  EXPECT_EQ(scenariotojson(json.scenario), smalljson());
  EXPECT_EQ(scenariotojson(answers.scenario), smalljson());
  // [drug-1 level][drug-2 level] in both: (1, 2) is 0.1, (2, 1) is 0.2.
  EXPECT_EQ(json.scenario.input.scentox[0][1], 0.1);
  EXPECT_EQ(json.scenario.input.scentox[1][0], 0.2);
  EXPECT_EQ(json.scenario.input.scenprior2[1], 0.15);
  // Each example in JSON holds the scenario of its answer file.
  int examples = 0;
  for (const auto& entry :
       fs::directory_iterator(sourcefile("examples/scenarios"))) {
    const fs::path txt =
        sourcefile("examples") / entry.path().filename().replace_extension(".txt");
    const ScenarioRead fromjson = readscenariofile(entry.path().string());
    const ScenarioRead fromtxt = readscenariofile(txt.string());
    EXPECT_EQ(fromjson.problem, "");
    EXPECT_EQ(fromtxt.problem, "");
    EXPECT_EQ(scenariotojson(fromjson.scenario),
              scenariotojson(fromtxt.scenario))
        << entry.path();
    ++examples;
  }
  EXPECT_GE(examples, 4);
}

TEST(ScenarioFile, JsonProblemsNameTheField) {
  struct Case {
    const char* pointer;  // the field changed, as a JSON pointer
    Json value;           // its new value; null removes the field
    std::string problem;
  } const cases[] = {
      {"/ndose1", nullptr, "f: ndose1: missing"},
      {"/ntrials", 5, "f: ntrials: unknown field"},
      {"/ndose1", 11, "f: ndose1: The number of dose for drug 1 is too large"},
      {"/ndose2", 0, "f: ndose2: The number of dose for drug 2 is too small"},
      {"/ndose1", 2.5, "f: ndose1: must be a whole number"},
      {"/ntrial", 3000000000u, "f: ntrial: is out of range"},
      {"/ntrial", "3", "f: ntrial: must be a whole number"},
      {"/scentox", Json::array({Json::array({0.1, 0.2})}),
       "f: scentox: must be an array of 2 rows (drug-1 levels) of 2 numbers "
       "(drug-2 levels)"},
      {"/sceneff/1", Json::array({0.4}),
       "f: sceneff[2] (drug-1 level 2): must be an array of 2 numbers"},
      {"/scentox/1/0", 1.5,
       "f: scentox[2][1] (drug-1 level 2, drug-2 level 1): The toxicity "
       "probability is larger than 1"},
      {"/sceneff/0/1", 1.01,
       "f: sceneff[1][2] (drug-1 level 1, drug-2 level 2): The response "
       "probability is larger than 1"},
      {"/scentox/0/1", -0.1,
       "f: scentox[1][2] (drug-1 level 1, drug-2 level 2): a probability below 0"},
      {"/sceneff/1/1", "0.5",
       "f: sceneff[2][2] (drug-1 level 2, drug-2 level 2): must be a number"},
      {"/targettox", 1.2, "f: targettox: The target probability is larger than 1"},
      {"/mineff", -0.2, "f: mineff: a probability below 0"},
      {"/scenprior1/1", 1,
       "f: scenprior1[2] (drug-1 level 2): The prior estimate of toxicity "
       "probability must lie strictly between 0 and 1"},
      {"/scenprior2", Json::array({0.1}), "f: scenprior2: must be an array of 2 numbers"},
      {"/ncohort1", 0,
       "f: ncohort1: The total number of cohorts for the phase I dose finding "
       "must be at least 1"},
      {"/cohortsize2", 1001,
       "f: cohortsize2: The cohort size for the phase II trial must be at most "
       "1000"},
      {"/ntrial", 0, "f: ntrial: The number of simulated trials must be at least 1"},
      {"/rules", Json::array(), "f: rules: must be an object"},
      {"/rules", {{"escalate", 1.2}},
       "f: rules.escalate: must lie strictly between 0 and 1"},
      {"/rules", {{"deescalate", 0.85}},
       "f: rules.deescalate: must be below escalate"},
      {"/rules", {{"minpatients", -1}}, "f: rules.minpatients: must not be negative"},
      {"/rules", {{"minpatients", 6.5}}, "f: rules.minpatients: must be a whole number"},
      {"/rules", {{"futile", 0.2}}, "f: rules.futile: unknown field"},
      // The options, each checked as the thresholds are; the start on the
      // scenario's 2 by 2 grid.
      {"/rules", {{"minpatients", 3}, {"minpatients_stop", -1}},
       "f: rules.minpatients_stop: must not be negative"},
      {"/rules", {{"minpatients_close", 2.5}},
       "f: rules.minpatients_close: must be a whole number"},
      {"/rules", {{"phase2", "nearby"}},
       "f: rules.phase2: must be \"admissible\", \"treated\" or \"adjacent\""},
      {"/rules", {{"start", {3, 1}}},
       "f: rules.start: [3, 1] lies outside the 2 by 2 grid"},
      {"/rules", {{"start", {1, 1.5}}},
       "f: rules.start: must be two whole numbers from 1, [drug-1 level, "
       "drug-2 level]"},
      {"/rules", {{"start", {0, 1}}},
       "f: rules.start: must be two whole numbers from 1, [drug-1 level, "
       "drug-2 level]"},
      {"/rules", {{"start", Json::array({2})}},
       "f: rules.start: must be two whole numbers from 1, [drug-1 level, "
       "drug-2 level]"},
  };
  for (const Case& c : cases) {
    Json j = smalljson();
    const Json::json_pointer where(c.pointer);
    if (c.value.is_null()) {
      j.erase(where.back());
    } else {
      j[where] = c.value;
    }
    EXPECT_EQ(readjsonscenario(j, "f").problem, c.problem) << c.pointer;
  }
  EXPECT_EQ(readjsonscenario(Json::array(), "f").problem,
            "f: must hold one JSON object");
  // A field given twice would silently keep the last value.
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::string text = readfile(sourcefile(kSmallJson));
  text.insert(text.find("\"ntrial\""), "\"ntrial\": 1000,\n  ");
  const fs::path twice = dir.path() / "twice.json";
  std::ofstream(twice) << text;
  Json j;
  std::string problem;
  EXPECT_FALSE(readjsonfile(twice.string(), j, problem));
  EXPECT_EQ(problem, twice.string() + ": ntrial: given more than once");
  // A number too large for a double is an ordinary problem naming its place,
  // positions counted from 1.
  for (const auto& [from, to, place] :
       {std::tuple<std::string, std::string, std::string>{
            "[0.2, 0.35]", "[1e400, 0.35]", "scentox[2][1]"},
        {"\"ntrial\": 3", "\"ntrial\": 3, \"rules\": {\"safety\": -2e999}",
         "rules.safety"}}) {
    std::string huge = readfile(sourcefile(kSmallJson));
    ASSERT_NE(huge.find(from), std::string::npos) << from;
    huge.replace(huge.find(from), from.size(), to);
    const fs::path file = dir.path() / "huge.json";
    std::ofstream(file) << huge;
    EXPECT_FALSE(readjsonfile(file.string(), j, problem));
    EXPECT_EQ(problem, file.string() + ": " + place +
                           ": a number too large for a double");
  }
  // ncohort2 may be 0: no phase II cohorts.
  Json nophase2 = smalljson();
  nophase2["ncohort2"] = 0;
  EXPECT_EQ(readjsonscenario(nophase2, "f").problem, "");
}

TEST(ScenarioFile, TargetOfZeroOrOneAndLowestResponseOfOneAreRefused) {
  const std::string target =
      "targettox: The target probability must lie strictly between 0 and 1";
  const std::string mineff =
      "mineff: The lowest acceptable response rate must be below 1";
  for (const auto& [field, value, problem] :
       {std::tuple<const char*, int, std::string>{"targettox", 0, target},
        {"targettox", 1, target},
        {"mineff", 1, mineff},
        {"mineff", 0, ""}}) {  // 0 turns futility off
    Json j = smalljson();
    j[field] = value;
    EXPECT_EQ(readjsonscenario(j, "f").problem, problem.empty() ? "" : "f: " + problem)
        << field << " " << value;
  }
  // The dialogue takes them, so an answer file is refused only here:
  // combosim itself still runs it.
  const std::string answers = withanswer(smallanswers(), 13, "1");
  EXPECT_EQ(readanswers(answers, "f.txt").problem, "f.txt: " + target);
  EXPECT_EQ(readanswers(withanswer(smallanswers(), 14, "1"), "f.txt").problem,
            "f.txt: " + mineff);
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::ofstream(dir.path() / "one.txt") << answers;
  const ProgramRun console = runcombosim(dir.path(), dir.path() / "one.txt");
  EXPECT_EQ(console.status, 0);
  EXPECT_TRUE(fs::exists(dir.path() / "results.txt"));
}

// --- Shards and the merge, in process -------------------------------------

TEST(Shards, PartsCoverEveryTrialOnceInOrder) {
  for (int ntrial = 1; ntrial <= 25; ++ntrial) {
    for (int n = 1; n <= ntrial; ++n) {
      int next = 0;
      for (int k = 1; k <= n; ++k) {
        const TrialRange range = shardtrials(ntrial, k, n);
        EXPECT_EQ(range.first, next) << ntrial << " " << k << "/" << n;
        // Equal parts: sizes differ by one at most, larger ones first.
        EXPECT_EQ(range.count, ntrial / n + (k <= ntrial % n ? 1 : 0))
            << ntrial << " " << k << "/" << n;
        next += range.count;
      }
      EXPECT_EQ(next, ntrial) << ntrial << " " << n;
    }
  }
  EXPECT_EQ(shardtrials(1000, 8, 8).first, 875);
}

// A part of the small scenario with made-up sums, seed 9, 3 parts.
BatchResult smallpart(int k) {
  const ScenarioRead read = readjsonscenario(smalljson(), "j");
  EXPECT_EQ(read.problem, "");
  BatchResult r;
  r.name = "small";
  r.scenario = read.scenario;
  r.random = {true, 9};
  r.nshard = 3;
  r.shards = {k};
  r.ntrial = 1;
  r.acc.sumpat[1][0] = 12 + k;
  r.acc.sumtox[1][0] = k;
  r.acc.sumresp[1][0] = 2 * k;
  r.acc.nselect[1][0] = k == 2 ? 0 : 1;
  r.mathlib = "fma";
  TrialOutcome outcome;
  outcome.reason = k == 2 ? TrialEnd::kAllClosed : TrialEnd::kSelected;
  outcome.patients = 12 + k;
  outcome.toxicities = k;
  outcome.responses = 2 * k;
  outcome.overtoxic = k;
  addoutcome(r.outcomes, outcome);
  r.cpuseconds = 0.5;
  return r;
}

TEST(Merge, AddsTheSumsOfAllParts) {
  BatchResult merged;
  ASSERT_EQ(mergeresults({smallpart(3), smallpart(1), smallpart(2)}, merged), "");
  EXPECT_TRUE(complete(merged));
  EXPECT_EQ(merged.shards, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(merged.ntrial, 3);
  EXPECT_EQ(merged.acc.sumpat[1][0], 13 + 14 + 15);
  EXPECT_EQ(merged.acc.sumtox[1][0], 6);
  EXPECT_EQ(merged.acc.sumresp[1][0], 12);
  EXPECT_EQ(merged.acc.nselect[1][0], 2);
  EXPECT_EQ(merged.cpuseconds, 1.5);
  EXPECT_EQ(merged.outcomes.patients2, 13 * 13 + 14 * 14 + 15 * 15);
  EXPECT_EQ(merged.outcomes.patientsovertoxic, 13 * 1 + 14 * 2 + 15 * 3);
  EXPECT_EQ(merged.outcomes.minpatients, 13);
  EXPECT_EQ(merged.outcomes.maxpatients, 15);
  EXPECT_EQ(merged.outcomes.reasons[static_cast<int>(TrialEnd::kAllClosed)], 1);
  EXPECT_EQ(outputstem(merged), "small");
  EXPECT_EQ(outputstem(smallpart(2)), "small.shard-2-of-3");
  // One of three trials without a selection.
  EXPECT_EQ(exactinconclusive(merged), 1.0 / 3 * 100);
}

TEST(Merge, RefusesPartsThatDoNotMakeOneRun) {
  BatchResult otherseed = smallpart(3);
  otherseed.random.seed = 10;
  BatchResult otherscenario = smallpart(3);
  otherscenario.scenario.input.sceneff[1][1] = 0.55;
  BatchResult othersplit = smallpart(3);
  othersplit.nshard = 4;
  BatchResult otherrules = smallpart(3);
  otherrules.rules.futility = 0.2;
  BatchResult otheroptions = smallpart(3);
  otheroptions.rules.phase2 = Phase2Scope::kTreated;
  BatchResult othermath = smallpart(3);
  othermath.mathlib = "no-fma";
  BatchResult huge = smallpart(3);
  huge.acc.sumpat[1][0] = INT64_MAX;
  BatchResult paired = smallpart(3);
  paired.random.paired = true;
  struct Case {
    std::vector<BatchResult> parts;
    std::string problem;
  } const cases[] = {
      {{smallpart(1), smallpart(3)}, "shard 2 of 3 missing"},
      {{smallpart(2)}, "shards 1, 3 of 3 missing"},
      {{smallpart(1), smallpart(2), smallpart(2), smallpart(3)},
       "shard 2 of 3 is given more than once"},
      {{smallpart(1), smallpart(2), otherseed},
       "the parts ran on different generators or seeds"},
      {{smallpart(1), smallpart(2), otherscenario},
       "the parts hold different scenarios"},
      {{smallpart(1), smallpart(2), othersplit},
       "the parts split the trials into different numbers of shards"},
      {{smallpart(1), smallpart(2), otherrules},
       "the parts ran under different design rules"},
      {{smallpart(1), smallpart(2), otheroptions},
       "the parts ran under different design rules"},
      {{smallpart(1), smallpart(2), othermath},
       "the parts ran on different implementations of pow, log and exp (fma, "
       "no-fma)"},
      {{smallpart(1), smallpart(2), paired},
       "the parts mix paired streams (--paired) with shard streams"},
      {{smallpart(1), smallpart(2), huge},
       "the sums of patients[2][1] (drug-1 level 2, drug-2 level 1) overflow "
       "64 bits"},
  };
  for (const Case& c : cases) {
    BatchResult merged;
    EXPECT_EQ(mergeresults(c.parts, merged), c.problem);
  }
}

TEST(Merge, ResultFileReadsBackAndDamageIsRefused) {
  const BatchResult part = smallpart(2);
  const Json j = resulttojson(part);
  BatchResult back;
  std::string problem;
  ASSERT_TRUE(resultfromjson(j, "p.json", back, problem)) << problem;
  EXPECT_EQ(back.shards, part.shards);
  EXPECT_EQ(back.random.seed, 9u);
  EXPECT_EQ(back.acc.sumpat[1][0], 14);
  EXPECT_EQ(resulttojson(back), j);
  // One trial: no standard deviation, written as null.
  EXPECT_TRUE(j["oc"]["patients_sd"].is_null());
  EXPECT_EQ(j["oc"]["patients_min"], 14);

  struct Case {
    const char* pointer;
    Json value;
    std::string problem;
  } const cases[] = {
      {"/program", "other", "p.json: not a result file of combosim-batch"},
      {"/version", "0.0.1",
       "p.json: version: written by combosim-batch 0.0.1, this is " +
           j["version"].get<std::string>()},
      {"/name", "../x", "p.json: name: not usable as a file name"},
      {"/trials", 2, "p.json: trials: not the number of trials of the parts included"},
      {"/shards/included", Json::array({4}),
       "p.json: shards: included must list parts from 1 to count, ascending"},
      {"/shards/count", 4, "p.json: shards: count out of range"},
      {"/random/seed", -9, "p.json: random: unknown generator or seed"},
      {"/sums/toxicities/1/0", -1,
       "p.json: sums: toxicities must be an ndose1 by ndose2 array of counts"},
      // Sums that no trials can give: every part's cells are checked.
      {"/sums/selections/0/0", 5,
       "p.json: sums: selections[1][1] (drug-1 level 1, drug-2 level 1): 5 "
       "selections in 1 trial"},
      {"/sums/toxicities/1/0", 15,
       "p.json: sums: toxicities[2][1] (drug-1 level 2, drug-2 level 1): 15 "
       "toxicities among 14 patients"},
      {"/sums/responses/0/0", 2,
       "p.json: sums: responses[1][1] (drug-1 level 1, drug-2 level 1): 2 "
       "responses among 0 patients"},
      {"/sums/patients/0/0", 8,
       "p.json: sums: patients: more than 1 trial of at most 18 patients can "
       "treat"},
      {"/sums/patients/1/1", INT64_MAX,
       "p.json: sums: patients[2][2] (drug-1 level 2, drug-2 level 2): more "
       "than 1 trial of at most 18 patients can treat"},
      {"/sums/patients/1/1", UINT64_MAX,
       "p.json: sums: patients must be an ndose1 by ndose2 array of counts"},
      {"/sums/outcomes/reasons/selected", 1,
       "p.json: sums: outcomes do not agree with the trials and the cells"},
      {"/sums/outcomes/responses", 5,
       "p.json: sums: outcomes do not agree with the trials and the cells"},
      {"/random/seed", 4294967296u, "p.json: random: unknown generator or seed"},
      {"/mathlib", "x87", "p.json: mathlib: must be \"fma\", \"no-fma\" or "
                          "\"unknown\""},
      {"/cpuseconds", -1, "p.json: cpuseconds: must be a number from 0 up"},
      {"/sums/outcomes/patients", -3,
       "p.json: sums: outcomes: patients: must be a count from 0 up"},
      {"/sums/outcomes/untried", 15,
       "p.json: sums: outcomes do not agree with the trials and the cells"},
      {"/scenario/ntrial", 0,
       "p.json: scenario: ntrial: The number of simulated trials must be at "
       "least 1"},
      // Squares and cross products that no trials give (one trial of 14
      // patients, 2 toxicities, 4 responses, 2 overly toxic).
      {"/sums/outcomes/toxicities2", 3,
       "p.json: sums: outcomes: toxicities2: below toxicities^2 / trials, "
       "which no trials give"},
      {"/sums/outcomes/responses2", 57,
       "p.json: sums: outcomes: responses2: above maxpatients × responses, "
       "which no trials give"},
      {"/sums/outcomes/patients2", 195,
       "p.json: sums: outcomes: patients2: below minpatients × patients, "
       "which no trials give"},
      {"/sums/outcomes/maxpatients", 20,
       "p.json: sums: outcomes: maxpatients: more than patients - (trials - "
       "1) × minpatients, which no trials give"},
      {"/sums/outcomes/patientsxovertoxic", 29,
       "p.json: sums: outcomes: patientsxovertoxic: its square above "
       "patients2 × overtoxic2, which no trials give"},
      {"/trialsfile", Json::object({{"sha256", "00"}}),
       "p.json: sourcefile, trialsfile: a part records its scenario file "
       "(path, device, inode) and its trials file (file, sha256), each or "
       "null"},
  };
  for (const Case& c : cases) {
    Json damaged = j;
    damaged[Json::json_pointer(c.pointer)] = c.value;
    BatchResult r;
    std::string why;
    EXPECT_FALSE(resultfromjson(damaged, "p.json", r, why)) << c.pointer;
    EXPECT_EQ(why, c.problem) << c.pointer;
  }
  // A part written before its outcome sums held phase II patients.
  Json older = j;
  older["sums"]["outcomes"].erase("untried");
  BatchResult r;
  std::string why;
  EXPECT_FALSE(resultfromjson(older, "p.json", r, why));
  EXPECT_EQ(why, "p.json: sums: outcomes: untried: missing");
}

// --- The built program ----------------------------------------------------

struct BatchRun {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs combosim-batch with `args` (each one word) in `dir`, with `env`
// (assignments, each one word) before it; standard error is not a terminal.
BatchRun runbatch(const fs::path& dir, const std::vector<std::string>& args,
                  const std::string& program = COMBOSIM_BATCH_EXE,
                  const std::vector<std::string>& env = {}) {
  std::string command = "cd " + shellquote(dir.string()) + " && ";
  for (const std::string& e : env) command += e + " ";
  command += shellquote(program);
  for (const std::string& a : args) command += " " + shellquote(a);
  const fs::path errfile = dir / "stderr.txt";
  command += " 2> " + shellquote(errfile.string()) + " < /dev/null";
  BatchRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int wait = pclose(pipe);
  if (wait != -1 && WIFEXITED(wait)) run.status = WEXITSTATUS(wait);
  run.err = readfile(errfile);
  fs::remove(errfile);
  return run;
}

std::string source(const char* relative) { return sourcefile(relative).string(); }

Json loadjson(const fs::path& path) {
  Json j;
  std::string problem;
  EXPECT_TRUE(readjsonfile(path.string(), j, problem)) << problem;
  return j;
}

// A result file without its one figure that varies from run to run.
Json withoutcpu(Json j) {
  j.erase("cpuseconds");
  return j;
}

std::vector<std::string> sortedlines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Expects the outputs `stem` (.txt, .json) in two directories to be the same
// but for the clock lines and processor time.
void expectsameoutputs(const fs::path& a, const fs::path& b, const std::string& stem) {
  const std::string texta = readfile(a / (stem + ".txt"));
  EXPECT_FALSE(texta.empty()) << a / stem;
  EXPECT_EQ(maskclock(texta), maskclock(readfile(b / (stem + ".txt")))) << stem;
  EXPECT_EQ(withoutcpu(loadjson(a / (stem + ".json"))),
            withoutcpu(loadjson(b / (stem + ".json"))))
      << stem;
}

TEST(BatchProgram, ReportEqualsCombosimsForAnswerAndJsonFiles) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ProgramRun combosim = runcombosim(dir.path(), sourcefile(kSmallAnswers));
  ASSERT_EQ(combosim.status, 0);
  const std::string expected =
      maskclock(readfile(dir.path() / "results.txt")) + fixedlines();

  const BatchRun run = runbatch(
      dir.path(), {"--out", "out", source(kSmallAnswers), source(kSmallJson)});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(maskclock(readfile(dir.path() / "out/batch_small.txt")), expected);
  EXPECT_EQ(maskclock(readfile(dir.path() / "out/batch_small_json.txt")), expected);
  EXPECT_EQ(run.out,
            "batch_small: 3 trials, 0.00% inconclusive: out/batch_small.txt "
            "out/batch_small.json\n"
            "batch_small_json: 3 trials, 0.00% inconclusive: "
            "out/batch_small_json.txt out/batch_small_json.json\n"
            "summary: out/summary.csv\noc: out/oc.csv\n"
            "report: out/report.html\nmanifest: out/manifest.json\n");
}

TEST(BatchProgram, ParallelRunEqualsSerialRun) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::vector<std::string> files = {
      source(kSmallAnswers), source("tests/fixtures/golden_1x1.txt"),
      source(kSmallJson), source("tests/fixtures/golden_2x4.txt")};
  std::vector<std::string> serial = {"--jobs", "1", "--out", "serial"};
  std::vector<std::string> parallel = {"--jobs", "3", "--out", "parallel"};
  serial.insert(serial.end(), files.begin(), files.end());
  parallel.insert(parallel.end(), files.begin(), files.end());
  const BatchRun one = runbatch(dir.path(), serial);
  const BatchRun three = runbatch(dir.path(), parallel);
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(three.status, 0) << three.err;
  // Not a terminal: no progress, nothing at all on the standard error.
  EXPECT_EQ(one.err, "");
  EXPECT_EQ(three.err, "");
  std::string renamed = three.out;
  for (std::size_t at; (at = renamed.find("parallel/")) != std::string::npos;) {
    renamed.replace(at, 9, "serial/");
  }
  EXPECT_EQ(renamed, one.out);
  for (const char* stem : {"batch_small", "golden_1x1", "batch_small_json", "golden_2x4"}) {
    expectsameoutputs(dir.path() / "serial", dir.path() / "parallel", stem);
  }
  EXPECT_EQ(readfile(dir.path() / "serial/summary.csv"),
            readfile(dir.path() / "parallel/summary.csv"));
  // The fixed streams give combosim's numbers in every process.
  EXPECT_EQ(maskclock(readfile(dir.path() / "parallel/golden_1x1.txt")),
            readfile(sourcefile("tests/fixtures/golden_1x1.results.expected")) +
                fixedlines());
}

TEST(BatchProgram, ProgressShowsOnATerminalOnly) {
  if (std::system("command -v script > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no script(1) to give the program a terminal";
  }
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  // script(1) runs the program on a terminal and copies what it shows.
  const std::string command =
      "cd " + shellquote(dir.path().string()) + " && " + shellquote(COMBOSIM_BATCH_EXE) +
      " --out out " + shellquote(source("tests/fixtures/golden_1x1.txt"));
  const BatchRun run = runbatch(dir.path(), {"-qec", command, "shown.txt"}, "script");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string shown = readfile(dir.path() / "shown.txt");
  EXPECT_NE(shown.find("combosim-batch: 0 of 1 scenarios finished"), std::string::npos)
      << shown;
  // The board is wiped before the results are printed.
  const std::size_t wiped = shown.rfind("\x1b[J");
  const std::size_t result = shown.find("golden_1x1: 3 trials");
  EXPECT_NE(wiped, std::string::npos);
  EXPECT_NE(result, std::string::npos);
  EXPECT_LT(wiped, result);
}

// Sums of `table` ("patients", ...) in the result file at `path`.
Json sums(const fs::path& path, const char* table) {
  return loadjson(path)["sums"][table];
}

TEST(BatchProgram, MergedShardsEqualOneProcessRunningThemInTurn) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string scenario = source("tests/fixtures/golden_2x4.txt");
  // Two scenarios, not in alphabetical order; 3 trials each in 2 parts: 2,
  // then 1. Each part is a run of its own.
  const std::string small = source(kSmallAnswers);
  for (const char* part : {"2/2", "1/2"}) {
    const BatchRun run =
        runbatch(dir.path(), {"--seed", "11", "--shard", part, "--trials",
                              "--out", "parts", scenario, small});
    EXPECT_EQ(run.status, 0) << run.err;
  }
  const fs::path parts = dir.path() / "parts";
  EXPECT_EQ(loadjson(parts / "golden_2x4.shard-1-of-2.json")["trials"], 2);
  EXPECT_EQ(loadjson(parts / "golden_2x4.shard-2-of-2.json")["trials"], 1);
  EXPECT_TRUE(fs::exists(parts / "summary.shard-1-of-2.csv"));

  // The parts in the order a shell lists them, alphabetical.
  const BatchRun merge = runbatch(
      dir.path(), {"merge", "--out", "merged", "parts/batch_small.shard-1-of-2.json",
                   "parts/batch_small.shard-2-of-2.json",
                   "parts/golden_2x4.shard-1-of-2.json",
                   "parts/golden_2x4.shard-2-of-2.json"});
  EXPECT_EQ(merge.status, 0) << merge.err;
  const BatchRun whole =
      runbatch(dir.path(), {"--seed", "11", "--shards", "2", "--trials",
                            "--out", "whole", scenario, small});
  EXPECT_EQ(whole.status, 0) << whole.err;
  // The parts' trials, numbered as in the whole run, joined in order.
  EXPECT_NE(readfile(parts / "golden_2x4.shard-2-of-2.trials.csv").find("\n3,"),
            std::string::npos);
  EXPECT_EQ(readfile(dir.path() / "merged/golden_2x4.trials.csv"),
            readfile(dir.path() / "whole/golden_2x4.trials.csv"));

  for (const char* stem : {"golden_2x4", "batch_small"}) {
    expectsameoutputs(dir.path() / "merged", dir.path() / "whole", stem);
  }
  // The merged operating characteristics and report are the one run's; a
  // part writes neither.
  for (const char* file : {"summary.csv", "oc.csv", "report.html"}) {
    EXPECT_EQ(readfile(dir.path() / "merged" / file),
              readfile(dir.path() / "whole" / file)) << file;
    EXPECT_FALSE(fs::exists(parts / file)) << file;
  }
  EXPECT_FALSE(loadjson(dir.path() / "merged/golden_2x4.json")["oc"].empty());
  // Rows in the order of the run's command line.
  const std::string summary = readfile(dir.path() / "merged/summary.csv");
  EXPECT_LT(summary.find("\ngolden_2x4,"), summary.find("\nbatch_small,"));
  EXPECT_EQ(merge.out.substr(0, merge.out.find(':')), "golden_2x4");
  // The merge is the sum of the parts' sums, cell by cell.
  for (const char* table : {"patients", "toxicities", "responses", "selections"}) {
    const Json one = sums(parts / "golden_2x4.shard-1-of-2.json", table);
    const Json two = sums(parts / "golden_2x4.shard-2-of-2.json", table);
    const Json merged = sums(dir.path() / "merged/golden_2x4.json", table);
    for (std::size_t d1 = 0; d1 < 2; ++d1) {
      for (std::size_t d2 = 0; d2 < 4; ++d2) {
        EXPECT_EQ(merged[d1][d2].get<std::int64_t>(),
                  one[d1][d2].get<std::int64_t>() + two[d1][d2].get<std::int64_t>())
            << table << " " << d1 << " " << d2;
      }
    }
  }
  // The seed is echoed, and the seeded streams are not the fixed ones.
  const std::string report = readfile(dir.path() / "whole/golden_2x4.txt");
  EXPECT_NE(report.find("\nRandom numbers: std::mt19937_64, seed 11, shards 1 to 2 of 2\n"),
            std::string::npos);
  const std::string fixed =
      readfile(sourcefile("tests/fixtures/golden_2x4.results.expected"));
  EXPECT_NE(maskclock(report).substr(0, fixed.size()), fixed);
  EXPECT_EQ(loadjson(dir.path() / "whole/golden_2x4.json")["random"]["seed"], 11u);
  EXPECT_NE(readfile(parts / "golden_2x4.shard-2-of-2.txt")
                .find("seed 11, shard 2 of 2 (trials 3 to 3 of 3)"),
            std::string::npos);

  // Each part runs on streams of its own: the one trial of part 2 of 2 is not
  // the first trial of part 1's streams.
  const BatchRun first = runbatch(
      dir.path(), {"--seed", "11", "--shard", "1/3", "--out", "first", scenario});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_NE(loadjson(dir.path() / "first/golden_2x4.shard-1-of-3.json")["sums"],
            loadjson(parts / "golden_2x4.shard-2-of-2.json")["sums"]);

  // Without every part there is nothing to merge.
  const BatchRun half = runbatch(
      dir.path(), {"merge", "--out", "half", "parts/golden_2x4.shard-2-of-2.json"});
  EXPECT_EQ(half.status, 1);
  EXPECT_EQ(half.err,
            "golden_2x4: shard 1 of 2 missing\n"
            "combosim-batch: no scenario written; summary.csv, oc.csv, "
            "report.html, manifest.json left as they were\n");
  EXPECT_FALSE(fs::exists(dir.path() / "half/golden_2x4.json"));
}

TEST(BatchProgram, PairedRunsDependOnNeitherShardsNorOrder) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string golden = source("tests/fixtures/golden_2x4.txt");
  const std::string small = source(kSmallAnswers);
  const BatchRun one = runbatch(dir.path(), {"--paired", "--seed", "4", "--trials",
                                             "--out", "one", golden, small});
  EXPECT_EQ(one.status, 0) << one.err;
  const BatchRun three =
      runbatch(dir.path(), {"--paired", "--seed", "4", "--shards", "3", "--trials",
                            "--jobs", "1", "--out", "three", small, golden});
  EXPECT_EQ(three.status, 0) << three.err;
  for (const char* stem : {"golden_2x4", "batch_small"}) {
    const fs::path a = dir.path() / "one" / (std::string(stem) + ".json");
    const fs::path b = dir.path() / "three" / (std::string(stem) + ".json");
    EXPECT_EQ(loadjson(a)["sums"], loadjson(b)["sums"]) << stem;
    EXPECT_EQ(loadjson(a)["oc"], loadjson(b)["oc"]) << stem;
    EXPECT_EQ(loadjson(a)["random"]["paired"], true);
    EXPECT_EQ(readfile(dir.path() / "one" / (std::string(stem) + ".trials.csv")),
              readfile(dir.path() / "three" / (std::string(stem) + ".trials.csv")));
  }
  // Paired streams are neither the shard streams of the seed nor mixed with
  // them in a merge; --paired needs a seed.
  const BatchRun plain = runbatch(dir.path(), {"--seed", "4", "--shard", "1/2",
                                               "--out", "parts", golden});
  const BatchRun part = runbatch(dir.path(), {"--paired", "--seed", "4", "--shard",
                                              "2/2", "--out", "parts", golden});
  EXPECT_EQ(plain.status + part.status, 0) << plain.err << part.err;
  const BatchRun mixed = runbatch(
      dir.path(), {"merge", "--out", "mixed", "parts/golden_2x4.shard-1-of-2.json",
                   "parts/golden_2x4.shard-2-of-2.json"});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_NE(mixed.err.find("mix paired streams"), std::string::npos) << mixed.err;
  const BatchRun noseed = runbatch(dir.path(), {"--paired", "--out", "x", golden});
  EXPECT_EQ(noseed.status, 2);
  EXPECT_NE(noseed.err.find("--paired requires --seed"), std::string::npos)
      << noseed.err;
}

TEST(BatchProgram, MergeJoinsOnlyTheTrialsFilesThePartsWrote) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string golden = source("tests/fixtures/golden_1x1.txt");
  const auto shards = [&](bool trials) {
    for (const char* part : {"1/2", "2/2"}) {
      std::vector<std::string> args = {"--seed", "7", "--shard", part, "--out",
                                       "parts", golden};
      if (trials) args.push_back("--trials");
      ASSERT_EQ(runbatch(dir.path(), args).status, 0) << part;
    }
  };
  const auto merge = [&](const char* out) {
    return runbatch(dir.path(), {"merge", "--out", out,
                                 "parts/golden_1x1.shard-1-of-2.json",
                                 "parts/golden_1x1.shard-2-of-2.json"});
  };
  // Parts run again without --trials: the earlier trials files stay out.
  shards(true);
  shards(false);
  ASSERT_TRUE(fs::exists(dir.path() / "parts/golden_1x1.shard-2-of-2.trials.csv"));
  const BatchRun rerun = merge("rerun");
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_FALSE(fs::exists(dir.path() / "rerun/golden_1x1.trials.csv"));
  // A trials file changed after its part wrote it.
  shards(true);
  std::ofstream(dir.path() / "parts/golden_1x1.shard-2-of-2.trials.csv",
                std::ios::app)
      << "3,,all_closed,3,0,0,0\n";
  const BatchRun edited = merge("edited");
  EXPECT_EQ(edited.status, 1);
  EXPECT_EQ(edited.err,
            "golden_1x1: parts/golden_1x1.shard-2-of-2.trials.csv: not the "
            "trials file its shard wrote (another SHA-256); "
            "edited/golden_1x1.trials.csv not written\n");
  EXPECT_TRUE(fs::exists(dir.path() / "edited/golden_1x1.json"));
  EXPECT_FALSE(fs::exists(dir.path() / "edited/golden_1x1.trials.csv"));
}

TEST(BatchProgram, BadFilesAreReportedWhileTheOthersComplete) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string letters = source("tests/fixtures/batch_letters.txt");
  const std::string malformed = source("tests/fixtures/batch_malformed.json");
  const std::string toxrange = source("tests/fixtures/batch_toxrange.json");
  const BatchRun run = runbatch(
      dir.path(), {"--jobs", "2", "--out", "out", letters, source(kSmallAnswers),
                   malformed, "missing.txt", toxrange});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(sortedlines(run.err),
            sortedlines(
                letters + ":10: Invalid input for the true response probability "
                          "for the combination (2, 1): \"O.4\" is not a "
                          "number\n" +
                malformed + ": parse error at line 6, column 13: syntax error "
                            "while parsing object - unexpected string literal; "
                            "expected '}'\n"
                            "missing.txt: cannot be read: No such file or "
                            "directory\n" +
                toxrange + ": scentox[2][1] (drug-1 level 2, drug-2 level 1): "
                           "The toxicity probability is larger than 1\n"));
  EXPECT_EQ(run.out,
            "batch_small: 3 trials, 0.00% inconclusive: out/batch_small.txt "
            "out/batch_small.json\nsummary: out/summary.csv\n"
            "oc: out/oc.csv\nreport: out/report.html\n"
            "manifest: out/manifest.json\n");
  for (const char* stem : {"batch_letters", "batch_malformed", "missing", "batch_toxrange"}) {
    EXPECT_FALSE(fs::exists(dir.path() / "out" / (stem + std::string(".json")))) << stem;
  }
  const std::vector<std::string> summary =
      sortedlines(readfile(dir.path() / "out/summary.csv"));
  ASSERT_EQ(summary.size(), 5u);  // the header and four combinations
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(summary[i].rfind("batch_small,", 0), 0u);

  // Two files with the same name, and a report that would overwrite its own
  // answer file: refused before anything runs.
  fs::create_directories(dir.path() / "again");
  fs::copy_file(sourcefile(kSmallAnswers), dir.path() / "again/batch_small.txt");
  const BatchRun clash = runbatch(
      dir.path(), {"--out", "again", "again/batch_small.txt", source(kSmallAnswers)});
  EXPECT_EQ(clash.status, 1);
  EXPECT_EQ(sortedlines(clash.err),
            sortedlines("again/batch_small.txt: its report would overwrite it; "
                        "choose another output directory\n" +
                        source(kSmallAnswers) +
                        ": its outputs would overwrite those of "
                        "again/batch_small.txt (same name batch_small)\n"
                        "combosim-batch: no scenario written; summary.csv, "
                        "oc.csv, report.html, manifest.json left as they "
                        "were\n"));
  EXPECT_EQ(readfile(dir.path() / "again/batch_small.txt"),
            readfile(sourcefile(kSmallAnswers)));
}

// The fields of a CSV line; a quoted field ("2,1") may hold commas.
std::vector<std::string> csvfields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The cells of one table of a report, rows from the highest drug-2 level.
std::vector<std::vector<std::string>> reporttable(const std::string& report,
                                                  const std::string& heading,
                                                  int ndose2) {
  std::istringstream in(report.substr(report.find(heading) + heading.size()));
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);  // the rest of the heading line
  for (int r = 0; r < ndose2 && std::getline(in, line); ++r) {
    std::istringstream cells(line);
    rows.emplace_back();
    for (std::string cell; cells >> cell;) rows.back().push_back(cell);
  }
  return rows;
}

std::string twodecimals(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

TEST(BatchProgram, CommandLineProblemsAreRefused) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  struct Case {
    std::vector<std::string> args;
    std::string message;  // the first line on the standard error
  } const cases[] = {
      // The streams use 32 bits of the seed: 2^32 would repeat seed 0's.
      {{"--seed", "4294967296", "x.txt"},
       "--seed: 4294967296 is above 4294967295 (2^32 - 1): the streams use 32 "
       "bits of the seed"},
      {{"--seed", "", "x.txt"},
       "--seed: \"\" is not a whole number from 0 to 4294967295"},
      {{"--seed", "12a", "x.txt"},
       "--seed: \"12a\" is not a whole number from 0 to 4294967295"},
      {{"--seed", "1", "--shard", "", "x.txt"}, "--shard: expected K/N, e.g. 3/8"},
      {{"--jobs", "0", "x.txt"}, "--jobs: must be at least 1"},
      {{"--seed", "1", "--shards", "0", "x.txt"}, "--shards: must be at least 1"},
  };
  for (const Case& c : cases) {
    const BatchRun run = runbatch(dir.path(), c.args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.message);
  }
}

TEST(BatchProgram, LostStandardOutputFailsTheRunButNotItsFiles) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ProgramRun run = runindir(
      dir.path(), shellquote(COMBOSIM_BATCH_EXE) + " --out out " +
                      shellquote(source("tests/fixtures/golden_1x1.txt")) +
                      " > /dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "combosim-batch: the standard output could not be "
                     "written; the files written are in out\n");
  EXPECT_TRUE(fs::exists(dir.path() / "out/manifest.json"));
}

TEST(BatchProgram, OnePartOfOneIsTheWholeRun) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string golden = source("tests/fixtures/golden_1x1.txt");
  for (const char* out : {"part", "whole"}) {
    std::vector<std::string> args = {"--seed", "5", "--trials", "--out", out, golden};
    if (out == std::string("part")) args.insert(args.end(), {"--shard", "1/1"});
    ASSERT_EQ(runbatch(dir.path(), args).status, 0) << out;
  }
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir.path() / "part")) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{
                       ".combosim.lock", "golden_1x1.json", "golden_1x1.trials.csv",
                       "golden_1x1.txt", "manifest.json", "oc.csv",
                       "report.html", "summary.csv"}));
  expectsameoutputs(dir.path() / "part", dir.path() / "whole", "golden_1x1");
  for (const char* file : {"golden_1x1.trials.csv", "summary.csv", "oc.csv",
                           "manifest.json"}) {
    EXPECT_EQ(readfile(dir.path() / "part" / file),
              readfile(dir.path() / "whole" / file)) << file;
  }
}

TEST(BatchProgram, NoOutputOverwritesAnInput) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string answers = readfile(sourcefile("tests/fixtures/golden_1x1.txt"));
  for (const char* file : {"out/summary.csv", "sc/golden_1x1.txt", "manifest.txt"}) {
    fs::create_directories((dir.path() / file).parent_path());
    std::ofstream(dir.path() / file) << answers;
  }
  // A scenario file named like the run's summary: nothing runs.
  const BatchRun run = runbatch(dir.path(), {"--out", "out", "out/summary.csv"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "combosim-batch: out/summary.csv would overwrite the input "
                     "out/summary.csv; choose another output directory\n");
  // A scenario whose outputs would be the run's own manifest.
  const BatchRun manifest = runbatch(dir.path(), {"--out", "out", "manifest.txt"});
  EXPECT_EQ(manifest.status, 1);
  EXPECT_EQ(manifest.err.substr(0, manifest.err.find('\n')),
            "manifest.txt: its output manifest.json is the name of the run's "
            "own manifest.json; rename the scenario file");

  // A merge into the folder of the scenario file.
  for (const char* part : {"1/2", "2/2"}) {
    ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--shard", part, "--out",
                                    "parts", "sc/golden_1x1.txt"})
                  .status,
              0);
  }
  const BatchRun merge =
      runbatch(dir.path(), {"merge", "--out", "sc", "parts/golden_1x1.shard-1-of-2.json",
                            "parts/golden_1x1.shard-2-of-2.json"});
  EXPECT_EQ(merge.status, 1);
  EXPECT_EQ(merge.err.substr(0, merge.err.find('\n')),
            "golden_1x1: its report would overwrite it; choose another output "
            "directory");
  for (const char* file : {"out/summary.csv", "sc/golden_1x1.txt", "manifest.txt"}) {
    EXPECT_EQ(readfile(dir.path() / file), answers) << file;
  }
}

// The files of a folder stay whole: merge never writes over the scenario
// file, wherever it runs, nor over a file it did not write; one run at a
// time writes each set of files; a killed run's leftovers go with the next.
TEST(BatchFolder, MergeKeepsTheScenarioAndFilesNotItsOwn) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  fs::copy_file(sourcefile(kSmallJson), dir.path() / "study.json");
  const std::string scenario = readfile(dir.path() / "study.json");
  for (const char* part : {"1/2", "2/2"}) {
    ASSERT_EQ(runbatch(dir.path(), {"--seed", "3", "--shard", part, "--out",
                                    "parts", "study.json"})
                  .status,
              0);
  }
  // Merged from the parts' folder into the scenario's.
  const std::string where = fs::canonical(dir.path() / "study.json").string();
  for (const std::string& out : {std::string(".."), dir.path().string()}) {
    const BatchRun merge =
        runbatch(dir.path() / "parts", {"merge", "--out", out,
                                        "study.shard-1-of-2.json",
                                        "study.shard-2-of-2.json"});
    EXPECT_EQ(merge.status, 1) << out;
    EXPECT_EQ(merge.err.substr(0, merge.err.find('\n')),
              "study: its output " + out + "/study.json would overwrite the "
              "input " + where + "; choose another output directory");
    EXPECT_EQ(readfile(dir.path() / "study.json"), scenario) << out;
  }
  // A file of the user's under a name the merge writes.
  fs::create_directories(dir.path() / "notes");
  std::ofstream(dir.path() / "notes/study.txt") << "my notes\n";
  const std::vector<std::string> parts = {"parts/study.shard-1-of-2.json",
                                          "parts/study.shard-2-of-2.json"};
  std::vector<std::string> args = {"merge", "--out", "notes"};
  args.insert(args.end(), parts.begin(), parts.end());
  const BatchRun notes = runbatch(dir.path(), args);
  EXPECT_EQ(notes.status, 1);
  EXPECT_EQ(notes.err.substr(0, notes.err.find('\n')),
            "study: its output notes/study.txt exists and is not a file of "
            "combosim-batch; move it or choose another output directory");
  // Nor does a run.
  const BatchRun run = runbatch(dir.path(), {"--out", "notes", "study.json"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
            "study.json: its output notes/study.txt exists and is not a file "
            "of combosim-batch; move it or choose another output directory");
  EXPECT_EQ(readfile(dir.path() / "notes/study.txt"), "my notes\n");
  EXPECT_FALSE(fs::exists(dir.path() / "notes/study.json"));
  // Its own outputs a merge replaces.
  args[2] = "merged";
  EXPECT_EQ(runbatch(dir.path(), args).status, 0);
  EXPECT_EQ(runbatch(dir.path(), args).status, 0);
}

TEST(BatchFolder, OneRunAtATimeWritesEachSetOfFiles) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  fs::create_directories(dir.path() / "out");
  const std::string batch = shellquote(COMBOSIM_BATCH_EXE) + " ";
  const std::string golden = " " + shellquote(source("tests/fixtures/golden_1x1.txt"));
  // The shell holds a lock as another combosim-batch would: first the whole
  // run's, then part 2 of 2's.
  const ProgramRun run = runindir(
      dir.path(),
      "exec 9> out/.combosim.lock; flock -n 9 || exit 9; " + batch +
          "--out out" + golden + " > /dev/null; echo run $?; " + batch +
          "merge --out out parts/x.shard-1-of-2.json; echo merge $?; " + batch +
          "--seed 1 --shard 2/2 --out out" + golden + " > /dev/null; echo part $?; "
          "exec 9> out/.combosim.shard-2-of-2.lock; flock -n 9 || exit 9; " +
          batch + "--seed 1 --shard 2/2 --out out" + golden +
          " > /dev/null; echo part $?; " + batch + "--seed 1 --shard 1/2 --out out" +
          golden + " > /dev/null; echo other part $?; " + batch + "--out out" +
          golden + " > /dev/null; echo run $?");
  EXPECT_EQ(run.out, "run 2\nmerge 2\npart 0\npart 2\nother part 0\nrun 0\n");
  const std::string held =
      "combosim-batch: another run is writing the files of ";
  EXPECT_EQ(run.err,
            held + "a whole run into out (it holds out/.combosim.lock); wait "
                   "for it to end\n" +
                held + "a whole run into out (it holds out/.combosim.lock); "
                       "wait for it to end\n" +
                held + "part 2 of 2 into out (it holds "
                       "out/.combosim.shard-2-of-2.lock); wait for it to end\n");
}

TEST(BatchFolder, NoTemporaryFileOutlivesTheNextRun) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string batch = shellquote(COMBOSIM_BATCH_EXE) +
                            " --trials --out out " +
                            shellquote(source("examples/demo.txt"));
  // The batch program killed as its worker starts; the worker ends with it
  // and leaves its temporary trials file.
  const ProgramRun killed = runindir(
      dir.path(), batch + " > /dev/null 2>&1 & pid=$!; "
                          "for i in $(seq 400); do ls out/*.tmp* > /dev/null "
                          "2>&1 && break; sleep 0.05; done; "
                          "kill -KILL $pid; wait; flock out/.combosim.lock true");
  const auto temporaries = [&dir] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path() / "out")) {
      const std::string name = entry.path().filename().string();
      if (name.find(".tmp") != std::string::npos) names.push_back(name);
    }
    return names;
  };
  ASSERT_EQ(temporaries().size(), 1u) << killed.err;
  // Only temporaries of the files the run writes go.
  std::ofstream(dir.path() / "out/demo.csv.tmp12") << "mine\n";
  const ProgramRun next = runindir(dir.path(), batch + " > /dev/null");
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(temporaries(), std::vector<std::string>{"demo.csv.tmp12"});
}

TEST(BatchProgram, ManifestListsExactlyTheRunAndComesLast) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string golden = source("tests/fixtures/golden_1x1.txt");
  const BatchRun run = runbatch(dir.path(), {"--out", "out", golden, "missing.txt"});
  EXPECT_EQ(run.status, 1);
  const Json manifest = loadjson(dir.path() / "out/manifest.json");
  EXPECT_EQ(manifest["scenarios"],
            Json::parse(R"([{"name": "golden_1x1", "source": ")" + golden +
                        R"(", "mathlib": ")" + mathimplementation() +
                        R"(", "files": ["golden_1x1.txt", "golden_1x1.json"]}])"));
  EXPECT_EQ(manifest["files"],
            Json::parse(R"(["summary.csv", "oc.csv", "report.html"])"));
  EXPECT_EQ(manifest["problems"],
            Json::parse(R"(["missing.txt: cannot be read: No such file or directory"])"));
  const std::string summary = readfile(dir.path() / "out/summary.csv");
  EXPECT_EQ(sortedlines(summary).size(), 2u);  // the header and one cell

  // A run that writes nothing leaves the directory as it was.
  const BatchRun typo = runbatch(dir.path(), {"--out", "out", "golden_1x1.tx"});
  EXPECT_EQ(typo.status, 1);
  EXPECT_EQ(readfile(dir.path() / "out/summary.csv"), summary);
  EXPECT_EQ(loadjson(dir.path() / "out/manifest.json"), manifest);

  // A run killed once its first scenario's files are in place leaves no
  // manifest: the directory says that its files do not make one run.
  const std::string command =
      "set -m; " + shellquote(COMBOSIM_BATCH_EXE) + " --jobs 1 --out out " +
      shellquote(golden) + " " + shellquote(source("examples/demo.txt")) +
      " > /dev/null 2>&1 & pid=$!; "
      "for i in $(seq 400); do [ -e out/manifest.json ] || break; sleep 0.05; done; "
      "kill -KILL -- -$pid; wait";
  const ProgramRun killed = runindir(dir.path(), command);
  EXPECT_FALSE(fs::exists(dir.path() / "out/manifest.json")) << killed.err;
  EXPECT_NE(readfile(dir.path() / "out/golden_1x1.txt"), "");
}

TEST(BatchProgram, MergeNamesWhatIsNotAShardAndMergesTheRest) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const char* part : {"1/2", "2/2"}) {
    ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--shard", part, "--out", "parts",
                                    source("tests/fixtures/golden_1x1.txt"),
                                    source(kSmallJson)})
                  .status,
              0);
  }
  // A number too large for a double in one part.
  std::string text = readfile(dir.path() / "parts/batch_small_json.shard-2-of-2.json");
  const std::size_t at = text.find("\"cpuseconds\": ") + 14;
  text.replace(at, text.find('\n', at) - at, "1e400");
  fs::create_directories(dir.path() / "bad");
  std::ofstream(dir.path() / "bad/batch_small_json.shard-2-of-2.json") << text;

  const BatchRun merge = runbatch(
      dir.path(), {"merge", "--out", "m", "parts/golden_1x1.shard-1-of-2.json",
                   "parts/golden_1x1.shard-2-of-2.json",
                   "parts/batch_small_json.shard-1-of-2.json",
                   "bad/batch_small_json.shard-2-of-2.json", source(kSmallJson),
                   "parts/summary.shard-1-of-2.csv", "parts/manifest-shard-1-of-2.json"});
  EXPECT_EQ(merge.status, 1);
  EXPECT_EQ(merge.err,
            "bad/batch_small_json.shard-2-of-2.json: cpuseconds: a number too "
            "large for a double\n" +
                source(kSmallJson) +
                ": a scenario file, not a shard file: run it with --seed S "
                "--shard K/N first\n"
                "parts/summary.shard-1-of-2.csv: not a shard file of "
                "combosim-batch (NAME.shard-K-of-N.json, written by a run with "
                "--seed S --shard K/N)\n"
                "parts/manifest-shard-1-of-2.json: the manifest of a run, not a "
                "shard file\n"
                "batch_small_json: shard 2 of 2 missing\n");
  EXPECT_TRUE(fs::exists(dir.path() / "m/golden_1x1.json"));
  EXPECT_EQ(loadjson(dir.path() / "m/manifest.json")["scenarios"].size(), 1u);
}

TEST(BatchProgram, MathFunctionsAreRecordedAndNotMixed) {
  const std::string here = mathimplementation();
  if (here == "unknown") {
    GTEST_SKIP() << "SKIPPED LOUDLY: this C library's pow, log and exp are "
                    "neither implementation the probe knows";
  }
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string scenario = source("tests/fixtures/golden_1x1.txt");
  // The setting that selects the implementation without fused multiply-add.
  const std::string nofma = "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA";
  ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--shard", "1/2", "--out", "parts", scenario},
                     COMBOSIM_BATCH_EXE, {nofma})
                .status,
            0);
  ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--shard", "2/2", "--out", "parts", scenario})
                .status,
            0);
  const fs::path parts = dir.path() / "parts";
  EXPECT_EQ(loadjson(parts / "golden_1x1.shard-1-of-2.json")["mathlib"], "no-fma");
  EXPECT_EQ(loadjson(parts / "golden_1x1.shard-2-of-2.json")["mathlib"], here);
  EXPECT_NE(readfile(parts / "golden_1x1.shard-1-of-2.txt")
                .find("\nMath functions: no-fma (pow, log and exp without fused "
                      "multiply-add)\n"),
            std::string::npos);
  const BatchRun merge = runbatch(
      dir.path(), {"merge", "--out", "m", "parts/golden_1x1.shard-1-of-2.json",
                   "parts/golden_1x1.shard-2-of-2.json"});
  if (here == "no-fma") {
    // This processor has no fused multiply-add: both parts ran the same.
    EXPECT_EQ(merge.status, 0) << merge.err;
  } else {
    EXPECT_EQ(merge.status, 1);
    EXPECT_EQ(merge.err.substr(0, merge.err.find('\n')),
              "golden_1x1: the parts ran on different implementations of pow, "
              "log and exp (no-fma, fma)");
  }
}

TEST(BatchProgram, SummaryCsvAgreesWithTheJsonAndTheReport) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const BatchRun run = runbatch(
      dir.path(), {"--seed", "3", "--out", "out", source(kSmallJson),
                   source("tests/fixtures/golden_2x4.txt")});
  ASSERT_EQ(run.status, 0) << run.err;

  std::istringstream csv(readfile(dir.path() / "out/summary.csv"));
  std::string line;
  std::getline(csv, line);
  ASSERT_EQ(csvfields(line),
            (std::vector<std::string>{
                "scenario", "drug1", "drug2", "truetox", "trueresp",
                "meanpatients", "meantoxicities", "meanresponses",
                "selectionpercent", "inconclusivepercent", "trials",
                "generator", "seed", "shard", "nshard", "targettox", "mineff",
                "escalate", "deescalate", "admissible", "safety", "futility",
                "minpatients"}));
  std::map<std::string, int> rows;
  const auto number = [](const std::string& text) { return std::strtod(text.c_str(), nullptr); };
  while (std::getline(csv, line)) {
    const std::vector<std::string> f = csvfields(line);
    ASSERT_EQ(f.size(), 23u) << line;
    const Json j = loadjson(dir.path() / "out" / (f[0] + ".json"));
    const std::size_t d1 = std::stoul(f[1]) - 1;
    const std::size_t d2 = std::stoul(f[2]) - 1;
    EXPECT_EQ(number(f[3]), j["scenario"]["scentox"][d1][d2].get<double>()) << line;
    EXPECT_EQ(number(f[4]), j["scenario"]["sceneff"][d1][d2].get<double>()) << line;
    EXPECT_EQ(number(f[5]), j["averages"]["patients"][d1][d2].get<double>()) << line;
    EXPECT_EQ(number(f[6]), j["averages"]["toxicities"][d1][d2].get<double>()) << line;
    EXPECT_EQ(number(f[7]), j["averages"]["responses"][d1][d2].get<double>()) << line;
    EXPECT_EQ(number(f[8]), j["selectionpercent"][d1][d2].get<double>()) << line;
    EXPECT_EQ(number(f[9]), j["inconclusivepercent"].get<double>()) << line;
    EXPECT_EQ(f[10], std::to_string(j["trials"].get<int>())) << line;
    EXPECT_EQ(f[11], "mt19937_64");
    EXPECT_EQ(f[12], "3");
    EXPECT_EQ(f[13], "");  // every shard
    EXPECT_EQ(f[14], "1");
    EXPECT_EQ(number(f[15]), j["scenario"]["targettox"].get<double>()) << line;
    EXPECT_EQ(f[17], "0.8");  // the default rules
    EXPECT_EQ(f[22], "6");
    ++rows[f[0]];
  }
  EXPECT_EQ(rows, (std::map<std::string, int>{{"batch_small_json", 4}, {"golden_2x4", 8}}));

  // The JSON's averages are the report's figures before rounding.
  const std::string report = readfile(dir.path() / "out/golden_2x4.txt");
  const Json j = loadjson(dir.path() / "out/golden_2x4.json");
  const auto patients = reporttable(report, "Number of patients treated at each dose: ", 4);
  const auto selected = reporttable(report, "Selection probabilities (%): ", 4);
  for (std::size_t d2 = 0; d2 < 4; ++d2) {
    for (std::size_t d1 = 0; d1 < 2; ++d1) {
      EXPECT_EQ(patients[3 - d2][d1], twodecimals(j["averages"]["patients"][d1][d2].get<double>()));
      EXPECT_EQ(selected[3 - d2][d1], twodecimals(j["selectionpercent"][d1][d2].get<double>()));
    }
  }
}

TEST(BatchProgram, RulesAndTrialOutcomesReachEveryOutput) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  Json j = smalljson();
  j["ntrial"] = 6;
  j["rules"] = {{"escalate", 0.9}, {"minpatients", 9}};
  std::ofstream(dir.path() / "strict.json") << j.dump();
  const BatchRun run =
      runbatch(dir.path(), {"--trials", "--out", "out", "strict.json"});
  ASSERT_EQ(run.status, 0) << run.err;

  const std::string report = readfile(dir.path() / "out/strict.txt");
  EXPECT_NE(report.find("escalate if pr(toxicity<0.3) > 0.9\n"), std::string::npos);
  EXPECT_NE(report.find("de-escalate if pr(toxicity<0.3) < 0.45\n"), std::string::npos);
  const Json result = loadjson(dir.path() / "out/strict.json");
  EXPECT_EQ(result["scenario"]["rules"],
            Json::parse(R"({"escalate": 0.9, "deescalate": 0.45, "admissible": 0.4,
                            "safety": 0.4, "futility": 0.15, "minpatients": 9})"));

  // One row per trial; together they make the outcome sums.
  std::istringstream csv(readfile(dir.path() / "out/strict.trials.csv"));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "trial,selected,reason,patients,toxicities,responses,overtoxic");
  const Json& sums = result["sums"]["outcomes"];
  std::int64_t trials = 0, patients = 0, selected = 0, overtoxic = 0;
  while (std::getline(csv, line)) {
    const std::vector<std::string> f = csvfields(line);
    ASSERT_EQ(f.size(), 7u) << line;
    overtoxic += std::stoll(f[6]);
    EXPECT_EQ(f[0], std::to_string(++trials));
    EXPECT_EQ(f[1].empty(), f[2] != "selected") << line;
    selected += f[1].empty() ? 0 : 1;
    patients += std::stoll(f[3]);
  }
  EXPECT_EQ(trials, 6);
  EXPECT_EQ(patients, sums["patients"].get<std::int64_t>());
  EXPECT_EQ(overtoxic, sums["overtoxic"].get<std::int64_t>());
  EXPECT_EQ(selected, sums["reasons"]["selected"].get<std::int64_t>());
}

TEST(BatchProgram, DesignOptionsAreRecordedOnlyWhereSet) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  Json j = smalljson();
  j["ntrial"] = 2;
  std::ofstream(dir.path() / "plain.json") << j.dump();
  j["rules"] = {{"minpatients_stop", 2}, {"phase2", "treated"}, {"start", {2, 1}}};
  std::ofstream(dir.path() / "options.json") << j.dump();
  const BatchRun run =
      runbatch(dir.path(), {"--out", "out", "plain.json", "options.json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string options = "minpatients_stop=2;phase2=treated;start=[2,1]";

  EXPECT_EQ(loadjson(dir.path() / "out/options.json")["scenario"]["rules"],
            Json::parse(R"({"escalate": 0.8, "deescalate": 0.45, "admissible": 0.4,
                            "safety": 0.4, "futility": 0.15, "minpatients": 6,
                            "minpatients_stop": 2, "phase2": "treated",
                            "start": [2, 1]})"));
  EXPECT_NE(readfile(dir.path() / "out/options.txt")
                .find("\nDesign options: " + options + "\nRandom numbers: "),
            std::string::npos);
  EXPECT_EQ(readfile(dir.path() / "out/plain.txt").find("Design options"),
            std::string::npos);
  // The last column of both CSV files: empty for the scenario without.
  for (const char* csv : {"out/summary.csv", "out/oc.csv"}) {
    std::istringstream lines(readfile(dir.path() / csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(csvfields(line).back(), "options") << csv;
    while (std::getline(lines, line)) {
      const std::vector<std::string> f = csvfields(line);
      EXPECT_EQ(f.back(), f[0] == "options" ? options : "") << line;
    }
  }
  const std::string report = readfile(dir.path() / "out/report.html");
  EXPECT_NE(report.find("<th scope=\"col\">Options</th></tr>"), std::string::npos);
  EXPECT_NE(report.find("<td>" + options + "</td></tr>"), std::string::npos);
}

// The patients map's scale end in each scenario's section of report.html,
// in the order of the sections: the second of its three scales.
std::vector<std::string> patientscales(const std::string& report) {
  static const std::regex scaleend(
      "class=\"level end\" x=\"[0-9]+\" y=\"[0-9]+\">([^<]*)</text></g>");
  std::vector<std::string> tops;
  std::vector<std::string> ends;
  for (std::sregex_iterator m(report.begin(), report.end(), scaleend), end;
       m != end; ++m) {
    ends.push_back((*m)[1]);
  }
  for (std::size_t i = 1; i < ends.size(); i += 3) tops.push_back(ends[i]);
  return tops;
}

// --shared-scales gives the patients maps of every scenario the largest end;
// the default keeps each scenario's own, and only report.html differs.
// merge takes the flag itself; a part, which writes no report, refuses it.
TEST(BatchProgram, SharedScalesOnlyWhenAskedAndAtMerge) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string small = source("tests/fixtures/golden_1x1.txt");
  const std::string large = source("tests/fixtures/golden_2x4.txt");
  ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--out", "own", small, large}).status, 0);
  ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--shared-scales", "--out", "shared",
                                  small, large}).status, 0);
  const std::vector<std::string> own = patientscales(readfile(dir.path() / "own/report.html"));
  ASSERT_EQ(own.size(), 2u);
  ASSERT_NE(own[0], own[1]);  // else the test shows nothing
  const std::string top = std::to_string(std::max(std::stoi(own[0]), std::stoi(own[1])));
  EXPECT_EQ(patientscales(readfile(dir.path() / "shared/report.html")),
            (std::vector<std::string>{top, top}));
  for (const char* file : {"summary.csv", "oc.csv", "manifest.json"}) {
    EXPECT_EQ(readfile(dir.path() / "own" / file), readfile(dir.path() / "shared" / file))
        << file;
  }

  for (const char* part : {"1/2", "2/2"}) {
    ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--shard", part, "--out", "parts",
                                    small, large}).status, 0) << part;
  }
  const BatchRun refused = runbatch(dir.path(), {"--seed", "4", "--shard", "1/2",
                                                 "--shared-scales", "--out", "x", small});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("give --shared-scales to merge"), std::string::npos)
      << refused.err;
  std::vector<std::string> parts;
  for (const auto& entry : fs::directory_iterator(dir.path() / "parts")) {
    if (entry.path().extension() == ".json" &&
        entry.path().filename().string().find(".shard-") != std::string::npos) {
      parts.push_back(entry.path().string());
    }
  }
  ASSERT_EQ(parts.size(), 4u);
  std::vector<std::string> merge = {"merge", "--shared-scales", "--out", "merged"};
  merge.insert(merge.end(), parts.begin(), parts.end());
  ASSERT_EQ(runbatch(dir.path(), merge).status, 0);
  const std::vector<std::string> merged =
      patientscales(readfile(dir.path() / "merged/report.html"));
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0], merged[1]);
  merge.erase(merge.begin() + 1);
  merge[2] = "plain";
  ASSERT_EQ(runbatch(dir.path(), merge).status, 0);
  const std::vector<std::string> plain =
      patientscales(readfile(dir.path() / "plain/report.html"));
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(std::max(std::stoi(plain[0]), std::stoi(plain[1])), std::stoi(merged[0]));
  EXPECT_NE(plain[0], plain[1]);
  EXPECT_EQ(runbatch(dir.path(), {"--shared-scales", "merge", "--out", "y", parts[0]}).status,
            2);
}

TEST(BatchProgram, FormulaLikeNamesAreQuotedInTheCsvFiles) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const char* name : {"=HYPERLINK(1).txt", "@cmd.txt"}) {
    fs::copy_file(sourcefile("tests/fixtures/golden_1x1.txt"), dir.path() / name);
  }
  const BatchRun run =
      runbatch(dir.path(), {"--out", "out", "=HYPERLINK(1).txt", "@cmd.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* csv : {"out/summary.csv", "out/oc.csv"}) {
    const std::vector<std::string> rows = sortedlines(readfile(dir.path() / csv));
    ASSERT_EQ(rows.size(), 3u) << csv;
    EXPECT_EQ(rows[0].rfind("\"'=HYPERLINK(1)\",", 0), 0u) << rows[0];
    EXPECT_EQ(rows[1].rfind("\"'@cmd\",", 0), 0u) << rows[1];
  }
}

TEST(BatchProgram, FileNamesThatAreNotUtf8NeverAbort) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string golden = source("tests/fixtures/golden_1x1.txt");
  fs::create_directories(dir.path() / "d\xFE");
  fs::copy_file(golden, dir.path() / "d\xFE/ok.txt");
  fs::copy_file(golden, dir.path() / "\xFF" "bad.txt");
  // A folder, a scenario's own name and a typo that are not UTF-8: the
  // scenario runs, its name is refused, the typo is reported.
  const BatchRun run = runbatch(
      dir.path(), {"--out", "out", "d\xFE/ok.txt", "\xFF" "bad.txt", "typo\xFD.txt"});
  EXPECT_EQ(run.status, 1);
  const std::string badname =
      "\\xffbad.txt: the name \\xffbad is not valid UTF-8, which the result "
      "files cannot record; rename the file";
  const std::string typo = "typo\\xfd.txt: cannot be read: No such file or directory";
  EXPECT_EQ(sortedlines(run.err), sortedlines(badname + "\n" + typo + "\n"));
  const Json manifest = loadjson(dir.path() / "out/manifest.json");
  ASSERT_EQ(manifest["scenarios"].size(), 1u);
  EXPECT_EQ(manifest["scenarios"][0]["source"], "d\xEF\xBF\xBD/ok.txt");  // U+FFFD
  EXPECT_EQ(manifest["scenarios"][0]["source_bytes_replaced"], true);
  EXPECT_EQ(manifest["problems"], Json::array({badname, typo}));
  EXPECT_EQ(loadjson(dir.path() / "out/ok.json")["source_bytes_replaced"], true);

  // A merge of such parts, with a typo among them.
  for (const char* part : {"1/2", "2/2"}) {
    ASSERT_EQ(runbatch(dir.path(), {"--seed", "4", "--shard", part, "--out", "d\xFE",
                                    "d\xFE/ok.txt"})
                  .status,
              0);
  }
  const BatchRun merge =
      runbatch(dir.path(), {"merge", "--out", "m", "d\xFE/ok.shard-1-of-2.json",
                            "d\xFE/ok.shard-2-of-2.json", "d\xFE/typo\xFD.json"});
  EXPECT_EQ(merge.status, 1);
  const std::string missing =
      "d\\xfe/typo\\xfd.json: cannot be read: No such file or directory";
  EXPECT_EQ(merge.err, missing + "\n");
  EXPECT_EQ(loadjson(dir.path() / "m/ok.json")["source_bytes_replaced"], true);
  EXPECT_EQ(loadjson(dir.path() / "m/manifest.json")["problems"], Json::array({missing}));
}

TEST(BatchScripts, ShardScriptsMergeToTheOneProcessRun) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::vector<std::string> scenarios = {
      source("tests/fixtures/golden_1x1.txt"), source(kSmallJson)};
  const std::string program = "COMBOSIM_BATCH=" + shellquote(COMBOSIM_BATCH_EXE);
  std::vector<std::string> whole = {"--seed", "5", "--shards", "3", "--out", "whole"};
  whole.insert(whole.end(), scenarios.begin(), scenarios.end());
  ASSERT_EQ(runbatch(dir.path(), whole).status, 0);
  // A shard file an earlier run left in each shard folder: never merged.
  ASSERT_EQ(runbatch(dir.path(), {"--seed", "6", "--shard", "1/3", "--out", "stale",
                                  source("tests/fixtures/golden_2x4.txt")})
                .status,
            0);
  const auto leavestale = [&dir](const std::string& folder) {
    fs::create_directories(dir.path() / folder / "shards");
    fs::copy_file(dir.path() / "stale/golden_2x4.shard-1-of-3.json",
                  dir.path() / folder / "shards/golden_2x4.shard-1-of-3.json");
  };

  // On one machine: with GNU parallel when installed, and with xargs -P.
  std::vector<std::string> runners = {"xargs"};
  if (std::system("command -v parallel > /dev/null 2>&1") == 0) runners.push_back("parallel");
  for (const std::string& runner : runners) {
    leavestale(runner);
    std::vector<std::string> args = {"5", "3", runner};
    args.insert(args.end(), scenarios.begin(), scenarios.end());
    const BatchRun run =
        runbatch(dir.path(), args, source("scripts/batch-parallel.sh"),
                 {program, "JOBS=2", "SHARD_RUNNER=" + runner});
    EXPECT_EQ(run.status, 0) << runner << run.err;
    for (const char* stem : {"golden_1x1", "batch_small_json"}) {
      expectsameoutputs(dir.path() / runner, dir.path() / "whole", stem);
    }
    EXPECT_EQ(readfile(dir.path() / runner / "summary.csv"),
              readfile(dir.path() / "whole/summary.csv"))
        << runner;
    EXPECT_EQ(loadjson(dir.path() / runner / "manifest.json"),
              loadjson(dir.path() / "whole/manifest.json"))
        << runner;
  }

  // A Slurm array of 3 tasks, as Slurm starts them, then the merge job.
  leavestale("slurm");
  for (int task = 1; task <= 3; ++task) {
    std::vector<std::string> args = {"5", "slurm"};
    args.insert(args.end(), scenarios.begin(), scenarios.end());
    const BatchRun run = runbatch(
        dir.path(), args, source("scripts/batch-slurm.sh"),
        {program, "SLURM_ARRAY_TASK_ID=" + std::to_string(task),
         "SLURM_ARRAY_TASK_COUNT=3", "SLURM_ARRAY_TASK_MIN=1", "SLURM_ARRAY_TASK_MAX=3"});
    EXPECT_EQ(run.status, 0) << task << run.err;
  }
  std::vector<std::string> mergeargs = {"--merge", "3", "slurm"};
  mergeargs.insert(mergeargs.end(), scenarios.begin(), scenarios.end());
  const BatchRun merge =
      runbatch(dir.path(), mergeargs, source("scripts/batch-slurm.sh"), {program});
  EXPECT_EQ(merge.status, 0) << merge.err;
  for (const char* stem : {"golden_1x1", "batch_small_json"}) {
    expectsameoutputs(dir.path() / "slurm", dir.path() / "whole", stem);
  }
  EXPECT_EQ(readfile(dir.path() / "slurm/summary.csv"),
            readfile(dir.path() / "whole/summary.csv"));
  EXPECT_EQ(loadjson(dir.path() / "slurm/manifest.json"),
            loadjson(dir.path() / "whole/manifest.json"));
}

}  // namespace
