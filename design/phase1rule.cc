// design/phase1rule.cc: escalate, de-escalate, stay or stop.
//
// A move goes to a neighbour: one level up or down in one drug, or up in one
// drug and down in the other (a diagonal). Among the eligible neighbours the
// one whose posterior mean toxicity is closest to the target wins; drug 1
// comes before drug 2 on ties.
#include "design/phase1rule.h"

#include <cmath>

namespace {

struct Candidate {
  int d1;
  int d2;
  bool diagonal;  // trades one drug against the other
};

bool insidegrid(const Design& design, int d1, int d2) {
  return d1 >= 0 && d1 < design.settings.ndose1 && d2 >= 0 &&
         d2 < design.settings.ndose2;
}

double dist(const TrialState& s, const Design& design, int d1, int d2) {
  return std::fabs(s.meantox[d1][d2] - design.settings.targettox);
}

// How much closer to the target a later candidate must be to replace the
// choice. The quadrature posterior is exact up to rounding, so distances
// closer than 1e-9 are ties there (symmetric priors make the two drugs' first
// steps tie exactly); sampled means are compared as they are.
double tietolerance(const Design& design) {
  return design.method == PosteriorMethod::kQuadrature ? 1e-9 : 0;
}

// The neighbours of (c1, c2) a move looks at, in order.
void escalationcands(int c1, int c2, Candidate (&cands)[4]) {
  cands[0] = {c1 + 1, c2, false};
  cands[1] = {c1, c2 + 1, false};
  cands[2] = {c1 - 1, c2 + 1, true};
  cands[3] = {c1 + 1, c2 - 1, true};
}
void deescalationcands(int c1, int c2, Candidate (&cands)[4]) {
  cands[0] = {c1 - 1, c2, false};
  cands[1] = {c1, c2 - 1, false};
  cands[2] = {c1 - 1, c2 + 1, true};
  cands[3] = {c1 + 1, c2 - 1, true};
}

// The move-specific conditions of a later candidate: an escalation's diagonal
// counts only when its mean toxicity is higher than m, the current one's, and
// a target de-escalated from too often is passed over; a de-escalation's
// diagonal counts only when its mean toxicity is lower.
bool eligibleup(const TrialState& s, const Candidate& x, double m) {
  return (!x.diagonal || s.meantox[x.d1][x.d2] > m) &&
         s.ndeesc[x.d1][x.d2] < kCountLimit;
}
bool eligibledown(const TrialState& s, const Candidate& x, double m) {
  return !x.diagonal || s.meantox[x.d1][x.d2] < m;
}

// Picks among the candidates inside the grid, in order: the first is the
// initial choice; a later one replaces the choice when it is eligible and
// closer to the target by more than tietolerance. Returns false when no candidate is inside.
// `eligible` holds the move-specific conditions of a later candidate. Records
// the candidates it chose among in `move`.
template <class Eligible>
bool choose(const TrialState& s, const Design& design,
            const Candidate (&cands)[4], Eligible eligible, Candidate* choice,
            Phase1Move& move) {
  bool have = false;
  for (const Candidate& x : cands) {
    if (!insidegrid(design, x.d1, x.d2)) continue;
    if (!have) {
      *choice = x;
      have = true;
    } else if (!eligible(x)) {
      continue;
    } else if (dist(s, design, x.d1, x.d2) <
               dist(s, design, choice->d1, choice->d2) - tietolerance(design)) {
      *choice = x;
    }
    move.cand1[move.ncand] = x.d1;
    move.cand2[move.ncand] = x.d2;
    ++move.ncand;
  }
  return have;
}

}  // namespace

Phase1Move phase1rule(TrialState& s, const Design& design) {
  const DesignRules& rules = design.rules;
  const int c1 = s.cur1;
  const int c2 = s.cur2;
  const double m = s.meantox[c1][c2];
  int next1 = c1;
  int next2 = c2;
  Phase1Move move;

  if (s.prsafe[c1][c2] > rules.escalate) {
    move.branch = Branch::kEscalate;
    Candidate cands[4];
    escalationcands(c1, c2, cands);
    Candidate choice{};
    const bool have = choose(s, design, cands, [&](const Candidate& x) {
      return eligibleup(s, x, m);
    }, &choice, move);
    if (have && !(s.ndeesc[choice.d1][choice.d2] > kCountLimit)) {
      next1 = choice.d1;
      next2 = choice.d2;
    }
  } else if (s.prsafe[c1][c2] < rules.deescalate) {
    move.branch = Branch::kDeescalate;
    s.ndeesc[c1][c2] += 1;
    Candidate cands[4];
    deescalationcands(c1, c2, cands);
    Candidate choice{};
    const bool have = choose(s, design, cands, [&](const Candidate& x) {
      return eligibledown(s, x, m);
    }, &choice, move);
    if (!have) {
      // At the lowest combination: stop once enough patients say it is too
      // toxic, otherwise treat the next cohort there again.
      if (s.ntotal > rules.minpatients_stop) {
        move.stopped = true;
        return move;
      }
    } else if (!(s.ndeesc[choice.d1][choice.d2] > kCountLimit)) {
      next1 = choice.d1;
      next2 = choice.d2;
    }
  }

  s.cur1 = next1;
  s.cur2 = next2;
  return move;
}
