# Calibrating a design: every combination of searched values on a base is a
# candidate; the candidates race on paired trials over the scenarios, the
# clearly worse and those clearly breaking a constraint dropping out after
# each stage; the best survivor that keeps every constraint is then
# confirmed on fresh trials.

# The fields a search may change, by kind of value. prior1 and prior2 may
# also go by their names in the files, scenprior1 and scenprior2.
searchkinds <- c(
  rules.escalate = "number", rules.deescalate = "number",
  rules.admissible = "number", rules.safety = "number",
  rules.futility = "number", rules.minpatients = "whole",
  rules.minpatients_stop = "whole", rules.minpatients_close = "whole",
  rules.phase2 = "name", rules.start = "start",
  ncohort1 = "whole", ncohort2 = "whole", cohortsize1 = "whole",
  cohortsize2 = "whole", prior1 = "prior", prior2 = "prior",
  posterior = "posterior")
searchaliases <- c(scenprior1 = "prior1", scenprior2 = "prior2")

# `x` as labels show it: the digits R prints (15 significant), or 17 where
# those would not read back as the same double.
shortest <- function(x) {
  text <- as.character(x)
  if (as.numeric(text) != x) text <- sprintf("%.17g", x)
  text
}

# A vector value as a label shows it: "[0.05,0.1,0.2]".
vectortext <- function(v) paste0("[", paste(vapply(v, shortest, ""), collapse = ","), "]")

# The values of a range list(from, to, step), as the study files take it:
# from + i * step, rid of its rounding (12 significant digits), up to `to`.
rangevalues <- function(r, where, kind) {
  unknown <- setdiff(names(r), c("from", "to", "step"))
  if (length(unknown) > 0L) {
    fail(where, "$", unknown[1], ": unknown (a range has from, to and step)")
  }
  for (part in c("from", "to", "step")) {
    v <- r[[part]]
    if (is.null(v)) fail(where, ": a range needs from, to and step")
    if (!is.numeric(v) || length(v) != 1L || !is.finite(v)) {
      fail(where, "$", part, ": must be a number")
    }
  }
  if (!(kind %in% c("number", "whole"))) {
    fail(where, ": a range needs a field that takes a number")
  }
  if (!(r$step > 0)) fail(where, "$step: must be above 0, not ", shortest(r$step))
  if (r$to < r$from) fail(where, "$to: below from")
  count <- floor((r$to - r$from) / r$step + 1e-9) + 1
  if (count > 100000) fail(where, ": more than 100000 values")
  as.numeric(sprintf("%.12g", r$from + (seq_len(count) - 1) * r$step))
}

# One searched field's values as a list, checked by kind, with their texts
# in labels.
searchvalues <- function(v, key, kind) {
  where <- paste0("search$", key)
  isrange <- is.list(v) && !is.null(names(v)) &&
    any(names(v) %in% c("from", "to", "step"))
  if (isrange) {
    v <- as.list(rangevalues(v, where, kind))
  } else if (kind == "prior" && is.numeric(v)) {
    v <- list(v)
  } else if (kind == "posterior" && is.list(v) && !is.null(v$method)) {
    v <- list(v)
  } else if (kind %in% c("start", "prior")) {
    if (!is.list(v)) {
      fail(where, ": must be a list of ", if (kind == "start")
        "[drug-1 level, drug-2 level] pairs, e.g. list(c(1, 1), c(2, 1))" else
        "prior toxicity vectors, one value per level")
    }
  } else if (is.atomic(v)) {
    v <- as.list(v)
  } else if (!is.list(v)) {
    fail(where, ": must be a vector of values or list(from, to, step)")
  }
  if (length(v) == 0L) fail(where, ": no values")
  names(v) <- NULL
  for (i in seq_along(v)) {
    x <- v[[i]]
    at <- if (length(v) > 1L) paste0(where, "[[", i, "]]") else where
    ok <- switch(kind,
      number = is.numeric(x) && length(x) == 1L && is.finite(x),
      whole = is.numeric(x) && length(x) == 1L && is.finite(x) && x == round(x) &&
        abs(x) <= .Machine$integer.max,
      name = is.character(x) && length(x) == 1L && !is.na(x),
      start = is.numeric(x) && length(x) == 2L && all(is.finite(x)) &&
        all(x == round(x)) && all(x >= 1) && all(x <= 10),
      prior = is.numeric(x) && !is.matrix(x) && length(x) >= 1L && all(is.finite(x)),
      posterior = TRUE)
    if (!ok) {
      fail(at, switch(kind,
        number = ": must be a number",
        whole = ": must be a whole number",
        name = ": must be a name",
        start = ": must be two whole numbers from 1, [drug-1 level, drug-2 level]",
        prior = ": must be a numeric vector of prior toxicities, one per level"))
    }
    if (kind == "number" && !(x > 0 && x < 1)) {
      fail(at, ": ", shortest(x), " must lie strictly between 0 and 1")
    }
    if (kind == "whole" && startsWith(key, "rules.") && x < 0) {
      fail(at, ": must not be negative")
    }
    if (key == "rules.phase2" && !(x %in% c("admissible", "treated", "adjacent"))) {
      fail(at, ': must be "admissible", "treated" or "adjacent"')
    }
    if (kind == "posterior") v[[i]] <- readposterior(x, at)
    if (kind %in% c("whole", "start")) v[[i]] <- as.integer(x)
    if (kind %in% c("number", "prior")) v[[i]] <- as.double(x)
  }
  texts <- vapply(v, function(x) switch(kind,
    number = , whole = shortest(x),
    name = x,
    start = , prior = vectortext(x),
    posterior = if (x$method == "gibbs") "gibbs" else {
      d <- cs_defaultquadrature()
      paste0("quadrature",
             if (!identical(x$nodes, d$nodes)) paste0(
               " nodes ", paste(x$nodes$toxicity, collapse = "/"), ",",
               paste(x$nodes$response, collapse = "/")),
             if (!identical(x$draws, d$draws)) paste0(" draws ", x$draws))
    }), "")
  twice <- texts[duplicated(texts)]
  if (length(twice) > 0L) fail(where, ": ", twice[1], " given more than once")
  list(key = key, kind = kind, values = v, texts = texts)
}

