# Paired runs, their comparison trial by trial, and studies of designs.

quick <- function(...) run(seed = 5, paired = TRUE, posterior = "quadrature", ...)
strictrules <- combosim_rules(escalate = 0.9, safety = 0.6)

test_that("paired = TRUE keeps each trial's counts and says so; it needs a seed", {
  x <- quick(ntrial = 8)
  expect_true(x$paired)
  expect_identical(dim(x$trialcounts), c(8L, 14L))
  counts <- x$trialcounts
  expect_identical(counts[, "patients"], x$trials$patients)
  expect_identical(counts[, "overtoxic_patients"], x$trials$overtoxic)
  expect_identical(counts[, "inconclusive"], as.integer(is.na(x$trials$drug1)))
  expect_identical(sum(counts[, "correct"]) / 8 * 100, x$oc$correct)
  expect_true("Random numbers: std::mt19937_64, seed 5, paired (streams of their own per trial)"
              %in% capture.output(print(x)))
  # Unpaired results hold nothing of it.
  expect_false(any(c("paired", "trialcounts") %in% names(run(seed = 5))))
  expect_error(run(paired = TRUE), "paired = TRUE needs a seed")
  expect_error(run(seed = 5, paired = NA), "paired must be TRUE or FALSE")
})

test_that("a result compared with itself differs by exactly 0 with SE 0", {
  x <- quick(ntrial = 8)
  d <- combosim_compare(x, again = x)$differences
  expect_true(all(d$paired))
  expect_true(all(d$difference[!is.na(d$difference)] == 0))
  expect_true(all(d$difference_mcse[!is.na(d$difference_mcse)] == 0))
  # The figures are the result's own, to the last bit.
  again <- d[d$design == "again", ]
  expect_identical(again$value, vapply(again$figure, function(f) x$oc[[f]], 0,
                                       USE.NAMES = FALSE))
  expect_identical(again$value_mcse, vapply(paste0(again$figure, "_mcse"),
                                            function(f) x$oc[[f]], 0,
                                            USE.NAMES = FALSE))
  # Also a run that was not paired: a copy of a result is its own trials.
  u <- run(seed = 5, ntrial = 4)
  d <- expect_silent(combosim_compare(u, again = u))$differences
  expect_true(all(d$difference_mcse[!is.na(d$difference)] == 0))
})

test_that("paired differences take their SE trial by trial, below the unpaired SE", {
  a <- quick(ntrial = 100)
  strict <- quick(ntrial = 100, rules = strictrules)
  cmp <- combosim_compare(a, strict = strict)
  d <- cmp$differences[cmp$differences$design == "strict", ]
  expect_true(all(d$paired))
  # The SD of the trial-by-trial differences over sqrt(n), as R computes it.
  for (f in c("correct", "acceptable")) {
    diff <- strict$trialcounts[, f] - a$trialcounts[, f]
    expect_equal(d$difference_mcse[d$figure == f], 100 * sd(diff) / sqrt(100),
                 tolerance = 1e-12, label = f)
  }
  expect_equal(d$difference_mcse[d$figure == "toxicities_mean"],
               sd(strict$trialcounts[, "toxicities"] - a$trialcounts[, "toxicities"]) / 10,
               tolerance = 1e-12)
  expect_identical(d$difference, d$value - d$reference_value)
  expect_lt(d$difference_mcse[d$figure == "correct"],
            d$unpaired_mcse[d$figure == "correct"])
  # The reference chosen by label; print and plot show the comparison.
  other <- combosim_compare(a, strict = strict, reference = "strict")
  expect_identical(other$reference, "strict")
  expect_identical(other$differences$difference[other$differences$design == "a"],
                   -d$difference)
  printed <- capture.output(print(cmp))
  expect_true(any(grepl("^strict - a: trial by trial over the same 100 trials \\(seed 5\\)$",
                        printed)))
  expect_true(any(grepl(sprintf("^  correct selection +%.2f +%.2f +%.2f %%",
                                a$oc$correct, strict$oc$correct,
                                strict$oc$correct - a$oc$correct), printed)))
  file <- tempfile(fileext = ".pdf")
  grDevices::pdf(file)
  expect_identical(plot(cmp), cmp)
  grDevices::dev.off()
  expect_error(plot(cmp, which = "correctness"), "correctness is not a figure")
})

