// combosim-next: the digest, trial files in JSON and CSV (problems named by
// line, cohort and field), and the built program run as a user runs it: the
// library's numbers exactly, JSON and CSV alike, exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "engine/conduct.h"
#include "engine/conductwords.h"
#include "formats/sha256.h"
#include "next/trialfile.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

// --- The digest ------------------------------------------------------------

// The SHA-256 of `text` by the system's sha256sum.
std::string systemsha256(const std::string& text) {
  ScratchDir dir;
  const fs::path file = dir.path() / "bytes";
  std::ofstream(file, std::ios::binary) << text;
  FILE* pipe = popen(("sha256sum " + shellquote(file.string())).c_str(), "r");
  char digest[65] = {};
  const std::size_t n = pipe != nullptr ? std::fread(digest, 1, 64, pipe) : 0;
  if (pipe != nullptr) pclose(pipe);
  return std::string(digest, n);
}

TEST(Sha256, PublishedVectorsAndEveryPaddingCase) {
  // FIPS 180-4 examples: one block, two blocks, and the empty message.
  EXPECT_EQ(sha256hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // The length field fits the last block up to 55 bytes, not from 56; whole
  // blocks at 64.
  for (std::size_t n : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
    std::string text(n, 'x');
    for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>(i * 37 % 256);
    EXPECT_EQ(sha256hex(text), systemsha256(text)) << n << " bytes";
    // Given in pieces that straddle the blocks, the same digest.
    Sha256 pieces;
    for (std::size_t at = 0; at < n; at += 23) pieces.add(text.substr(at, 23));
    EXPECT_EQ(pieces.hex(), sha256hex(text)) << n << " bytes in pieces";
  }
}

// --- Trial files -------------------------------------------------------------

const char kDesign[] =
    R"("ndose1": 2, "ndose2": 2, "targettox": 0.3, "mineff": 0.2,
       "scenprior1": [0.1, 0.2], "scenprior2": [0.1, 0.2], "ncohort1": 3,
       "cohortsize1": 3, "ncohort2": 2, "cohortsize2": 3)";

Json parsed(const std::string& text) {
  Json j;
  std::string problem;
  EXPECT_TRUE(parsejson(text, "t.json", j, problem)) << problem;
  return j;
}

TEST(TrialFile, CsvReadsSpreadsheetFormsAndNamesLineCohortAndField) {
  std::vector<Cohort> cohorts;
  std::vector<int> lines;
  EXPECT_EQ(cohortsfromcsv("\xEF\xBB\xBF" "drug1, drug2,patients,toxicities,responses\r\n"
                           "1,1,3,0,1\r\n\r\n 2 ,1,2,1,0\r\n",
                           "t.csv", cohorts, lines),
            "");
  ASSERT_EQ(cohorts.size(), 2u);
  EXPECT_EQ(cohorts[1].at, (Combination{1, 0}));
  EXPECT_EQ(cohorts[1].npat, 2);
  EXPECT_EQ(cohorts[1].ntox, 1);
  EXPECT_EQ(lines, (std::vector<int>{2, 4}));

  const std::string header = "drug1,drug2,patients,toxicities,responses\n";
  struct Case {
    std::string text;
    const char* problem;
  } const cases[] = {
      {"", "t.csv: no header line drug1,drug2,patients,toxicities,responses"},
      {"d1,d2,n,x,y\n1,1,3,0,0\n",
       "t.csv:1: the header must be drug1,drug2,patients,toxicities,responses"},
      {header + "1,1,3,0,0\n1,2,3,0\n",
       "t.csv:3: cohort 2: expected 5 fields "
       "(drug1,drug2,patients,toxicities,responses), found 4"},
      {header + "1,1,3,x,0\n", "t.csv:2: cohort 1: toxicities: must be a whole number"},
      {header + "1,1,3,0,1.5\n", "t.csv:2: cohort 1: responses: must be a whole number"},
      {header + "1,1,,0,0\n", "t.csv:2: cohort 1: patients: must be a whole number"},
      {header + "1,99999999999,3,0,0\n", "t.csv:2: cohort 1: drug2: is out of range"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cohortsfromcsv(c.text, "t.csv", cohorts, lines), c.problem) << c.text;
  }
}

