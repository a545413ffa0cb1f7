// numerics/streams.cc: the seeded generators that can stand behind the two
// process-wide streams, and the switch between them and the fixed ones.
#include "numerics/streams.h"

#include <random>

#include "numerics/arms.h"
#include "numerics/uniform.h"

namespace {

bool seeded = false;
std::mt19937_64 uniformengine;  // behind uniform01() while seeded
std::mt19937_64 randengine;     // behind samplerrand() while seeded

}  // namespace

void usefixedstreams() {
  seeded = false;
  uniform01reset();
  samplerrandreset();
}

void useseededstreams(std::uint64_t seed, std::uint64_t shard) {
  std::seed_seq uniformseq{seed, shard, std::uint64_t{0}};
  std::seed_seq randseq{seed, shard, std::uint64_t{1}};
  uniformengine.seed(uniformseq);
  randengine.seed(randseq);
  seeded = true;
}

bool seededstreams() { return seeded; }

StreamState savestreams() {
  StreamState state;
  state.seeded = seeded;
  state.uniform = uniform01state();
  state.samplerrand = samplerrandstate();
  state.uniformengine = uniformengine;
  state.randengine = randengine;
  return state;
}

void restorestreams(const StreamState& state) {
  seeded = state.seeded;
  setuniform01state(state.uniform);
  setsamplerrandstate(state.samplerrand);
  uniformengine = state.uniformengine;
  randengine = state.randengine;
}

double seededuniform01() {
  // The top 53 bits as a multiple of 2^-53.
  return static_cast<double>(uniformengine() >> 11) * 0x1.0p-53;
}

int seededsamplerrand() { return static_cast<int>(randengine() >> 49); }
