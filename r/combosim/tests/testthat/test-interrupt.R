# An interrupt (Ctrl-C) stops a run at the start of the next trial, or
# replicate.

test_that("an interrupt ends the run with an R condition and leaves no trace", {
  skip_on_os("windows")
  before <- run()
  # The interrupt arrives while the engine runs: a long run of the small
  # scenario takes well over the second it waits.
  system(sprintf("sleep 1 && kill -INT %d", Sys.getpid()), wait = FALSE)
  stopped <- tryCatch(run(ntrial = 5000), interrupt = function(e) e)
  expect_s3_class(stopped, "combosim_interrupt")
  expect_gt(stopped$trials, 0)
  expect_lt(stopped$trials, 5000)
  expect_match(conditionMessage(stopped), "^interrupted after [0-9]+ of 5000 trials")
  expect_identical(run()[1:7], before[1:7])
})

test_that("an interrupt stops combosim_next()'s replicates the same way", {
  skip_on_os("windows")
  system(sprintf("sleep 1 && kill -INT %d", Sys.getpid()), wait = FALSE)
  stopped <- tryCatch(combosim_next(trialdesign, trialcohorts[1:4, ],
                                    replicates = 5000, progress = FALSE),
                      interrupt = function(e) e)
  expect_s3_class(stopped, "combosim_interrupt")
  expect_gt(stopped$replicates, 0)
  expect_match(conditionMessage(stopped), "^interrupted after [0-9]+ of 5000 replicates")
})
