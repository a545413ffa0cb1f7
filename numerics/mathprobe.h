// numerics/mathprobe.h: which implementation of the C library's pow, log and
// exp this process runs.
//
// The GNU C library picks, when a program starts, one of two implementations
// of these functions by processor: one with fused multiply-add instructions
// (nearly every x86-64 processor since 2013), one without (older processors,
// or GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA). They differ in the last bit
// of rare results, and one such bit changes the course of every later trial,
// so results from machines of the two kinds do not add up to one run.
#ifndef COMBOSIM_NUMERICS_MATHPROBE_H_
#define COMBOSIM_NUMERICS_MATHPROBE_H_

// "fma" or "no-fma" when pow, log and exp give, to the last bit, the results
// of that implementation on a few inputs where the two are known to differ;
// "unknown" otherwise (another C library or version). The same for every
// call in one process.
const char* mathimplementation();

#endif  // COMBOSIM_NUMERICS_MATHPROBE_H_
