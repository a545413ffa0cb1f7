// engine/conductwords.cc: the words of a conducted trial.
#include "engine/conductwords.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// The shortest decimal text of `v` that reads back to the same double.
std::string num(double v) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

// "a", "a and b", "a, b and c".
std::string inwords(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

std::string patients(int n) {
  return std::to_string(n) + (n == 1 ? " patient" : " patients");
}

std::string closurewords(const Closure& x, const Design& design) {
  const DesignRules& rules = design.rules;
  std::vector<std::string> because;
  if (x.futile) {
    because.push_back(effwords(design) + " = " + probtext(x.preff, rules.futility) +
                      " < " + num(rules.futility));
  }
  if (x.unsafe) {
    because.push_back(toxwords(design) + " = " + probtext(x.prsafe, rules.safety) +
                      " < " + num(rules.safety));
  }
  return "close " + levels(x.at, design) + " as " + closurewhy(x) + ": " +
         inwords(because) + " with " + patients(x.npat) + ", more than " +
         std::to_string(rules.minpatients_close);
}

// A combination by its levels' names when `design` has them.
std::string levels(Combination at, const Design* design) {
  return design != nullptr ? levels(at, *design) : levels(at);
}

// outcomelabel and rulelabel, with the levels' names of `design`, if any.
std::string outcomelabelof(const Decision& d, const Design* design);
std::string rulelabelof(const Decision& d, const Design* design);

// How the trial ended, as the last part of outcomelabel: "select (1, 2)",
// "stop", "no selection"...
std::string endlabel(const Decision& d, const Design* design);

// The phase I rule's line.
std::string phase1words(const Decision& d, const Design& design) {
  const DesignRules& rules = design.rules;
  const std::string p = toxwords(design);
  // The candidates with the mean toxicity by which the rule chose.
  std::vector<std::string> cands;
  for (int i = 0; i < d.ncand; ++i) {
    for (const PosteriorRow& row : d.table) {
      if (row.at == d.candidates[i]) {
        cands.push_back(levels(row.at, design) + " " + probtext(row.meantox));
      }
    }
  }
  const std::string candidates =
      std::string(d.ncand == 1 ? "candidate" : "candidates") +
      " by mean toxicity, the closest to " + num(design.settings.targettox) +
      " chosen: " + inwords(cands);
  const std::string next = "next cohort at " + levels(d.next, design);
  switch (d.branch) {
    case Branch::kEscalate:
      return "escalate: " + p + " = " + probtext(d.prsafe, rules.escalate) + " > " +
             num(rules.escalate) + " at " + levels(d.current, design) + "; " +
             (d.ncand > 0 ? candidates : "no higher combination") + "; " + next;
    case Branch::kStay:
      return "stay: " + num(rules.deescalate) + " <= " + p + " = " +
             probtext(d.prsafe) + " <= " + num(rules.escalate) + " at " +
             levels(d.current, design) + "; " + next;
    case Branch::kDeescalate: break;
  }
  const std::string below = p + " = " + probtext(d.prsafe, rules.deescalate) +
                            " < " + num(rules.deescalate);
  if (d.stage == Stage::kEnded && d.end == TrialEnd::kPhase1Stopped) {
    return "stop: " + below + " at the lowest combination " + levels(d.current, design) +
           " with " + patients(d.ntotal) + ", more than " +
           std::to_string(rules.minpatients_stop) +
           ": the trial ends without a selection";
  }
  if (d.ncand == 0) {
    return "de-escalate: " + below + " at " + levels(d.current, design) +
           "; no lower combination, and " + patients(d.ntotal) +
           (d.ntotal == 1 ? " is" : " are") + " not more than " +
           std::to_string(rules.minpatients_stop) + "; " + next;
  }
  return "de-escalate: " + below + " at " + levels(d.current, design) + "; " +
         candidates + "; " + next;
}

// The admissible list at the switch, with the probabilities behind it.
std::string switchwords(const Decision& d, const Design& design) {
  const double edge = design.rules.admissible;
  std::vector<std::string> in;
  std::vector<std::string> out;
  for (const Comparison& x : d.comparisons) {
    if (x.what != Compared::kAdmissible) continue;
    const std::string item = levels(x.at, design) + " " + probtext(x.value, edge);
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
void phase2words(const Decision& d, const Design& design,
                 const std::string& streams, std::vector<std::string>& lines) {
  for (const Closure& x : d.closures) lines.push_back(closurewords(x, design));
  if (d.stage == Stage::kEnded) {
    switch (d.end) {
      case TrialEnd::kNoneAdmissible:
        lines.push_back("no combination is admissible: the trial ends without a selection");
        return;
      case TrialEnd::kAllClosed:
        if (design.rules.phase2 != Phase2Scope::kAdmissible) {
          lines.push_back(std::string("every admissible combination is closed or not "
                                      "allowed (phase II: ") +
                          phase2scopename(design.rules.phase2) +
                          "): the trial ends without a selection");
          return;
        }
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
      open.push_back(levels(row.at, design) + " " + probtext(row.meaneff));
      if (row.at == d.selected) top = row.meaneff;
    }
    lines.push_back("select " + levels(d.selected, design) +
                    ": the highest posterior mean response among the open "
                    "combinations, " + probtext(top) + " (open: " + inwords(open) + ")");
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
        shares.push_back(levels(row.at, design) + " " + probtext(d.probs[j]));
      }
    }
  }
  const char* among = "the open combinations";
  if (design.rules.phase2 == Phase2Scope::kTreated) {
    among = "the open combinations treated in the trial";
  } else if (design.rules.phase2 == Phase2Scope::kAdjacent) {
    among = "the open combinations treated in the trial or next to one";
  }
  lines.push_back(std::string("randomise among ") + among + ": " + inwords(shares));
  lines.push_back("draw: u = " + num(d.u) +
                  ", the first uniform number after this update on " + streams +
                  ", lies above " + probtext(below) + " and up to " + probtext(upto) +
                  ": next cohort at " + levels(d.next, design));
}

}  // namespace

