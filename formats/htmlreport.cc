// formats/htmlreport.cc: the self-contained HTML report of a run.
#include "formats/htmlreport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "engine/oc.h"

namespace {

// The scale's stops, evenly spaced from 0 to 1: one hue (blue), lightness
// falling steadily, so that it reads in greyscale and for colour-blind
// readers alike.
constexpr int kStops = 9;
constexpr unsigned kStopRgb[kStops] = {0xf7fbff, 0xdeebf7, 0xc6dbef,
                                       0x9ecae1, 0x6baed6, 0x4292c6,
                                       0x2171b5, 0x08519c, 0x08306b};

// Text on a cell darker than this part of the scale is white.
constexpr double kDarkText = 0.55;

// Geometry of a heat map, in pixels.
constexpr int kCellW = 76;    // a cell's fill
constexpr int kCellH = 50;
constexpr int kGap = 10;      // between cells: room for the frames
constexpr int kLeft = 52;     // drug-2 axis
constexpr int kTop = 6;
constexpr int kAxisBelow = 40;  // drug-1 axis
constexpr int kScaleH = 40;     // the colour scale under the grid
constexpr int kScaleBox = 18;   // one step of the scale
constexpr int kHatch = 8;       // the band that marks an overly toxic cell

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The shortest text of `v` that reads back to the same double.
std::string shortest(double v) {
  if (std::isnan(v)) return "NaN";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

// `v` with `decimals` decimals, or an en dash when it is not a number.
std::string fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "\u2013";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

// The colour of the scale at t in [0, 1] (clamped; NaN as 0), "#rrggbb",
// straight between the stops.
std::string scalecolour(double t) {
  const double at = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * (kStops - 1);
  const int i = std::min(static_cast<int>(at), kStops - 2);
  const double f = at - i;
  char text[8];
  unsigned rgb[3];
  for (int k = 0; k < 3; ++k) {
    const int shift = 16 - 8 * k;
    const double a = (kStopRgb[i] >> shift) & 0xff;
    const double b = (kStopRgb[i + 1] >> shift) & 0xff;
    rgb[k] = static_cast<unsigned>(std::lround(a + (b - a) * f));
  }
  std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return text;
}

// One heat map's figures per combination and how to show them.
struct MapSpec {
  const char* key;      // data-map: selection, patients, toxrate
  std::string caption;  // what the map shows
  std::string unit;     // after the exact value in the cell's title
  int decimals;         // of the value shown
  double top;           // the value at the dark end of the scale
  double values[kMaxDose][kMaxDose];  // NaN: not defined (no patient)
};

// The cell's marks, as the legend explains them.
std::string cellclass(const TruthClasses& c, int d1, int d2) {
  std::string kind;
  if (c.target[d1][d2]) kind = "target";
  else if (c.acceptable[d1][d2]) kind = "acceptable";
  if (c.overtoxic[d1][d2]) kind += kind.empty() ? "overly toxic" : ", overly toxic";
  return kind;
}

// The posterior method in words; gibbs with its draws.
std::string methodwords(const HtmlScenario& sc) {
  if (!sc.posterior.empty()) return sc.posterior;
  return "gibbs (the Gibbs sampler, " + std::to_string(kNumDraws) +
         " draws after " + std::to_string(kBurnIn) + " of burn-in per update)";
}

// One drug's prior toxicity guesses, level by level: "0.05, 0.1, 0.2".
std::string priorlist(const double* prior, int nlevel) {
  std::string text;
  for (int d = 0; d < nlevel; ++d) text += (d > 0 ? ", " : "") + shortest(prior[d]);
  return text;
}

// True when `a` and `b` run under the same design: grid, priors, cohorts,
// targettox, mineff, rules and options, and posterior method.
bool samedesign(const HtmlScenario& a, const HtmlScenario& b) {
  const SimulationSettings& s = a.settings;
  const SimulationSettings& t = b.settings;
  if (s.ndose1 != t.ndose1 || s.ndose2 != t.ndose2 ||
      s.targettox != t.targettox || s.mineff != t.mineff ||
      s.ncohort1 != t.ncohort1 || s.cohortsize1 != t.cohortsize1 ||
      s.ncohort2 != t.ncohort2 || s.cohortsize2 != t.cohortsize2) {
    return false;
  }
  for (int d = 0; d < s.ndose1; ++d) {
    if (a.input.scenprior1[d] != b.input.scenprior1[d]) return false;
  }
  for (int d = 0; d < s.ndose2; ++d) {
    if (a.input.scenprior2[d] != b.input.scenprior2[d]) return false;
  }
  const DesignRules& r = a.rules;
  const DesignRules& q = b.rules;
  return r.escalate == q.escalate && r.deescalate == q.deescalate &&
         r.admissible == q.admissible && r.safety == q.safety &&
         r.futility == q.futility && r.minpatients_stop == q.minpatients_stop &&
         r.minpatients_close == q.minpatients_close && r.phase2 == q.phase2 &&
         r.start1 == q.start1 && r.start2 == q.start2 &&
         a.posterior == b.posterior;
}

// The scenarios by design: each group's positions in `scenarios`, the
// groups in the order of their first scenario.
std::vector<std::vector<std::size_t>> designgroups(
    const std::vector<HtmlScenario>& scenarios) {
  std::vector<std::vector<std::size_t>> groups;
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
      return samedesign(scenarios[g.front()], scenarios[i]);
    });
    if (group == groups.end()) {
      groups.push_back({i});
    } else {
      group->push_back(i);
    }
  }
  return groups;
}

