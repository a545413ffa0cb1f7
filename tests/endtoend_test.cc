// tests/endtoend_test.cc: the built combosim, run as a user runs it: the
// dialogue's text and the exit statuses of bad input.
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

}  // namespace