std::string probtext(double v, double threshold) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", v);
  char edge[32];
  std::snprintf(edge, sizeof edge, "%.3f", threshold);
  if (v != threshold && std::string(buffer) == edge) {
    std::snprintf(buffer, sizeof buffer, "%.4f", v);
  }
  return buffer;
}

std::string toxwords(const Design& design) {
  return "pr(toxicity<" + num(design.settings.targettox) + ")";
}

std::string effwords(const Design& design) {
  return "pr(response>" + num(design.settings.mineff) + ")";
}

std::string levels(Combination at) {
  return "(" + std::to_string(at.d1 + 1) + ", " + std::to_string(at.d2 + 1) + ")";
}

std::string levels(Combination at, const Design& design) {
  if (design.labels1.empty() && design.labels2.empty()) return levels(at);
  const auto name = [](const std::vector<std::string>& labels, int level) {
    return labels.empty() ? std::to_string(level + 1)
                          : labels[static_cast<std::size_t>(level)];
  };
  return "(" + name(design.labels1, at.d1) + ", " + name(design.labels2, at.d2) + ")";
}

std::string levelname(const Design& design, int drug, int level) {
  const std::vector<std::string>& labels = drug == 1 ? design.labels1 : design.labels2;
  return labels.empty() ? std::to_string(level + 1) : labels[static_cast<std::size_t>(level)];
}

std::string streamswords(const Streams& streams) {
  if (!streams.seeded) return "the program's fixed streams";
  return "the seeded streams (" + std::to_string(streams.seed) + ", " +
         std::to_string(streams.shard) + ")";
}

std::vector<std::string> decisionwords(const Decision& d,
                                       const Design& design,
                                       const std::string& streams) {
  std::vector<std::string> lines;
  if (d.cohort == 0) {
    const bool lowest = d.next.d1 == 0 && d.next.d2 == 0;
    lines.push_back(std::string("start: the first cohort at ") +
                    (lowest ? "the lowest combination " : "the design's start ") +
                    levels(d.next, design));
    return lines;
  }
  if (d.phase1 && !d.switched) lines.push_back(phase1words(d, design));
  if (d.switched) lines.push_back(switchwords(d, design));
  if (d.phase2) phase2words(d, design, streams, lines);
  return lines;
}

