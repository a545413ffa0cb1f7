// design/toxmodel.cc: the copula toxicity model, its log full conditionals
// and the phase I Gibbs sampler.
//
// probtox and logdenstox evaluate the model as written. The Gibbs sampler
// uses ToxDensity instead, which computes exactly the same doubles by exactly
// the same operations, but forms each drug's term once per dose level rather
// than once per combination, and keeps the terms of the two parameters that
// are not being drawn fixed for the whole sampler call.
#include "design/toxmodel.h"

#include <cmath>
#include <limits>

#include "numerics/arms.h"

namespace {

constexpr double kSmallest = std::numeric_limits<double>::denorm_min();
// The largest double below 1, 0.99999999999999989.
constexpr double kBelowOne = 1.0 - std::numeric_limits<double>::epsilon() / 2;

// Binomial log likelihood term of one treated combination with model
// probability pi, npat patients, ntox toxicities and nfail = npat - ntox
// patients without (the counts as reals). pi is held inside (0, 1) so that
// neither logarithm is infinite, and a count of 0 leaves its logarithm out
// (0 * log adds nothing).
inline double binomialterm(double pi, double npat, double ntox, double nfail) {
  if (pi == 0) pi = kSmallest;
  if (pi == 1) pi = kBelowOne;
  if (ntox == 0) return npat * std::log(1 - pi);
  if (nfail == 0) return ntox * std::log(pi);
  return ntox * std::log(pi) + nfail * std::log(1 - pi);
}

// The copula's single-drug term (1 - prior^power)^(-gamma).
double drugterm(double prior, double power, double gamma) {
  return std::pow(1 - std::pow(prior, power), -gamma);
}

// The toxicity probability from the two drug terms.
double jointtox(double a, double b, double gamma) {
  return 1 - std::pow(a + b - 1, -1.0 / gamma);
}

}  // namespace

double toxlogprior(int k, double x) {
  if (k == 2) return -0.9 * std::log(x) - 0.1 * x;
  return -0.5 * std::log(x) - 0.5 * x;
}

double probtox(const TrialState& s, int d1, int d2) {
  const double p = s.priortox1[d1];
  const double q = s.priortox2[d2];
  const double alpha = s.betatox[0];
  const double beta = s.betatox[1];
  const double gamma = s.betatox[2];
  const double a = drugterm(p, alpha, gamma);
  const double b = drugterm(q, beta, gamma);
  return jointtox(a, b, gamma);
}

double probtoxat(const double par[3], double p, double q) {
  const double a = drugterm(p, par[0], par[2]);
  const double b = drugterm(q, par[1], par[2]);
  return jointtox(a, b, par[2]);
}

double logdenstox(double x, TrialState& s, const Design& design) {
  s.betatox[s.toxpar] = x;
  const double prior = toxlogprior(s.toxpar, x);
  double loglik = 0;
  for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
      const int npat = s.npat[d1][d2];
      if (npat == 0) continue;
      const int ntox = s.ntox[d1][d2];
      const double term =
          binomialterm(probtox(s, d1, d2), npat, ntox, npat - ntox);
      loglik = loglik + term;
    }
  }
  return prior + loglik;
}

double logdenstoxcallback(double x, void* userdata) {
  const auto* data = static_cast<const ToxCallbackData*>(userdata);
  return logdenstox(x, *data->s, *data->design);
}

TreatedCells treatedcells(const TrialState& s, const Design& design) {
  TreatedCells t;
  for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
      if (s.npat[d1][d2] == 0) continue;
      t.d1[t.n] = d1;
      t.d2[t.n] = d2;
      t.npat[t.n] = s.npat[d1][d2];
      t.ntox[t.n] = s.ntox[d1][d2];
      t.nfail[t.n] = s.npat[d1][d2] - s.ntox[d1][d2];
      ++t.n;
    }
  }
  t.nrows = distinctlevels(t.d1, t.n, t.rows);
  t.ncols = distinctlevels(t.d2, t.n, t.cols);
  // The sampler's initial abscissae, formed as the sampler forms them.
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 4; ++i) {
      t.xinit[k][i] = kToxLower[k] + ((kToxUpper[k] - kToxLower[k]) * (i + 1)) / 5;
      t.priorinit[k][i] = toxlogprior(k, t.xinit[k][i]);
    }
  }
  for (int i = 0; i < 4; ++i) {
    for (int r = 0; r < t.nrows; ++r) {
      const int d1 = t.rows[r];
      t.powinit[0][i][d1] = std::pow(s.priortox1[d1], t.xinit[0][i]);
    }
    for (int c = 0; c < t.ncols; ++c) {
      const int d2 = t.cols[c];
      t.powinit[1][i][d2] = std::pow(s.priortox2[d2], t.xinit[1][i]);
    }
  }
  return t;
}

