// design/toxmodel.h: the copula toxicity model and its posterior in phase I.
//
// For combination (d1, d2) with prior guesses p = priortox1[d1] and
// q = priortox2[d2] and parameters (alpha, beta, gamma) = betatox:
//   A = (1 - p^alpha)^(-gamma),  B = (1 - q^beta)^(-gamma),
//   probtox = 1 - (A + B - 1)^(-1/gamma).
#ifndef COMBOSIM_DESIGN_TOXMODEL_H_
#define COMBOSIM_DESIGN_TOXMODEL_H_

#include <cmath>
#include <limits>

#include "design/design.h"
#include "design/drawstatus.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

// Sampling intervals of alpha, beta and gamma.
constexpr double kToxLower[3] = {0.1, 0.1, 0.1};
constexpr double kToxUpper[3] = {4, 4, 8};

// Log prior of parameter k (0 alpha, 1 beta, 2 gamma) at x: Gamma(0.5, 0.5)
// for alpha and beta, Gamma(0.1, 0.1) for gamma, without the normalising
// constants.
double toxlogprior(int k, double x);

// Returns the model's toxicity probability of (d1, d2) at the current betatox.
double probtox(const TrialState& s, int d1, int d2);

// probtox at the parameters par = (alpha, beta, gamma) for the prior guesses
// p and q: the same operations, so the same value.
double probtoxat(const double par[3], double p, double q);

// Log full conditional of betatox[toxpar] at x, up to a constant: the
// parameter's log prior plus the binomial log likelihood of every treated
// combination of the design's grid. Leaves x in betatox[toxpar].
double logdenstox(double x, TrialState& s, const Design& design);

// The sampler callback form of logdenstox.
struct ToxCallbackData {
  TrialState* s;
  const Design* design;
};
double logdenstoxcallback(double x, void* userdata);  // a ToxCallbackData

// What stays fixed during one posterior update: the treated combinations of
// the trial in grid order (drug 1 outer) with their counts, the dose levels of
// each drug that have any, and, at the sampler's four initial abscissae of
// each parameter, the log prior and prior^x of those levels.
struct TreatedCells {
  int n = 0;
  int d1[kMaxAdm];
  int d2[kMaxAdm];
  double npat[kMaxAdm];   // the counts as reals, for the likelihood terms
  double ntox[kMaxAdm];
  double nfail[kMaxAdm];  // npat - ntox
  int nrows = 0;
  int rows[kMaxDose];  // drug-1 levels with a treated combination, ascending
  int ncols = 0;
  int cols[kMaxDose];  // drug-2 levels with a treated combination, ascending
  double xinit[3][4];              // initial abscissae of alpha, beta, gamma
  double priorinit[3][4];          // log prior of parameter k at xinit[k][i]
  double powinit[2][4][kMaxDose];  // priortox1^xinit[0][i], priortox2^xinit[1][i]
};

// Returns the treated combinations of the trial's counts.
TreatedCells treatedcells(const TrialState& s, const Design& design);

// Writes the distinct values of levels[0..n-1], ascending, into `out` and
// returns how many there are. REQUIRES: every value in 0..kMaxDose-1.
int distinctlevels(const int* levels, int n, int* out);

// What one sampler call of the toxicity parameters hands to the next, each
// item with the parameter values it belongs to (NaN: nothing yet):
// - the log likelihood at the point `at` of (alpha, beta, gamma): a call's
//   present value is where the call before it ended, so its first
//   evaluation there is already known;
// - the drug terms of the treated dose levels at the chain's point, which the
//   next call and the posterior summaries need again.
struct ToxMemo {
  static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  ToxMemo() = default;
  explicit ToxMemo(const TreatedCells& cells) {
    for (int i = 0; i < cells.nrows; ++i) treatedrow[cells.rows[i]] = true;
    for (int i = 0; i < cells.ncols; ++i) treatedcol[cells.cols[i]] = true;
  }
  bool treatedrow[kMaxDose] = {};  // levels whose drug terms are carried
  bool treatedcol[kMaxDose] = {};
  bool valid = false;
  double at[3] = {};
  double loglik = 0;
  double powa[kMaxDose];  // priortox1^alpha, for alpha = powaalpha
  double powaalpha = kNone;
  double powb[kMaxDose];  // priortox2^beta, for beta = powbbeta
  double powbbeta = kNone;
  double a[kMaxDose];     // drug-1 terms, for (aalpha, agamma)
  double aalpha = kNone;
  double agamma = kNone;
  double b[kMaxDose];     // drug-2 terms, for (bbeta, bgamma)
  double bbeta = kNone;
  double bgamma = kNone;
};

