# Decision pathways: the design's decision for every outcome of the next
# cohorts of a real trial, as a data frame and a tree.

combosim_pathways <- function(design, cohorts, k = 1, seed = NULL,
                              posterior = NULL, ...) {
  if (missing(design)) {
    fail("design: missing; a list of the design's fields, or a result of ",
         "combosim_oc()")
  }
  if (missing(cohorts)) {
    fail("cohorts: missing; a data frame of the cohorts treated, or NULL ",
         "before the first")
  }
  if (!is.numeric(k) || length(k) != 1L || is.na(k) || k != round(k) ||
      k < 1 || k > .Machine$integer.max) {
    fail("k must be a whole number of cohorts ahead, from 1")
  }
  extra <- list(...)
  if (length(extra) > 0L) {
    fail("combosim_pathways: unknown argument ",
         if (is.null(names(extra)) || !nzchar(names(extra)[1])) "(unnamed)"
         else names(extra)[1])
  }
  x <- conduct(design, cohorts, seed, 0, FALSE, posterior, as.integer(k))
  p <- attr(x, "pathways")
  d <- x$design
  exact <- !is.null(d$posterior)
  frame <- as.data.frame(p$columns, stringsAsFactors = FALSE)
  if (is.null(d$labels1)) frame$drug1_label <- NULL
  if (is.null(d$labels2)) frame$drug2_label <- NULL
  # Responses enter only phase II decisions; close calls only gibbs.
  if (p$phase == 1L) frame$responses <- NULL
  if (exact) frame$close_call <- NULL
  if (ncol(p$randomisation) > 0L) {
    frame <- cbind(frame, as.data.frame(p$randomisation))
  }
  structure(frame, class = c("combosim_pathways", "data.frame"),
            phase = p$phase, k = as.integer(k), updates = p$updates,
            method = if (exact) d$posterior$method else "gibbs",
            exact = exact, random = x$random, next_decision = x$decision,
            design = d)
}

# The method's note, as combosim-next words it.
pathwaysnote <- function(x) {
  if (isTRUE(attr(x, "exact"))) {
    paste0("exact: under ", attr(x, "method"),
           " every entry is the same under every seed")
  } else {
    paste0("under gibbs each entry is one realisation of the sampler, every ",
           "update starting afresh on ", attr(x, "random"), " as the real ",
           "cohort's would; another realisation can differ where a decision ",
           "is a close call")
  }
}

print.combosim_pathways <- function(x, ...) {
  phase2 <- attr(x, "phase") == 2L
  cat(sprintf(paste0("pathways: the design's decisions %s (%.0f posterior ",
                     "updates)\n  %s\n"),
              if (phase2) "after the next phase II cohort at each open combination"
              else sprintf("over the next %d phase I cohort%s", attr(x, "k"),
                           if (attr(x, "k") == 1L) "" else "s"),
              attr(x, "updates"), pathwaysnote(x)))
  d <- attr(x, "design")
  if (!phase2 && nrow(x) > 0L && attr(x, "k") > max(x$depth)) {
    cat(sprintf("  the pathways end at the switch to phase II, after cohort %d\n",
                d$ncohort1))
  }
  at <- combwords(d, x$drug1, x$drug2)
  # As combosim-next prints them: phase I nodes indented by depth, phase II
  # outcomes under their combination.
  lines <- if (phase2) {
    head <- ifelse(c(TRUE, at[-1L] != at[-length(at)]),
                   paste0("  next cohort at ", at, ":\n"), "")
    paste0(head, sprintf("    %d %s, %d %s: %s", x$toxicities,
                         ifelse(x$toxicities == 1L, "toxicity", "toxicities"),
                         x$responses,
                         ifelse(x$responses == 1L, "response", "responses"),
                         x$text))
  } else {
    sprintf("%scohort %d at %s, %d of %d with toxicity: %s",
            strrep("  ", x$depth), x$cohort, at, x$toxicities, x$patients,
            x$text)
  }
  cat(lines, sep = "\n")
  invisible(x)
}

