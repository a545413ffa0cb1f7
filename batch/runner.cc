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
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "batch/merge.h"
#include "batch/outputs.h"
#include "batch/pool.h"
#include "batch/resultjson.h"
#include "batch/resulttext.h"
#include "formats/runlock.h"
#include "formats/sha256.h"
#include "formats/utf8.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// --- The worker: one scenario, in its own process -------------------------

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
  // A part records where its scenario file is, so that its merge, wherever
  // it runs, never writes over it.
  r.sourcefile = fileidentity(path);
  r.scenario = read.scenario;
  r.rules = read.rules;
  r.posterior = read.posterior;
  r.random = options.random;
  r.nshard = options.nshard;
  if (options.shard > 0) {
    r.shards = {options.shard};
  } else {
    for (int k = 1; k <= options.nshard; ++k) r.shards.push_back(k);
  }
  if (r.nshard > r.scenario.settings.ntrial) {
    sendline(fd, 'E', path + ": " + std::to_string(r.nshard) + " shards for " +
                          std::to_string(r.scenario.settings.ntrial) +
                          " trials: every shard needs a trial at least");
    return kBatchFailed;
  }

  int total = 0;
  for (int k : r.shards) total += shardtrials(r.scenario.settings.ntrial, k, r.nshard).count;
  sendline(fd, 'T', std::to_string(total));
  const std::string problem = simulatetofiles(
      r, options.outdir, options.trials,
      [fd](int done, int) { sendline(fd, 'P', std::to_string(done)); });
  if (!problem.empty()) {
    sendline(fd, 'E', path + ": " + problem);
    return kBatchFailed;
  }
  return kBatchOk;
}

}  // namespace

bool readresultfile(const std::string& file, BatchResult& r,
                    std::string& problem) {
  Json j;
  return readjsonfile(file, j, problem) && resultfromjson(j, file, r, problem);
}

FileIdentity fileidentity(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::canonical(path, error);
  struct stat s;
  if (!error && stat(absolute.c_str(), &s) == 0) {
    return {absolute.string(), s.st_dev, s.st_ino};
  }
  return {};
}

std::string simulatetofiles(BatchResult& r, const std::string& dir, bool trials,
                            const ProgressFn& progress, const TrialFn& ontrial) {
  // The files go to temporary files of this process; the program puts them
  // in place once the worker has ended well.
  const std::string stem = outputstem(r);
  const auto temporary = [&dir](const std::string& name) {
    return temporarypath(outputpath(dir, name), getpid());
  };
  const auto fail = [&](const std::string& problem) {
    for (const std::string& name : scenariofiles(stem, trials)) {
      std::remove(temporary(name).c_str());
    }
    return problem;
  };
  // Each trial's outcome goes straight to its file: memory stays bounded
  // however many trials.
  const std::string trialsname = stem + ".trials.csv";
  // Its digest goes into a part's JSON file, so that the merge joins this
  // file and no other.
  std::ofstream trialsfile;
  Sha256 trialsdigest;
  TrialFn each = ontrial;
  if (trials) {
    trialsfile.open(temporary(trialsname), std::ios::binary | std::ios::trunc);
    std::ostringstream header;
    writetrialsheader(header);
    trialsfile << header.str();
    trialsdigest.add(header.str());
    each = [&trialsfile, &trialsdigest, &ontrial](std::int64_t t,
                                                  const TrialOutcome& outcome) {
      std::ostringstream row;
      writetrialrow(row, t, outcome);
      trialsfile << row.str();
      trialsdigest.add(row.str());
      if (ontrial) ontrial(t, outcome);
    };
  }
  const std::string failure = simulate(r, progress, each);
  if (!failure.empty()) return fail(failure);
  if (trials) {
    trialsfile.close();
    if (!trialsfile) return fail("cannot write " + outputpath(dir, trialsname));
    r.trialssha256 = trialsdigest.hex();
  }

  std::ostringstream text;
  writereporttext(text, r);
  for (const OutputFile& file :
       {OutputFile{stem + ".txt", text.str()},
        OutputFile{stem + ".json", jsontext(resulttojson(r))}}) {
    const std::string problem = writewhole(temporary(file.name), file.text);
    if (!problem.empty()) return fail(problem);
  }
  return "";
}

// --- The batch program's side ---------------------------------------------

void coarsewarning(std::ostream& err, const BatchResult& r,
                   const std::string& program) {
  if (r.outcomes.coarseupdates == 0) return;
  err << program << ": warning: " << r.name << ": " << r.outcomes.coarseupdates
      << " cohorts left a posterior too narrow for the quadrature nodes; their "
         "probabilities may be off by more than 0.002 (more nodes: "
         "\"posterior\": {\"method\": \"quadrature\", \"nodes\": ...})"
      << std::endl;
}

