// numerics/arms-inl.h: the sampler's envelope and its operations.
//
// Included by arms.h; include that instead. Everything is here, in the
// header, so that armsdrawt can inline a caller's log density; the draws do
// not depend on what is inlined.
//
// The envelope bounds the log density from above by a piecewise-linear
// function through chords of evaluated points. Its records run, linked left
// to right, from the left bound to the right bound and alternate between
// non-density records (the bounds and the intersections of the chords) and
// density points: bound, point, intersection, point, ..., point, bound.
// Every piece (the stretch between two neighbours) thus has exactly one end on
// the density. Exponentiated, the envelope is a piecewise-exponential density
// sampled exactly by inverting its cumulative area.
//
// Heights are kept as logs and exponentiated relative to the largest one,
// plus 50, so that exp neither overflows nor underflows where it matters.
// Pieces whose end heights differ by less than 0.1 are integrated and
// inverted as trapezoids.
#ifndef COMBOSIM_NUMERICS_ARMS_INL_H_
#define COMBOSIM_NUMERICS_ARMS_INL_H_

#include <cmath>

// One point of the envelope.
struct EnvPoint {
  double x;        // abscissa
  double y;        // log height: the log density if ondensity, else the
                   // envelope's log height at this intersection or bound
  double expy;     // scaled height envexp(y)
  double cumarea;  // area under the scaled envelope from the left bound to x
  int ondensity;   // 1 for an evaluated point, 0 for intersections and bounds
  EnvPoint* left;  // neighbours in order of x; null at the two ends
  EnvPoint* right;
};

constexpr int kEnvCapacity = 100;  // records of one envelope
constexpr int kEnvLeftBound = 0;   // record of the left bound, for the call
constexpr int kEnvRightBound = 8;  // record of the right bound, for the call

// The envelope of one call. It lives on the caller's stack: the records are
// left uninitialised until envbuild lays them out. Records 0 to 8 are the
// initial envelope; new records are taken from `used` upwards and are always
// linked between two existing ones, so records 0 and 8 stay the two bounds.
struct Envelope {
  int used;  // records of `points` in use
  int capacity = kEnvCapacity;
  double yscale;                  // the largest y of all records
  double convexity = 1.0;         // convexity adjustment of envchord
  EnvPoint points[kEnvCapacity];  // order given by the links
};

// The Markov chain's present value and its log density.
struct ChainState {
  double chainx;
  double chainy;
};

// S(y): the scaled height of log height y, exp(y - yscale + 50), or 0 when y
// lies 100 or more below yscale.
inline double envexp(double y, double yscale) {
  const double d = y - yscale;
  return d > -100 ? std::exp(d + 50) : 0;
}

// L(e): the log height of scaled height e, (ln e + yscale) - 50.
inline double envlog(double e, double yscale) {
  return (std::log(e) + yscale) - 50;
}

// The sampler's uniform number: (r + 0.5) / 32768 for the next r of
// samplerrand(streams), in (0, 1). Advances the sampler's integer source.
inline double sampleruniform(StreamState& streams) {
  return (samplerrand(streams) + 0.5) * 3.0517578125e-05;
}

