// batch/outputs.cc: temporary files renamed into place, the run-level files,
// the manifest, and the check against overwriting inputs.
#include "batch/outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch/resulttext.h"
#include "formats/utf8.h"

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace {

// The summary: one row per scenario written and combination.
std::string summarytext(const std::vector<BatchResult>& results) {
  std::ostringstream csv;
  const bool options = anyoptions(results);
  const bool posterior = anyposterior(results);
  writesummaryheader(csv, options, posterior);
  for (const BatchResult& r : results) writesummaryrows(csv, r, options, posterior);
  return csv.str();
}

Json manifestjson(const std::vector<ManifestEntry>& scenarios,
                  const std::vector<OutputFile>& files,
                  const std::vector<std::string>& problems) {
  Json j;
  j["program"] = "combosim-batch";
  j["version"] = COMBOSIM_VERSION;
  j["contents"] = "manifest";
  j["scenarios"] = Json::array();
  for (const ManifestEntry& e : scenarios) {
    Json entry;
    entry["name"] = e.name;
    putpath(entry, "source", e.source);
    if (e.sourcereplaced) entry["source_bytes_replaced"] = true;
    entry["mathlib"] = e.mathlib;
    entry["files"] = e.files;
    j["scenarios"].push_back(entry);
  }
  j["files"] = Json::array();
  for (const OutputFile& f : files) j["files"].push_back(f.name);
  // Problems name files as given: bytes that are not UTF-8 as \xNN.
  j["problems"] = Json::array();
  for (const std::string& p : problems) j["problems"].push_back(utf8escaped(p));
  return j;
}

}  // namespace

std::vector<std::string> scenariofiles(const std::string& stem, bool trials) {
  std::vector<std::string> names = {stem + ".txt", stem + ".json"};
  if (trials) names.push_back(stem + ".trials.csv");
  return names;
}

std::vector<OutputFile> runfiles(const std::vector<BatchResult>& results,
                                 const std::string& infix,
                                 const HtmlOptions& html) {
  std::vector<OutputFile> files = {
      {"summary" + infix + ".csv", summarytext(results)}};
  // The operating characteristics need every part of a scenario: a whole
  // run's only.
  if (infix.empty()) {
    std::ostringstream oc;
    const bool options = anyoptions(results);
    const bool posterior = anyposterior(results);
    writeocheader(oc, options, posterior);
    std::vector<HtmlScenario> pages;
    for (const BatchResult& r : results) {
      writeocrow(oc, r, options, posterior);
      pages.push_back(htmlscenario(r));
    }
    files.push_back({"oc.csv", oc.str()});
    files.push_back({"report.html", htmlreport(pages, html)});
  }
  return files;
}

std::vector<std::string> runfilenames(const std::string& infix) {
  std::vector<std::string> names;
  for (const OutputFile& f : runfiles({}, infix)) names.push_back(f.name);
  names.push_back(manifestname(infix));
  return names;
}

std::string manifestname(const std::string& infix) {
  // "manifest-shard-K-of-N.json": not a name that *.shard-K-of-N.json, the
  // pattern of shard files, matches.
  if (infix.empty()) return "manifest.json";
  return "manifest-" + infix.substr(1) + ".json";
}

std::string outputpath(const std::string& outdir, const std::string& name) {
  return (std::filesystem::path(outdir) / name).string();
}

std::string temporarypath(const std::string& path, pid_t pid) {
  return path + ".tmp" + std::to_string(pid);
}

std::string writewhole(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) {
    file << text;
    file.close();
  }
  if (!file) return "cannot write " + path + ": " + std::strerror(errno);
  return "";
}

void removeleftovers(const std::string& dir,
                     const std::vector<std::string>& names) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string file = entry.path().filename().string();
    const std::size_t at = file.rfind(".tmp");
    if (at == std::string::npos || at + 4 == file.size() ||
        file.find_first_not_of("0123456789", at + 4) != std::string::npos) {
      continue;
    }
    if (std::find(names.begin(), names.end(), file.substr(0, at)) != names.end()) {
      std::remove(entry.path().c_str());
    }
  }
}

std::string OutputDir::place(const std::vector<std::string>& names, pid_t pid) {
  if (!cleared_) {
    // From here on the directory no longer holds the earlier run whole.
    std::remove(outputpath(dir_, manifestname(infix_)).c_str());
    cleared_ = true;
  }
  std::string problem;
  for (const std::string& name : names) {
    const std::string path = outputpath(dir_, name);
    const std::string temporary = temporarypath(path, pid);
    if (!problem.empty()) {
      std::remove(temporary.c_str());
    } else if (std::rename(temporary.c_str(), path.c_str()) != 0) {
      problem = "cannot write " + path + ": " + std::strerror(errno);
      std::remove(temporary.c_str());
    }
  }
  return problem;
}

std::string OutputDir::write(const std::vector<OutputFile>& files) {
  std::vector<std::string> names;
  std::string problem;
  for (const OutputFile& f : files) {
    names.push_back(f.name);
    if (problem.empty()) {
      problem = writewhole(temporarypath(outputpath(dir_, f.name), getpid()),
                           f.text);
    }
  }
  if (!problem.empty()) {
    for (const std::string& name : names) {
      std::remove(temporarypath(outputpath(dir_, name), getpid()).c_str());
    }
    return problem;
  }
  return place(names, getpid());
}

std::string OutputDir::finish(const std::vector<BatchResult>& results,
                              const std::vector<ManifestEntry>& scenarios,
                              const std::vector<std::string>& problems) {
  if (results.empty()) return "";
  const std::vector<OutputFile> files = runfiles(results, infix_, html_);
  const std::string problem = write(files);
  if (!problem.empty()) return problem;
  return write({{manifestname(infix_),
                 jsontext(manifestjson(scenarios, files, problems))}});
}

InputFiles::InputFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    struct stat s;
    if (stat(path.c_str(), &s) == 0) {
      files_.emplace(std::make_pair(s.st_dev, s.st_ino), path);
    }
  }
}

std::string InputFiles::find(const std::string& path) const {
  struct stat s;
  if (stat(path.c_str(), &s) != 0) return "";
  const auto input = files_.find(std::make_pair(s.st_dev, s.st_ino));
  return input == files_.end() ? "" : input->second;
}
