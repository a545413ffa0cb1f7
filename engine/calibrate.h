// engine/calibrate.h: choosing a design among candidates by racing them on
// paired trials over several scenarios.
//
// Every candidate runs the same trials of every scenario on paired streams
// (engine/trial.h), in stages: after stage k each surviving candidate has
// run stages[k] trials per scenario, the new ones numbered after the last.
// A candidate's objective on trial t, O(t), is the weighted mean over the
// scenarios of a per-trial figure (correct, say: 100 when trial t of that
// scenario chose right, else 0), so the objective's SE and the paired
// difference of two candidates come from the per-trial values.
//
// After each stage, with K survivors and z = Phi^-1(1 - alpha / (K - 1)), b
// the survivor with the highest mean objective:
// - a candidate k is dropped when mean_t(O_b(t) - O_k(t)) > z SE, the SE of
//   that mean from the trial-by-trial differences;
// - a constraint "figure <= L" in a scenario is broken beyond noise when
//   estimate - z SE > L (mirrored for >=); a candidate that breaks one is
//   dropped.
// The race ends when one candidate remains, when every remaining pair
// differs by less than `margin` with 95 % confidence (|difference| +
// 1.96 SE < margin), or after the last stage. The choice is the best
// survivor whose estimates meet every constraint; it is then confirmed on
// confirmtrials fresh trials per scenario, numbered after the race's last,
// whose figures are free of the race's selection.
#ifndef COMBOSIM_ENGINE_CALIBRATE_H_
#define COMBOSIM_ENGINE_CALIBRATE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "design/design.h"
#include "engine/oc.h"
#include "records/trialstate.h"

// A scenario of the race: the truth and what classifies it.
struct CalibrationScenario {
  std::string name;
  SimulationSettings settings;  // its grid, targettox and mineff
  ScenarioInput truth;          // scentox, sceneff
  double weight = 1;            // in the objective's weighted mean
};

// A candidate design: its design in each scenario, in the scenarios' order.
struct Candidate {
  std::string label;
  std::vector<Design> designs;
};

// A bound on a figure of engine/oc.h in some scenarios.
struct Constraint {
  std::string figure;            // e.g. "overtoxic"
  bool upper = true;             // figure <= limit; false: figure >= limit
  double limit = 0;
  std::vector<int> scenarios;    // their indices; empty: every scenario
};

struct CalibrationPlan {
  std::vector<CalibrationScenario> scenarios;
  std::vector<Candidate> candidates;
  std::string objective = "correct";  // a per-trial figure, maximised
  std::vector<Constraint> constraints;
  std::vector<int> stages = {50, 200, 800};  // trials per scenario, ascending
  double margin = 2;           // points of the objective
  double alpha = 0.05;         // of the elimination, over the survivors
  std::uint64_t seed = 0;      // of the paired streams
  int confirmtrials = 4000;    // 0: no confirmation
  bool confirmgibbs = false;   // confirm under gibbs as well
  int threads = 1;             // at least 1
};

// Returns "" or the problem with `plan`: no scenario or candidate, a
// candidate without a design per scenario, an unknown objective or one that
// is not a per-trial figure, an unknown constraint figure or scenario,
// stages not ascending from 2, a weight below 0 or all 0, a margin or alpha
// out of range.
std::string checkcalibration(const CalibrationPlan& plan);

// One candidate after one stage.
struct CandidateStage {
  int candidate = 0;
  int stage = 0;                // from 0
  int trials = 0;               // per scenario, so far
  std::vector<OperatingCharacteristics> oc;  // per scenario
  Estimate objective;           // mean of O(t), its SE
  Estimate behind;              // mean of O_best(t) - O(t), paired SE
  bool best = false;            // the stage's b
  bool constraintsmet = false;  // every constraint met by its estimate
  std::string dropped;          // why it was dropped after this stage, or ""
};

// Sees the race as it goes; may cancel it.
class CalibrationObserver {
 public:
  virtual ~CalibrationObserver() = default;
  // After each block of trials: trials run so far of `total` planned (the
  // plan grows from stage to stage). Returning false cancels the race.
  virtual bool progress(std::int64_t done, std::int64_t total);
};

struct CalibrationResult {
  std::vector<CandidateStage> history;  // every survivor of every stage
  std::vector<int> survivors;           // candidates left, best first
  int chosen = -1;                      // -1: no survivor meets every
                                        // constraint by its estimates
  std::string stopped;                  // why the race ended
  int laststage = 0;                    // the race's last stage
  int racetrials = 0;                   // trials per scenario of the race
  std::int64_t spent = 0;               // trials run in the race, in all
  double raceseconds = 0;               // their processor time
  std::int64_t everywhere = 0;          // trials that every candidate at the
                                        // last stage's count would take
  int confirmfirst = 0;                 // the confirmation's first trial
  std::vector<OperatingCharacteristics> confirmation;       // per scenario
  std::vector<OperatingCharacteristics> gibbsconfirmation;  // per scenario
  // The sums behind them and their processor time, per scenario.
  std::vector<Accumulators> confirmationacc, gibbsacc;
  std::vector<OutcomeSums> confirmationoutcomes, gibbsoutcomes;
  std::vector<double> confirmationseconds, gibbsseconds;
  bool cancelled = false;
  std::string failure;  // a sampler failure ends the race; its message
};

// Runs the race. REQUIRES: checkcalibration(plan) == "".
CalibrationResult calibrate(const CalibrationPlan& plan,
                            CalibrationObserver* observer = nullptr);

// The per-trial value of `figure` from a trial's counts (engine/compare.h):
// 100 times the count of a percentage of trials, the count of a mean per
// trial. Returns false for a figure that is not per trial (a ratio) or
// unknown.
bool pertrialfigure(const std::string& figure, int* count, double* scale);

#endif  // COMBOSIM_ENGINE_CALIBRATE_H_
