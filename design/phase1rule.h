// design/phase1rule.h: the phase I dose-finding rule.
#ifndef COMBOSIM_DESIGN_PHASE1RULE_H_
#define COMBOSIM_DESIGN_PHASE1RULE_H_

#include "design/design.h"
#include "records/trialstate.h"

constexpr double kCountLimit = 200;   // limit on ndeesc of a move's target

// Chooses the combination for the next phase I cohort from meantox and prsafe
// (fresh from updatetox) and writes it into cur1, cur2; returns 0. Escalates
// when prsafe > design.rules.escalate, de-escalates when prsafe <
// design.rules.deescalate. Returns 1, leaving cur1, cur2 at (0, 0), when the
// lowest combination is too toxic and more than design.rules.minpatients
// patients have been treated. Counts de-escalation calls in ndeesc.
int phase1rule(TrialState& s, const Design& design);

// The neighbours of (cur1, cur2) among which phase1rule chooses, in its order
// of looking: escalation targets when `up`, de-escalation targets otherwise.
// The first inside the grid is always among them, each later one only when it
// is eligible (its mean toxicity on the move's side of the current one, for a
// diagonal). Writes their indices into d1, d2 and returns how many, 0 to 4;
// 0 at the edge of the grid the move heads for. Changes nothing.
int phase1candidates(const TrialState& s, const Design& design, bool up,
                     int d1[4], int d2[4]);

#endif  // COMBOSIM_DESIGN_PHASE1RULE_H_
