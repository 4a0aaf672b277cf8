#pragma once
// The command file written for a converted data set: PROC TITLE, PROC MODEL
// with the design, the labels and every cohort, optionally the model
// templates as PROC ESTIMATE blocks and PROC TEST, and PROC STOP.

#include <optional>
#include <string>
#include <vector>

#include "convert/design.h"
#include "convert/inp.h"
#include "convert/plan.h"
#include "convert/templates.h"

namespace quorvale::convert {

/// What the command file is to hold besides the model.
struct CommandOptions {
  std::string source;   ///< name of the input, shown in the title and the header comment
  bool models = false;  ///< write the model templates and PROC TEST
};

/// Longest line written: the program reads 80 columns of every line.
inline constexpr std::size_t kLineWidth = 78;

/// The complete command file for `histories` under `design`. Every line
/// fits kLineWidth columns, every continuation line begins with a blank.
/// `structures`, when given, are the models written instead of the
/// templates (--models=LIST), each the words of a STRUCTURE statement, with
/// PROC TEST. Throws ConvertError (line 0, naming --models) for one that does
/// not parse, that the design cannot carry or that it cannot identify.
std::string command_file(const Design& design, const std::vector<History>& histories, const CommandOptions& options,
                         const std::vector<std::string>& structures = {});

/// What a planned study's command file holds besides the model.
struct PlanOptions {
  int nsim = 100;               ///< replicates of PROC SIMULATE
  int seed = 1;                 ///< its SEED
  std::vector<int> submodels;   ///< numbers of the model templates refitted; empty: all
  /// What moves survival on the logit scale in the truth: the command file
  /// then holds the covariates, and each chosen model is followed by its
  /// linear variant (see linear_variants).
  SurvivalTerms survival;
};

/// The command file of a planned study: PROC MODEL with the cohorts
/// expected under `truths` (one per group) and the covariates of the
/// survival terms, PROC SIMULATE with the truths as the generating model and
/// COVERAGE, and the chosen model templates as its submodels, each followed
/// by its linear variant when survival has terms. Throws ConvertError naming
/// --submodels for a number with no model, and naming --phi-trend or
/// --phi-effect for terms a variant cannot carry.
std::string plan_command_file(const Design& design, const std::vector<Truth>& truths, const PlanOptions& options);

/// What a design with periods of one secondary occasion cannot give,
/// naming those periods; none when every period has two or more. The
/// command file carries it as a comment and the converter warns with it.
std::optional<std::string> single_occasion_note(const Design& design);

/// The CONSTRAINT block of a model: " CONSTRAINT;" and the equalities and
/// fixed values of `map`, several to a line.
std::string constraint_block(const ParameterMap& map);

/// The cell expression of history h (0-based) of a closed cohort of period
/// ip, for reading: S(p) or (1-S(p)) up to the first capture, S(c) or
/// (1-S(c)) after it, occasion 1 first.
std::string closed_expression(const Design& design, int ip, int h);

}  // namespace quorvale::convert
