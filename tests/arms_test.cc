// tests/arms_test.cc: the adaptive rejection Metropolis sampler.
#include "numerics/arms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "numerics/streams.h"
#include "tests/stat_helpers.h"

namespace {

double stdnormal(double x) { return -x * x / 2; }

// An equal mixture of unit normals at -2 and 2: variance 1 + 4 = 5.
double mixture(double x) {
  return std::log(std::exp(-(x - 2) * (x - 2) / 2) +
                  std::exp(-(x + 2) * (x + 2) / 2));
}

// A normal of standard deviation 1e-06 centred at 0.5.
double narrow(double x) {
  const double d = (x - 0.5) / 1e-06;
  return -d * d / 2;
}

// A log density that records where it was evaluated.
struct Logged {
  double (*f)(double);
  std::vector<double> at;
  double operator()(double x) {
    at.push_back(x);
    return f(x);
  }
};

// Runs `calls` chained draws from `start`, each fed the previous result, and
// returns the draws; counts evaluations and calls that kept the present value.
struct Chain {
  std::vector<double> draws;
  long evals = 0;
  int stays = 0;
};

Chain runchain(double lower, double upper, double (*f)(double), double start,
               int calls) {
  Chain c;
  double x = start;
  for (int i = 0; i < calls; ++i) {
    double next = std::nan("");
    const int code = armsdrawt(
        lower, upper,
        [&](double t) {
          ++c.evals;
          return f(t);
        },
        x, &next, processstreams());
    EXPECT_EQ(code, 0) << "call " << i;
    if (code != 0) break;
    EXPECT_TRUE(next >= lower && next <= upper) << "call " << i << ": " << next;
    if (next == x) ++c.stays;
    x = next;
    c.draws.push_back(x);
  }
  return c;
}

// The initial abscissae of armsdraw on [lower, upper].
void fifths(double lower, double upper, double* xinit) {
  for (int k = 1; k <= 4; ++k) xinit[k - 1] = lower + ((upper - lower) * k) / 5;
}

TEST(arms, SamplerRandFirstValues) {
  samplerrandreset();
  EXPECT_EQ(samplerrand(), 41);
  EXPECT_EQ(samplerrand(), 18467);
  EXPECT_EQ(samplerrand(), 6334);
  EXPECT_EQ(samplerrand(), 26500);
  EXPECT_EQ(samplerrand(), 19169);
  samplerrandreset();
  EXPECT_EQ(samplerrand(), 41);
}

TEST(arms, StreamsAreIndependent) {
  uniform01reset();
  samplerrandreset();
  double x;
  ASSERT_EQ(armsdrawt(-10, 10, stdnormal, 0.0, &x, processstreams()), 0);
  EXPECT_EQ(uniform01(), 0.7879286167848271);
  samplerrandreset();
  for (int i = 0; i < 10; ++i) uniform01();
  EXPECT_EQ(samplerrand(), 41);
}

// Also NaN and infinite bounds, whose abscissae are NaN or infinite.
TEST(arms, EmptyIntervalIs1003WithoutEvaluation) {
  const double inf = std::numeric_limits<double>::infinity();
  const double bounds[][2] = {{1, 1},   {1, 0.5},  {1, -3},  {NAN, 1},
                              {0, NAN}, {-inf, 1}, {0, inf}, {-inf, inf}};
  for (const auto& b : bounds) {
    Logged f{stdnormal, {}};
    double out = 7;
    EXPECT_EQ(armsdrawt(b[0], b[1], f, 0.5, &out, processstreams()), kArmsBadAbscissae)
        << b[0] << " " << b[1];
    EXPECT_TRUE(f.at.empty());
    EXPECT_EQ(out, 7);
  }
}

// On [1, 1 + 4 ulp] the fifths round to 1 + 1, 2, 2 and 3 ulp.
TEST(arms, UnseparableAbscissaeAre1004WithoutEvaluation) {
  const double lower = 1;
  double upper = lower;
  for (int i = 0; i < 4; ++i) upper = std::nextafter(upper, 2.0);
  Logged f{stdnormal, {}};
  double out = 7;
  EXPECT_EQ(armsdrawt(lower, upper, f, lower, &out, processstreams()), kArmsNotIncreasing);
  EXPECT_TRUE(f.at.empty());
  EXPECT_EQ(out, 7);
}

TEST(arms, CurrentOutsideIs1007AfterFourEvaluations) {
  for (const double current :
       {-0.1, 5.1, std::nextafter(5.0, 6.0), std::nan("")}) {
    Logged f{stdnormal, {}};
    double out = 7;
    EXPECT_EQ(armsdrawt(0.0, 5.0, f, current, &out, processstreams()), kArmsCurrentOutside);
    EXPECT_EQ(f.at.size(), 4u) << current;
    EXPECT_EQ(out, 7);
  }
}

TEST(arms, InitialAbscissaeAreTheFifths) {
  samplerrandreset();
  Logged f{stdnormal, {}};
  double out;
  ASSERT_EQ(armsdrawt(0.0, 5.0, f, 2.5, &out, processstreams()), 0);
  ASSERT_GE(f.at.size(), 6u);
  EXPECT_EQ(f.at[0], 1.0);
  EXPECT_EQ(f.at[1], 2.0);
  EXPECT_EQ(f.at[2], 3.0);
  EXPECT_EQ(f.at[3], 4.0);
  EXPECT_EQ(f.at[4], 2.5);  // the current value
}

TEST(arms, CurrentOnABoundIsAccepted) {
  samplerrandreset();
  for (const double current : {0.0, 5.0}) {
    double out = std::nan("");
    EXPECT_EQ(armsdrawt(0.0, 5.0, stdnormal, current, &out, processstreams()), 0) << current;
    EXPECT_TRUE(out >= 0 && out <= 5) << out;
  }
}

struct Shifted {
  double mean;
  int calls = 0;
};

double shiftednormal(double x, void* userdata) {
  Shifted* s = static_cast<Shifted*>(userdata);
  ++s->calls;
  return -(x - s->mean) * (x - s->mean) / 2;
}

TEST(arms, FunctionPointerEntryMatchesTemplate) {
  Shifted s{1.5};
  samplerrandreset();
  std::vector<double> viapointer;
  double x = 0;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(armsdraw(-10, 10, shiftednormal, &s, x, &x, processstreams()), 0);
    viapointer.push_back(x);
  }
  samplerrandreset();
  int calls = 0;
  x = 0;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(armsdrawt(
                  -10, 10,
                  [&calls](double t) {
                    ++calls;
                    return -(t - 1.5) * (t - 1.5) / 2;
                  },
                  x, &x, processstreams()),
              0);
    ASSERT_EQ(x, viapointer[i]) << "call " << i;
  }
  EXPECT_EQ(s.calls, calls);
}

