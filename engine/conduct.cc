// engine/conduct.cc: a real trial taken through the design's steps of
// engine/trial.cc, with the real cohorts in place of simulated ones, and the
// decisions those steps returned in words and numbers.
#include "engine/conduct.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "design/quadrature.h"
#include "design/toxmodel.h"
#include "engine/conductwords.h"
#include "engine/trial.h"
#include "numerics/streams.h"

namespace {

std::string cohortplace(int cohort) {
  return "cohort " + std::to_string(cohort) + ": ";
}

int totalcohorts(const Design& design) {
  return design.settings.ncohort1 + design.settings.ncohort2;
}

// The admissible entry of a combination, or -1.
int entryof(const TrialState& s, Combination at) {
  for (int k = 0; k < s.nadm; ++k) {
    if (s.adm1[k] == at.d1 && s.adm2[k] == at.d2) return k;
  }
  return -1;
}

// Puts the streams where each update starts, as `starts` says, and counts
// the updates.
class ConductStarts : public UpdateStarts {
 public:
  ConductStarts(const UpdateStreams& starts, int& nupdate)
      : starts_(starts), nupdate_(nupdate) {}
  void beforeupdate(const TrialState&, StreamState& streams) override {
    const std::size_t k = static_cast<std::size_t>(nupdate_);
    streams = k < starts_.given.size() ? starts_.given[k] : starts_.fresh;
    nupdate_ += 1;
  }

 private:
  const UpdateStreams& starts_;
  int& nupdate_;
};

std::vector<PosteriorRow> posteriortable(const TrialState& s,
                                         const Design& design) {
  std::vector<PosteriorRow> table;
  for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
      PosteriorRow row;
      row.at = {d1, d2};
      row.npat = s.npat[d1][d2];
      row.ntox = s.ntox[d1][d2];
      row.nresp = s.nresp[d1][d2];
      row.meantox = s.meantox[d1][d2];
      row.prsafe = s.prsafe[d1][d2];
      if (!s.phase1) {
        row.entry = entryof(s, row.at);
        if (row.entry >= 0) {
          row.preff = s.admpreff[row.entry];
          row.meaneff = s.meaneff[row.entry];
          row.open = s.admopen[row.entry] != 0;
        }
      }
      table.push_back(row);
    }
  }
  return table;
}

// "" or the problem with the cohort's own fields.
std::string cohortproblem(const Design& design, const Cohort& k, int number) {
  const std::string place = cohortplace(number);
  const SimulationSettings& grid = design.settings;
  if (k.at.d1 < 0 || k.at.d1 >= grid.ndose1 || k.at.d2 < 0 ||
      k.at.d2 >= grid.ndose2) {
    return place + "combination: " + levels(k.at) + " is outside the " +
           std::to_string(grid.ndose1) + " by " +
           std::to_string(grid.ndose2) + " grid";
  }
  if (k.npat < 1) return place + "patients: must be at least 1";
  if (k.npat > kMaxCohortValue) {
    return place + "patients: must be at most " + std::to_string(kMaxCohortValue);
  }
  const std::pair<const char*, int> counts[] = {{"toxicities", k.ntox},
                                                {"responses", k.nresp}};
  for (const auto& [field, n] : counts) {
    if (n < 0) return place + field + ": must not be negative";
    if (n > k.npat) {
      return place + field + ": " + std::to_string(n) + " is more than the " +
             std::to_string(k.npat) + " patients";
    }
  }
  return "";
}

// "" or why the trial can take no further cohort.
std::string positionproblem(const Conduct& c, int number) {
  const int total = totalcohorts(c.design);
  if (c.last.stage == Stage::kEnded && c.ncohort < total) {
    return cohortplace(number) + "the design stopped the trial after cohort " +
           std::to_string(c.ncohort) + ": " + endwords(c.last.end);
  }
  if (c.ncohort >= total) {
    return cohortplace(number) + "the design has " + std::to_string(total) +
           " cohorts (" + std::to_string(c.design.settings.ncohort1) +
           " in phase I, " + std::to_string(c.design.settings.ncohort2) +
           " in phase II)";
  }
  return "";
}

