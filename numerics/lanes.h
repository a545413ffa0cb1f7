// numerics/lanes.h: two doubles side by side in one vector register.
//
// Arithmetic on Lanes is done lane by lane with the rounding of scalar
// doubles, so a loop that keeps two running sums (or works on two entries)
// in the lanes gives the same bits as the scalar loop, in about half the
// instructions.
#ifndef COMBOSIM_NUMERICS_LANES_H_
#define COMBOSIM_NUMERICS_LANES_H_

#include <cstring>

typedef double Lanes __attribute__((vector_size(16)));
// The result of comparing Lanes: -1 in a lane where it holds, else 0.
typedef long long LaneCounts __attribute__((vector_size(16)));

// x[0] and x[1] as Lanes, and back; x need not be aligned.
inline Lanes loadlanes(const double* x) {
  Lanes v;
  std::memcpy(&v, x, sizeof v);
  return v;
}
inline void storelanes(double* x, Lanes v) { std::memcpy(x, &v, sizeof v); }

#endif  // COMBOSIM_NUMERICS_LANES_H_
