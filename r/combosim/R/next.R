# The design's decision for the next cohort of a real trial.

# The design's fields, as combosim_oc() names its arguments; `rules` is
# optional, and a scenario's own fields may stand beside them unused.
designfields <- c("target", "mineff", "prior1", "prior2", "ncohort1",
                  "cohortsize1", "ncohort2", "cohortsize2")
unusedfields <- c("tox", "eff", "ntrial")
cohortfields <- c("drug1", "drug2", "patients", "toxicities", "responses")

# The design files' names of the fields that combosim_oc() names otherwise;
# the design may use either, not both.
filefields <- c(targettox = "target", scenprior1 = "prior1",
                scenprior2 = "prior2")

# A probability field of the design must have no value missing; the engine
# checks the range.
checkprobabilities <- function(x, name) {
  if (anyNA(x)) {
    i <- which(is.na(x))[1]
    fail(name, if (length(x) > 1L) paste0("[", i, "]"), ": missing (NA)")
  }
}

# The engine's problem with a probability of the design above 1 (and at most
# 100), with what most likely went wrong.
percenthint <- function(problem, d) {
  for (name in c("target", "mineff", "prior1", "prior2")) {
    v <- d[[name]]
    if (startsWith(problem, paste0("design$", name)) && any(v > 1 & v <= 100)) {
      return(paste0(problem, "; probabilities, not percentages?"))
    }
  }
  problem
}

# The names of one drug's dose levels, labels1 or labels2: one per level,
# each 1 to 20 printable characters, all different; as design files have
# them.
checklabels <- function(x, n, name) {
  drug <- substr(name, nchar(name), nchar(name))
  if (!is.character(x) || length(x) != n || anyNA(x)) {
    fail("design$", name, ": must be ", n, " names, one per dose level of drug ",
         drug)
  }
  x <- enc2utf8(x)
  for (i in seq_len(n)) {
    place <- paste0("design$", name, "[", i, "]: ")
    if (grepl("[[:cntrl:]]", x[i]) || grepl("[\u0080-\u009f]", x[i])) {
      fail(place, "holds a control character; names are printable text")
    }
    k <- nchar(x[i], type = "chars")
    if (k == 0L) fail(place, "must not be empty")
    if (k > 20L) fail(place, "has ", k, " characters, more than 20")
    j <- match(x[i], x[seq_len(i - 1L)])
    if (!is.na(j)) {
      fail("design$", name, ": levels ", j, " and ", i, " have the same name")
    }
  }
  x
}

# The design as a list of its fields and rules, from a list or from a
# combosim_oc() result.
readdesign <- function(design) {
  if (inherits(design, "combosim_oc")) {
    design <- c(design$scenario, list(rules = design$rules),
                if (is.null(design$posterior)) list() else
                  list(posterior = design$posterior))
  }
  if (!is.list(design) || is.null(names(design)) || any(!nzchar(names(design)))) {
    fail("design must be a list with the fields ",
         paste(designfields, collapse = ", "), " and optionally rules, ",
         "or a result of combosim_oc()")
  }
  twice <- unique(names(design)[duplicated(names(design))])
  if (length(twice) > 0L) {
    fail(paste0("design$", twice, collapse = ", "), ": given more than once")
  }
  # A design file's names: a field given under both names is refused.
  for (file in names(filefields)) {
    own <- filefields[[file]]
    if (!(file %in% names(design))) next
    if (own %in% names(design)) {
      fail("design$", own, " and design$", file, ": the same field given ",
           "twice; give one of them")
    }
    names(design)[names(design) == file] <- own
  }
  unknown <- setdiff(names(design),
                     c(designfields, "rules", "posterior", "labels1",
                       "labels2", "ndose1", "ndose2", unusedfields))
  if (length(unknown) > 0L) fail("design$", unknown[1], ": unknown field")
  missing <- setdiff(designfields, names(design))
  if (length(missing) > 0L) {
    file <- names(filefields)[filefields == missing[1]]
    fail("design$", missing[1], ": missing",
         if (length(file) == 1L) paste0(" (or design$", file, ")"))
  }
  checknumber(design$target, "design$target")
  checknumber(design$mineff, "design$mineff")
  checkprobabilities(design$target, "design$target")
  checkprobabilities(design$mineff, "design$mineff")
  for (name in c("prior1", "prior2")) {
    p <- design[[name]]
    if (!is.numeric(p) && !(is.logical(p) && all(is.na(p)))) p <- NULL
    if (is.null(p) || is.matrix(p) || length(p) < 1L || length(p) > 10L) {
      fail("design$", name, " must be a numeric vector with one value per drug-",
           substr(name, 6, 6), " level, 1 to 10 of them")
    }
    checkprobabilities(p, paste0("design$", name))
    # The model takes toxicity to rise with dose; priors that do not are
    # most likely mistyped, but the engine can run them.
    if (length(p) > 1L && any(diff(p) <= 0)) {
      warning("design$", name, ": the prior toxicities do not increase with ",
              "dose level (", paste(fmtg(p), collapse = ", "), ")",
              call. = FALSE)
    }
  }
  for (drug in 1:2) {
    name <- paste0("ndose", drug)
    n <- length(design[[paste0("prior", drug)]])
    if (!is.null(design[[name]])) {
      checkwhole(design[[name]], paste0("design$", name))
      if (design[[name]] != n) {
        fail("design$", name, ": ", design[[name]], " dose levels, but design$prior",
             drug, " has ", n, " values")
      }
    }
  }
  counts <- c("ncohort1", "cohortsize1", "ncohort2", "cohortsize2")
  for (name in counts) checkwhole(design[[name]], paste0("design$", name))
  rules <- if (is.null(design$rules)) combosim_rules() else design$rules
  if (!inherits(rules, "combosim_rules")) {
    fail("design$rules must come from combosim_rules()")
  }
  posterior <- if (is.null(design$posterior)) list() else
    list(posterior = readposterior(design$posterior, "design$posterior"))
  labels <- list()
  for (name in c("labels1", "labels2")) {
    if (!is.null(design[[name]])) {
      n <- length(design[[paste0("prior", substr(name, 7, 7))]])
      labels[[name]] <- checklabels(design[[name]], n, name)
    }
  }
  c(list(target = as.double(design$target), mineff = as.double(design$mineff),
         prior1 = as.double(design$prior1), prior2 = as.double(design$prior2)),
    lapply(design[counts], as.integer), list(rules = rules), posterior, labels)
}

