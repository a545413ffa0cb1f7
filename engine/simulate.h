// engine/simulate.h: the one entry point that simulates a scenario's trials
// and returns what they gave. No console, no file, no exit: a failure comes
// back as a value, progress and cancellation go through an observer.
//
// The design comes in as a value (design/design.h), and each run draws from
// random streams of its own (numerics/streams.h) that start where `Streams`
// says: one call never depends on an earlier one, and the engine keeps no
// state between calls.
#ifndef COMBOSIM_ENGINE_SIMULATE_H_
#define COMBOSIM_ENGINE_SIMULATE_H_

#include <cstdint>
#include <ctime>
#include <string>

#include "design/design.h"
#include "design/drawstatus.h"
#include "design/rules.h"
#include "engine/observer.h"
#include "engine/outcome.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

// A scenario: the design's settings and the truth the trials are drawn from.
struct Scenario {
  SimulationSettings settings;  // ntrial trials are simulated
  ScenarioInput input;
};

// The design of a scenario under `rules`: its settings, its prior guesses.
Design designof(const Scenario& scenario, const DesignRules& rules);

// Returns "" when the scenario is one the dialogue could have read (dose
// counts 1 to 10, probabilities in [0, 1], priors strictly inside (0, 1),
// cohort numbers and sizes 1 to 1000 with 0 phase II cohorts allowed, at
// least 1 trial) with a meaningful design: the target toxicity strictly
// inside (0, 1) and the lowest acceptable response below 1 (the dialogue
// takes 0 and 1 for both, and the console keeps doing so); otherwise one
// line naming the first field at fault and the problem, e.g. "scentox[2][1]
// (drug-1 level 2, drug-2 level 1): The toxicity probability is larger than
// 1" for the cell [1][0].
std::string checkscenario(const Scenario& scenario);

// The name of a cell of a per-combination field in messages, with positions
// counted from 1 as the console counts levels: "scentox[2][1] (drug-1 level
// 2, drug-2 level 1)" for the cell [1][0].
std::string cellname(const std::string& field, int d1, int d2);

// The name of a level of a per-drug field (`drug` 1 or 2) in messages:
// "scenprior1[2] (drug-1 level 2)" for the level [1].
std::string levelname(const std::string& field, int drug, int d);

// Which generators stand behind the two random streams.
struct Streams {
  bool seeded = false;      // false: the program's own fixed-seed generators,
                            // from their program-start state, as in a fresh
                            // console run
  std::uint64_t seed = 0;   // S, when seeded
  std::uint64_t shard = 1;  // K: the seeded streams of part K of the run
  // Paired streams instead (seeded only): each trial on streams of its own,
  // keyed by the seed and its number, whatever the shard.
  bool paired = false;
  std::int64_t firsttrial = 1;  // paired: the number of the run's first trial
};

// Both streams from the start `streams` names.
StreamState startstreams(const Streams& streams);

// What a run gave.
struct SimulationResult {
  std::int64_t ntrial = 0;   // trials completed
  Accumulators acc;          // their sums per combination
  OutcomeSums outcomes;      // their outcomes
  std::clock_t cputicks = 0; // processor clock ticks of the trials
  bool cancelled = false;    // the observer stopped the run
  // A failed sampler draw ends the run; the trial it happened in is not
  // counted.
  DrawStatus failure;
  std::int64_t failedtrial = 0;  // the trial of the failure, from 1
  int exitstatus = 0;    // the status a program ends with after the failure:
                         // 1 for a sampler error code, a guard's own status
  std::string message;   // its text: "error code for drawing betatox[1]:1007",
                         // or "sampler consistency guard 31 ended the run"

  bool ok() const { return failure.ok() && !cancelled; }
  double cpuseconds() const {
    return static_cast<double>(cputicks) / CLOCKS_PER_SEC;
  }
};

// Simulates design.settings.ntrial trials of `design` with the true
// probabilities of `truth` (its priors are not read), drawing from streams
// of its own that begin where `start` says; paired, trial t of the run is
// trial start.firsttrial + t - 1 of the paired streams (engine/trial.h).
// `observer` may be null.
// REQUIRES: checkscenario of the design's settings and priors with `truth`,
// and checkrules() of design.rules on its grid, are "".
SimulationResult simulate(const Design& design, const ScenarioInput& truth,
                          const Streams& start, Observer* observer);

// The text and exit status of a failed draw, as in SimulationResult.
std::string drawfailuretext(const DrawStatus& status);
int drawfailurestatus(const DrawStatus& status);

#endif  // COMBOSIM_ENGINE_SIMULATE_H_
