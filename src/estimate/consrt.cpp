#include "estimate/consrt.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "estimate/context.h"
#include "input/fields.h"
#include "model/linear_form.h"

namespace quorvale {

namespace {

/// Characters a number token may hold.
constexpr std::string_view kNumberChars = "0123456789.+-ED ";

bool is_parameter(const Token& t) { return t.first() == 'S'; }
bool is_number(const Token& t) { return verify(t.view(), kNumberChars) == 0; }

/// Parameter number of an S(I) token, which must name a parameter of the model.
int parameter(FitContext& run, const Token& t) {
  int i = nparm(t.view(), run.listing);
  if (i < 1 || i > run.model.NPAR) run.listing.error("Parameter number in CONSTRAINT outside 1 to NPAR.");
  return i;
}

/// The parameter a parameter's pointer chain ends at: itself when free or
/// fixed in its own slot, else the end of the chain of the one it was set
/// equal to (pointers always lead to lower numbers, so the walk ends).
int chain_root(const ModelStore& m, int i) {
  for (int guard = 0; guard <= m.NPAR; ++guard) {
    int next = std::abs(m.POINT(i));
    if (next == i || next < 1 || next > m.NPAR) return i;
    i = next;
  }
  return i;
}

/// Warns when a statement sets parameter i again after the STRUCTURE
/// statement fixed it or set it equal to another.
void warn_override(FitContext& run, int i) {
  if (static_cast<std::size_t>(i) >= run.structured.size() || !run.structured[static_cast<std::size_t>(i)]) return;
  run.listing.warn("CONSTRAINT on S(" + std::to_string(i) + ") overrides what STRUCTURE set for it.");
}

/// Applies one constraint statement; returns true when it bounds a
/// parameter by another. `used` is set to the tokens the statement takes.
bool apply_statement(FitContext& run, int& used) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  const Token& t1 = run.token(1);
  const Token& t2 = run.token(2);
  const Token& t3 = run.token(3);
  const Token& t4 = run.token(4);
  const Token& t5 = run.token(5);
  bool inequality = false;
  used = 3;

  if (is_parameter(t1)) {
    run.reader.echo_as(EchoLevel::Detail);
    const int i = parameter(run, t1);
    if (t2 == "=") {
      if (is_parameter(t3)) {
        const int j = parameter(run, t3);
        const int lo = std::min(i, j);
        const int hi = std::max(i, j);
        warn_override(run, hi);
        m.POINT(hi) = m.POINT(lo);
        ++m.NEQUAL;
      } else {
        const double c = value(run.instr, 3, lst);
        warn_override(run, i);
        m.PAR(i) = c;
        m.PARL(i) = c;
        m.PARU(i) = c;
        m.POINT(i) = -i;
        ++m.NFIXED;
      }
    } else if (t2 == "<" || t2 == ">") {
      const bool upper = t2 == "<";
      Vec1<int>& bound_of = upper ? m.POINTU : m.POINTL;
      Vec1<double>& constant_of = upper ? m.PARU : m.PARL;
      if (is_parameter(t3)) {
        const int j = parameter(run, t3);
        bound_of(i) = j;
        inequality = true;
        if (t4 == t2.view()) {
          used = 5;
          if (is_parameter(t5)) {
            bound_of(j) = parameter(run, t5);
          } else {
            constant_of(j) = value(run.instr, 5, lst);
          }
        } else if (!t4.blank()) {
          lst.error(upper ? "Last of constraint incorrect." : "LAST OF CONSTRAINT INCORRECT");
        }
      } else if (is_number(t3)) {
        constant_of(i) = value(run.instr, 3, lst);
      } else {
        lst.error("Unrecognized CONSTRAINT.");
      }
    }
    // Any other operator leaves the statement without effect.
    if (!(t2 == "=" || t2 == "<" || t2 == ">")) used = run.status.NTOK;
  } else if (is_number(t1)) {
    const double c = value(run.instr, 1, lst);
    if (!(t2 == "<" || t2 == ">") || !is_parameter(t3)) lst.error("Unrecognized CONSTRAINT.");
    const bool less = t2 == "<";  // c < S(j): c is a lower bound
    const int j = parameter(run, t3);
    (less ? m.PARL : m.PARU)(j) = c;
    if (t4 == t2.view()) {
      used = 5;
      if (is_parameter(t5)) {
        (less ? m.POINTU : m.POINTL)(j) = parameter(run, t5);
        inequality = true;
      } else {
        (less ? m.PARU : m.PARL)(j) = value(run.instr, 5, lst);
        if (m.PARL(j) > m.PARU(j)) {
          auto word = [](const Token& t) {
            const std::string_view v = t.view();
            return std::string(v.substr(0, v.find_last_not_of(' ') + 1));
          };
          run.reader.warn_ignored("Bounds of " + word(t3) + " given in reverse: " + word(less ? t1 : t5) +
                                  " above " + word(less ? t5 : t1) + ".");
        }
      }
    } else if (!t4.blank()) {
      lst.error("LAST OF CONSTRAINT STATEMENT INCORRECT");
    }
  } else {
    lst.error("Unrecognized CONSTRAINT.");
  }
  return inequality;
}

/// The bounds of every parameter as a CONSTRAINT block reads them (by
/// parameter number): constant lower and upper, and bounding parameters.
struct Bounds {
  std::vector<double> lower, upper;
  std::vector<int> below, above;
};

Bounds bounds_of(const ModelStore& m) {
  Bounds b;
  for (int i = 1; i <= m.NPAR; ++i) {
    b.lower.push_back(m.PARL(i));
    b.upper.push_back(m.PARU(i));
    b.below.push_back(m.POINTL(i));
    b.above.push_back(m.POINTU(i));
  }
  return b;
}

/// A fit with linear forms keeps its probabilities within 0 and 1 through
/// the logit and takes no other bound: the statement that gives a free
/// parameter one is refused where it stands. (Fixing a parameter sets its
/// bounds to its constant; that is no bound.)
void refuse_new_bound(FitContext& run, const Bounds& before) {
  const ModelStore& m = run.model;
  const Bounds after = bounds_of(m);
  for (int i = 1; i <= m.NPAR; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    const bool changed = after.lower[k] != before.lower[k] || after.upper[k] != before.upper[k] ||
                         after.below[k] != before.below[k] || after.above[k] != before.above[k];
    const bool unit = after.lower[k] == 0.0 && after.upper[k] == 1.0 && after.below[k] == 0 && after.above[k] == 0;
    if (changed && !unit && m.POINT(i) > 0) run.listing.error(bound_refusal(i));
  }
}

}  // namespace

