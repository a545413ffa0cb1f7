// batch/studysums.h: the paired sums of one design against the study's
// reference on one scenario (engine/compare.h), as the JSON file
// DESIGN/NAME.compare.json that sits beside the design's NAME.json, and
// read back whole and checked, so that the sums of a study's parts add up
// exactly to those of the whole.
#ifndef COMBOSIM_BATCH_STUDYSUMS_H_
#define COMBOSIM_BATCH_STUDYSUMS_H_

#include <string>
#include <vector>

#include "engine/compare.h"
#include "formats/jsonfile.h"

// What one compare file holds.
struct StudySums {
  std::string design;       // the design's name
  std::string reference;    // the reference's name
  std::string scenario;     // the scenario's name
  bool paired = true;       // the study's trials ran on paired streams; the
                            // cross sums `ab` pair trial t with trial t
                            // either way, and mean something only then
  int nshard = 1;           // N, the parts of the study
  std::vector<int> shards;  // the parts summed, ascending, from 1
  PairedSums sums;
};

// The compare file's JSON object: program, contents "paired sums", the
// names, paired, nshard, shards, the counts' names, and the sums: ntrial,
// a, b (one per count) and aa, bb, ab (one row per count; aa and bb hold
// zeros below the diagonal).
Json studysumstojson(const StudySums& s);

// Reads a compare file written by studysumstojson(). Returns false, with
// the problem naming `source` and the field, when it is not one.
bool studysumsfromjson(const Json& j, const std::string& source, StudySums& s,
                       std::string& problem);

#endif  // COMBOSIM_BATCH_STUDYSUMS_H_
