// engine/trial.cc: the design's steps after each cohort, and simulated trials.
#include "engine/trial.h"

#include "design/quadrature.h"
#include "engine/observer.h"

void UpdateStarts::beforepick(const TrialState&, StreamState&) {}

namespace {

// A simulated trial's updates continue the streams; the observer sees them.
class ObservedStarts : public UpdateStarts {
 public:
  explicit ObservedStarts(Observer* observer) : observer_(observer) {}
  void beforeupdate(const TrialState& s, StreamState& streams) override {
    observer_->beforeupdate(s, streams);
  }

 private:
  Observer* observer_;
};

// A paired trial's updates and picks each start on their own streams; the
// observer, when there is one, sees the updates on them.
class PairedStarts : public UpdateStarts {
 public:
  PairedStarts(const PairedTrial& key, const Design& design, Observer* observer)
      : key_(key), design_(design), observer_(observer) {}
  // The cohort just treated, from 1.
  void setcohort(int cohort) { cohort_ = cohort; }
  void beforeupdate(const TrialState& s, StreamState& streams) override {
    if (s.phase1) {
      streams = stream(PairedKind::kPhase1, cohort_);
    } else if (design_.method == PosteriorMethod::kQuadrature) {
      streams = stream(PairedKind::kRandomise, phase2cohort() + 1);
    } else {
      streams = stream(PairedKind::kPhase2, phase2cohort());
    }
    if (observer_ != nullptr) observer_->beforeupdate(s, streams);
  }
  void beforepick(const TrialState&, StreamState& streams) override {
    streams = stream(PairedKind::kPick, phase2cohort() + 1);
  }

 private:
  // Phase II cohorts treated so far.
  int phase2cohort() const { return cohort_ - design_.settings.ncohort1; }
  StreamState stream(PairedKind kind, int index) const {
    return pairedstreamstate(key_.seed, key_.trial, kind,
                             static_cast<std::uint64_t>(index));
  }

  PairedTrial key_;
  const Design& design_;
  Observer* observer_;
  int cohort_ = 0;
};

void beforeupdate(const TrialRun& run, const TrialState& s) {
  if (run.starts != nullptr) run.starts->beforeupdate(s, run.streams);
}

void endtrial(StepDecision& d, TrialEnd end) {
  d.ended = true;
  d.end = end;
}

// Is some open admissible entry treated in this trial?
bool anytreatedopen(const TrialState& s) {
  for (int k = 0; k < s.nadm; ++k) {
    if (s.admopen[k] != 0 && s.npat[s.adm1[k]][s.adm2[k]] > 0) return true;
  }
  return false;
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

namespace {

// Treats the cohort at (cur1, cur2) with `draw`(n, p, q, x, y), which counts
// the toxicities x and responses y of its n patients at true toxicity p and
// response q, and adds them to the trial's counts.
template <typename Draw>
void treatcohort(TrialState& s, const Design& design, Draw draw) {
  const int n =
      s.phase1 ? design.settings.cohortsize1 : design.settings.cohortsize2;
  const int c1 = s.cur1;
  const int c2 = s.cur2;
  int x = 0;  // toxicities
  int y = 0;  // responses
  draw(n, s.truetox[c1][c2], s.trueeff[c1][c2], x, y);
  s.npat[c1][c2] += n;
  s.ntotal += n;
  s.ntox[c1][c2] += x;
  s.nresp[c1][c2] += y;
}

}  // namespace

void gencohort(TrialState& s, const Design& design, StreamState& streams) {
  treatcohort(s, design, [&streams](int n, double p, double q, int& x, int& y) {
    for (int i = 0; i < n; ++i) {
      if (uniform01(streams) < p) ++x;
    }
    // Responses, drawn after every toxicity.
    for (int i = 0; i < n; ++i) {
      if (uniform01(streams) < q) ++y;
    }
  });
}

void genpatients(TrialState& s, const Design& design, StreamState& patients) {
  treatcohort(s, design, [&patients](int n, double p, double q, int& x, int& y) {
    for (int i = 0; i < n; ++i) {
      const double utox = uniform01(patients);
      const double ueff = uniform01(patients);
      if (utox < p) ++x;
      if (ueff < q) ++y;
    }
  });
}

int bestentry(const TrialState& s, bool treatedonly) {
  int best = -1;
  double top = 0.0;
  for (int k = 0; k < s.nadm; ++k) {
    if (treatedonly && s.npat[s.adm1[k]][s.adm2[k]] == 0) continue;
    if (s.meaneff[k] > top && s.admopen[k] != 0) {
      best = k;
      top = s.meaneff[k];
    }
  }
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

void starttrial(TrialState& s, const Design& design) {
  for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
      s.npat[d1][d2] = 0;
      s.ntox[d1][d2] = 0;
      s.nresp[d1][d2] = 0;
      s.ndeesc[d1][d2] = 0.0;
    }
  }
  for (int k = 0; k < kMaxAdm; ++k) s.admopen[k] = 0;
  s.phase1 = true;
  s.cur1 = design.rules.start1;
  s.cur2 = design.rules.start2;
  s.ntotal = 0;
  s.effectivenodes = 0;  // until a quadrature update says otherwise
  s.nadm = 0;
}

namespace {

// designstep but for what comes next.
StepDecision decide(TrialState& s, int cohort, const TrialRun& run) {
  const Design& design = run.design;
  StepDecision d;
  if (s.phase1) {
    // The toxicity update and the phase I rule.
    beforeupdate(run, s);
    // The switch after the last phase I cohort reads the whole grid; before
    // it the phase I rule reads only the current combination's neighbourhood.
    d.failure = run.posterior.toxicity(
        s, run.streams, run.wholegrid || cohort >= design.settings.ncohort1);
    if (!d.failure.ok()) return d;
    d.phase1 = true;
    d.move = phase1rule(s, design);
    if (d.move.stopped) {
      endtrial(d, TrialEnd::kPhase1Stopped);
      return d;
    }
    if (cohort < design.settings.ncohort1) return d;
    // The switch: the admissible list from this last update, every entry
    // open.
    for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
      for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
        d.switchprsafe[d1][d2] = s.prsafe[d1][d2];
      }
    }
    admissiblelist(s, design);
    s.phase1 = false;
    for (int k = 0; k < s.nadm; ++k) s.admopen[k] = 1;
    d.switched = true;
  }

