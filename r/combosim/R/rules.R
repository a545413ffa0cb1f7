# The design's decision thresholds and options.

# The list holds the five thresholds and minpatients (the count to close a
# combination), then each option only when it is not at its default, as the
# result files of the command-line programs record the rules.
combosim_rules <- function(escalate = 0.8, deescalate = 0.45, admissible = 0.4,
                           safety = 0.4, futility = 0.15, minpatients = 6,
                           minpatients_stop = NULL, minpatients_close = NULL,
                           phase2 = "admissible", start = c(1, 1)) {
  values <- list(escalate = escalate, deescalate = deescalate,
                 admissible = admissible, safety = safety, futility = futility)
  for (name in names(values)) checknumber(values[[name]], name)
  counts <- list(minpatients = minpatients, minpatients_stop = minpatients_stop,
                 minpatients_close = minpatients_close)
  for (name in names(counts)) {
    if (is.null(counts[[name]])) next
    checkwhole(counts[[name]], name)
    if (counts[[name]] < 0) fail(name, ": must not be negative")
  }
  # minpatients sets both counts; a count given of its own overrides it.
  nclose <- as.integer(if (is.null(minpatients_close)) minpatients else minpatients_close)
  nstop <- as.integer(if (is.null(minpatients_stop)) minpatients else minpatients_stop)
  if (!is.character(phase2) || length(phase2) != 1L || is.na(phase2) ||
      !phase2 %in% c("admissible", "treated", "adjacent")) {
    fail('phase2: must be "admissible", "treated" or "adjacent"')
  }
  if (!is.numeric(start) || length(start) != 2L || anyNA(start) ||
      any(start != round(start)) || any(start < 1) ||
      any(start > .Machine$integer.max)) {
    fail("start: must be two whole numbers from 1, [drug-1 level, drug-2 level]")
  }
  values$minpatients <- nclose
  if (nstop != nclose) values$minpatients_stop <- nstop
  if (phase2 != "admissible") values$phase2 <- phase2
  if (any(start != 1)) values$start <- as.integer(start)
  problem <- cs_checkrules(values)
  if (nzchar(problem)) stop(problem, call. = FALSE)
  structure(values, class = "combosim_rules")
}

print.combosim_rules <- function(x, ...) {
  cat("combosim design rules\n")
  cat(rulelines(x, "target"), sep = "\n")
  invisible(x)
}

# The count of patients in the trial above which phase I stops at the lowest
# combination.
stopcount <- function(rules) {
  if (is.null(rules$minpatients_stop)) rules$minpatients else rules$minpatients_stop
}

# The rules as the report words them, with the target and mineff given as
# numbers or, without a scenario, as names; a line for each option not at
# its default.
rulelines <- function(rules, target, mineff = "mineff") {
  t <- if (is.numeric(target)) fmtg(target) else target
  m <- if (is.numeric(mineff)) fmtg(mineff) else mineff
  scope <- c(
    treated = "Phase II randomises only to combinations treated in the trial",
    adjacent = paste("Phase II randomises only to combinations treated in the",
                     "trial or one level from one in one drug"))
  c(if (!is.null(rules$start)) {
      sprintf("The first cohort is treated at (%d, %d)", rules$start[1],
              rules$start[2])
    },
    sprintf("Phase I dose-finding: escalate if pr(toxicity<%s) > %s", t,
            fmtg(rules$escalate)),
    sprintf("                      de-escalate if pr(toxicity<%s) < %s", t,
            fmtg(rules$deescalate)),
    sprintf("A dose is admissible for phase II if %s<pr(toxicity<%s) < 1",
            fmtg(rules$admissible), t),
    sprintf("Phase II stopping rules: safety stopping if pr(toxicity<%s) < %s",
            t, fmtg(rules$safety)),
    sprintf("                         futility stopping if pr(efficacy>%s) < %s",
            m, fmtg(rules$futility)),
    sprintf("Phase II entries close only with more than %d patients there;",
            rules$minpatients),
    sprintf("phase I stops at the lowest combination only with more than %d in the trial",
            stopcount(rules)),
    if (!is.null(rules$phase2)) scope[[rules$phase2]])
}
