// Report: the exact layout of one copy, the inconclusive percentage, and the
// report file's failure paths.
#include "formats/report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "console/program.h"
#include "design/design.h"

namespace {

namespace fs = std::filesystem;

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    design.settings.ndose1 = 3;
    design.settings.ndose2 = 2;
    design.settings.targettox = 0.3;
    design.settings.mineff = 0.2;
    design.settings.cohortsize1 = 3;
    design.settings.ncohort1 = 10;
    design.settings.cohortsize2 = 3;
    design.settings.ncohort2 = 5;
    design.settings.ntrial = 4;
    const double tox[3][2] = {{0.05, 0.1}, {0.1, 0.2}, {0.15, 0.45}};
    const double eff[3][2] = {{0.2, 0.25}, {0.3, 0.35}, {0.4, 0.5}};
    const int pat[3][2] = {{12, 6}, {9, 10}, {3, 0}};
    for (int d1 = 0; d1 < 3; ++d1) {
      for (int d2 = 0; d2 < 2; ++d2) {
        scenario.scentox[d1][d2] = tox[d1][d2];
        scenario.sceneff[d1][d2] = eff[d1][d2];
        acc->sumpat[d1][d2] = pat[d1][d2];
      }
    }
    acc->sumtox[0][0] = 2;
    acc->sumresp[1][1] = 5;
    acc->nselect[1][1] = 2;
    acc->nselect[1][0] = 1;
    data.calendar = "Tue Dec  8 07:14:00 2026\n";
    data.cpuhours = 0.000123;
    data.inconclusive = inconclusivepercent(*acc, design);
  }

  ScenarioInput scenario;
  std::unique_ptr<Accumulators> acc = std::make_unique<Accumulators>();
  ReportData data;
  Design& design = data.design;
};

const char kExpectedCopy[] =
    "\n\n"
    "----------------------------------------------------------------\n"
    "Tue Dec  8 07:14:00 2026\n"
    "CPU time (hour)= 0.000123    the number of trials = 4\n"
    "\n"
    "Phase I cohort size = 3 ; the number of cohort = 10\n"
    "Phase II cohort size = 3 ; the number of cohort = 5\n"
    "\n"
    "Phase I dose-finding: escalate if pr(toxicity<0.3) > 0.8\n"
    "                      de-escalate if pr(toxicity<0.3) < 0.45\n"
    "\n"
    "A dose is admissible for phase II if 0.4<pr(toxicity<0.3) < 1\n"
    "\n"
    "Phase II stopping rules: safety stopping if pr(toxicity<0.3) < 0.4\n"
    "                         futility stopping if pr(efficacy>0.2) < 0.15\n"
    "\n"
    "True toxicity:\n"
    "       0.1       0.2      0.45\n"
    "      0.05       0.1      0.15\n"
    "\n"
    "True efficacy:\n"
    "      0.25      0.35       0.5\n"
    "       0.2       0.3       0.4\n"
    "\n"
    "\n"
    "Number of patients treated at each dose: \n"
    "    1.50      2.50      0.00  \n"
    "    3.00      2.25      0.75  \n"
    "\n"
    "Number of toxicity observed at each dose: \n"
    "    0.00      0.00      0.00  \n"
    "    0.50      0.00      0.00  \n"
    "\n"
    "Number of response observed at each dose: \n"
    "    0.00      1.25      0.00  \n"
    "    0.00      0.00      0.00  \n"
    "\n"
    "Selection probabilities (%): \n"
    "    0.00     50.00      0.00  \n"
    "    0.00     25.00      0.00  \n"
    "\n"
    "Percentage of inconclusive trials: 25.00%\n";

TEST_F(Report, FileCopyLayout) {
  std::ostringstream os;
  writereportcopy(os, scenario, *acc, data, kFileTrialLabel);
  EXPECT_EQ(os.str(), kExpectedCopy);
}

TEST_F(Report, ConsoleCopyDiffersOnlyInTheTrialLabel) {
  std::ostringstream os;
  writereportcopy(os, scenario, *acc, data, kConsoleTrialLabel);
  std::string expected = kExpectedCopy;
  const std::string from = "0.000123    the number";
  expected.replace(expected.find(from), from.size(),
                   "0.000123 ;   the number");
  EXPECT_EQ(os.str(), expected);
}

