# combosim_next(): combosim-next's decision and numbers, and refused input.

# A trial file read into combosim_next()'s design and cohorts.
readtrialfile <- function(path) {
  j <- jsonlite::fromJSON(path, simplifyVector = TRUE)
  k <- j$cohorts
  at <- do.call(rbind, k$combination)
  list(design = list(target = j$targettox, mineff = j$mineff,
                     prior1 = j$scenprior1, prior2 = j$scenprior2,
                     ncohort1 = j$ncohort1, cohortsize1 = j$cohortsize1,
                     ncohort2 = j$ncohort2, cohortsize2 = j$cohortsize2),
       cohorts = data.frame(drug1 = at[, 1], drug2 = at[, 2],
                            k[c("patients", "toxicities", "responses")]))
}

# combosim_next() on the trial file, with the warnings it gave.
nextwarnings <- function(path, ...) {
  trial <- readtrialfile(path)
  warned <- character()
  x <- withCallingHandlers(
    combosim_next(trial$design, trial$cohorts, ...),
    warning = function(w) {
      warned <<- c(warned, conditionMessage(w))
      invokeRestart("muffleWarning")
    })
  list(x = x, warned = warned)
}

pairs <- function(l) {
  if (length(l) == 0L) return(matrix(integer(), 0L, 2L))
  do.call(rbind, lapply(l, function(p) as.integer(unlist(p))))
}
field <- function(rows, name, na) {
  vapply(rows, function(r) if (is.null(r[[name]])) na else r[[name]], na)
}
same <- function(a, b, label) expect_equal(a, b, tolerance = 0, label = label)

# Every number and word of `x` is the same as in combosim-next's JSON `j`.
expect_next_json <- function(x, j) {
  p <- j$posterior
  same(as.list(x$posterior), list(
    drug1 = pairs(lapply(p, `[[`, "combination"))[, 1],
    drug2 = pairs(lapply(p, `[[`, "combination"))[, 2],
    patients = field(p, "patients", 0L), toxicities = field(p, "toxicities", 0L),
    responses = field(p, "responses", 0L),
    mean_toxicity = field(p, "mean_toxicity", 0),
    pr_toxicity_below_target = field(p, "pr_toxicity_below_target", 0),
    pr_response_above_mineff = field(p, "pr_response_above_mineff", NA_real_),
    mean_response = field(p, "mean_response", NA_real_),
    status = field(p, "status", NA_character_),
    closed_after_cohort = field(p, "closed_after_cohort", NA_integer_),
    closed_as = field(p, "closed_as", NA_character_)), "posterior")
  state <- j$state
  if (is.null(state$end)) state$end <- NA_character_
  same(x$state[names(state)], state, "state")
  d <- x$decision
  jd <- j$decision
  for (name in c("after_cohort", "outcome", "stage")) same(d[[name]], jd[[name]], name)
  same(d$text, unlist(jd$text), "text")
  same(unname(d$`next`), if (is.null(jd$`next`)) NULL else pairs(list(jd$`next`))[1, ], "next")
  same(unname(d$selected), if (is.null(jd$selected)) NULL else pairs(list(jd$selected))[1, ], "selected")
  same(is.null(d$phase1_rule), is.null(jd$phase1_rule), "phase I rule")
  if (!is.null(jd$phase1_rule)) {
    r <- jd$phase1_rule
    same(unname(d$phase1_rule$at), pairs(list(r$at))[1, ], "rule at")
    same(unname(d$phase1_rule$candidates), pairs(r$candidates), "candidates")
    for (name in c("pr_toxicity_below_target", "branch", "patients")) {
      same(d$phase1_rule[[name]], r[[name]], name)
    }
  }
  same(unname(d$admissible), if (is.null(jd$admissible)) NULL else pairs(jd$admissible), "admissible")
  if (!is.null(jd$closures)) {
    cl <- jd$closures
    same(as.list(d$closures), list(
      drug1 = pairs(lapply(cl, `[[`, "combination"))[, 1],
      drug2 = pairs(lapply(cl, `[[`, "combination"))[, 2],
      futile = field(cl, "futile", NA), unsafe = field(cl, "unsafe", NA),
      patients = field(cl, "patients", 0L),
      pr_response_above_mineff = field(cl, "pr_response_above_mineff", 0),
      pr_toxicity_below_target = field(cl, "pr_toxicity_below_target", 0)), "closures")
  }
  r <- j$randomisation
  same(is.null(d$randomisation), is.null(r), "randomised")
  if (!is.null(r)) {
    at <- pairs(lapply(r$probabilities, `[[`, "combination"))
    same(as.list(d$randomisation$probabilities), list(
      drug1 = at[, 1], drug2 = at[, 2],
      probability = field(r$probabilities, "probability", 0)), "probabilities")
    same(d$randomisation$u, r$u, "u")
    same(unname(d$randomisation$drawn), pairs(list(r$drawn))[1, ], "drawn")
  }
  s <- j$stability
  same(is.null(x$stability), is.null(s), "stability")
  if (!is.null(s)) {
    same(x$stability$replicates, s$replicates, "replicates")
    same(x$stability$seed, sprintf("%.0f", s$seed), "seed")
    same(as.list(x$stability$outcomes), list(
      outcome = field(s$outcomes, "outcome", ""),
      count = field(s$outcomes, "count", 0L)), "outcomes")
    q <- s$probabilities
    at <- pairs(lapply(q, `[[`, "combination"))
    same(as.list(x$stability$probabilities)[-10], list(
      rule = field(q, "rule", ""), drug1 = at[, 1], drug2 = at[, 2],
      probability = field(q, "probability", ""),
      replicates = field(q, "replicates", 0L), mean = field(q, "mean", 0),
      sd = field(q, "sd", NA_real_), min = field(q, "min", 0), max = field(q, "max", 0)),
      "spreads")
  }
}

