// batch/calibration.cc: a calibrating study from its file to its files.
#include "batch/calibration.h"

#include <unistd.h>

#include <filesystem>
#include <iomanip>
#include <sstream>

#include "batch/calibrationfiles.h"
#include "batch/outputs.h"
#include "batch/resultjson.h"
#include "batch/resulttext.h"
#include "batch/runner.h"
#include "engine/calibrate.h"
#include "formats/jsonfile.h"
#include "formats/runlock.h"
#include "formats/searchspace.h"
#include "numerics/mathprobe.h"

namespace fs = std::filesystem;

namespace {

constexpr char kProgram[] = "combosim-study";

// Progress on a terminal: "race: 1234 of 9600 trials".
class TerminalProgress : public CalibrationObserver {
 public:
  explicit TerminalProgress(std::ostream& err) : err_(err), shown_(isatty(2) == 1) {}
  bool progress(std::int64_t done, std::int64_t total) override {
    if (shown_) {
      err_ << "\rcalibration: " << done << " of " << total << " trials" << std::flush;
      drawn_ = true;
    }
    return true;
  }
  void finish() {
    if (drawn_) err_ << "\r" << std::string(60, ' ') << "\r" << std::flush;
  }

 private:
  std::ostream& err_;
  bool shown_;
  bool drawn_ = false;
};

// The files of a calibration, beside its confirmation's in confirmation/.
std::vector<std::string> calibrationnames() {
  return {"calibration.csv", "ranking.csv", "confirmation.csv", "chosen.json",
          "calibration.html"};
}

// The confirmation of scenario s as combosim-batch's result of it.
BatchResult confirmationresult(const Study& study, const CalibrationRun& run,
                               std::size_t s, bool gibbs) {
  const CalibrationResult& r = run.result;
  const Design& design =
      run.plan.candidates[static_cast<std::size_t>(r.chosen)].designs[s];
  BatchResult b;
  b.name = study.scenarios[s].name + (gibbs ? "-gibbs" : "");
  b.source = study.scenarios[s].path;
  b.position = static_cast<int>(s) + 1;
  b.scenario.settings = design.settings;
  b.scenario.settings.ntrial = run.plan.confirmtrials;
  b.scenario.input = run.plan.scenarios[s].truth;
  for (int d = 0; d < design.settings.ndose1; ++d) b.scenario.input.scenprior1[d] = design.prior1[d];
  for (int d = 0; d < design.settings.ndose2; ++d) b.scenario.input.scenprior2[d] = design.prior2[d];
  b.rules = design.rules;
  Design method = design;
  if (gibbs) method.method = PosteriorMethod::kGibbs;
  b.posterior = posteriorof(method);
  b.random.seeded = true;
  b.random.seed = run.plan.seed;
  b.random.paired = true;
  b.random.firsttrial = r.confirmfirst;
  b.mathlib = mathimplementation();
  b.boost = method.method == PosteriorMethod::kGibbs ? "" : boostversion();
  b.nshard = 1;
  b.shards = {1};
  b.ntrial = run.plan.confirmtrials;
  b.acc = gibbs ? r.gibbsacc[s] : r.confirmationacc[s];
  b.outcomes = gibbs ? r.gibbsoutcomes[s] : r.confirmationoutcomes[s];
  b.cpuseconds = (gibbs ? r.gibbsseconds : r.confirmationseconds)[s];
  return b;
}

// The processor time of the confirmation, under both methods.
double confirmationseconds(const CalibrationResult& r) {
  double seconds = 0;
  for (double x : r.confirmationseconds) seconds += x;
  for (double x : r.gibbsseconds) seconds += x;
  return seconds;
}

// Is an existing file `name` of `dir` one a calibration wrote? Known by the
// manifest of the directory.
bool ourmanifest(const std::string& dir) {
  const std::string path = outputpath(dir, "manifest.json");
  if (!fs::exists(path)) return false;
  Json j;
  std::string problem;
  return readjsonfile(path, j, problem) && j.is_object() &&
         j.value("program", Json()) == kProgram &&
         j.value("contents", Json()) == "calibration";
}

}  // namespace

