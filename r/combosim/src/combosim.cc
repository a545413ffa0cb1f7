// combosim.cc: the package's compiled entry points, over the engine's entry
// points: simulate() for simulations, runconduct() for a real trial. The R
// functions check their arguments and build the classed results; this file
// only converts between R and the engine's records. Nothing here prints except the progress bar, which goes through
// R's own console functions, and nothing exits: problems come back as text.
#include <Rcpp.h>
#include <R_ext/Utils.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <boost/version.hpp>

#include "design/quadrature.h"
#include "design/rules.h"
#include "engine/calibrate.h"
#include "engine/compare.h"
#include "engine/conduct.h"
#include "engine/conductwords.h"
#include "engine/observer.h"
#include "engine/oc.h"
#include "engine/outcome.h"
#include "engine/simulate.h"
#include "numerics/streams.h"

// The same exactness as the command-line programs: no value-changing
// optimisations (the package's Makevars also turns off fused multiply-add).
#if defined(__FAST_MATH__)
#error "combosim must be compiled without fast-math flags: results would differ from the command-line programs"
#endif

namespace {

using Table = std::int64_t[kMaxDose][kMaxDose];

// Calls R_CheckUserInterrupt(), which jumps out when an interrupt is
// pending; run inside R_ToplevelExec(), the jump ends here instead of
// unwinding the engine's frames.
void checkinterrupt(void*) { R_CheckUserInterrupt(); }

// True when the user asked to interrupt (Ctrl-C, or Esc in a GUI).
bool interruptpending() { return R_ToplevelExec(checkinterrupt, nullptr) == FALSE; }

// "|=====     |  50% (5 of 10 trials)" on R's message stream, redrawn when
// the percentage moves.
class ProgressBar {
 public:
  ProgressBar(std::int64_t total, const char* unit) : total_(total), unit_(unit) {}

  void draw(std::int64_t done) { render(done, ""); }

  // The same against a total that changes as the work goes (a race plans
  // fewer trials as candidates drop out): redrawn when the total moves, with
  // blanks after it that clear what a longer line before left.
  void draw(std::int64_t done, std::int64_t total) {
    if (total != total_) percent_ = -2;
    total_ = total > 0 ? total : 1;
    render(done, "    ");
  }

  // Ends the bar's line, if one was drawn.
  void finish() {
    if (percent_ >= 0) REprintf("\n");
  }

 private:
  void render(std::int64_t done, const char* pad) {
    const int percent = static_cast<int>(std::min<std::int64_t>(done * 100 / total_, 100));
    if (percent == percent_) return;
    percent_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '=') +
                            std::string(static_cast<std::size_t>(kWidth - filled), ' ');
    REprintf("\r|%s| %3d%% (%lld of %lld %s)%s", bar.c_str(), percent,
             static_cast<long long>(done), static_cast<long long>(total_), unit_, pad);
  }

  std::int64_t total_;
  const char* unit_;
  int percent_ = -1;
};

// Watches a run: stops it at the start of a trial after an interrupt, draws
// the progress bar when asked, and keeps each trial's outcome.
class RunObserver : public Observer {
 public:
  RunObserver(int ntrial, bool progress) : bar_(ntrial, "trials"), progress_(progress) {
    // Room for the usual runs; longer ones grow the vector.
    outcomes.reserve(static_cast<std::size_t>(std::min(ntrial, 1 << 16)));
  }

  bool starttrial(std::int64_t) override {
    if (interruptpending()) {
      interrupted = true;
      return false;
    }
    return true;
  }

  void endtrial(std::int64_t trial, const TrialOutcome& outcome) override {
    outcomes.push_back(outcome);
    if (progress_) bar_.draw(trial);
  }

  void finish() { bar_.finish(); }

  bool interrupted = false;
  std::vector<TrialOutcome> outcomes;

 private:
  ProgressBar bar_;
  bool progress_;
};

// Watches a trial's replicates: stops them after an interrupt and draws the
// progress bar when asked.
class ReplicateObserver : public Observer {
 public:
  ReplicateObserver(int replicates, bool progress)
      : bar_(replicates, "replicates"), progress_(progress) {}

  bool starttrial(std::int64_t replicate) override {
    done = replicate - 1;
    if (progress_) bar_.draw(done);
    return !interruptpending();
  }

  // Draws the bar full after the last replicate, and ends its line.
  void finish(bool complete, int replicates) {
    if (progress_ && complete) bar_.draw(replicates);
    bar_.finish();
  }

  std::int64_t done = 0;  // replicates completed

 private:
  ProgressBar bar_;
  bool progress_;
};

DesignRules rulesfromlist(const Rcpp::List& r) {
  DesignRules rules;
  rules.escalate = Rcpp::as<double>(r["escalate"]);
  rules.deescalate = Rcpp::as<double>(r["deescalate"]);
  rules.admissible = Rcpp::as<double>(r["admissible"]);
  rules.safety = Rcpp::as<double>(r["safety"]);
  rules.futility = Rcpp::as<double>(r["futility"]);
  // The list of combosim_rules(): minpatients is the count to close, and
  // each option is there only when it is not at its default.
  rules.minpatients_close = Rcpp::as<int>(r["minpatients"]);
  rules.minpatients_stop = r.containsElementNamed("minpatients_stop")
                               ? Rcpp::as<int>(r["minpatients_stop"])
                               : rules.minpatients_close;
  // A list changed by hand after combosim_rules() checked it is refused, not
  // read past its end.
  if (r.containsElementNamed("phase2") &&
      !phase2scopefromname(Rcpp::as<std::string>(r["phase2"]), rules.phase2)) {
    Rcpp::stop("phase2: must be \"admissible\", \"treated\" or \"adjacent\"");
  }
  if (r.containsElementNamed("start")) {
    const Rcpp::IntegerVector start = r["start"];
    if (start.size() != 2) {
      Rcpp::stop("start: must be two whole numbers from 1, [drug-1 level, drug-2 level]");
    }
    rules.start1 = start[0] - 1;
    rules.start2 = start[1] - 1;
  }
  return rules;
}

// A per-trial figure exactly as the report computes it: sum / ntrial * scale.
double pertrial(std::int64_t sum, std::int64_t ntrial, double scale) {
  return static_cast<double>(sum) / static_cast<double>(ntrial) * scale;
}

// The ndose1 by ndose2 cells of `sums`, [drug-1, drug-2].
Rcpp::NumericMatrix sumgrid(const Table& sums, int ndose1, int ndose2) {
  Rcpp::NumericMatrix m(ndose1, ndose2);
  for (int d1 = 0; d1 < ndose1; ++d1) {
    for (int d2 = 0; d2 < ndose2; ++d2) m(d1, d2) = static_cast<double>(sums[d1][d2]);
  }
  return m;
}

// The same cells as per-trial figures, each pertrial(sum, ntrial, scale).
Rcpp::NumericMatrix meangrid(const Table& sums, int ndose1, int ndose2,
                             std::int64_t ntrial, double scale) {
  Rcpp::NumericMatrix m(ndose1, ndose2);
  for (int d1 = 0; d1 < ndose1; ++d1) {
    for (int d2 = 0; d2 < ndose2; ++d2) m(d1, d2) = pertrial(sums[d1][d2], ntrial, scale);
  }
  return m;
}

// The outcome sums by name, as the batch program's result files name them.
Rcpp::NumericVector outcomesums(const OutcomeSums& o) {
  const int n = static_cast<int>(std::size(kOutcomeSumNames));
  Rcpp::NumericVector v(n);
  Rcpp::CharacterVector names(n);
  for (int k = 0; k < n; ++k) {
    const OutcomeSumName& f = kOutcomeSumNames[k];
    v[k] = static_cast<double>(o.*f.sum);
    names[k] = f.name;
  }
  v.names() = names;
  return v;
}

