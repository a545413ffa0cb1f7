// tests/program_runner.h: runs the built combosim as a user runs it, with an
// answer file on standard input, in a scratch directory of its own (the
// program writes its report into its current directory).
#ifndef COMBOSIM_TESTS_PROGRAM_RUNNER_H_
#define COMBOSIM_TESTS_PROGRAM_RUNNER_H_

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace programrunner {

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
inline std::string shellquote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct ProgramRun {
  int status = -1;  // exit status; -1 if the program did not exit normally
  std::string out;  // everything written to standard output
  std::string err;  // and to standard error, when captured
};

// Runs combosim in `dir` with standard input read from `inputfile`.
inline ProgramRun runcombosim(const fs::path& dir, const fs::path& inputfile) {
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

// Runs the shell command `command` (bash) in `dir`; its standard output and
// standard error are captured.
inline ProgramRun runindir(const fs::path& dir, const std::string& command) {
  ProgramRun run;
  const fs::path errfile = dir / "stderr.txt";
  const std::string shell = "cd " + shellquote(dir.string()) + " && bash -c " +
                            shellquote(command) + " 2> " +
                            shellquote(errfile.string());
  FILE* pipe = popen(shell.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.out.append(buffer, n);
  const int wait = pclose(pipe);
  if (wait != -1 && WIFEXITED(wait)) run.status = WEXITSTATUS(wait);
  std::ifstream err(errfile, std::ios::binary);
  std::ostringstream text;
  text << err.rdbuf();
  run.err = text.str();
  fs::remove(errfile);
  return run;
}

inline fs::path sourcefile(const std::string& relative) {
  return fs::path(COMBOSIM_SOURCE_DIR) / relative;
}

inline std::string readfile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The last `n` characters of `text` (all of it if shorter).
inline std::string tail(const std::string& text, std::size_t n) {
  return text.size() > n ? text.substr(text.size() - n) : text;
}

// The report with its clock lines masked: the calendar time that follows the
// dash rule, and the processor time.
inline std::string maskclock(const std::string& text) {
  static const std::regex calendar("(-{64}\n)[^\n]*\n");
  static const std::regex cpu("CPU time \\(hour\\)= [^ ]+");
  std::string masked = std::regex_replace(text, calendar, "$1<calendar time>\n");
  return std::regex_replace(masked, cpu, "CPU time (hour)= <cpu hours>");
}

}  // namespace programrunner

#endif  // COMBOSIM_TESTS_PROGRAM_RUNNER_H_
