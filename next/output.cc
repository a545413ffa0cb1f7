// next/output.cc: the text and JSON forms of a combosim-next report.
#include "next/output.h"

#include <algorithm>
#include <cstdio>

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace {

// A probability with three decimals, or four when three would read as the
// threshold it was compared with.
std::string prob(double v, double threshold = -1) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", v);
  char edge[32];
  std::snprintf(edge, sizeof edge, "%.3f", threshold);
  if (v != threshold && std::string(buffer) == edge) {
    std::snprintf(buffer, sizeof buffer, "%.4f", v);
  }
  return buffer;
}

std::string num(double v) { return numbertext(v); }

// "a", "a and b", "a, b and c".
std::string inwords(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

std::string toxwords(const TrialDesign& design) {
  return "pr(toxicity<" + num(design.settings.targettox) + ")";
}

std::string effwords(const TrialDesign& design) {
  return "pr(response>" + num(design.settings.mineff) + ")";
}

std::string patients(int n) {
  return std::to_string(n) + (n == 1 ? " patient" : " patients");
}

Json levelsjson(Combination at) { return Json::array({at.d1 + 1, at.d2 + 1}); }

const char* stagename(Stage stage) {
  switch (stage) {
    case Stage::kPhase1: return "phase1";
    case Stage::kPhase2: return "phase2";
    case Stage::kEnded: break;
  }
  return "ended";
}

const char* branchname(Branch branch) {
  switch (branch) {
    case Branch::kEscalate: return "escalate";
    case Branch::kDeescalate: return "deescalate";
    case Branch::kStay: break;
  }
  return "stay";
}

const char* comparedname(Compared what) {
  switch (what) {
    case Compared::kPhase1: return "phase1";
    case Compared::kAdmissible: return "admissible";
    case Compared::kSafety: return "safety";
    case Compared::kFutility: break;
  }
  return "futility";
}

// What a spread's probability is and the thresholds it was compared with.
std::string spreadwords(const Spread& s, const TrialDesign& design) {
  const DesignRules& rules = design.rules;
  const std::string at = " at " + levels(s.at) + ", against ";
  switch (s.what) {
    case Compared::kPhase1:
      return toxwords(design) + at + num(rules.escalate) + " (escalate) and " +
             num(rules.deescalate) + " (de-escalate)";
    case Compared::kAdmissible:
      return toxwords(design) + at + num(rules.admissible) + " (admissible)";
    case Compared::kSafety:
      return toxwords(design) + at + num(rules.safety) + " (unsafe)";
    case Compared::kFutility: break;
  }
  return effwords(design) + at + num(rules.futility) + " (futile)";
}

std::vector<double> thresholds(Compared what, const DesignRules& rules) {
  switch (what) {
    case Compared::kPhase1: return {rules.escalate, rules.deescalate};
    case Compared::kAdmissible: return {rules.admissible};
    case Compared::kSafety: return {rules.safety};
    case Compared::kFutility: break;
  }
  return {rules.futility};
}

std::string closurewhy(const Closure& x) {
  return x.futile && x.unsafe ? "futile and unsafe" : x.futile ? "futile" : "unsafe";
}

std::string closurewords(const Closure& x, const TrialDesign& design) {
  const DesignRules& rules = design.rules;
  std::vector<std::string> because;
  if (x.futile) {
    because.push_back(effwords(design) + " = " + prob(x.preff, rules.futility) +
                      " < " + num(rules.futility));
  }
  if (x.unsafe) {
    because.push_back(toxwords(design) + " = " + prob(x.prsafe, rules.safety) +
                      " < " + num(rules.safety));
  }
  return "close " + levels(x.at) + " as " + closurewhy(x) + ": " +
         inwords(because) + " with " + patients(x.npat) + ", more than " +
         std::to_string(rules.minpatients);
}

// The phase I rule's line.
std::string phase1words(const Decision& d, const TrialDesign& design) {
  const DesignRules& rules = design.rules;
  const std::string p = toxwords(design);
  // The candidates with the mean toxicity by which the rule chose.
  std::vector<std::string> cands;
  for (int i = 0; i < d.ncand; ++i) {
    for (const PosteriorRow& row : d.table) {
      if (row.at == d.candidates[i]) {
        cands.push_back(levels(row.at) + " " + prob(row.meantox));
      }
    }
  }
  const std::string candidates =
      std::string(d.ncand == 1 ? "candidate" : "candidates") +
      " by mean toxicity, the closest to " + num(design.settings.targettox) +
      " chosen: " + inwords(cands);
  const std::string next = "next cohort at " + levels(d.next);
  switch (d.branch) {
    case Branch::kEscalate:
      return "escalate: " + p + " = " + prob(d.prsafe, rules.escalate) + " > " +
             num(rules.escalate) + " at " + levels(d.current) + "; " +
             (d.ncand > 0 ? candidates : "no higher combination") + "; " + next;
    case Branch::kStay:
      return "stay: " + num(rules.deescalate) + " <= " + p + " = " +
             prob(d.prsafe) + " <= " + num(rules.escalate) + " at " +
             levels(d.current) + "; " + next;
    case Branch::kDeescalate: break;
  }
  const std::string below = p + " = " + prob(d.prsafe, rules.deescalate) +
                            " < " + num(rules.deescalate);
  if (d.stage == Stage::kEnded && d.end == TrialEnd::kPhase1Stopped) {
    return "stop: " + below + " at the lowest combination " + levels(d.current) +
           " with " + patients(d.ntotal) + ", more than " +
           std::to_string(rules.minpatients) +
           ": the trial ends without a selection";
  }
  if (d.ncand == 0) {
    return "de-escalate: " + below + " at " + levels(d.current) +
           "; no lower combination, and " + patients(d.ntotal) +
           (d.ntotal == 1 ? " is" : " are") + " not more than " +
           std::to_string(rules.minpatients) + "; " + next;
  }
  return "de-escalate: " + below + " at " + levels(d.current) + "; " +
         candidates + "; " + next;
}

// The admissible list at the switch, with the probabilities behind it.
std::string switchwords(const Decision& d, const TrialDesign& design) {
  const double edge = design.rules.admissible;
  std::vector<std::string> in;
  std::vector<std::string> out;
  for (const Comparison& x : d.comparisons) {
    if (x.what != Compared::kAdmissible) continue;
    const std::string item = levels(x.at) + " " + prob(x.value, edge);
    (x.value > edge ? in : out).push_back(item);
  }
  std::string text = "phase I complete after cohort " + std::to_string(d.cohort) +
                     "; admissible for phase II when " + toxwords(design) +
                     " > " + num(edge) + " in its last update: ";
  text += in.empty() ? "none" : inwords(in);
  if (!out.empty()) text += "; not admissible: " + inwords(out);
  return text;
}

// The lines of a phase II update: closures, then the end or the draw.
void phase2words(const Decision& d, const TrialDesign& design,
                 const std::string& streams, std::vector<std::string>& lines) {
  for (const Closure& x : d.closures) lines.push_back(closurewords(x, design));
  if (d.stage == Stage::kEnded) {
    switch (d.end) {
      case TrialEnd::kNoneAdmissible:
        lines.push_back("no combination is admissible: the trial ends without a selection");
        return;
      case TrialEnd::kAllClosed:
        lines.push_back("every admissible combination is closed: the trial ends "
                        "without a selection");
        return;
      case TrialEnd::kNoPositiveMean:
        lines.push_back("no selection: no open combination has a mean response above 0");
        return;
      case TrialEnd::kPhase1Stopped:
        return;
      case TrialEnd::kSelected: break;
    }
    std::vector<std::string> open;
    double top = 0;
    for (const PosteriorRow& row : d.table) {
      if (row.entry < 0 || !row.open) continue;
      open.push_back(levels(row.at) + " " + prob(row.meaneff));
      if (row.at == d.selected) top = row.meaneff;
    }
    lines.push_back("select " + levels(d.selected) +
                    ": the highest posterior mean response among the open "
                    "combinations, " + prob(top) + " (open: " + inwords(open) + ")");
    return;
  }
  if (!d.randomised) return;
  std::vector<std::string> shares;
  double below = 0;
  double upto = 0;
  for (std::size_t j = 0; j < d.probs.size(); ++j) {
    if (static_cast<int>(j) <= d.drawn) upto = upto + d.probs[j];
    if (static_cast<int>(j) < d.drawn) below = upto;
    if (d.probs[j] <= 0) continue;
    for (const PosteriorRow& row : d.table) {
      if (row.entry == static_cast<int>(j)) {
        shares.push_back(levels(row.at) + " " + prob(d.probs[j]));
      }
    }
  }
  lines.push_back("randomise among the open combinations: " + inwords(shares));
  lines.push_back("draw: u = " + num(d.u) +
                  ", the first uniform number after this update on " + streams +
                  ", lies above " + prob(below) + " and up to " + prob(upto) +
                  ": next cohort at " + levels(d.next));
}

// The text table of the posterior.
void writetable(std::ostream& out, const Decision& d, const TrialDesign& design) {
  const bool phase2 = std::any_of(d.table.begin(), d.table.end(),
                                  [](const PosteriorRow& r) { return r.entry >= 0; }) ||
                      d.phase2;
  char line[256];
  std::snprintf(line, sizeof line, "  %-11s  %8s  %10s  %9s  %8s  %13s",
                "combination", "patients", "toxicities", "responses", "mean tox",
                ("pr(tox<" + num(design.settings.targettox) + ")").c_str());
  out << line;
  if (phase2) {
    std::snprintf(line, sizeof line, "  %13s  %9s  %s",
                  ("pr(resp>" + num(design.settings.mineff) + ")").c_str(),
                  "mean resp", "status");
    out << line;
  }
  out << '\n';
  for (const PosteriorRow& row : d.table) {
    std::snprintf(line, sizeof line, "  %-11s  %8d  %10d  %9d  %8s  %13s",
                  levels(row.at).c_str(), row.npat, row.ntox, row.nresp,
                  prob(row.meantox).c_str(), prob(row.prsafe).c_str());
    out << line;
    if (phase2) {
      if (row.entry < 0) {
        std::snprintf(line, sizeof line, "  %13s  %9s  %s", "-", "-", "not admissible");
      } else {
        std::snprintf(line, sizeof line, "  %13s  %9s  %s", prob(row.preff).c_str(),
                      prob(row.meaneff).c_str(), row.open ? "open" : "closed");
      }
      out << line;
    }
    out << '\n';
  }
}

// Why an entry is closed, from the closures.
const Closure* closureof(const std::vector<Closure>& closures, int entry) {
  for (const Closure& x : closures) {
    if (x.entry == entry) return &x;
  }
  return nullptr;
}

// The design choice for each cohort: the lowest combination for the first,
// the decision after the one before for the others.
std::vector<Combination> choices(const NextReport& r) {
  std::vector<Combination> chosen;
  for (std::size_t i = 0; i < r.cohorts.size(); ++i) {
    chosen.push_back(i == 0 ? Combination{0, 0} : r.result.history[i - 1].next);
  }
  return chosen;
}

std::string statewords(const NextReport& r) {
  const Decision& d = r.result.next;
  const SimulationSettings& s = r.design.settings;
  const int n1 = std::min(d.cohort, s.ncohort1);
  const int n2 = d.cohort - n1;
  int total = 0;
  for (const Cohort& k : r.cohorts) total += k.npat;
  std::string text = "state after cohort " + std::to_string(d.cohort) + ": ";
  if (d.stage == Stage::kPhase1) {
    text += "phase I, " + std::to_string(n1) + " of " + std::to_string(s.ncohort1) +
            " phase I cohorts treated";
  } else {
    text += d.stage == Stage::kPhase2 ? "phase II, " : "ended (" + endwords(d.end) + "), ";
    text += std::to_string(n1) + " phase I and " + std::to_string(n2) + " of " +
            std::to_string(s.ncohort2) + " phase II cohorts treated";
  }
  text += ", " + patients(total);
  std::vector<std::string> open;
  std::vector<std::string> closed;
  for (const PosteriorRow& row : d.table) {
    if (row.entry >= 0) (row.open ? open : closed).push_back(levels(row.at));
  }
  if (!open.empty()) text += "; open: " + inwords(open);
  if (!closed.empty()) text += "; closed: " + inwords(closed);
  return text;
}

}  // namespace