// The dark end of the patients' scale: the next whole number above the
// largest mean, at least 1.
double patientstop(const HtmlScenario& sc) {
  double top = 0;
  const double n = static_cast<double>(sc.outcomes.ntrial);
  for (int d1 = 0; d1 < sc.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < sc.settings.ndose2; ++d2) {
      top = std::max(top, static_cast<double>(sc.acc.sumpat[d1][d2]) / n);
    }
  }
  return std::max(1.0, std::ceil(top));
}

// One heat map as inline SVG. `id` makes its pattern's id unique on the page.
void writemap(std::ostream& os, const HtmlScenario& sc, const TruthClasses& c,
              const MapSpec& map, const std::string& id) {
  const int nd1 = sc.settings.ndose1;
  const int nd2 = sc.settings.ndose2;
  const int pitchx = kCellW + kGap;
  const int pitchy = kCellH + kGap;
  const int gridw = nd1 * pitchx;
  const int gridh = nd2 * pitchy;
  const int width = kLeft + std::max(gridw, kStops * kScaleBox + 40) + 8;
  const int height = kTop + gridh + kAxisBelow + kScaleH;

  os << "<figure class=\"map\">\n<figcaption>" << escape(map.caption)
     << "</figcaption>\n"
     << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
     << "\" height=\"" << height << "\" viewBox=\"0 0 " << width << ' '
     << height << "\" role=\"img\" aria-label=\"" << escape(map.caption)
     << "\">\n"
     << "<defs><pattern id=\"" << id << "\" width=\"6\" height=\"6\" "
     << "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
     << "<rect width=\"6\" height=\"6\" fill=\"#ffffff\"/>"
     << "<rect width=\"3\" height=\"6\" fill=\"#000000\"/></pattern></defs>\n";

  // Axes: drug-2 levels from the highest on top, drug-1 levels left to right.
  // The drug-2 axis title, rotated, needs some 80 pixels of height.
  os << "<text class=\"axis\" transform=\"translate(14,"
     << std::max(kTop + gridh / 2, 46) << ") rotate(-90)\">Drug 2 level</text>\n";
  for (int d2 = 0; d2 < nd2; ++d2) {
    const int y = kTop + (nd2 - 1 - d2) * pitchy + pitchy / 2;
    os << "<text class=\"level end\" x=\"" << kLeft - 10 << "\" y=\"" << y + 5
       << "\">" << d2 + 1 << "</text>\n";
  }
  for (int d1 = 0; d1 < nd1; ++d1) {
    const int x = kLeft + d1 * pitchx + pitchx / 2;
    os << "<text class=\"level\" x=\"" << x << "\" y=\"" << kTop + gridh + 16
       << "\">" << d1 + 1 << "</text>\n";
  }
  os << "<text class=\"axis\" x=\"" << kLeft + gridw / 2 << "\" y=\""
     << kTop + gridh + 34 << "\">Drug 1 level</text>\n";

  for (int d2 = nd2 - 1; d2 >= 0; --d2) {
    for (int d1 = 0; d1 < nd1; ++d1) {
      const double v = map.values[d1][d2];
      const bool defined = !std::isnan(v);
      const double t = defined && map.top > 0 ? v / map.top : 0;
      const int x = kLeft + d1 * pitchx + kGap / 2;
      const int y = kTop + (nd2 - 1 - d2) * pitchy + kGap / 2;
      const std::string kind = cellclass(c, d1, d2);
      const std::string truth = shortest(sc.input.scentox[d1][d2]) + " / " +
                                shortest(sc.input.sceneff[d1][d2]);
      os << "<g class=\"cell\" data-map=\"" << map.key << "\" data-d1=\""
         << d1 + 1 << "\" data-d2=\"" << d2 + 1 << "\" data-value=\""
         << (defined ? shortest(v) : "") << "\">";
      os << "<title>" << escape(map.caption) << ", drug-1 level " << d1 + 1
         << ", drug-2 level " << d2 + 1 << ": "
         << (defined ? shortest(v) + map.unit : "no patient treated")
         << "; true toxicity " << shortest(sc.input.scentox[d1][d2])
         << ", true response " << shortest(sc.input.sceneff[d1][d2])
         << (kind.empty() ? "" : "; " + kind) << "</title>";
      os << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << kCellW
         << "\" height=\"" << kCellH << "\" fill=\""
         << (defined ? scalecolour(t) : "#ffffff") << "\"/>";
      if (c.overtoxic[d1][d2]) {
        os << "<rect class=\"hatch\" x=\"" << x << "\" y=\"" << y
           << "\" width=\"" << kCellW << "\" height=\"" << kHatch
           << "\" fill=\"url(#" << id << ")\"/>";
      }
      if (c.target[d1][d2]) {
        os << "<rect class=\"target\" x=\"" << x - 3 << "\" y=\"" << y - 3
           << "\" width=\"" << kCellW + 6 << "\" height=\"" << kCellH + 6
           << "\"/>";
      } else if (c.acceptable[d1][d2]) {
        os << "<rect class=\"acceptable\" x=\"" << x - 2.5 << "\" y=\""
           << y - 2.5 << "\" width=\"" << kCellW + 5 << "\" height=\""
           << kCellH + 5 << "\"/>";
      }
      const char* ink = t > kDarkText ? " dark" : "";
      os << "<text class=\"value" << ink << "\" x=\"" << x + kCellW / 2
         << "\" y=\"" << y + 28 << "\">" << fixed(v, map.decimals)
         << "</text><text class=\"truth" << ink << "\" x=\"" << x + kCellW / 2
         << "\" y=\"" << y + 44 << "\">" << truth << "</text></g>\n";
    }
  }

  // The scale: its stops from the light end (0) to the dark end (top).
  const int sy = kTop + gridh + kAxisBelow + 4;
  os << "<g class=\"scale\">";
  for (int i = 0; i < kStops; ++i) {
    os << "<rect x=\"" << kLeft + i * kScaleBox << "\" y=\"" << sy
       << "\" width=\"" << kScaleBox << "\" height=\"14\" fill=\""
       << scalecolour(static_cast<double>(i) / (kStops - 1)) << "\"/>";
  }
  os << "<text x=\"" << kLeft << "\" y=\"" << sy + 28
     << "\" class=\"level start\">0</text><text class=\"level end\" x=\""
     << kLeft + kStops * kScaleBox << "\" y=\"" << sy + 28
     << "\">" << shortest(map.top) << "</text></g>\n";
  os << "</svg>\n</figure>\n";
}