# The cohorts as an integer matrix with the columns cohortfields.
readcohorts <- function(cohorts) {
  if (is.null(cohorts)) {
    return(matrix(integer(), 0L, 5L, dimnames = list(NULL, cohortfields)))
  }
  if (!is.data.frame(cohorts) && !is.matrix(cohorts)) {
    fail("cohorts must be a data frame with the columns ",
         paste(cohortfields, collapse = ", "))
  }
  missing <- setdiff(cohortfields, colnames(cohorts))
  if (length(missing) > 0L) {
    fail("cohorts must have the columns ", paste(cohortfields, collapse = ", "),
         "; ", missing[1], " is missing")
  }
  # A second column of a name would be ignored: the first is read.
  named <- colnames(cohorts)
  twice <- unique(named[duplicated(named) & named %in% cohortfields])
  if (length(twice) > 0L) {
    fail(paste0("cohorts$", twice, collapse = ", "),
         ": given in more than one column")
  }
  m <- matrix(0L, nrow(cohorts), 5L, dimnames = list(NULL, cohortfields))
  for (name in cohortfields) {
    v <- cohorts[, name]
    bad <- which(!is.numeric(v) | is.na(v) | v != round(v) |
                   abs(v) > .Machine$integer.max)
    if (length(bad) > 0L) {
      fail("cohort ", bad[1], ": ", name, ": must be a whole number")
    }
    m[, name] <- as.integer(v)
  }
  m
}

combosim_next <- function(design, cohorts, seed = NULL, replicates = 0,
                          progress = interactive(), posterior = NULL) {
  if (missing(design)) {
    fail("design: missing; a list of the design's fields, or a result of ",
         "combosim_oc()")
  }
  if (missing(cohorts)) {
    fail("cohorts: missing; a data frame of the cohorts treated, or NULL ",
         "before the first")
  }
  conduct(design, cohorts, seed, replicates, progress, posterior, 0L)
}

