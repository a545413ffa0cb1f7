// next/main.cc: combosim-next, the design's next decision for a real trial
// from the trial's own data. Reads the command line and hands over to
// next/run.h; every exit status is a NextExit.
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "formats/utf8.h"
#include "next/run.h"
#include "numerics/streams.h"

namespace {

constexpr char kDescription[] =
    "combosim-next: the design's state after the cohorts of a real trial,\n"
    "reached by the design's own steps, and its decision for the next cohort\n"
    "with the numbers behind it: the same code that combosim simulates.";

constexpr char kFooter[] =
    "\n"
    "Trial files: a JSON file holds the design's fields ndose1, ndose2,\n"
    "targettox, mineff, scenprior1, scenprior2, ncohort1, cohortsize1, ncohort2,\n"
    "cohortsize2 and optionally \"rules\" (as in combosim-batch), and \"cohorts\",\n"
    "the cohorts treated so far in order, each {\"combination\": [d1, d2],\n"
    "\"patients\": n, \"toxicities\": t, \"responses\": r} with dose levels from 1.\n"
    "A CSV file holds the cohorts under the header\n"
    "drug1,drug2,patients,toxicities,responses (quoted fields and the row names\n"
    "of R's write.csv are read) and needs --design FILE.json with the design's\n"
    "fields (a combosim-batch scenario file will do). The extension .csv or\n"
    ".json, in any case, gives the format; without either, the content does.\n"
    "\n"
    "Random numbers: every posterior update starts both streams afresh, from\n"
    "combosim's fixed-seed generators, or with --seed S from the seeded streams\n"
    "(S, 1) of combosim-batch; the phase II draw is the first uniform number\n"
    "after the update. --replicates R recomputes the last cohort's decision on\n"
    "the seeded streams (S, r) for r = 1 to R (S = 0 without --seed) and counts\n"
    "the outcomes.\n"
    "\n"
    "Posterior: the design file's \"posterior\" (\"gibbs\", the default, or\n"
    "\"quadrature\", as in combosim-batch), or --posterior when it holds none.\n"
    "Under quadrature every posterior probability, and so every rule's decision,\n"
    "is the same under every seed; only phase II's randomisation draws.\n"
    "\n"
    "Close calls: under gibbs a decision whose probability lies within 2\n"
    "Monte Carlo standard errors of its threshold (batch means of the update's\n"
    "own draws), or whose phase I candidates are as close to the target, is\n"
    "noted \"close call\"; --no-close-call leaves the note out.\n"
    "\n"
    "Pathways: --pathways K shows the design's decision after each number of\n"
    "toxicities of each of the next K phase I cohorts, at its own choices, up\n"
    "to the switch to phase II; in phase II (K = 1) the closures and the\n"
    "randomisation after each outcome of a cohort at each open combination.\n"
    "At most 2000 posterior updates. --pathways-csv FILE writes them as CSV.\n"
    "\n"
    "Labels: \"labels1\" and \"labels2\" in the design, one name per dose\n"
    "level (at most 20 printable characters), name the levels in the report.\n"
    "\n"
    "Examples:\n"
    "  combosim-next examples/trial_phase1.json\n"
    "  combosim-next --pathways 2 examples/trial_phase1.json\n"
    "  combosim-next --replicates 50 examples/trial_phase2.json\n"
    "  combosim-next --design design.json --seed 2024 --json cohorts.csv\n"
    "\n"
    "Exit status: 0 report written (a cohort that deviates from the design is a\n"
    "warning); 1 a file could not be read or was refused, or the sampler failed;\n"
    "2 bad command line.";

}  // namespace

int main(int argc, char** argv) {
  // File names reach the report and the messages as given: bytes that are
  // not UTF-8 are printed as \xNN.
  Utf8EscapingBuf outbuf(std::cout.rdbuf());
  Utf8EscapingBuf errbuf(std::cerr.rdbuf());
  std::ostream out(&outbuf);
  std::ostream err(&errbuf);
  err.setf(std::ios::unitbuf);

  CLI::App app{kDescription, "combosim-next"};
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("combosim-next ") + COMBOSIM_VERSION);

  NextOptions options;
  std::string seed;
  app.add_option("trial", options.trial,
                 "Trial file: JSON (design and cohorts) or CSV (cohorts)")
      ->required();
  app.add_option("--design", options.design,
                 "JSON file with the design's fields (needed for a .csv)");
  app.add_option("--seed", seed,
                 "S, 0 to 2^32-1: updates on the seeded streams (S, 1)");
  app.add_option("--replicates", options.replicates,
                 "R: the next decision again on R other streams")
      ->check(CLI::Range(0, 100000));
  app.add_flag("--json", options.json, "Print one JSON object instead of text");
  app.add_option("--pathways", options.pathways,
                 "K: the design's decisions for every outcome of the next K "
                 "cohorts (phase II: K = 1)")
      ->check(CLI::Range(1, 100));
  app.add_option("--pathways-csv", options.pathwayscsv,
                 "FILE: the pathways also as CSV, to a new file");
  app.add_flag("!--no-close-call", options.closecalls,
               "Do not note decisions within the sampler's noise (gibbs)");
  app.add_option("--posterior", options.posterior,
                 "gibbs or quadrature: the posterior method when the design "
                 "file holds none")
      ->check(CLI::IsMember({"gibbs", "quadrature"}));

  try {
    app.parse(argc, argv);
    if (app.count("--seed") > 0) {
      const std::string problem = readseed(seed, options.streams.seed);
      if (!problem.empty()) throw CLI::ValidationError("--seed", problem);
      options.streams.seeded = true;
      options.streams.shard = 1;
    }
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    out.flush();
    return status == 0 ? kNextOk : kNextUsage;
  }
  const int status = runnext(options, out, err);
  out.flush();
  return status;
}