// Exact results of chained calls from the source's start, checked against a
// second implementation written separately, line by line, from the
// algorithm; a change in the order of evaluations or integers, or in any
// formula, changes them. nextrand pins how many integers the calls took.
TEST(arms, ChainedDrawsReproduceExactly) {
  struct Case {
    double lower, upper, start;
    double (*f)(double);
    double last, sum;
    long evals;
    int nextrand;
  };
  const Case cases[] = {
      {-10, 10, 0, stdnormal, 0.13637483319222099, 27.18852399241371, 7919,
       15346},
      {-8, 8, 0, mixture, 2.9128164337179241, 17.725768865746833, 7800, 15967},
      {0, 1e9, 0.5, narrow, 0.50000006423085075, 500.00003389929918, 55725,
       1418},
  };
  for (const Case& c : cases) {
    samplerrandreset();
    const Chain chain = runchain(c.lower, c.upper, c.f, c.start, 1000);
    ASSERT_EQ(chain.draws.size(), 1000u);
    double sum = 0;
    for (const double x : chain.draws) sum += x;
    EXPECT_EQ(chain.draws.back(), c.last) << c.lower << " " << c.upper;
    EXPECT_EQ(sum, c.sum) << c.lower << " " << c.upper;
    EXPECT_EQ(chain.evals, c.evals) << c.lower << " " << c.upper;
    EXPECT_EQ(samplerrand(), c.nextrand) << c.lower << " " << c.upper;
  }
}

// A log-concave density: the envelope stays above it, so every candidate
// that passes the rejection test is an exact draw and the Metropolis step
// always moves. The draws are independent, so the distribution can be held
// against the DKW bound.
TEST(arms, NormalChain) {
  samplerrandreset();
  const int n = 100000;
  Chain chain = runchain(-10, 10, stdnormal, 0, n);
  ASSERT_EQ(chain.draws.size(), static_cast<std::size_t>(n));
  EXPECT_EQ(chain.stays, 0);
  const stattest::Moments m = stattest::moments(chain.draws);
  EXPECT_NEAR(m.mean, 0, 6 * std::sqrt(1.0 / n));
  EXPECT_NEAR(m.var, 1, 6 * std::sqrt(2.0 / n));
  const double d = stattest::ksdistance(chain.draws, stattest::normalcdf);
  EXPECT_LT(d, stattest::dkwbound(n, 1e-6)) << "n = " << n;
  const double evalspercall = static_cast<double>(chain.evals) / n;
  std::printf(
      "standard normal on [-10, 10], %d chained calls: %.4f log-density "
      "evaluations per call\n",
      n, evalspercall);
  RecordProperty("evalspercall", std::to_string(evalspercall));
  EXPECT_LT(evalspercall, 8.5);
}

