// engine/outcome.h: how each simulated trial ended, and sums of the trials'
// outcomes that stay bounded in memory however many trials run.
#ifndef COMBOSIM_ENGINE_OUTCOME_H_
#define COMBOSIM_ENGINE_OUTCOME_H_

#include <cstdint>

// Why a trial ended: with a selection, or without one for one of four reasons.
enum class TrialEnd {
  kSelected,        // the open entry with the highest mean response
  kPhase1Stopped,   // phase I stopped at the lowest combination
  kNoneAdmissible,  // no combination admissible for phase II
  kAllClosed,       // every admissible entry closed in phase II
  kNoPositiveMean,  // entries open, but none with a mean response above 0
};
constexpr int kNumTrialEnds = 5;

// "selected", "phase1_stopped", "none_admissible", "all_closed",
// "no_positive_mean".
const char* trialendname(TrialEnd reason);

// One trial's outcome.
struct TrialOutcome {
  TrialEnd reason = TrialEnd::kSelected;
  int sel1 = -1;       // drug-1 index of the selected combination; -1: none
  int sel2 = -1;       // drug-2 index of the selected combination; -1: none
  int patients = 0;    // patients treated in the trial
  int toxicities = 0;
  int responses = 0;
  int overtoxic = 0;   // patients treated where the true toxicity > targettox
  int phase2patients = 0;  // patients treated in phase II
  int untried = 0;     // phase II patients treated at combinations that had
                       // no phase I patient in the trial
  int coarseupdates = 0;  // cohorts after which the posterior update was a
                          // quadrature update too narrow for its nodes
};

// Sums over trials of their outcomes: counts, squares and one cross product,
// all 64-bit, so that sums of parts add up exactly to the sums of the whole.
struct OutcomeSums {
  std::int64_t ntrial = 0;
  std::int64_t reasons[kNumTrialEnds] = {};  // trials per TrialEnd
  std::int64_t patients = 0;
  std::int64_t patients2 = 0;            // sum of squares
  std::int64_t toxicities = 0;
  std::int64_t toxicities2 = 0;
  std::int64_t responses = 0;
  std::int64_t responses2 = 0;
  std::int64_t overtoxic = 0;
  std::int64_t overtoxic2 = 0;
  std::int64_t patientsovertoxic = 0;    // sum of patients * overtoxic
  std::int64_t minpatients = 0;          // over the trials; 0 when none
  std::int64_t maxpatients = 0;
  std::int64_t untried = 0;
  std::int64_t untried2 = 0;
  std::int64_t phase2patients = 0;
  std::int64_t phase2patients2 = 0;
  std::int64_t untriedphase2 = 0;        // sum of untried * phase2patients
  std::int64_t coarseupdates = 0;        // written only under quadrature, so
                                         // not among kOutcomeSumNames
};

// The sums of OutcomeSums by name (all but `reasons`, which are named by
// trialendname()), in the order the result files and the R package list them.
struct OutcomeSumName {
  const char* name;
  std::int64_t OutcomeSums::*sum;
};
inline constexpr OutcomeSumName kOutcomeSumNames[] = {
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
    {"maxpatients", &OutcomeSums::maxpatients},
    {"untried", &OutcomeSums::untried},
    {"untried2", &OutcomeSums::untried2},
    {"phase2patients", &OutcomeSums::phase2patients},
    {"phase2patients2", &OutcomeSums::phase2patients2},
    {"untriedxphase2patients", &OutcomeSums::untriedphase2}};

// Adds one trial's outcome to `sums`.
void addoutcome(OutcomeSums& sums, const TrialOutcome& outcome);

// Adds `part` to `sums`. Returns false, leaving `sums` unchanged, when a sum
// would overflow 64 bits.
bool addoutcomesums(OutcomeSums& sums, const OutcomeSums& part);

#endif  // COMBOSIM_ENGINE_OUTCOME_H_
