// formats/report.cc: averages and selection percentages over the trials,
// appended to results.txt and shown on the console.
#include "formats/report.h"

#include <fstream>
#include <iomanip>
#include <sstream>


const char kFileTrialLabel[] = "    the number of trials = ";
const char kConsoleTrialLabel[] = " ;   the number of trials = ";

namespace {

using Table = std::int64_t[kMaxDose][kMaxDose];

// Rows from the highest drug-2 level down, cells by drug-1 level.
void writetruetable(std::ostream& os, const SimulationSettings& run,
                    const double m[kMaxDose][kMaxDose]) {
  for (int d2 = run.ndose2 - 1; d2 >= 0; --d2) {
    for (int d1 = 0; d1 < run.ndose1; ++d1) {
      os << std::setw(10) << m[d1][d2];
    }
    os << std::endl;
  }
}

// Per-trial averages (scaled by `scale`), fixed with 2 decimals.
void writecounttable(std::ostream& os, const SimulationSettings& run,
                     const Table& sums, double scale) {
  for (int d2 = run.ndose2 - 1; d2 >= 0; --d2) {
    for (int d1 = 0; d1 < run.ndose1; ++d1) {
      const double value =
          static_cast<double>(sums[d1][d2]) / run.ntrial * scale;
      os << std::fixed << std::setprecision(2) << std::setw(8) << value
         << "  ";
    }
    os << std::endl;
  }
}

}  // namespace

std::string reportpath(const std::string& outdir) {
  return outdir + "results.txt";
}

bool reportwritable(const std::string& outdir) {
  std::ofstream file(reportpath(outdir), std::ios::app);
  return file.good();
}

void reportfilefailure(std::ostream& out) {
  out << " Can not write simulation results to the current directory."
      << std::endl
      << "Please check that you are allowed to write in the current directory"
      << std::endl;
}

double inconclusivepercent(const Accumulators& acc, const Design& design) {
  const SimulationSettings& run = design.settings;
  double total = 0;
  for (int d2 = run.ndose2 - 1; d2 >= 0; --d2) {
    for (int d1 = 0; d1 < run.ndose1; ++d1) {
      total += static_cast<double>(acc.nselect[d1][d2]) / run.ntrial * 100;
    }
  }
  return 100 - total;
}

double cpuhoursbetween(std::clock_t start, std::clock_t end) {
  const double ticksperminute = 60.0 * CLOCKS_PER_SEC;
  return static_cast<double>(end - start) / ticksperminute / 60.0;
}

void writereportcopy(std::ostream& os, const ScenarioInput& scenario,
                     const Accumulators& acc, const ReportData& data,
                     const char* triallabel) {
  const SimulationSettings& run = data.design.settings;
  const DesignRules& rules = data.design.rules;
  os << std::endl << std::endl;
  os << "----------------------------------------------------------------"
     << std::endl;
  os << data.calendar << "CPU time (hour)= " << data.cpuhours << triallabel
     << run.ntrial << std::endl
     << std::endl;
  os << "Phase I cohort size = " << run.cohortsize1
     << " ; the number of cohort = " << run.ncohort1 << std::endl;
  os << "Phase II cohort size = " << run.cohortsize2
     << " ; the number of cohort = " << run.ncohort2 << std::endl
     << std::endl;
  os << "Phase I dose-finding: escalate if pr(toxicity<" << run.targettox
     << ") > " << rules.escalate << std::endl;
  os << "                      de-escalate if pr(toxicity<"
     << run.targettox << ") < " << rules.deescalate << std::endl
     << std::endl;
  os << "A dose is admissible for phase II if " << rules.admissible
     << "<pr(toxicity<" << run.targettox << ") < " << 1 << std::endl
     << std::endl;
  os << "Phase II stopping rules: safety stopping if "
     << "pr(toxicity<" << run.targettox << ") < " << rules.safety << std::endl;
  os << "                         futility stopping if pr(efficacy>"
     << run.mineff << ") < " << rules.futility << std::endl;

  os << std::endl << "True toxicity:" << std::endl;
  writetruetable(os, run, scenario.scentox);
  os << std::endl << "True efficacy:" << std::endl;
  writetruetable(os, run, scenario.sceneff);
  os << std::endl << std::endl
     << "Number of patients treated at each dose: " << std::endl;
  writecounttable(os, run, acc.sumpat, 1);
  os << std::endl << "Number of toxicity observed at each dose: " << std::endl;
  writecounttable(os, run, acc.sumtox, 1);
  os << std::endl << "Number of response observed at each dose: " << std::endl;
  writecounttable(os, run, acc.sumresp, 1);
  os << std::endl << "Selection probabilities (%): " << std::endl;
  writecounttable(os, run, acc.nselect, 100);

  // Rounding can leave 100 minus the percentages a hair below 0.
  const double inconclusive = data.inconclusive < 0 ? 0.0 : data.inconclusive;
  os << std::endl << "Percentage of inconclusive trials: " << std::fixed
     << std::setprecision(2) << inconclusive << "%" << std::endl;
}

std::string reportblock(const ScenarioInput& scenario, const Accumulators& acc,
                        const ReportData& data) {
  std::ostringstream block;
  writereportcopy(block, scenario, acc, data, kFileTrialLabel);
  return block.str();
}

void closingprompt(std::istream& in, std::ostream& console) {
  console << std::endl << "Enter any key to close the window : " << std::flush;
  std::string word;
  in >> word;  // the end of input ends the run just as well
}
