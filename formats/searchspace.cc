// formats/searchspace.cc: the search space and the race's settings of a
// study file.
#include "formats/searchspace.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

namespace {

enum class Kind { kNumber, kWhole, kName, kStart, kPrior, kPosterior };

struct KeyOf {
  const char* key;
  Kind kind;
};

constexpr KeyOf kKeys[] = {
    {"rules.escalate", Kind::kNumber},
    {"rules.deescalate", Kind::kNumber},
    {"rules.admissible", Kind::kNumber},
    {"rules.safety", Kind::kNumber},
    {"rules.futility", Kind::kNumber},
    {"rules.minpatients", Kind::kWhole},
    {"rules.minpatients_stop", Kind::kWhole},
    {"rules.minpatients_close", Kind::kWhole},
    {"rules.phase2", Kind::kName},
    {"rules.start", Kind::kStart},
    {"ncohort1", Kind::kWhole},
    {"ncohort2", Kind::kWhole},
    {"cohortsize1", Kind::kWhole},
    {"cohortsize2", Kind::kWhole},
    {"scenprior1", Kind::kPrior},
    {"scenprior2", Kind::kPrior},
    {"posterior", Kind::kPosterior},
};

// A value of a range, rid of the rounding of from + i * step: the shortest
// of 12 significant digits.
double rangevalue(double from, double step, std::int64_t i) {
  char text[40];
  std::snprintf(text, sizeof text, "%.12g", from + static_cast<double>(i) * step);
  return std::strtod(text, nullptr);
}

// "" or what is wrong with `v` as a value of a key of `kind`.
std::string valueproblem(Kind kind, const Json& v) {
  switch (kind) {
    case Kind::kNumber:
      return v.is_number() ? "" : "values must be numbers";
    case Kind::kWhole: {
      int n = 0;
      return wholenumber(v, n) ? "" : "values must be whole numbers";
    }
    case Kind::kName:
      return v.is_string() ? "" : "values must be names";
    case Kind::kStart:
      return v.is_array() && v.size() == 2 ? ""
                                           : "values must be [drug-1 level, drug-2 level]";
    case Kind::kPrior:
      return v.is_array() ? "" : "values must be lists of prior toxicities";
    case Kind::kPosterior:
      return v.is_string() || v.is_object() ? "" : "values must be posterior methods";
  }
  return "";
}

std::string valuetext(const Json& v) {
  if (v.is_number_float()) return numbertext(v.get<double>());
  if (v.is_string()) return v.get<std::string>();
  if (v.is_object() && v.contains("method") && v["method"].is_string()) {
    return v["method"].get<std::string>();
  }
  return v.dump();
}

}  // namespace

const std::vector<std::string>& searchkeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    for (const KeyOf& key : kKeys) k.push_back(key.key);
    return k;
  }();
  return keys;
}

std::string searchfromjson(const Json& search, std::vector<SearchKey>& keys) {
  keys.clear();
  if (!search.is_object()) return "search: must be an object of fields and their values";
  if (search.empty()) return "search: empty: name at least one field to search";
  for (const auto& [key, value] : search.items()) {
    const std::string field = "search." + key;
    const KeyOf* known = nullptr;
    for (const KeyOf& k : kKeys) {
      if (key == k.key) known = &k;
    }
    if (known == nullptr) {
      std::string list;
      for (const KeyOf& k : kKeys) list += std::string(list.empty() ? "" : ", ") + k.key;
      return field + ": not a field a search can change (" + list + ")";
    }
    SearchKey sk;
    sk.key = key;
    if (value.is_array() && (known->kind != Kind::kStart || (!value.empty() && value[0].is_array())) &&
        (known->kind != Kind::kPrior || (!value.empty() && value[0].is_array()))) {
      for (const Json& v : value) sk.values.push_back(v);
    } else if (value.is_object() && value.contains("from")) {
      if (known->kind != Kind::kNumber && known->kind != Kind::kWhole) {
        return field + ": a range needs a field that takes a number";
      }
      for (const auto& [name, part] : value.items()) {
        if (name != "from" && name != "to" && name != "step") {
          return field + "." + name + ": unknown (a range has from, to and step)";
        }
        if (!part.is_number()) return field + "." + name + ": must be a number";
      }
      if (!value.contains("to") || !value.contains("step")) {
        return field + ": a range needs from, to and step";
      }
      const double from = value["from"].get<double>();
      const double to = value["to"].get<double>();
      const double step = value["step"].get<double>();
      if (!(step > 0)) return field + ".step: must be above 0";
      if (to < from) return field + ".to: below from";
      const double count = std::floor((to - from) / step + 1e-9) + 1;
      if (count > 100000) return field + ": more than 100000 values";
      for (std::int64_t i = 0; i < static_cast<std::int64_t>(count); ++i) {
        const double x = rangevalue(from, step, i);
        // A whole-number field's range of fractions is left as numbers,
        // for the check below to refuse rather than round onto repeats.
        if (known->kind == Kind::kWhole && x == std::round(x)) {
          sk.values.push_back(static_cast<std::int64_t>(std::llround(x)));
        } else {
          sk.values.push_back(x);
        }
      }
    } else {
      return field + ": must be a list of values or {\"from\", \"to\", \"step\"}";
    }
    if (sk.values.empty()) return field + ": no values";
    std::set<std::string> seen;
    for (const Json& v : sk.values) {
      const std::string problem = valueproblem(known->kind, v);
      if (!problem.empty()) return field + ": " + problem;
      // A repeated value would race a candidate against its own copy.
      const std::string text = v.is_number() ? numbertext(v.get<double>()) : v.dump();
      if (!seen.insert(text).second) {
        return field + ": " + valuetext(v) + " given more than once";
      }
    }
    keys.push_back(sk);
  }
  return "";
}

