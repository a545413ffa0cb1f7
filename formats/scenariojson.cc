// formats/scenariojson.cc: scenario and design objects in JSON.
#include "formats/scenariojson.h"

#include <tuple>
#include <utility>

#include "engine/conduct.h"

namespace {

// The fields of the JSON form, in the order the dialogue asks for them.
constexpr const char* kFields[] = {
    "ndose1",     "ndose2",     "scentox",     "sceneff",    "targettox",
    "mineff",     "scenprior1", "scenprior2",  "ncohort1",   "cohortsize1",
    "ncohort2",   "cohortsize2", "ntrial"};

// The optional objects of both forms.
constexpr char kRules[] = "rules";
constexpr char kPosterior[] = "posterior";
// A design's fields, in the order a scenario gives them.
constexpr const char* kCountFields[] = {"ndose1", "ndose2", "ncohort1",
                                        "cohortsize1", "ncohort2", "cohortsize2"};
constexpr const char* kDesignFields[] = {
    "ndose1",     "ndose2",     "targettox",   "mineff",   "scenprior1",
    "scenprior2", "ncohort1",   "cohortsize1", "ncohort2", "cohortsize2"};
// A batch scenario's fields that a design file may hold and that are not used.
constexpr const char* kScenarioFields[] = {"scentox", "sceneff", "ntrial"};
// The names of the dose levels, which a design file may give.
constexpr const char* kLabelFields[] = {"labels1", "labels2"};
constexpr char kCohorts[] = "cohorts";

bool among(const std::string& key, const auto& fields) {
  for (const char* f : fields) {
    if (key == f) return true;
  }
  return false;
}

// Reads an ndose1 by ndose2 array of probabilities, indexed [drug-1
// level][drug-2 level], into `m`.
std::string matrix(const Json& v, const std::string& field, int ndose1,
                   int ndose2, double m[kMaxDose][kMaxDose]) {
  if (!v.is_array() || static_cast<int>(v.size()) != ndose1) {
    return field + ": must be an array of " + std::to_string(ndose1) +
           " rows (drug-1 levels) of " + std::to_string(ndose2) +
           " numbers (drug-2 levels)";
  }
  for (int d1 = 0; d1 < ndose1; ++d1) {
    const std::string problem = numberlist(
        v[static_cast<std::size_t>(d1)], levelname(field, 1, d1), ndose2, true,
        m[d1], [&field, d1](int d2) { return cellname(field, d1, d2); });
    if (!problem.empty()) return problem;
  }
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

std::string scenariofromjson(const Json& j, Scenario& result,
                             DesignRules& rules, PosteriorChoice& posterior) {
  const auto fail = [](const std::string& problem) { return problem; };
  if (!j.is_object()) return fail("must hold one JSON object");
  for (const auto& item : j.items()) {
    bool known = item.key() == kRules || item.key() == kPosterior;
    for (const char* f : kFields) known = known || item.key() == f;
    if (!known) return fail(item.key() + ": unknown field");
  }
  for (const char* f : kFields) {
    if (!j.contains(f)) return fail(std::string(f) + ": missing");
  }

  // Whole numbers and single probabilities first: they decide the shapes.
  Scenario scenario;
  SimulationSettings& s = scenario.settings;
  const std::pair<const char*, int*> counts[] = {
      {"ndose1", &s.ndose1},           {"ndose2", &s.ndose2},
      {"ncohort1", &s.ncohort1},       {"cohortsize1", &s.cohortsize1},
      {"ncohort2", &s.ncohort2},       {"cohortsize2", &s.cohortsize2},
      {"ntrial", &s.ntrial}};
  for (const auto& [field, value] : counts) {
    if (!wholenumber(j[field], *value)) {
      return fail(std::string(field) + ": " + wholenumberproblem(j[field]));
    }
  }
  const std::pair<const char*, double*> single[] = {{"targettox", &s.targettox},
                                                    {"mineff", &s.mineff}};
  for (const auto& [field, value] : single) {
    if (!j[field].is_number()) return fail(std::string(field) + ": must be a number");
    if (j[field].get<double>() < 0) {
      return fail(std::string(field) + ": a probability below 0");
    }
    *value = j[field].get<double>();
  }
  // The grid's size first: the shapes of the arrays follow from it.
  if (s.ndose1 < 1 || s.ndose1 > kMaxDose || s.ndose2 < 1 || s.ndose2 > kMaxDose) {
    return fail(checkscenario(scenario));
  }
  ScenarioInput& in = scenario.input;
  for (const auto& [field, m] : {std::pair<const char*, double(*)[kMaxDose]>{"scentox", in.scentox},
                                 {"sceneff", in.sceneff}}) {
    const std::string problem = matrix(j[field], field, s.ndose1, s.ndose2, m);
    if (!problem.empty()) return fail(problem);
  }
  const std::tuple<const char*, int, double*> priors[] = {
      {"scenprior1", s.ndose1, in.scenprior1}, {"scenprior2", s.ndose2, in.scenprior2}};
  for (int drug = 1; drug <= 2; ++drug) {
    const auto& [field, n, to] = priors[drug - 1];
    const std::string name = field;
    const std::string problem = numberlist(
        j[name], name, n, false, to,
        [&name, drug](int d) { return levelname(name, drug, d); });
    if (!problem.empty()) return fail(problem);
  }
  if (j.contains(kRules)) {
    // The start is checked on the grid once the grid is sound.
    const bool grid = s.ndose1 >= 1 && s.ndose1 <= kMaxDose && s.ndose2 >= 1 &&
                      s.ndose2 <= kMaxDose;
    const std::string problem =
        rulesfromjson(j[kRules], rules, grid ? s.ndose1 : kMaxDose,
                      grid ? s.ndose2 : kMaxDose);
    if (!problem.empty()) return fail(problem);
  }
  if (j.contains(kPosterior)) {
    const std::string problem = posteriorfromjson(j[kPosterior], posterior);
    if (!problem.empty()) return fail(problem);
  }
  const std::string problem = checkscenario(scenario);
  if (!problem.empty()) return fail(problem);
  result = scenario;
  return "";
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