# The search as a list of fields, each with its values.
readsearch <- function(search) {
  if (is.null(search) || (is.list(search) && length(search) == 0L)) {
    fail("search: empty: name at least one field to search")
  }
  if (!is.list(search) || is.null(names(search)) || any(!nzchar(names(search)))) {
    fail("search must be a named list of design fields and the values to try, ",
         "e.g. list(rules.escalate = c(0.75, 0.85), ncohort2 = c(2, 4))")
  }
  fields <- names(search)
  canonical <- ifelse(fields %in% names(searchaliases),
                      searchaliases[fields], fields)
  unknown <- fields[!(canonical %in% names(searchkinds))]
  if (length(unknown) > 0L) {
    fail("search$", unknown[1], ": not a field a search can change (",
         paste(names(searchkinds), collapse = ", "), ")")
  }
  twice <- fields[duplicated(canonical)]
  if (length(twice) > 0L) fail("search$", twice[1], ": given more than once")
  out <- lapply(seq_along(fields), function(i) {
    k <- searchvalues(search[[i]], fields[i], searchkinds[[canonical[i]]])
    k$field <- canonical[i]
    k
  })
  names(out) <- fields
  out
}

# The candidates: every combination of the keys' values (the last key
# varying fastest) that is feasible in every scenario, deescalate below
# escalate. Returns the value index of each key, one row per candidate, the
# number of combinations and of those skipped.
searchgrid <- function(keys, rules, max_candidates) {
  n <- vapply(keys, function(k) length(k$values), 0L)
  total <- prod(as.double(n))
  fields <- vapply(keys, function(k) k$field, "")
  ie <- match("rules.escalate", fields)
  id <- match("rules.deescalate", fields)
  e <- if (is.na(ie)) NA_real_ else unlist(keys[[ie]]$values)
  d <- if (is.na(id)) NA_real_ else unlist(keys[[id]]$values)
  if (as.double(length(e)) * length(d) > 1e7) {
    fail("search: ", format(total, big.mark = ","), " combinations, more than ",
         "max_candidates (", max_candidates, "); search fewer values")
  }
  # Feasible pairs of the two thresholds under every scenario's own rules.
  feasible <- matrix(TRUE, length(e), length(d))
  for (r in rules) {
    feasible <- feasible & outer(if (is.na(ie)) rep(r$escalate, length(e)) else e,
                                 if (is.na(id)) rep(r$deescalate, length(d)) else d,
                                 ">")
  }
  pairs <- which(feasible, arr.ind = TRUE)
  others <- setdiff(seq_along(keys), c(ie, id))
  left <- nrow(pairs) * prod(as.double(n[others]))
  skipped <- total - left
  what <- if (skipped > 0) sprintf(" (%s infeasible combinations skipped: deescalate at or above escalate)",
                                   format(skipped, big.mark = ",")) else ""
  if (left == 0) {
    fail("search: no candidate left: all ", format(total, big.mark = ","),
         " combinations are infeasible (deescalate at or above escalate)")
  }
  if (left > max_candidates) {
    fail("search: ", format(left, big.mark = ","), " candidates", what,
         ", more than max_candidates (", max_candidates, "); search fewer ",
         "values or raise max_candidates")
  }
  grid <- if (length(others) == 0L) matrix(0L, 1L, 0L) else
    as.matrix(expand.grid(lapply(n[others], seq_len)))
  index <- matrix(0L, nrow(pairs) * nrow(grid), length(keys))
  rows <- rep(seq_len(nrow(pairs)), each = nrow(grid))
  if (!is.na(ie)) index[, ie] <- pairs[rows, 1]
  if (!is.na(id)) index[, id] <- pairs[rows, 2]
  index[, others] <- grid[rep(seq_len(nrow(grid)), times = nrow(pairs)), ]
  # In the order of the whole space: the first key slowest.
  index <- index[do.call(order, as.data.frame(index)), , drop = FALSE]
  list(index = index, total = total, skipped = skipped)
}

