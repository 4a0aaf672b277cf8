# Planning a study: quorvale-inp --plan writes the command file of a design
# and a truth (the expected cohorts, PROC SIMULATE with COVERAGE and the
# competing models), quorvale runs the replicates, and the coverage block of
# the results document becomes one table.

# An option's values: one per period (or one for all), or for several
# groups a list with one such vector per group, written "a,b/c,d".
plan_values <- function(x, what) {
  one <- function(v) {
    if (!is.numeric(v) || !length(v) || any(!is.finite(v))) {
      stop(sprintf("%s must be numbers: one for every period or one per period.", what), call. = FALSE)
    }
    paste(number_text(v), collapse = ",")
  }
  if (is.list(x)) return(paste(vapply(x, one, ""), collapse = "/"))
  one(x)
}

qv_plan <- function(secondary, marked, phi, p, gamma2 = 0, gamma1 = 0, nsim = 100, models = NULL, threads = NULL,
                    c = NULL, superpopulation = NULL, groups = NULL, seed = NULL, dir = NULL) {
  secondary <- check_secondary(secondary)
  args <- c("--plan", "--secondary", paste(secondary, collapse = ","))
  if (is.null(groups) && is.list(phi) && !is.null(names(phi))) groups <- names(phi)
  if (!is.null(groups)) args <- c(args, "--groups", paste(groups, collapse = ","))
  if (!missing(marked) && !is.null(marked)) {
    args <- c(args, "--marked", plan_values(marked, "marked"))
  } else if (!is.null(superpopulation)) {
    args <- c(args, "--superpopulation", plan_values(superpopulation, "superpopulation"))
  } else {
    stop("Give the animals newly marked in each period (marked) or the superpopulation.", call. = FALSE)
  }
  args <- c(args, "--phi", plan_values(phi, "phi"), "--p", plan_values(p, "p"),
            "--gamma2", plan_values(gamma2, "gamma2"), "--gamma1", plan_values(gamma1, "gamma1"))
  if (!is.null(c)) args <- c(args, "--c", plan_values(c, "c"))
  if (!is.numeric(nsim) || length(nsim) != 1 || nsim < 1) stop("nsim must be one whole number.", call. = FALSE)
  args <- c(args, "--nsim", as.character(as.integer(nsim)))
  if (!is.null(seed)) args <- c(args, "--seed", as.character(as.integer(seed)))
  own <- is.list(models) || inherits(models, "qv_model")
  if (inherits(models, "qv_model")) models <- list(models)
  if (own) {
    if (!all(vapply(models, inherits, TRUE, "qv_model"))) {
      stop("models must be model numbers or a list of models made by qv_model().", call. = FALSE)
    }
    args <- c(args, "--submodels", "1")
  } else if (!is.null(models)) {
    args <- c(args, "--submodels", paste(as.integer(models), collapse = ","))
  }
  if (is.null(dir)) {
    dir <- tempfile("quorvale-")
    on.exit(unlink(dir, recursive = TRUE), add = TRUE)
  }
  dir.create(dir, showWarnings = FALSE, recursive = TRUE)
  run_program("quorvale-inp", args, dir, stdout = "plan.cmd")
  if (own) {
    # The plan's own submodels give way to the models given: the file up to
    # the first of its competing models, then these.
    lines <- readLines(file.path(dir, "plan.cmd"), warn = FALSE)
    simulate <- grep("^PROC SIMULATE", lines)[1]
    first <- simulate + grep("^PROC ESTIMATE", lines[-seq_len(simulate)])[1]
    comment <- grep("^/\\* (Competing models|Model [0-9]+:)", lines[seq_len(first - 1)])
    cut <- if (length(comment)) min(comment[comment > simulate]) else first
    names <- check_names(names(models), length(models))
    body <- unlist(lapply(seq_along(models), function(k) {
      head <- c("PROC", "ESTIMATE", if (!is.na(names[k])) strsplit(paste0("NAME=", names[k]), " ")[[1]])
      c(statement_lines(head, "", "    "),
        statement_lines(c("STRUCTURE", paste0(names(models[[k]]$parts), "(", models[[k]]$parts, ")")), " ", "   "))
    }))
    writeLines(c(lines[seq_len(cut - 1)], body, "PROC STOP;"), file.path(dir, "plan.cmd"))
  }
  words <- c("i=plan.cmd", "l=plan.lst", "json=results.json", "notrace")
  if (!is.null(threads)) words <- c(words, paste0("threads=", as.integer(threads)))
  run_program("quorvale", words, dir)
  sim <- read_results(file.path(dir, "results.json"))$simulations
  if (length(sim) != 1) stop("The results document holds no simulation.", call. = FALSE)
  coverage_rows(sim[[1]])
}

# The coverage block as one table: a row per submodel and parameter, then
# per submodel, group and period of N-hat.
coverage_rows <- function(sim) {
  labels <- vapply(sim$labels, as.character, "")
  submodels <- vapply(sim$submodels, function(s) trimws(gsub(" +", " ", s)), "")
  group_names <- unlist(sim$group_names)
  parsed <- parse_labels(labels)
  groups <- ifelse(grepl(", [A-Za-z][A-Za-z0-9_]*$", labels), sub(".*, ", "", labels), NA_character_)
  rows <- list()
  for (cv in sim$coverage) {
    model <- submodels[cv$submodel]
    for (q in cv$parameters) {
      i <- q$index
      rows[[length(rows) + 1]] <- data.frame(
        model = model, parameter = parsed$parameter[i], group = groups[i], period = parsed$period[i],
        occasion = parsed$occasion[i], generating = num(q$generating), bias = num(q$bias),
        relative_bias = num(q$relative_bias), rmse = num(q$rmse), empirical_sd = num(q$empirical_sd),
        mean_se = num(q$mean_se), median_se = num(q$median_se), coverage_wald = num(q$coverage_wald),
        coverage_logit = num(q$coverage_logit), coverage_lognormal = NA_real_, converged = num(cv$converged),
        stringsAsFactors = FALSE)
    }
    for (a in cv$abundance) {
      g <- as.integer(a$group)
      rows[[length(rows) + 1]] <- data.frame(
        model = model, parameter = "N", group = if (length(group_names)) group_names[g] else NA_character_,
        period = as.integer(a$period), occasion = NA_integer_, generating = num(a$true_n), bias = num(a$bias),
        relative_bias = num(a$relative_bias), rmse = num(a$rmse), empirical_sd = NA_real_,
        mean_se = num(a$mean_se), median_se = NA_real_, coverage_wald = NA_real_, coverage_logit = NA_real_,
        coverage_lognormal = num(a$coverage), converged = num(a$fits), stringsAsFactors = FALSE)
    }
  }
  out <- do.call(rbind, rows)
  rownames(out) <- NULL
  drop_groups(out)
}
