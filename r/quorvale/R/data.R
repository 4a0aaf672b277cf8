# Capture histories: a data frame of history strings and frequencies (the
# common ch/freq layout), or a .inp file, kept as one table with the design
# of the study. The converter quorvale-inp turns them into the command file.

# Names the program takes for a group: a letter, then up to 9 letters,
# digits or _.
group_name_ok <- function(x) grepl("^[A-Za-z][A-Za-z0-9_]{0,9}$", x)

# Words of the program's formulas and of the R formulas: no covariate may
# take one.
reserved_words <- c("1", "T", "G", "O", "P", "TREND", "TIME", "GROUP", "OCCASION")

check_secondary <- function(secondary) {
  if (!is.numeric(secondary) || length(secondary) < 2 || anyNA(secondary) ||
      any(secondary < 1) || any(secondary != round(secondary))) {
    stop("secondary must give the secondary occasions of each primary period, ",
         "two periods or more, such as c(2, 2, 4, 5, 2).", call. = FALSE)
  }
  as.integer(secondary)
}

check_covariates <- function(covariates, periods) {
  if (is.null(covariates)) return(list())
  if (!is.list(covariates) || is.null(names(covariates)) || any(!nzchar(names(covariates)))) {
    stop("covariates must be a data frame or a named list, one value per primary period.", call. = FALSE)
  }
  for (name in names(covariates)) {
    if (!grepl("^[A-Za-z][A-Za-z0-9]{0,7}$", name)) {
      stop(sprintf("Covariate name %s: a letter followed by letters or digits, 8 characters at most.", name),
           call. = FALSE)
    }
    if (toupper(name) %in% reserved_words) {
      stop(sprintf("Covariate name %s is a word of the formulas (time, group, occasion, trend, p, T, G, O).",
                   name), call. = FALSE)
    }
    v <- covariates[[name]]
    if (!is.numeric(v) || length(v) != periods || any(!is.finite(v))) {
      stop(sprintf("Covariate %s needs %d finite numbers, one per primary period.", name, periods),
           call. = FALSE)
    }
  }
  if (anyDuplicated(toupper(names(covariates)))) {
    stop("Two covariates have the same name (letter case does not tell names apart).", call. = FALSE)
  }
  lapply(as.list(covariates), as.numeric)
}

qv_data <- function(ch, freq = 1, secondary, group = NULL, covariates = NULL) {
  if (missing(secondary)) stop("secondary is missing: the occasions of each primary period.", call. = FALSE)
  secondary <- check_secondary(secondary)
  if (is.data.frame(ch)) {
    frame <- ch
    if (!"ch" %in% names(frame)) stop("The data frame has no column ch of capture histories.", call. = FALSE)
    if (missing(freq) && "freq" %in% names(frame)) freq <- frame$freq
    if (is.character(group) && length(group) == 1 && nrow(frame) != 1) {
      if (!group %in% names(frame)) stop(sprintf("The data frame has no column %s.", group), call. = FALSE)
      group <- frame[[group]]
    }
    ch <- frame$ch
  }
  if (is.numeric(ch)) {
    stop("The capture histories are numbers, which lose their leading zeros: ",
         "read them as text (read.csv(..., colClasses = c(ch = \"character\"))).", call. = FALSE)
  }
  ch <- as.character(ch)
  n <- length(ch)
  if (n == 0) stop("There are no capture histories.", call. = FALSE)
  if (length(freq) == 1) freq <- rep(freq, n)
  if (length(freq) != n) stop(sprintf("freq has %d values for %d histories.", length(freq), n), call. = FALSE)
  occasions <- sum(secondary)
  for (i in seq_len(n)) {
    h <- ch[i]
    if (is.na(h)) stop(sprintf("Row %d: the capture history is missing.", i), call. = FALSE)
    bad <- gsub("[01]", "", h)
    if (nzchar(bad)) {
      stop(sprintf("Row %d: the capture history %s holds %s, not only 0 and 1.", i, h,
                   sQuote(substr(bad, 1, 1), FALSE)), call. = FALSE)
    }
    if (nchar(h) != occasions) {
      stop(sprintf("Row %d: the capture history %s has %d occasions, the design %d (secondary %s).", i, h,
                   nchar(h), occasions, paste(secondary, collapse = ", ")), call. = FALSE)
    }
    if (!grepl("1", h, fixed = TRUE)) {
      stop(sprintf("Row %d: the capture history %s has no capture.", i, h), call. = FALSE)
    }
    f <- freq[i]
    if (!is.numeric(f) || is.na(f) || f != round(f) || f == 0) {
      stop(sprintf("Row %d: the frequency %s is not a whole number other than 0 ", i, format(f)),
           "(negative for animals not released after their last capture).", call. = FALSE)
    }
  }
  groups <- NULL
  if (!is.null(group)) {
    if (length(group) != n) stop(sprintf("group has %d values for %d histories.", length(group), n), call. = FALSE)
    if (anyNA(group)) stop(sprintf("Row %d: the group is missing.", which(is.na(group))[1]), call. = FALSE)
    group <- if (is.factor(group)) droplevels(group) else factor(group, levels = unique(as.character(group)))
    groups <- levels(group)
    bad <- groups[!group_name_ok(groups)]
    if (length(bad)) {
      stop(sprintf("Group name %s: a letter, then up to 9 letters, digits or _ (rename the groups).", bad[1]),
           call. = FALSE)
    }
    if (length(groups) > 10) stop("There are more than 10 groups.", call. = FALSE)
    group <- as.character(group)
  }
  histories <- data.frame(ch = ch, freq = as.integer(freq), stringsAsFactors = FALSE)
  if (!is.null(groups)) histories$group <- group
  structure(list(histories = histories, secondary = secondary, groups = groups,
                 covariates = check_covariates(covariates, length(secondary))),
            class = "qv_data")
}

