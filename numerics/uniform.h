// numerics/uniform.h: the fixed-seed uniform generator.
//
// Three linear congruential generators and a shuffle table of 97 slots, from
// the fixed seed word -29, initialised lazily at the first draw and never
// reseeded. The generator's whole state is a UniformState; the streams of
// numerics/streams.h hold one and draw from it with uniformnext.
#ifndef COMBOSIM_NUMERICS_UNIFORM_H_
#define COMBOSIM_NUMERICS_UNIFORM_H_

// The generator's state. The defaults are the program-start state.
struct UniformState {
  int rngseed = -29;           // seed word; < 0 asks for initialisation
  int rngready = 0;            // 1 once initialised
  int rnglcg1 = 0;             // generator 1, in 0..259199
  int rnglcg2 = 0;             // generator 2, in 0..134455
  int rnglcg3 = 0;             // generator 3, in 0..242999
  double rngshuffle[97] = {};  // slots 1..97 at indices 0..96
};

// Initialises `state` from its seed word: seeds the three generators and
// fills the 97 slots. uniformnext does this itself when it is due.
void uniforminit(UniformState& state);

// Returns the next number from `state` (initialising it first when its seed
// word is negative or it is not yet initialised) and advances it: in
// [0, 1.0000000022113151]; it can be exactly 0 and, rarely, slightly above 1.
double uniformnext(UniformState& state);

// The value put into a slot from the states s1 of generator 1 and s2 of
// generator 2: (s1 + s2 * 7.4373773e-06) * 3.8580247e-06. The two factors are
// the decimals as written, not 1/134456 and 1/259200, so the value is 0 for
// s1 = s2 = 0 and reaches 1 for s1 = 259199, s2 >= 134378.
double uniformslot(int s1, int s2);

#endif  // COMBOSIM_NUMERICS_UNIFORM_H_
