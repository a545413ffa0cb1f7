# combosim_calibrate(): candidates raced on paired trials over scenarios.

truth <- small[c("tox", "eff", "target", "mineff")]
safer <- utils::modifyList(truth, list(tox = rbind(c(0.02, 0.05, 0.10),
                                                   c(0.05, 0.10, 0.30))))
calbase <- small[c("prior1", "prior2", "ncohort1", "cohortsize1", "ncohort2",
                   "cohortsize2")]
calibrate <- function(...) {
  args <- utils::modifyList(list(
    scenarios = list(a = truth, b = safer), base = calbase, seed = 3,
    posterior = "quadrature", budget = c(10, 20), confirm = 20,
    progress = FALSE), list(...))
  do.call(combosim_calibrate, args)
}

test_that("the clear winner that keeps the constraint is chosen, the far-off dropped at once", {
  # Phase II cohorts of 1, 3 or 6 patients: 18, 24 or 33 patients a trial.
  # The most patients win, but 33 is far above the bound of 28.
  x <- calibrate(search = list(cohortsize2 = c(1, 3, 6)),
                 objective = "patients_mean",
                 constraints = list(list(figure = "patients_mean", max = 28)))
  expect_s3_class(x, "combosim_calibration")
  h <- x$history
  expect_identical(h$stage, rep(1L, 3))
  expect_match(h$dropped[h$candidate == 3], "^patients_mean .* is above 28.00 beyond noise")
  expect_match(h$dropped[h$candidate == 1], "^patients_mean behind the best by")
  expect_identical(x$chosen_candidate, 2L)
  expect_identical(x$survivors, 2L)
  expect_identical(x$stopped, "one candidate remains")
  expect_identical(c(x$spent, x$everywhere), c(3 * 2 * 10, 3 * 2 * 20))
  # The objective is the mean over the scenarios, trial by trial.
  d <- as.data.frame(x)
  expect_identical(nrow(d), 3L * 1L * 2L)
  expect_identical(d$objective[d$scenario == "a"],
                   (d$patients_mean[d$scenario == "a"] +
                      d$patients_mean[d$scenario == "b"]) / 2)
  expect_identical(names(d)[1:16], c(
    "candidate", "label", "cohortsize2", "stage", "trials", "scenario", "objective",
    "objective_mcse", "behind", "behind_mcse", "best", "constraints_met", "dropped",
    "correct", "correct_mcse", "acceptable"))
  # Each figure is that of the candidate's own paired run of the same trials.
  own <- do.call(combosim_oc, c(truth, utils::modifyList(calbase, list(cohortsize2 = 3)),
                                list(ntrial = 10, seed = 3, paired = TRUE,
                                     posterior = "quadrature", progress = FALSE)))
  row <- d[d$candidate == 2 & d$scenario == "a", names(own$oc)]
  expect_identical(unlist(row, use.names = FALSE), as.double(unlist(own$oc, use.names = FALSE)))
  # The confirmation runs the trials after the race's.
  expect_identical(x$confirmation$first_trial, c(11L, 11L))
  expect_identical(x$chosen$cohortsize2, 3L)
  expect_identical(x$chosen$prior1, calbase$prior1)
  expect_identical(x$chosen$posterior$method, "quadrature")
  expect_s3_class(combosim_next(x$chosen, NULL), "combosim_next")
  printed <- capture.output(print(x))
  expect_true(any(grepl("^Chosen: candidate 2, cohortsize2=3: ", printed)))
  expect_true(any(grepl("Trials run: 60, against 120 ", printed)))
  expect_true(any(grepl("^Confirmation of the chosen design on trials 11 to 30 ", printed)))
  expect_output(print(summary(x)), "Every candidate at its last stage")
  file <- tempfile(fileext = ".pdf")
  grDevices::pdf(file)
  expect_identical(plot(x), x)
  grDevices::dev.off()
})

