// design/effmodel.cc: Gibbs sampling of the hierarchical Beta efficacy model
// together with the toxicity model, and the phase II stopping rules.
#include "design/effmodel.h"

#include <cmath>
#include <limits>

#include "design/toxmodel.h"
#include "numerics/arms.h"
#include "numerics/gamma.h"

namespace {

constexpr double kSmallest = std::numeric_limits<double>::denorm_min();
constexpr double kBelowOne = 1.0 - std::numeric_limits<double>::epsilon() / 2;

}  // namespace

double logdenseff(double x, TrialState& s) {
  s.betaeff[s.effpar] = x;
  const double a = s.betaeff[0];
  const double b = s.betaeff[1];
  double lik = 0;
  if (s.effpar == 0) {
    const double prior = -0.99 * std::log(a) - 0.01 * a;
    for (int j = 0; j < s.nadm; ++j) {
      const double p = s.peff[j];
      const double term =
          (loggamma(a + b) - loggamma(a)) + (a - 1) * std::log(p);
      lik = lik + term;
    }
    return prior + lik;
  }
  const double prior = -0.99 * std::log(b) - 0.01 * b;
  for (int j = 0; j < s.nadm; ++j) {
    const double p = s.peff[j];
    const double term =
        (loggamma(a + b) - loggamma(b)) + (b - 1) * std::log(1 - p);
    lik = lik + term;
  }
  return prior + lik;
}

double logdenseffcallback(double x, void* userdata) {
  return logdenseff(x, *static_cast<TrialState*>(userdata));
}

double betadraw(double a, double b, int n, int r, StreamState& streams) {
  const double x = gammadraw(a + r, streams);
  const double y = gammadraw((n + b) - r, streams);
  double p = x / (x + y);
  // An exact 0 or 1 would make ln p or ln(1 - p) infinite in logdenseff.
  if (p == 0) p = kSmallest;
  if (p == 1) p = kBelowOne;
  return p;
}

int applystoppingrules(TrialState& s, const DesignRules& rules,
                       StoppingCheck* check) {
  // Futility and safety, for open entries with more than minpatients_close
  // patients.
  for (int j = 0; j < s.nadm; ++j) {
    const int n = s.npat[s.adm1[j]][s.adm2[j]];
    const bool compared = s.admopen[j] == 1 && n > rules.minpatients_close;
    const bool futile = compared && s.admpreff[j] < rules.futility;
    const bool unsafe = compared && s.admprsafe[j] < rules.safety;
    if (futile || unsafe) s.admopen[j] = 0;
    if (check != nullptr) {
      check->compared[j] = compared;
      check->futile[j] = futile;
      check->unsafe[j] = unsafe;
    }
  }
  // Is anything still open?
  int open = 0;
  for (int j = 0; j < s.nadm; ++j) open += s.admopen[j];
  return open == 0 ? 1 : 0;
}

double efflogprior(double x) { return -0.99 * std::log(x) - 0.01 * x; }

EffDensity::Init::Init() {
  for (int i = 0; i < 4; ++i) {
    x[i] = kEffLower + ((kEffUpper - kEffLower) * (i + 1)) / 5;
    prior[i] = efflogprior(x[i]);
    lngamma[i] = loggamma(x[i]);
  }
}

double EffDensity::operator()(double x) {
  s_.betaeff[k_] = x;
  const double a = s_.betaeff[0];
  const double b = s_.betaeff[1];
  int init = -1;
  for (int i = 0; i < 4; ++i) {
    if (x == init_.x[i]) init = i;
  }
  const double prior = init >= 0 ? init_.prior[init] : efflogprior(x);
  const double lngammax = init >= 0 ? init_.lngamma[init] : loggamma(x);
  const double norm = loggamma(a + b) - lngammax;
  const double* logs = k_ == 0 ? logp_ : log1mp_;
  double lik = 0;
  for (int j = 0; j < s_.nadm; ++j) {
    const double term = norm + (x - 1) * logs[j];
    lik = lik + term;
  }
  return prior + lik;
}

DrawStatus phase2update(TrialState& s, const Design& design,
                        StreamState& streams, int* allclosed, bool wholegrid) {
  const DrawStatus status =
      phase2gibbs(s, design, streams, wholegrid, EffDensity::Init());
  if (!status.ok()) return status;
  *allclosed = applystoppingrules(s, design.rules);
  return status;
}