// A scenario's prior toxicity guesses, a row per drug and a column per
// level.
void writepriors(std::ostream& os, const HtmlScenario& sc) {
  const int nd1 = sc.settings.ndose1;
  const int nd2 = sc.settings.ndose2;
  os << "<table class=\"priors\">\n<thead><tr><th scope=\"col\">Prior "
        "toxicity</th>";
  for (int d = 0; d < std::max(nd1, nd2); ++d) {
    os << "<th scope=\"col\">level " << d + 1 << "</th>";
  }
  os << "</tr></thead>\n<tbody>\n";
  for (int drug = 1; drug <= 2; ++drug) {
    const double* prior = drug == 1 ? sc.input.scenprior1 : sc.input.scenprior2;
    const int n = drug == 1 ? nd1 : nd2;
    os << "<tr><th scope=\"row\">Drug " << drug << "</th>";
    for (int d = 0; d < std::max(nd1, nd2); ++d) {
      os << "<td>" << (d < n ? shortest(prior[d]) : "") << "</td>";
    }
    os << "</tr>\n";
  }
  os << "</tbody>\n</table>\n";
}

// The per-combination maps of one scenario, the patients' scale ending at
// `sharedtop` when it is above 0, at the scenario's own top otherwise.
void writescenario(std::ostream& os, const HtmlScenario& sc, int index,
                   double sharedtop) {
  const TruthClasses c = classifytruth(sc.settings, sc.input);
  const OperatingCharacteristics oc = operatingcharacteristics(
      sc.settings, sc.input, sc.acc, sc.outcomes);
  const double n = static_cast<double>(sc.outcomes.ntrial);

  MapSpec maps[3] = {
      {"selection", "Selection (% of trials)", " %", 1, 100, {}},
      {"patients", "Mean patients per trial", " patients", 1, 0, {}},
      {"toxrate", "Observed toxicity rate", "", 2, 1, {}}};
  for (int d1 = 0; d1 < sc.settings.ndose1; ++d1) {
    for (int d2 = 0; d2 < sc.settings.ndose2; ++d2) {
      const std::int64_t npat = sc.acc.sumpat[d1][d2];
      maps[0].values[d1][d2] = static_cast<double>(sc.acc.nselect[d1][d2]) / n * 100;
      maps[1].values[d1][d2] = static_cast<double>(npat) / n;
      maps[2].values[d1][d2] =
          npat > 0 ? static_cast<double>(sc.acc.sumtox[d1][d2]) / npat : NAN;
    }
  }
  maps[1].top = sharedtop > 0 ? sharedtop : patientstop(sc);

  os << "<section class=\"scenario\" id=\"scenario-" << index << "\">\n<h2>"
     << escape(sc.name) << "</h2>\n<p class=\"glance\">"
     << sc.settings.ndose1 << " by " << sc.settings.ndose2 << " grid, "
     << sc.outcomes.ntrial << (sc.outcomes.ntrial == 1 ? " trial" : " trials")
     << ", target toxicity " << shortest(sc.settings.targettox)
     << ", lowest acceptable response " << shortest(sc.settings.mineff)
     << ". Correct selection <strong>" << fixed(oc.correct.value, 1) << " % &plusmn; "
     << fixed(oc.correct.mcse, 1) << "</strong>; no selection "
     << fixed(oc.inconclusive.value, 1) << " % &plusmn; "
     << fixed(oc.inconclusive.mcse, 1) << "; "
     << fixed(oc.patients_mean.value, 1) << " patients per trial.";
  if (!c.anyacceptable) {
    os << " <strong>No combination is acceptable</strong>: the right decision "
          "is to select none.";
  }
  os << "</p>\n";
  writepriors(os, sc);
  os << "<p class=\"run\">Posterior: " << escape(methodwords(sc))
     << ". Random numbers: " << escape(sc.random) << ".</p>\n"
     << "<div class=\"maps\">\n";
  for (int m = 0; m < 3; ++m) {
    writemap(os, sc, c, maps[m], "hatch-" + std::to_string(index) + "-" + maps[m].key);
  }
  os << "</div>\n</section>\n";
}

