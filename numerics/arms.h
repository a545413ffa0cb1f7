// numerics/arms.h: adaptive rejection Metropolis sampling of one coordinate.
#ifndef COMBOSIM_NUMERICS_ARMS_H_
#define COMBOSIM_NUMERICS_ARMS_H_

// Log density up to an additive constant, at x; userdata is passed through.
using LogDensityFn = double (*)(double x, void* userdata);

// Result codes of armsdraw.
enum ArmsCode {
  kArmsOk = 0,
  kArmsBadAbscissae = 1003,   // initial abscissae not inside (lower, upper)
  kArmsNotIncreasing = 1004,  // initial abscissae not strictly increasing
  kArmsNoStorage = 1006,      // storage cannot be allocated
  kArmsCurrentOutside = 1007, // current outside [lower, upper]
  kArmsBadConvexity = 1008,   // negative convexity
};

// Draws one value of the chain on [lower, upper] whose present value is
// `current`, by adaptive rejection Metropolis sampling of exp(logdensity).
// Returns 0 and writes *out on success, or a positive ArmsCode. An internal
// consistency guard returns the negated exit status the process must end with
// (-1, -10, -30, -31 or -32); *out is then not written.
// Consumes integers from samplerrand(), never uniform01().
int armsdraw(double lower, double upper, LogDensityFn logdensity,
             void* userdata, double current, double* out);

// The sampler's process-wide integer source: 0..32767, starting from state 1
// at program start, never seeded. Advances the source.
int samplerrand();

// Puts the sampler's integer source back to its program-start state.
void samplerrandreset();

#endif  // COMBOSIM_NUMERICS_ARMS_H_
