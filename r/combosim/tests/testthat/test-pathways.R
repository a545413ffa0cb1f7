# combosim_pathways(): each branch is combosim_next() on the branch's
# cohorts; the messages of combosim_next(); level names; the result plots.

quad <- c(trialdesign, list(posterior = "quadrature"))

# The trial's cohorts deviate from what the design chooses under
# quadrature; the warnings that say so are not the point here.
quiet <- function(expr) suppressWarnings(expr)

# The cohorts from the real ones down to node i of pathways p.
branch <- function(p, i, cohorts) {
  rows <- integer()
  while (!is.na(i)) {
    rows <- c(i, rows)
    i <- p$parent[i]
  }
  responses <- if (is.null(p$responses)) 0L else p$responses[rows]
  rbind(cohorts, data.frame(drug1 = p$drug1[rows], drug2 = p$drug2[rows],
                            patients = p$patients[rows],
                            toxicities = p$toxicities[rows],
                            responses = responses))
}

test_that("phase I pathways are combosim_next() on each branch's cohorts", {
  real <- trialcohorts[1:2, ]
  p <- combosim_pathways(quad, real, k = 2)
  expect_true(attr(p, "exact"))
  expect_identical(nrow(p), 20L)  # 4 outcomes, each followed by 4
  expect_identical(p$parent[1:6], c(NA, 1L, 1L, 1L, 1L, NA))
  for (i in seq_len(nrow(p))) {
    x <- combosim_next(quad, branch(p, i, real), progress = FALSE)
    expect_identical(p$outcome[i], x$decision$outcome)
    expect_identical(p$pr_toxicity_below_target[i],
                     x$decision$phase1_rule$pr_toxicity_below_target)
    expect_identical(c(p$next_drug1[i], p$next_drug2[i]), unname(x$decision$`next`))
  }
  # A child is treated where its parent's decision sent it.
  child <- which(!is.na(p$parent))
  expect_identical(p$drug1[child], p$next_drug1[p$parent[child]])
  # Under gibbs one realisation: the updates start where the real cohort's
  # would, so a branch's decision is combosim_next()'s under the same seed.
  g <- combosim_pathways(trialdesign, real, k = 1, seed = 11)
  expect_false(attr(g, "exact"))
  expect_type(g$close_call, "logical")
  for (i in seq_len(nrow(g))) {
    x <- combosim_next(trialdesign, branch(g, i, real), seed = 11,
                       progress = FALSE)
    expect_identical(g$pr_toxicity_below_target[i],
                     x$decision$phase1_rule$pr_toxicity_below_target)
  }
})

test_that("phase II pathways give the closures and randomisation per outcome", {
  real <- trialcohorts[1:12, ]
  p <- quiet(combosim_pathways(quad, real))
  expect_identical(attr(p, "phase"), 2L)
  open <- quiet(combosim_next(quad, real, progress = FALSE))$posterior
  expect_identical(nrow(p), sum(open$status %in% "open") * 16L)
  i <- which(p$toxicities == 3 & p$responses == 0)[1]
  x <- quiet(combosim_next(quad, branch(p, i, real), progress = FALSE))
  probs <- x$decision$randomisation$probabilities
  column <- sprintf("randomise_%d_%d", probs$drug1, probs$drug2)
  expect_identical(unlist(p[i, column], use.names = FALSE), probs$probability)
  expect_error(quiet(combosim_pathways(quad, real, k = 2)),
               "k = 2: in phase II the pathways go one cohort ahead, not 2",
               fixed = TRUE)
  expect_error(combosim_pathways(quad, NULL, k = 6),
               "k = 6: needs 5460 posterior updates, more than the 2000 allowed",
               fixed = TRUE)
  png <- tempfile(fileext = ".png")
  grDevices::png(png, width = 900, height = 600)
  plot(combosim_pathways(quad, trialcohorts[1:2, ], k = 2))
  grDevices::dev.off()
  expect_gt(file.size(png), 5000)
})

test_that("combosim_next() takes the design files' names and says what is wrong", {
  file <- list(targettox = 0.3, mineff = 0.2, scenprior1 = c(0.05, 0.1, 0.2),
               scenprior2 = c(0.05, 0.1, 0.2), ndose1 = 3, ndose2 = 3,
               ncohort1 = 10, cohortsize1 = 3, ncohort2 = 5, cohortsize2 = 3)
  k <- trialcohorts[1:3, ]
  expect_identical(combosim_next(file, k, progress = FALSE)$decision,
                   combosim_next(trialdesign, k, progress = FALSE)$decision)
  expect_error(combosim_next(c(file, list(target = 0.3)), k),
               "design$target and design$targettox: the same field given twice",
               fixed = TRUE)
  expect_error(combosim_next(cohorts = k), "^design: missing")
  expect_error(combosim_next(trialdesign), "^cohorts: missing")
  expect_error(combosim_next(modifyList(file, list(scenprior1 = c(0.05, NA, 0.2))), k),
               "design$prior1[2]: missing (NA)", fixed = TRUE)
  expect_error(combosim_next(modifyList(trialdesign, list(target = 30)), k),
               "^design\\$target: .*; probabilities, not percentages\\?$")
  expect_error(combosim_next(modifyList(file, list(ndose2 = 4)), k),
               "design$ndose2: 4 dose levels, but design$prior2 has 3 values",
               fixed = TRUE)
  expect_warning(combosim_next(modifyList(trialdesign, list(prior2 = c(0.2, 0.1, 0.3))),
                               NULL, progress = FALSE),
                 "design$prior2: the prior toxicities do not increase", fixed = TRUE)
})