std::string levels(Combination at) {
  return "(" + std::to_string(at.d1 + 1) + ", " + std::to_string(at.d2 + 1) + ")";
}

std::string streamswords(const Streams& streams) {
  if (!streams.seeded) return "the program's fixed streams";
  return "the seeded streams (" + std::to_string(streams.seed) + ", " +
         std::to_string(streams.shard) + ")";
}

std::vector<std::string> decisionwords(const Decision& d,
                                       const TrialDesign& design,
                                       const std::string& streams) {
  std::vector<std::string> lines;
  if (d.cohort == 0) {
    lines.push_back("start: the first cohort at the lowest combination " +
                    levels(d.next));
    return lines;
  }
  if (d.phase1 && !d.switched) lines.push_back(phase1words(d, design));
  if (d.switched) lines.push_back(switchwords(d, design));
  if (d.phase2) phase2words(d, design, streams, lines);
  return lines;
}

std::string outcomelabel(const Decision& d) {
  std::vector<std::string> parts;
  if (d.cohort == 0) return "start at " + levels(d.next);
  if (d.switched) {
    std::vector<std::string> adm;
    for (Combination at : d.admissible) adm.push_back(levels(at));
    parts.push_back(adm.empty() ? "none admissible" : "admissible " + inwords(adm));
  }
  for (const Closure& x : d.closures) {
    parts.push_back("close " + levels(x.at) + " (" + closurewhy(x) + ")");
  }
  if (d.stage == Stage::kEnded) {
    switch (d.end) {
      case TrialEnd::kSelected: parts.push_back("select " + levels(d.selected)); break;
      case TrialEnd::kPhase1Stopped: parts.push_back("stop"); break;
      case TrialEnd::kNoneAdmissible: parts.push_back("no selection"); break;
      case TrialEnd::kAllClosed: parts.push_back("every combination closed"); break;
      case TrialEnd::kNoPositiveMean: parts.push_back("no selection"); break;
    }
  } else if (d.phase1 && !d.switched) {
    if (d.next == d.current) {
      parts.push_back("stay at " + levels(d.next));
    } else {
      parts.push_back(std::string(d.branch == Branch::kEscalate ? "escalate" : "de-escalate") +
                      " to " + levels(d.next));
    }
  } else {
    parts.push_back("next cohort at " + levels(d.next));
  }
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? "; " : "") + parts[i];
  return text;
}

