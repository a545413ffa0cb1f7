#!/usr/bin/env Rscript
# Reference values of the quadrature posterior's probabilities on random data
# sets, by adaptive integration in the parameters' own scale (base R's
# integrate, a different route from the program's Gauss rules in the
# logarithms):
#   toxicity: gamma outer, beta middle, alpha inner; pr(toxicity < target)
#     integrates alpha from a*(beta, gamma) to its upper bound, with beta split
#     where a* crosses alpha's bounds;
#   efficacy: b outer, a inner, each split at 1 and 10; pr(response > mineff)
#     by pbeta.
# Writes the data sets and the values, one block per set, to the file named
# by the first argument (default bench/quadrature_reference.txt); the C++
# program quadrature_accuracy (bench/quadrature_accuracy.cc) compares the
# program's values with them. The first three sets have 0, 3 and 100
# patients; the others a random number from 0 to 100.
#
#   Rscript bench/quadrature_reference.R [OUT] [NSETS] [SEED]
args <- commandArgs(trailingOnly = TRUE)
out <- if (length(args) >= 1) args[1] else "bench/quadrature_reference.txt"
nsets <- if (length(args) >= 2) as.integer(args[2]) else 50
seed <- if (length(args) >= 3) as.integer(args[3]) else 20261208
set.seed(seed)
tol <- 1e-6

lo <- c(0.1, 0.1, 0.1); hi <- c(4, 4, 8)
logprior <- function(k, x) if (k == 3) -0.9 * log(x) - 0.1 * x else -0.5 * log(x) - 0.5 * x
probtox <- function(p, q, al, be, ga) {
  A <- (1 - p^al)^(-ga); B <- (1 - q^be)^(-ga)
  1 - (A + B - 1)^(-1 / ga)
}
astar <- function(p, q, be, ga, t) {
  B <- (1 - q^be)^(-ga)
  R <- (1 - t)^(-ga) + 1 - B
  ifelse(R <= 1, Inf, log(1 - R^(-1 / ga)) / log(p))
}
integ <- function(f, a, b) {
  if (b <= a) return(0)
  integrate(f, a, b, rel.tol = tol, abs.tol = 0, subdivisions = 2000L, stop.on.error = FALSE)$value
}

# Log posterior of (alpha, beta, gamma), alpha a vector, less `shift`.
toxlogpost <- function(al, be, ga, d, shift) {
  v <- logprior(1, al) + logprior(2, be) + logprior(3, ga) - shift
  tc <- d$treated
  if (length(tc$n) == 0) return(v)
  A <- (1 - t(outer(tc$p, al, "^")))^(-ga)
  B <- (1 - tc$q^be)^(-ga)
  pi <- 1 - (sweep(A, 2, B, "+") - 1)^(-1 / ga)
  pi <- pmin(pmax(pi, 1e-300), 1 - 1e-16)
  v + as.vector(log(pi) %*% tc$y + log(1 - pi) %*% (tc$n - tc$y))
}

toxref <- function(d, combos) {
  # The mode, to scale the integrand.
  f <- function(x) -toxlogpost(x[1], x[2], x[3], d, 0)
  g <- expand.grid(al = exp(seq(log(lo[1]), log(hi[1]), length.out = 15)),
                   be = exp(seq(log(lo[2]), log(hi[2]), length.out = 15)),
                   ga = exp(seq(log(lo[3]), log(hi[3]), length.out = 15)))
  gv <- mapply(function(a, b, c) toxlogpost(a, b, c, d, 0), g$al, g$be, g$ga)
  start <- as.numeric(g[which.max(gv), ])
  best <- optim(start, f, method = "L-BFGS-B", lower = lo, upper = hi)
  shift <- max(-best$value, max(gv)) + 1
  # inner(be, ga, g, alo): integral over alpha in [alo, 4] of post * g(alpha)
  inner <- function(be, ga, g, alo) integ(function(al) exp(toxlogpost(al, be, ga, d, shift)) * g(al, be, ga), alo, hi[1])
  zfun <- function(g) {
    integ(Vectorize(function(ga) integ(Vectorize(function(be) inner(be, ga, g, lo[1])), lo[2], hi[2])), lo[3], hi[3])
  }
  one <- function(al, be, ga) rep(1, length(al))
  Z <- zfun(one)
  res <- NULL
  for (c in seq_len(nrow(combos))) {
    p <- d$prior1[combos[c, 1] + 1]; q <- d$prior2[combos[c, 2] + 1]
    mt <- zfun(function(al, be, ga) probtox(p, q, al, be, ga)) / Z
    # prsafe: beta split where a* crosses alpha's bounds.
    safe <- integ(Vectorize(function(ga) {
      cross <- function(level) {
        h <- function(be) astar(p, q, be, ga, d$target) - level
        if (h(lo[2]) <= 0) return(lo[2])
        if (h(hi[2]) > 0) return(hi[2])
        uniroot(h, c(lo[2], hi[2]), tol = 1e-14)$root
      }
      b1 <- cross(hi[1]); b2 <- cross(lo[1])
      mid <- integ(Vectorize(function(be) inner(be, ga, one, max(lo[1], min(hi[1], astar(p, q, be, ga, d$target))))), b1, b2)
      top <- integ(Vectorize(function(be) inner(be, ga, one, lo[1])), b2, hi[2])
      mid + top
    }), lo[3], hi[3]) / Z
    res <- rbind(res, c(combos[c, 1], combos[c, 2], mt, safe))
  }
  res
}

