// batch/runner.cc: the pool of scenario processes, their progress, and the
// files that come out of a batch run or a merge.
//
// A scenario's process (the worker) reports to the batch program through a
// pipe, one line at a time:
//   T <total>   the trials it will run
//   P <done>    after each trial
//   W <text>    a note on the scenario file
//   E <text>    the problem that stopped it
// and exits 0 once its files are written, 1 otherwise.
#include "batch/runner.h"

#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Reads one scenario's result file (NAME.json, or a shard's) into r.
bool readresultfile(const std::string& file, BatchResult& r,
                    std::string& problem) {
  Json j;
  return readjsonfile(file, j, problem) && resultfromjson(j, file, r, problem);
}

using Clock = std::chrono::steady_clock;

// --- The worker: one scenario, in its own process -------------------------

// Writes one report line to the pipe; a line never holds a line break.
void sendline(int fd, char kind, const std::string& text) {
  std::string line = std::string(1, kind) + " " + text;
  for (char& c : line) c = c == '\n' ? ' ' : c;
  line += '\n';
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the batch program is gone; nothing to tell
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

std::string outputpath(const std::string& outdir, const std::string& file) {
  return (fs::path(outdir) / file).string();
}

// Reads, simulates and writes one scenario. Returns the worker's exit status.
int runworker(const BatchOptions& options, const std::string& path,
              int position, int fd) {
  const ScenarioRead read = readscenariofile(path);
  for (const std::string& note : read.notes) sendline(fd, 'W', note);
  if (!read.problem.empty()) {
    sendline(fd, 'E', read.problem);
    return kBatchFailed;
  }

  BatchResult r;
  r.name = scenarioname(path);
  r.source = path;
  r.position = position;
  r.settings = read.settings;
  r.input = read.input;
  r.rules = read.rules;
  r.random = options.random;
  r.nshard = options.nshard;
  if (options.shard > 0) {
    r.shards = {options.shard};
  } else {
    for (int k = 1; k <= options.nshard; ++k) r.shards.push_back(k);
  }
  if (r.nshard > r.settings.ntrial) {
    sendline(fd, 'E', path + ": " + std::to_string(r.nshard) + " shards for " +
                          std::to_string(r.settings.ntrial) +
                          " trials: every shard needs a trial at least");
    return kBatchFailed;
  }

  int total = 0;
  for (int k : r.shards) total += shardtrials(r.settings.ntrial, k, r.nshard).count;
  sendline(fd, 'T', std::to_string(total));
  const std::string stem = outputstem(r);
  // Each trial's outcome goes straight to a temporary file, renamed into
  // place with the other outputs: memory stays bounded however many trials.
  const std::string trialspath =
      outputpath(options.outdir, stem + ".trials.csv");
  const std::string trialstemp = trialspath + ".tmp" + std::to_string(getpid());
  std::ofstream trialsfile;
  TrialFn ontrial;
  if (options.trials) {
    trialsfile.open(trialstemp, std::ios::binary | std::ios::trunc);
    writetrialsheader(trialsfile);
    ontrial = [&trialsfile](std::int64_t t, const TrialOutcome& outcome) {
      writetrialrow(trialsfile, t, outcome);
    };
  }
  const std::string failure = simulate(
      r, [fd](int done, int) { sendline(fd, 'P', std::to_string(done)); },
      ontrial);
  if (options.trials) {
    trialsfile.close();
    std::string problem;
    if (!failure.empty()) {
      std::remove(trialstemp.c_str());
    } else if (!trialsfile) {
      problem = "cannot write " + trialspath;
    } else if (std::rename(trialstemp.c_str(), trialspath.c_str()) != 0) {
      problem = "cannot write " + trialspath + ": " + std::strerror(errno);
    }
    if (!problem.empty()) {
      std::remove(trialstemp.c_str());
      sendline(fd, 'E', path + ": " + problem);
      return kBatchFailed;
    }
  }
  if (!failure.empty()) {
    sendline(fd, 'E', path + ": " + failure);
    return kBatchFailed;
  }

  std::ostringstream text;
  writereporttext(text, r);
  for (const auto& [file, contents] :
       {std::pair<std::string, std::string>{stem + ".txt", text.str()},
        {stem + ".json", resulttojson(r).dump(2) + "\n"}}) {
    const std::string problem =
        writefileatomically(outputpath(options.outdir, file), contents);
    if (!problem.empty()) {
      sendline(fd, 'E', path + ": " + problem);
      return kBatchFailed;
    }
  }
  return kBatchOk;
}

// --- The batch program's side ---------------------------------------------

struct Job {
  std::string path;      // scenario file
  std::string stem;      // its outputs' file name without extension
  int position = 0;      // its place on the command line, from 1
  std::string problem;   // why it was not written, once known
  bool written = false;  // its worker wrote its files
  pid_t pid = -1;
  int fd = -1;           // read end of its pipe while it runs
  std::string partial;   // report text after the last full line
  int done = 0;          // trials done
  int total = 0;         // trials to do; 0 until the worker says
  Clock::time_point started;
};

// "m:ss", or "h:mm:ss" from an hour on.
std::string clocktext(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  std::ostringstream text;
  if (s >= 3600) {
    text << s / 3600 << ':' << std::setw(2) << std::setfill('0') << s / 60 % 60;
  } else {
    text << s / 60;
  }
  text << ':' << std::setw(2) << std::setfill('0') << s % 60;
  return text.str();
}

// The progress lines on a terminal: one per running scenario, redrawn in
// place. Messages are printed above them.
class ProgressBoard {
 public:
  explicit ProgressBoard(bool shown) : shown_(shown) {}

  bool shown() const { return shown_; }

  // Prints a line that stays, above the board.
  void message(std::ostream& err, const std::string& line) {
    clear(err);
    err << line << std::endl;
  }

  void draw(std::ostream& err, const std::vector<Job>& jobs, int finished) {
    if (!shown_) return;
    clear(err);
    std::ostringstream board;
    board << "combosim-batch: " << finished << " of " << jobs.size()
          << " scenarios finished\n";
    lines_ = 1;
    const Clock::time_point now = Clock::now();
    for (const Job& job : jobs) {
      if (job.fd < 0) continue;
      const double elapsed =
          std::chrono::duration<double>(now - job.started).count();
      board << "  " << job.stem << ": ";
      if (job.total == 0) {
        board << "reading the scenario\n";
        ++lines_;
        continue;
      }
      board << job.done << " of " << job.total << " trials, "
            << clocktext(elapsed) << " elapsed";
      if (job.done > 0) {
        board << ", about "
              << clocktext(elapsed * (job.total - job.done) / job.done)
              << " left";
      }
      board << "\n";
      ++lines_;
    }
    err << board.str() << std::flush;
  }

  void clear(std::ostream& err) {
    if (shown_ && lines_ > 0) err << "\x1b[" << lines_ << "A\x1b[J";
    lines_ = 0;
  }

 private:
  bool shown_;
  int lines_ = 0;  // lines of the board on the screen
};

// Starts the worker of `job`. Returns false, with job.problem set, when no
// process could be made.
bool startworker(const BatchOptions& options, Job& job, std::ostream& out,
                 std::ostream& err) {
  int fds[2];
  if (pipe(fds) != 0) {
    job.problem = job.path + ": cannot start a process: " + std::strerror(errno);
    return false;
  }
  // Nothing buffered may be written twice, by the batch program and the child.
  out.flush();
  err.flush();
  std::cout.flush();
  std::cerr.flush();
  const pid_t pid = fork();
  if (pid < 0) {
    job.problem = job.path + ": cannot start a process: " + std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    close(fds[0]);
    const int status = runworker(options, job.path, job.position, fds[1]);
    std::cout.flush();
    std::cerr.flush();
    _exit(status);
  }
  close(fds[1]);
  job.pid = pid;
  job.fd = fds[0];
  job.started = Clock::now();
  return true;
}

// Handles one full report line of a worker.
void handleline(Job& job, const std::string& line, ProgressBoard& board,
                std::ostream& err) {
  if (line.size() < 2) return;
  const std::string text = line.substr(2);
  switch (line[0]) {
    case 'T': job.total = std::atoi(text.c_str()); break;
    case 'P': job.done = std::atoi(text.c_str()); break;
    case 'W': board.message(err, text); break;
    case 'E': job.problem = text; break;
    default: break;
  }
}

// Reads what the worker of `job` sent. Returns false once its pipe is closed.
bool readworker(Job& job, ProgressBoard& board, std::ostream& err) {
  char buffer[4096];
  const ssize_t n = read(job.fd, buffer, sizeof buffer);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  job.partial.append(buffer, static_cast<std::size_t>(n));
  std::size_t end;
  while ((end = job.partial.find('\n')) != std::string::npos) {
    handleline(job, job.partial.substr(0, end), board, err);
    job.partial.erase(0, end + 1);
  }
  return true;
}

// Waits for the worker of `job` after its pipe closed and settles its fate.
void finishworker(Job& job) {
  close(job.fd);
  job.fd = -1;
  int status = 0;
  while (waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kBatchOk && job.problem.empty()) {
    job.written = true;
  } else if (job.problem.empty()) {
    job.problem = job.path + ": the scenario's process ended " +
                  (WIFSIGNALED(status)
                       ? "by signal " + std::to_string(WTERMSIG(status))
                       : "with status " + std::to_string(WEXITSTATUS(status)));
  }
}

// Runs the workers of `jobs`, at most `options.jobs` at once, in order.
void runpool(const BatchOptions& options, std::vector<Job>& jobs,
             std::ostream& out, std::ostream& err) {
  ProgressBoard board(isatty(STDERR_FILENO) != 0);
  std::size_t next = 0;
  int running = 0;
  int finished = 0;
  Clock::time_point lastdraw;
  while (next < jobs.size() || running > 0) {
    while (running < options.jobs && next < jobs.size()) {
      Job& job = jobs[next++];
      if (job.problem.empty() && startworker(options, job, out, err)) {
        ++running;
      } else {
        board.message(err, job.problem);
        ++finished;
      }
    }
    if (running == 0) continue;

    std::vector<pollfd> fds;
    std::vector<Job*> polled;
    for (Job& job : jobs) {
      if (job.fd >= 0) {
        fds.push_back({job.fd, POLLIN, 0});
        polled.push_back(&job);
      }
    }
    const int ready = poll(fds.data(), fds.size(), board.shown() ? 500 : -1);
    if (ready < 0 && errno == EINTR) continue;
    // A poll that fails (it cannot with these descriptors) leaves blocking
    // reads of each pipe to its end.
    const bool pollfailed = ready < 0;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      Job& job = *polled[i];
      if (pollfailed) {
        while (readworker(job, board, err)) {
        }
      } else if (fds[i].revents == 0 || readworker(job, board, err)) {
        continue;
      }
      finishworker(job);
      --running;
      ++finished;
      if (!job.written) board.message(err, job.problem);
    }
    const Clock::time_point now = Clock::now();
    if (now - lastdraw >= std::chrono::milliseconds(500)) {
      board.draw(err, jobs, finished);
      lastdraw = now;
    }
  }
  board.clear(err);
}