Rcpp::NumericVector reasoncounts(const OutcomeSums& o) {
  Rcpp::NumericVector v(kNumTrialEnds);
  Rcpp::CharacterVector names(kNumTrialEnds);
  for (int k = 0; k < kNumTrialEnds; ++k) {
    v[k] = static_cast<double>(o.reasons[k]);
    names[k] = trialendname(static_cast<TrialEnd>(k));
  }
  v.names() = names;
  return v;
}

// The operating characteristics by the names of NAME.json's "oc", in its
// order: NA where a figure needs two trials and there is one, the counts
// (patients_min, patients_max) as integers.
// The posterior of the list list(method, nodes = list(toxicity, response),
// draws) that readposterior() checked, into `d`. Returns "" or the problem
// of checkquadrature() with the field named as in that list:
// "toxnodes[0]: ..." becomes "posterior$nodes$toxicity[1]: ...".
std::string posteriorfromlist(const Rcpp::List& p, Design& d) {
  const std::string method = Rcpp::as<std::string>(p["method"]);
  if (method != "gibbs" && method != "quadrature") {
    return "posterior$method: must be \"gibbs\" or \"quadrature\"";
  }
  d.method = method == "gibbs" ? PosteriorMethod::kGibbs : PosteriorMethod::kQuadrature;
  if (d.method == PosteriorMethod::kGibbs) return "";
  const Rcpp::List nodes = p["nodes"];
  const Rcpp::IntegerVector tox = nodes["toxicity"];
  const Rcpp::IntegerVector eff = nodes["response"];
  if (tox.size() != 3 || eff.size() != 2) return "posterior$nodes: expected 3 and 2 counts";
  for (int k = 0; k < 3; ++k) d.quadrature.toxnodes[k] = tox[k];
  for (int k = 0; k < 2; ++k) d.quadrature.effnodes[k] = eff[k];
  d.quadrature.ndraws = Rcpp::as<int>(p["draws"]);
  const std::string problem = checkquadrature(d.quadrature);
  if (problem.empty()) return "";
  const std::pair<const char*, const char*> names[] = {
      {"toxnodes", "posterior$nodes$toxicity"},
      {"effnodes", "posterior$nodes$response"},
      {"ndraws", "posterior$draws"}};
  for (const auto& [from, to] : names) {
    const std::string f = from;
    if (problem.compare(0, f.size(), f) != 0) continue;
    std::string rest = problem.substr(f.size());
    // A position from 0 becomes one from 1.
    if (rest.size() > 2 && rest[0] == '[' && rest[2] == ']') {
      rest = "[" + std::to_string(rest[1] - '0' + 1) + rest.substr(2);
    }
    return to + rest;
  }
  return "posterior: " + problem;
}

Rcpp::List ocfigurelist(const OperatingCharacteristics& oc) {
  const std::vector<OcFigure> figures = ocfigures(oc);
  Rcpp::List list(figures.size());
  Rcpp::CharacterVector names(figures.size());
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const OcFigure& f = figures[i];
    names[static_cast<R_xlen_t>(i)] = f.name;
    if (f.integer) {
      list[static_cast<R_xlen_t>(i)] = static_cast<int>(f.value);
    } else {
      list[static_cast<R_xlen_t>(i)] = std::isnan(f.value) ? NA_REAL : f.value;
    }
  }
  list.names() = names;
  return list;
}

// Each trial's outcome, levels from 1 (NA when nothing was selected).
Rcpp::List trialtable(const std::vector<TrialOutcome>& outcomes) {
  const int n = static_cast<int>(outcomes.size());
  Rcpp::IntegerVector drug1(n), drug2(n), patients(n), toxicities(n),
      responses(n), overtoxic(n);
  Rcpp::CharacterVector reason(n);
  for (int i = 0; i < n; ++i) {
    const TrialOutcome& o = outcomes[static_cast<std::size_t>(i)];
    drug1[i] = o.sel1 >= 0 ? o.sel1 + 1 : NA_INTEGER;
    drug2[i] = o.sel2 >= 0 ? o.sel2 + 1 : NA_INTEGER;
    reason[i] = trialendname(o.reason);
    patients[i] = o.patients;
    toxicities[i] = o.toxicities;
    responses[i] = o.responses;
    overtoxic[i] = o.overtoxic;
  }
  return Rcpp::List::create(
      Rcpp::Named("drug1") = drug1, Rcpp::Named("drug2") = drug2,
      Rcpp::Named("reason") = reason, Rcpp::Named("patients") = patients,
      Rcpp::Named("toxicities") = toxicities,
      Rcpp::Named("responses") = responses,
      Rcpp::Named("overtoxic") = overtoxic);
}

// True while a run is under way. The package runs one simulation at a time,
// and R code can run during one: the event handlers that
// R_CheckUserInterrupt() lets run.
bool running = false;

// Marks a run under way for its lifetime, also when it ends by an exception.
struct RunningGuard {
  RunningGuard() { running = true; }
  ~RunningGuard() { running = false; }
};

Rcpp::List problemonly(const std::string& problem) {
  return Rcpp::List::create(Rcpp::Named("problem") = problem);
}

// The streams of `seed`: the fixed-seed generators for "", otherwise the
// seeded streams (S, 1) of the decimal seed S, as a plain seeded batch run,
// or with `paired` its paired streams from trial 1, as combosim-batch
// --paired --seed S. Returns "" or the problem with the seed, as the command
// line words it.
std::string readstreams(const std::string& seed, Streams& streams,
                        bool paired = false) {
  if (seed.empty()) return paired ? "paired: needs a seed" : "";
  const std::string problem = readseed(seed, streams.seed);
  if (!problem.empty()) return "seed: " + problem;
  streams.seeded = true;
  streams.shard = 1;
  streams.paired = paired;
  streams.firsttrial = 1;
  return "";
}

// The columns of the per-trial counts, in the order of TrialCount.
constexpr const char* kTrialCountNames[] = {
    "correct",        "acceptable",      "overtoxic",     "inconclusive",
    "phase1_stopped", "none_admissible", "all_closed",    "no_positive_mean",
    "patients",       "toxicities",      "responses",     "overtoxic_patients",
    "untried",        "phase2_patients"};
static_assert(std::size(kTrialCountNames) == kNumTrialCounts,
              "a name for each TrialCount");

// Each trial's counts against the truth (engine/compare.h), one row per
// trial, one column per TrialCount. Every count fits an int: a trial has at
// most 2000 cohorts of 1000 patients.
Rcpp::IntegerMatrix trialcountmatrix(const TruthClasses& classes,
                                     const std::vector<TrialOutcome>& outcomes) {
  Rcpp::IntegerMatrix m(static_cast<int>(outcomes.size()), kNumTrialCounts);
  TrialCounts counts;
  for (std::size_t t = 0; t < outcomes.size(); ++t) {
    trialcounts(classes, outcomes[t], counts);
    for (int i = 0; i < kNumTrialCounts; ++i) {
      m(static_cast<int>(t), i) = static_cast<int>(counts[i]);
    }
  }
  Rcpp::colnames(m) = Rcpp::CharacterVector(std::begin(kTrialCountNames),
                                            std::end(kTrialCountNames));
  return m;
}

// A combination by level, c(drug1 = , drug2 = ).
Rcpp::IntegerVector levelsof(Combination at) {
  return Rcpp::IntegerVector::create(Rcpp::Named("drug1") = at.d1 + 1,
                                     Rcpp::Named("drug2") = at.d2 + 1);
}

