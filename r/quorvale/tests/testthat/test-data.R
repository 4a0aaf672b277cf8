# Capture histories in, as a data frame or a .inp file: faults name the
# row (or, from the converter, the file and line), and what the package
# writes for the converter holds the same animals as what it was given.

test_that("faults of a history name its row", {
  ok <- c("1100", "0110")
  expect_error(qv_data(c(ok, "110"), secondary = c(2, 2)), "Row 3: the capture history 110 has 3 occasions, the design 4")
  expect_error(qv_data(c("11x0", ok), secondary = c(2, 2)), "Row 1: the capture history 11x0 holds 'x'")
  expect_error(qv_data(c(ok, "1.00"), secondary = c(2, 2)), "Row 3: .*holds '\\.'")
  expect_error(qv_data(c(ok, "0000"), secondary = c(2, 2)), "Row 3: the capture history 0000 has no capture")
  expect_error(qv_data(c(ok, NA), secondary = c(2, 2)), "Row 3: the capture history is missing")
  expect_error(qv_data(ok, freq = c(2, 0), secondary = c(2, 2)), "Row 2: the frequency 0")
  expect_error(qv_data(ok, freq = c(2, 1.5), secondary = c(2, 2)), "Row 2: the frequency 1.5")
  expect_error(qv_data(data.frame(ch = c(1100, 110)), secondary = c(2, 2)), "leading zeros")
  expect_error(qv_data(ok, secondary = 4), "two periods or more")
  expect_error(qv_data(ok, group = c("F", "1M"), secondary = c(2, 2)), "Group name 1M")
  expect_error(qv_data(ok, secondary = c(2, 2), covariates = list(rain = 1)), "rain needs 2 finite numbers")
  expect_error(qv_data(ok, secondary = c(2, 2), covariates = list(trend = 1:2)), "word of the formulas")
  expect_error(qv_data(ok, secondary = c(2, 2), covariates = list(rainfall1 = 1:2)), "8 characters at most")
})

test_that("the ch/freq layout: frequencies and groups from the columns", {
  frame <- data.frame(ch = c("1100", "0110", "1100"), freq = c(3, -1, 2), sex = c("M", "F", "F"))
  d <- qv_data(frame, secondary = c(2, 2), group = "sex")
  expect_identical(d$histories$freq, c(3L, -1L, 2L))
  expect_identical(d$groups, c("M", "F"))
  expect_identical(qv_data(frame, secondary = c(2, 2))$groups, NULL)
  expect_identical(qv_data(frame$ch, secondary = c(2, 2))$histories$freq, c(1L, 1L, 1L))
  f <- qv_data(frame, secondary = c(2, 2), group = factor(frame$sex, levels = c("F", "M")))
  expect_identical(f$groups, c("F", "M"))
})

test_that("a .inp file written for the converter and read back holds the same animals", {
  need_programs()
  frame <- data.frame(ch = c("1100", "0110", "1100", "0011", "1100", "0110"),
                      freq = c(3, -1, 2, 5, -2, 4), sex = c("M", "F", "F", "M", "M", "M"))
  d <- qv_data(frame, secondary = c(2, 2), group = "sex")
  file <- tempfile(fileext = ".inp")
  quorvale:::write_inp(d, file)
  back <- qv_read_inp(file, secondary = c(2, 2), groups = d$groups)
  total <- function(h) {
    key <- paste(h$ch, h$group, sign(h$freq))
    tapply(h$freq, key, sum)
  }
  expect_identical(back$groups, d$groups)
  expect_identical(total(back$histories), total(d$histories))
  # Released and not released stay apart: 1100 in M is 3 released and 2 lost.
  m1100 <- back$histories[back$histories$ch == "1100" & back$histories$group == "M", "freq"]
  expect_identical(sort(m1100), c(-2L, 3L))
})

test_that("the bundled data frame is the bundled .inp file, and the .inp files are the source tree's", {
  need_programs()
  d <- qv_read_inp(extdata("robust-example.inp"), secondary = bundled_secondary)
  expect_identical(d$histories, robust_example)
  expect_identical(nrow(robust_example), 668L)
  expect_identical(sum(robust_example$freq), 991L)
  g <- qv_read_inp(extdata("robust-example-sexes.inp"), secondary = bundled_secondary, groups = c("F", "M"))
  expect_identical(g$groups, c("F", "M"))
  # The sexes are the same animals split in two.
  expect_identical(sum(abs(g$histories$freq)), sum(abs(robust_example$freq)))
  src <- need_source()
  for (f in c("robust-example.inp", "robust-example-sexes.inp")) {
    expect_identical(readLines(extdata(f)), readLines(file.path(src, "examples", f)))
  }
})

test_that("a bad history of a .inp file reaches R with the converter's message", {
  need_programs()
  file <- file.path(tempdir(), "bad.inp")
  writeLines(c("/* two periods */", "1100 3 ;", "01a0 1 ;"), file)
  expect_error(qv_read_inp(file, secondary = c(2, 2)), "quorvale-inp: bad.inp:3: .*01a0")
  writeLines(c("1100 3 ;", "011 1 ;"), file)
  expect_error(qv_read_inp(file, secondary = c(2, 2)), "quorvale-inp: bad.inp:2:")
  # A design beyond the program's limits, from a data frame: the converter's message.
  d <- qv_data(c("111111100", "000000011"), secondary = c(7, 2))
  expect_error(qv_fit(d, qv_model(gamma = qv_gamma("none"))),
               "quorvale-inp: --secondary: period 1 has 7 secondary occasions; at most 6")
})
