// formats/jsonfile.cc: JSON files read whole, duplicate keys refused, and the
// shared fields.
#include "formats/jsonfile.h"

#include <algorithm>
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

#include <boost/version.hpp>

#include "design/quadrature.h"
#include "formats/utf8.h"

namespace {

constexpr char kRules[] = "rules";

// Follows the parser through a JSON text: where it is, and the first key
// that an object holds twice (the library would keep the last value).
class JsonWatch {
 public:
  void see(Json::parse_event_t event, const Json& parsed) {
    using Event = Json::parse_event_t;
    if (event == Event::key) {
      const std::string key = parsed.get<std::string>();
      if (!levels_.empty()) levels_.back().key = key;
      if (!keys_.empty() && !keys_.back().insert(key).second && twice_.empty()) {
        twice_ = key;
      }
      return;
    }
    if (event == Event::object_end || event == Event::array_end) {
      if (!levels_.empty()) levels_.pop_back();
      if (event == Event::object_end && !keys_.empty()) keys_.pop_back();
      return;
    }
    // An element of an array starts (an object or array) or has been read.
    if (!levels_.empty() && levels_.back().array) ++levels_.back().count;
    if (event == Event::object_start) {
      levels_.push_back({false, "", 0});
      keys_.emplace_back();
    }
    if (event == Event::array_start) levels_.push_back({true, "", 0});
  }

  // The place of the value being read: "scentox[1][2]", positions from 1.
  std::string place() const {
    std::string text;
    for (std::size_t i = 0; i < levels_.size(); ++i) {
      const Level& level = levels_[i];
      if (level.array) {
        // The innermost array is reading the element after those counted.
        const int position = level.count + (i + 1 == levels_.size() ? 1 : 0);
        text += "[" + std::to_string(position) + "]";
      } else if (!level.key.empty()) {
        text += (text.empty() ? "" : ".") + level.key;
      }
    }
    return text.empty() ? "the value" : text;
  }

  const std::string& twice() const { return twice_; }

 private:
  struct Level {
    bool array;       // an array, else an object
    std::string key;  // an object's key being read
    int count;        // an array's elements begun
  };
  std::vector<Level> levels_;
  std::vector<std::set<std::string>> keys_;  // keys seen, per open object
  std::string twice_;
};

// The library's message without its "[json.exception...] " prefix.
std::string withoutid(const std::string& what) {
  const std::size_t cut = what.find("] ");
  return cut == std::string::npos ? what : what.substr(cut + 2);
}

}  // namespace

std::string numbertext(double v) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

