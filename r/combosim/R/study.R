# A simulation study: several designs, each run on the same scenarios with
# the same random numbers, and each one's differences from a reference
# design, scenario by scenario.
#
# A scenario gives the truth (tox, eff, target, mineff) and may give design
# fields and ntrial; a design is a base (the study's, else each scenario's
# own design fields) with named changes to design fields only.

truthfields <- c("tox", "eff", "target", "mineff")
designchangefields <- c("prior1", "prior2", "ncohort1", "cohortsize1",
                        "ncohort2", "cohortsize2", "rules", "posterior")
designcounts <- c("ncohort1", "cohortsize1", "ncohort2", "cohortsize2")

# The JSON names of the scenario and design files, by their names here.
jsonfield <- c(tox = "scentox", eff = "sceneff", target = "targettox",
               mineff = "mineff", prior1 = "scenprior1", prior2 = "scenprior2",
               ncohort1 = "ncohort1", cohortsize1 = "cohortsize1",
               ncohort2 = "ncohort2", cohortsize2 = "cohortsize2",
               ntrial = "ntrial", rules = "rules", posterior = "posterior")
studyfields <- c("scenarios", "designs", "reference", "trials", "seed",
                 "paired", "base")

# Stops unless jsonlite is installed: only the files need it.
needjsonlite <- function(what) {
  if (!requireNamespace("jsonlite", quietly = TRUE)) {
    fail("combosim_study: reading ", what, " needs the package jsonlite ",
         "(install.packages(\"jsonlite\"))")
  }
}

# The object in the JSON file `path`, arrays of arrays as matrices and
# arrays of objects as lists.
readjsonobject <- function(path) {
  needjsonlite(path)
  if (!file.exists(path)) fail(path, ": no such file")
  j <- tryCatch(jsonlite::fromJSON(path, simplifyVector = TRUE,
                                   simplifyDataFrame = FALSE,
                                   simplifyMatrix = TRUE),
                error = function(e) fail(path, ": not valid JSON: ",
                                         conditionMessage(e)))
  if (!is.list(j) || is.null(names(j))) fail(path, ": must hold one JSON object")
  twice <- unique(names(j)[duplicated(names(j))])
  if (length(twice) > 0L) fail(path, ": ", twice[1], ": given more than once")
  j
}

# The fields of the JSON object `j` of the file `path` by their names here;
# `allowed` are the JSON names it may hold besides ndose1 and ndose2, which
# must agree with the tables and priors.
fromjsonfields <- function(j, path, allowed) {
  unknown <- setdiff(names(j), c(allowed, "ndose1", "ndose2"))
  if (length(unknown) > 0L) fail(path, ": ", unknown[1], ": unknown field")
  out <- list()
  for (name in names(jsonfield)) {
    if (!is.null(j[[jsonfield[[name]]]])) out[[name]] <- j[[jsonfield[[name]]]]
  }
  for (name in c("tox", "eff")) {
    m <- out[[name]]
    if (is.null(m)) next
    if (!is.matrix(m) || !is.numeric(m)) {
      fail(path, ": ", jsonfield[[name]], ": must be an array of ndose1 arrays ",
           "of ndose2 numbers")
    }
  }
  dims <- list(ndose1 = c(nrow(out$tox), length(out$prior1)),
               ndose2 = c(ncol(out$tox), length(out$prior2)))
  for (name in names(dims)) {
    n <- j[[name]]
    if (is.null(n)) next
    if (!is.numeric(n) || length(n) != 1L || any(dims[[name]] != n)) {
      fail(path, ": ", name, ": must be the number of drug-", substr(name, 6, 6),
           " levels of the tables and priors")
    }
  }
  if (!is.null(out$rules)) out$rules <- ruleschange(combosim_rules(), out$rules,
                                                    paste0(path, ": rules"))
  out
}

# The rules `base` with the changes `change`, a list of combosim_rules()
# arguments (or a whole combosim_rules() list, which replaces them); `where`
# names it in messages.
ruleschange <- function(base, change, where) {
  if (inherits(change, "combosim_rules")) return(change)
  if (!is.list(change) || (length(change) > 0L && is.null(names(change)))) {
    fail(where, ": must be a list of changes to the rules, as combosim_rules() ",
         "takes them")
  }
  unknown <- setdiff(names(change), names(formals(combosim_rules)))
  if (length(unknown) > 0L) fail(where, "$", unknown[1], ": unknown field")
  args <- utils::modifyList(unclass(base), change)
  tryCatch(do.call(combosim_rules, args),
           error = function(e) fail(where, ": ", conditionMessage(e)))
}

