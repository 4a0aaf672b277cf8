// Quasi-Newton minimiser, rank-one modification of L D L', and packed
// symmetric inversion.

#include "estimate/optimizer.h"

#include <cassert>
#include <cmath>
#include <cstdlib>

namespace quorvale {

namespace {

/// Relative precision of the function values the minimiser works to.
constexpr double reps = 1.45519152284E-11;

/// Relative rounding of a function value that is a sum of many terms (a
/// likelihood of thousands of cells): decreases below it times |F| cannot
/// be told from rounding.
constexpr double kResolution = 1e-13;

/// Packed element (i, j), 1-based with j <= i.
inline double& at(double* a, int i, int j) { return a[packed_index(i, j)]; }

/// Diagonal element i (1-based) of a packed matrix: D(i) of a factored one.
inline double& diag(double* a, int i) { return a[packed_index(i, i)]; }

/// The magnitude used to scale coordinate x: max(|x|, 0.1); 0.1 when x is not a number.
inline double magnitude(double x) {
  const double m = std::fabs(x);
  return m > 0.1 ? m : 0.1;
}

/// How one search along a direction ended.
enum class SearchEnd {
  NewPoint,         ///< a lower point was accepted: new gradient, then update
  ConvergenceTest,  ///< the step became negligible: go to the convergence test
  Limit,            ///< the evaluation count reached MAXFN
};

/// One run of optmiz: the caller's storage, the work vectors carved out of W
/// and the scalars that last from one iteration to the next.
class Minimiser {
 public:
  Minimiser(ObjectiveRef FUNCT, const GradientRef* GRAD, int N, int nsig, int MAXFN, std::span<double> X,
            std::span<double> H, std::span<double> G, double& F, std::span<double> W,
            std::span<const double> START = {})
      : FUNCT(FUNCT), GRAD(GRAD), N(N), MAXFN(MAXFN), eps(std::pow(10.0, -nsig)), x(X.data()), a(H.data()),
        s(W.data()), g(W.data() + N), u(W.data() + 2 * N), H(H), G(G), W(W), F(F), START(START),
        central(GRAD != nullptr) {}

  /// Runs the iterations from X to the end; returns the code.
  OptimizerCode run() {
    start();
    bool update_pending = false;
    for (;;) {
      gradient();
      if (update_pending) {
        update_pending = false;
        if (!update()) {
          IER = OptimizerCode::EvaluationLimit;
          break;
        }
      } else if (count >= MAXFN) {
        IER = OptimizerCode::EvaluationLimit;
        break;
      }
      search_direction();
      const SearchEnd end = search();
      if (end == SearchEnd::Limit) {
        IER = OptimizerCode::EvaluationLimit;
        break;
      }
      if (end == SearchEnd::NewPoint) {
        for (int i = 0; i < N; ++i) u[i] = g[i];  // keep the old gradient
        update_pending = true;
        continue;
      }
      if (converged()) break;
    }
    finish();
    return IER;
  }

 private:
  /// Clears the results, sets the start matrix and evaluates the start point.
  void start() {
    W[0] = -1.0;
    W[1] = 0.0;
    W[2] = 0.0;
    if (!start_from_matrix()) {
      // Start matrix: the identity, L = I and D = 1.
      for (int i = 1; i <= N; ++i) {
        for (int j = 1; j < i; ++j) at(a, i, j) = 0.0;
        diag(a, i) = 1.0;
      }
    }
    F = FUNCT(N, x);
    count = 1;
    F0 = F;
  }