// The deviations of a cohort from what the design chose for it.
std::vector<std::string> deviations(const Conduct& c, const Cohort& k,
                                    int number) {
  std::vector<std::string> warnings;
  const TrialState& s = *c.s;
  const std::string place = cohortplace(number);
  const Combination chosen = c.last.next;
  if (!(k.at == chosen)) {
    std::string where = "treated at " + levels(k.at, c.design);
    if (!s.phase1) {
      const int entry = entryof(s, k.at);
      if (entry < 0) {
        where += ", which is not admissible for phase II";
      } else if (s.admopen[entry] == 0) {
        for (const Closure& x : c.closures) {
          if (x.entry == entry) {
            where += ", which was closed after cohort " + std::to_string(x.cohort);
          }
        }
      } else if (c.design.rules.phase2 != Phase2Scope::kAdmissible) {
        bool allowed[kMaxAdm];
        phase2allowed(s, c.design.rules, allowed);
        if (!allowed[entry]) {
          where += std::string(", where phase II does not randomise (phase II: ") +
                   phase2scopename(c.design.rules.phase2) + ")";
        }
      }
    }
    warnings.push_back(place + where + "; the design chose " + levels(chosen, c.design));
  }
  const int size = s.phase1 ? c.design.settings.cohortsize1
                            : c.design.settings.cohortsize2;
  if (k.npat != size) {
    warnings.push_back(place + std::to_string(k.npat) +
                       (k.npat == 1 ? " patient" : " patients") +
                       "; the design's cohort size is " + std::to_string(size));
  }
  return warnings;
}

// The decision of the design's steps after cohort c.ncohort, which was
// treated at `current`, with the numbers behind it.
void describestep(Conduct& c, const StepDecision& step, Combination current,
                  Decision& d) {
  const TrialState& s = *c.s;
  const Design& design = c.design;
  if (step.phase1) {
    d.phase1 = true;
    d.current = current;
    d.prsafe = s.prsafe[current.d1][current.d2];
    d.ntotal = s.ntotal;
    // At the switch the rule matters only where it can stop the trial.
    if (c.ncohort < design.settings.ncohort1 || current == Combination{0, 0}) {
      d.comparisons.push_back({Compared::kPhase1, current, d.prsafe});
    }
    d.branch = step.move.branch;
    d.ncand = step.move.ncand;
    for (int i = 0; i < d.ncand; ++i) {
      d.candidates[i] = {step.move.cand1[i], step.move.cand2[i]};
    }
  }
  if (step.switched) {
    d.switched = true;
    for (int d1 = 0; d1 < design.settings.ndose1; ++d1) {
      for (int d2 = 0; d2 < design.settings.ndose2; ++d2) {
        d.comparisons.push_back(
            {Compared::kAdmissible, {d1, d2}, step.switchprsafe[d1][d2]});
      }
    }
    for (int k = 0; k < s.nadm; ++k) d.admissible.push_back({s.adm1[k], s.adm2[k]});
  }
  if (step.phase2) {
    d.phase2 = true;
    for (int k = 0; k < s.nadm; ++k) {
      if (!step.stopping.compared[k]) continue;
      const Combination at{s.adm1[k], s.adm2[k]};
      d.comparisons.push_back({Compared::kSafety, at, s.admprsafe[k]});
      d.comparisons.push_back({Compared::kFutility, at, s.admpreff[k]});
      if (!step.stopping.futile[k] && !step.stopping.unsafe[k]) continue;
      Closure x;
      x.entry = k;
      x.at = at;
      x.cohort = c.ncohort;
      x.npat = s.npat[at.d1][at.d2];
      x.futile = step.stopping.futile[k];
      x.unsafe = step.stopping.unsafe[k];
      x.preff = s.admpreff[k];
      x.prsafe = s.admprsafe[k];
      d.closures.push_back(x);
      c.closures.push_back(x);
    }
  }
  if (step.randomised) {
    d.randomised = true;
    d.probs.assign(step.draw.probs, step.draw.probs + s.nadm);
    d.u = step.draw.u;
    d.drawn = step.draw.drawn;
  }
  if (step.ended) {
    d.stage = Stage::kEnded;
    d.end = step.end;
    if (step.end == TrialEnd::kSelected) {
      d.selected = {s.adm1[step.selected], s.adm2[step.selected]};
    }
  } else {
    d.stage = step.nextphase1 ? Stage::kPhase1 : Stage::kPhase2;
    d.next = {step.next1, step.next2};
  }
}