// "NAME: 100 trials, 12.00% inconclusive: DIR/NAME.txt DIR/NAME.json", the
// percentage exact rather than the report's.
void writtenline(std::ostream& out, const BatchResult& r,
                 const std::string& outdir) {
  std::ostringstream percent;
  percent << std::fixed << std::setprecision(2) << exactinconclusive(r);
  const std::string stem = outputstem(r);
  out << r.name << ": " << r.ntrial << (r.ntrial == 1 ? " trial, " : " trials, ")
      << percent.str()
      << "% inconclusive: " << outputpath(outdir, stem + ".txt") << ' '
      << outputpath(outdir, stem + ".json") << std::endl;
}

// Writes the run's files from `results`: summary.csv, or summary`infix`.csv
// for one part, and for a whole run (no infix) oc.csv and report.html too.
// Prints a line naming each file written on `out`. Returns "" or the
// problem.
std::string writerunfiles(const std::vector<BatchResult>& results,
                          const std::string& outdir, const std::string& infix,
                          std::ostream& out) {
  std::ostringstream summary;
  writesummaryheader(summary);
  for (const BatchResult& r : results) writesummaryrows(summary, r);
  std::vector<std::pair<std::string, std::string>> files = {
      {"summary" + infix + ".csv", summary.str()}};
  if (infix.empty()) {
    std::ostringstream oc;
    writeocheader(oc);
    std::vector<HtmlScenario> pages;
    for (const BatchResult& r : results) {
      writeocrow(oc, r);
      pages.push_back(htmlscenario(r));
    }
    files.push_back({"oc.csv", oc.str()});
    files.push_back({"report.html", htmlreport(pages)});
  }
  for (const auto& [file, text] : files) {
    const std::string path = outputpath(outdir, file);
    const std::string problem = writefileatomically(path, text);
    if (!problem.empty()) return problem;
    out << file.substr(0, file.find('.')) << ": " << path << std::endl;
  }
  return "";
}

