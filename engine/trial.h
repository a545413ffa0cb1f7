// engine/trial.h: one trial as a sequence of the design's steps, from the
// reset to the end-of-trial sums.
//
// After each cohort the design takes its steps (designstep): the posterior
// update, the phase I rule, at the end of phase I the admissible list and the
// switch to phase II, the phase II closures, and the randomisation of the next
// cohort or the final selection; each step says what it decided. Simulation
// (runtrial) and the conduct of a real trial (engine/conduct.h) drive the
// same sequence. They differ only in what they give it: the cohorts
// (simulated at the design's choice, or observed, which may deviate), and
// where each update starts its random numbers (UpdateStarts).
#ifndef COMBOSIM_ENGINE_TRIAL_H_
#define COMBOSIM_ENGINE_TRIAL_H_

#include <cstdint>
#include <ctime>

#include "design/design.h"
#include "design/drawstatus.h"
#include "design/effmodel.h"
#include "design/phase1rule.h"
#include "design/posterior.h"
#include "design/randomise.h"
#include "engine/outcome.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

class Observer;

// Where each posterior update of a trial starts its random numbers, and
// where the pick of each phase II cohort's combination draws its number.
class UpdateStarts {
 public:
  virtual ~UpdateStarts() = default;
  // Before every update (each phase I toxicity update and each phase II
  // update), with the trial record it starts from and the streams it will
  // draw from, which this may put elsewhere.
  virtual void beforeupdate(const TrialState& s, StreamState& streams) = 0;
  // Before the randomisation of a phase II cohort computes its probabilities
  // and draws the number that picks its combination. By default the pick
  // takes the next number after the update's draws.
  virtual void beforepick(const TrialState& s, StreamState& streams);
};

// What a trial's steps run on.
struct TrialRun {
  const Design& design;
  const Posterior& posterior;  // built from `design`
  StreamState& streams;        // every draw of the trial
  UpdateStarts* starts = nullptr;  // null: each update continues the streams
  bool wholegrid = false;  // every update gives meantox and prsafe of the
                           // whole grid (the same random numbers); otherwise
                           // phase I updates may give only what the phase I
                           // rule reads, phase II ones only the admissible
                           // entries)
};

// What the design decided after one cohort.
struct StepDecision {
  DrawStatus failure;  // a failed draw: nothing below is to be used

  // The phase I rule, after a phase I cohort's toxicity update.
  bool phase1 = false;
  Phase1Move move;

  // The switch to phase II after the last phase I cohort: the admissible
  // list (s.adm1, s.adm2, s.nadm, in grid order) from this last update, every
  // entry open.
  bool switched = false;
  double switchprsafe[kMaxDose][kMaxDose];  // switched: the prsafe of each
                                            // combination the list compared

  // A phase II update (at the switch and after each phase II cohort), and
  // what the stopping rules did with each entry.
  bool phase2 = false;
  StoppingCheck stopping;

  // The randomisation of the next phase II cohort.
  bool randomised = false;
  RandomDraw draw;

  // What comes next: the next cohort's phase and combination, or the end of
  // the trial.
  bool ended = false;
  bool nextphase1 = true;  // unless ended: the next cohort is a phase I one
  int next1 = 0;           // unless ended: its combination
  int next2 = 0;
  TrialEnd end = TrialEnd::kSelected;  // ended: how
  int selected = -1;  // end == kSelected: the admissible entry selected
};

// Fills the fixed fields of the trial record from the design's priors and the
// truth's probabilities and clears the accumulators over the grid. Returns
// clockstart, the processor clock.
std::clock_t preparetrials(const Design& design, const ScenarioInput& truth,
                           TrialState& s, Accumulators& acc);

// Clears the trial's counts: the next cohort is the first, a phase I cohort at
// the design's start (the lowest combination unless the rules say otherwise).
void starttrial(TrialState& s, const Design& design);

// Treats one cohort at (cur1, cur2): cohortsize1 patients in phase I,
// cohortsize2 in phase II; all toxicity draws, then all response draws, from
// uniform01(streams). Adds the outcomes to the trial's counts.
void gencohort(TrialState& s, const Design& design, StreamState& streams);

// Takes the design's steps after cohort number `cohort` (from 1), already
// added to the trial's counts with (cur1, cur2) at its combination. In phase
// I: the toxicity update and the phase I rule, which may stop the trial; after
// the last phase I cohort, the switch and the first phase II update. In
// phase II: the update and the closures. Then, unless every entry is closed,
// the randomisation of the next cohort or, after the last cohort, the
// selection. Leaves the next cohort's combination in (cur1, cur2) too.
// REQUIRES: the trial has not ended; 1 <= cohort <= ncohort1 + ncohort2.
StepDecision designstep(TrialState& s, int cohort, const TrialRun& run);

// Returns the admissible entry the trial selects: the open entry with the
// largest meaneff above 0, the earliest on ties, among the entries treated in
// the trial when `treatedonly`; -1 when there is none.
int bestentry(const TrialState& s, bool treatedonly = false);

// Fills the admissible list (adm1, adm2, nadm) from prsafe: every
// combination with prsafe > design.rules.admissible, in grid order (drug 1
// outer).
void admissiblelist(TrialState& s, const Design& design);

// Treats one cohort at (cur1, cur2), as gencohort does, but from `patients`
// patient by patient in order of enrolment: each patient's number for
// toxicity, then for response; a toxicity when the first is below the true
// toxicity, a response when the second is below the true response. Whatever
// the cohort sizes, the k-th patient of a trial draws the same two numbers.
void genpatients(TrialState& s, const Design& design, StreamState& patients);

// Trial `trial` (from 1) on the paired streams of `seed`: every kind of draw
// from streams of its own (numerics/streams.h, PairedKind).
struct PairedTrial {
  std::uint64_t seed = 0;
  std::uint64_t trial = 1;
};

// Simulates one whole trial, cohorts generated at the design's choice, and
// adds its counts (and selection) to acc; its outcome goes to `outcome` when
// given. Each update continues the streams; `observer`, when given, sees the
// trial record and the streams before every update. Returns a failed draw, if
// any; acc is then not updated.
DrawStatus runtrial(TrialState& s, const Design& design,
                    const Posterior& posterior, StreamState& streams,
                    Accumulators& acc, TrialOutcome* outcome = nullptr,
                    Observer* observer = nullptr);

// Simulates one whole trial as runtrial does, but on the paired streams of
// `paired`: the patients from theirs (genpatients), each phase I update after
// phase I cohort i from (kPhase1, i), each phase II update i from (kPhase2, i)
// under gibbs and, under quadrature, whose phase II updates draw only for
// the randomisation, from (kRandomise, i + 1), and the pick of phase II
// cohort i from (kPick, i). Two designs with the same phase I course thus
// draw the same numbers through phase II, whatever their number of phase I
// cohorts.
DrawStatus runtrial(TrialState& s, const Design& design,
                    const Posterior& posterior, const PairedTrial& paired,
                    Accumulators& acc, TrialOutcome* outcome = nullptr,
                    Observer* observer = nullptr);

#endif  // COMBOSIM_ENGINE_TRIAL_H_