# Candidate `row`'s changes to design fields, in combosim_study()'s form.
candidatechanges <- function(keys, row) {
  changes <- list()
  for (j in seq_along(keys)) {
    v <- keys[[j]]$values[[row[j]]]
    f <- keys[[j]]$field
    if (startsWith(f, "rules.")) {
      changes$rules[[substring(f, 7L)]] <- v
    } else changes[[f]] <- v
  }
  changes
}

# The constraints as lists of figure, upper, limit and scenarios (their
# positions), each checked.
readconstraints <- function(constraints, scenarios, figures) {
  if (is.null(constraints)) return(list())
  if (is.list(constraints) && !is.null(constraints$figure)) constraints <- list(constraints)
  if (!is.list(constraints)) {
    fail("constraints must be a list of constraints, each a list with figure, ",
         "max or min, and optionally scenarios")
  }
  lapply(seq_along(constraints), function(i) {
    c <- constraints[[i]]
    where <- paste0("constraints[[", i, "]]")
    if (!is.list(c) || is.null(names(c))) {
      fail(where, ": must be a list with figure, max or min, and optionally scenarios")
    }
    unknown <- setdiff(names(c), c("figure", "max", "min", "scenarios"))
    if (length(unknown) > 0L) {
      fail(where, "$", unknown[1], ": unknown field (figure, max or min, scenarios)")
    }
    f <- c$figure
    if (!is.character(f) || length(f) != 1L || is.na(f)) fail(where, "$figure: missing")
    if (!(f %in% figures)) {
      fail(where, "$figure: unknown figure \"", f, "\" (",
           paste(figures, collapse = ", "), ")")
    }
    if (is.null(c$max) == is.null(c$min)) fail(where, ": give either max or min")
    bound <- if (is.null(c$max)) "min" else "max"
    limit <- c[[bound]]
    if (!is.numeric(limit) || length(limit) != 1L || !is.finite(limit)) {
      fail(where, "$", bound, ": must be a number")
    }
    at <- integer()
    if (!is.null(c$scenarios)) {
      s <- c$scenarios
      if (!is.character(s) || length(s) == 0L || anyNA(s)) {
        fail(where, "$scenarios: must name scenarios (", paste(scenarios, collapse = ", "), ")")
      }
      unknown <- setdiff(s, scenarios)
      if (length(unknown) > 0L) {
        fail(where, "$scenarios: unknown scenario \"", unknown[1], "\" (scenarios: ",
             paste(scenarios, collapse = ", "), ")")
      }
      at <- match(unique(s), scenarios)
    }
    list(figure = f, upper = bound == "max", limit = as.double(limit),
         scenarios = as.integer(at))
  })
}

# The weights of the scenarios in the objective: 1 unless given, by name or
# one per scenario in order.
readweights <- function(weights, scenarios) {
  w <- rep(1, length(scenarios))
  if (is.null(weights)) return(w)
  if (!is.numeric(weights) || anyNA(weights) || any(!is.finite(weights)) ||
      any(weights < 0)) {
    fail("weights must be numbers from 0 up, named by scenario")
  }
  if (is.null(names(weights))) {
    if (length(weights) != length(scenarios)) {
      fail("weights: ", length(weights), " given for ", length(scenarios),
           " scenarios; name them by scenario or give one per scenario")
    }
    w <- as.double(weights)
  } else {
    unknown <- setdiff(names(weights), scenarios)
    if (length(unknown) > 0L) {
      fail("weights: unknown scenario \"", unknown[1], "\" (scenarios: ",
           paste(scenarios, collapse = ", "), ")")
    }
    w[match(names(weights), scenarios)] <- as.double(weights)
  }
  if (!(sum(w) > 0)) fail("weights: at least one must be above 0")
  w
}