# A scenario as a list of combosim_oc() arguments: from a scenario file of
# combosim-batch (a path) or a list. `name` names it in messages.
readstudyscenario <- function(s, name) {
  file <- is.character(s) && length(s) == 1L
  if (file) {
    where <- paste0(s, ": ")
    s <- fromjsonfields(readjsonobject(s), s, jsonfield)
  } else {
    where <- paste0("scenarios$", name, "$")
    if (!is.list(s) || is.null(names(s))) {
      fail("scenarios$", name, ": must be a list of the truth (",
           paste(truthfields, collapse = ", "), ") or a scenario file's path")
    }
    unknown <- setdiff(names(s), c(truthfields, designchangefields, "ntrial"))
    if (length(unknown) > 0L) fail(where, unknown[1], ": unknown field")
    if (!is.null(s$rules) && !inherits(s$rules, "combosim_rules")) {
      s$rules <- ruleschange(combosim_rules(), s$rules, paste0(where, "rules"))
    }
  }
  missing <- setdiff(truthfields, names(s))
  if (length(missing) > 0L) {
    fail(where, if (file) jsonfield[[missing[1]]] else missing[1],
         ": missing (the truth)")
  }
  s
}

# The design list of a combosim-next design file, a list of design fields or
# a combosim_oc() result: the base of every design.
readstudybase <- function(base) {
  if (inherits(base, "combosim_oc")) {
    return(c(base$scenario[c("target", "mineff", "prior1", "prior2", designcounts)],
             list(rules = base$rules,
                  posterior = if (is.null(base$posterior)) "gibbs" else base$posterior)))
  }
  if (is.character(base) && length(base) == 1L) {
    path <- base
    base <- fromjsonfields(readjsonobject(path), path,
                           jsonfield[c("target", "mineff", designchangefields)])
    where <- paste0(path, ": ")
  } else {
    where <- "base$"
    if (!is.list(base) || is.null(names(base))) {
      fail("base must be a list of design fields, a design file's path or a ",
           "result of combosim_oc()")
    }
    unknown <- setdiff(names(base), c("target", "mineff", designchangefields))
    if (length(unknown) > 0L) {
      fail("base$", unknown[1], if (unknown[1] %in% c(truthfields, "ntrial"))
        ": the scenarios' field, not the design's" else ": unknown field")
    }
    if (!is.null(base$rules)) base$rules <- ruleschange(combosim_rules(), base$rules, "base$rules")
  }
  missing <- setdiff(c("prior1", "prior2", designcounts), names(base))
  if (length(missing) > 0L) fail(where, missing[1], ": missing")
  base
}

# One design's changes, checked: `where` names it in messages, `json` when
# it comes from a study file (fields named as there).
readchanges <- function(changes, where, json) {
  if (!is.list(changes) || (length(changes) > 0L && is.null(names(changes)))) {
    fail(where, ": must be a list of changes to design fields")
  }
  names <- names(changes)
  if (json) {
    truth <- c("ndose1", "ndose2", jsonfield[c(truthfields)])
    known <- jsonfield[designchangefields]
  } else {
    truth <- truthfields
    known <- designchangefields
  }
  twice <- unique(names[duplicated(names)])
  if (length(twice) > 0L) fail(where, twice[1], ": given more than once")
  for (n in names) {
    if (n %in% truth) {
      fail(where, n, ": a truth field, which only the scenarios give; a design ",
           "changes design fields (", paste(known, collapse = ", "), ")")
    }
    if (!(n %in% known)) {
      fail(where, n, if (n == "ntrial") ": set for every design by the study's trials"
           else ": unknown field", " (a design changes ",
           paste(known, collapse = ", "), ")")
    }
  }
  if (json) names(changes) <- names(jsonfield)[match(names, jsonfield)]
  changes
}

# The design `changes` applied to `design`.
applychanges <- function(design, changes, where) {
  for (n in names(changes)) {
    design[[n]] <- if (n == "rules") {
      ruleschange(if (is.null(design$rules)) combosim_rules() else design$rules,
                  changes$rules, paste0(where, "rules"))
    } else changes[[n]]
  }
  design
}

