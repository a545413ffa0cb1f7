// design/effmodel.h: the phase II efficacy model and stopping rules.
//
// For admissible entry j with n_j patients and r_j responses, r_j is binomial
// (n_j, p_j), the p_j are Beta(a, b), and a, b = betaeff have Gamma(0.01, 0.01)
// priors on [0.1, 100]. The toxicity model is refitted alongside.
#ifndef COMBOSIM_DESIGN_EFFMODEL_H_
#define COMBOSIM_DESIGN_EFFMODEL_H_

#include "design/design.h"
#include "design/drawstatus.h"
#include "design/rules.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

constexpr double kEffLower = 0.1;     // sampling interval of a and b
constexpr double kEffUpper = 100;

// Log prior of a hyper-parameter at x: Gamma(0.01, 0.01) without its
// constant.
double efflogprior(double x);

// Log full conditional of betaeff[effpar] at x, up to a constant, given the
// current peff of every admissible entry. Leaves x in betaeff[effpar].
double logdenseff(double x, TrialState& s);

// The sampler callback form of logdenseff; userdata is the TrialState.
double logdenseffcallback(double x, void* userdata);

// logdenseff of hyper-parameter k for the length of one sampler call: the
// same value by the same operations, with ln p_j and ln(1 - p_j) of the
// current draws taken once per Gibbs iteration (logp, log1mp), and the
// log-gamma terms, which are the same for every entry, once per evaluation.
// REQUIRES: peff does not change while it is used.
class EffDensity {
 public:
  // The log prior and ln Gamma of a hyper-parameter at the sampler's four
  // initial abscissae, which are the same for a and b and for every call.
  struct Init {
    Init();
    double x[4];
    double prior[4];
    double lngamma[4];
  };

  EffDensity(TrialState& s, int k, const double* logp, const double* log1mp,
             const Init& init)
      : s_(s), k_(k), logp_(logp), log1mp_(log1mp), init_(init) {}
  double operator()(double x);

 private:
  TrialState& s_;
  int k_;
  const double* logp_;
  const double* log1mp_;
  const Init& init_;
};

// Returns a Beta(a + r, b + n - r) draw X / (X + Y) from two gamma variates,
// X first, held inside (0, 1): 0 becomes the smallest positive double and 1
// the largest double below 1. Consumes numbers from uniform01(streams).
double betadraw(double a, double b, int n, int r, StreamState& streams);

// What the stopping rules did with each admissible entry k < nadm.
struct StoppingCheck {
  bool compared[kMaxAdm];  // open, with more than minpatients_close patients: its
                           // probabilities were compared with the thresholds
  bool futile[kMaxAdm];    // compared, and admpreff < rules.futility
  bool unsafe[kMaxAdm];    // compared, and admprsafe < rules.safety
  // An entry compared and futile or unsafe was closed.
};

// Closes every open admissible entry with more than rules.minpatients_close
// patients whose admpreff is below rules.futility (futile) or whose admprsafe
// is below rules.safety (unsafe); says which in *check when given. Returns 1
// when no entry is open afterwards, else 0.
int applystoppingrules(TrialState& s, const DesignRules& rules,
                       StoppingCheck* check = nullptr);

// Refits both posteriors from all of the trial's patients by 2100 Gibbs
// iterations (100 burn-in), each iteration drawing the toxicity parameters,
// then every entry's response probability, then the efficacy
// hyper-parameters, and fills admprsafe, admpreff, meaneff and the 2000
// effdraws of every admissible entry, and keeps the retained toxicity
// parameter draws in toxdraws2. Returns the failed draw, if any;
// nothing else is then valid. Advances both streams of `streams`. With
// `wholegrid`, also fills meantox and prsafe of every combination of the grid
// from the same draws, as updatetox does in phase I (admprsafe of an entry
// equals its prsafe then); the random numbers drawn are the same. `init` is
// EffDensity's data for the four initial abscissae.
DrawStatus phase2gibbs(TrialState& s, const Design& design,
                       StreamState& streams, bool wholegrid,
                       const EffDensity::Init& init);

// phase2gibbs, then applystoppingrules with design.rules: *allclosed is set
// to 1 when no entry is open afterwards (always so when nadm is 0), else 0.
DrawStatus phase2update(TrialState& s, const Design& design,
                        StreamState& streams, int* allclosed,
                        bool wholegrid = false);

#endif  // COMBOSIM_DESIGN_EFFMODEL_H_
