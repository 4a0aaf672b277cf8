#pragma once
// What PROC TEST writes in the listing: the criteria tables, the
// likelihood-ratio tests, the notes on the fits and the model average.

#include <span>
#include <string>
#include <vector>

#include "compare/comparison.h"

namespace quorvale {

class Listing;

/// The four criteria, numbered as the columns of the criteria table.
enum Criterion : int { kAic = 0, kAicc = 1, kQaic = 2, kQaicc = 3 };

/// Names without their trailing blanks, separated by commas.
std::string name_list(const std::vector<std::string>& names);
/// After the tables: the fits of this sequence that did not converge and
/// those with an estimate on a bound (with the parameters on it).
void print_fit_notes(Listing& lst, std::span<const FitReport> sequence);
/// The likelihood-ratio tests of the ranked models.
void print_ratio_tests(Listing& lst, const ModelComparison& c);
/// The model average.
void print_average(Listing& lst, const ModelAverage& a);
/// The criteria tables (table order, then ranked).
void print_criteria(Listing& lst, const ModelComparison& c);

}  // namespace quorvale
