// engine/conductwords.h: a conducted trial's state and decision in words, as
// combosim-next and the R package say them. Combinations are written by
// dose level, "(2, 1)" for the indices (1, 0).
#ifndef COMBOSIM_ENGINE_CONDUCTWORDS_H_
#define COMBOSIM_ENGINE_CONDUCTWORDS_H_

#include <string>
#include <vector>

#include "engine/conduct.h"
#include "numerics/streams.h"

// A probability with three decimals, or four when three would read as
// `threshold`, the value it was compared with.
std::string probtext(double v, double threshold = -1);

// "pr(toxicity<T)" and "pr(response>M)" for the design's target T and
// lowest acceptable response M.
std::string toxwords(const Design& design);
std::string effwords(const Design& design);

// "(2, 1)" for the indices (1, 0).
std::string levels(Combination at);

// The random numbers behind the updates: "the program's fixed streams" or
// "the seeded streams (S, K)".
std::string streamswords(const Streams& streams);

// The decision in words, one line per step it took: the phase I rule, the
// admissible list, each closure, the end or the randomisation and its draw,
// e.g. "escalate: pr(toxicity<0.3) = 0.912 > 0.8 at (2, 1); candidates (3, 1)
// and (2, 2); next cohort at (2, 2)". `streams` names the random numbers of
// the draw.
std::vector<std::string> decisionwords(const Decision& d,
                                       const Design& design,
                                       const std::string& streams);

// What a decision comes to, in a few words: "escalate to (2, 2)", "stay at
// (2, 1)", "admissible (1, 1), (2, 1); next cohort at (2, 1)", "close (2, 2)
// (futile); select (1, 2)"...
std::string outcomelabel(const Decision& d);

// The state after decision `d` with `total` patients treated in all: "state after
// cohort 4: phase I, 4 of 10 phase I cohorts treated, 12 patients", in phase
// II with the open and closed combinations, or the end.
std::string statewords(const Decision& d, const Design& design, int total);

// Why a combination closed: "futile", "unsafe" or "futile and unsafe".
std::string closurewhy(const Closure& x);

// A spread's probability and the thresholds it was compared with:
// "pr(toxicity<0.3) at (3, 2), against 0.8 (escalate) and 0.45 (de-escalate)".
std::string spreadwords(const Spread& s, const Design& design);

// The names of the stages, branches and compared probabilities in results:
// "phase1", "phase2", "ended"; "escalate", "stay", "deescalate"; "phase1",
// "admissible", "safety", "futility".
const char* stagename(Stage stage);
const char* branchname(Branch branch);
const char* comparedname(Compared what);

#endif  // COMBOSIM_ENGINE_CONDUCTWORDS_H_
