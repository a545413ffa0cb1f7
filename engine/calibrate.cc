// engine/calibrate.cc: the race of candidate designs on paired trials.
#include "engine/calibrate.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <mutex>
#include <thread>

#include <boost/math/distributions/normal.hpp>

#include "engine/compare.h"
#include "engine/simulate.h"
#include "numerics/doublepolicy.h"

namespace {

// Trials per task at most: the unit of work and of progress. Each task
// builds its design's posterior anew (under quadrature, tens of
// milliseconds), so a task takes every new trial of a stage up to this.
constexpr int kBlock = 500;

// Phi^-1(p).
double normalquantile(double p) {
  return boost::math::quantile(
      boost::math::normal_distribution<double, DoublePolicy>(), p);
}

// The processor time of the calling thread, in seconds: the process's
// clock would count every thread's.
double threadseconds() {
#ifdef CLOCK_THREAD_CPUTIME_ID
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// Trials `first` to `first + count - 1` of one design in one scenario.
struct Task {
  const Design* design = nullptr;
  int scenario = 0;
  int first = 1;
  int count = 0;
};

struct TaskResult {
  Accumulators acc;
  OutcomeSums sums;
  std::vector<double> values;  // the objective's figure, trial by trial
  double cpuseconds = 0;
  std::string failure;
};

// Keeps each trial's value of the objective's figure.
class Values : public Observer {
 public:
  Values(const TruthClasses& classes, int count, double scale,
         std::vector<double>& values)
      : classes_(classes), count_(count), scale_(scale), values_(values) {}
  void endtrial(std::int64_t, const TrialOutcome& outcome) override {
    TrialCounts counts;
    trialcounts(classes_, outcome, counts);
    values_.push_back(scale_ * static_cast<double>(counts[count_]));
  }

 private:
  const TruthClasses& classes_;
  int count_;
  double scale_;
  std::vector<double>& values_;
};

// Runs the tasks on plan.threads threads, the calling one among them, which
// alone speaks to the observer. Returns false when cancelled or failed.
class Runner {
 public:
  Runner(const CalibrationPlan& plan, CalibrationObserver* observer)
      : plan_(plan), observer_(observer) {
    for (const CalibrationScenario& s : plan.scenarios) {
      classes_.push_back(classifytruth(s.settings, s.truth));
    }
    pertrialfigure(plan.objective, &count_, &scale_);
  }

  bool run(const std::vector<Task>& tasks, std::vector<TaskResult>& results,
           std::int64_t planned, std::string& failure) {
    results.assign(tasks.size(), TaskResult{});
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> trials{0};
    const auto work = [&]() {
      for (;;) {
        if (stop) return;
        const std::size_t i = next++;
        if (i >= tasks.size()) return;
        runone(tasks[i], results[i]);
        if (!results[i].failure.empty()) stop = true;
        trials += tasks[i].count;
      }
    };
    std::vector<std::thread> helpers;
    for (int h = 1; h < plan_.threads; ++h) helpers.emplace_back(work);
    // The calling thread works too, one task at a time, and reports.
    bool cancelled = false;
    for (;;) {
      if (stop) break;
      const std::size_t i = next++;
      if (i >= tasks.size()) break;
      runone(tasks[i], results[i]);
      if (!results[i].failure.empty()) stop = true;
      trials += tasks[i].count;
      if (observer_ != nullptr &&
          !observer_->progress(done_ + trials, planned)) {
        cancelled = true;
        stop = true;
      }
    }
    for (std::thread& t : helpers) t.join();
    done_ += trials;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      if (!results[i].failure.empty()) {
        failure = results[i].failure;
        return false;
      }
    }
    return !cancelled;
  }

  std::int64_t done() const { return done_; }

 private:
  void runone(const Task& task, TaskResult& result) const {
    Design design = *task.design;
    design.settings.ntrial = task.count;
    Streams streams;
    streams.seeded = true;
    streams.seed = plan_.seed;
    streams.paired = true;
    streams.firsttrial = task.first;
    result.values.reserve(static_cast<std::size_t>(task.count));
    Values values(classes_[static_cast<std::size_t>(task.scenario)], count_,
                  scale_, result.values);
    const double start = threadseconds();
    const SimulationResult sim =
        simulate(design, plan_.scenarios[task.scenario].truth, streams, &values);
    if (!sim.failure.ok()) {
      result.failure = plan_.scenarios[task.scenario].name + ", trial " +
                       std::to_string(task.first + sim.failedtrial - 1) + ": " +
                       sim.message;
      return;
    }
    result.acc = sim.acc;
    result.sums = sim.outcomes;
    result.cpuseconds = threadseconds() - start;
  }

  const CalibrationPlan& plan_;
  CalibrationObserver* observer_;
  std::vector<TruthClasses> classes_;
  int count_ = 0;
  double scale_ = 1;
  std::int64_t done_ = 0;
};

// Tasks for trials first..last of `design` in every scenario.
void addtasks(std::vector<Task>& tasks, const std::vector<Design>& designs,
              int first, int last) {
  for (std::size_t s = 0; s < designs.size(); ++s) {
    for (int t = first; t <= last; t += kBlock) {
      tasks.push_back({&designs[s], static_cast<int>(s), t,
                       std::min(kBlock, last - t + 1)});
    }
  }
}

void addacc(Accumulators& to, const Accumulators& from) {
  for (int d1 = 0; d1 < kMaxDose; ++d1) {
    for (int d2 = 0; d2 < kMaxDose; ++d2) {
      to.sumpat[d1][d2] += from.sumpat[d1][d2];
      to.sumtox[d1][d2] += from.sumtox[d1][d2];
      to.sumresp[d1][d2] += from.sumresp[d1][d2];
      to.nselect[d1][d2] += from.nselect[d1][d2];
    }
  }
}

// Mean of x and its SE, SD (n - 1) / sqrt(n); NaN SE with one value.
Estimate meanof(const std::vector<double>& x) {
  const double n = static_cast<double>(x.size());
  double sum = 0;
  for (double v : x) sum += v;
  const double m = sum / n;
  double squares = 0;
  for (double v : x) squares += (v - m) * (v - m);
  return {m, x.size() < 2 ? std::nan("") : std::sqrt(squares / (n - 1) / n)};
}

// Mean of a - b trial by trial, with its paired SE.
Estimate differenceof(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> d(a.size());
  for (std::size_t t = 0; t < a.size(); ++t) d[t] = a[t] - b[t];
  return meanof(d);
}

// The value and SE of `figure` in `oc`.
Estimate figureof(const OperatingCharacteristics& oc, const std::string& figure) {
  Estimate e{std::nan(""), std::nan("")};
  for (const OcFigure& f : ocfigures(oc)) {
    if (f.name == figure) e.value = f.value;
    if (f.name == figure + "_mcse") e.mcse = f.value;
  }
  return e;
}

std::string number(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", x);
  return text;
}

}  // namespace

