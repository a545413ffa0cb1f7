# Operating characteristics of the design on one scenario, by simulation.

combosim_oc <- function(tox, eff, target, mineff, prior1, prior2,
                        ncohort1, cohortsize1, ncohort2, cohortsize2, ntrial,
                        rules = combosim_rules(), seed = NULL,
                        progress = interactive(), posterior = "gibbs",
                        paired = FALSE) {
  runoc(tox, eff, target, mineff, prior1, prior2, ncohort1, cohortsize1,
        ncohort2, cohortsize2, ntrial, rules, seed, progress, posterior, paired)
}

# combosim_oc(); with `checkonly`, only its checks of the arguments, the
# engine's included: stops on the first problem, else returns NULL.
runoc <- function(tox, eff, target, mineff, prior1, prior2, ncohort1,
                  cohortsize1, ncohort2, cohortsize2, ntrial, rules, seed,
                  progress, posterior, paired, checkonly = FALSE) {
  checkgrid(tox, "tox")
  checkgrid(eff, "eff")
  if (!identical(dim(eff), dim(tox))) {
    fail("eff must have the shape of tox (", nrow(tox), " by ", ncol(tox),
         "), not ", nrow(eff), " by ", ncol(eff))
  }
  checknumber(target, "target")
  checknumber(mineff, "mineff")
  for (p in list(list(prior1, "prior1", nrow(tox), "drug-1", "rows"),
                 list(prior2, "prior2", ncol(tox), "drug-2", "columns"))) {
    if (!is.numeric(p[[1]]) || is.matrix(p[[1]]) || length(p[[1]]) != p[[3]]) {
      fail(p[[2]], " must be a numeric vector with one value per ", p[[4]],
           " level (the ", p[[5]], " of tox): ", p[[3]], " values")
    }
  }
  counts <- list(ncohort1 = ncohort1, cohortsize1 = cohortsize1,
                 ncohort2 = ncohort2, cohortsize2 = cohortsize2,
                 ntrial = ntrial)
  for (name in names(counts)) checkwhole(counts[[name]], name)
  if (!inherits(rules, "combosim_rules")) {
    fail("rules must come from combosim_rules()")
  }
  text <- seedtext(seed)
  if (!isTRUE(paired) && !isFALSE(paired)) fail("paired must be TRUE or FALSE")
  if (paired && is.null(seed)) {
    fail("paired = TRUE needs a seed: the paired streams are those of a seed")
  }
  post <- readposterior(posterior)
  if (!isTRUE(progress) && !isFALSE(progress)) {
    fail("progress must be TRUE or FALSE")
  }

  storage.mode(tox) <- "double"
  storage.mode(eff) <- "double"
  run <- cs_simulate(tox, eff, as.double(target), as.double(mineff),
                     as.double(prior1), as.double(prior2),
                     as.integer(unlist(counts)), unclass(rules), post, text,
                     paired, progress, checkonly)
  if (nzchar(run$problem)) stop(renameproblem(run$problem), call. = FALSE)
  if (checkonly) return(NULL)
  if (run$interrupted) {
    stop(structure(class = c("combosim_interrupt", "interrupt", "condition"),
                   list(message = sprintf(
                          "interrupted after %.0f of %.0f trials; nothing kept",
                          run$ntrial, ntrial),
                        call = NULL, trials = run$ntrial)))
  }
  if (nzchar(run$failure)) stop(run$failure, call. = FALSE)

  names <- list(drug1 = as.character(seq_len(nrow(tox))),
                drug2 = as.character(seq_len(ncol(tox))))
  named <- function(m) {
    dimnames(m) <- names
    m
  }
  scenario <- list(tox = named(tox), eff = named(eff), target = target,
                   mineff = mineff, prior1 = as.double(prior1),
                   prior2 = as.double(prior2))
  scenario <- c(scenario, lapply(counts, as.integer))
  # The method is recorded when it is not the default.
  quadrature <- if (post$method == "gibbs") list() else
    list(posterior = post, boost = cs_defaultquadrature()$boost,
         coarseupdates = run$coarseupdates)
  if (post$method != "gibbs" && run$coarseupdates > 0) {
    warning(sprintf(paste("%.0f cohorts left a posterior too narrow for the",
                          "quadrature nodes; their probabilities may be off by",
                          "more than 0.002 (more nodes: posterior = list(method =",
                          "\"quadrature\", nodes = ...))"),
                    run$coarseupdates), call. = FALSE)
  }
  # A paired run keeps each trial's counts for trial-by-trial comparisons.
  pairing <- if (paired) list(paired = TRUE, trialcounts = run$trialcounts) else
    list()
  structure(c(list(
    selection = named(run$means$selections),
    patients = named(run$means$patients),
    toxicities = named(run$means$toxicities),
    responses = named(run$means$responses),
    inconclusive = run$inconclusive,
    reasons = run$reasons,
    trials = data.frame(trial = seq_len(run$ntrial), run$trials),
    oc = run$oc,
    sums = c(lapply(run$sums, named), list(outcomes = run$outcomes)),
    scenario = scenario,
    rules = rules,
    seed = seed,
    generator = if (is.null(seed)) "fixed" else "mt19937_64",
    version = as.character(utils::packageVersion("combosim")),
    cpuseconds = run$cpuseconds
  ), pairing, quadrature), class = "combosim_oc")
}
