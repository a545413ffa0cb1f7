// formats/sha256.h: the SHA-256 digest (FIPS 180-4) that names a file's bytes
// in the records of combosim-next and combosim-batch.
#ifndef COMBOSIM_FORMATS_SHA256_H_
#define COMBOSIM_FORMATS_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <string>

// The digest of bytes given piece by piece, for a file too large to hold.
class Sha256 {
 public:
  // Adds `n` bytes at `data` to the message.
  void add(const char* data, std::size_t n);
  void add(const std::string& data) { add(data.data(), data.size()); }

  // The digest of the bytes added so far, as 64 lower-case hexadecimal
  // digits.
  std::string hex() const;

 private:
  // The initial hash value (section 5.3.3).
  std::uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  unsigned char block_[64] = {};  // the bytes of the block not yet full
  std::uint64_t n_ = 0;           // bytes added
};

// Returns the SHA-256 digest of the bytes of `data` as 64 lower-case
// hexadecimal digits.
std::string sha256hex(const std::string& data);

#endif  // COMBOSIM_FORMATS_SHA256_H_
