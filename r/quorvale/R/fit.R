# Fitting: the converter writes the command file of the data, the package
# adds the models as PROC ESTIMATE blocks with their STRUCTURE and a PROC
# TEST AVERAGE over all of them, quorvale runs it with json=, and every
# figure of the returned objects is read from that document.

# Lines of one statement within the 80 columns the program reads: words
# joined by blanks, continuation lines indented; a word longer than a line
# goes on in column 1, which the program reads as the same word.
statement_lines <- function(words, first = "", indent = " ") {
  words[length(words)] <- paste0(words[length(words)], ";")
  lines <- character()
  line <- paste0(first, words[1])
  for (w in words[-1]) {
    if (nchar(line) + 1 + nchar(w) <= 80) {
      line <- paste0(line, " ", w)
    } else {
      lines <- c(lines, line)
      line <- paste0(indent, w)
    }
  }
  lines <- c(lines, line)
  out <- character()
  for (l in lines) {
    while (nchar(l) > 80) {
      out <- c(out, substr(l, 1, 80))
      l <- substr(l, 81, nchar(l))
    }
    out <- c(out, l)
  }
  out
}

# Numbers as the program reads them: at most 10 characters each, with as
# many significant digits as fit. A value those cannot hold exactly is
# written rounded, with a warning.
number_text <- function(x) {
  vapply(x, function(v) {
    for (digits in 15:1) {
      text <- sprintf("%.*g", digits, v)
      if (nchar(text) <= 10) break
    }
    if (as.numeric(text) != v) {
      warning(sprintf("%s is written as %s: the program reads numbers of 10 characters.", format(v, digits = 15),
                      text), call. = FALSE)
    }
    text
  }, "")
}

check_names <- function(names, n) {
  if (is.null(names)) return(rep(NA_character_, n))
  names <- as.character(names)
  names[!nzchar(names)] <- NA_character_
  for (name in names[!is.na(names)]) {
    if (!grepl("^[A-Za-z0-9_.()+*,-]+( [A-Za-z0-9_.()+*,-]+)?$", name) || nchar(name) > 40) {
      stop(sprintf("Model name %s: one or two words of letters, digits and _ . ( ) + * , -, ", name),
           "40 characters at most.", call. = FALSE)
    }
  }
  if (anyDuplicated(names[!is.na(names)])) {
    stop(sprintf("Two models are named %s.", names[!is.na(names)][anyDuplicated(names[!is.na(names)])]),
         call. = FALSE)
  }
  names
}

# The command file: the converter's, with the covariates of the periods after
# PROC MODEL, the models and the comparison in place of its PROC STOP.
command_lines <- function(converted, data, models, names, derived, chat) {
  stops <- which(trimws(converted) == "PROC STOP;")
  lines <- converted[seq_len(if (length(stops)) stops[length(stops)] - 1 else length(converted))]
  if (length(data$covariates)) {
    at <- which(trimws(lines) == "LABELS;")[1]
    covariates <- unlist(lapply(names(data$covariates), function(name) {
      statement_lines(c("COVARIATE", toupper(name), "=", number_text(data$covariates[[name]])), " ", "   ")
    }))
    lines <- append(lines, covariates, after = at - 1)
  }
  for (k in seq_along(models)) {
    head <- c("PROC", "ESTIMATE", if (derived) "DERIVED",
              if (!is.na(names[k])) strsplit(paste0("NAME=", names[k]), " ")[[1]])
    lines <- c(lines, statement_lines(head, "", "    "),
               statement_lines(c("STRUCTURE", paste0(names(models[[k]]$parts), "(", models[[k]]$parts, ")")),
                               " ", "   "))
  }
  # PROC TEST compares two fits or more.
  test <- c("PROC", "TEST", "AVERAGE", if (!is.null(chat)) c("C", "=", number_text(chat)))
  c(lines, if (length(models) > 1) statement_lines(test), "PROC STOP;")
}

read_results <- function(path) jsonlite::fromJSON(path, simplifyVector = FALSE)

