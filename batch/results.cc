// batch/results.cc: running a scenario's parts, its output files and the
// merge of parts.
#include "batch/results.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "engine/observer.h"
#include "engine/oc.h"
#include "engine/simulate.h"
#include "formats/csvtext.h"
#include "formats/report.h"
#include "formats/utf8.h"
#include "numerics/mathprobe.h"

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace {

constexpr char kProgram[] = "combosim-batch";
constexpr char kFixed[] = "fixed";
constexpr char kMersenne[] = "mt19937_64";

using Table = std::int64_t[kMaxDose][kMaxDose];

// A per-trial figure as the report computes it: sum / ntrial * scale.
double pertrial(std::int64_t sum, int ntrial, double scale) {
  return static_cast<double>(sum) / ntrial * scale;
}

Json tablejson(const BatchResult& r, const Table& sums) {
  Json rows = Json::array();
  for (int d1 = 0; d1 < r.settings.ndose1; ++d1) {
    Json row = Json::array();
    for (int d2 = 0; d2 < r.settings.ndose2; ++d2) row.push_back(sums[d1][d2]);
    rows.push_back(row);
  }
  return rows;
}

Json averagejson(const BatchResult& r, const Table& sums, double scale) {
  Json rows = Json::array();
  for (int d1 = 0; d1 < r.settings.ndose1; ++d1) {
    Json row = Json::array();
    for (int d2 = 0; d2 < r.settings.ndose2; ++d2) {
      row.push_back(pertrial(sums[d1][d2], r.ntrial, scale));
    }
    rows.push_back(row);
  }
  return rows;
}

// Reads an ndose1 by ndose2 array of counts from 0 up into `sums`.
bool tablefromjson(const Json& j, const BatchResult& r, Table& sums) {
  if (!j.is_array() || static_cast<int>(j.size()) != r.settings.ndose1) {
    return false;
  }
  for (int d1 = 0; d1 < r.settings.ndose1; ++d1) {
    const Json& row = j[static_cast<std::size_t>(d1)];
    if (!row.is_array() || static_cast<int>(row.size()) != r.settings.ndose2) {
      return false;
    }
    for (int d2 = 0; d2 < r.settings.ndose2; ++d2) {
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

// The outcome sums by name, in the order written.
struct OutcomeField {
  const char* name;
  std::int64_t OutcomeSums::*sum;
};
constexpr OutcomeField kOutcomeFields[] = {
    {"trials", &OutcomeSums::ntrial},
    {"patients", &OutcomeSums::patients},
    {"patients2", &OutcomeSums::patients2},
    {"toxicities", &OutcomeSums::toxicities},
    {"toxicities2", &OutcomeSums::toxicities2},
    {"responses", &OutcomeSums::responses},
    {"responses2", &OutcomeSums::responses2},
    {"overtoxic", &OutcomeSums::overtoxic},
    {"overtoxic2", &OutcomeSums::overtoxic2},
    {"patientsxovertoxic", &OutcomeSums::patientsovertoxic},
    {"minpatients", &OutcomeSums::minpatients},
    {"maxpatients", &OutcomeSums::maxpatients}};

Json outcomestojson(const OutcomeSums& o) {
  Json j;
  for (const OutcomeField& f : kOutcomeFields) j[f.name] = o.*f.sum;
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

bool outcomesfromjson(const Json& j, OutcomeSums& o) {
  if (!j.is_object() || !j.contains("reasons") || !j["reasons"].is_object()) {
    return false;
  }
  for (const OutcomeField& f : kOutcomeFields) {
    if (!count(j, f.name, o.*f.sum)) return false;
  }
  for (int k = 0; k < kNumTrialEnds; ++k) {
    if (!count(j["reasons"], trialendname(static_cast<TrialEnd>(k)), o.reasons[k])) {
      return false;
    }
  }
  return true;
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
  const std::int64_t most = r.ntrial * mostpatients(r.settings);
  const std::string trials = std::to_string(r.ntrial) +
                             (r.ntrial == 1 ? " trial" : " trials");
  for (int d1 = 0; d1 < r.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < r.settings.ndose2; ++d2) {
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
               " of at most " + std::to_string(mostpatients(r.settings)) +
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
           std::to_string(mostpatients(r.settings)) + " patients can treat";
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
         o.minpatients <= o.maxpatients;
}

// Checks the sums of squares and the cross product against the sums, the
// number of trials n and the extremes of a trial's patients, which bound
// every count of a trial (one of patients, toxicities, responses, overtoxic:
// x, with 0 <= x <= maxpatients):
//   n * sum(x^2) >= sum(x)^2 and sum(x^2) <= max * sum(x) for each count,
//   max + (n - 1) * min <= sum(p) <= min + (n - 1) * max, one trial having
//   the fewest patients p and one the most, min * sum(p) <= sum(p^2),
//   sum(p * overtoxic)^2 <= sum(p^2) * sum(overtoxic^2).
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
      {"overtoxic", "overtoxic2", o.overtoxic, o.overtoxic2}};
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

std::string shardlist(const std::vector<int>& shards) {
  std::string text;
  for (std::size_t i = 0; i < shards.size(); ++i) {
    text += (i > 0 ? ", " : "") + std::to_string(shards[i]);
  }
  return text;
}

}  // namespace

TrialRange shardtrials(int ntrial, int k, int n) {
  const int size = ntrial / n;
  const int larger = ntrial % n;  // parts 1 to `larger` get one trial more
  TrialRange range;
  range.first = (k - 1) * size + std::min(k - 1, larger);
  range.count = size + (k <= larger ? 1 : 0);
  return range;
}

double exactinconclusive(const BatchResult& r) {
  std::int64_t selected = 0;
  for (int d1 = 0; d1 < r.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < r.settings.ndose2; ++d2) {
      selected += r.acc.nselect[d1][d2];
    }
  }
  return pertrial(r.ntrial - selected, r.ntrial, 100);
}

bool complete(const BatchResult& r) {
  if (static_cast<int>(r.shards.size()) != r.nshard) return false;
  for (int k = 1; k <= r.nshard; ++k) {
    if (r.shards[static_cast<std::size_t>(k - 1)] != k) return false;
  }
  return true;
}

std::string outputstem(const BatchResult& r) {
  if (complete(r) || r.shards.size() != 1) return r.name;
  return r.name + ".shard-" + std::to_string(r.shards.front()) + "-of-" +
         std::to_string(r.nshard);
}

std::string describerandom(const BatchResult& r) {
  if (!r.random.seeded) return "combosim's fixed-seed generators";
  std::string text = "std::mt19937_64, seed " + std::to_string(r.random.seed);
  if (r.nshard == 1) return text;
  if (complete(r)) {
    return text + ", shards 1 to " + std::to_string(r.nshard) + " of " +
           std::to_string(r.nshard);
  }
  if (r.shards.size() == 1) {
    const TrialRange range =
        shardtrials(r.settings.ntrial, r.shards.front(), r.nshard);
    return text + ", shard " + std::to_string(r.shards.front()) + " of " +
           std::to_string(r.nshard) + " (trials " +
           std::to_string(range.first + 1) + " to " +
           std::to_string(range.first + range.count) + " of " +
           std::to_string(r.settings.ntrial) + ")";
  }
  return text + ", shards " + shardlist(r.shards) + " of " +
         std::to_string(r.nshard);
}

std::string describemath(const BatchResult& r) {
  const std::string name = r.mathlib;
  if (name == "fma") return name + " (pow, log and exp with fused multiply-add)";
  if (name == "no-fma") {
    return name + " (pow, log and exp without fused multiply-add)";
  }
  return name + " (pow, log and exp of an implementation this program does "
                "not know)";
}

namespace {

// Progress and outcomes of one part's trials, numbered as in the whole run.
class PartObserver : public Observer {
 public:
  PartObserver(std::int64_t before, int total, const ProgressFn& progress,
               const TrialFn& trial)
      : before_(before), total_(total), progress_(progress), trial_(trial) {}
  void endtrial(std::int64_t t, const TrialOutcome& outcome) override {
    if (trial_) trial_(before_ + t, outcome);
    ++done_;
    if (progress_) progress_(done_, total_);
  }
  void setpart(std::int64_t before) { before_ = before; }

 private:
  std::int64_t before_;
  int total_;
  int done_ = 0;
  const ProgressFn& progress_;
  const TrialFn& trial_;
};

}  // namespace

std::string simulate(BatchResult& r, const ProgressFn& progress,
                     const TrialFn& trial) {
  int total = 0;
  for (int k : r.shards) total += shardtrials(r.settings.ntrial, k, r.nshard).count;

  r.ntrial = 0;
  r.acc = Accumulators{};
  r.outcomes = OutcomeSums{};
  r.mathlib = mathimplementation();
  std::clock_t ticks = 0;
  PartObserver observer(0, total, progress, trial);
  const Design design = designof(Scenario{r.settings, r.input}, r.rules);
  for (int k : r.shards) {
    // Each part from the start of its own streams.
    const TrialRange range = shardtrials(r.settings.ntrial, k, r.nshard);
    Design part = design;
    part.settings.ntrial = range.count;
    Streams streams;
    streams.seeded = r.random.seeded;
    streams.seed = r.random.seed;
    streams.shard = static_cast<std::uint64_t>(k);
    observer.setpart(range.first);
    const SimulationResult result = simulate(part, r.input, streams, &observer);
    if (!result.failure.ok()) {
      return "trial " + std::to_string(range.first + result.failedtrial) + ": " +
             result.message;
    }
    for (int d1 = 0; d1 < kMaxDose; ++d1) {
      for (int d2 = 0; d2 < kMaxDose; ++d2) {
        r.acc.sumpat[d1][d2] += result.acc.sumpat[d1][d2];
        r.acc.sumtox[d1][d2] += result.acc.sumtox[d1][d2];
        r.acc.sumresp[d1][d2] += result.acc.sumresp[d1][d2];
        r.acc.nselect[d1][d2] += result.acc.nselect[d1][d2];
      }
    }
    addoutcomesums(r.outcomes, result.outcomes);
    r.ntrial += static_cast<int>(result.ntrial);
    ticks += result.cputicks;
  }
  r.cpuseconds = static_cast<double>(ticks) / CLOCKS_PER_SEC;
  return "";
}

void writetrialsheader(std::ostream& os) {
  os << "trial,selected,reason,patients,toxicities,responses,overtoxic\n";
}

void writetrialrow(std::ostream& os, std::int64_t trial,
                   const TrialOutcome& outcome) {
  os << trial << ',';
  if (outcome.sel1 >= 0) {
    os << csvfield(std::to_string(outcome.sel1 + 1) + ',' +
                   std::to_string(outcome.sel2 + 1));
  }
  os << ',' << csvfield(trialendname(outcome.reason)) << ',' << outcome.patients << ','
     << outcome.toxicities << ',' << outcome.responses << ','
     << outcome.overtoxic << '\n';
}

void writereporttext(std::ostream& os, const BatchResult& r) {
  ReportData data;
  const std::time_t now = std::time(nullptr);
  data.calendar = std::ctime(&now);
  data.cpuhours = r.cpuseconds / 60.0 / 60.0;
  data.design = designof(Scenario{r.settings, r.input}, r.rules);
  data.design.settings.ntrial = r.ntrial;  // the trials run
  data.inconclusive = inconclusivepercent(r.acc, data.design);
  writereportcopy(os, r.input, r.acc, data, kFileTrialLabel);
  os << std::endl << "Random numbers: " << describerandom(r) << std::endl;
  os << "Math functions: " << describemath(r) << std::endl;
}

bool isbatchoutput(const std::string& name, const std::string& text) {
  const auto endswith = [&name](const std::string& tail) {
    return name.size() >= tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endswith(".trials.csv")) {
    std::ostringstream header;
    writetrialsheader(header);
    return text.compare(0, header.str().size(), header.str()) == 0;
  }
  if (endswith(".json")) {
    const Json j = Json::parse(text, nullptr, false);
    return j.is_object() && j.value("program", Json()) == kProgram &&
           j.contains("sums");
  }
  // The closing lines of writereporttext().
  const std::size_t random = text.rfind("\nRandom numbers: ");
  const std::size_t math = text.rfind("\nMath functions: ");
  return random != std::string::npos && math != std::string::npos &&
         random < math && text.find('\n', math + 1) == text.size() - 1;
}

Json resulttojson(const BatchResult& r) {
  Json j;
  j["program"] = kProgram;
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
  j["scenario"] = scenariotojson(r.settings, r.input, &r.rules);
  j["random"]["generator"] = r.random.seeded ? kMersenne : kFixed;
  j["random"]["seed"] = r.random.seeded ? Json(r.random.seed) : Json(nullptr);
  j["random"]["description"] = describerandom(r);
  j["mathlib"] = r.mathlib;
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
  if (!j.is_object() || !j.contains("program") || j["program"] != kProgram) {
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
  r.settings = read.settings;
  r.input = read.input;
  r.rules = read.rules;
  if (!j["scenario"].contains("rules")) return fail("scenario: rules: missing");

  if (!j.contains("random") || !j["random"].is_object() ||
      !j["random"].contains("generator")) {
    return fail("random: missing");
  }
  const Json& random = j["random"];
  if (random["generator"] == kFixed) {
    r.random = RandomSource{};
  } else if (random["generator"] == kMersenne && random.contains("seed") &&
             random["seed"].is_number_unsigned() &&
             random["seed"].get<std::uint64_t>() <= 0xFFFFFFFFu) {
    r.random.seeded = true;
    r.random.seed = random["seed"].get<std::uint64_t>();
  } else {
    return fail("random: unknown generator or seed");
  }
  if (!j.contains("mathlib") || !j["mathlib"].is_string() ||
      (j["mathlib"] != "fma" && j["mathlib"] != "no-fma" &&
       j["mathlib"] != "unknown")) {
    return fail("mathlib: must be \"fma\", \"no-fma\" or \"unknown\"");
  }
  r.mathlib = j["mathlib"].get<std::string>();

  if (!j.contains("shards") || !j["shards"].is_object() ||
      !j["shards"].contains("count") || !j["shards"].contains("included") ||
      !j["shards"]["count"].is_number_integer() ||
      !j["shards"]["included"].is_array()) {
    return fail("shards: missing");
  }
  const Json& count = j["shards"]["count"];
  if (count.get<std::int64_t>() < 1 ||
      count.get<std::int64_t>() > r.settings.ntrial) {
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
    expected += shardtrials(r.settings.ntrial, r.shards.back(), r.nshard).count;
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
  if (!j["sums"].contains("outcomes") ||
      !outcomesfromjson(j["sums"]["outcomes"], r.outcomes)) {
    return fail("sums: outcomes must hold a count from 0 up for every sum");
  }
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

void writesummaryheader(std::ostream& os) {
  os << "scenario,drug1,drug2,truetox,trueresp,meanpatients,meantoxicities,"
        "meanresponses,selectionpercent,inconclusivepercent,trials,generator,"
        "seed,shard,nshard,targettox,mineff,escalate,deescalate,admissible,"
        "safety,futility,minpatients\n";
}

void writesummaryrows(std::ostream& os, const BatchResult& r) {
  const double inconclusive = exactinconclusive(r);
  const std::string generator = r.random.seeded ? kMersenne : kFixed;
  const std::string seed = r.random.seeded ? std::to_string(r.random.seed) : "";
  const std::string shard =
      complete(r) ? "" : std::to_string(r.shards.front());
  for (int d1 = 0; d1 < r.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < r.settings.ndose2; ++d2) {
      os << csvfield(r.name) << ',' << d1 + 1 << ',' << d2 + 1 << ','
         << numbertext(r.input.scentox[d1][d2]) << ','
         << numbertext(r.input.sceneff[d1][d2]) << ','
         << numbertext(pertrial(r.acc.sumpat[d1][d2], r.ntrial, 1)) << ','
         << numbertext(pertrial(r.acc.sumtox[d1][d2], r.ntrial, 1)) << ','
         << numbertext(pertrial(r.acc.sumresp[d1][d2], r.ntrial, 1)) << ','
         << numbertext(pertrial(r.acc.nselect[d1][d2], r.ntrial, 100)) << ','
         << numbertext(inconclusive) << ',' << r.ntrial << ',' << csvfield(generator)
         << ',' << seed << ',' << shard << ',' << r.nshard << ','
         << numbertext(r.settings.targettox) << ','
         << numbertext(r.settings.mineff) << ','
         << numbertext(r.rules.escalate) << ','
         << numbertext(r.rules.deescalate) << ','
         << numbertext(r.rules.admissible) << ','
         << numbertext(r.rules.safety) << ','
         << numbertext(r.rules.futility) << ',' << r.rules.minpatients << '\n';
    }
  }
}

OperatingCharacteristics resultoc(const BatchResult& r) {
  return operatingcharacteristics(r.settings, r.input, r.acc, r.outcomes);
}

void writeocheader(std::ostream& os) {
  os << "scenario";
  for (const OcFigure& f : ocfigures(OperatingCharacteristics{})) os << ',' << f.name;
  os << ",trials,generator,seed,nshard,mathlib,targettox,mineff,escalate,"
        "deescalate,admissible,safety,futility,minpatients\n";
}

void writeocrow(std::ostream& os, const BatchResult& r) {
  os << csvfield(r.name);
  for (const OcFigure& f : ocfigures(resultoc(r))) {
    os << ',';
    if (f.integer) {
      os << static_cast<std::int64_t>(f.value);
    } else if (!std::isnan(f.value)) {
      os << numbertext(f.value);
    }
  }
  os << ',' << r.ntrial << ',' << csvfield(r.random.seeded ? kMersenne : kFixed) << ','
     << (r.random.seeded ? std::to_string(r.random.seed) : "") << ','
     << r.nshard << ',' << csvfield(r.mathlib) << ','
     << numbertext(r.settings.targettox) << ',' << numbertext(r.settings.mineff) << ',' << numbertext(r.rules.escalate)
     << ',' << numbertext(r.rules.deescalate) << ','
     << numbertext(r.rules.admissible) << ',' << numbertext(r.rules.safety)
     << ',' << numbertext(r.rules.futility) << ',' << r.rules.minpatients
     << '\n';
}

HtmlScenario htmlscenario(const BatchResult& r) {
  HtmlScenario h;
  h.name = r.name;
  h.settings = r.settings;
  h.settings.ntrial = r.ntrial;
  h.input = r.input;
  h.rules = r.rules;
  h.acc = r.acc;
  h.outcomes = r.outcomes;
  h.random = describerandom(r);
  h.version = COMBOSIM_VERSION;
  return h;
}

std::string mergeresults(const std::vector<BatchResult>& parts,
                         BatchResult& merged) {
  if (parts.empty()) return "nothing to merge";
  std::vector<const BatchResult*> ordered;
  for (const BatchResult& p : parts) ordered.push_back(&p);
  std::sort(ordered.begin(), ordered.end(),
            [](const BatchResult* a, const BatchResult* b) {
              return a->shards.front() < b->shards.front();
            });
  const BatchResult& first = *ordered.front();
  const Json scenario = scenariotojson(first.settings, first.input);
  std::vector<int> seen(static_cast<std::size_t>(first.nshard) + 1, 0);
  for (const BatchResult* p : ordered) {
    if (scenariotojson(p->settings, p->input) != scenario) {
      return "the parts hold different scenarios";
    }
    if (rulestojson(p->rules) != rulestojson(first.rules)) {
      return "the parts ran under different design rules";
    }
    if (p->random.seeded != first.random.seeded ||
        p->random.seed != first.random.seed) {
      return "the parts ran on different generators or seeds";
    }
    if (p->mathlib != first.mathlib) {
      return "the parts ran on different implementations of pow, log and "
             "exp (" + first.mathlib + ", " + p->mathlib + ")";
    }
    if (p->nshard != first.nshard) {
      return "the parts split the trials into different numbers of shards";
    }
    for (int k : p->shards) {
      if (seen[static_cast<std::size_t>(k)]++ > 0) {
        return "shard " + std::to_string(k) + " of " +
               std::to_string(first.nshard) + " is given more than once";
      }
    }
  }
  std::vector<int> missing;
  for (int k = 1; k <= first.nshard; ++k) {
    if (seen[static_cast<std::size_t>(k)] == 0) missing.push_back(k);
  }
  if (!missing.empty()) {
    return (missing.size() == 1 ? "shard " : "shards ") + shardlist(missing) +
           " of " + std::to_string(first.nshard) + " missing";
  }

  merged = first;
  merged.shards.clear();
  for (int k = 1; k <= first.nshard; ++k) merged.shards.push_back(k);
  merged.ntrial = 0;
  merged.acc = Accumulators{};
  merged.outcomes = OutcomeSums{};
  merged.cpuseconds = 0;
  for (const BatchResult* p : ordered) {
    if (!addoutcomesums(merged.outcomes, p->outcomes)) {
      return "the outcome sums overflow 64 bits";
    }
    merged.ntrial += p->ntrial;
    merged.cpuseconds += p->cpuseconds;
    const std::pair<const char*, Table Accumulators::*> tables[] = {
        {"patients", &Accumulators::sumpat},
        {"toxicities", &Accumulators::sumtox},
        {"responses", &Accumulators::sumresp},
        {"selections", &Accumulators::nselect}};
    for (const auto& [field, table] : tables) {
      for (int d1 = 0; d1 < kMaxDose; ++d1) {
        for (int d2 = 0; d2 < kMaxDose; ++d2) {
          std::int64_t& sum = (merged.acc.*table)[d1][d2];
          if (__builtin_add_overflow(sum, (p->acc.*table)[d1][d2], &sum)) {
            return std::string("the sums of ") + cellname(field, d1, d2) +
                   " overflow 64 bits";
          }
        }
      }
    }
  }
  return "";
}
