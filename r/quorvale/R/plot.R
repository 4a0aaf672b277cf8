# plot(fit): survival by interval, temporary emigration by period and the
# abundance of every period, each with its 95% interval, in base graphics.
# The values and intervals are the fit's, as estimates() and derived() give
# them; fixed values are drawn as open marks.

draw_series <- function(x, est, lcl, ucl, fixed, col, offset, solid = 19, open = 1) {
  xs <- x + offset
  ok <- !is.na(lcl) & !is.na(ucl) & ucl > lcl
  if (any(ok)) arrows(xs[ok], lcl[ok], xs[ok], ucl[ok], angle = 90, code = 3, length = 0.03, col = col)
  points(xs, est, pch = ifelse(fixed, open, solid), col = col)
  lines(xs, est, col = col, lty = 3)
}

panel <- function(rows, xlab, ylab, main, groups, colours, ylim = c(0, 1), series = NULL) {
  plot(NA, xlim = range(rows$period) + c(-0.5, 0.5), ylim = ylim, xlab = xlab, ylab = ylab, main = main,
       xaxt = "n")
  axis(1, at = sort(unique(rows$period)))
  keys <- if (is.null(series)) rep("", nrow(rows)) else series
  sets <- unique(paste(rows$group, keys))
  width <- if (length(sets) > 1) 0.3 / (length(sets) - 1) else 0
  for (k in seq_along(sets)) {
    r <- rows[paste(rows$group, keys) == sets[k], ]
    g <- match(r$group[1], groups)
    second <- identical(keys[paste(rows$group, keys) == sets[k]][1], "gamma'")
    draw_series(r$period, r$estimate, r$lcl, r$ucl, r$fixed, colours[if (is.na(g)) 1 else g],
                (k - 1) * width - 0.15 * (length(sets) > 1), if (second) 17 else 19, if (second) 2 else 1)
  }
}

plot.qv_fit <- function(x, ...) {
  e <- estimates(x)
  d <- derived(x)
  groups <- if (is.null(e$group)) NA_character_ else unique(e$group)
  if (is.null(e$group)) e$group <- NA_character_
  if (!is.null(d) && is.null(d$group)) d$group <- NA_character_
  colours <- if (length(groups) > 1) hcl.colors(length(groups) + 1, "Dark 3")[seq_along(groups)] else "black"
  old <- par(mfrow = c(1, 3), mar = c(4.5, 4.5, 3, 1), oma = c(0, 0, 1.5, 0))
  on.exit(par(old))
  phi <- e[e$parameter == "phi", ]
  panel(phi, "interval (period i to i+1)", "survival phi", "Survival", groups, colours)
  gam <- e[e$parameter %in% c("gamma''", "gamma'"), ]
  if (nrow(gam)) {
    panel(gam, "period", "gamma'' (circles), gamma' (triangles)", "Temporary emigration", groups, colours,
          series = gam$parameter)
    legend("topright", legend = c("gamma''", "gamma'", "fixed"), pch = c(19, 17, 1), col = "grey30",
           bty = "n", cex = 0.8)
  }
  if (!is.null(d)) {
    d$fixed <- FALSE
    hi <- max(c(d$ucl, d$estimate), na.rm = TRUE)
    panel(d, "period", "N-hat", "Abundance", c(groups, "all groups"), c(colours, "grey30"),
          ylim = c(0, hi * 1.05))
    points(d$period, d$caught, pch = 4, col = "grey50")
  }
  if (length(groups) > 1) {
    legend("topright", legend = c(groups, if (!is.null(d)) c("all groups", "caught")),
           col = c(colours, if (!is.null(d)) c("grey30", "grey50")), pch = c(rep(19, length(groups)),
                                                                            if (!is.null(d)) c(19, 4)),
           bty = "n", cex = 0.8)
  } else if (!is.null(d)) {
    legend("bottomright", legend = c("N-hat", "caught"), pch = c(19, 4), col = c("black", "grey50"),
           bty = "n", cex = 0.8)
  }
  mtext(x$name, side = 3, outer = TRUE, line = 0.2, cex = 0.9)
  invisible(x)
}
