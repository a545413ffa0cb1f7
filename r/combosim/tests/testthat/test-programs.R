# The package gives exactly what the command-line programs give.

# The rows of the report's table titled `title` (the lines after it, up to a
# blank line), with the trailing spaces the report writes.
reporttable <- function(lines, title) {
  at <- which(startsWith(lines, title))[1]
  rows <- character()
  for (line in lines[-seq_len(at)]) {
    if (!nzchar(trimws(line))) break
    rows <- c(rows, line)
  }
  rows
}

# The same table in print(): the row cells after the level labels.
printedtable <- function(lines, title) {
  rows <- reporttable(lines, title)
  sub("^.......[ 0-9][0-9]\\|", "", rows[grepl("^.......[ 0-9][0-9]\\|", rows)])
}

test_that("without a seed, print() shows combosim's report tables exactly", {
  exe <- program("COMBOSIM_EXE")
  dir <- tempfile("console")
  dir.create(dir)
  writeLines(answers(small), file.path(dir, "answers.txt"))
  runin(dir, exe, input = "answers.txt")
  report <- readLines(file.path(dir, "results.txt"))
  printed <- capture.output(print(run()))
  titles <- c("True toxicity:", "True efficacy:",
              "Number of patients treated at each dose:",
              "Number of toxicity observed at each dose:",
              "Number of response observed at each dose:",
              "Selection probabilities (%):")
  for (title in titles) {
    expect_identical(printedtable(printed, title), reporttable(report, title),
                     label = title)
  }
  inconclusive <- "Percentage of inconclusive trials:"
  expect_identical(printed[startsWith(printed, inconclusive)],
                   report[startsWith(report, inconclusive)])
})

# Runs combosim-batch on the scenario (with `args`) and reads its result.
batchrun <- function(s, args = character(), rules = NULL) {
  skip_if_not_installed("jsonlite")
  exe <- program("COMBOSIM_BATCH_EXE")
  dir <- tempfile("batch")
  dir.create(dir)
  writeLines(jsonscenario(s, rules), file.path(dir, "small.json"), sep = "")
  runin(dir, exe, c("--out", "out", args, "small.json"))
  list(json = jsonlite::fromJSON(file.path(dir, "out", "small.json")),
       csv = utils::read.csv(file.path(dir, "out", "summary.csv"),
                             colClasses = c(seed = "character"),
                             stringsAsFactors = FALSE))
}

# Every figure of `x` is the same double as in the batch result `j`.
expect_batch_figures <- function(x, j) {
  tables <- c(patients = "patients", toxicities = "toxicities",
              responses = "responses")
  for (name in names(tables)) {
    expect_identical(unname(x[[name]]), j$averages[[tables[[name]]]], label = name)
    expect_identical(unname(x$sums[[name]]), j$sums[[tables[[name]]]] + 0,
                     label = paste("sums of", name))
  }
  expect_identical(unname(x$selection), j$selectionpercent)
  expect_identical(unname(x$sums$selections), j$sums$selections + 0)
  expect_identical(x$inconclusive, j$inconclusivepercent)
  outcomes <- unlist(j$sums$outcomes[names(x$sums$outcomes)])
  expect_identical(x$sums$outcomes, outcomes + 0)
  expect_identical(x$reasons, unlist(j$sums$outcomes$reasons)[names(x$reasons)] + 0)
  expect_identical(x$version, j$version)
  # The operating characteristics: null in JSON where they need two trials.
  expect_identical(names(x$oc), names(j$oc))
  for (name in names(j$oc)) {
    expect_identical(x$oc[[name]], if (is.null(j$oc[[name]])) NA_real_ else j$oc[[name]],
                     label = paste("oc", name))
  }
}

test_that("without a seed, the figures are combosim-batch's to the last bit", {
  b <- batchrun(small)
  expect_identical(b$json$random$generator, "fixed")
  expect_batch_figures(run(), b$json)
})

