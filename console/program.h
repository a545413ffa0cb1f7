// console/program.h: the whole run of combosim, from the dialogue to the
// closing prompt.
#ifndef COMBOSIM_CONSOLE_PROGRAM_H_
#define COMBOSIM_CONSOLE_PROGRAM_H_

#include <istream>
#include <ostream>

#include "design/drawstatus.h"
#include "engine/simulate.h"

// Simulates scenario.settings.ntrial trials of the scenario under the default
// rules, printing the progress line of each to `out`, and writes the report:
// appended whole to the report file in scenario.settings.outdir (see
// console/appendwhole.h), then shown on `out`. Returns the exit status: 1 when
// the report file could not be written.
int simulateandreport(std::istream& in, std::ostream& out,
                      const Scenario& scenario);

// Prints the message of a failed draw (a sampler guard's on the standard
// error, others on `out`) and returns the exit status the process must end
// with.
int samplerfailure(std::ostream& out, const DrawStatus& status);

// Reads the scenario from `in` (dialogue on `out`; `terminal`: typed at a
// terminal), simulates and reports. Returns the exit status of the run: when
// `out` could not be written, 1 after a line on the standard error (or the
// dialogue's own failure status).
int runprogram(std::istream& in, std::ostream& out, bool terminal = false);

// The process-wide precautions of combosim, called first in main: closed
// standard streams get /dev/null (read only), and a broken pipe or a
// file-size limit fails a write instead of ending the process.
void setupprocess();

#endif  // COMBOSIM_CONSOLE_PROGRAM_H_
