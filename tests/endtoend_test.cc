// tests/endtoend_test.cc: the built combosim, run as a user runs it: the
// dialogue's text, the exit statuses of bad input, and results.txt under
// concurrent runs, a full disk and a lost standard output.
#include <gtest/gtest.h>

#include "tests/program_runner.h"

namespace {

using namespace programrunner;

TEST(EndToEnd, DialogueMatchesTheStoredOutput) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ProgramRun run =
      runcombosim(dir.path(), sourcefile("tests/fixtures/dialogue_small.txt"));
  EXPECT_EQ(run.status, 0);

  // The dialogue, from the banner to the notice box and the empty line after
  // it: a two by two grid, a toxicity above 1 read again, a rejected number
  // of trials.
  const std::string dialogue =
      readfile(sourcefile("tests/fixtures/dialogue_small.expected"));
  ASSERT_FALSE(dialogue.empty());
  EXPECT_EQ(run.out.substr(0, dialogue.size()), dialogue);
  // The trials follow the notice box (the whole output is a golden result).
  EXPECT_EQ(run.out.substr(dialogue.size(), 29),
            "Simulating the trial 1......\n");
}

TEST(EndToEnd, DemoScenarioCompletesTheDialogue) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ProgramRun run =
      runcombosim(dir.path(), sourcefile("examples/demo.txt"));
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("// The simulation results can be found in the file "
                         "results.txt //\n"),
            std::string::npos);
}

TEST(EndToEnd, BadInputEndsWithItsStatusAndNoReport) {
  struct Case {
    const char* input;
    int status;
    std::string ending;  // the last prompt and the message
  } const cases[] = {
      {"tests/fixtures/dialogue_toomany.txt", 9,
       "please enter the number of dose for drug 1:  The number of dose for "
       "drug 1 is too large\n"},
      {"tests/fixtures/dialogue_letters.txt", 2,
       "Please enter the true toxicity probability for the combination (1, "
       "2):  Invalid input for the true toxicity probability for the "
       "combination (1, 2): \"low\" is not a number\n"},
      {"tests/fixtures/dialogue_truncated.txt", 2,
       "Please enter the true toxicity probability for the combination (2, "
       "2):  Unexpected end of input while reading the true toxicity "
       "probability for the combination (2, 2)\n"},
  };
  for (const Case& c : cases) {
    const ScratchDir dir;
    ASSERT_FALSE(dir.path().empty());
    const ProgramRun run = runcombosim(dir.path(), sourcefile(c.input));
    EXPECT_EQ(run.status, c.status) << c.input;
    EXPECT_EQ(tail(run.out, c.ending.size()), c.ending) << c.input;
    EXPECT_FALSE(fs::exists(dir.path() / "results.txt")) << c.input;
  }
}

TEST(EndToEnd, NoInputEndsWithStatus2) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ProgramRun run = runcombosim(dir.path(), "/dev/null");
  EXPECT_EQ(run.status, 2);
  const std::string ending =
      "please enter the number of dose for drug 1:  Unexpected end of input "
      "while reading the number of dose for drug 1\n";
  EXPECT_EQ(tail(run.out, ending.size()), ending);
}

// The report block of tests/fixtures/golden_1x1.txt, clock lines masked.
std::string block1x1() {
  return readfile(sourcefile("tests/fixtures/golden_1x1.results.expected"));
}

TEST(EndToEnd, ReportFileHoldsOnlyWholeBlocks) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string program = shellquote(COMBOSIM_EXE);
  const std::string answers =
      shellquote(sourcefile("tests/fixtures/golden_1x1.txt").string());
  // Twelve runs appending at once: twelve whole blocks.
  const ProgramRun twelve = runindir(
      dir.path(), "for i in $(seq 12); do " + program + " < " + answers +
                      " > /dev/null & done; wait");
  EXPECT_EQ(twelve.status, 0) << twelve.err;
  std::string blocks;
  for (int i = 0; i < 12; ++i) blocks += block1x1();
  EXPECT_EQ(maskclock(readfile(dir.path() / "results.txt")), blocks);

  // A full disk, made by a file-size limit (11 KiB) that the thirteenth
  // block crosses: the file is left as it was, the console still shows the
  // report, and the run fails.
  const std::string before = readfile(dir.path() / "results.txt");
  ASSERT_LT(before.size(), 11 * 1024u);
  ASSERT_GT(before.size() + block1x1().size(), 11 * 1024u);
  const ProgramRun full =
      runindir(dir.path(), "ulimit -f 11; " + program + " < " + answers);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(readfile(dir.path() / "results.txt"), before);
  EXPECT_NE(full.out.find("Percentage of inconclusive trials: 33.33%\n"),
            std::string::npos);
  const std::string unwritable =
      " Can not write simulation results to the current directory.\n"
      "Please check that you are allowed to write in the current directory\n";
  EXPECT_EQ(tail(full.out, unwritable.size()), unwritable);
  EXPECT_EQ(full.err, "combosim: ./results.txt: File too large; the file is "
                      "left as it was\n");
}

TEST(EndToEnd, LostConsoleFailsTheRunButKeepsTheReportFile) {
  const std::string program = shellquote(COMBOSIM_EXE);
  const std::string answers =
      shellquote(sourcefile("tests/fixtures/golden_1x1.txt").string());
  // Standard output full, closed, or a pipe whose reader is gone.
  const std::string commands[] = {
      program + " < " + answers + " > /dev/full",
      program + " < " + answers + " >&-",
      program + " < " + answers + " | true; exit ${PIPESTATUS[0]}",
  };
  for (const std::string& command : commands) {
    const ScratchDir dir;
    ASSERT_FALSE(dir.path().empty());
    const ProgramRun run = runindir(dir.path(), command);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.err,
              "combosim: the standard output could not be written; the report "
              "is in ./results.txt\n")
        << command;
    EXPECT_EQ(maskclock(readfile(dir.path() / "results.txt")), block1x1())
        << command;
  }
}

TEST(EndToEnd, MakeRunShowsTheBannerFirst) {
  const ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  // The build directory of this test; combosim in it is up to date, and the
  // outer make's job server is not passed on.
  const std::string build = fs::path(COMBOSIM_EXE).parent_path().string();
  const ProgramRun run = runindir(
      dir.path(), "env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C " +
                      shellquote(COMBOSIM_SOURCE_DIR) +
                      " --no-print-directory run BUILD=" + shellquote(build) +
                      " < /dev/null");
  EXPECT_EQ(run.out.substr(0, 56),
            "///////////////////////////////////////////////////////\n")
      << run.out << run.err;
}

}  // namespace
