// numerics/streams.cc: both random streams drawn from a StreamState, and the
// process-wide one.
#include "numerics/streams.h"

#include <random>

#include "numerics/uniform.h"

namespace {

// The process-wide streams.
StreamState process;

}  // namespace

StreamState seededstreamstate(std::uint64_t seed, std::uint64_t shard) {
  StreamState state;
  std::seed_seq uniformseq{seed, shard, std::uint64_t{0}};
  std::seed_seq randseq{seed, shard, std::uint64_t{1}};
  state.uniformengine.seed(uniformseq);
  state.randengine.seed(randseq);
  state.seeded = true;
  return state;
}

double uniform01(StreamState& streams) {
  // The seeded generator's top 53 bits as a multiple of 2^-53.
  if (streams.seeded) {
    return static_cast<double>(streams.uniformengine() >> 11) * 0x1.0p-53;
  }
  return uniformnext(streams.uniform);
}

int samplerrand(StreamState& streams) {
  if (streams.seeded) return static_cast<int>(streams.randengine() >> 49);
  streams.samplerrand = streams.samplerrand * 214013u + 2531011u;  // mod 2^32
  return static_cast<int>((streams.samplerrand >> 16) & 0x7FFF);
}

StreamState& processstreams() { return process; }

double uniform01() { return uniform01(process); }

int samplerrand() { return samplerrand(process); }

void usefixedstreams() {
  process.seeded = false;
  uniform01reset();
  samplerrandreset();
}

void useseededstreams(std::uint64_t seed, std::uint64_t shard) {
  process = seededstreamstate(seed, shard);
}

bool seededstreams() { return process.seeded; }

void uniform01reset() { process.uniform = UniformState(); }

void samplerrandreset() { process.samplerrand = 1; }

StreamState savestreams() { return process; }

void restorestreams(const StreamState& state) { process = state; }
