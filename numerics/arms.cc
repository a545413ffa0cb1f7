// numerics/arms.cc: the sampler's function-pointer entry. The envelope code
// is in arms-inl.h.
#include "numerics/arms.h"

int armsdraw(double lower, double upper, LogDensityFn logdensity,
             void* userdata, double current, double* out,
             StreamState& streams) {
  return armsdrawt(
      lower, upper, [=](double x) { return logdensity(x, userdata); }, current,
      out, streams);
}
