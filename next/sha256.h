// next/sha256.h: the SHA-256 digest (FIPS 180-4) that names an input file in
// a trial's records.
#ifndef COMBOSIM_NEXT_SHA256_H_
#define COMBOSIM_NEXT_SHA256_H_

#include <string>

// Returns the SHA-256 digest of the bytes of `data` as 64 lower-case
// hexadecimal digits.
std::string sha256hex(const std::string& data);

#endif  // COMBOSIM_NEXT_SHA256_H_
