// batch/resulttext.cc: a result as text and CSV: NAME.txt, the trials
// file, summary.csv and oc.csv, and what the HTML report shows.
#include "batch/resulttext.h"

#include <cmath>
#include <ctime>
#include <sstream>

#include "engine/oc.h"
#include "formats/csvtext.h"
#include "formats/report.h"

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

void writetrialsheader(std::ostream& os) {
  os << "trial,selected,reason,patients,toxicities,responses,overtoxic\n";
}

void writetrialrow(std::ostream& os, std::int64_t trial,
                   const TrialOutcome& outcome) {
  os << trial << ',';
  if (outcome.sel1 >= 0) {
    os << csvfield(std::to_string(outcome.sel1 + 1) + ',' +
                   std::to_string(outcome.sel2 + 1));
  }
  os << ',' << csvfield(trialendname(outcome.reason)) << ',' << outcome.patients << ','
     << outcome.toxicities << ',' << outcome.responses << ','
     << outcome.overtoxic << '\n';
}

void writereporttext(std::ostream& os, const BatchResult& r) {
  ReportData data;
  const std::time_t now = std::time(nullptr);
  data.calendar = std::ctime(&now);
  data.cpuhours = r.cpuseconds / 60.0 / 60.0;
  data.design = designof(r.scenario, r.rules);
  setposterior(data.design, r.posterior);
  data.design.settings.ntrial = r.ntrial;  // the trials run
  data.inconclusive = inconclusivepercent(r.acc, data.design);
  writereportcopy(os, r.scenario.input, r.acc, data, kFileTrialLabel);
  os << std::endl;
  if (!defaultoptions(r.rules)) {
    os << "Design options: " << optionstext(r.rules) << std::endl;
  }
  if (r.posterior.method != PosteriorMethod::kGibbs) {
    os << "Posterior: " << posteriorwords(r.posterior.method, r.posterior.quadrature) << std::endl;
    os << "Boost: " << r.boost << std::endl;
    os << "Coarse updates: " << r.outcomes.coarseupdates
       << " (cohorts after which the posterior was too narrow for the nodes)"
       << std::endl;
  }
  os << "Random numbers: " << describerandom(r) << std::endl;
  os << "Math functions: " << describemath(r) << std::endl;
}

bool isbatchoutput(const std::string& name, const std::string& text) {
  const auto endswith = [&name](const std::string& tail) {
    return name.size() >= tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endswith(".trials.csv")) {
    std::ostringstream header;
    writetrialsheader(header);
    return text.compare(0, header.str().size(), header.str()) == 0;
  }
  if (endswith(".json")) {
    const Json j = Json::parse(text, nullptr, false);
    return j.is_object() && j.value("program", Json()) == kBatchProgram &&
           j.contains("sums");
  }
  // The closing lines of writereporttext().
  const std::size_t random = text.rfind("\nRandom numbers: ");
  const std::size_t math = text.rfind("\nMath functions: ");
  return random != std::string::npos && math != std::string::npos &&
         random < math && text.find('\n', math + 1) == text.size() - 1;
}

namespace {

// The options column's field: the options not at their defaults.
std::string optionsfield(const BatchResult& r) {
  return ',' + csvfield(optionstext(r.rules));
}

// The posterior columns: the method and, under quadrature, the nodes, the
// draws per randomisation and the version of Boost.
constexpr char kPosteriorColumns[] = ",posterior,toxnodes,effnodes,draws,boost";
std::string posteriorfields(const BatchResult& r) {
  std::string fields = ',' + posteriorname(r.posterior.method);
  if (r.posterior.method == PosteriorMethod::kGibbs) return fields + ",,,,";
  const QuadratureSettings& q = r.posterior.quadrature;
  return fields + ',' + std::to_string(q.toxnodes[0]) + 'x' +
         std::to_string(q.toxnodes[1]) + 'x' + std::to_string(q.toxnodes[2]) +
         ',' + std::to_string(q.effnodes[0]) + 'x' + std::to_string(q.effnodes[1]) +
         ',' + std::to_string(q.ndraws) + ',' + csvfield(r.boost);
}

// The figures of ocfigures() added after oc.csv's columns were laid out
// (untried_patients and its standard error): they follow the rules, so that
// every earlier column keeps its place.
constexpr std::size_t kLaterFigures = 2;

// The figures of `figures` from `begin` to `end` as oc.csv's fields, each
// after a comma: empty where a figure is not a number.
void writefigures(std::ostream& os, const std::vector<OcFigure>& figures,
                  std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    const OcFigure& f = figures[i];
    os << ',';
    if (f.integer) {
      os << static_cast<std::int64_t>(f.value);
    } else if (!std::isnan(f.value)) {
      os << numbertext(f.value);
    }
  }
}

}  // namespace

bool anyoptions(const std::vector<BatchResult>& results) {
  for (const BatchResult& r : results) {
    if (!defaultoptions(r.rules)) return true;
  }
  return false;
}

