#include "compare/test_listing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "base/text.h"
#include "listing/listing.h"

namespace quorvale {

/// Names without their trailing blanks, separated by commas.
std::string name_list(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) {
    if (!out.empty()) out += ", ";
    out += n.substr(0, n.find_last_not_of(' ') + 1);
  }
  return out;
}

/// After the tables: the fits of this sequence that did not converge and
/// those with an estimate on a bound (with the parameters on it).
void print_fit_notes(Listing& lst, std::span<const FitReport> sequence) {
  std::vector<std::string> not_converged;
  std::vector<std::string> on_bound;
  for (const FitReport& f : sequence) {
    const std::string name = f.full_name.empty() ? f.name : f.full_name;
    if (f.optimizer != OptimizerCode::Converged) not_converged.push_back(name);
    std::string params;
    for (const ParameterEstimate& p : f.parameters) {
      if (!p.on_bound) continue;
      if (!params.empty()) params += ' ';
      params += "S(";
      params += std::to_string(p.index);
      params += ')';
    }
    if (!params.empty()) on_bound.push_back(trimmed(name) + " (" + params + ")");
  }
  if (!not_converged.empty()) lst.warn("Fits that did not converge: " + name_list(not_converged) + ".");
  if (!on_bound.empty()) lst.warn("Fits with an estimate on a bound: " + name_list(on_bound) + ".");
}

/// Prints the likelihood-ratio tests.
void print_ratio_tests(Listing& lst, const ModelComparison& c) {
  static const Layout title("(/21X,A)");
  static const Layout heading("(1X,A)");
  static const Layout row("(1X,A20,2X,A20,2X,F10.3,4X,I3,7X,F6.4)");
  lst.linchk(5);
  lst.put(title, {"Likelihood Ratio Tests Between Models"});
  lst.put(heading, {" General              Reduced                           Degrees   Pr(Larger "});
  lst.put(heading, {" Submodel             Submodel              Chi-square  Freedom  Chi-square)"});
  lst.put(heading, {"----------           ----------             ----------  -------  -----------"});
  for (const RatioTest& t : c.tests) {
    if (t.error) lst.warn("ERROR with chi-square probability.");
    lst.linchk(1);
    lst.put(row, {c.ranked[t.general].name, c.ranked[t.reduced].name, t.chi, t.df, t.probability});
  }
  std::string not_nested;
  std::string unknown;
  for (const RatioTest& t : c.tests) {
    if (t.nested) continue;
    const ComparedModel& g = c.ranked[t.general];
    const ComparedModel& r = c.ranked[t.reduced];
    std::string& list = t.maps_known ? not_nested : unknown;
    list += (list.empty() ? "" : "; ") + g.full_name + " vs " + r.full_name;
  }
  if (not_nested.empty() && unknown.empty()) return;
  std::string text;
  if (!not_nested.empty()) text = "Not nested, their likelihood-ratio test does not apply: " + not_nested + ".";
  if (!unknown.empty()) {
    text += (text.empty() ? "" : " ");
    text += "Not known to be nested (a model of the model file keeps no parameter map): " + unknown + ".";
  }
  lst.warn(text);
}