// Places the non-density record q (an intersection or a bound) from the chord
// gradients of its neighbourhood. Returns 0, or a negated ArmsGuard.
inline int envchord(const Envelope& env, EnvPoint* q) {
  if (q->ondensity) return -kArmsGuardChordOnDensity;
  EnvPoint* const l = q->left;
  EnvPoint* const r = q->right;
  // Which gradients are defined.
  const bool hasgl =
      l != nullptr && l->left != nullptr && l->left->left != nullptr;
  const bool hasgr =
      r != nullptr && r->right != nullptr && r->right->right != nullptr;
  const bool hasgm = l != nullptr && r != nullptr;
  double gl = 0;
  double gr = 0;
  double gm = 0;
  // Chords through the two nearest density points on each side, and the
  // chord across q.
  if (hasgl) {
    const EnvPoint* const lll = l->left->left;
    gl = (l->y - lll->y) / (l->x - lll->x);
  }
  if (hasgr) {
    const EnvPoint* const rrr = r->right->right;
    gr = (r->y - rrr->y) / (r->x - rrr->x);
  }
  if (hasgm) gm = (r->y - l->y) / (r->x - l->x);
  // Convexity adjustment: a side gradient on the wrong side of gm is
  // reflected about it (convexity 1).
  if (hasgl && hasgm && gl < gm) gl = gl + (1 + env.convexity) * (gm - gl);
  if (hasgr && hasgm && gr > gm) gr = gr + (1 + env.convexity) * (gm - gr);
  // Rises above the far neighbour's height, at least 0.1.
  double dl = 0;
  double dr = 0;
  if (hasgl && hasgm) {
    dr = (gl - gm) * (r->x - l->x);
    if (dr < 0.1) dr = 0.1;
  }
  if (hasgr && hasgm) {
    dl = (gm - gr) * (r->x - l->x);
    if (dl < 0.1) dl = 0.1;
  }
  if (hasgl && hasgr && hasgm) {
    q->x = (l->x * dr + r->x * dl) / (dl + dr);
    q->y = (r->y * dl + l->y * dr + dl * dr) / (dl + dr);
  } else if (hasgl && hasgm) {
    q->x = r->x;
    q->y = r->y + dr;
  } else if (hasgr && hasgm) {
    q->x = l->x;
    q->y = l->y + dl;
  } else if (hasgl) {  // the right bound
    q->y = l->y + gl * (q->x - l->x);
  } else if (hasgr) {  // the left bound
    q->y = r->y - gr * (r->x - q->x);
  } else {
    return -kArmsGuardNoGradient;
  }
  // Rounding can put q just outside its neighbours: move it onto the nearer
  // one, keeping its y.
  if (l != nullptr && q->x < l->x) {
    q->x = l->x;
  } else if (r != nullptr && q->x > r->x) {
    q->x = r->x;
  }
  return 0;
}

// Sets yscale, and expy and cumarea of every record. Returns 0, or
// -kArmsGuardBrokenList.
inline int envrescale(Envelope& env) {
  EnvPoint* leftmost = &env.points[kEnvLeftBound];
  while (leftmost->left != nullptr) leftmost = leftmost->left;
  double yscale = leftmost->y;
  for (const EnvPoint* q = leftmost->right; q != nullptr; q = q->right) {
    if (q->y > yscale) yscale = q->y;
  }
  env.yscale = yscale;
  leftmost->expy = envexp(leftmost->y, yscale);
  leftmost->cumarea = 0;
  for (EnvPoint* q = leftmost->right; q != nullptr; q = q->right) {
    const EnvPoint* const p = q->left;
    if (p == nullptr) return -kArmsGuardBrokenList;
    q->expy = envexp(q->y, yscale);
    double area;
    if (q->x == p->x) {
      area = 0;
    } else if (std::fabs(q->y - p->y) < 0.1) {  // trapezoid
      area = ((p->expy + q->expy) * 0.5) * (q->x - p->x);
    } else {  // exact integral of the exponential piece
      area = ((q->expy - p->expy) / (q->y - p->y)) * (q->x - p->x);
    }
    q->cumarea = p->cumarea + area;
  }
  return 0;
}

