// batch/runner.h: a batch run of many scenarios, one process each, and the
// merge of shard files.
//
// Every scenario runs in a process of its own, forked from the batch program
// before it has touched the engine, so each starts from the program-start
// state of the process-wide random streams, exactly as one
// `combosim < FILE` does. A run with one job is the same processes one after
// another; the results do not depend on the number of jobs.
#ifndef COMBOSIM_BATCH_RUNNER_H_
#define COMBOSIM_BATCH_RUNNER_H_

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "batch/results.h"
#include "formats/htmlreport.h"
#include "formats/runlock.h"

// Exit statuses of combosim-batch.
enum BatchExit {
  kBatchOk = 0,      // every scenario (or merge) written
  kBatchFailed = 1,  // at least one scenario or merge failed; the rest written
  kBatchUsage = 2,   // the command line or the output directory is unusable
                     // (another run holds the lock of the same files), or a
                     // run-level file would overwrite an input
};

struct BatchOptions {
  std::vector<std::string> files;  // scenario files, in the order given
  std::string outdir = ".";        // where the outputs go
  int jobs = 1;                    // scenarios running at once, at least 1
  Streams random;                  // generators behind the streams
  int nshard = 1;                  // N: parts each scenario's trials split into
  int shard = 0;                   // K: the one part to run; 0 runs all N
                                   // parts in turn
  bool trials = false;             // also write each trial's outcome
  HtmlOptions html;                // how report.html is drawn (a whole
                                   // run's; a part writes none)
};

// The number of processors this process may run on, at least 1.
int availablecores();

// Runs the scenarios of `options`: per scenario NAME.txt and NAME.json (with
// .shard-K-of-N before the extension for one part), and NAME.trials.csv with
// options.trials, then summary.csv, for a run of every part oc.csv and
// report.html, and last manifest.json (with the same infix) in the output
// directory, as batch/outputs.h describes; part 1 of 1 is the whole run.
// Holds the lock of its files (RunLock) throughout, and first removes the
// temporary files an earlier run left of them. A scenario whose files would
// overwrite an input (or the run's own files) is not run; when a run-level
// file would overwrite an input, nothing runs. A part records its scenario
// file's identity and its trials file's SHA-256. A scenario none of whose
// files may replace a file that combosim-batch did not write is not run. Prints one line per scenario
// written on `out`; on `err`, one line per scenario that could not be read or
// run, and notes on answers the dialogue read again or did not read. Shows
// progress on the standard error while it is a terminal. Returns a
// BatchExit.
int runbatch(const BatchOptions& options, std::ostream& out, std::ostream& err);

// Adds up the shard files `files` (NAME.shard-K-of-N.json), scenario by
// scenario, and writes NAME.txt, NAME.json, summary.csv, oc.csv, report.html
// and manifest.json into `outdir`, under the lock of a whole run's files,
// never over a shard file, its trials file, its scenario file (by the path
// the parts recorded while it names the same file) or a NAME file that
// combosim-batch did not write. A file that is not a shard file is named as
// such; the scenarios of the other files are still merged. When every part
// of a scenario recorded a trials file and NAME.shard-K-of-N.trials.csv
// beside its JSON file still has that SHA-256, they are joined in trial
// order into NAME.trials.csv; otherwise it is left out and said so. Prints one line per
// scenario written on `out` and one per problem on `err`. Returns a
// BatchExit.
// report.html is drawn as `html` asks.
int runmerge(const std::vector<std::string>& files, const std::string& outdir,
             std::ostream& out, std::ostream& err, const HtmlOptions& html = {});

// --- Shared with combosim-study --------------------------------------------

// Reads one result file (NAME.json, or a part's) into `r`. Returns false,
// with the problem naming the file and field, when it cannot.
bool readresultfile(const std::string& file, BatchResult& r,
                    std::string& problem);

// The file at `path` by its absolute path and identity on disk; empty when
// it cannot be found.
FileIdentity fileidentity(const std::string& path);

// Simulates `r` (simulate()), calling `progress` and `ontrial` (when set)
// after every trial, and writes its files (scenariofiles() of outputstem(r),
// the trials file with `trials`) as temporary files of this process in
// `dir`, for OutputDir::place(). Returns "" or the problem; none of its
// temporary files is left then.
std::string simulatetofiles(BatchResult& r, const std::string& dir, bool trials,
                            const ProgressFn& progress,
                            const TrialFn& ontrial = nullptr);

// Warns on `err`, as `program`, when some of r's quadrature updates were too
// narrow for the nodes.
void coarsewarning(std::ostream& err, const BatchResult& r,
                   const std::string& program);

// Makes `outdir` if needed. Returns "" or the problem.
std::string makeoutdir(const std::string& outdir);

// The file-name infix of part K of N: ".shard-K-of-N".
std::string shardinfix(int k, int n);

// The infix of a run's files: "" for the whole run (`shard` 0, or part 1 of
// 1), else shardinfix().
std::string partinfix(int shard, int nshard);

// Makes `outdir` if needed and takes `lock` of the files of the run of part
// `shard` of `nshard` in it (formats/runlock.h). Returns "" or the problem.
std::string takeoutdir(const std::string& outdir, int shard, int nshard,
                       RunLock& lock);

// "" when none of the files `names` in `outdir` exists but as a file that
// combosim-batch wrote for a scenario (isbatchoutput); otherwise the problem.
std::string foreignfile(const std::string& outdir,
                        const std::vector<std::string>& names);

// A part's trials file: its path beside the part's JSON file, and the
// SHA-256 that the JSON file records of it.
struct PartTrials {
  std::string file;
  std::string sha256;
};

// Joins the trials files of every part (by part number), in the order of
// the parts, into `joined`: one header, then every part's rows. Each file
// must be the one its part wrote. `path` is the file it is for. Returns ""
// or the problem.
std::string jointrials(const std::map<int, PartTrials>& files, int nshard,
                       const std::string& path, std::string& joined);

#endif  // COMBOSIM_BATCH_RUNNER_H_
