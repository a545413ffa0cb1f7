// batch/scenariofile.h: scenario files of a batch run, read through the
// console dialogue without echo.
//
// Two forms are read. An answer file is what `combosim < FILE` reads: one
// answer after another, as typed at the console, read by the console's own
// dialogue without echo. A JSON file holds one object with named fields
// (scentox and sceneff indexed [drug-1 level][drug-2 level], 0-based), and
// optionally the design's rules and options (any field left out keeps its
// default; formats/jsonfile.h rulesfromjson() reads them):
//
//   {"ndose1": 2, "ndose2": 1, "scentox": [[0.1], [0.3]],
//    "sceneff": [[0.2], [0.4]], "targettox": 0.3, "mineff": 0.2,
//    "scenprior1": [0.1, 0.3], "scenprior2": [0.2], "ncohort1": 4,
//    "cohortsize1": 3, "ncohort2": 3, "cohortsize2": 3, "ntrial": 100,
//    "rules": {"escalate": 0.85, "minpatients": 9, "minpatients_stop": 3,
//              "phase2": "treated", "start": [2, 1]}}
//
// An optional "posterior" chooses how the posteriors are computed: "gibbs"
// (the default) or "quadrature", or an object {"method": "quadrature",
// "nodes": {"toxicity": [48, 48, 8], "response": [24, 24]}, "draws": 2000}
// (formats/jsonfile.h posteriorfromjson()).
//
// The options are "minpatients_stop" and "minpatients_close" (both set by
// "minpatients" unless given), "phase2" ("admissible", "treated" or
// "adjacent") and "start" ([drug-1 level, drug-2 level] from 1, inside the
// grid).
//
// It is read straight into a scenario and checked by the engine's
// checkscenario(), which holds the dialogue's checks and also refuses a
// meaningless design (a target toxicity of 0 or 1, a lowest acceptable
// response of 1); an answer file's scenario passes it after the dialogue, so
// such a file is refused here though `combosim < FILE` runs it. A problem is
// reported as one line that names the file, the place (line of an answer
// file, field of a JSON file, with array positions counted from 1 as the
// console counts levels) and the problem.
#ifndef COMBOSIM_BATCH_SCENARIOFILE_H_
#define COMBOSIM_BATCH_SCENARIOFILE_H_

#include <string>
#include <vector>

#include "design/rules.h"
#include "engine/simulate.h"
#include "formats/jsonfile.h"
#include "formats/scenariojson.h"
#include "records/trialstate.h"

// What reading one scenario file gave.
struct ScenarioRead {
  Scenario scenario;                  // its settings: all fields but outdir
  DesignRules rules;                  // the defaults for an answer file
  PosteriorChoice posterior;          // gibbs unless the JSON form says
  std::string problem;                // one line; empty when the file was read
  std::vector<std::string> notes;     // one line per answer the dialogue
                                      // rejected and read again from the next
};

// Returns true when `path` names a JSON scenario (its extension is .json).
bool isjsonscenario(const std::string& path);

// The name of a scenario's outputs: the file name without its extension.
std::string scenarioname(const std::string& path);

// Reads the answer file or JSON file at `path`. On a problem, `problem` is
// filled and the records are not to be used.
ScenarioRead readscenariofile(const std::string& path);

// Reads answers as `combosim < FILE` would. `source` names the answers in
// messages ("FILE:LINE: ..."). An answer that the dialogue rejects and reads
// again from the next one becomes a note, since a file that corrects its own
// answer works with combosim; when the dialogue then fails, the problem names
// the first rejected answer as well. Answers after the last one and the
// closing key become a note too. A UTF-8 byte-order mark at the start is
// skipped, as combosim skips it.
ScenarioRead readanswers(const std::string& answers, const std::string& source);

// Reads a scenario object in the JSON form. Each field but "rules" and
// "posterior" is
// needed, and no other is allowed. On top of the dialogue's checks,
// probabilities below 0 are refused. A value that the dialogue rejects is a
// problem here: a JSON file has no next answer to correct it.
ScenarioRead readjsonscenario(const Json& j, const std::string& source);

// The scenario in the JSON form, readable by readjsonscenario(), with all
// six rules when `rules` is given, and "posterior" when `posterior` is given
// and not gibbs. Numbers are written so that they read back to the same
// doubles.
Json scenariotojson(const Scenario& scenario,
                    const DesignRules* rules = nullptr,
                    const PosteriorChoice* posterior = nullptr);

#endif  // COMBOSIM_BATCH_SCENARIOFILE_H_
