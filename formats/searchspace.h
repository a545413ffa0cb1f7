// formats/searchspace.h: the "search", "objective", "constraints" and
// "budget" sections of a study file that calibrates a design.
//
// "search" maps design fields to the values to try: a list, or
// {"from": A, "to": B, "step": C} for a number. The candidates are every
// combination of the values, the last key varying fastest; each is a set of
// changes to design fields in the form a study's design takes them
// ({"rules": {"escalate": 0.85}, "ncohort2": 4}).
#ifndef COMBOSIM_FORMATS_SEARCHSPACE_H_
#define COMBOSIM_FORMATS_SEARCHSPACE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/calibrate.h"
#include "formats/jsonfile.h"

// One searched field and its values, as the field takes them.
struct SearchKey {
  std::string key;          // e.g. "rules.escalate", "ncohort2"
  std::vector<Json> values;
};

// The keys a search may hold, in the order documented.
const std::vector<std::string>& searchkeys();

// Reads the "search" object. Returns "" or the problem, "search.KEY: TEXT"
// (an unknown key, an empty list, a range with a step of 0 or below or with
// `to` below `from`, a value of the wrong kind).
std::string searchfromjson(const Json& search, std::vector<SearchKey>& keys);

// The number of candidates: the product of the keys' value counts, at most
// UINT64_MAX.
std::uint64_t searchsize(const std::vector<SearchKey>& keys);

// Candidate `index` (from 0): its changes to design fields, and its label,
// "rules.escalate=0.85, ncohort2=4".
Json candidatechanges(const std::vector<SearchKey>& keys, std::uint64_t index);
std::string candidatelabel(const std::vector<SearchKey>& keys,
                           std::uint64_t index);

// Reads "objective", "constraints" and "budget" of `study` into `plan`,
// scenario names resolved against `scenarios` (each scenario's weight set
// from objective.weights, 1 by default). Returns "" or the problem naming
// the field ("objective.weights: unknown scenario \"x\"",
// "constraints[2].scenarios: ..."). The figures and stages are checked with
// the rest by checkcalibration() once the candidates are made.
std::string racefromjson(const Json& study,
                         const std::vector<std::string>& scenarios,
                         CalibrationPlan& plan);

#endif  // COMBOSIM_FORMATS_SEARCHSPACE_H_
