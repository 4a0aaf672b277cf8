#pragma once
// The model store: the cohorts and their cell counts, the parameters with
// their values, bounds and constraint map, the cell probabilities, the
// parameter labels, the estimation options in force and the robust-design
// description given to PROC MODEL. One instance per run.
//
// The cell tables NOBS and P hold the cells of each cohort of the model read,
// the parameter arrays and labels its NPAR parameters: PROC MODEL checks the
// limits of base/limits.h, and these are sized to what it read.

#include <csignal>
#include <optional>
#include <span>
#include <string>
#include <vector>

// <signal.h> defines NSIG as the number of signals; the store's field of that
// name (significant digits) must not be hidden by it.
#ifdef NSIG
#undef NSIG
#endif

#include "model/arrays.h"
#include "base/limits.h"
#include "model/linear_form.h"
#include "model/robust_layout.h"

namespace quorvale {

/// Width of a parameter label.
inline constexpr int LABLEN = 80;

/// Everything PROC MODEL reads and the estimation procedures share.
struct ModelStore {
  // --- integer model data
  Mat1<int> NOBS;                  ///< observed count of class k of cohort c, NCLASS(c) cells
  Vec1<int> NCLASS{MAXCHT};        ///< classes of cohort c, remainder cell included
  int NCOHRT = 0;                  ///< number of cohorts
  Vec1<int> NREL{MAXCHT};          ///< size of cohort c
  int NPAR = 0;                    ///< parameters S(1)..S(NPAR)
  /// Periods, cohorts and parameter numbers of the cohorts and NPAR as PROC
  /// MODEL left them (status NotLaidOut until it has; the likelihood then
  /// reads them from the cohorts itself).
  RdDesign design;
  int NEQUAL = 0;                  ///< equality constraints in force
  int NFIXED = 0;                  ///< parameters fixed at a value
  int NEST = 0;                    ///< parameters estimated: NPAR - NEQUAL - NFIXED
  Vec1<int> POINT;   ///< slot of parameter i (negative: fixed at PAR(-k)), 1..NPAR
  Vec1<int> POINTL;  ///< 0: constant lower bound; k: bounded below by slot k
  Vec1<int> POINTU;  ///< 0: constant upper bound; k: bounded above by slot k
  int NSIG = 0;    ///< significant digits asked of the optimizer
  int MAXFN = 0;   ///< limit on function evaluations
  int MODDEF = 0;  ///< 1 once a PROC MODEL has been completed
  int ISINE = 0;   ///< 1 sine transform, 0 absolute-value transform
  int NOTRAN = 0;  ///< 1: TRANSFORM=NO, the fit's start values and objective are S itself
  int NOVAR = 0;   ///< 1: no variance-covariance display
  int NORMAL = 0;  ///< 1 when PROC MODEL was given NORMALIZE (recorded only)
  int NOBIN = 0;   ///< 1: binomial coefficients left out of the likelihood
  bool exact_gradient = false;  ///< GRADIENT=EXACT: the fit's gradient and information from exact cell derivatives
  int ADDCEL = 0;  ///< 1: every cohort gets a remainder cell
  int IEROPT = 0;  ///< return code of the last optimization
  int IERINV = 0;  ///< return code of the last inversion
  bool renumbered = false;  ///< the map's slots are renumbered (a CONSTRAINT block ended)

  // --- real model data
  Vec1<double> PAR;   ///< working values by slot, 1..NPAR
  Vec1<double> PARL;  ///< constant lower bounds by slot
  Vec1<double> PARU;  ///< constant upper bounds by slot
  Mat1<double> P;     ///< probability of class k of cohort c, shaped as NOBS

  // --- text model data
  std::string EXPR = std::string(MAXCHR, ' ');  ///< expression of the cell being read
  Vec1<std::string> LABEL;  ///< label of parameter i: 1..NPAR, and any given above NPAR

  // --- robust-design description (printed by PROC MODEL only)
  Vec1<double> TINT{MAXPRM, 0.0};  ///< interval between primary occasions k and k+1
  int NPRIM = 0;                   ///< number of primary occasions
  Vec1<int> NSEC{MAXPRM};          ///< secondary occasions within primary occasion k
  int IRECOV = 0;                  ///< 1 when RECOVERIES was given
  int NGROUP = 0;                  ///< number of groups
  /// Names of the groups of animals (GROUPS = F M), in cohort order; empty:
  /// one group, whatever the count NGROUP records.
  std::vector<std::string> group_names;
  /// Covariates of the primary periods (COVARIATE name = ...), in the order given; names in capitals.
  std::vector<Covariate> covariates;
  /// The linear forms of the fit being set up, with their design once its
  /// set-up is read; none for a fit of the parameters themselves.
  std::optional<LinearFit> linear;

  /// Groups the cohorts and parameters are laid out for: 1 without names.
  int groups() const { return group_names.empty() ? 1 : static_cast<int>(group_names.size()); }

  /// Sizes POINT, POINTL, POINTU, PAR, PARL and PARU to NPAR parameters,
  /// and LABEL to at least NPAR; parameters already there keep their values,
  /// new ones start at 0 (a new label blank).
  void size_parameters() {
    for (Vec1<int>* v : {&POINT, &POINTL, &POINTU}) v->resize(NPAR);
    for (Vec1<double>* v : {&PAR, &PARL, &PARU}) v->resize(NPAR);
    if (LABEL.size() < NPAR) LABEL.resize(NPAR, std::string(LABLEN, ' '));
  }
  /// Makes the cohorts 1..cells.size() with cells[c-1] cells each: NCOHRT,
  /// NCLASS, and NOBS and P shaped to them, every count and probability 0.
  void set_cohorts(std::span<const int> cells) {
    NCOHRT = static_cast<int>(cells.size());
    design = RdDesign{};
    for (int c = 1; c <= NCOHRT; ++c) NCLASS(c) = cells[static_cast<std::size_t>(c - 1)];
    NOBS = Mat1<int>(cells);
    P = Mat1<double>(cells);
  }
};

}  // namespace quorvale
