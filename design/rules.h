// design/rules.h: the design's decision thresholds and options, as data.
//
// The defaults are the design as published: a phase I cohort escalates when
// pr(toxicity < target) > 0.8 at the current combination and de-escalates
// when it is < 0.45; a combination enters phase II when the last phase I
// posterior gives pr(toxicity < target) > 0.4; in phase II an entry closes as
// unsafe when pr(toxicity < target) < 0.4 and as futile when
// pr(response > mineff) < 0.15. Entries close only with more than
// `minpatients_close` patients at the combination, and phase I stops at the
// lowest combination only with more than `minpatients_stop` patients in the
// trial (both 6). Phase II may randomise to every open admissible entry, and
// the first cohort is treated at the lowest combination.
#ifndef COMBOSIM_DESIGN_RULES_H_
#define COMBOSIM_DESIGN_RULES_H_

#include <string>

// Where phase II may randomise its cohorts.
enum class Phase2Scope {
  kAdmissible,  // every open admissible entry
  kTreated,     // open admissible entries with a patient in the trial
  kAdjacent,    // those, and open admissible entries one level from a
                // treated combination in exactly one drug
};

// "admissible", "treated", "adjacent".
const char* phase2scopename(Phase2Scope scope);

// The scope named `name`; false when there is none.
bool phase2scopefromname(const std::string& name, Phase2Scope& scope);

struct DesignRules {
  double escalate = 0.8;     // escalate when prsafe > escalate
  double deescalate = 0.45;  // de-escalate when prsafe < deescalate
  double admissible = 0.4;   // admissible for phase II when prsafe > admissible
  double safety = 0.4;       // close as unsafe when admprsafe < safety
  double futility = 0.15;    // close as futile when admpreff < futility
  int minpatients_stop = 6;  // phase I stops at the lowest combination only
                             // with "more than" this many patients in the trial
  int minpatients_close = 6;  // phase II closes an entry only with "more
                              // than" this many patients at it
  Phase2Scope phase2 = Phase2Scope::kAdmissible;
  int start1 = 0;  // the first cohort's combination, drug-1 index from 0
  int start2 = 0;  // and drug-2 index from 0
};

// True when the options beyond the thresholds are at their defaults: the two
// minimum-patient counts equal, phase II over every admissible entry, the
// start at the lowest combination. Files then record the rules as before the
// options existed.
bool defaultoptions(const DesignRules& rules);

// The options that are not at their defaults, as `name=value` pairs joined by
// ';' in a fixed order, e.g. "minpatients_stop=3;phase2=treated;start=[2,2]";
// "" when defaultoptions().
std::string optionstext(const DesignRules& rules);

// Returns "" when every threshold lies strictly inside (0, 1), deescalate is
// below escalate, the minimum-patient counts are not negative and the start
// lies inside the ndose1 by ndose2 grid; otherwise one line naming the first
// field at fault, e.g. "escalate: must lie strictly between 0 and 1" or
// "start: [5, 1] lies outside the 4 by 4 grid".
std::string checkrules(const DesignRules& rules, int ndose1, int ndose2);

#endif  // COMBOSIM_DESIGN_RULES_H_