namespace {

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

}  // namespace

std::string makeoutdir(const std::string& outdir) {
  std::error_code error;
  fs::create_directories(outdir, error);
  if (error || !fs::is_directory(outdir)) {
    return "cannot use the output directory " + outdir + ": " +
           (error ? error.message() : "not a directory");
  }
  return "";
}

std::string jointrials(const std::map<int, PartTrials>& files, int nshard,
                       const std::string& path, std::string& joined) {
  if (static_cast<int>(files.size()) != nshard) {
    return "trials files of some shards are missing; " + path + " not written";
  }
  std::ostringstream text;
  writetrialsheader(text);
  const std::string header = text.str();
  for (const auto& [k, trials] : files) {
    std::string part;
    std::string problem;
    if (!readwholefile(trials.file, part, problem)) {
      return problem + "; " + path + " not written";
    }
    if (sha256hex(part) != trials.sha256) {
      return trials.file + ": not the trials file its shard wrote (another "
             "SHA-256); " + path + " not written";
    }
    text << part.substr(header.size());
  }
  joined = text.str();
  return "";
}

std::string partinfix(int shard, int nshard) {
  // One part of one is the whole run, and named as one.
  return shard > 0 && nshard > 1 ? shardinfix(shard, nshard) : "";
}

std::string takeoutdir(const std::string& outdir, int shard, int nshard,
                       RunLock& lock) {
  const std::string problem = makeoutdir(outdir);
  if (!problem.empty()) return problem;
  const bool part = !partinfix(shard, nshard).empty();
  return lock.take(outdir, partinfix(shard, nshard),
                   part ? "part " + std::to_string(shard) + " of " +
                              std::to_string(nshard)
                        : "a whole run");
}

std::string shardinfix(int k, int n) {
  return ".shard-" + std::to_string(k) + "-of-" + std::to_string(n);
}

namespace {

// "" when no run-level file in `outdir` (with `infix`) is one of `inputs`;
// otherwise the problem, which stops the whole run.
std::string runoverwrites(const InputFiles& inputs, const std::string& outdir,
                          const std::string& infix) {
  for (const std::string& name : runfilenames(infix)) {
    const std::string path = outputpath(outdir, name);
    const std::string input = inputs.find(path);
    if (!input.empty()) {
      return path + " would overwrite the input " + input +
             "; choose another output directory";
    }
  }
  return "";
}

// "" when none of a scenario's files `names` in `outdir` is one of `inputs`
// or a run-level file of `infix`; otherwise the problem. `own` is the
// scenario's own file.
std::string scenariooverwrites(const InputFiles& inputs,
                               const std::string& outdir,
                               const std::string& infix,
                               const std::vector<std::string>& names,
                               const std::string& own) {
  const std::vector<std::string> runnames = runfilenames(infix);
  for (const std::string& name : names) {
    const std::string path = outputpath(outdir, name);
    if (std::find(runnames.begin(), runnames.end(), name) != runnames.end()) {
      return "its output " + name + " is the name of the run's own " + name +
             "; rename the scenario file";
    }
    const std::string input = inputs.find(path);
    if (input.empty()) continue;
    if (input == own) {
      return "its report would overwrite it; choose another output directory";
    }
    return "its output " + path + " would overwrite the input " + input +
           "; choose another output directory";
  }
  return "";
}

}  // namespace

std::string foreignfile(const std::string& outdir,
                        const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::string path = outputpath(outdir, name);
    std::string text;
    std::string problem;
    if (!fs::exists(path)) continue;
    if (readwholefile(path, text, problem) && isbatchoutput(name, text)) continue;
    return "its output " + path + " exists and is not a file of "
           "combosim-batch; move it or choose another output directory";
  }
  return "";
}

namespace {

// Writes the run-level files and the manifest, and prints a line for each.
// Returns the BatchExit of the run: kBatchOk only when nothing failed.
int finishrun(OutputDir& outdir, const std::vector<BatchResult>& results,
              const std::vector<ManifestEntry>& entries,
              const std::vector<std::string>& problems, std::ostream& out,
              std::ostream& err, const std::string& infix) {
  const std::vector<std::string> names = runfilenames(infix);
  if (results.empty()) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    err << "combosim-batch: no scenario written; " << list
        << " left as they were" << std::endl;
    return kBatchFailed;
  }
  const std::string problem = outdir.finish(results, entries, problems);
  if (!problem.empty()) {
    err << "combosim-batch: " << problem << std::endl;
    return kBatchFailed;
  }
  // "summary: DIR/summary.csv", ...
  for (const std::string& name : names) {
    out << name.substr(0, name.find_first_of(".-")) << ": "
        << outputpath(outdir.dir(), name) << std::endl;
  }
  return problems.empty() ? kBatchOk : kBatchFailed;
}

