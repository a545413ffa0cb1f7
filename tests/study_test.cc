// tests/study_test.cc: combosim-study. Study files refused naming file and
// field, a design formed as the base plus its changes, designs that differ
// only in phase II sharing their phase I trial by trial; then the built
// program: a design against itself differs by exactly 0, parts merge to the
// whole study, an unpaired study gives no paired SE.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "engine/observer.h"
#include "engine/simulate.h"
#include "formats/jsonfile.h"
#include "formats/studyfile.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

const char kBorderline[] = "tests/fixtures/study_borderline.json";

// Writes `text` to `dir`/`name` and returns its path.
std::string writefile(const fs::path& dir, const std::string& name,
                      const std::string& text) {
  std::ofstream(dir / name, std::ios::binary) << text;
  return (dir / name).string();
}

// A study file on the borderline scenario, with `extra` fields and
// `designs`.
std::string studytext(const std::string& designs, const std::string& extra = "") {
  return "{\"scenarios\": [\"" + sourcefile(kBorderline).string() +
         "\"], \"designs\": [" + designs + "], \"reference\": \"A\", \"seed\": 3" +
         extra + "}";
}

TEST(StudyFile, BadInputIsRefusedNamingFileAndField) {
  ScratchDir dir;
  const std::string base = writefile(
      dir.path(), "base.json",
      R"({"ndose1": 2, "ndose2": 2, "targettox": 0.25, "mineff": 0.2,
          "scenprior1": [0.2, 0.35], "scenprior2": [0.2, 0.35], "ncohort1": 6,
          "cohortsize1": 3, "ncohort2": 4, "cohortsize2": 3})");
  struct Case {
    std::string text;
    std::string problem;  // after "PATH: "
  } const cases[] = {
      {studytext(R"({"name": "A"})", R"(, "trails": 10)"), "trails: unknown field"},
      {studytext(R"({"name": "B"})"),
       "reference: \"A\" is not the name of one of the designs"},
      {studytext(R"({"name": "A"}, {"name": "A", "ncohort2": 2})"),
       "designs[2] (A).name: the name of designs[1] (A) too"},
      {studytext(R"({"name": "A"}, {"name": "a b"})"),
       "designs[2].name: \"a b\" is not a design name (letters, digits, - and _)"},
      {studytext(R"({"name": "A", "scentox": [[0.1, 0.2], [0.3, 0.4]]})"),
       "designs[1] (A).scentox: a truth field, which the scenarios give; a "
       "design changes design fields only"},
      {studytext(R"({"name": "A", "ntrial": 5})"),
       "designs[1] (A).ntrial: the study's \"trials\" sets the trials of every "
       "design"},
      {studytext(R"({"name": "A", "rule": {}})"), "designs[1] (A).rule: unknown field"},
      {studytext(R"({"name": "A"})", ", \"base\": \"base.json\""),
       "base (base.json): targettox 0.25 differs from 0.3 in " +
           sourcefile(kBorderline).string() +
           "; a base fits every scenario of its study"},
      {R"({"scenarios": [], "designs": [{"name": "A"}], "reference": "A"})",
       "seed: missing; paired designs need a seed (or \"paired\": false)"},
      {studytext(R"({"name": "A", "ncohort2": 1001})"),
       "designs[1] (A) on " + sourcefile(kBorderline).string() +
           ": ncohort2: The total number of cohorts for the phase II trial must be "
           "at most 1000"},
  };
  for (const Case& c : cases) {
    const std::string path = writefile(dir.path(), "study.json", c.text);
    const Study study = readstudyfile(path);
    EXPECT_EQ(study.problem.substr(0, path.size() + 2), path + ": ") << c.text;
    EXPECT_EQ(study.problem.substr(std::min(study.problem.size(), path.size() + 2)),
              c.problem)
        << c.text;
  }
  // A problem of the base's own file names that file.
  writefile(dir.path(), "base.json", R"({"ndose1": 2})");
  const std::string path = writefile(
      dir.path(), "study.json", studytext(R"({"name": "A"})", ", \"base\": \"base.json\""));
  EXPECT_EQ(readstudyfile(path).problem, (dir.path() / "base.json").string() +
                                             ": ndose2: missing");
}