TEST(TrialFile, JsonProblemsNameTheCohortOrField) {
  const std::string cohort = R"({"combination": [1, 1], "patients": 3, "toxicities": 0, "responses": 0})";
  struct Case {
    std::string text;
    const char* problem;
  } const cases[] = {
      {std::string("{") + kDesign + "}", "cohorts: missing"},
      {"{" + std::string(kDesign) + R"(, "cohort": []})", "cohort: unknown field"},
      {R"({"ndose1": 2, "cohorts": []})", "ndose2: missing"},
      {"{" + std::string(kDesign) + R"(, "cohorts": {}})",
       "cohorts: must be an array of cohorts"},
      {"{" + std::string(kDesign) + R"(, "cohorts": [)" + cohort +
           R"(, {"combination": [1, 1], "patients": 3, "toxicities": 0}]})",
       "cohort 2: responses: missing"},
      {"{" + std::string(kDesign) + R"(, "cohorts": [{"combination": [1], "patients": 3,
           "toxicities": 0, "responses": 0}]})",
       "cohort 1: combination: must be [drug-1 level, drug-2 level], whole numbers"},
      {"{" + std::string(kDesign) + R"(, "cohorts": [{"combination": [1, 1],
           "patients": 3, "toxicities": 0.5, "responses": 0}]})",
       "cohort 1: toxicities: must be a whole number"},
      {"{" + std::string(kDesign) + R"(, "cohorts": [{"combination": [1, 1],
           "patients": 3, "toxicities": 0, "responses": 0, "dose": 1}]})",
       "cohort 1: dose: unknown field"},
      {R"({"ndose1": 2, "ndose2": 2, "targettox": 0.3, "mineff": 0.2,
           "scenprior1": [0.1, 0.2], "scenprior2": [0.1], "ncohort1": 3,
           "cohortsize1": 3, "ncohort2": 2, "cohortsize2": 3, "cohorts": []})",
       "scenprior2: must be an array of 2 numbers"},
      {"{" + std::string(kDesign) + R"(, "rules": {"escalate": 2}, "cohorts": []})",
       "rules.escalate: must lie strictly between 0 and 1"},
      {"{" + std::string(kDesign) + R"(, "rules": {"start": [1, 3]}, "cohorts": []})",
       "rules.start: [1, 3] lies outside the 2 by 2 grid"},
      {"{" + std::string(kDesign) + R"(, "rules": {"phase2": 1}, "cohorts": []})",
       "rules.phase2: must be \"admissible\", \"treated\" or \"adjacent\""},
  };
  for (const Case& c : cases) {
    const Json j = parsed(c.text);
    Design design;
    std::vector<Cohort> cohorts;
    std::string problem = designfromjson(j, false, design);
    if (problem.empty()) {
      problem = j.contains("cohorts") ? cohortsfromjson(j["cohorts"], cohorts)
                                      : "cohorts: missing";
    }
    EXPECT_EQ(problem, c.problem) << c.text;
  }
  // A design file may be a batch scenario, but holds no cohorts.
  Design design;
  EXPECT_EQ(designfromjson(parsed("{" + std::string(kDesign) +
                                  R"(, "scentox": [[0.1, 0.2], [0.2, 0.3]], "ntrial": 5})"),
                           true, design),
            "");
  EXPECT_EQ(design.settings.ncohort1, 3);
  EXPECT_EQ(designfromjson(parsed("{" + std::string(kDesign) + R"(, "cohorts": []})"),
                           true, design),
            "cohorts: unknown field");
}