// Combinations by level, one row each, columns drug1 and drug2.
Rcpp::IntegerMatrix levelsmatrix(const std::vector<Combination>& at) {
  Rcpp::IntegerMatrix m(static_cast<int>(at.size()), 2);
  for (std::size_t i = 0; i < at.size(); ++i) {
    m(static_cast<int>(i), 0) = at[i].d1 + 1;
    m(static_cast<int>(i), 1) = at[i].d2 + 1;
  }
  Rcpp::colnames(m) = Rcpp::CharacterVector::create("drug1", "drug2");
  return m;
}

// Why an admissible entry is closed, from the closures; null when open.
const Closure* closureof(const std::vector<Closure>& closures, int entry) {
  for (const Closure& x : closures) {
    if (x.entry == entry) return &x;
  }
  return nullptr;
}

// The posterior table's columns, one row per combination, drug 1 outer; the
// phase II columns NA where they do not apply.
Rcpp::List posteriorcolumns(const Decision& d, const std::vector<Closure>& closures) {
  const int n = static_cast<int>(d.table.size());
  Rcpp::IntegerVector drug1(n), drug2(n), patients(n), toxicities(n), responses(n),
      closedafter(n);
  Rcpp::NumericVector meantox(n), prsafe(n), preff(n), meaneff(n);
  Rcpp::CharacterVector status(n), closedas(n);
  const bool phase2 = d.phase2 || d.stage == Stage::kPhase2;
  for (int i = 0; i < n; ++i) {
    const PosteriorRow& row = d.table[static_cast<std::size_t>(i)];
    drug1[i] = row.at.d1 + 1;
    drug2[i] = row.at.d2 + 1;
    patients[i] = row.npat;
    toxicities[i] = row.ntox;
    responses[i] = row.nresp;
    meantox[i] = row.meantox;
    prsafe[i] = row.prsafe;
    preff[i] = row.entry >= 0 ? row.preff : NA_REAL;
    meaneff[i] = row.entry >= 0 ? row.meaneff : NA_REAL;
    if (row.entry >= 0) {
      status[i] = row.open ? "open" : "closed";
    } else {
      status[i] = phase2 ? Rcpp::String("not admissible") : Rcpp::String(NA_STRING);
    }
    const Closure* x = row.entry >= 0 && !row.open ? closureof(closures, row.entry)
                                                   : nullptr;
    closedafter[i] = x != nullptr ? x->cohort : NA_INTEGER;
    closedas[i] = x != nullptr ? Rcpp::String(closurewhy(*x)) : Rcpp::String(NA_STRING);
  }
  return Rcpp::List::create(
      Rcpp::Named("drug1") = drug1, Rcpp::Named("drug2") = drug2,
      Rcpp::Named(decisionkey::kPatients) = patients,
      Rcpp::Named(decisionkey::kToxicities) = toxicities,
      Rcpp::Named(decisionkey::kResponses) = responses,
      Rcpp::Named(decisionkey::kMeanTox) = meantox,
      Rcpp::Named(decisionkey::kPrSafe) = prsafe,
      Rcpp::Named(decisionkey::kPrEff) = preff,
      Rcpp::Named(decisionkey::kMeanEff) = meaneff,
      Rcpp::Named(decisionkey::kStatus) = status,
      Rcpp::Named(decisionkey::kClosedAfter) = closedafter,
      Rcpp::Named(decisionkey::kClosedAs) = closedas);
}

// The decision's numbers and words, in the names combosim-next --json uses.
Rcpp::List decisionlist(const Decision& d, const Design& design,
                        const std::string& streams) {
  const bool ended = d.stage == Stage::kEnded;
  // NULL for the parts the decision did not take.
  Rcpp::RObject rule, admissible, closures, randomisation, next, selected;
  if (d.phase1) {
    rule = Rcpp::List::create(
        Rcpp::Named(decisionkey::kAt) = levelsof(d.current),
        Rcpp::Named(decisionkey::kPrSafe) = d.prsafe,
        Rcpp::Named(decisionkey::kBranch) = branchname(d.branch),
        Rcpp::Named(decisionkey::kCandidates) = levelsmatrix(
            std::vector<Combination>(d.candidates, d.candidates + d.ncand)),
        Rcpp::Named(decisionkey::kPatients) = d.ntotal);
  }
  if (d.switched) admissible = levelsmatrix(d.admissible);
  if (d.phase2) {
    const int n = static_cast<int>(d.closures.size());
    Rcpp::IntegerVector drug1(n), drug2(n), patients(n);
    Rcpp::LogicalVector futile(n), unsafe(n);
    Rcpp::NumericVector preff(n), prsafe(n);
    for (int i = 0; i < n; ++i) {
      const Closure& x = d.closures[static_cast<std::size_t>(i)];
      drug1[i] = x.at.d1 + 1;
      drug2[i] = x.at.d2 + 1;
      futile[i] = x.futile;
      unsafe[i] = x.unsafe;
      patients[i] = x.npat;
      preff[i] = x.preff;
      prsafe[i] = x.prsafe;
    }
    closures = Rcpp::List::create(
        Rcpp::Named("drug1") = drug1, Rcpp::Named("drug2") = drug2,
        Rcpp::Named(decisionkey::kFutile) = futile,
        Rcpp::Named(decisionkey::kUnsafe) = unsafe,
        Rcpp::Named(decisionkey::kPatients) = patients,
        Rcpp::Named(decisionkey::kPrEff) = preff,
        Rcpp::Named(decisionkey::kPrSafe) = prsafe);
  }
  if (d.randomised) {
    // The open and closed entries' shares, in the admissible list's order.
    std::vector<Combination> at;
    std::vector<double> probs;
    for (std::size_t k = 0; k < d.probs.size(); ++k) {
      for (const PosteriorRow& row : d.table) {
        if (row.entry == static_cast<int>(k)) {
          at.push_back(row.at);
          probs.push_back(d.probs[k]);
        }
      }
    }
    const Rcpp::IntegerMatrix m = levelsmatrix(at);
    randomisation = Rcpp::List::create(
        Rcpp::Named(decisionkey::kProbabilities) =
            Rcpp::List::create(Rcpp::Named("drug1") = m(Rcpp::_, 0),
                               Rcpp::Named("drug2") = m(Rcpp::_, 1),
                               Rcpp::Named(decisionkey::kProbability) = probs),
        Rcpp::Named(decisionkey::kU) = d.u,
        Rcpp::Named(decisionkey::kDrawn) = levelsof(d.next));
  }
  if (!ended) next = levelsof(d.next);
  if (ended && d.end == TrialEnd::kSelected) selected = levelsof(d.selected);
  const std::vector<std::string> words = decisionwords(d, design, streams);
  return Rcpp::List::create(
      Rcpp::Named(decisionkey::kAfterCohort) = d.cohort,
      Rcpp::Named(decisionkey::kOutcome) = outcomelabel(d, design),
      Rcpp::Named(decisionkey::kText) = words,
      Rcpp::Named(decisionkey::kStage) = stagename(d.stage),
      Rcpp::Named(decisionkey::kNext) = next,
      Rcpp::Named(decisionkey::kEnd) =
          ended ? Rcpp::String(trialendname(d.end)) : Rcpp::String(NA_STRING),
      Rcpp::Named(decisionkey::kSelected) = selected,
      Rcpp::Named(decisionkey::kPhase1Rule) = rule,
      Rcpp::Named(decisionkey::kAdmissible) = admissible,
      Rcpp::Named(decisionkey::kClosures) = closures,
      Rcpp::Named("randomisation") = randomisation);
}