int distinctlevels(const int* levels, int n, int* out) {
  bool present[kMaxDose] = {};
  for (int i = 0; i < n; ++i) present[levels[i]] = true;
  int count = 0;
  for (int d = 0; d < kMaxDose; ++d) {
    if (present[d]) out[count++] = d;
  }
  return count;
}

ToxDensity::ToxDensity(TrialState& s, const TreatedCells& cells, int k,
                       const ToxMemo& memo, double current)
    : s_(s), cells_(cells), k_(k), memo_(memo), current_(current) {
  const double alpha = s.betatox[0];
  const double beta = s.betatox[1];
  const double gamma = s.betatox[2];
  // The terms of the two parameters not drawn here, from the memo when it
  // holds them for the present values.
  if (k == 0) {
    const bool known = memo.bbeta == beta && memo.bgamma == gamma;
    for (int i = 0; i < cells.ncols; ++i) {
      const int d2 = cells.cols[i];
      b_[d2] = known ? memo.b[d2] : drugterm(s.priortox2[d2], beta, gamma);
    }
  } else if (k == 1) {
    const bool known = memo.aalpha == alpha && memo.agamma == gamma;
    for (int i = 0; i < cells.nrows; ++i) {
      const int d1 = cells.rows[i];
      a_[d1] = known ? memo.a[d1] : drugterm(s.priortox1[d1], alpha, gamma);
    }
  } else {
    const bool knowna = memo.powaalpha == alpha;
    for (int i = 0; i < cells.nrows; ++i) {
      const int d1 = cells.rows[i];
      powa_[d1] = knowna ? memo.powa[d1] : std::pow(s.priortox1[d1], alpha);
    }
    const bool knownb = memo.powbbeta == beta;
    for (int i = 0; i < cells.ncols; ++i) {
      const int d2 = cells.cols[i];
      powb_[d2] = knownb ? memo.powb[d2] : std::pow(s.priortox2[d2], beta);
    }
  }
}

double ToxDensity::operator()(double x) {
  s_.betatox[k_] = x;
  int init = -1;
  for (int i = 0; i < 4; ++i) {
    if (x == cells_.xinit[k_][i]) init = i;
  }
  const double prior = init >= 0 ? cells_.priorinit[k_][init] : toxlogprior(k_, x);
  const bool known = memo_.valid && memo_.at[0] == s_.betatox[0] &&
                     memo_.at[1] == s_.betatox[1] &&
                     memo_.at[2] == s_.betatox[2];
  const double value = known ? memo_.loglik : loglik(x, init);
  if (x == current_ && !havecurrent_) {
    havecurrent_ = true;
    currentloglik_ = value;
  }
  havelast_ = true;
  lastx_ = x;
  lastloglik_ = value;
  return prior + value;
}

double ToxDensity::loglik(double x, int init) {
  const double gamma = s_.betatox[2];
  havecomputed_ = true;
  computedx_ = x;
  // The drug terms that depend on x, once per dose level; prior^x at the
  // sampler's initial abscissae was formed once for the whole update.
  if (k_ <= 1) {
    const int drug = k_;
    const double* powinit = init >= 0 ? cells_.powinit[drug][init] : nullptr;
    const int nlevels = drug == 0 ? cells_.nrows : cells_.ncols;
    const int* levels = drug == 0 ? cells_.rows : cells_.cols;
    const double* prior = drug == 0 ? s_.priortox1 : s_.priortox2;
    double* term = drug == 0 ? a_ : b_;
    double* powers = drug == 0 ? powa_ : powb_;
    for (int i = 0; i < nlevels; ++i) {
      const int d = levels[i];
      powers[d] = powinit != nullptr ? powinit[d] : std::pow(prior[d], x);
    }
    for (int i = 0; i < nlevels; ++i) {
      const int d = levels[i];
      term[d] = std::pow(1 - powers[d], -gamma);
    }
  } else {
    for (int i = 0; i < cells_.nrows; ++i) {
      const int d1 = cells_.rows[i];
      a_[d1] = std::pow(1 - powa_[d1], -x);
    }
    for (int i = 0; i < cells_.ncols; ++i) {
      const int d2 = cells_.cols[i];
      b_[d2] = std::pow(1 - powb_[d2], -x);
    }
  }
  // pi = 1 - (A + B - 1)^(-1/gamma), with the exponent formed once.
  // The probabilities first, then the terms: the pow calls do not wait for
  // the logarithms of the combination before.
  const double exponent = -1.0 / gamma;
  double pis[kMaxAdm];
  for (int c = 0; c < cells_.n; ++c) {
    pis[c] = 1 - std::pow(a_[cells_.d1[c]] + b_[cells_.d2[c]] - 1, exponent);
  }
  double loglik = 0;
  for (int c = 0; c < cells_.n; ++c) {
    const double term =
        binomialterm(pis[c], cells_.npat[c], cells_.ntox[c], cells_.nfail[c]);
    loglik = loglik + term;
  }
  return loglik;
}

