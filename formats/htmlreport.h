// formats/htmlreport.h: the visual report of a run, one self-contained HTML
// page (inline SVG and CSS, no script, nothing fetched from elsewhere) that
// opens from disk.
//
// Scenarios under the same design (grid, priors, cohorts, targettox, mineff,
// rules and options, posterior method) form a group; groups come in the
// order of their first scenario, and within a group the scenarios keep the
// order given. First the operating characteristics of every scenario side by
// side in the order given, with their standard errors, at most
// kMetricsPerTable scenarios to a table, and a row of each one's design when
// there are several. Then per group a heading listing the shared design and
// its scenarios, and per scenario its priors, posterior method and random
// numbers and three heat maps laid out like the console report's grids
// (highest drug-2 level on top, drug-1 levels left to right): selection %,
// mean patients per trial and observed toxicity rate per combination, each
// cell with its value and the truth (toxicity / response), target,
// acceptable and overly toxic cells marked as a legend explains, on a
// single-hue scale that reads in greyscale. Last, in the order given, each
// scenario's rules, trials, generators and program version, and an Options
// column (optionstext()) when some scenario's options are not at their
// defaults, and a Posterior column when some scenario's method is not gibbs.
//
// Printed (@media print), each group and each scenario starts a page, no
// table row or map is cut across pages, table headers repeat on each page,
// and nothing runs past the right edge of the paper: the page's side
// margins are the body's, so whatever ran past them would show as ink in
// the paper's margin.
//
// Marked up for readers and for checks alike: each heat-map cell is
//   <g class="cell" data-map="selection|patients|toxrate" data-d1="1"
//      data-d2="3"> <title>exact value...</title> <rect fill="#rrggbb">
//      <text class="value">12.3</text> <text class="truth">0.1 / 0.3</text>
// and each metric of the side-by-side table a <td data-key="correct">.
#ifndef COMBOSIM_FORMATS_HTMLREPORT_H_
#define COMBOSIM_FORMATS_HTMLREPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "design/rules.h"
#include "engine/outcome.h"
#include "records/trialstate.h"

// What the page shows of one scenario.
struct HtmlScenario {
  std::string name;
  SimulationSettings settings;  // the grid, targettox, mineff and cohorts
  ScenarioInput input;          // the truth
  DesignRules rules;
  std::string posterior;  // the posterior method in words unless gibbs, or ""
  Accumulators acc;             // sums per combination over the trials
  OutcomeSums outcomes;         // the trials' outcomes; ntrial >= 1
  std::string random;           // the generators and seed, in words
  std::string version;          // the program version that ran it
};

// Scenarios side by side in one table of the metrics, at most.
constexpr int kMetricsPerTable = 6;

// Choices of the page that are not the run's.
struct HtmlOptions {
  bool sharedscales = false;  // one colour scale per map across scenarios
                              // (the largest top of all), not per scenario
};

// The page for `scenarios`, grouped by design as above. An empty list gives
// a page that says no scenario was written.
std::string htmlreport(const std::vector<HtmlScenario>& scenarios,
                       const HtmlOptions& options = {});

// `text` for an HTML page: &, <, > and " as entities.
std::string htmlescape(const std::string& text);

#endif  // COMBOSIM_FORMATS_HTMLREPORT_H_
