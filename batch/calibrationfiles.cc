// batch/calibrationfiles.cc: the files of a calibrating study.
#include "batch/calibrationfiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "formats/csvtext.h"
#include "formats/htmlreport.h"

namespace {

// A number for a CSV file: the shortest text that reads back exactly; empty
// for NaN.
std::string csvnumber(double x) { return std::isnan(x) ? "" : numbertext(x); }

std::string fixed(double x, int digits) {
  if (std::isnan(x)) return "-";
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", digits, x);
  return text;
}

// The searched values of candidate k, one CSV field each.
std::string valuefields(const CalibrationRun& run, int k) {
  const Json changes = candidatechanges(run.keys, run.searched[static_cast<std::size_t>(k)]);
  std::string fields;
  for (const SearchKey& key : run.keys) {
    const Json& v = key.key.rfind("rules.", 0) == 0 ? changes["rules"][key.key.substr(6)]
                                                     : changes[key.key];
    fields += "," + (v.is_number() ? numbertext(v.get<double>())
                     : v.is_string() ? csvfield(v.get<std::string>())
                                     : csvfield(v.dump()));
  }
  return fields;
}

std::string keyheader(const CalibrationRun& run) {
  std::string header;
  for (const SearchKey& key : run.keys) header += "," + csvfield(key.key);
  return header;
}

std::string figureheader() {
  std::string header;
  for (const OcFigure& f : ocfigures(OperatingCharacteristics{})) header += "," + f.name;
  return header;
}

std::string figurefields(const OperatingCharacteristics& oc) {
  std::string fields;
  for (const OcFigure& f : ocfigures(oc)) fields += "," + csvnumber(f.value);
  return fields;
}

// The last stage each candidate ran, by candidate.
std::vector<const CandidateStage*> lastrows(const CalibrationRun& run) {
  std::vector<const CandidateStage*> last(run.plan.candidates.size(), nullptr);
  for (const CandidateStage& row : run.result.history) {
    last[static_cast<std::size_t>(row.candidate)] = &row;
  }
  return last;
}

}  // namespace

std::string calibrationcsv(const CalibrationRun& run) {
  std::ostringstream csv;
  csv << "candidate,label" << keyheader(run)
      << ",stage,trials,scenario,objective,objective_mcse,behind,behind_mcse,"
         "best,constraints_met,dropped"
      << figureheader() << "\n";
  for (const CandidateStage& row : run.result.history) {
    const Candidate& c = run.plan.candidates[static_cast<std::size_t>(row.candidate)];
    for (std::size_t s = 0; s < run.plan.scenarios.size(); ++s) {
      csv << row.candidate + 1 << ',' << csvfield(c.label) << valuefields(run, row.candidate)
          << ',' << row.stage + 1 << ',' << row.trials << ','
          << csvfield(run.plan.scenarios[s].name) << ','
          << csvnumber(row.objective.value) << ',' << csvnumber(row.objective.mcse) << ','
          << csvnumber(row.behind.value) << ',' << csvnumber(row.behind.mcse) << ','
          << (row.best ? "true" : "false") << ','
          << (row.constraintsmet ? "true" : "false") << ',' << csvfield(row.dropped)
          << figurefields(row.oc[s]) << "\n";
    }
  }
  return csv.str();
}

std::string rankingcsv(const CalibrationRun& run) {
  const std::vector<const CandidateStage*> last = lastrows(run);
  std::ostringstream csv;
  csv << "rank,candidate,label" << keyheader(run)
      << ",trials,objective,objective_mcse,behind,behind_mcse,constraints_met,chosen\n";
  int rank = 0;
  for (int k : run.result.survivors) {
    const CandidateStage& row = *last[static_cast<std::size_t>(k)];
    csv << ++rank << ',' << k + 1 << ','
        << csvfield(run.plan.candidates[static_cast<std::size_t>(k)].label)
        << valuefields(run, k) << ',' << row.trials << ','
        << csvnumber(row.objective.value) << ',' << csvnumber(row.objective.mcse) << ','
        << csvnumber(row.behind.value) << ',' << csvnumber(row.behind.mcse) << ','
        << (row.constraintsmet ? "true" : "false") << ','
        << (k == run.result.chosen ? "true" : "false") << "\n";
  }
  return csv.str();
}