std::string jsontext(const Json& j) {
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

void putpath(Json& j, const std::string& key, const std::string& path) {
  j[key] = path;
  if (!validutf8(path)) j[key + "_bytes_replaced"] = true;
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
  JsonWatch watch;
  const auto callback = [&watch](int, Json::parse_event_t event, Json& parsed) {
    watch.see(event, parsed);
    return true;
  };
  // The library reports a syntax error, and a number too large for a
  // double, by exception; it stops here.
  try {
    j = Json::parse(text, callback);
  } catch (const Json::out_of_range& e) {
    problem = source + ": " + watch.place() + ": " +
              (e.id == 406 ? "a number too large for a double"
                           : withoutid(e.what()));
    return false;
  } catch (const Json::exception& e) {
    problem = source + ": " + withoutid(e.what());
    return false;
  }
  // The library keeps the last of two equal keys; a file that gives a field
  // twice is refused instead.
  if (!watch.twice().empty()) {
    problem = source + ": " + watch.twice() + ": given more than once";
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
                       bool probability, double* to,
                       const std::function<std::string(int)>& element) {
  const auto name = [&field, &element](int i) {
    return element ? element(i) : field + "[" + std::to_string(i + 1) + "]";
  };
  if (!v.is_array() || static_cast<int>(v.size()) != n) {
    return field + ": must be an array of " + std::to_string(n) +
           (n == 1 ? " number" : " numbers");
  }
  for (int i = 0; i < n; ++i) {
    const Json& x = v[static_cast<std::size_t>(i)];
    if (!x.is_number()) return name(i) + ": must be a number";
    if (probability && x.get<double>() < 0) {
      return name(i) + ": a probability below 0";
    }
    to[i] = x.get<double>();
  }
  return "";
}

std::string rulesfromjson(const Json& j, DesignRules& rules, int ndose1,
                          int ndose2) {
  const std::string prefix = std::string(kRules) + ".";
  if (!j.is_object()) return std::string(kRules) + ": must be an object";
  const std::pair<const char*, double*> thresholds[] = {
      {"escalate", &rules.escalate},     {"deescalate", &rules.deescalate},
      {"admissible", &rules.admissible}, {"safety", &rules.safety},
      {"futility", &rules.futility}};
  const std::pair<const char*, int*> counts[] = {
      {"minpatients_stop", &rules.minpatients_stop},
      {"minpatients_close", &rules.minpatients_close}};
  for (const auto& item : j.items()) {
    bool known = item.key() == "minpatients" || item.key() == "phase2" ||
                 item.key() == "start";
    for (const auto& [field, value] : thresholds) known = known || item.key() == field;
    for (const auto& [field, value] : counts) known = known || item.key() == field;
    if (!known) return prefix + item.key() + ": unknown field";
  }
  for (const auto& [field, value] : thresholds) {
    if (!j.contains(field)) continue;
    if (!j[field].is_number()) return prefix + field + ": must be a number";
    *value = j[field].get<double>();
  }
  // minpatients sets both counts; a count of its own overrides it.
  if (j.contains("minpatients")) {
    const Json& v = j["minpatients"];
    int n = 0;
    if (!wholenumber(v, n)) return prefix + "minpatients: " + wholenumberproblem(v);
    if (n < 0) return prefix + "minpatients: must not be negative";
    rules.minpatients_stop = n;
    rules.minpatients_close = n;
  }
  for (const auto& [field, value] : counts) {
    if (!j.contains(field)) continue;
    const Json& v = j[field];
    if (!wholenumber(v, *value)) return prefix + field + ": " + wholenumberproblem(v);
  }
  if (j.contains("phase2")) {
    const Json& v = j["phase2"];
    if (!v.is_string() || !phase2scopefromname(v.get<std::string>(), rules.phase2)) {
      return prefix + "phase2: must be \"admissible\", \"treated\" or \"adjacent\"";
    }
  }
  if (j.contains("start")) {
    const Json& v = j["start"];
    int level[2] = {0, 0};
    const bool two = v.is_array() && v.size() == 2 && wholenumber(v[0], level[0]) &&
                     wholenumber(v[1], level[1]);
    if (!two || level[0] < 1 || level[1] < 1) {
      return prefix +
             "start: must be two whole numbers from 1, [drug-1 level, drug-2 level]";
    }
    rules.start1 = level[0] - 1;
    rules.start2 = level[1] - 1;
  }
  const std::string problem = checkrules(rules, ndose1, ndose2);
  return problem.empty() ? "" : prefix + problem;
}

Json rulestojson(const DesignRules& rules) {
  Json j;
  j["escalate"] = rules.escalate;
  j["deescalate"] = rules.deescalate;
  j["admissible"] = rules.admissible;
  j["safety"] = rules.safety;
  j["futility"] = rules.futility;
  j["minpatients"] = rules.minpatients_close;
  // The options, each only when it is not at its default.
  if (rules.minpatients_stop != rules.minpatients_close) {
    j["minpatients_stop"] = rules.minpatients_stop;
  }
  if (rules.phase2 != Phase2Scope::kAdmissible) {
    j["phase2"] = phase2scopename(rules.phase2);
  }
  if (rules.start1 != 0 || rules.start2 != 0) {
    j["start"] = {rules.start1 + 1, rules.start2 + 1};
  }
  return j;
}

bool PosteriorChoice::operator==(const PosteriorChoice& other) const {
  if (method != other.method) return false;
  if (method == PosteriorMethod::kGibbs) return true;
  const QuadratureSettings& a = quadrature;
  const QuadratureSettings& b = other.quadrature;
  return std::equal(a.toxnodes, a.toxnodes + 3, b.toxnodes) &&
         std::equal(a.effnodes, a.effnodes + 2, b.effnodes) &&
         a.ndraws == b.ndraws;
}

namespace {

constexpr char kPosterior[] = "posterior";

bool posteriorfromname(const Json& v, PosteriorMethod& method) {
  if (!v.is_string()) return false;
  for (PosteriorMethod m : {PosteriorMethod::kGibbs, PosteriorMethod::kQuadrature}) {
    if (v.get<std::string>() == posteriorname(m)) {
      method = m;
      return true;
    }
  }
  return false;
}

// Reads `n` node counts into `to`; "" or the problem.
std::string nodecounts(const Json& v, const std::string& field, int n, int* to) {
  const std::string shape =
      field + ": must be an array of " + std::to_string(n) + " whole numbers";
  if (!v.is_array() || static_cast<int>(v.size()) != n) return shape;
  for (int i = 0; i < n; ++i) {
    const Json& x = v[static_cast<std::size_t>(i)];
    if (!wholenumber(x, to[i])) {
      return field + "[" + std::to_string(i + 1) + "]: " + wholenumberproblem(x);
    }
    if (to[i] < kMinNodes || to[i] > kMaxNodes) {
      return field + "[" + std::to_string(i + 1) + "]: must be from " +
             std::to_string(kMinNodes) + " to " + std::to_string(kMaxNodes);
    }
  }
  return "";
}

}  // namespace

std::string posteriorfromjson(const Json& v, PosteriorChoice& choice) {
  const std::string prefix = std::string(kPosterior) + ".";
  const std::string names = "must be \"gibbs\" or \"quadrature\"";
  PosteriorChoice read;
  if (!v.is_object()) {
    if (!posteriorfromname(v, read.method)) {
      return std::string(kPosterior) + ": " + names +
             ", or an object with \"method\"";
    }
    choice = read;
    return "";
  }
  for (const auto& item : v.items()) {
    const std::string& key = item.key();
    if (key != "method" && key != "nodes" && key != "draws") {
      return prefix + key + ": unknown field";
    }
  }
  if (!v.contains("method")) return prefix + "method: missing";
  if (!posteriorfromname(v["method"], read.method)) return prefix + "method: " + names;
  for (const char* field : {"nodes", "draws"}) {
    if (v.contains(field) && read.method != PosteriorMethod::kQuadrature) {
      return prefix + field + ": taken only by the quadrature method";
    }
  }
  QuadratureSettings& q = read.quadrature;
  if (v.contains("nodes")) {
    const Json& nodes = v["nodes"];
    const std::string field = prefix + "nodes";
    if (!nodes.is_object()) return field + ": must be an object";
    for (const auto& item : nodes.items()) {
      if (item.key() != "toxicity" && item.key() != "response") {
        return field + "." + item.key() + ": unknown field";
      }
    }
    std::string problem;
    if (nodes.contains("toxicity")) {
      problem = nodecounts(nodes["toxicity"], field + ".toxicity", 3, q.toxnodes);
    }
    if (problem.empty() && nodes.contains("response")) {
      problem = nodecounts(nodes["response"], field + ".response", 2, q.effnodes);
    }
    if (!problem.empty()) return problem;
    if (q.toxnodes[0] * q.toxnodes[1] * q.toxnodes[2] > kMaxToxNodes) {
      return field + ".toxicity: at most " + std::to_string(kMaxToxNodes) +
             " nodes in all";
    }
  }
  if (v.contains("draws")) {
    const Json& d = v["draws"];
    if (!wholenumber(d, q.ndraws)) return prefix + "draws: " + wholenumberproblem(d);
    if (q.ndraws < kMinQuadDraws || q.ndraws > kMaxQuadDraws) {
      return prefix + "draws: must be from " + std::to_string(kMinQuadDraws) +
             " to " + std::to_string(kMaxQuadDraws);
    }
  }
  // Whatever the fields above missed (none today).
  if (read.method == PosteriorMethod::kQuadrature) {
    const std::string problem = checkquadrature(q);
    if (!problem.empty()) return prefix + problem;
  }
  choice = read;
  return "";
}

Json posteriortojson(const PosteriorChoice& choice) {
  if (choice.method != PosteriorMethod::kQuadrature) return posteriorname(choice.method);
  const QuadratureSettings& q = choice.quadrature;
  Json j;
  j["method"] = posteriorname(choice.method);
  j["nodes"]["toxicity"] = {q.toxnodes[0], q.toxnodes[1], q.toxnodes[2]};
  j["nodes"]["response"] = {q.effnodes[0], q.effnodes[1]};
  j["draws"] = q.ndraws;
  return j;
}

PosteriorChoice posteriorof(const Design& design) {
  return {design.method, design.quadrature};
}

void setposterior(Design& design, const PosteriorChoice& choice) {
  design.method = choice.method;
  design.quadrature = choice.quadrature;
}

std::string boostversion() {
  return std::to_string(BOOST_VERSION / 100000) + "." +
         std::to_string(BOOST_VERSION / 100 % 1000) + "." +
         std::to_string(BOOST_VERSION % 100);
}
