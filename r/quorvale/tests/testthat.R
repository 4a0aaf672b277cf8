library(testthat)
library(quorvale)

test_check("quorvale")
