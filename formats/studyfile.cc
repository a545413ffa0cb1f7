// formats/studyfile.cc: study files, their scenarios and base, and each
// design formed on each scenario as a scenario object of its own.
#include "formats/studyfile.h"

#include <filesystem>
#include <map>

#include "formats/scenariojson.h"
#include "formats/utf8.h"
#include "numerics/streams.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStudyFields[] = {
    "scenarios", "designs",   "reference",   "trials", "seed",     "paired",
    "base",      "posterior", "search",      "objective", "constraints",
    "budget"};
// The sections of a study that calibrates: a search instead of designs.
constexpr const char* kSearchFields[] = {"search", "objective", "constraints",
                                         "budget"};
// What a design may change, and what only a scenario gives.
constexpr const char* kDesignFields[] = {
    "scenprior1", "scenprior2", "ncohort1", "cohortsize1",
    "ncohort2",   "cohortsize2", "rules",   "posterior"};
constexpr const char* kTruthFields[] = {"ndose1", "ndose2", "scentox",
                                        "sceneff", "targettox", "mineff"};

bool among(const std::string& key, const auto& fields) {
  for (const char* f : fields) {
    if (key == f) return true;
  }
  return false;
}

// `relative` as the program opens it: beside the study file unless absolute.
std::string besidestudy(const std::string& study, const std::string& relative) {
  const fs::path p(relative);
  if (p.is_absolute()) return relative;
  return (fs::path(study).parent_path() / p).string();
}

// "designs[2] (strict)": a design in messages, counted from 1.
std::string designplace(std::size_t i, const std::string& name) {
  return "designs[" + std::to_string(i + 1) + "]" +
         (name.empty() ? "" : " (" + name + ")");
}

// The scenario `sj` with the design fields of `base` in place of its own.
Json withbase(const Json& sj, const Json& base) {
  Json j = sj;
  for (const char* f : kDesignFields) {
    j.erase(f);
    if (base.contains(f)) j[f] = base[f];
  }
  return j;
}

// The scenario `sj` with a design's `changes`: "rules" field by field, the
// others whole.
Json withchanges(const Json& sj, const Json& changes) {
  Json j = sj;
  for (const auto& item : changes.items()) {
    if (item.key() == "rules" && item.value().is_object() && j.contains("rules") &&
        j["rules"].is_object()) {
      for (const auto& rule : item.value().items()) j["rules"][rule.key()] = rule.value();
    } else {
      j[item.key()] = item.value();
    }
  }
  return j;
}

// Reads "designs". Returns "" or the problem.
std::string readdesigns(const Json& v, std::vector<StudyDesign>& designs) {
  if (!v.is_array() || v.empty()) {
    return "designs: must be a non-empty array of objects {\"name\": ..., "
           "changes...}";
  }
  std::map<std::string, std::size_t> names;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const Json& d = v[i];
    if (!d.is_object()) return designplace(i, "") + ": must be an object";
    if (!d.contains("name") || !d["name"].is_string()) {
      return designplace(i, "") + ".name: missing (a string)";
    }
    StudyDesign design;
    design.name = d["name"].get<std::string>();
    const std::string place = designplace(i, design.name);
    if (!isdesignname(design.name)) {
      return designplace(i, "") + ".name: \"" + utf8escaped(design.name) +
             "\" is not a design name (letters, digits, - and _)";
    }
    const auto [taken, fresh] = names.emplace(design.name, i);
    if (!fresh) {
      return place + ".name: the name of " +
             designplace(taken->second, design.name) + " too";
    }
    for (const auto& item : d.items()) {
      const std::string& key = item.key();
      if (key == "name") continue;
      if (among(key, kTruthFields)) {
        return place + "." + key + ": a truth field, which the scenarios give; "
                                   "a design changes design fields only";
      }
      if (key == "ntrial") {
        return place + ".ntrial: the study's \"trials\" sets the trials of "
                       "every design";
      }
      if (!among(key, kDesignFields)) return place + "." + key + ": unknown field";
      design.changes[key] = item.value();
    }
    designs.push_back(design);
  }
  return "";
}

// Reads the base, a design file's path or its fields, into `base`: the
// object, checked as a design file. Returns "" or the problem, which names
// its file.
std::string readbase(const Study& study, const Json& v, Json& base,
                     Design& design) {
  std::string problem;
  std::string source;
  if (v.is_string()) {
    source = besidestudy(study.path, v.get<std::string>());
    if (!readjsonfile(source, base, problem)) return problem;
    source += ": ";
  } else if (v.is_object()) {
    base = v;
    source = study.path + ": base.";
  } else {
    return study.path + ": base: must be a design file's path or its fields";
  }
  problem = designfromjson(base, true, design);
  return problem.empty() ? "" : source + problem;
}

