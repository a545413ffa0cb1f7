// Choosing the posterior method in scenario and design files and on
// combosim-next's command line, and what the outputs record of it.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/merge.h"
#include "batch/resultjson.h"
#include "batch/scenariofile.h"
#include "formats/jsonfile.h"
#include "next/trialfile.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

Json demojson() {
  Json j;
  std::string problem;
  EXPECT_TRUE(readjsonfile(sourcefile("examples/scenarios/demo.json").string(), j, problem))
      << problem;
  return j;
}

TEST(PosteriorChoice, FilesChooseTheMethodAndBadValuesNameTheField) {
  Json j = demojson();
  EXPECT_EQ(readjsonscenario(j, "f").posterior.method, PosteriorMethod::kGibbs);
  j["posterior"] = "quadrature";
  ScenarioRead read = readjsonscenario(j, "f");
  ASSERT_EQ(read.problem, "");
  EXPECT_EQ(read.posterior.method, PosteriorMethod::kQuadrature);
  EXPECT_EQ(read.posterior.quadrature.ndraws, QuadratureSettings{}.ndraws);
  // The object form, and the record written back reads as the same choice.
  j["posterior"] = Json::parse(
      R"({"method": "quadrature", "nodes": {"toxicity": [16, 16, 8]}, "draws": 500})");
  read = readjsonscenario(j, "f");
  ASSERT_EQ(read.problem, "");
  EXPECT_EQ(read.posterior.quadrature.toxnodes[0], 16);
  EXPECT_EQ(read.posterior.quadrature.effnodes[0], QuadratureSettings{}.effnodes[0]);
  EXPECT_EQ(read.posterior.quadrature.ndraws, 500);
  const Json written = scenariotojson(read.scenario, &read.rules, &read.posterior);
  EXPECT_EQ(readjsonscenario(written, "w").posterior, read.posterior);

  const struct {
    Json value;
    std::string problem;
  } cases[] = {
      {"bayes", "f: posterior: must be \"gibbs\" or \"quadrature\", or an object with \"method\""},
      {Json::parse(R"({"method": "quadrature", "draws": 99})"),
       "f: posterior.draws: must be from 100 to 2000"},
      {Json::parse(R"({"method": "quadrature", "draws": 2001})"),
       "f: posterior.draws: must be from 100 to 2000"},
      {Json::parse(R"({"method": "quadrature", "nodes": {"toxicity": [48, 48, 97]}})"),
       "f: posterior.nodes.toxicity[3]: must be from 2 to 96"},
      {Json::parse(R"({"method": "quadrature", "nodes": {"toxicity": [96, 96, 8]}})"),
       "f: posterior.nodes.toxicity: at most 32768 nodes in all"},
      {Json::parse(R"({"method": "gibbs", "draws": 500})"),
       "f: posterior.draws: taken only by the quadrature method"},
      {Json::parse(R"({"method": "quadrature", "ndraws": 500})"),
       "f: posterior.ndraws: unknown field"},
  };
  for (const auto& c : cases) {
    j["posterior"] = c.value;
    EXPECT_EQ(readjsonscenario(j, "f").problem, c.problem) << c.value;
  }

  // A design file of combosim-next reads the same field, named with its file.
  ScratchDir dir;
  Json design = demojson();
  design["posterior"] = Json::parse(R"({"method": "quadrature", "draws": 50})");
  const fs::path path = dir.path() / "design.json";
  std::ofstream(path) << design.dump();
  std::ofstream(dir.path() / "trial.csv") << "drug1,drug2,patients,toxicities,responses\n";
  EXPECT_EQ(readtrial((dir.path() / "trial.csv").string(), path.string()).problem,
            path.string() + ": posterior.draws: must be from 100 to 2000");
}

// The default node counts as the outputs write them: "48x48x8" and "24x24".
std::string toxnodes() {
  const QuadratureSettings q;
  return std::to_string(q.toxnodes[0]) + "x" + std::to_string(q.toxnodes[1]) + "x" +
         std::to_string(q.toxnodes[2]);
}
std::string effnodes() {
  const QuadratureSettings q;
  return std::to_string(q.effnodes[0]) + "x" + std::to_string(q.effnodes[1]);
}

int runshell(const std::string& command) {
  const int wait = std::system(command.c_str());
  return wait != -1 && WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
}