test_that("results not run paired on the same trials are compared as independent", {
  a <- quick(ntrial = 8)
  cases <- list(unpaired = run(seed = 5, posterior = "quadrature", ntrial = 8),
                seed = run(seed = 6, paired = TRUE, posterior = "quadrature", ntrial = 8),
                truth = quick(ntrial = 8, eff = small$eff / 2),
                trials = quick(ntrial = 9))
  why <- c(unpaired = "not both run with paired = TRUE", seed = "different seeds",
           truth = "a different truth (eff)", trials = "different numbers of trials")
  for (name in names(cases)) {
    b <- cases[[name]]
    expect_message(cmp <- combosim_compare(a, b = b),
                   paste0("b (", why[[name]], ") is compared with a under ",
                          "independent standard errors"), fixed = TRUE)
    d <- cmp$differences[cmp$differences$design == "b", ]
    expect_false(any(d$paired))
    expect_identical(d$difference_mcse, d$unpaired_mcse)
    expect_identical(d$difference_mcse[d$figure == "correct"],
                     sqrt(a$oc$correct_mcse^2 + b$oc$correct_mcse^2))
  }
  expect_error(combosim_compare(a, a, reference = "b"),
               "reference \"b\" is none of the results (a, a.1)", fixed = TRUE)
  expect_error(combosim_compare(a, reference = 2), "reference must be the label")
})

# The study of two designs on two scenarios, as lists.
twoscenarios <- list(small = small,
                     toxic = utils::modifyList(small, list(tox = small$tox + 0.2)))
twodesigns <- list(A = list(posterior = "quadrature"),
                   strict = list(posterior = "quadrature",
                                 rules = list(escalate = 0.9, safety = 0.6)))

test_that("combosim_study() runs each design on each scenario, paired", {
  notes <- character()
  st <- withCallingHandlers(
    combosim_study(scenarios = twoscenarios, designs = twodesigns, trials = 12, seed = 4),
    message = function(m) {
      notes <<- c(notes, conditionMessage(m))
      invokeRestart("muffleMessage")
    })
  expect_identical(notes, sprintf("combosim_study: scenario %s: trials = 12 replaces its ntrial (6)\n",
                                  c("small", "toxic")))
  expect_identical(names(st$differences),
                   c("scenario", "design", "reference", "figure", "difference",
                     "difference_mcse", "unpaired_mcse"))
  expect_identical(names(st$designs), c("scenario", "design", "figure", "value", "mcse"))
  expect_identical(nrow(st$differences), 2L * 2L * 13L)
  own <- st$differences[st$differences$design == "A", ]
  expect_true(all(own$difference == 0 & own$difference_mcse == 0, na.rm = TRUE))
  # Each simulation is the one combosim_oc() gives alone, on either core
  # count, and the differences combosim_compare()'s.
  toxic <- run(twoscenarios$toxic, ntrial = 12, seed = 4, paired = TRUE,
               posterior = "quadrature", rules = strictrules)
  expect_identical(st$results$strict$toxic$oc, toxic$oc)
  serial <- suppressMessages(combosim_study(scenarios = twoscenarios,
                                            designs = twodesigns, trials = 12,
                                            seed = 4, cores = 1))
  expect_identical(serial$differences, st$differences)
  cmp <- combosim_compare(A = st$results$A$toxic, strict = toxic)$differences
  got <- st$differences[st$differences$scenario == "toxic" &
                          st$differences$design == "strict", ]
  expect_identical(got$difference_mcse, cmp$difference_mcse[cmp$design == "strict"])
  expect_true(any(grepl("^Scenario toxic \\(12 trials\\)$", capture.output(print(st)))))
})