// The first of the grid, targettox and mineff in which `design` and the
// scenario differ, as "FIELD A differs from B", or "".
std::string mismatch(const Design& design, const SimulationSettings& s) {
  const SimulationSettings& b = design.settings;
  if (b.ndose1 != s.ndose1) {
    return "ndose1 " + std::to_string(b.ndose1) + " differs from " +
           std::to_string(s.ndose1);
  }
  if (b.ndose2 != s.ndose2) {
    return "ndose2 " + std::to_string(b.ndose2) + " differs from " +
           std::to_string(s.ndose2);
  }
  if (b.targettox != s.targettox) {
    return "targettox " + numbertext(b.targettox) + " differs from " +
           numbertext(s.targettox);
  }
  if (b.mineff != s.mineff) {
    return "mineff " + numbertext(b.mineff) + " differs from " +
           numbertext(s.mineff);
  }
  return "";
}

}  // namespace

bool isdesignname(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

Study readstudyfile(const std::string& path) {
  Study study;
  study.path = path;
  const auto fail = [&study](const std::string& problem) {
    study.problem = study.path + ": " + problem;
    return study;
  };
  Json j;
  if (!readjsonfile(path, j, study.problem)) return study;
  if (!j.is_object()) return fail("must hold one JSON object");
  for (const auto& item : j.items()) {
    if (!among(item.key(), kStudyFields)) return fail(item.key() + ": unknown field");
  }
  std::string problem;
  study.calibrating = j.contains("search");
  if (study.calibrating) {
    // The candidates come from the search: the scenario's own design (or
    // the base) is the one design formed here.
    for (const char* f : {"designs", "reference"}) {
      if (j.contains(f)) {
        return fail(std::string(f) + ": a study with a search tries the "
                                     "search's candidates, not designs");
      }
    }
    if (j.contains("paired") && j["paired"] != true) {
      return fail("paired: a search races its candidates on paired trials");
    }
    for (const char* f : kSearchFields) {
      if (j.contains(f)) study.race[f] = j[f];
    }
    study.designs.push_back(StudyDesign{"base", Json::object()});
  } else {
    for (const char* f : {"scenarios", "designs", "reference"}) {
      if (!j.contains(f)) return fail(std::string(f) + ": missing");
    }
    for (const char* f : kSearchFields) {
      if (j.contains(f)) {
        return fail(std::string(f) + ": only a study with a search has one");
      }
    }
    problem = readdesigns(j["designs"], study.designs);
    if (!problem.empty()) return fail(problem);
    if (!j["reference"].is_string()) return fail("reference: must be a design's name");
    const std::string reference = j["reference"].get<std::string>();
    bool listed = false;
    for (std::size_t i = 0; i < study.designs.size(); ++i) {
      if (study.designs[i].name == reference) {
        study.reference = i;
        listed = true;
      }
    }
    if (!listed) {
      return fail("reference: \"" + utf8escaped(reference) +
                  "\" is not the name of one of the designs");
    }
  }
  if (!j.contains("scenarios")) return fail("scenarios: missing");
  if (j.contains("posterior")) {
    PosteriorChoice choice;
    problem = posteriorfromjson(j["posterior"], choice);
    if (!problem.empty()) return fail(problem);
    study.posterior = j["posterior"];
  }

  if (j.contains("trials")) {
    if (!wholenumber(j["trials"], study.trials)) {
      return fail("trials: " + wholenumberproblem(j["trials"]));
    }
    if (study.trials < 1) return fail("trials: must be at least 1");
  }
  if (j.contains("paired")) {
    if (!j["paired"].is_boolean()) return fail("paired: must be true or false");
    study.paired = j["paired"].get<bool>();
  }
  if (j.contains("seed")) {
    const Json& v = j["seed"];
    // The seed's text, as every front end reads seeds.
    const std::string text = v.is_number_unsigned()
                                 ? std::to_string(v.get<std::uint64_t>())
                                 : v.dump();
    problem = v.is_number_integer() ? readseed(text, study.seed)
                                    : "must be a whole number from 0 to 4294967295";
    if (!problem.empty()) return fail("seed: " + problem);
    study.seeded = true;
  } else if (study.paired) {
    return fail("seed: missing; paired designs need a seed (or \"paired\": "
                "false)");
  }

  Json base;
  Design basedesign;
  if (j.contains("base")) {
    study.problem = readbase(study, j["base"], base, basedesign);
    if (!study.problem.empty()) return study;
    study.base = j["base"].is_string() ? j["base"].get<std::string>() : "fields";
  }

  const Json& files = j["scenarios"];
  if (!files.is_array() || files.empty()) {
    return fail("scenarios: must be a non-empty array of scenario files");
  }
  std::map<std::string, std::size_t> names;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string place = "scenarios[" + std::to_string(i + 1) + "]";
    if (!files[i].is_string()) return fail(place + ": must be a file name");
    StudyScenario scenario;
    scenario.path = besidestudy(path, files[i].get<std::string>());
    scenario.name = fs::path(scenario.path).stem().string();
    if (fs::path(scenario.path).extension() != ".json") {
      return fail(place + ": " + scenario.path +
                  " is not a JSON scenario file (.json)");
    }
    if (!validutf8(scenario.name)) {
      return fail(place + ": the name " + scenario.name +
                  " is not valid UTF-8, which the result files cannot record");
    }
    const auto [taken, fresh] = names.emplace(scenario.name, i);
    if (!fresh) {
      return fail(place + ": " + scenario.path + " has the name " +
                  scenario.name + " of scenarios[" +
                  std::to_string(taken->second + 1) +
                  "]; their outputs would collide");
    }
    // The scenario as its file gives it, checked on its own first.
    Json sj;
    if (!readjsonfile(scenario.path, sj, study.problem)) return study;
    if (!base.is_null()) study.basefields = base;
    StudyCell own;
    problem = scenariofromjson(sj, own.scenario, own.rules, own.posterior);
    if (!problem.empty()) {
      study.problem = scenario.path + ": " + problem;
      return study;
    }
    if (!base.is_null()) {
      const std::string differs = mismatch(basedesign, own.scenario.settings);
      if (!differs.empty()) {
        return fail("base" + (study.base == "fields" ? "" : " (" + study.base + ")") +
                    ": " + differs + " in " + scenario.path +
                    "; a base fits every scenario of its study");
      }
      const Json replaced = withbase(sj, base);
      if (replaced != sj) {
        study.notes.push_back(path + ": the base replaces the design fields of " +
                              scenario.path);
      }
      sj = replaced;
    }
    if (study.trials > 0 && own.scenario.settings.ntrial != study.trials) {
      study.notes.push_back(path + ": trials " + std::to_string(study.trials) +
                            " replaces ntrial " +
                            std::to_string(own.scenario.settings.ntrial) + " of " +
                            scenario.path);
    }
    if (study.trials > 0) sj["ntrial"] = study.trials;
    // The study's method for every design that does not name its own.
    if (!study.posterior.is_null()) sj["posterior"] = study.posterior;
    scenario.fields = sj;
    for (std::size_t d = 0; d < study.designs.size(); ++d) {
      StudyCell cell;
      problem = scenariofromjson(withchanges(sj, study.designs[d].changes),
                                 cell.scenario, cell.rules, cell.posterior);
      if (!problem.empty()) {
        return fail(designplace(d, study.designs[d].name) + " on " +
                    scenario.path + ": " + problem);
      }
      scenario.cells.push_back(cell);
    }
    study.scenarios.push_back(scenario);
  }
  return study;
}

std::string studycell(const Json& fields, const Json& changes, StudyCell& cell) {
  return scenariofromjson(withchanges(fields, changes), cell.scenario, cell.rules,
                          cell.posterior);
}

Json studyjson(const Study& study) {
  Json j;
  putpath(j, "file", study.path);
  j["designs"] = Json::array();
  for (const StudyDesign& d : study.designs) {
    Json design = {{"name", d.name}};
    for (const auto& item : d.changes.items()) design[item.key()] = item.value();
    j["designs"].push_back(design);
  }
  j["reference"] = study.designs[study.reference].name;
  j["scenarios"] = Json::array();
  for (const StudyScenario& s : study.scenarios) j["scenarios"].push_back(s.name);
  if (study.trials > 0) j["trials"] = study.trials;
  j["paired"] = study.paired;
  if (study.seeded) j["seed"] = study.seed;
  if (!study.base.empty()) j["base"] = study.base;
  if (!study.posterior.is_null()) j["posterior"] = study.posterior;
  return j;
}
