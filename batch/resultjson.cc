// batch/resultjson.cc: a result as NAME.json, and read back with the checks
// that its sums can come from its trials.
#include "batch/resultjson.h"

#include <climits>

#include "engine/oc.h"
#include "formats/utf8.h"

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace {

using Table = std::int64_t[kMaxDose][kMaxDose];

Json tablejson(const BatchResult& r, const Table& sums) {
  Json rows = Json::array();
  for (int d1 = 0; d1 < r.scenario.settings.ndose1; ++d1) {
    Json row = Json::array();
    for (int d2 = 0; d2 < r.scenario.settings.ndose2; ++d2) row.push_back(sums[d1][d2]);
    rows.push_back(row);
  }
  return rows;
}

Json averagejson(const BatchResult& r, const Table& sums, double scale) {
  Json rows = Json::array();
  for (int d1 = 0; d1 < r.scenario.settings.ndose1; ++d1) {
    Json row = Json::array();
    for (int d2 = 0; d2 < r.scenario.settings.ndose2; ++d2) {
      row.push_back(pertrial(sums[d1][d2], r.ntrial, scale));
    }
    rows.push_back(row);
  }
  return rows;
}

// Reads an ndose1 by ndose2 array of counts from 0 up into `sums`.
bool tablefromjson(const Json& j, const BatchResult& r, Table& sums) {
  if (!j.is_array() || static_cast<int>(j.size()) != r.scenario.settings.ndose1) {
    return false;
  }
  for (int d1 = 0; d1 < r.scenario.settings.ndose1; ++d1) {
    const Json& row = j[static_cast<std::size_t>(d1)];
    if (!row.is_array() || static_cast<int>(row.size()) != r.scenario.settings.ndose2) {
      return false;
    }
    for (int d2 = 0; d2 < r.scenario.settings.ndose2; ++d2) {
      const Json& v = row[static_cast<std::size_t>(d2)];
      if (!v.is_number_integer() ||
          (!v.is_number_unsigned() && v.get<std::int64_t>() < 0) ||
          (v.is_number_unsigned() &&
           v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))) {
        return false;
      }
      sums[d1][d2] = v.get<std::int64_t>();
    }
  }
  return true;
}

Json outcomestojson(const OutcomeSums& o) {
  Json j;
  for (const OutcomeSumName& f : kOutcomeSumNames) j[f.name] = o.*f.sum;
  for (int k = 0; k < kNumTrialEnds; ++k) {
    j["reasons"][trialendname(static_cast<TrialEnd>(k))] = o.reasons[k];
  }
  return j;
}

bool count(const Json& j, const char* name, std::int64_t& to) {
  if (!j.contains(name) || !j[name].is_number_integer()) return false;
  if (!j[name].is_number_unsigned() && j[name].get<std::int64_t>() < 0) return false;
  if (j[name].is_number_unsigned() &&
      j[name].get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
    return false;
  }
  to = j[name].get<std::int64_t>();
  return true;
}

// Reads the outcome sums; returns "" or the sum at fault and the problem.
std::string outcomesfromjson(const Json& j, OutcomeSums& o) {
  if (!j.is_object()) return "must be an object";
  const auto read = [](const Json& in, const std::string& name, std::int64_t& to) {
    if (!in.contains(name)) return name + ": missing";
    if (!count(in, name.c_str(), to)) return name + ": must be a count from 0 up";
    return std::string();
  };
  for (const OutcomeSumName& f : kOutcomeSumNames) {
    const std::string problem = read(j, f.name, o.*f.sum);
    if (!problem.empty()) return problem;
  }
  if (!j.contains("reasons") || !j["reasons"].is_object()) {
    return "reasons: must be an object";
  }
  for (int k = 0; k < kNumTrialEnds; ++k) {
    const std::string problem = read(
        j["reasons"], trialendname(static_cast<TrialEnd>(k)), o.reasons[k]);
    if (!problem.empty()) return "reasons: " + problem;
  }
  return "";
}

// The sums over a result's cells.
struct CellTotals {
  std::int64_t patients = 0;
  std::int64_t toxicities = 0;
  std::int64_t responses = 0;
  std::int64_t selected = 0;
};

// The patients one trial of the scenario treats at most: every cohort of
// both phases.
std::int64_t mostpatients(const SimulationSettings& s) {
  return static_cast<std::int64_t>(s.ncohort1) * s.cohortsize1 +
         static_cast<std::int64_t>(s.ncohort2) * s.cohortsize2;
}

