// design/phase1rule.h: the phase I dose-finding rule.
#ifndef COMBOSIM_DESIGN_PHASE1RULE_H_
#define COMBOSIM_DESIGN_PHASE1RULE_H_

#include "design/rules.h"
#include "records/trialstate.h"

constexpr double kCountLimit = 200;   // limit on ndeesc of a move's target

// Chooses the combination for the next phase I cohort from meantox and prsafe
// (fresh from updatetox) and writes it into cur1, cur2; returns 0. Escalates
// when prsafe > rules.escalate, de-escalates when prsafe < rules.deescalate.
// Returns 1, leaving cur1, cur2 at (0, 0), when the lowest combination is too
// toxic and more than rules.minpatients patients have been treated. Counts
// de-escalation calls in ndeesc.
int phase1rule(TrialState& s, const DesignRules& rules);

#endif  // COMBOSIM_DESIGN_PHASE1RULE_H_