std::string rankingtext(const CalibrationRun& run) {
  const CalibrationResult& r = run.result;
  const std::vector<const CandidateStage*> last = lastrows(run);
  std::ostringstream text;
  text << run.plan.candidates.size() << " candidates";
  if (run.infeasible > 0) text << " (" << run.infeasible << " infeasible combinations skipped)";
  text << ", " << run.plan.scenarios.size() << " scenarios; the race ran "
       << r.laststage + 1 << " of " << run.plan.stages.size() << " stages to "
       << r.racetrials << " trials per scenario and stopped: " << r.stopped << ".\n"
       << "Trials run: " << r.spent << ", against " << r.everywhere
       << " for every candidate at " << run.plan.stages.back() << " trials per scenario.\n";
  text << "Survivors, best first (objective: " << run.plan.objective
       << ", mean over scenarios; difference to the best with its paired SE):\n";
  int rank = 0;
  for (int k : r.survivors) {
    const CandidateStage& row = *last[static_cast<std::size_t>(k)];
    text << "  " << ++rank << ". " << run.plan.candidates[static_cast<std::size_t>(k)].label
         << ": " << fixed(row.objective.value, 2) << " (SE " << fixed(row.objective.mcse, 2)
         << "), behind by " << fixed(row.behind.value, 2) << " (SE "
         << fixed(row.behind.mcse, 2) << ")"
         << (row.constraintsmet ? "" : ", a constraint not met by its estimate")
         << (k == r.chosen ? "  <- chosen" : "") << "\n";
  }
  if (r.chosen < 0) {
    text << "No survivor meets every constraint by its estimates: nothing is chosen.\n";
  } else if (!r.confirmation.empty()) {
    text << "Confirmation of the chosen design on trials " << r.confirmfirst << " to "
         << r.confirmfirst + run.plan.confirmtrials - 1 << ", which the race never ran:\n";
    for (std::size_t s = 0; s < run.plan.scenarios.size(); ++s) {
      const OperatingCharacteristics& oc = r.confirmation[s];
      text << "  " << run.plan.scenarios[s].name << ": correct " << fixed(oc.correct.value, 1)
           << " (SE " << fixed(oc.correct.mcse, 1) << "), overtoxic "
           << fixed(oc.overtoxic.value, 1) << " (SE " << fixed(oc.overtoxic.mcse, 1)
           << "), overtoxic_patients " << fixed(oc.overtoxic_patients.value, 1) << " (SE "
           << fixed(oc.overtoxic_patients.mcse, 1) << ")";
      if (!r.gibbsconfirmation.empty()) {
        const OperatingCharacteristics& g = r.gibbsconfirmation[s];
        text << "; under gibbs correct " << fixed(g.correct.value, 1) << " (SE "
             << fixed(g.correct.mcse, 1) << ")";
      }
      text << "\n";
    }
  }
  return text.str();
}

std::string confirmationcsv(const CalibrationRun& run) {
  const CalibrationResult& r = run.result;
  std::ostringstream csv;
  csv << "scenario,posterior,first_trial,trials" << figureheader() << "\n";
  for (int pass = 0; pass < 2; ++pass) {
    const std::vector<OperatingCharacteristics>& list =
        pass == 0 ? r.confirmation : r.gibbsconfirmation;
    for (std::size_t s = 0; s < list.size(); ++s) {
      const Design& d = run.plan.candidates[static_cast<std::size_t>(r.chosen)].designs[s];
      const bool quadrature = pass == 0 && d.method == PosteriorMethod::kQuadrature;
      csv << csvfield(run.plan.scenarios[s].name) << ','
          << (quadrature ? "quadrature" : "gibbs") << ',' << r.confirmfirst << ','
          << list[s].ntrial << figurefields(list[s]) << "\n";
    }
  }
  return csv.str();
}

Json chosenjson(const Json& base, const CalibrationRun& run) {
  Json chosen = base.is_object() ? base : Json::object();
  if (run.result.chosen < 0) return chosen;
  const Json changes =
      candidatechanges(run.keys, run.searched[static_cast<std::size_t>(run.result.chosen)]);
  for (const auto& [key, value] : changes.items()) {
    if (key == "rules" && chosen.contains("rules") && chosen["rules"].is_object()) {
      for (const auto& [rule, v] : value.items()) chosen["rules"][rule] = v;
    } else {
      chosen[key] = value;
    }
  }
  return chosen;
}

