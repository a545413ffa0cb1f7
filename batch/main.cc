// batch/main.cc: combosim-batch, many scenarios of combosim in one command:
// in parallel, on independent seeded streams if asked, split into shards and
// merged exactly. Reads the command line and hands over to batch/runner.h;
// every exit status is a BatchExit.
#include <charconv>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch/cliparse.h"
#include "batch/runner.h"
#include "formats/utf8.h"
#include "numerics/streams.h"

namespace {

constexpr char kDescription[] =
    "combosim-batch: runs many scenarios of combosim, each in a process of its\n"
    "own, and writes into the output directory, per scenario, NAME.txt (the\n"
    "report block as in results.txt) and NAME.json (settings, sums, averages,\n"
    "percentages, operating characteristics), summary.csv (one row per\n"
    "scenario and combination), oc.csv (one row of operating characteristics\n"
    "and their standard errors per scenario), report.html (the visual report,\n"
    "one self-contained page) and last manifest.json (the scenarios of the\n"
    "run and their files). Every file is written whole or not at all, none\n"
    "over an input; a directory without manifest.json holds a run that did\n"
    "not finish.";

constexpr char kFooter[] =
    "\n"
    "Scenario files: an answer file holds the answers to combosim's questions\n"
    "in order, as `combosim < FILE` reads them. A FILE.json holds one object\n"
    "with the fields ndose1, ndose2, scentox and sceneff (arrays indexed\n"
    "[drug-1 level][drug-2 level]), targettox, mineff, scenprior1, scenprior2,\n"
    "ncohort1, cohortsize1, ncohort2, cohortsize2 and ntrial, and optionally\n"
    "\"rules\": {\"escalate\", \"deescalate\", \"admissible\", \"safety\",\n"
    "\"futility\", \"minpatients\"}, the design's thresholds (defaults 0.8, 0.45,\n"
    "0.4, 0.4, 0.15 and 6; a field left out keeps its default), and in the same\n"
    "object the design options: \"minpatients_stop\" (phase I stops at (1, 1)\n"
    "only with more than this many patients in the trial) and\n"
    "\"minpatients_close\" (phase II closes a combination only with more than\n"
    "this many at it), both set by \"minpatients\" unless given; \"phase2\",\n"
    "where phase II may randomise: \"admissible\" (default), \"treated\" (only\n"
    "combinations with a patient in the trial) or \"adjacent\" (those and their\n"
    "neighbours one level away in one drug); \"start\", the first cohort's\n"
    "[drug-1 level, drug-2 level], default [1, 1]. An option not at its default\n"
    "is recorded in every output that holds the rules, and summary.csv and\n"
    "oc.csv then end with an options column. \"posterior\": \"quadrature\" (or\n"
    "{\"method\": \"quadrature\", \"nodes\": {\"toxicity\": [48, 48, 8],\n"
    "\"response\": [24, 24]}, \"draws\": 2000}) computes the posteriors by\n"
    "numerical integration instead of \"gibbs\", the default; it is recorded in\n"
    "NAME.txt, NAME.json and the last columns of summary.csv and oc.csv. NAME is the file\n"
    "name without its extension. A file that cannot be read is reported on one\n"
    "line (array positions counted from 1, as combosim counts levels), and the\n"
    "other scenarios still run.\n"
    "\n"
    "Random numbers: without --seed, combosim's fixed-seed generators, so the\n"
    "results are exactly those of `combosim < FILE`. With --seed S, the\n"
    "standard std::mt19937_64 seeded by std::seed_seq{S, K, 0} for the uniform\n"
    "numbers and {S, K, 1} for the sampler, K being the shard (1 without\n"
    "--shard): the same on every platform. S is a whole number from 0 to\n"
    "4294967295 (2^32 - 1); the streams use 32 bits of it, so a larger seed is\n"
    "refused rather than repeating a smaller one's streams.\n"
    "\n"
    "Paired streams: with --paired --seed S, trial t of every scenario runs on\n"
    "streams of its own, std::mt19937_64 seeded by std::seed_seq{S, t, kind, i,\n"
    "j}: kind 1 the patients, in order of enrolment (each patient's number for\n"
    "toxicity, then for response), 2 the phase I update after phase I cohort\n"
    "i, 3 phase II update i (0 at the switch), 4 the posterior draws for the\n"
    "randomisation before phase II cohort i (quadrature), 5 the number that\n"
    "picks phase II cohort i's combination; j 0 for the uniform numbers, 1 for\n"
    "the sampler. Designs run on the same seed then meet the same patients, and\n"
    "their difference is estimated trial by trial; the results do not depend on\n"
    "--shards, --jobs or the order of the scenarios, and trial t is the same\n"
    "in runs of any length.\n"
    "\n"
    "Shards: --shard K/N runs part K of N of each scenario's trials (the first\n"
    "ntrial mod N parts one trial larger) and writes NAME.shard-K-of-N.json\n"
    "and .txt, but no oc.csv or report.html (--shard 1/1 is the whole run);\n"
    "`merge` adds up the sums of all N parts exactly and writes them. --shards N runs the N parts one after\n"
    "another in one process instead, which gives what the merge gives. Every\n"
    "output records which implementation of the C library's pow, log and exp\n"
    "ran (fma, no-fma or unknown); merge refuses parts from different ones.\n"
    "\n"
    "report.html: scenarios under the same design (grid, priors, cohorts,\n"
    "targettox, mineff, rules and options, posterior method) are grouped\n"
    "under a heading listing it. The patients map's colour scale ends at each\n"
    "scenario's own largest mean; with --shared-scales every scenario's ends\n"
    "at the largest of all, so that colours compare across scenarios (the\n"
    "selection and toxicity maps always end at 100 % and 1). A shard run\n"
    "writes no report.html: give --shared-scales to merge instead. The page\n"
    "prints with each scenario on a page of its own.\n"
    "\n"
    "Examples:\n"
    "  combosim-batch --out results examples/demo.txt examples/target_middle.txt\n"
    "  combosim-batch --seed 2024 --out results examples/scenarios/*.json\n"
    "  combosim-batch --seed 2024 --shard 3/8 --out parts examples/scenarios/*.json\n"
    "  combosim-batch merge --out results parts/*.shard-*-of-8.json\n"
    "\n"
    "One run at a time writes each set of files into a directory: a run or\n"
    "merge holds DIR/.combosim.lock, a --shard K/N run only\n"
    "DIR/.combosim.shard-K-of-N.lock (advisory locks; see the README on\n"
    "network file systems).\n"
    "\n"
    "Exit status: 0 everything written; 1 a scenario or a merge failed (the\n"
    "others are written), or the standard output could not be written; 2 bad\n"
    "command line, unusable output directory, another run writing the same\n"
    "files, or a file of the run (summary.csv, oc.csv, report.html,\n"
    "manifest.json) would overwrite an input.";

}  // namespace

