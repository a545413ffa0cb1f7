// design/toxmodel.cc: the copula toxicity model, its log full conditionals
// and the phase I Gibbs sampler.
#include "design/toxmodel.h"

#include <cmath>
#include <limits>

#include "numerics/arms.h"

namespace {

constexpr double kSmallest = std::numeric_limits<double>::denorm_min();
// The largest double below 1, 0.99999999999999989.
constexpr double kBelowOne = 1.0 - std::numeric_limits<double>::epsilon() / 2;

// Log prior of parameter k at x: Gamma(0.5, 0.5) for alpha and beta,
// Gamma(0.1, 0.1) for gamma, without the normalising constants.
double toxlogprior(int k, double x) {
  if (k == 2) return -0.9 * std::log(x) - 0.1 * x;
  return -0.5 * std::log(x) - 0.5 * x;
}

}  // namespace

double probtox(const TrialState& s, int d1, int d2) {
  const double p = s.priortox1[d1];
  const double q = s.priortox2[d2];
  const double alpha = s.betatox[0];
  const double beta = s.betatox[1];
  const double gamma = s.betatox[2];
  const double a = std::pow(1 - std::pow(p, alpha), -gamma);
  const double b = std::pow(1 - std::pow(q, beta), -gamma);
  return 1 - std::pow(a + b - 1, -1.0 / gamma);
}

double logdenstox(double x, TrialState& s) {
  s.betatox[s.toxpar] = x;
  const double prior = toxlogprior(s.toxpar, x);
  double loglik = 0;
  for (int d1 = 0; d1 < settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < settings.ndose2; ++d2) {
      const int npat = s.npat[d1][d2];
      if (npat == 0) continue;
      const int ntox = s.ntox[d1][d2];
      double pi = probtox(s, d1, d2);
      // Hold pi inside (0, 1) so that neither logarithm is infinite.
      if (pi == 0) pi = kSmallest;
      if (pi == 1) pi = kBelowOne;
      // A count of 0 leaves its logarithm out: 0 * log(pi) adds nothing.
      double term;
      if (ntox == 0) {
        term = npat * std::log(1 - pi);
      } else if (npat == ntox) {
        term = ntox * std::log(pi);
      } else {
        term = ntox * std::log(pi) + (npat - ntox) * std::log(1 - pi);
      }
      loglik = loglik + term;
    }
  }
  return prior + loglik;
}

double logdenstoxcallback(double x, void* userdata) {
  return logdenstox(x, *static_cast<TrialState*>(userdata));
}

DrawStatus drawtoxparams(TrialState& s, double prev[3]) {
  for (int k = 0; k < s.ntoxpar; ++k) {
    s.toxpar = k;
    double draw = 0;
    const int code = armsdraw(kToxLower[k], kToxUpper[k], logdenstoxcallback,
                              &s, prev[k], &draw);
    if (code != 0) return DrawStatus{code, k, false};
    s.betatox[k] = draw;
    prev[k] = draw;
  }
  return DrawStatus{};
}

DrawStatus updatetox(TrialState& s) {
  // Step 1: every call starts the chains afresh.
  double prev[3] = {1, 1, 1};
  s.betatox[0] = 1;
  s.betatox[1] = 1;
  s.betatox[2] = 1;

  // Step 2: clear the summaries of the grid.
  for (int d1 = 0; d1 < settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < settings.ndose2; ++d2) {
      s.meantox[d1][d2] = 0;
      s.prsafe[d1][d2] = 0;
    }
  }

  // Step 3: systematic-scan Gibbs; iterations from kBurnIn on are summarised
  // as running sums of 1/2000 shares.
  for (int iter = 0; iter < kNumIter; ++iter) {
    const DrawStatus status = drawtoxparams(s, prev);
    if (!status.ok()) return status;
    if (iter < kBurnIn) continue;
    for (int d1 = 0; d1 < settings.ndose1; ++d1) {
      for (int d2 = 0; d2 < settings.ndose2; ++d2) {
        const double pi = probtox(s, d1, d2);
        s.meantox[d1][d2] += pi / kNumDraws;
        if (pi < settings.targettox) s.prsafe[d1][d2] += 1.0 / kNumDraws;
      }
    }
  }
  return DrawStatus{};
}