  /// Factors START into L D L' in place of the matrix; false (the factors
  /// left to be overwritten) when START is empty or a pivot is at or below
  /// 1e-10 of its diagonal element, or not a number.
  bool start_from_matrix() {
    if (START.size() < static_cast<std::size_t>(N) * static_cast<std::size_t>(N + 1) / 2 || N < 1) return false;
    for (int i = 1; i <= N; ++i) {
      for (int j = 1; j <= i; ++j) at(a, i, j) = START[packed_index(i, j)];
    }
    // Row by row: L(i, j) = (A(i, j) - sum_k L(i, k) D(k) L(j, k)) / D(j), then D(i).
    for (int i = 1; i <= N; ++i) {
      for (int j = 1; j < i; ++j) {
        double v = at(a, i, j);
        for (int k = 1; k < j; ++k) v -= at(a, i, k) * diag(a, k) * at(a, j, k);
        at(a, i, j) = v / diag(a, j);
      }
      const double aii = diag(a, i);
      double d = aii;
      for (int k = 1; k < i; ++k) d -= at(a, i, k) * at(a, i, k) * diag(a, k);
      if (!(d > 1e-10 * aii)) return false;
      diag(a, i) = d;
    }
    return true;
  }

  /// Gradient at x into g: the exact one when given, else by differences.
  void gradient() {
    if (GRAD != nullptr) {
      (*GRAD)(N, x, g);
      ++count;
      return;
    }
    for (int i = 0; i < N; ++i) {
      const double xi = x[i];
      const double h = magnitude(xi) * step_factor;
      x[i] = xi + h;
      const double f1 = FUNCT(N, x);
      if (central) {
        x[i] = xi - h;
        const double f2 = FUNCT(N, x);
        g[i] = (f1 - f2) / (2.0 * h);
      } else {
        g[i] = (f1 - F) / h;
      }
      x[i] = xi;
    }
    count += central ? 2 * N : N;
  }

  /// Update of the factors after a line search: u holds the old gradient, g
  /// the new one, s the direction, ALPHA the step taken. Returns false when
  /// the evaluation limit has been reached.
  bool update() {
    if (count >= MAXFN) return false;
    DF = F0 - F;
    double sy = 0.0;  // s'(g+ - g), the change of the directional derivative
    for (int i = 0; i < N; ++i) sy += s[i] * g[i];
    sy = sy - gs;
    if (sy <= 0.0) return true;
    if (ALPHA * gs + sy > 0.0) {
      dfp_update(sy);
    } else {
      bfgs_update(sy);
    }
    return count < MAXFN;
  }

  /// DFP: B + (y g' + g y')/sy + (1/(ALPHA sy) - gs/sy^2) y y', y = g+ - g,
  /// as -c g g' followed by (1/(sy c')) z2 z2' with z2 = c' g + y.
  void dfp_update(double sy) {
    const double c = ALPHA / (sy - ALPHA * gs);
    for (int i = 0; i < N; ++i) s[i] = u[i];
    optmz2(H, N, W.first(static_cast<std::size_t>(N)), -c, G, IR, 0, reps);
    const double cp = c * sy;
    for (int i = 0; i < N; ++i) s[i] = (cp - 1.0) * u[i] + g[i];
    optmz2(H, N, W.first(static_cast<std::size_t>(N)), 1.0 / (sy * cp), G, IR, 0, 0.0);
  }

  /// BFGS: B + g g'/gs + y y'/(ALPHA sy); the first term makes B singular
  /// along its direction, which the negated IR asks for.
  void bfgs_update(double sy) {
    for (int i = 0; i < N; ++i) s[i] = u[i];
    int ir = -IR;
    optmz2(H, N, W.first(static_cast<std::size_t>(N)), 1.0 / gs, G, ir, 0, 0.0);
    IR = std::abs(ir);
    for (int i = 0; i < N; ++i) s[i] = g[i] - u[i];
    optmz2(H, N, W.first(static_cast<std::size_t>(N)), 1.0 / (sy * ALPHA), G, IR, 0, 0.0);
  }

