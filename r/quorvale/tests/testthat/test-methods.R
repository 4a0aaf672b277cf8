# R's generics on a fit: identities between them and with the document's
# own covariance and correlation, the fallback of coef() for linear
# formulas, and the coefficients on the logit scale when the document has them.

bundled_fit <- function(model = qv_model(gamma = qv_gamma("random", ~1)), ...) {
  qv_fit(qv_data(robust_example, secondary = bundled_secondary), model, ...)
}

test_that("coef, vcov, logLik and AIC agree with the estimates and with each other", {
  need_programs()
  fit <- bundled_fit(name = "random")
  e <- estimates(fit)
  b <- coef(fit)
  v <- vcov(fit)
  expect_identical(length(b), as.integer(fit$json$k))
  expect_identical(names(b)[c(1, 6, 10)], c("p(1,1)", "phi(1)", "gamma''(2)"))
  expect_identical(rownames(v), names(b))
  expect_identical(v, t(v))
  # Every parameter of a slot has the slot's value; the slot's SE is the
  # square root of its variance; the correlation is the document's.
  slot <- vapply(fit$json$parameters, function(q) q$slot, 0L)
  for (k in seq_along(b)) {
    expect_true(all(e$estimate[slot == k] == b[[k]]))
    expect_equal(sqrt(v[k, k]), e$se[which(slot == k)[1]])
  }
  cor <- do.call(rbind, lapply(fit$json$correlation, unlist))
  expect_equal(unname(cov2cor(v)), cor, tolerance = 1e-10)
  ll <- logLik(fit)
  expect_identical(attr(ll, "df"), length(b))
  expect_identical(attr(ll, "nobs"), as.numeric(fit$json$n))
  expect_equal(AIC(fit), -2 * as.numeric(ll) + 2 * length(b))
  other <- bundled_fit(qv_model(phi = ~1, gamma = qv_gamma("none")))
  both <- AIC(fit, other)
  expect_identical(both$AIC, c(AIC(fit), AIC(other)))
  expect_identical(both$df, c(10L, 6L))
  expect_equal(stats::AIC(fit, k = 3), -2 * as.numeric(ll) + 3 * length(b))
})

test_that("print, summary and plot show the fit", {
  need_programs()
  fit <- bundled_fit(name = "random")
  shown <- capture.output(print(fit))
  expect_match(shown[1], "Quorvale fit random")
  expect_true(any(grepl("STRUCTURE PHI\\(T\\) P\\(T\\) C\\(P\\) GAMMA\\(RANDOM,\\.\\) THETA\\(1\\)", shown)))
  expect_true(any(grepl(format(round(coef(fit)[["phi(1)"]], 4)), shown, fixed = TRUE)))
  s <- summary(fit)
  expect_identical(nrow(s$estimates), 41L)
  expect_identical(s$derived, derived(fit))
  expect_true(any(grepl("Goodness of fit: G = ", capture.output(print(s)))))
  file <- tempfile(fileext = ".png")
  grDevices::png(file, width = 900, height = 320)
  before <- par("mfrow")
  plot(fit)
  expect_identical(par("mfrow"), before)
  grDevices::dev.off()
  expect_gt(file.size(file), 5000)
})

test_that("a fit with linear formulas: coef gives the slots' probabilities, on a trend of the logit scale", {
  need_programs()
  fit <- suppressWarnings(bundled_fit(qv_model(phi = ~trend, gamma = qv_gamma("random", ~1))))
  skip_if(quorvale:::has_betas(fit), "the document holds the coefficients: see the next test")
  b <- coef(fit)
  phi <- b[grep("^phi", names(b))]
  expect_length(phi, 4)
  # logit(phi) rises by the same step from each interval to the next.
  step <- diff(qlogis(phi))
  expect_equal(unname(step), rep(step[[1]], 3), tolerance = 1e-8)
  expect_false(isTRUE(all.equal(step[[1]], 0)))
})

test_that("coef and vcov of a linear fit are its coefficients when the document holds them", {
  # A fit as the document gives it once fits[].betas[] is there: two
  # coefficients of survival's trend and their covariance.
  fit <- structure(list(json = list(
    k = 2L, parameters = list(),
    betas = list(list(name = "PHI:1", part = "PHI", estimate = 1.5, se = 0.2, ci = list(1.1, 1.9)),
                 list(name = "PHI:TREND", part = "PHI", estimate = -0.25, se = 0.05, ci = list(-0.35, -0.15))),
    beta_covariance = list(list(0.04, -0.001), list(-0.001, 0.0025)))), class = "qv_fit")
  expect_identical(coef(fit), c("PHI:1" = 1.5, "PHI:TREND" = -0.25))
  expect_identical(vcov(fit), matrix(c(0.04, -0.001, -0.001, 0.0025), 2, dimnames = list(names(coef(fit)),
                                                                                      names(coef(fit)))))
  packed <- fit
  packed$json$beta_covariance <- list(0.04, -0.001, 0.0025)
  expect_identical(vcov(packed), vcov(fit))
  none <- fit
  none$json$beta_covariance <- NULL
  expect_error(vcov(none), "no covariance of the coefficients")
  expect_identical(quorvale:::fit_table(fit)$coefficient, c("PHI:1", "PHI:TREND"))
})

test_that("the program's coefficients of survival's trend", {
  need_programs()
  fit <- suppressWarnings(bundled_fit(qv_model(phi = ~trend, gamma = qv_gamma("random", ~1))))
  # Enabled once the results document holds fits[].betas[].
  skip_if_not(quorvale:::has_betas(fit), "the results document holds no coefficients (fits[].betas[]) yet")
  b <- coef(fit)
  expect_true(all(c("PHI:1", "PHI:TREND") %in% names(b)))
  e <- estimates(fit)
  phi <- e$estimate[e$parameter == "phi"]
  # logit(phi_i) = PHI:1 + PHI:TREND * i for the intervals i = 1..4.
  expect_equal(qlogis(phi), b[["PHI:1"]] + b[["PHI:TREND"]] * (1:4), tolerance = 1e-8)
  v <- vcov(fit)
  expect_identical(dim(v), c(length(b), length(b)))
  se <- vapply(fit$json$betas, function(x) x$se, 0)
  expect_equal(sqrt(diag(v)), stats::setNames(se, names(b)))
})

test_that("the covariates of the periods reach the program in their order", {
  need_programs()
  winter <- c(0.2, 0.8, 0.1, 0.5, 0.3)
  data <- qv_data(robust_example, secondary = bundled_secondary, covariates = list(winter = winter))
  fit <- suppressWarnings(qv_fit(data, qv_model(phi = ~winter, gamma = qv_gamma("random", ~1))))
  e <- estimates(fit)
  phi <- e$estimate[e$parameter == "phi"]
  # logit(phi_i) is a line in the winter of interval i's first period.
  slope <- diff(qlogis(phi)) / diff(winter[1:4])
  expect_equal(slope, rep(slope[1], 3), tolerance = 1e-6)
  # A value the program's 10 characters cannot hold is rounded, with a warning.
  third <- qv_data(robust_example, secondary = bundled_secondary, covariates = list(w = c(1, 2, 3, 4, 1 / 3)))
  expect_warning(qv_fit(third, qv_model(phi = ~w, gamma = qv_gamma("random", ~1))), "written as 0.33333333")
})