std::uint64_t searchsize(const std::vector<SearchKey>& keys) {
  std::uint64_t n = 1;
  for (const SearchKey& k : keys) {
    if (__builtin_mul_overflow(n, k.values.size(), &n)) {
      return std::numeric_limits<std::uint64_t>::max();
    }
  }
  return n;
}

namespace {

// The value index of each key for candidate `index`, the last key fastest.
std::vector<std::size_t> digits(const std::vector<SearchKey>& keys,
                                std::uint64_t index) {
  std::vector<std::size_t> d(keys.size());
  for (std::size_t i = keys.size(); i-- > 0;) {
    d[i] = static_cast<std::size_t>(index % keys[i].values.size());
    index /= keys[i].values.size();
  }
  return d;
}

}  // namespace

Json candidatechanges(const std::vector<SearchKey>& keys, std::uint64_t index) {
  const std::vector<std::size_t> d = digits(keys, index);
  Json changes = Json::object();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const Json& v = keys[i].values[d[i]];
    const std::string& key = keys[i].key;
    if (key.rfind("rules.", 0) == 0) {
      changes["rules"][key.substr(6)] = v;
    } else {
      changes[key] = v;
    }
  }
  return changes;
}

std::string candidatelabel(const std::vector<SearchKey>& keys,
                           std::uint64_t index) {
  const std::vector<std::size_t> d = digits(keys, index);
  std::string label;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    label += (i > 0 ? ", " : "") + keys[i].key + "=" + valuetext(keys[i].values[d[i]]);
  }
  return label;
}

std::string racefromjson(const Json& study,
                         const std::vector<std::string>& scenarios,
                         CalibrationPlan& plan) {
  const auto scenarioindex = [&scenarios](const Json& name) {
    for (std::size_t s = 0; s < scenarios.size(); ++s) {
      if (name.is_string() && name.get<std::string>() == scenarios[s]) {
        return static_cast<int>(s);
      }
    }
    return -1;
  };
  for (CalibrationScenario& s : plan.scenarios) s.weight = 1;
  if (study.contains("objective")) {
    const Json& o = study["objective"];
    if (!o.is_object()) return "objective: must be an object";
    for (const auto& [name, v] : o.items()) {
      if (name != "figure" && name != "weights") {
        return "objective." + name + ": unknown (an objective has figure and weights)";
      }
    }
    if (o.contains("figure")) {
      if (!o["figure"].is_string()) return "objective.figure: must be a figure's name";
      plan.objective = o["figure"].get<std::string>();
    }
    if (o.contains("weights")) {
      const Json& w = o["weights"];
      if (!w.is_object()) return "objective.weights: must map scenario names to weights";
      for (const auto& [name, v] : w.items()) {
        const int s = scenarioindex(Json(name));
        if (s < 0) return "objective.weights: unknown scenario \"" + name + "\"";
        if (!v.is_number() || v.get<double>() < 0) {
          return "objective.weights." + name + ": must be a number from 0 up";
        }
        plan.scenarios[static_cast<std::size_t>(s)].weight = v.get<double>();
      }
    }
  }
  plan.constraints.clear();
  if (study.contains("constraints")) {
    const Json& list = study["constraints"];
    if (!list.is_array()) return "constraints: must be a list";
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string field = "constraints[" + std::to_string(i + 1) + "]";
      const Json& c = list[i];
      if (!c.is_object()) return field + ": must be an object";
      Constraint constraint;
      for (const auto& [name, v] : c.items()) {
        if (name != "figure" && name != "max" && name != "min" && name != "scenarios") {
          return field + "." + name + ": unknown (figure, max or min, scenarios)";
        }
      }
      if (!c.contains("figure") || !c["figure"].is_string()) {
        return field + ".figure: missing";
      }
      constraint.figure = c["figure"].get<std::string>();
      if (c.contains("max") == c.contains("min")) {
        return field + ": give either max or min";
      }
      const Json& limit = c.contains("max") ? c["max"] : c["min"];
      if (!limit.is_number()) return field + (c.contains("max") ? ".max" : ".min") + ": must be a number";
      constraint.upper = c.contains("max");
      constraint.limit = limit.get<double>();
      if (c.contains("scenarios")) {
        if (!c["scenarios"].is_array() || c["scenarios"].empty()) {
          return field + ".scenarios: must list scenario names";
        }
        for (const Json& name : c["scenarios"]) {
          const int s = scenarioindex(name);
          if (s < 0) return field + ".scenarios: unknown scenario " + name.dump();
          constraint.scenarios.push_back(s);
        }
      }
      plan.constraints.push_back(constraint);
    }
  }
  if (study.contains("budget")) {
    const Json& b = study["budget"];
    if (!b.is_object()) return "budget: must be an object";
    for (const auto& [name, v] : b.items()) {
      if (name != "trials" && name != "margin" && name != "confirm") {
        return "budget." + name + ": unknown (trials, margin, confirm)";
      }
    }
    if (b.contains("trials")) {
      if (!b["trials"].is_array() || b["trials"].empty()) {
        return "budget.trials: must list the trials per scenario after each stage";
      }
      plan.stages.clear();
      for (const Json& v : b["trials"]) {
        int n = 0;
        if (!wholenumber(v, n)) return "budget.trials: must be whole numbers";
        plan.stages.push_back(n);
      }
    }
    if (b.contains("margin")) {
      if (!b["margin"].is_number()) return "budget.margin: must be a number";
      plan.margin = b["margin"].get<double>();
    }
    if (b.contains("confirm")) {
      int n = 0;
      if (!wholenumber(b["confirm"], n) || n < 0) return "budget.confirm: must be a whole number from 0 up";
      plan.confirmtrials = n;
    }
  }
  return "";
}