  /// Search direction: solve L D L' s = -g, or steepest descent while D has
  /// entries that are not positive. Then relx and gs for it.
  void search_direction() {
    if (IR >= N) {
      for (int i = 1; i <= N; ++i) {
        double y = -g[i - 1];
        for (int k = 1; k < i; ++k) y -= at(a, i, k) * s[k - 1];
        s[i - 1] = y;
      }
      for (int i = 1; i <= N; ++i) s[i - 1] = s[i - 1] / diag(a, i);
      for (int i = N; i >= 2; --i) {
        const double si = s[i - 1];
        for (int k = 1; k < i; ++k) s[k - 1] -= at(a, i, k) * si;
      }
    } else {
      for (int i = 0; i < N; ++i) s[i] = -g[i];
    }
    relx = 0.0;
    gs = 0.0;
    for (int i = 0; i < N; ++i) {
      const double r = std::fabs(s[i]) / magnitude(x[i]);
      if (r > relx) relx = r;  // a quotient that is not a number is passed over
      gs += s[i] * g[i];
    }
    have_relx = true;
  }

  /// The tests of the direction, then the first step and the line search.
  SearchEnd search() {
    at_resolution = false;
    if (relx == 0.0) return SearchEnd::ConvergenceTest;
    if (gs >= 0.0 || DF == 0.0) {
      IER = OptimizerCode::RoundingDominant;
      return SearchEnd::ConvergenceTest;
    }
    IER = OptimizerCode::Converged;
    first_step();
    return count >= MAXFN ? SearchEnd::Limit : line_search();
  }

  /// First step: the one that would repeat the last decrease on a quadratic
  /// model, at most 1 (at least 0.1 with central differences).
  void first_step() {
    ALPHA = -2.0 * DF / gs;
    if (!(ALPHA > 0.0 && ALPHA <= 1.0)) ALPHA = 1.0;
    if (central && ALPHA < 0.1) ALPHA = 0.1;
    F0 = F;
  }

  /// Trial point u = x + alpha s.
  void trial_point(double alpha) {
    for (int i = 0; i < N; ++i) u[i] = x[i] + alpha * s[i];
  }

  /// Moves x to the trial point u, whose function value is `value`.
  void move_to_trial(double value) {
    F = value;
    for (int i = 0; i < N; ++i) x[i] = u[i];
  }

  /// One search along s from x. Returns how it ended; on NewPoint x, F and
  /// ALPHA (the total step) describe the accepted point.
  SearchEnd line_search() {
    double T = 0.0;  // total step taken along s
    bool interpolated = false;
    double F1 = 0.0;
    for (;;) {
      trial_point(ALPHA);
      F1 = FUNCT(N, u);
      ++count;
      if (!(F1 >= F)) {  // a decrease, or a value that is not a number
        T += ALPHA;
        break;
      }
      if (central && relx > eps) {
        // With the exact gradient a step that fails although it was to
        // lower F by no more than F's own rounding has reached what F can
        // tell: the end of the run, not a failure.
        if (GRAD != nullptr && -gs <= kResolution * std::fabs(F)) {
          at_resolution = true;
        } else {
          IER = OptimizerCode::RoundingDominant;
        }
      }
      if (ALPHA < eps / relx) return SearchEnd::ConvergenceTest;
      if (count >= MAXFN) return SearchEnd::Limit;

      ALPHA = 0.5 * ALPHA;
      trial_point(ALPHA);
      const double F2 = FUNCT(N, u);
      ++count;
      if (!(F2 >= F)) {
        T += ALPHA;
        IER = OptimizerCode::Converged;
        move_to_trial(F2);
        if (T < eps / relx) return SearchEnd::ConvergenceTest;
        ALPHA = T;
        return SearchEnd::NewPoint;
      }

      interpolate(F1, F2);
      if (count >= MAXFN) return SearchEnd::Limit;
      interpolated = true;
    }

    // Acceptance of the trial point.
    IER = OptimizerCode::Converged;
    move_to_trial(F1);

    if (!interpolated) {
      // A full step of the exact gradient's quasi-Newton model is taken as
      // it is: reaching further is rarely lower and costs a value.
      const bool full_step = GRAD != nullptr && ALPHA == 1.0 && IR >= N;
      if (!full_step && !extrapolate(T)) return SearchEnd::Limit;
    } else if (T < eps / relx) {
      return SearchEnd::ConvergenceTest;
    }
    ALPHA = T;
    return SearchEnd::NewPoint;
  }

