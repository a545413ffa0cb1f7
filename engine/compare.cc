// engine/compare.cc: paired differences of the operating characteristics.
#include "engine/compare.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// GCC's and Clang's 128-bit integer (__extension__: no pedantic warning).
__extension__ typedef __int128 int128;

// sum a_i a_j of a triangle that keeps i <= j.
std::int64_t product(const std::int64_t m[kNumTrialCounts][kNumTrialCounts],
                     int i, int j) {
  return i <= j ? m[i][j] : m[j][i];
}

// The SE of the mean of n differences from their sum and sum of squares,
// scaled: scale * SD / sqrt(n), the numerator of the variance exact in 128
// bits.
double differencemcse(std::int64_t sum, std::int64_t sum2, std::int64_t n,
                      double scale) {
  if (n < 2) return kNaN;
  const int128 d = static_cast<int128>(n) * sum2 - static_cast<int128>(sum) * sum;
  const double nn1 = static_cast<double>(n) * static_cast<double>(n - 1);
  return scale * std::sqrt(static_cast<double>(d) / nn1) /
         std::sqrt(static_cast<double>(n));
}

// The paired SE of the difference of the ratios sum X / sum Y, x and y the
// counts' indices. z_t = c_a X_a - k_a Y_a - c_b X_b + k_b Y_b with
// c = 1 / mean Y and k = R / mean Y is written as
// alpha X_a - beta Y_a + c_b dX - k_b dY (alpha = c_a - c_b, beta = k_a - k_b,
// dX = X_a - X_b, dY = Y_a - Y_b), whose sums of products are exact
// integers: two identical designs give exactly 0.
double ratiodifferencemcse(const PairedSums& s, int x, int y) {
  const std::int64_t n = s.ntrial;
  if (n < 2) return kNaN;
  const double nd = static_cast<double>(n);
  const double ra = static_cast<double>(s.a[x]) / static_cast<double>(s.a[y]);
  const double rb = static_cast<double>(s.b[x]) / static_cast<double>(s.b[y]);
  const double ca = nd / static_cast<double>(s.a[y]);
  const double cb = nd / static_cast<double>(s.b[y]);
  const double ka = ra * ca;
  const double kb = rb * cb;
  const double alpha = ca - cb;
  const double beta = ka - kb;
  const std::int64_t xx = s.aa[x][x];
  const std::int64_t yy = s.aa[y][y];
  const std::int64_t xy = product(s.aa, x, y);
  const std::int64_t dxdx = s.aa[x][x] - 2 * s.ab[x][x] + s.bb[x][x];
  const std::int64_t dydy = s.aa[y][y] - 2 * s.ab[y][y] + s.bb[y][y];
  const std::int64_t dxdy =
      ((xy - s.ab[x][y]) - s.ab[y][x]) + product(s.bb, x, y);
  const std::int64_t xdx = s.aa[x][x] - s.ab[x][x];
  const std::int64_t xdy = xy - s.ab[x][y];
  const std::int64_t ydx = xy - s.ab[y][x];
  const std::int64_t ydy = s.aa[y][y] - s.ab[y][y];
  const auto f = [](std::int64_t v) { return static_cast<double>(v); };
  const double squares =
      alpha * alpha * f(xx) + beta * beta * f(yy) + cb * cb * f(dxdx) +
      kb * kb * f(dydy) - 2 * alpha * beta * f(xy) + 2 * alpha * cb * f(xdx) -
      2 * alpha * kb * f(xdy) - 2 * beta * cb * f(ydx) +
      2 * beta * kb * f(ydy) - 2 * cb * kb * f(dxdy);
  const double nn1 = nd * static_cast<double>(n - 1);
  return 100 * std::sqrt((squares > 0 ? squares : 0) / nn1);
}

enum class Kind { kPercentage, kMean, kRatio };

struct FigureOf {
  const char* name;
  Kind kind;
  int count;   // the count, or X of a ratio
  int over;    // Y of a ratio
};

constexpr FigureOf kFigures[] = {
    {"correct", Kind::kPercentage, kCountCorrect, 0},
    {"acceptable", Kind::kPercentage, kCountAcceptable, 0},
    {"overtoxic", Kind::kPercentage, kCountOvertoxic, 0},
    {"inconclusive", Kind::kPercentage, kCountInconclusive, 0},
    {"phase1_stopped", Kind::kPercentage, kCountPhase1Stopped, 0},
    {"none_admissible", Kind::kPercentage, kCountNoneAdmissible, 0},
    {"all_closed", Kind::kPercentage, kCountAllClosed, 0},
    {"no_positive_mean", Kind::kPercentage, kCountNoPositiveMean, 0},
    {"patients_mean", Kind::kMean, kCountPatients, 0},
    {"overtoxic_patients", Kind::kRatio, kCountOvertoxicPatients,
     kCountPatients},
    {"toxicities_mean", Kind::kMean, kCountToxicities, 0},
    {"responses_mean", Kind::kMean, kCountResponses, 0},
    {"untried_patients", Kind::kRatio, kCountUntried, kCountPhase2Patients},
};

}  // namespace

