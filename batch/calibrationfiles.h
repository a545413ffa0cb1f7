// batch/calibrationfiles.h: what a calibrating study writes: every candidate
// at every stage in every scenario (calibration.csv), the survivors ranked
// (ranking.csv, and as text), the chosen design's confirmation
// (confirmation.csv), the chosen design itself (chosen.json) and a report
// page (calibration.html).
#ifndef COMBOSIM_BATCH_CALIBRATIONFILES_H_
#define COMBOSIM_BATCH_CALIBRATIONFILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/calibrate.h"
#include "formats/jsonfile.h"
#include "formats/searchspace.h"

// A race as run: its settings, its result, and what each candidate
// was in the search.
struct CalibrationRun {
  CalibrationPlan plan;
  CalibrationResult result;
  std::vector<SearchKey> keys;          // the searched fields
  std::vector<std::uint64_t> searched;  // per candidate: its index in the
                                        // search space
  std::uint64_t infeasible = 0;         // combinations skipped as infeasible
};

// One row per candidate, stage and scenario: the candidate, its searched
// values, the stage's trials, the objective and the paired difference to
// the stage's best with their SEs, whether it met the constraints and why it
// was dropped, then every figure of the scenario.
std::string calibrationcsv(const CalibrationRun& run);

// The survivors, best first: rank, candidate, values, objective and SE,
// difference to the best and SE, constraints met, chosen.
std::string rankingcsv(const CalibrationRun& run);

// The ranking and the outcome of the race in words, for the console.
std::string rankingtext(const CalibrationRun& run);

// The chosen design's confirmation per scenario (and method): every figure.
std::string confirmationcsv(const CalibrationRun& run);

// The chosen design as design fields: `base` (a design file's fields, or
// null) with the chosen candidate's changes; without a base, the changes
// alone.
Json chosenjson(const Json& base, const CalibrationRun& run);

// The report page: the narrowing stage by stage, every candidate's objective
// at its last stage with +/- 2 SE bars, and the survivors' constraint
// figures per scenario.
std::string calibrationhtml(const CalibrationRun& run);

#endif  // COMBOSIM_BATCH_CALIBRATIONFILES_H_