# Records of a .inp file: comments dropped, one character vector per record
# (the history, then the frequencies).
inp_records <- function(file) {
  text <- paste(readLines(file, warn = FALSE, encoding = "UTF-8"), collapse = "\n")
  text <- sub("^\ufeff", "", text)
  text <- gsub("(?s)/\\*.*?\\*/", " ", text, perl = TRUE)
  records <- trimws(strsplit(text, ";", fixed = TRUE)[[1]])
  lapply(records[nzchar(records)], function(r) strsplit(r, "[[:space:]]+")[[1]])
}

qv_read_inp <- function(file, secondary, groups = NULL, covariates = NULL) {
  secondary <- check_secondary(secondary)
  if (!file.exists(file)) stop(sprintf("No file %s.", file), call. = FALSE)
  # The converter reads the file first: its faults reach R with its message,
  # naming the file and line.
  dir <- tempfile("quorvale-")
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE), add = TRUE)
  file.copy(file, file.path(dir, basename(file)))
  args <- c("--secondary", paste(secondary, collapse = ","))
  if (!is.null(groups)) args <- c(args, "--groups", paste(groups, collapse = ","))
  run_program("quorvale-inp", c(args, basename(file)), dir, stdout = "check.cmd")
  records <- inp_records(file)
  width <- length(records[[1]]) - 1
  if (is.null(groups) && width > 1) groups <- paste0("G", seq_len(width))
  ch <- vapply(records, `[`, "", 1)
  counts <- matrix(as.integer(unlist(lapply(records, `[`, -1))), ncol = width, byrow = TRUE)
  if (is.null(groups)) {
    return(qv_data(ch, counts[, 1], secondary, covariates = covariates))
  }
  # One row per record and group with animals of that group.
  rows <- which(counts != 0, arr.ind = TRUE)
  rows <- rows[order(rows[, 1], rows[, 2]), , drop = FALSE]
  qv_data(ch[rows[, 1]], counts[rows], secondary,
          group = factor(groups[rows[, 2]], levels = groups), covariates = covariates)
}

# The .inp file of the data: one record per history and sign of the
# frequency, with one frequency per group.
write_inp <- function(data, file) {
  h <- data$histories
  groups <- if (is.null(data$groups)) "all" else data$groups
  g <- if (is.null(data$groups)) rep("all", nrow(h)) else h$group
  key <- paste(h$ch, ifelse(h$freq < 0, "-", "+"))
  keys <- unique(key)
  counts <- matrix(0L, nrow = length(keys), ncol = length(groups))
  at <- cbind(match(key, keys), match(g, groups))
  for (i in seq_len(nrow(at))) counts[at[i, 1], at[i, 2]] <- counts[at[i, 1], at[i, 2]] + h$freq[i]
  ch <- sub(" .*", "", keys)
  lines <- paste0(ch, " ", apply(counts, 1, paste, collapse = " "), " ;")
  writeLines(c(sprintf("/* %d histories, written by the R package quorvale */", nrow(h)), lines), file)
}

print.qv_data <- function(x, ...) {
  h <- x$histories
  cat(sprintf("Capture histories: %d records, %d animals, %d primary periods of %s secondary occasions\n",
              nrow(h), sum(abs(h$freq)), length(x$secondary), paste(x$secondary, collapse = ", ")))
  if (!is.null(x$groups)) {
    cat("Groups:", paste(sprintf("%s (%d animals)", x$groups,
                                 vapply(x$groups, function(g) sum(abs(h$freq[h$group == g])), 0)),
                         collapse = ", "), "\n")
  }
  if (length(x$covariates)) cat("Covariates of the periods:", paste(names(x$covariates), collapse = ", "), "\n")
  invisible(x)
}
