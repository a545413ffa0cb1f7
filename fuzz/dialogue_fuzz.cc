// fuzz/dialogue_fuzz.cc: libFuzzer target for the scenario dialogue.
//
// Arbitrary bytes are the console input. The dialogue must keep every promise
// of fuzz/dialogue_check.h; a hang is caught by libFuzzer's -timeout. When the
// bytes make a scenario small enough to simulate in a few milliseconds (one
// trial, one phase I cohort, at most one phase II cohort, cohorts of at most
// 5), the trial is simulated too and its report must hold no NaN or
// infinity, no count above its patients and no more selections than trials.
// `make fuzz` builds and runs it.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "engine/simulate.h"
#include "engine/trial.h"
#include "formats/report.h"
#include "fuzz/dialogue_check.h"
#include "numerics/arms.h"
#include "numerics/streams.h"

namespace {

void fail(const std::string& what, const std::string& input) {
  std::fprintf(stderr, "dialogue_fuzz: %s\ninput (%zu bytes):\n%s\n",
               what.c_str(), input.size(), input.c_str());
  std::abort();
}

bool tiny(const SimulationSettings& s) {
  return s.ntrial == 1 && s.ncohort1 == 1 && s.ncohort2 <= 1 &&
         s.cohortsize1 <= 5 && s.cohortsize2 <= 5;
}

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(c));
  return text;
}

// Simulates the settings' trials of `scenario` from the program-start state
// of both random streams and checks the sums and the report.
std::string simulate(const Scenario& scenario) {
  uniform01reset();
  samplerrandreset();
  const Design design = designof(scenario, DesignRules{});
  const SimulationSettings& run = design.settings;
  static const auto state = std::make_unique<TrialState>();
  auto acc = std::make_unique<Accumulators>();
  preparetrials(design, scenario.input, *state, *acc);
  for (int t = 1; t <= run.ntrial; ++t) {
    const DrawStatus status = runtrial(*state, design, *makeposterior(design), processstreams(), *acc);
    if (!status.ok()) {
      return "sampler failure " + std::to_string(status.code) + " at " +
             (status.efficacy ? "betaeff[" : "betatox[") +
             std::to_string(status.param) + "]";
    }
  }
  std::int64_t selected = 0;
  for (int d1 = 0; d1 < run.ndose1; ++d1) {
    for (int d2 = 0; d2 < run.ndose2; ++d2) {
      if (acc->sumtox[d1][d2] > acc->sumpat[d1][d2] ||
          acc->sumresp[d1][d2] > acc->sumpat[d1][d2] ||
          acc->sumtox[d1][d2] < 0 || acc->sumresp[d1][d2] < 0) {
        return "counts above patients at (" + std::to_string(d1) + ", " +
               std::to_string(d2) + ")";
      }
      selected += acc->nselect[d1][d2];
    }
  }
  if (selected > run.ntrial) return "more selections than trials";

  ReportData data;
  data.calendar = "<calendar time>\n";
  data.design = design;
  data.inconclusive = inconclusivepercent(*acc, design);
  std::ostringstream report;
  writereportcopy(report, scenario.input, *acc, data, kConsoleTrialLabel);
  const std::string text = lowercase(report.str());
  if (text.find("nan") != std::string::npos ||
      text.find("inf") != std::string::npos) {
    return "nan or inf in the report:\n" + report.str();
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  auto scenario = std::make_unique<Scenario>();
  const dialoguecheck::Outcome o =
      dialoguecheck::rundialogue(input, scenario->settings, scenario->input);
  if (!o.fault.empty()) fail(o.fault, input);
  if (o.status == kExitOk && tiny(scenario->settings)) {
    const std::string fault = simulate(*scenario);
    if (!fault.empty()) fail(fault, input);
  }
  return 0;
}
