// tests/dialogue_test.cc: the scenario dialogue on in-memory streams, with
// every prompt, message, echo and exit status compared literally.
#include "formats/dialogue.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>
#include <utility>

#include "formats/exitcodes.h"

namespace {

// What one run of the dialogue left behind.
struct DialogueRun {
  int status = -1;
  std::string out;   // everything written to the console
  std::string rest;  // the input that was not consumed
  SimulationSettings s;
  ScenarioInput scen;
};

DialogueRun rundialogue(const std::string& input, bool terminal = false) {
  DialogueRun run;
  std::istringstream in(input);
  std::ostringstream out;
  run.status = readscenario(in, out, run.s, run.scen, terminal);
  run.out = out.str();
  in.clear();
  std::getline(in, run.rest, '\0');
  return run;
}

// The text of `out` from the first occurrence of `marker` on, so that a test
// can compare the end of a long dialogue literally.
std::string from(const std::string& out, const std::string& marker) {
  const std::size_t at = out.find(marker);
  if (at == std::string::npos) return "<not found: " + marker + ">";
  return out.substr(at);
}

const std::string kBanner =
    "///////////////////////////////////////////////////////\n"
    "//   Phase I/II design for drug combination trial    //\n"
    "//   combosim: simulation of a two-stage design      //\n"
    "///////////////////////////////////////////////////////\n"
    "\n"
    "\n";

const std::string kNoticeBox =
    "\n"
    "\n"
    "/////////////////////////////////////////////////////////////////\n"
    "// The simulation results can be found in the file results.txt //\n"
    "// under the current directory when the simulation finishes.   //\n"
    "/////////////////////////////////////////////////////////////////\n"
    "\n";

// The cohort questions, the number of trials and the notice box, when every
// answer is taken at once.
const std::string kCohortsToEnd =
    "\n"
    "Enter the total number of cohorts for the phase I dose finding:  "
    "\n"
    "Enter the cohort size for the phase I trial:  "
    "\n"
    "Enter the total number of cohorts for the phase II trial:  "
    "\n"
    "Enter the cohort size for the phase II trial:  "
    "\n"
    "Enter the number of simulated trials:  "
    "\n"
    "Are you sure to continue? (y/n): " +
    kNoticeBox;

const std::string kConfirmGrid = "Are they correct ? (y/n):  ";
const std::string kConfirmList = "Are they correct ? (y/n): ";

// Answers for a 1 by 1 grid up to the cohort questions: toxicity 0.3,
// response 0.4, target 0.3, lowest response 0.2, priors 0.1 and 0.2.
const std::string kSmallGrid = "1 1 0.3 y 0.4 y 0.3 0.2 0.1 y 0.2 y\n";
// Valid answers for the four cohort questions.
const std::string kCohorts = " 10 3 5 3\n";

TEST(Dialogue, CompleteScenario) {
  const DialogueRun run = rundialogue(
      "3\n2\n"
      "0.05\n0.1\n0.15\n0.2\n0.25\n0.35\ny\n"
      "0.1\n0.2\n0.3\n0.4\n0.5\n0.6\ny\n"
      "0.3\n0.2\n"
      "0.05\n0.1\n0.2\ny\n"
      "0.1\n0.2\ny\n"
      "10\n3\n5\n3\n"
      "10\ny\n");
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_EQ(
      run.out,
      kBanner +
          "please enter the number of dose for drug 1:  "
          "please enter the number of dose for drug 2:  "
          "\n"
          "Please enter the true toxicity probability for the combination "
          "(1, 1):  "
          "Please enter the true toxicity probability for the combination "
          "(1, 2):  "
          "Please enter the true toxicity probability for the combination "
          "(2, 1):  "
          "Please enter the true toxicity probability for the combination "
          "(2, 2):  "
          "Please enter the true toxicity probability for the combination "
          "(3, 1):  "
          "Please enter the true toxicity probability for the combination "
          "(3, 2):  "
          "\n"
          " The true toxicity probability entered is :\n"
          "\n"
          "Drug 2  2|       0.1       0.2      0.35\n"
          "        1|      0.05      0.15      0.25\n"
          "         -------------------------------\n"
          "                  1         2         3\n"
          "                    Drug 1\n"
          "\n"
          "Are they correct ? (y/n):  "
          "\n"
          "Please enter the true response probability for the combination "
          "(1, 1):  "
          "Please enter the true response probability for the combination "
          "(1, 2):  "
          "Please enter the true response probability for the combination "
          "(2, 1):  "
          "Please enter the true response probability for the combination "
          "(2, 2):  "
          "Please enter the true response probability for the combination "
          "(3, 1):  "
          "Please enter the true response probability for the combination "
          "(3, 2):  "
          "\n"
          " The true response rate entered is :\n"
          "\n"
          "Drug 2  2|       0.2       0.4       0.6\n"
          "        1|       0.1       0.3       0.5\n"
          "         -------------------------------\n"
          "                  1         2         3\n"
          "                    Drug 1\n"
          "\n"
          "Are they correct ? (y/n):  "
          "\n"
          "Please enter the target toxicity : "
          "\n"
          "Please enter the lowest accpectable response rate : "
          "\n"
          "Please enter the prior estimate of toxicity probability for drug 1 "
          "at the dose level 1:  "
          "Please enter the prior estimate of toxicity probability for drug 1 "
          "at the dose level 2:  "
          "Please enter the prior estimate of toxicity probability for drug 1 "
          "at the dose level 3:  "
          "\n"
          "The prior estimate of toxicity for drug 1 is: 0.05, 0.1, 0.2"
          "\n"
          "Are they correct ? (y/n): "
          "\n"
          "Please enter the prior estimate of toxicity probability for drug 2 "
          "at the dose level 1:  "
          "Please enter the prior estimate of toxicity probability for drug 2 "
          "at the dose level 2:  "
          "\n"
          "The prior estimate of toxicity for drug 2 is : 0.1, 0.2"
          "\n"
          "Are they correct ? (y/n): " +
          kCohortsToEnd);

  EXPECT_EQ(run.s.ndose1, 3);
  EXPECT_EQ(run.s.ndose2, 2);
  // Drug 1 is the outer loop: the answers fill (1,1), (1,2), (2,1), ...
  EXPECT_EQ(run.scen.scentox[0][0], 0.05);
  EXPECT_EQ(run.scen.scentox[0][1], 0.1);
  EXPECT_EQ(run.scen.scentox[1][0], 0.15);
  EXPECT_EQ(run.scen.scentox[2][1], 0.35);
  EXPECT_EQ(run.scen.sceneff[1][1], 0.4);
  EXPECT_EQ(run.scen.sceneff[2][0], 0.5);
  EXPECT_EQ(run.s.targettox, 0.3);
  EXPECT_EQ(run.s.mineff, 0.2);
  EXPECT_EQ(run.scen.scenprior1[2], 0.2);
  EXPECT_EQ(run.scen.scenprior2[1], 0.2);
  EXPECT_EQ(run.s.ncohort1, 10);
  EXPECT_EQ(run.s.cohortsize1, 3);
  EXPECT_EQ(run.s.ncohort2, 5);
  EXPECT_EQ(run.s.cohortsize2, 3);
  EXPECT_EQ(run.s.ntrial, 10);
  EXPECT_EQ(run.s.outdir, "./");
  EXPECT_EQ(run.rest, "\n");
}

TEST(Dialogue, ProbabilityAboveOneIsReadAgainWithoutPrompt) {
  // 1.01 is refused, 1 is taken; -0.2 is taken as it stands.
  const DialogueRun run =
      rundialogue("1 1 1.01 1 y -0.2 y 0.3 0.2 0.1 y 0.2 y" + kCohorts + "1 y");
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_EQ(run.scen.scentox[0][0], 1);
  EXPECT_EQ(run.scen.sceneff[0][0], -0.2);
  EXPECT_EQ(from(run.out, "Please enter the true toxicity"),
            "Please enter the true toxicity probability for the combination "
            "(1, 1):  "
            "The toxicity probability is larger than 1, please reenter the "
            "correct toxicity prob:\n"
            "\n"
            " The true toxicity probability entered is :\n"
            "\n"
            "Drug 2  1|         1\n"
            "         -----------\n"
            "                  1\n"
            "          Drug 1\n"
            "\n"
            "Are they correct ? (y/n):  "
            "\n"
            "Please enter the true response probability for the combination "
            "(1, 1):  "
            "\n"
            " The true response rate entered is :\n"
            "\n"
            "Drug 2  1|      -0.2\n"
            "         -----------\n"
            "                  1\n"
            "          Drug 1\n"
            "\n"
            "Are they correct ? (y/n):  "
            "\n"
            "Please enter the target toxicity : "
            "\n"
            "Please enter the lowest accpectable response rate : "
            "\n"
            "Please enter the prior estimate of toxicity probability for drug "
            "1 at the dose level 1:  "
            "\n"
            "The prior estimate of toxicity for drug 1 is: 0.1"
            "\n"
            "Are they correct ? (y/n): "
            "\n"
            "Please enter the prior estimate of toxicity probability for drug "
            "2 at the dose level 1:  "
            "\n"
            "The prior estimate of toxicity for drug 2 is : 0.2"
            "\n"
            "Are they correct ? (y/n): " +
                kCohortsToEnd);
}

TEST(Dialogue, ResponseTargetAndLowestResponseAboveOneAreReadAgain) {
  const DialogueRun run = rundialogue(
      "1 1 0.3 y 2 0.4 y 1.5 1.0001 0.3 7 1 0.1 y 0.2 y" + kCohorts + "1 y");
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_EQ(run.scen.sceneff[0][0], 0.4);
  EXPECT_EQ(run.s.targettox, 0.3);
  EXPECT_EQ(run.s.mineff, 1);
  EXPECT_EQ(from(run.out, "Please enter the true response"),
            "Please enter the true response probability for the combination "
            "(1, 1):  "
            "The response probability is larger than 1, please reenter the "
            "correct response prob:\n"
            "\n"
            " The true response rate entered is :\n"
            "\n"
            "Drug 2  1|       0.4\n"
            "         -----------\n"
            "                  1\n"
            "          Drug 1\n"
            "\n"
            "Are they correct ? (y/n):  "
            "\n"
            "Please enter the target toxicity : "
            "The target probability is larger than 1, please reenter the "
            "correct target prob:\n"
            "The target probability is larger than 1, please reenter the "
            "correct target prob:\n"
            "\n"
            "Please enter the lowest accpectable response rate : "
            "The response probability is larger than 1, please reenter the "
            "correct accpectable response rate:\n"
            "\n"
            "Please enter the prior estimate of toxicity probability for drug "
            "1 at the dose level 1:  "
            "\n"
            "The prior estimate of toxicity for drug 1 is: 0.1\n" +
                kConfirmList + "\n" +
                "Please enter the prior estimate of toxicity probability for "
                "drug 2 at the dose level 1:  "
                "\n"
                "The prior estimate of toxicity for drug 2 is : 0.2\n" +
                kConfirmList + kCohortsToEnd);
}

TEST(Dialogue, RejectedConfirmationRepeatsTheWholeBlock) {
  // Only a lower-case "y" on its own confirms.
  for (const std::string no : {"Y", "yes", "n", "y.", "x"}) {
    const DialogueRun run = rundialogue("2 1 0.1 0.2 " + no +
                                        " 0.15 0.25 y 0.3 0.4 y 0.3 0.2 0.1 "
                                        "0.2 y 0.3 y" +
                                        kCohorts + "1 y");
    EXPECT_EQ(run.status, kExitOk) << no;
    EXPECT_EQ(run.scen.scentox[0][0], 0.15) << no;
    EXPECT_EQ(run.scen.scentox[1][0], 0.25) << no;
    const std::string block =
        "\n"
        "Please enter the true toxicity probability for the combination "
        "(1, 1):  "
        "Please enter the true toxicity probability for the combination "
        "(2, 1):  "
        "\n"
        " The true toxicity probability entered is :\n"
        "\n";
    const std::string grid =
        "         ---------------------\n"
        "                  1         2\n"
        "               Drug 1\n"
        "\n";
    EXPECT_EQ(from(run.out, "please enter the number of dose for drug 2:  "),
              "please enter the number of dose for drug 2:  " + block +
                  "Drug 2  1|       0.1       0.2\n" + grid + kConfirmGrid +
                  block + "Drug 2  1|      0.15      0.25\n" + grid +
                  kConfirmGrid +
                  from(run.out,
                       "\nPlease enter the true response "
                       "probability for the combination (1, 1)"))
        << no;
  }
}

TEST(Dialogue, RejectedPriorsAreAllAskedAgain) {
  const DialogueRun run = rundialogue(
      "2 1 0.1 0.2 y 0.3 0.4 y 0.3 0.2 0.1 0.2 n 0.05 0.15 y "
      "0.3 y" +
      kCohorts + "1 y");
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_EQ(run.scen.scenprior1[0], 0.05);
  EXPECT_EQ(run.scen.scenprior1[1], 0.15);
  const std::string prompt1 =
      "Please enter the prior estimate of toxicity probability for drug 1 at "
      "the dose level 1:  ";
  const std::string prompt2 =
      "Please enter the prior estimate of toxicity probability for drug 1 at "
      "the dose level 2:  ";
  EXPECT_EQ(from(run.out, "\nPlease enter the lowest"),
            "\nPlease enter the lowest accpectable response rate : \n" +
                prompt1 + prompt2 +
                "\nThe prior estimate of toxicity for drug 1 is: 0.1, 0.2\n" +
                kConfirmList + "\n" + prompt1 + prompt2 +
                "\nThe prior estimate of toxicity for drug 1 is: 0.05, 0.15\n" +
                kConfirmList +
                from(run.out,
                     "\nPlease enter the prior estimate of toxicity "
                     "probability for drug 2 at the dose level 1"));
}

TEST(Dialogue, FinalQuestionRepeatsOnlyTheNumberOfTrials) {
  const DialogueRun run = rundialogue(kSmallGrid + kCohorts + "5 n 7 Y 8 y");
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_EQ(run.s.ntrial, 8);
  EXPECT_EQ(run.s.ncohort1, 10);
  EXPECT_EQ(from(run.out, "\nEnter the cohort size for the phase II"),
            "\nEnter the cohort size for the phase II trial:  "
            "\n"
            "Enter the number of simulated trials:  "
            "\n"
            "Are you sure to continue? (y/n): "
            "\n"
            "Enter the number of simulated trials:  "
            "\n"
            "Are you sure to continue? (y/n): "
            "\n"
            "Enter the number of simulated trials:  "
            "\n"
            "Are you sure to continue? (y/n): " +
                kNoticeBox);
}

TEST(Dialogue, TwoAnswersOnOneLine) {
  // The 3 left on the first line answers the drug-2 question.
  const DialogueRun run = rundialogue("2 3\n");
  EXPECT_EQ(run.s.ndose1, 2);
  EXPECT_EQ(run.s.ndose2, 3);
  EXPECT_EQ(from(run.out, "please enter"),
            "please enter the number of dose for drug 1:  "
            "please enter the number of dose for drug 2:  "
            "\n"
            "Please enter the true toxicity probability for the combination "
            "(1, 1):  "
            "Unexpected end of input while reading the true toxicity "
            "probability for the combination (1, 1)\n");
}

TEST(Dialogue, TenDoseLevelsAreAccepted) {
  std::string input = "10 1";
  for (int i = 0; i < 10; ++i) input += " 0.1";
  input += " y";
  const DialogueRun run = rundialogue(input);
  EXPECT_EQ(run.s.ndose1, 10);
  EXPECT_EQ(run.s.ndose2, 1);
  EXPECT_NE(run.out.find("(10, 1):  "), std::string::npos);
  EXPECT_NE(run.out.find(" The true toxicity probability entered is :"),
            std::string::npos);
}

TEST(Dialogue, SilentWithAnOutputStreamWithoutBuffer) {
  std::istringstream in(kSmallGrid + kCohorts + "4 y");
  std::ostream silent(nullptr);
  SimulationSettings s;
  ScenarioInput scen;
  EXPECT_EQ(readscenario(in, silent, s, scen), kExitOk);
  EXPECT_EQ(s.ntrial, 4);
  EXPECT_EQ(scen.sceneff[0][0], 0.4);
  EXPECT_EQ(scen.scenprior2[0], 0.2);
}

// An output buffer that holds what is written until it is flushed.
class HeldOutput : public std::streambuf {
 public:
  HeldOutput() { setp(buf_, buf_ + sizeof buf_); }
  bool pending() const { return pptr() != pbase(); }
  const std::string& flushed() const { return flushed_; }

