// engine/simulate.cc: the run of a scenario's trials, and the checks of a
// scenario.
#include "engine/simulate.h"

#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "engine/trial.h"
#include "numerics/streams.h"

namespace {

// "" or the problem with probability `p` of a cell, the target or mineff.
std::string probabilityproblem(double p, const char* overone) {
  if (std::isnan(p)) return "must be a number";
  if (p < 0) return "a probability below 0";
  if (p > 1) return overone;
  return "";
}

std::string countproblem(const char* name, int v, int lo, int hi) {
  if (v < lo) return std::string("The ") + name + " must be at least " + std::to_string(lo);
  if (v > hi) return std::string("The ") + name + " must be at most " + std::to_string(hi);
  return "";
}

}  // namespace

std::string cellname(const std::string& field, int d1, int d2) {
  return field + "[" + std::to_string(d1 + 1) + "][" + std::to_string(d2 + 1) +
         "] (drug-1 level " + std::to_string(d1 + 1) + ", drug-2 level " +
         std::to_string(d2 + 1) + ")";
}

std::string levelname(const std::string& field, int drug, int d) {
  return field + "[" + std::to_string(d + 1) + "] (drug-" +
         std::to_string(drug) + " level " + std::to_string(d + 1) + ")";
}

Design designof(const Scenario& scenario, const DesignRules& rules) {
  Design design;
  design.settings = scenario.settings;
  for (int d = 0; d < kMaxDose; ++d) {
    design.prior1[d] = scenario.input.scenprior1[d];
    design.prior2[d] = scenario.input.scenprior2[d];
  }
  design.rules = rules;
  return design;
}

std::string checkscenario(const Scenario& scenario) {
  const SimulationSettings& s = scenario.settings;
  const ScenarioInput& in = scenario.input;
  const std::pair<const char*, int> doses[] = {{"ndose1", s.ndose1},
                                               {"ndose2", s.ndose2}};
  for (int drug = 1; drug <= 2; ++drug) {
    const auto& [field, n] = doses[drug - 1];
    const std::string name =
        "The number of dose for drug " + std::to_string(drug) + " is too ";
    if (n > kMaxDose) return std::string(field) + ": " + name + "large";
    if (n < 1) return std::string(field) + ": " + name + "small";
  }
  const struct {
    const char* field;
    const double (*m)[kMaxDose];
    const char* overone;
  } grids[] = {
      {"scentox", in.scentox, "The toxicity probability is larger than 1"},
      {"sceneff", in.sceneff, "The response probability is larger than 1"}};
  for (const auto& g : grids) {
    for (int d1 = 0; d1 < s.ndose1; ++d1) {
      for (int d2 = 0; d2 < s.ndose2; ++d2) {
        const std::string problem = probabilityproblem(g.m[d1][d2], g.overone);
        if (!problem.empty()) return cellname(g.field, d1, d2) + ": " + problem;
      }
    }
  }
  const std::pair<const char*, double> single[] = {{"targettox", s.targettox},
                                                   {"mineff", s.mineff}};
  for (const auto& [field, p] : single) {
    const std::string problem = probabilityproblem(
        p, field == single[0].first ? "The target probability is larger than 1"
                                    : "The response probability is larger than 1");
    if (!problem.empty()) return std::string(field) + ": " + problem;
  }
  // The dialogue reads these too, but they make the design meaningless: a
  // target of 0 or 1 leaves no combination too toxic or none safe, and no
  // response rate lies above a lowest acceptable rate of 1. 0 is allowed
  // for mineff: it turns futility off.
  if (s.targettox == 0 || s.targettox == 1) {
    return "targettox: The target probability must lie strictly between 0 and 1";
  }
  if (s.mineff == 1) {
    return "mineff: The lowest acceptable response rate must be below 1";
  }
  const std::pair<const char*, const double*> priors[] = {
      {"scenprior1", in.scenprior1}, {"scenprior2", in.scenprior2}};
  for (int drug = 0; drug < 2; ++drug) {
    const int n = drug == 0 ? s.ndose1 : s.ndose2;
    for (int d = 0; d < n; ++d) {
      const double p = priors[drug].second[d];
      if (!(p > 0 && p < 1)) {
        return levelname(priors[drug].first, drug + 1, d) +
               ": The prior estimate of toxicity probability must lie "
               "strictly between 0 and 1";
      }
    }
  }
  const struct {
    const char* field;
    const char* name;
    int value;
    int lo;
    int hi;
  } counts[] = {
      {"ncohort1", "total number of cohorts for the phase I dose finding",
       s.ncohort1, 1, kMaxCohortValue},
      {"cohortsize1", "cohort size for the phase I trial", s.cohortsize1, 1,
       kMaxCohortValue},
      {"ncohort2", "total number of cohorts for the phase II trial", s.ncohort2,
       0, kMaxCohortValue},
      {"cohortsize2", "cohort size for the phase II trial", s.cohortsize2, 1,
       kMaxCohortValue},
      {"ntrial", "number of simulated trials", s.ntrial, 1, INT_MAX}};
  for (const auto& c : counts) {
    const std::string problem = countproblem(c.name, c.value, c.lo, c.hi);
    if (!problem.empty()) return std::string(c.field) + ": " + problem;
  }
  return "";
}

std::string drawfailuretext(const DrawStatus& status) {
  if (status.code < 0) {
    return "sampler consistency guard " + std::to_string(-status.code) +
           " ended the run";
  }
  return std::string(status.efficacy ? "error code for drawing betaeff["
                                     : "error code for drawing betatox[") +
         std::to_string(status.param) + "]:" + std::to_string(status.code);
}

int drawfailurestatus(const DrawStatus& status) {
  return status.code < 0 ? -status.code : 1;
}

StreamState startstreams(const Streams& streams) {
  return streams.seeded ? seededstreamstate(streams.seed, streams.shard)
                        : StreamState{};
}

SimulationResult simulate(const Design& design, const ScenarioInput& truth,
                          const Streams& start, Observer* observer) {
  StreamState streams = startstreams(start);  // the run's own
  const std::unique_ptr<const Posterior> posterior = makeposterior(design);
  SimulationResult result;
  // One trial record for the whole run; it is too large for the stack.
  auto state = std::make_unique<TrialState>();
  const std::clock_t clockstart = preparetrials(design, truth, *state, result.acc);
  // The trial number counts in 64 bits: with the largest count, INT_MAX, an
  // int would overflow after the last trial instead of ending.
  for (std::int64_t t = 1; t <= design.settings.ntrial; ++t) {
    if (observer != nullptr && !observer->starttrial(t)) {
      result.cancelled = true;
      break;
    }
    TrialOutcome outcome;
    const DrawStatus status =
        start.paired
            ? runtrial(*state, design, *posterior,
                       PairedTrial{start.seed, static_cast<std::uint64_t>(
                                                   start.firsttrial + t - 1)},
                       result.acc, &outcome, observer)
            : runtrial(*state, design, *posterior, streams, result.acc,
                       &outcome, observer);
    if (!status.ok()) {
      result.failure = status;
      result.failedtrial = t;
      result.exitstatus = drawfailurestatus(status);
      result.message = drawfailuretext(status);
      break;
    }
    addoutcome(result.outcomes, outcome);
    result.ntrial = t;
    if (observer != nullptr) observer->endtrial(t, outcome);
  }
  result.cputicks = std::clock() - clockstart;
  return result;
}