// Checks that the cells' sums can come from r.ntrial trials: no cell with
// more toxicities or responses than patients, or more selections than
// trials, and no more patients than the trials can treat. Returns "" with
// the totals in `totals`, or the field at fault and the problem.
std::string cellproblem(const BatchResult& r, CellTotals& totals) {
  const std::int64_t most = r.ntrial * mostpatients(r.scenario.settings);
  const std::string trials = std::to_string(r.ntrial) +
                             (r.ntrial == 1 ? " trial" : " trials");
  for (int d1 = 0; d1 < r.scenario.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < r.scenario.settings.ndose2; ++d2) {
      const std::int64_t patients = r.acc.sumpat[d1][d2];
      const std::pair<const char*, std::int64_t> amongpatients[] = {
          {"toxicities", r.acc.sumtox[d1][d2]},
          {"responses", r.acc.sumresp[d1][d2]}};
      for (const auto& [field, count] : amongpatients) {
        if (count > patients) {
          return cellname(field, d1, d2) + ": " + std::to_string(count) +
                 " " + field + " among " + std::to_string(patients) +
                 " patients";
        }
      }
      if (r.acc.nselect[d1][d2] > r.ntrial) {
        return cellname("selections", d1, d2) + ": " +
               std::to_string(r.acc.nselect[d1][d2]) + " selections in " +
               trials;
      }
      if (patients > most) {
        return cellname("patients", d1, d2) + ": more than " + trials +
               " of at most " + std::to_string(mostpatients(r.scenario.settings)) +
               " patients can treat";
      }
      // Every cell is now at most `most` (below 2^52), so the totals of
      // 100 cells cannot overflow.
      totals.patients += patients;
      totals.toxicities += r.acc.sumtox[d1][d2];
      totals.responses += r.acc.sumresp[d1][d2];
      totals.selected += r.acc.nselect[d1][d2];
    }
  }
  if (totals.patients > most) {
    return "patients: more than " + trials + " of at most " +
           std::to_string(mostpatients(r.scenario.settings)) + " patients can treat";
  }
  if (totals.selected > r.ntrial) return "selections: more selections than trials";
  return "";
}

// True when the outcomes count `ntrial` trials, the selections, patients,
// toxicities and responses of the cells, and their patients' minimum is not
// above their maximum.
bool outcomesagree(const OutcomeSums& o, std::int64_t ntrial,
                   const CellTotals& totals) {
  std::int64_t reasons = 0;
  for (int k = 0; k < kNumTrialEnds; ++k) {
    if (__builtin_add_overflow(reasons, o.reasons[k], &reasons)) return false;
  }
  return o.ntrial == ntrial && reasons == ntrial &&
         o.reasons[static_cast<int>(TrialEnd::kSelected)] == totals.selected &&
         o.patients == totals.patients && o.toxicities == totals.toxicities &&
         o.responses == totals.responses && o.overtoxic <= o.patients &&
         o.untried <= o.phase2patients && o.phase2patients <= o.patients &&
         o.minpatients <= o.maxpatients;
}

// Checks the sums of squares and the cross product against the sums, the
// number of trials n and the extremes of a trial's patients, which bound
// every count of a trial (one of patients, toxicities, responses, overtoxic,
// untried, phase2patients: x, with 0 <= x <= maxpatients):
//   n * sum(x^2) >= sum(x)^2 and sum(x^2) <= max * sum(x) for each count,
//   max + (n - 1) * min <= sum(p) <= min + (n - 1) * max, one trial having
//   the fewest patients p and one the most, min * sum(p) <= sum(p^2),
//   sum(p * overtoxic)^2 <= sum(p^2) * sum(overtoxic^2), and the same for
//   untried phase II patients and phase II patients.
// Products in 128 bits: no sum exceeds 2^63. Returns "" or the field at
// fault and the problem. REQUIRES: o.ntrial >= 1.
std::string momentproblem(const OutcomeSums& o) {
  using Wide = __int128;
  const Wide n = o.ntrial;
  const Wide min = o.minpatients;
  const Wide max = o.maxpatients;
  struct Count {
    const char* name;
    const char* squares;
    std::int64_t sum;
    std::int64_t sum2;
  } const counts[] = {
      {"patients", "patients2", o.patients, o.patients2},
      {"toxicities", "toxicities2", o.toxicities, o.toxicities2},
      {"responses", "responses2", o.responses, o.responses2},
      {"overtoxic", "overtoxic2", o.overtoxic, o.overtoxic2},
      {"untried", "untried2", o.untried, o.untried2},
      {"phase2patients", "phase2patients2", o.phase2patients, o.phase2patients2}};
  const Wide p = o.patients;
  if (p < max + (n - 1) * min) {
    return "maxpatients: more than patients - (trials - 1) × minpatients";
  }
  if (p > min + (n - 1) * max) {
    return "minpatients: less than patients - (trials - 1) × maxpatients";
  }
  if (min * p > o.patients2) return "patients2: below minpatients × patients";
  for (const Count& c : counts) {
    const Wide x = c.sum;
    const Wide x2 = c.sum2;
    if (n * x2 < x * x) {
      return std::string(c.squares) + ": below " + c.name + "^2 / trials";
    }
    if (x2 > max * x) {
      return std::string(c.squares) + ": above maxpatients × " + c.name;
    }
  }
  const Wide xy = o.patientsovertoxic;
  if (xy * xy > Wide{o.patients2} * o.overtoxic2) {
    return "patientsxovertoxic: its square above patients2 × overtoxic2";
  }
  const Wide uv = o.untriedphase2;
  if (uv * uv > Wide{o.untried2} * o.phase2patients2) {
    return "untriedxphase2patients: its square above untried2 × "
           "phase2patients2";
  }
  return "";
}