bool CalibrationObserver::progress(std::int64_t, std::int64_t) { return true; }

bool pertrialfigure(const std::string& figure, int* count, double* scale) {
  static const struct {
    const char* name;
    int count;
    double scale;
  } figures[] = {
      {"correct", kCountCorrect, 100},
      {"acceptable", kCountAcceptable, 100},
      {"overtoxic", kCountOvertoxic, 100},
      {"inconclusive", kCountInconclusive, 100},
      {"phase1_stopped", kCountPhase1Stopped, 100},
      {"none_admissible", kCountNoneAdmissible, 100},
      {"all_closed", kCountAllClosed, 100},
      {"no_positive_mean", kCountNoPositiveMean, 100},
      {"patients_mean", kCountPatients, 1},
      {"toxicities_mean", kCountToxicities, 1},
      {"responses_mean", kCountResponses, 1},
  };
  for (const auto& f : figures) {
    if (figure == f.name) {
      *count = f.count;
      *scale = f.scale;
      return true;
    }
  }
  return false;
}

std::string checkcalibration(const CalibrationPlan& plan) {
  const std::size_t nscenario = plan.scenarios.size();
  if (nscenario == 0) return "scenarios: none given";
  if (plan.candidates.empty()) return "search: no candidate to try";
  for (const Candidate& c : plan.candidates) {
    if (c.designs.size() != nscenario) {
      return "candidate " + c.label + ": not one design per scenario";
    }
  }
  int count = 0;
  double scale = 0;
  if (!pertrialfigure(plan.objective, &count, &scale)) {
    return "objective: figure \"" + plan.objective +
           "\" is not a figure of single trials (correct, acceptable, "
           "overtoxic, inconclusive, phase1_stopped, none_admissible, "
           "all_closed, no_positive_mean, patients_mean, toxicities_mean, "
           "responses_mean)";
  }
  double total = 0;
  for (const CalibrationScenario& s : plan.scenarios) {
    if (!(s.weight >= 0) || !std::isfinite(s.weight)) {
      return "objective: weights: the weight of " + s.name +
             " must be a number from 0 up";
    }
    total += s.weight;
  }
  if (!(total > 0)) return "objective: weights: at least one must be above 0";
  const OperatingCharacteristics none;
  for (const Constraint& c : plan.constraints) {
    bool known = false;
    for (const OcFigure& f : ocfigures(none)) {
      known = known || (f.name == c.figure && !f.integer &&
                        c.figure.find("_mcse") == std::string::npos &&
                        c.figure != "patients_sd");
    }
    if (!known) return "constraints: unknown figure \"" + c.figure + "\"";
    if (!std::isfinite(c.limit)) return "constraints: " + c.figure + ": bad limit";
    for (int s : c.scenarios) {
      if (s < 0 || s >= static_cast<int>(nscenario)) {
        return "constraints: " + c.figure + ": unknown scenario";
      }
    }
  }
  if (plan.stages.empty() || plan.stages.front() < 2) {
    return "budget: trials: the first stage needs 2 trials at least";
  }
  for (std::size_t i = 1; i < plan.stages.size(); ++i) {
    if (plan.stages[i] <= plan.stages[i - 1]) {
      return "budget: trials: each stage must have more trials than the last";
    }
  }
  if (!(plan.margin >= 0) || !std::isfinite(plan.margin)) {
    return "budget: margin: must be a number from 0 up";
  }
  if (!(plan.alpha > 0 && plan.alpha < 1)) return "alpha: must lie in (0, 1)";
  if (plan.confirmtrials < 0) return "confirm: trials must be 0 or more";
  if (plan.threads < 1) return "threads: at least 1";
  return "";
}