TEST(PosteriorChoice, BatchRecordsTheMethodWhereItIsNotGibbs) {
  ScratchDir dir;
  Json j = demojson();
  j["ntrial"] = 2;
  std::ofstream(dir.path() / "g.json") << j.dump();
  j["posterior"] = "quadrature";
  std::ofstream(dir.path() / "q.json") << j.dump();
  ASSERT_EQ(runshell("cd " + shellquote(dir.path().string()) + " && " +
                     shellquote(COMBOSIM_BATCH_EXE) +
                     " --out out q.json g.json > /dev/null 2>&1"),
            0);
  const fs::path out = dir.path() / "out";
  const std::string words = "Posterior: quadrature, nodes " + toxnodes() +
                            " (toxicity), " + effnodes() +
                            " (response), 2000 draws per randomisation\n";
  EXPECT_NE(readfile(out / "q.txt").find(words), std::string::npos);
  EXPECT_EQ(readfile(out / "g.txt").find("Posterior:"), std::string::npos);
  const Json q = Json::parse(readfile(out / "q.json"));
  const Json g = Json::parse(readfile(out / "g.json"));
  const QuadratureSettings d;
  EXPECT_EQ(q["scenario"]["posterior"],
            Json({{"method", "quadrature"},
                  {"nodes",
                   {{"toxicity", {d.toxnodes[0], d.toxnodes[1], d.toxnodes[2]}},
                    {"response", {d.effnodes[0], d.effnodes[1]}}}},
                  {"draws", 2000}}));
  EXPECT_EQ(q["boost"], boostversion());
  EXPECT_FALSE(g["scenario"].contains("posterior"));
  EXPECT_FALSE(g.contains("boost"));
  // The CSV files end with the method's columns, empty but the name for
  // gibbs; the report's settings show it.
  const std::string summary = readfile(out / "summary.csv");
  EXPECT_NE(summary.find(",minpatients,posterior,toxnodes,effnodes,draws,boost\n"),
            std::string::npos);
  EXPECT_NE(summary.find(",quadrature," + toxnodes() + "," + effnodes() + ",2000," +
                         boostversion() + "\n"),
            std::string::npos);
  EXPECT_NE(summary.find(",gibbs,,,,\n"), std::string::npos);
  const std::string oc = readfile(out / "oc.csv");
  EXPECT_NE(oc.find(",untried_patients_mcse,posterior,toxnodes,effnodes,draws,boost\n"),
            std::string::npos);
  EXPECT_NE(readfile(out / "report.html").find("<td>quadrature, nodes " + toxnodes()),
            std::string::npos);
}

