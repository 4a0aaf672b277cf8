# Where the tests find the programs and the bundled data. Within the
# build's own test run (QUORVALE_SOURCE_DIR set) a missing program is a
# failure; elsewhere (R CMD check without a build) the tests that need it
# are skipped.

in_build <- function() nzchar(Sys.getenv("QUORVALE_SOURCE_DIR"))

need <- function(ok, why) {
  if (ok) return(invisible(TRUE))
  if (in_build()) stop(why, ": the build's test run needs it")
  testthat::skip(why)
}

need_programs <- function() {
  need(!is.na(qv_program("quorvale", must = FALSE)) && !is.na(qv_program("quorvale-inp", must = FALSE)),
       "quorvale or quorvale-inp not found (QUORVALE_BIN)")
}

need_source <- function() {
  need(in_build(), "not run from the source tree (QUORVALE_SOURCE_DIR)")
  Sys.getenv("QUORVALE_SOURCE_DIR")
}

extdata <- function(name) system.file("extdata", name, package = "quorvale", mustWork = TRUE)

bundled_secondary <- c(2, 2, 4, 5, 2)

# Runs a program of the build directly (not through the package) in dir,
# with standard output into out; fails the test on a non-zero status.
run_direct <- function(which, args, dir, out) {
  bin <- qv_program(which)
  owd <- setwd(dir)
  on.exit(setwd(owd))
  status <- system2(bin, shQuote(args), stdout = out, stderr = "direct.err")
  if (status != 0) stop(which, " failed: ", paste(readLines("direct.err"), collapse = "\n"))
  invisible(file.path(dir, out))
}