TEST(TrialFile, DesignWithTargetOfOneOrLowestResponseOfOneIsRefused) {
  Design design;
  for (const auto& [field, problem] :
       {std::pair<const char*, const char*>{
            "targettox", "targettox: The target probability must lie strictly between 0 and 1"},
        {"mineff", "mineff: The lowest acceptable response rate must be below 1"}}) {
    Json j = parsed("{" + std::string(kDesign) + "}");
    j[field] = 1;
    EXPECT_EQ(designfromjson(j, true, design), problem);
  }
}

TEST(TrialFile, FilesAndTheirDesign) {
  ScratchDir dir;
  const auto write = [&dir](const char* name, const std::string& text) {
    std::ofstream(dir.path() / name, std::ios::binary) << text;
    return (dir.path() / name).string();
  };
  const std::string csv = write("t.csv", "drug1,drug2,patients,toxicities,responses\n1,1,3,0,0\n");
  const std::string design = write("d.json", std::string("{") + kDesign + "}");
  const std::string twice = write("twice.json", std::string("{") + kDesign + R"(, "ndose1": 3})");
  const std::string both = write("both.json", std::string("{") + kDesign + R"(, "cohorts": []})");

  TrialRead read = readtrial(csv, design);
  ASSERT_EQ(read.problem, "");
  ASSERT_EQ(read.inputs.size(), 2u);
  EXPECT_EQ(read.inputs[0].sha256, systemsha256(readfile(csv)));
  EXPECT_EQ(read.inputs[1].role, "design");
  EXPECT_EQ(read.cohorts.size(), 1u);

  EXPECT_EQ(readtrial(csv, "").problem,
            csv + ": a CSV trial file needs the design: --design FILE.json");
  EXPECT_EQ(readtrial(twice, "").problem, twice + ": ndose1: given more than once");
  EXPECT_EQ(readtrial(both, design).problem,
            both + ": ndose1: the design is given by --design " + design +
                "; this file may hold only \"cohorts\"");
  EXPECT_EQ(readtrial(csv, (dir.path() / "none.json").string()).problem,
            (dir.path() / "none.json").string() +
                ": cannot be read: No such file or directory");
}

TEST(TrialFile, LevelsAreCheckedBeforeCountingFromZero) {
  std::vector<Cohort> cohorts;
  std::vector<int> lines;
  EXPECT_EQ(cohortsfromcsv("drug1,drug2,patients,toxicities,responses\n"
                           "-2147483648,1,3,0,0\n",
                           "t.csv", cohorts, lines),
            "t.csv:2: cohort 1: drug1: -2147483648 is not a dose level (1 to 10)");
  EXPECT_EQ(cohortsfromjson(parsed(R"([{"combination": [1, -2147483648],
                                        "patients": 3, "toxicities": 0,
                                        "responses": 0}])"),
                            cohorts),
            "cohort 1: combination: -2147483648 is not a dose level (1 to 10)");
}