// The stability of the last decision over the replicates.
Rcpp::List stabilitylist(const Stability& st, const Design& design) {
  const int no = static_cast<int>(st.outcomes.size());
  Rcpp::CharacterVector outcome(no);
  Rcpp::IntegerVector count(no);
  for (int i = 0; i < no; ++i) {
    outcome[i] = outcomelabel(st.outcomes[static_cast<std::size_t>(i)].decision, design);
    count[i] = st.outcomes[static_cast<std::size_t>(i)].count;
  }
  const int ns = static_cast<int>(st.spreads.size());
  Rcpp::CharacterVector rule(ns), probability(ns), compared(ns);
  Rcpp::IntegerVector drug1(ns), drug2(ns), n(ns);
  Rcpp::NumericVector mean(ns), sd(ns), min(ns), max(ns);
  for (int i = 0; i < ns; ++i) {
    const Spread& x = st.spreads[static_cast<std::size_t>(i)];
    rule[i] = comparedname(x.what);
    drug1[i] = x.at.d1 + 1;
    drug2[i] = x.at.d2 + 1;
    probability[i] = probabilityname(x.what);
    n[i] = x.n;
    mean[i] = x.mean;
    sd[i] = x.n > 1 ? x.sd : NA_REAL;  // one value has no spread
    min[i] = x.min;
    max[i] = x.max;
    compared[i] = spreadwords(x, design);
  }
  return Rcpp::List::create(
      Rcpp::Named("replicates") = st.replicates,
      Rcpp::Named("seed") = std::to_string(st.seed),
      Rcpp::Named("outcomes") = Rcpp::List::create(Rcpp::Named("outcome") = outcome,
                                                   Rcpp::Named("count") = count),
      Rcpp::Named("probabilities") = Rcpp::List::create(
          Rcpp::Named("rule") = rule, Rcpp::Named("drug1") = drug1,
          Rcpp::Named("drug2") = drug2, Rcpp::Named("probability") = probability,
          Rcpp::Named("replicates") = n, Rcpp::Named("mean") = mean,
          Rcpp::Named("sd") = sd, Rcpp::Named("min") = min, Rcpp::Named("max") = max,
          Rcpp::Named("compared") = compared));
}

// At the switch the admissible list reads pr(toxicity < target) from the
// last phase I update while the table shows the phase II refit: whether the
// two are one value (under quadrature: the same data, exact), and both
// values of each combination in words, as combosim-next gives them.
Rcpp::RObject refitlist(const Decision& d, const Design& design) {
  if (!d.switched || d.table.empty()) return R_NilValue;
  bool same = true;
  std::string both;
  for (const Comparison& x : d.comparisons) {
    if (x.what != Compared::kAdmissible) continue;
    for (const PosteriorRow& row : d.table) {
      if (!(row.at == x.at)) continue;
      if (row.prsafe != x.value) same = false;
      both += (both.empty() ? "" : ", ") + levels(x.at, design) + " " +
              probtext(x.value, design.rules.admissible) + " and " + probtext(row.prsafe);
    }
  }
  return Rcpp::List::create(
      Rcpp::Named("same") = same,
      Rcpp::Named("text") = toxwords(design) +
                            " at the end of phase I and in the phase II refit: " + both);
}

// The pathways as columns, one row per node (depth first, outcomes
// ascending), in the names of combosim-next's --pathways-csv; in phase II one
// column of randomisation probabilities per admissible entry, NA where the
// node's decision did not randomise.
Rcpp::List pathwayslist(const Pathways& p, const Decision& last, const Design& design) {
  const int n = static_cast<int>(p.nodes.size());
  Rcpp::IntegerVector node(n), parent(n), depth(n), cohort(n), drug1(n), drug2(n),
      patients(n), toxicities(n), responses(n), next1(n), next2(n);
  Rcpp::CharacterVector outcome(n), stage(n), text(n), admissible(n), closures(n),
      label1(n), label2(n);
  Rcpp::NumericVector prsafe(n);
  Rcpp::LogicalVector closecall(n);
  std::vector<Combination> entries;  // phase II: the admissible list
  if (p.phase2) {
    for (const PosteriorRow& row : last.table) {
      if (row.entry >= 0) entries.push_back(row.at);
    }
  }
  Rcpp::NumericMatrix probs(n, static_cast<int>(entries.size()));
  std::fill(probs.begin(), probs.end(), NA_REAL);
  for (int i = 0; i < n; ++i) {
    const PathwayNode& x = p.nodes[static_cast<std::size_t>(i)];
    const Decision& d = x.decision;
    const bool switched = d.switched && !p.phase2;
    node[i] = i + 1;
    parent[i] = x.parent >= 0 ? x.parent + 1 : NA_INTEGER;
    depth[i] = x.depth;
    cohort[i] = d.cohort;
    drug1[i] = x.cohort.at.d1 + 1;
    drug2[i] = x.cohort.at.d2 + 1;
    label1[i] = levelname(design, 1, x.cohort.at.d1);
    label2[i] = levelname(design, 2, x.cohort.at.d2);
    patients[i] = x.cohort.npat;
    toxicities[i] = x.cohort.ntox;
    responses[i] = x.cohort.nresp;
    outcome[i] = switched ? pathwaywords(d, design)
                 : p.phase2 ? rulelabel(d, design)
                            : outcomelabel(d, design);
    text[i] = pathwaywords(d, design);
    stage[i] = switched && d.stage != Stage::kEnded ? "phase2" : stagename(d.stage);
    const bool hasnext = d.stage != Stage::kEnded && !switched && !p.phase2;
    next1[i] = hasnext ? d.next.d1 + 1 : NA_INTEGER;
    next2[i] = hasnext ? d.next.d2 + 1 : NA_INTEGER;
    prsafe[i] = d.phase1 && !d.switched ? d.prsafe : NA_REAL;
    std::string adm;
    for (Combination at : d.admissible) adm += (adm.empty() ? "" : " ") + levels(at, design);
    admissible[i] = adm;
    std::string closed;
    if (!switched) {
      for (const Closure& c : d.closures) {
        closed += (closed.empty() ? "" : "; ") + levels(c.at, design) + " " + closurewhy(c);
      }
    }
    closures[i] = closed;
    closecall[i] = !d.closecalls.empty();
    if (d.randomised) {
      for (std::size_t k = 0; k < d.probs.size(); ++k) {
        for (const PosteriorRow& row : d.table) {
          if (row.entry != static_cast<int>(k)) continue;
          for (std::size_t e = 0; e < entries.size(); ++e) {
            if (entries[e] == row.at) probs(i, static_cast<int>(e)) = d.probs[k];
          }
        }
      }
    }
  }
  std::vector<std::string> names;
  for (Combination at : entries) {
    names.push_back("randomise_" + std::to_string(at.d1 + 1) + "_" +
                    std::to_string(at.d2 + 1));
  }
  if (!names.empty()) Rcpp::colnames(probs) = Rcpp::wrap(names);
  Rcpp::List columns = Rcpp::List::create(
      Rcpp::Named("node") = node, Rcpp::Named("parent") = parent,
      Rcpp::Named("depth") = depth, Rcpp::Named("cohort") = cohort,
      Rcpp::Named("drug1") = drug1, Rcpp::Named("drug2") = drug2,
      Rcpp::Named("drug1_label") = label1, Rcpp::Named("drug2_label") = label2,
      Rcpp::Named(decisionkey::kPatients) = patients,
      Rcpp::Named(decisionkey::kToxicities) = toxicities,
      Rcpp::Named(decisionkey::kResponses) = responses,
      Rcpp::Named(decisionkey::kOutcome) = outcome,
      Rcpp::Named(decisionkey::kStage) = stage,
      Rcpp::Named("next_drug1") = next1, Rcpp::Named("next_drug2") = next2,
      Rcpp::Named(decisionkey::kPrSafe) = prsafe,
      Rcpp::Named(decisionkey::kAdmissible) = admissible,
      Rcpp::Named(decisionkey::kClosures) = closures,
      Rcpp::Named("close_call") = closecall, Rcpp::Named(decisionkey::kText) = text);
  return Rcpp::List::create(Rcpp::Named("problem") = p.problem,
                            Rcpp::Named("phase") = p.phase2 ? 2 : 1,
                            Rcpp::Named("updates") = p.updates,
                            Rcpp::Named("columns") = columns,
                            Rcpp::Named("randomisation") = probs);
}

