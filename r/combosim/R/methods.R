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

# The report's single-hue scale, light (0) to dark (1), straight between its
# stops; text on a cell darker than `darktext` of the scale is white.
scalestops <- c("#f7fbff", "#deebf7", "#c6dbef", "#9ecae1", "#6baed6",
                "#4292c6", "#2171b5", "#08519c", "#08306b")
darktext <- 0.55
scalecolour <- function(t) {
  t <- pmin(pmax(ifelse(is.na(t), 0, t), 0), 1)
  rgb <- round(grDevices::colorRamp(scalestops)(t))
  grDevices::rgb(rgb[, 1], rgb[, 2], rgb[, 3], maxColorValue = 255)
}

plot.combosim_oc <- function(x, which = c("selection", "patients", "toxicity"),
                             name = deparse1(substitute(x)), ...) {
  which <- match.arg(which, several.ok = TRUE)
  force(name)
  s <- x$scenario
  j <- nrow(s$tox)
  k <- ncol(s$tox)
  # The observed toxicity rate: toxicities over patients, none where no
  # patient was treated.
  observed <- x$sums$toxicities / x$sums$patients
  observed[x$sums$patients == 0] <- NA
  maps <- list(
    selection = list(title = "Selection (% of trials)", m = x$selection,
                     top = 100, digits = 1),
    patients = list(title = "Mean patients per trial", m = x$patients,
                    top = max(1, ceiling(max(x$patients))), digits = 1),
    toxicity = list(title = "Observed toxicity rate", m = observed, top = 1,
                    digits = 2))
  n <- length(which)
  old <- graphics::par(no.readonly = TRUE)
  on.exit(graphics::par(old))
  # One column per map: the map above its colour key.
  graphics::layout(matrix(c(seq_len(n), n + seq_len(n)), 2L, byrow = TRUE),
                   heights = c(6, 1))
  # The legend under the maps, wrapped to the device's width.
  legend <- strwrap(paste(
    "In each cell: the figure, then true toxicity / true response.",
    "Outlined: the acceptable combinations with the highest true response",
    "(dashed: other acceptable); hatched band: true toxicity above the",
    "target"), width = max(30, floor(graphics::par("din")[1] /
                                       (0.45 * graphics::par("cin")[1]))))
  # layout() shrinks the text of several columns below what the maps have
  # room for; the cells' numbers fit themselves to the cells anyway.
  graphics::par(oma = c(length(legend) * 0.8 + 0.6, 0, 2.5, 0), cex = 0.85)
  overtoxic <- s$tox > s$target
  best <- targets(s)
  acceptable <- !overtoxic & s$eff >= s$mineff
  truth <- matrix(sprintf("%s / %s", fmtg(s$tox), fmtg(s$eff)), j, k)
  for (w in which) {
    map <- maps[[w]]
    m <- map$m
    t <- m / map$top
    graphics::par(mar = c(4, 4, 2, 1))
    graphics::plot.new()
    graphics::plot.window(xlim = c(0.5, j + 0.5), ylim = c(0.5, k + 0.5),
                          xaxs = "i", yaxs = "i")
    cx <- rep(seq_len(j), k)
    cy <- rep(seq_len(k), each = j)
    fill <- ifelse(is.na(m), "#ffffff", scalecolour(t))
    graphics::rect(cx - 0.45, cy - 0.45, cx + 0.45, cy + 0.45, col = fill,
                   border = NA)
    ink <- ifelse(!is.na(t) & t > darktext, "white", "black")
    # The hatching is a band along the top of the cell, as in the report;
    # the value sits below it with a gap of a third of its height, and the
    # truth below the value.
    size <- min(1.1, 0.8 * 0.9 / graphics::strwidth("100.0", font = 2))
    tsize <- min(0.8, 0.8 * 0.9 / max(graphics::strwidth(truth)))
    vh <- graphics::strheight("0", cex = size, font = 2)
    th <- graphics::strheight("0", cex = tsize)
    bandlow <- cy + 0.29
    vy <- cy + min(0.05, 0.29 - vh * (0.5 + 1 / 3))
    ty <- vy - vh * 0.5 - th * 1.2
    if (any(overtoxic)) {
      hot <- which(overtoxic[cbind(cx, cy)])
      graphics::rect(cx[hot] - 0.45, bandlow[hot], cx[hot] + 0.45,
                     cy[hot] + 0.45, col = "white", border = NA)
      graphics::rect(cx[hot] - 0.45, bandlow[hot], cx[hot] + 0.45,
                     cy[hot] + 0.45, density = 25, angle = 45, col = "black",
                     border = NA, lwd = 1.5)
    }
    ok <- which(acceptable[cbind(cx, cy)])
    if (length(ok) > 0L) {
      graphics::rect(cx[ok] - 0.46, cy[ok] - 0.46, cx[ok] + 0.46, cy[ok] + 0.46,
                     lwd = 1.5, lty = 2)
    }
    if (nrow(best) > 0L) {
      graphics::rect(best[, 1] - 0.47, best[, 2] - 0.47, best[, 1] + 0.47,
                     best[, 2] + 0.47, lwd = 3)
    }
    graphics::text(cx, vy, ifelse(is.na(m), "\u2013",
                                  formatC(m, format = "f", digits = map$digits)),
                   font = 2, cex = size, col = ink)
    graphics::text(cx, ty, truth[cbind(cx, cy)], cex = tsize, col = ink)
    graphics::axis(1, at = seq_len(j), tick = FALSE)
    graphics::axis(2, at = seq_len(k), tick = FALSE, las = 1)
    graphics::title(main = map$title, xlab = "Drug 1 level",
                    ylab = "Drug 2 level", ...)
  }
  # The colour keys, 0 to the top of each map's scale.
  for (w in which) {
    map <- maps[[w]]
    graphics::par(mar = c(2, 4, 0.5, 1))
    graphics::plot.new()
    graphics::plot.window(xlim = c(0, 9), ylim = c(0, 1), xaxs = "i")
    graphics::rect(0:8, 0, 1:9, 1, col = scalecolour((0:8) / 8), border = NA)
    graphics::rect(0, 0, 9, 1, border = "grey40")
    graphics::axis(1, at = c(0, 9), labels = c("0", fmtg(map$top)),
                   tick = FALSE, line = -0.8, cex.axis = 0.8)
  }
  graphics::mtext(sprintf("%s: inconclusive %.1f %%", name, x$inconclusive),
                  side = 3, line = 0.8, outer = TRUE, font = 2)
  graphics::mtext(legend, side = 1, outer = TRUE, cex = 0.7,
                  line = 0.8 * (seq_along(legend) - 1) + 0.3)
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
