// numerics/arms.h: adaptive rejection Metropolis sampling of one coordinate.
//
// Each call builds a fresh envelope of at most 100 points on the stack, draws
// one value of the chain and keeps nothing; the only state that outlives a
// call is the position of the sampler's integer source in the streams given
// (numerics/streams.h).
#ifndef COMBOSIM_NUMERICS_ARMS_H_
#define COMBOSIM_NUMERICS_ARMS_H_

#include "numerics/streams.h"

// Log density up to an additive constant, at x; userdata is passed through.
using LogDensityFn = double (*)(double x, void* userdata);

// Result codes of armsdraw.
enum ArmsCode {
  kArmsOk = 0,
  kArmsBadAbscissae = 1003,    // initial abscissae not inside (lower, upper)
  kArmsNotIncreasing = 1004,   // initial abscissae not strictly increasing
  kArmsNoStorage = 1006,       // storage cannot be allocated (never: the
                               // envelope lives on the stack)
  kArmsCurrentOutside = 1007,  // current outside [lower, upper]
  kArmsBadConvexity = 1008,    // negative convexity (never: it is 1.0)
};

// Internal consistency guards. armsdraw returns the negated status, and the
// process must end with the status itself. They detect broken links of the
// envelope; valid input does not trigger them.
enum ArmsGuard {
  kArmsGuardBrokenList = 1,  // a record other than the leftmost has no left
                             // neighbour while the envelope is integrated
  kArmsGuardPieceEnds = 10,  // a candidate's piece has both or neither end
                             // on the density while refining
  kArmsGuardChordOnDensity = 30,  // a density point given to envchord
  kArmsGuardNoGradient = 31,      // no gradient on either side of a record
  kArmsGuardChordOutside = 32,    // kept for its number only: an intersection
                                  // placed outside its neighbours by rounding
                                  // is moved onto the nearer one instead
};

// Draws one value of the chain on [lower, upper] whose present value is
// `current`, by adaptive rejection Metropolis sampling of exp(logdensity).
// Returns 0 and writes *out on success, or a positive ArmsCode. An internal
// consistency guard returns the negated exit status the process must end with
// (-1, -10, -30 or -31; -32 is no longer produced); *out is then not written.
// The value written lies in [lower, upper]; it equals `current` when the
// Metropolis step keeps the present value.
//
// Calls logdensity(x, userdata) in a fixed order: at the four initial
// abscissae lower + ((upper - lower) * k) / 5, k = 1..4, then at current, then
// once per candidate, plus once more for a rejected candidate moved away from
// its neighbours. 1003 (also for NaN or infinite bounds) and 1004 return
// before any call; 1007 (also for a NaN current) after four.
// Consumes integers from samplerrand(streams), never uniform numbers: two per
// rejected candidate and three for the last one.
//
// REQUIRES: logdensity is finite wherever it is evaluated, and of moderate
// size (chord gradients and their products must not overflow). Infinite or
// NaN values, or values like -1e300, break the envelope down: logdensity may
// then be called at NaN, and calls return current, so the chain sticks.
int armsdraw(double lower, double upper, LogDensityFn logdensity,
             void* userdata, double current, double* out,
             StreamState& streams);

// As armsdraw, with the log density as any callable: logdensity(x) returns
// double. The same draws, evaluations and results as armsdraw; the callable
// can be inlined.
template <class F>
int armsdrawt(double lower, double upper, F&& logdensity, double current,
              double* out, StreamState& streams);

#include "numerics/arms-inl.h"  // IWYU pragma: export

#endif  // COMBOSIM_NUMERICS_ARMS_H_