// The standard error of the mean of kNumDraws successive draws by batch
// means: 20 batches of 100, the spread of their means.
double batchse(const double* values) {
  constexpr int kBatches = 20;
  constexpr int kBatch = kNumDraws / kBatches;
  double means[kBatches];
  double total = 0;
  for (int b = 0; b < kBatches; ++b) {
    double sum = 0;
    for (int i = 0; i < kBatch; ++i) sum += values[b * kBatch + i];
    means[b] = sum / kBatch;
    total += means[b];
  }
  const double mean = total / kBatches;
  double squares = 0;
  for (double m : means) squares += (m - mean) * (m - mean);
  return std::sqrt(squares / (kBatches - 1) / kBatches);
}

// The Monte Carlo standard error of a compared probability, from the draws
// of the update that gave it: the last phase I update's for the phase I rule
// and the admissible list, the phase II update's for the closures.
double comparisonse(const TrialState& s, const Design& design,
                    const Comparison& x) {
  double values[kNumDraws];
  if (x.what == Compared::kFutility) {
    const int entry = entryof(s, x.at);
    for (int t = 0; t < kNumDraws; ++t) {
      values[t] = s.effdraws[entry][t] > design.settings.mineff ? 1 : 0;
    }
    return batchse(values);
  }
  const auto& draws = x.what == Compared::kSafety ? s.toxdraws2 : s.toxdraws1;
  const double p = s.priortox1[x.at.d1];
  const double q = s.priortox2[x.at.d2];
  for (int t = 0; t < kNumDraws; ++t) {
    values[t] = probtoxat(draws[t], p, q) < design.settings.targettox ? 1 : 0;
  }
  return batchse(values);
}

// The thresholds a comparison's probability was compared with.
std::vector<double> thresholdsof(Compared what, const DesignRules& rules) {
  switch (what) {
    case Compared::kPhase1: return {rules.escalate, rules.deescalate};
    case Compared::kAdmissible: return {rules.admissible};
    case Compared::kSafety: return {rules.safety};
    case Compared::kFutility: break;
  }
  return {rules.futility};
}