TEST_F(Report, InconclusiveAddsUnroundedPercentagesInPrintOrder) {
  design.settings.ntrial = 3;
  acc->nselect[1][1] = 1;
  acc->nselect[1][0] = 1;
  acc->nselect[0][0] = 1;
  // Print order: (1, 1) first, then (0, 0), (1, 0).
  double total = 0;
  total += 1.0 / 3 * 100;
  total += 1.0 / 3 * 100;
  total += 1.0 / 3 * 100;
  EXPECT_EQ(inconclusivepercent(*acc, design), 100 - total);
  // A selection at a drug-1 level at or above ndose2 (3 by 2 grid) counts.
  design.settings.ntrial = 4;
  acc->nselect[2][0] = 1;
  EXPECT_EQ(inconclusivepercent(*acc, design), 0);
}

TEST_F(Report, InconclusiveBelowZeroPrintsAsZero) {
  data.inconclusive = -1.4210854715202004e-14;
  std::ostringstream os;
  writereportcopy(os, scenario, *acc, data, kFileTrialLabel);
  EXPECT_NE(os.str().find("Percentage of inconclusive trials: 0.00%\n"),
            std::string::npos);
  EXPECT_EQ(os.str().find("-0.00"), std::string::npos);
}

TEST_F(Report, CpuHoursFromClockTicks) {
  EXPECT_DOUBLE_EQ(cpuhoursbetween(0, 3600 * CLOCKS_PER_SEC), 1.0);
  EXPECT_DOUBLE_EQ(cpuhoursbetween(1000, 1000 + 90 * CLOCKS_PER_SEC), 0.025);
}

// A temporary working directory for the report file.
class ReportFile : public Report {
 protected:
  void SetUp() override {
    Report::SetUp();
    dir = fs::temp_directory_path() /
          ("combosim_report_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    design.settings.outdir = dir.string() + "/";
    // One cheap trial: a 1 by 1 grid, one phase I cohort, no phase II cohort.
    design.settings.ndose1 = design.settings.ndose2 = 1;
    design.settings.ncohort1 = 1;
    design.settings.ncohort2 = 0;
    design.settings.ntrial = 1;
    scenario.scenprior1[0] = 0.1;
    scenario.scenprior2[0] = 0.1;
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(ReportFile, AppendsOneBlockPerRun) {
  std::istringstream in("x\n");
  std::ostringstream out;
  ASSERT_EQ(simulateandreport(in, out, Scenario{design.settings, scenario}), 0);
  std::istringstream in2("x\n");
  std::ostringstream out2;
  ASSERT_EQ(simulateandreport(in2, out2, Scenario{design.settings, scenario}), 0);
  std::ifstream file(dir / "results.txt");
  std::stringstream text;
  text << file.rdbuf();
  const std::string s = text.str();
  const std::string rule(64, '-');
  EXPECT_EQ(s.find("\n\n" + rule), 0u);
  EXPECT_NE(s.find(rule, 1), std::string::npos) << "second block";
  EXPECT_NE(s.find("    the number of trials = 1\n"), std::string::npos);
  EXPECT_NE(out.str().find(" ;   the number of trials = 1\n"),
            std::string::npos);
  EXPECT_NE(out.str().find("\nEnter any key to close the window : "),
            std::string::npos);
}

TEST_F(ReportFile, UnopenableFileStopsBeforeAnyTrial) {
  // Tests run as root, so a directory in the way is what makes opening fail.
  fs::create_directories(dir / "results.txt");
  std::istringstream in("x\n");
  std::ostringstream out;
  EXPECT_EQ(simulateandreport(in, out, Scenario{design.settings, scenario}), 1);
  EXPECT_EQ(out.str(),
            " Can not write simulation results to the current directory.\n"
            "Please check that you are allowed to write in the current "
            "directory\n");
}

TEST_F(ReportFile, FailedWritesStillShowTheConsoleReport) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  fs::create_symlink("/dev/full", dir / "results.txt");
  std::istringstream in("x\n");
  std::ostringstream out;
  EXPECT_EQ(simulateandreport(in, out, Scenario{design.settings, scenario}), 1);
  const std::string s = out.str();
  EXPECT_NE(s.find("Simulating the trial 1......\n"), std::string::npos);
  const size_t report = s.find("Percentage of inconclusive trials: ");
  const size_t message = s.find(" Can not write simulation results");
  ASSERT_NE(report, std::string::npos);
  ASSERT_NE(message, std::string::npos);
  EXPECT_LT(report, message);
  EXPECT_EQ(s.find("Enter any key"), std::string::npos);
}

}  // namespace
