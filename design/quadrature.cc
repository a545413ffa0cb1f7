// design/quadrature.cc: the tables of a design and the updates from them.
#include "design/quadrature.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "design/effmodel.h"
#include "design/toxmodel.h"
#include "numerics/betafunctions.h"
#include "numerics/betavariate.h"
#include "numerics/gausslegendre.h"
#include "numerics/lanes.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Nodes whose log weight is this far below the largest are left out.
constexpr double kCut = 46;
// ln of the smallest positive double: the log probability of a probtox that
// is 0 in doubles, so that a count times it stays finite.
const double kLogSmallest = std::log(std::numeric_limits<double>::denorm_min());
// Gauss panels of beta between the points where a* crosses alpha's bounds.
constexpr int kPanels = 4;
constexpr int kPanelNodes = 24;

// The posterior weights of a rule's nodes from their log weights: the nodes
// within kCut of the largest, exp(log weight - largest), their total and the
// effective number of nodes. `full` holds every node's weight (0 for those
// left out) when many nodes are active, and sums then run over it in order;
// otherwise they run over the active nodes.
struct Weights {
  std::vector<int> idx;
  std::vector<double> w;
  std::vector<double> full;
  double total = 0;
  double effective = 0;
};

// The sums over the nodes of w * x and w * y for two tables of the nodes, each
// in two running sums (the even and the odd terms, in the two Lanes) combined
// in a fixed order.
void dot2(const Weights& weights, const float* x, const float* y, double* sumx,
          double* sumy) {
  Lanes sx = {0, 0}, sy = {0, 0};
  double x0 = 0, y0 = 0;  // the last, unpaired term
  if (!weights.full.empty()) {
    const double* w = weights.full.data();
    const int n = static_cast<int>(weights.full.size());
    int m = 0;
    for (; m + 2 <= n; m += 2) {
      const Lanes wm = loadlanes(&w[m]);
      const Lanes xm = {x[m], x[m + 1]};
      const Lanes ym = {y[m], y[m + 1]};
      sx = sx + wm * xm;
      sy = sy + wm * ym;
    }
    if (m < n) {
      x0 = w[m] * x[m];
      y0 = w[m] * y[m];
    }
  } else {
    const int* idx = weights.idx.data();
    const double* w = weights.w.data();
    const int n = static_cast<int>(weights.idx.size());
    int m = 0;
    for (; m + 2 <= n; m += 2) {
      const Lanes wm = loadlanes(&w[m]);
      const Lanes xm = {x[idx[m]], x[idx[m + 1]]};
      const Lanes ym = {y[idx[m]], y[idx[m + 1]]};
      sx = sx + wm * xm;
      sy = sy + wm * ym;
    }
    if (m < n) {
      x0 = w[m] * x[idx[m]];
      y0 = w[m] * y[idx[m]];
    }
  }
  *sumx = (sx[0] + x0) + sx[1];
  *sumy = (sy[0] + y0) + sy[1];
}

// A Beta(a + r, b + n - r) draw: by rejection when both shapes are above 1,
// else from two gamma variates (betadraw).
double responsedraw(double a, double b, int n, int r, StreamState& streams) {
  const double p = a + r;
  const double q = (n + b) - r;
  if (p > 1 && q > 1) return betavariate(p, q, streams);
  return betadraw(a, b, n, r, streams);
}

double clamp01(double x) { return std::min(1.0, std::max(0.0, x)); }

void normalise(const std::vector<double>& logw, Weights& out) {
  out.idx.clear();
  out.w.clear();
  out.full.clear();
  out.total = 0;
  double top = -kInf;
  for (double x : logw) top = std::max(top, x);
  const int n = static_cast<int>(logw.size());
  double squares = 0;
  for (int i = 0; i < n; ++i) {
    const double d = logw[i] - top;
    if (!(d > -kCut)) continue;
    const double w = std::exp(d);
    out.idx.push_back(i);
    out.w.push_back(w);
    out.total = out.total + w;
    squares = squares + w * w;
  }
  out.effective = (out.total * out.total) / squares;
  if (4 * out.idx.size() > logw.size()) {
    out.full.assign(logw.size(), 0.0);
    for (size_t m = 0; m < out.idx.size(); ++m) out.full[out.idx[m]] = out.w[m];
  }
}

