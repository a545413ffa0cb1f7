// next/trialfile.h: the input of combosim-next. A JSON trial file holds the
// design's fields and the cohorts treated so far:
//
//   {"ndose1": 3, "ndose2": 3, "targettox": 0.3, "mineff": 0.2,
//    "scenprior1": [0.05, 0.1, 0.2], "scenprior2": [0.05, 0.1, 0.2],
//    "ncohort1": 10, "cohortsize1": 3, "ncohort2": 5, "cohortsize2": 3,
//    "rules": {"escalate": 0.85},
//    "cohorts": [{"combination": [1, 1], "patients": 3, "toxicities": 0,
//                 "responses": 1}]}
//
// with dose levels counted from 1 and "rules" and "posterior" optional, as in
// a batch scenario, and "labels1" and "labels2" optional too (one name per
// dose level of each drug, 1 to 20 printable characters, distinct). A batch scenario's own fields scentox, sceneff and ntrial may
// stand beside them and are not used, so a scenario file can serve as the
// design. A CSV trial file holds the cohorts only, one row each under the
// header drug1,drug2,patients,toxicities,responses (quoted fields and R's row
// names allowed), and the design comes from a JSON design file; a JSON trial file with a design file holds "cohorts"
// only. Every problem is one line naming the file, and the line, cohort or
// field.
#ifndef COMBOSIM_NEXT_TRIALFILE_H_
#define COMBOSIM_NEXT_TRIALFILE_H_

#include <string>
#include <vector>

#include "engine/conduct.h"
#include "formats/jsonfile.h"
#include "formats/scenariojson.h"

// One file read, for the trial's records.
struct InputFile {
  std::string role;    // "trial" or "design"
  std::string path;
  std::string sha256;  // of its bytes
};

struct TrialRead {
  Design design;
  std::vector<Cohort> cohorts;
  std::vector<int> lines;          // each cohort's line in a CSV file; empty
                                   // for JSON
  std::vector<InputFile> inputs;   // the trial file, then any design file
  std::string posteriorfile;       // the file whose "posterior" chose the
                                   // design's method, or "" (gibbs then)
  std::string problem;             // one line; empty when both were read
};

// Returns true when the trial file at `path` holding `text` is CSV: by its
// extension, .csv or .json in any case, or else by its content (JSON starts
// with { or [).
bool iscsvtrial(const std::string& path, const std::string& text);

// Reads the "cohorts" array of a JSON trial file. Returns "" or the problem,
// "cohort N: FIELD: TEXT".
std::string cohortsfromjson(const Json& v, std::vector<Cohort>& cohorts);

// Reads a CSV of cohorts; `lines` gets each cohort's line. Blank lines are
// skipped; spaces around a field, fields in double quotes and line ends of
// either kind are allowed. A first column headed by an empty name (row
// names, as R's write.csv writes them) is not read.
// Returns "" or the problem, "SOURCE:LINE: TEXT" or "SOURCE:LINE: cohort N:
// FIELD: TEXT".
std::string cohortsfromcsv(const std::string& text, const std::string& source,
                           std::vector<Cohort>& cohorts, std::vector<int>& lines);

// Reads the trial file at `trialpath` and, unless `designpath` is empty, the
// design file. A CSV trial file needs a design file.
TrialRead readtrial(const std::string& trialpath, const std::string& designpath);

#endif  // COMBOSIM_NEXT_TRIALFILE_H_
