#pragma once
// Model structures: the usual hypotheses about survival, capture,
// recapture, temporary emigration and the recapture exponents of a robust
// design, said in words (PHI(T) P(T) C(P) GAMMA(MARKOV,.) THETA(1)) and
// expanded into the parameter map they stand for. The STRUCTURE statement
// and the converter's model templates both expand them here.
//
// In a model of several groups of animals a level with the group factor G
// (PHI(G*T), P(G), GAMMA(MARKOV,G*T)) gives every group its own values; a
// level without G is one set of values shared by all groups, held by the
// first group's parameters. A part not named takes its most general level,
// by group when the model has groups.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/linear_form.h"
#include "model/robust_layout.h"

namespace quorvale {

/// How one parameter S(I) is treated by a model.
struct Setting {
  /// Free, set equal to another parameter, or fixed at a value.
  enum class Kind : std::uint8_t { Free, Equal, Fixed };
  Kind kind = Kind::Free;  ///< the treatment
  int root = 0;            ///< Equal: the lower-numbered free parameter it shares
  double value = 0.0;      ///< Fixed: the constant
};

/// Treatment of every parameter S(1)..S(NPAR) of a model.
class ParameterMap {
 public:
  /// Every one of `npar` parameters free.
  explicit ParameterMap(int npar) : s_(static_cast<std::size_t>(npar) + 1) {}
  /// Number of parameters.
  int npar() const { return static_cast<int>(s_.size()) - 1; }
  /// Treatment of parameter i (1..npar).
  const Setting& operator[](int i) const { return s_[static_cast<std::size_t>(i)]; }
  /// Fixes parameter i at `value`.
  void fix(int i, double value);
  /// Makes parameters a and b one: the group of the higher root joins the lower root.
  void tie(int a, int b);
  /// Parameters estimated: the free ones.
  int estimated() const;
  /// True when both maps treat every parameter alike.
  bool operator==(const ParameterMap& other) const;

 private:
  /// The free parameter that i stands for (itself when free).
  int root_of(int i) const;
  std::vector<Setting> s_;
};

/// Temporary emigration hypothesis.
enum class Emigration : std::uint8_t {
  None,    ///< every animal alive is available: gamma'' = gamma' = 0
  Random,  ///< availability does not depend on the previous period: gamma'' = gamma'
  Markov,  ///< availability depends on availability in the previous period
};

/// How a probability varies: one for all, one per period, one per occasion.
enum class Variation : std::uint8_t { Constant, Period, Occasion };

/// One model in words. The defaults are the most general model of one group.
struct Structure {
  bool phi_by_period = true;                      ///< PHI(T), else PHI(.)
  Variation p = Variation::Occasion;              ///< P(.), P(T), P(T*O)
  bool c_is_p = false;                            ///< C(P): recapture equal to capture on its occasion
  Variation c = Variation::Occasion;              ///< C(.), C(T), C(T*O) when not C(P)
  Emigration emigration = Emigration::Markov;     ///< GAMMA(NONE), GAMMA(RANDOM,...), GAMMA(MARKOV,...)
  bool gamma_by_period = true;                    ///< GAMMA(...,T), else GAMMA(...,.)
  bool gamma_given = false;                       ///< GAMMA was named, else the default stands
  std::optional<Variation> theta = std::nullopt;  ///< THETA(.) or THETA(T); none: THETA(1), fixed at 1
  bool phi_by_group = false;                      ///< PHI(G), PHI(G*T): each group its own survival
  bool p_by_group = false;                        ///< P(G), P(G*T), P(G*T*O)
  bool c_by_group = false;                        ///< C(G), C(G*T), C(G*T*O); C(P) follows each group's p
  bool gamma_by_group = false;                    ///< GAMMA(RANDOM,G), GAMMA(MARKOV,G*T), ...
  bool theta_by_group = false;                    ///< THETA(G), THETA(G*T)
  /// Parts written as linear formulas on the logit scale (PHI(G+T),
  /// C(P+1), GAMMA(RANDOM,TREND)); such a part leaves each of its
  /// parameters free in the map, and its formula gives their predictors.
  std::optional<Formula> phi_form, p_form, c_form, gamma_form;
  /// Some part is a linear formula.
  bool linear() const { return phi_form || p_form || c_form || gamma_form; }
};

/// The words of a STRUCTURE statement, `words` each one part such as
/// "PHI(T)" or "gamma(markov,.)" (case does not matter), for a model of
/// `groups` groups (a part not named is by group when there are several).
/// A level that is none of the words above is read as a linear formula
/// (model/linear_form.h) in the covariates `covariates`. Returns the message
/// for an unknown part or level, a formula that cannot be read, or a part
/// given twice.
std::optional<std::string> parse_structure(const std::vector<std::string>& words, Structure& out, int groups = 1,
                                           std::span<const std::string> covariates = {});

/// The linear forms of a structure with formulas, laid out on the design
/// whose groups are named `group_names` and whose periods carry `covariates`.
LinearForms structure_forms(const Structure& s, const RobustLayout& design, const std::vector<std::string>& group_names,
                            std::span<const Covariate> covariates);

/// Message when the design cannot carry the structure: a group term in a
/// model without groups, or the GAMMA named, or the GAMMA(MARKOV,T) a
/// structure without GAMMA stands for (emigration needs a second period;
/// Markovian emigration or gamma's by period need a third).
std::optional<std::string> check_structure(const Structure& s, const RobustLayout& design);

/// Equalities of the last period's gamma's added to a structure's map.
enum class LastPeriod : std::uint8_t {
  Needed,  ///< those the structure needs to be identifiable (see structure_map)
  None,    ///< none
  Gamma2,  ///< gamma'' of the last period equal to that of the period before
  Both,    ///< that, and gamma' alike when there is a gamma' before it
};

/// The parameter map of a structure on the design, every group's block
/// included. With gamma's by period and survival by interval, gamma'' of
/// the last period is set equal to that of the period before (three periods
/// or more), and so is gamma' for Markovian emigration (four or more),
/// within each group: the last period's availability is confounded with
/// survival into it. Those equalities are named in `notes`. `last` other
/// than Needed adds the chosen ones whatever the survival.
ParameterMap structure_map(const Structure& s, const RobustLayout& design, std::vector<std::string>& notes,
                           LastPeriod last = LastPeriod::Needed);

/// The words of a STRUCTURE statement for the structure, for example
/// "PHI(T) P(G*T) C(P) GAMMA(MARKOV,.)"; THETA(1), the default, is left out.
std::string structure_words(const Structure& s);

/// The structure written as its words without blanks, for example
/// "PHI(T)P(T)C(P)GAM(MARKOV,.)"; THETA(1) is left out.
std::string structure_name(const Structure& s);

}  // namespace quorvale
