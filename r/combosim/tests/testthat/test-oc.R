# combosim_oc(): shapes, names, reproducibility and bad arguments.

test_that("every table is [drug-1, drug-2] with named levels", {
  x <- run()
  levels <- list(drug1 = c("1", "2"), drug2 = c("1", "2", "3"))
  for (m in list(x$selection, x$patients, x$toxicities, x$responses,
                 x$scenario$tox, x$scenario$eff, x$sums$selections)) {
    expect_identical(dimnames(m), levels)
  }
  expect_identical(unname(x$scenario$tox), small$tox)
  expect_equal(sum(x$sums$selections), x$reasons[["selected"]])
  expect_equal(sum(x$reasons), small$ntrial)
  expect_equal(x$inconclusive, 100 * (1 - x$reasons[["selected"]] / small$ntrial))
  expect_identical(nrow(x$trials), as.integer(small$ntrial))
  expect_equal(sum(x$trials$patients), sum(x$sums$patients))
  expect_identical(sum(!is.na(x$trials$drug1)), as.integer(x$reasons[["selected"]]))
})

test_that("the same seed gives the same run, and runs do not affect each other", {
  fixed <- run()
  seeded <- run(seed = 7)
  expect_identical(run(seed = 7)[1:7], seeded[1:7])
  expect_identical(run(seed = "7")[1:7], seeded[1:7])
  expect_identical(run()[1:7], fixed[1:7])
  expect_false(identical(seeded$patients, fixed$patients))
})

test_that("seeds from 2^32 are refused as the command line refuses them, not wrapped", {
  above <- "is above 4294967295 (2^32 - 1): the streams use 32 bits of the seed"
  k <- trialcohorts[1:2, ]
  for (f in list(function(seed) run(seed = seed),
                 function(seed) combosim_next(trialdesign, k, seed = seed))) {
    expect_error(f(2^32 + 5), paste("seed: 4294967301", above), fixed = TRUE)
    expect_error(f("18446744069414584320"),
                 paste("seed: 18446744069414584320", above), fixed = TRUE)
  }
  expect_identical(run(seed = 2^32 - 1)$patients, run(seed = "4294967295")$patients)
})

test_that("the default rules are the engine's", {
  expect_identical(unclass(combosim_rules()), combosim:::cs_defaultrules())
})

test_that("bad arguments stop with one line naming the argument", {
  over <- small$tox
  over[2, 1] <- 1.2
  cases <- list(
    list(list(tox = over), "tox[2, 1]: The toxicity probability is larger than 1"),
    list(list(tox = matrix(0, 0, 3)), paste(
      "tox must have 1 to 10 rows (drug-1 levels) and 1 to 10 columns",
      "(drug-2 levels), not 0 by 3")),
    list(list(ntrial = -1), "ntrial: The number of simulated trials must be at least 1"),
    list(list(ntrial = 2.5), "ntrial must be a single whole number"),
    list(list(eff = t(small$eff)), "eff must have the shape of tox (2 by 3), not 3 by 2"),
    list(list(prior1 = c(0.1, 0.2, 0.3)), paste(
      "prior1 must be a numeric vector with one value per drug-1 level",
      "(the rows of tox): 2 values")),
    list(list(prior2 = c(0.1, 1, 0.3)), paste(
      "prior2[2]: The prior estimate of toxicity probability must lie",
      "strictly between 0 and 1")),
    list(list(target = 1.5), "target: The target probability is larger than 1"),
    list(list(eff = small$eff * NA), "eff[1, 1]: must be a number"),
    list(list(cohortsize2 = 1001), "cohortsize2: The cohort size for the phase II trial must be at most 1000"),
    list(list(target = 1), "target: The target probability must lie strictly between 0 and 1"),
    list(list(target = 0), "target: The target probability must lie strictly between 0 and 1"),
    list(list(mineff = 1), "mineff: The lowest acceptable response rate must be below 1"),
    list(list(seed = -1), "seed must be NULL, a whole number from 0 to 4294967295, or a string of its digits"),
    list(list(seed = "18446744073709551616"), "seed: 18446744073709551616 is above 4294967295 (2^32 - 1): the streams use 32 bits of the seed"),
    list(list(rules = list()), "rules must come from combosim_rules()"))
  for (case in cases) {
    expect_error(do.call(run, case[[1]]), case[[2]], fixed = TRUE,
                 label = case[[2]])
  }
  expect_error(combosim_rules(escalate = 1), "escalate: must lie strictly between 0 and 1", fixed = TRUE)
  expect_error(combosim_rules(deescalate = 0.9), "deescalate: must be below escalate", fixed = TRUE)
  expect_error(combosim_rules(minpatients = -1), "minpatients: must not be negative", fixed = TRUE)
})