// Two modes: the envelope can dip below the density between them, and the
// Metropolis step then sometimes keeps the present value. The chain's draws
// are dependent, so only moments are checked, with room for that.
TEST(arms, MixtureChain) {
  samplerrandreset();
  const int n = 100000;
  const Chain chain = runchain(-8, 8, mixture, 0, n);
  ASSERT_EQ(chain.draws.size(), static_cast<std::size_t>(n));
  EXPECT_GT(chain.stays, 0);
  EXPECT_LT(chain.stays, n / 10);
  const stattest::Moments m = stattest::moments(chain.draws);
  EXPECT_NEAR(m.mean, 0, 0.1);
  EXPECT_NEAR(m.var, 5, 0.2);
}

// A constant log density: all pieces are trapezoids and the draws are
// uniform and independent.
TEST(arms, ConstantDensityGivesUniformDraws) {
  samplerrandreset();
  const int n = 100000;
  Chain chain = runchain(
      0, 1, [](double) { return 0.0; }, 0.5, n);
  ASSERT_EQ(chain.draws.size(), static_cast<std::size_t>(n));
  const stattest::Moments m = stattest::moments(chain.draws);
  EXPECT_NEAR(m.mean, 0.5, 6 * std::sqrt(1.0 / 12 / n));
  EXPECT_NEAR(m.var, 1.0 / 12, 6 * std::sqrt(1.0 / 180 / n));
  const double d =
      stattest::ksdistance(chain.draws, [](double u) { return u; });
  EXPECT_LT(d, stattest::dkwbound(n, 1e-6)) << "n = " << n;
}

// Densities piled against a bound, steep, flat or wide: every draw lies in
// [lower, upper].
TEST(arms, DrawsStayInsideTheBounds) {
  samplerrandreset();
  struct Case {
    double lower, upper, start;
    double (*f)(double);
  };
  const Case cases[] = {
      {0, 1, 0.5, [](double x) { return 1000 * x; }},
      {0, 1, 0.5, [](double x) { return -1000 * x; }},
      {-1e-12, 1e-12, 0, [](double x) { return 1e12 * x; }},
      {1e-300, 1, 0.5, [](double x) { return -0.5 * std::log(x); }},
      {-1000, 1000, 0, [](double x) { return -std::log(1 + x * x); }},
      {0, 1e9, 0.5, narrow},
  };
  for (const Case& c : cases) {
    const Chain chain = runchain(c.lower, c.upper, c.f, c.start, 2000);
    EXPECT_EQ(chain.draws.size(), 2000u) << c.lower << " " << c.upper;
  }
}

// A very narrow density on a very wide interval: 45 insertions fill the
// envelope (99 records), and later rejected candidates leave it alone until
// one passes. Chained calls through the entry's own steps, to see the
// envelope.
TEST(arms, NarrowDensityFillsTheEnvelope) {
  samplerrandreset();
  double xinit[4];
  fifths(0, 1e9, xinit);
  double x = 0.5;
  int filled = 0;
  int rejectedwhenfull = 0;
  for (int i = 0; i < 20; ++i) {
    Envelope env;
    bool built = false;
    int evalsfull = 0;
    auto f = [&](double t) {
      if (built && env.used == 99) ++evalsfull;
      return narrow(t);
    };
    ASSERT_EQ(envbuild(env, 0, 1e9, xinit, f), 0);
    built = true;
    ChainState chain{x, narrow(x)};
    ASSERT_EQ(armsrun(env, chain, f, &x, processstreams()), 0);
    EXPECT_TRUE(x >= 0 && x <= 1e9) << x;
    EXPECT_NEAR(x, 0.5, 1e-5);
    EXPECT_LE(env.used, 99);
    if (env.used == 99) ++filled;
    // Past the one accepted candidate (and a possible moved copy at the
    // 45th insertion), evaluations on a full envelope are rejected
    // candidates.
    if (evalsfull > 2) ++rejectedwhenfull;
  }
  EXPECT_GE(filled, 10);
  EXPECT_GE(rejectedwhenfull, 1);
}

