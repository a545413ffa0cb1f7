// engine/conduct.h: running a real trial with the design. From the cohorts
// treated so far, the state the design is in, reached by the same sequence
// of the design's steps as a simulated trial (designstep, engine/trial.h),
// and its decision for the next step with the numbers behind it; and how
// often that decision comes out the same under other random numbers.
//
// Plain records in, plain records out: combinations are indices from 0 (dose
// level - 1); problems and warnings are one line of text each, naming the
// cohort (counted from 1) and the field, with combinations written by level,
// "(2, 1)". Like simulate(), conduct keeps no state between calls: every
// posterior update draws from streams that start where UpdateStreams says.
#ifndef COMBOSIM_ENGINE_CONDUCT_H_
#define COMBOSIM_ENGINE_CONDUCT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "design/design.h"
#include "design/drawstatus.h"
#include "design/phase1rule.h"
#include "design/posterior.h"
#include "design/rules.h"
#include "engine/observer.h"
#include "engine/outcome.h"
#include "engine/simulate.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

// Returns "" when a scenario could hold the design (checkscenario), the
// rules pass checkrules and, under quadrature, the method's settings pass
// checkquadrature; otherwise one line naming the first field at fault, e.g.
// "ncohort1: The total number of cohorts ... must be at least 1",
// "rules.escalate: must lie strictly between 0 and 1" or
// "posterior.ndraws: must be from 100 to 2000".
// The settings' ntrial and outdir are not read.
std::string checkdesign(const Design& design);

// A combination of the grid, by index from 0.
struct Combination {
  int d1 = 0;
  int d2 = 0;
  bool operator==(const Combination&) const = default;
};

// One cohort as treated.
struct Cohort {
  Combination at;  // where it was treated
  int npat = 0;    // patients, 1 to kMaxCohortValue
  int ntox = 0;    // of whom had a toxicity, 0 to npat
  int nresp = 0;   // of whom responded, 0 to npat
};

// Where the random streams stand as each posterior update starts. Updates
// are counted from 0 over the whole trial, in the order the design makes
// them (one per phase I cohort; one at the switch to phase II; one per
// phase II cohort), as the simulator's Observer::beforeupdate sees them.
struct UpdateStreams {
  StreamState fresh;               // every update starts here,
  std::vector<StreamState> given;  // but update k at given[k], k < size
};

// Streams on which every update starts afresh from the start of `streams`:
// the program's fixed-seed generators, or the seeded ones of (seed, shard).
UpdateStreams freshstreams(const Streams& streams);

// Where the trial stands after a decision.
enum class Stage {
  kPhase1,  // the next cohort is a phase I cohort, at `next`
  kPhase2,  // the next cohort is a phase II cohort, at `next`
  kEnded,   // the trial is over (`end` says how)
};

// A posterior probability that a rule compared with a threshold.
enum class Compared {
  kPhase1,      // prsafe at the current combination, with escalate and
                // deescalate
  kAdmissible,  // prsafe of a combination at the switch, with admissible
  kSafety,      // pr(toxicity < target) of an open combination with more
                // than minpatients_close patients, with safety
  kFutility,    // pr(response > mineff) of the same, with futility
};
struct Comparison {
  Compared what = Compared::kPhase1;
  Combination at;
  double value = 0;
  double se = 0;  // gibbs: its Monte Carlo standard error (CloseCall); 0
                  // under quadrature
};

// An admissible combination closed by a phase II update.
struct Closure {
  int entry = 0;        // its index in the admissible list
  Combination at;
  int cohort = 0;       // cohorts treated when it closed
  int npat = 0;         // patients at the combination then
  bool futile = false;  // pr(response > mineff) < rules.futility
  bool unsafe = false;  // pr(toxicity < target) < rules.safety
  double preff = 0;     // pr(response > mineff) then
  double prsafe = 0;    // pr(toxicity < target) then
};

// Under gibbs, a decision the sampler's noise could turn: a compared
// probability within two Monte Carlo standard errors of a threshold it was
// compared with, or two phase I candidates whose distances to the target
// differ by less than two standard errors of that difference. Each standard
// error comes from the update's own 2000 retained draws by batch means (20
// batches of 100); no random number is drawn for it.
struct CloseCall {
  bool candidates = false;  // two candidates, or else a threshold
  Compared what = Compared::kPhase1;  // threshold: the comparison
  Combination at;           // threshold: where; candidates: the chosen one
  Combination other;        // candidates: the other one
  double value = 0;         // threshold: the probability; candidates: the
                            // other's distance |mean toxicity - target| less
                            // the chosen one's
  double threshold = 0;     // threshold: the threshold it is near
  double se = 0;            // the standard error of `value`
};

