// next/output.cc: the text and JSON forms of a combosim-next report.
#include "next/output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "formats/csvtext.h"

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace {

Json levelsjson(Combination at) { return Json::array({at.d1 + 1, at.d2 + 1}); }

// Does the design name its dose levels?
bool labelled(const Design& design) {
  return !design.labels1.empty() || !design.labels2.empty();
}

// The names of a combination's levels, beside its numbers in JSON.
Json labelsjson(Combination at, const Design& design) {
  return Json::array({levelname(design, 1, at.d1), levelname(design, 2, at.d2)});
}

// Puts `key`_labels beside `key` in `j` when the design names its levels.
void putlabels(Json& j, const std::string& key, Combination at, const Design& design) {
  if (labelled(design)) j[key + "_labels"] = labelsjson(at, design);
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

// The text table of the posterior.
void writetable(std::ostream& out, const Decision& d, const Design& design) {
  const bool phase2 = std::any_of(d.table.begin(), d.table.end(),
                                  [](const PosteriorRow& r) { return r.entry >= 0; }) ||
                      d.phase2;
  char line[256];
  std::snprintf(line, sizeof line, "  %-11s  %8s  %10s  %9s  %8s  %13s",
                "combination", "patients", "toxicities", "responses", "mean tox",
                ("pr(tox<" + numbertext(design.settings.targettox) + ")").c_str());
  out << line;
  // The levels' names, when the design has them, close each row.
  const bool names = labelled(design);
  const char* last = names ? "  %13s  %9s  %-14s" : "  %13s  %9s  %s";
  if (phase2) {
    std::snprintf(line, sizeof line, last,
                  ("pr(resp>" + numbertext(design.settings.mineff) + ")").c_str(),
                  "mean resp", "status");
    out << line;
  }
  if (names) out << "  dose levels";
  out << '\n';
  for (const PosteriorRow& row : d.table) {
    std::snprintf(line, sizeof line, "  %-11s  %8d  %10d  %9d  %8s  %13s",
                  levels(row.at).c_str(), row.npat, row.ntox, row.nresp,
                  probtext(row.meantox).c_str(), probtext(row.prsafe).c_str());
    out << line;
    if (phase2) {
      if (row.entry < 0) {
        std::snprintf(line, sizeof line, last, "-", "-", "not admissible");
      } else {
        std::snprintf(line, sizeof line, last, probtext(row.preff).c_str(),
                      probtext(row.meaneff).c_str(), row.open ? "open" : "closed");
      }
      out << line;
    }
    if (names) out << "  " << levels(row.at, design);
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

// The design choice for each cohort: the starting combination for the
// first, the decision after the one before for the others.
std::vector<Combination> choices(const NextReport& r) {
  const Combination start{r.design.rules.start1, r.design.rules.start2};
  std::vector<Combination> chosen;
  for (std::size_t i = 0; i < r.cohorts.size(); ++i) {
    chosen.push_back(i == 0 ? start : r.result.history[i - 1].next);
  }
  return chosen;
}

// The phase II scope in words, after the phase II rules; "" for every
// admissible combination.
std::string scopewords(Phase2Scope scope) {
  switch (scope) {
    case Phase2Scope::kAdmissible: break;
    case Phase2Scope::kTreated:
      return "; randomises only to combinations treated in the trial";
    case Phase2Scope::kAdjacent:
      return "; randomises only to combinations treated in the trial or one "
             "level from one in one drug";
  }
  return "";
}

// The patients of every cohort.
int patientstotal(const NextReport& r) {
  int total = 0;
  for (const Cohort& k : r.cohorts) total += k.npat;
  return total;
}

// At the switch the decision reads pr(toxicity < target) from the last phase
// I update and the table shows the phase II refit: true when they agree for
// every combination (under quadrature: the same data, exact).
bool refitsame(const Decision& d) {
  for (const Comparison& x : d.comparisons) {
    if (x.what != Compared::kAdmissible) continue;
    for (const PosteriorRow& row : d.table) {
      if (row.at == x.at && row.prsafe != x.value) return false;
    }
  }
  return true;
}

// The farthest a pathway goes.
int pathwaydepth(const Pathways& p) {
  int depth = 0;
  for (const PathwayNode& n : p.nodes) depth = std::max(depth, n.depth);
  return depth;
}

std::string pathwaysmethod(const NextReport& r) {
  if (r.design.method != PosteriorMethod::kGibbs) {
    return "exact: under " + posteriorname(r.design.method) +
           " every entry is the same under every seed";
  }
  return "under gibbs each entry is one realisation of the sampler, every update "
         "starting afresh on " + streamswords(r.streams) +
         " as the real cohort's would; another realisation can differ where a "
         "decision is a close call";
}

std::string pathwaysheading(const NextReport& r) {
  const Pathways& p = r.result.pathways;
  const SimulationSettings& s = r.design.settings;
  char updates[48];
  std::snprintf(updates, sizeof updates, "%.0f", p.updates);
  if (p.phase2) {
    return "pathways: the design's decisions after the next cohort of " +
           std::to_string(s.cohortsize2) +
           " at each open combination it may go to, by its toxicities and "
           "responses (" + updates + " posterior updates):";
  }
  const int depth = pathwaydepth(p);
  return "pathways: the design's decisions after each number of toxicities in " +
         (depth == 1 ? "the next cohort of " + std::to_string(s.cohortsize1) +
                           ", at the combination the design chose"
                     : "each of the next " + std::to_string(depth) + " cohorts of " +
                           std::to_string(s.cohortsize1) +
                           ", each at the combination the design chooses") +
         "; responses do not enter phase I decisions, and a pathway that reaches "
         "phase II ends with the admissible list (" + updates + " posterior updates):";
}

void writepathways(std::ostream& out, const NextReport& r) {
  const Pathways& p = r.result.pathways;
  const Design& design = r.design;
  out << '\n' << pathwaysheading(r) << '\n';
  out << "  " << pathwaysmethod(r) << '\n';
  if (p.depth > pathwaydepth(p) && !p.phase2) {
    out << "  the pathways end at the switch to phase II, after cohort "
        << design.settings.ncohort1 << '\n';
  }
  Combination at{-1, -1};
  for (const PathwayNode& n : p.nodes) {
    const Cohort& k = n.cohort;
    if (p.phase2) {
      if (!(k.at == at)) {
        at = k.at;
        out << "  next cohort at " << levels(at, design) << ":\n";
      }
      out << "    " << k.ntox << (k.ntox == 1 ? " toxicity, " : " toxicities, ")
          << k.nresp << (k.nresp == 1 ? " response: " : " responses: ")
          << pathwaywords(n.decision, design) << '\n';
      continue;
    }
    out << std::string(static_cast<std::size_t>(2 * n.depth), ' ') << "cohort "
        << n.decision.cohort << " at " << levels(k.at, design) << ", " << k.ntox << " of "
        << k.npat << " with toxicity: " << pathwaywords(n.decision, design) << '\n';
  }
}

// A CSV row's field of a number.
std::string csvnumber(double v) { return numbertext(v); }

}  // namespace

std::string pathwayscsv(const NextReport& r) {
  const Pathways& p = r.result.pathways;
  std::vector<Combination> entries;  // phase II: the admissible list
  if (p.phase2) {
    for (const PosteriorRow& row : r.result.next.table) {
      if (row.entry >= 0) entries.push_back(row.at);
    }
  }
  std::string text =
      "node,parent,depth,cohort,drug1,drug2,patients,toxicities,responses,outcome,"
      "stage,next_drug1,next_drug2,pr_toxicity_below_target,admissible,closures,"
      "close_call";
  for (Combination at : entries) {
    text += ",randomise_" + std::to_string(at.d1 + 1) + "_" + std::to_string(at.d2 + 1);
  }
  const bool names = labelled(r.design);
  if (names) text += ",drug1_label,drug2_label";
  text += "\n";
  for (std::size_t i = 0; i < p.nodes.size(); ++i) {
    const PathwayNode& n = p.nodes[i];
    const Decision& d = n.decision;
    std::vector<std::string> fields;
    fields.push_back(std::to_string(i + 1));
    fields.push_back(n.parent >= 0 ? std::to_string(n.parent + 1) : "");
    fields.push_back(std::to_string(n.depth));
    fields.push_back(std::to_string(d.cohort));
    fields.push_back(std::to_string(n.cohort.at.d1 + 1));
    fields.push_back(std::to_string(n.cohort.at.d2 + 1));
    fields.push_back(std::to_string(n.cohort.npat));
    fields.push_back(std::to_string(n.cohort.ntox));
    fields.push_back(std::to_string(n.cohort.nresp));
    // At the switch what follows the admissible list depends on responses.
    const bool switched = d.switched && !p.phase2;
    // In phase II the next cohort's combination is the randomisation's draw,
    // which the probabilities describe.
    fields.push_back(csvfield(switched    ? pathwaywords(d, r.design)
                              : p.phase2 ? rulelabel(d, r.design)
                                         : outcomelabel(d, r.design)));
    const bool next = d.stage != Stage::kEnded && !switched && !p.phase2;
    fields.push_back(switched && d.stage != Stage::kEnded ? "phase2" : stagename(d.stage));
    fields.push_back(next ? std::to_string(d.next.d1 + 1) : "");
    fields.push_back(next ? std::to_string(d.next.d2 + 1) : "");
    fields.push_back(d.phase1 && !d.switched ? csvnumber(d.prsafe) : "");
    std::string adm;
    for (Combination at : d.admissible) adm += (adm.empty() ? "" : " ") + levels(at, r.design);
    fields.push_back(csvfield(adm));
    std::string closed;
    if (!switched) {
      for (const Closure& x : d.closures) {
        closed += (closed.empty() ? "" : "; ") + levels(x.at, r.design) + " " + closurewhy(x);
      }
    }
    fields.push_back(csvfield(closed));
    fields.push_back(d.closecalls.empty() ? "false" : "true");
    for (std::size_t k = 0; k < entries.size(); ++k) {
      fields.push_back(d.randomised && k < d.probs.size() ? csvnumber(d.probs[k]) : "");
    }
    if (names) {
      fields.push_back(csvfield(levelname(r.design, 1, n.cohort.at.d1)));
      fields.push_back(csvfield(levelname(r.design, 2, n.cohort.at.d2)));
    }
    for (std::size_t f = 0; f < fields.size(); ++f) text += (f > 0 ? "," : "") + fields[f];
    text += "\n";
  }
  return text;
}

void writetext(std::ostream& out, const NextReport& r) {
  const Design& design = r.design;
  const SimulationSettings& s = design.settings;
  const DesignRules& rules = design.rules;
  const ConductResult& res = r.result;
  const Decision& d = res.next;

  out << "combosim-next " << COMBOSIM_VERSION << '\n';
  for (const InputFile& f : r.inputs) {
    out << f.role << " file: " << f.path << " (sha256 " << f.sha256 << ")\n";
  }
  out << "design: " << s.ndose1 << " by " << s.ndose2
      << " combinations, target toxicity " << numbertext(s.targettox)
      << ", lowest acceptable response " << numbertext(s.mineff) << "; phase I "
      << s.ncohort1 << " cohorts of " << s.cohortsize1 << ", phase II "
      << s.ncohort2 << " cohorts of " << s.cohortsize2 << '\n';
  out << "  prior toxicity: drug 1";
  for (int i = 0; i < s.ndose1; ++i) out << (i > 0 ? ", " : " ") << numbertext(design.prior1[i]);
  out << "; drug 2";
  for (int i = 0; i < s.ndose2; ++i) out << (i > 0 ? ", " : " ") << numbertext(design.prior2[i]);
  out << '\n';
  if (labelled(design)) {
    out << "  dose levels: drug 1";
    for (int i = 0; i < s.ndose1; ++i) {
      out << (i > 0 ? ", " : " ") << i + 1 << " = " << levelname(design, 1, i);
    }
    out << "; drug 2";
    for (int i = 0; i < s.ndose2; ++i) {
      out << (i > 0 ? ", " : " ") << i + 1 << " = " << levelname(design, 2, i);
    }
    out << '\n';
  }
  out << "  phase I: ";
  if (rules.start1 != 0 || rules.start2 != 0) {
    out << "first cohort at " << levels({rules.start1, rules.start2}, design) << "; ";
  }
  out << "escalate when " << toxwords(design) << " > " << numbertext(rules.escalate)
      << ", de-escalate when < " << numbertext(rules.deescalate)
      << ", stop at " << levels({0, 0}, design) << " with more than "
      << rules.minpatients_stop << " patients\n";
  out << "  phase II: admissible when " << toxwords(design) << " > "
      << numbertext(rules.admissible) << "; closed as unsafe when < " << numbertext(rules.safety)
      << ", as futile when " << effwords(design) << " < " << numbertext(rules.futility)
      << ", with more than " << rules.minpatients_close << " patients"
      << scopewords(rules.phase2) << '\n';
  if (design.method != PosteriorMethod::kGibbs) {
    out << "  posterior: " << posteriorwords(design.method, design.quadrature) << "; Boost "
        << boostversion() << '\n';
  }
  out << "random numbers: every posterior update starts afresh on "
      << streamswords(r.streams) << '\n';

  out << "\ncohorts treated: " << r.cohorts.size() << '\n';
  if (!r.cohorts.empty()) {
    const std::vector<Combination> chosen = choices(r);
    // The levels' names, when the design has them, close each row.
    const bool names = labelled(design);
    char line[160];
    std::snprintf(line, sizeof line, "  %6s  %-5s  %-11s  %8s  %10s  %9s  %s",
                  "cohort", "phase", "combination", "patients", "toxicities",
                  "responses", "design's choice");
    out << line << (names ? "  dose levels (design's choice)\n" : "\n");
    for (std::size_t i = 0; i < r.cohorts.size(); ++i) {
      const Cohort& k = r.cohorts[i];
      std::snprintf(line, sizeof line,
                    names ? "  %6zu  %-5s  %-11s  %8d  %10d  %9d  %-15s"
                          : "  %6zu  %-5s  %-11s  %8d  %10d  %9d  %s",
                    i + 1, static_cast<int>(i) < s.ncohort1 ? "I" : "II",
                    levels(k.at).c_str(), k.npat, k.ntox, k.nresp,
                    levels(chosen[i]).c_str());
      out << line;
      if (names) {
        out << "  " << levels(k.at, design);
        if (!(k.at == chosen[i])) out << " (" << levels(chosen[i], design) << ")";
      }
      out << '\n';
    }
  }
  for (const std::string& w : res.warnings) out << "warning: " << w << '\n';

  out << '\n' << statewords(r.result.next, r.design, patientstotal(r)) << '\n';
  if (!d.table.empty()) {
    out << "\nposterior after cohort " << d.cohort << ":\n";
    writetable(out, d, design);
    for (const PosteriorRow& row : d.table) {
      const Closure* x = row.entry >= 0 && !row.open ? closureof(res.closures, row.entry)
                                                     : nullptr;
      if (x != nullptr) {
        out << "  " << levels(row.at, design) << " closed after cohort " << x->cohort
            << " as " << closurewhy(*x) << '\n';
      }
    }
    if (d.switched) {
      const std::string p = "pr(tox<" + numbertext(s.targettox) + ")";
      if (refitsame(d)) {
        out << "  " << p << ": the end of phase I and the phase II refit are one value"
            << (design.method == PosteriorMethod::kGibbs ? "" : " under " +
                posteriorname(design.method) + " (the same data, exact)")
            << '\n';
      } else {
        out << "  " << p << " here is the phase II refit; the admissible list below "
               "reads the end of phase I\n";
      }
    }
  }

  out << "\ndecision after cohort " << d.cohort << ":\n";
  const std::vector<std::string> words = decisionwords(d, design, streamswords(r.streams));
  for (std::size_t i = 0; i < words.size(); ++i) {
    out << "  " << words[i] << '\n';
    if (i == 0 && d.switched && !refitsame(d)) {
      // Both values of each combination's probability, named.
      std::string both;
      for (const Comparison& x : d.comparisons) {
        if (x.what != Compared::kAdmissible) continue;
        for (const PosteriorRow& row : d.table) {
          if (!(row.at == x.at)) continue;
          both += (both.empty() ? "" : ", ") + levels(x.at, design) + " " +
                  probtext(x.value, rules.admissible) + " and " + probtext(row.prsafe);
        }
      }
      out << "  " << toxwords(design)
          << " at the end of phase I and in the phase II refit: " << both << '\n';
    }
  }
  if (r.closecalls && design.method == PosteriorMethod::kGibbs &&
      !d.closecalls.empty()) {
    for (const std::string& line : closecallwords(d, design)) out << "  " << line << '\n';
    out << "  close call: the sampler's noise could turn this decision (standard "
           "errors by batch means of the update's 2000 draws); --replicates R "
           "shows how often, and --posterior quadrature (or a design whose "
           "\"posterior\" is \"quadrature\") computes the probabilities exactly\n";
  }
  if (r.pathways > 0) writepathways(out, r);

  const Stability& st = res.stability;
  if (r.replicates > 0 && r.cohorts.empty()) {
    out << "\nstability: no posterior update to recompute before the first cohort\n";
  }
  if (st.replicates > 0) {
    if (st.replicates == 1) {
      out << "\nstability over 1 replicate of this decision, on the seeded "
             "streams ("
          << st.seed << ", 1):\n";
    } else {
      out << "\nstability over " << st.replicates
          << " replicates of this decision, replicate r on the seeded streams ("
          << st.seed << ", r), r = 1 to " << st.replicates << ":\n";
    }
    // Under quadrature no rule's probability depends on the random numbers:
    // only the randomisation's draw can differ.
    const bool fixed = design.method != PosteriorMethod::kGibbs;
    if (fixed) {
      out << "  the rule decisions are fixed: under " << posteriorname(design.method)
          << " the posterior probabilities are the same under every seed; "
          << (d.randomised ? "the randomisation's draw:" : "the decision:") << '\n';
    }
    for (const OutcomeCount& o : st.outcomes) {
      out << "  " << outcomelabel(o.decision, design) << ": " << o.count << " of "
          << st.replicates << '\n';
    }
    if (fixed) return;
    if (!st.rules.empty()) {
      out << "  the rule decisions (admissible list, closures, end), apart from the "
             "randomisation's draw:\n";
      for (const OutcomeCount& o : st.rules) {
        out << "    " << rulelabel(o.decision, design) << ": " << o.count << " of "
            << st.replicates << '\n';
      }
    }
    if (!st.draws.empty()) {
      out << "  the randomisation's draw:\n";
      for (const DrawCount& x : st.draws) {
        out << "    next cohort at " << levels(x.at, design) << ": " << x.count << " of "
            << st.replicates << '\n';
      }
    }
    if (st.spreads.empty()) {
      out << "  no rule compared a posterior probability with a threshold: no "
             "open combination has more than "
          << rules.minpatients_close << " patients\n";
    }
    for (const Spread& x : st.spreads) {
      // One value has no spread.
      out << "  " << spreadwords(x, design) << ": ";
      if (x.n > 1) {
        out << "mean " << probtext(x.mean) << ", sd " << probtext(x.sd) << ", from "
            << probtext(x.min) << " to " << probtext(x.max);
      } else {
        out << probtext(x.mean);
      }
      if (x.n != st.replicates) out << " (" << x.n << (x.n == 1 ? " replicate)" : " replicates)");
      out << '\n';
    }
  }
}

Json reportjson(const NextReport& r) {
  const Design& design = r.design;
  const SimulationSettings& s = design.settings;
  const ConductResult& res = r.result;
  const Decision& d = res.next;

  Json j;
  j["program"] = "combosim-next";
  j["version"] = COMBOSIM_VERSION;
  j["inputs"] = Json::array();
  for (const InputFile& f : r.inputs) {
    Json input;
    input["role"] = f.role;
    putpath(input, "file", f.path);
    input["sha256"] = f.sha256;
    j["inputs"].push_back(input);
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
  if (!design.labels1.empty()) dj["labels1"] = design.labels1;
  if (!design.labels2.empty()) dj["labels2"] = design.labels2;
  if (design.method != PosteriorMethod::kGibbs) {
    dj["posterior"] = posteriortojson(posteriorof(design));
    dj["boost"] = boostversion();
  }
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
                            {decisionkey::kPatients, k.npat},
                            {decisionkey::kToxicities, k.ntox},
                            {decisionkey::kResponses, k.nresp},
                            {"design_choice", levelsjson(chosen[i])}});
    putlabels(j["cohorts"].back(), "combination", k.at, design);
    putlabels(j["cohorts"].back(), "design_choice", chosen[i], design);
  }
  j["warnings"] = res.warnings;

  Json state;
  state[decisionkey::kStage] = stagename(d.stage);
  state["cohorts"] = d.cohort;
  state["phase1_cohorts"] = std::min(d.cohort, s.ncohort1);
  state["phase2_cohorts"] = d.cohort - std::min(d.cohort, s.ncohort1);
  state[decisionkey::kPatients] = patientstotal(r);
  if (d.stage == Stage::kEnded) state[decisionkey::kEnd] = trialendname(d.end);
  j["state"] = state;

  j["posterior"] = Json::array();
  for (const PosteriorRow& row : d.table) {
    Json p;
    p["combination"] = levelsjson(row.at);
    putlabels(p, "combination", row.at, design);
    p[decisionkey::kPatients] = row.npat;
    p[decisionkey::kToxicities] = row.ntox;
    p[decisionkey::kResponses] = row.nresp;
    p[decisionkey::kMeanTox] = row.meantox;
    p[decisionkey::kPrSafe] = row.prsafe;
    if (row.entry >= 0) {
      p[decisionkey::kPrEff] = row.preff;
      p[decisionkey::kMeanEff] = row.meaneff;
      p[decisionkey::kStatus] = row.open ? "open" : "closed";
      if (const Closure* x = closureof(res.closures, row.entry); !row.open && x) {
        p[decisionkey::kClosedAfter] = x->cohort;
        p[decisionkey::kClosedAs] = closurewhy(*x);
      }
    } else if (d.phase2 || d.stage == Stage::kPhase2) {
      p[decisionkey::kStatus] = "not admissible";
    }
    j["posterior"].push_back(p);
  }

  Json dec;
  dec[decisionkey::kAfterCohort] = d.cohort;
  dec[decisionkey::kOutcome] = outcomelabel(d, design);
  dec[decisionkey::kText] = decisionwords(d, design, streamswords(r.streams));
  dec[decisionkey::kStage] = stagename(d.stage);
  dec[decisionkey::kNext] =
      d.stage == Stage::kEnded ? Json(nullptr) : levelsjson(d.next);
  if (d.stage == Stage::kEnded) dec[decisionkey::kEnd] = trialendname(d.end);
  dec[decisionkey::kSelected] =
      d.stage == Stage::kEnded && d.end == TrialEnd::kSelected
          ? levelsjson(d.selected)
          : Json(nullptr);
  if (d.stage != Stage::kEnded) putlabels(dec, decisionkey::kNext, d.next, design);
  if (d.stage == Stage::kEnded && d.end == TrialEnd::kSelected) {
    putlabels(dec, decisionkey::kSelected, d.selected, design);
  }
  if (d.phase1) {
    Json rule;
    rule[decisionkey::kAt] = levelsjson(d.current);
    rule[decisionkey::kPrSafe] = d.prsafe;
    rule[decisionkey::kBranch] = branchname(d.branch);
    rule[decisionkey::kCandidates] = Json::array();
    for (int i = 0; i < d.ncand; ++i)
      rule[decisionkey::kCandidates].push_back(levelsjson(d.candidates[i]));
    rule[decisionkey::kPatients] = d.ntotal;
    dec[decisionkey::kPhase1Rule] = rule;
  }
  if (d.switched) {
    dec[decisionkey::kAdmissible] = Json::array();
    for (Combination at : d.admissible)
      dec[decisionkey::kAdmissible].push_back(levelsjson(at));
  }
  if (d.phase2) {
    dec[decisionkey::kClosures] = Json::array();
    for (const Closure& x : d.closures) {
      dec[decisionkey::kClosures].push_back({{"combination", levelsjson(x.at)},
                                             {decisionkey::kFutile, x.futile},
                                             {decisionkey::kUnsafe, x.unsafe},
                                             {decisionkey::kPatients, x.npat},
                                             {decisionkey::kPrEff, x.preff},
                                             {decisionkey::kPrSafe, x.prsafe}});
      putlabels(dec[decisionkey::kClosures].back(), "combination", x.at, design);
    }
  }
  if (d.switched) {
    // The admissible list reads the end of phase I; the posterior table is
    // the phase II refit.
    dec["admissible_from"] = "end of phase I";
    dec["end_of_phase1"] = Json::array();
    for (const Comparison& x : d.comparisons) {
      if (x.what != Compared::kAdmissible) continue;
      dec["end_of_phase1"].push_back(
          {{"combination", levelsjson(x.at)}, {decisionkey::kPrSafe, x.value}});
    }
    dec["refit_same"] = refitsame(d);
  }
  if (r.closecalls && design.method == PosteriorMethod::kGibbs) {
    dec["close_calls"] = Json::array();
    for (const CloseCall& x : d.closecalls) {
      if (x.candidates) {
        dec["close_calls"].push_back(
            {{"rule", "candidates"},
             {"combinations", Json::array({levelsjson(x.at), levelsjson(x.other)})},
             {"chosen", levelsjson(x.at)},
             {"distance_difference", x.value},
             {"se", x.se}});
      } else {
        dec["close_calls"].push_back({{"rule", comparedname(x.what)},
                                      {"combination", levelsjson(x.at)},
                                      {"probability", probabilityname(x.what)},
                                      {"value", x.value},
                                      {"threshold", x.threshold},
                                      {"se", x.se}});
      }
    }
  }
  j["decision"] = dec;
  if (d.switched) j["posterior_from"] = "phase II refit";

  if (d.randomised) {
    Json rj;
    rj[decisionkey::kProbabilities] = Json::array();
    for (std::size_t k = 0; k < d.probs.size(); ++k) {
      for (const PosteriorRow& row : d.table) {
        if (row.entry == static_cast<int>(k)) {
          rj[decisionkey::kProbabilities].push_back(
              {{"combination", levelsjson(row.at)},
               {decisionkey::kProbability, d.probs[k]}});
          putlabels(rj[decisionkey::kProbabilities].back(), "combination", row.at, design);
        }
      }
    }
    rj[decisionkey::kU] = d.u;
    rj[decisionkey::kDrawn] = levelsjson(d.next);
    putlabels(rj, decisionkey::kDrawn, d.next, design);
    j["randomisation"] = rj;
  } else {
    j["randomisation"] = nullptr;
  }

  const Stability& st = res.stability;
  if (st.replicates > 0) {
    Json sj;
    sj["replicates"] = st.replicates;
    sj["seed"] = st.seed;
    // Under quadrature the rules' probabilities are the same in every
    // replicate: the outcomes are the randomisation's distribution.
    if (design.method != PosteriorMethod::kGibbs) sj["rule_decisions"] = "fixed";
    sj["outcomes"] = Json::array();
    for (const OutcomeCount& o : st.outcomes) {
      sj["outcomes"].push_back({{"outcome", outcomelabel(o.decision, design)}, {"count", o.count}});
    }
    if (!st.rules.empty()) {
      sj["rules"] = Json::array();
      for (const OutcomeCount& o : st.rules) {
        sj["rules"].push_back({{"outcome", rulelabel(o.decision, design)}, {"count", o.count}});
      }
    }
    if (!st.draws.empty()) {
      sj["draws"] = Json::array();
      for (const DrawCount& x : st.draws) {
        sj["draws"].push_back({{"combination", levelsjson(x.at)}, {"count", x.count}});
      }
    }
    sj["probabilities"] = Json::array();
    for (const Spread& x : st.spreads) {
      sj["probabilities"].push_back(
          {{"rule", comparedname(x.what)},
           {"combination", levelsjson(x.at)},
           {"probability", probabilityname(x.what)},
           {"thresholds", thresholds(x.what, design.rules)},
           {"replicates", x.n},
           {"mean", x.mean},
           {"sd", x.n > 1 ? Json(x.sd) : Json(nullptr)},
           {"min", x.min},
           {"max", x.max}});
    }
    j["stability"] = sj;
  } else {
    j["stability"] = nullptr;
  }

  if (r.pathways > 0) {
    const Pathways& p = res.pathways;
    Json pj;
    pj["cohorts_ahead"] = p.depth;
    pj["phase"] = p.phase2 ? 2 : 1;
    pj["updates"] = static_cast<std::int64_t>(p.updates);  // at most 2000
    pj["posterior"] = posteriorname(design.method);
    pj["exact"] = design.method != PosteriorMethod::kGibbs;
    pj["note"] = pathwaysmethod(r);
    pj["nodes"] = Json::array();
    for (std::size_t i = 0; i < p.nodes.size(); ++i) {
      const PathwayNode& n = p.nodes[i];
      const Decision& nd = n.decision;
      const bool switched = nd.switched && !p.phase2;
      Json node;
      node["node"] = i + 1;
      node["parent"] = n.parent >= 0 ? Json(n.parent + 1) : Json(nullptr);
      node["depth"] = n.depth;
      node["cohort"] = nd.cohort;
      node["combination"] = levelsjson(n.cohort.at);
      putlabels(node, "combination", n.cohort.at, design);
      node[decisionkey::kPatients] = n.cohort.npat;
      node[decisionkey::kToxicities] = n.cohort.ntox;
      node[decisionkey::kResponses] = n.cohort.nresp;
      node[decisionkey::kOutcome] = switched   ? pathwaywords(nd, design)
                                    : p.phase2 ? rulelabel(nd, design)
                                               : outcomelabel(nd, design);
      node[decisionkey::kStage] =
          switched && nd.stage != Stage::kEnded ? "phase2" : stagename(nd.stage);
      node[decisionkey::kNext] = nd.stage == Stage::kEnded || switched || p.phase2
                                     ? Json(nullptr)
                                     : levelsjson(nd.next);
      if (nd.stage == Stage::kEnded) node[decisionkey::kEnd] = trialendname(nd.end);
      if (nd.phase1 && !nd.switched) node[decisionkey::kPrSafe] = nd.prsafe;
      if (nd.switched) {
        node[decisionkey::kAdmissible] = Json::array();
        for (Combination at : nd.admissible) {
          node[decisionkey::kAdmissible].push_back(levelsjson(at));
        }
      }
      if (p.phase2) {
        node[decisionkey::kClosures] = Json::array();
        for (const Closure& x : nd.closures) {
          node[decisionkey::kClosures].push_back({{"combination", levelsjson(x.at)},
                                                  {decisionkey::kFutile, x.futile},
                                                  {decisionkey::kUnsafe, x.unsafe}});
        }
        if (nd.stage == Stage::kEnded && nd.end == TrialEnd::kSelected) {
          node[decisionkey::kSelected] = levelsjson(nd.selected);
        }
        if (nd.randomised) {
          node[decisionkey::kProbabilities] = Json::array();
          for (std::size_t k = 0; k < nd.probs.size(); ++k) {
            for (const PosteriorRow& row : nd.table) {
              if (row.entry == static_cast<int>(k)) {
                node[decisionkey::kProbabilities].push_back(
                    {{"combination", levelsjson(row.at)},
                     {decisionkey::kProbability, nd.probs[k]}});
              }
            }
          }
        }
      }
      if (design.method == PosteriorMethod::kGibbs) node["close_call"] = !nd.closecalls.empty();
      pj["nodes"].push_back(node);
    }
    j["pathways"] = pj;
  }
  return j;
}
