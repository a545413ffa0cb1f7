// engine/trial.h: the simulated trials, from the reset to the end-of-trial
// sums, with the phase I course, the admissible list, the phase II course and
// the final selection.
#ifndef COMBOSIM_ENGINE_TRIAL_H_
#define COMBOSIM_ENGINE_TRIAL_H_

#include <ctime>

#include "design/design.h"
#include "design/drawstatus.h"
#include "design/rules.h"
#include "engine/outcome.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

class Observer;

// Fills the fixed fields of the trial record from the design's priors and the
// truth's probabilities and clears the accumulators over the grid. Returns
// clockstart, the processor clock.
std::clock_t preparetrials(const Design& design, const ScenarioInput& truth,
                           TrialState& s, Accumulators& acc);

// Treats one cohort at (cur1, cur2): cohortsize1 patients in phase I,
// cohortsize2 in phase II; all toxicity draws, then all response draws, from
// uniform01(streams). Adds the outcomes to the trial's counts.
void gencohort(TrialState& s, const Design& design, StreamState& streams);

// Returns the admissible entry the trial selects: the open entry with the
// largest meaneff above 0, the earliest on ties; -1 when there is none.
int bestentry(const TrialState& s);

// Makes the final selection: the open entry with the largest meaneff (above
// 0; the earliest on ties) gets one more trial in nselect. Returns that
// entry, or -1 when no open entry has a mean response above 0.
int selectbest(const TrialState& s, Accumulators& acc);

// Fills the admissible list (adm1, adm2, nadm) from prsafe: every
// combination with prsafe > design.rules.admissible, in grid order (drug 1
// outer).
void admissiblelist(TrialState& s, const Design& design);

// Phase II of one trial: opens every admissible entry, treats ncohort2
// cohorts by adaptive randomisation, and selects. Sets outcome.reason and the
// selection. Returns a failed draw.
DrawStatus runphase2(TrialState& s, const Design& design, StreamState& streams,
                     Accumulators& acc, TrialOutcome& outcome,
                     Observer* observer);

// Simulates one whole trial, drawing from `streams`, and adds its counts (and
// selection) to acc; its outcome goes to `outcome` when given. `observer`,
// when given, sees the trial record and the streams before every posterior
// update. Returns a failed draw, if any; acc is then not updated.
DrawStatus runtrial(TrialState& s, const Design& design, StreamState& streams,
                    Accumulators& acc, TrialOutcome* outcome = nullptr,
                    Observer* observer = nullptr);

#endif  // COMBOSIM_ENGINE_TRIAL_H_