void default_map(ModelStore& m) {
  m.size_parameters();
  m.NEST = m.NPAR;
  for (int i = 1; i <= m.NPAR; ++i) {
    m.PAR(i) = 0.5;
    m.PARL(i) = 0.0;
    m.PARU(i) = 1.0;
    m.POINT(i) = i;
    m.POINTL(i) = 0;
    m.POINTU(i) = 0;
  }
  m.NEQUAL = 0;
  m.NFIXED = 0;
  m.renumbered = false;
}

void unnumber_map(ModelStore& m) {
  const int n = m.NPAR;
  // The lowest parameter on each free slot and on each constant's slot.
  std::vector<int> free_root(static_cast<std::size_t>(n) + 1, 0);
  std::vector<int> fixed_root(static_cast<std::size_t>(n) + 1, 0);
  for (int i = n; i >= 1; --i) {
    int p = m.POINT(i);
    if (p > 0 && p <= n) free_root[static_cast<std::size_t>(p)] = i;
    if (p < 0 && -p <= n) fixed_root[static_cast<std::size_t>(-p)] = i;
  }
  Vec1<double> par(n), parl(n), paru(n);
  Vec1<int> point(n), pointl(n), pointu(n);
  auto bound_root = [&](int slot) {
    return slot > 0 && slot <= n ? free_root[static_cast<std::size_t>(slot)] : 0;
  };
  for (int i = 1; i <= n; ++i) {
    const int p = m.POINT(i);
    const int slot = std::abs(p);
    const int r = p > 0 ? free_root[static_cast<std::size_t>(slot)] : fixed_root[static_cast<std::size_t>(slot)];
    point(i) = p > 0 ? r : -r;
    if (r == i) point(i) = p > 0 ? i : -i;
    par(i) = m.PAR(slot);
    parl(i) = m.PARL(slot);
    paru(i) = m.PARU(slot);
    pointl(i) = bound_root(m.POINTL(i));
    pointu(i) = bound_root(m.POINTU(i));
  }
  for (int i = 1; i <= n; ++i) {
    m.PAR(i) = par(i);
    m.PARL(i) = parl(i);
    m.PARU(i) = paru(i);
    m.POINT(i) = point(i);
    m.POINTL(i) = pointl(i);
    m.POINTU(i) = pointu(i);
  }
  m.renumbered = false;
}

