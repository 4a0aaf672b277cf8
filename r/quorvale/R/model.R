# Models: R formulas for each parameter, written as the parts of the
# program's STRUCTURE statement. A formula whose span the program's levels
# already give becomes that level (~1 is ".", ~time is "T", ~group * time is
# "G*T"), any other one a linear formula on the logit scale ("G+T", "TREND",
# "P+1", covariate names). The program decides what it can fit; the
# mapping only refuses what it cannot write.

# The variables of the R formulas and their words in the program's.
factor_words <- c(group = "G", time = "T", occasion = "O")
number_words <- c(trend = "TREND", p = "P")

# Which variables a part takes: occasion within the period for capture and
# recapture only, the capture probability for recapture only.
part_takes <- list(phi = c("time", "group", "trend"), p = c("time", "group", "occasion", "trend"),
                   c = c("time", "group", "occasion", "trend", "p"), gamma = c("time", "group", "trend"),
                   theta = c("time", "group"))

# Whether the right-hand side adds a literal 1 (as in ~p + 1): R's terms()
# cannot tell ~p from ~p + 1, the program can.
adds_one <- function(e) {
  if (is.numeric(e)) return(identical(as.numeric(e), 1))
  if (!is.call(e)) return(FALSE)
  op <- as.character(e[[1]])
  if (op == "(") return(adds_one(e[[2]]))
  if (op == "+") return(any(vapply(as.list(e)[-1], adds_one, TRUE)))
  if (op == "-" && length(e) == 3) return(adds_one(e[[2]]))
  FALSE
}

# The level or formula of one STRUCTURE part for an R formula.
formula_text <- function(f, part) {
  shown <- paste(deparse(f), collapse = " ")
  if (is.character(f) && length(f) == 1) {
    if (!grepl("^[^[:space:];]+$", f)) stop(sprintf("%s = \"%s\": a level is one word.", part, f), call. = FALSE)
    return(toupper(f))
  }
  if (!inherits(f, "formula") || length(f) != 2) {
    stop(sprintf("%s must be a one-sided formula such as ~time, not %s.", part, shown), call. = FALSE)
  }
  tt <- tryCatch(terms(f), error = function(e) {
    stop(sprintf("%s = %s: %s", part, shown, conditionMessage(e)), call. = FALSE)
  })
  variables <- as.list(attr(tt, "variables"))[-1]
  names_of <- vapply(variables, function(v) paste(deparse(v), collapse = " "), "")
  for (k in seq_along(variables)) {
    v <- variables[[k]]
    if (!is.name(v)) {
      stop(sprintf("%s = %s: the term %s is not a name; the formulas take time, group, occasion, trend, p ",
                   part, shown, names_of[k]), "and covariate names, joined by +, * and :.", call. = FALSE)
    }
    known <- names_of[k] %in% c(names(factor_words), names(number_words))
    if (known && !names_of[k] %in% part_takes[[part]]) {
      stop(sprintf("%s = %s: %s takes no term %s.", part, shown, part, names_of[k]), call. = FALSE)
    }
    if (!known && toupper(names_of[k]) %in% reserved_words) {
      stop(sprintf("%s = %s: the term %s is a word of the program's formulas; write time, group, occasion, ",
                   part, shown, names_of[k]), "trend or p in lower case.", call. = FALSE)
    }
    if (!known && part == "theta") {
      stop(sprintf("%s = %s: theta takes no term %s.", part, shown, names_of[k]), call. = FALSE)
    }
  }
  word <- function(name) {
    if (name %in% names(factor_words)) return(factor_words[[name]])
    if (name %in% names(number_words)) return(number_words[[name]])
    toupper(name)
  }
  is_factor <- names_of %in% names(factor_words)
  # The program's order of words: P, G, T, O, TREND, then covariates as given.
  rank <- match(names_of, c("p", "group", "time", "occasion", "trend"))
  rank[is.na(rank)] <- 5 + seq_len(sum(is.na(rank)))
  fm <- attr(tt, "factors")
  terms_of <- if (length(fm)) lapply(seq_len(ncol(fm)), function(j) which(fm[, j] > 0)) else list()
  labels <- attr(tt, "term.labels")
  has_p <- "p" %in% names_of
  # A term holding a number (trend, a covariate) stands for its product
  # alone in R, for all its margins too in the program: its margins must be
  # in the formula for the two to mean the same.
  for (j in seq_along(terms_of)) {
    t <- terms_of[[j]]
    if (length(t) > 1 && !all(is_factor[t])) {
      for (drop in t) {
        margin <- setdiff(t, drop)
        if (!any(vapply(terms_of, function(u) setequal(u, margin), TRUE))) {
          stop(sprintf("%s = %s: the term %s needs %s in the formula too (write %s).", part, shown, labels[j],
                       paste(names_of[margin], collapse = ":"), paste(names_of[t], collapse = " * ")),
               call. = FALSE)
        }
      }
    }
  }
  if (attr(tt, "intercept") == 0 && !has_p && !any(vapply(terms_of, function(t) all(is_factor[t]), TRUE))) {
    stop(sprintf("%s = %s: the program's formulas always hold a constant; remove the 0 or -1.", part, shown),
         call. = FALSE)
  }
  # A term inside a larger one adds nothing the program's product does not
  # hold: keep the largest.
  keep <- vapply(seq_along(terms_of), function(j) {
    !any(vapply(seq_along(terms_of), function(k) k != j && all(terms_of[[j]] %in% terms_of[[k]]) &&
                  length(terms_of[[k]]) > length(terms_of[[j]]), TRUE))
  }, TRUE)
  terms_of <- terms_of[keep]
  if (length(terms_of)) {
    key <- vapply(terms_of, function(t) paste(sprintf("%03d", c(length(t), sort(rank[t]))), collapse = ""), "")
    terms_of <- terms_of[order(key)]
  }
  text <- vapply(terms_of, function(t) paste(vapply(names_of[t[order(rank[t])]], word, ""), collapse = "*"), "")
  if (has_p && adds_one(f[[2]])) text <- c(text, "1")
  if (!length(text)) return(".")
  paste(text, collapse = "+")
}