// Watches a race on the calling thread: draws the progress bar against the
// trials planned, which shrink as candidates drop out and grow by the
// confirmation's once the race is over, and cancels the race after an
// interrupt.
class CalibrationWatch : public CalibrationObserver {
 public:
  explicit CalibrationWatch(bool progress) : bar_(1, "trials"), progress_(progress) {}

  bool progress(std::int64_t done, std::int64_t total) override {
    this->done = done;
    this->total = total;
    if (progress_) bar_.draw(done, total);
    if (interruptpending()) {
      interrupted = true;
      return false;
    }
    return true;
  }

  // Draws the bar full after a race that ended before its plan, with no
  // confirmation after it.
  void finish(bool complete) {
    if (progress_ && complete && done > 0) bar_.draw(done, done);
    bar_.finish();
  }

  bool interrupted = false;
  std::int64_t done = 0;
  std::int64_t total = 0;

 private:
  ProgressBar bar_;
  bool progress_;
};

// Every figure of engine/oc.h of each of `ocs`, one row each, columns by
// the figures' names; NA where a figure has no value.
Rcpp::NumericMatrix ocmatrix(const std::vector<const OperatingCharacteristics*>& ocs) {
  const std::vector<OcFigure> names = ocfigures(OperatingCharacteristics{});
  Rcpp::NumericMatrix m(static_cast<int>(ocs.size()), static_cast<int>(names.size()));
  for (std::size_t r = 0; r < ocs.size(); ++r) {
    const std::vector<OcFigure> figures = ocfigures(*ocs[r]);
    for (std::size_t c = 0; c < figures.size(); ++c) {
      const double v = figures[c].value;
      m(static_cast<int>(r), static_cast<int>(c)) = std::isnan(v) ? NA_REAL : v;
    }
  }
  Rcpp::CharacterVector columns(names.size());
  for (std::size_t c = 0; c < names.size(); ++c) {
    columns[static_cast<R_xlen_t>(c)] = names[c].name;
  }
  Rcpp::colnames(m) = columns;
  return m;
}

Rcpp::NumericMatrix ocmatrix(const std::vector<OperatingCharacteristics>& ocs) {
  std::vector<const OperatingCharacteristics*> rows;
  for (const OperatingCharacteristics& oc : ocs) rows.push_back(&oc);
  return ocmatrix(rows);
}

// The scenario of `truth`, list(name, tox, eff, target, mineff, weight), with
// the design fields of `design`, list(prior1, prior2, counts = c(ncohort1,
// cohortsize1, ncohort2, cohortsize2), rules, posterior), into `d`. Returns
// "" or the problem, fields named as the engine names them.
std::string calibrationdesign(const Rcpp::List& truth, const Rcpp::List& design,
                              Scenario& scenario, Design& d) {
  const Rcpp::NumericMatrix tox = truth["tox"];
  const Rcpp::NumericMatrix eff = truth["eff"];
  const Rcpp::NumericVector prior1 = design["prior1"];
  const Rcpp::NumericVector prior2 = design["prior2"];
  const Rcpp::IntegerVector counts = design["counts"];
  if (counts.size() != 4 || eff.nrow() != tox.nrow() || eff.ncol() != tox.ncol() ||
      prior1.size() != tox.nrow() || prior2.size() != tox.ncol()) {
    return "the scenario's grids and priors do not agree in shape";
  }
  scenario = Scenario{};
  SimulationSettings& s = scenario.settings;
  s.ndose1 = tox.nrow();
  s.ndose2 = tox.ncol();
  s.targettox = Rcpp::as<double>(truth["target"]);
  s.mineff = Rcpp::as<double>(truth["mineff"]);
  s.ncohort1 = counts[0];
  s.cohortsize1 = counts[1];
  s.ncohort2 = counts[2];
  s.cohortsize2 = counts[3];
  s.ntrial = 1;  // the race sets each run's
  if (s.ndose1 <= kMaxDose && s.ndose2 <= kMaxDose) {
    for (int d1 = 0; d1 < s.ndose1; ++d1) {
      scenario.input.scenprior1[d1] = prior1[d1];
      for (int d2 = 0; d2 < s.ndose2; ++d2) {
        scenario.input.scentox[d1][d2] = tox(d1, d2);
        scenario.input.sceneff[d1][d2] = eff(d1, d2);
      }
    }
    for (int d2 = 0; d2 < s.ndose2; ++d2) scenario.input.scenprior2[d2] = prior2[d2];
  }
  std::string problem = checkscenario(scenario);
  if (!problem.empty()) return problem;
  const DesignRules rules = rulesfromlist(design["rules"]);
  problem = checkrules(rules, s.ndose1, s.ndose2);
  if (!problem.empty()) return "rules." + problem;
  d = designof(scenario, rules);
  return posteriorfromlist(design["posterior"], d);
}

}  // namespace

// The design's default rules, as the engine holds them.
// The quadrature method's default nodes and draws, and the Boost version
// behind it.
// [[Rcpp::export]]
Rcpp::List cs_defaultquadrature() {
  const QuadratureSettings q;
  return Rcpp::List::create(
      Rcpp::Named("nodes") = Rcpp::List::create(
          Rcpp::Named("toxicity") = Rcpp::IntegerVector(q.toxnodes, q.toxnodes + 3),
          Rcpp::Named("response") = Rcpp::IntegerVector(q.effnodes, q.effnodes + 2)),
      Rcpp::Named("draws") = q.ndraws,
      Rcpp::Named("boost") = std::to_string(BOOST_VERSION / 100000) + "." +
                             std::to_string(BOOST_VERSION / 100 % 1000) + "." +
                             std::to_string(BOOST_VERSION % 100));
}

// "" or the problem with the posterior list, fields named as in it.
// [[Rcpp::export]]
std::string cs_checkposterior(Rcpp::List posterior) {
  Design d;
  return posteriorfromlist(posterior, d);
}

// The posterior list in words, as combosim-next writes them.
// [[Rcpp::export]]
std::string cs_posteriorwords(Rcpp::List posterior) {
  Design d;
  posteriorfromlist(posterior, d);
  return posteriorwords(d.method, d.quadrature);
}

// [[Rcpp::export]]
Rcpp::List cs_defaultrules() {
  const DesignRules d;
  return Rcpp::List::create(
      Rcpp::Named("escalate") = d.escalate, Rcpp::Named("deescalate") = d.deescalate,
      Rcpp::Named("admissible") = d.admissible, Rcpp::Named("safety") = d.safety,
      Rcpp::Named("futility") = d.futility,
      Rcpp::Named("minpatients") = d.minpatients_close);
}

// "" or the engine's one-line problem with `rules` (the start on the
// largest grid: the scenario's is checked when the rules are used).
// [[Rcpp::export]]
std::string cs_checkrules(Rcpp::List rules) {
  return checkrules(rulesfromlist(rules), kMaxDose, kMaxDose);
}

