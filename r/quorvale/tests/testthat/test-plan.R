# Planning: the coverage table against the document of the same plan run
# directly, the models given as R models against the converter's numbered
# ones, and the true values against the truth given.

plan_args <- c("--plan", "--secondary", "2,2,2,2", "--marked", "150", "--phi", "0.8", "--p", "0.3",
               "--gamma2", "0.3", "--gamma1", "0.3", "--nsim", "20", "--submodels", "3,5")

test_that("the coverage table is the coverage block of the program's document", {
  need_programs()
  dir <- tempfile("plan-")
  dir.create(dir)
  run_direct("quorvale-inp", plan_args, dir, "plan.cmd")
  run_direct("quorvale", c("i=plan.cmd", "l=plan.lst", "json=plan.json", "notrace"), dir, "plan.out")
  sim <- jsonlite::fromJSON(file.path(dir, "plan.json"))$simulations
  plan <- qv_plan(secondary = c(2, 2, 2, 2), marked = 150, phi = 0.8, p = 0.3, gamma2 = 0.3, gamma1 = 0.3,
                  nsim = 20, models = c(3, 5))
  expect_identical(unique(plan$model), c("NO-EMIG PHI(.)P(T)", "RANDOM(.) PHI(.)P(T)"))
  for (k in 1:2) {
    cv <- sim$coverage[[1]]
    pars <- cv$parameters[[k]]
    rows <- plan[plan$model == unique(plan$model)[k] & plan$parameter != "N", ]
    expect_identical(rows$generating, pars$generating)
    expect_identical(rows$bias, pars$bias)
    expect_identical(rows$rmse, pars$rmse)
    expect_identical(rows$mean_se, pars$mean_se)
    expect_identical(rows$coverage_logit, pars$coverage_logit)
    expect_identical(rows$coverage_wald, pars$coverage_wald)
    n <- cv$abundance[[k]]
    nrows <- plan[plan$model == unique(plan$model)[k] & plan$parameter == "N", ]
    expect_identical(nrows$period, n$period)
    expect_identical(nrows$generating, n$true_n)
    expect_identical(nrows$coverage_lognormal, n$coverage)
    expect_identical(nrows$bias, n$bias)
  }
  # The truth: phi 0.8 by interval, p 0.3; the first period's true N is the
  # animals marked over the chance of being caught in its two occasions.
  first <- plan[plan$model == "NO-EMIG PHI(.)P(T)", ]
  expect_true(all(first$generating[first$parameter == "phi"] == 0.8))
  expect_true(all(first$generating[first$parameter == "p"] == 0.3))
  expect_equal(first$generating[first$parameter == "N" & first$period == 1], 150 / (1 - 0.7^2))
})

test_that("models given as R models are refitted as the converter's numbered ones", {
  need_programs()
  numbered <- qv_plan(secondary = c(2, 2, 2, 2), marked = 150, phi = 0.8, p = 0.3, gamma2 = 0.3, gamma1 = 0.3,
                      nsim = 20, models = c(3, 5))
  own <- qv_plan(secondary = c(2, 2, 2, 2), marked = 150, phi = 0.8, p = 0.3, gamma2 = 0.3, gamma1 = 0.3,
                 nsim = 20, threads = 2,
                 models = list("NO-EMIG PHI(.)P(T)" = qv_model(phi = ~1, gamma = qv_gamma("none")),
                               "RANDOM(.) PHI(.)P(T)" = qv_model(phi = ~1, gamma = qv_gamma("random", ~1))))
  expect_identical(own, numbered)
  expect_error(qv_plan(secondary = c(2, 2), marked = 100, phi = 0.8, p = "a"), "p must be numbers")
  expect_error(qv_plan(secondary = c(2, 2, 2), marked = 100, phi = c(0.8, 0.7, 0.6), p = 0.3, nsim = 5),
               "quorvale-inp: .*--phi")
})
