# summary() of a combosim_oc result: the operating characteristics with
# their Monte Carlo standard errors.

# The figures of x$oc that summary() shows, with their labels and units; the
# rest are the standard errors (NAME_mcse) and patients_sd, _min and _max.
ocrows <- data.frame(
  name = c("correct", "acceptable", "overtoxic", "inconclusive",
           "phase1_stopped", "none_admissible", "all_closed",
           "no_positive_mean", "patients_mean", "overtoxic_patients",
           "toxicities_mean", "responses_mean", "untried_patients"),
  label = c("correct selection", "acceptable selection",
            "overly toxic selection", "inconclusive",
            "  phase I stopped at the lowest", "  none admissible for phase II",
            "  every admissible one closed", "  no positive mean response",
            "patients per trial", "patients at overly toxic ones (% of all)",
            "toxicities per trial", "responses per trial",
            "phase II at untried ones (% of phase II)"),
  unit = c(rep("%", 8), "", "%", "", "", "%"),
  stringsAsFactors = FALSE)

summary.combosim_oc <- function(object, ...) {
  oc <- object$oc
  if (is.null(oc)) fail("summary: the result holds no operating characteristics")
  figures <- data.frame(
    name = ocrows$name,
    value = vapply(ocrows$name, function(n) oc[[n]], 0, USE.NAMES = FALSE),
    mcse = vapply(paste0(ocrows$name, "_mcse"), function(n) oc[[n]], 0,
                  USE.NAMES = FALSE),
    stringsAsFactors = FALSE)
  structure(list(figures = figures,
                 patients = c(sd = oc$patients_sd, min = oc$patients_min,
                              max = oc$patients_max),
                 ntrial = object$scenario$ntrial,
                 random = randomtext(object),
                 version = object$version),
            class = "summary.combosim_oc")
}

print.summary.combosim_oc <- function(x, ...) {
  f <- x$figures
  rows <- match(f$name, ocrows$name)
  number <- function(v) ifelse(is.na(v), "-", sprintf("%.2f", v))
  # The plus-minus sign where the console can show it.
  pm <- if (isTRUE(l10n_info()[["UTF-8"]])) "\u00b1" else "+/-"
  lines <- sprintf("  %-40s %7s %-1s %s %5s", ocrows$label[rows],
                   number(f$value), ocrows$unit[rows], pm, number(f$mcse))
  p <- x$patients
  at <- which(f$name == "patients_mean")
  lines[at] <- paste0(lines[at], sprintf("  (SD %s, %d to %d)",
                                         number(p[["sd"]]), as.integer(p[["min"]]),
                                         as.integer(p[["max"]])))
  cat(sprintf("combosim %s: operating characteristics of %d %s", x$version,
              x$ntrial, if (x$ntrial == 1) "trial" else "trials"),
      paste0("Random numbers: ", x$random),
      paste0("Each figure ", pm, " its Monte Carlo standard error",
             if (x$ntrial == 1) " (\"-\": none from one trial)" else "", ":"),
      lines, sep = "\n")
  invisible(x)
}
