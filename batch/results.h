// batch/results.h: what a batch run found for one scenario, and how its
// trials are split into shards and run. Its output files are written by
// batch/resultjson.h and batch/resulttext.h, its parts merged by
// batch/merge.h.
//
// Shards: with a seed S, a scenario's ntrial trials are split into N parts of
// as equal a size as can be, the first (ntrial mod N) parts one trial larger;
// part K (1-based) holds the trials that follow parts 1 to K-1 and runs on its
// own streams, std::seed_seq{S, K, 0} for the uniform numbers and {S, K, 1}
// for the sampler. A run with a seed and no split is part 1 of 1. Sums are
// 64-bit integers, so adding the sums of parts is exact and does not depend
// on the order.
#ifndef COMBOSIM_BATCH_RESULTS_H_
#define COMBOSIM_BATCH_RESULTS_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "batch/scenariofile.h"
#include "design/rules.h"
#include "engine/oc.h"
#include "engine/outcome.h"
#include "engine/simulate.h"
#include "records/trialstate.h"

// The program that writes the result files, and the names of the generators
// in them.
inline constexpr char kBatchProgram[] = "combosim-batch";
inline constexpr char kFixedGenerator[] = "fixed";
inline constexpr char kMersenneGenerator[] = "mt19937_64";

// The part of a scenario's trials that one shard runs.
struct TrialRange {
  int first = 0;  // trials of the parts before it
  int count = 0;  // trials of this part
};

// Part `k` of `n` of `ntrial` trials. REQUIRES: 1 <= k <= n, ntrial >= 0.
TrialRange shardtrials(int ntrial, int k, int n);

// A file by its absolute path and its identity on disk.
struct FileIdentity {
  std::string path;          // absolute; empty when not known
  std::uint64_t device = 0;  // st_dev
  std::uint64_t inode = 0;   // st_ino
};

// Everything one output file of a scenario holds.
struct BatchResult {
  std::string name;              // scenario name, from its file name
  std::string source;            // the scenario file as given
  FileIdentity sourcefile;       // a part's: the scenario file, which its
                                 // merge never writes over
  bool sourcereplaced = false;   // bytes of `source` that were not valid
                                 // UTF-8 were replaced in a file read back
  int position = 1;              // its place among the files of its run,
                                 // from 1: the order of summary rows
  Scenario scenario;             // settings.ntrial counts all its trials
  DesignRules rules;             // the design's thresholds
  PosteriorChoice posterior;     // how the design's posteriors are computed
  Streams random;                // the generators behind the streams;
                                 // each part runs on its own shard
  std::string mathlib;           // mathimplementation() where the trials ran
  std::string boost;             // under quadrature: boostversion() where
                                 // the trials ran; empty under gibbs
  int nshard = 1;                // N, the parts the trials are split into
  std::vector<int> shards;       // the parts summed here, ascending, 1-based
  int ntrial = 0;                // trials summed here
  Accumulators acc;              // their sums per combination
  OutcomeSums outcomes;          // the sums of their outcomes
  double cpuseconds = 0;         // processor time of those trials
  std::string trialssha256;      // a part's: the SHA-256 of the trials file
                                 // it wrote; empty when it wrote none
};

// True when every part of the scenario is summed in `r`.
bool complete(const BatchResult& r);

// The stem of a result's file names: NAME for a complete result,
// NAME.shard-K-of-N for one part.
std::string outputstem(const BatchResult& r);

// Part numbers as a list: "1, 3, 4".
std::string shardlist(const std::vector<int>& shards);

// One line on the generators: "fixed-seed generators of combosim" or
// "std::mt19937_64, seed S, ...", naming the parts.
std::string describerandom(const BatchResult& r);

// One line on the C library's pow, log and exp that the trials ran on:
// "fma (...)", "no-fma (...)" or "unknown (...)".
std::string describemath(const BatchResult& r);

// Reports how far the trials have got: trials done of the total.
using ProgressFn = std::function<void(int done, int total)>;

// Receives each trial's outcome, the trial numbered from 1 as in the whole
// run of all parts.
using TrialFn = std::function<void(std::int64_t trial, const TrialOutcome&)>;

// Runs the trials of parts `r.shards` of `r.nshard` in order through the
// engine, each from the start of its streams: the seeded ones of the part, or
// the fixed-seed generators from their program-start state, as in a fresh
// combosim. Fills r.ntrial, r.acc, r.outcomes, r.cpuseconds and r.mathlib,
// r.boost under quadrature,
// and calls `progress` and `trial` (when set) after every trial. Returns "" or, after
// a failed draw, the sampler's message naming the trial.
// REQUIRES: every part of r.shards holds at least one trial.
std::string simulate(BatchResult& r, const ProgressFn& progress,
                     const TrialFn& trial = nullptr);

// A per-trial figure as the report computes it: sum / ntrial * scale.
double pertrial(std::int64_t sum, int ntrial, double scale);

// The percentage of trials without a selection from the counts themselves,
// (trials - selections) / trials * 100: exactly 0 when every trial selected.
// The files for scripts carry this figure.
double exactinconclusive(const BatchResult& r);

// The operating characteristics of the trials summed in `r`.
// REQUIRES: r.ntrial >= 1.
OperatingCharacteristics resultoc(const BatchResult& r);

#endif  // COMBOSIM_BATCH_RESULTS_H_