// Makes `outdir` if needed. Returns "" or the problem.
std::string makeoutdir(const std::string& outdir) {
  std::error_code error;
  fs::create_directories(outdir, error);
  if (error || !fs::is_directory(outdir)) {
    return "cannot use the output directory " + outdir + ": " +
           (error ? error.message() : "not a directory");
  }
  return "";
}

// Joins the trials files of every part, in the order of the parts, into
// `path`: one header, then every part's rows. Returns "" or the problem.
std::string jointrials(const std::map<int, std::string>& files, int nshard,
                       const std::string& path) {
  if (static_cast<int>(files.size()) != nshard) {
    return "trials files of some shards are missing; " + path + " not written";
  }
  std::ostringstream joined;
  writetrialsheader(joined);
  const std::string header = joined.str();
  for (const auto& [k, file] : files) {
    std::string text;
    std::string problem;
    if (!readwholefile(file, text, problem)) return problem;
    if (text.compare(0, header.size(), header) != 0) {
      return file + ": not a trials file of combosim-batch";
    }
    joined << text.substr(header.size());
  }
  return writefileatomically(path, joined.str());
}

}  // namespace

int availablecores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return CPU_COUNT(&set);
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

int runbatch(const BatchOptions& options, std::ostream& out, std::ostream& err) {
  const std::string dirproblem = makeoutdir(options.outdir);
  if (!dirproblem.empty()) {
    err << "combosim-batch: " << dirproblem << std::endl;
    return kBatchUsage;
  }

  // The stem a part's files get, e.g. demo.shard-2-of-4.
  BatchResult form;
  form.nshard = options.nshard;
  if (options.shard > 0) {
    form.shards = {options.shard};
  } else {
    for (int k = 1; k <= options.nshard; ++k) form.shards.push_back(k);
  }
  std::vector<Job> jobs;
  std::map<std::string, std::string> stems;  // stem -> file that has it
  for (const std::string& path : options.files) {
    Job job;
    job.path = path;
    job.position = static_cast<int>(jobs.size()) + 1;
    form.name = scenarioname(path);
    job.stem = outputstem(form);
    const auto [taken, fresh] = stems.emplace(job.stem, path);
    std::error_code ignored;
    if (!fresh) {
      job.problem = path + ": its outputs would overwrite those of " +
                    taken->second + " (same name " + job.stem + ")";
    } else if (fs::equivalent(path, outputpath(options.outdir, job.stem + ".txt"),
                              ignored) ||
               fs::equivalent(path, outputpath(options.outdir, job.stem + ".json"),
                              ignored)) {
      job.problem = path + ": its report would overwrite it; choose another "
                    "output directory";
    }
    jobs.push_back(job);
  }

  runpool(options, jobs, out, err);

  // The summary, from the files as written, in the order of the scenarios.
  std::vector<BatchResult> results;
  bool failed = false;
  for (Job& job : jobs) {
    if (!job.written) {
      failed = true;
      continue;
    }
    const std::string file = outputpath(options.outdir, job.stem + ".json");
    BatchResult r;
    std::string problem;
    if (!readresultfile(file, r, problem)) {
      err << problem << std::endl;
      failed = true;
      continue;
    }
    writtenline(out, r, options.outdir);
    results.push_back(r);
  }
  const std::string infix =
      options.shard > 0 ? ".shard-" + std::to_string(options.shard) + "-of-" +
                              std::to_string(options.nshard)
                        : "";
  const std::string problem = writerunfiles(results, options.outdir, infix, out);
  if (!problem.empty()) {
    err << "combosim-batch: " << problem << std::endl;
    return kBatchFailed;
  }
  return failed ? kBatchFailed : kBatchOk;
}

