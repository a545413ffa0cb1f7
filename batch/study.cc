// batch/study.cc: a study's workers, its run-level files and the merge of
// its parts.
#include "batch/study.h"

#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "batch/calibration.h"
#include "batch/merge.h"
#include "batch/outputs.h"
#include "batch/pool.h"
#include "batch/resultjson.h"
#include "batch/resulttext.h"
#include "batch/runner.h"
#include "batch/studysums.h"
#include "engine/compare.h"
#include "engine/oc.h"
#include "formats/csvtext.h"
#include "formats/runlock.h"
#include "formats/studyfile.h"
#include "formats/studyreport.h"
#include "formats/utf8.h"

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace fs = std::filesystem;

namespace {

constexpr char kProgram[] = "combosim-study";

// The study's settings that its outputs need, as its manifests record them
// (studyjson()): a run has them from the study file, a merge from its parts.
struct StudyInfo {
  Json study;
  std::vector<std::string> designs;
  std::size_t reference = 0;
  bool paired = true;
  std::string random;  // the generators in words
};

// True when `study`, read from a manifest, is what studyjson() writes: every
// name a design name or a file name of a scenario, the reference among the
// designs.
bool wellformed(const Json& study) {
  if (!study.is_object() || !study.contains("designs") || !study["designs"].is_array() ||
      study["designs"].empty() || !study.contains("reference") ||
      !study.contains("paired") || !study["paired"].is_boolean() ||
      !study.contains("scenarios") || !study["scenarios"].is_array() ||
      !study.contains("file") || !study["file"].is_string() ||
      (study.contains("seed") && !study["seed"].is_number_unsigned())) {
    return false;
  }
  bool reference = false;
  for (const Json& d : study["designs"]) {
    if (!d.is_object() || !d.contains("name") || !d["name"].is_string() ||
        !isdesignname(d["name"].get<std::string>())) {
      return false;
    }
    reference = reference || d["name"] == study["reference"];
  }
  for (const Json& name : study["scenarios"]) {
    if (!name.is_string()) return false;
    const std::string text = name.get<std::string>();
    if (text.empty() || text == "." || text == ".." ||
        text.find('/') != std::string::npos) {
      return false;
    }
  }
  return reference;
}

StudyInfo studyinfo(const Json& study) {
  StudyInfo info;
  info.study = study;
  for (const Json& d : study["designs"]) {
    info.designs.push_back(d["name"].get<std::string>());
    if (d["name"] == study["reference"]) info.reference = info.designs.size() - 1;
  }
  info.paired = study["paired"].get<bool>();
  if (study.contains("seed")) {
    info.random = "std::mt19937_64, seed " +
                  std::to_string(study["seed"].get<std::uint64_t>()) +
                  (info.paired ? ", paired (streams of their own per trial)"
                               : ", not paired (each design on the seed's own streams)");
  } else {
    info.random = "combosim's fixed-seed generators, not paired";
  }
  return info;
}

// One design on one scenario, as written.
struct StudyCellResult {
  BatchResult result;
  StudySums sums;
};

// One scenario's results, per design in the designs' order.
struct ScenarioResults {
  std::string name;
  std::string source;
  bool trials = false;  // its designs' trials files were written
  std::vector<StudyCellResult> cells;
};

// The names of design `design`'s files of the stem `stem`, within the
// output directory.
std::vector<std::string> cellfiles(const std::string& design,
                                   const std::string& stem, bool trials) {
  std::vector<std::string> names;
  for (const std::string& name : scenariofiles(stem, trials)) {
    names.push_back(design + "/" + name);
  }
  names.push_back(design + "/" + stem + ".compare.json");
  return names;
}

// "" when none of `names` in `outdir` exists but as a file of this program
// or combosim-batch; otherwise the problem.
std::string foreignstudyfile(const std::string& outdir,
                             const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::string path = outputpath(outdir, name);
    if (name.size() < 13 || name.compare(name.size() - 13, 13, ".compare.json") != 0) {
      const std::string problem = foreignfile(outdir, {name});
      if (!problem.empty()) return problem;
      continue;
    }
    if (!fs::exists(path)) continue;
    Json j;
    std::string problem;
    if (readjsonfile(path, j, problem) && j.is_object() &&
        j.value("program", Json()) == kProgram) {
      continue;
    }
    return "its output " + path + " exists and is not a file of " + kProgram +
           "; move it or choose another output directory";
  }
  return "";
}

