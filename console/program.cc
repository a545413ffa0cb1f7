// console/program.cc: start, run and stop.
#include "console/program.h"

#include <ctime>
#include <iostream>

#include "engine/simulate.h"
#include "formats/dialogue.h"
#include "formats/exitcodes.h"
#include "formats/report.h"

namespace {

// Shows the progress line of each trial before it starts.
class TrialProgress : public Observer {
 public:
  explicit TrialProgress(std::ostream& out) : out_(out) {}
  bool starttrial(std::int64_t trial) override {
    out_ << "Simulating the trial " << trial << "......" << std::endl;
    return true;
  }

 private:
  std::ostream& out_;
};

}  // namespace

int samplerfailure(std::ostream& out, const DrawStatus& status) {
  if (status.code < 0) {
    // An internal guard of the sampler: its own status, no console message.
    std::cerr << "combosim: " << drawfailuretext(status) << std::endl;
  } else {
    out << drawfailuretext(status) << std::endl;
  }
  return drawfailurestatus(status);
}

int simulateandreport(std::istream& in, std::ostream& out,
                      const ScenarioInput& scenario) {
  // Refuse an unwritable report file before any work, so nothing is lost.
  if (!reportwritable()) {
    reportfilefailure(out);
    return kExitFatal;
  }

  TrialProgress progress(out);
  const DesignRules rules;
  const SimulationResult result =
      simulate(Scenario{settings, scenario}, rules, Streams{}, &progress);
  if (!result.failure.ok()) return samplerfailure(out, result.failure);

  ReportData data;
  data.rules = rules;
  data.cpuhours = cpuhoursbetween(0, result.cputicks);
  data.inconclusive = inconclusivepercent(result.acc);
  const std::time_t now = std::time(nullptr);
  data.calendar = std::ctime(&now);
  const int status = writereport(out, scenario, result.acc, data);
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
