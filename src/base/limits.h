#pragma once
// Dimension limits of the program. Each can be changed at build time by
// defining the macro of the same name (for example -DQUORVALE_MAXPAR=600);
// the start-up dimension block prints the values compiled in.

#ifndef QUORVALE_MAXPAR
#define QUORVALE_MAXPAR 420
#endif
#ifndef QUORVALE_MAXCHT
#define QUORVALE_MAXCHT 1200
#endif
#ifndef QUORVALE_MXCLAS
#define QUORVALE_MXCLAS 64
#endif
#ifndef QUORVALE_MAXPRM
#define QUORVALE_MAXPRM 120
#endif
#ifndef QUORVALE_MAXMOD
#define QUORVALE_MAXMOD 30
#endif

namespace quorvale {

/// Most parameters S(1)..S(NPAR) a model may have.
inline constexpr int MAXPAR = QUORVALE_MAXPAR;
/// Most cohorts a model may have.
inline constexpr int MAXCHT = QUORVALE_MAXCHT;
/// Most classes (cells) in one cohort, the remainder cell included.
inline constexpr int MXCLAS = QUORVALE_MXCLAS;
/// Most primary occasions in the PROC MODEL description.
inline constexpr int MAXPRM = QUORVALE_MAXPRM;
/// Most models kept for PROC TEST in one model sequence.
inline constexpr int MAXMOD = QUORVALE_MAXMOD;
/// Characters in the command buffer.
inline constexpr int MAXCHR = 1320;
/// Tokens kept for one statement.
inline constexpr int MAXTOK = 140;
/// Characters in one token.
inline constexpr int TOKLEN = 10;
/// Most primary periods the likelihood accepts.
inline constexpr int MAXPER = 1000;

static_assert(MAXPAR >= 1 && MXCLAS >= 2 && MAXCHT >= 1 && MAXMOD >= 1 && MAXPRM >= 1);

}  // namespace quorvale
