// batch/merge.h: the exact merge of a scenario's parts into one result.
#ifndef COMBOSIM_BATCH_MERGE_H_
#define COMBOSIM_BATCH_MERGE_H_

#include <string>
#include <vector>

#include "batch/results.h"

// Adds up `parts` of one scenario into `merged`. They must hold the same
// scenario, rules, generators, math functions and number of parts, and
// between them every part once; no sum may overflow 64 bits.
// The merged result keeps the position of the first part. Returns "" or the
// problem.
std::string mergeresults(const std::vector<BatchResult>& parts,
                         BatchResult& merged);

#endif  // COMBOSIM_BATCH_MERGE_H_
