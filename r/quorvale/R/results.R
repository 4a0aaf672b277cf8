# The fits as R objects: every value is read from the program's results
# document (a fit's entry under fits[], its run's comparison under tests[]).

num <- function(x) if (is.null(x)) NA_real_ else as.numeric(x)
nums <- function(xs) vapply(xs, num, 0)
pair <- function(x, k) if (is.null(x) || length(x) < k || is.null(x[[k]])) NA_real_ else as.numeric(x[[k]])
chr <- function(x) if (is.null(x)) NA_character_ else as.character(x)

# Parameter, period and occasion from the labels the converter writes:
# "p(3,2) capture", "phi(1) survival, F", "gamma''(4) leave".
parse_labels <- function(labels) {
  m <- regmatches(labels, regexec("^(p|c|phi|gamma''|gamma'|theta)\\(([0-9]+)(,([0-9]+))?\\)", labels))
  part <- function(k) vapply(m, function(x) if (length(x) >= k) x[k] else NA_character_, "")
  occasion <- part(5)
  occasion[!is.na(occasion) & !nzchar(occasion)] <- NA
  data.frame(parameter = part(2), period = as.integer(part(3)), occasion = as.integer(occasion),
             stringsAsFactors = FALSE)
}

# The short name of a parameter: its label's name and indices, and its group.
short_names <- function(labels, groups) {
  s <- sub("^((p|c|phi|gamma''|gamma'|theta)\\([0-9,]+\\)).*$", "\\1", labels)
  ifelse(is.na(groups), s, paste0(s, "[", groups, "]"))
}

# A model without groups has no group column.
drop_groups <- function(frame) {
  if (!is.null(frame) && "group" %in% names(frame) && all(is.na(frame$group))) frame$group <- NULL
  frame
}

check_fit <- function(fit) {
  if (!inherits(fit, "qv_fit")) stop("fit must be a fit made by qv_fit() or qv_fit_all().", call. = FALSE)
}

# Rows of parameters (a fit's, or the averaged ones) as a data frame.
parameter_rows <- function(ps, ci = "logit_ci") {
  labels <- vapply(ps, function(q) q$label, "")
  out <- parse_labels(labels)
  out$group <- vapply(ps, function(q) chr(q$group), "")
  out$estimate <- nums(lapply(ps, `[[`, "estimate"))
  out$se <- nums(lapply(ps, `[[`, "se"))
  out$lcl <- vapply(ps, function(q) pair(q[[ci]], 1), 0)
  out$ucl <- vapply(ps, function(q) pair(q[[ci]], 2), 0)
  out$index <- vapply(ps, function(q) as.integer(q$index), 0L)
  out$label <- labels
  out[, c("parameter", "group", "period", "occasion", "estimate", "se", "lcl", "ucl", "index", "label")]
}

abundance_rows <- function(rows, total = NULL) {
  one <- function(a, group) {
    data.frame(group = group, period = as.integer(a$period), caught = num(a$caught), p_star = num(a$p_star),
               p_star_se = num(a$p_star_se), estimate = num(a$estimate), se = num(a$se),
               lcl = pair(a$ci, 1), ucl = pair(a$ci, 2), unavailable = chr(a$unavailable),
               stringsAsFactors = FALSE)
  }
  out <- do.call(rbind, c(lapply(rows, function(a) one(a, chr(a$group))),
                          lapply(total, function(a) one(a, "all groups"))))
  if (is.null(out)) return(NULL)
  rownames(out) <- NULL
  out
}

estimates <- function(fit) {
  if (inherits(fit, "qv_fits") || (is.list(fit) && !inherits(fit, "qv_fit"))) {
    fits <- fit_list(fit)
    out <- do.call(rbind, lapply(fits, function(f) cbind(model = f$name, estimates(f), stringsAsFactors = FALSE)))
    rownames(out) <- NULL
    return(out)
  }
  check_fit(fit)
  out <- parameter_rows(fit$json$parameters)
  out$fixed <- vapply(fit$json$parameters, function(q) isTRUE(q$fixed), TRUE)
  drop_groups(out)
}

derived <- function(fit) {
  if (inherits(fit, "qv_fits") || (is.list(fit) && !inherits(fit, "qv_fit"))) {
    fits <- fit_list(fit)
    out <- do.call(rbind, lapply(fits, function(f) cbind(model = f$name, derived(f), stringsAsFactors = FALSE)))
    rownames(out) <- NULL
    return(out)
  }
  check_fit(fit)
  d <- fit$json$derived
  drop_groups(abundance_rows(d$abundance, d$total_abundance))
}

# Whether the fit's results hold coefficients on the logit scale.
has_betas <- function(fit) length(fit$json$betas) > 0