/// Prints the model-averaged estimates.
void print_average(Listing& lst, const ModelAverage& a) {
  static const Layout title("(//25X,A)");
  static const Layout text("(/3X,A)");
  static const Layout line("(3X,A)");
  static const Layout weight_line("(3X,A,A,A,F6.4,A)");
  static const Layout heading("(1X,A)");
  static const Layout first_heading("(/1X,A)");
  static const Layout row("(I4,2X,A20,4(1X,G12.6))");
  static const Layout period_row("(I6,2X,18X,4(1X,G12.6))");
  static const Layout row_unavailable("(I4,2X,A20,1X,A12)");
  static const Layout period_unavailable("(I6,2X,18X,1X,A12)");
  lst.linchk(static_cast<int>(a.parameters.size() + a.abundance.size()) + 10);
  lst.put(title, {"Model-averaged estimates"});
  if (a.models.empty()) {
    lst.put(text, {"No converged fit of this sequence to average."});
  } else {
    const std::string how = std::string("Weights from ") + (a.quasi ? "QAICc" : "AICc") + " over " +
                            std::to_string(a.models.size()) + (a.models.size() == 1 ? " model" : " models") +
                            (a.quasi ? ", standard errors with c-hat" : "") + ".";
    lst.put(text, {how});
    lst.put(weight_line, {"Best model: ", a.models[a.best].name, " (weight ", a.models[a.best].weight, ")"});
  }
  if (!a.not_converged.empty()) {
    std::string names;
    for (const std::string& n : a.not_converged) names += (names.empty() ? "" : ", ") + n;
    lst.put(line, {"Left out, not converged: " + names});
  }
  if (!a.impossible.empty()) {
    std::string names;
    for (const std::string& n : a.impossible) names += (names.empty() ? "" : ", ") + n;
    lst.put(line, {"Left out, resting on an impossible point: " + names});
  }
  if (a.from_file > 0) {
    lst.put(line, {"Left out: " + std::to_string(a.from_file) + " model(s) of the model file (no estimates)."});
  }
  if (a.models.empty()) return;
  lst.put(first_heading, {"  I  Parameter              Estimate    Uncond. SE      Lower        Upper"});
  lst.put(heading, {" ---  -------------------- ------------ ------------ ------------ ------------"});
  for (const AveragedValue& v : a.parameters) {
    if (v.available) {
      lst.put(row, {v.index, v.label, v.estimate, v.se, v.ci.lower, v.ci.upper});
    } else {
      lst.put(row_unavailable, {v.index, v.label, " unavailable"});
    }
  }
  if (a.abundance.empty()) return;
  lst.put(first_heading, {"Period                      N-hat       Uncond. SE      Lower        Upper"});
  lst.put(heading, {"------                   ------------ ------------ ------------ ------------"});
  for (const AveragedValue& v : a.abundance) {
    if (v.available) {
      lst.put(period_row, {v.index, v.estimate, v.se, v.ci.lower, v.ci.upper});
    } else {
      lst.put(period_unavailable, {v.index, " unavailable"});
    }
  }
}

/// Prints the criteria tables (table order, then ranked).
void print_criteria(Listing& lst, const ModelComparison& c) {
  static const Layout general_line("(/a,a,a,i6,a,f6.2)");
  static const Layout first_row("(I2,1x,a,I7,5(1X,G12.6))");
  static const Layout second_heading(
      "(/2X,8x,15X,4hLog-/2X,8HSubmodel,12X,17Hlikelihood    NDF,"
      "4X,3HAIC,5X,5HG-O-F,2X,4HAICC,5X,4HQAIC,3X,5HQAICC)");
  static const Layout second_underline(
      "(1X,9(1H-),12X,10(1H-),4X,3(1H-),1X,9(1H-),1X,6(1H-),1x,7(1h-),1X,7(1h-),1X,7(1h-))");
  static const Layout second_row("(I2,1X,A20,1X,G10.4,I5,1X,G10.5,1X,F5.3,1X,3(G9.4))");
  if (c.chat_without_dfc) lst.warn("Most general model has DFC = 0; c-hat set to 1.");
  if (!c.not_finite.empty()) {
    lst.warn("Log-likelihood or criterion not finite, ranked last: " + name_list(c.not_finite) + ".");
  }
  if (!c.impossible.empty()) {
    lst.warn("Fits resting on an impossible point, ranked last with no weight: " + name_list(c.impossible) + ".");
  }
  lst.put_free({" "});
  lst.put_free({"Modified AIC calculations: (see ", "Model Selection and Multimodel Inference:"});
  lst.put_free({"A Practical Information-Theoretic Approach, 2nd ed., by K. P. Burnham and D. R. Anderson, 2002)"});
  lst.put(general_line, {" Most General Model: ", c.most_general, "  n=", c.n, " c=", c.chat});
  lst.put_free({" "});
  lst.put_free({" Submodel                NPAR     AIC", "         AICc         QAIC         QAICc"});
  lst.put_free({" -------------------      ---  -----", "--    ---------      -------     --------"});
  for (const ComparedModel& m : c.models) {
    lst.put(first_row, {m.order, m.name, m.K, m.crit[kAic], m.crit[kAicc], m.crit[kQaic], m.crit[kQaicc]});
  }
  lst.linchk(static_cast<int>(c.ranked.size()) + 5);
  lst.put(second_heading, {});
  lst.put(second_underline, {});
  for (const ComparedModel& m : c.ranked) {
    lst.put(second_row, {m.order, m.name, m.lnL, m.NDF, m.crit[kAic], m.PG, m.crit[kAicc], m.crit[kQaic],
                         m.crit[kQaicc]});
  }
}

}  // namespace quorvale
