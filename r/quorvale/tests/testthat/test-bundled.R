# The bundled analysis: the converter's twelve competing models of the
# bundled data, run directly (converter, then program) into a reference
# document, against the same models fitted from R on the bundled data
# frame. Every estimate, standard error, interval, criterion, weight and
# N-hat the R objects give must be the document's.

bundled_models <- function() {
  emigration <- list("NO-EMIG" = qv_gamma("none"), "RANDOM(.)" = qv_gamma("random", ~1),
                     "RANDOM(T)" = qv_gamma("random", ~time), "MARKOV(.)" = qv_gamma("markov", ~1),
                     "MARKOV(T)" = qv_gamma("markov", ~time))
  # The converter's order: without emigration p constant or by period, the
  # others p by period; survival constant, then by period.
  models <- list()
  for (e in names(emigration)) {
    for (pt in if (e == "NO-EMIG") c(".", "T") else "T") {
      for (phit in c(".", "T")) {
        models[[sprintf("%s PHI(%s)P(%s)", e, phit, pt)]] <-
          qv_model(phi = if (phit == ".") ~1 else ~time, p = if (pt == ".") ~1 else ~time, c = ~p,
                   gamma = emigration[[e]])
      }
    }
  }
  models
}

reference_run <- function() {
  dir <- tempfile("reference-")
  dir.create(dir)
  file.copy(extdata("robust-example.inp"), dir)
  run_direct("quorvale-inp", c("--secondary", "2,2,4,5,2", "--models", "robust-example.inp"), dir, "ref.cmd")
  run_direct("quorvale", c("i=ref.cmd", "l=ref.lst", "json=ref.json", "notrace"), dir, "ref.out")
  jsonlite::fromJSON(file.path(dir, "ref.json"))
}

ci_matrix <- function(x) if (is.list(x)) do.call(rbind, lapply(x, function(v) if (is.null(v)) c(NA, NA) else v)) else x

test_that("the bundled analysis from R: estimates, errors, criteria, weights and N-hat are the program's", {
  need_programs()
  ref <- reference_run()
  fits <- qv_fit_all(qv_data(robust_example, secondary = bundled_secondary), bundled_models())
  expect_s3_class(fits, "qv_fits")
  # The reference's order and names are the converter's; the R models say the same.
  expect_identical(names(fits), ref$fits$name)
  for (k in seq_along(fits)) {
    fit <- fits[[k]]
    p <- ref$fits$parameters[[k]]
    e <- estimates(fit)
    expect_identical(e$index, p$index)
    expect_identical(e$estimate, p$estimate)
    expect_identical(e$se, p$se)
    expect_identical(unname(cbind(e$lcl, e$ucl)), unname(ci_matrix(p$logit_ci)))
    expect_identical(e$fixed, p$fixed)
    a <- ref$fits$derived$abundance[[k]]
    d <- derived(fit)
    expect_identical(d$period, a$period)
    expect_identical(d$caught, as.numeric(a$caught))
    expect_identical(d$p_star, a$p_star)
    expect_identical(d$estimate, a$estimate)
    expect_identical(d$se, a$se)
    expect_identical(unname(cbind(d$lcl, d$ucl)), unname(ci_matrix(a$ci)))
    expect_identical(as.numeric(logLik(fit)), ref$fits$lnl[k])
    expect_identical(attr(logLik(fit), "df"), as.integer(ref$fits$k[k]))
    expect_identical(AIC(fit), ref$fits$aic[k])
  }
  test <- ref$tests
  models <- test$models[[1]]
  tab <- model_table(fits)
  expect_identical(attr(tab, "criterion"), test$criterion)
  expect_identical(attr(tab, "c_hat"), test$c_hat)
  # Best model first, in the program's rank.
  expect_identical(tab$model, models$name[order(models$rank)])
  row <- match(tab$model, models$name)
  key <- tolower(test$criterion)
  expect_identical(tab$K, as.integer(models$npar[row]))
  expect_identical(tab$lnL, models$lnl[row])
  expect_identical(tab[[test$criterion]], models[[key]][row])
  expect_identical(tab$delta, models[[paste0("delta_", key)]][row])
  expect_identical(tab$weight, models[[paste0("weight_", key)]][row])
  avg <- test$averaged
  ap <- model_average(fits, "parameters")
  expect_identical(ap$estimate, avg$parameters[[1]]$estimate)
  expect_identical(ap$se, avg$parameters[[1]]$se)
  expect_identical(unname(cbind(ap$lcl, ap$ucl)), unname(ci_matrix(avg$parameters[[1]]$ci)))
  aa <- model_average(fits, "abundance")
  expect_identical(aa$period, avg$abundance[[1]]$period)
  expect_identical(aa$estimate, avg$abundance[[1]]$estimate)
  expect_identical(aa$se, avg$abundance[[1]]$se)
  expect_identical(unname(cbind(aa$lcl, aa$ucl)), unname(ci_matrix(avg$abundance[[1]]$ci)))
  expect_identical(attr(aa, "weights")$weight, avg$models[[1]]$weight)
})

