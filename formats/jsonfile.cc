// formats/jsonfile.cc: JSON files read whole, duplicate keys refused, and the
// shared fields.
#include "formats/jsonfile.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

namespace {

constexpr char kRules[] = "rules";

std::string indexed(const std::string& field, int i) {
  return field + "[" + std::to_string(i) + "]";
}

}  // namespace

std::string numbertext(double v) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

bool readwholefile(const std::string& path, std::string& text,
                   std::string& problem) {
  if (std::filesystem::is_directory(path)) {
    problem = path + ": is a directory";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    problem = path + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  std::ostringstream whole;
  whole << file.rdbuf();  // sets failbit on `whole` for an empty file only
  if (file.bad()) {
    problem = path + ": cannot be read";
    return false;
  }
  text = whole.str();
  return true;
}

bool parsejson(const std::string& text, const std::string& source, Json& j,
               std::string& problem) {
  // The library keeps the last of two equal keys; a file that gives a field
  // twice is refused instead. Keys seen, per open object:
  std::vector<std::set<std::string>> keys;
  std::string twice;
  const auto checkkeys = [&keys, &twice](int, Json::parse_event_t event,
                                         Json& parsed) {
    if (event == Json::parse_event_t::object_start) keys.emplace_back();
    if (event == Json::parse_event_t::object_end && !keys.empty()) keys.pop_back();
    if (event == Json::parse_event_t::key && !keys.empty() &&
        !keys.back().insert(parsed.get<std::string>()).second && twice.empty()) {
      twice = parsed.get<std::string>();
    }
    return true;
  };
  // The library reports a syntax error by exception; it stops here.
  try {
    j = Json::parse(text, checkkeys);
  } catch (const Json::parse_error& e) {
    const std::string what = e.what();
    const std::size_t cut = what.find("] ");
    problem = source + ": " +
              (cut == std::string::npos ? what : what.substr(cut + 2));
    return false;
  }
  if (!twice.empty()) {
    problem = source + ": " + twice + ": given more than once";
    return false;
  }
  return true;
}

bool readjsonfile(const std::string& path, Json& j, std::string& problem) {
  std::string text;
  if (!readwholefile(path, text, problem)) return false;
  return parsejson(text, path, j, problem);
}

bool wholenumber(const Json& v, int& n) {
  if (v.is_number_unsigned()) {
    const std::uint64_t u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(INT_MAX)) return false;
    n = static_cast<int>(u);
    return true;
  }
  if (v.is_number_integer()) {
    const std::int64_t i = v.get<std::int64_t>();
    if (i < INT_MIN || i > INT_MAX) return false;
    n = static_cast<int>(i);
    return true;
  }
  return false;
}

std::string wholenumberproblem(const Json& v) {
  return v.is_number_integer() ? "is out of range" : "must be a whole number";
}

std::string numberlist(const Json& v, const std::string& field, int n,
                       bool probability, double* to) {
  if (!v.is_array() || static_cast<int>(v.size()) != n) {
    return field + ": must be an array of " + std::to_string(n) +
           (n == 1 ? " number" : " numbers");
  }
  for (int i = 0; i < n; ++i) {
    const Json& x = v[static_cast<std::size_t>(i)];
    if (!x.is_number()) return indexed(field, i) + ": must be a number";
    if (probability && x.get<double>() < 0) {
      return indexed(field, i) + ": a probability below 0";
    }
    to[i] = x.get<double>();
  }
  return "";
}

std::string rulesfromjson(const Json& j, DesignRules& rules) {
  const std::string prefix = std::string(kRules) + ".";
  if (!j.is_object()) return std::string(kRules) + ": must be an object";
  const std::pair<const char*, double*> thresholds[] = {
      {"escalate", &rules.escalate},     {"deescalate", &rules.deescalate},
      {"admissible", &rules.admissible}, {"safety", &rules.safety},
      {"futility", &rules.futility}};
  for (const auto& item : j.items()) {
    bool known = item.key() == "minpatients";
    for (const auto& [field, value] : thresholds) known = known || item.key() == field;
    if (!known) return prefix + item.key() + ": unknown field";
  }
  for (const auto& [field, value] : thresholds) {
    if (!j.contains(field)) continue;
    if (!j[field].is_number()) return prefix + field + ": must be a number";
    *value = j[field].get<double>();
  }
  if (j.contains("minpatients")) {
    const Json& v = j["minpatients"];
    if (!wholenumber(v, rules.minpatients)) {
      return prefix + "minpatients: " + wholenumberproblem(v);
    }
  }
  const std::string problem = checkrules(rules);
  return problem.empty() ? "" : prefix + problem;
}

Json rulestojson(const DesignRules& rules) {
  Json j;
  j["escalate"] = rules.escalate;
  j["deescalate"] = rules.deescalate;
  j["admissible"] = rules.admissible;
  j["safety"] = rules.safety;
  j["futility"] = rules.futility;
  j["minpatients"] = rules.minpatients;
  return j;
}
