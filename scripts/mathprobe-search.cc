// scripts/mathprobe-search.cc: finds arguments where the C library's two
// implementations of exp, log and pow differ, for numerics/mathprobe.cc.
// Prints each function's arguments and the bits of its results, one line per
// argument; run it under both settings and compare:
//
//   g++ -O2 -ffp-contract=off -o search scripts/mathprobe-search.cc
//   ./search > fma.txt
//   GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA ./search > nofma.txt
//   diff fma.txt nofma.txt | head
//
// Columns: i, exp's argument and result bits, log's argument and result
// bits, pow's two arguments and result bits. On a processor without fused
// multiply-add both runs are the same, and nothing can be found there.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

unsigned long long bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

}  // namespace

int main() {
  std::mt19937_64 g(12345);
  std::uniform_real_distribution<double> ue(-700, 700), ul(1e-3, 1e3),
      ux(0.01, 10), uy(-60, 60);
  for (int i = 0; i < 3000000; ++i) {
    // volatile: the compiler must not compute the results itself.
    volatile double a = ue(g), b = ul(g), x = ux(g), y = uy(g);
    std::printf("%d %a %016llx %a %016llx %a %a %016llx\n", i, double(a),
                bits(std::exp(a)), double(b), bits(std::log(b)), double(x),
                double(y), bits(std::pow(x, y)));
  }
}
