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
