// numerics/streams.cc: the seeded generators that can stand behind the two
// process-wide streams, the switch between them and the fixed ones, and the
// rule of a seed.
#include "numerics/streams.h"

#include <charconv>
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