# A design's fields as the engine takes them for one scenario.
enginedesign <- function(d) {
  list(prior1 = as.double(d$prior1), prior2 = as.double(d$prior2),
       counts = as.integer(unlist(d[designcounts])),
       rules = unclass(if (is.null(d$rules)) combosim_rules() else d$rules),
       posterior = if (is.null(d$posterior)) list(method = "gibbs") else d$posterior)
}

combosim_calibrate <- function(scenarios, search, base = NULL,
                               objective = "correct", weights = NULL,
                               constraints = list(), budget = c(50, 200, 800),
                               margin = 2, seed, posterior = NULL,
                               confirm = 4000, confirm_gibbs = FALSE,
                               cores = 2L, max_candidates = 1000,
                               progress = interactive()) {
  figures <- cs_calibrationfigures()
  scenarios <- namescenarios(scenarios)
  labels <- names(scenarios)
  twice <- unique(labels[duplicated(labels)])
  if (length(twice) > 0L) fail("scenarios: two scenarios named ", twice[1])
  keys <- readsearch(search)
  fields <- vapply(keys, function(k) k$field, "")
  if (!is.character(objective) || length(objective) != 1L || is.na(objective) ||
      !(objective %in% figures$objective)) {
    fail("objective: \"", paste(objective, collapse = " "), "\" is not a figure of ",
         "single trials (", paste(figures$objective, collapse = ", "), ")")
  }
  w <- readweights(weights, labels)
  cons <- readconstraints(constraints, labels, figures$constraints)
  if (!is.numeric(budget) || length(budget) == 0L || anyNA(budget) ||
      any(budget != round(budget)) || any(budget > .Machine$integer.max)) {
    fail("budget must be whole numbers: the trials per scenario after each stage")
  }
  if (budget[1] < 2) fail("budget: the first stage needs 2 trials at least")
  if (any(diff(budget) <= 0)) fail("budget: each stage must have more trials than the last")
  if (!is.numeric(margin) || length(margin) != 1L || !is.finite(margin) || margin < 0) {
    fail("margin must be a number from 0 up (points of the objective)")
  }
  if (missing(seed) || is.null(seed)) {
    fail("seed: needed: every candidate runs the same trials, on the paired ",
         "streams of a seed")
  }
  text <- seedtext(seed)
  post <- if (is.null(posterior)) NULL else readposterior(posterior)
  if (!is.null(post) && "posterior" %in% fields) {
    fail("posterior: searched too (search$posterior); give one or the other")
  }
  checkwhole(confirm, "confirm")
  if (confirm < 0) fail("confirm: must be 0 or more trials")
  if (!isTRUE(confirm_gibbs) && !isFALSE(confirm_gibbs)) {
    fail("confirm_gibbs must be TRUE or FALSE")
  }
  checkwhole(cores, "cores")
  if (cores < 1) fail("cores: must be at least 1")
  checkwhole(max_candidates, "max_candidates")
  if (max_candidates < 1) fail("max_candidates: must be at least 1")
  if (!isTRUE(progress) && !isFALSE(progress)) fail("progress must be TRUE or FALSE")

  truths <- lapply(labels, function(n) readstudyscenario(scenarios[[n]], n))
  names(truths) <- labels
  if (!is.null(base)) base <- readstudybase(base)
  designs <- lapply(labels, function(n) {
    d <- scenariobase(truths[[n]], n, base, "", "combosim_calibrate")
    if (!is.null(post)) d$posterior <- post
    d$posterior <- readposterior(if (is.null(d$posterior)) "gibbs" else d$posterior,
                                 paste0("scenario ", n, ": posterior"))
    if (is.null(d$rules)) d$rules <- combosim_rules()
    d
  })
  names(designs) <- labels
  # Each scenario with its base design, checked as a simulation would be.
  for (n in labels) {
    s <- truths[[n]]
    d <- designs[[n]]
    tryCatch(
      runoc(s$tox, s$eff, s$target, s$mineff, d$prior1, d$prior2, d$ncohort1,
            d$cohortsize1, d$ncohort2, d$cohortsize2, 1, d$rules, text, FALSE,
            d$posterior, TRUE, checkonly = TRUE),
      error = function(e) fail("scenario ", n, ": ", conditionMessage(e)))
  }
  for (k in keys) {
    if (k$kind != "prior") next
    drug <- substring(k$field, 6L)
    for (n in labels) {
      levels <- if (drug == "1") nrow(truths[[n]]$tox) else ncol(truths[[n]]$tox)
      bad <- which(lengths(k$values) != levels)
      if (length(bad) > 0L) {
        fail("search$", k$key, if (length(k$values) > 1L) paste0("[[", bad[1], "]]"),
             ": ", length(k$values[[bad[1]]]), " values, not one per drug-", drug,
             " level of scenario ", n, " (", levels, ")")
      }
    }
  }

  grid <- searchgrid(keys, lapply(designs, function(d) d$rules), max_candidates)
  index <- grid$index
  K <- nrow(index)
  clabels <- vapply(seq_len(K), function(i) paste0(vapply(seq_along(keys), function(j) {
    paste0(keys[[j]]$key, "=", keys[[j]]$texts[index[i, j]])
  }, ""), collapse = ", "), "")
  changes <- lapply(seq_len(K), function(i) candidatechanges(keys, index[i, ]))
  # Scenarios with the same base design share each candidate's design.
  distinct <- unique(designs)
  group <- vapply(designs, function(d) {
    which(vapply(distinct, identical, TRUE, d))[1]
  }, 0L)
  candidates <- lapply(seq_len(K), function(i) {
    where <- paste0("search: candidate ", i, " (", clabels[i], "): ")
    made <- lapply(distinct, function(d) {
      enginedesign(applychanges(d, changes[[i]], where))
    })
    list(label = clabels[i], designs = made[group])
  })
  engine <- lapply(seq_along(labels), function(s) {
    t <- truths[[s]]
    tox <- t$tox
    eff <- t$eff
    storage.mode(tox) <- "double"
    storage.mode(eff) <- "double"
    list(name = labels[s], tox = tox, eff = eff, target = as.double(t$target),
         mineff = as.double(t$mineff), weight = w[s])
  })

  started <- proc.time()
  run <- cs_calibrate(engine, candidates, objective, cons, as.integer(budget),
                      as.double(margin), text, as.integer(confirm), confirm_gibbs,
                      as.integer(cores), progress)
  took <- proc.time() - started
  if (nzchar(run$problem)) fail(run$problem)
  if (run$interrupted) {
    stop(structure(class = c("combosim_interrupt", "interrupt", "condition"),
                   list(message = sprintf(
                          "interrupted after %.0f of %.0f trials planned; nothing kept",
                          run$done, run$planned),
                        call = NULL, trials = run$done)))
  }
  if (nzchar(run$failure)) fail("combosim_calibrate: the sampler failed in ", run$failure)

  # The searched values, one column per key: numbers and names as they are,
  # vectors and posteriors as their labels show them.
  values <- lapply(seq_along(keys), function(j) {
    k <- keys[[j]]
    v <- k$values[index[, j]]
    if (k$kind %in% c("number", "whole", "name")) unlist(v) else k$texts[index[, j]]
  })
  names(values) <- names(keys)
  cands <- data.frame(candidate = seq_len(K), label = clabels,
                      stringsAsFactors = FALSE)
  cands <- cbind(cands, as.data.frame(values, optional = TRUE, stringsAsFactors = FALSE))
  history <- as.data.frame(run$history, stringsAsFactors = FALSE)
  chosen <- if (run$chosen > 0L) run$chosen else NA_integer_
  confirmation <- NULL
  if (!is.na(chosen) && confirm > 0) {
    method <- vapply(candidates[[chosen]]$designs, function(d) d$posterior$method, "")
    parts <- list(data.frame(scenario = labels, posterior = method,
                             stringsAsFactors = FALSE))
    figs <- list(run$confirmation)
    if (confirm_gibbs) {
      parts[[2]] <- data.frame(scenario = labels, posterior = "gibbs",
                               stringsAsFactors = FALSE)
      figs[[2]] <- run$gibbsconfirmation
    }
    confirmation <- cbind(do.call(rbind, parts),
                          first_trial = run$confirmfirst,
                          trials = as.integer(confirm),
                          figuredata(do.call(rbind, figs)))
  }

  structure(list(
    candidates = cands, history = history, figures = run$figures,
    scenarios = labels, weights = structure(w, names = labels),
    objective = objective,
    constraints = cons, budget = as.integer(budget), margin = margin,
    seed = seed, search = keys, changes = changes,
    survivors = run$survivors, chosen_candidate = chosen,
    chosen = if (is.na(chosen)) NULL else chosendesign(designs, truths, changes[[chosen]]),
    chosen_changes = if (is.na(chosen)) NULL else changes[[chosen]],
    stopped = run$stopped, laststage = run$laststage,
    racetrials = run$racetrials, spent = run$spent, everywhere = run$everywhere,
    combinations = grid$total, infeasible = grid$skipped,
    confirm = as.integer(confirm), confirmfirst = run$confirmfirst,
    confirmation = confirmation,
    cpuseconds = sum(took[c(1, 2, 4, 5)], na.rm = TRUE),
    seconds = took[[3]],
    version = as.character(utils::packageVersion("combosim"))),
    class = "combosim_calibration")
}

