// batch/pool.h: workers, each in a process of its own forked from the
// program before it has touched the engine, run at most N at once; their
// files are put in place as each ends well.
#ifndef COMBOSIM_BATCH_POOL_H_
#define COMBOSIM_BATCH_POOL_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "batch/outputs.h"

// One worker: what it runs, the files it writes, and how it went.
struct WorkerJob {
  using Clock = std::chrono::steady_clock;
  std::string path;      // its input file, named in messages
  std::string stem;      // its name on the progress board
  int position = 0;      // its place on the command line, from 1
  std::vector<std::string> names;  // the files it writes, within the output
                                   // directory, as temporary files of its
                                   // process
  std::function<int(int fd)> work;  // runs in the worker's process, reporting
                                    // on `fd`; returns its exit status
  std::string problem;   // why it was not written, once known
  bool written = false;  // its worker wrote its files
  pid_t pid = -1;
  int fd = -1;           // read end of its pipe while it runs
  std::string partial;   // report text after the last full line
  int done = 0;          // trials done
  int total = 0;         // trials to do; 0 until the worker says
  Clock::time_point started;
};

// Writes one report line of kind `kind` (T, P, W or E, as pool.cc says) to
// the pipe `fd`; line breaks in `text` become spaces.
void sendline(int fd, char kind, const std::string& text);

// Runs the workers of `jobs` without a problem, at most `njobs` at once, in
// order, and puts the files of each that ended well in place in `outdir`
// (job.written), otherwise sets job.problem. Prints notes and problems on
// `err`, and a progress board headed by `program` while `err` is a terminal.
void runpool(const std::string& program, int njobs, std::vector<WorkerJob>& jobs,
             OutputDir& outdir, std::ostream& out, std::ostream& err);

#endif  // COMBOSIM_BATCH_POOL_H_