TEST(TrialFile, CsvFromRAndTheFormatByExtensionOrContent) {
  // As R writes it: write.csv(x) with row names, and without them.
  const std::string plain = "drug1,drug2,patients,toxicities,responses\n1,1,3,0,0\n2,1,3,1,2\n";
  const std::string rownames =
      "\"\",\"drug1\",\"drug2\",\"patients\",\"toxicities\",\"responses\"\n"
      "\"1\",1,1,3,0,0\n\"2\",2,1,3,1,2\n";
  const std::string quoted =
      "\"drug1\",\"drug2\",\"patients\",\"toxicities\",\"responses\"\n"
      "1,1,3,0,0\n\"2\", 1 ,3,1,\"2\"\n";
  std::vector<Cohort> expected;
  std::vector<int> lines;
  ASSERT_EQ(cohortsfromcsv(plain, "t.csv", expected, lines), "");
  for (const std::string& text : {rownames, quoted}) {
    std::vector<Cohort> cohorts;
    EXPECT_EQ(cohortsfromcsv(text, "t.csv", cohorts, lines), "") << text;
    EXPECT_EQ(cohorts.size(), expected.size()) << text;
    for (std::size_t i = 0; i < cohorts.size() && i < expected.size(); ++i) {
      EXPECT_EQ(cohorts[i].at, expected[i].at);
      EXPECT_EQ(cohorts[i].nresp, expected[i].nresp);
    }
  }
  EXPECT_EQ(cohortsfromcsv(plain + "\"3,1,3,0,0\n", "t.csv", expected, lines),
            "t.csv:4: a quoted field is not closed");
  EXPECT_EQ(cohortsfromcsv(plain + "\"3\"x,1,3,0,0\n", "t.csv", expected, lines),
            "t.csv:4: text after a quoted field");

  // The extension in any case, else the content, says which format.
  ScratchDir dir;
  const std::string design = (dir.path() / "d.json").string();
  std::ofstream(design) << "{" << kDesign << "}";
  const std::string trial = "{" + std::string(kDesign) +
                            R"(, "cohorts": [{"combination": [1, 1], "patients": 3,
                                "toxicities": 0, "responses": 0}]})";
  struct Case {
    const char* name;
    std::string text;
    const char* design;
  } const cases[] = {
      {"t.CSV", rownames, "d.json"}, {"t.Json", trial, ""},
      {"t", trial, ""},               {"t.txt", "\xEF\xBB\xBF" + quoted, "d.json"},
  };
  for (const Case& c : cases) {
    const fs::path path = dir.path() / c.name;
    std::ofstream(path, std::ios::binary) << c.text;
    const std::string designpath = *c.design != '\0' ? design : "";
    const TrialRead read = readtrial(path.string(), designpath);
    EXPECT_EQ(read.problem, "") << c.name;
    EXPECT_FALSE(read.cohorts.empty()) << c.name;
  }
}

// --- The program ---------------------------------------------------------------

struct NextRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs combosim-next with `args` from the top of the repository.
NextRun runnext(const std::string& args) {
  ScratchDir dir;
  const fs::path out = dir.path() / "out";
  const fs::path err = dir.path() / "err";
  const std::string command = "cd " + shellquote(COMBOSIM_SOURCE_DIR) + " && " +
                              shellquote(COMBOSIM_NEXT_EXE) + " " + args + " > " +
                              shellquote(out.string()) + " 2> " +
                              shellquote(err.string()) + " < /dev/null";
  const int wait = std::system(command.c_str());
  NextRun run;
  if (wait != -1 && WIFEXITED(wait)) run.status = WEXITSTATUS(wait);
  run.out = readfile(out);
  run.err = readfile(err);
  return run;
}

TEST(NextProgram, PrintsTheLibrarysNumbersForJsonAndCsvAlike) {
  const NextRun json = runnext("--json examples/trial_phase2.json");
  ASSERT_EQ(json.status, 0) << json.err;
  const Json j = Json::parse(json.out);
  EXPECT_EQ(j["inputs"][0]["sha256"], sha256hex(readfile(sourcefile("examples/trial_phase2.json"))));

  // The same trial in process, on the same streams.
  const TrialRead read = readtrial(sourcefile("examples/trial_phase2.json").string(), "");
  ASSERT_EQ(read.problem, "");
  ConductOptions options;
  options.streams = freshstreams(Streams{});
  const ConductResult r = runconduct(read.design, read.cohorts, options);
  ASSERT_EQ(r.problem, "");
  ASSERT_TRUE(r.next.randomised);
  EXPECT_EQ(j["randomisation"]["u"].get<double>(), r.next.u);
  ASSERT_EQ(j["posterior"].size(), r.next.table.size());
  for (std::size_t i = 0; i < r.next.table.size(); ++i) {
    const PosteriorRow& row = r.next.table[i];
    EXPECT_EQ(j["posterior"][i]["pr_toxicity_below_target"].get<double>(), row.prsafe);
    EXPECT_EQ(j["posterior"][i]["mean_toxicity"].get<double>(), row.meantox);
    if (row.entry >= 0) {
      EXPECT_EQ(j["posterior"][i]["pr_response_above_mineff"].get<double>(), row.preff);
    }
  }
  EXPECT_EQ(j["warnings"], Json::array({"cohort 7: 2 patients; the design's cohort size is 3"}));

  // The CSV with its design file: the same state and decision.
  const NextRun csv =
      runnext("--json --design examples/trial_design.json examples/trial_phase2.csv");
  ASSERT_EQ(csv.status, 0) << csv.err;
  const Json c = Json::parse(csv.out);
  for (const char* key : {"cohorts", "state", "posterior", "decision", "randomisation"}) {
    EXPECT_EQ(c[key], j[key]) << key;
  }
}

