// formats/sha256.cc: SHA-256 as FIPS 180-4 sets it out: the message padded to a
// multiple of 512 bits (section 5.1.1), then each block's 64 rounds (6.2.2).
#include "formats/sha256.h"

#include <cstdint>

namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes (section 4.2.2).
constexpr std::uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// One 64-byte block into the hash value H.
void compress(std::uint32_t h[8], const unsigned char* block) {
  // Step 1: the message schedule W.
  std::uint32_t w[64];
  for (int t = 0; t < 16; ++t) {
    w[t] = (std::uint32_t{block[4 * t]} << 24) |
           (std::uint32_t{block[4 * t + 1]} << 16) |
           (std::uint32_t{block[4 * t + 2]} << 8) | std::uint32_t{block[4 * t + 3]};
  }
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t s0 =
        rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 =
        rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  // Steps 2 and 3: the working variables a to h through 64 rounds.
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
  std::uint32_t e = h[4], f = h[5], g = h[6], hh = h[7];
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t S1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
    const std::uint32_t ch = (e & f) ^ (~e & g);
    const std::uint32_t T1 = hh + S1 + ch + kK[t] + w[t];
    const std::uint32_t S0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
    const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t T2 = S0 + maj;
    hh = g;
    g = f;
    f = e;
    e = d + T1;
    d = c;
    c = b;
    b = a;
    a = T1 + T2;
  }
  // Step 4: the intermediate hash value.
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += hh;
}

}  // namespace

void Sha256::add(const char* data, std::size_t n) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < n; ++i) {
    block_[n_ % 64] = bytes[i];
    ++n_;
    if (n_ % 64 == 0) compress(h_, block_);
  }
}

std::string Sha256::hex() const {
  std::uint32_t h[8];
  for (int i = 0; i < 8; ++i) h[i] = h_[i];
  // Padding: a 1 bit, zeros, and the length in bits as 64 bits, big-endian.
  unsigned char tail[128] = {};
  const std::size_t rest = n_ % 64;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = block_[i];
  tail[rest] = 0x80;
  const std::size_t tailsize = rest + 1 + 8 <= 64 ? 64 : 128;
  const std::uint64_t bits = n_ * 8;
  for (int i = 0; i < 8; ++i) {
    tail[tailsize - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  compress(h, tail);
  if (tailsize == 128) compress(h, tail + 64);

  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t word : h) {
    for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(word >> shift) & 0xf];
  }
  return hex;
}

std::string sha256hex(const std::string& data) {
  Sha256 digest;
  digest.add(data);
  return digest.hex();
}
