// numerics/streams.h: the program's two random streams, uniform numbers and
// the sampler's integers, and the generators that can stand behind them.
//
// A StreamState holds both streams whole. Code that draws takes one
// explicitly: uniform01(streams) and samplerrand(streams). The process-wide
// streams, the only process-wide state of the program, are one StreamState
// in streams.cc (processstreams()), drawn from by uniform01() and
// samplerrand() without an argument; the engine never draws from them unless
// given them.
//
// By default both streams are the program's own fixed-seed generators, so a
// run with the same answers reproduces the same trials: the uniform numbers of
// numerics/uniform.h, and the integers state := state * 214013 + 2531011
// (mod 2^32), result (state >> 16) & 0x7FFF, from state 1, so that the first
// values are 41, 18467, 6334, 26500, 19169 on every platform. A batch run can
// instead put independent, seeded streams behind them: std::mt19937_64 seeded
// through std::seed_seq{seed, shard, 0} for the uniform numbers,
// u = (x >> 11) * 2^-53, and std::seed_seq{seed, shard, 1} for the sampler's
// integers, x >> 49 (0 to 32767). Both standard algorithms are specified
// exactly, so the streams are the same on every platform.
//
// Paired streams give each trial, and each kind of draw within it, streams of
// its own, so that two designs run on the same seed meet the same patients
// and the same numbers at the same steps: std::mt19937_64 seeded by
// std::seed_seq{S, t, kind, i, 0} for the uniform numbers and
// {S, t, kind, i, 1} for the sampler's integers, t the trial (from 1), kind
// and i as PairedKind says. Five-word keys never meet the three-word keys of
// the seeded streams.
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

// Everything that decides the next numbers of both streams: which generators
// stand behind them and where each is. A default StreamState is the fixed-seed
// generators at their program-start state; copying one and drawing from the
// copy replays the same numbers.
struct StreamState {
  bool seeded = false;               // the seeded generators stand behind both
  UniformState uniform;              // the fixed-seed uniform generator
  std::uint32_t samplerrand = 1;     // the fixed-seed integer source
  std::mt19937_64 uniformengine;     // the seeded generators
  std::mt19937_64 randengine;
};

// Both streams from the start of the seeded streams of (seed, shard).
StreamState seededstreamstate(std::uint64_t seed, std::uint64_t shard);

// What a paired stream of a trial feeds, the third word of its key.
enum class PairedKind : std::uint64_t {
  kPatients = 1,   // the patients in order of enrolment, i = 0
  kPhase1 = 2,     // the phase I update after phase I cohort i (from 1)
  kPhase2 = 3,     // phase II update i: 0 at the switch, then after phase II
                   // cohort i
  kRandomise = 4,  // the posterior draws for the randomisation before phase
                   // II cohort i (from 1), when the method draws them apart
                   // from the update
  kPick = 5,       // the one uniform number that picks phase II cohort i's
                   // combination (i from 1)
};

// Both streams of trial `trial` of seed `seed` for draws of `kind` at
// position `index`.
StreamState pairedstreamstate(std::uint64_t seed, std::uint64_t trial,
                              PairedKind kind, std::uint64_t index);

// The next uniform number of `streams`: from the fixed-seed generator in
// [0, 1.0000000022113151] (it can be exactly 0 and, rarely, slightly above
// 1), from the seeded one in [0, 1), a multiple of 2^-53.
double uniform01(StreamState& streams);

// The next integer of the sampler's source of `streams`, 0..32767.
int samplerrand(StreamState& streams);

// The process-wide streams themselves, and their next numbers.
StreamState& processstreams();
double uniform01();
int samplerrand();

// Puts the fixed-seed generators back behind both process-wide streams, from
// their program-start state.
void usefixedstreams();

// Puts seeded generators behind both process-wide streams, from the start of
// the streams of (seed, shard).
void useseededstreams(std::uint64_t seed, std::uint64_t shard);

// Returns true while seeded generators stand behind the process-wide streams.
bool seededstreams();

// Puts one process-wide stream back to its program-start state.
void uniform01reset();
void samplerrandreset();

// A copy of the process-wide streams' state, and putting one in its place.
StreamState savestreams();
void restorestreams(const StreamState& state);

#endif  // COMBOSIM_NUMERICS_STREAMS_H_
