# Several results side by side, and each one's differences from a reference:
# trial by trial when both ran paired on the same trials of the same truth.

# The figures of a comparison, in engine/compare.h's order (the rows of
# summary()).
comparefigures <- function() ocrows$name

# Why `x` cannot be compared trial by trial with the reference `ref`: "" when
# it can (both paired, one seed, the same truth and the same trials).
unpairedwhy <- function(x, ref) {
  if (!isTRUE(x$paired) || !isTRUE(ref$paired) || is.null(x$trialcounts) ||
      is.null(ref$trialcounts)) {
    return("not both run with paired = TRUE")
  }
  if (!identical(seedtext(x$seed), seedtext(ref$seed))) return("different seeds")
  sx <- x$scenario
  sr <- ref$scenario
  for (name in c("tox", "eff", "target", "mineff")) {
    # As doubles: a whole number given as an integer is the same truth.
    if (!identical(as.double(sx[[name]]), as.double(sr[[name]]))) {
      return(paste0("a different truth (", name, ")"))
    }
  }
  if (sx$ntrial != sr$ntrial) return("different numbers of trials")
  ""
}

# The differences of `x` from `ref`, one row per figure: each one's value and
# SE, the difference, its SE (paired when `paired`, from the engine's sums of
# the trial-by-trial counts; otherwise the independent one) and the SE under
# independent numbers.
differencerows <- function(x, ref, paired) {
  figures <- comparefigures()
  if (paired) {
    d <- as.data.frame(cs_differences(x$trialcounts, ref$trialcounts),
                       stringsAsFactors = FALSE)
    return(d[match(figures, d$figure), , drop = FALSE])
  }
  value <- function(r, suffix = "") {
    vapply(paste0(figures, suffix), function(n) as.double(r$oc[[n]]), 0,
           USE.NAMES = FALSE)
  }
  a <- value(x)
  sa <- value(x, "_mcse")
  b <- value(ref)
  sb <- value(ref, "_mcse")
  unpaired <- sqrt(sa * sa + sb * sb)
  data.frame(figure = figures, value = a, value_mcse = sa,
             reference_value = b, reference_mcse = sb, difference = a - b,
             difference_mcse = unpaired, unpaired_mcse = unpaired,
             stringsAsFactors = FALSE)
}

# The side-by-side table of the results (what combosim_compare() returned
# before it compared).
sidebyside <- function(results, labels) {
  dims <- vapply(results, function(r) dim(r$selection), integer(2))
  if (any(dims != dims[, 1])) {
    fail("combosim_compare: the results must have the same dose grid")
  }
  j <- dims[1, 1]
  k <- dims[2, 1]
  cells <- cbind(rep(seq_len(j), each = k), rep(seq_len(k), times = j))
  # Then the operating characteristics, by their names in x$oc.
  figures <- names(results[[1]]$oc)
  whole <- 4L + length(figures)
  rows <- data.frame(
    measure = c(rep("selection %", j * k), rep("patients", j * k),
                "inconclusive %", "patients per trial",
                "toxicities per trial", "responses per trial", figures),
    drug1 = c(cells[, 1], cells[, 1], rep(NA_integer_, whole)),
    drug2 = c(cells[, 2], cells[, 2], rep(NA_integer_, whole)),
    stringsAsFactors = FALSE)
  for (i in seq_along(results)) {
    r <- results[[i]]
    rows[[labels[i]]] <- c(r$selection[cells], r$patients[cells],
                           r$inconclusive,
                           r$sums$outcomes[["patients"]] / r$scenario$ntrial,
                           r$sums$outcomes[["toxicities"]] / r$scenario$ntrial,
                           r$sums$outcomes[["responses"]] / r$scenario$ntrial,
                           as.double(unlist(r$oc[figures])))
  }
  rows
}

