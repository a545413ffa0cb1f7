// formats/exitcodes.h: the exit statuses of combosim, in one place.
#ifndef COMBOSIM_FORMATS_EXITCODES_H_
#define COMBOSIM_FORMATS_EXITCODES_H_

enum ExitStatus {
  kExitOk = 0,             // report written (or the scenario dialogue completed)
  kExitFatal = 1,          // sampler error code, or report file not writable
  kExitBadInput = 2,       // unconvertible input or end of input in the dialogue
  kExitBadDoseCount = 9,   // dose count above 10 or below 1
  // The sampler's internal guards end the process with their own statuses:
  // 1, 10, 30, 31, 32.
};

#endif  // COMBOSIM_FORMATS_EXITCODES_H_