// One combination's posterior after the latest update.
struct PosteriorRow {
  Combination at;
  int npat = 0;        // the trial's counts at the combination
  int ntox = 0;
  int nresp = 0;
  double meantox = 0;  // posterior mean toxicity
  double prsafe = 0;   // pr(toxicity < targettox)
  int entry = -1;      // phase II: index in the admissible list; -1: none
  double preff = 0;    // entry >= 0: pr(response > mineff)
  double meaneff = 0;  // entry >= 0: posterior mean response
  bool open = false;   // entry >= 0: open for the next cohort
};

// The design's decision after a cohort, with the numbers behind it.
struct Decision {
  int cohort = 0;  // cohorts treated (0: the start)

  // The phase I rule, after each phase I cohort's toxicity update.
  bool phase1 = false;
  Combination current;  // the last cohort's combination, the rule's start
  double prsafe = 0;    // pr(toxicity < target) there
  Branch branch = Branch::kStay;
  int ncand = 0;              // the neighbours the move chose among, in the
  Combination candidates[4];  // rule's order (none for kStay)
  int ntotal = 0;             // patients in the trial

  // The switch to phase II, after the last phase I cohort.
  bool switched = false;
  std::vector<Combination> admissible;  // the admissible list, grid order

  // A phase II update: at the switch and after each phase II cohort.
  bool phase2 = false;
  std::vector<Closure> closures;  // the entries this update closed

  // The randomisation of the next phase II cohort.
  bool randomised = false;
  std::vector<double> probs;  // per admissible entry; 0 when closed
  double u = 0;               // the first uniform number after the update
  int drawn = -1;             // the entry it chose

  // What comes next.
  Stage stage = Stage::kPhase1;
  Combination next;  // the next cohort's combination, unless kEnded
  TrialEnd end = TrialEnd::kSelected;  // kEnded: how the trial ended
  Combination selected;                // end == kSelected: the selection

  std::vector<Comparison> comparisons;  // every threshold comparison made
  std::vector<CloseCall> closecalls;    // gibbs: the close calls among them,
                                        // and among the candidates
  std::vector<PosteriorRow> table;      // the grid, drug 1 outer; empty at
                                        // the start
};

// How a trial ended, in words: "phase I stopped at the lowest combination",
// "no combination was admissible for phase II", "every admissible combination
// was closed", "no open combination has a mean response above 0", or
// "the trial is complete".
std::string endwords(TrialEnd end);

// The design's state after the cohorts so far, for one trial.
struct Conduct {
  Design design;
  std::shared_ptr<const Posterior> posterior;  // the design's method
  std::unique_ptr<TrialState> s;  // the trial record, as the simulator's
  int ncohort = 0;                // cohorts treated
  int nupdate = 0;                // posterior updates made
  Decision last;                  // the decision after the last cohort
  std::vector<Closure> closures;  // every closure so far, in order
};

// A trial before its first cohort, which goes to the lowest combination.
// REQUIRES: checkdesign(design) is "".
Conduct startconduct(const Design& design);

// A copy with a trial record of its own.
Conduct copyconduct(const Conduct& c);

// What adding one cohort gave.
struct CohortStep {
  std::string problem;  // the cohort is refused: counts out of range, a
                        // combination outside the grid, more cohorts than
                        // the design has, or a cohort after the design ended
                        // the trial; `c` is then unchanged. Or the sampler
                        // failed (`failure`); `c` is then not to be used.
  DrawStatus failure;
  std::vector<std::string> warnings;  // the cohort deviates from the design:
                                      // another combination or cohort size
  Decision decision;                  // the next step, also in c.last
};

// Adds the next cohort and takes the design's steps that follow it: the
// updates (each starting its random numbers where `starts` says), the phase
// I rule, the switch, the closures, the randomisation of the next cohort
// (from the last update's streams) or the selection.
CohortStep addcohort(Conduct& c, const Cohort& cohort,
                     const UpdateStreams& starts);

