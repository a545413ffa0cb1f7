// design/rules.h: the design's decision thresholds, as data.
//
// The defaults are the design as published: a phase I cohort escalates when
// pr(toxicity < target) > 0.8 at the current combination and de-escalates
// when it is < 0.45; a combination enters phase II when the last phase I
// posterior gives pr(toxicity < target) > 0.4; in phase II an entry closes as
// unsafe when pr(toxicity < target) < 0.4 and as futile when
// pr(response > mineff) < 0.15. Entries close only with more than
// `minpatients` patients at the combination, and phase I stops at the lowest
// combination only with more than `minpatients` patients in the trial.
#ifndef COMBOSIM_DESIGN_RULES_H_
#define COMBOSIM_DESIGN_RULES_H_

#include <string>

struct DesignRules {
  double escalate = 0.8;     // escalate when prsafe > escalate
  double deescalate = 0.45;  // de-escalate when prsafe < deescalate
  double admissible = 0.4;   // admissible for phase II when prsafe > admissible
  double safety = 0.4;       // close as unsafe when admprsafe < safety
  double futility = 0.15;    // close as futile when admpreff < futility
  int minpatients = 6;       // "more than" this many patients to close or stop
};

// Returns "" when every threshold lies strictly inside (0, 1), deescalate is
// below escalate and minpatients is not negative; otherwise one line naming
// the first field at fault, e.g. "escalate: must lie strictly between 0 and 1".
std::string checkrules(const DesignRules& rules);

#endif  // COMBOSIM_DESIGN_RULES_H_
