# The design's decision thresholds.

combosim_rules <- function(escalate = 0.8, deescalate = 0.45, admissible = 0.4,
                           safety = 0.4, futility = 0.15, minpatients = 6) {
  values <- list(escalate = escalate, deescalate = deescalate,
                 admissible = admissible, safety = safety, futility = futility,
                 minpatients = minpatients)
  for (name in names(values)[1:5]) checknumber(values[[name]], name)
  checkwhole(minpatients, "minpatients")
  values$minpatients <- as.integer(minpatients)
  problem <- cs_checkrules(values)
  if (nzchar(problem)) stop(problem, call. = FALSE)
  structure(values, class = "combosim_rules")
}

print.combosim_rules <- function(x, ...) {
  cat("combosim design rules\n")
  cat(rulelines(x, "target"), sep = "\n")
  invisible(x)
}

# The rules as the report words them, with the target and mineff given as
# numbers or, without a scenario, as names.
rulelines <- function(rules, target, mineff = "mineff") {
  t <- if (is.numeric(target)) fmtg(target) else target
  m <- if (is.numeric(mineff)) fmtg(mineff) else mineff
  c(sprintf("Phase I dose-finding: escalate if pr(toxicity<%s) > %s", t,
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
            rules$minpatients))
}
