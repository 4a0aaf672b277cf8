# R formulas as the parts of the program's STRUCTURE statement: the table
# of the README, the span of every mapping against R's own model matrix,
# and the program's own reading of the parts written.

# The README's table of formulas: one row per argument and STRUCTURE part.
readme_forms <- function(src) {
  lines <- readLines(file.path(src, "README.md"), encoding = "UTF-8")
  start <- which(lines == "## From R")
  section <- lines[start:length(lines)]
  end <- which(grepl("^## ", section[-1]))[1]
  section <- section[seq_len(if (is.na(end)) length(section) else end)]
  rows <- grep("^\\| `[a-z]+ = .*` \\| `[A-Z]+\\(.*\\)` \\|", section, value = TRUE)
  cells <- strsplit(rows, "|", fixed = TRUE)
  data.frame(argument = gsub("`", "", trimws(vapply(cells, `[`, "", 2))),
             part = gsub("`", "", trimws(vapply(cells, `[`, "", 3))), stringsAsFactors = FALSE)
}

model_of <- function(argument) eval(parse(text = sprintf("qv_model(%s)", argument)))

test_that("every formula of the README's table is written as the STRUCTURE part it gives", {
  forms <- readme_forms(need_source())
  expect_gt(nrow(forms), 20)
  for (k in seq_len(nrow(forms))) {
    part <- sub("\\(.*", "", forms$part[k])
    level <- sub("^[A-Z]+\\((.*)\\)$", "\\1", forms$part[k])
    expect_identical(unname(model_of(forms$argument[k])$parts[[part]]), level, info = forms$argument[k])
  }
  # Every part and every variable is in the table at least once.
  for (word in c("phi =", "p =", "c =", "gamma =", "theta =", "time", "group", "occasion", "trend", "~p", "winter")) {
    expect_true(any(grepl(word, forms$argument, fixed = TRUE)), info = word)
  }
})

test_that("the program reads every part of the README's table as written", {
  need_programs()
  forms <- readme_forms(need_source())
  data <- qv_read_inp(extdata("robust-example-sexes.inp"), secondary = bundled_secondary, groups = c("F", "M"),
                      covariates = list(winter = c(0.2, 0.8, 0.1, 0.5, 0.3)))
  models <- lapply(forms$argument, model_of)
  models <- models[!duplicated(vapply(models, qv_structure, ""))]
  # Without a name the program names each fit by the structure it read:
  # the parts without blanks, GAMMA shortened to GAM, THETA(1) left out.
  fits <- suppressWarnings(qv_fit_all(data, models))
  expected <- vapply(models, function(m) {
    parts <- m$parts[names(m$parts) != "THETA" | m$parts != "1"]
    paste0(sub("^GAMMA$", "GAM", names(parts)), "(", parts, ")", collapse = "")
  }, "")
  expect_identical(unname(vapply(fits, `[[`, "", "name")), expected)
})

# The span of a part's predictors over the periods, groups and occasions:
# R's model matrix of the formula against R's model matrix of the
# program's formula read back as an R formula (the program's * and + are
# R's, its constant always there).
span_grid <- function(occasions) {
  grid <- expand.grid(time = factor(1:4), group = factor(c("F", "M")), occasion = factor(1:3))
  if (!occasions) grid <- grid[grid$occasion == "1", ]
  grid$trend <- as.numeric(grid$time)
  grid$winter <- c(0.2, 0.8, 0.1, 0.5)[grid$time]
  grid
}

same_span <- function(f, g, grid) {
  x <- model.matrix(f, grid)
  y <- model.matrix(g, grid)
  rank <- function(m) qr(m)$rank
  rank(x) == rank(y) && rank(cbind(x, y)) == rank(x)
}

read_back <- function(text) {
  if (text == ".") return(~1)
  words <- regmatches(text, gregexpr("[A-Z]+|[*+]", text))[[1]]
  r <- c(G = "group", T = "time", O = "occasion", TREND = "trend", WINTER = "winter")
  as.formula(paste("~", paste(ifelse(words %in% names(r), r[words], words), collapse = " ")))
}

