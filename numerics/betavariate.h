// numerics/betavariate.h: Beta variates with both shapes above 1, by
// rejection, in about half the time of two gamma variates.
#ifndef COMBOSIM_NUMERICS_BETAVARIATE_H_
#define COMBOSIM_NUMERICS_BETAVARIATE_H_

#include "numerics/streams.h"

// Returns a Beta(p, q) variate in (0, 1): 0 becomes the smallest positive
// double and 1 the largest double below 1. Candidates come from a
// log-logistic envelope with a squeeze; each attempt takes two numbers from
// uniform01(streams), the first refused and drawn again when it is not
// strictly inside (0, 1). REQUIRES: p > 1, q > 1.
double betavariate(double p, double q, StreamState& streams);

#endif  // COMBOSIM_NUMERICS_BETAVARIATE_H_
