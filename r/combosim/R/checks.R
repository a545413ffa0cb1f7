# Argument checks: each stops with one line naming the argument.

fail <- function(...) stop(paste0(...), call. = FALSE)

checknumber <- function(x, name) {
  if (!is.numeric(x) || length(x) != 1L) fail(name, " must be a single number")
}

# A single whole number that fits R's integers.
checkwhole <- function(x, name) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || x != round(x) ||
      abs(x) > .Machine$integer.max) {
    fail(name, " must be a single whole number")
  }
}

# A numeric matrix with one row per drug-1 level and one column per drug-2
# level, 1 to 10 of each.
checkgrid <- function(m, name) {
  if (!is.matrix(m) || !is.numeric(m)) {
    fail(name, " must be a numeric matrix with one row per drug-1 level and ",
         "one column per drug-2 level")
  }
  if (nrow(m) < 1L || nrow(m) > 10L || ncol(m) < 1L || ncol(m) > 10L) {
    fail(name, " must have 1 to 10 rows (drug-1 levels) and 1 to 10 columns ",
         "(drug-2 levels), not ", nrow(m), " by ", ncol(m))
  }
}

# The seed as the decimal text the engine reads: "" for none. The engine's
# rule decides its range, with the command line's words.
seedtext <- function(seed) {
  if (is.null(seed)) return("")
  if (is.character(seed) && length(seed) == 1L && !is.na(seed) &&
      grepl("^[0-9]+$", seed)) {
    text <- seed
  } else if (is.numeric(seed) && length(seed) == 1L && is.finite(seed) &&
             seed == round(seed) && seed >= 0) {
    # Exact: every whole double prints as its own digits.
    text <- sprintf("%.0f", as.double(seed))
  } else {
    fail("seed must be NULL, a whole number from 0 to 4294967295, or a ",
         "string of its digits")
  }
  problem <- cs_seedproblem(text)
  if (nzchar(problem)) fail(problem)
  text
}

# The engine's problem with the scenario, the field named as the argument
# that holds it: "scentox[2][1] (drug-1 level 2, drug-2 level 1): ..."
# (positions from 1) becomes "tox[2, 1]: ...".
renameproblem <- function(problem) {
  fields <- c(scentox = "tox", sceneff = "eff", targettox = "target",
              scenprior1 = "prior1", scenprior2 = "prior2",
              ndose1 = "nrow(tox)", ndose2 = "ncol(tox)")
  m <- regmatches(problem, regexec(
    "^([a-z0-9]+)((\\[[0-9]+\\])*)( \\([^)]*\\))?: (.*)$", problem))[[1]]
  if (length(m) == 0L) return(problem)
  field <- if (m[2] %in% names(fields)) fields[[m[2]]] else m[2]
  index <- ""
  if (nzchar(m[3])) {
    i <- as.integer(regmatches(m[3], gregexpr("[0-9]+", m[3]))[[1]])
    index <- paste0("[", paste(i, collapse = ", "), "]")
  }
  paste0(field, index, ": ", m[6])
}

# The posterior method as the engine reads it: "gibbs" or "quadrature", or
# list(method = "quadrature", nodes = list(toxicity = c(A, B, G), response =
# c(A, B)), draws = M) with nodes and draws optional. Returns the list with
# every field (nodes and draws only for quadrature).
readposterior <- function(posterior, name = "posterior") {
  names <- "must be \"gibbs\" or \"quadrature\""
  if (is.character(posterior)) posterior <- list(method = posterior)
  if (!is.list(posterior) || is.null(posterior$method)) {
    fail(name, " ", names, ", or a list with method, nodes and draws")
  }
  unknown <- setdiff(names(posterior), c("method", "nodes", "draws"))
  if (length(unknown) > 0L) fail(name, "$", unknown[1], ": unknown field")
  method <- posterior$method
  if (!is.character(method) || length(method) != 1L || is.na(method) ||
      !(method %in% c("gibbs", "quadrature"))) {
    fail(name, "$method ", names)
  }
  if (method == "gibbs") {
    if (length(posterior) > 1L) {
      fail(name, "$", setdiff(names(posterior), "method")[1],
           ": taken only by the quadrature method")
    }
    return(list(method = "gibbs"))
  }
  given <- posterior
  posterior <- c(list(method = method), cs_defaultquadrature()[c("nodes", "draws")])
  if (!is.null(given$draws)) {
    checkwhole(given$draws, paste0(name, "$draws"))
    posterior$draws <- as.integer(given$draws)
  }
  if (!is.null(given$nodes)) {
    nodes <- given$nodes
    if (!is.list(nodes) || length(setdiff(names(nodes), c("toxicity", "response"))) > 0L) {
      fail(name, "$nodes must be a list with toxicity (3 counts) and response (2)")
    }
    for (k in c("toxicity", "response")) {
      v <- nodes[[k]]
      if (is.null(v)) next
      n <- if (k == "toxicity") 3L else 2L
      if (!is.numeric(v) || length(v) != n || any(is.na(v)) || any(v != round(v)) ||
          any(abs(v) > .Machine$integer.max)) {
        fail(name, "$nodes$", k, " must be ", n, " whole numbers")
      }
      posterior$nodes[[k]] <- as.integer(v)
    }
  }
  problem <- cs_checkposterior(posterior)
  if (nzchar(problem)) fail(sub("^posterior", name, problem))
  posterior
}