qv_gamma <- function(type = c("markov", "random", "none"), formula = ~1) {
  type <- match.arg(type)
  structure(list(type = type, formula = if (type == "none") NULL else formula), class = "qv_gamma")
}

gamma_text <- function(g) {
  if (!inherits(g, "qv_gamma")) {
    stop("gamma must be made by qv_gamma(), such as qv_gamma(\"random\", ~1).", call. = FALSE)
  }
  if (g$type == "none") return("NONE")
  paste0(toupper(g$type), ",", formula_text(g$formula, "gamma"))
}

theta_text <- function(theta) {
  if (is.numeric(theta)) {
    if (!identical(as.numeric(theta), 1)) {
      stop("theta = 1 fixes the recapture exponents at 1; a formula (~1, ~time) estimates them.", call. = FALSE)
    }
    return("1")
  }
  formula_text(theta, "theta")
}

qv_model <- function(phi = ~time, p = ~time, c = ~p, gamma = qv_gamma("markov", ~1), theta = 1) {
  parts <- c(PHI = formula_text(phi, "phi"), P = formula_text(p, "p"), C = formula_text(c, "c"),
             GAMMA = gamma_text(gamma), THETA = theta_text(theta))
  structure(list(phi = phi, p = p, c = c, gamma = gamma, theta = theta, parts = parts), class = "qv_model")
}

qv_structure <- function(model) {
  if (!inherits(model, "qv_model")) stop("model must be made by qv_model().", call. = FALSE)
  paste0(names(model$parts), "(", model$parts, ")", collapse = " ")
}

print.qv_model <- function(x, ...) {
  cat("Quorvale model: STRUCTURE", qv_structure(x), "\n")
  invisible(x)
}