namespace {

std::string outcomelabelof(const Decision& d, const Design* design) {
  std::vector<std::string> parts;
  if (d.cohort == 0) return "start at " + levels(d.next, design);
  if (d.switched) {
    std::vector<std::string> adm;
    for (Combination at : d.admissible) adm.push_back(levels(at, design));
    parts.push_back(adm.empty() ? "none admissible" : "admissible " + inwords(adm));
  }
  for (const Closure& x : d.closures) {
    parts.push_back("close " + levels(x.at, design) + " (" + closurewhy(x) + ")");
  }
  if (d.stage == Stage::kEnded) {
    switch (d.end) {
      case TrialEnd::kSelected: parts.push_back("select " + levels(d.selected, design)); break;
      case TrialEnd::kPhase1Stopped: parts.push_back("stop"); break;
      case TrialEnd::kNoneAdmissible: parts.push_back("no selection"); break;
      case TrialEnd::kAllClosed: parts.push_back("every combination closed"); break;
      case TrialEnd::kNoPositiveMean: parts.push_back("no selection"); break;
    }
  } else if (d.phase1 && !d.switched) {
    if (d.next == d.current) {
      parts.push_back("stay at " + levels(d.next, design));
    } else {
      parts.push_back(std::string(d.branch == Branch::kEscalate ? "escalate" : "de-escalate") +
                      " to " + levels(d.next, design));
    }
  } else {
    parts.push_back("next cohort at " + levels(d.next, design));
  }
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? "; " : "") + parts[i];
  return text;
}

std::string endlabel(const Decision& d, const Design* design) {
  const std::string full = outcomelabelof(d, design);
  const std::size_t last = full.rfind("; ");
  return last == std::string::npos ? full : full.substr(last + 2);
}

std::string rulelabelof(const Decision& d, const Design* design) {
  std::vector<std::string> parts;
  if (d.switched) {
    std::vector<std::string> adm;
    for (Combination at : d.admissible) adm.push_back(levels(at, design));
    parts.push_back(adm.empty() ? "none admissible" : "admissible " + inwords(adm));
  }
  for (const Closure& x : d.closures) {
    parts.push_back("close " + levels(x.at, design) + " (" + closurewhy(x) + ")");
  }
  if (d.stage == Stage::kEnded) parts.push_back(endlabel(d, design));
  if (parts.empty()) return "no closure";
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? "; " : "") + parts[i];
  return text;
}

}  // namespace

std::string outcomelabel(const Decision& d) { return outcomelabelof(d, nullptr); }

std::string outcomelabel(const Decision& d, const Design& design) {
  return outcomelabelof(d, &design);
}

std::string rulelabel(const Decision& d) { return rulelabelof(d, nullptr); }

std::string rulelabel(const Decision& d, const Design& design) {
  return rulelabelof(d, &design);
}

std::vector<std::string> closecallwords(const Decision& d, const Design& design) {
  const DesignRules& rules = design.rules;
  std::vector<std::string> lines;
  char se[32];
  for (const CloseCall& x : d.closecalls) {
    std::snprintf(se, sizeof se, "%.2g", x.se);
    if (x.candidates) {
      char apart[32];
      std::snprintf(apart, sizeof apart, "%.4f", std::fabs(x.value));
      lines.push_back("close call: the candidates " + levels(x.at, design) + " and " +
                      levels(x.other, design) + " are " + apart +
                      " apart in the distance of their mean toxicity from " +
                      num(design.settings.targettox) +
                      ", within 2 Monte Carlo standard errors of that "
                      "difference (SE " + se + "); " + levels(x.at, design) +
                      " was chosen as the closer");
      continue;
    }
    const char* role = "futile";
    std::string p = toxwords(design);
    switch (x.what) {
      case Compared::kPhase1:
        role = x.threshold == rules.escalate ? "escalate" : "de-escalate";
        break;
      case Compared::kAdmissible: role = "admissible"; break;
      case Compared::kSafety: role = "unsafe"; break;
      case Compared::kFutility: p = effwords(design); break;
    }
    lines.push_back("close call: " + p + " = " + probtext(x.value, x.threshold) +
                    " at " + levels(x.at, design) +
                    " is within 2 Monte Carlo standard errors (SE " + se + ") of " +
                    num(x.threshold) + " (" + role + ")");
  }
  return lines;
}

