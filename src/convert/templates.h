#pragma once
// Ready model templates for a converted data set: the usual competing
// hypotheses about temporary emigration, survival and capture, each as a
// parameter map (free, equal to a lower-numbered parameter, or fixed) that
// the converter writes as a CONSTRAINT block.

#include <cstdint>
#include <string>
#include <vector>

#include "convert/design.h"
#include "model/structure.h"

namespace quorvale::convert {

using quorvale::Emigration;
using quorvale::ParameterMap;
using quorvale::Setting;

/// One competing hypothesis of the set: capture by period or constant, with
/// recapture equal to capture and theta fixed at 1.
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

/// The structure of a hypothesis.
Structure structure_of(const ModelSpec& spec);

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