DrawStatus phase2gibbs(TrialState& s, const Design& design,
                       StreamState& streams, bool wholegrid,
                       const EffDensity::Init& effinit) {
  const int J = design.settings.ndose1;
  const int K = design.settings.ndose2;
  const double targettox = design.settings.targettox;
  const double mineff = design.settings.mineff;
  const TreatedCells cells = treatedcells(s, design);
  // The dose levels of the admissible combinations, for their summaries, or
  // every level for summaries of the whole grid.
  static constexpr int kLevels[kMaxDose] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  int rows[kMaxDose];
  int cols[kMaxDose];
  const int nrows =
      wholegrid ? J : distinctlevels(s.adm1, s.nadm, rows);
  const int ncols =
      wholegrid ? K : distinctlevels(s.adm2, s.nadm, cols);
  const int* rowlevels = wholegrid ? kLevels : rows;
  const int* collevels = wholegrid ? kLevels : cols;
  double logp[kMaxAdm];
  double log1mp[kMaxAdm];
  ToxGrid grid;
  ToxMemo memo(cells);

  // Step 1: restart every chain. The sampler's previous value of b starts at
  // 1 although b itself starts at 2.
  s.betatox[0] = 1;
  s.betatox[1] = 1;
  s.betatox[2] = 1;
  s.betaeff[0] = 1;
  s.betaeff[1] = 2;
  double prevtox[3] = {1, 1, 1};
  double preveff[2] = {1, 1};

  // Step 2: clear the summaries.
  s.ndraws = kNumDraws;
  for (int j = 0; j < s.nadm; ++j) {
    s.admprsafe[j] = 0;
    s.admpreff[j] = 0;
    s.meaneff[j] = 0;
  }
  if (wholegrid) {
    for (int d1 = 0; d1 < J; ++d1) {
      for (int d2 = 0; d2 < K; ++d2) {
        s.meantox[d1][d2] = 0;
        s.prsafe[d1][d2] = 0;
      }
    }
  }

  // Step 3: Gibbs iterations.
  for (int iter = 0; iter < kNumIter; ++iter) {
    // 3.1 toxicity parameters alpha, beta, gamma.
    const DrawStatus toxstatus = drawtoxparams(s, cells, prevtox, memo, streams);
    if (!toxstatus.ok()) return toxstatus;

    // 3.2 response probability of every admissible entry, open or closed.
    for (int j = 0; j < s.nadm; ++j) {
      const int n = s.npat[s.adm1[j]][s.adm2[j]];
      const int r = s.nresp[s.adm1[j]][s.adm2[j]];
      s.peff[j] = betadraw(s.betaeff[0], s.betaeff[1], n, r, streams);
    }
    for (int j = 0; j < s.nadm; ++j) {
      logp[j] = std::log(s.peff[j]);
      log1mp[j] = std::log(1 - s.peff[j]);
    }

    // 3.3 hyper-parameters a, b.
    for (int k = 0; k < s.neffpar; ++k) {
      s.effpar = k;
      double draw = 0;
      const int code = armsdrawt(kEffLower, kEffUpper,
                                 EffDensity(s, k, logp, log1mp, effinit),
                                 preveff[k], &draw, streams);
      if (code != 0) return DrawStatus{code, k, true};
      s.betaeff[k] = draw;
      preveff[k] = draw;
    }

    // 3.4 summaries of the retained iterations.
    if (iter < kBurnIn) continue;
    const int t = iter - kBurnIn;
    for (int k = 0; k < 3; ++k) s.toxdraws2[t][k] = s.betatox[k];
    grid.update(s, rowlevels, nrows, collevels, ncols, memo);
    for (int j = 0; j < s.nadm; ++j) {
      const double pi = grid.probtox(s.adm1[j], s.adm2[j]);
      if (pi < targettox) s.admprsafe[j] += 1.0 / kNumDraws;
      s.effdraws[j][t] = s.peff[j];
      if (s.peff[j] > mineff) s.admpreff[j] += 1.0 / kNumDraws;
      s.meaneff[j] += s.peff[j] / kNumDraws;
    }
    if (!wholegrid) continue;
    for (int d1 = 0; d1 < J; ++d1) {
      for (int d2 = 0; d2 < K; ++d2) {
        const double pi = grid.probtox(d1, d2);
        s.meantox[d1][d2] += pi / kNumDraws;
        if (pi < targettox) s.prsafe[d1][d2] += 1.0 / kNumDraws;
      }
    }
  }

  return DrawStatus{};
}