combosim_compare <- function(..., reference = 1) {
  results <- list(...)
  if (length(results) == 0L) fail("combosim_compare needs at least one result")
  labels <- names(results)
  if (is.null(labels)) labels <- rep("", length(results))
  exprs <- vapply(as.list(substitute(list(...)))[-1L], deparse1, "")
  labels[!nzchar(labels)] <- exprs[!nzchar(labels)]
  labels <- make.unique(labels)
  # The table's own columns, which a label would replace.
  columns <- c("measure", "drug1", "drug2")
  taken <- labels[labels %in% columns]
  if (length(taken) > 0L) {
    fail("combosim_compare: ", taken[1], " names a column of the table (",
         paste(columns, collapse = ", "), "); label the result otherwise, ",
         "e.g. combosim_compare(a = ", taken[1], ")")
  }
  for (i in seq_along(results)) {
    if (!inherits(results[[i]], "combosim_oc")) {
      fail("combosim_compare: ", labels[i], " is not a result of combosim_oc()")
    }
    if (is.null(results[[i]]$oc)) {
      fail("combosim_compare: ", labels[i], " holds no operating characteristics")
    }
  }
  table <- sidebyside(results, labels)

  if (is.character(reference) && length(reference) == 1L && !is.na(reference)) {
    at <- match(reference, labels)
    if (is.na(at)) {
      fail("combosim_compare: reference \"", reference, "\" is none of the ",
           "results (", paste(labels, collapse = ", "), ")")
    }
  } else if (is.numeric(reference) && length(reference) == 1L &&
             !is.na(reference) && reference == round(reference) &&
             reference >= 1 && reference <= length(results)) {
    at <- as.integer(reference)
  } else {
    fail("combosim_compare: reference must be the label or the position ",
         "(1 to ", length(results), ") of one of the results")
  }
  ref <- results[[at]]
  # The reference itself (or a copy of it) is the same trials, paired or not.
  same <- vapply(seq_along(results), function(i) {
    i == at || identical(results[[i]], ref)
  }, TRUE)
  why <- vapply(seq_along(results), function(i) {
    if (same[i]) "" else unpairedwhy(results[[i]], ref)
  }, "")
  if (any(nzchar(why))) {
    message("combosim_compare: ", paste0(
      labels[nzchar(why)], " (", why[nzchar(why)], ")", collapse = ", "),
      if (sum(nzchar(why)) == 1L) " is" else " are",
      " compared with ", labels[at], " under independent standard errors, ",
      "not trial by trial: run both with paired = TRUE, one seed, the same ",
      "truth and ntrial")
  }
  rows <- lapply(seq_along(results), function(i) {
    r <- results[[i]]
    d <- differencerows(r, ref, paired = !nzchar(why[i]) && !(same[i] && !isTRUE(r$paired)))
    # A result compared with itself: the same trials, so no difference.
    if (same[i]) d$difference_mcse[!is.na(d$difference)] <- 0
    cbind(data.frame(design = labels[i], reference = labels[at],
                     stringsAsFactors = FALSE),
          d, data.frame(paired = !nzchar(why[i])))
  })
  differences <- do.call(rbind, rows)
  rownames(differences) <- NULL
  structure(list(differences = differences, table = table,
                 reference = labels[at], labels = labels,
                 paired = structure(!nzchar(why), names = labels),
                 ntrial = vapply(results, function(r) r$scenario$ntrial, 0L),
                 seed = vapply(results, function(r) {
                   if (is.null(r$seed)) NA_character_ else seedtext(r$seed)
                 }, "")),
            class = "combosim_compare")
}

print.combosim_compare <- function(x, digits = 2, ...) {
  d <- x$differences
  pm <- if (isTRUE(l10n_info()[["UTF-8"]])) "\u00b1" else "+/-"
  number <- function(v) ifelse(is.na(v), "-", formatC(v, format = "f", digits = digits))
  ref <- x$reference
  cat(if (length(x$labels) == 1L) sprintf("combosim comparison: one result, %s", ref) else
        sprintf("combosim comparison: %d results, each against %s", length(x$labels), ref),
      sep = "\n")
  labels <- ocrows$label[match(comparefigures(), ocrows$name)]
  units <- ocrows$unit[match(comparefigures(), ocrows$name)]
  for (label in setdiff(x$labels, ref)) {
    rows <- d[d$design == label, , drop = FALSE]
    i <- match(label, x$labels)
    how <- if (x$paired[[label]] && is.na(x$seed[[i]])) {
      sprintf("the same %d trials", x$ntrial[[i]])
    } else if (x$paired[[label]]) {
      sprintf("trial by trial over the same %d trials (seed %s)", x$ntrial[[i]], x$seed[[i]])
    } else {
      "independent standard errors (not run paired on the same trials)"
    }
    cat("", sprintf("%s - %s: %s", label, ref, how), sep = "\n")
    width <- max(10L, nchar(label), nchar(ref))
    cat(sprintf("  %-40s %*s %*s %10s   %s %6s%s", "", width, ref, width, label,
                "difference", strrep(" ", nchar(pm)), "SE",
                if (x$paired[[label]]) "  (unpaired SE)" else ""), sep = "\n")
    cat(sprintf("  %-40s %*s %*s %10s %-1s %s %6s%s", labels, width,
                number(rows$reference_value), width, number(rows$value),
                number(rows$difference), units, pm, number(rows$difference_mcse),
                if (x$paired[[label]]) sprintf("  (%s)", number(rows$unpaired_mcse)) else ""),
        sep = "\n")
  }
  if (length(x$labels) == 1L) cat("(one result: nothing to compare)", sep = "\n")
  invisible(x)
}