# The study file at `path` as the arguments of combosim_study(), paths made
# relative to the file's folder.
readstudyfile <- function(path) {
  j <- readjsonobject(path)
  unknown <- setdiff(names(j), studyfields)
  if (length(unknown) > 0L) fail(path, ": ", unknown[1], ": unknown field")
  for (name in c("scenarios", "designs")) {
    if (is.null(j[[name]])) fail(path, ": ", name, ": missing")
  }
  dir <- dirname(path)
  resolve <- function(p) ifelse(grepl("^(/|[A-Za-z]:|~)", p), p, file.path(dir, p))
  if (!is.character(j$scenarios) || length(j$scenarios) == 0L) {
    fail(path, ": scenarios: must be an array of scenario files' paths")
  }
  scenarios <- as.list(resolve(j$scenarios))
  names(scenarios) <- sansextension(j$scenarios)
  if (!is.list(j$designs) || length(j$designs) == 0L) {
    fail(path, ": designs: must be an array of design objects, each with a name")
  }
  designs <- list()
  for (i in seq_along(j$designs)) {
    d <- j$designs[[i]]
    where <- sprintf("%s: designs[%d]", path, i)
    if (!is.list(d) || is.null(d$name) || !is.character(d$name) ||
        length(d$name) != 1L) {
      fail(where, ": needs a name")
    }
    name <- d$name
    checkdesignname(name, where)
    if (name %in% names(designs)) fail(where, ": a second design named ", name)
    d$name <- NULL
    designs[[name]] <- readchanges(d, paste0(where, " (", name, "): "), json = TRUE)
  }
  base <- j$base
  if (is.list(base)) {
    base <- fromjsonfields(base, paste0(path, ": base"),
                           jsonfield[c("target", "mineff", designchangefields)])
  } else if (is.character(base)) {
    base <- resolve(base)
  }
  list(scenarios = scenarios, designs = designs, reference = j$reference,
       trials = j$trials, seed = j$seed,
       paired = if (is.null(j$paired)) TRUE else j$paired, base = base,
       where = paste0(path, ": "))
}

# A file's name without its folder and extension: a scenario's name.
sansextension <- function(path) sub("\\.[^.]*$", "", basename(path))

checkdesignname <- function(name, where) {
  if (is.na(name) || !grepl("^[A-Za-z0-9_-]+$", name)) {
    fail(where, ": design name \"", name, "\" must be letters, digits, - and _")
  }
}

# The scenarios of a study as a named list (a character vector of paths
# becomes a list): unnamed ones are named, a file by its name, a list by its
# position.
namescenarios <- function(scenarios) {
  if (is.character(scenarios)) scenarios <- as.list(scenarios)
  if (!is.list(scenarios) || length(scenarios) == 0L) {
    fail("scenarios must be a list of truth lists or scenario files' paths")
  }
  labels <- names(scenarios)
  if (is.null(labels)) labels <- rep("", length(scenarios))
  for (i in which(is.na(labels) | !nzchar(labels))) {
    s <- scenarios[[i]]
    labels[i] <- if (is.character(s) && length(s) == 1L) {
      sansextension(s)
    } else paste0("scenario", i)
  }
  names(scenarios) <- labels
  scenarios
}

# The design fields that scenario `n` (`s`, as readstudyscenario() gives it)
# runs before any change: the base's, which must share its grid, target and
# mineff, or without a base the scenario's own. `caller` names the function
# in messages.
scenariobase <- function(s, n, base, where, caller) {
  own <- intersect(names(s), designchangefields)
  if (is.null(base)) {
    missing <- setdiff(c("prior1", "prior2", designcounts), own)
    if (length(missing) > 0L) {
      fail("scenario ", n, ": ", missing[1], " missing: without a base, each ",
           "scenario gives the design")
    }
    return(s[own])
  }
  for (f in c("target", "mineff")) {
    if (!is.null(base[[f]]) && !identical(as.double(base[[f]]), as.double(s[[f]]))) {
      fail(where, "base: its ", f, " (", fmtg(base[[f]]), ") is not scenario ",
           n, "'s (", fmtg(s[[f]]), ")")
    }
  }
  grid <- c(length(base$prior1), length(base$prior2))
  if (is.matrix(s$tox) && any(grid != dim(s$tox))) {
    fail(where, "base: its grid (", grid[1], " by ", grid[2], ") is not scenario ",
         n, "'s (", nrow(s$tox), " by ", ncol(s$tox), ")")
  }
  if (length(own) > 0L) {
    message(caller, ": scenario ", n, ": the base replaces its design ",
            "fields (", paste(own, collapse = ", "), ")")
  }
  base[intersect(names(base), designchangefields)]
}