# Fits the models to the data in one run of the program. dir keeps the
# run's files (command file, listing, results document) when given.
run_models <- function(data, models, names = NULL, derived = TRUE, chat = NULL, dir = NULL) {
  if (!inherits(data, "qv_data")) stop("data must be made by qv_data() or qv_read_inp().", call. = FALSE)
  if (inherits(models, "qv_model")) models <- list(models)
  if (!length(models) || !all(vapply(models, inherits, TRUE, "qv_model"))) {
    stop("models must be a list of models made by qv_model().", call. = FALSE)
  }
  names <- check_names(names, length(models))
  if (!is.null(chat) && (!is.numeric(chat) || length(chat) != 1 || !is.finite(chat) || chat <= 0)) {
    stop("chat must be one positive number.", call. = FALSE)
  }
  if (is.null(dir)) {
    dir <- tempfile("quorvale-")
    on.exit(unlink(dir, recursive = TRUE), add = TRUE)
  }
  dir.create(dir, showWarnings = FALSE, recursive = TRUE)
  write_inp(data, file.path(dir, "histories.inp"))
  args <- c("--secondary", paste(data$secondary, collapse = ","))
  if (!is.null(data$groups)) args <- c(args, "--groups", paste(data$groups, collapse = ","))
  run_program("quorvale-inp", c(args, "histories.inp"), dir, stdout = "converted.cmd")
  converted <- readLines(file.path(dir, "converted.cmd"), warn = FALSE)
  command <- command_lines(converted, data, models, names, derived, chat)
  writeLines(command, file.path(dir, "analysis.cmd"))
  run_program("quorvale", c("i=analysis.cmd", "l=analysis.lst", "json=results.json", "notrace"), dir)
  results <- read_results(file.path(dir, "results.json"))
  fits <- results$fits
  if (length(fits) != length(models) || length(results$tests) != (length(models) > 1)) {
    stop("The results document does not hold one fit per model and one comparison.", call. = FALSE)
  }
  fit_names <- vapply(fits, function(f) f$name, "")
  if (anyDuplicated(fit_names)) {
    stop(sprintf("Two fits are named %s: give the models names.", fit_names[anyDuplicated(fit_names)]),
         call. = FALSE)
  }
  run <- list(id = basename(tempfile("run")), chat = chat, derived = derived,
              test = if (length(models) > 1) results$tests[[1]],
              groups = unlist(results$data$groups), command = command, version = results$version)
  out <- lapply(seq_along(models), function(k) {
    f <- fits[[k]]
    if (length(f$warnings)) {
      warning(sprintf("Fit %s: %s", f$name, paste(unlist(f$warnings), collapse = " ")), call. = FALSE)
    }
    structure(list(name = f$name, given_name = names[k], model = models[[k]], structure = qv_structure(models[[k]]),
                   data = data, json = f, run = run, order = k), class = "qv_fit")
  })
  names(out) <- fit_names
  structure(out, class = c("qv_fits", "list"))
}

qv_fit <- function(data, model = qv_model(), name = NULL, derived = TRUE, dir = NULL) {
  run_models(data, list(model), name, derived, dir = dir)[[1]]
}

qv_fit_all <- function(data, models, derived = TRUE, chat = NULL, dir = NULL) {
  if (inherits(models, "qv_model")) models <- list(models)
  run_models(data, models, names(models), derived, chat, dir)
}

`[.qv_fits` <- function(x, i) structure(unclass(x)[i], class = c("qv_fits", "list"))

print.qv_fits <- function(x, ...) {
  cat(sprintf("%d Quorvale fits (model_table() ranks them):\n", length(x)))
  print(data.frame(model = vapply(x, `[[`, "", "name"), structure = vapply(x, `[[`, "", "structure"),
                   K = vapply(x, function(f) as.integer(f$json$k), 0L),
                   lnL = vapply(x, function(f) num(f$json$lnl), 0),
                   AICc = vapply(x, function(f) num(f$json$aicc), 0)), row.names = FALSE)
  invisible(x)
}

# The fits as a plain list, from one fit, a qv_fits or a list of fits.
fit_list <- function(fits) {
  if (inherits(fits, "qv_fit")) return(list(fits))
  fits <- unclass(fits)
  if (!length(fits) || !all(vapply(fits, inherits, TRUE, "qv_fit"))) {
    stop("fits must be fits made by qv_fit() or qv_fit_all().", call. = FALSE)
  }
  fits
}

# The program's comparison of the fits: that of their run when they are all
# the fits of one run with that c-hat, else that of a new run of all of
# them together, so that the criteria, weights and averages are always the
# program's over exactly these fits.
comparison <- function(fits, chat = NULL) {
  fits <- fit_list(fits)
  if (length(fits) < 2) stop("A comparison needs two fits or more.", call. = FALSE)
  run <- fits[[1]]$run
  whole <- all(vapply(fits, function(f) identical(f$run$id, run$id), TRUE)) &&
    identical(sort(unname(vapply(fits, `[[`, 0L, "order"))), seq_along(run$test$models))
  if (whole && identical(chat, run$chat)) {
    return(list(test = run$test, fits = fits[order(vapply(fits, `[[`, 0L, "order"))]))
  }
  data <- fits[[1]]$data
  if (!all(vapply(fits, function(f) identical(f$data, data), TRUE))) {
    stop("The fits are of different data: a comparison needs fits of the same capture histories.", call. = FALSE)
  }
  # The fits' own warnings were given when they were made.
  again <- suppressWarnings(run_models(data, lapply(fits, `[[`, "model"), vapply(fits, `[[`, "", "given_name"),
                                       run$derived, chat))
  list(test = again[[1]]$run$test, fits = unclass(again))
}