void renumber_map(ModelStore& m) {
  const int n = m.NPAR;
  // Every parameter points straight at the root of its chain of equalities:
  // free in the root's slot, or sharing the root's constant.
  std::vector<int> root(static_cast<std::size_t>(n) + 1, 0);
  for (int i = 1; i <= n; ++i) root[static_cast<std::size_t>(i)] = chain_root(m, i);
  for (int i = 1; i <= n; ++i) {
    const int r = root[static_cast<std::size_t>(i)];
    m.POINT(i) = m.POINT(r) < 0 ? -r : r;
  }
  // A bound by another parameter refers to that parameter's root; a bound by
  // a fixed parameter becomes a bound by its constant.
  for (int i = 1; i <= n; ++i) {
    const int own_slot = std::abs(m.POINT(i));
    for (bool upper : {false, true}) {
      int& j = upper ? m.POINTU(i) : m.POINTL(i);
      if (j < 1 || j > n) continue;
      const int r = root[static_cast<std::size_t>(j)];
      if (m.POINT(r) < 0) {
        (upper ? m.PARU : m.PARL)(own_slot) = m.PAR(r);
        j = 0;
      } else {
        j = r;
      }
    }
  }
  m.NFIXED = 0;
  m.NEQUAL = 0;
  for (int i = 1; i <= n; ++i) {
    if (m.POINT(i) == -i) {
      ++m.NFIXED;
    } else if (m.POINT(i) != i) {
      ++m.NEQUAL;
    }
  }
  m.NEST = n - m.NEQUAL - m.NFIXED;
  m.renumbered = true;

  // Move the fixed constants behind the free slots.
  int next = n - m.NFIXED;
  for (int i = 1; i <= n - m.NFIXED; ++i) {
    if (m.POINT(i) != -i) continue;
    do {
      ++next;
    } while (next <= n && m.POINT(next) == -next);
    if (next > n) return;
    for (int l = 1; l <= n; ++l) {
      if (m.POINT(l) == -i) m.POINT(l) = -next;
    }
    std::swap(m.PAR(i), m.PAR(next));
    std::swap(m.PARL(i), m.PARL(next));
    std::swap(m.PARU(i), m.PARU(next));
    if (m.POINT(next) == next) {
      for (int l = 1; l <= n; ++l) {
        if (m.POINT(l) == next) m.POINT(l) = i;
        if (m.POINTL(l) == next) m.POINTL(l) = i;
        if (m.POINTU(l) == next) m.POINTU(l) = i;
      }
    }
  }

  // Close the gaps that equalities left among the free slots.
  if (m.NEQUAL > 0 && m.NEST > 0) {
    const int top = n - m.NFIXED;
    for (int k = 1; k <= m.NEST; ++k) {
      for (int guard = 0; guard < n; ++guard) {
        bool used = false;
        for (int l = 1; l <= n; ++l) used = used || m.POINT(l) == k;
        if (used) break;
        for (int l = 1; l <= n; ++l) {
          if (m.POINT(l) > k) --m.POINT(l);
          if (m.POINTL(l) > k) --m.POINTL(l);
          if (m.POINTU(l) > k) --m.POINTU(l);
        }
        for (int s = k; s < top; ++s) {
          m.PAR(s) = m.PAR(s + 1);
          m.PARL(s) = m.PARL(s + 1);
          m.PARU(s) = m.PARU(s + 1);
        }
      }
    }
  }
}

void consrt(FitContext& run) {
  ModelStore& m = run.model;
  // A further block in the same procedure adds to the map of the first.
  if (m.renumbered) unnumber_map(m);
  m.NEQUAL = 0;
  m.NFIXED = 0;
  bool inequality = false;
  for (;;) {
    run.reader.getcmd();
    // STRUCTURE ends the block too, so that its place is judged by the set-up.
    if (run.token(1) == "PROC" || run.token(1) == "INITIAL" || run.token(1) == "STRUCTURE") break;
    if (run.token(1) == "COVARIATE") run.listing.error(covariate_outside_model());
    int used = 0;
    const Bounds before = m.linear ? bounds_of(m) : Bounds{};
    inequality = apply_statement(run, used) || inequality;
    if (m.linear) refuse_new_bound(run, before);
    run.reader.warn_left_over(used, "CONSTRAINT");
  }
  renumber_map(m);
  if (m.NEST == 0) {
    run.listing.warn("All parameters are fixed.  Nothing to estimate.");
    return;
  }
  if (inequality) {
    run.listing.warn("Inequality constraints may cause optimization errors.");
    run.listing.warn("Verify output for correctness.");
  }
}

}  // namespace quorvale