// logdenstox of parameter k for the length of one sampler call: the same
// value, computed by the same operations, with the terms of the other two
// parameters formed once at construction, each drug's term formed once per
// dose level, and the log likelihood at `memo` taken from there.
// REQUIRES: betatox of the other parameters and the counts in `cells` do not
// change while it is used.
class ToxDensity {
 public:
  // `current` is the sampler call's present value of parameter k.
  ToxDensity(TrialState& s, const TreatedCells& cells, int k,
             const ToxMemo& memo, double current);
  double operator()(double x);
  // Updates the memo for the chain's next value: the draw this call
  // returned, which is the present value or the last point evaluated.
  void carry(double draw, ToxMemo& memo) const;

 private:
  // The log likelihood at x; `init` is the index of x among the sampler's
  // initial abscissae, or -1.
  double loglik(double x, int init);

  TrialState& s_;
  const TreatedCells& cells_;
  int k_;
  const ToxMemo& memo_;
  double a_[kMaxDose];     // drug-1 terms by level
  double b_[kMaxDose];     // drug-2 terms by level
  double powa_[kMaxDose];  // priortox1^alpha by level
  double powb_[kMaxDose];  // priortox2^beta by level
  double current_;
  bool havecomputed_ = false;  // drug terms formed for some x
  double computedx_ = 0;       // the x of the drug terms in a_, b_, powa_, powb_
  bool havecurrent_ = false;  // evaluated at the present value
  double currentloglik_ = 0;
  bool havelast_ = false;     // evaluated at all
  double lastx_ = 0;          // the last point evaluated
  double lastloglik_ = 0;
};

// The model at the current betatox for chosen dose levels: each drug's term
// once per level, then probtox of a combination from them, equal to
// probtox(s, d1, d2).
struct ToxGrid {
  double a[kMaxDose];
  double b[kMaxDose];
  double gamma = 1;
  double exponent = -1;  // -1.0 / gamma
  // Forms the terms of the given drug-1 and drug-2 levels, taking those that
  // `memo` holds for the current betatox from there.
  void update(const TrialState& s, const int* rows, int nrows, const int* cols,
              int ncols, const ToxMemo& memo);
  // REQUIRES: d1 and d2 among the levels of the last update.
  double probtox(int d1, int d2) const {
    return 1 - std::pow(a[d1] + b[d2] - 1, exponent);
  }
};

// Draws one systematic scan of alpha, beta and gamma, each from the chain's
// previous value prev[k], which is updated with betatox[k]. `cells` are the
// trial's treated combinations; `memo` carries the log likelihood at the
// chain's present point from call to call (invalid at a chain's start).
// Advances the sampler's integer source of `streams`.
DrawStatus drawtoxparams(TrialState& s, const TreatedCells& cells,
                         double prev[3], ToxMemo& memo, StreamState& streams);

// Recomputes meantox and prsafe of every combination of the grid from the
// trial's counts by 2100 Gibbs iterations (100 burn-in), chains restarted at
// (1, 1, 1), drawing from `streams`; keeps the retained parameter draws in
// toxdraws1. Returns the failed draw, if any; the
// summaries are then partial.
DrawStatus updatetox(TrialState& s, const Design& design, StreamState& streams);

#endif  // COMBOSIM_DESIGN_TOXMODEL_H_