test_that("combosim_next() gives combosim-next --json's decision and numbers", {
  skip_if_not_installed("jsonlite")
  exe <- program("COMBOSIM_NEXT_EXE")
  dir <- tempfile("next")
  dir.create(dir)
  cases <- list(
    list(cohorts = 4, args = c("--replicates", "2")),
    list(cohorts = 6, args = c("--replicates", "1")),
    list(cohorts = 12, args = c("--seed", "2024")),
    list(cohorts = 15, args = c("--seed", "2024", "--replicates", "3")))
  for (case in cases) {
    file <- file.path(dir, sprintf("trial%d.json", case$cohorts))
    trialfile(trialdesign, trialcohorts[seq_len(case$cohorts), ], file)
    out <- file.path(dir, "out.json")
    status <- system2(exe, c("--json", case$args, file), stdout = out,
                      stderr = file.path(dir, "err.txt"))
    expect_identical(status, 0L)
    j <- jsonlite::fromJSON(out, simplifyVector = FALSE)
    seed <- if ("--seed" %in% case$args) 2024 else NULL
    replicates <- if ("--replicates" %in% case$args) as.integer(case$args[length(case$args)]) else 0
    got <- nextwarnings(file, seed = seed, replicates = replicates,
                        progress = FALSE)
    expect_next_json(got$x, j)
    same(got$warned, as.character(unlist(j$warnings)), "warnings")
    same(got$x$warnings, got$warned, "kept warnings")
  }
  # The last case went through every step: the rule, the switch, a
  # randomisation, a closure and the selection.
  expect_identical(got$x$decision$closures$drug1, 1L)
  expect_identical(unname(got$x$decision$selected), c(3L, 1L))
})

test_that("print() shows the state, the decision and its stability", {
  x <- combosim_next(trialdesign, trialcohorts[1:4, ], replicates = 2,
                     progress = FALSE)
  printed <- capture.output(returned <- print(x))
  expect_identical(returned, x)
  expect_true(all(c(x$state$text, paste0("  ", x$decision$text)) %in% printed))
  expect_true(any(startsWith(printed, "stability over 2 replicates")))
  # One replicate has no spread: the value alone, the words singular.
  one <- capture.output(print(combosim_next(trialdesign, trialcohorts[1:4, ],
                                            replicates = 1, progress = FALSE)))
  expect_true(any(startsWith(one, "stability over 1 replicate of this decision")))
  expect_false(any(grepl(", sd |replicates", one)))
  start <- combosim_next(trialdesign, NULL)
  expect_identical(start$decision$outcome, "start at (1, 1)")
  expect_identical(nrow(start$posterior), 0L)
})