// The working storage of an update, kept by each thread from one update to
// the next so that its room is allocated once: every update overwrites what
// it uses before reading it, so nothing passes from one update to another.
struct Scratch {
  std::vector<double> logw;
  Weights tox;
  Weights eff;
  std::vector<double> value;
  std::vector<double> prob;
  std::vector<int> alias;
  std::vector<int> small;
  std::vector<int> large;
};

Scratch& scratch() {
  thread_local Scratch room;
  return room;
}

// ln of the smallest alpha with probtox below `target` at beta = e^v for
// prior guesses p and q; +infinity when no alpha is. Falls as v grows.
double logastar(double p, double q, double gamma, double target, double v) {
  const double b = std::pow(1 - std::pow(q, std::exp(v)), -gamma);
  const double rminus1 = std::pow(1 - target, -gamma) - b;
  if (!(rminus1 > 0)) return kInf;
  const double s =
      -std::expm1(-std::log1p(rminus1) / gamma);  // 1 - R^(-1/gamma)
  if (!(s > 0)) return kInf;
  return std::log(std::log(s) / std::log(p));
}

// The v in [lo, hi] where logastar falls to `level`: lo when it is already
// there at lo, hi when it is still above at hi, else by bisection.
double crossing(double p, double q, double gamma, double target, double level,
                double lo, double hi) {
  if (logastar(p, q, gamma, target, lo) <= level) return lo;
  if (logastar(p, q, gamma, target, hi) > level) return hi;
  for (int i = 0; i < 200 && hi - lo > 1e-15; ++i) {
    const double mid = (lo + hi) / 2;
    if (logastar(p, q, gamma, target, mid) > level)
      lo = mid;
    else
      hi = mid;
  }
  return (lo + hi) / 2;
}

class QuadraturePosterior : public Posterior {
 public:
  explicit QuadraturePosterior(const Design& design);
  DrawStatus toxicity(TrialState& s, StreamState& streams,
                      bool wholegrid) const override;
  DrawStatus phase2(TrialState& s, StreamState& streams,
                    bool wholegrid) const override;

 private:
  // The toxicity posterior's node weights from the trial's counts.
  void toxweights(const TrialState& s, Scratch& room) const;
  // meantox and prsafe of combination c (d1 * ndose2 + d2).
  void summary(const Weights& w, int c, double* meantox, double* prsafe) const {
    const size_t base = static_cast<size_t>(c) * ntox_;
    double mean = 0, safe = 0;
    dot2(w, &pitab_[base], &safetab_[base], &mean, &safe);
    *meantox = mean / w.total;
    *prsafe = clamp01(safe / w.total);
  }
  void safeweights(double p, double q, double gamma,
                   std::vector<double>& W) const;
  double lngammaplus(const std::vector<double>& table, int node, int count,
                     double x) const;
  // The Beta(a + r, b + n - r) upper tail at mineff, at efficacy node `node`.
  double efftail(int node, int n, int r) const;

  const Design design_;
  int ncomb_ = 0;
  // Toxicity rule: node (i, k, g) of alpha, beta, gamma is
  // (g * n[1] + k) * n[0] + i.
  int n_[3] = {};
  int ntox_ = 0;
  GaussRule rules_[3];
  std::vector<double> bary_[2];
  std::vector<double> toxlogbase_;  // log of rule weight * prior * Jacobian
  // Per combination c by node: probtox, the prsafe weight relative to the
  // node's rule weight, ln probtox and ln(1 - probtox), in floats (their
  // rounding, 6e-8 relative, is far below the rule's error).
  std::vector<float> pitab_;
  std::vector<float> safetab_;
  std::vector<float> logpitab_;
  std::vector<float> log1mpitab_;
  // Efficacy rule: node (i, k) of a, b is k * ne[0] + i.
  int ne_[2] = {};
  int neff_ = 0;
  std::vector<double> effa_, effb_;
  std::vector<double> efflogbase_;
  std::vector<double> efflnbeta_;  // ln B(a, b) per node
  // ln Gamma(a + r) by a-node and r, ln Gamma(b + m) by b-node and m,
  // ln Gamma(a + b + n) by node and n, for counts up to maxcount_; larger
  // counts are computed when needed.
  int maxcount_ = 0;
  std::vector<double> lga_, lgb_, lgab_;
  // At mineff, per node: the Beta(a, b) upper tail and x^a (1 - x)^b / B(a, b),
  // from which a walk of integer steps gives the tail at any counts.
  std::vector<double> efftail_, effterm_;
};