// Turns prob, in (0, 1), into a candidate drawn from the exponentiated
// envelope: its x, y, expy, cumarea and the piece (left, right) holding it.
inline void envdraw(Envelope& env, double prob, EnvPoint* cand) {
  EnvPoint* q = &env.points[kEnvRightBound];
  const double u = prob * q->cumarea;
  while (q->left->cumarea > u) q = q->left;
  EnvPoint* const p = q->left;
  cand->cumarea = u;
  cand->left = p;
  cand->right = q;
  cand->ondensity = 0;
  const double prop = (u - p->cumarea) / (q->cumarea - p->cumarea);
  if (q->x == p->x) {  // zero area: not reached in practice
    cand->x = q->x;
    cand->y = q->y;
    cand->expy = q->expy;
    return;
  }
  const double xl = p->x;
  const double yl = p->y;
  const double el = p->expy;
  const double xr = q->x;
  const double yr = q->y;
  const double er = q->expy;
  // Rounding can put x just outside its piece: it is moved to the nearer end
  // before its height is derived.
  const auto inpiece = [xl, xr](double x) {
    return x < xl ? xl : (x > xr ? xr : x);
  };
  if (std::fabs(yr - yl) < 0.1) {
    // Integrated as a trapezoid: invert the quadratic cumulative area, or,
    // when the end heights are nearly equal, interpolate linearly.
    double x;
    if (std::fabs(er - el) > 0.001 * std::fabs(er + el)) {
      x = xl + ((xr - xl) / (er - el)) *
                   (std::sqrt((1 - prop) * el * el + prop * er * er) - el);
    } else {
      x = xl + (xr - xl) * prop;
    }
    x = inpiece(x);
    cand->x = x;
    cand->expy = ((x - xl) / (xr - xl)) * (er - el) + el;
    cand->y = envlog(cand->expy, env.yscale);
  } else {
    // Integrated exactly: invert the exponential piece.
    const double x = inpiece(
        xl + ((xr - xl) / (yr - yl)) *
                 (envlog((1 - prop) * el + prop * er, env.yscale) - yl));
    cand->x = x;
    cand->y = ((x - xl) / (xr - xl)) * (yr - yl) + yl;
    cand->expy = envexp(cand->y, env.yscale);
  }
}

// Lays out and integrates the initial envelope on [lower, upper] through the
// density points xinit[0..3], evaluated in that order. Returns 0, an
// ArmsCode, or a negated ArmsGuard.
template <class F>
int envbuild(Envelope& env, double lower, double upper, const double* xinit,
             F& logdensity) {
  // Written so that NaN abscissae (from NaN or infinite bounds) fail too.
  if (!(lower < xinit[0]) || !(xinit[3] < upper)) return kArmsBadAbscissae;
  for (int k = 1; k < 4; ++k) {
    if (xinit[k - 1] >= xinit[k]) return kArmsNotIncreasing;
  }
  if (env.convexity < 0) return kArmsBadConvexity;
  // Nine records in storage order: bound, 4 x (point, intersection but the
  // last), bound.
  EnvPoint* const pts = env.points;
  for (int j = 0; j < 9; ++j) {
    pts[j].left = j > 0 ? &pts[j - 1] : nullptr;
    pts[j].right = j < 8 ? &pts[j + 1] : nullptr;
    pts[j].ondensity = j % 2;
    if (j % 2 == 1) {
      pts[j].x = xinit[j / 2];
      pts[j].y = logdensity(pts[j].x);
    }
  }
  pts[0].x = lower;
  pts[8].x = upper;
  for (int j = 0; j < 9; j += 2) {
    const int s = envchord(env, &pts[j]);
    if (s != 0) return s;
  }
  const int s = envrescale(env);
  if (s != 0) return s;
  env.used = 9;
  return 0;
}

// Inserts the rejected candidate, now a density point, into the envelope
// together with a new intersection, and re-places and re-integrates around
// it. Does nothing when the envelope is full (99 records). Returns 0, or a
// negated ArmsGuard.
template <class F>
int envrefine(Envelope& env, const EnvPoint& cand, F& logdensity) {
  if (env.used > env.capacity - 2) return 0;
  EnvPoint* const q = &env.points[env.used];
  EnvPoint* const m = &env.points[env.used + 1];
  env.used += 2;
  q->x = cand.x;
  q->y = cand.y;
  q->ondensity = 1;
  m->ondensity = 0;
  EnvPoint* const l = cand.left;
  EnvPoint* const r = cand.right;
  if (l->ondensity && !r->ondensity) {  // l, m, q, r
    m->left = l;
    m->right = q;
    q->left = m;
    q->right = r;
    l->right = m;
    r->left = q;
  } else if (!l->ondensity && r->ondensity) {  // l, q, m, r
    q->left = l;
    q->right = m;
    m->left = q;
    m->right = r;
    l->right = q;
    r->left = m;
  } else {
    return -kArmsGuardPieceEnds;
  }
  // Keep q away from its neighbouring density points (the candidate keeps
  // its own x; only the stored point moves).
  const EnvPoint* const ql = q->left->left != nullptr ? q->left->left : q->left;
  const EnvPoint* const qr =
      q->right->right != nullptr ? q->right->right : q->right;
  const double xlo = 0.99999 * ql->x + 0.00001 * qr->x;
  if (q->x < xlo) {
    q->x = xlo;
    q->y = logdensity(q->x);
  } else {
    const double xhi = 0.00001 * ql->x + 0.99999 * qr->x;
    if (q->x > xhi) {
      q->x = xhi;
      q->y = logdensity(q->x);
    }
  }
  // Re-place the intersections whose chords changed.
  int s = envchord(env, q->left);
  if (s == 0) s = envchord(env, q->right);
  if (s == 0 && q->left->left != nullptr && q->left->left->left != nullptr) {
    s = envchord(env, q->left->left->left);
  }
  if (s == 0 && q->right->right != nullptr &&
      q->right->right->right != nullptr) {
    s = envchord(env, q->right->right->right);
  }
  if (s != 0) return s;
  return envrescale(env);
}

