// bench/updates_bench.cc: microseconds per call of the two posterior updates,
// on the data of a trial of the benchmark scenario (a 4 by 4 grid), under
// both posterior methods, and milliseconds per whole trial of the benchmark
// scenario under each.
#include <benchmark/benchmark.h>

#include <memory>

#include "design/effmodel.h"
#include "design/posterior.h"
#include "design/toxmodel.h"
#include "engine/trial.h"
#include "records/trialstate.h"
#include "numerics/arms.h"
#include "numerics/streams.h"

namespace {

// A trial part-way through: phase I has walked up the grid, and phase II has
// six admissible combinations with patients on most of them.
Design benchscenario(TrialState& s) {
  Design design;
  design.settings.ndose1 = 4;
  design.settings.ndose2 = 4;
  design.settings.targettox = 0.3;
  design.settings.mineff = 0.2;
  const double prior[4] = {0.05, 0.1, 0.2, 0.3};
  for (int d = 0; d < 4; ++d) {
    s.priortox1[d] = prior[d];
    s.priortox2[d] = prior[d];
  }
  const int npat[4][4] = {{6, 3, 0, 0}, {3, 9, 6, 0}, {0, 6, 12, 3}, {0, 0, 3, 0}};
  const int ntox[4][4] = {{0, 0, 0, 0}, {0, 1, 1, 0}, {0, 1, 3, 1}, {0, 0, 2, 0}};
  const int nresp[4][4] = {{1, 0, 0, 0}, {0, 3, 2, 0}, {0, 2, 6, 1}, {0, 0, 2, 0}};
  for (int d1 = 0; d1 < 4; ++d1) {
    for (int d2 = 0; d2 < 4; ++d2) {
      s.npat[d1][d2] = npat[d1][d2];
      s.ntox[d1][d2] = ntox[d1][d2];
      s.nresp[d1][d2] = nresp[d1][d2];
    }
  }
  const int adm[6][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 2}, {2, 1}};
  s.nadm = 6;
  for (int j = 0; j < 6; ++j) {
    s.adm1[j] = adm[j][0];
    s.adm2[j] = adm[j][1];
    s.admopen[j] = 1;
  }
  return design;
}

// The demo scenario's grid (3 by 3, priors 0.05, 0.1, 0.2) after five phase I
// cohorts of 3 that walked up the diagonal.
Design demoscenario(TrialState& s) {
  Design design;
  design.settings.ndose1 = 3;
  design.settings.ndose2 = 3;
  design.settings.targettox = 0.3;
  design.settings.mineff = 0.2;
  const double prior[3] = {0.05, 0.1, 0.2};
  for (int d = 0; d < 3; ++d) {
    s.priortox1[d] = prior[d];
    s.priortox2[d] = prior[d];
  }
  s.npat[0][0] = 3;
  s.npat[1][0] = 3;
  s.npat[1][1] = 6;
  s.ntox[1][1] = 1;
  s.npat[2][1] = 3;
  s.ntox[2][1] = 1;
  return design;
}

void BM_updatetox_demo(benchmark::State& state) {
  auto s = std::make_unique<TrialState>();
  const Design design = demoscenario(*s);
  uniform01reset();
  samplerrandreset();
  for (auto _ : state) {
    benchmark::DoNotOptimize(updatetox(*s, design, processstreams()));
  }
  state.SetLabel("3x3 grid, 4 treated combinations");
}
BENCHMARK(BM_updatetox_demo)->Unit(benchmark::kMicrosecond);

void BM_updatetox(benchmark::State& state) {
  auto s = std::make_unique<TrialState>();
  const Design design = benchscenario(*s);
  uniform01reset();
  samplerrandreset();
  for (auto _ : state) {
    benchmark::DoNotOptimize(updatetox(*s, design, processstreams()));
  }
  state.SetLabel("4x4 grid, 8 treated combinations");
}
BENCHMARK(BM_updatetox)->Unit(benchmark::kMicrosecond);

void BM_phase2update(benchmark::State& state) {
  auto s = std::make_unique<TrialState>();
  const Design design = benchscenario(*s);
  uniform01reset();
  samplerrandreset();
  int allclosed = 0;
  for (auto _ : state) {
    for (int j = 0; j < s->nadm; ++j) s->admopen[j] = 1;
    benchmark::DoNotOptimize(phase2update(*s, design, processstreams(), &allclosed));
  }
  state.SetLabel("4x4 grid, 6 admissible combinations");
}
BENCHMARK(BM_phase2update)->Unit(benchmark::kMicrosecond);