// The close calls of a Gibbs decision, from the retained draws of its
// updates; draws no random number. REQUIRES: d.ntotal is the trial's.
void findclosecalls(const TrialState& s, const Design& design, Decision& d) {
  const SimulationSettings& grid = design.settings;
  for (Comparison& x : d.comparisons) {
    x.se = comparisonse(s, design, x);
    // A threshold whose other side leads to the same move is no close call:
    // escalating from the top corner, or de-escalating from the lowest
    // combination without enough patients to stop, both stay.
    std::vector<double> edges = thresholdsof(x.what, design.rules);
    if (x.what == Compared::kPhase1) {
      edges.clear();
      if (!(x.at == Combination{grid.ndose1 - 1, grid.ndose2 - 1})) {
        edges.push_back(design.rules.escalate);
      }
      if (!(x.at == Combination{0, 0}) || d.ntotal > design.rules.minpatients_stop) {
        edges.push_back(design.rules.deescalate);
      }
    }
    double nearest = 0;
    double gap = -1;
    for (double edge : edges) {
      if (gap < 0 || std::fabs(x.value - edge) < gap) {
        gap = std::fabs(x.value - edge);
        nearest = edge;
      }
    }
    const double se = x.se;
    if (gap >= 0 && se > 0 && gap < 2 * se) {
      CloseCall call;
      call.what = x.what;
      call.at = x.at;
      call.value = x.value;
      call.threshold = nearest;
      call.se = se;
      d.closecalls.push_back(call);
    }
  }
  // The phase I move's choice among its candidates by distance of mean
  // toxicity to the target, linearised at the posterior means.
  if (!d.phase1 || d.switched || d.stage != Stage::kPhase1 || d.ncand < 2) return;
  const Combination* first = d.candidates;
  const Combination* end = first + d.ncand;
  if (std::find(first, end, d.next) == end) return;
  const double target = design.settings.targettox;
  const Combination chosen = d.next;
  const double mchosen = s.meantox[chosen.d1][chosen.d2];
  const double schosen = mchosen >= target ? 1 : -1;
  for (const Combination* other = first; other != end; ++other) {
    if (*other == chosen) continue;
    const double mother = s.meantox[other->d1][other->d2];
    const double sother = mother >= target ? 1 : -1;
    double values[kNumDraws];
    for (int t = 0; t < kNumDraws; ++t) {
      const double pc = probtoxat(s.toxdraws1[t], s.priortox1[chosen.d1],
                                  s.priortox2[chosen.d2]);
      const double po = probtoxat(s.toxdraws1[t], s.priortox1[other->d1],
                                  s.priortox2[other->d2]);
      values[t] = sother * (po - target) - schosen * (pc - target);
    }
    const double se = batchse(values);
    const double difference = std::fabs(mother - target) - std::fabs(mchosen - target);
    if (se > 0 && std::fabs(difference) < 2 * se) {
      CloseCall call;
      call.candidates = true;
      call.at = chosen;
      call.other = *other;
      call.value = difference;
      call.se = se;
      d.closecalls.push_back(call);
    }
  }
}

// The entries the next phase II cohort may go to: the open ones where the
// design randomises.
std::vector<int> openentries(const Conduct& c) {
  const TrialState& s = *c.s;
  bool allowed[kMaxAdm];
  const bool scoped = c.design.rules.phase2 != Phase2Scope::kAdmissible;
  if (scoped) phase2allowed(s, c.design.rules, allowed);
  std::vector<int> entries;
  for (int k = 0; k < s.nadm; ++k) {
    if (s.admopen[k] != 0 && (!scoped || allowed[k])) entries.push_back(k);
  }
  return entries;
}

// A count of updates in words: whole below 10^15.
std::string updatecount(double n) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, n < 1e15 ? "%.0f" : "%.3g", n);
  return buffer;
}

// The phase I pathways below `from`, whose node is `parent`.
void phase1branches(const Conduct& from, int parent, int depth, int maxdepth,
                    const UpdateStreams& starts, Pathways& p) {
  const int size = from.design.settings.cohortsize1;
  for (int t = 0; t <= size && p.problem.empty(); ++t) {
    Conduct next = copyconduct(from);
    const Cohort cohort{from.last.next, size, t, 0};
    CohortStep step = addcohort(next, cohort, starts);
    if (!step.problem.empty()) {
      p.failure = step.failure;
      p.problem = "the pathway with " + std::to_string(t) + " of " +
                  std::to_string(size) + " toxicities at " + levels(cohort.at) +
                  ": " + step.problem;
      return;
    }
    p.nodes.push_back({parent, depth, cohort, std::move(step.decision)});
    const int index = static_cast<int>(p.nodes.size()) - 1;
    if (depth < maxdepth && next.last.stage == Stage::kPhase1) {
      phase1branches(next, index, depth + 1, maxdepth, starts, p);
    }
  }
}

// Running sums of one compared probability over the replicates.
struct SpreadSums {
  Compared what;
  Combination at;
  int n = 0;
  double sum = 0;
  double min = 0;
  double max = 0;
  std::vector<double> values;
};

}  // namespace

std::string checkdesign(const Design& design) {
  Scenario scenario;
  scenario.settings = design.settings;
  scenario.settings.ntrial = 1;
  for (int d = 0; d < kMaxDose; ++d) {
    scenario.input.scenprior1[d] = design.prior1[d];
    scenario.input.scenprior2[d] = design.prior2[d];
  }
  const std::string problem = checkscenario(scenario);
  if (!problem.empty()) return problem;
  const std::string rules = checkrules(design.rules, design.settings.ndose1,
                                       design.settings.ndose2);
  if (!rules.empty()) return "rules." + rules;
  if (design.method == PosteriorMethod::kQuadrature) {
    const std::string nodes = checkquadrature(design.quadrature);
    if (!nodes.empty()) return "posterior." + nodes;
  }
  return "";
}

