#pragma once
// The listing of a fit's results, rendered from its completed FitReport.

#include "estimate/fit_report.h"

namespace quorvale {

struct ModelStore;
class Listing;

/// How much of a fit the listing shows.
enum class ReportDetail {
  Full,   ///< every table of the results
  Quiet,  ///< only the error lines, the warnings and the "@@" line
};

/// Writes a completed report's results: the inversion's error line, the
/// tables (Full only), the "@@" line and the warnings, in the listing's
/// order. `m` gives the labels as set up and the NOVAR option.
void print_results(Listing& lst, const ModelStore& m, const FitReport& report, ReportDetail detail);

}  // namespace quorvale