test_that("the race runs a stage's survivors on, one row per candidate, stage and scenario", {
  x <- calibrate(search = list(ncohort1 = c(1, 5), rules.escalate = c(0.7, 0.8)),
                 constraints = list(list(figure = "overtoxic", max = 100)),
                 weights = c(b = 3), confirm = 0)
  # The last key varies fastest.
  expect_identical(x$candidates$label[1:2], c("ncohort1=1, rules.escalate=0.7",
                                               "ncohort1=1, rules.escalate=0.8"))
  d <- as.data.frame(x)
  rows <- nrow(x$history)
  expect_identical(nrow(d), rows * 2L)
  # Scenario b weighs 3, a by default 1.
  expect_equal(d$objective[d$scenario == "a"],
               (d$correct[d$scenario == "a"] + 3 * d$correct[d$scenario == "b"]) / 4,
               tolerance = 1e-12)
  expect_identical(x$history$stage[1:4], rep(1L, 4))
  expect_identical(unique(x$history$trials[x$history$stage == 2L]), 20L)
  expect_true(all(x$survivors %in% x$history$candidate[x$history$stage == x$laststage]))
  expect_null(x$confirmation)
})

test_that("bad input is refused, naming the argument and field", {
  expect_error(calibrate(search = list()), "^search: empty")
  expect_error(calibrate(search = list(rules.escalte = 0.8)),
               "^search\\$rules.escalte: not a field a search can change \\(rules.escalate, ")
  expect_error(calibrate(search = list(rules.escalate = list(from = 0.7, to = 0.9, step = 0))),
               "^search\\$rules.escalate\\$step: must be above 0, not 0$")
  expect_error(calibrate(search = list(ncohort2 = list(from = 4, to = 2, step = -1))),
               "^search\\$ncohort2\\$step: must be above 0")
  expect_error(calibrate(search = list(rules.escalate = list(from = 0.5, to = 0.95, step = 0.01),
                                       ncohort2 = 1:30)),
               "^search: 1,380 candidates, more than max_candidates \\(1000\\)")
  expect_error(calibrate(search = list(rules.escalate = c(0.8, 0.9),
                                       rules.deescalate = c(0.5, 0.85)),
                         max_candidates = 2),
               "^search: 3 candidates \\(1 infeasible combinations skipped")
  expect_error(calibrate(search = list(rules.escalate = 0.5, rules.deescalate = 0.6)),
               "^search: no candidate left: all 1 combinations are infeasible")
  ok <- list(ncohort2 = c(2, 3))
  expect_error(calibrate(search = ok, objective = "correctness"),
               "^objective: \"correctness\" is not a figure of single trials")
  expect_error(calibrate(search = ok, constraints = list(list(figure = "toxic", max = 1))),
               "^constraints\\[\\[1\\]\\]\\$figure: unknown figure \"toxic\"")
  expect_error(calibrate(search = ok, constraints = list(
    list(figure = "overtoxic", max = 10, scenarios = c("a", "c")))),
    "^constraints\\[\\[1\\]\\]\\$scenarios: unknown scenario \"c\" \\(scenarios: a, b\\)")
  expect_error(calibrate(search = ok, seed = NULL), "^seed: needed")
  expect_error(calibrate(search = list(posterior = "gibbs")), "^posterior: searched too")
  expect_error(calibrate(search = list(prior1 = list(c(0.1, 0.2, 0.3)))),
               "^search\\$prior1: 3 values, not one per drug-1 level of scenario a \\(2\\)")
})

test_that("an interrupt ends the race with an R condition, the threads joined", {
  skip_on_os("windows")
  system(sprintf("sleep 1 && kill -INT %d", Sys.getpid()), wait = FALSE)
  stopped <- tryCatch(calibrate(search = list(ncohort2 = c(2, 3)), budget = c(5000, 10000)),
                      interrupt = function(e) e)
  expect_s3_class(stopped, "combosim_interrupt")
  expect_match(conditionMessage(stopped), "^interrupted after [0-9]+ of [0-9]+ trials planned; nothing kept")
  # The session runs races after it; here one of the two thresholds alone.
  again <- calibrate(search = list(rules.escalate = c(0.7, 0.8)), budget = c(2, 4), confirm = 0)
  expect_identical(again$candidates$label, c("rules.escalate=0.7", "rules.escalate=0.8"))
})
