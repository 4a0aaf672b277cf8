#pragma once
// Numerical routines of the estimation: the quasi-Newton minimiser optmiz,
// its rank-one modification of a factored symmetric matrix optmz2, and the
// inversion of a packed symmetric positive-definite matrix matinv. They know
// nothing of the model: they see a function of N variables, vectors and
// packed matrices, all storage supplied by the caller.
//
// Packed symmetric storage: the lower triangle row by row, element (i, j),
// j <= i, 1-based, at position i(i-1)/2 + j; the diagonal of row i is the
// last of that row, at i(i+1)/2. A factored matrix L D L' keeps D on the
// diagonal positions and the unit lower triangular L below it.
//
// Neither optmiz nor matinv prints. A non-zero code is reported by the caller
// with numerr (estimate/numerr.h) immediately after the call returns; nothing
// else happens in these routines after the code is decided, so the listing
// shows the line exactly where the routine would have written it.

#include <cstddef>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>

#include "base/packed.h"
#include "estimate/fit_codes.h"

namespace quorvale {

/// Non-owning reference to a callable of signature R(Args...). No
/// allocation; the referred callable must outlive the call it is passed to
/// (a lambda written in the argument list does).
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  /// Refers to a plain function.
  FunctionRef(R (*fn)(Args...)) noexcept : fn_(fn), call_(&call_function) {}

  /// Refers to any other callable object taking Args.
  template <class Fn>
    requires(!std::is_same_v<std::remove_cvref_t<Fn>, FunctionRef> && !std::is_pointer_v<std::decay_t<Fn>> &&
             std::is_invocable_r_v<R, Fn&, Args...>)
  FunctionRef(Fn&& fn) noexcept
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(fn)))),
        call_(&call_object<std::remove_reference_t<Fn>>) {}

  /// Calls the referred callable.
  R operator()(Args... args) const { return call_(*this, args...); }

 private:
  union {
    void* object_;
    R (*fn_)(Args...);
  };
  R (*call_)(const FunctionRef&, Args...);

  /// Calls the plain function.
  static R call_function(const FunctionRef& self, Args... args) { return self.fn_(args...); }
  /// Calls the callable object of type Fn.
  template <class Fn>
  static R call_object(const FunctionRef& self, Args... args) {
    return (*static_cast<Fn*>(self.object_))(args...);
  }
};

/// An objective f(n, x) returning the value at the n coordinates x.
using ObjectiveRef = FunctionRef<double(int, const double*)>;

/// An objective with its gradient: f(n, x, g) returns the value at the n
/// coordinates x and writes the n derivatives into g.
using GradientRef = FunctionRef<double(int, const double*, double*)>;

/// Minimises FUNCT over N variables by a quasi-Newton method with difference
/// gradients (forward differences first, central differences once the
/// forward ones stop giving progress) and a factored Hessian approximation
/// updated by the DFP or BFGS formula.
///
/// nsig: NSIG, the digits asked for: convergence when every predicted
///   relative change of a coordinate is at most 10^-NSIG (relative to
///   max(|X(i)|, 0.1)). Spelled in lower case because <signal.h> defines
///   NSIG as a macro.
/// MAXFN: limit on function evaluations (a gradient may carry the count up
///   to 2N past it before the limit is noticed).
/// The Hessian approximation always starts as the identity.
/// X: N entries; in the start, out the best point found.
/// H: N(N+1)/2 entries; out the final Hessian approximation, packed.
/// G: N entries; out the gradient last computed (work space during the run).
/// F: out the function value at X.
/// W: 3*max(N, 1) entries of work space; out W(1) = Euclidean norm of G,
///   W(2) = number of function evaluations, W(3) = estimated significant
///   digits of X, -log10(max(relx, reps)) with relx the largest predicted
///   relative coordinate change. When the run ends before any search
///   direction was computed (the limit reached at the first gradient),
///   W(3) = 0: no digits have been established.
/// Returns Converged, RoundingDominant (130) or EvaluationLimit (131). A function
/// value that is not a number counts as a decrease in the line search; such
/// a run may wander until the evaluation limit stops it, but it always ends.
OptimizerCode optmiz(ObjectiveRef FUNCT, int N, int nsig, int MAXFN, std::span<double> X,
           std::span<double> H, std::span<double> G, double& F, std::span<double> W);

/// The same minimiser with the exact gradient GRAD in place of differences:
/// the line searches evaluate FUNCT, each new point GRAD, which counts as one
/// evaluation towards MAXFN and in W(2). An exact gradient is as good as a
/// central difference one from the start, so the first convergence test can
/// end the run; so does a line search that fails when the decrease it was
/// to make, the directional derivative of the whole step, is no more than
/// 1e-13 |F|, below what F's rounding can show (code 0, W(3) the digits
/// reached). START, when not empty, is the Hessian approximation to start
/// from (packed, order N), such as the expected information at X; one that
/// is not positive definite in its factorisation L D L' (a pivot at or below
/// 1e-10 of its diagonal element) is passed over for the identity.
OptimizerCode optmiz(ObjectiveRef FUNCT, GradientRef GRAD, int N, int nsig, int MAXFN, std::span<double> X,
                     std::span<double> H, std::span<double> G, double& F, std::span<double> W,
                     std::span<const double> START = {});

/// Replaces the factors L, D held packed in A (order N) by the factors of
/// L D L' + SIGMA Z Z' (composite t-method of Fletcher and Powell).
/// Z (N entries) is destroyed; W (N entries) is work space, or with MK != 0
/// holds on entry the solution w of L w = Z. IR (in/out) is the number of
/// positive entries of D; a caller passes it negated to ask that a negative
/// modification leave the result singular in Z's direction (one fewer
/// positive entry). EPS is the allowance used when a negative modification
/// would destroy positive definiteness (0 = make the result singular).
void optmz2(std::span<double> A, int N, std::span<double> Z, double SIGMA, std::span<double> W,
            int& IR, int MK, double EPS);

/// Inverts in place the packed symmetric positive-definite matrix A of order
/// N by Cholesky factorisation. Returns Inverted, or NotPositiveDefinite (130) when
/// a pivot is negligible against its diagonal element or negative, leaving A
/// partly factored.
InversionCode matinv(std::span<double> A, int N);

}  // namespace quorvale