// The result of design `d` on scenario `i`, set up as combosim-batch sets up
// a scenario's.
BatchResult cellresult(const Study& study, const StudyOptions& options,
                       std::size_t i, std::size_t d) {
  const StudyScenario& s = study.scenarios[i];
  const StudyCell& cell = s.cells[d];
  BatchResult r;
  r.name = s.name;
  r.source = s.path;
  r.sourcefile = fileidentity(s.path);
  r.position = static_cast<int>(i) + 1;
  r.scenario = cell.scenario;
  r.rules = cell.rules;
  r.posterior = cell.posterior;
  r.random.seeded = study.seeded;
  r.random.seed = study.seed;
  r.random.paired = study.paired;
  r.nshard = options.nshard;
  if (options.shard > 0) {
    r.shards = {options.shard};
  } else {
    for (int k = 1; k <= options.nshard; ++k) r.shards.push_back(k);
  }
  return r;
}

// Runs every design on scenario `i`, the reference first, and writes their
// files as temporary files of this process. Returns the worker's exit
// status.
int runscenario(const Study& study, const StudyOptions& options, std::size_t i,
                int fd) {
  const StudyScenario& s = study.scenarios[i];
  const int ntrial = s.cells.front().scenario.settings.ntrial;
  if (options.nshard > ntrial) {
    sendline(fd, 'E', s.path + ": " + std::to_string(options.nshard) +
                          " shards for " + std::to_string(ntrial) +
                          " trials: every shard needs a trial at least");
    return kBatchFailed;
  }
  const std::size_t ndesign = study.designs.size();
  BatchResult form = cellresult(study, options, i, study.reference);
  int count = 0;
  for (int k : form.shards) count += shardtrials(ntrial, k, options.nshard).count;
  sendline(fd, 'T', std::to_string(count * static_cast<int>(ndesign)));

  // The truth, and so its classes, is the scenario's whatever the design.
  const TruthClasses classes =
      classifytruth(form.scenario.settings, form.scenario.input);
  std::vector<std::array<std::int64_t, kNumTrialCounts>> reference;
  reference.reserve(static_cast<std::size_t>(count));
  std::vector<std::size_t> order = {study.reference};
  for (std::size_t d = 0; d < ndesign; ++d) {
    if (d != study.reference) order.push_back(d);
  }
  int done = 0;
  for (std::size_t d : order) {
    BatchResult r = cellresult(study, options, i, d);
    StudySums sums;
    sums.design = study.designs[d].name;
    sums.reference = study.designs[study.reference].name;
    sums.scenario = s.name;
    sums.paired = study.paired;
    sums.nshard = r.nshard;
    sums.shards = r.shards;
    std::size_t k = 0;  // the trial's place in this part
    const TrialFn pair = [&](std::int64_t, const TrialOutcome& outcome) {
      TrialCounts c;
      trialcounts(classes, outcome, c);
      if (d == study.reference) {
        std::array<std::int64_t, kNumTrialCounts> kept;
        for (int j = 0; j < kNumTrialCounts; ++j) kept[static_cast<std::size_t>(j)] = c[j];
        reference.push_back(kept);
        addpair(sums.sums, c, c);
      } else {
        addpair(sums.sums, c, reference[k].data());
      }
      ++k;
    };
    const std::string dir = outputpath(options.outdir, study.designs[d].name);
    std::string problem = simulatetofiles(
        r, dir, options.trials,
        [fd, done](int n, int) { sendline(fd, 'P', std::to_string(done + n)); },
        pair);
    if (problem.empty() && k != reference.size()) {
      problem = "the design ran " + std::to_string(k) + " trials, the reference " +
                std::to_string(reference.size());
    }
    if (problem.empty()) {
      problem = writewhole(
          temporarypath(outputpath(dir, outputstem(r) + ".compare.json"), getpid()),
          jsontext(studysumstojson(sums)));
    }
    if (!problem.empty()) {
      sendline(fd, 'E', s.path + ": design " + study.designs[d].name + ": " + problem);
      return kBatchFailed;
    }
    done += count;
  }
  return kBatchOk;
}

