// batch/studysums.cc: a compare file's JSON, written and read back.
#include "batch/studysums.h"

#include <cstdint>
#include <limits>

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace {

// The counts' names in the file, in the order of TrialCount.
constexpr const char* kCountNames[kNumTrialCounts] = {
    "correct",        "acceptable",      "overtoxic",    "inconclusive",
    "phase1_stopped", "none_admissible", "all_closed",   "no_positive_mean",
    "patients",       "toxicities",      "responses",    "overtoxic_patients",
    "untried_patients", "phase2_patients"};

Json row(const std::int64_t* v) {
  Json j = Json::array();
  for (int i = 0; i < kNumTrialCounts; ++i) j.push_back(v[i]);
  return j;
}

Json matrix(const std::int64_t m[kNumTrialCounts][kNumTrialCounts]) {
  Json j = Json::array();
  for (int i = 0; i < kNumTrialCounts; ++i) j.push_back(row(m[i]));
  return j;
}

// A sum: a whole number from 0 to 2^63 - 1.
bool readsum(const Json& v, std::int64_t& to) {
  if (!v.is_number_integer()) return false;
  if (v.is_number_unsigned()) {
    if (v.get<std::uint64_t>() >
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return false;
    }
  } else if (v.get<std::int64_t>() < 0) {
    return false;
  }
  to = v.get<std::int64_t>();
  return true;
}

bool readrow(const Json& v, std::int64_t* to) {
  if (!v.is_array() || v.size() != kNumTrialCounts) return false;
  for (int i = 0; i < kNumTrialCounts; ++i) {
    if (!readsum(v[static_cast<std::size_t>(i)], to[i])) return false;
  }
  return true;
}

bool readmatrix(const Json& v, std::int64_t to[kNumTrialCounts][kNumTrialCounts]) {
  if (!v.is_array() || v.size() != kNumTrialCounts) return false;
  for (int i = 0; i < kNumTrialCounts; ++i) {
    if (!readrow(v[static_cast<std::size_t>(i)], to[i])) return false;
  }
  return true;
}

}  // namespace

Json studysumstojson(const StudySums& s) {
  Json j;
  j["program"] = "combosim-study";
  j["version"] = COMBOSIM_VERSION;
  j["contents"] = "paired sums";
  j["design"] = s.design;
  j["reference"] = s.reference;
  j["scenario"] = s.scenario;
  j["paired"] = s.paired;
  j["nshard"] = s.nshard;
  j["shards"] = s.shards;
  j["counts"] = Json::array();
  for (const char* name : kCountNames) j["counts"].push_back(name);
  j["ntrial"] = s.sums.ntrial;
  j["a"] = row(s.sums.a);
  j["b"] = row(s.sums.b);
  j["aa"] = matrix(s.sums.aa);
  j["bb"] = matrix(s.sums.bb);
  j["ab"] = matrix(s.sums.ab);
  return j;
}

bool studysumsfromjson(const Json& j, const std::string& source, StudySums& s,
                       std::string& problem) {
  const auto fail = [&](const std::string& field, const std::string& text) {
    problem = source + ": " + field + ": " + text;
    return false;
  };
  if (!j.is_object() || !j.contains("program") || j["program"] != "combosim-study" ||
      !j.contains("contents") || j["contents"] != "paired sums") {
    problem = source + ": not a compare file of combosim-study";
    return false;
  }
  if (!j.contains("version") || j["version"] != COMBOSIM_VERSION) {
    return fail("version", std::string("written by another version than ") +
                               COMBOSIM_VERSION);
  }
  StudySums read;
  for (const auto& [field, to] :
       {std::pair<const char*, std::string*>{"design", &read.design},
        {"reference", &read.reference},
        {"scenario", &read.scenario}}) {
    if (!j.contains(field) || !j[field].is_string()) return fail(field, "must be a name");
    *to = j[field].get<std::string>();
  }
  if (!j.contains("paired") || !j["paired"].is_boolean()) {
    return fail("paired", "must be true or false");
  }
  read.paired = j["paired"].get<bool>();
  if (!j.contains("nshard") || !wholenumber(j["nshard"], read.nshard) ||
      read.nshard < 1) {
    return fail("nshard", "must be a whole number from 1");
  }
  if (!j.contains("shards") || !j["shards"].is_array() || j["shards"].empty()) {
    return fail("shards", "must list the parts summed");
  }
  for (const Json& v : j["shards"]) {
    int k = 0;
    if (!wholenumber(v, k) || k < 1 || k > read.nshard ||
        (!read.shards.empty() && k <= read.shards.back())) {
      return fail("shards", "must be ascending parts from 1 to nshard");
    }
    read.shards.push_back(k);
  }
  Json names = Json::array();
  for (const char* name : kCountNames) names.push_back(name);
  if (!j.contains("counts") || j["counts"] != names) {
    return fail("counts", "not the counts of this version");
  }
  PairedSums& p = read.sums;
  if (!j.contains("ntrial") || !readsum(j["ntrial"], p.ntrial) || p.ntrial < 1) {
    return fail("ntrial", "must be a whole number from 1");
  }
  if (!j.contains("a") || !readrow(j["a"], p.a)) return fail("a", "must be 14 sums");
  if (!j.contains("b") || !readrow(j["b"], p.b)) return fail("b", "must be 14 sums");
  for (const auto& [field, to] :
       {std::pair<const char*, std::int64_t(*)[kNumTrialCounts]>{"aa", p.aa},
        {"bb", p.bb},
        {"ab", p.ab}}) {
    if (!j.contains(field) || !readmatrix(j[field], to)) {
      return fail(field, "must be 14 rows of 14 sums");
    }
  }
  s = read;
  return true;
}
