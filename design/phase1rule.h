// design/phase1rule.h: the phase I dose-finding rule.
#ifndef COMBOSIM_DESIGN_PHASE1RULE_H_
#define COMBOSIM_DESIGN_PHASE1RULE_H_

#include "design/design.h"
#include "records/trialstate.h"

constexpr double kCountLimit = 200;   // limit on ndeesc of a move's target

// How the rule read pr(toxicity < target) at the current combination.
enum class Branch {
  kEscalate,    // above rules.escalate
  kStay,        // from rules.deescalate to rules.escalate
  kDeescalate,  // below rules.deescalate
};

// What the rule decided.
struct Phase1Move {
  Branch branch = Branch::kStay;
  // The neighbours of the current combination the move chose among, in the
  // rule's order of looking (none for kStay; none at the edge of the grid the
  // move heads for): the first inside the grid always, each later one only
  // when it is eligible (its mean toxicity on the move's side of the current
  // one, for a diagonal).
  int ncand = 0;
  int cand1[4] = {};
  int cand2[4] = {};
  bool stopped = false;  // the lowest combination is too toxic: the trial stops
};

// Chooses the combination for the next phase I cohort from meantox and prsafe
// (fresh from the toxicity posterior) and writes it into cur1, cur2.
// Escalates when prsafe > design.rules.escalate, de-escalates when prsafe <
// design.rules.deescalate. Stops, leaving cur1, cur2 at (0, 0), when the
// lowest combination is too toxic and more than design.rules.minpatients_stop
// patients have been treated. Counts de-escalation calls in ndeesc.
Phase1Move phase1rule(TrialState& s, const Design& design);

#endif  // COMBOSIM_DESIGN_PHASE1RULE_H_