int runmerge(const std::vector<std::string>& files, const std::string& outdir,
             std::ostream& out, std::ostream& err) {
  const std::string dirproblem = makeoutdir(outdir);
  if (!dirproblem.empty()) {
    err << "combosim-batch: " << dirproblem << std::endl;
    return kBatchUsage;
  }

  // The parts, scenario by scenario, in the order of the run's command line.
  bool failed = false;
  std::vector<std::string> names;
  std::map<std::string, std::vector<BatchResult>> parts;
  std::map<std::string, std::map<int, std::string>> trialfiles;  // name -> shard -> file
  for (const std::string& file : files) {
    BatchResult r;
    std::string problem;
    if (!readresultfile(file, r, problem)) {
      err << problem << std::endl;
      failed = true;
      continue;
    }
    if (parts.find(r.name) == parts.end()) names.push_back(r.name);
    const fs::path trials = fs::path(file).parent_path() /
                            (outputstem(r) + ".trials.csv");
    if (fs::exists(trials)) trialfiles[r.name][r.shards.front()] = trials.string();
    parts[r.name].push_back(r);
  }
  std::stable_sort(names.begin(), names.end(),
                   [&parts](const std::string& a, const std::string& b) {
                     return parts[a].front().position < parts[b].front().position;
                   });

  std::vector<BatchResult> results;
  for (const std::string& name : names) {
    BatchResult merged;
    std::string problem = mergeresults(parts[name], merged);
    if (problem.empty()) {
      std::ostringstream text;
      writereporttext(text, merged);
      problem = writefileatomically(outputpath(outdir, name + ".txt"), text.str());
      if (problem.empty()) {
        problem = writefileatomically(outputpath(outdir, name + ".json"),
                                      resulttojson(merged).dump(2) + "\n");
      }
      if (problem.empty() && trialfiles.count(name) > 0) {
        problem = jointrials(trialfiles[name], merged.nshard,
                             outputpath(outdir, name + ".trials.csv"));
      }
    }
    if (!problem.empty()) {
      err << name << ": " << problem << std::endl;
      failed = true;
      continue;
    }
    writtenline(out, merged, outdir);
    results.push_back(merged);
  }
  const std::string problem = writerunfiles(results, outdir, "", out);
  if (!problem.empty()) {
    err << "combosim-batch: " << problem << std::endl;
    return kBatchFailed;
  }
  return failed ? kBatchFailed : kBatchOk;
}