// The quadrature method's two updates on the same data, its tables formed
// once outside the timing.
std::unique_ptr<const Posterior> quadratureposterior(TrialState& s) {
  Design design = benchscenario(s);
  design.method = PosteriorMethod::kQuadrature;
  design.settings.ncohort1 = 20;
  design.settings.cohortsize1 = 3;
  design.settings.ncohort2 = 10;
  design.settings.cohortsize2 = 3;
  return makeposterior(design);
}

void BM_quadrature_toxicity(benchmark::State& state) {
  auto s = std::make_unique<TrialState>();
  const std::unique_ptr<const Posterior> posterior = quadratureposterior(*s);
  StreamState streams;
  for (auto _ : state) {
    benchmark::DoNotOptimize(posterior->toxicity(*s, streams, true));
  }
  state.SetLabel("4x4 grid, 8 treated combinations");
}
BENCHMARK(BM_quadrature_toxicity)->Unit(benchmark::kMicrosecond);

void BM_quadrature_phase2(benchmark::State& state) {
  auto s = std::make_unique<TrialState>();
  const std::unique_ptr<const Posterior> posterior = quadratureposterior(*s);
  StreamState streams;
  for (auto _ : state) {
    benchmark::DoNotOptimize(posterior->phase2(*s, streams, false));
  }
  state.SetLabel("4x4 grid, 6 admissible combinations, 2000 draws");
}
BENCHMARK(BM_quadrature_phase2)->Unit(benchmark::kMicrosecond);

// The benchmark scenario (examples/bench.txt) as a design and its truth.
Design benchtrials(ScenarioInput& truth) {
  Design design;
  design.settings.ndose1 = 4;
  design.settings.ndose2 = 4;
  design.settings.targettox = 0.3;
  design.settings.mineff = 0.2;
  design.settings.ncohort1 = 20;
  design.settings.cohortsize1 = 3;
  design.settings.ncohort2 = 10;
  design.settings.cohortsize2 = 3;
  const double tox[4][4] = {{0.02, 0.05, 0.1, 0.15}, {0.05, 0.1, 0.15, 0.3},
                            {0.1, 0.15, 0.3, 0.45}, {0.15, 0.3, 0.45, 0.6}};
  const double eff[4][4] = {{0.05, 0.1, 0.15, 0.2}, {0.1, 0.2, 0.3, 0.4},
                            {0.15, 0.3, 0.45, 0.5}, {0.2, 0.4, 0.5, 0.6}};
  const double prior1[4] = {0.05, 0.1, 0.2, 0.3};
  const double prior2[4] = {0.05, 0.1, 0.2, 0.3};
  for (int d1 = 0; d1 < 4; ++d1) {
    design.prior1[d1] = prior1[d1];
    design.prior2[d1] = prior2[d1];
    for (int d2 = 0; d2 < 4; ++d2) {
      truth.scentox[d1][d2] = tox[d1][d2];
      truth.sceneff[d1][d2] = eff[d1][d2];
    }
  }
  return design;
}

// Whole trials one after another from the fixed-seed streams; the
// quadrature method's tables are formed once, outside the timing.
void trials(benchmark::State& state, PosteriorMethod method) {
  ScenarioInput truth;
  Design design = benchtrials(truth);
  design.method = method;
  const std::unique_ptr<const Posterior> posterior = makeposterior(design);
  auto s = std::make_unique<TrialState>();
  Accumulators acc;
  preparetrials(design, truth, *s, acc);
  StreamState streams;
  for (auto _ : state) {
    benchmark::DoNotOptimize(runtrial(*s, design, *posterior, streams, acc));
  }
}
void BM_trial_gibbs(benchmark::State& state) {
  trials(state, PosteriorMethod::kGibbs);
}
void BM_trial_quadrature(benchmark::State& state) {
  trials(state, PosteriorMethod::kQuadrature);
}
BENCHMARK(BM_trial_gibbs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_trial_quadrature)->Unit(benchmark::kMillisecond);

// Forming the quadrature method's tables for the benchmark scenario.
void BM_quadrature_tables(benchmark::State& state) {
  ScenarioInput truth;
  Design design = benchtrials(truth);
  design.method = PosteriorMethod::kQuadrature;
  for (auto _ : state) benchmark::DoNotOptimize(makeposterior(design));
}
BENCHMARK(BM_quadrature_tables)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
