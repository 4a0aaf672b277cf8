#pragma once
// Linear models on the logit scale: a part of a STRUCTURE (PHI, P, C or
// GAMMA) written as a formula, such as PHI(G+T), PHI(TREND), P(T+EFFORT) or
// C(P+1), makes each of its probabilities logit^-1 of a linear predictor in
// coefficients beta. This file reads the formulas, lays out the columns they
// stand for on a robust design, and builds the design matrix of a fit: one
// row per estimated slot, one column per coefficient.
//
// A formula is a sum of terms, each a product of factors: 1 (a constant), T
// (period, or interval for survival, as a factor), G (group), O (occasion
// within the period, for p and c), TREND (the period or interval number as
// a number), a covariate of the periods (COVARIATE in PROC MODEL) and, for
// c only, P (the capture probability's predictor on the same occasion, taken
// as it is). A*B stands for A + B + A:B. The formula has a constant unless
// it holds P; then 1 adds one. A factor is coded by its levels after the
// first when the term without it is in the formula (the constant counting
// as the empty term), else by all its levels.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvale {

class RobustLayout;

/// A covariate of the primary periods: one value per period.
struct Covariate {
  std::string name;            ///< a letter then letters and digits, up to kCovariateNameLength characters
  std::vector<double> values;  ///< values[ip - 1]: the value in period ip
};

/// Longest name of a covariate.
inline constexpr std::size_t kCovariateNameLength = 8;

/// Why `name` cannot name a covariate (the rule above, or a word the
/// formulas take for themselves); none when it can.
std::optional<std::string> covariate_name_fault(std::string_view name);

/// The message for a COVARIATE statement outside PROC MODEL, where the
/// covariates belong with the periods they describe.
std::string covariate_outside_model();

/// One factor of a formula's term.
struct FormulaFactor {
  enum class Kind : std::uint8_t { Period, Group, Occasion, Trend, Covariate, Capture };
  Kind kind = Kind::Period;
  std::string name;  ///< the covariate's name (Covariate only)
  bool operator==(const FormulaFactor&) const = default;
};

/// A formula: the constant and its terms, main effects before interactions.
struct Formula {
  std::string text;                               ///< as written, in capitals
  bool constant = true;                           ///< the formula has a constant (1)
  bool capture = false;                           ///< C(P+...): adds p's predictor on the same occasion
  std::vector<std::vector<FormulaFactor>> terms;  ///< each a product of factors, without P
  /// True when a term is the period factor T alone.
  bool has_period_factor() const;
  bool operator==(const Formula&) const = default;
};

/// Reads the formula `text` (capitals) of part `part` ("PHI", "P", "C",
/// "GAMMA"), whose covariates are `covariates`. Returns the message for an
/// unknown term (naming the covariates there are), a factor in a product
/// with itself, P outside C or in a product, O outside P and C, or an empty
/// term; `raw` is the part as written, for the messages.
std::optional<std::string> parse_formula(const std::string& text, std::string_view part, std::string_view raw,
                                         std::span<const std::string> covariates, Formula& out);

/// A sparse row of a design: (column, value) pairs in column order.
using SparseRow = std::vector<std::pair<int, double>>;

/// The linear forms of a structure on a design: the columns its formulas
/// stand for and, for every parameter, its row in them.
struct LinearForms {
  std::vector<std::string> names;  ///< by column: "PHI:G[M]", "P:EFFORT", "C:1"
  std::vector<std::string> parts;  ///< by column: the part ("PHI", "P", "C", "GAMMA", "GAMMA''", "GAMMA'")
  /// By parameter 1..NPAR (index 0 unused): the part it belongs to, empty
  /// for a parameter no part reads.
  std::vector<std::string> part;
  /// By parameter: true when a formula gives its row.
  std::vector<bool> formula;
  /// By parameter with a formula: its row in the columns.
  std::vector<SparseRow> row;
  /// By parameter: the capture parameter whose predictor C(P+...) adds, 0 none.
  std::vector<int> capture;
};

/// Forms for a design of `npar` parameters with no formula yet: every
/// parameter the design reads named by its part.
LinearForms forms_of_design(const RobustLayout& design);

/// Which part's parameters a formula is laid out on.
enum class FormulaPart : std::uint8_t { Phi, P, C, Gamma, Gamma2, Gamma1 };

/// Adds to `forms` the columns of `f` for part `which` of the design (all
/// groups), whose group names are `group_names` (empty: one group) and
/// covariates `covariates`, and the rows of the part's parameters. Columns
/// no parameter of the part reaches (a crossing with an occasion that some
/// periods do not have) are left out.
void lay_out_formula(const Formula& f, FormulaPart which, const RobustLayout& design,
                     const std::vector<std::string>& group_names, std::span<const Covariate> covariates,
                     LinearForms& forms);

/// The design matrix of a fit with linear forms: one row per estimated slot
/// 1..NEST, one column per coefficient.
struct LinearDesign {
  int slots = 0;                   ///< rows: NEST
  std::vector<std::string> names;  ///< by coefficient
  std::vector<std::string> parts;  ///< by coefficient: its part
  std::vector<double> X;           ///< slots x coefficients, row by row
  int coefficients() const { return static_cast<int>(names.size()); }
  double at(int s, int k) const {  ///< row s (1..slots), column k (0-based)
    return X[static_cast<std::size_t>(s - 1) * names.size() + static_cast<std::size_t>(k)];
  }
  /// The slot values logit^-1(X beta), slot s into out[s - 1].
  void probabilities(std::span<const double> beta, std::span<double> out) const;
  /// The least-squares coefficients of the slot values `start` on the logit
  /// scale (each kept 0.001 inside 0..1): the start of a fit, and the
  /// coefficients of values the design can hold exactly.
  std::vector<double> start(std::span<const double> start) const;
};

/// The estimated slots of a parameter map as the fit sees them: POINT(I)
/// for parameter I (1..NPAR; negative when fixed) and whether slot k has
/// constant bounds 0 and 1.
struct SlotMap {
  std::vector<int> point;          ///< by parameter 1..NPAR (index 0 unused)
  std::vector<bool> unit_bounds;   ///< by parameter: constant bounds 0 and 1
  int nest = 0;                    ///< slots 1..nest
};

/// The message refusing a bound on S(`parameter`) other than 0 and 1 in a
/// fit with linear forms.
std::string bound_refusal(int parameter);

/// Builds the design of `forms` on the slots of `map`: a slot reached by a
/// formula takes its row (and C(P+...) adds the row of p's slot); every other
/// slot gets a coefficient of its own, named by its part and lowest
/// parameter ("P:S(3)"). Returns the message for a bound other than 0 and 1,
/// parameters set equal whose forms differ, a C(P+...) whose p is fixed, a
/// coefficient no estimated slot reaches, or a design of deficient rank
/// (naming the confounded coefficients); none when `out` is set.
std::optional<std::string> build_linear_design(const LinearForms& forms, const SlotMap& map, LinearDesign& out);

/// A fit with linear forms: the forms its STRUCTURE laid out, their design
/// on the fit's slots and the coefficients its optimizer starts from (both
/// set once the set-up has been read).
struct LinearFit {
  LinearForms forms;
  LinearDesign design;
  std::vector<double> start;
};

/// logit^-1(eta) = 1 / (1 + exp(-eta)).
double inverse_logit(double eta);

}  // namespace quorvale