bool anyposterior(const std::vector<BatchResult>& results) {
  for (const BatchResult& r : results) {
    if (r.posterior.method != PosteriorMethod::kGibbs) return true;
  }
  return false;
}

void writesummaryheader(std::ostream& os, bool options, bool posterior) {
  os << "scenario,drug1,drug2,truetox,trueresp,meanpatients,meantoxicities,"
        "meanresponses,selectionpercent,inconclusivepercent,trials,generator,"
        "seed,shard,nshard,targettox,mineff,escalate,deescalate,admissible,"
        "safety,futility,minpatients"
     << (options ? ",options" : "") << (posterior ? kPosteriorColumns : "") << '\n';
}

void writesummaryrows(std::ostream& os, const BatchResult& r, bool options,
                      bool posterior) {
  const double inconclusive = exactinconclusive(r);
  const std::string generator = r.random.seeded ? kMersenneGenerator : kFixedGenerator;
  const std::string seed = r.random.seeded ? std::to_string(r.random.seed) : "";
  const std::string shard =
      complete(r) ? "" : std::to_string(r.shards.front());
  for (int d1 = 0; d1 < r.scenario.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < r.scenario.settings.ndose2; ++d2) {
      os << csvfield(r.name) << ',' << d1 + 1 << ',' << d2 + 1 << ','
         << numbertext(r.scenario.input.scentox[d1][d2]) << ','
         << numbertext(r.scenario.input.sceneff[d1][d2]) << ','
         << numbertext(pertrial(r.acc.sumpat[d1][d2], r.ntrial, 1)) << ','
         << numbertext(pertrial(r.acc.sumtox[d1][d2], r.ntrial, 1)) << ','
         << numbertext(pertrial(r.acc.sumresp[d1][d2], r.ntrial, 1)) << ','
         << numbertext(pertrial(r.acc.nselect[d1][d2], r.ntrial, 100)) << ','
         << numbertext(inconclusive) << ',' << r.ntrial << ',' << csvfield(generator)
         << ',' << seed << ',' << shard << ',' << r.nshard << ','
         << numbertext(r.scenario.settings.targettox) << ','
         << numbertext(r.scenario.settings.mineff) << ','
         << numbertext(r.rules.escalate) << ','
         << numbertext(r.rules.deescalate) << ','
         << numbertext(r.rules.admissible) << ','
         << numbertext(r.rules.safety) << ','
         << numbertext(r.rules.futility) << ',' << r.rules.minpatients_close
         << (options ? optionsfield(r) : "")
         << (posterior ? posteriorfields(r) : "") << '\n';
    }
  }
}

void writeocheader(std::ostream& os, bool options, bool posterior) {
  const std::vector<OcFigure> figures = ocfigures(OperatingCharacteristics{});
  const std::size_t later = figures.size() - kLaterFigures;
  os << "scenario";
  for (std::size_t i = 0; i < later; ++i) os << ',' << figures[i].name;
  os << ",trials,generator,seed,nshard,mathlib,targettox,mineff,escalate,"
        "deescalate,admissible,safety,futility,minpatients";
  for (std::size_t i = later; i < figures.size(); ++i) os << ',' << figures[i].name;
  os << (options ? ",options" : "") << (posterior ? kPosteriorColumns : "") << '\n';
}

void writeocrow(std::ostream& os, const BatchResult& r, bool options,
                bool posterior) {
  const std::vector<OcFigure> figures = ocfigures(resultoc(r));
  const std::size_t later = figures.size() - kLaterFigures;
  os << csvfield(r.name);
  writefigures(os, figures, 0, later);
  os << ',' << r.ntrial << ',' << csvfield(r.random.seeded ? kMersenneGenerator : kFixedGenerator) << ','
     << (r.random.seeded ? std::to_string(r.random.seed) : "") << ','
     << r.nshard << ',' << csvfield(r.mathlib) << ','
     << numbertext(r.scenario.settings.targettox) << ',' << numbertext(r.scenario.settings.mineff) << ',' << numbertext(r.rules.escalate)
     << ',' << numbertext(r.rules.deescalate) << ','
     << numbertext(r.rules.admissible) << ',' << numbertext(r.rules.safety)
     << ',' << numbertext(r.rules.futility) << ',' << r.rules.minpatients_close;
  writefigures(os, figures, later, figures.size());
  os << (options ? optionsfield(r) : "") << (posterior ? posteriorfields(r) : "")
     << '\n';
}

HtmlScenario htmlscenario(const BatchResult& r) {
  HtmlScenario h;
  h.name = r.name;
  h.settings = r.scenario.settings;
  h.settings.ntrial = r.ntrial;
  h.input = r.scenario.input;
  h.rules = r.rules;
  h.posterior = r.posterior.method == PosteriorMethod::kGibbs
                    ? ""
                    : posteriorwords(r.posterior.method, r.posterior.quadrature);
  h.acc = r.acc;
  h.outcomes = r.outcomes;
  h.random = describerandom(r);
  h.version = COMBOSIM_VERSION;
  return h;
}
