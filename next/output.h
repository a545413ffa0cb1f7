// next/output.h: what combosim-next prints for a trial: the files read, the
// design, the cohorts, the state, the posterior table, the decision in words
// with its numbers and, with replicates, its stability; as text or as one
// JSON object holding the same, in the words of engine/conductwords.h.
// Combinations are written by dose level, "(2, 1)" in text and [2, 1] in
// JSON.
#ifndef COMBOSIM_NEXT_OUTPUT_H_
#define COMBOSIM_NEXT_OUTPUT_H_

#include <ostream>
#include <string>
#include <vector>

#include "engine/conduct.h"
#include "engine/conductwords.h"
#include "formats/jsonfile.h"
#include "next/trialfile.h"

// Everything one run prints.
struct NextReport {
  std::vector<InputFile> inputs;
  Design design;
  Streams streams;              // where every update starts: fixed, or seeded
  std::vector<Cohort> cohorts;
  int replicates = 0;           // asked for
  bool closecalls = true;       // gibbs: note the close calls
  int pathways = 0;             // K > 0: show result.pathways
  ConductResult result;         // REQUIRES: result.problem is empty
};

// Writes the report as text.
void writetext(std::ostream& out, const NextReport& r);

// The report as one JSON object.
Json reportjson(const NextReport& r);

// The pathways of the report as CSV: one row per pathway's cohort, depth
// first, under the header node,parent,depth,cohort,drug1,drug2,patients,
// toxicities,responses,outcome,stage,next_drug1,next_drug2,
// pr_toxicity_below_target,admissible,closures,close_call and, in phase II,
// one randomisation probability per admissible combination
// (randomise_D1_D2), then, when the design names its dose levels,
// drug1_label and drug2_label of the cohort's combination. In phase II the outcome is the rule decisions and the
// next combination is left empty: the probabilities stand for the draw. At
// the switch the outcome is the admissible list alone. REQUIRES: r.pathways > 0 and no problem with them.
std::string pathwayscsv(const NextReport& r);

#endif  // COMBOSIM_NEXT_OUTPUT_H_