// `v` as the CSV files write it: the shortest text, empty when not a number.
std::string csvnumber(double v) { return std::isfinite(v) ? numbertext(v) : ""; }

// The run-level files of a whole study: designs.csv, differences.csv and
// report.html.
std::vector<OutputFile> studyfiles(const StudyInfo& info,
                                   const std::vector<ScenarioResults>& results) {
  std::ostringstream designs;
  std::ostringstream diffs;
  designs << "scenario,design,figure,value,mcse,trials\n";
  diffs << kDifferencesHeader << "\n";
  StudyPage page;
  page.study = info.study["file"].get<std::string>();
  page.designs = info.designs;
  page.reference = info.reference;
  page.paired = info.paired;
  page.random = info.random;
  page.version = COMBOSIM_VERSION;
  const std::string reference = csvfield(info.designs[info.reference]);
  for (const ScenarioResults& s : results) {
    StudyPageScenario scenario;
    scenario.name = s.name;
    scenario.ntrial = s.cells.front().sums.sums.ntrial;
    for (std::size_t d = 0; d < s.cells.size(); ++d) {
      const std::vector<FigureDifference> figures = differences(s.cells[d].sums.sums);
      const std::string names = csvfield(s.name) + "," + csvfield(info.designs[d]);
      for (const FigureDifference& f : figures) {
        designs << names << "," << f.figure << "," << csvnumber(f.design.value)
                << "," << csvnumber(f.design.mcse) << "," << scenario.ntrial << "\n";
        diffs << names << "," << reference << "," << f.figure << ","
              << csvnumber(f.difference) << ","
              << (info.paired ? csvnumber(f.mcse) : "") << ","
              << csvnumber(f.unpairedmcse) << "\n";
      }
      scenario.designs.push_back(figures);
    }
    page.scenarios.push_back(scenario);
  }
  return {{"designs.csv", designs.str()},
          {"differences.csv", diffs.str()},
          {"report.html", studyreport(page)}};
}

// The names of the run-level files (with `infix`, a part's: none but the
// manifest), the manifest last.
std::vector<std::string> studyfilenames(const std::string& infix) {
  std::vector<std::string> names;
  if (infix.empty()) names = {"designs.csv", "differences.csv", "report.html"};
  names.push_back(manifestname(infix));
  return names;
}

Json studymanifest(const StudyInfo& info, int nshard, int shard,
                   const std::vector<ScenarioResults>& results,
                   const std::vector<std::string>& files,
                   const std::vector<std::string>& problems) {
  Json j;
  j["program"] = kProgram;
  j["version"] = COMBOSIM_VERSION;
  j["contents"] = "manifest";
  j["study"] = info.study;
  j["nshard"] = nshard;
  if (shard > 0) j["shard"] = shard;
  j["scenarios"] = Json::array();
  for (const ScenarioResults& s : results) {
    Json entry;
    entry["name"] = s.name;
    putpath(entry, "source", s.source);
    entry["mathlib"] = s.cells.front().result.mathlib;
    entry["files"] = Json::array();
    for (std::size_t d = 0; d < s.cells.size(); ++d) {
      for (const std::string& name :
           cellfiles(info.designs[d], outputstem(s.cells[d].result), s.trials)) {
        entry["files"].push_back(name);
      }
    }
    j["scenarios"].push_back(entry);
  }
  j["files"] = files;
  j["problems"] = Json::array();
  for (const std::string& p : problems) j["problems"].push_back(utf8escaped(p));
  return j;
}