// Counts up to this go by the walk; larger ones, whose terms could leave the
// range of doubles, by the incomplete Beta function itself.
constexpr int kMaxWalk = 400;

QuadraturePosterior::QuadraturePosterior(const Design& design)
    : design_(design) {
  const QuadratureSettings& q = design.quadrature;
  const int J = design.settings.ndose1;
  const int K = design.settings.ndose2;
  ncomb_ = J * K;
  for (int k = 0; k < 3; ++k) {
    n_[k] = q.toxnodes[k];
    rules_[k] =
        gausslegendre(n_[k], std::log(kToxLower[k]), std::log(kToxUpper[k]));
  }
  bary_[0] = barycentric(rules_[0]);
  bary_[1] = barycentric(rules_[1]);
  ntox_ = n_[0] * n_[1] * n_[2];
  toxlogbase_.resize(ntox_);
  for (int g = 0; g < n_[2]; ++g) {
    for (int k = 0; k < n_[1]; ++k) {
      for (int i = 0; i < n_[0]; ++i) {
        const double u[3] = {rules_[0].x[i], rules_[1].x[k], rules_[2].x[g]};
        const double w[3] = {rules_[0].w[i], rules_[1].w[k], rules_[2].w[g]};
        double lb = 0;
        for (int d = 0; d < 3; ++d) {
          lb = lb + (std::log(w[d]) + toxlogprior(d, std::exp(u[d])) + u[d]);
        }
        toxlogbase_[(g * n_[1] + k) * n_[0] + i] = lb;
      }
    }
  }
  // The tables of every combination.
  const size_t cells = static_cast<size_t>(ncomb_) * ntox_;
  pitab_.resize(cells);
  safetab_.resize(cells);
  logpitab_.resize(cells);
  log1mpitab_.resize(cells);
  std::vector<double> W(static_cast<size_t>(n_[0]) * n_[1]);
  std::vector<double> aterm(n_[0]);
  std::vector<double> bterm(n_[1]);
  for (int d1 = 0; d1 < J; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      const size_t base = static_cast<size_t>(d1 * K + d2) * ntox_;
      const double p = design.prior1[d1];
      const double pq = design.prior2[d2];
      for (int g = 0; g < n_[2]; ++g) {
        const double gamma = std::exp(rules_[2].x[g]);
        for (int i = 0; i < n_[0]; ++i) {
          aterm[i] =
              std::pow(1 - std::pow(p, std::exp(rules_[0].x[i])), -gamma);
        }
        for (int k = 0; k < n_[1]; ++k) {
          bterm[k] =
              std::pow(1 - std::pow(pq, std::exp(rules_[1].x[k])), -gamma);
        }
        safeweights(p, pq, gamma, W);
        for (int k = 0; k < n_[1]; ++k) {
          for (int i = 0; i < n_[0]; ++i) {
            const size_t node = base + (g * n_[1] + k) * n_[0] + i;
            const double lsum = std::log(aterm[i] + bterm[k] - 1);
            const double x = std::exp(-lsum / gamma);  // 1 - probtox
            const double lp = x < 1 ? std::log1p(-x) : kLogSmallest;
            pitab_[node] = static_cast<float>(1 - x);
            logpitab_[node] = static_cast<float>(std::max(lp, kLogSmallest));
            log1mpitab_[node] =
                static_cast<float>(std::max(-lsum / gamma, kLogSmallest));
            safetab_[node] = static_cast<float>(
                W[k * n_[0] + i] / (rules_[0].w[i] * rules_[1].w[k]));
          }
        }
      }
    }
  }

  // Efficacy rule.
  ne_[0] = q.effnodes[0];
  ne_[1] = q.effnodes[1];
  neff_ = ne_[0] * ne_[1];
  const GaussRule ra =
      gausslegendre(ne_[0], std::log(kEffLower), std::log(kEffUpper));
  const GaussRule rb =
      gausslegendre(ne_[1], std::log(kEffLower), std::log(kEffUpper));
  effa_.resize(neff_);
  effb_.resize(neff_);
  efflogbase_.resize(neff_);
  efflnbeta_.resize(neff_);
  for (int k = 0; k < ne_[1]; ++k) {
    for (int i = 0; i < ne_[0]; ++i) {
      const int n = k * ne_[0] + i;
      const double a = std::exp(ra.x[i]);
      const double b = std::exp(rb.x[k]);
      effa_[n] = a;
      effb_[n] = b;
      efflogbase_[n] = (std::log(ra.w[i]) + efflogprior(a) + ra.x[i]) +
                       (std::log(rb.w[k]) + efflogprior(b) + rb.x[k]);
      efflnbeta_[n] = (lngammafn(a) + lngammafn(b)) - lngammafn(a + b);
    }
  }
  const SimulationSettings& st = design.settings;
  const long long most = static_cast<long long>(st.ncohort1) * st.cohortsize1 +
                         static_cast<long long>(st.ncohort2) * st.cohortsize2;
  maxcount_ = static_cast<int>(std::min<long long>(most, kMaxWalk));
  lgab_.resize(static_cast<size_t>(neff_) * (maxcount_ + 1));
  efftail_.resize(neff_);
  effterm_.resize(neff_);
  const double x = design.settings.mineff;
  for (int node = 0; node < neff_; ++node) {
    const double a = effa_[node];
    const double b = effb_[node];
    for (int n = 0; n <= maxcount_; ++n) {
      lgab_[static_cast<size_t>(node) * (maxcount_ + 1) + n] =
          lngammafn((a + b) + n);
    }
    efftail_[node] = betaupper(a, b, x);
    effterm_[node] = x > 0 && x < 1
                         ? std::exp((a * std::log(x) + b * std::log1p(-x)) -
                                    efflnbeta_[node])
                         : 0;
  }
  lga_.resize(static_cast<size_t>(ne_[0]) * (maxcount_ + 1));
  lgb_.resize(static_cast<size_t>(ne_[1]) * (maxcount_ + 1));
  for (int i = 0; i < ne_[0]; ++i) {
    for (int r = 0; r <= maxcount_; ++r) {
      lga_[static_cast<size_t>(i) * (maxcount_ + 1) + r] =
          lngammafn(std::exp(ra.x[i]) + r);
    }
  }
  for (int k = 0; k < ne_[1]; ++k) {
    for (int m = 0; m <= maxcount_; ++m) {
      lgb_[static_cast<size_t>(k) * (maxcount_ + 1) + m] =
          lngammafn(std::exp(rb.x[k]) + m);
    }
  }
}