int main(int argc, char** argv) {
  // File names reach the messages as given: bytes that are not UTF-8 are
  // printed as \xNN.
  Utf8EscapingBuf outbuf(std::cout.rdbuf());
  Utf8EscapingBuf errbuf(std::cerr.rdbuf());
  std::ostream out(&outbuf);
  std::ostream err(&errbuf);
  err.setf(std::ios::unitbuf);

  CLI::App app{kDescription, "combosim-batch"};
  app.footer(kFooter);

  BatchOptions options;
  options.jobs = availablecores();
  std::string seed;
  std::string shard;
  int shards = 1;

  app.add_option("scenarios", options.files,
                 "Scenario files: answer files, or .json files");
  app.add_option("-o,--out", options.outdir,
                 "Directory for the outputs, made if missing")
      ->capture_default_str();
  app.add_option("-j,--jobs", options.jobs,
                 "Scenarios run at once (default: processors available)")
      ->check(CLI::Validator(atleastone, "N >= 1"));
  CLI::Option* seedopt = app.add_option(
      "--seed", seed, "S, 0 to 2^32-1: seeded standard streams (see below)");
  CLI::Option* shardopt =
      app.add_option("--shard", shard, "K/N: run only part K of N, for merge")
          ->needs(seedopt);
  app.add_flag("--paired", options.random.paired,
               "Paired streams: trial t on streams of its own (see below)")
      ->needs(seedopt);
  app.add_flag("--trials", options.trials,
               "Also write NAME.trials.csv: each trial's selection, reason, "
               "patients, toxicities, responses and overly toxic patients");
  app.add_option("--shards", shards, "N: run all N parts in turn")
      ->needs(seedopt)
      ->excludes(shardopt)
      ->check(CLI::Validator(atleastone, "N >= 1"));
  app.add_flag("--shared-scales", options.html.sharedscales,
               "report.html: one colour scale per map across the scenarios "
               "(default: each scenario's own)");

  CLI::App* merge = app.add_subcommand(
      "merge", "Add up shard files into NAME.txt, NAME.json, summary.csv, "
               "oc.csv and report.html");
  std::vector<std::string> mergefiles;
  std::string mergeout = ".";
  merge->footer(
      "\nEach scenario needs its N shard files, all from the same scenario,\n"
      "seed and N; the sums are added exactly, so the result is what\n"
      "`combosim-batch --seed S --shards N` gives in one process.");
  merge->add_option("files", mergefiles, "Shard files NAME.shard-K-of-N.json")
      ->required();
  merge->add_option("-o,--out", mergeout,
                    "Directory for the outputs, made if missing")
      ->capture_default_str();
  HtmlOptions mergehtml;
  merge->add_flag("--shared-scales", mergehtml.sharedscales,
                  "report.html: one colour scale per map across the scenarios "
                  "(default: each scenario's own)");

  try {
    app.parse(argc, argv);
    if (!*merge && options.files.empty()) {
      throw CLI::RequiredError("At least one scenario file");
    }
    if (*merge && (!options.files.empty() || app.count("--seed") > 0 ||
                   app.count("--paired") > 0 ||
                   app.count("--out") > 0)) {
      throw CLI::ValidationError(
          "merge", "give merge its own --out, after the word merge");
    }
    if (*merge && app.count("--shared-scales") > 0) {
      throw CLI::ValidationError(
          "merge", "give merge its own --shared-scales, after the word merge");
    }
    if (app.count("--seed") > 0) {
      const std::string problem = readseed(seed, options.random.seed);
      if (!problem.empty()) throw CLI::ValidationError("--seed", problem);
      options.random.seeded = true;
    }
    if (app.count("--shard") > 0) {
      const std::string problem = readshard(shard, options.shard, options.nshard);
      if (!problem.empty()) throw CLI::ValidationError("--shard", problem);
      // A part writes no report.html: the merge draws it.
      if (options.html.sharedscales && options.nshard > 1) {
        throw CLI::ValidationError(
            "--shared-scales",
            "a --shard K/N run writes no report.html; give --shared-scales "
            "to merge");
      }
    } else {
      options.nshard = shards;
    }
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    out.flush();
    return status == 0 ? kBatchOk : kBatchUsage;
  }

  // A reader that went away (`combosim-batch ... | head`) fails a write
  // instead of ending the run, so the files are still written.
  signal(SIGPIPE, SIG_IGN);
  int status = *merge ? runmerge(mergefiles, mergeout, out, err, mergehtml)
                      : runbatch(options, out, err);
  // The lines on what was written are a result too: losing them fails the
  // run.
  if (!out.flush()) {
    err << "combosim-batch: the standard output could not be written"
        << (status == kBatchUsage ? ""
                                  : "; the files written are in " +
                                        (*merge ? mergeout : options.outdir))
        << std::endl;
    if (status == kBatchOk) status = kBatchFailed;
  }
  return status;
}