// How the next decision comes out under other random numbers.
struct OutcomeCount {
  Decision decision;  // the first replicate with this outcome
  int count = 0;
};
struct Spread {
  Compared what = Compared::kPhase1;
  Combination at;
  int n = 0;  // replicates that made the comparison
  double mean = 0;
  double sd = 0;  // with divisor n - 1; 0 for one replicate
  double min = 0;
  double max = 0;
};
// How often the randomisation chose a combination.
struct DrawCount {
  Combination at;
  int count = 0;
};
struct Stability {
  int replicates = 0;
  std::uint64_t seed = 0;              // S of the streams (S, r + 1)
  std::vector<OutcomeCount> outcomes;  // most frequent first, then first seen
  // With a phase II update in the decision: the rule decisions (admissible
  // list, closures, end and selection) apart from the randomisation, as
  // sameruledecisions groups them, and the randomisation's draws; each most
  // frequent first, then first seen.
  std::vector<OutcomeCount> rules;
  std::vector<DrawCount> draws;
  std::vector<Spread> spreads;         // in the order first compared
};

// True when two decisions come to the same: the same next combination or the
// same end and selection, after the same admissible list and closures.
bool sameoutcome(const Decision& a, const Decision& b);

// True when two decisions' rules decided alike: the same admissible list,
// closures and end (and selection), whatever the randomisation drew.
bool sameruledecisions(const Decision& a, const Decision& b);

// Decision pathways: the design's decisions for every outcome of the next
// cohorts, each hypothetical cohort taken through addcohort from the state
// after the real ones, its updates starting where the trial's would.
//
// In phase I the tree branches on the toxicities (0 to cohortsize1) of each
// next cohort of cohortsize1 patients at the combination the design chose,
// `depth` cohorts deep; responses do not enter phase I decisions (they are
// taken as 0). A pathway ends where the trial ends or at the switch to phase
// II, whose admissible list does not depend on responses. In phase II the
// tree is one cohort deep: a cohort of cohortsize2 at each open combination
// the design may randomise to, by (toxicities, responses).
constexpr int kMaxPathwayUpdates = 2000;
struct PathwayNode {
  int parent = -1;    // the node before it, or -1 for the next cohort
  int depth = 1;      // cohorts ahead, from 1
  Cohort cohort;      // the hypothetical cohort
  Decision decision;  // the design's decision after it
};
struct Pathways {
  std::string problem;     // refused (the rest is not to be used): the
                           // trial has ended, more than one cohort ahead in
                           // phase II, or more than kMaxPathwayUpdates
                           // updates; or the sampler failed
  int depth = 0;           // asked for
  bool phase2 = false;     // the next cohort is a phase II one
  DrawStatus failure;      // the sampler failed on a pathway
  double updates = 0;      // the updates the tree needs at most
  std::vector<PathwayNode> nodes;  // depth first, outcomes ascending
};

// The posterior updates a tree of `depth` cohorts from `c` needs at most:
// in phase I (cohortsize1 + 1)^k at k cohorts ahead, one more for each that
// reaches the switch; in phase II (cohortsize2 + 1)^2 per open combination.
double pathwayupdates(const Conduct& c, int depth);

// The pathways from the state `c` (which is not changed).
// REQUIRES: depth >= 1.
Pathways pathways(const Conduct& c, int depth, const UpdateStreams& starts);

struct ConductOptions {
  UpdateStreams streams;    // where each update starts
  int replicates = 0;       // R: recompute the last cohort's decision R times
  std::uint64_t seed = 0;   // replicate r on the seeded streams (seed, r + 1)
  Observer* observer = nullptr;  // or its starttrial(r) before replicate r,
                                 // from 1: false stops the replicates
  int pathways = 0;         // K > 0: the decision pathways K cohorts deep
                            // from the state after the cohorts
};

struct ConductResult {
  std::string problem;  // one line; the rest is not to be used then
  int cohort = 0;       // the cohort the problem is about, from 1
  DrawStatus failure;   // the sampler failed (problem says where)
  std::vector<std::string> warnings;
  std::vector<Decision> history;  // the decision after each cohort
  Decision next;                  // the decision after the last cohort, or
                                  // the start without cohorts
  std::vector<Closure> closures;  // every closure, in order
  Stability stability;            // with replicates and at least one cohort
  bool cancelled = false;         // the observer stopped the replicates:
                                  // `stability` is not to be used
  Pathways pathways;              // with options.pathways > 0
};

// Takes `cohorts` one by one through addcohort, with K pathways computes
// them from the state after the cohorts (a refusal goes to
// pathways.problem, and no replicates are run then), and, with R replicates,
// recomputes the last cohort's steps (its updates and draw, from the state
// before it) R times, replicate r with every update starting afresh on the
// seeded streams (seed, r + 1). Only the observer's starttrial is called.
// REQUIRES: checkdesign(design) is "".
ConductResult runconduct(const Design& design,
                         const std::vector<Cohort>& cohorts,
                         const ConductOptions& options);

#endif  // COMBOSIM_ENGINE_CONDUCT_H_