// Reads a shard file for merge into `r`. Returns false, with the problem
// naming the file, when the file is not one (a scenario file, a manifest,
// any other file) or is damaged.
bool readshardfile(const std::string& file, BatchResult& r,
                   std::string& problem) {
  const std::string notashard =
      file + ": not a shard file of combosim-batch (NAME.shard-K-of-N.json, "
             "written by a run with --seed S --shard K/N)";
  if (fs::path(file).extension() != ".json") {
    problem = notashard;
    return false;
  }
  Json j;
  if (!readjsonfile(file, j, problem)) return false;
  if (j.is_object() && j.contains("ndose1")) {
    problem = file + ": a scenario file, not a shard file: run it with "
                     "--seed S --shard K/N first";
    return false;
  }
  if (j.is_object() && j.contains("contents") && j["contents"] == "manifest") {
    problem = file + ": the manifest of a run, not a shard file";
    return false;
  }
  if (!j.is_object() || !j.contains("program") || j["program"] != "combosim-batch") {
    problem = notashard;
    return false;
  }
  return resultfromjson(j, file, r, problem);
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
  RunLock lock;
  const std::string dirproblem =
      takeoutdir(options.outdir, options.shard, options.nshard, lock);
  if (!dirproblem.empty()) {
    err << "combosim-batch: " << dirproblem << std::endl;
    return kBatchUsage;
  }
  const std::string infix = partinfix(options.shard, options.nshard);

  // No output may overwrite a scenario file: not the run's files, which
  // stops the run, nor a scenario's, which stops that scenario.
  const InputFiles inputs(options.files);
  const std::string runproblem = runoverwrites(inputs, options.outdir, infix);
  if (!runproblem.empty()) {
    err << "combosim-batch: " << runproblem << std::endl;
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
  std::vector<WorkerJob> jobs;
  std::map<std::string, std::string> stems;  // stem -> file that has it
  for (const std::string& path : options.files) {
    WorkerJob job;
    job.path = path;
    job.position = static_cast<int>(jobs.size()) + 1;
    form.name = scenarioname(path);
    job.stem = outputstem(form);
    job.names = scenariofiles(job.stem, options.trials);
    job.work = [&options, path, position = job.position](int fd) {
      return runworker(options, path, position, fd);
    };
    // The name goes into the JSON files, which hold UTF-8 only: merge would
    // not find the files of a name changed there. (A file that is not there
    // is reported as such by its worker.)
    if (!validutf8(form.name) && fs::exists(path)) {
      job.problem = path + ": the name " + form.name +
                    " is not valid UTF-8, which the result files cannot "
                    "record; rename the file";
      jobs.push_back(job);
      continue;
    }
    const auto [taken, fresh] = stems.emplace(job.stem, path);
    if (!fresh) {
      job.problem = path + ": its outputs would overwrite those of " +
                    taken->second + " (same name " + job.stem + ")";
    } else {
      const std::vector<std::string> names = scenariofiles(job.stem, options.trials);
      std::string problem =
          scenariooverwrites(inputs, options.outdir, infix, names, path);
      if (problem.empty()) problem = foreignfile(options.outdir, names);
      if (!problem.empty()) job.problem = path + ": " + problem;
    }
    jobs.push_back(job);
  }
  // The files this run writes, whose leftovers go.
  std::vector<std::string> writes = runfilenames(infix);
  for (const WorkerJob& job : jobs) {
    if (!job.problem.empty()) continue;
    for (const std::string& name : scenariofiles(job.stem, options.trials)) {
      writes.push_back(name);
    }
  }
  removeleftovers(options.outdir, writes);

  OutputDir outdir(options.outdir, infix, options.html);
  runpool("combosim-batch", options.jobs, jobs, outdir, out, err);

  // The run's files, from the scenario files as written, in the order of
  // the scenarios.
  std::vector<BatchResult> results;
  std::vector<ManifestEntry> entries;
  std::vector<std::string> problems;
  for (WorkerJob& job : jobs) {
    if (!job.written) {
      problems.push_back(job.problem);
      continue;
    }
    const std::string file = outputpath(options.outdir, job.stem + ".json");
    BatchResult r;
    std::string problem;
    if (!readresultfile(file, r, problem)) {
      err << problem << std::endl;
      problems.push_back(problem);
      continue;
    }
    writtenline(out, r, options.outdir);
    coarsewarning(err, r, "combosim-batch");
    results.push_back(r);
    entries.push_back({r.name, r.source, r.mathlib,
                       scenariofiles(job.stem, options.trials), r.sourcereplaced});
  }
  return finishrun(outdir, results, entries, problems, out, err, infix);
}

int runmerge(const std::vector<std::string>& files, const std::string& outdirpath,
             std::ostream& out, std::ostream& err, const HtmlOptions& html) {
  RunLock lock;
  const std::string dirproblem = takeoutdir(outdirpath, 0, 1, lock);
  if (!dirproblem.empty()) {
    err << "combosim-batch: " << dirproblem << std::endl;
    return kBatchUsage;
  }

  // The parts, scenario by scenario, in the order of the run's command line.
  std::vector<std::string> problems;
  std::vector<std::string> names;
  std::map<std::string, std::vector<BatchResult>> parts;
  std::map<std::string, std::map<int, PartTrials>> trialfiles;  // name -> shard
  std::vector<std::string> inputs = files;
  for (const std::string& file : files) {
    BatchResult r;
    std::string problem;
    if (!readshardfile(file, r, problem)) {
      err << problem << std::endl;
      problems.push_back(problem);
      continue;
    }
    if (parts.find(r.name) == parts.end()) names.push_back(r.name);
    const fs::path trials = fs::path(file).parent_path() /
                            (outputstem(r) + ".trials.csv");
    if (!r.trialssha256.empty()) {
      trialfiles[r.name][r.shards.front()] = {trials.string(), r.trialssha256};
    }
    inputs.push_back(trials.string());
    inputs.push_back(r.source);
    // The scenario file, by the path the part recorded, while that path
    // still names the same file.
    struct stat s;
    if (!r.sourcefile.path.empty() && stat(r.sourcefile.path.c_str(), &s) == 0 &&
        s.st_dev == r.sourcefile.device && s.st_ino == r.sourcefile.inode) {
      inputs.push_back(r.sourcefile.path);
    }
    parts[r.name].push_back(r);
  }
  std::stable_sort(names.begin(), names.end(),
                   [&parts](const std::string& a, const std::string& b) {
                     return parts[a].front().position < parts[b].front().position;
                   });

  // No output may overwrite a shard file, a trials file or a scenario file.
  const InputFiles inputfiles(inputs);
  const std::string runproblem = runoverwrites(inputfiles, outdirpath, "");
  if (!runproblem.empty()) {
    err << "combosim-batch: " << runproblem << std::endl;
    return kBatchUsage;
  }

  // The files this merge writes, whose leftovers go.
  std::vector<std::string> writes = runfilenames("");
  for (const std::string& name : names) {
    for (const std::string& file : scenariofiles(name, trialfiles.count(name) > 0)) {
      writes.push_back(file);
    }
  }
  removeleftovers(outdirpath, writes);

  OutputDir outdir(outdirpath, "", html);
  std::vector<BatchResult> results;
  std::vector<ManifestEntry> entries;
  for (const std::string& name : names) {
    const bool trials = trialfiles.count(name) > 0;
    BatchResult merged;
    std::string problem = mergeresults(parts[name], merged);
    if (problem.empty()) {
      problem = scenariooverwrites(inputfiles, outdirpath, "",
                                   scenariofiles(name, trials), merged.source);
    }
    if (problem.empty()) problem = foreignfile(outdirpath, scenariofiles(name, trials));
    std::vector<OutputFile> written;
    if (problem.empty()) {
      std::ostringstream text;
      writereporttext(text, merged);
      written = {{name + ".txt", text.str()},
                 {name + ".json", jsontext(resulttojson(merged))}};
      problem = outdir.write(written);
    }
    // The trials files join only when every part has one; the sums are
    // written either way.
    std::string trialsproblem;
    if (problem.empty() && trials) {
      const std::string file = name + ".trials.csv";
      std::string joined;
      trialsproblem = jointrials(trialfiles[name], merged.nshard,
                                 outputpath(outdirpath, file), joined);
      if (trialsproblem.empty()) trialsproblem = outdir.write({{file, joined}});
      if (trialsproblem.empty()) written.push_back({file, ""});
    }
    for (const std::string& p : {problem, trialsproblem}) {
      if (p.empty()) continue;
      err << name << ": " << p << std::endl;
      problems.push_back(name + ": " + p);
    }
    if (!problem.empty()) continue;
    writtenline(out, merged, outdirpath);
    coarsewarning(err, merged, "combosim-batch");
    results.push_back(merged);
    ManifestEntry entry{name, merged.source, merged.mathlib, {}, merged.sourcereplaced};
    for (const OutputFile& f : written) entry.files.push_back(f.name);
    entries.push_back(entry);
  }
  return finishrun(outdir, results, entries, problems, out, err, "");
}