# The tree: one node per decision, laid out by depth from left to right,
# each edge labelled by the toxicities (and responses in phase II) of the
# cohort that led to it. In phase II the outcomes hang under the
# combination the cohort goes to.
plot.combosim_pathways <- function(x, cex = 0.7, ...) {
  n <- nrow(x)
  phase2 <- attr(x, "phase") == 2L
  exact <- isTRUE(attr(x, "exact"))
  d <- attr(x, "design")
  old <- graphics::par(mar = c(1, 1, 4, 1))
  on.exit(graphics::par(old))
  graphics::plot.new()
  main <- sprintf("decision pathways, %s", if (phase2)
    "next phase II cohort" else sprintf("%d phase I cohort%s ahead",
                                        attr(x, "k"),
                                        if (attr(x, "k") == 1L) "" else "s"))
  note <- if (exact) paste0("exact (", attr(x, "method"), ")") else
    "one realisation of the sampler (gibbs)"
  if (n == 0L) {
    graphics::title(main = main)
    return(invisible(x))
  }
  at <- combwords(d, x$drug1, x$drug2)
  if (phase2) {
    # Depth 1: a node per combination; depth 2: its outcomes.
    groups <- unique(at)
    depth <- rep(2L, n)
    parent <- match(at, groups)
    edge <- sprintf("%d tox, %d resp", x$toxicities, x$responses)
    decision <- x$outcome
    y <- rev(seq_len(n))
    gy <- vapply(seq_along(groups), function(g) mean(y[parent == g]), 0)
    ex0 <- c(rep(0, length(groups)), rep(1, n))
    ey0 <- c(rep(mean(gy), length(groups)), gy[parent])
    ex1 <- c(rep(1, length(groups)), rep(2, n))
    ey1 <- c(gy, y)
    # The outcomes stand one to a line: each names its own.
    elabel <- rep("", length(groups) + n)
    nx <- c(rep(1, length(groups)), rep(2, n))
    ny <- c(gy, y)
    nlabel <- c(paste("next cohort at", groups), paste0(edge, ": ", decision))
    nfill <- c(rep("white", length(groups)),
               ifelse(x$stage == "ended", "grey60", "white"))
    rooty <- mean(gy)
    maxdepth <- 2
  } else {
    depth <- x$depth
    parent <- x$parent
    # Leaves in order down the page; a node sits in the middle of its leaves.
    y <- numeric(n)
    leaf <- !(x$node %in% parent)
    y[leaf] <- rev(seq_len(sum(leaf)))
    for (level in rev(sort(unique(depth)))) {
      for (i in which(depth == level & !leaf)) {
        y[i] <- mean(y[which(parent == x$node[i])])
      }
    }
    rooty <- mean(y[is.na(parent)])
    ex0 <- ifelse(is.na(parent), 0, depth - 1)
    ey0 <- ifelse(is.na(parent), rooty, y[match(parent, x$node)])
    ex1 <- depth
    ey1 <- y
    elabel <- sprintf("%d/%d tox", x$toxicities, x$patients)
    nx <- depth
    ny <- y
    # A node's decision up to its probability; at the switch, the admissible
    # list; at the end, how it ended.
    nlabel <- ifelse(x$stage == "phase1", sub(";.*$", "", x$outcome), x$outcome)
    nfill <- ifelse(x$stage == "ended", "grey60", "white")
    maxdepth <- max(depth)
  }
  if (!exact) {
    call <- if (phase2) c(rep(FALSE, length(nlabel) - n), x$close_call) else
      x$close_call
    # The words at the switch say it already.
    nlabel <- ifelse(call & !grepl("(close call)", nlabel, fixed = TRUE),
                     paste0(nlabel, " (close call)"), nlabel)
  }
  graphics::plot.window(xlim = c(-0.3, maxdepth + 1.3),
                        ylim = c(0.5, max(ny) + 0.5))
  graphics::segments(ex0, ey0, ex1, ey1, col = "grey50")
  # Edge labels near the node they lead to, where the edges fan out.
  graphics::text(ex0 + 0.7 * (ex1 - ex0), ey0 + 0.7 * (ey1 - ey0), elabel,
                 cex = cex * 0.9, pos = 3, offset = 0.15, col = "grey25")
  graphics::points(0, rooty, pch = 21, bg = "black")
  graphics::text(0, rooty, "now", pos = 2, cex = cex)
  graphics::points(nx, ny, pch = 21, bg = nfill)
  inner <- phase2 & nx == 1
  graphics::text(nx, ny, nlabel, pos = ifelse(inner, 3, 4), cex = cex)
  graphics::title(main = main)
  graphics::mtext(note, side = 3, line = 0.3, cex = cex)
  invisible(x)
}