// W[k * n0 + i]: the integral over the safe set, at one gamma node, of the
// Lagrange basis polynomial of alpha node i times that of beta node k, in
// (ln alpha, ln beta).
void QuadraturePosterior::safeweights(double p, double q, double gamma,
                                      std::vector<double>& W) const {
  const double target = design_.settings.targettox;
  const GaussRule& ru = rules_[0];
  const GaussRule& rv = rules_[1];
  const double ulo = std::log(kToxLower[0]);
  const double uhi = std::log(kToxUpper[0]);
  const double vlo = std::log(kToxLower[1]);
  const double vhi = std::log(kToxUpper[1]);
  std::fill(W.begin(), W.end(), 0.0);
  // Below v1 no alpha is safe; above v2 every alpha is.
  const double v1 = crossing(p, q, gamma, target, uhi, vlo, vhi);
  const double v2 = crossing(p, q, gamma, target, ulo, v1, vhi);
  const int n0 = n_[0];
  const int n1 = n_[1];
  std::vector<double> lu(n0), lv(n1), G(n0);
  const GaussRule unit = gausslegendre(n0, 0, 1);
  if (v2 < vhi) {
    const GaussRule piece = gausslegendre(n1, v2, vhi);
    for (int m = 0; m < n1; ++m) {
      lagrangebasis(rv, bary_[1], piece.x[m], lv.data());
      for (int k = 0; k < n1; ++k) {
        const double lk = piece.w[m] * lv[k];
        for (int i = 0; i < n0; ++i) W[k * n0 + i] += ru.w[i] * lk;
      }
    }
  }
  if (v1 < v2) {
    const GaussRule panel = gausslegendre(kPanelNodes, 0, 1);
    const double width = (v2 - v1) / kPanels;
    for (int pnl = 0; pnl < kPanels; ++pnl) {
      for (int m = 0; m < kPanelNodes; ++m) {
        const double v = v1 + width * (pnl + panel.x[m]);
        const double wv = width * panel.w[m];
        const double sv =
            std::min(uhi, std::max(ulo, logastar(p, q, gamma, target, v)));
        // G_i = integral of basis i from sv to uhi, exact by an n0-point rule.
        std::fill(G.begin(), G.end(), 0.0);
        const double len = uhi - sv;
        if (len > 0) {
          for (int z = 0; z < n0; ++z) {
            lagrangebasis(ru, bary_[0], sv + len * unit.x[z], lu.data());
            const double wz = len * unit.w[z];
            for (int i = 0; i < n0; ++i) G[i] += wz * lu[i];
          }
        }
        lagrangebasis(rv, bary_[1], v, lv.data());
        for (int k = 0; k < n1; ++k) {
          const double lk = wv * lv[k];
          for (int i = 0; i < n0; ++i) W[k * n0 + i] += G[i] * lk;
        }
      }
    }
  }
}

