// next/run.cc: the run of combosim-next, from the files to the report.
#include "next/run.h"

#include <sstream>

#include "engine/conduct.h"
#include "next/output.h"
#include "next/trialfile.h"

namespace {

constexpr char kProgram[] = "combosim-next: ";

}  // namespace

int runnext(const NextOptions& options, std::ostream& out, std::ostream& err) {
  TrialRead read = readtrial(options.trial, options.design);
  if (!read.problem.empty()) {
    err << kProgram << read.problem << '\n';
    return kNextFailed;
  }
  if (!options.posterior.empty()) {
    PosteriorChoice choice;
    // The command line's name is checked as a file's would be.
    const std::string problem = posteriorfromjson(Json(options.posterior), choice);
    if (!problem.empty()) {
      err << kProgram << "--posterior " << options.posterior
          << ": must be gibbs or quadrature\n";
      return kNextUsage;
    }
    if (read.posteriorfile.empty()) {
      setposterior(read.design, choice);
    } else if (choice.method != read.design.method) {
      err << kProgram << "--posterior " << options.posterior << " differs from "
          << read.posteriorfile << ", whose posterior is "
          << posteriorname(read.design.method) << '\n';
      return kNextUsage;
    }
  }

  ConductOptions conduct;
  conduct.streams = freshstreams(options.streams);
  conduct.replicates = options.replicates;
  conduct.seed = options.streams.seeded ? options.streams.seed : 0;
  NextReport report;
  report.inputs = read.inputs;
  report.design = read.design;
  report.streams = options.streams;
  report.cohorts = read.cohorts;
  report.replicates = options.replicates;
  report.result = runconduct(read.design, read.cohorts, conduct);
  const ConductResult& result = report.result;
  if (!result.problem.empty()) {
    // A cohort of a CSV file is named by its line too.
    std::string place = options.trial;
    const std::size_t k = static_cast<std::size_t>(result.cohort);
    if (k >= 1 && k <= read.lines.size()) place += ":" + std::to_string(read.lines[k - 1]);
    err << kProgram << place << ": " << result.problem << '\n';
    return kNextFailed;
  }

  std::ostringstream text;
  if (options.json) {
    text << jsontext(reportjson(report));
    for (const std::string& w : result.warnings) err << kProgram << "warning: " << w << '\n';
  } else {
    writetext(text, report);
  }
  out << text.str();
  out.flush();
  if (!out) {
    err << kProgram << "the report could not be written\n";
    return kNextFailed;
  }
  return kNextOk;
}