 protected:
  int sync() override {
    flushed_.append(pbase(), pptr());
    setp(buf_, buf_ + sizeof buf_);
    return 0;
  }
  int_type overflow(int_type c) override {
    sync();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(c);
    return traits_type::not_eof(c);
  }

 private:
  char buf_[1 << 16];
  std::string flushed_;
};

// An input buffer that hands out one character at a time and counts the
// characters taken while `out` held text that was not flushed.
class WatchedInput : public std::streambuf {
 public:
  WatchedInput(std::string text, const HeldOutput& out)
      : text_(std::move(text)), out_(out) {}
  int reads = 0;           // characters handed out
  int unflushedreads = 0;  // of which with output still held

 protected:
  int_type underflow() override {
    if (pos_ == text_.size()) return traits_type::eof();
    ++reads;
    if (out_.pending()) ++unflushedreads;
    ch_ = text_[pos_++];
    setg(&ch_, &ch_, &ch_ + 1);
    return traits_type::to_int_type(ch_);
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
  char ch_ = 0;
  const HeldOutput& out_;
};

TEST(Dialogue, ConsoleIsFlushedBeforeEveryRead) {
  // Every kind of question, re-read and repeated block, then one failure.
  const std::string inputs[] = {
      "2 1 0.1 1.5 0.2 n 0.1 0.2 y 0.3 0.4 y 2 0.3 3 0.2 0 0.1 0.2 n 0.1 0.2 "
      "y 0.3 y 0 10 3 5 3 0 4 n 4 y",
      "1 1 0.3 y 0.4 y 0.3 0.2 0.1 y 0.2 y 10 3 5 x",
      "1 1 0.3 y 0.4 y 0.3 0.2 0.1 y 0.2 y 10 3 5",
  };
  for (const std::string& input : inputs) {
    HeldOutput held;
    WatchedInput watched(input, held);
    std::istream in(&watched);
    std::ostream out(&held);
    SimulationSettings s;
    ScenarioInput scen;
    readscenario(in, out, s, scen);
    EXPECT_GT(watched.reads, 0) << input;
    EXPECT_EQ(watched.unflushedreads, 0) << input;
    EXPECT_FALSE(held.pending()) << input;  // the last message is flushed too
  }
}

// ---- Exit paths -----------------------------------------------------------

TEST(Dialogue, ElevenDoseLevelsForDrug1EndWithStatus9) {
  const DialogueRun run = rundialogue("11\n3\n");
  EXPECT_EQ(run.status, kExitBadDoseCount);
  EXPECT_EQ(run.out, kBanner +
                         "please enter the number of dose for drug 1:  "
                         "The number of dose for drug 1 is too large\n");
  EXPECT_EQ(run.rest, "\n3\n");  // drug 2 is never asked
}

TEST(Dialogue, ElevenDoseLevelsForDrug2EndWithStatus9) {
  const DialogueRun run = rundialogue("3 11 0.1");
  EXPECT_EQ(run.status, kExitBadDoseCount);
  EXPECT_EQ(from(run.out, "please enter"),
            "please enter the number of dose for drug 1:  "
            "please enter the number of dose for drug 2:  "
            "The number of dose for drug 2 is too large\n");
}

TEST(Dialogue, DoseCountBelowOneEndsWithStatus9) {
  struct Case {
    const char* input;
    const char* message;
  } const cases[] = {
      {"0",
       "please enter the number of dose for drug 1:  "
       "The number of dose for drug 1 is too small\n"},
      {"-3",
       "please enter the number of dose for drug 1:  "
       "The number of dose for drug 1 is too small\n"},
      {"2 0",
       "please enter the number of dose for drug 1:  "
       "please enter the number of dose for drug 2:  "
       "The number of dose for drug 2 is too small\n"},
  };
  for (const Case& c : cases) {
    const DialogueRun run = rundialogue(c.input);
    EXPECT_EQ(run.status, kExitBadDoseCount) << c.input;
    EXPECT_EQ(run.out, kBanner + c.message) << c.input;
  }
}

TEST(Dialogue, EndOfInputMidMatrixEndsWithStatus2) {
  const DialogueRun run = rundialogue("2\n2\n0.05\n0.15\n0.15\n");
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_EQ(from(run.out,
                 "Please enter the true toxicity probability for the "
                 "combination (2, 2)"),
            "Please enter the true toxicity probability for the combination "
            "(2, 2):  "
            "Unexpected end of input while reading the true toxicity "
            "probability for the combination (2, 2)\n");
}

TEST(Dialogue, LettersInsteadOfANumberEndWithStatus2) {
  const DialogueRun run = rundialogue("2\n2\n0.05\nlow\n0.15\n");
  EXPECT_EQ(run.status, kExitBadInput);
  EXPECT_EQ(from(run.out,
                 "Please enter the true toxicity probability for the "
                 "combination (1, 2)"),
            "Please enter the true toxicity probability for the combination "
            "(1, 2):  "
            "Invalid input for the true toxicity probability for the "
            "combination (1, 2): \"low\" is not a number\n");
  EXPECT_EQ(run.rest, "\n0.15\n");  // the stream is not read again
}

TEST(Dialogue, UnreadableAnswersEndWithStatus2) {
  // Each input fails at the question named in the last line of the output.
  struct Case {
    std::string input;
    std::string lastline;
  } const cases[] = {
      {"",
       "please enter the number of dose for drug 1:  Unexpected end of "
       "input while reading the number of dose for drug 1\n"},
      {"two",
       "please enter the number of dose for drug 1:  Invalid input for "
       "the number of dose for drug 1: \"two\" is not a whole number "
       "written in digits\n"},
      {"99999999999",
       "please enter the number of dose for drug 1:  Invalid "
       "input for the number of dose for drug 1: \"99999999999\" is out "
       "of range\n"},
      {"3 x2",
       "please enter the number of dose for drug 1:  please enter "
       "the number of dose for drug 2:  Invalid input for the number "
       "of dose for drug 2: \"x2\" is not a whole number written in "
       "digits\n"},
      {"1 1 0.3",
       "Are they correct ? (y/n):  Unexpected end of input while "
       "reading the confirmation of the true toxicity "
       "probabilities\n"},
      {"1 1 0.3 y 0.4 y 1e999",
       "Please enter the target toxicity : Invalid "
       "input for the target toxicity: \"1e999\" is out of range\n"},
      {"1 1 0.3 y 0.4 y 0.3 -x",
       "Please enter the lowest accpectable response "
       "rate : Invalid input for the lowest "
       "acceptable response rate: \"-x\" is not a number\n"},
      {"1 1 0.3 y 0.4 y 0.3 0.2 0.1 y 0.2",
       "Are they correct ? (y/n): "
       "Unexpected end of input while "
       "reading the confirmation of the "
       "prior estimates for drug 2\n"},
      {kSmallGrid + "10 3 5 three",
       "Enter the cohort size for the phase II "
       "trial:  Invalid input for the cohort "
       "size for the phase II trial: \"three\" is not a "
       "whole number written in digits\n"},
      {kSmallGrid + kCohorts,
       "Enter the number of simulated trials:  "
       "Unexpected end of input while reading the "
       "number of simulated trials\n"},
      {kSmallGrid + kCohorts + "5 n",
       "Enter the number of simulated trials:  "
       "Unexpected end of input while reading "
       "the number of simulated trials\n"},
      {kSmallGrid + kCohorts + "5",
       "Are you sure to continue? (y/n): "
       "Unexpected end of input while reading "
       "the confirmation of the number of "
       "simulated trials\n"},
  };
  for (const Case& c : cases) {
    const DialogueRun run = rundialogue(c.input);
    EXPECT_EQ(run.status, kExitBadInput) << c.input;
    const std::size_t start = run.out.rfind('\n', run.out.size() - 2);
    EXPECT_EQ(run.out.substr(start + 1), c.lastline) << c.input;
  }
}

TEST(Dialogue, AnswersAreTakenOnlyWhole) {
  // From a file, a token read only in part stops the dialogue at its own
  // question; nothing is stored from it or blamed on the next question.
  struct Case {
    std::string input;
    std::string lastline;
  } const cases[] = {
      {"2.5 3",
       "please enter the number of dose for drug 1:  Invalid input for the "
       "number of dose for drug 1: \"2.5\" is not a whole number written in "
       "digits\n"},
      {"1 1 0,05 y",
       "Please enter the true toxicity probability for the combination (1, "
       "1):  Invalid input for the true toxicity probability for the "
       "combination (1, 1): \"0,05\" is not a number\n"},
      {"1 1 O.15",
       "Please enter the true toxicity probability for the combination (1, "
       "1):  Invalid input for the true toxicity probability for the "
       "combination (1, 1): \"O.15\" is not a number\n"},
      {kSmallGrid + kCohorts + "1e3 y",
       "Enter the number of simulated trials:  Invalid input for the number "
       "of simulated trials: \"1e3\" is not a whole number written in "
       "digits\n"},
  };
  for (const Case& c : cases) {
    const DialogueRun run = rundialogue(c.input);
    EXPECT_EQ(run.status, kExitBadInput) << c.input;
    const std::size_t start = run.out.rfind('\n', run.out.size() - 2);
    EXPECT_EQ(run.out.substr(start + 1), c.lastline) << c.input;
  }
  EXPECT_EQ(rundialogue("2.5 3").s.ndose1, 0);

  // At a terminal the same answer is asked for again, the rest of its line
  // dropped (0.9 is never read).
  const DialogueRun typed = rundialogue(
      "1 1 0,05 0.9\n0.3 y 0.4 y 0.3 0.2 0.1 y 0.2 y" + kCohorts + "1e3\n4 y",
      true);
  EXPECT_EQ(typed.status, kExitOk);
  EXPECT_EQ(typed.scen.scentox[0][0], 0.3);
  EXPECT_EQ(typed.s.ntrial, 4);
  EXPECT_NE(typed.out.find(
                "(1, 1):  \"0,05\" is not a number, please reenter the true "
                "toxicity probability for the combination (1, 1):\n\n The "
                "true toxicity"),
            std::string::npos);
  EXPECT_NE(typed.out.find("trials:  \"1e3\" is not a whole number written "
                           "in digits, please reenter the number of simulated "
                           "trials:\n\nAre you sure"),
            std::string::npos);

  // A byte-order mark before the first answer is skipped.
  const DialogueRun marked =
      rundialogue("\xEF\xBB\xBF" + kSmallGrid + kCohorts + "4 y");
  EXPECT_EQ(marked.status, kExitOk);
  EXPECT_EQ(marked.s.ndose1, 1);
}

TEST(Dialogue, PriorsOutsideZeroToOneAreReadAgain) {
  const DialogueRun run = rundialogue(
      "1 1 0.3 y 0.4 y 0.3 0.2 0 1 -0.1 1.5 "
      "0.1 y 0.2 y" +
      kCohorts + "1 y");
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_EQ(run.scen.scenprior1[0], 0.1);
  const std::string again =
      "The prior estimate of toxicity probability must lie strictly between 0 "
      "and 1, please reenter the correct prior prob:\n";
  EXPECT_EQ(
      from(run.out,
           "Please enter the prior estimate of toxicity "
           "probability for drug 1"),
      "Please enter the prior estimate of toxicity probability for drug 1 "
      "at the dose level 1:  " +
          again + again + again + again +
          "\nThe prior estimate of toxicity for drug 1 is: 0.1\n" +
          kConfirmList +
          from(run.out,
               "\nPlease enter the prior estimate of toxicity "
               "probability for drug 2"));
}

TEST(Dialogue, CohortNumbersAndSizesOutsideTheirBoundsAreReadAgain) {
  const DialogueRun run =
      rundialogue(kSmallGrid + "0 1001 1000 -2 0 1 -1 0 1001 0 1 0 -5 3 y");
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_EQ(run.s.ncohort1, 1000);
  EXPECT_EQ(run.s.cohortsize1, 1);
  EXPECT_EQ(run.s.ncohort2, 0);
  EXPECT_EQ(run.s.cohortsize2, 1);
  EXPECT_EQ(run.s.ntrial, 3);
  EXPECT_EQ(
      from(run.out, "\nEnter the total number of cohorts for the phase I"),
      "\n"
      "Enter the total number of cohorts for the phase I dose finding:  "
      "The total number of cohorts for the phase I dose finding must be at "
      "least 1, please reenter:\n"
      "The total number of cohorts for the phase I dose finding must be at "
      "most 1000, please reenter:\n"
      "\n"
      "Enter the cohort size for the phase I trial:  "
      "The cohort size for the phase I trial must be at least 1, please "
      "reenter:\n"
      "The cohort size for the phase I trial must be at least 1, please "
      "reenter:\n"
      "\n"
      "Enter the total number of cohorts for the phase II trial:  "
      "The total number of cohorts for the phase II trial must be at least 0, "
      "please reenter:\n"
      "\n"
      "Enter the cohort size for the phase II trial:  "
      "The cohort size for the phase II trial must be at most 1000, please "
      "reenter:\n"
      "The cohort size for the phase II trial must be at least 1, please "
      "reenter:\n"
      "\n"
      "Enter the number of simulated trials:  "
      "The number of simulated trials must be at least 1, please reenter:\n"
      "The number of simulated trials must be at least 1, please reenter:\n"
      "\n"
      "Are you sure to continue? (y/n): " +
          kNoticeBox);
}

// ---- The grid echo --------------------------------------------------------

// m(d1, d2) = (10 (d1 + 1) + d2 + 1) / 100: 0.11 at (1, 1), 0.2 at (1, 10).
struct Numbered {
  double m[kMaxDose][kMaxDose] = {};
  Numbered() {
    for (int d1 = 0; d1 < kMaxDose; ++d1) {
      for (int d2 = 0; d2 < kMaxDose; ++d2) {
        m[d1][d2] = (10 * (d1 + 1) + d2 + 1) / 100.0;
      }
    }
  }
};

std::string grid(int ndose1, int ndose2) {
  const Numbered n;
  std::ostringstream out;
  showgrid(out, n.m, ndose1, ndose2);
  return out.str();
}

const std::string kFoot3 =
    "         -------------------------------\n"  // 9 blanks, 31 dashes
    "                  1         2         3\n"
    "                    Drug 1\n"  // 20 blanks
    "\n";

TEST(ShowGrid, OneRowCarriesTheDrug2Label) {
  // Default real format: 6 significant digits, no trailing zeros.
  double m[kMaxDose][kMaxDose] = {};
  m[0][0] = 1.0 / 3;
  m[1][0] = 1;
  m[2][0] = 1e-7;
  std::ostringstream out;
  showgrid(out, m, 3, 1);
  EXPECT_EQ(out.str(), "Drug 2  1|  0.333333         1     1e-07\n" + kFoot3);
}

TEST(ShowGrid, TwoRowsLabelTheTopRow) {
  EXPECT_EQ(grid(3, 2),
            "Drug 2  2|      0.12      0.22      0.32\n"
            "        1|      0.11      0.21      0.31\n" +
                kFoot3);
}

TEST(ShowGrid, ThreeRowsLabelTheMiddleRow) {
  EXPECT_EQ(grid(3, 3),
            "        3|      0.13      0.23      0.33\n"
            "Drug 2  2|      0.12      0.22      0.32\n"
            "        1|      0.11      0.21      0.31\n" +
                kFoot3);
}

TEST(ShowGrid, FourRowsLabelLevel3) {
  EXPECT_EQ(grid(3, 4),
            "        4|      0.14      0.24      0.34\n"
            "Drug 2  3|      0.13      0.23      0.33\n"
            "        2|      0.12      0.22      0.32\n"
            "        1|      0.11      0.21      0.31\n" +
                kFoot3);
}

TEST(ShowGrid, TenRowsShiftTheTopRowByOneColumn) {
  EXPECT_EQ(grid(3, 10),
            "        10|       0.2       0.3       0.4\n"
            "        9|      0.19      0.29      0.39\n"
            "        8|      0.18      0.28      0.38\n"
            "        7|      0.17      0.27      0.37\n"
            "Drug 2  6|      0.16      0.26      0.36\n"
            "        5|      0.15      0.25      0.35\n"
            "        4|      0.14      0.24      0.34\n"
            "        3|      0.13      0.23      0.33\n"
            "        2|      0.12      0.22      0.32\n"
            "        1|      0.11      0.21      0.31\n" +
                kFoot3);
}

TEST(ShowGrid, OneColumn) {
  EXPECT_EQ(grid(1, 2),
            "Drug 2  2|      0.12\n"
            "        1|      0.11\n"
            "         -----------\n"
            "                  1\n"
            "          Drug 1\n"
            "\n");
}

}  // namespace
