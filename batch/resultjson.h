// batch/resultjson.h: a result as the JSON of NAME.json, and read back from
// it whole and checked, so that parts can be merged exactly.
#ifndef COMBOSIM_BATCH_RESULTJSON_H_
#define COMBOSIM_BATCH_RESULTJSON_H_

#include <string>

#include "batch/results.h"
#include "formats/jsonfile.h"

// The result as a JSON object: the scenario (in the scenario file form, with
// its rules, and for a part the scenario file's absolute path and identity
// on disk), the generators and parts, for a part the trials file it wrote
// with its SHA-256 (or null), the sums (per combination, and of the
// trials' outcomes), per-combination averages and percentages, the exact
// inconclusive percentage, the operating characteristics ("oc", by the names
// of ocfigures(); null for a figure that needs two trials when there is one),
// processor time and program version.
Json resulttojson(const BatchResult& r);

// Reads a result written by resulttojson() of this program version back,
// checking every field that a merge uses and that the sums can come from the
// trials (no more toxicities or responses than patients in a cell, no more
// patients than the trials can treat, no more selections than trials, the
// outcome sums agreeing with the cells, and each sum of squares and the
// cross product agreeing with its sums, trials and extremes). `source` names the file in the
// problem, followed by the field.
bool resultfromjson(const Json& j, const std::string& source, BatchResult& r,
                    std::string& problem);

#endif  // COMBOSIM_BATCH_RESULTJSON_H_