// Nine records linked in storage order, as envbuild lays them out.
void layout(Envelope& env, const double (&x)[9], const double (&y)[9]) {
  EnvPoint* p = env.points;
  for (int j = 0; j < 9; ++j) {
    p[j].x = x[j];
    p[j].y = y[j];
    p[j].ondensity = j % 2;
    p[j].left = j > 0 ? &p[j - 1] : nullptr;
    p[j].right = j < 8 ? &p[j + 1] : nullptr;
  }
  env.used = 9;
}

// Rounding places the intersection between two density points one unit in
// the last place apart outside them (cases found by search); it is moved
// onto the nearer one.
TEST(arms, ChordPlacementStaysBetweenItsNeighbours) {
  struct Case {
    double base, yl, yr;
    bool belowleft;  // where rounding puts it
  };
  const Case cases[] = {
      {1.0 + 252 * 0.001, -1 - 0.01 * 0, -1 - 0.013 * 10, true},
      {1.0 + 318 * 0.001, -1 - 0.01 * 3, -1 - 0.013 * 10, false},
  };
  for (const Case& c : cases) {
    Envelope env;
    const double xr = std::nextafter(c.base, 10.0);
    layout(env, {0, 0.5, 0, c.base, 0, xr, 0, 5, 6},
           {0, -3, 0, c.yl, 0, c.yr, 0, -4, 0});
    EnvPoint* q = &env.points[4];
    ASSERT_EQ(envchord(env, q), 0);
    EXPECT_EQ(q->x, c.belowleft ? c.base : xr) << c.base;
    EXPECT_GT(q->y, std::max(c.yl, c.yr));
  }
}

// Probs that put the inverted x one unit in the last place outside its piece
// (found by search): x is moved onto the piece before y is derived.
TEST(arms, DrawnCandidateStaysInsideItsPiece) {
  {
    // An exponential piece; x falls left of it.
    auto f = [](double x) {
      const double d = (x - -2.63) / 0.41;
      return -d * d / 2;
    };
    double xinit[4];
    fifths(-11, 10.3, xinit);
    Envelope env;
    ASSERT_EQ(envbuild(env, -11, 10.3, xinit, f), 0);
    EnvPoint cand;
    envdraw(env, 0.99999999999999034, &cand);
    ASSERT_GE(std::fabs(cand.right->y - cand.left->y), 0.1);
    EXPECT_EQ(cand.x, cand.left->x);
    EXPECT_EQ(cand.y, cand.left->y);
    EXPECT_EQ(cand.expy, envexp(cand.left->y, env.yscale));
  }
  {
    // A trapezoid piece; x falls right of it.
    auto f = [](double x) {
      return -0.024999999999999998 * x + -0.0025000000000000001 * x * x;
    };
    double xinit[4];
    fifths(-1.5, 1.3500000000000001, xinit);
    Envelope env;
    ASSERT_EQ(envbuild(env, -1.5, 1.3500000000000001, xinit, f), 0);
    EnvPoint cand;
    envdraw(env, 0.50864959973072665, &cand);
    ASSERT_LT(std::fabs(cand.right->y - cand.left->y), 0.1);
    EXPECT_EQ(cand.x, cand.right->x);
  }
}

TEST(arms, GuardsDetectBrokenLinks) {
  Envelope env;
  const double x[9] = {0, 1, 1.5, 2, 2.5, 3, 3.5, 4, 5};
  const double y[9] = {0, -1, 0, -2, 0, -3, 0, -4, 0};
  layout(env, x, y);
  EXPECT_EQ(envchord(env, &env.points[3]), -kArmsGuardChordOnDensity);

  // A bound whose only neighbour has no chord beyond it.
  EnvPoint b{6, 0, 0, 0, 0, nullptr, nullptr};
  EnvPoint d{5, -1, 0, 0, 1, nullptr, &b};
  b.left = &d;
  EXPECT_EQ(envchord(env, &b), -kArmsGuardNoGradient);

  // Both, or neither, ends of the candidate's piece on the density.
  EnvPoint cand{1.2, -1, 0, 0, 1, &env.points[1], &env.points[3]};
  EXPECT_EQ(envrefine(env, cand, stdnormal), -kArmsGuardPieceEnds);
  layout(env, x, y);
  cand.left = &env.points[2];
  cand.right = &env.points[4];
  EXPECT_EQ(envrefine(env, cand, stdnormal), -kArmsGuardPieceEnds);

  layout(env, x, y);
  EXPECT_EQ(envrescale(env), 0);
  env.points[5].left = nullptr;
  EXPECT_EQ(envrescale(env), -kArmsGuardBrokenList);
}

}  // namespace
