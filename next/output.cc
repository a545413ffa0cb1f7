// next/output.cc: the text and JSON forms of a combosim-next report.
#include "next/output.h"

#include <algorithm>
#include <cstdio>

#ifndef COMBOSIM_VERSION
#error "COMBOSIM_VERSION must be defined by the build"
#endif

namespace {

Json levelsjson(Combination at) { return Json::array({at.d1 + 1, at.d2 + 1}); }

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
  if (phase2) {
    std::snprintf(line, sizeof line, "  %13s  %9s  %s",
                  ("pr(resp>" + numbertext(design.settings.mineff) + ")").c_str(),
                  "mean resp", "status");
    out << line;
  }
  out << '\n';
  for (const PosteriorRow& row : d.table) {
    std::snprintf(line, sizeof line, "  %-11s  %8d  %10d  %9d  %8s  %13s",
                  levels(row.at).c_str(), row.npat, row.ntox, row.nresp,
                  probtext(row.meantox).c_str(), probtext(row.prsafe).c_str());
    out << line;
    if (phase2) {
      if (row.entry < 0) {
        std::snprintf(line, sizeof line, "  %13s  %9s  %s", "-", "-", "not admissible");
      } else {
        std::snprintf(line, sizeof line, "  %13s  %9s  %s", probtext(row.preff).c_str(),
                      probtext(row.meaneff).c_str(), row.open ? "open" : "closed");
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

}  // namespace

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
  out << "  phase I: ";
  if (rules.start1 != 0 || rules.start2 != 0) {
    out << "first cohort at " << levels({rules.start1, rules.start2}) << "; ";
  }
  out << "escalate when " << toxwords(design) << " > " << numbertext(rules.escalate)
      << ", de-escalate when < " << numbertext(rules.deescalate)
      << ", stop at (1, 1) with more than " << rules.minpatients_stop << " patients\n";
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

  out << '\n' << statewords(r.result.next, r.design, patientstotal(r)) << '\n';
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
      out << "  " << outcomelabel(o.decision) << ": " << o.count << " of "
          << st.replicates << '\n';
    }
    if (fixed) return;
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
  dec[decisionkey::kOutcome] = outcomelabel(d);
  dec[decisionkey::kText] = decisionwords(d, design, streamswords(r.streams));
  dec[decisionkey::kStage] = stagename(d.stage);
  dec[decisionkey::kNext] =
      d.stage == Stage::kEnded ? Json(nullptr) : levelsjson(d.next);
  if (d.stage == Stage::kEnded) dec[decisionkey::kEnd] = trialendname(d.end);
  dec[decisionkey::kSelected] =
      d.stage == Stage::kEnded && d.end == TrialEnd::kSelected
          ? levelsjson(d.selected)
          : Json(nullptr);
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
    }
  }
  j["decision"] = dec;

  if (d.randomised) {
    Json rj;
    rj[decisionkey::kProbabilities] = Json::array();
    for (std::size_t k = 0; k < d.probs.size(); ++k) {
      for (const PosteriorRow& row : d.table) {
        if (row.entry == static_cast<int>(k)) {
          rj[decisionkey::kProbabilities].push_back(
              {{"combination", levelsjson(row.at)},
               {decisionkey::kProbability, d.probs[k]}});
        }
      }
    }
    rj[decisionkey::kU] = d.u;
    rj[decisionkey::kDrawn] = levelsjson(d.next);
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
      sj["outcomes"].push_back({{"outcome", outcomelabel(o.decision)}, {"count", o.count}});
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
  return j;
}
