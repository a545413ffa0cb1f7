// engine/oc.h: the design's operating characteristics for one scenario, as
// design papers and protocols report them, each with its Monte Carlo
// standard error, computed from the sums over the trials and the scenario's
// truth.
//
// Each combination is compared with the truth: safe when its true toxicity
// is at most targettox (overly toxic otherwise), acceptable when safe with a
// true response of at least mineff, a target when acceptable with the
// highest true response among the acceptable ones (ties: each of them). When
// no combination is acceptable, the right decision is to select none.
//
// Standard errors: 100 * sqrt(p (1 - p) / n) for a percentage p of n trials;
// SD / sqrt(n) for a mean, the SD with n - 1 computed from the integer sums;
// for the ratio R = sum X / sum Y of overly toxic patients X to patients Y
// (and of untried phase II patients to phase II patients),
// the delta method: 100 * sqrt((sum X^2 - 2 R sum XY + R^2 sum Y^2) /
// (n (n - 1))) / mean Y. A figure that needs two trials or more is NaN with
// one trial.
#ifndef COMBOSIM_ENGINE_OC_H_
#define COMBOSIM_ENGINE_OC_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/outcome.h"
#include "records/trialstate.h"

// Each combination compared with the truth, [drug-1 index][drug-2 index].
struct TruthClasses {
  bool overtoxic[kMaxDose][kMaxDose] = {};   // true toxicity > targettox
  bool acceptable[kMaxDose][kMaxDose] = {};  // safe, true response >= mineff
  bool target[kMaxDose][kMaxDose] = {};      // acceptable, highest response
  bool anyacceptable = false;                // some combination is acceptable
};

// Classifies the s.ndose1 by s.ndose2 combinations of `input`.
TruthClasses classifytruth(const SimulationSettings& s,
                           const ScenarioInput& input);

// A figure and its Monte Carlo standard error.
struct Estimate {
  double value = 0;
  double mcse = 0;
};

// Percentages are of trials, but overtoxic_patients, of all patients.
struct OperatingCharacteristics {
  std::int64_t ntrial = 0;
  Estimate correct;          // selecting a target, or none when none is
                             // acceptable
  Estimate acceptable;       // selecting an acceptable combination
  Estimate overtoxic;        // selecting an overly toxic combination
  Estimate inconclusive;     // selecting none, for the four reasons below
  Estimate phase1_stopped;
  Estimate none_admissible;
  Estimate all_closed;
  Estimate no_positive_mean;
  Estimate patients_mean;    // patients per trial
  double patients_sd = 0;
  std::int64_t patients_min = 0;
  std::int64_t patients_max = 0;
  Estimate overtoxic_patients;  // patients treated at overly toxic
                                // combinations, % of all patients
  Estimate toxicities_mean;  // per trial
  Estimate responses_mean;   // per trial
  Estimate untried_patients;  // phase II patients treated at combinations
                              // without a phase I patient in their trial, %
                              // of all phase II patients; NaN when no trial
                              // had a phase II patient
};

// The operating characteristics of `outcomes.ntrial` trials of the scenario
// (s, input) whose per-combination sums are `acc`.
// REQUIRES: outcomes.ntrial >= 1; acc and outcomes count the same trials.
OperatingCharacteristics operatingcharacteristics(const SimulationSettings& s,
                                                  const ScenarioInput& input,
                                                  const Accumulators& acc,
                                                  const OutcomeSums& outcomes);

// The three kinds of figure, from integer sums over n trials, as the
// standard errors above describe them: a percentage of trials, a mean per
// trial, and the ratio sum X / sum Y as a percentage.
Estimate percentestimate(std::int64_t count, std::int64_t n);
Estimate meanestimate(std::int64_t sum, std::int64_t sum2, std::int64_t n);
Estimate ratioestimate(std::int64_t sumx, std::int64_t sumx2, std::int64_t sumxy,
               std::int64_t sumy, std::int64_t sumy2, std::int64_t n);

// One figure by the name that NAME.json, oc.csv and the R package give it.
struct OcFigure {
  std::string name;      // e.g. "correct", "correct_mcse", "patients_min"
  double value = 0;      // NaN where it needs two trials and there is one
  bool integer = false;  // a count (patients_min, patients_max)
};

// Every figure of `oc` in the files' order: correct, correct_mcse,
// acceptable, acceptable_mcse, overtoxic, ..., no_positive_mean_mcse,
// patients_mean, patients_mean_mcse, patients_sd, patients_min,
// patients_max, overtoxic_patients, overtoxic_patients_mcse,
// toxicities_mean, toxicities_mean_mcse, responses_mean, responses_mean_mcse,
// untried_patients, untried_patients_mcse.
std::vector<OcFigure> ocfigures(const OperatingCharacteristics& oc);

#endif  // COMBOSIM_ENGINE_OC_H_