test_that("seed = S gives combosim-batch --seed S, also under other rules", {
  rules <- combosim_rules(escalate = 0.85, futility = 0.2, minpatients = 3)
  b <- batchrun(small, c("--seed", "2024"), rules)
  x <- run(seed = 2024, rules = rules)
  expect_identical(b$json$random$seed, 2024L)
  expect_batch_figures(x, b$json)
  # as.data.frame() is summary.csv, row by row, column by column.
  frame <- as.data.frame(x, scenario = "small")
  expect_identical(names(frame), names(b$csv))
  for (name in setdiff(names(frame), "shard")) {
    expect_equal(frame[[name]], b$csv[[name]], label = name, tolerance = 0)
  }
  expect_true(all(is.na(b$csv$shard)) && all(is.na(frame$shard)))
})

test_that("paired = TRUE gives combosim-batch --paired's figures", {
  b <- batchrun(small, c("--seed", "9", "--paired"))
  expect_true(b$json$random$paired)
  expect_batch_figures(run(seed = 9, paired = TRUE), b$json)
})

test_that("the options reach the engine as combosim-batch reads them", {
  rules <- combosim_rules(minpatients = 3, minpatients_stop = 1,
                          phase2 = "adjacent", start = c(1, 2))
  b <- batchrun(small, c("--seed", "11"), rules)
  x <- run(seed = 11, rules = rules)
  expect_identical(b$json$scenario$rules$start, c(1L, 2L))
  expect_batch_figures(x, b$json)
  # as.data.frame() ends with summary.csv's options column.
  frame <- as.data.frame(x, scenario = "small")
  expect_identical(names(frame), names(b$csv))
  expect_identical(frame$options, b$csv$options)
  expect_identical(frame$options[1], "minpatients_stop=1;phase2=adjacent;start=[1,2]")
})

test_that("posterior = \"quadrature\" gives combosim-batch's quadrature run", {
  skip_if_not_installed("jsonlite")
  exe <- program("COMBOSIM_BATCH_EXE")
  dir <- tempfile("batch")
  dir.create(dir)
  s <- utils::modifyList(small, list(ntrial = 3))
  writeLines(sub("^\\{", '{"posterior": {"method": "quadrature", "draws": 500},',
                 jsonscenario(s)),
             file.path(dir, "small.json"), sep = "")
  runin(dir, exe, c("--seed", "7", "--out", "out", "small.json"))
  j <- jsonlite::fromJSON(file.path(dir, "out", "small.json"))
  x <- run(s, seed = 7, posterior = list(method = "quadrature", draws = 500))
  expect_batch_figures(x, j)
  expect_identical(x$posterior$draws, j$scenario$posterior$draws)
  expect_identical(x$boost, j$boost)
  expect_equal(x$coarseupdates, j$coarseupdates)
  csv <- utils::read.csv(file.path(dir, "out", "summary.csv"),
                         colClasses = c(seed = "character"), stringsAsFactors = FALSE)
  frame <- as.data.frame(x, scenario = "small")
  expect_identical(names(frame), names(csv))
  for (name in c("posterior", "toxnodes", "effnodes", "draws", "boost")) {
    expect_equal(frame[[name]], csv[[name]], label = name)
  }
  nodes <- x$posterior$nodes
  expect_true(paste0("Posterior: quadrature, nodes ",
                     paste(nodes$toxicity, collapse = "x"), " (toxicity), ",
                     paste(nodes$response, collapse = "x"), " (response), ",
                     "500 draws per randomisation; Boost ", j$boost)
              %in% capture.output(print(x)))
  # Under gibbs nothing of the method is recorded.
  expect_null(run(s)$posterior)
  # Cohorts of 200 narrow the posterior beyond the nodes: R warns, as
  # combosim-batch does.
  expect_warning(run(s, ntrial = 1, cohortsize1 = 200, posterior = "quadrature"),
                 "cohorts left a posterior too narrow for the quadrature nodes")
})
