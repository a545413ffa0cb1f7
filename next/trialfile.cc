// next/trialfile.cc: trial files in JSON and CSV, and design files.
#include "next/trialfile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <utility>

#include "formats/sha256.h"

namespace {

// The design's fields, in the order a scenario gives them.
constexpr const char* kCountFields[] = {"ndose1", "ndose2", "ncohort1",
                                        "cohortsize1", "ncohort2", "cohortsize2"};
constexpr const char* kDesignFields[] = {
    "ndose1",     "ndose2",     "targettox",   "mineff",   "scenprior1",
    "scenprior2", "ncohort1",   "cohortsize1", "ncohort2", "cohortsize2"};
// A batch scenario's fields that a design file may hold and that are not used.
constexpr const char* kScenarioFields[] = {"scentox", "sceneff", "ntrial"};
constexpr const char* kLabelFields[] = {"labels1", "labels2"};
constexpr char kRules[] = "rules";
constexpr char kPosterior[] = "posterior";
constexpr char kCohorts[] = "cohorts";
constexpr const char* kCohortFields[] = {"combination", "patients", "toxicities",
                                         "responses"};
constexpr char kCsvHeader[] = "drug1,drug2,patients,toxicities,responses";
constexpr const char* kCsvFields[] = {"drug1", "drug2", "patients", "toxicities",
                                      "responses"};

bool among(const std::string& key, const auto& fields) {
  for (const char* f : fields) {
    if (key == f) return true;
  }
  return false;
}

std::string cohortplace(std::size_t i) {
  return "cohort " + std::to_string(i + 1) + ": ";
}

// The text without the spaces and tabs around it.
std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Splits a CSV line into `fields`, each without the spaces and tabs around
// it. A field in double quotes, as R's write.csv and spreadsheets write them,
// is what the quotes hold, a doubled quote standing for one; it may hold
// commas. Returns "" or the problem.
std::string csvfields(const std::string& line, std::vector<std::string>& fields) {
  fields.clear();
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::string field;
    if (i < line.size() && line[i] == '"') {
      for (++i;; ++i) {
        if (i == line.size()) return "a quoted field is not closed";
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            ++i;
          } else {
            break;
          }
        }
        field += line[i];
      }
      ++i;
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i < line.size() && line[i] != ',') return "text after a quoted field";
    } else {
      const std::size_t comma = std::min(line.find(',', i), line.size());
      field = trimmed(line.substr(i, comma - i));
      i = comma;
    }
    fields.push_back(field);
    if (i >= line.size()) return "";
    ++i;  // the comma
  }
}

// A whole decimal number that fits an int, optionally negative; "" or the
// problem.
std::string csvnumber(const std::string& text, int& n) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, n);
  if (text.empty() || ptr != end) return "must be a whole number";
  if (error == std::errc::result_out_of_range) return "is out of range";
  if (error != std::errc()) return "must be a whole number";
  return "";
}

// Dose level `level`, counted from 1, as an index from 0 into `index`.
// Returns "" or the problem; the range is checked before the subtraction,
// which could overflow. The grid's own size is checked with the cohort.
std::string levelindex(int level, int& index) {
  if (level < 1 || level > kMaxDose) {
    return std::to_string(level) + " is not a dose level (1 to " +
           std::to_string(kMaxDose) + ")";
  }
  index = level - 1;
  return "";
}

// The names of one drug's `n` dose levels from `v`, field `field`: an array
// of n distinct strings, each of 1 to kMaxLabel printable characters (the
// parser has checked the UTF-8). Returns "" or the problem, "FIELD: TEXT".
std::string labelsfromjson(const Json& v, const char* field, int n,
                           std::vector<std::string>& labels) {
  const std::string name = field;
  const std::string drug = name.back() == '1' ? "drug 1" : "drug 2";
  if (!v.is_array() || static_cast<int>(v.size()) != n) {
    return name + ": must be an array of " + std::to_string(n) +
           " names, one per dose level of " + drug;
  }
  std::vector<std::string> read;
  for (int i = 0; i < n; ++i) {
    const std::string place = name + ": level " + std::to_string(i + 1) + ": ";
    const Json& x = v[static_cast<std::size_t>(i)];
    if (!x.is_string()) return place + "must be a string";
    const std::string text = x.get<std::string>();
    int characters = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
      const unsigned char c = static_cast<unsigned char>(text[k]);
      const bool c1 = c == 0xC2 && k + 1 < text.size() &&
                      static_cast<unsigned char>(text[k + 1]) < 0xA0;
      if (c < 0x20 || c == 0x7F || c1) {
        return place + "holds a control character; names are printable text";
      }
      if ((c & 0xC0) != 0x80) ++characters;
    }
    if (characters == 0) return place + "must not be empty";
    if (characters > kMaxLabel) {
      return place + "has " + std::to_string(characters) + " characters, more than " +
             std::to_string(kMaxLabel);
    }
    for (std::size_t k = 0; k < read.size(); ++k) {
      if (read[k] == text) {
        return name + ": levels " + std::to_string(k + 1) + " and " +
               std::to_string(i + 1) + " have the same name";
      }
    }
    read.push_back(text);
  }
  labels = read;
  return "";
}

}  // namespace

