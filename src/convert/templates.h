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
/// recapture equal to capture and theta fixed at 1. With several groups of
/// animals each part is either the same for all groups or each group's own.
struct ModelSpec {
  Emigration emigration = Emigration::None;  ///< temporary emigration
  bool gamma_by_period = false;              ///< gamma's vary by period (else constant)
  bool phi_by_period = false;                ///< survival varies by period (else constant)
  bool p_by_period = true;                   ///< capture varies by period (else one for all periods)
  bool gamma_by_group = false;               ///< every group has its own gamma's (else shared)
  bool phi_by_group = false;                 ///< every group has its own survival (else shared)
  bool p_by_group = false;                   ///< every group has its own capture (else shared)
};

/// A model written into the command file.
struct ModelTemplate {
  ModelSpec spec;                  ///< the hypothesis
  std::string name;                ///< NAME of the PROC ESTIMATE statement: two words of at most 10 characters
  std::string description;         ///< one line saying what the model assumes
  std::vector<std::string> notes;  ///< constraints added to make it identifiable, in words
  ParameterMap map;                ///< the parameter map
};

/// The structure of a hypothesis for one group (the group levels left out).
Structure structure_of(const ModelSpec& spec);

/// The words of the STRUCTURE statement of a hypothesis, such as
/// "PHI(T) P(T) C(P) GAMMA(RANDOM,.)"; a part by group has G in its level
/// ("PHI(G*T)", "GAMMA(RANDOM,G)"), a part without G is shared by the groups.
std::string template_words(const ModelSpec& spec);

/// The parameter map of a hypothesis on a design of several groups (one
/// group: that of its structure): within every group's block the map of one
/// group, and each part not by group tied across the groups to group 1's.
/// The equalities the structure adds within each group are named in `notes`.
ParameterMap grouped_map(const Design& design, const ModelSpec& spec, std::vector<std::string>& notes);

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
/// is left out, with a line saying why in `omitted`. For several groups the
/// set is that of grouped_hypotheses().
std::vector<ModelTemplate> standard_models(const Design& design, std::vector<std::string>& omitted);

/// The hypotheses of a design of several groups: capture by group and
/// period (C(P)) in every one; no, random or Markovian temporary emigration
/// with constant gamma's, shared by the groups or each group's own; survival
/// by period, shared or each group's own.
std::vector<ModelSpec> grouped_hypotheses();

}  // namespace quorvale::convert