int runcalibration(const Study& study, const StudyOptions& options,
                   std::ostream& out, std::ostream& err) {
  const auto refuse = [&](const std::string& problem) {
    err << study.path << ": " << problem << std::endl;
    return kBatchUsage;
  };
  CalibrationRun run;
  std::string problem = searchfromjson(study.race["search"], run.keys);
  if (!problem.empty()) return refuse(problem);
  const std::uint64_t size = searchsize(run.keys);
  // Forming a candidate takes a moment: a space far beyond the limit is
  // refused by its size alone.
  if (size > 20 * static_cast<std::uint64_t>(options.maxcandidates)) {
    return refuse("search: " + std::to_string(size) +
                  " combinations, more than the " +
                  std::to_string(options.maxcandidates) +
                  " candidates allowed (--max-candidates)");
  }
  std::vector<std::string> names;
  for (const StudyScenario& s : study.scenarios) {
    names.push_back(s.name);
    run.plan.scenarios.push_back({s.name, s.cells.front().scenario.settings,
                                  s.cells.front().scenario.input, 1.0});
  }
  problem = racefromjson(study.race, names, run.plan);
  if (!problem.empty()) return refuse(problem);
  for (std::uint64_t i = 0; i < size; ++i) {
    const Json changes = candidatechanges(run.keys, i);
    Candidate c;
    c.label = candidatelabel(run.keys, i);
    bool infeasible = false;
    for (const StudyScenario& s : study.scenarios) {
      StudyCell cell;
      problem = studycell(s.fields, changes, cell);
      if (problem.rfind("rules.deescalate: must be below escalate", 0) == 0) {
        infeasible = true;
        break;
      }
      if (!problem.empty()) {
        return refuse("search: candidate " + c.label + " on " + s.path + ": " + problem);
      }
      Design design = designof(cell.scenario, cell.rules);
      setposterior(design, cell.posterior);
      c.designs.push_back(design);
    }
    if (infeasible) {
      ++run.infeasible;
      continue;
    }
    run.plan.candidates.push_back(c);
    run.searched.push_back(i);
  }
  if (run.plan.candidates.empty()) {
    return refuse("search: every one of the " + std::to_string(size) +
                  " combinations is infeasible (deescalate not below escalate)");
  }
  if (run.plan.candidates.size() > static_cast<std::size_t>(options.maxcandidates)) {
    return refuse("search: " + std::to_string(run.plan.candidates.size()) +
                  " candidates, more than the " +
                  std::to_string(options.maxcandidates) +
                  " allowed; raise --max-candidates to run them");
  }
  run.plan.seed = study.seed;
  run.plan.threads = options.jobs;
  run.plan.confirmgibbs = options.confirmgibbs;
  problem = checkcalibration(run.plan);
  if (!problem.empty()) return refuse(problem);

  // The output directory, its lock, and nothing written over an input or a
  // file of another program.
  RunLock lock;
  problem = takeoutdir(options.outdir, 0, 1, lock);
  if (!problem.empty()) {
    err << kProgram << ": " << problem << std::endl;
    return kBatchUsage;
  }
  const InputFiles inputfiles(studyinputs(study));
  std::vector<std::string> writes = calibrationnames();
  writes.push_back("manifest.json");
  const bool ours = ourmanifest(options.outdir);
  const std::string overwrite = overwritesinput(options.outdir, writes, inputfiles);
  if (!overwrite.empty()) {
    err << kProgram << ": " << overwrite << std::endl;
    return kBatchUsage;
  }
  for (const std::string& name : writes) {
    const std::string path = outputpath(options.outdir, name);
    if (!ours && fs::exists(path)) {
      err << kProgram << ": its output " << path
          << " exists and is not a file of a calibration; move it or choose "
             "another output directory" << std::endl;
      return kBatchUsage;
    }
  }
  removeleftovers(options.outdir, writes);

  TerminalProgress progress(err);
  run.result = calibrate(run.plan, &progress);
  progress.finish();
  if (!run.result.failure.empty()) {
    err << kProgram << ": " << run.result.failure << std::endl;
    return kBatchFailed;
  }

  // The confirmation in combosim-batch's files, then the calibration's.
  const std::string confirmdir = outputpath(options.outdir, "confirmation");
  if (run.result.chosen >= 0 && !run.result.confirmation.empty()) {
    problem = makeoutdir(confirmdir);
    if (!problem.empty()) {
      err << kProgram << ": " << problem << std::endl;
      return kBatchFailed;
    }
    std::vector<BatchResult> results;
    for (int pass = 0; pass < (run.result.gibbsconfirmation.empty() ? 1 : 2); ++pass) {
      for (std::size_t s = 0; s < study.scenarios.size(); ++s) {
        results.push_back(confirmationresult(study, run, s, pass == 1));
      }
    }
    std::vector<OutputFile> files;
    for (const BatchResult& r : results) {
      std::ostringstream text;
      writereporttext(text, r);
      files.push_back({r.name + ".txt", text.str()});
      files.push_back({r.name + ".json", jsontext(resulttojson(r))});
    }
    for (const OutputFile& f : runfiles(results, "")) files.push_back(f);
    OutputDir dir(confirmdir, "");
    problem = dir.write(files);
    if (!problem.empty()) {
      err << kProgram << ": " << problem << std::endl;
      return kBatchFailed;
    }
  }
  const std::vector<OutputFile> files = {
      {"calibration.csv", calibrationcsv(run)},
      {"ranking.csv", rankingcsv(run)},
      {"confirmation.csv", confirmationcsv(run)},
      {"chosen.json", jsontext(chosenjson(study.basefields, run))},
      {"calibration.html", calibrationhtml(run)}};
  OutputDir dir(options.outdir, "");
  problem = dir.write(files);
  if (problem.empty()) {
    Json manifest;
    manifest["program"] = kProgram;
    manifest["version"] = COMBOSIM_VERSION;
    manifest["contents"] = "calibration";
    putpath(manifest, "study", study.path);
    manifest["seed"] = study.seed;
    manifest["candidates"] = run.plan.candidates.size();
    manifest["infeasible"] = run.infeasible;
    manifest["stopped"] = run.result.stopped;
    manifest["trials"] = run.result.spent;
    manifest["cpuseconds"] = run.result.raceseconds + confirmationseconds(run.result);
    manifest["chosen"] = run.result.chosen >= 0
                             ? Json(run.plan.candidates[static_cast<std::size_t>(
                                                             run.result.chosen)].label)
                             : Json(nullptr);
    manifest["files"] = Json::array();
    for (const OutputFile& f : files) manifest["files"].push_back(f.name);
    problem = dir.write({{"manifest.json", jsontext(manifest)}});
  }
  if (!problem.empty()) {
    err << kProgram << ": " << problem << std::endl;
    return kBatchFailed;
  }
  out << rankingtext(run);
  out << std::fixed << std::setprecision(1) << "Processor time: race "
      << run.result.raceseconds << " s, confirmation "
      << confirmationseconds(run.result) << " s.\n";
  out.unsetf(std::ios::fixed);
  for (const OutputFile& f : files) {
    out << f.name.substr(0, f.name.find('.')) << ": " << outputpath(options.outdir, f.name)
        << "\n";
  }
  if (run.result.chosen >= 0 && !run.result.confirmation.empty()) {
    out << "confirmation: " << outputpath(confirmdir, "report.html") << "\n";
  }
  out << "manifest: " << outputpath(options.outdir, "manifest.json") << std::endl;
  return kBatchOk;
}
