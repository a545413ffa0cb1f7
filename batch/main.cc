// batch/main.cc: combosim-batch, many scenarios of combosim in one command:
// in parallel, on independent seeded streams if asked, split into shards and
// merged exactly. Reads the command line and hands over to batch/runner.h;
// every exit status is a BatchExit.
#include <cstdint>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch/runner.h"

namespace {

constexpr char kDescription[] =
    "combosim-batch runs many scenarios of combosim, each in a process of its "
    "own, and writes for each scenario NAME.txt (the report block of "
    "results.txt), NAME.json (settings, sums, averages, percentages) and a "
    "summary.csv for all of them.\n\n"
    "A scenario file is either an answer file, as `combosim < FILE` reads it "
    "(one answer per line, in the order the program asks), or a FILE.json "
    "object with the fields ndose1, ndose2, scentox and sceneff (arrays "
    "indexed [drug-1 level][drug-2 level]), targettox, mineff, scenprior1, "
    "scenprior2, ncohort1, cohortsize1, ncohort2, cohortsize2 and ntrial. "
    "NAME is the file name without its extension. A file that cannot be read "
    "is reported on one line, and the other scenarios still run.\n\n"
    "Without --seed the numbers are exactly those of `combosim < FILE`.";

constexpr char kFooter[] =
    "\nExamples:\n"
    "  combosim-batch --out results examples/demo.txt examples/target_middle.txt\n"
    "  combosim-batch --seed 2024 --out results scenarios/*.json\n"
    "One of 8 machines, then the merge once all 8 are done:\n"
    "  combosim-batch --seed 2024 --shard 3/8 --out parts scenarios/*.json\n"
    "  combosim-batch merge --out results parts/*.shard-*-of-8.json\n"
    "Exit status: 0 all written, 1 a scenario or merge failed (the others are "
    "written), 2 bad command line or output directory.";

// Reads "K/N" with 1 <= K <= N. Returns "" or the problem.
std::string readshard(const std::string& text, int& k, int& n) {
  static const std::regex form("([0-9]{1,9})/([0-9]{1,9})");
  std::smatch match;
  if (!std::regex_match(text, match, form)) return "expected K/N, e.g. 3/8";
  k = std::stoi(match[1]);
  n = std::stoi(match[2]);
  if (n < 1 || k < 1 || k > n) return "K/N needs 1 <= K <= N";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "combosim-batch"};
  app.footer(kFooter);

  BatchOptions options;
  options.jobs = availablecores();
  std::uint64_t seed = 0;
  std::string shard;
  int shards = 1;

  app.add_option("scenarios", options.files,
                 "Scenario files: answer files, or .json files");
  app.add_option("-o,--out", options.outdir,
                 "Directory for the outputs, made if missing")
      ->capture_default_str();
  app.add_option("-j,--jobs", options.jobs,
                 "Scenarios run at once (default: the processors available)")
      ->check(CLI::PositiveNumber);
  CLI::Option* seedopt = app.add_option(
      "--seed", seed,
      "Seed S (0 to 2^64-1): independent streams std::mt19937_64 seeded by "
      "std::seed_seq{S, shard, 0} for the uniform numbers and {S, shard, 1} "
      "for the sampler, instead of combosim's fixed-seed generators");
  CLI::Option* shardopt =
      app.add_option("--shard", shard,
                     "K/N: runs the K-th of N equal parts of each scenario's "
                     "trials (shard K; a run without --shard is shard 1 of 1) "
                     "and writes NAME.shard-K-of-N.json for `merge`")
          ->needs(seedopt);
  app.add_option("--shards", shards,
                 "N: runs all N parts of each scenario one after another in "
                 "its process; the result equals the merge of N --shard runs")
      ->needs(seedopt)
      ->excludes(shardopt)
      ->check(CLI::PositiveNumber);

  CLI::App* merge = app.add_subcommand(
      "merge",
      "Adds up the sums of shard files (exact integer sums) and writes "
      "NAME.txt, NAME.json and summary.csv for every scenario whose N shards "
      "are all given");
  std::vector<std::string> mergefiles;
  std::string mergeout = ".";
  merge->add_option("files", mergefiles, "Shard files NAME.shard-K-of-N.json")
      ->required();
  merge->add_option("-o,--out", mergeout,
                    "Directory for the outputs, made if missing")
      ->capture_default_str();

  try {
    app.parse(argc, argv);
    if (!*merge && options.files.empty()) {
      throw CLI::RequiredError("At least one scenario file");
    }
    if (*merge && (!options.files.empty() || app.count("--seed") > 0 ||
                   app.count("--out") > 0)) {
      throw CLI::ValidationError(
          "merge", "give merge its own --out, after the word merge");
    }
    if (!shard.empty()) {
      const std::string problem = readshard(shard, options.shard, options.nshard);
      if (!problem.empty()) throw CLI::ValidationError("--shard", problem);
    } else {
      options.nshard = shards;
    }
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kBatchOk : kBatchUsage;
  }

  if (*merge) return runmerge(mergefiles, mergeout, std::cout, std::cerr);
  if (app.count("--seed") > 0) {
    options.random.seeded = true;
    options.random.seed = seed;
  }
  return runbatch(options, std::cout, std::cerr);
}
