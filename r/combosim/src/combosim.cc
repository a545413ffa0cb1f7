// combosim.cc: the package's compiled entry points, over the engine's one
// entry point, simulate(). The R functions check their arguments and build
// the classed results; this file only converts between R and the engine's
// records. Nothing here prints except the progress bar, which goes through
// R's own console functions, and nothing exits: problems come back as text.
#include <Rcpp.h>
#include <R_ext/Utils.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "design/rules.h"
#include "engine/outcome.h"
#include "engine/simulate.h"

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

// Watches a run: stops it at the start of a trial after an interrupt, draws
// the progress bar when asked, and keeps each trial's outcome.
class RunObserver : public Observer {
 public:
  RunObserver(int ntrial, bool progress) : ntrial_(ntrial), progress_(progress) {
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
    if (progress_) drawbar(trial);
  }

  // Ends the bar's line, if one was drawn.
  void finish() {
    if (percent_ >= 0) REprintf("\n");
  }

  bool interrupted = false;
  std::vector<TrialOutcome> outcomes;

 private:
  // Redraws "|=====     |  50% (5 of 10 trials)" when the percentage moves.
  void drawbar(std::int64_t trial) {
    const int percent = static_cast<int>(trial * 100 / ntrial_);
    if (percent == percent_) return;
    percent_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '=') +
                            std::string(static_cast<std::size_t>(kWidth - filled), ' ');
    REprintf("\r|%s| %3d%% (%lld of %d trials)", bar.c_str(), percent,
             static_cast<long long>(trial), ntrial_);
  }

  int ntrial_;
  bool progress_;
  int percent_ = -1;
};

DesignRules rulesfromlist(const Rcpp::List& r) {
  DesignRules rules;
  rules.escalate = Rcpp::as<double>(r["escalate"]);
  rules.deescalate = Rcpp::as<double>(r["deescalate"]);
  rules.admissible = Rcpp::as<double>(r["admissible"]);
  rules.safety = Rcpp::as<double>(r["safety"]);
  rules.futility = Rcpp::as<double>(r["futility"]);
  rules.minpatients = Rcpp::as<int>(r["minpatients"]);
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
  Rcpp::NumericVector v = Rcpp::NumericVector::create(
      Rcpp::Named("trials") = o.ntrial, Rcpp::Named("patients") = o.patients,
      Rcpp::Named("patients2") = o.patients2,
      Rcpp::Named("toxicities") = o.toxicities,
      Rcpp::Named("toxicities2") = o.toxicities2,
      Rcpp::Named("responses") = o.responses,
      Rcpp::Named("responses2") = o.responses2,
      Rcpp::Named("overtoxic") = o.overtoxic,
      Rcpp::Named("overtoxic2") = o.overtoxic2,
      Rcpp::Named("patientsxovertoxic") = o.patientsovertoxic,
      Rcpp::Named("minpatients") = o.minpatients,
      Rcpp::Named("maxpatients") = o.maxpatients);
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

// True while a run is under way. The engine's process-wide state allows one
// run at a time, and R code can run during one: the event handlers that
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

}  // namespace

// The design's default rules, as the engine holds them.
// [[Rcpp::export]]
Rcpp::List cs_defaultrules() {
  const DesignRules d;
  return Rcpp::List::create(
      Rcpp::Named("escalate") = d.escalate, Rcpp::Named("deescalate") = d.deescalate,
      Rcpp::Named("admissible") = d.admissible, Rcpp::Named("safety") = d.safety,
      Rcpp::Named("futility") = d.futility,
      Rcpp::Named("minpatients") = d.minpatients);
}

// "" or the engine's one-line problem with `rules`.
// [[Rcpp::export]]
std::string cs_checkrules(Rcpp::List rules) {
  return checkrules(rulesfromlist(rules));
}

// Simulates the scenario under `rules`. `counts` holds ncohort1,
// cohortsize1, ncohort2, cohortsize2 and ntrial; `seed` is "" for the
// fixed-seed generators, otherwise the decimal seed S of the seeded streams
// (shard 1, as a plain seeded batch run). Returns list(problem = text) when
// the scenario, rules or seed is refused; otherwise the run's sums and
// averages, [drug-1, drug-2], its outcomes, and `interrupted` / `failure`
// when it did not complete.
// [[Rcpp::export]]
Rcpp::List cs_simulate(Rcpp::NumericMatrix tox, Rcpp::NumericMatrix eff,
                       double target, double mineff, Rcpp::NumericVector prior1,
                       Rcpp::NumericVector prior2, Rcpp::IntegerVector counts,
                       Rcpp::List rules, std::string seed, bool progress) {
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
  if (problem.empty()) problem = checkrules(rulesfromlist(rules));
  if (!problem.empty()) return problemonly(problem);

  Streams streams;
  if (!seed.empty()) {
    const char* end = seed.data() + seed.size();
    const auto [ptr, error] = std::from_chars(seed.data(), end, streams.seed);
    if (error != std::errc() || ptr != end) {
      return problemonly("seed: expected a whole number from 0 to 18446744073709551615");
    }
    streams.seeded = true;
    streams.shard = 1;
  }

  if (running) return problemonly("another simulation is running in this R session");
  const RunningGuard guard;
  RunObserver observer(s.ntrial, progress);
  const SimulationResult result =
      simulate(scenario, rulesfromlist(rules), streams, &observer);
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
      Rcpp::Named("cpuseconds") = result.cpuseconds());
}