# The figures of engine/oc.h, one row each of `m`, as data frame columns:
# the counts as integers.
figuredata <- function(m) {
  d <- as.data.frame(m, optional = TRUE)
  for (n in c("patients_min", "patients_max")) {
    if (!is.null(d[[n]])) d[[n]] <- as.integer(d[[n]])
  }
  rownames(d) <- NULL
  d
}

# The chosen candidate as a design combosim_next() takes: the base all
# scenarios share, with the chosen changes, and their target and mineff.
# NULL when the scenarios' designs or targets differ.
chosendesign <- function(designs, truths, changes) {
  same <- function(f) all(vapply(designs, function(d) identical(d[[f]], designs[[1]][[f]]), TRUE))
  truthsame <- function(f) {
    all(vapply(truths, function(t) identical(as.double(t[[f]]), as.double(truths[[1]][[f]])), TRUE))
  }
  if (!all(vapply(designchangefields, same, TRUE)) ||
      !truthsame("target") || !truthsame("mineff")) {
    return(NULL)
  }
  d <- applychanges(designs[[1]], changes, "chosen: ")
  out <- c(list(target = as.double(truths[[1]]$target),
                mineff = as.double(truths[[1]]$mineff),
                prior1 = as.double(d$prior1), prior2 = as.double(d$prior2)),
           lapply(d[designcounts], as.integer), list(rules = d$rules))
  if (d$posterior$method != "gibbs") out$posterior <- d$posterior
  out
}