# The estimated slots: the value and name of each one's lowest parameter.
slots <- function(fit) {
  ps <- fit$json$parameters
  slot <- vapply(ps, function(q) as.integer(q$slot), 0L)
  first <- match(seq_len(max(c(0L, slot))), slot)
  first <- first[!is.na(first)]
  list(index = first, estimate = nums(lapply(ps[first], `[[`, "estimate")),
       se = nums(lapply(ps[first], `[[`, "se")),
       name = short_names(vapply(ps[first], function(q) q$label, ""),
                          vapply(ps[first], function(q) chr(q$group), "")))
}

coef.qv_fit <- function(object, ...) {
  if (has_betas(object)) {
    b <- object$json$betas
    return(stats::setNames(nums(lapply(b, `[[`, "estimate")), vapply(b, function(x) x$name, "")))
  }
  s <- slots(object)
  stats::setNames(s$estimate, s$name)
}

# A matrix given as a list of rows, or as a packed lower triangle.
as_matrix <- function(x, n) {
  if (is.null(x)) return(matrix(NA_real_, n, n))
  if (is.list(x) && length(x) && is.list(x[[1]])) {
    return(do.call(rbind, lapply(x, nums)))
  }
  v <- nums(x)
  if (length(v) != n * (n + 1) / 2) stop("The results document holds a covariance of another order.", call. = FALSE)
  m <- matrix(0, n, n)
  m[upper.tri(m, diag = TRUE)] <- v
  m[lower.tri(m)] <- t(m)[lower.tri(m)]
  m
}

vcov.qv_fit <- function(object, ...) {
  est <- coef(object)
  n <- length(est)
  if (has_betas(object)) {
    if (is.null(object$json$beta_covariance) && !"beta_covariance" %in% names(object$json)) {
      stop("The results document holds no covariance of the coefficients.", call. = FALSE)
    }
    m <- as_matrix(object$json$beta_covariance, n)
  } else {
    m <- as_matrix(object$json$covariance, n)
  }
  if (!identical(dim(m), c(n, n))) {
    stop(sprintf("The results document holds a covariance of order %d for %d estimates.", nrow(m), n),
         call. = FALSE)
  }
  dimnames(m) <- list(names(est), names(est))
  m
}

logLik.qv_fit <- function(object, ...) {
  structure(num(object$json$lnl), df = as.integer(object$json$k), nobs = num(object$json$n), class = "logLik")
}

AIC.qv_fit <- function(object, ..., k = 2) {
  if (k != 2) return(NextMethod())
  objects <- c(list(object), list(...))
  lapply(objects, check_fit)
  aic <- vapply(objects, function(o) num(o$json$aic), 0)
  if (length(objects) == 1) return(aic)
  shown <- as.character(match.call(expand.dots = TRUE))[-1]
  data.frame(df = vapply(objects, function(o) as.integer(o$json$k), 0L), AIC = aic,
             row.names = make.unique(shown[seq_along(objects)]))
}

# A fit's own table: the estimated slots (or coefficients) with their
# standard errors and intervals.
fit_table <- function(fit) {
  if (has_betas(fit)) {
    b <- fit$json$betas
    return(data.frame(coefficient = vapply(b, function(x) x$name, ""), estimate = nums(lapply(b, `[[`, "estimate")),
                      se = nums(lapply(b, `[[`, "se")), lcl = vapply(b, function(x) pair(x$ci, 1), 0),
                      ucl = vapply(b, function(x) pair(x$ci, 2), 0), stringsAsFactors = FALSE))
  }
  s <- slots(fit)
  e <- estimates(fit)[s$index, ]
  data.frame(parameter = s$name, estimate = e$estimate, se = e$se, lcl = e$lcl, ucl = e$ucl,
             stringsAsFactors = FALSE)
}

print.qv_fit <- function(x, digits = 4, ...) {
  j <- x$json
  cat("Quorvale fit", x$name, "\n")
  cat("STRUCTURE", x$structure, "\n")
  cat(sprintf("lnL %s   K %d   AIC %s   AICc %s   optimizer code %d, inversion code %d\n",
              format(num(j$lnl), digits = 8), as.integer(j$k), format(num(j$aic), digits = 8),
              format(num(j$aicc), digits = 8), as.integer(j$optimizer_code), as.integer(j$inversion_code)))
  cat(if (has_betas(x)) "Coefficients on the logit scale" else "Estimated parameters",
      "with 95% intervals (logit scale):\n")
  print(fit_table(x), digits = digits, row.names = FALSE)
  invisible(x)
}

summary.qv_fit <- function(object, ...) {
  j <- object$json
  structure(list(name = object$name, structure = object$structure, lnl = num(j$lnl), k = as.integer(j$k),
                 aic = num(j$aic), aicc = num(j$aicc), codes = c(optimizer = j$optimizer_code,
                                                                  inversion = j$inversion_code),
                 gof = c(G = num(j$g$statistic), df = num(j$g$df), p = num(j$g$p)),
                 table = fit_table(object), estimates = estimates(object), derived = derived(object),
                 warnings = unlist(j$warnings)), class = "summary.qv_fit")
}