test_that("the options are checked with the command line's words, the start on the grid", {
  whole <- "start: must be two whole numbers from 1, [drug-1 level, drug-2 level]"
  cases <- list(
    list(list(minpatients_stop = -1), "minpatients_stop: must not be negative"),
    list(list(minpatients = 3, minpatients_close = -2),
         "minpatients_close: must not be negative"),
    list(list(minpatients_close = 1.5), "minpatients_close must be a single whole number"),
    list(list(phase2 = "nearby"),
         'phase2: must be "admissible", "treated" or "adjacent"'),
    list(list(start = c(0, 1)), whole),
    list(list(start = c(1, 1.5)), whole),
    list(list(start = 2), whole))
  for (case in cases) {
    expect_error(do.call(combosim_rules, case[[1]]), case[[2]], fixed = TRUE,
                 label = case[[2]])
  }
  beyond <- combosim_rules(start = c(1, 4))
  expect_error(run(rules = beyond), "rules.start: [1, 4] lies outside the 2 by 3 grid",
               fixed = TRUE)
  expect_error(combosim_next(c(trialdesign, list(rules = beyond)), NULL),
               "rules.start: [1, 4] lies outside the 3 by 3 grid", fixed = TRUE)
})

test_that("the rules hold an option only when it is not at its default", {
  expect_identical(combosim_rules(minpatients = 4, minpatients_stop = 4,
                                  phase2 = "admissible", start = c(1, 1)),
                   combosim_rules(minpatients = 4))
  r <- combosim_rules(minpatients = 4, minpatients_stop = 2,
                      phase2 = "treated", start = c(2, 1))
  expect_identical(unclass(r)[c("minpatients", "minpatients_stop", "phase2", "start")],
                   list(minpatients = 4L, minpatients_stop = 2L,
                        phase2 = "treated", start = c(2L, 1L)))
  expect_identical(combosim_rules(minpatients_close = 3)$minpatients, 3L)
  expect_identical(combosim_rules(minpatients_close = 3)$minpatients_stop, 6L)
  printed <- capture.output(print(r))
  expect_true("The first cohort is treated at (2, 1)" %in% printed)
  expect_true(paste("phase I stops at the lowest combination only with more",
                    "than 2 in the trial") %in% printed)
  expect_true("Phase II randomises only to combinations treated in the trial" %in%
                printed)
  plain <- capture.output(print(combosim_rules()))
  expect_false(any(grepl("first cohort|randomises", plain)))
  # The first cohort's design choice is the start (treated elsewhere, a
  # deviation).
  x <- suppressWarnings(combosim_next(
    c(trialdesign, list(rules = combosim_rules(start = c(2, 1)))), trialcohorts[1:2, ]))
  expect_identical(unlist(x$cohorts[1, c("design_drug1", "design_drug2")],
                          use.names = FALSE), c(2L, 1L))
})

test_that("progress shows on the message stream, ending at every trial done", {
  shown <- capture.output(x <- run(progress = TRUE), type = "message")
  expect_match(shown[length(shown)], "| 100% (6 of 6 trials)", fixed = TRUE)
})
