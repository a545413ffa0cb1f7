// batch/studymain.cc: combosim-study, designs compared on the same
// scenarios, and the merge of a study's parts. Reads the command line and
// hands over to batch/study.h; every exit status is a BatchExit.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch/cliparse.h"
#include "batch/runner.h"
#include "batch/study.h"
#include "formats/utf8.h"

namespace {

constexpr char kDescription[] =
    "combosim-study: runs every design of a study file on every scenario of\n"
    "it, on the same simulated patients when paired, and writes into the\n"
    "output directory, per design and scenario, DESIGN/NAME.txt, NAME.json\n"
    "(as combosim-batch writes them) and NAME.compare.json (the sums behind\n"
    "the paired standard errors), then designs.csv (every design, scenario\n"
    "and figure with its standard error), differences.csv (each design minus\n"
    "the reference, itself included, with the paired and the unpaired\n"
    "standard error), report.html and last manifest.json. Every file is\n"
    "written whole or not at all, none over an input.";

constexpr char kFooter[] =
    "\n"
    "Study file: {\"scenarios\": [\"a.json\", \"b.json\"], \"designs\": [{\"name\":\n"
    "\"A\"}, {\"name\": \"strict\", \"rules\": {\"escalate\": 0.9}}], \"reference\":\n"
    "\"A\", \"trials\": 1000, \"seed\": 5, \"paired\": true}. Scenario files (JSON\n"
    "scenarios of combosim-batch, paths relative to the study file) give the\n"
    "truth: the grid, scentox, sceneff, targettox and mineff. A design is the\n"
    "base plus its changes to design fields only: scenprior1, scenprior2,\n"
    "ncohort1, cohortsize1, ncohort2, cohortsize2, \"rules\" (only the rules\n"
    "named change) and \"posterior\". The base is \"base\", a design file of\n"
    "combosim-next (its path or its fields; its grid, targettox and mineff\n"
    "must be each scenario's), else each scenario's own design fields.\n"
    "\"trials\" replaces each scenario's ntrial. \"paired\" (default true) needs\n"
    "\"seed\", 0 to 4294967295. Design names: letters, digits, - and _.\n"
    "\n"
    "Paired: trial t of every design meets the same patients (the paired\n"
    "streams of combosim-batch --paired), and difference_mcse is the standard\n"
    "error of the trial-by-trial differences. Not paired (\"paired\": false):\n"
    "every design runs on the seed's ordinary streams (or the fixed-seed\n"
    "generators without a seed), and difference_mcse is left empty;\n"
    "unpaired_mcse, sqrt(SE_design^2 + SE_reference^2), is given either way.\n"
    "\n"
    "Shards: --shard K/N runs part K of N of every scenario's trials and\n"
    "writes DESIGN/NAME.shard-K-of-N.* and manifest-shard-K-of-N.json;\n"
    "`merge` adds up the N parts, given by their manifests, exactly: paired,\n"
    "the same designs.csv, differences.csv and report.html as one run.\n"
    "\n"
    "Examples:\n"
    "  combosim-study examples/study.json --out study\n"
    "  combosim-study examples/study.json --shard 2/4 --out parts\n"
    "  combosim-study merge --out study parts/manifest-shard-*-of-4.json\n"
    "\n"
    "Exit status: 0 everything written; 1 a scenario failed (the others are\n"
    "written), or the standard output could not be written; 2 bad command\n"
    "line or study file, unusable output directory, another run writing the\n"
    "same files, or an output that would overwrite an input.";

}  // namespace

int main(int argc, char** argv) {
  Utf8EscapingBuf outbuf(std::cout.rdbuf());
  Utf8EscapingBuf errbuf(std::cerr.rdbuf());
  std::ostream out(&outbuf);
  std::ostream err(&errbuf);
  err.setf(std::ios::unitbuf);

  CLI::App app{kDescription, "combosim-study"};
  app.footer(kFooter);

  StudyOptions options;
  options.jobs = availablecores();
  std::string shard;
  app.add_option("study", options.file, "The study file (JSON)");
  app.add_option("-o,--out", options.outdir,
                 "Directory for the outputs, made if missing")
      ->capture_default_str();
  app.add_option("-j,--jobs", options.jobs,
                 "Scenarios run at once (default: processors available)")
      ->check(CLI::Validator(atleastone, "N >= 1"));
  app.add_option("--shard", shard, "K/N: run only part K of N, for merge");
  app.add_option("--max-candidates", options.maxcandidates,
                 "A search: at most this many candidates (default 1000)")
      ->check(CLI::Validator(atleastone, "N >= 1"));
  app.add_flag("--confirm-gibbs", options.confirmgibbs,
               "A search: confirm the chosen design under gibbs as well");
  app.add_flag("--trials", options.trials,
               "Also write DESIGN/NAME.trials.csv: each trial's selection, "
               "reason, patients, toxicities, responses and overly toxic "
               "patients");

  CLI::App* merge = app.add_subcommand(
      "merge", "Add up the parts of a study into its files");
  std::vector<std::string> mergefiles;
  std::string mergeout = ".";
  merge->add_option("files", mergefiles,
                    "The parts' manifests, manifest-shard-K-of-N.json")
      ->required();
  merge->add_option("-o,--out", mergeout,
                    "Directory for the outputs, made if missing")
      ->capture_default_str();

  try {
    app.parse(argc, argv);
    if (!*merge && options.file.empty()) {
      throw CLI::RequiredError("The study file");
    }
    if (*merge && (!options.file.empty() || app.count("--out") > 0 ||
                   app.count("--shard") > 0)) {
      throw CLI::ValidationError(
          "merge", "give merge its own --out, after the word merge");
    }
    if (app.count("--shard") > 0) {
      const std::string problem = readshard(shard, options.shard, options.nshard);
      if (!problem.empty()) throw CLI::ValidationError("--shard", problem);
    }
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    out.flush();
    return status == 0 ? kBatchOk : kBatchUsage;
  }

  // A reader that went away fails a write instead of ending the run.
  signal(SIGPIPE, SIG_IGN);
  int status = *merge ? runstudymerge(mergefiles, mergeout, out, err)
                      : runstudy(options, out, err);
  if (!out.flush()) {
    err << "combosim-study: the standard output could not be written"
        << std::endl;
    if (status == kBatchOk) status = kBatchFailed;
  }
  return status;
}