// A row of the side-by-side table: the label, then per scenario a figure
// with its standard error (or without one).
struct MetricRow {
  const char* key;
  const char* label;
  int decimals;
  bool sub;  // a part of the row above
};

constexpr MetricRow kRows[] = {
    {"correct", "Correct selection (% of trials)", 1, false},
    {"acceptable", "Acceptable combination selected (%)", 1, false},
    {"overtoxic", "Overly toxic combination selected (%)", 1, false},
    {"inconclusive", "No selection (%)", 1, false},
    {"phase1_stopped", "phase I stopped", 1, true},
    {"none_admissible", "none admissible for phase II", 1, true},
    {"all_closed", "all closed in phase II", 1, true},
    {"no_positive_mean", "no positive mean response", 1, true},
    {"patients_mean", "Patients per trial: mean", 2, false},
    {"patients_sd", "standard deviation", 2, true},
    {"patients_min", "minimum", 0, true},
    {"patients_max", "maximum", 0, true},
    {"overtoxic_patients", "Patients at overly toxic combinations (% of patients)", 1, false},
    {"toxicities_mean", "Toxicities per trial (mean)", 2, false},
    {"responses_mean", "Responses per trial (mean)", 2, false},
    {"untried_patients",
     "Phase II patients at combinations untried in phase I (% of phase II "
     "patients)", 1, false},
};

