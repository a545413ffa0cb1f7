# print(), plot() and as.data.frame() of a combosim_oc result.

# A number as C++ streams write it by default (6 significant digits).
fmtg <- function(x) sprintf("%g", x)

# The lines of one table of the report, [drug-1, drug-2] laid out as the
# dose grid: one row per drug-2 level, the highest on top, and one column per
# drug-1 level, labelled as the console labels its grids. `cell` formats one
# value exactly as the report does, 10 characters wide, and `label` a level
# number to stand under it.
gridlines <- function(m, cell, label) {
  j <- nrow(m)
  k <- ncol(m)
  rows <- vapply(rev(seq_len(k)), function(d2) {
    name <- if (d2 - 1L == k %/% 2L) "Drug 2 " else "       "
    paste0(name, formatC(d2, width = 2), "|",
           paste0(vapply(m[, d2], cell, ""), collapse = ""))
  }, "")
  c(rows,
    paste0(strrep(" ", 9), strrep("-", 10 * j + 1)),
    paste0(strrep(" ", 10), paste0(vapply(seq_len(j), label, ""), collapse = "")),
    paste0(strrep(" ", 5 * j + 7), "Drug 1"))
}

truthcell <- function(v) formatC(fmtg(v), width = 10)
truthlabel <- function(d) formatC(d, width = 10)
meancell <- function(v) paste0(sprintf("%8.2f", v), "  ")
meanlabel <- function(d) paste0(formatC(d, width = 8), "  ")

# 100 minus the selection percentages added in the report's print order
# (drug-2 levels from the highest down, drug-1 levels ascending), as the
# console report computes its figure; one plain double addition at a time.
reportinconclusive <- function(x) {
  total <- 0
  sel <- x$selection
  for (d2 in rev(seq_len(ncol(sel)))) {
    for (d1 in seq_len(nrow(sel))) total <- total + sel[d1, d2]
  }
  max(100 - total, 0)
}

reasonlabels <- c(
  phase1_stopped = "phase I stopped at the lowest combination",
  none_admissible = "no combination admissible for phase II",
  all_closed = "every admissible combination closed as unsafe or futile",
  no_positive_mean = "no open combination with a mean response above 0")

randomtext <- function(x) {
  if (is.null(x$seed)) return("combosim's fixed-seed generators")
  paste0("std::mt19937_64, seed ", seedtext(x$seed),
         if (isTRUE(x$paired)) ", paired (streams of their own per trial)")
}

print.combosim_oc <- function(x, ...) {
  s <- x$scenario
  out <- c(
    sprintf("combosim %s: %d trials on a %d by %d dose grid", x$version,
            s$ntrial, nrow(s$tox), ncol(s$tox)),
    if (!is.null(x$posterior))
      sprintf("Posterior: %s; Boost %s", cs_posteriorwords(x$posterior), x$boost),
    paste0("Random numbers: ", randomtext(x)),
    "",
    sprintf("Phase I cohort size = %d ; the number of cohort = %d",
            s$cohortsize1, s$ncohort1),
    sprintf("Phase II cohort size = %d ; the number of cohort = %d",
            s$cohortsize2, s$ncohort2),
    "",
    rulelines(x$rules, s$target, s$mineff),
    "", "True toxicity:", gridlines(s$tox, truthcell, truthlabel),
    "", "True efficacy:", gridlines(s$eff, truthcell, truthlabel),
    "", "Number of patients treated at each dose:",
    gridlines(x$patients, meancell, meanlabel),
    "", "Number of toxicity observed at each dose:",
    gridlines(x$toxicities, meancell, meanlabel),
    "", "Number of response observed at each dose:",
    gridlines(x$responses, meancell, meanlabel),
    "", "Selection probabilities (%):",
    gridlines(x$selection, meancell, meanlabel),
    "",
    sprintf("Percentage of inconclusive trials: %.2f%%", reportinconclusive(x)))
  ends <- x$reasons[names(reasonlabels)]
  labels <- reasonlabels
  # Under a phase II scope, entries not allowed end phase II as closed ones.
  if (!is.null(x$rules$phase2)) {
    labels[["all_closed"]] <- "every admissible combination closed or not allowed"
  }
  if (any(ends > 0)) {
    out <- c(out, sprintf("  %s: %.2f%%", labels[ends > 0],
                          ends[ends > 0] / s$ntrial * 100))
  }
  cat(out, sep = "\n")
  invisible(x)
}