# combosim_next() and combosim_pathways(): the trial through the engine,
# with the pathways `pathways` cohorts deep when it is above 0.
conduct <- function(design, cohorts, seed, replicates, progress, posterior,
                    pathways) {
  d <- readdesign(design)
  # `posterior` applies when the design holds none; it may not differ from
  # the design's.
  if (!is.null(posterior)) {
    p <- readposterior(posterior)
    if (is.null(d$posterior)) {
      if (p$method != "gibbs") d$posterior <- p
    } else if (d$posterior$method != p$method) {
      fail("posterior \"", p$method, "\" differs from design$posterior, \"",
           d$posterior$method, "\"")
    }
  }
  # Recorded in the design only when it is not the default.
  if (!is.null(d$posterior) && d$posterior$method == "gibbs") d$posterior <- NULL
  post <- if (is.null(d$posterior)) list(method = "gibbs") else d$posterior
  m <- readcohorts(cohorts)
  text <- seedtext(seed)
  if (!is.numeric(replicates) || length(replicates) != 1L || is.na(replicates) ||
      replicates != round(replicates) || replicates < 0 || replicates > 100000) {
    fail("replicates must be a whole number from 0 to 100000")
  }
  if (!isTRUE(progress) && !isFALSE(progress)) {
    fail("progress must be TRUE or FALSE")
  }
  r <- cs_next(c(d[!(names(d) %in% c("rules", "posterior"))],
                 list(rules = unclass(d$rules), posterior = post)), m,
               text, as.integer(replicates), progress, as.integer(pathways))
  if (nzchar(r$problem)) {
    stop(percenthint(renamedesignproblem(r$problem), d), call. = FALSE)
  }
  if (pathways > 0L && nzchar(r$pathways$problem)) {
    fail("k = ", pathways, ": ", r$pathways$problem)
  }
  if (r$cancelled) {
    stop(structure(class = c("combosim_interrupt", "interrupt", "condition"),
                   list(message = sprintf(
                          "interrupted after %.0f of %.0f replicates; nothing kept",
                          r$done, replicates),
                        call = NULL, replicates = r$done)))
  }
  for (w in r$warnings) warning(w, call. = FALSE)

  frame <- function(columns) as.data.frame(columns, stringsAsFactors = FALSE)
  decision <- r$decision
  # Under gibbs: the decisions within sampling noise of their thresholds.
  if (length(r$closecalls) > 0L) decision$close_calls <- r$closecalls
  # At the switch: the end of phase I's probabilities beside the refit's.
  if (!is.null(r$refit)) decision$phase2_refit <- r$refit
  if (!is.null(decision$closures)) decision$closures <- frame(decision$closures)
  if (!is.null(decision$randomisation)) {
    decision$randomisation$probabilities <-
      frame(decision$randomisation$probabilities)
  }
  stability <- r$stability
  if (!is.null(stability)) {
    stability$outcomes <- frame(stability$outcomes)
    stability$probabilities <- frame(stability$probabilities)
    # Under quadrature the rules' probabilities are the same in every
    # replicate: the outcomes are the randomisation's distribution.
    if (post$method != "gibbs") stability$rule_decisions <- "fixed"
  }
  n <- nrow(m)
  structure(list(
    posterior = frame(r$posterior),
    state = r$state,
    decision = decision,
    stability = stability,
    cohorts = data.frame(
      cohort = seq_len(n), phase = as.integer(seq_len(n) > d$ncohort1) + 1L,
      as.data.frame(m), design_drug1 = r$choices[, "drug1"],
      design_drug2 = r$choices[, "drug2"]),
    warnings = r$warnings,
    design = d,
    seed = seed,
    generator = if (is.null(seed)) "fixed" else "mt19937_64",
    random = r$random,
    version = as.character(utils::packageVersion("combosim"))
  ), class = "combosim_next",
  pathways = if (pathways > 0L) r$pathways)
}

# The engine's problem with the design, the field named as in the design
# list: "scenprior1[3] (drug-1 level 3): ..." becomes "design$prior1[3]:
# ..."; the problems with a cohort stay as they are.
renamedesignproblem <- function(problem) {
  fields <- "targettox|mineff|scenprior[12]|ncohort[12]|cohortsize[12]"
  if (!grepl(paste0("^(", fields, ")(\\[[0-9]+\\])?( \\([^)]*\\))?: "),
             problem)) {
    return(problem)
  }
  paste0("design$", renameproblem(problem))
}

# Combinations in words, "(2, 1)", or by the names of the design's dose
# levels where it has them: "(20 mg, 1)".
combwords <- function(d, drug1, drug2) {
  name <- function(labels, level) {
    if (is.null(labels)) as.character(level) else labels[level]
  }
  sprintf("(%s, %s)", name(d$labels1, drug1), name(d$labels2, drug2))
}

