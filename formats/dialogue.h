// formats/dialogue.h: the console dialogue that reads and confirms a scenario.
//
// The dialogue is the program's only input. It greets the user, asks for the
// dose grid, the true toxicity and response probabilities, the target
// toxicity, the lowest acceptable response rate, the prior toxicity estimates,
// the cohorts of both phases and the number of trials, echoes matrices and
// lists back for confirmation and ends with a notice box. Answers are
// whitespace-delimited tokens, so several may stand on one line; a token is
// taken only when the stream's conversion reads all of it.
#ifndef COMBOSIM_FORMATS_DIALOGUE_H_
#define COMBOSIM_FORMATS_DIALOGUE_H_

#include <iosfwd>

#include "records/trialstate.h"

// Runs the whole dialogue: prompts, messages and echoes go to `out` (flushed
// before every read), answers come from `in`. Uses no other stream, so a
// batch caller may pass an output stream without a buffer to stay silent. A
// UTF-8 byte-order mark before the first answer is skipped.
//
// Returns kExitOk when every answer is confirmed; `s` (all fields but
// `outdir`, which is left alone) and `scen` then hold the scenario. Otherwise
// returns the status the program must end with, after a one-line message on
// `out`:
//   kExitBadDoseCount  a drug's number of dose levels is above 10 or below 1;
//   kExitBadInput      an answer is not a number (not a whole number where
//                      one is asked, or out of range for its type), or the
//                      input ends before the dialogue does.
// With `terminal` (the answers are typed at a terminal), a refused answer is
// not fatal either: the message says what was typed and why it is refused,
// the rest of its line is dropped and the same value is asked for again.
// Out-of-range probabilities, priors and cohort numbers are never fatal: a
// one-line message is printed and the same value is read again.
int readscenario(std::istream& in, std::ostream& out, SimulationSettings& s,
                 ScenarioInput& scen, bool terminal = false);

// Prints the ndose1 by ndose2 cells of `m` (indexed [drug-1 level][drug-2
// level]) as a grid: drug-2 levels as rows, highest first, drug-1 levels as
// columns, then a rule, the column numbers and the drug-1 label.
// REQUIRES: 1 <= ndose1, ndose2 <= kMaxDose.
void showgrid(std::ostream& out, const double m[kMaxDose][kMaxDose], int ndose1,
              int ndose2);

#endif  // COMBOSIM_FORMATS_DIALOGUE_H_
