# r/run-tests.R: runs the package's testthat tests against the installed
# package, failing on any failed test; skips are listed with their reasons.
#   usage: Rscript r/run-tests.R LIBRARY TESTDIR
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 2L) stop("usage: Rscript r/run-tests.R LIBRARY TESTDIR")
lib <- normalizePath(args[1], mustWork = FALSE)
if (!file.exists(file.path(lib, "combosim", "DESCRIPTION"))) {
  stop("combosim is not installed in ", lib, ": run `make r` first",
       call. = FALSE)
}
.libPaths(c(lib, .libPaths()))
testthat::test_dir(args[2], package = "combosim", load_package = "installed",
                   reporter = testthat::SummaryReporter$new(show_praise = FALSE),
                   stop_on_failure = TRUE, stop_on_warning = TRUE)