// Writes the run-level files and the manifest, and prints a line for each.
// Returns the BatchExit.
int finishstudy(OutputDir& outdir, const StudyInfo& info, int nshard, int shard,
                const std::vector<ScenarioResults>& results,
                const std::vector<std::string>& problems, std::ostream& out,
                std::ostream& err) {
  if (results.empty()) {
    err << kProgram << ": no scenario written; the study's files left as they were"
        << std::endl;
    return kBatchFailed;
  }
  const std::string infix = shard > 0 ? shardinfix(shard, nshard) : "";
  std::vector<OutputFile> files;
  if (infix.empty()) files = studyfiles(info, results);
  std::vector<std::string> names;
  for (const OutputFile& f : files) names.push_back(f.name);
  std::string problem = outdir.write(files);
  if (problem.empty()) {
    files.push_back({manifestname(infix),
                     jsontext(studymanifest(info, nshard, shard, results, names,
                                            problems))});
    problem = outdir.write({files.back()});
  }
  if (!problem.empty()) {
    err << kProgram << ": " << problem << std::endl;
    return kBatchFailed;
  }
  for (const OutputFile& f : files) {
    out << f.name.substr(0, f.name.find_first_of(".-")) << ": "
        << outputpath(outdir.dir(), f.name) << std::endl;
  }
  return problems.empty() ? kBatchOk : kBatchFailed;
}

// "NAME: 100 trials, 3 designs: DIR/*/NAME.json".
void scenarioline(std::ostream& out, const ScenarioResults& s,
                  const std::string& outdir) {
  const BatchResult& r = s.cells.front().result;
  out << s.name << ": " << r.ntrial << (r.ntrial == 1 ? " trial, " : " trials, ")
      << s.cells.size() << (s.cells.size() == 1 ? " design: " : " designs: ")
      << outputpath(outdir, "*/" + outputstem(r) + ".json") << std::endl;
}

// Reads a design's result and compare files `stem`.json and
// `stem`.compare.json in `dir`. Returns "" or the problem.
std::string readcell(const std::string& dir, const std::string& stem,
                     StudyCellResult& cell) {
  std::string problem;
  if (!readresultfile(outputpath(dir, stem + ".json"), cell.result, problem)) {
    return problem;
  }
  const std::string file = outputpath(dir, stem + ".compare.json");
  Json j;
  if (!readjsonfile(file, j, problem) ||
      !studysumsfromjson(j, file, cell.sums, problem)) {
    return problem;
  }
  return "";
}

}  // namespace

std::vector<std::string> studyinputs(const Study& study) {
  std::vector<std::string> inputs = {study.path};
  for (const StudyScenario& s : study.scenarios) inputs.push_back(s.path);
  if (!study.base.empty() && study.base != "fields") {
    inputs.push_back((fs::path(study.path).parent_path() / study.base).string());
  }
  return inputs;
}

std::string overwritesinput(const std::string& outdir,
                            const std::vector<std::string>& names,
                            const InputFiles& inputs) {
  for (const std::string& name : names) {
    const std::string path = outputpath(outdir, name);
    const std::string input = inputs.find(path);
    if (!input.empty()) {
      return path + " would overwrite the input " + input +
             "; choose another output directory";
    }
  }
  return "";
}