// The operating characteristics of `r`, by name; null for a figure that
// needs two trials when there is one.
Json ocjson(const BatchResult& r) {
  Json j = Json::object();
  for (const OcFigure& f : ocfigures(resultoc(r))) {
    if (f.integer) {
      j[f.name] = static_cast<std::int64_t>(f.value);
    } else {
      j[f.name] = std::isnan(f.value) ? Json(nullptr) : Json(f.value);
    }
  }
  return j;
}

// Reads a part's "sourcefile" and "trialsfile" into r, each null or whole.
bool partfilesfromjson(const Json& j, BatchResult& r) {
  if (!j.contains("sourcefile") || !j.contains("trialsfile")) return false;
  const Json& source = j["sourcefile"];
  r.sourcefile = FileIdentity{};
  if (!source.is_null()) {
    if (!source.is_object() || source.size() != 3 || !source.contains("path") ||
        !source["path"].is_string() || source["path"].get<std::string>().empty() ||
        !source.contains("device") || !source["device"].is_number_unsigned() ||
        !source.contains("inode") || !source["inode"].is_number_unsigned()) {
      return false;
    }
    r.sourcefile = {source["path"].get<std::string>(),
                    source["device"].get<std::uint64_t>(),
                    source["inode"].get<std::uint64_t>()};
  }
  const Json& trials = j["trialsfile"];
  r.trialssha256.clear();
  if (trials.is_null()) return true;
  if (!trials.is_object() || trials.size() != 2 ||
      trials.value("file", Json()) != outputstem(r) + ".trials.csv" ||
      !trials.contains("sha256") || !trials["sha256"].is_string()) {
    return false;
  }
  const std::string digest = trials["sha256"].get<std::string>();
  if (digest.size() != 64 ||
      digest.find_first_not_of("0123456789abcdef") != std::string::npos) {
    return false;
  }
  r.trialssha256 = digest;
  return true;
}

}  // namespace

