// design/randomise.h: adaptive randomisation of the phase II cohorts.
#ifndef COMBOSIM_DESIGN_RANDOMISE_H_
#define COMBOSIM_DESIGN_RANDOMISE_H_

#include "numerics/streams.h"
#include "records/trialstate.h"

// Computes the randomisation probability r[j] of every admissible entry from
// the first ndraws stored effdraws by staged elimination; closed entries get 0. Returns
// the index of the last candidate of the final stage (the one given 1 - F).
// REQUIRES: at least one admissible entry is open; r has room for nadm.
int randomisationprobs(const TrialState& s, double r[]);

// What the randomisation of one phase II cohort drew.
struct RandomDraw {
  double probs[kMaxAdm];  // per admissible entry (nadm of them); 0 when closed
  double u = 0;           // the uniform number drawn
  int drawn = -1;         // the entry it chose
};

// Chooses the admissible entry for the next phase II cohort with one number
// from uniform01(streams), after every probability is fixed, and writes its
// combination into cur1, cur2.
// REQUIRES: at least one admissible entry is open.
RandomDraw phase2randomise(TrialState& s, StreamState& streams);

// Returns the entry chosen by u: the first j with r[j] > 0 and u <= the
// running sum of r up to j, or `fallback` when no sum reaches u.
int walkprobs(const double r[], int nadm, double u, int fallback);

#endif  // COMBOSIM_DESIGN_RANDOMISE_H_