int runstudy(const StudyOptions& options, std::ostream& out, std::ostream& err) {
  const Study study = readstudyfile(options.file);
  for (const std::string& note : study.notes) err << note << std::endl;
  if (!study.problem.empty()) {
    err << study.problem << std::endl;
    return kBatchUsage;
  }
  if (study.calibrating) {
    if (options.shard > 0 && options.nshard > 1) {
      err << options.file << ": search: a search runs whole; --shard splits "
                             "only a comparison of designs" << std::endl;
      return kBatchUsage;
    }
    return runcalibration(study, options, out, err);
  }
  if (options.nshard > 1 && !study.seeded) {
    err << options.file << ": seed: missing; parts of a study (--shard) need a seed"
        << std::endl;
    return kBatchUsage;
  }
  RunLock lock;
  const std::string dirproblem =
      takeoutdir(options.outdir, options.shard, options.nshard, lock);
  if (!dirproblem.empty()) {
    err << kProgram << ": " << dirproblem << std::endl;
    return kBatchUsage;
  }
  const std::string infix = partinfix(options.shard, options.nshard);
  const int shard = infix.empty() ? 0 : options.shard;

  // Every file this study writes, checked before anything runs: none may
  // overwrite an input or a file that no run of these programs wrote.
  const InputFiles inputfiles(studyinputs(study));
  std::vector<WorkerJob> jobs;
  std::vector<std::string> writes = studyfilenames(infix);
  for (std::size_t i = 0; i < study.scenarios.size(); ++i) {
    WorkerJob job;
    job.path = study.scenarios[i].path;
    job.position = static_cast<int>(i) + 1;
    job.stem = outputstem(cellresult(study, options, i, 0));
    for (const StudyDesign& d : study.designs) {
      for (const std::string& name : cellfiles(d.name, job.stem, options.trials)) {
        job.names.push_back(name);
        writes.push_back(name);
      }
    }
    job.work = [&study, &options, i](int fd) {
      return runscenario(study, options, i, fd);
    };
    jobs.push_back(job);
  }
  const std::string overwrite = overwritesinput(options.outdir, writes, inputfiles);
  if (!overwrite.empty()) {
    err << kProgram << ": " << overwrite << std::endl;
    return kBatchUsage;
  }
  const std::string foreign = foreignstudyfile(options.outdir, writes);
  if (!foreign.empty()) {
    err << kProgram << ": " << foreign << std::endl;
    return kBatchUsage;
  }
  std::vector<std::string> top;
  std::map<std::string, std::vector<std::string>> indesign;
  for (const std::string& name : writes) {
    const std::size_t slash = name.find('/');
    if (slash == std::string::npos) {
      top.push_back(name);
    } else {
      indesign[name.substr(0, slash)].push_back(name.substr(slash + 1));
    }
  }
  removeleftovers(options.outdir, top);
  for (const StudyDesign& d : study.designs) {
    const std::string dir = outputpath(options.outdir, d.name);
    std::error_code error;
    fs::create_directory(dir, error);
    if (error || !fs::is_directory(dir)) {
      err << kProgram << ": cannot make the directory " << dir << std::endl;
      return kBatchUsage;
    }
    removeleftovers(dir, indesign[d.name]);
  }

  OutputDir outdir(options.outdir, infix);
  runpool(kProgram, options.jobs, jobs, outdir, out, err);

  const StudyInfo info = studyinfo(studyjson(study));
  std::vector<ScenarioResults> results;
  std::vector<std::string> problems;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (!jobs[i].written) {
      problems.push_back(jobs[i].problem);
      continue;
    }
    ScenarioResults s;
    s.name = study.scenarios[i].name;
    s.source = study.scenarios[i].path;
    s.trials = options.trials;
    std::string problem;
    for (const StudyDesign& d : study.designs) {
      StudyCellResult cell;
      problem = readcell(outputpath(options.outdir, d.name), jobs[i].stem, cell);
      if (!problem.empty()) break;
      coarsewarning(err, cell.result, kProgram);
      s.cells.push_back(cell);
    }
    if (!problem.empty()) {
      err << problem << std::endl;
      problems.push_back(problem);
      continue;
    }
    scenarioline(out, s, options.outdir);
    results.push_back(s);
  }
  return finishstudy(outdir, info, options.nshard, shard, results, problems,
                     out, err);
}