TEST(NextProgram, TextShowsTheRecordsTheDecisionAndItsStability) {
  const NextRun run = runnext("--seed 3 --replicates 5 examples/trial_phase1.json");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string digest = sha256hex(readfile(sourcefile("examples/trial_phase1.json")));
  EXPECT_EQ(run.out.rfind("combosim-next 0.1.0\ntrial file: examples/trial_phase1.json (sha256 " +
                              digest + ")\n",
                          0),
            0u);
  EXPECT_NE(run.out.find("random numbers: every posterior update starts afresh on "
                         "the seeded streams (3, 1)\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("\ndecision after cohort 4:\n  "), std::string::npos);
  EXPECT_NE(run.out.find("\nstability over 5 replicates of this decision, replicate r "
                         "on the seeded streams (3, r), r = 1 to 5:\n"),
            std::string::npos);
  EXPECT_EQ(run.err, "");
}

TEST(NextProgram, BadFilesAndCommandLinesExitWithTheirStatus) {
  struct Case {
    const char* args;
    int status;
    const char* err;  // the whole standard error, or "" for CLI11's own words
  } const cases[] = {
      {"examples/trial_phase2.csv", 1,
       "combosim-next: examples/trial_phase2.csv: a CSV trial file needs the "
       "design: --design FILE.json\n"},
      {"--design examples/trial_design.json tests/fixtures/next_badcohort.csv", 1,
       "combosim-next: tests/fixtures/next_badcohort.csv:4: cohort 3: "
       "toxicities: 4 is more than the 3 patients\n"},
      {"examples/nothing.json", 1,
       "combosim-next: examples/nothing.json: cannot be read: No such file or "
       "directory\n"},
      {"--seed -1 examples/trial_phase1.json", 2, ""},
      {"--seed '' examples/trial_phase1.json", 2,
       "--seed: \"\" is not a whole number from 0 to 4294967295\n"
       "Run with --help for more information.\n"},
      {"--replicates -2 examples/trial_phase1.json", 2, ""},
      {"", 2, ""},
  };
  for (const Case& c : cases) {
    const NextRun run = runnext(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.out, "") << c.args;
    if (*c.err != '\0') {
      EXPECT_EQ(run.err, c.err) << c.args;
    }
  }
}

TEST(NextProgram, OneReplicateHasNoSpreadAndSingularWords) {
  const NextRun text = runnext("--seed 3 --replicates 1 examples/trial_phase1.json");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("\nstability over 1 replicate of this decision, on the "
                          "seeded streams (3, 1):\n"),
            std::string::npos)
      << text.out;
  EXPECT_EQ(text.out.find(", sd "), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("1 replicates"), std::string::npos) << text.out;
  const NextRun json = runnext("--json --seed 3 --replicates 1 examples/trial_phase1.json");
  ASSERT_EQ(json.status, 0) << json.err;
  const Json spreads = Json::parse(json.out)["stability"]["probabilities"];
  ASSERT_FALSE(spreads.empty());
  for (const Json& x : spreads) EXPECT_TRUE(x["sd"].is_null()) << x;
}

TEST(NextProgram, DesignOptionsAreShownAndTheFirstChoiceIsTheStart) {
  ScratchDir dir;
  Json trial = parsed(readfile(sourcefile("examples/trial_phase1.json")));
  trial["rules"] = {{"minpatients", 4}, {"minpatients_stop", 2},
                    {"phase2", "adjacent"}, {"start", {2, 1}}};
  const fs::path file = dir.path() / "options.json";
  std::ofstream(file) << trial.dump();
  const NextRun text = runnext(shellquote(file.string()));
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("\n  phase I: first cohort at (2, 1); escalate when "),
            std::string::npos) << text.out;
  EXPECT_NE(text.out.find(", stop at (1, 1) with more than 2 patients\n"),
            std::string::npos) << text.out;
  EXPECT_NE(text.out.find(", with more than 4 patients; randomises only to "
                          "combinations treated in the trial or one level "
                          "from one in one drug\n"),
            std::string::npos) << text.out;
  const NextRun json = runnext("--json " + shellquote(file.string()));
  ASSERT_EQ(json.status, 0) << json.err;
  const Json j = Json::parse(json.out);
  EXPECT_EQ(j["design"]["rules"]["minpatients"], 4);
  EXPECT_EQ(j["design"]["rules"]["minpatients_stop"], 2);
  EXPECT_EQ(j["design"]["rules"]["phase2"], "adjacent");
  EXPECT_EQ(j["design"]["rules"]["start"], Json::array({2, 1}));
  EXPECT_EQ(j["cohorts"][0]["design_choice"], Json::array({2, 1}));
}

