#pragma once
// The INITIAL block: starting values for all parameters, for one, or from an
// earlier model of the sequence (RETAIN).

#include "estimate/setup.h"

namespace quorvale {

struct FitContext;

/// Reads an INITIAL block up to the next PROC, CONSTRAINT or STRUCTURE statement.
void inital(FitContext& run, SetupUse use = SetupUse::Estimate);

}  // namespace quorvale
