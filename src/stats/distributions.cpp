// Chi-square and normal distribution functions, and ln Gamma.

#include "stats/distributions.h"

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <limits>

namespace quorvale {

namespace {

/// k! for k = 0..30; from 21! on the values are kept to 15 significant digits.
constexpr double kFactorial[31] = {
    1.0,
    1.0,
    2.0,
    6.0,
    24.0,
    120.0,
    720.0,
    5040.0,
    40320.0,
    362880.0,
    3628800.0,
    39916800.0,
    479001600.0,
    6227020800.0,
    87178291200.0,
    1307674368000.0,
    20922789888000.0,
    355687428096000.0,
    6402373705728000.0,
    121645100408832000.0,
    2432902008176640000.0,
    5.10909421717094e19,
    1.12400072777761e21,
    2.58520167388850e22,
    6.20448401733239e23,
    1.55112100433310e25,
    4.03291461126606e26,
    1.08888694504184e28,
    3.04888344611714e29,
    8.84176199373970e30,
    2.65252859812191e32,
};

/// The double nearest to the square root of pi.
constexpr double kSqrtPi = 1.7724538509055160273;

/// 0.3989423 * exp(-700): the density factor used once the exponent drops below -700.
constexpr double kTinyDensity = 3.933442037623574e-305;

}  // namespace

void cdtr(double X, int N, double& P, int& IER) {
  IER = 0;
  if (X < 0.0 || N < 0) {
    IER = -1;
    P = -1.0e25;
    return;
  }
  if (N == 0) {
    P = 0.0;
    return;
  }
  if (100.0 + X == 100.0) {  // X negligible beside 100
    P = 0.0;
    return;
  }

  if (N > 60 || X > 100.0) {
    // Fisher: sqrt(2X) - sqrt(2N - 1) is close to standard normal.
    const double z = std::sqrt(2.0 * X) - std::sqrt(2.0 * N - 1.0);
    ndtr(z, P);
  } else {
    // Regularised lower incomplete gamma P(a, y) with a = N/2, y = X/2:
    //   y^a e^-y / Gamma(a+1) * sum_k y^k / ((a+1)(a+2)...(a+k)).
    const double a = N / 2.0;
    const double y = X / 2.0;
    double L = 1.0;
    double m = y / (a + 1.0);
    for (int k = 1;; ++k) {  // k = number of terms added once m is in
      L += m;
      if (std::fabs(m) < 1.0e-6 || k == 100) break;
      m = m * y / (a + 1.0 + k);
    }

    // Gamma(a + 1): (N/2)! for even N; for odd N, (N/2)(N/2 - 1)...(1/2) sqrt(pi).
    double G;
    if (N % 2 == 0) {
      G = kFactorial[N / 2];
    } else {
      G = 0.5;
      for (int k = 3; k <= N; k += 2) G *= k / 2.0;
      G *= kSqrtPi;
    }

    const double B = std::log(L / G) + a * std::log(y) - y;
    if (B > 88.0) {
      P = 1.0;
    } else if (B <= -88.0) {
      P = 0.0;
    } else {
      P = std::exp(B);
    }
  }

  if (P < 0.0 || P > 1.0) {
    IER = 1;
    P = 1.0e25;
  }
}

void ndtr(double X, double& P) {
  // Polynomial approximation 26.2.17 of the Handbook of Mathematical Functions:
  // Q(x) = phi(x) t (b1 + t(b2 + t(b3 + t(b4 + t b5)))), t = 1/(1 + p|x|).
  const double t = 1.0 / (1.0 + 0.2316419 * std::fabs(X));
  const double e = -(X * X) / 2.0;
  const double d = e < -700.0 ? kTinyDensity : 0.3989423 * std::exp(e);
  const double Q =
      d * t * (0.3193815 + t * (-0.3565638 + t * (1.781478 + t * (-1.821256 + t * 1.330274))));
  P = 1.0 - Q;
  if (X < 0.0) P = 1.0 - P;
}

double dlgama(double x) {
  if (x < 1.0e10) {
    if (x < 1.0e-35) x = 1.0e-35;
    // Raise the argument to at least 7 with Gamma(x) = Gamma(x + k) / (x (x+1) ... (x+k-1)).
    double z = x;
    double c = 0.0;
    if (x < 7.0) {
      double d = 1.0;
      do {
        d *= z;
        z += 1.0;
      } while (z < 7.0);
      c = -std::log(d);
    }
    // Stirling: (z - 1/2) ln z - z + ln sqrt(2 pi) + 1/(12z) - 1/(360z^3) + 1/(1260z^5) - 1/(1680z^7),
    // with the constants in single precision.
    const double y = 1.0 / (z * z);
    return (z - 0.5) * std::log(z) - z + static_cast<double>(0.9189385F) + c +
           ((((static_cast<double>(-0.0005952381F) * y + static_cast<double>(0.0007936508F)) * y -
              static_cast<double>(0.0027777778F)) *
                 y +
             static_cast<double>(0.083333336F)) /
            z);
  }
  // Huge (or not a number): ln Gamma(x) ~ x (ln x - 1), with x capped at 1.0e30.
  double lnx;
  if (std::isnan(x) || x > 1.0e30) {
    x = 1.0e30;
    lnx = 69.07755278982137;
  } else {
    lnx = std::log(x);
  }
  return x * (lnx - 1.0);
}

double aicc_correction(int k, int n) {
  // Wide integers: a K read from a model file may be as large as its field allows.
  const std::int64_t numerator = std::int64_t{2} * k * (std::int64_t{k} + 1);
  const std::int64_t denominator = std::int64_t{n} - k - 1;
  return static_cast<double>(numerator) / static_cast<double>(denominator);
}

Interval logit_interval(double p, double se) {
  const double centre = std::log(p / (1.0 - p));
  const double half = 1.96 * se / (p * (1.0 - p));
  auto back = [](double x) { return 1.0 / (1.0 + std::exp(-x)); };
  return {back(centre - half), back(centre + half)};
}

Interval abundance_interval(double N, double n, double var) {
  const double f = N - n;
  if (f == 0.0) return {n, n};
  const double C = std::exp(1.96 * std::sqrt(std::log(1.0 + var / (f * f))));
  return {n + f / C, n + f * C};
}

namespace {

/// The continued fraction of the incomplete beta function I_x(a, b) (modified
/// Lentz), fast to converge for x below (a + 1) / (a + b + 2).
double beta_fraction(double x, double a, double b) {
  constexpr double kTiny = 1e-300;
  constexpr double kEps = 1e-15;
  auto guard = [](double v) { return std::fabs(v) < kTiny ? kTiny : v; };
  double c = 1.0;
  double d = 1.0 / guard(1.0 - (a + b) * x / (a + 1.0));
  double h = d;
  // The terms needed grow as the square root of the larger of a and b.
  const int most = 1000 + static_cast<int>(std::min(1e7, 20.0 * std::sqrt(std::max(a, b))));
  for (int m = 1; m <= most; ++m) {
    const double even = m * (b - m) * x / ((a + 2.0 * m - 1.0) * (a + 2.0 * m));
    d = 1.0 / guard(1.0 + even * d);
    c = guard(1.0 + even / c);
    h *= d * c;
    const double odd = -(a + m) * (a + b + m) * x / ((a + 2.0 * m) * (a + 2.0 * m + 1.0));
    d = 1.0 / guard(1.0 + odd * d);
    c = guard(1.0 + odd / c);
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < kEps) break;
  }
  return h;
}

/// The regularized incomplete beta function I_x(a, b) for a, b > 0 and 0 < x < 1.
double incomplete_beta(double x, double a, double b) {
  const double front =
      std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
  if (x < (a + 1.0) / (a + b + 2.0)) return front * beta_fraction(x, a, b) / a;
  return 1.0 - front * beta_fraction(1.0 - x, b, a) / b;
}

}  // namespace

double negative_binomial_cdf(double k, double n, double p) {
  if (!(n >= 0.0 && p > 0.0 && p <= 1.0) || std::isnan(k)) return std::numeric_limits<double>::quiet_NaN();
  if (k < 0.0) return 0.0;
  if (n == 0.0 || p == 1.0 || std::isinf(k)) return 1.0;
  return incomplete_beta(p, n, std::floor(k) + 1.0);
}

std::vector<double> akaike_weights(const std::vector<double>& criteria) {
  double best = std::numeric_limits<double>::infinity();
  for (double c : criteria) {
    if (std::isfinite(c) && c < best) best = c;
  }
  std::vector<double> w(criteria.size(), 0.0);
  double total = 0.0;
  for (std::size_t i = 0; i < criteria.size(); ++i) {
    if (std::isfinite(criteria[i])) w[i] = std::exp(-0.5 * (criteria[i] - best));
    total += w[i];
  }
  if (total > 0.0) {
    for (double& x : w) x /= total;
  }
  return w;
}

}  // namespace quorvale