bool iscsvtrial(const std::string& path, const std::string& text) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".csv") return true;
  if (extension == ".json") return false;
  const std::size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  const std::size_t first = text.find_first_not_of(" \t\r\n", bom);
  return first == std::string::npos || (text[first] != '{' && text[first] != '[');
}

std::string designfromjson(const Json& j, bool alone, Design& design) {
  if (!j.is_object()) return "must hold one JSON object";
  for (const auto& item : j.items()) {
    const std::string& key = item.key();
    const bool known = among(key, kDesignFields) || among(key, kLabelFields) ||
                       key == kRules || key == kPosterior ||
                       (alone ? among(key, kScenarioFields) : key == kCohorts);
    if (!known) return key + ": unknown field";
  }
  for (const char* f : kDesignFields) {
    if (!j.contains(f)) return std::string(f) + ": missing";
  }
  Design d;
  SimulationSettings& s = d.settings;
  int* const counts[] = {&s.ndose1,   &s.ndose2,   &s.ncohort1,
                         &s.cohortsize1, &s.ncohort2, &s.cohortsize2};
  for (int i = 0; i < 6; ++i) {
    const Json& v = j[kCountFields[i]];
    if (!wholenumber(v, *counts[i])) {
      return std::string(kCountFields[i]) + ": " + wholenumberproblem(v);
    }
  }
  const std::pair<const char*, double*> single[] = {{"targettox", &s.targettox},
                                                    {"mineff", &s.mineff}};
  for (const auto& [field, value] : single) {
    if (!j[field].is_number()) return std::string(field) + ": must be a number";
    if (j[field].get<double>() < 0) {
      return std::string(field) + ": a probability below 0";
    }
    *value = j[field].get<double>();
  }
  // The grid's size first: the lengths of the priors follow from it.
  if (s.ndose1 < 1 || s.ndose1 > kMaxDose || s.ndose2 < 1 || s.ndose2 > kMaxDose) {
    return checkdesign(d);
  }
  std::string problem = numberlist(j["scenprior1"], "scenprior1", s.ndose1, false, d.prior1);
  if (problem.empty()) {
    problem = numberlist(j["scenprior2"], "scenprior2", s.ndose2, false, d.prior2);
  }
  if (problem.empty() && j.contains(kRules)) problem = rulesfromjson(j[kRules], d.rules, s.ndose1, s.ndose2);
  if (problem.empty() && j.contains(kPosterior)) {
    PosteriorChoice choice;
    problem = posteriorfromjson(j[kPosterior], choice);
    setposterior(d, choice);
  }
  if (problem.empty() && j.contains("labels1")) {
    problem = labelsfromjson(j["labels1"], "labels1", s.ndose1, d.labels1);
  }
  if (problem.empty() && j.contains("labels2")) {
    problem = labelsfromjson(j["labels2"], "labels2", s.ndose2, d.labels2);
  }
  if (problem.empty()) problem = checkdesign(d);
  if (problem.empty()) design = d;
  return problem;
}

std::string cohortsfromjson(const Json& v, std::vector<Cohort>& cohorts) {
  if (!v.is_array()) return std::string(kCohorts) + ": must be an array of cohorts";
  std::vector<Cohort> read;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const Json& c = v[i];
    const std::string place = cohortplace(i);
    if (!c.is_object()) {
      return place + "must be an object with combination, patients, "
                     "toxicities and responses";
    }
    for (const auto& item : c.items()) {
      if (!among(item.key(), kCohortFields)) {
        return place + item.key() + ": unknown field";
      }
    }
    Cohort k;
    const Json* combination = c.contains("combination") ? &c["combination"] : nullptr;
    if (combination == nullptr) return place + "combination: missing";
    int level1 = 0;
    int level2 = 0;
    if (!combination->is_array() || combination->size() != 2 ||
        !wholenumber((*combination)[0], level1) ||
        !wholenumber((*combination)[1], level2)) {
      return place + "combination: must be [drug-1 level, drug-2 level], "
                     "whole numbers";
    }
    std::string problem = levelindex(level1, k.at.d1);
    if (problem.empty()) problem = levelindex(level2, k.at.d2);
    if (!problem.empty()) return place + "combination: " + problem;
    const std::pair<const char*, int*> counts[] = {{"patients", &k.npat},
                                                   {"toxicities", &k.ntox},
                                                   {"responses", &k.nresp}};
    for (const auto& [field, n] : counts) {
      if (!c.contains(field)) return place + field + ": missing";
      if (!wholenumber(c[field], *n)) {
        return place + field + ": " + wholenumberproblem(c[field]);
      }
    }
    read.push_back(k);
  }
  cohorts = std::move(read);
  return "";
}

