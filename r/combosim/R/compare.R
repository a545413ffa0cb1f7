# Several results side by side.

combosim_compare <- function(...) {
  results <- list(...)
  if (length(results) == 0L) fail("combosim_compare needs at least one result")
  labels <- names(results)
  if (is.null(labels)) labels <- rep("", length(results))
  exprs <- vapply(as.list(substitute(list(...)))[-1L], deparse1, "")
  labels[!nzchar(labels)] <- exprs[!nzchar(labels)]
  labels <- make.unique(labels)
  # The table's own columns, which a label would replace.
  columns <- c("measure", "drug1", "drug2")
  taken <- labels[labels %in% columns]
  if (length(taken) > 0L) {
    fail("combosim_compare: ", taken[1], " names a column of the table (",
         paste(columns, collapse = ", "), "); label the result otherwise, ",
         "e.g. combosim_compare(a = ", taken[1], ")")
  }
  for (i in seq_along(results)) {
    if (!inherits(results[[i]], "combosim_oc")) {
      fail("combosim_compare: ", labels[i], " is not a result of combosim_oc()")
    }
  }
  dims <- vapply(results, function(r) dim(r$selection), integer(2))
  if (any(dims != dims[, 1])) {
    fail("combosim_compare: the results must have the same dose grid")
  }
  j <- dims[1, 1]
  k <- dims[2, 1]
  cells <- cbind(rep(seq_len(j), each = k), rep(seq_len(k), times = j))
  # Then the operating characteristics, by their names in x$oc.
  figures <- names(results[[1]]$oc)
  whole <- 4L + length(figures)
  rows <- data.frame(
    measure = c(rep("selection %", j * k), rep("patients", j * k),
                "inconclusive %", "patients per trial",
                "toxicities per trial", "responses per trial", figures),
    drug1 = c(cells[, 1], cells[, 1], rep(NA_integer_, whole)),
    drug2 = c(cells[, 2], cells[, 2], rep(NA_integer_, whole)),
    stringsAsFactors = FALSE)
  for (i in seq_along(results)) {
    r <- results[[i]]
    rows[[labels[i]]] <- c(r$selection[cells], r$patients[cells],
                           r$inconclusive,
                           r$sums$outcomes[["patients"]] / r$scenario$ntrial,
                           r$sums$outcomes[["toxicities"]] / r$scenario$ntrial,
                           r$sums$outcomes[["responses"]] / r$scenario$ntrial,
                           as.double(unlist(r$oc[figures])))
  }
  rows
}