  /// Parabola through (0, F), (ALPHA, F2), (2 ALPHA, F1): the next ALPHA is
  /// its minimum, or a tenth of the step when it is not convex or the minimum
  /// is too close.
  void interpolate(double F1, double F2) {
    if (F + F1 <= 2.0 * F2) {
      ALPHA = 0.1 * ALPHA;
    } else {
      const double t = 0.5 * (F - F1) / (F + F1 - 2.0 * F2) + 1.0;
      ALPHA = t > 0.1 ? t * ALPHA : 0.1 * ALPHA;
    }
  }

  /// Extrapolates from an accepted first trial, doubling the distance from
  /// the start each time, while the function keeps falling and the three
  /// values do not yet bend upward. T is the total step taken. Returns false
  /// when the evaluation limit has been reached.
  bool extrapolate(double& T) {
    for (;;) {
      if (count >= MAXFN) return false;
      trial_point(ALPHA);
      const double F1 = FUNCT(N, u);
      ++count;
      if (F1 >= F) return true;
      const bool last = 2.0 * F <= F1 + F0 && 12.0 * F < 5.0 * F0 + 7.0 * F1;
      T += ALPHA;
      ALPHA = 2.0 * ALPHA;
      move_to_trial(F1);
      if (last) return true;
    }
  }

  /// Convergence test. Forward differences never end a run: the first test
  /// switches to central ones and looks again. Returns true when the run ends.
  bool converged() {
    if (!central) {
      central = true;
      return false;
    }
    return relx <= eps || IER != OptimizerCode::Converged || at_resolution;
  }

  /// The results: gradient, its norm, the count, the digits, and H = L D L'.
  void finish() {
    for (int i = 0; i < N; ++i) G[i] = g[i];
    double sum = 0.0;
    for (int i = 0; i < N; ++i) sum += G[i] * G[i];
    W[0] = std::sqrt(sum);
    W[1] = static_cast<double>(count);
    W[2] = have_relx ? -std::log10(relx > reps ? relx : reps) : 0.0;
    if (N > 1) multiply_out_factors();
  }

  /// H = L D L' in place of its factors: row by row from the last, each row
  /// from its diagonal back to column 1, so every factor entry is read before
  /// its position is overwritten.
  void multiply_out_factors() {
    for (int i = N; i >= 1; --i) {
      for (int j = i; j >= 1; --j) {
        double h = 0.0;
        for (int k = 1; k <= j; ++k) {
          const double lik = k == i ? 1.0 : at(a, i, k);
          const double ljk = k == j ? 1.0 : at(a, j, k);
          h += lik * diag(a, k) * ljk;
        }
        at(a, i, j) = h;
      }
    }
  }

  ObjectiveRef FUNCT;
  const GradientRef* const GRAD;  // the exact gradient, or none: differences
  const int N;
  const int MAXFN;
  const double step_factor = std::sqrt(reps);  // difference step per unit of magnitude
  const double eps;                            // 10^-NSIG

  double* const x;  // the point
  double* const a;  // the factors L, D while the run lasts
  double* const s;  // search direction; modification vector in an update
  double* const g;  // current gradient
  double* const u;  // trial point; previous gradient in an update
  std::span<double> H;
  std::span<double> G;
  std::span<double> W;
  double& F;
  const std::span<const double> START;  // the start matrix, or empty: the identity