efflogprior <- function(x) -0.99 * log(x) - 0.01 * x
effref <- function(d, entries) {
  nr <- d$adm  # columns n, r
  lp <- function(a, b, shift) {
    v <- efflogprior(a) + efflogprior(b) - shift
    for (j in seq_len(nrow(nr))) v <- v + lbeta(a + nr[j, 4], b + nr[j, 3] - nr[j, 4]) - lbeta(a, b)
    v
  }
  best <- optim(c(1, 1), function(x) -lp(x[1], x[2], 0), method = "L-BFGS-B", lower = c(0.1, 0.1), upper = c(100, 100))
  shift <- -best$value
  cuts <- c(0.1, 1, 10, 100)
  split <- function(f) sum(sapply(1:3, function(i) integ(f, cuts[i], cuts[i + 1])))
  zf <- function(g) split(Vectorize(function(b) split(function(a) exp(lp(a, b, shift)) * g(a, b))))
  Z <- zf(function(a, b) rep(1, length(a)))
  res <- NULL
  for (j in entries) {
    n <- nr[j, 3]; r <- nr[j, 4]
    me <- zf(function(a, b) (a + r) / (a + b + n)) / Z
    pe <- zf(function(a, b) pbeta(d$mineff, a + r, b + n - r, lower.tail = FALSE)) / Z
    res <- rbind(res, c(j - 1, me, pe))
  }
  res
}

con <- file(out, "w")
cat("# quadrature reference values: made by bench/quadrature_reference.R, seed", seed, "\n", file = con)
for (set in seq_len(nsets)) {
  J <- sample(1:10, 1); K <- sample(1:10, 1)
  d <- list()
  d$target <- sample(c(0.2, 0.25, 0.3, 0.33), 1)
  d$mineff <- sample(c(0.1, 0.15, 0.2, 0.3), 1)
  d$prior1 <- sort(runif(J, 0.02, 0.6)); d$prior2 <- sort(runif(K, 0.02, 0.6))
  npatients <- if (set <= 3) c(0, 3, 100)[set] else sample(0:100, 1)
  # Patients in cohorts of 1 to 3 on random combinations, toxicities and
  # responses from random truths.
  truetox <- matrix(runif(J * K, 0.02, 0.6), J, K); trueeff <- matrix(runif(J * K, 0.05, 0.7), J, K)
  npat <- matrix(0, J, K); ntox <- npat; nresp <- npat
  left <- npatients
  while (left > 0) {
    m <- min(left, sample(1:3, 1)); i <- sample(1:J, 1); k <- sample(1:K, 1)
    npat[i, k] <- npat[i, k] + m
    ntox[i, k] <- ntox[i, k] + rbinom(1, m, truetox[i, k])
    nresp[i, k] <- nresp[i, k] + rbinom(1, m, trueeff[i, k])
    left <- left - m
  }
  cells <- NULL
  for (i in 1:J) for (k in 1:K) if (npat[i, k] > 0) cells <- rbind(cells, c(i - 1, k - 1, npat[i, k], ntox[i, k], nresp[i, k]))
  if (is.null(cells)) cells <- matrix(0, 0, 5)
  d$cells <- cells
  d$treated <- list(p = d$prior1[cells[, 1] + 1], q = d$prior2[cells[, 2] + 1],
                    n = cells[, 3], y = cells[, 4])
  # Admissible list: up to 6 combinations, treated ones first.
  all <- expand.grid(d2 = 0:(K - 1), d1 = 0:(J - 1))[, c(2, 1)]
  pick <- sample(seq_len(nrow(all)), min(nrow(all), sample(1:6, 1)))
  adm <- as.matrix(all[sort(pick), ])
  adm <- cbind(adm, npat[adm + 1], nresp[adm + 1])
  d$adm <- adm
  combos <- unique(rbind(adm[, 1:2, drop = FALSE], as.matrix(all[sample(seq_len(nrow(all)), min(2, nrow(all))), ])))
  combos <- combos[seq_len(min(3, nrow(combos))), , drop = FALSE]
  tr <- toxref(d, combos)
  er <- effref(d, seq_len(min(3, nrow(adm))))
  cat(sprintf("set %d %d %d %.17g %.17g\n", set, J, K, d$target, d$mineff), file = con)
  cat("prior1", sprintf("%.17g", d$prior1), "\n", file = con)
  cat("prior2", sprintf("%.17g", d$prior2), "\n", file = con)
  cat("cells", nrow(cells), "\n", file = con)
  for (c in seq_len(nrow(cells))) cat(cells[c, ], "\n", file = con)
  cat("adm", nrow(adm), "\n", file = con)
  for (j in seq_len(nrow(adm))) cat(adm[j, 1:2], "\n", file = con)
  cat("tox", nrow(tr), "\n", file = con)
  for (c in seq_len(nrow(tr))) cat(sprintf("%d %d %.12f %.12f", tr[c, 1], tr[c, 2], tr[c, 3], tr[c, 4]), "\n", file = con)
  cat("eff", nrow(er), "\n", file = con)
  for (j in seq_len(nrow(er))) cat(sprintf("%d %.12f %.12f", er[j, 1], er[j, 2], er[j, 3]), "\n", file = con)
  flush(con)
  message("set ", set, " done: ", J, "x", K, ", ", npatients, " patients")
}
close(con)
