#pragma once
// Ready model templates for a converted data set: the usual competing
// hypotheses about temporary emigration, survival and capture, each as a
// parameter map (free, equal to a lower-numbered parameter, or fixed) that
// the converter writes as a CONSTRAINT block.

#include <cstdint>
#include <string>
#include <vector>

#include "convert/design.h"

namespace quorvale::convert {

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

/// One competing hypothesis of the set.
struct ModelSpec {
  Emigration emigration = Emigration::None;  ///< temporary emigration
  bool gamma_by_period = false;              ///< gamma's vary by period (else constant)
  bool phi_by_period = false;                ///< survival varies by period (else constant)
  bool p_by_period = true;                   ///< capture varies by period (else one for all periods)
};

/// A model written into the command file.
struct ModelTemplate {
  ModelSpec spec;                  ///< the hypothesis
  std::string name;                ///< NAME of the PROC ESTIMATE statement: two words of at most 10 characters
  std::string description;         ///< one line saying what the model assumes
  std::vector<std::string> notes;  ///< constraints added to make it identifiable, in words
  ParameterMap map;                ///< the parameter map
};

/// The parameter map of a hypothesis. Within a period capture and recapture
/// are one probability (c = p on every occasion), theta is fixed at 1. With
/// `last_gamma_tied` (gamma's by period only) gamma'' of the last period is
/// set equal to that of the period before, and so is gamma' when
/// `last_gamma1_tied` is also given and there is a gamma' before it.
ParameterMap hypothesis_map(const Design& design, const ModelSpec& spec, bool last_gamma_tied = false,
                            bool last_gamma1_tied = false);

/// Models kept for this design: the set of hypotheses, each made
/// identifiable by tying the last period's gamma's where the design needs
/// it; a hypothesis that stays unidentifiable or repeats an earlier model
/// is left out, with a line saying why in `omitted`.
std::vector<ModelTemplate> standard_models(const Design& design, std::vector<std::string>& omitted);

}  // namespace quorvale::convert
