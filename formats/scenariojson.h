// formats/scenariojson.h: the JSON objects of a scenario (the truth the
// trials are drawn from and the design that runs them) and of a design
// alone, read field by field and checked. Batch scenario files, design files
// of combosim-next and the scenarios and base of a study are all read here.
#ifndef COMBOSIM_FORMATS_SCENARIOJSON_H_
#define COMBOSIM_FORMATS_SCENARIOJSON_H_

#include <string>

#include "design/design.h"
#include "design/rules.h"
#include "engine/simulate.h"
#include "formats/jsonfile.h"

// Reads a scenario object: every field of ndose1, ndose2, scentox, sceneff
// (arrays [drug-1 level][drug-2 level]), targettox, mineff, scenprior1,
// scenprior2, ncohort1, cohortsize1, ncohort2, cohortsize2 and ntrial, and
// optionally "rules" (rulesfromjson) and "posterior" (posteriorfromjson); no
// other field. Probabilities below 0 are refused on top of checkscenario().
// Returns "" or the problem, "FIELD: TEXT" with array positions counted
// from 1; `scenario` is set only when it is "".
std::string scenariofromjson(const Json& j, Scenario& scenario,
                             DesignRules& rules, PosteriorChoice& posterior);

// Reads the design's fields of object `j` (ndose1, ndose2, targettox,
// mineff, the priors, cohort numbers and sizes, optionally "rules" and
// "posterior") into `design`. With `alone`, `j` may hold nothing else (a
// design file, where a scenario's own fields scentox, sceneff and ntrial are
// allowed and not read); otherwise it may also hold "cohorts". Returns "" or
// the problem, "FIELD: TEXT".
std::string designfromjson(const Json& j, bool alone, Design& design);

#endif  // COMBOSIM_FORMATS_SCENARIOJSON_H_
