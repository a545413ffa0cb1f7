library(testthat)
library(combosim)

test_check("combosim")
