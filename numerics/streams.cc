// numerics/streams.cc: both random streams drawn from a StreamState, the
// process-wide one, and the rule of a seed.
#include "numerics/streams.h"

#include <charconv>
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

StreamState pairedstreamstate(std::uint64_t seed, std::uint64_t trial,
                              PairedKind kind, std::uint64_t index) {
  const auto word = static_cast<std::uint64_t>(kind);
  StreamState state;
  std::seed_seq uniformseq{seed, trial, word, index, std::uint64_t{0}};
  std::seed_seq randseq{seed, trial, word, index, std::uint64_t{1}};
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

std::string readseed(const std::string& text, std::uint64_t& seed) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, seed);
  if (text.empty() || ptr != end ||
      (error != std::errc() && error != std::errc::result_out_of_range)) {
    return "\"" + text + "\" is not a whole number from 0 to 4294967295";
  }
  if (error == std::errc::result_out_of_range || seed > kMaxSeed) {
    return text + " is above 4294967295 (2^32 - 1): the streams use 32 bits "
                  "of the seed";
  }
  return "";
}