test_that("each formula and the program's formula it becomes span the same predictors", {
  spans <- list(~1, ~time, ~group, ~group * time, ~group:time, ~time + group, ~trend, ~group * trend,
                ~trend + group + trend:group, ~winter, ~winter * time, ~0 + time, ~time - 1 + trend,
                ~group + time + group:time, ~group * winter, ~time:group + trend)
  for (f in spans) {
    expect_true(same_span(f, read_back(quorvale:::formula_text(f, "phi")), span_grid(FALSE)), info = deparse(f))
  }
  with_occasions <- list(~time:occasion, ~time * occasion, ~time + occasion, ~group * time * occasion,
                         ~group:time:occasion, ~occasion, ~time/occasion)
  for (f in with_occasions) {
    expect_true(same_span(f, read_back(quorvale:::formula_text(f, "p")), span_grid(TRUE)), info = deparse(f))
  }
  # The comparison tells different spans apart: an additive model is not
  # the interaction, and a covariate's slope by group without the group
  # (refused by the mapping) is not the program's product.
  expect_false(same_span(~group + time, ~group * time, span_grid(FALSE)))
  expect_false(same_span(~winter:group, ~winter * group, span_grid(FALSE)))
})

test_that("formulas the program cannot take are R errors naming the term", {
  expect_error(qv_model(phi = ~occasion), "phi takes no term occasion")
  expect_error(qv_model(phi = ~p), "phi takes no term p")
  expect_error(qv_model(phi = ~log(winter)), "the term log\\(winter\\) is not a name")
  expect_error(qv_model(phi = ~winter:time), "the term winter:time needs time in the formula too")
  expect_error(qv_model(phi = ~trend:group + trend), "the term trend:group needs group")
  expect_error(qv_model(phi = ~0 + trend), "always hold a constant")
  expect_error(qv_model(phi = y ~ time), "one-sided formula")
  expect_error(qv_model(phi = ~T), "the term T is a word of the program's formulas")
  expect_error(qv_model(theta = ~trend), "theta takes no term trend")
  expect_error(qv_model(theta = 2), "theta = 1 fixes")
  expect_error(qv_model(gamma = "random"), "qv_gamma")
  # R cannot tell ~p from ~p + 1; the package can.
  expect_identical(qv_model(c = ~p)$parts[["C"]], "P")
  expect_identical(qv_model(c = ~1 + p)$parts[["C"]], "P+1")
  expect_identical(qv_model(c = ~p - 1)$parts[["C"]], "P")
  expect_identical(qv_model(c = ~p + time)$parts[["C"]], "P+T")
})

test_that("a term the program does not know reaches R with the program's message", {
  need_programs()
  data <- qv_data(robust_example, secondary = bundled_secondary, covariates = list(winter = c(0.2, 0.8, 0.1, 0.5, 0.3)))
  expect_error(qv_fit(data, qv_model(phi = ~summer)), "quorvale: .*Unknown term SUMMER in STRUCTURE part PHI\\(SUMMER\\)")
  expect_error(qv_fit(data, qv_model(phi = ~group)), "PHI\\(G\\) has a group term, but the model has no groups")
  # Long formulas are written over several lines of at most 80 columns.
  long <- qv_model(phi = ~winter + trend, p = ~time + occasion, c = ~p + occasion + winter + 1,
                   gamma = qv_gamma("markov", ~trend + winter), theta = ~time)
  expect_gt(nchar(paste("STRUCTURE", qv_structure(long))), 80)
  fit <- suppressWarnings(qv_fit(data, long))
  expect_true(all(nchar(fit$run$command) <= 80))
  expect_identical(fit$name, "PHI(TREND+WINTER)P(T+O)C(P+O+WINTER+1)GAM(MARKOV,TREND+WINTER)THETA(T)")
})

test_that("a statement is cut into lines of 80 columns that read back as its words", {
  # The program's reading: a line starting in column 1 goes on with the
  # last word of the line before; other lines start new words.
  read_back <- function(lines) strsplit(trimws(paste0(lines, collapse = "")), " +")[[1]]
  words <- c("STRUCTURE", paste0("PHI(", paste(rep("WINTER", 20), collapse = "+"), ")"), "P(T)", "C(P)")
  lines <- quorvale:::statement_lines(words, " ", "   ")
  expect_true(all(nchar(lines) <= 80))
  expect_gt(length(lines), 2)
  expect_identical(read_back(lines), c(words[-4], "C(P);"))
  # A continued word's second line starts in column 1, every other line with a blank.
  expect_true(any(!grepl("^ ", lines[-1])))
})
