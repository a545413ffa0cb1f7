// engine/compare.h: a design compared with a reference design trial by trial,
// on the same simulated patients (paired streams, engine/trial.h).
//
// Each trial gives a few whole-number counts (TrialCount): whether it chose
// right, what it selected or why it selected nothing, and how many patients
// it treated and where. Every figure of a comparison is a percentage of
// trials, a mean per trial or a ratio of two counts' sums, as in
// engine/oc.h. PairedSums adds up, over the trials both designs ran, each
// design's counts, and the products of counts that the standard errors need:
// within each design and across the two. They are 64-bit integers, so sums
// of parts add up exactly to the sums of the whole, in any order.
//
// The difference of a figure is the design's figure minus the reference's.
// Its paired standard error comes from the trial-by-trial differences: for a
// percentage or a mean, SD(d_t) / sqrt(n) with n - 1 in the SD; for a ratio
// R = sum X / sum Y, the delta method on
// z_t = (X_t - R Y_t) / mean Y of the design minus the same of the
// reference, 100 sqrt(sum z_t^2 / (n (n - 1))). Its unpaired standard error
// is what independent streams would give: sqrt(SE_design^2 + SE_reference^2),
// each SE as in the figures of engine/oc.h. A design compared with itself
// has a difference of exactly 0 with a paired SE of exactly 0.
#ifndef COMBOSIM_ENGINE_COMPARE_H_
#define COMBOSIM_ENGINE_COMPARE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/oc.h"
#include "engine/outcome.h"

// One trial's counts, the indices of TrialCounts.
enum TrialCount {
  kCountCorrect,         // 1 when it selected a target, or none when none is
                         // acceptable
  kCountAcceptable,      // 1 when it selected an acceptable combination
  kCountOvertoxic,       // 1 when it selected an overly toxic combination
  kCountInconclusive,    // 1 when it selected none
  kCountPhase1Stopped,   // 1 for each reason of selecting none
  kCountNoneAdmissible,
  kCountAllClosed,
  kCountNoPositiveMean,
  kCountPatients,        // patients treated
  kCountToxicities,
  kCountResponses,
  kCountOvertoxicPatients,  // patients treated at overly toxic combinations
  kCountUntried,            // phase II patients at combinations untried in
                            // phase I
  kCountPhase2Patients,     // phase II patients
  kNumTrialCounts
};

using TrialCounts = std::int64_t[kNumTrialCounts];

// The counts of a trial that ended as `outcome`, against the truth `classes`.
void trialcounts(const TruthClasses& classes, const TrialOutcome& outcome,
                 TrialCounts counts);

// Sums over trials of the counts of a design (a) and of the reference (b).
struct PairedSums {
  std::int64_t ntrial = 0;
  TrialCounts a = {};
  TrialCounts b = {};
  // Sums of products of counts: aa[i][j] = sum a_i a_j, bb likewise, and
  // ab[i][j] = sum a_i b_j. Only i <= j is kept of aa and bb.
  std::int64_t aa[kNumTrialCounts][kNumTrialCounts] = {};
  std::int64_t bb[kNumTrialCounts][kNumTrialCounts] = {};
  std::int64_t ab[kNumTrialCounts][kNumTrialCounts] = {};
};

// Adds one trial, its counts under the design (a) and the reference (b).
void addpair(PairedSums& sums, const TrialCounts a, const TrialCounts b);

// Adds `part` to `sums`. Returns false, leaving `sums` unchanged, when a sum
// would overflow 64 bits.
bool addpairedsums(PairedSums& sums, const PairedSums& part);

// The figures of a comparison, in order: correct, acceptable, overtoxic,
// inconclusive, phase1_stopped, none_admissible, all_closed,
// no_positive_mean, patients_mean, overtoxic_patients, toxicities_mean,
// responses_mean, untried_patients, named as in engine/oc.h.
struct FigureDifference {
  std::string figure;
  Estimate design;        // the design's figure and its SE
  Estimate reference;     // the reference's
  double difference = 0;  // design - reference
  double mcse = 0;        // paired SE of the difference
  double unpairedmcse = 0;
};

// The differences of every figure. A figure that needs two trials has NaN
// SEs with one; untried_patients is NaN when either design had no phase II
// patient. REQUIRES: sums.ntrial >= 1.
std::vector<FigureDifference> differences(const PairedSums& sums);

#endif  // COMBOSIM_ENGINE_COMPARE_H_
