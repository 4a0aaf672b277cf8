# Finding and running the two programs of a Quorvale build: quorvale, which
# fits the models, and quorvale-inp, which turns capture histories into a
# command file. The package computes nothing itself; every figure it returns
# comes from the results document quorvale writes.

# Where the Quorvale programs are: the option, the environment variable,
# then (for the converter) the folder of quorvale, then the PATH.
find_program <- function(which = c("quorvale", "quorvale-inp")) {
  which <- match.arg(which)
  if (which == "quorvale") {
    where <- list(option = getOption("quorvale.bin"), env = Sys.getenv("QUORVALE_BIN"))
    named <- "options(quorvale.bin = \"/path/to/quorvale\"), the environment variable QUORVALE_BIN or the PATH"
  } else {
    where <- list(option = getOption("quorvale.inp"), env = Sys.getenv("QUORVALE_INP"))
    named <- paste0("options(quorvale.inp = \"/path/to/quorvale-inp\"), the environment variable ",
                    "QUORVALE_INP, the folder of the quorvale program or the PATH")
  }
  given <- function(path, how) {
    if (!file.exists(path) || dir.exists(path)) {
      stop(sprintf("%s names %s, which is not a file.", how, path), call. = FALSE)
    }
    normalizePath(path)
  }
  if (!is.null(where$option) && nzchar(where$option)) {
    return(given(where$option, sprintf("options(%s)", if (which == "quorvale") "quorvale.bin" else "quorvale.inp")))
  }
  if (nzchar(where$env)) {
    return(given(where$env, if (which == "quorvale") "QUORVALE_BIN" else "QUORVALE_INP"))
  }
  if (which == "quorvale-inp") {
    # The converter is built beside the program.
    beside <- tryCatch(file.path(dirname(find_program("quorvale")), "quorvale-inp"), error = function(e) "")
    if (nzchar(beside) && file.exists(beside)) return(normalizePath(beside))
  }
  on_path <- Sys.which(which)
  if (nzchar(on_path)) return(normalizePath(on_path))
  stop(sprintf("The program %s was not found: give its place with %s.", which, named), call. = FALSE)
}

# The programs' full paths, for the user and for the tests (documented in
# man/qv_program.Rd).
qv_program <- function(which = c("quorvale", "quorvale-inp"), must = TRUE) {
  if (must) return(find_program(which))
  tryCatch(find_program(which), error = function(e) NA_character_)
}

# Runs one program in folder dir with the arguments args (each one word, no
# blanks), standard output into the file stdout of dir. Returns the lines of
# standard error; a failure is an R error holding the program's own message.
run_program <- function(which, args, dir, stdout = "stdout.txt") {
  bin <- find_program(which)
  owd <- setwd(dir)
  on.exit(setwd(owd), add = TRUE)
  status <- suppressWarnings(system2(bin, shQuote(args), stdout = stdout, stderr = "stderr.txt"))
  err <- if (file.exists("stderr.txt")) readLines("stderr.txt", warn = FALSE) else character()
  if (!identical(as.integer(status), 0L)) {
    stop(program_error(which, err, status), call. = FALSE)
  }
  err
}

# The message of a failed run: the program's lines on standard error, less
# the progress line of each fit, the closing line and a fatal message's
# first copy (the program repeats it after the file and line it concerns).
program_error <- function(which, err, status) {
  said <- trimws(err[!grepl("^ +[0-9]+ ", err) & !grepl("^STOP PELMAR", err)])
  said <- unique(said[nzchar(said)])
  placed <- sub("^[^ ]+:[0-9]+: ", "", said)
  said <- said[!(said == placed & said %in% placed[said != placed])]
  if (!length(said)) said <- sprintf("exit status %s", status)
  if (!startsWith(said[1], paste0(which, ":"))) said[1] <- paste0(which, ": ", said[1])
  paste(said, collapse = "\n")
}
