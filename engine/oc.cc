// engine/oc.cc: operating characteristics and their Monte Carlo standard
// errors.
#include "engine/oc.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// GCC's and Clang's 128-bit integer (__extension__: no pedantic warning).
__extension__ typedef __int128 int128;

// A percentage of n trials: p = count / n, SE = 100 * sqrt(p (1 - p) / n).
}  // namespace

Estimate percentestimate(std::int64_t count, std::int64_t n) {
  const double p = static_cast<double>(count) / n;
  Estimate e;
  e.value = static_cast<double>(count) / n * 100;
  e.mcse = 100 * std::sqrt(p * (1 - p) / n);
  return e;
}

namespace {

// The SD of n values from their sum and sum of squares, with n - 1:
// sqrt((n sum x^2 - (sum x)^2) / (n (n - 1))). The numerator is exact in
// 128 bits, so no cancellation is lost to rounding.
double standarddeviation(std::int64_t sum, std::int64_t sum2, std::int64_t n) {
  if (n < 2) return kNaN;
  const int128 d = static_cast<int128>(n) * sum2 - static_cast<int128>(sum) * sum;
  const double nn1 = static_cast<double>(n) * static_cast<double>(n - 1);
  return std::sqrt(static_cast<double>(d) / nn1);
}

}  // namespace

// A mean per trial: sum / n, SE = SD / sqrt(n).
Estimate meanestimate(std::int64_t sum, std::int64_t sum2, std::int64_t n) {
  Estimate e;
  e.value = static_cast<double>(sum) / n;
  e.mcse = standarddeviation(sum, sum2, n) / std::sqrt(static_cast<double>(n));
  return e;
}

// The ratio R = sum X / sum Y as a percentage, SE by the delta method:
// 100 * sqrt((sum X^2 - 2 R sum XY + R^2 sum Y^2) / (n (n - 1))) / mean Y.
// The sum of squares of X - R Y cannot be negative: rounding that takes it
// below 0 is taken as 0.
Estimate ratioestimate(std::int64_t sumx, std::int64_t sumx2, std::int64_t sumxy,
               std::int64_t sumy, std::int64_t sumy2, std::int64_t n) {
  const double r = static_cast<double>(sumx) / static_cast<double>(sumy);
  const double ybar = static_cast<double>(sumy) / n;
  const double squares = static_cast<double>(sumx2) -
                         2 * r * static_cast<double>(sumxy) +
                         r * r * static_cast<double>(sumy2);
  const double nn1 = static_cast<double>(n) * static_cast<double>(n - 1);
  Estimate e;
  e.value = 100 * r;
  e.mcse = n < 2 ? kNaN
                 : 100 * std::sqrt((squares > 0 ? squares : 0) / nn1) / ybar;
  return e;
}

TruthClasses classifytruth(const SimulationSettings& s,
                           const ScenarioInput& input) {
  TruthClasses c;
  double best = -1;  // highest true response of an acceptable combination
  for (int d1 = 0; d1 < s.ndose1; ++d1) {
    for (int d2 = 0; d2 < s.ndose2; ++d2) {
      c.overtoxic[d1][d2] = input.scentox[d1][d2] > s.targettox;
      c.acceptable[d1][d2] =
          !c.overtoxic[d1][d2] && input.sceneff[d1][d2] >= s.mineff;
      if (c.acceptable[d1][d2] && input.sceneff[d1][d2] > best) {
        best = input.sceneff[d1][d2];
      }
      c.anyacceptable = c.anyacceptable || c.acceptable[d1][d2];
    }
  }
  for (int d1 = 0; d1 < s.ndose1; ++d1) {
    for (int d2 = 0; d2 < s.ndose2; ++d2) {
      c.target[d1][d2] = c.acceptable[d1][d2] && input.sceneff[d1][d2] == best;
    }
  }
  return c;
}