UpdateStreams freshstreams(const Streams& streams) {
  UpdateStreams result;
  result.fresh = startstreams(streams);
  return result;
}

std::string endwords(TrialEnd end) {
  switch (end) {
    case TrialEnd::kPhase1Stopped:
      return "phase I stopped at the lowest combination";
    case TrialEnd::kNoneAdmissible:
      return "no combination was admissible for phase II";
    case TrialEnd::kAllClosed:
      return "every admissible combination was closed";
    case TrialEnd::kNoPositiveMean:
      return "no open combination has a mean response above 0";
    case TrialEnd::kSelected:
      break;
  }
  return "the trial is complete";
}

Conduct startconduct(const Design& design) {
  Conduct c;
  c.design = design;
  c.posterior = makeposterior(design);
  c.s = std::make_unique<TrialState>();
  TrialState& s = *c.s;
  for (int d = 0; d < kMaxDose; ++d) {
    s.priortox1[d] = design.prior1[d];
    s.priortox2[d] = design.prior2[d];
  }
  s.phase1 = true;
  s.cur1 = design.rules.start1;
  s.cur2 = design.rules.start2;
  c.last.stage = Stage::kPhase1;
  c.last.next = {design.rules.start1, design.rules.start2};
  return c;
}

Conduct copyconduct(const Conduct& c) {
  Conduct copy;
  copy.design = c.design;
  copy.posterior = c.posterior;
  copy.s = std::make_unique<TrialState>(*c.s);
  copy.ncohort = c.ncohort;
  copy.nupdate = c.nupdate;
  copy.last = c.last;
  copy.closures = c.closures;
  return copy;
}

CohortStep addcohort(Conduct& c, const Cohort& cohort,
                     const UpdateStreams& starts) {
  CohortStep step;
  const int number = c.ncohort + 1;
  step.problem = cohortproblem(c.design, cohort, number);
  if (step.problem.empty()) step.problem = positionproblem(c, number);
  if (!step.problem.empty()) return step;
  step.warnings = deviations(c, cohort, number);

  // The cohort's outcomes join the trial's counts, at its own combination.
  TrialState& s = *c.s;
  const Combination at = cohort.at;
  s.npat[at.d1][at.d2] += cohort.npat;
  s.ntox[at.d1][at.d2] += cohort.ntox;
  s.nresp[at.d1][at.d2] += cohort.nresp;
  s.ntotal += cohort.npat;
  s.cur1 = at.d1;
  s.cur2 = at.d2;
  c.ncohort = number;

  // The design's steps, every update starting where `starts` says; the
  // randomisation continues the last update's streams.
  StreamState streams;
  ConductStarts updates(starts, c.nupdate);
  const TrialRun run{c.design, *c.posterior, streams, &updates, true};
  const StepDecision next = designstep(s, number, run);
  if (!next.failure.ok()) {
    step.failure = next.failure;
    step.problem = cohortplace(number) + "the sampler failed: " +
                   drawfailuretext(step.failure);
    return step;
  }
  if (coarseupdate(s)) {
    // Too few nodes carry the posterior's mass: its probabilities may be off
    // by more than the method promises.
    step.warnings.push_back(
        cohortplace(number) + "the posterior is narrower than the quadrature " +
        "nodes resolve (" + std::to_string(static_cast<int>(s.effectivenodes)) +
        " effective nodes, fewer than " +
        std::to_string(static_cast<int>(kMinEffNodes)) +
        "): its probabilities may be off by more than 0.002");
  }
  Decision& d = step.decision;
  d.cohort = number;
  describestep(c, next, at, d);
  d.table = posteriortable(s, c.design);
  if (c.design.method == PosteriorMethod::kGibbs) findclosecalls(s, c.design, d);
  c.last = d;
  return step;
}

