# Where the programs are found, and the error that names every place.

fake_program <- function(dir, name) {
  path <- file.path(dir, name)
  writeLines("#!/bin/sh\nexit 0", path)
  Sys.chmod(path, "755")
  normalizePath(path)
}

with_places <- function(option, env, path, code, inp_option = NULL, inp_env = "") {
  old <- options(quorvale.bin = option, quorvale.inp = inp_option)
  saved <- Sys.getenv(c("QUORVALE_BIN", "QUORVALE_INP", "PATH"))
  on.exit({
    options(old)
    do.call(Sys.setenv, as.list(saved))
  })
  Sys.setenv(QUORVALE_BIN = env, QUORVALE_INP = inp_env, PATH = path)
  force(code)
}

test_that("the option comes first, then QUORVALE_BIN, then the PATH", {
  a <- tempfile("a-"); b <- tempfile("b-"); c <- tempfile("c-")
  for (d in c(a, b, c)) dir.create(d)
  qa <- fake_program(a, "quorvale")
  qb <- fake_program(b, "quorvale")
  qc <- fake_program(c, "quorvale")
  ic <- fake_program(c, "quorvale-inp")
  ib <- fake_program(b, "quorvale-inp")
  expect_identical(with_places(qa, qb, c, qv_program()), qa)
  expect_identical(with_places(NULL, qb, c, qv_program()), qb)
  expect_identical(with_places(NULL, "", c, qv_program()), qc)
  # The converter beside the program, before the PATH's.
  expect_identical(with_places(NULL, qb, c, qv_program("quorvale-inp")), ib)
  expect_identical(with_places(NULL, "", c, qv_program("quorvale-inp")), ic)
  expect_identical(with_places(NULL, qb, c, qv_program("quorvale-inp"), inp_env = ic), ic)
  expect_identical(with_places(NULL, "", c, qv_program("quorvale-inp"), inp_option = ib), ib)
})

test_that("a program not found is an error naming all three places", {
  empty <- tempfile("empty-")
  dir.create(empty)
  err <- with_places(NULL, "", empty, tryCatch(qv_program(), error = conditionMessage))
  expect_match(err, "options(quorvale.bin", fixed = TRUE)
  expect_match(err, "QUORVALE_BIN", fixed = TRUE)
  expect_match(err, "PATH", fixed = TRUE)
  expect_true(is.na(with_places(NULL, "", empty, qv_program(must = FALSE))))
  expect_error(with_places(file.path(empty, "nothing"), "", empty, qv_program()),
               "options\\(quorvale.bin\\) names .*nothing, which is not a file")
  expect_error(with_places(NULL, empty, "", qv_program()), "QUORVALE_BIN names .*, which is not a file")
  data <- qv_data("1100", secondary = c(2, 2))
  expect_error(with_places(NULL, "", empty, qv_fit(data, qv_model(gamma = qv_gamma("none")))),
               "quorvale-inp was not found")
})
