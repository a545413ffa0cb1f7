// formats/report.h: the operating-characteristics report.
#ifndef COMBOSIM_FORMATS_REPORT_H_
#define COMBOSIM_FORMATS_REPORT_H_

#include <ctime>
#include <istream>
#include <ostream>
#include <string>

#include "design/design.h"
#include "records/trialstate.h"

// What one copy of the report prints, computed once for both copies.
struct ReportData {
  std::string calendar;   // calendar time text, ending with its newline
  double cpuhours = 0;    // processor time of the trials, in hours
  double inconclusive = 0;  // percentage of trials without a selection
  Design design;            // the design reported, with its settings and
                            // thresholds; its ntrial: the trials run
};

// Returns the path of the report file: outdir followed by "results.txt".
std::string reportpath(const std::string& outdir);

// Returns true when the report file in `outdir` can be opened for appending
// (it is created if absent, and left as it was otherwise).
bool reportwritable(const std::string& outdir);

// Prints the two lines that say the report file cannot be written.
void reportfilefailure(std::ostream& out);

// Returns 100 minus the sum of the selection percentages (nselect / ntrial)
// * 100 over the design's grid, with design.settings.ntrial trials, added in
// print order: drug-2 levels from the highest down, drug-1 levels ascending.
double inconclusivepercent(const Accumulators& acc, const Design& design);

// Returns the processor time between two clock readings, in hours.
double cpuhoursbetween(std::clock_t start, std::clock_t end);

// Writes one copy of the report. `triallabel` precedes the number of trials
// on the time line: the file and console copies differ only there.
void writereportcopy(std::ostream& os, const ScenarioInput& scenario,
                     const Accumulators& acc, const ReportData& data,
                     const char* triallabel);

// Label of the trial count in the file copy and in the console copy.
extern const char kFileTrialLabel[];
extern const char kConsoleTrialLabel[];

// The file copy of the report as one block of text, for the caller to
// append to the report file in one piece.
std::string reportblock(const ScenarioInput& scenario, const Accumulators& acc,
                        const ReportData& data);

// Shows the closing prompt and waits for one word (or the end of input).
void closingprompt(std::istream& in, std::ostream& console);

#endif  // COMBOSIM_FORMATS_REPORT_H_