test_that("bad designs and cohorts are refused with the engine's message", {
  k <- trialcohorts[1:3, ]
  cases <- list(
    list(list(cohorts = transform(k, toxicities = c(0, 4, 0))),
         "cohort 2: toxicities: 4 is more than the 3 patients"),
    list(list(cohorts = transform(k, drug2 = c(1, 1, 4))),
         "cohort 3: combination: (3, 4) is outside the 3 by 3 grid"),
    list(list(cohorts = transform(k, patients = c(3, 0, 3))),
         "cohort 2: patients: must be at least 1"),
    list(list(cohorts = transform(k, responses = c(0, 1.5, 0))),
         "cohort 2: responses: must be a whole number"),
    list(list(cohorts = k[-5]), paste(
      "cohorts must have the columns drug1, drug2, patients, toxicities,",
      "responses; responses is missing")),
    list(list(cohorts = trialcohorts[c(1:15, 15), ]),
         "cohort 16: the design has 15 cohorts (10 in phase I, 5 in phase II)"),
    list(list(design = utils::modifyList(trialdesign, list(prior2 = c(0.1, 1.2, 0.3)))),
         paste("design$prior2[2]: The prior estimate of toxicity probability",
               "must lie strictly between 0 and 1")),
    list(list(design = c(trialdesign, list(ntrials = 5))),
         "design$ntrials: unknown field"),
    list(list(design = utils::modifyList(trialdesign, list(mineff = 1))),
         "design$mineff: The lowest acceptable response rate must be below 1"),
    # The first copy of a field or column would be read, the second ignored.
    list(list(design = c(trialdesign, list(target = 0.15, mineff = 0.3))),
         "design$target, design$mineff: given more than once"),
    list(list(cohorts = cbind(k, patients = 9)),
         "cohorts$patients: given in more than one column"),
    list(list(replicates = -1), "replicates must be a whole number from 0 to 100000"))
  for (case in cases) {
    args <- list(design = trialdesign, cohorts = k)
    args[names(case[[1]])] <- case[[1]]
    expect_error(suppressWarnings(do.call(combosim_next, args)), case[[2]],
                 fixed = TRUE, label = case[[2]])
  }
})

test_that("posterior = \"quadrature\" gives combosim-next --posterior quadrature", {
  skip_if_not_installed("jsonlite")
  exe <- program("COMBOSIM_NEXT_EXE")
  dir <- tempfile("next")
  dir.create(dir)
  for (n in c(1, 15)) {
    file <- file.path(dir, sprintf("trial%d.json", n))
    trialfile(trialdesign, trialcohorts[seq_len(n), ], file)
    out <- file.path(dir, "out.json")
    status <- system2(exe, c("--json", "--posterior", "quadrature", "--seed", "3",
                             "--replicates", "2", file),
                      stdout = out, stderr = file.path(dir, "err.txt"))
    expect_identical(status, 0L)
    j <- jsonlite::fromJSON(out, simplifyVector = FALSE)
    got <- nextwarnings(file, seed = 3, replicates = 2, progress = FALSE,
                        posterior = "quadrature")
    expect_next_json(got$x, j)
    expect_identical(got$x$design$posterior$method, "quadrature")
    expect_identical(got$x$stability$rule_decisions, j$stability$rule_decisions)
  }
  # The first cohort escalates to (2, 1) under every seed.
  for (seed in list(NULL, 1, 99)) {
    x <- combosim_next(trialdesign, trialcohorts[1, ], seed = seed,
                       posterior = "quadrature")
    expect_identical(unname(x$decision$`next`), c(2L, 1L))
  }
  printed <- capture.output(print(combosim_next(
    trialdesign, trialcohorts[1, ], replicates = 2, progress = FALSE,
    posterior = "quadrature")))
  expect_true(any(startsWith(printed, "  the rule decisions are fixed: under quadrature")))
})

test_that("a bad or conflicting posterior stops with the field named", {
  expect_error(combosim_next(trialdesign, NULL, posterior = "bayes"),
               'posterior$method must be "gibbs" or "quadrature"', fixed = TRUE)
  expect_error(combosim_next(trialdesign, NULL,
                             posterior = list(method = "quadrature", draws = 50)),
               "posterior$draws: must be from 100 to 2000", fixed = TRUE)
  expect_error(combosim_next(c(trialdesign, list(posterior = "gibbs")), NULL,
                             posterior = "quadrature"),
               'posterior "quadrature" differs from design$posterior, "gibbs"',
               fixed = TRUE)
  expect_error(run(posterior = list(method = "quadrature",
                                    nodes = list(toxicity = c(48, 48, 97)))),
               "posterior$nodes$toxicity[3]: must be from 2 to 96", fixed = TRUE)
})