void QuadraturePosterior::toxweights(const TrialState& s, Scratch& room) const {
  std::vector<double>& logw = room.logw;
  logw.assign(toxlogbase_.begin(), toxlogbase_.end());
  const int K = design_.settings.ndose2;
  for (int d1 = 0; d1 < design_.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      const int npat = s.npat[d1][d2];
      if (npat == 0) continue;
      const double ntox = s.ntox[d1][d2];
      const double nfail = npat - s.ntox[d1][d2];
      const size_t base = static_cast<size_t>(d1 * K + d2) * ntox_;
      const float* lp = &logpitab_[base];
      const float* l1p = &log1mpitab_[base];
      if (ntox > 0 && nfail > 0) {
        for (int n = 0; n < ntox_; ++n) {
          logw[n] = logw[n] + (ntox * lp[n] + nfail * l1p[n]);
        }
      } else if (ntox > 0) {
        for (int n = 0; n < ntox_; ++n) logw[n] = logw[n] + ntox * lp[n];
      } else {
        for (int n = 0; n < ntox_; ++n) logw[n] = logw[n] + nfail * l1p[n];
      }
    }
  }
  normalise(logw, room.tox);
}

DrawStatus QuadraturePosterior::toxicity(TrialState& s, StreamState&,
                                         bool wholegrid) const {
  Scratch& room = scratch();
  toxweights(s, room);
  const Weights& w = room.tox;
  const int K = design_.settings.ndose2;
  for (int d1 = 0; d1 < design_.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      // Without the whole grid, the current combination and the neighbours
      // the phase I rule may move to: one level apart in one drug, or in
      // both in opposite directions.
      const int up1 = d1 - s.cur1;
      const int up2 = d2 - s.cur2;
      const bool read = std::abs(up1) + std::abs(up2) <= 1 ||
                        (std::abs(up1) == 1 && up2 == -up1);
      if (wholegrid || read) {
        summary(w, d1 * K + d2, &s.meantox[d1][d2], &s.prsafe[d1][d2]);
      }
    }
  }
  s.effectivenodes = w.effective;
  return DrawStatus{};
}

// ln Gamma(x) where x is the value of efficacy node coordinate `node` plus
// `count`, from `table` when the count is in it.
double QuadraturePosterior::lngammaplus(const std::vector<double>& table,
                                        int node, int count, double x) const {
  if (count <= maxcount_) {
    return table[static_cast<size_t>(node) * (maxcount_ + 1) + count];
  }
  return lngammafn(x);
}