void writetext(std::ostream& out, const NextReport& r) {
  const TrialDesign& design = r.design;
  const SimulationSettings& s = design.settings;
  const DesignRules& rules = design.rules;
  const ConductResult& res = r.result;
  const Decision& d = res.next;

  out << "combosim-next " << COMBOSIM_VERSION << '\n';
  for (const InputFile& f : r.inputs) {
    out << f.role << " file: " << f.path << " (sha256 " << f.sha256 << ")\n";
  }
  out << "design: " << s.ndose1 << " by " << s.ndose2
      << " combinations, target toxicity " << num(s.targettox)
      << ", lowest acceptable response " << num(s.mineff) << "; phase I "
      << s.ncohort1 << " cohorts of " << s.cohortsize1 << ", phase II "
      << s.ncohort2 << " cohorts of " << s.cohortsize2 << '\n';
  out << "  prior toxicity: drug 1";
  for (int i = 0; i < s.ndose1; ++i) out << (i > 0 ? ", " : " ") << num(design.prior1[i]);
  out << "; drug 2";
  for (int i = 0; i < s.ndose2; ++i) out << (i > 0 ? ", " : " ") << num(design.prior2[i]);
  out << '\n';
  out << "  phase I: escalate when " << toxwords(design) << " > " << num(rules.escalate)
      << ", de-escalate when < " << num(rules.deescalate)
      << ", stop at (1, 1) with more than " << rules.minpatients << " patients\n";
  out << "  phase II: admissible when " << toxwords(design) << " > "
      << num(rules.admissible) << "; closed as unsafe when < " << num(rules.safety)
      << ", as futile when " << effwords(design) << " < " << num(rules.futility)
      << ", with more than " << rules.minpatients << " patients\n";
  out << "random numbers: every posterior update starts afresh on "
      << streamswords(r.streams) << '\n';

  out << "\ncohorts treated: " << r.cohorts.size() << '\n';
  if (!r.cohorts.empty()) {
    const std::vector<Combination> chosen = choices(r);
    char line[160];
    std::snprintf(line, sizeof line, "  %6s  %-5s  %-11s  %8s  %10s  %9s  %s\n",
                  "cohort", "phase", "combination", "patients", "toxicities",
                  "responses", "design's choice");
    out << line;
    for (std::size_t i = 0; i < r.cohorts.size(); ++i) {
      const Cohort& k = r.cohorts[i];
      std::snprintf(line, sizeof line, "  %6zu  %-5s  %-11s  %8d  %10d  %9d  %s\n",
                    i + 1, static_cast<int>(i) < s.ncohort1 ? "I" : "II",
                    levels(k.at).c_str(), k.npat, k.ntox, k.nresp,
                    levels(chosen[i]).c_str());
      out << line;
    }
  }
  for (const std::string& w : res.warnings) out << "warning: " << w << '\n';

  out << '\n' << statewords(r) << '\n';
  if (!d.table.empty()) {
    out << "\nposterior after cohort " << d.cohort << ":\n";
    writetable(out, d, design);
    for (const PosteriorRow& row : d.table) {
      const Closure* x = row.entry >= 0 && !row.open ? closureof(res.closures, row.entry)
                                                     : nullptr;
      if (x != nullptr) {
        out << "  " << levels(row.at) << " closed after cohort " << x->cohort
            << " as " << closurewhy(*x) << '\n';
      }
    }
  }

  out << "\ndecision after cohort " << d.cohort << ":\n";
  for (const std::string& line : decisionwords(d, design, streamswords(r.streams))) {
    out << "  " << line << '\n';
  }

  const Stability& st = res.stability;
  if (r.replicates > 0 && r.cohorts.empty()) {
    out << "\nstability: no posterior update to recompute before the first cohort\n";
  }
  if (st.replicates > 0) {
    out << "\nstability over " << st.replicates
        << " replicates of this decision, replicate r on the seeded streams ("
        << st.seed << ", r), r = 1 to " << st.replicates << ":\n";
    for (const OutcomeCount& o : st.outcomes) {
      out << "  " << outcomelabel(o.decision) << ": " << o.count << " of "
          << st.replicates << '\n';
    }
    if (st.spreads.empty()) {
      out << "  no rule compared a posterior probability with a threshold: no "
             "open combination has more than "
          << rules.minpatients << " patients\n";
    }
    for (const Spread& x : st.spreads) {
      out << "  " << spreadwords(x, design) << ": mean " << prob(x.mean) << ", sd "
          << prob(x.sd) << ", from " << prob(x.min) << " to " << prob(x.max);
      if (x.n != st.replicates) out << " (" << x.n << " replicates)";
      out << '\n';
    }
  }
}