// The options of `rules` not at their defaults, as summary.csv's options
// column holds them; "" when there are none.
// [[Rcpp::export]]
std::string cs_optionstext(Rcpp::List rules) {
  return optionstext(rulesfromlist(rules));
}

// "" or the problem with the decimal seed `seed` ("" is no seed).
// [[Rcpp::export]]
std::string cs_seedproblem(std::string seed) {
  Streams streams;
  return readstreams(seed, streams);
}

// Simulates the scenario under `rules`. `counts` holds ncohort1,
// cohortsize1, ncohort2, cohortsize2 and ntrial; `seed` is "" for the
// fixed-seed generators, otherwise the decimal seed S of the seeded streams
// (shard 1, as a plain seeded batch run), or with `paired` of the paired
// streams from trial 1. Returns list(problem = text) when the scenario,
// rules or seed is refused, and list(problem = "") with `checkonly` when
// they are not; otherwise the run's sums and averages, [drug-1,
// drug-2], its outcomes, with `paired` each trial's counts against the truth
// (`trialcounts`), and `interrupted` / `failure` when it did not complete.
// [[Rcpp::export]]
Rcpp::List cs_simulate(Rcpp::NumericMatrix tox, Rcpp::NumericMatrix eff,
                       double target, double mineff, Rcpp::NumericVector prior1,
                       Rcpp::NumericVector prior2, Rcpp::IntegerVector counts,
                       Rcpp::List rules, Rcpp::List posterior, std::string seed,
                       bool paired, bool progress, bool checkonly) {
  if (counts.size() != 5 || eff.nrow() != tox.nrow() || eff.ncol() != tox.ncol() ||
      prior1.size() != tox.nrow() || prior2.size() != tox.ncol()) {
    return problemonly("the scenario's grids and priors do not agree in shape");
  }
  Scenario scenario;
  SimulationSettings& s = scenario.settings;
  s.ndose1 = tox.nrow();
  s.ndose2 = tox.ncol();
  s.targettox = target;
  s.mineff = mineff;
  s.ncohort1 = counts[0];
  s.cohortsize1 = counts[1];
  s.ncohort2 = counts[2];
  s.cohortsize2 = counts[3];
  s.ntrial = counts[4];
  // Cells beyond the grid's limits stay unread: checkscenario refuses the
  // dose counts first.
  if (s.ndose1 <= kMaxDose && s.ndose2 <= kMaxDose) {
    for (int d1 = 0; d1 < s.ndose1; ++d1) {
      scenario.input.scenprior1[d1] = prior1[d1];
      for (int d2 = 0; d2 < s.ndose2; ++d2) {
        scenario.input.scentox[d1][d2] = tox(d1, d2);
        scenario.input.sceneff[d1][d2] = eff(d1, d2);
      }
    }
    for (int d2 = 0; d2 < s.ndose2; ++d2) scenario.input.scenprior2[d2] = prior2[d2];
  }
  std::string problem = checkscenario(scenario);
  if (problem.empty()) {
    const std::string rulesproblem = checkrules(rulesfromlist(rules), s.ndose1, s.ndose2);
    if (!rulesproblem.empty()) problem = "rules." + rulesproblem;
  }
  Design design;
  if (problem.empty()) {
    design = designof(scenario, rulesfromlist(rules));
    problem = posteriorfromlist(posterior, design);
  }
  if (!problem.empty()) return problemonly(problem);

  Streams streams;
  const std::string seedproblem = readstreams(seed, streams, paired);
  if (!seedproblem.empty()) return problemonly(seedproblem);
  if (checkonly) return problemonly("");

  if (running) return problemonly("another simulation is running in this R session");
  const RunningGuard guard;
  RunObserver observer(s.ntrial, progress);
  const SimulationResult result = simulate(design, scenario.input, streams, &observer);
  observer.finish();

  // Figures per trial of the trials completed; an interrupted or failed run
  // is refused by the R side, which keeps only its count of trials.
  const std::int64_t n = result.ntrial;
  const Accumulators& acc = result.acc;
  const int nd1 = s.ndose1;
  const int nd2 = s.ndose2;
  std::int64_t selected = 0;
  for (int d1 = 0; d1 < nd1; ++d1) {
    for (int d2 = 0; d2 < nd2; ++d2) selected += acc.nselect[d1][d2];
  }
  // The operating characteristics of a whole run only.
  Rcpp::RObject oc;
  Rcpp::RObject pertrialcounts;
  if (n == s.ntrial && result.failure.ok() && !observer.interrupted) {
    oc = ocfigurelist(operatingcharacteristics(s, scenario.input, acc, result.outcomes));
    // What a trial-by-trial comparison with another paired run needs.
    if (paired) pertrialcounts = trialcountmatrix(classifytruth(s, scenario.input), observer.outcomes);
  }
  return Rcpp::List::create(
      Rcpp::Named("problem") = "",
      Rcpp::Named("ntrial") = static_cast<double>(n),
      Rcpp::Named("interrupted") = observer.interrupted,
      Rcpp::Named("failure") =
          result.failure.ok()
              ? std::string()
              : "trial " + std::to_string(result.failedtrial) + ": " + result.message,
      Rcpp::Named("sums") = Rcpp::List::create(
          Rcpp::Named("patients") = sumgrid(acc.sumpat, nd1, nd2),
          Rcpp::Named("toxicities") = sumgrid(acc.sumtox, nd1, nd2),
          Rcpp::Named("responses") = sumgrid(acc.sumresp, nd1, nd2),
          Rcpp::Named("selections") = sumgrid(acc.nselect, nd1, nd2)),
      Rcpp::Named("means") = Rcpp::List::create(
          Rcpp::Named("patients") = meangrid(acc.sumpat, nd1, nd2, n, 1),
          Rcpp::Named("toxicities") = meangrid(acc.sumtox, nd1, nd2, n, 1),
          Rcpp::Named("responses") = meangrid(acc.sumresp, nd1, nd2, n, 1),
          Rcpp::Named("selections") = meangrid(acc.nselect, nd1, nd2, n, 100)),
      Rcpp::Named("inconclusive") = pertrial(n - selected, n, 100),
      Rcpp::Named("outcomes") = outcomesums(result.outcomes),
      Rcpp::Named("reasons") = reasoncounts(result.outcomes),
      Rcpp::Named("trials") = trialtable(observer.outcomes),
      Rcpp::Named("oc") = oc,
      Rcpp::Named("trialcounts") = pertrialcounts,
      Rcpp::Named("coarseupdates") = static_cast<double>(result.outcomes.coarseupdates),
      Rcpp::Named("cpuseconds") = result.cpuseconds());
}