test_that("a c-hat given to model_table() is the program's PROC TEST C =, with its criterion and weights", {
  need_programs()
  fits <- qv_fit_all(qv_data(robust_example, secondary = bundled_secondary), bundled_models()[c(3, 6, 10)])
  auto <- model_table(fits)
  one <- model_table(fits, chat = 1)
  two <- model_table(fits, chat = 2)
  # c-hat 1 ranks by AICc: the fits' own AICc, and weights exp(-delta/2) normalised.
  expect_identical(attr(one, "criterion"), "AICc")
  aicc <- vapply(fits, function(f) f$json$aicc, 0)
  expect_equal(one$AICc, unname(aicc[one$model]))
  expect_equal(one$weight, exp(-one$delta / 2) / sum(exp(-one$delta / 2)))
  # c-hat 2: QAICc = -2 lnL / 2 + 2 K + 2 K (K + 1) / (n - K - 1), n the sample size.
  expect_identical(attr(two, "criterion"), "QAICc")
  expect_identical(attr(two, "c_hat"), 2)
  n <- fits[[1]]$json$n
  expect_equal(two$QAICc, -two$lnL + 2 * two$K + 2 * two$K * (two$K + 1) / (n - two$K - 1))
  expect_false(isTRUE(all.equal(two$weight, one$weight[match(two$model, one$model)])))
  # The fits of one run with its own c-hat are compared without running
  # the program again; another c-hat or a subset needs it.
  old <- options(quorvale.bin = file.path(tempdir(), "no-such-program"))
  on.exit(options(old))
  expect_identical(model_table(fits), auto)
  expect_identical(model_table(fits[c(3, 1, 2)]), auto)
  expect_identical(model_average(fits, "abundance")$estimate,
                   vapply(fits[[1]]$run$test$averaged$abundance, function(a) a$estimate, 0))
  expect_error(model_table(fits, chat = 1), "(was not found|which is not a file)")
  expect_error(model_table(fits[1:2]), "(was not found|which is not a file)")
})

test_that("fits of separate runs are compared in one new run of them all", {
  need_programs()
  data <- qv_data(robust_example, secondary = bundled_secondary)
  models <- bundled_models()[c(3, 6)]
  a <- qv_fit(data, models[[1]], name = names(models)[1])
  b <- qv_fit(data, models[[2]], name = names(models)[2])
  together <- qv_fit_all(data, models)
  expect_identical(model_table(list(a, b)), model_table(together))
  expect_identical(model_average(list(a, b), "abundance"), model_average(together, "abundance"))
  # A subset of a run's fits is its own comparison too.
  three <- qv_fit_all(data, bundled_models()[c(3, 6, 10)])
  expect_identical(model_table(three[1:2]), model_table(together))
  expect_error(model_table(a), "two fits or more")
  other <- qv_data(robust_example[-1, ], secondary = bundled_secondary)
  expect_error(model_table(list(a, qv_fit(other, models[[2]]))), "different data")
})
