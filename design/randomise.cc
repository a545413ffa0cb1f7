// design/randomise.cc: staged elimination of candidates by their posterior
// draws, then one uniform number to pick the cohort's combination.
//
// In each stage every remaining candidate scores the number of iterations in
// which its draw lies above the candidates' average; the remaining mass
// 1 - F is shared in proportion to the scores; the candidate with the
// smallest share keeps it (never less than the share fixed the stage before)
// and leaves. The last candidate receives what is left.
#include "design/randomise.h"

#include "numerics/lanes.h"
#include "numerics/streams.h"

int phase2allowed(const TrialState& s, const DesignRules& rules, bool allowed[]) {
  const auto treated = [&s](int d1, int d2) {
    return d1 >= 0 && d2 >= 0 && d1 < kMaxDose && d2 < kMaxDose &&
           s.npat[d1][d2] > 0;
  };
  int n = 0;
  for (int j = 0; j < s.nadm; ++j) {
    const int d1 = s.adm1[j];
    const int d2 = s.adm2[j];
    bool ok = s.admopen[j] == 1;
    if (rules.phase2 == Phase2Scope::kTreated) {
      ok = ok && treated(d1, d2);
    } else if (rules.phase2 == Phase2Scope::kAdjacent) {
      ok = ok && (treated(d1, d2) || treated(d1 - 1, d2) || treated(d1 + 1, d2) ||
                  treated(d1, d2 - 1) || treated(d1, d2 + 1));
    }
    allowed[j] = ok;
    if (ok) ++n;
  }
  return n;
}

int randomisationprobs(const TrialState& s, double r[], const bool* allowed) {
  // Step 1. Entries that are not candidates count as fixed with share 0.
  bool fixed[kMaxAdm] = {};
  for (int j = 0; j < s.nadm; ++j) {
    fixed[j] = allowed != nullptr && !allowed[j];
  }
  double count[kMaxAdm] = {};
  for (int j = 0; j < s.nadm; ++j) r[j] = 0;
  double f = 0;     // F: sum of the shares fixed so far
  double prev = 0;  // P: share fixed in the previous stage
  int last = -1;    // last candidate of the most recent count

  // Step 2: at most nadm stages.
  for (int stage = 0; stage < s.nadm; ++stage) {
    // 2.1 count the candidates.
    int m = 0;
    for (int j = 0; j < s.nadm; ++j) {
      if (s.admopen[j] == 1 && !fixed[j]) {
        ++m;
        last = j;
      }
    }
    if (m == 0) break;
    // 2.2 the last candidate takes what is left.
    if (m == 1) {
      r[last] = 1 - f;
      break;
    }
    // 2.3 and 2.4: scores against the candidates' averages, the candidates
    // taken in entry order.
    double total = 0;
    for (int j = 0; j < s.nadm; ++j) count[j] = 0;
    int cands[kMaxAdm];
    int ncand = 0;
    for (int j = 0; j < s.nadm; ++j) {
      if (s.admopen[j] == 1 && !fixed[j]) cands[ncand++] = j;
    }
    // Each draw's average is summed over the candidates in entry order, one
    // candidate's draws at a time.
    double mean[kNumDraws];
    for (int t = 0; t < s.ndraws; ++t) mean[t] = 0;
    // Two draws at a time in Lanes, each as the scalar loop would.
    const Lanes mm = {static_cast<double>(m), static_cast<double>(m)};
    const int paired = s.ndraws - s.ndraws % 2;
    for (int c = 0; c < ncand; ++c) {
      const double* draws = s.effdraws[cands[c]];
      for (int t = 0; t < paired; t += 2) {
        storelanes(&mean[t], loadlanes(&mean[t]) + loadlanes(&draws[t]) / mm);
      }
      for (int t = paired; t < s.ndraws; ++t) mean[t] = mean[t] + draws[t] / m;
    }
    for (int c = 0; c < ncand; ++c) {
      const double* draws = s.effdraws[cands[c]];
      // A lane of a comparison is -1 where it holds, else 0: the lanes
      // count down.
      LaneCounts down = {0, 0};
      for (int t = 0; t < paired; t += 2) {
        down += (LaneCounts)(loadlanes(&draws[t]) > loadlanes(&mean[t]));
      }
      int above = static_cast<int>(-(down[0] + down[1]));
      for (int t = paired; t < s.ndraws; ++t) above += draws[t] > mean[t] ? 1 : 0;
      count[cands[c]] = above;
    }
    for (int j = 0; j < s.nadm; ++j) {
      if (s.admopen[j] == 1 && !fixed[j]) total += count[j];
    }
    // 2.5 shares of the remaining mass; with no candidate ever above the
    // average, equal shares.
    for (int j = 0; j < s.nadm; ++j) {
      if (s.admopen[j] != 1 || fixed[j]) continue;
      r[j] = total > 0 ? ((1 - f) * count[j]) / total : (1 - f) / m;
    }
    // 2.6 the smallest share, lowest j on ties.
    int pick = -1;
    double smallest = 1;
    for (int j = 0; j < s.nadm; ++j) {
      if (s.admopen[j] != 1 || fixed[j]) continue;
      if (r[j] < smallest) {
        smallest = r[j];
        pick = j;
      }
    }
    if (pick < 0) {
      // Every share equals 1 (cannot happen with two or more candidates, as
      // the shares add up to at most 1); fix the first candidate.
      for (int j = 0; j < s.nadm && pick < 0; ++j) {
        if (s.admopen[j] == 1 && !fixed[j]) pick = j;
      }
    }
    // 2.7 never below the previous stage's share.
    if (prev > r[pick]) r[pick] = prev;
    f = f + r[pick];
    prev = r[pick];
    fixed[pick] = true;
  }
  return last;
}

int walkprobs(const double r[], int nadm, double u, int fallback) {
  double sum = 0;
  for (int j = 0; j < nadm; ++j) {
    sum = sum + r[j];
    // Only an entry with a share can be chosen: a draw of exactly 0 would
    // otherwise give the cohort to the first entry whatever its share.
    if (r[j] > 0 && u <= sum) return j;
  }
  return fallback;
}

RandomDraw phase2randomise(TrialState& s, StreamState& streams,
                           const bool* allowed) {
  RandomDraw draw;
  const int last = randomisationprobs(s, draw.probs, allowed);
  // Step 3: one uniform number, after every share is fixed.
  draw.u = uniform01(streams);
  // Steps 4 and 5.
  draw.drawn = walkprobs(draw.probs, s.nadm, draw.u, last);
  s.cur1 = s.adm1[draw.drawn];
  s.cur2 = s.adm2[draw.drawn];
  return draw;
}