# Each candidate's last stage, with its fate, best first: the survivors in
# the race's order, then the dropped by the stage they reached, latest
# first, then by objective.
lastrows <- function(x) {
  h <- x$history
  last <- h[!duplicated(h$candidate, fromLast = TRUE), , drop = FALSE]
  last <- last[order(last$candidate), , drop = FALSE]
  rank <- match(last$candidate, x$survivors)
  behind <- paste0("^", x$objective, " behind the best by ")
  last$fate <- ifelse(!is.na(x$chosen_candidate) & last$candidate == x$chosen_candidate,
                      "chosen", ifelse(!is.na(rank), "survivor",
                      ifelse(grepl(behind, last$dropped), "dropped: behind the best",
                             "dropped: a constraint")))
  last <- last[order(is.na(rank), rank, -last$stage, -last$objective), , drop = FALSE]
  last$rank <- ifelse(is.na(match(last$candidate, x$survivors)), NA_integer_,
                      match(last$candidate, x$survivors))
  last$label <- x$candidates$label[last$candidate]
  rownames(last) <- NULL
  last
}

# "1,234" for counts of trials.
counttext <- function(n) format(n, big.mark = ",", scientific = FALSE, trim = TRUE)

constrainttext <- function(x) {
  if (length(x$constraints) == 0L) return("none")
  paste(vapply(x$constraints, function(c) {
    paste0(c$figure, if (c$upper) " <= " else " >= ", shortest(c$limit),
           if (length(c$scenarios) > 0L) paste0(" (", paste(x$scenarios[c$scenarios],
                                                           collapse = ", "), ")"))
  }, ""), collapse = "; ")
}

# The lines of the race's outcome, shared by print() and summary().
racelines <- function(x) {
  n <- nrow(x$candidates)
  c(sprintf("combosim calibration: %d candidate%s%s on %d scenarios, paired streams of seed %s",
            n, if (n == 1L) "" else "s",
            if (x$infeasible > 0) sprintf(" (%s infeasible combinations skipped)",
                                          counttext(x$infeasible)) else "",
            length(x$scenarios), seedtext(x$seed)),
    sprintf("Objective: %s, %s over the scenarios; constraints: %s", x$objective,
            if (length(unique(x$weights)) == 1L) "mean" else paste0("weighted mean (",
              paste(x$scenarios, vapply(x$weights, shortest, ""), collapse = ", "), ")"),
            constrainttext(x)),
    sprintf("The race ran %d of %d stages, to %d trials per scenario, and stopped: %s.",
            x$laststage, length(x$budget), x$racetrials, x$stopped),
    sprintf("Trials run: %s, against %s for every candidate at %d trials per scenario.",
            counttext(x$spent), counttext(x$everywhere), x$budget[length(x$budget)]))
}