// The side-by-side tables of the scenarios in the order given (the run's,
// which the reader chose), kMetricsPerTable scenarios to a table, each with
// the metrics' names, so that many scenarios wrap instead of running off the
// page. `design` numbers each scenario's group; a row shows it when there
// is more than one group.
void writemetrics(std::ostream& os, const std::vector<HtmlScenario>& scenarios,
                  const std::vector<int>& design, int ndesign) {
  std::vector<std::vector<OcFigure>> figures;
  for (const HtmlScenario& sc : scenarios) {
    figures.push_back(ocfigures(operatingcharacteristics(
        sc.settings, sc.input, sc.acc, sc.outcomes)));
  }
  const auto find = [](const std::vector<OcFigure>& f, const std::string& name) {
    for (const OcFigure& x : f) {
      if (x.name == name) return &x;
    }
    return static_cast<const OcFigure*>(nullptr);
  };

  os << "<section id=\"metrics\">\n<h2>Across scenarios</h2>\n";
  const std::size_t n = scenarios.size();
  for (std::size_t from = 0; from < n; from += kMetricsPerTable) {
    std::vector<std::size_t> part;
    for (std::size_t i = from; i < std::min(n, from + kMetricsPerTable); ++i) {
      part.push_back(i);
    }
    os << "<table class=\"metrics\">\n";
    if (from + kMetricsPerTable >= n) {
      os << "<caption>Each figure &plusmn; its Monte Carlo standard error; a "
            "95% interval is about &plusmn; 2 standard errors.</caption>\n";
    }
    os << "<thead><tr><th scope=\"col\">Metric</th>";
    for (std::size_t i : part) {
      os << "<th scope=\"col\">" << escape(scenarios[i].name) << "</th>";
    }
    os << "</tr></thead>\n<tbody>\n";
    if (ndesign > 1) {
      os << "<tr><th scope=\"row\">Design</th>";
      for (std::size_t i : part) os << "<td>" << design[i] << "</td>";
      os << "</tr>\n";
    }
    os << "<tr><th scope=\"row\">Trials</th>";
    for (std::size_t i : part) {
      os << "<td data-key=\"trials\">" << scenarios[i].outcomes.ntrial << "</td>";
    }
    os << "</tr>\n";
    for (const MetricRow& row : kRows) {
      os << "<tr" << (row.sub ? " class=\"sub\"" : "") << "><th scope=\"row\">"
         << row.label << " <code>" << row.key << "</code></th>";
      for (std::size_t i : part) {
        const OcFigure* value = find(figures[i], row.key);
        const OcFigure* mcse = find(figures[i], std::string(row.key) + "_mcse");
        os << "<td data-key=\"" << row.key << "\" data-value=\""
           << shortest(value->value) << "\"";
        if (mcse != nullptr) os << " data-mcse=\"" << shortest(mcse->value) << "\"";
        os << '>' << fixed(value->value, row.decimals);
        if (mcse != nullptr) {
          os << " <span class=\"se\">&plusmn; " << fixed(mcse->value, row.decimals)
             << "</span>";
        }
        os << "</td>";
      }
      os << "</tr>\n";
    }
    os << "</tbody>\n</table>\n";
  }
  os << "</section>\n";
}

