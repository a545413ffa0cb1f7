// batch/pool.cc: the pool of worker processes and their progress.
//
// A worker reports to the program that started it through a pipe, one line
// at a time:
//   T <total>   the trials it will run
//   P <done>    after each trial
//   W <text>    a note on its input
//   E <text>    the problem that stopped it
// and exits 0 once its files are written, 1 otherwise.
#include "batch/pool.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <utility>

#include "batch/runner.h"

using Clock = WorkerJob::Clock;
using Job = WorkerJob;

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

namespace {

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
  ProgressBoard(std::string program, bool shown)
      : program_(std::move(program)), shown_(shown) {}

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
    board << program_ << ": " << finished << " of " << jobs.size()
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
  std::string program_;
  bool shown_;
  int lines_ = 0;  // lines of the board on the screen
};

// Starts the worker of `job`. Returns false, with job.problem set, when no
// process could be made.
bool startworker(Job& job, std::ostream& out, std::ostream& err) {
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
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    job.problem = job.path + ": cannot start a process: " + std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    // The worker ends with the batch program, so that none writes after its
    // run: the next run in the directory cleans up what it left.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
      _exit(kBatchFailed);
    }
    close(fds[0]);
    const int status = job.work(fds[1]);
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

// Waits for the worker of `job` after its pipe closed and settles its fate:
// the files it wrote are put in place in `outdir`, or removed.
void finishworker(Job& job, OutputDir& outdir) {
  close(job.fd);
  job.fd = -1;
  int status = 0;
  while (waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {
  }
  const std::vector<std::string>& names = job.names;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kBatchOk && job.problem.empty()) {
    const std::string problem = outdir.place(names, job.pid);
    job.written = problem.empty();
    if (!job.written) job.problem = job.path + ": " + problem;
    return;
  }
  // A worker that ended early may leave temporary files behind.
  for (const std::string& name : names) {
    std::remove(temporarypath(outputpath(outdir.dir(), name), job.pid).c_str());
  }
  if (job.problem.empty()) {
    job.problem = job.path + ": the scenario's process ended " +
                  (WIFSIGNALED(status)
                       ? "by signal " + std::to_string(WTERMSIG(status))
                       : "with status " + std::to_string(WEXITSTATUS(status)));
  }
}

}  // namespace

void runpool(const std::string& program, int njobs, std::vector<Job>& jobs,
             OutputDir& outdir, std::ostream& out, std::ostream& err) {
  ProgressBoard board(program, isatty(STDERR_FILENO) != 0);
  std::size_t next = 0;
  int running = 0;
  int finished = 0;
  Clock::time_point lastdraw;
  while (next < jobs.size() || running > 0) {
    while (running < njobs && next < jobs.size()) {
      Job& job = jobs[next++];
      if (job.problem.empty() && startworker(job, out, err)) {
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
      finishworker(job, outdir);
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

