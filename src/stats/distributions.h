#pragma once
// Probability functions: the chi-square and standard normal distribution
// functions behind every printed chi-square probability, and the logarithm
// of the gamma function used for the multinomial coefficients. All are pure
// functions of their arguments: no state, no output.

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

}  // namespace quorvale