// One group's heading: the design its scenarios share, and their names.
void writegroup(std::ostream& os, const std::vector<HtmlScenario>& scenarios,
                const std::vector<std::size_t>& members, int number,
                int ndesign) {
  const HtmlScenario& sc = scenarios[members.front()];
  const SimulationSettings& s = sc.settings;
  const DesignRules& r = sc.rules;
  os << "<h2>Design" << (ndesign > 1 ? " " + std::to_string(number) : "")
     << "</h2>\n<p class=\"members\">";
  if (members.size() == 1) {
    os << "The design of the scenario " << escape(sc.name) << ".";
  } else {
    os << "Shared by " << members.size() << " scenarios: ";
    for (std::size_t k = 0; k < members.size(); ++k) {
      os << (k > 0 ? ", " : "") << escape(scenarios[members[k]].name);
    }
    os << ".";
  }
  os << "</p>\n<table class=\"design\">\n<tbody>\n";
  const auto row = [&os](const std::string& name, const std::string& value) {
    os << "<tr><th scope=\"row\">" << name << "</th><td>" << value
       << "</td></tr>\n";
  };
  row("Grid", std::to_string(s.ndose1) + " &times; " + std::to_string(s.ndose2) +
                  " (drug 1 by drug 2)");
  row("Prior toxicity, drug 1", priorlist(sc.input.scenprior1, s.ndose1));
  row("Prior toxicity, drug 2", priorlist(sc.input.scenprior2, s.ndose2));
  row("Target toxicity <code>targettox</code>", shortest(s.targettox));
  row("Lowest acceptable response <code>mineff</code>", shortest(s.mineff));
  row("Phase I", std::to_string(s.ncohort1) + " cohorts of " +
                     std::to_string(s.cohortsize1));
  row("Phase II", std::to_string(s.ncohort2) + " cohorts of " +
                      std::to_string(s.cohortsize2));
  row("Thresholds", "escalate " + shortest(r.escalate) + ", deescalate " +
                        shortest(r.deescalate) + ", admissible " +
                        shortest(r.admissible) + ", safety " +
                        shortest(r.safety) + ", futility " + shortest(r.futility));
  row("<code>minpatients</code>", std::to_string(r.minpatients_close));
  if (!defaultoptions(r)) row("Options", escape(optionstext(r)));
  row("Posterior", escape(methodwords(sc)));
  os << "</tbody>\n</table>\n";
}

void writesettings(std::ostream& os,
                   const std::vector<HtmlScenario>& scenarios) {
  // The options' column only when some scenario has one not at its default.
  const bool options = std::any_of(
      scenarios.begin(), scenarios.end(),
      [](const HtmlScenario& sc) { return !defaultoptions(sc.rules); });
  // The posterior's column only when some scenario's method is not gibbs.
  const bool posterior = std::any_of(
      scenarios.begin(), scenarios.end(),
      [](const HtmlScenario& sc) { return !sc.posterior.empty(); });
  os << "<section id=\"settings\">\n<h2>Design and runs</h2>\n"
     << "<table class=\"settings\">\n<caption>The design's thresholds are on "
        "posterior probabilities: escalate when pr(toxicity &lt; target) &gt; "
        "escalate, de-escalate when &lt; deescalate; admissible for phase II "
        "when &gt; admissible; closed as unsafe when &lt; safety, as futile "
        "when pr(response &gt; mineff) &lt; futility, with more than "
        "minpatients patients.";
  if (options) {
    os << " Options not at their defaults: minpatients_stop, phase I stops at "
          "(1, 1) only with more than this many patients in the trial; "
          "phase2, the combinations phase II may randomise to (treated: "
          "those with a patient in the trial; adjacent: those and their "
          "neighbours one level away in one drug); start, the first "
          "cohort's combination.";
  }
  if (posterior) {
    os << " Posterior: how the posterior probabilities were computed, by the "
          "Gibbs sampler (gibbs) or by numerical integration over the model's "
          "parameters (quadrature), free of sampling noise.";
  }
  os << "</caption>\n<thead><tr>";
  for (const char* h :
       {"Scenario", "Grid", "Trials", "targettox", "mineff", "Phase I cohorts",
        "Phase II cohorts", "escalate", "deescalate", "admissible", "safety",
        "futility", "minpatients", "Random numbers", "Version"}) {
    os << "<th scope=\"col\">" << h << "</th>";
  }
  if (options) os << "<th scope=\"col\">Options</th>";
  if (posterior) os << "<th scope=\"col\">Posterior</th>";
  os << "</tr></thead>\n<tbody>\n";
  for (const HtmlScenario& sc : scenarios) {
    const SimulationSettings& s = sc.settings;
    os << "<tr><th scope=\"row\">" << escape(sc.name) << "</th><td>" << s.ndose1
       << " &times; " << s.ndose2 << "</td><td>" << sc.outcomes.ntrial
       << "</td><td>" << shortest(s.targettox) << "</td><td>"
       << shortest(s.mineff) << "</td><td>" << s.ncohort1 << " cohorts of "
       << s.cohortsize1 << "</td><td>" << s.ncohort2 << " cohorts of "
       << s.cohortsize2 << "</td><td>" << shortest(sc.rules.escalate)
       << "</td><td>" << shortest(sc.rules.deescalate) << "</td><td>"
       << shortest(sc.rules.admissible) << "</td><td>"
       << shortest(sc.rules.safety) << "</td><td>"
       << shortest(sc.rules.futility) << "</td><td>" << sc.rules.minpatients_close
       << "</td><td>" << escape(sc.random) << "</td><td>"
       << escape(sc.version) << "</td>";
    if (options) os << "<td>" << escape(optionstext(sc.rules)) << "</td>";
    if (posterior) {
      os << "<td>" << escape(sc.posterior.empty() ? "gibbs" : sc.posterior) << "</td>";
    }
    os << "</tr>\n";
  }
  os << "</tbody>\n</table>\n</section>\n";
}