// Judges the candidate: a rejection test against the envelope, then, for a
// candidate that passes, a Metropolis step against the chain's present value.
// Returns 1 with the chain's next value in *out, 0 when the candidate is
// rejected (and refines the envelope), or a negated ArmsGuard; *out is
// written only with the result 1.
template <class F>
int armsaccept(Envelope& env, ChainState& chain, EnvPoint& cand, F& logdensity,
               double* out, StreamState& streams) {
  // Step 1: a random log height under the envelope at the candidate.
  const double u = sampleruniform(streams);
  const double y = envlog(u * cand.expy, env.yscale);
  // Step 2.
  const double ynew = logdensity(cand.x);
  // Step 3: rejection. The stored copy takes only x and y, so the
  // candidate's expy is not updated.
  if (y >= ynew) {
    cand.y = ynew;
    cand.ondensity = 1;
    return envrefine(env, cand, logdensity);
  }
  // Step 4: Metropolis. Find the piece holding chainx.
  const EnvPoint* ql = &env.points[kEnvLeftBound];
  while (ql->right->x < chain.chainx) ql = ql->right;
  const EnvPoint* const qr = ql->right;
  // Envelope heights at chainx and at the candidate, capped by the density.
  double zold =
      ql->y + ((chain.chainx - ql->x) / (qr->x - ql->x)) * (qr->y - ql->y);
  double znew = cand.y;
  if (chain.chainy < zold) zold = chain.chainy;
  if (ynew < znew) znew = ynew;
  const double w = ((ynew - znew) - chain.chainy) + zold;
  double a;
  if (w > 0) {
    a = 1;
  } else if (w > -50) {
    a = std::exp(w);
  } else {
    a = 0;  // also for a NaN w
  }
  const double v = sampleruniform(streams);
  if (v > a) {  // the chain stays
    *out = chain.chainx;
  } else {  // the chain moves
    chain.chainx = cand.x;
    chain.chainy = ynew;
    *out = cand.x;
  }
  return 1;
}

// Draws candidates from the built envelope until one is accepted. Returns
// kArmsOk with the chain's next value in *out, or a negated ArmsGuard.
template <class F>
int armsrun(Envelope& env, ChainState& chain, F& logdensity, double* out,
            StreamState& streams) {
  for (;;) {
    EnvPoint cand;
    envdraw(env, sampleruniform(streams), &cand);
    const int r = armsaccept(env, chain, cand, logdensity, out, streams);
    if (r == 1) return kArmsOk;
    if (r != 0) return r;
  }
}

template <class F>
int armsdrawt(double lower, double upper, F&& logdensity, double current,
              double* out, StreamState& streams) {
  // Four initial abscissae at the fifths of the interval.
  double xinit[4];
  for (int k = 1; k <= 4; ++k) {
    xinit[k - 1] = lower + ((upper - lower) * k) / 5;
  }
  Envelope env;
  const int code = envbuild(env, lower, upper, xinit, logdensity);
  if (code != 0) return code;
  // Equality with a bound is allowed; a NaN current is outside.
  if (!(current >= lower && current <= upper)) return kArmsCurrentOutside;
  ChainState chain;
  chain.chainx = current;
  chain.chainy = logdensity(current);
  return armsrun(env, chain, logdensity, out, streams);
}

#endif  // COMBOSIM_NUMERICS_ARMS_INL_H_