std::string calibrationhtml(const CalibrationRun& run) {
  const CalibrationResult& r = run.result;
  const std::vector<const CandidateStage*> last = lastrows(run);
  std::ostringstream page;
  page << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
          "<title>Calibration</title><style>\n"
          "body{font-family:sans-serif;margin:2em;color:#111}"
          "table{border-collapse:collapse;margin:1em 0}"
          "td,th{border:1px solid #bbb;padding:2px 6px;text-align:right}"
          "th{background:#eee}td.l,th.l{text-align:left}"
          ".chosen{font-weight:bold}.dropped{color:#777}"
          "@media print{table,svg{break-inside:avoid}}\n"
          "</style></head><body>\n<h1>Calibration</h1>\n";
  page << "<p>Objective: <b>" << htmlescape(run.plan.objective)
       << "</b>, the weighted mean over " << run.plan.scenarios.size()
       << " scenarios, maximised. " << run.plan.candidates.size() << " candidates";
  if (run.infeasible > 0) page << " (" << run.infeasible << " infeasible skipped)";
  page << ". The race stopped after stage " << r.laststage + 1 << ": "
       << htmlescape(r.stopped) << ". Trials run: " << r.spent << ", against "
       << r.everywhere << " for every candidate at the last stage's count.</p>\n";
  if (!run.plan.constraints.empty()) {
    page << "<p>Constraints:</p><ul>";
    for (const Constraint& c : run.plan.constraints) {
      page << "<li>" << htmlescape(c.figure) << (c.upper ? " &le; " : " &ge; ")
           << numbertext(c.limit) << " in ";
      if (c.scenarios.empty()) {
        page << "every scenario";
      } else {
        for (std::size_t i = 0; i < c.scenarios.size(); ++i) {
          page << (i > 0 ? ", " : "")
               << htmlescape(run.plan.scenarios[static_cast<std::size_t>(c.scenarios[i])].name);
        }
      }
      page << "</li>";
    }
    page << "</ul>\n";
  }

  // How the search narrowed.
  page << "<h2>Stages</h2>\n<table><tr><th>stage</th><th>trials per scenario</th>"
          "<th>candidates</th><th>dropped for the objective</th>"
          "<th>dropped for a constraint</th><th>left</th></tr>\n";
  for (int stage = 0; stage <= r.laststage; ++stage) {
    int in = 0, objective = 0, constraint = 0, trials = 0;
    for (const CandidateStage& row : r.history) {
      if (row.stage != stage) continue;
      ++in;
      trials = row.trials;
      if (row.dropped.empty()) continue;
      (row.dropped.rfind(run.plan.objective + " behind", 0) == 0 ? objective : constraint)++;
    }
    page << "<tr data-stage=\"" << stage + 1 << "\"><td>" << stage + 1 << "</td><td>"
         << trials << "</td><td>" << in << "</td><td>" << objective << "</td><td>"
         << constraint << "</td><td>" << in - objective - constraint << "</td></tr>\n";
  }
  page << "</table>\n";

  // Every candidate's objective at its last stage, best first, +/- 2 SE.
  std::vector<int> order;
  for (std::size_t k = 0; k < last.size(); ++k) {
    if (last[k] != nullptr) order.push_back(static_cast<int>(k));
  }
  std::stable_sort(order.begin(), order.end(), [&last](int a, int b) {
    return last[static_cast<std::size_t>(a)]->objective.value >
           last[static_cast<std::size_t>(b)]->objective.value;
  });
  double lo = 1e300, hi = -1e300;
  for (int k : order) {
    const Estimate& e = last[static_cast<std::size_t>(k)]->objective;
    const double se = std::isnan(e.mcse) ? 0 : e.mcse;
    lo = std::min(lo, e.value - 2 * se);
    hi = std::max(hi, e.value + 2 * se);
  }
  if (!(hi > lo)) {
    lo -= 1;
    hi += 1;
  }
  const int rowheight = 14, left = 320, width = 420;
  const auto x = [&](double v) { return left + (v - lo) / (hi - lo) * width; };
  page << "<h2>Objective by candidate</h2>\n<p>At each candidate's last stage, with "
          "&plusmn;2 SE; the chosen design in bold, dropped candidates grey.</p>\n"
       << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << left + width + 80
       << "\" height=\"" << rowheight * (order.size() + 2) << "\" font-size=\"11\">\n";
  int i = 0;
  for (int k : order) {
    const CandidateStage& row = *last[static_cast<std::size_t>(k)];
    const double se = std::isnan(row.objective.mcse) ? 0 : row.objective.mcse;
    const int y = rowheight * (i++ + 1);
    const char* colour = k == r.chosen ? "#000" : row.dropped.empty() ? "#246" : "#999";
    page << "<g class=\"candidate\" data-candidate=\"" << k + 1 << "\"><title>"
         << htmlescape(run.plan.candidates[static_cast<std::size_t>(k)].label) << ": "
         << fixed(row.objective.value, 2) << " (SE " << fixed(se, 2) << "), stage "
         << row.stage + 1 << (row.dropped.empty() ? "" : "; dropped: " + htmlescape(row.dropped))
         << "</title><text x=\"4\" y=\"" << y + 4 << "\" fill=\"" << colour
         << "\"" << (k == r.chosen ? " font-weight=\"bold\"" : "") << ">"
         << htmlescape(run.plan.candidates[static_cast<std::size_t>(k)].label.substr(0, 52))
         << "</text><line x1=\"" << x(row.objective.value - 2 * se) << "\" x2=\""
         << x(row.objective.value + 2 * se) << "\" y1=\"" << y << "\" y2=\"" << y
         << "\" stroke=\"" << colour << "\"/><circle cx=\"" << x(row.objective.value)
         << "\" cy=\"" << y << "\" r=\"3\" fill=\"" << colour << "\"/></g>\n";
  }
  const int axis = rowheight * (static_cast<int>(order.size()) + 1) + 4;
  page << "<line x1=\"" << left << "\" x2=\"" << left + width << "\" y1=\"" << axis
       << "\" y2=\"" << axis << "\" stroke=\"#444\"/><text x=\"" << left << "\" y=\""
       << axis + 12 << "\">" << fixed(lo, 1) << "</text><text x=\"" << left + width
       << "\" y=\"" << axis + 12 << "\" text-anchor=\"end\">" << fixed(hi, 1)
       << "</text></svg>\n";

  // The survivors' constraint figures per scenario.
  page << "<h2>Survivors</h2>\n<table><tr><th class=\"l\">candidate</th>"
          "<th>objective</th><th>behind the best</th>";
  for (const Constraint& c : run.plan.constraints) page << "<th>" << htmlescape(c.figure) << "</th>";
  page << "</tr>\n";
  for (int k : r.survivors) {
    const CandidateStage& row = *last[static_cast<std::size_t>(k)];
    page << "<tr" << (k == r.chosen ? " class=\"chosen\"" : "") << "><td class=\"l\">"
         << htmlescape(run.plan.candidates[static_cast<std::size_t>(k)].label) << "</td><td>"
         << fixed(row.objective.value, 2) << " &plusmn; " << fixed(row.objective.mcse, 2)
         << "</td><td>" << fixed(row.behind.value, 2) << " &plusmn; "
         << fixed(row.behind.mcse, 2) << "</td>";
    for (const Constraint& c : run.plan.constraints) {
      page << "<td>";
      for (std::size_t s = 0; s < run.plan.scenarios.size(); ++s) {
        if (!c.scenarios.empty() &&
            std::find(c.scenarios.begin(), c.scenarios.end(), static_cast<int>(s)) ==
                c.scenarios.end()) {
          continue;
        }
        for (const OcFigure& f : ocfigures(row.oc[s])) {
          if (f.name == c.figure) {
            page << htmlescape(run.plan.scenarios[s].name) << " " << fixed(f.value, 1) << "<br>";
          }
        }
      }
      page << "</td>";
    }
    page << "</tr>\n";
  }
  page << "</table>\n";
  if (!r.confirmation.empty()) {
    page << "<h2>Confirmation</h2>\n<p>The chosen design on trials " << r.confirmfirst
         << " to " << r.confirmfirst + run.plan.confirmtrials - 1
         << ", which the race never ran: figures free of the race's selection.</p>\n"
            "<table><tr><th class=\"l\">scenario</th><th>correct</th><th>acceptable</th>"
            "<th>overtoxic</th><th>inconclusive</th><th>overtoxic patients</th>"
            "<th>patients</th></tr>\n";
    for (std::size_t s = 0; s < r.confirmation.size(); ++s) {
      const OperatingCharacteristics& oc = r.confirmation[s];
      const auto cell = [](const Estimate& e) {
        return "<td>" + fixed(e.value, 1) + " &plusmn; " + fixed(e.mcse, 1) + "</td>";
      };
      page << "<tr><td class=\"l\">" << htmlescape(run.plan.scenarios[s].name) << "</td>"
           << cell(oc.correct) << cell(oc.acceptable) << cell(oc.overtoxic)
           << cell(oc.inconclusive) << cell(oc.overtoxic_patients)
           << cell(oc.patients_mean) << "</tr>\n";
    }
    page << "</table>\n";
  }
  page << "</body></html>\n";
  return page.str();
}
