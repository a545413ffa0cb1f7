// engine/trial.cc: one simulated trial after another.
#include "engine/trial.h"

#include "design/effmodel.h"
#include "design/phase1rule.h"
#include "design/randomise.h"
#include "design/toxmodel.h"
#include "engine/simulate.h"

namespace {

void beforeupdate(Observer* observer, const TrialState& s,
                  const StreamState& streams) {
  if (observer != nullptr) observer->beforeupdate(s, streams);
}

}  // namespace

std::clock_t preparetrials(const Design& design, const ScenarioInput& truth,
                           TrialState& s, Accumulators& acc) {
  const int J = design.settings.ndose1;
  const int K = design.settings.ndose2;
  for (int d1 = 0; d1 < J; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      s.truetox[d1][d2] = truth.scentox[d1][d2];
      s.trueeff[d1][d2] = truth.sceneff[d1][d2];
    }
  }
  for (int d1 = 0; d1 < J; ++d1) s.priortox1[d1] = design.prior1[d1];
  for (int d2 = 0; d2 < K; ++d2) s.priortox2[d2] = design.prior2[d2];
  s.ntoxpar = 3;
  s.neffpar = 2;
  for (int d1 = 0; d1 < J; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      acc.sumpat[d1][d2] = 0;
      acc.sumtox[d1][d2] = 0;
      acc.sumresp[d1][d2] = 0;
      acc.nselect[d1][d2] = 0;
    }
  }
  return std::clock();
}

void gencohort(TrialState& s, const Design& design, StreamState& streams) {
  const int n =
      s.phase1 ? design.settings.cohortsize1 : design.settings.cohortsize2;
  const int c1 = s.cur1;
  const int c2 = s.cur2;
  const double p = s.truetox[c1][c2];
  const double q = s.trueeff[c1][c2];
  int x = 0;  // toxicities
  for (int i = 0; i < n; ++i) {
    if (uniform01(streams) < p) ++x;
  }
  int y = 0;  // responses, drawn after every toxicity
  for (int i = 0; i < n; ++i) {
    if (uniform01(streams) < q) ++y;
  }
  s.npat[c1][c2] += n;
  s.ntotal += n;
  s.ntox[c1][c2] += x;
  s.nresp[c1][c2] += y;
}

int bestentry(const TrialState& s) {
  int best = -1;
  double top = 0.0;
  for (int k = 0; k < s.nadm; ++k) {
    if (s.meaneff[k] > top && s.admopen[k] != 0) {
      best = k;
      top = s.meaneff[k];
    }
  }
  return best;
}

int selectbest(const TrialState& s, Accumulators& acc) {
  const int best = bestentry(s);
  if (best >= 0) acc.nselect[s.adm1[best]][s.adm2[best]] += 1;
  return best;
}

void admissiblelist(TrialState& s, const Design& design) {
  s.nadm = 0;
  for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
      if (s.prsafe[d1][d2] > design.rules.admissible) {
        s.adm1[s.nadm] = d1;
        s.adm2[s.nadm] = d2;
        s.nadm = s.nadm + 1;
      }
    }
  }
}

DrawStatus runphase2(TrialState& s, const Design& design, StreamState& streams,
                     Accumulators& acc, TrialOutcome& outcome,
                     Observer* observer) {
  // Step 1: start of phase II.
  s.phase1 = false;
  for (int k = 0; k < s.nadm; ++k) s.admopen[k] = 1;
  outcome.reason = s.nadm == 0 ? TrialEnd::kNoneAdmissible : TrialEnd::kAllClosed;

  // Step 2: first refit on the phase I data.
  int allclosed = 0;
  beforeupdate(observer, s, streams);
  DrawStatus status = phase2update(s, design, streams, &allclosed);
  if (!status.ok() || allclosed) return status;

  // Step 3: the phase II cohorts.
  for (int cohort = 0; cohort < design.settings.ncohort2; ++cohort) {
    phase2randomise(s, streams);
    gencohort(s, design, streams);
    beforeupdate(observer, s, streams);
    status = phase2update(s, design, streams, &allclosed);
    if (!status.ok() || allclosed) return status;
  }

  // Step 4.
  const int best = selectbest(s, acc);
  if (best >= 0) {
    outcome.reason = TrialEnd::kSelected;
    outcome.sel1 = s.adm1[best];
    outcome.sel2 = s.adm2[best];
  } else {
    outcome.reason = TrialEnd::kNoPositiveMean;
  }
  return DrawStatus{};
}

DrawStatus runtrial(TrialState& s, const Design& design, StreamState& streams,
                    Accumulators& acc, TrialOutcome* outcome,
                    Observer* observer) {
  const int J = design.settings.ndose1;
  const int K = design.settings.ndose2;

  // Step 1: reset.
  for (int d1 = 0; d1 < J; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      s.npat[d1][d2] = 0;
      s.ntox[d1][d2] = 0;
      s.nresp[d1][d2] = 0;
      s.ndeesc[d1][d2] = 0.0;
    }
  }
  for (int k = 0; k < kMaxAdm; ++k) s.admopen[k] = 0;
  s.phase1 = true;
  s.cur1 = 0;
  s.cur2 = 0;
  s.ntotal = 0;
  s.nadm = 0;

  // Step 2: phase I.
  bool stopped = false;
  for (int cohort = 0; cohort < design.settings.ncohort1 && !stopped; ++cohort) {
    gencohort(s, design, streams);
    beforeupdate(observer, s, streams);
    const DrawStatus status = updatetox(s, design, streams);
    if (!status.ok()) return status;
    stopped = phase1rule(s, design) != 0;
  }

  TrialOutcome end;
  end.reason = TrialEnd::kPhase1Stopped;
  if (!stopped) {
    // Step 3: the admissible list, in grid order, from the last update.
    admissiblelist(s, design);
    // Step 4: phase II.
    const DrawStatus status = runphase2(s, design, streams, acc, end, observer);
    if (!status.ok()) return status;
  }

  // Step 5: end of trial, on every path.
  for (int d1 = 0; d1 < J; ++d1) {
    for (int d2 = 0; d2 < K; ++d2) {
      acc.sumtox[d1][d2] += s.ntox[d1][d2];
      acc.sumresp[d1][d2] += s.nresp[d1][d2];
      acc.sumpat[d1][d2] += s.npat[d1][d2];
      end.toxicities += s.ntox[d1][d2];
      end.responses += s.nresp[d1][d2];
      if (s.truetox[d1][d2] > design.settings.targettox) {
        end.overtoxic += s.npat[d1][d2];
      }
    }
  }
  end.patients = s.ntotal;
  if (outcome != nullptr) *outcome = end;
  return DrawStatus{};
}