# The combinations of the truth a design should select, the targets: those
# with the highest true response among the acceptable ones (true toxicity at
# most the target, true response at least mineff); every one of them on a
# tie. Returns their (drug1, drug2) rows, none when nothing is acceptable.
targets <- function(s) {
  ok <- s$tox <= s$target & s$eff >= s$mineff
  if (!any(ok)) return(matrix(integer(), 0L, 2L))
  which(ok & s$eff == max(s$eff[ok]), arr.ind = TRUE)
}

plot.combosim_oc <- function(x, which = c("selection", "patients"), ...) {
  which <- match.arg(which, several.ok = TRUE)
  s <- x$scenario
  titles <- c(selection = "Selection (%)", patients = "Patients per trial")
  old <- graphics::par(mfrow = c(1L, length(which)),
                       mar = c(6.5, 4, 3, 1))
  on.exit(graphics::par(old))
  j <- nrow(s$tox)
  k <- ncol(s$tox)
  best <- targets(s)
  # Light to dark, stopping short of shades too dark for black marks.
  shades <- grDevices::hcl.colors(30, "YlOrRd", rev = TRUE)[1:22]
  for (w in which) {
    m <- x[[w]]
    graphics::image(seq_len(j), seq_len(k), m, zlim = c(0, max(m, 1)),
                    col = shades,
                    xlab = "Drug 1 level", ylab = "Drug 2 level",
                    main = titles[[w]], axes = FALSE, ...)
    graphics::axis(1, at = seq_len(j))
    graphics::axis(2, at = seq_len(k))
    graphics::box()
    # Too toxic in truth: hatched.
    toxic <- which(s$tox > s$target, arr.ind = TRUE)
    if (nrow(toxic) > 0L) {
      graphics::rect(toxic[, 1] - 0.5, toxic[, 2] - 0.5, toxic[, 1] + 0.5,
                     toxic[, 2] + 0.5, density = 8, col = "black",
                     border = NA)
    }
    if (nrow(best) > 0L) {
      graphics::rect(best[, 1] - 0.47, best[, 2] - 0.47, best[, 1] + 0.47,
                     best[, 2] + 0.47, lwd = 3)
    }
    graphics::text(rep(seq_len(j), k), rep(seq_len(k), each = j),
                   sprintf("%.1f", m), font = 2)
  }
  graphics::mtext(paste("Outlined: the acceptable combinations with the",
                        "highest true response;",
                        "hatched: true toxicity above the target"),
                  side = 1, line = -1.2, outer = TRUE, cex = 0.8)
  invisible(x)
}

as.data.frame.combosim_oc <- function(x, row.names = NULL, optional = FALSE,
                                      ..., scenario = deparse1(substitute(x))) {
  s <- x$scenario
  j <- nrow(s$tox)
  k <- ncol(s$tox)
  # Drug-1 level outer, as the rows of summary.csv.
  d1 <- rep(seq_len(j), each = k)
  d2 <- rep(seq_len(k), times = j)
  cells <- cbind(d1, d2)
  r <- x$rules
  frame <- data.frame(
    scenario = scenario, drug1 = d1, drug2 = d2,
    truetox = s$tox[cells], trueresp = s$eff[cells],
    meanpatients = x$patients[cells], meantoxicities = x$toxicities[cells],
    meanresponses = x$responses[cells],
    selectionpercent = x$selection[cells],
    inconclusivepercent = x$inconclusive, trials = s$ntrial,
    generator = x$generator,
    seed = if (is.null(x$seed)) NA_character_ else seedtext(x$seed),
    shard = NA_integer_, nshard = 1L,
    targettox = s$target, mineff = s$mineff,
    escalate = r$escalate, deescalate = r$deescalate,
    admissible = r$admissible, safety = r$safety, futility = r$futility,
    minpatients = r$minpatients,
    row.names = row.names, stringsAsFactors = FALSE)
  # The options not at their defaults, as summary.csv holds them.
  options <- cs_optionstext(unclass(r))
  if (nzchar(options)) frame$options <- options
  # The method when it is not gibbs, as summary.csv's last columns.
  p <- x$posterior
  if (!is.null(p)) {
    frame$posterior <- p$method
    frame$toxnodes <- paste(p$nodes$toxicity, collapse = "x")
    frame$effnodes <- paste(p$nodes$response, collapse = "x")
    frame$draws <- p$draws
    frame$boost <- x$boost
  }
  frame
}