  OptimizerCode IER = OptimizerCode::Converged;
  long long count = 0;   // function evaluations
  bool central;          // gradient mode: forward differences until switched; exact counts as central
  bool at_resolution = false;  // the last search failed within F's rounding (exact gradient only)
  double DF = -1.0;      // function decrease of the last iteration
  int IR = N;            // positive entries of D
  double relx = 0.0;     // largest predicted relative coordinate change
  bool have_relx = false;
  double ALPHA = 1.0;  // step along s
  double gs = 0.0;     // directional derivative s'g
  double F0 = 0.0;     // function value at the start of the line search
};

/// The caller's storage is as large as optmiz needs.
void check_storage([[maybe_unused]] int N, [[maybe_unused]] std::span<double> X, [[maybe_unused]] std::span<double> H,
                   [[maybe_unused]] std::span<double> G, [[maybe_unused]] std::span<double> W) {
  assert(N >= 0);
  assert(X.size() >= static_cast<std::size_t>(N));
  assert(G.size() >= static_cast<std::size_t>(N));
  assert(H.size() >= static_cast<std::size_t>(N) * static_cast<std::size_t>(N + 1) / 2);
  assert(W.size() >= 3 * static_cast<std::size_t>(N > 1 ? N : 1));
}

}  // namespace

OptimizerCode optmiz(ObjectiveRef FUNCT, int N, int nsig, int MAXFN, std::span<double> X,
           std::span<double> H, std::span<double> G, double& F, std::span<double> W) {
  check_storage(N, X, H, G, W);
  return Minimiser(FUNCT, nullptr, N, nsig, MAXFN, X, H, G, F, W).run();
}

OptimizerCode optmiz(ObjectiveRef FUNCT, GradientRef GRAD, int N, int nsig, int MAXFN, std::span<double> X,
                     std::span<double> H, std::span<double> G, double& F, std::span<double> W,
                     std::span<const double> START) {
  check_storage(N, X, H, G, W);
  return Minimiser(FUNCT, &GRAD, N, nsig, MAXFN, X, H, G, F, W, START).run();
}

void optmz2(std::span<double> A, int N, std::span<double> Z, double SIGMA, std::span<double> W,
            int& IR, int MK, double EPS) {
  assert(A.size() >= static_cast<std::size_t>(N) * static_cast<std::size_t>(N + 1) / 2);
  assert(Z.size() >= static_cast<std::size_t>(N));
  assert(W.size() >= static_cast<std::size_t>(N));
  double* const a = A.data();
  double* const z = Z.data() - 1;  // 1-based
  double* const w = W.data() - 1;  // 1-based

  if (N == 1) {
    a[0] = a[0] + SIGMA * (z[1] * z[1]);
    IR = 1;
    if (a[0] <= 0.0) {
      a[0] = 0.0;
      IR = 0;
    }
    return;
  }

  // Composite t-method: with w = L^-1 z, t_0 = 1/SIGMA and
  // t_j = t_{j-1} + w_j^2/D(j), the new factors are D(j) t_j/t_{j-1} and
  // L(l,j) + w_j/(D(j) t_j) times the reduced z_l.
  double t = 0.0;
  bool stored = false;  // t_1..t_N are held in w, t_0 in t
  if (SIGMA == 0.0) return;
  if (SIGMA > 0.0) {
    // While a positive modification runs, IR is held negated: a zero pivot
    // met on the way can then take up the modification (IR becomes 1 - IR).
    IR = -IR;
    t = 1.0 / SIGMA;
  } else {
    if (IR == 0) return;
    if (MK == 0) {
      // Forward-solve L w = z, components with D(j) <= 0 taken as 0.
      for (int j = 1; j <= N; ++j) {
        if (diag(a, j) <= 0.0) {
          w[j] = 0.0;
          continue;
        }
        double v = z[j];
        for (int k = 1; k < j; ++k) v -= at(a, j, k) * w[k];
        w[j] = v;
      }
    }
    t = 1.0 / SIGMA;
    for (int j = 1; j <= N; ++j) {
      const double d = diag(a, j);
      if (d > 0.0) t = t + w[j] * w[j] / d;
    }
    // t is now t_N; t_N > 0 means the result would not be positive definite.
    if (IR <= 0) {
      IR = -IR - 1;
      t = 0.0;
      stored = true;
    } else if (t > 0.0) {
      t = EPS / SIGMA;
      if (EPS == 0.0) IR = IR - 1;
      stored = true;
    } else {
      t = 1.0 / SIGMA;
    }
    if (stored) {
      // Backwards from the chosen t_N, free of the cancellation of the forward sum.
      for (int j = N; j >= 1; --j) {
        const double wj = w[j];
        w[j] = t;
        const double d = diag(a, j);
        if (d > 0.0) t = t - wj * wj / d;
      }
    }
  }

  for (int j = 1; j <= N; ++j) {
    const double v = z[j];
    const double d = diag(a, j);
    if (d <= 0.0) {
      if (IR < 1 && SIGMA >= 0.0 && v != 0.0) {
        // A zero pivot takes up the whole rest of the modification.
        IR = 1 - IR;
        diag(a, j) = v * v / t;
        for (int l = j + 1; l <= N; ++l) at(a, l, j) = z[l] / v;
        break;
      }
      continue;
    }
    const double tp = stored ? w[j] : t + v * v / d;
    const double r = tp / t;
    diag(a, j) = d * r;
    if (r == 0.0 || j == N) break;
    const double b = (v / d) / tp;
    if (r > 4.0) {
      const double q = t / tp;
      for (int l = j + 1; l <= N; ++l) {
        const double lold = at(a, l, j);
        at(a, l, j) = q * lold + b * z[l];
        z[l] = z[l] - v * lold;
      }
    } else {
      for (int l = j + 1; l <= N; ++l) {
        z[l] = z[l] - v * at(a, l, j);
        at(a, l, j) = at(a, l, j) + b * z[l];
      }
    }
    t = tp;
  }
  if (IR < 0) IR = -IR;
}

InversionCode matinv(std::span<double> A, int N) {
  assert(A.size() >= static_cast<std::size_t>(N) * static_cast<std::size_t>(N + 1) / 2);
  double* const a = A.data();

  // Cholesky A = L L', row by row; the diagonal keeps 1/L(j,j).
  for (int j = 1; j <= N; ++j) {
    for (int k = 1; k < j; ++k) {
      double v = at(a, j, k);
      for (int m = 1; m < k; ++m) v -= at(a, j, m) * at(a, k, m);
      at(a, j, k) = v * diag(a, k);
    }
    double p = diag(a, j);
    for (int k = 1; k < j; ++k) p -= at(a, j, k) * at(a, j, k);
    // Not positive definite when the pivot vanishes beside the unreduced
    // diagonal element (or is negative).
    if (diag(a, j) + p / (16.0 * N) <= diag(a, j)) return InversionCode::NotPositiveDefinite;
    diag(a, j) = 1.0 / std::sqrt(p);
  }

  // L^-1 in place, row by row: M(i,j) = -M(i,i) sum_{k=j}^{i-1} L(i,k) M(k,j).
  // Columns in increasing order, so L(i,k) for k >= j is still in place.
  for (int i = 2; i <= N; ++i) {
    for (int j = 1; j < i; ++j) {
      double v = 0.0;
      for (int k = j; k < i; ++k) v += at(a, i, k) * at(a, k, j);
      at(a, i, j) = -v * diag(a, i);
    }
  }

  // A^-1 = M' M: element (i,j) = sum_{k>=i} M(k,i) M(k,j); row i of the result
  // needs only rows i..N of M, and within row i the diagonal is written last.
  for (int i = 1; i <= N; ++i) {
    for (int j = 1; j <= i; ++j) {
      double v = 0.0;
      for (int k = i; k <= N; ++k) v += at(a, k, i) * at(a, k, j);
      at(a, i, j) = v;
    }
  }
  return InversionCode::Inverted;
}

}  // namespace quorvale
