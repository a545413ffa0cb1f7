// batch/resulttext.h: a result as the files for people and spreadsheets:
// the report block of NAME.txt, the rows of NAME.trials.csv, summary.csv
// and oc.csv, and what report.html shows; and the check that a file is one
// of this program's outputs.
#ifndef COMBOSIM_BATCH_RESULTTEXT_H_
#define COMBOSIM_BATCH_RESULTTEXT_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "batch/results.h"
#include "engine/outcome.h"
#include "formats/htmlreport.h"

// The header line of NAME.trials.csv, and the row of one trial: its number,
// the selected combination ("d1,d2", levels from 1; empty for none), the
// reason it ended, and its patients, toxicities, responses and patients
// treated at overly toxic combinations.
void writetrialsheader(std::ostream& os);
void writetrialrow(std::ostream& os, std::int64_t trial,
                   const TrialOutcome& outcome);

// Writes the report block in the results.txt layout, with the result's
// design and rules and ntrial = r.ntrial, followed by a line of the design
// options when they are not at their defaults, and the lines on the
// generators and the math functions.
void writereporttext(std::ostream& os, const BatchResult& r);

// True when `text`, the contents of the file `name`, is a file this program
// writes for a scenario: a report block (NAME.txt) closing with the lines on
// the generators and the math functions, a result of combosim-batch
// (NAME.json) or a trials file (NAME.trials.csv) by its header.
bool isbatchoutput(const std::string& name, const std::string& text);

// True when some result's rules hold an option not at its default
// (defaultoptions()): summary.csv and oc.csv then end with an `options`
// column, optionstext() of each result's rules.
bool anyoptions(const std::vector<BatchResult>& results);

// True when some result's posterior method is not gibbs: summary.csv and
// oc.csv then end with the columns posterior (the method), toxnodes and
// effnodes ("48x48x8", "24x24"), draws and boost, the last four empty for
// gibbs.
bool anyposterior(const std::vector<BatchResult>& results);

// The header line of summary.csv, and the rows of one result: one per
// combination, drug-1 level outer, levels from 1; each row ends with the
// scenario's targettox, mineff and rules, and with `options` its options.
void writesummaryheader(std::ostream& os, bool options, bool posterior);
void writesummaryrows(std::ostream& os, const BatchResult& r, bool options,
                      bool posterior);

// The header line of oc.csv, and the row of one result: the scenario's name,
// every figure of ocfigures() but the last two (empty where it is not a
// number), then the trials, generator, seed, number of shards, targettox,
// mineff and rules, then the last two figures (untried_patients and its
// standard error), and with `options` the options.
void writeocheader(std::ostream& os, bool options, bool posterior);
void writeocrow(std::ostream& os, const BatchResult& r, bool options,
                bool posterior);

// What the HTML report shows of `r`.
HtmlScenario htmlscenario(const BatchResult& r);

#endif  // COMBOSIM_BATCH_RESULTTEXT_H_