std::string pathwaywords(const Decision& d, const Design& design) {
  std::string text;
  if (d.phase1 && !d.switched) {
    text = outcomelabel(d, design) + "; " + toxwords(design) + " = " +
           probtext(d.prsafe) + " at " + levels(d.current, design);
  } else if (d.switched) {
    // What follows the switch depends on the responses, which the pathways
    // leave out.
    std::vector<std::string> adm;
    for (Combination at : d.admissible) adm.push_back(levels(at, design));
    text = "phase I complete: " +
           (adm.empty() ? std::string("none admissible, the trial ends")
                        : "admissible " + inwords(adm));
  } else if (d.stage == Stage::kEnded && d.end == TrialEnd::kPhase1Stopped) {
    text = outcomelabel(d, design);
  } else {
    std::vector<std::string> parts;
    for (const Closure& x : d.closures) {
      parts.push_back("close " + levels(x.at, design) + " (" + closurewhy(x) + ")");
    }
    if (parts.empty()) parts.push_back("no closure");
    if (d.stage == Stage::kEnded) {
      parts.push_back(endlabel(d, &design));
    } else if (d.randomised) {
      std::vector<std::string> shares;
      for (std::size_t j = 0; j < d.probs.size(); ++j) {
        if (d.probs[j] <= 0) continue;
        for (const PosteriorRow& row : d.table) {
          if (row.entry == static_cast<int>(j)) {
            shares.push_back(levels(row.at, design) + " " + probtext(d.probs[j]));
          }
        }
      }
      parts.push_back("randomise " + inwords(shares));
    }
    for (std::size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? "; " : "") + parts[i];
  }
  if (!d.closecalls.empty()) text += " (close call)";
  return text;
}

std::string statewords(const Decision& d, const Design& design, int total) {
  const SimulationSettings& s = design.settings;
  const int n1 = std::min(d.cohort, s.ncohort1);
  const int n2 = d.cohort - n1;
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
    if (row.entry >= 0) (row.open ? open : closed).push_back(levels(row.at, design));
  }
  if (!open.empty()) text += "; open: " + inwords(open);
  if (!closed.empty()) text += "; closed: " + inwords(closed);
  return text;
}

std::string closurewhy(const Closure& x) {
  return x.futile && x.unsafe ? "futile and unsafe" : x.futile ? "futile" : "unsafe";
}

std::string spreadwords(const Spread& s, const Design& design) {
  const DesignRules& rules = design.rules;
  const std::string at = " at " + levels(s.at, design) + ", against ";
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

const char* probabilityname(Compared what) {
  return what == Compared::kFutility ? decisionkey::kPrEff
                                     : decisionkey::kPrSafe;
}

std::string posteriorname(PosteriorMethod method) {
  return method == PosteriorMethod::kQuadrature ? "quadrature" : "gibbs";
}

std::string posteriorwords(PosteriorMethod method,
                           const QuadratureSettings& quadrature) {
  if (method != PosteriorMethod::kQuadrature) return posteriorname(method);
  const QuadratureSettings& q = quadrature;
  return posteriorname(method) + ", nodes " + std::to_string(q.toxnodes[0]) +
         "x" + std::to_string(q.toxnodes[1]) + "x" + std::to_string(q.toxnodes[2]) +
         " (toxicity), " + std::to_string(q.effnodes[0]) + "x" +
         std::to_string(q.effnodes[1]) + " (response), " + std::to_string(q.ndraws) +
         " draws per randomisation";
}
