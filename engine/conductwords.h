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

// The posterior method's name: "gibbs" or "quadrature".
std::string posteriorname(PosteriorMethod method);

// The method in words: "gibbs", or "quadrature, nodes 48x48x8 (toxicity),
// 24x24 (response), 2000 draws per randomisation".
std::string posteriorwords(PosteriorMethod method,
                           const QuadratureSettings& quadrature);

// "(2, 1)" for the indices (1, 0).
std::string levels(Combination at);

// The same with the names of the design's dose levels, where it has them
// (labels1, labels2): "(20 mg, 5 mg)", or "(20 mg, 1)" with names for drug 1
// only. Every line of words below names the levels so.
std::string levels(Combination at, const Design& design);

// The name of level `level` (from 0) of drug `drug` (1 or 2): its label, or
// its number from 1.
std::string levelname(const Design& design, int drug, int level);

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
std::string outcomelabel(const Decision& d, const Design& design);  // named

// The rule decisions of `d` apart from the randomisation's draw: outcomelabel
// without the next cohort ("admissible (1, 1), (2, 1); close (2, 2)
// (futile)", "select (1, 2)"), or "no closure".
std::string rulelabel(const Decision& d);
std::string rulelabel(const Decision& d, const Design& design);  // named

// One line per close call of `d`, each starting "close call: ", e.g.
// "close call: pr(toxicity<0.3) = 0.812 at (2, 1) is within 2 Monte Carlo
// standard errors (SE 0.011) of 0.8 (escalate)".
std::vector<std::string> closecallwords(const Decision& d, const Design& design);

// A pathway's decision in a few words: in phase I the move with the
// probability behind it ("escalate to (3, 2); pr(toxicity<0.3) = 0.912 at
// (2, 2)"), at the switch "phase I complete: admissible (1, 1), (2, 1)"; in
// phase II the closures and then the randomisation's probabilities or the
// end. Marked "(close call)" when it has one.
std::string pathwaywords(const Decision& d, const Design& design);

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

// The name of the posterior probability a rule compares, in results:
// "pr_response_above_mineff" for futility, "pr_toxicity_below_target" for the
// others.
const char* probabilityname(Compared what);

// The names of the fields of a decision and of the posterior table, as
// combosim-next's JSON and the R package give them.
namespace decisionkey {
inline constexpr const char* kAfterCohort = "after_cohort";
inline constexpr const char* kOutcome = "outcome";
inline constexpr const char* kText = "text";
inline constexpr const char* kStage = "stage";
inline constexpr const char* kNext = "next";
inline constexpr const char* kEnd = "end";
inline constexpr const char* kSelected = "selected";
inline constexpr const char* kPhase1Rule = "phase1_rule";
inline constexpr const char* kAdmissible = "admissible";
inline constexpr const char* kClosures = "closures";
inline constexpr const char* kAt = "at";
inline constexpr const char* kBranch = "branch";
inline constexpr const char* kCandidates = "candidates";
inline constexpr const char* kPatients = "patients";
inline constexpr const char* kToxicities = "toxicities";
inline constexpr const char* kResponses = "responses";
inline constexpr const char* kFutile = "futile";
inline constexpr const char* kUnsafe = "unsafe";
inline constexpr const char* kPrSafe = "pr_toxicity_below_target";
inline constexpr const char* kPrEff = "pr_response_above_mineff";
inline constexpr const char* kMeanTox = "mean_toxicity";
inline constexpr const char* kMeanEff = "mean_response";
inline constexpr const char* kStatus = "status";
inline constexpr const char* kClosedAfter = "closed_after_cohort";
inline constexpr const char* kClosedAs = "closed_as";
inline constexpr const char* kProbabilities = "probabilities";
inline constexpr const char* kProbability = "probability";
inline constexpr const char* kU = "u";
inline constexpr const char* kDrawn = "drawn";
}  // namespace decisionkey

#endif  // COMBOSIM_ENGINE_CONDUCTWORDS_H_