test_that("a study file gives the study of the same lists", {
  skip_if_not_installed("jsonlite")
  dir <- tempfile("study")
  dir.create(dir)
  for (name in names(twoscenarios)) {
    writeLines(jsonscenario(twoscenarios[[name]]),
               file.path(dir, paste0(name, ".json")), sep = "")
  }
  study <- function(text) {
    path <- file.path(dir, "study.json")
    writeLines(text, path)
    path
  }
  designs <- paste0('"designs": [{"name": "A", "posterior": "quadrature"},',
                    '{"name": "strict", "posterior": "quadrature", ',
                    '"rules": {"escalate": 0.9, "safety": 0.6}}]')
  path <- study(paste0('{"scenarios": ["small.json", "toxic.json"], ', designs,
                       ', "reference": "A", "trials": 12, "seed": 4}'))
  fromfile <- suppressMessages(combosim_study(path))
  fromlists <- suppressMessages(combosim_study(scenarios = twoscenarios,
                                               designs = twodesigns,
                                               trials = 12, seed = 4))
  expect_identical(fromfile$differences, fromlists$differences)
  expect_identical(fromfile$designs, fromlists$designs)

  # Refused, naming the file and the field.
  bad <- list(
    c('"designs": [{"name": "A", "scentox": [[0.1]]}]',
      "designs[1] (A): scentox: a truth field"),
    c('"designs": [{"name": "A"}, {"name": "A", "ncohort2": 2}]',
      "designs[2]: a second design named A"),
    c('"designs": [{"name": "A", "cohorts": 2}]', "designs[1] (A): cohorts: unknown field"),
    c('"designs": [{"name": "A b"}]', "designs[1]: design name \"A b\" must be letters"),
    c(paste0(designs, ', "reference": "B"'), "reference: \"B\" is not one of the designs (A, strict)"),
    c(paste0(designs, ', "trails": 3'), "trails: unknown field"),
    c(paste0(designs, ', "base": {"targettox": 0.25, "scenprior1": [0.1, 0.2], ',
             '"scenprior2": [0.05, 0.1, 0.2], "ncohort1": 5, "cohortsize1": 3, ',
             '"ncohort2": 3, "cohortsize2": 3}'),
      "base: its target (0.25) is not scenario small's (0.3)"))
  for (case in bad) {
    path <- study(paste0('{"scenarios": ["small.json"], "seed": 1, ', case[1], '}'))
    expect_error(combosim_study(path), paste0(path, ": ", case[2]), fixed = TRUE)
  }
  path <- study(paste0('{"scenarios": ["small.json"], ', designs, '}'))
  expect_error(combosim_study(path), "seed: needed for paired designs", fixed = TRUE)
})

test_that("combosim_study() refuses bad lists, naming the field", {
  bad <- list(
    list(list(A = list(tox = small$tox)), "designs$A$tox: a truth field"),
    list(list(A = list(ntrial = 3)), "designs$A$ntrial: set for every design by the study's trials"),
    list(list(A = list(rules = list(escalte = 0.9))), "designs$A$rules$escalte: unknown field"),
    list(list(A = list(), A = list()), "designs: two designs named A"),
    list(list(A = list(rules = list(escalate = 2))), "designs$A$rules: escalate"),
    # Checked before any simulation runs.
    list(list(A = list(), B = list(prior1 = 0.1)),
         "design B on scenario scenario1: prior1 must be a numeric vector"))
  for (case in bad) {
    expect_error(suppressMessages(combosim_study(scenarios = list(small), designs = case[[1]],
                                                 seed = 1, trials = 2)),
                 case[[2]], fixed = TRUE)
  }
  expect_error(combosim_study(scenarios = list(small), designs = list(A = list()),
                              reference = "B", seed = 1),
               "reference: \"B\" is not one of the designs (A)", fixed = TRUE)
  expect_error(combosim_study(scenarios = list(small), designs = list(A = list())),
               "seed: needed for paired designs", fixed = TRUE)
  expect_error(combosim_study(scenarios = list(small[-1]), designs = list(A = list()),
                              seed = 1), "scenarios$scenario1$tox: missing (the truth)",
               fixed = TRUE)
})
