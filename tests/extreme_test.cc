// tests/extreme_test.cc: extreme but valid scenarios, each run twice end to
// end through the built combosim with a few trials. Every run must end with
// status 0 and a report free of NaN and infinity whose figures hang together:
// selections plus inconclusive trials make 100 %, no cell has more toxicities
// or responses than patients, no trial more patients than its cohorts, the
// file copy equals the console copy, and the second run repeats the first
// to the last digit. The answer files are tests/fixtures/extreme_NAME.txt.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "formats/dialogue.h"
#include "engine/simulate.h"
#include "engine/trial.h"
#include "numerics/arms.h"
#include "numerics/streams.h"
#include "tests/program_runner.h"

namespace {

using namespace programrunner;

// A table of the report: rows as printed (drug-2 levels from the highest
// down), cells by drug-1 level, each figure as printed.
using Table = std::vector<std::vector<std::string>>;

// The figures of the console copy of a report.
struct Report {
  int ntrial = -1;
  int cohortsize1 = -1;
  int ncohort1 = -1;
  int cohortsize2 = -1;
  int ncohort2 = -1;
  Table patients, toxicities, responses, selections;
  double inconclusive = NAN;
};

double number(const std::string& figure) {
  return std::strtod(figure.c_str(), nullptr);
}

// The lines after the line `title` up to the next empty line, split into
// figures.
Table readtable(const std::string& text, const std::string& title) {
  Table table;
  const std::size_t at = text.find("\n" + title + "\n");
  if (at == std::string::npos) return table;
  std::istringstream lines(text.substr(at + title.size() + 2));
  for (std::string line; std::getline(lines, line) && !line.empty();) {
    std::istringstream cells(line);
    std::vector<std::string> row;
    for (std::string cell; cells >> cell;) row.push_back(cell);
    table.push_back(row);
  }
  return table;
}

// Parses the console copy, which follows the trials' progress lines.
Report readreport(const std::string& out) {
  Report r;
  const std::size_t start = out.rfind("\nCPU time (hour)= ");
  if (start == std::string::npos) return r;
  const std::string text = out.substr(start);
  std::sscanf(text.c_str(),
              "\nCPU time (hour)= %*s ;   the number of trials = %d\n\n"
              "Phase I cohort size = %d ; the number of cohort = %d\n"
              "Phase II cohort size = %d ; the number of cohort = %d",
              &r.ntrial, &r.cohortsize1, &r.ncohort1, &r.cohortsize2,
              &r.ncohort2);
  r.patients = readtable(text, "Number of patients treated at each dose: ");
  r.toxicities = readtable(text, "Number of toxicity observed at each dose: ");
  r.responses = readtable(text, "Number of response observed at each dose: ");
  r.selections = readtable(text, "Selection probabilities (%): ");
  const std::string label = "\nPercentage of inconclusive trials: ";
  const std::size_t at = text.find(label);
  if (at != std::string::npos) {
    r.inconclusive = std::strtod(text.c_str() + at + label.size(), nullptr);
  }
  return r;
}

bool hasnanorinf(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(c));
  return text.find("nan") != std::string::npos ||
         text.find("inf") != std::string::npos;
}

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// What a scenario's truth makes certain, beyond the checks of every run.
enum class Certain {
  kNothing,
  kNoToxicity,   // true toxicities all 0
  kAllToxic,     // true toxicities all 1
  kNoResponse,   // true responses all 0
  kAllRespond,   // true responses all 1
};

struct Extreme {
  const char* name;  // tests/fixtures/extreme_<name>.txt
  int ndose1;
  int ndose2;
  Certain certain;
};

std::ostream& operator<<(std::ostream& os, const Extreme& e) {
  return os << e.name;
}

const Extreme kExtremes[] = {
    {"10x10", 10, 10, Certain::kNothing},
    {"1x1", 1, 1, Certain::kNothing},
    {"priors_low", 3, 3, Certain::kNothing},     // every prior 0.001
    {"priors_high", 3, 3, Certain::kNothing},    // every prior 0.999
    {"priors_mixed", 3, 3, Certain::kNothing},   // 0.001, 0.5, 0.999 each
    {"tox0", 3, 3, Certain::kNoToxicity},
    {"tox1", 3, 3, Certain::kAllToxic},
    {"eff0", 3, 3, Certain::kNoResponse},
    {"eff1", 3, 3, Certain::kAllRespond},
    {"target005", 3, 3, Certain::kNothing},      // target toxicity 0.05
    {"target09", 3, 3, Certain::kNothing},       // target toxicity 0.9
    {"onecohort", 3, 3, Certain::kNothing},      // one phase I cohort
    {"nophase2", 3, 3, Certain::kNothing},       // no phase II cohort
    {"manyadm", 4, 4, Certain::kNothing},        // more than 10 admissible
    {"cohortsof1", 3, 3, Certain::kNothing},     // cohorts of 1 patient
};

class ExtremeScenario : public ::testing::TestWithParam<Extreme> {
 protected:
  fs::path answers() const {
    return sourcefile(std::string("tests/fixtures/extreme_") + GetParam().name +
                      ".txt");
  }
};

