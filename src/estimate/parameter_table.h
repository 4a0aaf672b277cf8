#pragma once
// The parameters' bounds and the parameter table that PROC ESTIMATE and
// PROC IDENTIFIABLE print before they start.

#include <string>

namespace quorvale {

struct ModelStore;
struct FitContext;

/// The bounds of a parameter.
struct ParameterBounds {
  double lower = 0.0;
  double upper = 1.0;
};

/// The bounds of S(I): a bound set by another slot (POINTL, POINTU) is that
/// slot's value in PAR; otherwise the constant of S(I)'s own slot (PARL,
/// PARU of |POINT(I)|).
ParameterBounds parameter_bounds(const ModelStore& m, int I);

/// Text of a bound in the table, 8 columns: S(n) for a bound by slot n, n
/// written with at least `digits` digits (leading zeros), else the constant (F8.3).
std::string bound_text(int pointer, double constant, int digits);

/// True when v fits an I field of w columns (a minus sign takes one).
bool fits_field(int v, int w);

/// The descriptor "Iw", widened to the columns v needs when it does not fit:
/// parameter numbers, slots and counts reach 420, and a number that does not
/// fit gets a field just wide enough instead of a row of asterisks.
std::string int_field(int v, int w);

/// Whose table is printed: the two procedures lay it out differently.
enum class ParameterTableFor {
  Estimate,  ///< PROC ESTIMATE: start values on a bound are moved 0.01 inside
  Identify,  ///< PROC IDENTIFIABLE: the values stay as given
};

/// Prints the parameter table; a parameter whose value and bounds contradict
/// each other is warned about and bounded by 0 and 1 instead.
void parameter_table(FitContext& run, ParameterTableFor use);

}  // namespace quorvale