# The ranking's lines: `rows` of lastrows(), each its objective and its
# paired difference to the best with their SEs.
rankinglines <- function(x, rows, digits) {
  pm <- if (isTRUE(l10n_info()[["UTF-8"]])) "\u00b1" else "+/-"
  number <- function(v) ifelse(is.na(v), "-", formatC(v, format = "f", digits = digits))
  cells <- cbind(
    rank = ifelse(is.na(rows$rank), "-", rows$rank),
    candidate = rows$candidate,
    label = rows$label,
    stage = rows$stage, trials = rows$trials,
    objective = paste(number(rows$objective), pm, number(rows$objective_mcse)),
    behind = paste(number(rows$behind), pm, number(rows$behind_mcse)),
    constraints = ifelse(rows$constraints_met, "met", "not met"),
    fate = ifelse(nzchar(rows$dropped), paste0("dropped: ", rows$dropped), rows$fate))
  left <- colnames(cells) %in% c("label", "constraints", "fate")
  width <- pmax(nchar(colnames(cells)), apply(nchar(cells), 2, max))
  pad <- function(v, j) formatC(v, width = if (left[j]) -width[j] else width[j])
  head <- paste(vapply(seq_len(ncol(cells)), function(j) pad(colnames(cells)[j], j), ""),
                collapse = "  ")
  body <- vapply(seq_len(nrow(cells)), function(i) {
    paste(vapply(seq_len(ncol(cells)), function(j) pad(cells[i, j], j), ""),
          collapse = "  ")
  }, "")
  paste0("  ", trimws(c(head, body), which = "right"))
}

# The confirmation's main figures, one line per scenario and method.
confirmationlines <- function(x, digits) {
  if (is.null(x$confirmation)) {
    return(if (is.na(x$chosen_candidate)) character() else "No confirmation (confirm = 0).")
  }
  pm <- if (isTRUE(l10n_info()[["UTF-8"]])) "\u00b1" else "+/-"
  c <- x$confirmation
  shown <- c("correct", "acceptable", "overtoxic", "inconclusive",
             "overtoxic_patients", "patients_mean")
  cells <- cbind(scenario = c$scenario, posterior = c$posterior,
                 vapply(shown, function(f) {
                   paste(formatC(c[[f]], format = "f", digits = digits), pm,
                         formatC(c[[paste0(f, "_mcse")]], format = "f", digits = digits))
                 }, character(nrow(c))))
  width <- pmax(nchar(colnames(cells)), apply(nchar(cells), 2, max))
  line <- function(v) {
    paste0("  ", paste(vapply(seq_along(v), function(j) formatC(v[j], width = -width[j]), ""),
                       collapse = "  "))
  }
  c(sprintf("Confirmation of the chosen design on trials %s to %s of every scenario, which the race never ran:",
            counttext(x$confirmfirst), counttext(x$confirmfirst + x$confirm - 1)),
    trimws(c(line(colnames(cells)), apply(cells, 1, line)), which = "right"))
}

choicelines <- function(x) {
  if (is.na(x$chosen_candidate)) {
    return("Chosen: none; no survivor meets every constraint by its estimates.")
  }
  sprintf("Chosen: candidate %d, %s: the best survivor that meets every constraint by its estimates.",
          x$chosen_candidate, x$candidates$label[x$chosen_candidate])
}

print.combosim_calibration <- function(x, digits = 2, n = 20, ...) {
  rows <- lastrows(x)
  shown <- rows[seq_len(min(nrow(rows), max(n, length(x$survivors)))), , drop = FALSE]
  cat(racelines(x),
      "Candidates at their last stage, best first: the objective and its difference to the best, each with its SE (paired):",
      rankinglines(x, shown, digits), sep = "\n")
  if (nrow(shown) < nrow(rows)) {
    cat(sprintf("  ... and %d more dropped (summary() lists every candidate)",
                nrow(rows) - nrow(shown)), sep = "\n")
  }
  cat(choicelines(x), confirmationlines(x, digits), sep = "\n")
  invisible(x)
}

summary.combosim_calibration <- function(object, ...) {
  rows <- lastrows(object)
  ranking <- cbind(rows[c("rank", "candidate", "label")],
                   object$candidates[rows$candidate, -(1:2), drop = FALSE],
                   rows[c("stage", "trials", "objective", "objective_mcse", "behind",
                          "behind_mcse", "constraints_met", "fate", "dropped")])
  rownames(ranking) <- NULL
  # The survivors' figures in each scenario: the objective's and the
  # constrained ones.
  d <- as.data.frame(object)
  figs <- unique(c(object$objective, vapply(object$constraints, function(c) c$figure, "")))
  last <- d[d$stage == object$laststage & d$candidate %in% object$survivors, , drop = FALSE]
  scen <- do.call(rbind, lapply(figs, function(f) {
    data.frame(candidate = last$candidate, scenario = last$scenario,
               figure = rep(f, nrow(last)),
               value = last[[f]], mcse = last[[paste0(f, "_mcse")]],
               stringsAsFactors = FALSE)
  }))
  scen <- scen[order(match(scen$candidate, object$survivors),
                     match(scen$scenario, object$scenarios)), , drop = FALSE]
  rownames(scen) <- NULL
  structure(list(race = racelines(object), ranking = ranking, survivors = scen,
                 choice = choicelines(object), confirmation = object$confirmation,
                 object = object),
            class = "summary.combosim_calibration")
}

