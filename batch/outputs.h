// batch/outputs.h: the files of a batch run or a merge in its output
// directory: each written whole through a temporary file renamed into place,
// none overwriting an input, and manifest.json written last.
//
// A run puts each scenario's files (NAME.txt, NAME.json, NAME.trials.csv) in
// place as the scenario ends, then the run-level files (summary.csv, oc.csv,
// report.html: runfiles()) made from the scenarios written, and last the
// manifest, which lists those scenarios with their files. The run-level
// files cover exactly the scenarios the manifest lists. The manifest of an
// earlier run is removed before the first file of this run is put in place,
// so a directory without a manifest holds a run that did not finish; a run
// that writes nothing leaves the directory as it was. A shard's run writes
// its run-level files and manifest with the shard's infix
// (summary.shard-K-of-N.csv, manifest-shard-K-of-N.json). A run holds the
// lock of its set of files (formats/runlock.h) while it writes them.
#ifndef COMBOSIM_BATCH_OUTPUTS_H_
#define COMBOSIM_BATCH_OUTPUTS_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "batch/results.h"
#include "formats/htmlreport.h"

// One output file and its whole text.
struct OutputFile {
  std::string name;  // file name within the output directory
  std::string text;
};

// The names of one scenario's files, for the stem `stem` (NAME or
// NAME.shard-K-of-N): .txt, .json, and .trials.csv with `trials`.
std::vector<std::string> scenariofiles(const std::string& stem, bool trials);

// The names of the run-level files and the manifest, for `infix`.
std::vector<std::string> runfilenames(const std::string& infix);

// The run-level files made from the scenarios written, in the order given,
// for a run whose names carry `infix` ("" or ".shard-K-of-N"): summary.csv,
// and for a whole run (no infix) oc.csv and report.html, the page as `html`
// asks. Every run and merge writes these, and checks them against its
// inputs: a new run-level file is added here.
std::vector<OutputFile> runfiles(const std::vector<BatchResult>& results,
                                 const std::string& infix,
                                 const HtmlOptions& html = {});

// The manifest's file name: manifest.json, or manifest-shard-K-of-N.json for
// the infix ".shard-K-of-N" (a name outside the pattern of shard files).
std::string manifestname(const std::string& infix);

// The path of `name` in `outdir`.
std::string outputpath(const std::string& outdir, const std::string& name);

// The temporary file that process `pid` writes for `path` before it is
// renamed into place: PATH.tmpPID, in the same directory.
std::string temporarypath(const std::string& path, pid_t pid);

// Writes `text` whole to `path`. Returns "" or the problem.
std::string writewhole(const std::string& path, const std::string& text);

// Removes the temporary files (NAME.tmpPID) of the files `names` in `dir`
// that a run which ended early left behind, and no others.
// REQUIRES: this process holds the lock of those files (formats/runlock.h).
void removeleftovers(const std::string& dir,
                     const std::vector<std::string>& names);

// One scenario of a run, as its manifest lists it.
struct ManifestEntry {
  std::string name;                // NAME
  std::string source;              // the scenario file
  std::string mathlib;             // the math functions its trials ran on
  std::vector<std::string> files;  // its files in the output directory
  bool sourcereplaced = false;     // as BatchResult::sourcereplaced
};

// An output directory while a run or merge fills it.
class OutputDir {
 public:
  // `html`: how finish() draws report.html.
  OutputDir(std::string dir, std::string infix, HtmlOptions html = {})
      : dir_(std::move(dir)), infix_(std::move(infix)), html_(html) {}

  const std::string& dir() const { return dir_; }

  // Renames the temporary files of `names`, written by process `pid`, into
  // place, after removing an earlier run's manifest if this is the first
  // time. Returns "" or the problem; the temporaries are gone either way.
  std::string place(const std::vector<std::string>& names, pid_t pid);

  // Writes `files` through temporary files of this process and places them.
  std::string write(const std::vector<OutputFile>& files);

  // Writes the run-level files of `results`, then the manifest listing
  // `scenarios` (the same scenarios, in the same order) and `problems` (one
  // line each, the scenarios not written). Writes nothing when `results` is
  // empty. Returns "" or the problem.
  std::string finish(const std::vector<BatchResult>& results,
                     const std::vector<ManifestEntry>& scenarios,
                     const std::vector<std::string>& problems);

 private:
  std::string dir_;
  std::string infix_;
  HtmlOptions html_;
  bool cleared_ = false;  // the earlier manifest has been removed
};

// The input files of a run or merge, known by their identity on disk, so
// that no output overwrites one whatever path names it.
class InputFiles {
 public:
  // Notes each of `paths` that exists.
  explicit InputFiles(const std::vector<std::string>& paths);

  // The input (as given) that is the same file as `path`; "" when none is.
  std::string find(const std::string& path) const;

 private:
  std::map<std::pair<dev_t, ino_t>, std::string> files_;
};

#endif  // COMBOSIM_BATCH_OUTPUTS_H_
