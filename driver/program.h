// driver/program.h: the whole run of combosim, from the dialogue to the
// closing prompt.
#ifndef COMBOSIM_DRIVER_PROGRAM_H_
#define COMBOSIM_DRIVER_PROGRAM_H_

#include <istream>
#include <ostream>

#include "driver/trialstate.h"

// Simulates settings.ntrial trials of the scenario, printing the progress
// line of each to `out`, and writes the report. Returns the exit status.
int simulateandreport(std::istream& in, std::ostream& out,
                      const ScenarioInput& scenario);

// Reads the scenario from `in` (dialogue on `out`), simulates and reports.
// Returns the exit status of the run.
int runprogram(std::istream& in, std::ostream& out);

#endif  // COMBOSIM_DRIVER_PROGRAM_H_