TEST(NextProgram, FileNamesThatAreNotUtf8NeverAbort) {
  ScratchDir dir;
  const fs::path trial = dir.path() / "t\xFF.json";
  fs::copy_file(sourcefile("examples/trial_phase1.json"), trial);
  const NextRun json = runnext("--json " + shellquote(trial.string()));
  ASSERT_EQ(json.status, 0) << json.err;
  const Json input = Json::parse(json.out)["inputs"][0];
  EXPECT_EQ(input["file"], (dir.path() / "t\xEF\xBF\xBD.json").string());  // U+FFFD
  EXPECT_EQ(input["file_bytes_replaced"], true);
  const NextRun text = runnext(shellquote(trial.string()));
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("trial file: " + dir.path().string() + "/t\\xff.json (sha256 "),
            std::string::npos);
  const NextRun typo = runnext(shellquote((dir.path() / "x\xFE.json").string()));
  EXPECT_EQ(typo.status, 1);
  EXPECT_EQ(typo.err, "combosim-next: " + dir.path().string() +
                          "/x\\xfe.json: cannot be read: No such file or directory\n");
}

TEST(TrialFile, DoseLevelNamesAreCheckedAndNameTheField) {
  struct Case {
    const char* labels;
    const char* problem;
  } const cases[] = {
      {R"("labels1": ["10 mg", "20 mg"], "labels2": ["A", "B \u00b5g"])", ""},
      {R"("labels1": ["10 mg"])", "labels1: must be an array of 2 names, one per dose level of drug 1"},
      {R"("labels2": "A, B")", "labels2: must be an array of 2 names, one per dose level of drug 2"},
      {R"("labels1": ["10 mg", 20])", "labels1: level 2: must be a string"},
      {R"("labels1": ["", "20 mg"])", "labels1: level 1: must not be empty"},
      {R"("labels1": ["10 mg", "twenty-one characters"])",
       "labels1: level 2: has 21 characters, more than 20"},
      {R"("labels2": ["A\tB", "C"])",
       "labels2: level 1: holds a control character; names are printable text"},
      {R"("labels2": ["A", "\u0085"])",
       "labels2: level 2: holds a control character; names are printable text"},
      {R"("labels1": ["x", "x"])", "labels1: levels 1 and 2 have the same name"},
  };
  for (const Case& c : cases) {
    Design design;
    EXPECT_EQ(designfromjson(parsed("{" + std::string(kDesign) + ", " + c.labels + "}"),
                             true, design),
              c.problem)
        << c.labels;
  }
  // Twenty characters, counted as characters, not bytes.
  Design design;
  ASSERT_EQ(designfromjson(parsed("{" + std::string(kDesign) +
                                  R"(, "labels1": ["\u00b5\u00b5\u00b5\u00b5\u00b5)"
                                  R"(\u00b5\u00b5\u00b5\u00b5\u00b5 123456789", "b"]})"),
                           true, design),
            "");
  EXPECT_EQ(levels({0, 1}, design), "(\u00b5\u00b5\u00b5\u00b5\u00b5\u00b5\u00b5\u00b5\u00b5\u00b5 123456789, 2)");
}

