#pragma once
// Probability functions: the chi-square and standard normal distribution
// functions behind every printed chi-square probability, and the logarithm
// of the gamma function used for the multinomial coefficients. All are pure
// functions of their arguments: no state, no output.

#include <vector>

#include "stats/interval.h"

namespace quorvale {

/// Lower-tail chi-square probability: P = Pr(chi-square on N degrees of freedom <= X).
/// IER = 0 on success; IER = -1 and P = -1.0e25 when X < 0 or N < 0; IER = +1 and
/// P = +1.0e25 when the computed probability falls outside [0, 1].
void cdtr(double X, int N, double& P, int& IER);

/// Lower-tail standard normal probability P = Pr(Z <= X), accurate to about 2e-7.
void ndtr(double X, double& P);

/// Natural logarithm of the gamma function, ln Gamma(x), by Stirling's series
/// (absolute error about 1.6e-8, from the single-precision constant ln sqrt(2 pi)).
double dlgama(double x);

/// Small-sample term 2K(K+1)/(n-K-1) that turns AIC into AICc (and QAIC
/// into QAICc): integer numerator and denominator, floating division, so
/// n - K - 1 = 0 gives an infinite value.
double aicc_correction(int k, int n);

/// A 95% interval of a probability built on the logit scale by the delta
/// method: logit(p) -/+ 1.96 se / (p (1 - p)), mapped back, so it lies in
/// 0..1. Defined for 0 < p < 1 and a finite se >= 0.
Interval logit_interval(double p, double se);

/// The log-normal 95% interval of an abundance estimate N with n animals
/// seen and variance var: with C = exp(1.96 sqrt(ln(1 + var / (N - n)^2))),
/// n + (N - n) / C to n + (N - n) C, so it never falls below n. N = n gives
/// the point n.
Interval abundance_interval(double N, double n, double var);

/// Pr(F <= k) for F the failures before the n-th success of trials that
/// each succeed with probability p (the negative binomial distribution), k
/// rounded down: the regularized incomplete beta function I_p(n, k + 1).
/// 0 for k < 0; 1 for k >= 0 when n = 0 or p = 1. Defined for n >= 0 and
/// 0 < p <= 1; NaN otherwise.
double negative_binomial_cdf(double k, double n, double p);

/// Akaike weights exp(-delta_i / 2) / sum_j exp(-delta_j / 2) of criteria
/// values, delta_i measured from the smallest finite value; a value that is
/// not finite gets weight 0.
std::vector<double> akaike_weights(const std::vector<double>& criteria);

}  // namespace quorvale