TEST(StudyFile, DesignIsTheBasePlusItsChanges) {
  ScratchDir dir;
  const std::string path = writefile(
      dir.path(), "study.json",
      studytext(R"({"name": "A"}, {"name": "B", "rules": {"escalate": 0.9},
                   "scenprior1": [0.1, 0.3]})",
                ", \"trials\": 7"));
  const Study own = readstudyfile(path);
  ASSERT_EQ(own.problem, "");
  const Scenario& a = own.scenarios[0].cells[0].scenario;
  const Scenario& b = own.scenarios[0].cells[1].scenario;
  EXPECT_EQ(a.settings.ntrial, 7);
  EXPECT_EQ(b.settings.ntrial, 7);
  // The change names one rule: the scenario's other rules stay.
  EXPECT_EQ(own.scenarios[0].cells[0].rules.escalate, 0.8);
  EXPECT_EQ(own.scenarios[0].cells[1].rules.escalate, 0.9);
  EXPECT_EQ(own.scenarios[0].cells[1].rules.deescalate, 0.5);
  EXPECT_EQ(b.input.scenprior1[0], 0.1);
  EXPECT_EQ(a.input.scenprior1[0], 0.2);
  EXPECT_EQ(b.input.scentox[1][1], 0.6);
  EXPECT_EQ(own.scenarios[0].cells[1].posterior.method, PosteriorMethod::kQuadrature);
  ASSERT_EQ(own.notes.size(), 1u);
  EXPECT_EQ(own.notes[0], path + ": trials 7 replaces ntrial 10 of " +
                              sourcefile(kBorderline).string());

  // A base in place of the scenario's design fields: its rules, priors and
  // method (gibbs), whatever the scenario said.
  const std::string based = writefile(
      dir.path(), "based.json",
      studytext(R"({"name": "A", "ncohort2": 2})",
                R"(, "paired": false, "base": {"ndose1": 2, "ndose2": 2,
                    "targettox": 0.3, "mineff": 0.2, "scenprior1": [0.1, 0.2],
                    "scenprior2": [0.1, 0.2], "ncohort1": 5, "cohortsize1": 2,
                    "ncohort2": 3, "cohortsize2": 2, "scentox": "ignored"})"));
  const Study study = readstudyfile(based);
  ASSERT_EQ(study.problem, "");
  const StudyCell& cell = study.scenarios[0].cells[0];
  EXPECT_EQ(cell.scenario.settings.ncohort1, 5);
  EXPECT_EQ(cell.scenario.settings.ncohort2, 2);
  EXPECT_EQ(cell.scenario.input.scenprior2[1], 0.2);
  EXPECT_EQ(cell.scenario.input.scentox[0][1], 0.45);
  EXPECT_EQ(cell.rules.deescalate, DesignRules{}.deescalate);
  EXPECT_EQ(cell.posterior.method, PosteriorMethod::kGibbs);
  EXPECT_FALSE(study.paired);
  ASSERT_EQ(study.notes.size(), 1u);
  EXPECT_EQ(study.notes[0], based + ": the base replaces the design fields of " +
                                sourcefile(kBorderline).string());
}

// Each trial's phase I as the engine ran it: whether it stopped there, and
// the admissible combinations it handed to phase II.
class PhaseOneCourse : public Observer {
 public:
  bool starttrial(std::int64_t) override {
    courses.push_back({});
    return true;
  }
  void beforeupdate(const TrialState& s, const StreamState&) override {
    Course& c = courses.back();
    if (s.phase1 || c.reached) return;
    c.reached = true;
    for (int k = 0; k < s.nadm; ++k) c.admissible.push_back({s.adm1[k], s.adm2[k]});
  }
  void endtrial(std::int64_t, const TrialOutcome& outcome) override {
    courses.back().stopped = outcome.reason == TrialEnd::kPhase1Stopped;
  }

  struct Course {
    bool stopped = false;
    bool reached = false;  // phase II began
    std::vector<std::pair<int, int>> admissible;
    bool operator==(const Course&) const = default;
  };
  std::vector<Course> courses;
};

TEST(Study, DesignsDifferingInPhaseTwoShareTheirPhaseOneTrialByTrial) {
  ScratchDir dir;
  const Study study = readstudyfile(writefile(
      dir.path(), "study.json",
      studytext(R"({"name": "A"}, {"name": "B", "ncohort2": 9})", ", \"trials\": 40")));
  ASSERT_EQ(study.problem, "");
  std::vector<PhaseOneCourse> seen(2);
  for (int d = 0; d < 2; ++d) {
    const StudyCell& cell = study.scenarios[0].cells[d];
    Design design = designof(cell.scenario, cell.rules);
    setposterior(design, cell.posterior);
    Streams streams;
    streams.seeded = true;
    streams.seed = study.seed;
    streams.paired = true;
    ASSERT_TRUE(simulate(design, cell.scenario.input, streams, &seen[d]).ok());
  }
  ASSERT_EQ(seen[0].courses.size(), 40u);
  EXPECT_TRUE(seen[0].courses == seen[1].courses);
  // Both kinds of course happened, so the comparison says something.
  int stopped = 0;
  int reached = 0;
  for (const auto& c : seen[0].courses) {
    stopped += c.stopped;
    reached += c.reached;
  }
  EXPECT_GT(stopped, 0);
  EXPECT_GT(reached, 0);
}