Json resulttojson(const BatchResult& r) {
  Json j;
  j["program"] = kBatchProgram;
  j["version"] = COMBOSIM_VERSION;
  j["name"] = r.name;
  putpath(j, "source", r.source);
  if (r.sourcereplaced) j["source_bytes_replaced"] = true;
  if (!complete(r)) {
    // A path that JSON cannot hold exactly could name no file when read
    // back: such a scenario file is left to the check of foreign files.
    const bool usable =
        !r.sourcefile.path.empty() && validutf8(r.sourcefile.path);
    j["sourcefile"] = usable ? Json{{"path", r.sourcefile.path},
                                    {"device", r.sourcefile.device},
                                    {"inode", r.sourcefile.inode}}
                             : Json(nullptr);
  }
  j["position"] = r.position;
  j["scenario"] = scenariotojson(r.scenario, &r.rules, &r.posterior);
  j["random"]["generator"] = r.random.seeded ? kMersenneGenerator : kFixedGenerator;
  j["random"]["seed"] = r.random.seeded ? Json(r.random.seed) : Json(nullptr);
  if (r.random.paired) j["random"]["paired"] = true;
  j["random"]["description"] = describerandom(r);
  j["mathlib"] = r.mathlib;
  if (!r.boost.empty()) {
    j["boost"] = r.boost;
    j["coarseupdates"] = r.outcomes.coarseupdates;
  }
  j["shards"]["count"] = r.nshard;
  j["shards"]["included"] = r.shards;
  j["trials"] = r.ntrial;
  if (!complete(r)) {
    j["trialsfile"] = r.trialssha256.empty()
                          ? Json(nullptr)
                          : Json{{"file", outputstem(r) + ".trials.csv"},
                                 {"sha256", r.trialssha256}};
  }
  j["sums"]["patients"] = tablejson(r, r.acc.sumpat);
  j["sums"]["toxicities"] = tablejson(r, r.acc.sumtox);
  j["sums"]["responses"] = tablejson(r, r.acc.sumresp);
  j["sums"]["selections"] = tablejson(r, r.acc.nselect);
  j["sums"]["outcomes"] = outcomestojson(r.outcomes);
  j["averages"]["patients"] = averagejson(r, r.acc.sumpat, 1);
  j["averages"]["toxicities"] = averagejson(r, r.acc.sumtox, 1);
  j["averages"]["responses"] = averagejson(r, r.acc.sumresp, 1);
  j["selectionpercent"] = averagejson(r, r.acc.nselect, 100);
  j["inconclusivepercent"] = exactinconclusive(r);
  j["oc"] = ocjson(r);
  j["cpuseconds"] = r.cpuseconds;
  return j;
}

