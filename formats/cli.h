// formats/cli.h: values of the command line that the front ends share.
#ifndef COMBOSIM_FORMATS_CLI_H_
#define COMBOSIM_FORMATS_CLI_H_

#include <cstdint>
#include <string>

// The largest seed: the seeded streams use 32 bits of it (std::seed_seq
// keeps each value modulo 2^32), so a larger one would repeat a smaller
// one's streams.
constexpr std::uint64_t kMaxSeed = 4294967295u;  // 2^32 - 1

// Reads a seed: a decimal number from 0 to kMaxSeed, nothing else. Returns ""
// or the problem, naming the text.
std::string readseed(const std::string& text, std::uint64_t& seed);

#endif  // COMBOSIM_FORMATS_CLI_H_
