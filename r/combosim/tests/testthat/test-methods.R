# print(), summary(), plot(), as.data.frame() and combosim_compare().

test_that("print() returns its argument and names the ends without a selection", {
  x <- run(tox = small$tox + 0.5)
  printed <- capture.output(same <- print(x))
  expect_identical(same, x)
  ends <- printed[grepl("^  [a-z].*: [0-9.]+%$", printed)]
  expect_true(length(ends) > 0)
  shares <- as.numeric(sub(".*: ([0-9.]+)%$", "\\1", ends))
  expect_equal(sum(shares), x$inconclusive)
})

test_that("summary() shows each figure with its standard error", {
  x <- run()
  s <- summary(x)
  expect_identical(s$figures$mcse[s$figures$name == "toxicities_mean"],
                   x$oc$toxicities_mean_mcse)
  printed <- capture.output(returned <- print(s))
  expect_identical(returned, s)
  correct <- printed[startsWith(printed, "  correct selection ")]
  expect_match(correct, sprintf("%.2f %% (\u00b1|\\+/-) +%.2f$", x$oc$correct,
                                x$oc$correct_mcse))
  # One trial has no standard error of a mean.
  one <- capture.output(print(summary(run(ntrial = 1))))
  expect_match(one[startsWith(one, "  toxicities per trial ")], "(\u00b1|\\+/-) +-$")
})

test_that("plot() writes a PNG, for a 1 by 1 grid too", {
  for (s in list(small, utils::modifyList(small, list(
    tox = matrix(0.2), eff = matrix(0.4), prior1 = 0.2, prior2 = 0.2,
    ntrial = 2)))) {
    file <- tempfile(fileext = ".png")
    grDevices::png(file, width = 800, height = 400)
    plot(run(s))
    grDevices::dev.off()
    expect_identical(readBin(file, "raw", 8), as.raw(c(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a)))
  }
})

test_that("as.data.frame() has one row per combination, drug-1 level outer", {
  x <- run()
  frame <- as.data.frame(x)
  expect_identical(frame$drug1, c(1L, 1L, 1L, 2L, 2L, 2L))
  expect_identical(frame$drug2, c(1L, 2L, 3L, 1L, 2L, 3L))
  expect_identical(frame$meanpatients[6], x$patients[2, 3])
  expect_identical(frame$truetox[4], small$tox[2, 1])
  expect_identical(frame$scenario[1], "x")
})

test_that("combosim_compare() puts results side by side", {
  a <- run()
  strict <- run(rules = combosim_rules(safety = 0.6))
  # The side-by-side table is the comparison's $table; unpaired runs are
  # compared as independent, and the message says so.
  expect_message(cmp <- combosim_compare(a, strict = strict),
                 "strict (not both run with paired = TRUE)", fixed = TRUE)
  table <- cmp$table
  expect_identical(names(table), c("measure", "drug1", "drug2", "a", "strict"))
  expect_identical(nrow(table), 2L * 6L + 4L + length(a$oc))
  expect_identical(table$strict[table$measure == "inconclusive %"],
                   strict$inconclusive)
  expect_identical(table$strict[table$measure == "correct_mcse"],
                   strict$oc$correct_mcse)
  expect_identical(table$a[table$measure == "selection %"],
                   as.vector(t(a$selection)))
  other <- run(tox = matrix(0.2), eff = matrix(0.4), prior1 = 0.2,
               prior2 = 0.2, ntrial = 2)
  expect_error(combosim_compare(a, other), "the same dose grid")
  # A label naming one of the table's own columns would replace it.
  for (label in c("measure", "drug1", "drug2")) {
    args <- list(a, strict)
    names(args) <- c("a", label)
    expect_error(do.call(combosim_compare, args),
                 paste0("combosim_compare: ", label, " names a column of the ",
                        "table (measure, drug1, drug2)"), fixed = TRUE)
  }
})
