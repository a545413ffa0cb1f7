// batch/results.cc: a scenario's result, its parts, and the run of its
// trials through the engine.
#include "batch/results.h"

#include <algorithm>
#include <ctime>

#include "engine/observer.h"
#include "engine/oc.h"
#include "engine/simulate.h"
#include "numerics/mathprobe.h"

double pertrial(std::int64_t sum, int ntrial, double scale) {
  return static_cast<double>(sum) / ntrial * scale;
}


std::string shardlist(const std::vector<int>& shards) {
  std::string text;
  for (std::size_t i = 0; i < shards.size(); ++i) {
    text += (i > 0 ? ", " : "") + std::to_string(shards[i]);
  }
  return text;
}

TrialRange shardtrials(int ntrial, int k, int n) {
  const int size = ntrial / n;
  const int larger = ntrial % n;  // parts 1 to `larger` get one trial more
  TrialRange range;
  range.first = (k - 1) * size + std::min(k - 1, larger);
  range.count = size + (k <= larger ? 1 : 0);
  return range;
}

double exactinconclusive(const BatchResult& r) {
  std::int64_t selected = 0;
  for (int d1 = 0; d1 < r.scenario.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < r.scenario.settings.ndose2; ++d2) {
      selected += r.acc.nselect[d1][d2];
    }
  }
  return pertrial(r.ntrial - selected, r.ntrial, 100);
}

bool complete(const BatchResult& r) {
  if (static_cast<int>(r.shards.size()) != r.nshard) return false;
  for (int k = 1; k <= r.nshard; ++k) {
    if (r.shards[static_cast<std::size_t>(k - 1)] != k) return false;
  }
  return true;
}

std::string outputstem(const BatchResult& r) {
  if (complete(r) || r.shards.size() != 1) return r.name;
  return r.name + ".shard-" + std::to_string(r.shards.front()) + "-of-" +
         std::to_string(r.nshard);
}

std::string describerandom(const BatchResult& r) {
  if (!r.random.seeded) return "combosim's fixed-seed generators";
  std::string text = "std::mt19937_64, seed " + std::to_string(r.random.seed);
  if (r.random.paired) text += ", paired (streams of their own per trial)";
  if (r.nshard == 1) return text;
  if (complete(r)) {
    return text + ", shards 1 to " + std::to_string(r.nshard) + " of " +
           std::to_string(r.nshard);
  }
  if (r.shards.size() == 1) {
    const TrialRange range =
        shardtrials(r.scenario.settings.ntrial, r.shards.front(), r.nshard);
    return text + ", shard " + std::to_string(r.shards.front()) + " of " +
           std::to_string(r.nshard) + " (trials " +
           std::to_string(range.first + 1) + " to " +
           std::to_string(range.first + range.count) + " of " +
           std::to_string(r.scenario.settings.ntrial) + ")";
  }
  return text + ", shards " + shardlist(r.shards) + " of " +
         std::to_string(r.nshard);
}

std::string describemath(const BatchResult& r) {
  const std::string name = r.mathlib;
  if (name == "fma") return name + " (pow, log and exp with fused multiply-add)";
  if (name == "no-fma") {
    return name + " (pow, log and exp without fused multiply-add)";
  }
  return name + " (pow, log and exp of an implementation this program does "
                "not know)";
}

namespace {

// Progress and outcomes of one part's trials, numbered as in the whole run.
class PartObserver : public Observer {
 public:
  PartObserver(std::int64_t before, int total, const ProgressFn& progress,
               const TrialFn& trial)
      : before_(before), total_(total), progress_(progress), trial_(trial) {}
  void endtrial(std::int64_t t, const TrialOutcome& outcome) override {
    if (trial_) trial_(before_ + t, outcome);
    ++done_;
    if (progress_) progress_(done_, total_);
  }
  void setpart(std::int64_t before) { before_ = before; }

 private:
  std::int64_t before_;
  int total_;
  int done_ = 0;
  const ProgressFn& progress_;
  const TrialFn& trial_;
};

}  // namespace

std::string simulate(BatchResult& r, const ProgressFn& progress,
                     const TrialFn& trial) {
  int total = 0;
  for (int k : r.shards) total += shardtrials(r.scenario.settings.ntrial, k, r.nshard).count;

  r.ntrial = 0;
  r.acc = Accumulators{};
  r.outcomes = OutcomeSums{};
  r.mathlib = mathimplementation();
  r.boost = r.posterior.method == PosteriorMethod::kGibbs ? "" : boostversion();
  std::clock_t ticks = 0;
  PartObserver observer(0, total, progress, trial);
  Design design = designof(r.scenario, r.rules);
  setposterior(design, r.posterior);
  for (int k : r.shards) {
    // Each part from the start of its own streams.
    const TrialRange range = shardtrials(r.scenario.settings.ntrial, k, r.nshard);
    Design part = design;
    part.settings.ntrial = range.count;
    Streams streams = r.random;
    streams.shard = static_cast<std::uint64_t>(k);
    streams.firsttrial = range.first + 1;
    observer.setpart(range.first);
    const SimulationResult result = simulate(part, r.scenario.input, streams, &observer);
    if (!result.failure.ok()) {
      return "trial " + std::to_string(range.first + result.failedtrial) + ": " +
             result.message;
    }
    for (int d1 = 0; d1 < kMaxDose; ++d1) {
      for (int d2 = 0; d2 < kMaxDose; ++d2) {
        r.acc.sumpat[d1][d2] += result.acc.sumpat[d1][d2];
        r.acc.sumtox[d1][d2] += result.acc.sumtox[d1][d2];
        r.acc.sumresp[d1][d2] += result.acc.sumresp[d1][d2];
        r.acc.nselect[d1][d2] += result.acc.nselect[d1][d2];
      }
    }
    addoutcomesums(r.outcomes, result.outcomes);
    r.ntrial += static_cast<int>(result.ntrial);
    ticks += result.cputicks;
  }
  r.cpuseconds = static_cast<double>(ticks) / CLOCKS_PER_SEC;
  return "";
}

OperatingCharacteristics resultoc(const BatchResult& r) {
  return operatingcharacteristics(r.scenario.settings, r.scenario.input, r.acc, r.outcomes);
}