  // A phase II update and the closures.
  beforeupdate(run, s);
  d.failure = run.posterior.phase2(s, run.streams, run.wholegrid);
  if (!d.failure.ok()) return d;
  d.phase2 = true;
  if (applystoppingrules(s, design.rules, &d.stopping) != 0) {
    endtrial(d, s.nadm == 0 ? TrialEnd::kNoneAdmissible : TrialEnd::kAllClosed);
    return d;
  }

  // Where phase II may go; with no open entry allowed, phase II ends as when
  // every entry is closed.
  const bool scoped = design.rules.phase2 != Phase2Scope::kAdmissible;
  bool allowed[kMaxAdm];
  if (scoped && phase2allowed(s, design.rules, allowed) == 0) {
    endtrial(d, TrialEnd::kAllClosed);
    return d;
  }

  // The selection after the last cohort, among the treated entries when the
  // scope is narrowed, or the next cohort's combination.
  if (cohort == design.settings.ncohort1 + design.settings.ncohort2) {
    d.selected = bestentry(s, scoped);
    if (d.selected < 0 && scoped && !anytreatedopen(s)) {
      endtrial(d, TrialEnd::kAllClosed);
      return d;
    }
    endtrial(d, d.selected >= 0 ? TrialEnd::kSelected : TrialEnd::kNoPositiveMean);
    return d;
  }
  d.randomised = true;
  if (run.starts != nullptr) run.starts->beforepick(s, run.streams);
  d.draw = phase2randomise(s, run.streams, scoped ? allowed : nullptr);
  return d;
}

}  // namespace

StepDecision designstep(TrialState& s, int cohort, const TrialRun& run) {
  StepDecision d = decide(s, cohort, run);
  d.nextphase1 = s.phase1;
  d.next1 = s.cur1;
  d.next2 = s.cur2;
  return d;
}

namespace {

// One whole simulated trial: `treat` adds each cohort at the design's choice,
// `cohortstart` hears each cohort's number before its steps.
template <typename Treat, typename CohortStart>
DrawStatus simulatetrial(TrialState& s, const TrialRun& run, Accumulators& acc,
                         TrialOutcome* outcome, Treat treat,
                         CohortStart cohortstart) {
  const Design& design = run.design;
  const int J = design.settings.ndose1;
  const int K = design.settings.ndose2;

  // The cohorts, each at the design's choice, until the design ends the
  // trial.
  starttrial(s, design);
  TrialOutcome end;
  int phase1pat[kMaxDose][kMaxDose] = {};  // phase I patients, kept at the switch
  bool switched = false;
  for (int cohort = 1;; ++cohort) {
    treat();
    cohortstart(cohort);
    const StepDecision step = designstep(s, cohort, run);
    if (!step.failure.ok()) return step.failure;
    if (coarseupdate(s)) ++end.coarseupdates;
    if (step.switched) {
      switched = true;
      for (int d1 = 0; d1 < J; ++d1) {
        for (int d2 = 0; d2 < K; ++d2) phase1pat[d1][d2] = s.npat[d1][d2];
      }
    }
    if (!step.ended) continue;
    end.reason = step.end;
    if (step.end == TrialEnd::kSelected) {
      end.sel1 = s.adm1[step.selected];
      end.sel2 = s.adm2[step.selected];
      acc.nselect[end.sel1][end.sel2] += 1;
    }
    break;
  }

  // The end-of-trial sums, on every path.
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
      if (switched) {
        const int phase2 = s.npat[d1][d2] - phase1pat[d1][d2];
        end.phase2patients += phase2;
        if (phase1pat[d1][d2] == 0) end.untried += phase2;
      }
    }
  }
  end.patients = s.ntotal;
  if (outcome != nullptr) *outcome = end;
  return DrawStatus{};
}

}  // namespace

DrawStatus runtrial(TrialState& s, const Design& design,
                    const Posterior& posterior, StreamState& streams,
                    Accumulators& acc, TrialOutcome* outcome,
                    Observer* observer) {
  ObservedStarts observed(observer);
  const TrialRun run{design, posterior, streams,
                     observer != nullptr ? &observed : nullptr};
  return simulatetrial(
      s, run, acc, outcome, [&] { gencohort(s, design, streams); },
      [](int) {});
}

DrawStatus runtrial(TrialState& s, const Design& design,
                    const Posterior& posterior, const PairedTrial& paired,
                    Accumulators& acc, TrialOutcome* outcome,
                    Observer* observer) {
  StreamState patients = pairedstreamstate(paired.seed, paired.trial,
                                           PairedKind::kPatients, 0);
  StreamState streams;  // put in place before each update and pick
  PairedStarts starts(paired, design, observer);
  const TrialRun run{design, posterior, streams, &starts};
  return simulatetrial(
      s, run, acc, outcome, [&] { genpatients(s, design, patients); },
      [&](int cohort) { starts.setcohort(cohort); });
}
