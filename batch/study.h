// batch/study.h: a study run, designs compared on the same scenarios
// (formats/studyfile.h), and the merge of its parts.
//
// Each scenario runs in a worker process of its own (batch/pool.h), which
// runs the reference's trials and then each other design's, every design
// as combosim-batch runs a scenario (simulatetofiles()). It keeps the
// reference's counts of every trial of its part (engine/compare.h: 14
// 64-bit counts, 112 bytes a trial) and pairs trial t of each design with
// trial t of the reference as it comes. Its files are, per design,
// DESIGN/NAME.txt, DESIGN/NAME.json (and DESIGN/NAME.trials.csv with
// --trials), the files of combosim-batch, and DESIGN/NAME.compare.json,
// the paired sums against the reference (batch/studysums.h); a part's
// carry .shard-K-of-N before the extension. A whole run then writes
// designs.csv, differences.csv and report.html from the compare files, and
// last manifest.json; a part writes only manifest-shard-K-of-N.json.
#ifndef COMBOSIM_BATCH_STUDY_H_
#define COMBOSIM_BATCH_STUDY_H_

#include <ostream>
#include <string>
#include <vector>

#include "batch/outputs.h"
#include "formats/studyfile.h"

struct StudyOptions {
  std::string file;          // the study file
  std::string outdir = ".";  // where the outputs go
  int jobs = 1;              // scenarios running at once, at least 1
  int nshard = 1;            // N: parts each scenario's trials split into
  int shard = 0;             // K: the one part to run; 0 the whole study
  bool trials = false;       // also write each trial's outcome per design
  // A study with a search:
  int maxcandidates = 1000;  // more feasible candidates are refused
  bool confirmgibbs = false; // confirm the chosen design under gibbs too
};

// The header of differences.csv. difference_mcse is the paired SE, empty
// in a study that is not paired; unpaired_mcse is sqrt(SE_design^2 +
// SE_reference^2) either way.
inline constexpr char kDifferencesHeader[] =
    "scenario,design,reference,figure,difference,difference_mcse,unpaired_mcse";

// Runs the study of `options` into options.outdir under the lock of its
// files (formats/runlock.h), as batch/runner.h runs scenarios: temporary
// files renamed into place, none over an input or a file another program
// wrote, manifest last. Prints the notes of the study file and problems on
// `err`, one line per scenario and file written on `out`. Returns a
// BatchExit: 2 for a study file, command line or output directory that
// cannot be used, 1 when a scenario failed (the others are written).
int runstudy(const StudyOptions& options, std::ostream& out, std::ostream& err);

// The files a study reads: the study file, its scenario files and its base's
// file, as the program opens them.
std::vector<std::string> studyinputs(const Study& study);

// "" when none of the files `names` in `outdir` is one of `inputs`;
// otherwise the problem, naming both.
std::string overwritesinput(const std::string& outdir,
                            const std::vector<std::string>& names,
                            const InputFiles& inputs);

// Adds up the parts of one study, given by their manifests
// (manifest-shard-K-of-N.json, the part files beside them), into `outdir`:
// what the whole study gives in one run, for paired streams to the last bit
// in designs.csv, differences.csv and report.html. Refuses parts of
// different studies, a part given twice or missing. Returns a BatchExit.
int runstudymerge(const std::vector<std::string>& manifests,
                  const std::string& outdir, std::ostream& out,
                  std::ostream& err);

#endif  // COMBOSIM_BATCH_STUDY_H_
