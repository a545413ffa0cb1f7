// console/program.cc: start, run and stop.
#include "console/program.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <iostream>

#include "console/appendwhole.h"
#include "engine/observer.h"
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
                      const Scenario& scenario) {
  const std::string& outdir = scenario.settings.outdir;
  // Refuse an unwritable report file before any work, so nothing is lost.
  if (!reportwritable(outdir)) {
    reportfilefailure(out);
    return kExitFatal;
  }

  TrialProgress progress(out);
  const Design design = designof(scenario, DesignRules{});
  const SimulationResult result =
      simulate(design, scenario.input, Streams{}, &progress);
  if (!result.failure.ok()) return samplerfailure(out, result.failure);

  ReportData data;
  data.design = design;
  data.cpuhours = cpuhoursbetween(0, result.cputicks);
  data.inconclusive = inconclusivepercent(result.acc, design);
  const std::time_t now = std::time(nullptr);
  data.calendar = std::ctime(&now);
  // The file copy first, whole or not at all; then the console copy, which
  // is shown either way, so the results are never lost.
  const std::string problem =
      appendwhole(reportpath(outdir),
                  reportblock(scenario.input, result.acc, data));
  writereportcopy(out, scenario.input, result.acc, data, kConsoleTrialLabel);
  if (!problem.empty()) {
    reportfilefailure(out);
    std::cerr << "combosim: " << reportpath(outdir) << ": " << problem
              << "; the file is left as it was" << std::endl;
    return kExitFatal;
  }
  closingprompt(in, out);
  return kExitOk;
}

void setupprocess() {
  // A closed standard stream gets /dev/null, opened for reading only, in its
  // place: no file the program opens can take its descriptor (the console
  // copy would go into results.txt), and writes to it fail visibly.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int null = open("/dev/null", O_RDONLY);
      if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
      }
    }
  }
  // A reader that went away (`combosim < answers | head`) or a file-size
  // limit fails a write instead of ending the process, so results.txt is
  // still written and the failure reported.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

int runprogram(std::istream& in, std::ostream& out, bool terminal) {
  Scenario scenario;  // its outdir is "./"
  int status =
      readscenario(in, out, scenario.settings, scenario.input, terminal);
  if (status == kExitOk) status = simulateandreport(in, out, scenario);
  // The console copy is a result too: losing it fails the run.
  if (!out.flush()) {
    std::cerr << "combosim: the standard output could not be written"
              << (status == kExitOk
                      ? "; the report is in " + reportpath(scenario.settings.outdir)
                      : "")
              << std::endl;
    if (status == kExitOk) status = kExitFatal;
  }
  return status;
}
