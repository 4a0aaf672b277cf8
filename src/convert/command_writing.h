#pragma once
// The pieces of a command file the converter writes, shared by the command
// file of converted data and that of a planned study: comments, PROC MODEL
// with its labels and cohorts, and the competing models.

#include <string>
#include <vector>

#include "convert/design.h"
#include "convert/plan.h"

namespace quorvale::convert::writing {

/// Appends a comment of running text, word-wrapped, the first line opened by
/// "/*" and the others indented; a ";" or "*/" in the text is made harmless.
void put_comment(std::string& out, std::string text);

/// The occasions of every period as running text: "2, 2, 4, 5 and 2".
std::string occasions_text(const Design& d);

/// "S(n)".
std::string S(int n);

/// A value as the command file writes it (six significant digits).
std::string value_text(double v);

/// PROC MODEL with the design, the covariates of the periods, the labels
/// and the cohorts.
void put_model(std::string& out, const Design& d, const std::vector<Cohort>& cohorts,
               const std::vector<Covariate>& covariates = {});

/// The model templates (those numbered in `chosen`, all when it is empty),
/// each followed by the `variants` that follow it, and with `test` PROC TEST.
void put_models(std::string& out, const Design& d, const std::vector<int>& chosen = {}, bool test = true,
                const std::vector<LinearVariant>& variants = {});

/// Lines of items such as "S(33)=S(32);" after `first` (" CONSTRAINT;",
/// " INITIAL;"), several to a line.
void put_items(std::string& out, const std::string& first, const std::vector<std::string>& items);

}  // namespace quorvale::convert::writing
