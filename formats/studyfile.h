// formats/studyfile.h: a study file, which names designs to compare on the
// same scenarios:
//
//   {"scenarios": ["scenarios/a.json", "scenarios/b.json"],
//    "designs": [{"name": "A"}, {"name": "strict", "rules": {"escalate": 0.9}}],
//    "reference": "A", "trials": 1000, "seed": 5, "paired": true,
//    "base": "trial_design.json"}
//
// A scenario file (a JSON scenario of combosim-batch, its path relative to
// the study file) gives the truth: the grid, scentox, sceneff, and the
// targettox and mineff that classify it. A design is a base plus changes to
// the design's fields only: scenprior1, scenprior2, ncohort1, cohortsize1,
// ncohort2, cohortsize2, "rules" (a change names only the rules it changes;
// the others keep the base's) and "posterior" (replaced whole). The base is
// the study's "base", a design file of combosim-next given as its path or
// as its fields, whose grid, targettox and mineff must be each scenario's;
// without one, each scenario's own design fields. "trials" replaces each
// scenario's ntrial. "paired" (default true) needs "seed", 0 to 2^32 - 1;
// without "paired" a study may leave out the seed, and its designs then run
// on the fixed-seed generators. Design names are letters, digits, - and _.
// "posterior" sets the method of every design that does not change it.
//
// A study that calibrates has "search" (formats/searchspace.h), and with it
// optionally "objective", "constraints" and "budget", instead of "designs"
// and "reference"; its candidates race on paired trials.
#ifndef COMBOSIM_FORMATS_STUDYFILE_H_
#define COMBOSIM_FORMATS_STUDYFILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "design/rules.h"
#include "engine/simulate.h"
#include "formats/jsonfile.h"

// One design of the study.
struct StudyDesign {
  std::string name;
  Json changes = Json::object();  // the design fields it changes
};

// One design on one scenario, as it runs.
struct StudyCell {
  Scenario scenario;  // the scenario's truth, the design's settings and
                      // priors, the study's trials
  DesignRules rules;
  PosteriorChoice posterior;
};

// One scenario of the study.
struct StudyScenario {
  std::string path;              // the file, relative to the study's folder
                                 // as given there, as the program opens it
  std::string name;              // its file name without the extension
  std::vector<StudyCell> cells;  // one per design, in the designs' order
  Json fields;                   // the scenario object every design changes:
                                 // its file's, with the base's design
                                 // fields, the study's trials and method
};

struct Study {
  std::string path;                    // the study file
  std::vector<StudyDesign> designs;    // in the file's order
  std::size_t reference = 0;           // the reference among `designs`
  std::vector<StudyScenario> scenarios;
  int trials = 0;                      // 0: each scenario's own ntrial
  bool paired = true;
  bool seeded = false;
  std::uint64_t seed = 0;
  std::string base;                    // the base's file, "fields" when
                                       // given in the study, "" for none
  std::vector<std::string> notes;      // one line per field the study
                                       // replaces in a scenario
  Json posterior;                      // the study's method for every
                                       // design, or null
  Json basefields;                     // the base's fields, or null
  bool calibrating = false;            // a search instead of designs: one
                                       // design, "base", the scenario's own
  Json race = Json::object();          // then its search, objective,
                                       // constraints and budget as given
  std::string problem;                 // one line; empty when read
};

// True when `name` is a design name: one or more letters (A-Z, a-z), digits,
// - and _.
bool isdesignname(const std::string& name);

// Reads the study file at `path`, its scenario files and its base file, and
// forms every design on every scenario, each checked as a scenario file is.
// A problem names the file and its field: an unknown field, a missing one,
// an unlisted reference, two designs (or scenarios) with one name, a bad
// name, a design changing a truth field or ntrial, a base that does not fit
// a scenario, paired without a seed.
Study readstudyfile(const std::string& path);

// Forms the design `changes` (design fields, "rules" rule by rule) on a
// scenario's `fields` into `cell`. Returns "" or the problem, "FIELD: TEXT".
std::string studycell(const Json& fields, const Json& changes, StudyCell& cell);

// The study as read: the JSON of its settings (study file, designs with
// their changes, reference, trials, seed, paired, base), which the outputs
// and parts of one study share.
Json studyjson(const Study& study);

#endif  // COMBOSIM_FORMATS_STUDYFILE_H_