print.summary.combosim_calibration <- function(x, digits = 2, ...) {
  pm <- if (isTRUE(l10n_info()[["UTF-8"]])) "\u00b1" else "+/-"
  number <- function(v) ifelse(is.na(v), "-", formatC(v, format = "f", digits = digits))
  cat(x$race, "Every candidate at its last stage, best first:",
      rankinglines(x$object, x$ranking, digits), sep = "\n")
  s <- x$survivors
  if (nrow(s) > 0L) {
    cat("The survivors' figures by scenario at the last stage:", sep = "\n")
    cells <- tapply(paste(number(s$value), pm, number(s$mcse)),
                    list(paste0(s$candidate, ": ", s$figure), s$scenario), identity)
    cells <- cells[unique(paste0(s$candidate, ": ", s$figure)), x$object$scenarios,
                   drop = FALSE]
    print(noquote(cells), right = TRUE)
  }
  cat(x$choice, sep = "\n")
  c <- x$confirmation
  if (!is.null(c)) {
    cat(confirmationlines(x$object, digits)[1], sep = "\n")
    rows <- ocrows$name
    cells <- vapply(seq_len(nrow(c)), function(i) {
      paste(number(unlist(c[i, rows])), pm, number(unlist(c[i, paste0(rows, "_mcse")])))
    }, character(length(rows)))
    cells <- matrix(cells, nrow = length(rows),
                    dimnames = list(trimws(ocrows$label), paste(c$scenario, c$posterior)))
    print(noquote(cells), right = TRUE)
  }
  invisible(x)
}

as.data.frame.combosim_calibration <- function(x, row.names = NULL, optional = FALSE, ...) {
  h <- x$history
  S <- length(x$scenarios)
  at <- rep(seq_len(nrow(h)), each = S)
  values <- x$candidates[h$candidate[at], -(1:2), drop = FALSE]
  out <- cbind(data.frame(candidate = h$candidate[at],
                          label = x$candidates$label[h$candidate[at]],
                          stringsAsFactors = FALSE),
               values,
               data.frame(stage = h$stage[at], trials = h$trials[at],
                          scenario = rep(x$scenarios, times = nrow(h)),
                          h[at, c("objective", "objective_mcse", "behind", "behind_mcse",
                                  "best", "constraints_met", "dropped")],
                          stringsAsFactors = FALSE),
               figuredata(x$figures))
  rownames(out) <- row.names
  out
}

plot.combosim_calibration <- function(x, ...) {
  rows <- lastrows(x)
  rows <- rows[order(rows$objective), , drop = FALSE]
  fates <- c(chosen = "#1b7837", survivor = "#2166ac",
             "dropped: behind the best" = "grey55", "dropped: a constraint" = "#d6604d")
  lo <- rows$objective - 2 * rows$objective_mcse
  hi <- rows$objective + 2 * rows$objective_mcse
  y <- seq_len(nrow(rows))
  names <- if (nrow(rows) <= 40L) rows$label else as.character(rows$candidate)
  margin <- min(25, max(4, max(nchar(names)) * 0.5))
  old <- graphics::par(mar = c(4.5, margin, 3, 1))
  on.exit(graphics::par(old))
  graphics::plot(NA, xlim = range(c(lo, hi), na.rm = TRUE), ylim = c(0.5, nrow(rows) + 0.5),
                 yaxt = "n", ylab = "", xlab = paste(x$objective, "(mean over the scenarios)"),
                 main = "Each candidate at its last stage", ...)
  graphics::axis(2, at = y, labels = names, las = 1, cex.axis = if (nrow(rows) > 20L) 0.6 else 0.8)
  colours <- fates[rows$fate]
  ok <- !is.na(rows$objective_mcse) & rows$objective_mcse > 0
  if (any(ok)) {
    graphics::arrows(lo[ok], y[ok], hi[ok], y[ok], angle = 90, code = 3,
                     length = 0.03, col = colours[ok])
  }
  graphics::points(rows$objective, y, pch = 19, col = colours)
  present <- names(fates) %in% rows$fate
  graphics::legend("bottomright", legend = names(fates)[present], col = fates[present],
                   pch = 19, bty = "n", cex = 0.8)
  graphics::mtext("Bars: 2 standard errors either side, at the trials each candidate reached",
                  side = 1, line = 3.5, cex = 0.7)
  invisible(x)
}
