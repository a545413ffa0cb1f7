// driver/trial.h: the simulated trials, from the reset to the end-of-trial
// sums, with the phase I course, the admissible list, the phase II course and
// the final selection.
#ifndef COMBOSIM_DRIVER_TRIAL_H_
#define COMBOSIM_DRIVER_TRIAL_H_

#include <ctime>
#include <ostream>

#include "design/drawstatus.h"
#include "driver/trialstate.h"

// Threshold on prsafe for a combination to enter phase II.
constexpr double kAdmissible = 0.4;

// Fills the fixed fields of the trial record from the scenario and clears the
// accumulators over the grid. Returns clockstart, the processor clock.
std::clock_t preparetrials(const ScenarioInput& scenario, TrialState& s,
                           Accumulators& acc);

// Treats one cohort at (cur1, cur2): cohortsize1 patients in phase I,
// cohortsize2 in phase II; all toxicity draws, then all response draws, from
// uniform01(). Adds the outcomes to the trial's counts.
void gencohort(TrialState& s);

// Makes the final selection: the open entry with the largest meaneff (above
// 0; the earliest on ties) gets one more trial in nselect.
void selectbest(const TrialState& s, Accumulators& acc);

// Phase II of one trial: opens every admissible entry, treats ncohort2
// cohorts by adaptive randomisation, and selects. Returns a failed draw.
DrawStatus runphase2(TrialState& s, Accumulators& acc);

// Simulates one whole trial and adds its counts (and selection) to acc.
// Returns a failed draw, if any; acc is then not updated.
DrawStatus runtrial(TrialState& s, Accumulators& acc);

// Prints the message of a failed draw to out and returns the exit status the
// process must end with.
int samplerfailure(std::ostream& out, const DrawStatus& status);

#endif  // COMBOSIM_DRIVER_TRIAL_H_