combosim_study <- function(study = NULL, scenarios = NULL, designs = NULL,
                           reference = NULL, trials = NULL, seed = NULL,
                           paired = TRUE, base = NULL, cores = 2L) {
  where <- ""
  if (!is.null(study)) {
    if (!is.character(study) || length(study) != 1L) {
      fail("study must be the path of a study file")
    }
    given <- c(scenarios = !is.null(scenarios), designs = !is.null(designs),
               reference = !is.null(reference), trials = !is.null(trials),
               seed = !is.null(seed), base = !is.null(base),
               paired = !isTRUE(paired))
    if (any(given)) {
      fail("combosim_study: give either a study file or the study's fields, not ",
           "both (", names(given)[given][1], ")")
    }
    s <- readstudyfile(study)
    list2env(s[c("scenarios", "designs", "reference", "trials", "seed",
                 "paired", "base")], environment())
    where <- s$where
  } else {
    if (is.null(scenarios) || is.null(designs)) {
      fail("combosim_study needs a study file, or scenarios and designs")
    }
    if (!is.list(designs) || length(designs) == 0L || is.null(names(designs))) {
      fail("designs must be a named list of each design's changes to design fields")
    }
    for (name in names(designs)) checkdesignname(name, "designs")
    twice <- unique(names(designs)[duplicated(names(designs))])
    if (length(twice) > 0L) fail("designs: two designs named ", twice[1])
    labels <- names(designs)
    designs <- lapply(labels, function(n) {
      readchanges(designs[[n]], paste0("designs$", n, "$"), json = FALSE)
    })
    names(designs) <- labels
    scenarios <- namescenarios(scenarios)
  }
  twice <- unique(names(scenarios)[duplicated(names(scenarios))])
  if (length(twice) > 0L) fail(where, "scenarios: two scenarios named ", twice[1])
  if (is.null(reference)) reference <- names(designs)[1]
  if (!is.character(reference) || length(reference) != 1L ||
      !(reference %in% names(designs))) {
    fail(where, "reference: \"", paste(reference, collapse = " "),
         "\" is not one of the designs (", paste(names(designs), collapse = ", "), ")")
  }
  if (!isTRUE(paired) && !isFALSE(paired)) fail(where, "paired must be TRUE or FALSE")
  if (paired && is.null(seed)) {
    fail(where, "seed: needed for paired designs (paired = TRUE, the default)")
  }
  seedtext(seed)
  if (!is.null(trials)) {
    checkwhole(trials, paste0(where, "trials"))
    if (trials < 1) fail(where, "trials: must be at least 1")
  }
  checkwhole(cores, "cores")
  if (cores < 1) fail("cores: must be at least 1")
  # Forked workers only where R forks (not on Windows).
  if (.Platform$OS.type != "unix") cores <- 1L

  truths <- lapply(names(scenarios), function(n) readstudyscenario(scenarios[[n]], n))
  names(truths) <- names(scenarios)
  if (!is.null(base)) base <- readstudybase(base)
  # Each scenario with its base design and number of trials.
  runs <- lapply(names(truths), function(n) {
    s <- truths[[n]]
    design <- scenariobase(s, n, base, where, "combosim_study")
    ntrial <- s$ntrial
    if (!is.null(trials)) {
      if (!is.null(ntrial) && !identical(as.double(ntrial), as.double(trials))) {
        message("combosim_study: scenario ", n, ": trials = ", trials,
                " replaces its ntrial (", ntrial, ")")
      }
      ntrial <- trials
    }
    if (is.null(ntrial)) {
      fail("scenario ", n, ": ntrial missing, and the study gives no trials")
    }
    list(truth = s[truthfields], design = design, ntrial = ntrial)
  })
  names(runs) <- names(truths)

  # Every design on every scenario: independent, CPU-bound simulations.
  jobs <- expand.grid(scenario = names(runs), design = names(designs),
                      stringsAsFactors = FALSE)
  args <- lapply(seq_len(nrow(jobs)), function(k) {
    r <- runs[[jobs$scenario[k]]]
    d <- applychanges(r$design, designs[[jobs$design[k]]],
                      paste0(where, "designs$", jobs$design[k], "$"))
    c(r$truth, d, list(ntrial = r$ntrial, seed = seed, paired = paired,
                       progress = FALSE))
  })
  # Every simulation's arguments checked before any runs.
  for (k in seq_along(args)) {
    a <- args[[k]]
    tryCatch(
      runoc(a$tox, a$eff, a$target, a$mineff, a$prior1, a$prior2, a$ncohort1,
            a$cohortsize1, a$ncohort2, a$cohortsize2, a$ntrial,
            if (is.null(a$rules)) combosim_rules() else a$rules, a$seed, FALSE,
            if (is.null(a$posterior)) "gibbs" else a$posterior, a$paired,
            checkonly = TRUE),
      error = function(e) {
        fail("combosim_study: design ", jobs$design[k], " on scenario ",
             jobs$scenario[k], ": ", conditionMessage(e))
      })
  }
  one <- function(a) {
    warnings <- character()
    result <- withCallingHandlers(
      tryCatch(do.call(combosim_oc, a), error = function(e) e),
      warning = function(w) {
        warnings <<- c(warnings, conditionMessage(w))
        invokeRestart("muffleWarning")
      })
    list(result = result, warnings = warnings)
  }
  done <- if (cores > 1L && length(args) > 1L) {
    parallel::mclapply(args, one, mc.cores = cores, mc.preschedule = FALSE)
  } else lapply(args, one)

  results <- list()
  for (k in seq_along(done)) {
    what <- sprintf("design %s on scenario %s", jobs$design[k], jobs$scenario[k])
    r <- done[[k]]
    if (!is.list(r) || is.null(r$result)) {
      fail("combosim_study: ", what, ": the simulation ended without a result")
    }
    if (inherits(r$result, "error")) {
      fail("combosim_study: ", what, ": ", conditionMessage(r$result))
    }
    for (w in r$warnings) warning("combosim_study: ", what, ": ", w, call. = FALSE)
    results[[jobs$design[k]]][[jobs$scenario[k]]] <- r$result
  }

  figures <- comparefigures()
  designrows <- list()
  difftables <- list()
  for (sc in names(runs)) {
    ref <- results[[reference]][[sc]]
    for (d in names(designs)) {
      x <- results[[d]][[sc]]
      designrows[[length(designrows) + 1L]] <- data.frame(
        scenario = sc, design = d, figure = figures,
        value = vapply(figures, function(f) as.double(x$oc[[f]]), 0, USE.NAMES = FALSE),
        mcse = vapply(paste0(figures, "_mcse"), function(f) as.double(x$oc[[f]]), 0,
                      USE.NAMES = FALSE),
        stringsAsFactors = FALSE)
      diff <- differencerows(x, ref, paired = paired)
      if (d == reference) diff$difference_mcse[!is.na(diff$difference)] <- 0
      difftables[[length(difftables) + 1L]] <- data.frame(
        scenario = sc, design = d, reference = reference, figure = diff$figure,
        difference = diff$difference, difference_mcse = diff$difference_mcse,
        unpaired_mcse = diff$unpaired_mcse, stringsAsFactors = FALSE)
    }
  }
  bind <- function(rows) {
    out <- do.call(rbind, rows)
    rownames(out) <- NULL
    out
  }
  structure(list(designs = bind(designrows), differences = bind(difftables),
                 results = results, reference = reference,
                 scenarios = names(runs), labels = names(designs),
                 trials = vapply(runs, function(r) as.integer(r$ntrial), 0L),
                 seed = seed, paired = paired),
            class = "combosim_study")
}

