// batch/calibration.h: a study that calibrates, its candidates raced on
// paired trials (engine/calibrate.h), and its files (batch/calibrationfiles.h).
#ifndef COMBOSIM_BATCH_CALIBRATION_H_
#define COMBOSIM_BATCH_CALIBRATION_H_

#include <ostream>

#include "batch/study.h"
#include "formats/studyfile.h"

// Forms every candidate of the study's search on every scenario, skipping
// and counting the infeasible ones (de-escalation not below escalation),
// races them over options.jobs threads and writes into options.outdir,
// under the lock of its files, calibration.csv, ranking.csv,
// confirmation.csv, chosen.json, calibration.html, the confirmation's files
// in confirmation/ (NAME.txt and NAME.json per scenario, oc.csv,
// summary.csv, report.html) and last manifest.json, each whole or not at
// all. Prints the ranking on `out`, progress on a terminal and problems on
// `err`. Returns a BatchExit: 2 for a search that cannot run (naming the
// study file and field), 1 for a sampler failure.
int runcalibration(const Study& study, const StudyOptions& options,
                   std::ostream& out, std::ostream& err);

#endif  // COMBOSIM_BATCH_CALIBRATION_H_
