// numerics/arms.cc: the sampler's integer source and its function-pointer
// entry. The envelope code is in arms-inl.h.
#include "numerics/arms.h"

#include <cstdint>

#include "numerics/streams.h"

namespace {

// The sampler's process-wide integer source; never seeded.
std::uint32_t randstate = 1;

}  // namespace

int samplerrand() {
  if (seededstreams()) return seededsamplerrand();
  randstate = randstate * 214013u + 2531011u;  // mod 2^32
  return static_cast<int>((randstate >> 16) & 0x7FFF);
}

void samplerrandreset() { randstate = 1; }

std::uint32_t samplerrandstate() { return randstate; }

void setsamplerrandstate(std::uint32_t state) { randstate = state; }

int armsdraw(double lower, double upper, LogDensityFn logdensity,
             void* userdata, double current, double* out) {
  return armsdrawt(
      lower, upper, [=](double x) { return logdensity(x, userdata); }, current,
      out);
}