print.combosim_study <- function(x, digits = 2, ...) {
  pm <- if (isTRUE(l10n_info()[["UTF-8"]])) "\u00b1" else "+/-"
  number <- function(v) ifelse(is.na(v), "-", formatC(v, format = "f", digits = digits))
  cat(sprintf("combosim study: %d designs on %d scenarios, %s; reference %s",
              length(x$labels), length(x$scenarios),
              if (x$paired) paste("paired, seed", seedtext(x$seed)) else
                "independent streams", x$reference),
      paste0("Differences from ", x$reference, ", each ", pm,
             " its standard error", if (x$paired) " (trial by trial)", ":"),
      sep = "\n")
  shown <- c("correct", "acceptable", "overtoxic", "inconclusive",
             "overtoxic_patients", "patients_mean")
  labels <- trimws(ocrows$label[match(shown, ocrows$name)])
  for (sc in x$scenarios) {
    cat("", sprintf("Scenario %s (%d trials)", sc, x$trials[[sc]]), sep = "\n")
    d <- x$differences[x$differences$scenario == sc, , drop = FALSE]
    cells <- vapply(setdiff(x$labels, x$reference), function(n) {
      r <- d[d$design == n, , drop = FALSE]
      r <- r[match(shown, r$figure), , drop = FALSE]
      sprintf("%s %s %s", number(r$difference), pm, number(r$difference_mcse))
    }, character(length(shown)))
    cells <- matrix(cells, nrow = length(shown),
                    dimnames = list(labels, setdiff(x$labels, x$reference)))
    if (ncol(cells) > 0L) print(noquote(cells), right = TRUE)
  }
  invisible(x)
}