test_that("level names name the combinations and change no number", {
  named <- c(quad, list(labels1 = c("10 mg", "20 mg", "40 mg"),
                        labels2 = c("a", "b", "c")))
  k <- trialcohorts[1:12, ]
  x <- quiet(combosim_next(named, k, progress = FALSE))
  y <- quiet(combosim_next(quad, k, progress = FALSE))
  expect_identical(x$posterior, y$posterior)
  expect_match(paste(x$decision$text, collapse = "\n"), "(40 mg, a)", fixed = TRUE)
  printed <- capture.output(print(x))
  expect_true(any(grepl("(10 mg, a)", printed, fixed = TRUE)))
  expect_false(any(grepl("(1, 1)", printed, fixed = TRUE)))
  p <- quiet(combosim_pathways(named, k))
  expect_identical(p$drug1_label[1], c("10 mg", "20 mg", "40 mg")[p$drug1[1]])
  expect_error(combosim_next(modifyList(named, list(labels2 = c("a", "b", "a"))), k),
               "design$labels2: levels 1 and 3 have the same name", fixed = TRUE)
  expect_error(combosim_next(modifyList(named, list(labels1 = c("1", "2", strrep("x", 21)))), k),
               "design$labels1[3]: has 21 characters, more than 20", fixed = TRUE)
  expect_error(combosim_next(modifyList(named, list(labels1 = c("1", "2"))), k),
               "design$labels1: must be 3 names", fixed = TRUE)
})

test_that("plot() of a result draws each map with its key, not blank", {
  skip_if_not_installed("png")
  x <- run(ntrial = 10, seed = 1)
  # The darkest stop of the scale appears in each map's key, once per map,
  # in the map's own part of the width.
  keys <- function(which, width) {
    file <- tempfile(fileext = ".png")
    grDevices::png(file, width = width, height = 450)
    plot(x, which = which)
    grDevices::dev.off()
    img <- png::readPNG(file)
    expect_identical(dim(img)[1:2], c(450L, as.integer(width)))
    # Not blank: dark ink and more than one shade of the scale.
    rgb <- round(img[, , 1:3] * 255)
    code <- rgb[, , 1] * 65536 + rgb[, , 2] * 256 + rgb[, , 3]
    expect_gt(mean(code < 0x404040), 0.002)
    expect_gt(length(intersect(unique(as.vector(code)),
                               strtoi(substring(combosim:::scalestops, 2), 16L))),
              3L)
    dark <- which(colSums(code[round(450 * 6 / 7):450, ] == 0x08306b) > 0)
    runs <- split(dark, cumsum(c(1, diff(dark) > 1)))
    expect_length(runs, length(which))
    part <- width / length(which)
    for (i in seq_along(runs)) {
      expect_true(all(runs[[i]] > (i - 1) * part & runs[[i]] <= i * part))
    }
  }
  keys(c("selection", "patients", "toxicity"), 1200)
  keys("selection", 500)
})

test_that("combosim_pathways() gives combosim-next --pathways --json's nodes", {
  skip_if_not_installed("jsonlite")
  exe <- program("COMBOSIM_NEXT_EXE")
  dir <- tempfile("paths")
  dir.create(dir)
  for (case in list(list(n = 3, k = 2), list(n = 12, k = 1))) {
    file <- file.path(dir, "trial.json")
    real <- trialcohorts[seq_len(case$n), ]
    trialfile(trialdesign, real, file)
    out <- file.path(dir, "out.json")
    status <- system2(exe, c("--json", "--seed", "5", "--pathways", case$k, file),
                      stdout = out, stderr = file.path(dir, "err.txt"))
    expect_identical(status, 0L)
    nodes <- jsonlite::fromJSON(out, simplifyVector = FALSE)$pathways$nodes
    p <- quiet(combosim_pathways(trialdesign, real, k = case$k, seed = 5))
    expect_identical(nrow(p), length(nodes))
    field <- function(name) vapply(nodes, function(n) {
      v <- n[[name]]
      if (is.null(v)) NA_real_ else as.double(v)
    }, 0)
    expect_identical(p$outcome, vapply(nodes, function(n) n$outcome, ""))
    expect_identical(as.double(p$toxicities), field("toxicities"))
    expect_identical(p$pr_toxicity_below_target, field("pr_toxicity_below_target"))
    expect_identical(p$close_call, vapply(nodes, function(n) n$close_call, TRUE))
  }
})

test_that("at the switch the end of phase I and the phase II refit are named", {
  k <- trialcohorts[1:10, ]
  g <- capture.output(print(quiet(combosim_next(trialdesign, k, progress = FALSE))))
  expect_true(any(startsWith(g, paste("  pr(toxicity<0.3) at the end of phase I",
                                      "and in the phase II refit: (1, 1) "))))
  expect_true(any(grepl("here is the phase II refit", g, fixed = TRUE)))
  q <- capture.output(print(quiet(combosim_next(quad, k, progress = FALSE))))
  expect_true(any(grepl("one value under quadrature (the same data, exact)", q,
                        fixed = TRUE)))
  expect_false(any(grepl("at the end of phase I and in", q, fixed = TRUE)))
})