print.combosim_next <- function(x, ...) {
  d <- x$design
  out <- c(
    sprintf("combosim %s: the design's next decision for a trial", x$version),
    sprintf(paste("design: %d by %d combinations, target toxicity %s, lowest",
                  "acceptable response %s; phase I %d cohorts of %d, phase II",
                  "%d cohorts of %d"),
            length(d$prior1), length(d$prior2), fmtg(d$target), fmtg(d$mineff),
            d$ncohort1, d$cohortsize1, d$ncohort2, d$cohortsize2),
    if (!is.null(d$posterior))
      sprintf("  posterior: %s; Boost %s", cs_posteriorwords(d$posterior),
              cs_defaultquadrature()$boost),
    paste0("random numbers: every posterior update starts afresh on ", x$random),
    "")
  k <- x$cohorts
  out <- c(out, sprintf("cohorts treated: %d", nrow(k)))
  if (nrow(k) > 0L) {
    shown <- data.frame(
      cohort = k$cohort, phase = c("I", "II")[k$phase],
      combination = combwords(d, k$drug1, k$drug2),
      k[c("patients", "toxicities", "responses")],
      "design's choice" = combwords(d, k$design_drug1, k$design_drug2),
      check.names = FALSE)
    out <- c(out, utils::capture.output(print(shown, row.names = FALSE)))
  }
  if (length(x$warnings) > 0L) out <- c(out, paste0("warning: ", x$warnings))
  out <- c(out, "", x$state$text)
  if (nrow(x$posterior) > 0L) {
    p <- x$posterior
    shown <- data.frame(
      combination = combwords(d, p$drug1, p$drug2),
      p[c("patients", "toxicities", "responses")],
      mean_tox = sprintf("%.3f", p$mean_toxicity),
      pr_tox_below = sprintf("%.3f", p$pr_toxicity_below_target))
    if (any(!is.na(p$status))) {
      shown$pr_resp_above <- ifelse(is.na(p$pr_response_above_mineff), "-",
                                    sprintf("%.3f", p$pr_response_above_mineff))
      shown$mean_resp <- ifelse(is.na(p$mean_response), "-",
                                sprintf("%.3f", p$mean_response))
      shown$status <- p$status
    }
    out <- c(out, "", sprintf("posterior after cohort %d:", x$state$cohorts),
             utils::capture.output(print(shown, row.names = FALSE)))
    refit <- x$decision$phase2_refit
    if (!is.null(refit)) {
      out <- c(out, if (refit$same) {
        paste0("  pr_tox_below: the end of phase I and the phase II refit are ",
               "one value", if (!is.null(d$posterior))
                 paste0(" under ", d$posterior$method, " (the same data, exact)"))
      } else {
        paste("  pr_tox_below here is the phase II refit; the admissible list",
              "below reads the end of phase I")
      })
    }
  }
  words <- x$decision$text
  refit <- x$decision$phase2_refit
  if (!is.null(refit) && !refit$same) {
    words <- append(words, refit$text, after = 1L)
  }
  out <- c(out, "", sprintf("decision after cohort %d:", x$decision$after_cohort),
           paste0("  ", c(words, x$decision$close_calls)))
  s <- x$stability
  if (!is.null(s)) {
    header <- if (s$replicates == 1L) {
      sprintf("stability over 1 replicate of this decision, on the seeded streams (%s, 1):",
              s$seed)
    } else {
      sprintf(paste(
        "stability over %d replicates of this decision, replicate r on the",
        "seeded streams (%s, r), r = 1 to %d:"), s$replicates, s$seed,
        s$replicates)
    }
    fixed <- identical(s$rule_decisions, "fixed")
    if (fixed) {
      header <- c(header, paste0(
        "  the rule decisions are fixed: under ", d$posterior$method,
        " the posterior probabilities are the same under every seed; ",
        if (is.null(x$decision$randomisation)) "the decision:" else
          "the randomisation's draw:"))
    }
    out <- c(out, "", header,
      sprintf("  %s: %d of %d", s$outcomes$outcome, s$outcomes$count,
              s$replicates))
    p <- s$probabilities
    if (nrow(p) > 0L && !fixed) {
      # One value has no spread.
      values <- ifelse(p$replicates > 1L,
                       sprintf("mean %.3f, sd %.3f, from %.3f to %.3f",
                               p$mean, p$sd, p$min, p$max),
                       sprintf("%.3f", p$mean))
      out <- c(out, paste0("  ", p$compared, ": ", values,
                           ifelse(p$replicates != s$replicates,
                                  sprintf(" (%d %s)", p$replicates,
                                          ifelse(p$replicates == 1L, "replicate",
                                                 "replicates")), "")))
    }
  }
  cat(out, sep = "\n")
  invisible(x)
}