bool resultfromjson(const Json& j, const std::string& source, BatchResult& r,
                    std::string& problem) {
  const auto fail = [&problem, &source](const std::string& text) {
    problem = source + ": " + text;
    return false;
  };
  if (!j.is_object() || !j.contains("program") || j["program"] != kBatchProgram) {
    return fail("not a result file of combosim-batch");
  }
  if (!j.contains("version") || !j["version"].is_string()) {
    return fail("version: missing");
  }
  // Another version may simulate differently: its sums do not add to ours.
  if (j["version"] != COMBOSIM_VERSION) {
    return fail("version: written by combosim-batch " +
                j["version"].get<std::string>() + ", this is " +
                COMBOSIM_VERSION);
  }
  if (!j.contains("name") || !j["name"].is_string()) return fail("name: missing");
  r.name = j["name"].get<std::string>();
  if (r.name.empty() || r.name == "." || r.name == ".." ||
      r.name.find('/') != std::string::npos) {
    return fail("name: not usable as a file name");
  }
  r.source = j.contains("source") && j["source"].is_string()
                 ? j["source"].get<std::string>()
                 : "";
  r.sourcereplaced = j.contains("source_bytes_replaced") &&
                     j["source_bytes_replaced"] == true;
  if (!j.contains("position") || !j["position"].is_number_integer() ||
      j["position"].get<std::int64_t>() < 1 ||
      j["position"].get<std::int64_t>() > INT_MAX) {
    return fail("position: must be a whole number from 1");
  }
  r.position = j["position"].get<int>();
  if (!j.contains("scenario")) return fail("scenario: missing");
  const ScenarioRead read = readjsonscenario(j["scenario"], source + ": scenario");
  if (!read.problem.empty()) {
    problem = read.problem;
    return false;
  }
  r.scenario = read.scenario;
  r.rules = read.rules;
  r.posterior = read.posterior;
  if (!j["scenario"].contains("rules")) return fail("scenario: rules: missing");

  if (!j.contains("random") || !j["random"].is_object() ||
      !j["random"].contains("generator")) {
    return fail("random: missing");
  }
  const Json& random = j["random"];
  if (random["generator"] == kFixedGenerator) {
    r.random = Streams{};
  } else if (random["generator"] == kMersenneGenerator && random.contains("seed") &&
             random["seed"].is_number_unsigned() &&
             random["seed"].get<std::uint64_t>() <= 0xFFFFFFFFu) {
    r.random.seeded = true;
    r.random.seed = random["seed"].get<std::uint64_t>();
  } else {
    return fail("random: unknown generator or seed");
  }
  if (random.contains("paired")) {
    if (!random["paired"].is_boolean() || !r.random.seeded) {
      return fail("random: paired must be true or false, and only with a seed");
    }
    r.random.paired = random["paired"].get<bool>();
  }
  if (!j.contains("mathlib") || !j["mathlib"].is_string() ||
      (j["mathlib"] != "fma" && j["mathlib"] != "no-fma" &&
       j["mathlib"] != "unknown")) {
    return fail("mathlib: must be \"fma\", \"no-fma\" or \"unknown\"");
  }
  r.mathlib = j["mathlib"].get<std::string>();
  // The Boost version stands beside mathlib exactly when the method needs it.
  const bool gibbs = r.posterior.method == PosteriorMethod::kGibbs;
  if (j.contains("boost") == gibbs || (!gibbs && !j["boost"].is_string())) {
    return fail(gibbs ? "boost: not written under gibbs"
                      : "boost: missing (the version of Boost behind quadrature)");
  }
  r.boost = gibbs ? "" : j["boost"].get<std::string>();
  // Under quadrature, the cohorts whose update was too narrow for the nodes.
  if (j.contains("coarseupdates") == gibbs ||
      (!gibbs && (!j["coarseupdates"].is_number_unsigned() ||
                  j["coarseupdates"].get<std::uint64_t>() > 0x7FFFFFFFFFFFFFFFu))) {
    return fail(gibbs ? "coarseupdates: not written under gibbs"
                      : "coarseupdates: must be a count from 0 up");
  }
  const std::int64_t coarse =
      gibbs ? 0 : static_cast<std::int64_t>(j["coarseupdates"].get<std::uint64_t>());

  if (!j.contains("shards") || !j["shards"].is_object() ||
      !j["shards"].contains("count") || !j["shards"].contains("included") ||
      !j["shards"]["count"].is_number_integer() ||
      !j["shards"]["included"].is_array()) {
    return fail("shards: missing");
  }
  const Json& count = j["shards"]["count"];
  if (count.get<std::int64_t>() < 1 ||
      count.get<std::int64_t>() > r.scenario.settings.ntrial) {
    return fail("shards: count out of range");
  }
  r.nshard = count.get<int>();
  if (!r.random.seeded && r.nshard != 1) {
    return fail("shards: the fixed-seed generators cannot be split");
  }
  r.shards.clear();
  int expected = 0;
  for (const Json& k : j["shards"]["included"]) {
    if (!k.is_number_integer() || k.get<std::int64_t>() < 1 ||
        k.get<std::int64_t>() > r.nshard ||
        (!r.shards.empty() && k.get<int>() <= r.shards.back())) {
      return fail("shards: included must list parts from 1 to count, ascending");
    }
    r.shards.push_back(k.get<int>());
    expected += shardtrials(r.scenario.settings.ntrial, r.shards.back(), r.nshard).count;
  }
  if (r.shards.empty()) return fail("shards: included is empty");
  if (!j.contains("trials") || !j["trials"].is_number_integer() ||
      j["trials"].get<std::int64_t>() != expected) {
    return fail("trials: not the number of trials of the parts included");
  }
  r.ntrial = expected;

  if (!j.contains("sums") || !j["sums"].is_object()) return fail("sums: missing");
  const std::pair<const char*, Table*> tables[] = {
      {"patients", &r.acc.sumpat},
      {"toxicities", &r.acc.sumtox},
      {"responses", &r.acc.sumresp},
      {"selections", &r.acc.nselect}};
  for (const auto& [field, table] : tables) {
    if (!j["sums"].contains(field) || !tablefromjson(j["sums"][field], r, *table)) {
      return fail(std::string("sums: ") + field +
                  " must be an ndose1 by ndose2 array of counts");
    }
  }
  CellTotals totals;
  const std::string cells = cellproblem(r, totals);
  if (!cells.empty()) return fail("sums: " + cells);
  if (!j["sums"].contains("outcomes")) return fail("sums: outcomes: missing");
  const std::string outcomes = outcomesfromjson(j["sums"]["outcomes"], r.outcomes);
  if (!outcomes.empty()) return fail("sums: outcomes: " + outcomes);
  r.outcomes.coarseupdates = coarse;
  if (!outcomesagree(r.outcomes, r.ntrial, totals)) {
    return fail("sums: outcomes do not agree with the trials and the cells");
  }
  const std::string moments = momentproblem(r.outcomes);
  if (!moments.empty()) {
    return fail("sums: outcomes: " + moments + ", which no trials give");
  }
  if (!complete(r) && !partfilesfromjson(j, r)) {
    return fail("sourcefile, trialsfile: a part records its scenario file "
                "(path, device, inode) and its trials file (file, sha256), "
                "each or null");
  }

  if (!j.contains("cpuseconds") || !j["cpuseconds"].is_number() ||
      !(j["cpuseconds"].get<double>() >= 0)) {
    return fail("cpuseconds: must be a number from 0 up");
  }
  r.cpuseconds = j["cpuseconds"].get<double>();
  return true;
}
