#pragma once
// The one-line report of a failure code from optmiz or matinv.

#include <string_view>

namespace quorvale {

class Listing;

/// Writes "*** ERROR MESSAGE IER=ccc FROM ROUTINE name" to the listing, after
/// reserving 2 lines; name is "OPTMIZ" or "MATINV". Called by the estimation
/// driver right after optmiz or matinv returned a non-zero code.
void numerr(Listing& listing, int ier, std::string_view name);

}  // namespace quorvale