bool sameoutcome(const Decision& a, const Decision& b) {
  if (a.stage != b.stage || a.admissible != b.admissible) return false;
  if (a.closures.size() != b.closures.size()) return false;
  for (std::size_t i = 0; i < a.closures.size(); ++i) {
    const Closure& x = a.closures[i];
    const Closure& y = b.closures[i];
    if (x.entry != y.entry || x.futile != y.futile || x.unsafe != y.unsafe) {
      return false;
    }
  }
  if (a.stage != Stage::kEnded) return a.next == b.next;
  return a.end == b.end && (a.end != TrialEnd::kSelected || a.selected == b.selected);
}

bool sameruledecisions(const Decision& a, const Decision& b) {
  if (a.admissible != b.admissible || a.closures.size() != b.closures.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.closures.size(); ++i) {
    const Closure& x = a.closures[i];
    const Closure& y = b.closures[i];
    if (x.entry != y.entry || x.futile != y.futile || x.unsafe != y.unsafe) {
      return false;
    }
  }
  if ((a.stage == Stage::kEnded) != (b.stage == Stage::kEnded)) return false;
  if (a.stage != Stage::kEnded) return true;
  return a.end == b.end && (a.end != TrialEnd::kSelected || a.selected == b.selected);
}

double pathwayupdates(const Conduct& c, int depth) {
  const SimulationSettings& g = c.design.settings;
  if (c.last.stage == Stage::kEnded) return 0;
  if (c.last.stage == Stage::kPhase2) {
    const double outcomes = static_cast<double>(g.cohortsize2 + 1) * (g.cohortsize2 + 1);
    return static_cast<double>(openentries(c).size()) * outcomes;
  }
  double total = 0;
  double width = 1;
  for (int k = 1; k <= depth; ++k) {
    const int cohort = c.ncohort + k;
    if (cohort > g.ncohort1) break;
    width *= g.cohortsize1 + 1;
    total += width * (cohort == g.ncohort1 ? 2 : 1);
  }
  return total;
}

Pathways pathways(const Conduct& c, int depth, const UpdateStreams& starts) {
  Pathways p;
  p.depth = depth;
  p.phase2 = c.last.stage == Stage::kPhase2;
  if (c.last.stage == Stage::kEnded) {
    p.problem = "the trial has ended (" + endwords(c.last.end) +
                "): there is no next cohort";
    return p;
  }
  if (p.phase2 && depth > 1) {
    p.problem = "in phase II the pathways go one cohort ahead, not " +
                std::to_string(depth);
    return p;
  }
  p.updates = pathwayupdates(c, depth);
  if (p.updates > kMaxPathwayUpdates) {
    p.problem = "needs " + updatecount(p.updates) +
                " posterior updates, more than the " +
                std::to_string(kMaxPathwayUpdates) + " allowed";
    return p;
  }
  if (!p.phase2) {
    phase1branches(c, -1, 1, depth, starts, p);
    return p;
  }
  const TrialState& s = *c.s;
  const int size = c.design.settings.cohortsize2;
  for (int k : openentries(c)) {
    for (int t = 0; t <= size; ++t) {
      for (int r = 0; r <= size; ++r) {
        Conduct next = copyconduct(c);
        const Cohort cohort{{s.adm1[k], s.adm2[k]}, size, t, r};
        CohortStep step = addcohort(next, cohort, starts);
        if (!step.problem.empty()) {
          p.failure = step.failure;
          p.problem = "the pathway with " + std::to_string(t) + " toxicities and " +
                      std::to_string(r) + " responses at " + levels(cohort.at) +
                      ": " + step.problem;
          return p;
        }
        p.nodes.push_back({-1, 1, cohort, std::move(step.decision)});
      }
    }
  }
  return p;
}