void ToxDensity::carry(double draw, ToxMemo& memo) const {
  memo.valid = false;
  if (havelast_ && draw == lastx_) {  // the chain moved to the last candidate
    memo.valid = true;
    memo.loglik = lastloglik_;
  } else if (havecurrent_ && draw == current_) {  // the chain stayed
    memo.valid = true;
    memo.loglik = currentloglik_;
  }
  memo.at[0] = s_.betatox[0];
  memo.at[1] = s_.betatox[1];
  memo.at[2] = s_.betatox[2];
  memo.at[k_] = draw;
  const double alpha = memo.at[0];
  const double beta = memo.at[1];
  const double gamma = memo.at[2];
  // The drug terms of the draw, when they were the last ones formed.
  if (!havecomputed_ || computedx_ != draw) return;
  if (k_ == 0 || k_ == 2) {
    for (int i = 0; i < cells_.nrows; ++i) {
      const int d1 = cells_.rows[i];
      memo.a[d1] = a_[d1];
      if (k_ == 0) memo.powa[d1] = powa_[d1];
    }
    memo.aalpha = alpha;
    memo.agamma = gamma;
    if (k_ == 0) memo.powaalpha = alpha;
  }
  if (k_ == 1 || k_ == 2) {
    for (int i = 0; i < cells_.ncols; ++i) {
      const int d2 = cells_.cols[i];
      memo.b[d2] = b_[d2];
      if (k_ == 1) memo.powb[d2] = powb_[d2];
    }
    memo.bbeta = beta;
    memo.bgamma = gamma;
    if (k_ == 1) memo.powbbeta = beta;
  }
}

void ToxGrid::update(const TrialState& s, const int* rows, int nrows,
                     const int* cols, int ncols, const ToxMemo& memo) {
  const double alpha = s.betatox[0];
  const double beta = s.betatox[1];
  gamma = s.betatox[2];
  exponent = -1.0 / gamma;
  // The memo holds the terms of the treated levels; the others are formed.
  const bool knowna = memo.aalpha == alpha && memo.agamma == gamma;
  const bool knownb = memo.bbeta == beta && memo.bgamma == gamma;
  for (int i = 0; i < nrows; ++i) {
    const int d1 = rows[i];
    a[d1] = knowna && memo.treatedrow[d1] ? memo.a[d1]
                                          : drugterm(s.priortox1[d1], alpha, gamma);
  }
  for (int i = 0; i < ncols; ++i) {
    const int d2 = cols[i];
    b[d2] = knownb && memo.treatedcol[d2] ? memo.b[d2]
                                          : drugterm(s.priortox2[d2], beta, gamma);
  }
}

DrawStatus drawtoxparams(TrialState& s, const TreatedCells& cells,
                         double prev[3], ToxMemo& memo, StreamState& streams) {
  for (int k = 0; k < s.ntoxpar; ++k) {
    s.toxpar = k;
    double draw = 0;
    ToxDensity density(s, cells, k, memo, prev[k]);
    const int code =
        armsdrawt(kToxLower[k], kToxUpper[k], density, prev[k], &draw, streams);
    if (code != 0) return DrawStatus{code, k, false};
    density.carry(draw, memo);
    s.betatox[k] = draw;
    prev[k] = draw;
  }
  return DrawStatus{};
}

DrawStatus updatetox(TrialState& s, const Design& design, StreamState& streams) {
  const int J = design.settings.ndose1;
  const int K = design.settings.ndose2;
  const double targettox = design.settings.targettox;
  const TreatedCells cells = treatedcells(s, design);

  // Step 1: every call starts the chains afresh.
  double prev[3] = {1, 1, 1};
  s.betatox[0] = 1;
  s.betatox[1] = 1;
  s.betatox[2] = 1;

  // Step 2: clear the summaries of the grid.
  for (int d1 = 0; d1 < J; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      s.meantox[d1][d2] = 0;
      s.prsafe[d1][d2] = 0;
    }
  }

  // Step 3: systematic-scan Gibbs; iterations from kBurnIn on are summarised
  // as running sums of 1/2000 shares.
  static constexpr int kLevels[kMaxDose] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ToxGrid grid;
  ToxMemo memo(cells);
  for (int iter = 0; iter < kNumIter; ++iter) {
    const DrawStatus status = drawtoxparams(s, cells, prev, memo, streams);
    if (!status.ok()) return status;
    if (iter < kBurnIn) continue;
    double* kept = s.toxdraws1[iter - kBurnIn];
    for (int k = 0; k < 3; ++k) kept[k] = s.betatox[k];
    grid.update(s, kLevels, J, kLevels, K, memo);
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