int runstudymerge(const std::vector<std::string>& manifests,
                  const std::string& outdirpath, std::ostream& out,
                  std::ostream& err) {
  // The parts: one manifest each, all of one study.
  Json study;
  int nshard = 0;
  std::map<int, std::string> parts;  // K -> the part's directory
  std::map<int, Json> listed;        // K -> its manifest's scenarios
  for (const std::string& file : manifests) {
    Json j;
    std::string problem;
    if (!readjsonfile(file, j, problem)) {
      err << problem << std::endl;
      return kBatchUsage;
    }
    if (!j.is_object() || j.value("program", Json()) != kProgram ||
        j.value("contents", Json()) != "manifest" || !j.contains("shard") ||
        !j.contains("study") || !j["study"].is_object() || !j.contains("nshard") ||
        !j.contains("scenarios") || !j["scenarios"].is_array()) {
      err << file << ": not the manifest of a part of a study "
                     "(manifest-shard-K-of-N.json, written by combosim-study "
                     "--shard K/N)"
          << std::endl;
      return kBatchUsage;
    }
    if (!wellformed(j["study"])) {
      err << file << ": study: damaged (not as combosim-study writes it)" << std::endl;
      return kBatchUsage;
    }
    if (j.value("version", Json()) != COMBOSIM_VERSION) {
      err << file << ": version: written by another version than "
          << COMBOSIM_VERSION << std::endl;
      return kBatchUsage;
    }
    int k = 0;
    int n = 0;
    if (!wholenumber(j["shard"], k) || !wholenumber(j["nshard"], n) || k < 1 ||
        k > n) {
      err << file << ": shard: not a part K of N" << std::endl;
      return kBatchUsage;
    }
    // The parts of one study may have named its file by other paths.
    const auto withoutfile = [](Json v) {
      v.erase("file");
      return v;
    };
    if (parts.empty()) {
      study = j["study"];
      nshard = n;
    } else if (withoutfile(j["study"]) != withoutfile(study) || n != nshard) {
      err << file << ": study: a part of another study (or of another split) "
                     "than " << manifests.front() << std::endl;
      return kBatchUsage;
    }
    if (!parts.emplace(k, fs::path(file).parent_path().string()).second) {
      err << file << ": part " << k << " of " << n << " is given twice" << std::endl;
      return kBatchUsage;
    }
    listed[k] = j["scenarios"];
  }
  for (int k = 1; k <= nshard; ++k) {
    if (parts.count(k) == 0) {
      err << kProgram << ": merge: part " << k << " of " << nshard
          << " is missing" << std::endl;
      return kBatchUsage;
    }
  }
  const StudyInfo info = studyinfo(study);

  RunLock lock;
  const std::string dirproblem = takeoutdir(outdirpath, 0, 1, lock);
  if (!dirproblem.empty()) {
    err << kProgram << ": " << dirproblem << std::endl;
    return kBatchUsage;
  }

  // Each scenario that every part wrote, part by part.
  std::vector<std::string> problems;
  std::vector<std::string> names;
  std::vector<std::string> inputs = manifests;
  for (const Json& name : study["scenarios"]) {
    bool everywhere = true;
    for (const auto& [k, entries] : listed) {
      bool found = false;
      for (const Json& e : entries) {
        found = found || (e.is_object() && e.value("name", Json()) == name);
      }
      everywhere = everywhere && found;
    }
    if (!everywhere) {
      problems.push_back(name.get<std::string>() +
                         ": not written by every part; not merged");
      err << problems.back() << std::endl;
      continue;
    }
    names.push_back(name.get<std::string>());
  }
  // The parts' files, read before anything is written.
  std::vector<ScenarioResults> results;
  std::vector<std::vector<std::vector<StudyCellResult>>> partcells;
  std::vector<bool> withtrials;
  for (const std::string& name : names) {
    std::vector<std::vector<StudyCellResult>> cells(info.designs.size());
    bool trials = true;
    std::string problem;
    for (std::size_t d = 0; d < info.designs.size() && problem.empty(); ++d) {
      for (const auto& [k, dir] : parts) {
        StudyCellResult cell;
        const std::string stem = name + shardinfix(k, nshard);
        const std::string designdir = outputpath(dir, info.designs[d]);
        problem = readcell(designdir, stem, cell);
        if (problem.empty() &&
            (cell.sums.design != info.designs[d] || cell.sums.scenario != name ||
             cell.sums.shards != std::vector<int>{k} || cell.sums.nshard != nshard ||
             cell.result.ntrial != cell.sums.sums.ntrial)) {
          problem = outputpath(designdir, stem + ".compare.json") +
                    ": not the sums of design " + info.designs[d] + " on " +
                    name + ", part " + std::to_string(k);
        }
        if (!problem.empty()) break;
        for (const std::string& file : cellfiles(info.designs[d], stem, true)) {
          inputs.push_back(outputpath(dir, file));
        }
        inputs.push_back(cell.result.source);
        trials = trials && !cell.result.trialssha256.empty();
        cells[d].push_back(cell);
      }
    }
    if (!problem.empty()) {
      err << problem << std::endl;
      problems.push_back(problem);
      continue;
    }
    ScenarioResults s;
    s.name = name;
    s.trials = trials;
    partcells.push_back(cells);
    withtrials.push_back(trials);
    results.push_back(s);
  }
  const InputFiles inputfiles(inputs);

  std::vector<std::string> writes = studyfilenames("");
  for (std::size_t i = 0; i < results.size(); ++i) {
    for (const std::string& d : info.designs) {
      for (const std::string& f : cellfiles(d, results[i].name, withtrials[i])) {
        writes.push_back(f);
      }
    }
  }
  for (const std::string& name : writes) {
    const std::string path = outputpath(outdirpath, name);
    const std::string input = inputfiles.find(path);
    if (!input.empty()) {
      err << kProgram << ": " << path << " would overwrite the input " << input
          << "; choose another output directory" << std::endl;
      return kBatchUsage;
    }
  }
  const std::string foreign = foreignstudyfile(outdirpath, writes);
  if (!foreign.empty()) {
    err << kProgram << ": " << foreign << std::endl;
    return kBatchUsage;
  }
  removeleftovers(outdirpath, studyfilenames(""));
  for (const std::string& d : info.designs) {
    std::error_code error;
    fs::create_directory(outputpath(outdirpath, d), error);
    std::vector<std::string> own;
    for (std::size_t i = 0; i < results.size(); ++i) {
      for (const std::string& f : cellfiles(".", results[i].name, withtrials[i])) {
        own.push_back(f.substr(2));
      }
    }
    removeleftovers(outputpath(outdirpath, d), own);
  }

  OutputDir outdir(outdirpath, "");
  std::vector<ScenarioResults> merged;
  for (std::size_t i = 0; i < results.size(); ++i) {
    ScenarioResults& s = results[i];
    std::string problem;
    std::vector<OutputFile> files;
    for (std::size_t d = 0; d < info.designs.size() && problem.empty(); ++d) {
      std::vector<BatchResult> batchparts;
      StudyCellResult cell;
      cell.sums = partcells[i][d].front().sums;
      cell.sums.sums = PairedSums{};
      cell.sums.shards.clear();
      for (const StudyCellResult& p : partcells[i][d]) {
        batchparts.push_back(p.result);
        if (!addpairedsums(cell.sums.sums, p.sums.sums)) {
          problem = s.name + ": design " + info.designs[d] +
                    ": the paired sums overflow 64 bits";
        }
        cell.sums.shards.push_back(p.sums.shards.front());
      }
      if (problem.empty()) problem = mergeresults(batchparts, cell.result);
      if (!problem.empty()) break;
      const std::string prefix = info.designs[d] + "/" + s.name;
      std::ostringstream text;
      writereporttext(text, cell.result);
      files.push_back({prefix + ".txt", text.str()});
      files.push_back({prefix + ".json", jsontext(resulttojson(cell.result))});
      if (withtrials[i]) {
        std::map<int, PartTrials> trialfiles;
        for (const StudyCellResult& p : partcells[i][d]) {
          const int k = p.sums.shards.front();
          trialfiles[k] = {outputpath(outputpath(parts[k], info.designs[d]),
                                      s.name + shardinfix(k, nshard) + ".trials.csv"),
                           p.result.trialssha256};
        }
        std::string joined;
        problem = jointrials(trialfiles, nshard,
                             outputpath(outdirpath, prefix + ".trials.csv"), joined);
        files.push_back({prefix + ".trials.csv", joined});
      }
      files.push_back({prefix + ".compare.json", jsontext(studysumstojson(cell.sums))});
      s.source = cell.result.source;
      s.cells.push_back(cell);
    }
    if (problem.empty()) problem = outdir.write(files);
    if (!problem.empty()) {
      err << problem << std::endl;
      problems.push_back(problem);
      continue;
    }
    for (const StudyCellResult& cell : s.cells) {
      coarsewarning(err, cell.result, kProgram);
    }
    scenarioline(out, s, outdirpath);
    merged.push_back(s);
  }
  return finishstudy(outdir, info, nshard, 0, merged, problems, out, err);
}