Json reportjson(const NextReport& r) {
  const TrialDesign& design = r.design;
  const SimulationSettings& s = design.settings;
  const ConductResult& res = r.result;
  const Decision& d = res.next;

  Json j;
  j["program"] = "combosim-next";
  j["version"] = COMBOSIM_VERSION;
  j["inputs"] = Json::array();
  for (const InputFile& f : r.inputs) {
    j["inputs"].push_back({{"role", f.role}, {"file", f.path}, {"sha256", f.sha256}});
  }
  Json dj;
  dj["ndose1"] = s.ndose1;
  dj["ndose2"] = s.ndose2;
  dj["targettox"] = s.targettox;
  dj["mineff"] = s.mineff;
  dj["scenprior1"] = std::vector<double>(design.prior1, design.prior1 + s.ndose1);
  dj["scenprior2"] = std::vector<double>(design.prior2, design.prior2 + s.ndose2);
  dj["ncohort1"] = s.ncohort1;
  dj["cohortsize1"] = s.cohortsize1;
  dj["ncohort2"] = s.ncohort2;
  dj["cohortsize2"] = s.cohortsize2;
  dj["rules"] = rulestojson(design.rules);
  j["design"] = dj;
  j["random"] = r.streams.seeded
                    ? Json{{"streams", "seeded"}, {"seed", r.streams.seed},
                           {"stream", r.streams.shard}}
                    : Json{{"streams", "fixed"}};

  j["cohorts"] = Json::array();
  const std::vector<Combination> chosen = choices(r);
  for (std::size_t i = 0; i < r.cohorts.size(); ++i) {
    const Cohort& k = r.cohorts[i];
    j["cohorts"].push_back({{"cohort", i + 1},
                            {"phase", static_cast<int>(i) < s.ncohort1 ? 1 : 2},
                            {"combination", levelsjson(k.at)},
                            {"patients", k.npat},
                            {"toxicities", k.ntox},
                            {"responses", k.nresp},
                            {"design_choice", levelsjson(chosen[i])}});
  }
  j["warnings"] = res.warnings;

  Json state;
  state["stage"] = stagename(d.stage);
  state["cohorts"] = d.cohort;
  state["phase1_cohorts"] = std::min(d.cohort, s.ncohort1);
  state["phase2_cohorts"] = d.cohort - std::min(d.cohort, s.ncohort1);
  int total = 0;
  for (const Cohort& k : r.cohorts) total += k.npat;
  state["patients"] = total;
  if (d.stage == Stage::kEnded) state["end"] = trialendname(d.end);
  j["state"] = state;

  j["posterior"] = Json::array();
  for (const PosteriorRow& row : d.table) {
    Json p;
    p["combination"] = levelsjson(row.at);
    p["patients"] = row.npat;
    p["toxicities"] = row.ntox;
    p["responses"] = row.nresp;
    p["mean_toxicity"] = row.meantox;
    p["pr_toxicity_below_target"] = row.prsafe;
    if (row.entry >= 0) {
      p["pr_response_above_mineff"] = row.preff;
      p["mean_response"] = row.meaneff;
      p["status"] = row.open ? "open" : "closed";
      if (const Closure* x = closureof(res.closures, row.entry); !row.open && x) {
        p["closed_after_cohort"] = x->cohort;
        p["closed_as"] = closurewhy(*x);
      }
    } else if (d.phase2 || d.stage == Stage::kPhase2) {
      p["status"] = "not admissible";
    }
    j["posterior"].push_back(p);
  }

  Json dec;
  dec["after_cohort"] = d.cohort;
  dec["outcome"] = outcomelabel(d);
  dec["text"] = decisionwords(d, design, streamswords(r.streams));
  dec["stage"] = stagename(d.stage);
  dec["next"] = d.stage == Stage::kEnded ? Json(nullptr) : levelsjson(d.next);
  if (d.stage == Stage::kEnded) dec["end"] = trialendname(d.end);
  dec["selected"] = d.stage == Stage::kEnded && d.end == TrialEnd::kSelected
                        ? levelsjson(d.selected)
                        : Json(nullptr);
  if (d.phase1) {
    Json rule;
    rule["at"] = levelsjson(d.current);
    rule["pr_toxicity_below_target"] = d.prsafe;
    rule["branch"] = branchname(d.branch);
    rule["candidates"] = Json::array();
    for (int i = 0; i < d.ncand; ++i) rule["candidates"].push_back(levelsjson(d.candidates[i]));
    rule["patients"] = d.ntotal;
    dec["phase1_rule"] = rule;
  }
  if (d.switched) {
    dec["admissible"] = Json::array();
    for (Combination at : d.admissible) dec["admissible"].push_back(levelsjson(at));
  }
  if (d.phase2) {
    dec["closures"] = Json::array();
    for (const Closure& x : d.closures) {
      dec["closures"].push_back({{"combination", levelsjson(x.at)},
                                 {"futile", x.futile},
                                 {"unsafe", x.unsafe},
                                 {"patients", x.npat},
                                 {"pr_response_above_mineff", x.preff},
                                 {"pr_toxicity_below_target", x.prsafe}});
    }
  }
  j["decision"] = dec;

  if (d.randomised) {
    Json rj;
    rj["probabilities"] = Json::array();
    for (std::size_t k = 0; k < d.probs.size(); ++k) {
      for (const PosteriorRow& row : d.table) {
        if (row.entry == static_cast<int>(k)) {
          rj["probabilities"].push_back(
              {{"combination", levelsjson(row.at)}, {"probability", d.probs[k]}});
        }
      }
    }
    rj["u"] = d.u;
    rj["drawn"] = levelsjson(d.next);
    j["randomisation"] = rj;
  } else {
    j["randomisation"] = nullptr;
  }

  const Stability& st = res.stability;
  if (st.replicates > 0) {
    Json sj;
    sj["replicates"] = st.replicates;
    sj["seed"] = st.seed;
    sj["outcomes"] = Json::array();
    for (const OutcomeCount& o : st.outcomes) {
      sj["outcomes"].push_back({{"outcome", outcomelabel(o.decision)}, {"count", o.count}});
    }
    sj["probabilities"] = Json::array();
    for (const Spread& x : st.spreads) {
      sj["probabilities"].push_back(
          {{"rule", comparedname(x.what)},
           {"combination", levelsjson(x.at)},
           {"probability", x.what == Compared::kFutility ? "pr_response_above_mineff"
                                                         : "pr_toxicity_below_target"},
           {"thresholds", thresholds(x.what, design.rules)},
           {"replicates", x.n},
           {"mean", x.mean},
           {"sd", x.sd},
           {"min", x.min},
           {"max", x.max}});
    }
    j["stability"] = sj;
  } else {
    j["stability"] = nullptr;
  }
  return j;
}