OperatingCharacteristics operatingcharacteristics(const SimulationSettings& s,
                                                  const ScenarioInput& input,
                                                  const Accumulators& acc,
                                                  const OutcomeSums& outcomes) {
  const TruthClasses c = classifytruth(s, input);
  const std::int64_t n = outcomes.ntrial;

  // Trials selecting a combination of each class.
  std::int64_t target = 0;
  std::int64_t acceptable = 0;
  std::int64_t overtoxic = 0;
  for (int d1 = 0; d1 < s.ndose1; ++d1) {
    for (int d2 = 0; d2 < s.ndose2; ++d2) {
      if (c.target[d1][d2]) target += acc.nselect[d1][d2];
      if (c.acceptable[d1][d2]) acceptable += acc.nselect[d1][d2];
      if (c.overtoxic[d1][d2]) overtoxic += acc.nselect[d1][d2];
    }
  }
  const auto trials = [&outcomes](TrialEnd reason) {
    return outcomes.reasons[static_cast<int>(reason)];
  };
  const std::int64_t none = n - trials(TrialEnd::kSelected);

  OperatingCharacteristics oc;
  oc.ntrial = n;
  oc.correct = percentestimate(c.anyacceptable ? target : none, n);
  oc.acceptable = percentestimate(acceptable, n);
  oc.overtoxic = percentestimate(overtoxic, n);
  oc.inconclusive = percentestimate(none, n);
  oc.phase1_stopped = percentestimate(trials(TrialEnd::kPhase1Stopped), n);
  oc.none_admissible = percentestimate(trials(TrialEnd::kNoneAdmissible), n);
  oc.all_closed = percentestimate(trials(TrialEnd::kAllClosed), n);
  oc.no_positive_mean = percentestimate(trials(TrialEnd::kNoPositiveMean), n);
  oc.patients_mean = meanestimate(outcomes.patients, outcomes.patients2, n);
  oc.patients_sd = standarddeviation(outcomes.patients, outcomes.patients2, n);
  oc.patients_min = outcomes.minpatients;
  oc.patients_max = outcomes.maxpatients;
  oc.overtoxic_patients =
      ratioestimate(outcomes.overtoxic, outcomes.overtoxic2, outcomes.patientsovertoxic,
            outcomes.patients, outcomes.patients2, n);
  oc.toxicities_mean = meanestimate(outcomes.toxicities, outcomes.toxicities2, n);
  oc.responses_mean = meanestimate(outcomes.responses, outcomes.responses2, n);
  oc.untried_patients =
      outcomes.phase2patients == 0
          ? Estimate{kNaN, kNaN}
          : ratioestimate(outcomes.untried, outcomes.untried2, outcomes.untriedphase2,
                  outcomes.phase2patients, outcomes.phase2patients2, n);
  return oc;
}

std::vector<OcFigure> ocfigures(const OperatingCharacteristics& oc) {
  std::vector<OcFigure> figures;
  const auto add = [&figures](const char* name, const Estimate& e) {
    figures.push_back({name, e.value, false});
    figures.push_back({std::string(name) + "_mcse", e.mcse, false});
  };
  add("correct", oc.correct);
  add("acceptable", oc.acceptable);
  add("overtoxic", oc.overtoxic);
  add("inconclusive", oc.inconclusive);
  add("phase1_stopped", oc.phase1_stopped);
  add("none_admissible", oc.none_admissible);
  add("all_closed", oc.all_closed);
  add("no_positive_mean", oc.no_positive_mean);
  add("patients_mean", oc.patients_mean);
  figures.push_back({"patients_sd", oc.patients_sd, false});
  figures.push_back(
      {"patients_min", static_cast<double>(oc.patients_min), true});
  figures.push_back(
      {"patients_max", static_cast<double>(oc.patients_max), true});
  add("overtoxic_patients", oc.overtoxic_patients);
  add("toxicities_mean", oc.toxicities_mean);
  add("responses_mean", oc.responses_mean);
  add("untried_patients", oc.untried_patients);
  return figures;
}
