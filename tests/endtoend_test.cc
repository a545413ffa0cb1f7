// tests/endtoend_test.cc: the built combosim, run as a user runs it, with an
// answer file on standard input, in a scratch directory of its own (the
// program writes its report into its current directory).
//
// runcombosim() is the helper for every test of the whole program: it returns
// the exit status and everything the program wrote to standard output.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A fresh empty directory, removed with everything in it at the end of scope.
class ScratchDir {
 public:
  ScratchDir() {
    std::string name = (fs::temp_directory_path() / "combosim-XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr) path_ = name;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& path() const { return path_; }  // empty if not created

 private:
  fs::path path_;
};

// The given text as one word for the shell.
std::string shellquote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct ProgramRun {
  int status = -1;  // exit status; -1 if the program did not exit normally
  std::string out;  // everything written to standard output
};

// Runs combosim in `dir` with standard input read from `inputfile`.
ProgramRun runcombosim(const fs::path& dir, const fs::path& inputfile) {
  ProgramRun run;
  const std::string command = "cd " + shellquote(dir.string()) + " && " +
                              shellquote(COMBOSIM_EXE) + " < " +
                              shellquote(inputfile.string());
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.out.append(buffer, n);
  const int wait = pclose(pipe);
  if (wait != -1 && WIFEXITED(wait)) run.status = WEXITSTATUS(wait);
  return run;
}

fs::path sourcefile(const std::string& relative) {
  return fs::path(COMBOSIM_SOURCE_DIR) / relative;
}

std::string readfile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The last `n` characters of `text` (all of it if shorter).
std::string tail(const std::string& text, std::size_t n) {
  return text.size() > n ? text.substr(text.size() - n) : text;
}

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
  // What follows the notice box. Nothing yet: the program ends after the
  // dialogue until trials are simulated.
  const std::string after =
      run.out.size() > dialogue.size() ? run.out.substr(dialogue.size()) : "";
  EXPECT_EQ(after, "");
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
       "combination (1, 2): not a number, or out of range\n"},
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