std::string cohortsfromcsv(const std::string& text, const std::string& source,
                           std::vector<Cohort>& cohorts, std::vector<int>& lines) {
  // A spreadsheet may begin the file with a byte order mark.
  const std::size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::vector<std::string> rows;
  for (std::size_t start = bom; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    rows.push_back(text.substr(start, end - start));
    if (!rows.back().empty() && rows.back().back() == '\r') rows.back().pop_back();
    start = end + 1;
  }
  std::vector<Cohort> read;
  std::vector<int> at;
  bool header = false;
  bool rownames = false;  // the first column is R's row names: not read
  std::vector<std::string> fields;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const int line = static_cast<int>(i) + 1;
    if (trimmed(rows[i]).empty()) continue;
    const std::string where = source + ":" + std::to_string(line) + ": ";
    const std::string problem = csvfields(rows[i], fields);
    if (!problem.empty()) return where + problem;
    if (!header) rownames = fields.size() > 1 && fields[0].empty();
    if (rownames) fields.erase(fields.begin());
    if (!header) {
      std::string joined;
      for (std::size_t f = 0; f < fields.size(); ++f) {
        joined += (f > 0 ? "," : "") + fields[f];
      }
      if (joined != kCsvHeader) {
        return where + "the header must be " + std::string(kCsvHeader);
      }
      header = true;
      continue;
    }
    const std::string place = where + cohortplace(read.size());
    if (fields.size() != 5) {
      return place + "expected 5 fields (" + kCsvHeader + "), found " +
             std::to_string(fields.size());
    }
    int values[5];
    for (std::size_t f = 0; f < 5; ++f) {
      const std::string problem = csvnumber(fields[f], values[f]);
      if (!problem.empty()) return place + kCsvFields[f] + ": " + problem;
    }
    Cohort k;
    for (std::size_t f = 0; f < 2; ++f) {
      const std::string problem = levelindex(values[f], f == 0 ? k.at.d1 : k.at.d2);
      if (!problem.empty()) return place + kCsvFields[f] + ": " + problem;
    }
    k.npat = values[2];
    k.ntox = values[3];
    k.nresp = values[4];
    read.push_back(k);
    at.push_back(line);
  }
  if (!header) return source + ": no header line " + std::string(kCsvHeader);
  cohorts = std::move(read);
  lines = std::move(at);
  return "";
}

TrialRead readtrial(const std::string& trialpath, const std::string& designpath) {
  TrialRead read;
  std::string text;
  if (!readwholefile(trialpath, text, read.problem)) return read;
  const bool csv = iscsvtrial(trialpath, text);
  if (csv && designpath.empty()) {
    read.problem = trialpath + ": a CSV trial file needs the design: --design FILE.json";
    return read;
  }
  read.inputs.push_back({"trial", trialpath, sha256hex(text)});

  if (!designpath.empty()) {
    std::string designtext;
    Json dj;
    if (!readwholefile(designpath, designtext, read.problem)) return read;
    read.inputs.push_back({"design", designpath, sha256hex(designtext)});
    if (!parsejson(designtext, designpath, dj, read.problem)) return read;
    const std::string problem = designfromjson(dj, true, read.design);
    if (!problem.empty()) {
      read.problem = designpath + ": " + problem;
      return read;
    }
    if (dj.contains(kPosterior)) read.posteriorfile = designpath;
  }

  if (csv) {
    read.problem = cohortsfromcsv(text, trialpath, read.cohorts, read.lines);
    return read;
  }
  Json j;
  if (!parsejson(text, trialpath, j, read.problem)) return read;
  const auto fail = [&read, &trialpath](const std::string& problem) {
    read.problem = trialpath + ": " + problem;
    return read;
  };
  if (!j.is_object()) return fail("must hold one JSON object");
  if (!designpath.empty()) {
    // The design comes from its own file: the trial file holds the cohorts.
    for (const auto& item : j.items()) {
      if (item.key() != kCohorts) {
        return fail(item.key() + ": the design is given by --design " + designpath +
                    "; this file may hold only \"cohorts\"");
      }
    }
  } else {
    const std::string problem = designfromjson(j, false, read.design);
    if (!problem.empty()) return fail(problem);
    if (j.contains(kPosterior)) read.posteriorfile = trialpath;
  }
  if (!j.contains(kCohorts)) return fail(std::string(kCohorts) + ": missing");
  const std::string problem = cohortsfromjson(j[kCohorts], read.cohorts);
  if (!problem.empty()) return fail(problem);
  return read;
}