// The report's figures hang together.
void checkfigures(const Report& r, const Extreme& e) {
  const int J = e.ndose1;
  const int K = e.ndose2;
  for (const Table* t :
       {&r.patients, &r.toxicities, &r.responses, &r.selections}) {
    ASSERT_EQ(t->size(), static_cast<std::size_t>(K));
    for (const auto& row : *t) ASSERT_EQ(row.size(), static_cast<std::size_t>(J));
  }
  double selected = 0;
  double patients = 0;
  for (int row = 0; row < K; ++row) {
    for (int col = 0; col < J; ++col) {
      const double pat = number(r.patients[row][col]);
      const double tox = number(r.toxicities[row][col]);
      const double resp = number(r.responses[row][col]);
      const double sel = number(r.selections[row][col]);
      const std::string where = "drug-1 level " + std::to_string(col + 1) +
                                ", drug-2 level " + std::to_string(K - row);
      EXPECT_GE(tox, 0) << where;
      EXPECT_GE(resp, 0) << where;
      EXPECT_LE(tox, pat) << where;
      EXPECT_LE(resp, pat) << where;
      EXPECT_GE(sel, 0) << where;
      EXPECT_LE(sel, 100) << where;
      switch (e.certain) {
        case Certain::kNoToxicity:
          EXPECT_EQ(r.toxicities[row][col], "0.00") << where;
          break;
        case Certain::kAllToxic:
          EXPECT_EQ(r.toxicities[row][col], r.patients[row][col]) << where;
          break;
        case Certain::kNoResponse:
          EXPECT_EQ(r.responses[row][col], "0.00") << where;
          break;
        case Certain::kAllRespond:
          EXPECT_EQ(r.responses[row][col], r.patients[row][col]) << where;
          break;
        case Certain::kNothing:
          break;
      }
      selected += sel;
      patients += pat;
    }
  }
  // Each printed figure is within 0.005 of its exact value.
  const double rounding = 0.005 * (J * K + 1) + 1e-9;
  EXPECT_GE(r.inconclusive, 0);
  EXPECT_LE(r.inconclusive, 100);
  EXPECT_NEAR(selected + r.inconclusive, 100, rounding);
  EXPECT_LE(patients, r.ncohort1 * r.cohortsize1 + r.ncohort2 * r.cohortsize2 +
                          rounding);
  EXPECT_GT(patients, 0);
}

TEST_P(ExtremeScenario, RunsCleanConsistentAndRepeatable) {
  const Extreme& e = GetParam();
  const ScratchDir dir1;
  const ScratchDir dir2;
  ASSERT_FALSE(dir1.path().empty());
  ASSERT_FALSE(dir2.path().empty());
  const ProgramRun first = runcombosim(dir1.path(), answers());
  const ProgramRun second = runcombosim(dir2.path(), answers());
  ASSERT_EQ(first.status, 0) << tail(first.out, 500);
  ASSERT_EQ(second.status, 0) << tail(second.out, 500);
  const std::string file1 = readfile(dir1.path() / "results.txt");
  const std::string file2 = readfile(dir2.path() / "results.txt");

  EXPECT_FALSE(hasnanorinf(first.out)) << first.out;
  EXPECT_FALSE(hasnanorinf(file1)) << file1;

  const Report r = readreport(first.out);
  ASSERT_GT(r.ntrial, 0) << "no report in:\n" << tail(first.out, 2000);
  EXPECT_EQ(count(first.out, "\nSimulating the trial "), r.ntrial);
  checkfigures(r, e);

  // The file copy is the console copy but for the trial-count label.
  std::string asconsole = file1;
  const std::string filelabel = "    the number of trials = ";
  const std::size_t label = asconsole.find(filelabel);
  ASSERT_NE(label, std::string::npos);
  asconsole.replace(label, filelabel.size(), " ;   the number of trials = ");
  EXPECT_NE(first.out.find(asconsole), std::string::npos)
      << "results.txt differs from the console copy";

  // Same answers, same results.
  EXPECT_EQ(maskclock(first.out), maskclock(second.out));
  EXPECT_EQ(maskclock(file1), maskclock(file2));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExtremeScenario,
                         ::testing::ValuesIn(kExtremes),
                         [](const ::testing::TestParamInfo<Extreme>& info) {
                           return std::string(info.param.name);
                         });

// The scenario meant to admit more than 10 combinations to phase II does:
// its first trial, simulated here as the program simulates it, builds an
// admissible list longer than 10.
TEST(ExtremeScenarioSetup, ManyAdmissibleFixtureAdmitsMoreThanTen) {
  std::ifstream in(sourcefile("tests/fixtures/extreme_manyadm.txt"));
  std::ostream silent(nullptr);
  Scenario scenario;
  ASSERT_EQ(readscenario(in, silent, scenario.settings, scenario.input), 0);
  uniform01reset();
  samplerrandreset();
  const Design design = designof(scenario, DesignRules{});
  auto state = std::make_unique<TrialState>();
  auto acc = std::make_unique<Accumulators>();
  preparetrials(design, scenario.input, *state, *acc);
  ASSERT_TRUE(runtrial(*state, design, *makeposterior(design), processstreams(), *acc).ok());
  EXPECT_GT(state->nadm, 10);
  uniform01reset();
  samplerrandreset();
}

}  // namespace
