// next/run.cc: the run of combosim-next, from the files to the report.
#include "next/run.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/conduct.h"
#include "next/output.h"
#include "next/trialfile.h"

namespace {

constexpr char kProgram[] = "combosim-next: ";

// Writes `text` to a new file at `path`: whole through a temporary file
// beside it, linked into place only if nothing is there. Returns "" or the
// problem.
std::string writenewfile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (file) {
      file << text;
      file.close();
    }
    if (!file) {
      const std::string why = std::strerror(errno);
      std::remove(temporary.c_str());
      return "cannot write " + path + ": " + why;
    }
  }
  const bool linked = link(temporary.c_str(), path.c_str()) == 0;
  const std::string why = linked ? "" : std::strerror(errno);
  std::remove(temporary.c_str());
  if (!linked) return "cannot write " + path + ": " + why;
  return "";
}

}  // namespace

int runnext(const NextOptions& options, std::ostream& out, std::ostream& err) {
  if (!options.pathwayscsv.empty()) {
    std::error_code error;
    if (options.pathways < 1) {
      err << kProgram << "--pathways-csv needs --pathways K\n";
      return kNextUsage;
    }
    if (std::filesystem::symlink_status(options.pathwayscsv, error).type() !=
        std::filesystem::file_type::not_found) {
      err << kProgram << "--pathways-csv " << options.pathwayscsv
          << ": the file exists; combosim-next writes only a new file\n";
      return kNextUsage;
    }
  }
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
  conduct.pathways = options.pathways;
  NextReport report;
  report.inputs = read.inputs;
  report.design = read.design;
  report.streams = options.streams;
  report.cohorts = read.cohorts;
  report.replicates = options.replicates;
  report.closecalls = options.closecalls;
  report.pathways = options.pathways;
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
  if (!result.pathways.problem.empty()) {
    err << kProgram << "--pathways " << options.pathways << ": "
        << result.pathways.problem << '\n';
    return result.pathways.failure.ok() ? kNextUsage : kNextFailed;
  }
  if (!options.pathwayscsv.empty()) {
    const std::string problem = writenewfile(options.pathwayscsv, pathwayscsv(report));
    if (!problem.empty()) {
      err << kProgram << problem << '\n';
      return kNextFailed;
    }
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
