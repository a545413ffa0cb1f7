// driver/program.cc: start, run and stop.
#include "driver/program.h"

#include <cstdint>
#include <ctime>
#include <memory>

#include "driver/dialogue.h"
#include "driver/exitcodes.h"
#include "driver/report.h"
#include "driver/trial.h"

int simulateandreport(std::istream& in, std::ostream& out,
                      const ScenarioInput& scenario) {
  // Refuse an unwritable report file before any work, so nothing is lost.
  if (!reportwritable()) {
    reportfilefailure(out);
    return kExitFatal;
  }

  // One trial record for the whole run; it is too large for the stack.
  auto state = std::make_unique<TrialState>();
  auto acc = std::make_unique<Accumulators>();
  const std::clock_t clockstart = preparetrials(scenario, *state, *acc);

  // The trial number counts in 64 bits: with the dialogue's largest count,
  // INT_MAX, an int would overflow after the last trial instead of ending.
  for (std::int64_t t = 1; t <= settings.ntrial; ++t) {
    out << "Simulating the trial " << t << "......" << std::endl;
    const DrawStatus status = runtrial(*state, *acc);
    if (!status.ok()) return samplerfailure(out, status);
  }

  ReportData data;
  data.cpuhours = cpuhoursbetween(clockstart, std::clock());
  data.inconclusive = inconclusivepercent(*acc);
  const std::time_t now = std::time(nullptr);
  data.calendar = std::ctime(&now);
  const int status = writereport(out, scenario, *acc, data);
  if (status != 0) return status;
  closingprompt(in, out);
  return kExitOk;
}

int runprogram(std::istream& in, std::ostream& out) {
  ScenarioInput scenario;
  const int status = readscenario(in, out, settings, scenario);
  if (status != 0) return status;
  return simulateandreport(in, out, scenario);
}
