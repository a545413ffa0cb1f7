// numerics/uniform.cc: three congruential generators behind a shuffle table.
//
// Generators 1 and 2 together fill a slot with a value of fine resolution;
// generator 3 picks the slot handed out next, which is then refilled. Every
// step is s := (multiplier * s + increment) mod modulus in 32-bit signed
// arithmetic; the largest intermediate, 7141 * 259199 + 54773 = 1850994832,
// stays below 2^31.
#include "numerics/uniform.h"

namespace {

constexpr int kSlots = 97;

int step1(int s) { return (7141 * s + 54773) % 259200; }
int step2(int s) { return (8121 * s + 28411) % 134456; }
int step3(int s) { return (4561 * s + 51349) % 243000; }

}  // namespace

double uniformslot(int s1, int s2) {
  return (s1 + s2 * 7.4373773e-06) * 3.8580247e-06;
}

void uniforminit(UniformState& state) {
  state.rngready = 1;
  int s1 = (54773 - state.rngseed) % 259200;
  s1 = step1(s1);
  const int s2 = s1 % 134456;
  s1 = step1(s1);
  const int s3 = s1 % 243000;
  state.rnglcg1 = s1;
  state.rnglcg2 = s2;
  // Generator 3 is not stepped while the slots are filled.
  for (int k = 0; k < kSlots; ++k) {
    state.rnglcg1 = step1(state.rnglcg1);
    state.rnglcg2 = step2(state.rnglcg2);
    state.rngshuffle[k] = uniformslot(state.rnglcg1, state.rnglcg2);
  }
  state.rnglcg3 = s3;
  state.rngseed = 1;
}

double uniformnext(UniformState& state) {
  if (state.rngseed < 0 || state.rngready == 0) uniforminit(state);
  state.rnglcg1 = step1(state.rnglcg1);
  state.rnglcg2 = step2(state.rnglcg2);
  state.rnglcg3 = step3(state.rnglcg3);
  // Slot k = 1 + (97 * s3) div 243000, in 1..97; index k - 1.
  const int j = (kSlots * state.rnglcg3) / 243000;
  const double result = state.rngshuffle[j];
  state.rngshuffle[j] = uniformslot(state.rnglcg1, state.rnglcg2);
  return result;
}