// From the node's tail at (a, b), r steps of a, then n - r steps of b:
// U(a + 1, b) = U(a, b) + T / a and U(a, b + 1) = U(a, b) - T / b, where
// T = x^a (1 - x)^b / B(a, b) moves by x (a + b) / a and (1 - x) (a + b) / b.
double QuadraturePosterior::efftail(int node, int n, int r) const {
  const double x = design_.settings.mineff;
  double a = effa_[node];
  double b = effb_[node];
  if (n > kMaxWalk || !(x > 0 && x < 1))
    return betaupper(a + r, b + (n - r), x);
  double tail = efftail_[node];
  double term = effterm_[node];
  for (int t = 0; t < r; ++t) {
    tail = tail + term / a;
    term = term * ((x * (a + b)) / a);
    a = a + 1;
  }
  for (int t = r; t < n; ++t) {
    tail = tail - term / b;
    term = term * (((1 - x) * (a + b)) / b);
    b = b + 1;
  }
  return tail;
}

DrawStatus QuadraturePosterior::phase2(TrialState& s, StreamState& streams,
                                       bool wholegrid) const {
  const int K = design_.settings.ndose2;
  // Toxicity.
  Scratch& room = scratch();
  toxweights(s, room);
  const Weights& tw = room.tox;
  if (wholegrid) {
    for (int d1 = 0; d1 < design_.settings.ndose1; ++d1) {
      for (int d2 = 0; d2 < K; ++d2) {
        summary(tw, d1 * K + d2, &s.meantox[d1][d2], &s.prsafe[d1][d2]);
      }
    }
  }
  for (int j = 0; j < s.nadm; ++j) {
    double mean = 0;
    if (wholegrid) {
      s.admprsafe[j] = s.prsafe[s.adm1[j]][s.adm2[j]];
    } else {
      summary(tw, s.adm1[j] * K + s.adm2[j], &mean, &s.admprsafe[j]);
    }
  }

  // Efficacy: the distinct (patients, responses) of the admissible entries,
  // each with how many entries have it.
  int npair = 0;
  int pn[kMaxAdm];
  int pr[kMaxAdm];
  int pmult[kMaxAdm];
  int pairof[kMaxAdm];
  for (int j = 0; j < s.nadm; ++j) {
    const int n = s.npat[s.adm1[j]][s.adm2[j]];
    const int r = s.nresp[s.adm1[j]][s.adm2[j]];
    int found = -1;
    for (int t = 0; t < npair && found < 0; ++t) {
      if (pn[t] == n && pr[t] == r) found = t;
    }
    if (found < 0) {
      found = npair++;
      pn[found] = n;
      pr[found] = r;
      pmult[found] = 0;
    }
    ++pmult[found];
    pairof[j] = found;
  }
  std::vector<double>& logw = room.logw;
  logw.assign(efflogbase_.begin(), efflogbase_.end());
  for (int t = 0; t < npair; ++t) {
    if (pn[t] == 0) continue;  // a factor of 1
    const int n = pn[t];
    const int r = pr[t];
    const double mult = pmult[t];
    for (int k = 0; k < ne_[1]; ++k) {
      for (int i = 0; i < ne_[0]; ++i) {
        const int node = k * ne_[0] + i;
        const double a = effa_[node];
        const double b = effb_[node];
        const double lnb = (lngammaplus(lga_, i, r, a + r) +
                            lngammaplus(lgb_, k, n - r, b + (n - r))) -
                           lngammaplus(lgab_, node, n, (a + b) + n);
        logw[node] = logw[node] + mult * (lnb - efflnbeta_[node]);
      }
    }
  }
  normalise(logw, room.eff);
  const Weights& ew = room.eff;
  double pairmean[kMaxAdm];
  double pairtail[kMaxAdm];
  std::vector<double>& value = room.value;
  value.resize(ew.idx.size());
  for (int t = 0; t < npair; ++t) {
    const int n = pn[t];
    const int r = pr[t];
    for (size_t m = 0; m < ew.idx.size(); ++m) {
      const int node = ew.idx[m];
      value[m] = (effa_[node] + r) / ((effa_[node] + effb_[node]) + n);
    }
    double sum = 0, sum2 = 0;
    for (size_t m = 0; m < ew.idx.size(); ++m) sum = sum + ew.w[m] * value[m];
    pairmean[t] = sum / ew.total;
    for (size_t m = 0; m < ew.idx.size(); ++m) {
      value[m] = efftail(ew.idx[m], n, r);
    }
    for (size_t m = 0; m < ew.idx.size(); ++m) sum2 = sum2 + ew.w[m] * value[m];
    pairtail[t] = clamp01(sum2 / ew.total);
  }
  for (int j = 0; j < s.nadm; ++j) {
    s.meaneff[j] = pairmean[pairof[j]];
    s.admpreff[j] = pairtail[pairof[j]];
  }
  s.effectivenodes = tw.effective;

  // The joint draws for the randomisation: an alias table of the active
  // nodes (built in a fixed order), one uniform number per node picked.
  const int nact = static_cast<int>(ew.idx.size());
  std::vector<double>& prob = room.prob;
  std::vector<int>& alias = room.alias;
  std::vector<int>& small = room.small;
  std::vector<int>& large = room.large;
  prob.resize(nact);
  alias.resize(nact);
  small.clear();
  large.clear();
  for (int m = 0; m < nact; ++m) {
    prob[m] = (ew.w[m] * nact) / ew.total;
    alias[m] = m;
    (prob[m] < 1 ? small : large).push_back(m);
  }
  while (!small.empty() && !large.empty()) {
    const int l = small.back();
    small.pop_back();
    const int g = large.back();
    large.pop_back();
    alias[l] = g;
    prob[g] = (prob[g] + prob[l]) - 1;
    (prob[g] < 1 ? small : large).push_back(g);
  }
  for (int g : large) prob[g] = 1;
  for (int l : small) prob[l] = 1;
  const int ndraws = design_.quadrature.ndraws;
  s.ndraws = ndraws;
  bool anyopen = false;
  for (int j = 0; j < s.nadm; ++j) anyopen = anyopen || s.admopen[j] == 1;
  if (!anyopen) return DrawStatus{};  // nothing to randomise among
  for (int t = 0; t < ndraws; ++t) {
    const double x = uniform01(streams) * nact;
    int m = static_cast<int>(x);
    if (m > nact - 1) m = nact - 1;
    const int node = ew.idx[(x - m) < prob[m] ? m : alias[m]];
    for (int j = 0; j < s.nadm; ++j) {
      if (s.admopen[j] != 1) continue;
      const int n = s.npat[s.adm1[j]][s.adm2[j]];
      const int r = s.nresp[s.adm1[j]][s.adm2[j]];
      s.effdraws[j][t] = responsedraw(effa_[node], effb_[node], n, r, streams);
    }
  }
  return DrawStatus{};
}

}  // namespace

std::string checkquadrature(const QuadratureSettings& settings) {
  const std::string range = ": must be from " + std::to_string(kMinNodes) +
                            " to " + std::to_string(kMaxNodes);
  long long total = 1;
  for (int k = 0; k < 3; ++k) {
    const int n = settings.toxnodes[k];
    if (n < kMinNodes || n > kMaxNodes) {
      return "toxnodes[" + std::to_string(k) + "]" + range;
    }
    total *= n;
  }
  if (total > kMaxToxNodes) {
    return "toxnodes: at most " + std::to_string(kMaxToxNodes) +
           " nodes in all";
  }
  for (int k = 0; k < 2; ++k) {
    const int n = settings.effnodes[k];
    if (n < kMinNodes || n > kMaxNodes) {
      return "effnodes[" + std::to_string(k) + "]" + range;
    }
  }
  if (settings.ndraws < kMinQuadDraws || settings.ndraws > kMaxQuadDraws) {
    return "ndraws: must be from " + std::to_string(kMinQuadDraws) + " to " +
           std::to_string(kMaxQuadDraws);
  }
  return "";
}

std::unique_ptr<const Posterior> makequadrature(const Design& design) {
  return std::make_unique<QuadraturePosterior>(design);
}