// --- The program ------------------------------------------------------------

ProgramRun study(const fs::path& dir, const std::string& args) {
  return runindir(dir, shellquote(COMBOSIM_STUDY_EXE) + " " + args);
}

// The lines of `text`.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The trials of a trials file that stopped in phase I.
std::set<std::string> phase1stops(const fs::path& file) {
  std::set<std::string> trials;
  for (const std::string& line : lines(readfile(file))) {
    if (line.find(",phase1_stopped,") != std::string::npos) {
      trials.insert(line.substr(0, line.find(',')));
    }
  }
  return trials;
}

TEST(StudyProgram, ItselfDiffersByZeroAndPartsMergeToTheWholeStudy) {
  ScratchDir dir;
  const std::string demo = sourcefile("examples/scenarios/demo.json").string();
  writefile(dir.path(), "study.json",
            "{\"scenarios\": [\"" + demo + "\", \"" + sourcefile(kBorderline).string() +
                "\"], \"designs\": [{\"name\": \"A\", \"posterior\": \"quadrature\"}, "
                "{\"name\": \"B\", \"posterior\": \"quadrature\", \"ncohort2\": 8}, "
                "{\"name\": \"same\", \"posterior\": \"quadrature\"}], "
                "\"reference\": \"A\", \"trials\": 12, \"seed\": 11}");
  const ProgramRun whole = study(dir.path(), "study.json --out whole --jobs 2 --trials");
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::vector<std::string> rows = lines(readfile(dir.path() / "whole/differences.csv"));
  ASSERT_EQ(rows.size(), 1u + 2 * 3 * 13);
  EXPECT_EQ(rows[0], "scenario,design,reference,figure,difference,difference_mcse,"
                     "unpaired_mcse");
  int zeros = 0;
  for (const std::string& row : rows) {
    if (row.find(",A,A,") == std::string::npos &&
        row.find(",same,A,") == std::string::npos) {
      continue;
    }
    // difference and paired SE exactly 0 (untried_patients may be NaN: empty)
    const std::regex zero("[^,]+,[^,]+,A,[a-z0-9_]+,(0,0|,),[^,]*");
    EXPECT_TRUE(std::regex_match(row, zero)) << row;
    ++zeros;
  }
  EXPECT_EQ(zeros, 2 * 2 * 13);
  // Phase II cohorts change nothing of phase I: the same trials stop there.
  for (const char* name : {"demo", "study_borderline"}) {
    const fs::path a = dir.path() / "whole/A" / (std::string(name) + ".trials.csv");
    EXPECT_EQ(phase1stops(a),
              phase1stops(dir.path() / "whole/B" / (std::string(name) + ".trials.csv")));
  }
  EXPECT_FALSE(phase1stops(dir.path() / "whole/A/study_borderline.trials.csv").empty());

  for (int k = 1; k <= 3; ++k) {
    const ProgramRun part = study(
        dir.path(), "study.json --out parts --trials --shard " + std::to_string(k) + "/3");
    ASSERT_EQ(part.status, 0) << part.err;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "parts/differences.csv"));
  const ProgramRun merge = study(
      dir.path(), "merge --out merged parts/manifest-shard-*-of-3.json");
  ASSERT_EQ(merge.status, 0) << merge.err;
  for (const char* file : {"designs.csv", "differences.csv", "report.html",
                           "B/study_borderline.trials.csv"}) {
    EXPECT_EQ(readfile(dir.path() / "merged" / file), readfile(dir.path() / "whole" / file))
        << file;
  }
  // The sums themselves, which further merges would add to.
  const auto sums = [&dir](const std::string& run) {
    Json j = Json::parse(readfile(dir.path() / run / "B/demo.compare.json"));
    for (const char* other : {"nshard", "shards"}) j.erase(other);
    return j;
  };
  EXPECT_EQ(sums("merged"), sums("whole"));
  // A part missing is refused.
  const ProgramRun missing = study(
      dir.path(), "merge --out merged2 parts/manifest-shard-1-of-3.json "
                  "parts/manifest-shard-2-of-3.json");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "combosim-study: merge: part 3 of 3 is missing\n");
  // A manifest's names become paths: one that leaves the folder is refused.
  Json damaged = Json::parse(readfile(dir.path() / "parts/manifest-shard-1-of-3.json"));
  damaged["study"]["designs"][1]["name"] = "../B";
  writefile(dir.path() / "parts", "manifest-shard-1-of-3.json", jsontext(damaged));
  const ProgramRun escape = study(
      dir.path(), "merge --out merged3 parts/manifest-shard-*-of-3.json");
  EXPECT_EQ(escape.status, 2);
  EXPECT_EQ(escape.err, "parts/manifest-shard-1-of-3.json: study: damaged (not as "
                        "combosim-study writes it)\n");
}