TEST(NextProgram, DoseLevelNamesReachEveryOutput) {
  ScratchDir dir;
  Json trial = parsed(readfile(sourcefile("examples/trial_phase2.json")));
  trial["labels1"] = {"10 mg", "20 mg", "40 mg"};
  trial["labels2"] = {"=low", "mid, daily", "high"};
  const fs::path file = dir.path() / "named.json";
  std::ofstream(file) << trial.dump();
  const NextRun text = runnext(shellquote(file.string()));
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("  dose levels: drug 1 1 = 10 mg, 2 = 20 mg, 3 = 40 mg; "
                          "drug 2 1 = =low, 2 = mid, daily, 3 = high\n"),
            std::string::npos) << text.out;
  // Tables keep their numbers and add the names; the words use the names.
  EXPECT_NE(text.out.find("  (3, 3)             14           6          6     "),
            std::string::npos) << text.out;
  EXPECT_NE(text.out.find("not admissible  (40 mg, high)\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(": next cohort at (40 mg, =low)\n"), std::string::npos) << text.out;

  const NextRun json = runnext("--json " + shellquote(file.string()));
  ASSERT_EQ(json.status, 0) << json.err;
  const Json j = Json::parse(json.out);
  EXPECT_EQ(j["design"]["labels2"][1], "mid, daily");
  EXPECT_EQ(j["decision"]["next"], Json::array({3, 1}));
  EXPECT_EQ(j["decision"]["next_labels"], Json::array({"40 mg", "=low"}));
  EXPECT_EQ(j["posterior"][8]["combination_labels"], Json::array({"40 mg", "high"}));

  // The pathways CSV quotes what a spreadsheet would misread.
  const fs::path csv = dir.path() / "paths.csv";
  const NextRun paths = runnext("--pathways 1 --pathways-csv " + shellquote(csv.string()) +
                                " " + shellquote(file.string()));
  ASSERT_EQ(paths.status, 0) << paths.err;
  const std::string rows = readfile(csv);
  EXPECT_NE(rows.find(",10 mg,\"'=low\"\n"), std::string::npos) << rows.substr(0, 600);
  EXPECT_NE(rows.find(",10 mg,\"mid, daily\"\n"), std::string::npos);
}

TEST(NextProgram, CloseCallsAreNotedAndSeededDecisionsStayAsTheyWere) {
  // A futility probability 0.164 against 0.15, SE about 0.04.
  ScratchDir dir;
  Json trial = parsed(readfile(sourcefile("examples/trial_phase2.json")));
  for (int i = 0; i < 2; ++i) {
    trial["cohorts"].push_back(
        {{"combination", {2, 3}}, {"patients", 3}, {"toxicities", 0}, {"responses", 0}});
  }
  const fs::path file = dir.path() / "close.json";
  std::ofstream(file) << trial.dump();
  const NextRun text = runnext("--seed 1 " + shellquote(file.string()));
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("\n  close call: pr(response>0.2) = 0.164 at (2, 3) is within 2 "
                          "Monte Carlo standard errors (SE 0.038) of 0.15 (futile)\n"),
            std::string::npos) << text.out;
  // The draw the program made before close calls were noted, on the same
  // streams: still the first uniform number after the update.
  EXPECT_NE(text.out.find("  draw: u = 0.753052766683307, the first uniform number after "
                          "this update on the seeded streams (1, 1), lies above 0.630 and "
                          "up to 0.882: next cohort at (3, 1)\n"),
            std::string::npos) << text.out;
  const NextRun quiet = runnext("--no-close-call --seed 1 " + shellquote(file.string()));
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out.find("close call"), std::string::npos);
  std::string noted = text.out;
  for (std::size_t at; (at = noted.find("  close call: ")) != std::string::npos;) {
    noted.erase(at, noted.find('\n', at) + 1 - at);
  }
  EXPECT_EQ(noted, quiet.out);
  // Quadrature makes no close calls: its probabilities are exact.
  const NextRun exact = runnext("--posterior quadrature --json " + shellquote(file.string()));
  ASSERT_EQ(exact.status, 0) << exact.err;
  EXPECT_FALSE(Json::parse(exact.out)["decision"].contains("close_calls"));
}

