// design/phase1rule.h: the phase I dose-finding rule.
#ifndef COMBOSIM_DESIGN_PHASE1RULE_H_
#define COMBOSIM_DESIGN_PHASE1RULE_H_

#include "driver/trialstate.h"

// Thresholds of the rule on prsafe of the current combination.
constexpr double kEscalate = 0.8;     // escalate when prsafe > 0.8
constexpr double kDeescalate = 0.45;  // de-escalate when prsafe < 0.45
constexpr double kCountLimit = 200;   // limit on ndeesc of a move's target
constexpr int kStopPatients = 6;      // stop at (0, 0) only above this many

// Chooses the combination for the next phase I cohort from meantox and prsafe
// (fresh from updatetox) and writes it into cur1, cur2; returns 0. Returns 1,
// leaving cur1, cur2 at (0, 0), when the lowest combination is too toxic and
// more than 6 patients have been treated. Counts de-escalation calls in ndeesc.
int phase1rule(TrialState& s);

#endif  // COMBOSIM_DESIGN_PHASE1RULE_H_
