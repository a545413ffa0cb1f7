// next/output.h: what combosim-next prints for a trial: the files read, the
// design, the cohorts, the state, the posterior table, the decision in words
// with its numbers and, with replicates, its stability; as text or as one
// JSON object holding the same. Combinations are written by dose level,
// "(2, 1)" in text and [2, 1] in JSON.
#ifndef COMBOSIM_NEXT_OUTPUT_H_
#define COMBOSIM_NEXT_OUTPUT_H_

#include <ostream>
#include <string>
#include <vector>

#include "engine/conduct.h"
#include "formats/jsonfile.h"
#include "next/trialfile.h"

// Everything one run prints.
struct NextReport {
  std::vector<InputFile> inputs;
  TrialDesign design;
  Streams streams;              // where every update starts: fixed, or seeded
  std::vector<Cohort> cohorts;
  int replicates = 0;           // asked for
  ConductResult result;         // REQUIRES: result.problem is empty
};

// "(2, 1)" for the indices (1, 0).
std::string levels(Combination at);

// The decision in words, one line per step it took: the phase I rule, the
// admissible list, each closure, the end or the randomisation and its draw,
// e.g. "escalate: pr(toxicity<0.3) = 0.912 > 0.8 at (2, 1); candidates (3, 1)
// and (2, 2); next cohort at (2, 2)". `streams` names the random numbers of
// the draw.
std::vector<std::string> decisionwords(const Decision& d,
                                       const TrialDesign& design,
                                       const std::string& streams);

// What a decision comes to, in a few words: "escalate to (2, 2)", "stay at
// (2, 1)", "admissible (1, 1), (2, 1); next cohort at (2, 1)", "close (2, 2)
// (futile); select (1, 2)"...
std::string outcomelabel(const Decision& d);

// The random numbers behind the updates: "the program's fixed streams" or
// "the seeded streams (S, 1)".
std::string streamswords(const Streams& streams);

// Writes the report as text.
void writetext(std::ostream& out, const NextReport& r);

// The report as one JSON object.
Json reportjson(const NextReport& r);

#endif  // COMBOSIM_NEXT_OUTPUT_H_