plot.combosim_compare <- function(x, which = c("correct", "acceptable", "overtoxic",
                                               "inconclusive", "overtoxic_patients",
                                               "patients_mean"), ...) {
  unknown <- setdiff(which, comparefigures())
  if (length(unknown) > 0L) {
    fail("plot: which: ", unknown[1], " is not a figure of the comparison (",
         paste(comparefigures(), collapse = ", "), ")")
  }
  d <- x$differences
  designs <- setdiff(x$labels, x$reference)
  if (length(designs) == 0L) fail("plot: one result, nothing to compare")
  units <- ocrows$unit[match(which, ocrows$name)]
  # Percentage points and per-trial counts on axes of their own.
  panels <- split(which, factor(ifelse(units == "%", "points", "trial"),
                                levels = c("points", "trial")))
  panels <- panels[lengths(panels) > 0L]
  titles <- c(points = "Difference (percentage points)",
              trial = "Difference (per trial)")
  # One panel above the other, each as tall as its figures need.
  old <- graphics::par(mar = c(4.5, 15, 3, 1), oma = c(1.5, 0, 0, 0))
  on.exit(graphics::par(old))
  graphics::layout(matrix(seq_along(panels), ncol = 1L),
                   heights = lengths(panels) + 1.5)
  on.exit(graphics::layout(1L), add = TRUE)
  colours <- grDevices::palette.colors(max(length(designs), 2L) + 1L)[-1L]
  # The first design on top within each figure, as in the legend.
  offsets <- if (length(designs) == 1L) 0 else
    seq(0.25, -0.25, length.out = length(designs))
  for (p in names(panels)) {
    figs <- panels[[p]]
    rows <- d[d$design %in% designs & d$figure %in% figs, , drop = FALSE]
    lo <- rows$difference - 2 * rows$difference_mcse
    hi <- rows$difference + 2 * rows$difference_mcse
    range <- range(c(0, lo, hi), na.rm = TRUE)
    y <- rev(seq_along(figs))
    graphics::plot(NA, xlim = range, ylim = c(0.5, length(figs) + 0.5),
                   yaxt = "n", xlab = titles[[p]], ylab = "",
                   main = if (p == names(panels)[1]) paste("Each design minus", x$reference),
                   ...)
    graphics::axis(2, at = y, labels = trimws(ocrows$label[match(figs, ocrows$name)]),
                   las = 1, cex.axis = 0.8)
    graphics::abline(v = 0, col = "grey50", lty = 2)
    for (k in seq_along(designs)) {
      r <- rows[rows$design == designs[k], , drop = FALSE]
      at <- y[match(r$figure, figs)] + offsets[k]
      ok <- !is.na(r$difference) & !is.na(r$difference_mcse) & r$difference_mcse > 0
      if (any(ok)) {
        graphics::arrows(r$difference[ok] - 2 * r$difference_mcse[ok], at[ok],
                         r$difference[ok] + 2 * r$difference_mcse[ok], at[ok],
                         angle = 90, code = 3, length = 0.04, col = colours[k])
      }
      graphics::points(r$difference, at, pch = 19, col = colours[k])
    }
    if (p == names(panels)[1]) graphics::legend("topright", legend = paste0(designs, ifelse(
      x$paired[designs], " (paired)", " (independent)")), col = colours[seq_along(designs)],
      pch = 19, bty = "n", cex = 0.8)
  }
  graphics::mtext("Bars: 2 standard errors either side", side = 1, line = 0.3,
                  outer = TRUE, cex = 0.8)
  invisible(x)
}
