// numerics/streams.h: which generators stand behind the program's two
// process-wide random streams, uniform01() and samplerrand().
//
// By default both are the program's own fixed-seed generators, so a run with
// the same answers reproduces the same trials. A batch run can instead put
// independent, seeded streams behind them: std::mt19937_64 seeded through
// std::seed_seq{seed, shard, 0} for the uniform numbers, u = (x >> 11) * 2^-53,
// and std::seed_seq{seed, shard, 1} for the sampler's integers, x >> 49 (0 to
// 32767). Both standard algorithms are specified exactly, so the streams are
// the same on every platform.
#ifndef COMBOSIM_NUMERICS_STREAMS_H_
#define COMBOSIM_NUMERICS_STREAMS_H_

#include <cstdint>
#include <random>
#include <string>

#include "numerics/uniform.h"

// The largest seed: the seeded streams use 32 bits of it (std::seed_seq
// keeps each value modulo 2^32), so a larger one would repeat a smaller
// one's streams.
constexpr std::uint64_t kMaxSeed = 4294967295u;  // 2^32 - 1

// Reads a seed: a decimal number from 0 to kMaxSeed, nothing else. Returns ""
// or the problem, naming the text. Every front end and the R package read
// seeds through it.
std::string readseed(const std::string& text, std::uint64_t& seed);

// Puts the fixed-seed generators back behind both streams, from their
// program-start state.
void usefixedstreams();

// Puts seeded generators behind both streams, from the start of the streams
// of (seed, shard).
void useseededstreams(std::uint64_t seed, std::uint64_t shard);

// Returns true while seeded generators stand behind the streams.
bool seededstreams();

// Everything that decides the next numbers of both streams: which generators
// stand behind them and where each is. Restoring it replays the same numbers.
struct StreamState {
  bool seeded = false;               // the seeded generators stand behind both
  UniformState uniform;              // the fixed-seed uniform generator
  std::uint32_t samplerrand = 1;     // the fixed-seed integer source
  std::mt19937_64 uniformengine;     // the seeded generators
  std::mt19937_64 randengine;
};

// A copy of both streams' state.
StreamState savestreams();

// Puts both streams in `state`.
void restorestreams(const StreamState& state);

// The next numbers of the seeded generators; uniform01() and samplerrand()
// return them while seededstreams() is true.
double seededuniform01();  // in [0, 1), a multiple of 2^-53
int seededsamplerrand();   // in 0..32767

#endif  // COMBOSIM_NUMERICS_STREAMS_H_