// Takes a real trial's cohorts through the design and gives the decision
// for the next cohort. `design` holds target, mineff, prior1, prior2 (one
// value per level), ncohort1, cohortsize1, ncohort2, cohortsize2 and rules;
// `cohorts` one row per cohort: drug-1 level, drug-2 level, patients,
// toxicities, responses. `seed` is "" for the fixed-seed generators,
// otherwise the decimal seed S of the seeded streams (S, 1). Returns
// list(problem = text) when the design, a cohort or the seed is refused or
// the sampler failed; list(problem = "", cancelled = TRUE, done = n) after
// an interrupt during the replicates; otherwise the state, the posterior
// table's columns, the decision and, with replicates, its stability, with
// the words of combosim-next.
// [[Rcpp::export]]
Rcpp::List cs_next(Rcpp::List design, Rcpp::IntegerMatrix cohorts, std::string seed,
                   int replicates, bool progress, int pathways) {
  Design d;
  SimulationSettings& s = d.settings;
  const Rcpp::NumericVector prior1 = design["prior1"];
  const Rcpp::NumericVector prior2 = design["prior2"];
  s.ndose1 = static_cast<int>(prior1.size());
  s.ndose2 = static_cast<int>(prior2.size());
  s.targettox = Rcpp::as<double>(design["target"]);
  s.mineff = Rcpp::as<double>(design["mineff"]);
  s.ncohort1 = Rcpp::as<int>(design["ncohort1"]);
  s.cohortsize1 = Rcpp::as<int>(design["cohortsize1"]);
  s.ncohort2 = Rcpp::as<int>(design["ncohort2"]);
  s.cohortsize2 = Rcpp::as<int>(design["cohortsize2"]);
  // Priors beyond the grid's limits stay unread: checkdesign refuses the
  // dose counts first.
  for (int i = 0; i < s.ndose1 && i < kMaxDose; ++i) d.prior1[i] = prior1[i];
  for (int i = 0; i < s.ndose2 && i < kMaxDose; ++i) d.prior2[i] = prior2[i];
  d.rules = rulesfromlist(design["rules"]);
  // The levels' names, checked in R: one per level, or none.
  if (design.containsElementNamed("labels1")) {
    d.labels1 = Rcpp::as<std::vector<std::string>>(design["labels1"]);
  }
  if (design.containsElementNamed("labels2")) {
    d.labels2 = Rcpp::as<std::vector<std::string>>(design["labels2"]);
  }
  std::string problem = posteriorfromlist(design["posterior"], d);
  if (problem.empty()) problem = checkdesign(d);
  if (!problem.empty()) return problemonly(problem);
  if (cohorts.ncol() != 5) return problemonly("cohorts: expected 5 columns");

  std::vector<Cohort> trial;
  int patients = 0;
  for (int i = 0; i < cohorts.nrow(); ++i) {
    Cohort k;
    k.at = {cohorts(i, 0) - 1, cohorts(i, 1) - 1};
    k.npat = cohorts(i, 2);
    k.ntox = cohorts(i, 3);
    k.nresp = cohorts(i, 4);
    trial.push_back(k);
  }
  Streams streams;
  const std::string seedproblem = readstreams(seed, streams);
  if (!seedproblem.empty()) return problemonly(seedproblem);

  if (running) return problemonly("another simulation is running in this R session");
  const RunningGuard guard;
  ReplicateObserver observer(replicates, progress && !trial.empty());
  ConductOptions options;
  options.streams = freshstreams(streams);
  options.replicates = replicates;
  options.seed = streams.seeded ? streams.seed : 0;
  options.observer = &observer;
  options.pathways = pathways;
  const ConductResult result = runconduct(d, trial, options);
  observer.finish(!result.cancelled && result.problem.empty(), replicates);
  if (!result.problem.empty()) return problemonly(result.problem);
  if (result.cancelled) {
    return Rcpp::List::create(Rcpp::Named("problem") = "",
                              Rcpp::Named("cancelled") = true,
                              Rcpp::Named("done") = static_cast<double>(observer.done));
  }

  const Decision& last = result.next;
  std::vector<Combination> chosen;
  for (std::size_t i = 0; i < trial.size(); ++i) {
    chosen.push_back(i == 0 ? Combination{d.rules.start1, d.rules.start2}
                            : result.history[i - 1].next);
    patients += trial[i].npat;
  }
  const int n1 = std::min(last.cohort, s.ncohort1);
  const std::string words = streamswords(streams);
  Rcpp::RObject stability;
  if (result.stability.replicates > 0) stability = stabilitylist(result.stability, d);
  Rcpp::RObject paths;
  if (pathways > 0) paths = pathwayslist(result.pathways, last, d);
  return Rcpp::List::create(
      Rcpp::Named("problem") = "", Rcpp::Named("cancelled") = false,
      Rcpp::Named("warnings") = result.warnings,
      Rcpp::Named("choices") = levelsmatrix(chosen),
      Rcpp::Named("random") = words,
      Rcpp::Named("state") = Rcpp::List::create(
          Rcpp::Named("stage") = stagename(last.stage),
          Rcpp::Named("cohorts") = last.cohort,
          Rcpp::Named("phase1_cohorts") = n1,
          Rcpp::Named("phase2_cohorts") = last.cohort - n1,
          Rcpp::Named("patients") = patients,
          Rcpp::Named("end") = last.stage == Stage::kEnded
                                   ? Rcpp::String(trialendname(last.end))
                                   : Rcpp::String(NA_STRING),
          Rcpp::Named("text") = statewords(last, d, patients)),
      Rcpp::Named("posterior") = posteriorcolumns(last, result.closures),
      Rcpp::Named("decision") = decisionlist(last, d, words),
      Rcpp::Named("stability") = stability, Rcpp::Named("pathways") = paths,
      Rcpp::Named("closecalls") = closecallwords(last, d),
      Rcpp::Named("refit") = refitlist(last, d));
}

// The differences of a design's figures from a reference's, trial by trial:
// `a` and `b` are the per-trial counts of two paired runs of the same trials
// on the same truth (cs_simulate's trialcounts), row t of each trial t.
// Returns one column per field of FigureDifference, one row per figure; NA
// where a figure has no value or SE.
// [[Rcpp::export]]
Rcpp::List cs_differences(Rcpp::IntegerMatrix a, Rcpp::IntegerMatrix b) {
  if (a.nrow() != b.nrow() || a.ncol() != kNumTrialCounts ||
      b.ncol() != kNumTrialCounts || a.nrow() < 1) {
    Rcpp::stop("cs_differences: two count matrices of the same trials, with %d columns",
               kNumTrialCounts);
  }
  PairedSums sums;
  TrialCounts x;
  TrialCounts y;
  for (int t = 0; t < a.nrow(); ++t) {
    for (int i = 0; i < kNumTrialCounts; ++i) {
      x[i] = a(t, i);
      y[i] = b(t, i);
    }
    addpair(sums, x, y);
  }
  const std::vector<FigureDifference> d = differences(sums);
  const int n = static_cast<int>(d.size());
  Rcpp::CharacterVector figure(n);
  Rcpp::NumericVector value(n), valuemcse(n), reference(n), referencemcse(n),
      difference(n), mcse(n), unpaired(n);
  const auto na = [](double v) { return std::isnan(v) ? NA_REAL : v; };
  for (int k = 0; k < n; ++k) {
    const FigureDifference& f = d[static_cast<std::size_t>(k)];
    figure[k] = f.figure;
    value[k] = na(f.design.value);
    valuemcse[k] = na(f.design.mcse);
    reference[k] = na(f.reference.value);
    referencemcse[k] = na(f.reference.mcse);
    difference[k] = na(f.difference);
    mcse[k] = na(f.mcse);
    unpaired[k] = na(f.unpairedmcse);
  }
  return Rcpp::List::create(
      Rcpp::Named("figure") = figure, Rcpp::Named("value") = value,
      Rcpp::Named("value_mcse") = valuemcse,
      Rcpp::Named("reference_value") = reference,
      Rcpp::Named("reference_mcse") = referencemcse,
      Rcpp::Named("difference") = difference,
      Rcpp::Named("difference_mcse") = mcse,
      Rcpp::Named("unpaired_mcse") = unpaired);
}

