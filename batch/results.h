// batch/results.h: what a batch run found for one scenario, how its trials
// are split into shards and run, its output files, and the exact merge of
// shards.
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
#include "formats/htmlreport.h"
#include "records/trialstate.h"

// Which generators stood behind the random streams.
struct RandomSource {
  bool seeded = false;     // false: combosim's own fixed-seed generators
  std::uint64_t seed = 0;  // S, when seeded
};

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
  SimulationSettings settings;   // the scenario; ntrial counts all its trials
  ScenarioInput input;
  DesignRules rules;             // the design's thresholds
  RandomSource random;
  std::string mathlib;           // mathimplementation() where the trials ran
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
// and calls `progress` and `trial` (when set) after every trial. Returns "" or, after
// a failed draw, the sampler's message naming the trial.
// REQUIRES: every part of r.shards holds at least one trial.
std::string simulate(BatchResult& r, const ProgressFn& progress,
                     const TrialFn& trial = nullptr);

// The header line of NAME.trials.csv, and the row of one trial: its number,
// the selected combination ("d1,d2", levels from 1; empty for none), the
// reason it ended, and its patients, toxicities, responses and patients
// treated at overly toxic combinations.
void writetrialsheader(std::ostream& os);
void writetrialrow(std::ostream& os, std::int64_t trial,
                   const TrialOutcome& outcome);

// The percentage of trials without a selection from the counts themselves,
// (trials - selections) / trials * 100: exactly 0 when every trial selected.
// The files for scripts carry this figure.
double exactinconclusive(const BatchResult& r);

// Writes the report block in the results.txt layout, with the result's
// design and rules and ntrial = r.ntrial, followed by the lines on the
// generators and the math functions.
void writereporttext(std::ostream& os, const BatchResult& r);

// True when `text`, the contents of the file `name`, is a file this program
// writes for a scenario: a report block (NAME.txt) closing with the lines on
// the generators and the math functions, a result of combosim-batch
// (NAME.json) or a trials file (NAME.trials.csv) by its header.
bool isbatchoutput(const std::string& name, const std::string& text);

// The result as a JSON object: the scenario (in the scenario file form, with
// its rules, and for a part the scenario file's absolute path and identity
// on disk), the generators and parts, for a part the trials file it wrote
// with its SHA-256 (or null), the sums (per combination, and of the
// trials' outcomes), per-combination averages and percentages, the exact
// inconclusive percentage, the operating characteristics ("oc", by the names
// of ocfigures(); null for a figure that needs two trials when there is one),
// processor time and program version.
Json resulttojson(const BatchResult& r);

// Reads a result written by resulttojson() of this program version back,
// checking every field that a merge uses and that the sums can come from the
// trials (no more toxicities or responses than patients in a cell, no more
// patients than the trials can treat, no more selections than trials, the
// outcome sums agreeing with the cells, and each sum of squares and the
// cross product agreeing with its sums, trials and extremes). `source` names the file in the
// problem, followed by the field.
bool resultfromjson(const Json& j, const std::string& source, BatchResult& r,
                    std::string& problem);

// The header line of summary.csv, and the rows of one result: one per
// combination, drug-1 level outer, levels from 1; each row ends with the
// scenario's targettox, mineff and rules.
void writesummaryheader(std::ostream& os);
void writesummaryrows(std::ostream& os, const BatchResult& r);

// The operating characteristics of the trials summed in `r`.
// REQUIRES: r.ntrial >= 1.
OperatingCharacteristics resultoc(const BatchResult& r);

// The header line of oc.csv, and the row of one result: the scenario's name,
// every figure of ocfigures() (empty where it is not a number), then the
// trials, generator, seed, number of shards, targettox, mineff and rules.
void writeocheader(std::ostream& os);
void writeocrow(std::ostream& os, const BatchResult& r);

// What the HTML report shows of `r`.
HtmlScenario htmlscenario(const BatchResult& r);

// Adds up `parts` of one scenario into `merged`. They must hold the same
// scenario, rules, generators, math functions and number of parts, and
// between them every part once; no sum may overflow 64 bits.
// The merged result keeps the position of the first part. Returns "" or the
// problem.
std::string mergeresults(const std::vector<BatchResult>& parts,
                         BatchResult& merged);

#endif  // COMBOSIM_BATCH_RESULTS_H_