constexpr char kStyle[] = R"(
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif;
  color: #1a1a1a; background: #ffffff; margin: 24px; line-height: 1.4; }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 19px; margin: 28px 0 4px; border-bottom: 1px solid #cccccc; }
p.glance { margin: 4px 0 8px; }
.legend { display: flex; flex-wrap: wrap; gap: 8px 22px; align-items: center;
  margin: 10px 0; font-size: 14px; }
.legend svg { vertical-align: middle; margin-right: 6px; }
.maps { display: flex; flex-wrap: wrap; gap: 8px 28px; align-items: flex-start; }
figure.map { margin: 0; }
figcaption { font-weight: bold; font-size: 14px; margin: 6px 0 2px; }
svg text { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif;
  text-anchor: middle; fill: #1a1a1a; }
svg text.value { font-size: 15px; font-weight: bold; }
svg text.truth { font-size: 11px; }
svg text.dark { fill: #ffffff; }
svg text.start { text-anchor: start; }
svg text.end { text-anchor: end; }
svg text.level { font-size: 12px; fill: #444444; }
svg text.axis { font-size: 12px; fill: #444444; }
svg rect.target { fill: none; stroke: #000000; stroke-width: 3; }
svg rect.acceptable { fill: none; stroke: #000000; stroke-width: 1.5;
  stroke-dasharray: 5 3; }
table { border-collapse: collapse; font-size: 14px; margin: 8px 0; }
caption { caption-side: bottom; text-align: left; font-size: 13px;
  color: #444444; padding-top: 6px; max-width: 60em; }
th, td { border: 1px solid #cccccc; padding: 4px 8px; }
thead th { background: #eef3f8; }
table.settings td { white-space: nowrap; }
table.metrics td { text-align: right; white-space: nowrap;
  font-variant-numeric: tabular-nums; }
table.metrics th[scope=row] { text-align: left; font-weight: normal; }
table.metrics tr.sub th[scope=row] { padding-left: 26px; }
table.metrics code { color: #666666; font-size: 12px; }
.se { color: #555555; }
section.group > h2 { font-size: 21px; border-bottom: 2px solid #08306b; }
p.members, p.run { margin: 4px 0 8px; }
table.design th[scope=row] { text-align: left; font-weight: normal; }
table.design code { color: #666666; font-size: 12px; }
table.priors td { text-align: right; font-variant-numeric: tabular-nums; }
table.priors th[scope=row] { text-align: left; font-weight: normal; }
@page { margin: 14mm 0; }
@media print {
  body { margin: 0 14mm; font-size: 12px; }
  h1 { font-size: 20px; }
  h2 { font-size: 16px; margin-top: 0; break-after: avoid; }
  h2, p { overflow-wrap: break-word; }
  section.group > h2 { font-size: 18px; }
  #metrics + h2, section.scenario, section.group, #settings {
    break-before: page; }
  .legend + section.group { break-before: auto; }
  section.scenario > h2 { margin-top: 0; }
  table, tr, figure.map, .legend, p.glance { break-inside: avoid; }
  thead { display: table-header-group; }
  table { font-size: 11px; }
  caption { font-size: 10px; max-width: none; }
  th, td { padding: 2px 4px; }
  table.metrics code, table.design code { font-size: 9px; }
  table.metrics { width: 100%; }
  table.metrics thead th { overflow-wrap: anywhere; }
  table.metrics tbody th { width: 26%; }
  table.settings { font-size: 9px; }
  table.settings th, table.settings td { white-space: normal;
    overflow-wrap: anywhere; }
  table.settings tbody th { width: 16%; }
  .maps { gap: 4px 16px; }
  figure.map svg { max-width: 100%; height: auto; }
}
)";

// The legend of the marks and the scale, which says whether the scales are
// shared by the scenarios.
void writelegend(std::ostream& os, bool sharedscales) {
  os << "<div class=\"legend\">\n"
     << "<span><svg width=\"40\" height=\"26\" role=\"img\" aria-label=\"target\">"
        "<rect x=\"3\" y=\"3\" width=\"34\" height=\"20\" fill=\"#ffffff\" "
        "stroke=\"#000000\" stroke-width=\"3\"/></svg>target: acceptable, "
        "highest true response</span>\n"
     << "<span><svg width=\"40\" height=\"26\" role=\"img\" aria-label=\"acceptable\">"
        "<rect x=\"3\" y=\"3\" width=\"34\" height=\"20\" fill=\"#ffffff\" "
        "stroke=\"#000000\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"/>"
        "</svg>acceptable: true toxicity &le; target, true response &ge; "
        "mineff</span>\n"
     << "<span><svg width=\"40\" height=\"26\" role=\"img\" aria-label=\"overly toxic\">"
        "<defs><pattern id=\"hatch-legend\" width=\"6\" height=\"6\" "
        "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
        "<rect width=\"6\" height=\"6\" fill=\"#ffffff\"/><rect width=\"3\" "
        "height=\"6\" fill=\"#000000\"/></pattern></defs>"
        "<rect x=\"3\" y=\"3\" width=\"34\" height=\"20\" fill=\"#ffffff\" "
        "stroke=\"#999999\"/><rect x=\"3\" y=\"3\" width=\"34\" height=\"8\" "
        "fill=\"url(#hatch-legend)\"/></svg>overly toxic: true toxicity &gt; "
        "target</span>\n"
     << "<span>In each cell: the figure, then the truth as <em>toxicity / "
        "response</em>; &ldquo;&ndash;&rdquo; where no patient was treated. "
        "Darker is more, from 0 to the figure at the scale's dark end."
     << (sharedscales ? " Each map's scale is the same in every scenario "
                        "(--shared-scales): the patients' scale ends at the "
                        "most patients of any scenario."
                      : "")
     << "</span>\n</div>\n";
}

}  // namespace

std::string htmlreport(const std::vector<HtmlScenario>& scenarios,
                       const HtmlOptions& options) {
  std::ostringstream os;
  os << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
     << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
     << "<title>combosim: operating characteristics</title>\n<style>" << kStyle
     << "</style>\n</head>\n<body>\n<h1>Operating characteristics</h1>\n";
  if (scenarios.empty()) {
    os << "<p>No scenario was written in this run.</p>\n</body>\n</html>\n";
    return os.str();
  }
  os << "<p>" << scenarios.size()
     << (scenarios.size() == 1 ? " scenario" : " scenarios")
     << " simulated by combosim. Percentages are of trials unless said "
        "otherwise; &plusmn; is one Monte Carlo standard error.</p>\n";
  const std::vector<std::vector<std::size_t>> groups = designgroups(scenarios);
  const int ndesign = static_cast<int>(groups.size());
  std::vector<int> design(scenarios.size());
  for (int g = 0; g < ndesign; ++g) {
    for (std::size_t i : groups[g]) design[i] = g + 1;
  }
  // The selection and toxicity-rate scales end at 100 % and 1 everywhere;
  // only the patients' scale is a scenario's own.
  double sharedtop = 0;
  if (options.sharedscales) {
    for (const HtmlScenario& sc : scenarios) {
      sharedtop = std::max(sharedtop, patientstop(sc));
    }
  }

  writemetrics(os, scenarios, design, ndesign);
  os << "<h2>Per combination</h2>\n";
  writelegend(os, options.sharedscales);
  for (int g = 0; g < ndesign; ++g) {
    os << "<section class=\"group\" id=\"design-" << g + 1 << "\">\n";
    writegroup(os, scenarios, groups[g], g + 1, ndesign);
    for (std::size_t i : groups[g]) {
      // A scenario keeps the id of its place in the run.
      writescenario(os, scenarios[i], static_cast<int>(i) + 1, sharedtop);
    }
    os << "</section>\n";
  }
  writesettings(os, scenarios);
  os << "</body>\n</html>\n";
  return os.str();
}

std::string htmlescape(const std::string& text) { return escape(text); }