CalibrationResult calibrate(const CalibrationPlan& plan,
                            CalibrationObserver* observer) {
  const int K = static_cast<int>(plan.candidates.size());
  const int S = static_cast<int>(plan.scenarios.size());
  double wsum = 0;
  for (const CalibrationScenario& s : plan.scenarios) wsum += s.weight;

  CalibrationResult result;
  Runner runner(plan, observer);
  std::vector<std::vector<double>> objective(static_cast<std::size_t>(K));
  std::vector<Accumulators> acc(static_cast<std::size_t>(K * S));
  std::vector<OutcomeSums> sums(static_cast<std::size_t>(K * S));
  std::vector<int> alive(static_cast<std::size_t>(K));
  for (int k = 0; k < K; ++k) alive[static_cast<std::size_t>(k)] = k;
  const double confirmz = normalquantile(0.975);

  int trials = 0;
  for (int stage = 0; stage < static_cast<int>(plan.stages.size()); ++stage) {
    const int target = plan.stages[static_cast<std::size_t>(stage)];
    std::vector<Task> tasks;
    for (int k : alive) {
      addtasks(tasks, plan.candidates[static_cast<std::size_t>(k)].designs,
               trials + 1, target);
    }
    const std::int64_t planned =
        runner.done() +
        static_cast<std::int64_t>(alive.size()) * S * (plan.stages.back() - trials);
    std::vector<TaskResult> results;
    if (!runner.run(tasks, results, planned, result.failure)) {
      result.cancelled = result.failure.empty();
      return result;
    }
    result.spent += static_cast<std::int64_t>(alive.size()) * S * (target - trials);

    // Each candidate's new trials: per scenario in order, then the
    // objective's weighted mean trial by trial.
    std::size_t i = 0;
    for (int k : alive) {
      std::vector<double> added(static_cast<std::size_t>(target - trials), 0.0);
      for (int s = 0; s < S; ++s) {
        const double w = plan.scenarios[static_cast<std::size_t>(s)].weight / wsum;
        for (int t = trials + 1; t <= target; t += kBlock, ++i) {
          const TaskResult& r = results[i];
          result.raceseconds += r.cpuseconds;
          addacc(acc[static_cast<std::size_t>(k * S + s)], r.acc);
          addoutcomesums(sums[static_cast<std::size_t>(k * S + s)], r.sums);
          for (std::size_t j = 0; j < r.values.size(); ++j) {
            added[static_cast<std::size_t>(t - trials - 1) + j] += w * r.values[j];
          }
        }
      }
      auto& o = objective[static_cast<std::size_t>(k)];
      o.insert(o.end(), added.begin(), added.end());
    }
    trials = target;

    // The stage's figures and the constraints.
    const double z = alive.size() > 1
                         ? normalquantile(1 - plan.alpha / (static_cast<double>(alive.size()) - 1))
                         : 0;
    std::vector<CandidateStage> rows;
    for (int k : alive) {
      CandidateStage row;
      row.candidate = k;
      row.stage = stage;
      row.trials = trials;
      for (int s = 0; s < S; ++s) {
        row.oc.push_back(operatingcharacteristics(
            plan.scenarios[static_cast<std::size_t>(s)].settings,
            plan.scenarios[static_cast<std::size_t>(s)].truth,
            acc[static_cast<std::size_t>(k * S + s)],
            sums[static_cast<std::size_t>(k * S + s)]));
      }
      row.objective = meanof(objective[static_cast<std::size_t>(k)]);
      row.constraintsmet = true;
      for (const Constraint& c : plan.constraints) {
        for (int s = 0; s < S; ++s) {
          if (!c.scenarios.empty() &&
              std::find(c.scenarios.begin(), c.scenarios.end(), s) == c.scenarios.end()) {
            continue;
          }
          const Estimate e = figureof(row.oc[static_cast<std::size_t>(s)], c.figure);
          if (std::isnan(e.value)) continue;
          const double se = std::isnan(e.mcse) ? 0 : e.mcse;
          const bool met = c.upper ? e.value <= c.limit : e.value >= c.limit;
          row.constraintsmet = row.constraintsmet && met;
          const bool broken = c.upper ? e.value - z * se > c.limit
                                      : e.value + z * se < c.limit;
          if (broken && row.dropped.empty()) {
            row.dropped = c.figure + " " + number(e.value) + " (SE " +
                          number(se) + ") in " +
                          plan.scenarios[static_cast<std::size_t>(s)].name +
                          (c.upper ? " is above " : " is below ") +
                          number(c.limit) + " beyond noise";
          }
        }
      }
      rows.push_back(row);
    }
    // The best of those that keep every constraint, then the objective.
    int best = -1;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].dropped.empty() &&
          (best < 0 || rows[r].objective.value > rows[static_cast<std::size_t>(best)].objective.value)) {
        best = static_cast<int>(r);
      }
    }
    if (best >= 0) {
      CandidateStage& b = rows[static_cast<std::size_t>(best)];
      b.best = true;
      const auto& ob = objective[static_cast<std::size_t>(b.candidate)];
      for (CandidateStage& row : rows) {
        row.behind = differenceof(ob, objective[static_cast<std::size_t>(row.candidate)]);
        if (row.dropped.empty() && !row.best && row.behind.value > z * row.behind.mcse) {
          row.dropped = plan.objective + " behind the best by " +
                        number(row.behind.value) + " (SE " +
                        number(row.behind.mcse) + ") beyond noise";
        }
      }
    }
    std::vector<int> next;
    for (const CandidateStage& row : rows) {
      if (row.dropped.empty()) next.push_back(row.candidate);
      result.history.push_back(row);
    }
    alive = next;
    result.laststage = stage;
    if (alive.empty()) {
      result.stopped = "every candidate breaks a constraint";
      break;
    }
    if (alive.size() == 1) {
      result.stopped = "one candidate remains";
      break;
    }
    bool close = true;
    for (std::size_t a = 0; a < alive.size() && close; ++a) {
      for (std::size_t b = a + 1; b < alive.size() && close; ++b) {
        const Estimate d = differenceof(objective[static_cast<std::size_t>(alive[a])],
                                        objective[static_cast<std::size_t>(alive[b])]);
        close = std::fabs(d.value) + confirmz * d.mcse < plan.margin;
      }
    }
    if (close) {
      result.stopped = "every remaining pair differs by less than the margin";
      break;
    }
    if (stage + 1 == static_cast<int>(plan.stages.size())) {
      result.stopped = "the budget is spent";
    }
  }
  result.racetrials = trials;
  result.everywhere = static_cast<std::int64_t>(K) * S * plan.stages.back();

  // The survivors, best first, and the choice.
  std::vector<const CandidateStage*> last;
  for (const CandidateStage& row : result.history) {
    if (row.stage == result.laststage && row.dropped.empty()) last.push_back(&row);
  }
  std::stable_sort(last.begin(), last.end(),
                   [](const CandidateStage* a, const CandidateStage* b) {
                     return a->objective.value > b->objective.value;
                   });
  for (const CandidateStage* row : last) {
    result.survivors.push_back(row->candidate);
    if (result.chosen < 0 && row->constraintsmet) result.chosen = row->candidate;
  }
  if (result.chosen < 0 || plan.confirmtrials == 0) return result;

  // The confirmation, on trials the race never ran.
  result.confirmfirst = trials + 1;
  const std::vector<Design>& chosen =
      plan.candidates[static_cast<std::size_t>(result.chosen)].designs;
  std::vector<Design> gibbs = chosen;
  for (Design& d : gibbs) d.method = PosteriorMethod::kGibbs;
  bool allgibbs = true;
  for (const Design& d : chosen) allgibbs = allgibbs && d.method == PosteriorMethod::kGibbs;
  // A gibbs design's confirmation is already under gibbs.
  const bool gibbspass = plan.confirmgibbs && !allgibbs;
  for (int pass = 0; pass < (gibbspass ? 2 : 1); ++pass) {
    const std::vector<Design>& designs = pass == 0 ? chosen : gibbs;
    std::vector<Task> tasks;
    addtasks(tasks, designs, trials + 1, trials + plan.confirmtrials);
    std::vector<TaskResult> results;
    const std::int64_t planned =
        runner.done() + static_cast<std::int64_t>(S) * plan.confirmtrials *
                            (gibbspass && pass == 0 ? 2 : 1);
    if (!runner.run(tasks, results, planned, result.failure)) {
      result.cancelled = result.failure.empty();
      return result;
    }
    std::vector<OperatingCharacteristics>& out =
        pass == 0 ? result.confirmation : result.gibbsconfirmation;
    std::size_t i = 0;
    for (int s = 0; s < S; ++s) {
      Accumulators a{};
      OutcomeSums o;
      double seconds = 0;
      for (int t = trials + 1; t <= trials + plan.confirmtrials; t += kBlock, ++i) {
        addacc(a, results[i].acc);
        addoutcomesums(o, results[i].sums);
        seconds += results[i].cpuseconds;
      }
      (pass == 0 ? result.confirmationseconds : result.gibbsseconds).push_back(seconds);
      out.push_back(operatingcharacteristics(
          plan.scenarios[static_cast<std::size_t>(s)].settings,
          plan.scenarios[static_cast<std::size_t>(s)].truth, a, o));
      (pass == 0 ? result.confirmationacc : result.gibbsacc).push_back(a);
      (pass == 0 ? result.confirmationoutcomes : result.gibbsoutcomes).push_back(o);
    }
  }
  return result;
}
