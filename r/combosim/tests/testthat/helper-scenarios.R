# A small scenario on a 2 by 3 grid (not square, so that a transposed table
# shows), and ways to run it here and through the command-line programs.

small <- list(
  tox = rbind(c(0.05, 0.10, 0.20), c(0.15, 0.30, 0.45)),
  eff = rbind(c(0.10, 0.25, 0.40), c(0.20, 0.45, 0.60)),
  target = 0.3, mineff = 0.2, prior1 = c(0.1, 0.2), prior2 = c(0.05, 0.1, 0.2),
  ncohort1 = 5, cohortsize1 = 3, ncohort2 = 3, cohortsize2 = 3, ntrial = 6)

# A trial's design for combosim_next(), and its cohorts: ten phase I cohorts
# (the seventh of 2 patients), then five in phase II, the last closing (1, 1)
# as futile before the selection.
trialdesign <- list(target = 0.3, mineff = 0.2, prior1 = c(0.05, 0.1, 0.2),
                    prior2 = c(0.05, 0.1, 0.2), ncohort1 = 10, cohortsize1 = 3,
                    ncohort2 = 5, cohortsize2 = 3)
trialcohorts <- data.frame(
  drug1 = c(1, 2, 3, 3, 3, 3, 3, 3, 3, 2, 2, 3, 1, 3, 1),
  drug2 = c(1, 1, 1, 2, 3, 3, 3, 3, 3, 3, 2, 1, 1, 1, 1),
  patients = c(3, 3, 3, 3, 3, 3, 2, 3, 3, 3, 3, 3, 3, 3, 4),
  toxicities = c(0, 0, 0, 1, 1, 1, 0, 2, 2, 1, 0, 0, 0, 0, 0),
  responses = c(0, 2, 2, 1, 1, 2, 0, 2, 1, 0, 0, 1, 0, 2, 0))

run <- function(scenario = small, ...) {
  do.call(combosim_oc, utils::modifyList(scenario, list(...)))
}

# The path of a command-line program from its environment variable; skips
# the test, saying why, when it is not set (as under R CMD check).
program <- function(variable) {
  path <- Sys.getenv(variable)
  if (!nzchar(path)) {
    skip(paste0(variable, " is not set, so the comparison with the ",
                "command-line program is skipped (`make test` sets it)"))
  }
  path
}

number <- function(v) sprintf("%.17g", v)

# The answers `combosim < FILE` reads for the scenario: cells with the
# drug-2 level inner, each list confirmed, then the closing prompt.
answers <- function(s) {
  c(nrow(s$tox), ncol(s$tox), number(t(s$tox)), "y", number(t(s$eff)), "y",
    number(s$target), number(s$mineff), number(s$prior1), "y",
    number(s$prior2), "y", s$ncohort1, s$cohortsize1, s$ncohort2,
    s$cohortsize2, s$ntrial, "y", "x")
}

# The scenario as a JSON file of combosim-batch, tables [drug-1][drug-2].
jsonscenario <- function(s, rules = NULL) {
  rows <- function(m) paste0("[", paste(apply(m, 1, function(r) {
    paste0("[", paste(number(r), collapse = ", "), "]")
  }), collapse = ", "), "]")
  vec <- function(v) paste0("[", paste(number(v), collapse = ", "), "]")
  fields <- c(
    sprintf('"ndose1": %d, "ndose2": %d', nrow(s$tox), ncol(s$tox)),
    sprintf('"scentox": %s, "sceneff": %s', rows(s$tox), rows(s$eff)),
    sprintf('"targettox": %s, "mineff": %s', number(s$target), number(s$mineff)),
    sprintf('"scenprior1": %s, "scenprior2": %s', vec(s$prior1), vec(s$prior2)),
    sprintf('"ncohort1": %d, "cohortsize1": %d, "ncohort2": %d, "cohortsize2": %d, "ntrial": %d',
            s$ncohort1, s$cohortsize1, s$ncohort2, s$cohortsize2, s$ntrial))
  if (!is.null(rules)) {
    r <- unclass(rules)
    value <- function(v) {
      if (is.character(v)) sprintf('"%s"', v) else if (length(v) > 1L) vec(v) else number(v)
    }
    fields <- c(fields, sprintf('"rules": {%s}', paste(sprintf(
      '"%s": %s', names(r), vapply(r, value, "")), collapse = ", ")))
  }
  paste0("{", paste(fields, collapse = ",\n"), "}\n")
}

# Runs `command` with `args` in `dir`, failing the test on a bad status.
runin <- function(dir, command, args = character(), input = NULL) {
  old <- setwd(dir)
  on.exit(setwd(old))
  out <- suppressWarnings(system2(command, args, stdout = TRUE, stderr = TRUE,
                                  stdin = if (is.null(input)) "" else input))
  status <- attr(out, "status")
  if (!is.null(status) && status != 0) {
    stop(command, " failed with status ", status, ":\n",
         paste(out, collapse = "\n"))
  }
  out
}

# The trial as a combosim-next JSON file: the design's fields and cohorts.
trialfile <- function(design, cohorts, path) {
  vec <- function(v) paste0("[", paste(number(v), collapse = ", "), "]")
  rows <- sprintf(paste('{"combination": [%d, %d], "patients": %d,',
                        '"toxicities": %d, "responses": %d}'),
                  cohorts$drug1, cohorts$drug2, cohorts$patients,
                  cohorts$toxicities, cohorts$responses)
  writeLines(c("{", sprintf(paste(
    '"ndose1": %d, "ndose2": %d, "targettox": %s, "mineff": %s,',
    '"scenprior1": %s, "scenprior2": %s, "ncohort1": %d, "cohortsize1": %d,',
    '"ncohort2": %d, "cohortsize2": %d,'),
    length(design$prior1), length(design$prior2), number(design$target),
    number(design$mineff), vec(design$prior1), vec(design$prior2),
    design$ncohort1, design$cohortsize1, design$ncohort2, design$cohortsize2),
    '"cohorts": [', paste(rows, collapse = ",\n"), "]}"), path)
}
