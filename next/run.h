// next/run.h: one run of combosim-next: read the trial, take it through the
// design, print the report.
#ifndef COMBOSIM_NEXT_RUN_H_
#define COMBOSIM_NEXT_RUN_H_

#include <ostream>
#include <string>

#include "engine/simulate.h"

// Exit statuses of combosim-next.
enum NextExit {
  kNextOk = 0,       // the report is written (warnings included)
  kNextFailed = 1,   // a file could not be read or was refused, the sampler
                     // failed, or the report could not be written
  kNextUsage = 2,    // the command line is unusable
};

struct NextOptions {
  std::string trial;   // the trial file: JSON, or CSV (.csv) with `design`
  std::string design;  // the JSON design file, or ""
  Streams streams;     // where every update starts: fixed, or seeded (S, 1)
  int replicates = 0;  // R, for the stability of the next decision
  bool json = false;   // print one JSON object instead of text
  std::string posterior;  // "gibbs" or "quadrature": the method when the
                          // design holds none; "" for the design's own
};

// Runs the trial of `options` and writes the report to `out` whole, or
// nothing. Writes one line per problem to `err` ("combosim-next: FILE: ...");
// with `json`, the warnings too. A `posterior` other than the method a file
// chose is refused as a bad command line. Returns a NextExit.
int runnext(const NextOptions& options, std::ostream& out, std::ostream& err);

#endif  // COMBOSIM_NEXT_RUN_H_
