// console/program.h: the whole run of combosim, from the dialogue to the
// closing prompt.
#ifndef COMBOSIM_CONSOLE_PROGRAM_H_
#define COMBOSIM_CONSOLE_PROGRAM_H_

#include <istream>
#include <ostream>

#include "design/drawstatus.h"
#include "records/trialstate.h"

// Simulates settings.ntrial trials of the scenario, printing the progress
// line of each to `out`, and writes the report. Returns the exit status.
int simulateandreport(std::istream& in, std::ostream& out,
                      const ScenarioInput& scenario);

// Prints the message of a failed draw (a sampler guard's on the standard
// error, others on `out`) and returns the exit status the process must end
// with.
int samplerfailure(std::ostream& out, const DrawStatus& status);

// Reads the scenario from `in` (dialogue on `out`), simulates and reports.
// Returns the exit status of the run.
int runprogram(std::istream& in, std::ostream& out);

#endif  // COMBOSIM_CONSOLE_PROGRAM_H_