// The figures a race can aim at and bound: `objective`, the per-trial
// figures; `constraints`, the figures of engine/oc.h that are estimates.
// [[Rcpp::export]]
Rcpp::List cs_calibrationfigures() {
  std::vector<std::string> objective;
  std::vector<std::string> constraints;
  for (const OcFigure& f : ocfigures(OperatingCharacteristics{})) {
    int count = 0;
    double scale = 0;
    if (pertrialfigure(f.name, &count, &scale)) objective.push_back(f.name);
    if (!f.integer && f.name.find("_mcse") == std::string::npos &&
        f.name != "patients_sd") {
      constraints.push_back(f.name);
    }
  }
  return Rcpp::List::create(Rcpp::Named("objective") = objective,
                            Rcpp::Named("constraints") = constraints);
}

// Races the candidates over the scenarios (engine/calibrate.h).
// `scenarios`: one list(name, tox, eff, target, mineff, weight) each;
// `candidates`: one list(label, designs) each, `designs` one design list
// per scenario (see calibrationdesign()); `constraints`: one list(figure,
// upper, limit, scenarios = their positions from 1) each; `seed` the
// decimal seed of the paired streams. Returns list(problem = text) when
// something is refused; otherwise the race: its history (one entry per
// candidate and stage, `figures` one row per entry and scenario), survivors
// and choice (positions from 1, 0 for none), the confirmation's figures,
// and `interrupted` / `failure` when it did not finish.
// [[Rcpp::export]]
Rcpp::List cs_calibrate(Rcpp::List scenarios, Rcpp::List candidates,
                        std::string objective, Rcpp::List constraints,
                        Rcpp::IntegerVector stages, double margin, std::string seed,
                        int confirm, bool confirmgibbs, int cores, bool progress) {
  CalibrationPlan plan;
  const int S = static_cast<int>(scenarios.size());
  std::vector<Scenario> truths(static_cast<std::size_t>(S));
  for (int s = 0; s < S; ++s) {
    const Rcpp::List t = scenarios[s];
    CalibrationScenario cs;
    cs.name = Rcpp::as<std::string>(t["name"]);
    cs.weight = Rcpp::as<double>(t["weight"]);
    plan.scenarios.push_back(cs);
  }
  for (R_xlen_t k = 0; k < candidates.size(); ++k) {
    const Rcpp::List c = candidates[k];
    const Rcpp::List designs = c["designs"];
    Candidate candidate;
    candidate.label = Rcpp::as<std::string>(c["label"]);
    if (designs.size() != S) return problemonly("candidate " + candidate.label + ": not one design per scenario");
    for (int s = 0; s < S; ++s) {
      Scenario scenario;
      Design d;
      const std::string problem =
          calibrationdesign(scenarios[s], designs[s], scenario, d);
      if (!problem.empty()) {
        return problemonly("candidate " + std::to_string(k + 1) + " (" + candidate.label +
                           ") in scenario " + plan.scenarios[static_cast<std::size_t>(s)].name +
                           ": " + problem);
      }
      // The truth is the scenario's, whatever the candidate.
      if (k == 0) {
        plan.scenarios[static_cast<std::size_t>(s)].settings = scenario.settings;
        plan.scenarios[static_cast<std::size_t>(s)].truth = scenario.input;
      }
      candidate.designs.push_back(d);
    }
    plan.candidates.push_back(std::move(candidate));
  }
  plan.objective = objective;
  for (R_xlen_t i = 0; i < constraints.size(); ++i) {
    const Rcpp::List c = constraints[i];
    Constraint constraint;
    constraint.figure = Rcpp::as<std::string>(c["figure"]);
    constraint.upper = Rcpp::as<bool>(c["upper"]);
    constraint.limit = Rcpp::as<double>(c["limit"]);
    const Rcpp::IntegerVector at = c["scenarios"];
    for (int s : at) constraint.scenarios.push_back(s - 1);
    plan.constraints.push_back(constraint);
  }
  plan.stages.assign(stages.begin(), stages.end());
  plan.margin = margin;
  Streams streams;
  const std::string seedproblem = readstreams(seed, streams, true);
  if (!seedproblem.empty()) return problemonly(seedproblem);
  plan.seed = streams.seed;
  plan.confirmtrials = confirm;
  plan.confirmgibbs = confirmgibbs;
  plan.threads = cores;
  const std::string problem = checkcalibration(plan);
  if (!problem.empty()) return problemonly(problem);

  if (running) return problemonly("another simulation is running in this R session");
  const RunningGuard guard;
  CalibrationWatch watch(progress);
  const CalibrationResult r = calibrate(plan, &watch);
  watch.finish(!r.cancelled && r.failure.empty());

  const std::size_t n = r.history.size();
  Rcpp::IntegerVector candidate(n), stage(n), trials(n);
  Rcpp::NumericVector value(n), valuemcse(n), behind(n), behindmcse(n);
  Rcpp::LogicalVector best(n), met(n);
  Rcpp::CharacterVector dropped(n);
  std::vector<const OperatingCharacteristics*> ocs;
  const auto na = [](double v) { return std::isnan(v) ? NA_REAL : v; };
  // A stage whose every candidate broke a constraint has no best, and no
  // difference to it.
  std::vector<bool> hasbest(plan.stages.size(), false);
  for (const CandidateStage& row : r.history) {
    if (row.best) hasbest[static_cast<std::size_t>(row.stage)] = true;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const CandidateStage& row = r.history[i];
    const R_xlen_t at = static_cast<R_xlen_t>(i);
    candidate[at] = row.candidate + 1;
    stage[at] = row.stage + 1;
    trials[at] = row.trials;
    value[at] = na(row.objective.value);
    valuemcse[at] = na(row.objective.mcse);
    const bool compared = hasbest[static_cast<std::size_t>(row.stage)];
    behind[at] = compared ? na(row.behind.value) : NA_REAL;
    behindmcse[at] = compared ? na(row.behind.mcse) : NA_REAL;
    best[at] = row.best;
    met[at] = row.constraintsmet;
    dropped[at] = row.dropped;
    for (const OperatingCharacteristics& oc : row.oc) ocs.push_back(&oc);
  }
  Rcpp::IntegerVector survivors(r.survivors.size());
  for (std::size_t i = 0; i < r.survivors.size(); ++i) {
    survivors[static_cast<R_xlen_t>(i)] = r.survivors[i] + 1;
  }
  return Rcpp::List::create(
      Rcpp::Named("problem") = "",
      Rcpp::Named("interrupted") = watch.interrupted && r.cancelled,
      Rcpp::Named("done") = static_cast<double>(watch.done),
      Rcpp::Named("planned") = static_cast<double>(watch.total),
      Rcpp::Named("failure") = r.failure,
      Rcpp::Named("history") = Rcpp::List::create(
          Rcpp::Named("candidate") = candidate, Rcpp::Named("stage") = stage,
          Rcpp::Named("trials") = trials, Rcpp::Named("objective") = value,
          Rcpp::Named("objective_mcse") = valuemcse, Rcpp::Named("behind") = behind,
          Rcpp::Named("behind_mcse") = behindmcse, Rcpp::Named("best") = best,
          Rcpp::Named("constraints_met") = met, Rcpp::Named("dropped") = dropped),
      Rcpp::Named("figures") = ocmatrix(ocs),
      Rcpp::Named("survivors") = survivors,
      Rcpp::Named("chosen") = r.chosen + 1,
      Rcpp::Named("stopped") = r.stopped,
      Rcpp::Named("laststage") = r.laststage + 1,
      Rcpp::Named("racetrials") = r.racetrials,
      Rcpp::Named("spent") = static_cast<double>(r.spent),
      Rcpp::Named("everywhere") = static_cast<double>(r.everywhere),
      Rcpp::Named("confirmfirst") = r.confirmfirst,
      Rcpp::Named("confirmation") = ocmatrix(r.confirmation),
      Rcpp::Named("gibbsconfirmation") = ocmatrix(r.gibbsconfirmation));
}
