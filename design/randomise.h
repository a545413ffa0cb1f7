// design/randomise.h: adaptive randomisation of the phase II cohorts.
#ifndef COMBOSIM_DESIGN_RANDOMISE_H_
#define COMBOSIM_DESIGN_RANDOMISE_H_

#include "design/rules.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

// Marks in allowed[j] the admissible entries phase II may randomise to under
// rules.phase2: every open entry ("admissible"); the open entries with a
// patient in the trial ("treated"); those and the open entries one level
// from a treated combination of the grid in exactly one drug ("adjacent").
// Returns how many are allowed. REQUIRES: allowed has room for nadm.
int phase2allowed(const TrialState& s, const DesignRules& rules, bool allowed[]);

// Computes the randomisation probability r[j] of every admissible entry from
// the first ndraws stored effdraws by staged elimination over the
// candidates: the open entries, or with `allowed` the entries it marks (open
// ones only); the others get 0. Returns the index of the last candidate of the final stage
// (the one given 1 - F).
// REQUIRES: at least one candidate; r has room for nadm.
int randomisationprobs(const TrialState& s, double r[],
                       const bool* allowed = nullptr);

// What the randomisation of one phase II cohort drew.
struct RandomDraw {
  double probs[kMaxAdm];  // per admissible entry (nadm of them); 0 when closed
  double u = 0;           // the uniform number drawn
  int drawn = -1;         // the entry it chose
};

// Chooses the admissible entry for the next phase II cohort among the
// candidates (as randomisationprobs) with one number from uniform01(streams),
// after every probability is fixed, and writes its combination into cur1,
// cur2.
// REQUIRES: at least one candidate.
RandomDraw phase2randomise(TrialState& s, StreamState& streams,
                           const bool* allowed = nullptr);

// Returns the entry chosen by u: the first j with r[j] > 0 and u <= the
// running sum of r up to j, or `fallback` when no sum reaches u.
int walkprobs(const double r[], int nadm, double u, int fallback);

#endif  // COMBOSIM_DESIGN_RANDOMISE_H_