print.summary.qv_fit <- function(x, digits = 4, ...) {
  cat("Quorvale fit", x$name, "\n")
  cat("STRUCTURE", x$structure, "\n")
  cat(sprintf("lnL %s   K %d   AIC %s   AICc %s\n", format(x$lnl, digits = 8), x$k, format(x$aic, digits = 8),
              format(x$aicc, digits = 8)))
  cat(sprintf("Goodness of fit: G = %s on %s df, P = %s\n", format(x$gof[["G"]], digits = 6), x$gof[["df"]],
              format(x$gof[["p"]], digits = 4)))
  cat("\nEstimates (95% intervals on the logit scale):\n")
  shown <- c("parameter", "group", "period", "occasion", "estimate", "se", "lcl", "ucl", "fixed")
  print(x$estimates[, intersect(shown, names(x$estimates))], digits = digits, row.names = FALSE)
  if (!is.null(x$derived)) {
    cat("\nAbundance by period (95% log-normal intervals):\n")
    shown <- c("group", "period", "caught", "p_star", "estimate", "se", "lcl", "ucl")
    print(x$derived[, intersect(shown, names(x$derived))], digits = digits, row.names = FALSE)
  }
  if (length(x$warnings)) cat("\nWarnings:\n", paste0("  ", x$warnings, "\n"), sep = "")
  invisible(x)
}

model_table <- function(fits, chat = NULL) {
  cmp <- comparison(fits, chat)
  test <- cmp$test
  crit <- test$criterion
  key <- tolower(crit)
  ms <- test$models
  byorder <- cmp$fits[vapply(ms, function(m) as.integer(m$order), 0L)]
  out <- data.frame(model = vapply(ms, function(m) m$name, ""),
                    K = vapply(ms, function(m) as.integer(m$npar), 0L),
                    lnL = nums(lapply(ms, `[[`, "lnl")),
                    criterion = nums(lapply(ms, `[[`, key)),
                    delta = nums(lapply(ms, `[[`, paste0("delta_", key))),
                    weight = nums(lapply(ms, `[[`, paste0("weight_", key))),
                    converged = vapply(byorder, function(f) f$json$optimizer_code == 0 &&
                                         f$json$inversion_code == 0, TRUE),
                    stringsAsFactors = FALSE)
  names(out)[4] <- crit
  out <- out[order(vapply(ms, function(m) as.integer(m$rank), 0L)), ]
  rownames(out) <- NULL
  structure(out, class = c("qv_table", "data.frame"), criterion = crit, c_hat = num(test$c_hat))
}

print.qv_table <- function(x, ...) {
  cat(sprintf("Models ranked by %s (c-hat %s)\n", attr(x, "criterion"), format(attr(x, "c_hat"), digits = 4)))
  shown <- structure(x, class = "data.frame")
  crit <- attr(x, "criterion")
  shown$lnL <- format(round(shown$lnL, 3), nsmall = 3)
  shown[[crit]] <- format(round(shown[[crit]], 2), nsmall = 2)
  shown$delta <- format(round(shown$delta, 2), nsmall = 2)
  shown$weight <- format(round(shown$weight, 4), nsmall = 4)
  print(shown, row.names = FALSE)
  invisible(x)
}

model_average <- function(fits, what = c("parameters", "abundance"), chat = NULL) {
  what <- match.arg(what)
  avg <- comparison(fits, chat)$test$averaged
  if (is.null(avg)) stop("The comparison holds no model averages.", call. = FALSE)
  out <- if (what == "parameters") {
    rows <- parameter_rows(avg$parameters, "ci")
    rows$available <- vapply(avg$parameters, function(q) isTRUE(q$available), TRUE)
    rows
  } else {
    one <- function(a, group) {
      data.frame(group = group, period = as.integer(a$period), estimate = num(a$estimate), se = num(a$se),
                 lcl = pair(a$ci, 1), ucl = pair(a$ci, 2), available = isTRUE(a$available),
                 stringsAsFactors = FALSE)
    }
    do.call(rbind, c(lapply(avg$abundance, function(a) one(a, chr(a$group))),
                     lapply(avg$total_abundance, function(a) one(a, "all groups"))))
  }
  rownames(out) <- NULL
  out <- drop_groups(out)
  attr(out, "weights") <- data.frame(model = vapply(avg$models, function(m) m$name, ""),
                                     weight = nums(lapply(avg$models, `[[`, "weight")), stringsAsFactors = FALSE)
  attr(out, "criterion") <- avg$criterion
  out
}
