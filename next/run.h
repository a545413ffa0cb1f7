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
  int pathways = 0;          // K > 0: the decision pathways K cohorts ahead
  std::string pathwayscsv;   // with pathways: also written to this CSV file,
                             // which must not exist yet, or ""
  bool closecalls = true;    // gibbs: note decisions within the sampler's
                             // noise of a threshold
};

// Runs the trial of `options` and writes the report to `out` whole, or
// nothing. Writes one line per problem to `err` ("combosim-next: FILE: ...");
// with `json`, the warnings too. A `posterior` other than the method a file
// chose is refused as a bad command line, and so are pathways the design
// cannot give (past the end, more than one cohort ahead in phase II, more
// than 2000 posterior updates) and a pathways CSV file that exists. The CSV
// file is written whole (a temporary file linked into place) before the
// report, or not at all. Returns a NextExit.
int runnext(const NextOptions& options, std::ostream& out, std::ostream& err);

#endif  // COMBOSIM_NEXT_RUN_H_
