// numerics/uniform.h: the process-wide uniform random stream.
//
// Three linear congruential generators and a shuffle table of 97 slots, from
// the fixed seed word -29, initialised lazily at the first call and never
// reseeded. This is one of the program's two process-wide random streams; its
// state lives only in uniform.cc.
#ifndef COMBOSIM_NUMERICS_UNIFORM_H_
#define COMBOSIM_NUMERICS_UNIFORM_H_

// Returns the next number of the stream: in [0, 1.0000000022113151]; it can be
// exactly 0 and, rarely, slightly above 1. Advances the stream.
double uniform01();

// Puts the stream back to its program-start state (tests and batch runs).
void uniform01reset();

#endif  // COMBOSIM_NUMERICS_UNIFORM_H_