ConductResult runconduct(const Design& design,
                         const std::vector<Cohort>& cohorts,
                         const ConductOptions& options) {
  ConductResult result;
  Conduct c = startconduct(design);
  Conduct before;  // the state before the last cohort, for the replicates
  const bool replicate = options.replicates > 0 && !cohorts.empty();
  for (std::size_t i = 0; i < cohorts.size(); ++i) {
    if (replicate && i + 1 == cohorts.size()) before = copyconduct(c);
    CohortStep step = addcohort(c, cohorts[i], options.streams);
    for (std::string& w : step.warnings) result.warnings.push_back(std::move(w));
    if (!step.problem.empty()) {
      result.problem = step.problem;
      result.cohort = static_cast<int>(i) + 1;
      result.failure = step.failure;
      return result;
    }
    result.history.push_back(std::move(step.decision));
  }
  result.next = c.last;
  result.closures = c.closures;
  if (options.pathways > 0) {
    result.pathways = pathways(c, options.pathways, options.streams);
    if (!result.pathways.problem.empty()) return result;
  }
  if (!replicate) return result;

  // Step 2: the last cohort's steps again, on other streams.
  Stability& st = result.stability;
  st.replicates = options.replicates;
  st.seed = options.seed;
  std::vector<SpreadSums> sums;
  for (int r = 0; r < options.replicates; ++r) {
    if (options.observer != nullptr && !options.observer->starttrial(r + 1)) {
      result.cancelled = true;
      return result;
    }
    Conduct rep = copyconduct(before);
    const UpdateStreams streams = freshstreams(
        Streams{true, options.seed, static_cast<std::uint64_t>(r) + 1});
    CohortStep step = addcohort(rep, cohorts.back(), streams);
    if (!step.problem.empty()) {
      result.problem = "replicate " + std::to_string(r + 1) + ": " + step.problem;
      result.cohort = static_cast<int>(cohorts.size());
      result.failure = step.failure;
      return result;
    }
    const Decision& d = step.decision;
    auto same = std::find_if(st.outcomes.begin(), st.outcomes.end(),
                             [&d](const OutcomeCount& o) {
                               return sameoutcome(o.decision, d);
                             });
    if (same == st.outcomes.end()) {
      st.outcomes.push_back({d, 1});
    } else {
      same->count += 1;
    }
    if (d.phase2) {
      auto rules = std::find_if(st.rules.begin(), st.rules.end(),
                                [&d](const OutcomeCount& o) {
                                  return sameruledecisions(o.decision, d);
                                });
      if (rules == st.rules.end()) {
        st.rules.push_back({d, 1});
      } else {
        rules->count += 1;
      }
    }
    if (d.randomised) {
      auto drawn = std::find_if(st.draws.begin(), st.draws.end(),
                                [&d](const DrawCount& x) { return x.at == d.next; });
      if (drawn == st.draws.end()) {
        st.draws.push_back({d.next, 1});
      } else {
        drawn->count += 1;
      }
    }
    for (const Comparison& x : d.comparisons) {
      auto it = std::find_if(sums.begin(), sums.end(), [&x](const SpreadSums& s) {
        return s.what == x.what && s.at == x.at;
      });
      if (it == sums.end()) {
        sums.push_back({x.what, x.at, 0, 0, x.value, x.value, {}});
        it = sums.end() - 1;
      }
      it->n += 1;
      it->sum += x.value;
      it->min = std::min(it->min, x.value);
      it->max = std::max(it->max, x.value);
      it->values.push_back(x.value);
    }
  }
  const auto morefirst = [](const auto& a, const auto& b) { return a.count > b.count; };
  std::stable_sort(st.outcomes.begin(), st.outcomes.end(), morefirst);
  std::stable_sort(st.rules.begin(), st.rules.end(), morefirst);
  std::stable_sort(st.draws.begin(), st.draws.end(), morefirst);
  for (const SpreadSums& s : sums) {
    Spread spread;
    spread.what = s.what;
    spread.at = s.at;
    spread.n = s.n;
    spread.mean = s.sum / s.n;
    double squares = 0;
    for (double v : s.values) squares += (v - spread.mean) * (v - spread.mean);
    spread.sd = s.n > 1 ? std::sqrt(squares / (s.n - 1)) : 0;
    spread.min = s.min;
    spread.max = s.max;
    st.spreads.push_back(spread);
  }
  return result;
}