TEST(NextProgram, PathwaysInEveryFormAndTheirLimits) {
  ScratchDir dir;
  const fs::path csv = dir.path() / "paths.csv";
  const NextRun json = runnext("--json --pathways 2 --posterior quadrature --pathways-csv " +
                               shellquote(csv.string()) + " examples/trial_phase1.json");
  ASSERT_EQ(json.status, 0) << json.err;
  const Json p = Json::parse(json.out)["pathways"];
  EXPECT_EQ(p["updates"], 20);
  EXPECT_EQ(p["exact"], true);
  ASSERT_EQ(p["nodes"].size(), 20u);
  EXPECT_EQ(p["nodes"][1]["parent"], 1);
  EXPECT_EQ(p["nodes"][1]["cohort"], 6);
  // The CSV holds the same rows.
  const std::string rows = readfile(csv);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 21);
  EXPECT_EQ(rows.rfind("node,parent,depth,cohort,drug1,drug2,patients,toxicities,", 0), 0u);
  EXPECT_NE(rows.find("\n2,1,2,6,3,3,3,0,0,\"stay at (3, 3)\",phase1,3,3,"), std::string::npos)
      << rows;
  // An existing file is not overwritten.
  const NextRun again = runnext("--pathways 2 --pathways-csv " + shellquote(csv.string()) +
                                " examples/trial_phase1.json");
  EXPECT_EQ(again.status, 2);
  EXPECT_EQ(readfile(csv), rows);

  const NextRun text = runnext("--pathways 1 examples/trial_phase1.json");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("\n  under gibbs each entry is one realisation of the sampler"),
            std::string::npos);
  EXPECT_NE(text.out.find("\n  cohort 5 at (3, 3), 3 of 3 with toxicity: "), std::string::npos);

  struct Case {
    const char* args;
    const char* err;
  } const refused[] = {
      {"--pathways 6 examples/trial_phase1.json",
       "combosim-next: --pathways 6: needs 9556 posterior updates, more than the 2000 allowed\n"},
      {"--pathways 2 examples/trial_phase2.json",
       "combosim-next: --pathways 2: in phase II the pathways go one cohort ahead, not 2\n"},
      {"--pathways-csv x.csv examples/trial_phase1.json",
       "combosim-next: --pathways-csv needs --pathways K\n"},
  };
  for (const Case& c : refused) {
    const NextRun run = runnext(c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_EQ(run.out, "") << c.args;
    EXPECT_EQ(run.err, c.err) << c.args;
  }
}

}  // namespace