void trialcounts(const TruthClasses& classes, const TrialOutcome& outcome,
                 TrialCounts counts) {
  for (int i = 0; i < kNumTrialCounts; ++i) counts[i] = 0;
  const bool selected = outcome.reason == TrialEnd::kSelected;
  if (selected) {
    const int d1 = outcome.sel1;
    const int d2 = outcome.sel2;
    counts[kCountCorrect] = classes.anyacceptable && classes.target[d1][d2];
    counts[kCountAcceptable] = classes.acceptable[d1][d2];
    counts[kCountOvertoxic] = classes.overtoxic[d1][d2];
  } else {
    counts[kCountCorrect] = !classes.anyacceptable;
    counts[kCountInconclusive] = 1;
  }
  counts[kCountPhase1Stopped] = outcome.reason == TrialEnd::kPhase1Stopped;
  counts[kCountNoneAdmissible] = outcome.reason == TrialEnd::kNoneAdmissible;
  counts[kCountAllClosed] = outcome.reason == TrialEnd::kAllClosed;
  counts[kCountNoPositiveMean] = outcome.reason == TrialEnd::kNoPositiveMean;
  counts[kCountPatients] = outcome.patients;
  counts[kCountToxicities] = outcome.toxicities;
  counts[kCountResponses] = outcome.responses;
  counts[kCountOvertoxicPatients] = outcome.overtoxic;
  counts[kCountUntried] = outcome.untried;
  counts[kCountPhase2Patients] = outcome.phase2patients;
}

void addpair(PairedSums& sums, const TrialCounts a, const TrialCounts b) {
  ++sums.ntrial;
  for (int i = 0; i < kNumTrialCounts; ++i) {
    sums.a[i] += a[i];
    sums.b[i] += b[i];
    for (int j = 0; j < kNumTrialCounts; ++j) {
      if (i <= j) {
        sums.aa[i][j] += a[i] * a[j];
        sums.bb[i][j] += b[i] * b[j];
      }
      sums.ab[i][j] += a[i] * b[j];
    }
  }
}

bool addpairedsums(PairedSums& sums, const PairedSums& part) {
  PairedSums total = sums;
  bool overflow = __builtin_add_overflow(total.ntrial, part.ntrial, &total.ntrial);
  for (int i = 0; i < kNumTrialCounts; ++i) {
    overflow |= __builtin_add_overflow(total.a[i], part.a[i], &total.a[i]);
    overflow |= __builtin_add_overflow(total.b[i], part.b[i], &total.b[i]);
    for (int j = 0; j < kNumTrialCounts; ++j) {
      overflow |= __builtin_add_overflow(total.aa[i][j], part.aa[i][j], &total.aa[i][j]);
      overflow |= __builtin_add_overflow(total.bb[i][j], part.bb[i][j], &total.bb[i][j]);
      overflow |= __builtin_add_overflow(total.ab[i][j], part.ab[i][j], &total.ab[i][j]);
    }
  }
  if (overflow) return false;
  sums = total;
  return true;
}

std::vector<FigureDifference> differences(const PairedSums& s) {
  const std::int64_t n = s.ntrial;
  std::vector<FigureDifference> result;
  for (const FigureOf& f : kFigures) {
    FigureDifference d;
    d.figure = f.name;
    const int i = f.count;
    switch (f.kind) {
      case Kind::kPercentage:
      case Kind::kMean: {
        const double scale = f.kind == Kind::kPercentage ? 100 : 1;
        if (f.kind == Kind::kPercentage) {
          d.design = percentestimate(s.a[i], n);
          d.reference = percentestimate(s.b[i], n);
        } else {
          d.design = meanestimate(s.a[i], s.aa[i][i], n);
          d.reference = meanestimate(s.b[i], s.bb[i][i], n);
        }
        d.mcse = differencemcse(s.a[i] - s.b[i],
                                (s.aa[i][i] - 2 * s.ab[i][i]) + s.bb[i][i], n,
                                scale);
        break;
      }
      case Kind::kRatio: {
        const int y = f.over;
        if (s.a[y] == 0 || s.b[y] == 0) {
          d.design = d.reference = Estimate{kNaN, kNaN};
          d.difference = d.mcse = d.unpairedmcse = kNaN;
          result.push_back(d);
          continue;
        }
        d.design = ratioestimate(s.a[i], s.aa[i][i], product(s.aa, i, y),
                                 s.a[y], s.aa[y][y], n);
        d.reference = ratioestimate(s.b[i], s.bb[i][i], product(s.bb, i, y),
                                    s.b[y], s.bb[y][y], n);
        d.mcse = ratiodifferencemcse(s, i, y);
        break;
      }
    }
    d.difference = d.design.value - d.reference.value;
    d.unpairedmcse = std::sqrt(d.design.mcse * d.design.mcse +
                               d.reference.mcse * d.reference.mcse);
    result.push_back(d);
  }
  return result;
}
