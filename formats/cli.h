// formats/cli.h: values of the command line that the front ends share.
#ifndef COMBOSIM_FORMATS_CLI_H_
#define COMBOSIM_FORMATS_CLI_H_

#include <cstdint>
#include <string>

// Reads a seed: a decimal number from 0 to 2^64 - 1, nothing else. Returns ""
// or the problem.
std::string readseed(const std::string& text, std::uint64_t& seed);

#endif  // COMBOSIM_FORMATS_CLI_H_