// Cohorts of 200 narrow the posterior beyond what the nodes resolve: the run
// counts those updates, records the count and warns; usual cohorts give 0.
TEST(PosteriorChoice, BatchCountsAndWarnsOfCoarseUpdates) {
  ScratchDir dir;
  Json j = demojson();
  j["ntrial"] = 1;
  j["posterior"] = "quadrature";
  std::ofstream(dir.path() / "usual.json") << j.dump();
  j["cohortsize1"] = 200;
  std::ofstream(dir.path() / "huge.json") << j.dump();
  const ProgramRun run = runindir(
      dir.path(), shellquote(COMBOSIM_BATCH_EXE) + " --out out huge.json usual.json");
  ASSERT_EQ(run.status, 0) << run.err;
  const Json huge = Json::parse(readfile(dir.path() / "out" / "huge.json"));
  const Json usual = Json::parse(readfile(dir.path() / "out" / "usual.json"));
  EXPECT_GT(huge["coarseupdates"].get<int>(), 0);
  EXPECT_EQ(usual["coarseupdates"], 0);
  EXPECT_NE(run.err.find("combosim-batch: warning: huge: " + huge["coarseupdates"].dump() +
                         " cohorts left a posterior too narrow"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("usual"), std::string::npos) << run.err;
}

TEST(PosteriorChoice, MergeRefusesPartsOfMixedMethodsOrBoostVersions) {
  ScratchDir dir;
  Json j = demojson();
  j["ntrial"] = 2;
  j["posterior"] = Json::parse(R"({"method": "quadrature", "draws": 100})");
  std::ofstream(dir.path() / "q.json") << j.dump();
  std::vector<BatchResult> parts;
  for (const char* k : {"1/2", "2/2"}) {
    ASSERT_EQ(runshell("cd " + shellquote(dir.path().string()) + " && " +
                       shellquote(COMBOSIM_BATCH_EXE) + " --seed 5 --shard " + k +
                       " --out parts q.json > /dev/null 2>&1"),
              0);
    BatchResult part;
    std::string problem;
    const std::string name = std::string("parts/q.shard-") + k[0] + "-of-2.json";
    ASSERT_TRUE(resultfromjson(Json::parse(readfile(dir.path() / name)), name, part,
                               problem))
        << problem;
    parts.push_back(part);
  }
  BatchResult merged;
  ASSERT_EQ(mergeresults(parts, merged), "");
  EXPECT_EQ(merged.posterior, parts[0].posterior);
  EXPECT_EQ(resulttojson(merged)["boost"], boostversion());

  std::vector<BatchResult> mixed = parts;
  mixed[1].posterior.method = PosteriorMethod::kGibbs;
  mixed[1].boost = "";
  EXPECT_EQ(mergeresults(mixed, merged),
            "the parts ran under different posterior methods (quadrature, nodes " +
                toxnodes() + " (toxicity), " + effnodes() +
                " (response), 100 draws per randomisation; gibbs)");
  mixed = parts;
  mixed[1].posterior.quadrature.ndraws = 2000;
  EXPECT_NE(mergeresults(mixed, merged).find("different posterior methods"),
            std::string::npos);
  mixed = parts;
  mixed[1].boost = "1.83.0";
  EXPECT_EQ(mergeresults(mixed, merged),
            "the parts ran on different versions of Boost (" + boostversion() +
                ", 1.83.0)");
  // A quadrature part without its Boost version is refused.
  Json damaged = resulttojson(parts[0]);
  damaged.erase("boost");
  BatchResult back;
  std::string why;
  EXPECT_FALSE(resultfromjson(damaged, "p.json", back, why));
  EXPECT_EQ(why, "p.json: boost: missing (the version of Boost behind quadrature)");
}

struct NextRun {
  int status = -1;
  std::string out;
  std::string err;
};

NextRun next(const fs::path& dir, const std::string& args,
             const std::string& env = "") {
  NextRun run;
  run.status = runshell("cd " + shellquote(dir.string()) + " && " + env + " " +
                        shellquote(COMBOSIM_NEXT_EXE) + " " + args +
                        " > out.txt 2> err.txt < /dev/null");
  run.out = readfile(dir / "out.txt");
  run.err = readfile(dir / "err.txt");
  return run;
}

TEST(PosteriorChoice, NextUnderQuadratureDecidesTheSameUnderEverySeed) {
  ScratchDir dir;
  // The example trial's first cohort: (1, 1), 3 patients, no toxicity.
  const std::string trial = readfile(sourcefile("examples/trial_phase2.csv"));
  std::ofstream(dir.path() / "first.csv") << trial.substr(0, trial.find('\n', trial.find('\n') + 1) + 1);
  const std::string design = shellquote(sourcefile("examples/trial_design.json").string());
  Json first;
  for (const char* seed : {"", "--seed 1", "--seed 2", "--seed 77", "--seed 4294967295"}) {
    const NextRun run = next(dir.path(), "--json --posterior quadrature --design " + design +
                                         " " + seed + " first.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const Json j = Json::parse(run.out);
    EXPECT_EQ(j["decision"]["next"], Json::array({2, 1})) << seed;
    EXPECT_EQ(j["design"]["posterior"]["method"], "quadrature");
    if (first.is_null()) first = j["posterior"];
    EXPECT_EQ(j["posterior"], first) << seed;
  }
  // And under the C library's other implementation of pow, log and exp, the
  // one without fused multiply-add.
  const NextRun nofma = next(dir.path(),
                             "--json --posterior quadrature --design " + design +
                                 " --seed 3 first.csv",
                             "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA");
  ASSERT_EQ(nofma.status, 0) << nofma.err;
  EXPECT_EQ(Json::parse(nofma.out)["decision"]["next"], Json::array({2, 1}));

  // Replicates say that the rules are fixed and count only the outcomes.
  const NextRun text = next(dir.path(), "--posterior quadrature --replicates 3 --design " +
                                        design + " first.csv");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("  posterior: quadrature, nodes " + toxnodes() + " (toxicity), " +
                          effnodes() + " (response), 2000 draws per randomisation; Boost " +
                          boostversion() + "\n"),
            std::string::npos);
  EXPECT_EQ(text.out.substr(text.out.find("\nstability")),
            "\nstability over 3 replicates of this decision, replicate r on the "
            "seeded streams (0, r), r = 1 to 3:\n"
            "  the rule decisions are fixed: under quadrature the posterior "
            "probabilities are the same under every seed; the decision:\n"
            "  escalate to (2, 1): 3 of 3\n");

  // --posterior against the design file's own is refused.
  Json withgibbs = Json::parse(readfile(sourcefile("examples/trial_design.json")));
  withgibbs["posterior"] = "gibbs";
  std::ofstream(dir.path() / "gibbs.json") << withgibbs.dump();
  const NextRun clash =
      next(dir.path(), "--posterior quadrature --design gibbs.json first.csv");
  EXPECT_EQ(clash.status, 2);
  EXPECT_EQ(clash.err,
            "combosim-next: --posterior quadrature differs from gibbs.json, whose "
            "posterior is gibbs\n");
  EXPECT_EQ(clash.out, "");
  EXPECT_EQ(next(dir.path(), "--posterior gibbs --design gibbs.json first.csv").status, 0);
  EXPECT_EQ(next(dir.path(), "--posterior bayes --design gibbs.json first.csv").status, 2);
}

}  // namespace
