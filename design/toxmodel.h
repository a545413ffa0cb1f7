// design/toxmodel.h: the copula toxicity model and its posterior in phase I.
//
// For combination (d1, d2) with prior guesses p = priortox1[d1] and
// q = priortox2[d2] and parameters (alpha, beta, gamma) = betatox:
//   A = (1 - p^alpha)^(-gamma),  B = (1 - q^beta)^(-gamma),
//   probtox = 1 - (A + B - 1)^(-1/gamma).
#ifndef COMBOSIM_DESIGN_TOXMODEL_H_
#define COMBOSIM_DESIGN_TOXMODEL_H_

#include "design/drawstatus.h"
#include "driver/trialstate.h"

// Sampling intervals of alpha, beta and gamma.
constexpr double kToxLower[3] = {0.1, 0.1, 0.1};
constexpr double kToxUpper[3] = {4, 4, 8};

// Returns the model's toxicity probability of (d1, d2) at the current betatox.
double probtox(const TrialState& s, int d1, int d2);

// Log full conditional of betatox[toxpar] at x, up to a constant: the
// parameter's log prior plus the binomial log likelihood of every treated
// combination of the grid. Leaves x in betatox[toxpar].
double logdenstox(double x, TrialState& s);

// The sampler callback form of logdenstox; userdata is the TrialState.
double logdenstoxcallback(double x, void* userdata);

// Draws one systematic scan of alpha, beta and gamma, each from the chain's
// previous value prev[k], which is updated with betatox[k]. Advances the
// sampler's integer source.
DrawStatus drawtoxparams(TrialState& s, double prev[3]);

// Recomputes meantox and prsafe of every combination of the grid from the
// trial's counts by 2100 Gibbs iterations (100 burn-in), chains restarted at
// (1, 1, 1). Returns the failed draw, if any; the summaries are then partial.
DrawStatus updatetox(TrialState& s);

#endif  // COMBOSIM_DESIGN_TOXMODEL_H_
