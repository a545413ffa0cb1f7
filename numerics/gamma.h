// numerics/gamma.h: gamma variates with unit scale, and ln Gamma(x).
#ifndef COMBOSIM_NUMERICS_GAMMA_H_
#define COMBOSIM_NUMERICS_GAMMA_H_

// Returns ln Gamma(x) by a six-term series. REQUIRES: x > 0.
double loggamma(double x);

// Returns a gamma(shape) variate with scale 1, finite and > 0.
// REQUIRES: shape > 0. Consumes numbers from uniform01().
double gammadraw(double shape);

#endif  // COMBOSIM_NUMERICS_GAMMA_H_