TEST(StudyProgram, UnpairedStudyHasNoPairedSeAndBadStudyRunsNothing) {
  ScratchDir dir;
  writefile(dir.path(), "study.json",
            studytext(R"({"name": "A"}, {"name": "B", "rules": {"escalate": 0.9}})",
                      ", \"paired\": false, \"trials\": 6"));
  const ProgramRun run = study(dir.path(), "study.json --out out --jobs 1");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> rows = lines(readfile(dir.path() / "out/differences.csv"));
  ASSERT_EQ(rows.size(), 1u + 2 * 13);
  // The correct figure of B: difference, no paired SE, an unpaired one.
  EXPECT_TRUE(std::regex_match(rows[14], std::regex(
      "study_borderline,B,A,correct,-?[0-9.e-]+,,[0-9.e-]+"))) << rows[14];

  writefile(dir.path(), "bad.json", studytext(R"({"name": "A", "mineff": 0.1})"));
  const ProgramRun bad = study(dir.path(), "bad.json --out badout");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "bad.json: designs[1] (A).mineff: a truth field, which the "
                     "scenarios give; a design changes design fields only\n");
  EXPECT_FALSE(fs::exists(dir.path() / "badout/manifest.json"));
}

}  // namespace

namespace {

TEST(StudyProgram, SearchRacesCandidatesAndWritesTheChosenDesign) {
  ScratchDir dir;
  const std::string scenario = sourcefile(kBorderline).string();
  const auto searchstudy = [&scenario](const std::string& rest) {
    return "{\"scenarios\": [\"" + scenario + "\"], \"seed\": 4, "
           "\"posterior\": \"quadrature\", " + rest + "}";
  };
  writefile(dir.path(), "search.json",
            searchstudy(R"("search": {"rules.escalate": [0.5, 0.8],
                "rules.deescalate": [0.45, 0.6], "rules.admissible": [0.4, 0.999]},
                "budget": {"trials": [8, 16], "confirm": 10})"));
  const ProgramRun run = study(dir.path(), "search.json --out cal --jobs 2");
  ASSERT_EQ(run.status, 0) << run.err;
  // 0.5 over 0.6 is infeasible: 2 of 8 combinations skipped.
  EXPECT_NE(run.out.find("6 candidates (2 infeasible combinations skipped)"),
            std::string::npos) << run.out;
  // Admitting nothing to phase II never selects right in this scenario.
  const std::string ranking = readfile(dir.path() / "cal/ranking.csv");
  EXPECT_EQ(ranking.find("rules.admissible=0.999"), std::string::npos) << ranking;
  const Json chosen = Json::parse(readfile(dir.path() / "cal/chosen.json"));
  EXPECT_EQ(chosen["rules"]["admissible"], 0.4);
  for (const char* file : {"calibration.csv", "calibration.html", "confirmation.csv",
                           "manifest.json", "confirmation/report.html"}) {
    EXPECT_TRUE(fs::exists(dir.path() / "cal" / file)) << file;
  }
  // The confirmation runs trials after the race's last.
  EXPECT_NE(readfile(dir.path() / "cal/confirmation.csv").find(",17,10,"),
            std::string::npos);
  // and its files record the processor time it took.
  EXPECT_GT(Json::parse(readfile(dir.path() / "cal/confirmation/study_borderline.json"))
                ["cpuseconds"].get<double>(), 0);

  const struct {
    std::string rest;
    std::string problem;
  } bad[] = {
      {R"("search": {}, "designs": [{"name": "A"}])",
       "designs: a study with a search tries the search's candidates, not designs"},
      {R"("search": {"rules.safety": {"from": 0.3, "to": 0.5, "step": -0.1}})",
       "search.rules.safety.step: must be above 0"},
      {R"("search": {"targettox": [0.2]})", "search.targettox: not a field"},
      {R"("search": {"rules.safety": [0.3]}, "objective": {"figure": "nonsense"})",
       "objective: figure \"nonsense\""},
      {R"("search": {"rules.safety": [0.3]}, "constraints": [{"figure": "overtoxic",
          "max": 5, "scenarios": ["elsewhere"]}])",
       "constraints[1].scenarios: unknown scenario \"elsewhere\""},
      {R"("search": {"rules.safety": {"from": 0.01, "to": 0.99, "step": 0.01},
          "ncohort2": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21]})",
       "search: 2079 candidates, more than the 1000 allowed"},
  };
  for (const auto& b : bad) {
    writefile(dir.path(), "bad.json", searchstudy(b.rest));
    const ProgramRun refused = study(dir.path(), "bad.json --out bad");
    EXPECT_EQ(refused.status, 2) << b.rest;
    EXPECT_NE(refused.err.find("bad.json: " + b.problem), std::string::npos)
        << refused.err;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "bad/manifest.json"));
}

}  // namespace
