#pragma once
// The model store: the cohorts and their cell counts, the parameters with
// their values, bounds and constraint map, the cell probabilities, the
// parameter labels, the estimation options in force and the robust-design
// description given to PROC MODEL. One instance per run.

#include <csignal>
#include <string>

// <signal.h> defines NSIG as the number of signals; the store's field of that
// name (significant digits) must not be hidden by it.
#ifdef NSIG
#undef NSIG
#endif

#include "model/arrays.h"
#include "base/limits.h"

namespace quorvale {

/// Width of a parameter label.
inline constexpr int LABLEN = 80;

/// Everything PROC MODEL reads and the estimation procedures share.
struct ModelStore {
  // --- integer model data
  Mat1<int> NOBS{MXCLAS, MAXCHT};  ///< observed count of class k of cohort c
  Vec1<int> NCLASS{MAXCHT};        ///< classes of cohort c, remainder cell included
  int NCOHRT = 0;                  ///< number of cohorts
  Vec1<int> NREL{MAXCHT};          ///< size of cohort c
  int NPAR = 0;                    ///< parameters S(1)..S(NPAR)
  int NEQUAL = 0;                  ///< equality constraints in force
  int NFIXED = 0;                  ///< parameters fixed at a value
  int NEST = 0;                    ///< parameters estimated: NPAR - NEQUAL - NFIXED
  Vec1<int> POINT{MAXPAR};   ///< slot of parameter i (negative: fixed at PAR(-k))
  Vec1<int> POINTL{MAXPAR};  ///< 0: constant lower bound; k: bounded below by slot k
  Vec1<int> POINTU{MAXPAR};  ///< 0: constant upper bound; k: bounded above by slot k
  int NSIG = 0;    ///< significant digits asked of the optimizer
  int MAXFN = 0;   ///< limit on function evaluations
  int MODDEF = 0;  ///< 1 once a PROC MODEL has been completed
  int ISINE = 0;   ///< 1 sine transform, 0 absolute-value transform
  int NOTRAN = 0;  ///< 1: no transform, S(i) is PAR itself
  int NOVAR = 0;   ///< 1: no variance-covariance display
  int NORMAL = 0;  ///< 1 when PROC MODEL was given NORMALIZE (recorded only)
  int NOBIN = 0;   ///< 1: binomial coefficients left out of the likelihood
  int ADDCEL = 0;  ///< 1: every cohort gets a remainder cell
  int IEROPT = 0;  ///< return code of the last optimization
  int IERINV = 0;  ///< return code of the last inversion
  bool renumbered = false;  ///< the map's slots are renumbered (a CONSTRAINT block ended)

  // --- real model data
  Vec1<double> PAR{MAXPAR};       ///< working values by slot
  Vec1<double> PARL{MAXPAR};      ///< constant lower bounds by slot
  Vec1<double> PARU{MAXPAR};      ///< constant upper bounds by slot
  Mat1<double> P{MXCLAS, MAXCHT};  ///< probability of class k of cohort c

  // --- text model data
  std::string EXPR = std::string(MAXCHR, ' ');  ///< expression of the cell being read
  Vec1<std::string> LABEL{MAXPAR, std::string(LABLEN, ' ')};  ///< label of parameter i

  // --- robust-design description (printed by PROC MODEL only)
  Vec1<double> TINT{MAXPRM, 0.0};  ///< interval between primary occasions k and k+1
  int NPRIM = 0;                   ///< number of primary occasions
  Vec1<int> NSEC{MAXPRM};          ///< secondary occasions within primary occasion k
  int IRECOV = 0;                  ///< 1 when RECOVERIES was given
  int NGROUP = 0;                  ///< number of groups
};

}  // namespace quorvale
