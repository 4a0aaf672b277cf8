#include "estimate/estmat.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "estimate/context.h"
#include "base/text.h"
#include "estimate/consrt.h"
#include "estimate/exact_objective.h"
#include "estimate/linear_fit.h"
#include "estimate/numerr.h"
#include "estimate/optimizer.h"
#include "estimate/parameter_table.h"
#include "estimate/results.h"
#include "estimate/results_listing.h"
#include "estimate/setup.h"
#include "input/fields.h"
#include "input/option_words.h"
#include "model/gradient.h"
#include "model/information.h"
#include "model/likelihood.h"
#include "model/ss.h"

namespace quorvale {

namespace {

/// Closeness to a bound below which a start value is moved inside (0.01 in single precision).
constexpr double kNudge = static_cast<double>(0.01F);
/// Tolerance of the cell-sum check (0.0001 in single precision).
constexpr double kCellSumTolerance = static_cast<double>(0.0001F);

}  // namespace

/// The options of PROC ESTIMATE.
constexpr OptionSpec kEstimateOptions[] = {
    {"NSIG", OptionForm::Value},    {"MAXFN", OptionForm::Value},      {"NAME", OptionForm::Name},
    {"DERIVED", OptionForm::Flag},  {"NOVAR", OptionForm::Flag},       {"NOVC", OptionForm::Flag},
    {"NOBINCOF", OptionForm::Flag}, {"NOBINOMIAL", OptionForm::Flag},  {"TRANSFORM", OptionForm::Value},
    {"GRADIENT", OptionForm::Value},
};

std::span<const OptionSpec> estimate_options() { return kEstimateOptions; }

namespace {

/// Reads the options of the PROC ESTIMATE statement into the store and the
/// report: the name as typed (the table keeps its first 20 characters, two
/// words of 10), empty without NAME, and DERIVED. Words no option takes are
/// warned about.
void read_options(FitContext& run, FitReport& report) {
  ModelStore& m = run.model;
  SavedModels& t = run.saved;
  for (int L = 3; L <= run.status.NTOK; ++L) {
    const Token& tok = run.token(L);
    if (tok == "NSIG") {
      m.NSIG = option_int(run, L);
      // The optimizer asks for 10^-NSIG; beyond double precision or at 1 and
      // more it would stop at once and call the start a converged fit.
      if (m.NSIG < 1 || m.NSIG > 15) run.listing.error("NSIG must be from 1 to 15.");
    } else if (tok == "MAXFN") {
      m.MAXFN = option_int(run, L);
    } else if (tok == "NAME") {
      t.NAMSAV(t.NMOD) = std::string(option_value(run, L).view()) + std::string(10, ' ');
    } else if (tok == "DERIVED") {
      report.show_derived = true;
    } else if (tok == "NOVAR" || tok == "NOVC") {
      m.NOVAR = 1;
    } else if (tok == "NOBINCOF" || tok == "NOBINOMIAL") {
      m.NOBIN = 1;
    } else if (tok == "TRANSFORM") {
      const Token& v = option_value(run, L);
      if (v == "ABS") {
        m.ISINE = 0;
      } else if (v[0] == 'N' && v[1] == 'O') {
        m.NOTRAN = 1;
      }
    } else if (tok == "GRADIENT") {
      const Token& v = option_value(run, L);
      if (v == "EXACT") {
        m.exact_gradient = true;
      } else if (v == "DIFFERENCE") {
        m.exact_gradient = false;
      } else {
        run.listing.error("GRADIENT must be EXACT or DIFFERENCE.");
      }
    } else if (L >= 4 && run.token(L - 3) == "NAME") {
      // The second word of a two-word name fills characters 11-20.
      t.NAMSAV(t.NMOD).replace(10, 10, tok.view());
    }
  }
  const OptionScan scan = scan_options(run.instr, run.status.NTOK, kEstimateOptions);
  report.full_name.clear();
  for (const std::string& word : scan.name_words) {
    if (!report.full_name.empty()) report.full_name += ' ';
    report.full_name += word;
  }
  // PROC SIMULATE's own statement sets up the generating model; its options are its own.
  if (run.token(2) == "ESTIMATE") run.reader.warn_unknown_options(scan, "PROC ESTIMATE");
}

/// Prints the counts of parameters in the model, set equal, fixed and estimated.
void print_counts(FitContext& run) {
  static const Layout in_model("(/6X,33HNumber of parameters in model  = ,i3)");
  static const Layout set_equal("(/6X,33HNumber of parameters set equal = ,i3)");
  static const Layout fixed("(/6X,33HNumber of parameters fixed     = ,i3)");
  static const Layout estimated("(/6X,33HNumber of parameters estimated = ,i3)");
  const ModelStore& m = run.model;
  run.listing.linchk(8);
  run.listing.put(in_model, {m.NPAR});
  run.listing.put(set_equal, {m.NEQUAL});
  run.listing.put(fixed, {m.NFIXED});
  run.listing.put(estimated, {m.NEST});
  if (m.linear) {
    // The slots of a fit with linear forms are functions of its coefficients: K counts those.
    static const Layout coefficients("(/6X,33HCoefficients on the logit scale= ,i3)");
    run.listing.linchk(2);
    run.listing.put(coefficients, {m.linear->design.coefficients()});
  }
}

/// Converts the start values of slots 1..NEST to the optimizer's working scale.
void working_scale(FitContext& run) {
  ModelStore& m = run.model;
  Vec1<double>& WORK = run.work.WORK;
  for (int J = 1; J <= m.NEST; ++J) {
    int I = 1;
    while (I <= m.NPAR && m.POINT(I) != J) ++I;
    if (I > m.NPAR) run.listing.error("ESTMAT code error 1");
    const ParameterBounds bounds = parameter_bounds(m, I);
    const double lo = bounds.lower;
    const double hi = bounds.upper;
    double v = m.PAR(J);
    // A start that the bounds leave no room for, or that still lies outside
    // them, starts from the nearest point 0.01 inside (the middle when the
    // bounds are closer than 0.02), so that the inverse map is defined.
    if (!(hi > lo)) {
      WORK(J) = m.ISINE == 1 ? 0.0 : 0.5;
      continue;
    }
    if (!(v >= lo && v <= hi)) {
      if (hi - lo <= 2.0 * kNudge) {
        v = lo + 0.5 * (hi - lo);
      } else {
        v = v > hi ? hi - kNudge : lo + kNudge;
      }
    }
    if (m.ISINE == 1) {
      WORK(J) = std::asin(std::clamp(2.0 * ((v - lo) / (hi - lo) - 0.5), -1.0, 1.0));
    } else {
      WORK(J) = (v - lo) / (hi - lo);
    }
  }
  for (int J = 1; J <= m.NEST; ++J) m.PAR(J) = WORK(J);
}

/// Warns about every cohort whose cell probabilities do not add up to 1.
void cell_sum_check(FitContext& run) {
  static const Layout cohort_line("(/5X,A,I3,A)");
  static const Layout sum_line("(4hsum=,e14.6)");
  static const Layout p_line("(4hp  =,/(5e14.6))");
  const ModelStore& m = run.model;
  for (int j = 1; j <= m.NCOHRT; ++j) {
    double sum = 0.0;
    for (int k = 1; k <= m.NCLASS(j); ++k) sum += m.P(k, j);
    if (m.NCLASS(j) <= 0 || std::fabs(1.0 - sum) > kCellSumTolerance) {
      run.listing.warn("Cell probabilities do not sum to 1.0 for at least one cohort.");
      run.listing.put(cohort_line, {"Cohort", j, " does not sum to 1.0."});
      run.listing.warn("Results will be incorrect.");
      run.listing.put(sum_line, {sum});
      std::vector<Item> cells;
      for (int k = 1; k <= m.NCLASS(j); ++k) cells.emplace_back(m.P(k, j));
      run.listing.put(p_line, cells);
      run.listing.linchk(3);
    }
  }
}

/// Minimises the likelihood from WORK(1..NEST), values on `scale`, whose
/// value there is `first_value`; NEST = 0 keeps it. The optimizer's outcome
/// and the minimised value go into the report.
void minimise(FitContext& run, ParameterScale scale, double first_value, FitReport& report) {
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  const int n = m.NEST;
  w.WOPT.assign(static_cast<std::size_t>(3 * std::max(n, 1)), 0.0);
  if (n < 1) {
    report.optimizer = OptimizerCode::Converged;
    report.function_value = first_value;
    w.WOPT[1] = 0.0;
    w.WOPT[2] = 14.0;
  } else {
    w.VC.assign(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
    std::vector<double> gradient(static_cast<std::size_t>(n), 0.0);
    auto objective = [&run, scale](int count, const double* x) {
      return est(run.model, run.listing, std::span<const double>(x, static_cast<std::size_t>(count)), scale);
    };
    double F = 0.0;
    const std::span<double> x(w.WORK.base() + 1, static_cast<std::size_t>(n));
    if (m.exact_gradient) {
      ExactObjective exact(m, run.listing, scale);
      auto value = [&exact](int count, const double* at) {
        return exact.value(std::span<const double>(at, static_cast<std::size_t>(count)));
      };
      auto with_gradient = [&exact](int count, const double* at, double* g) {
        const std::size_t k = static_cast<std::size_t>(count);
        return exact.value_and_gradient(std::span<const double>(at, k), std::span<double>(g, k));
      };
      // The quasi-Newton matrix starts as the expected information at the
      // start, on the scale the optimizer moves: the first step is one of
      // Fisher scoring rather than one along the gradient.
      std::vector<double> start;
      std::optional<RdDesign> read;
      const RdDesign& design = evaluation_design(m, read);
      exact_information(m, design, x, scale, m.P, start);
      report.optimizer = optmiz(value, with_gradient, n, m.NSIG, m.MAXFN, x, w.VC, gradient, F, w.WOPT, start);
    } else {
      report.optimizer = optmiz(objective, n, m.NSIG, m.MAXFN, x, w.VC, gradient, F, w.WOPT);
    }
    report.function_value = F;
  }
  m.IEROPT = code_number(report.optimizer);
  auto truncated = [](double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
    return static_cast<int>(v);
  };
  report.evaluations = truncated(w.WOPT[1]);
  report.significant_digits = truncated(w.WOPT[2]);
}

/// Minimises the likelihood over the coefficients of a fit with linear
/// forms, from the start its set-up found: the optimizer moves beta, each
/// evaluation reads the slots logit^-1(X beta) on the natural scale. The
/// coefficients reached go to WORK's beta, the slots' values to WORK(1..NEST).
void minimise_linear(FitContext& run, double first_value, FitReport& report) {
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  const LinearDesign& d = m.linear->design;
  const int n = d.coefficients();
  w.beta = m.linear->start;
  w.WOPT.assign(static_cast<std::size_t>(3 * std::max(n, 1)), 0.0);
  std::vector<double> slots(static_cast<std::size_t>(d.slots));
  if (n < 1) {
    report.optimizer = OptimizerCode::Converged;
    report.function_value = first_value;
    w.WOPT[1] = 0.0;
    w.WOPT[2] = 14.0;
  } else {
    // The optimizer moves z = scale * beta, each coefficient in units of
    // its standard error at the start: its Hessian starts as the identity,
    // or with the exact gradient as the information in z, whose diagonal is 1.
    std::vector<double> scale;
    std::vector<double> start;
    if (m.exact_gradient) {
      start = exact_coefficient_information(run, w.beta);
      scale.assign(static_cast<std::size_t>(n), 1.0);
      for (int k = 1; k <= n; ++k) {
        const double information = start[packed_index(k, k)];
        if (std::isfinite(information) && information > 0.0) scale[static_cast<std::size_t>(k - 1)] = std::sqrt(information);
      }
      for (int k = 1; k <= n; ++k) {
        for (int l = 1; l <= k; ++l) start[packed_index(k, l)] /= scale[static_cast<std::size_t>(k - 1)] * scale[static_cast<std::size_t>(l - 1)];
      }
    } else {
      scale = coefficient_scales(run, w.beta);
    }
    std::vector<double> z(static_cast<std::size_t>(n));
    for (std::size_t k = 0; k < z.size(); ++k) z[k] = w.beta[k] * scale[k];
    w.VC.assign(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
    std::vector<double> gradient(static_cast<std::size_t>(n), 0.0);
    std::vector<double> beta(static_cast<std::size_t>(n));
    auto objective = [&run, &d, &slots, &scale, &beta](int count, const double* x) {
      for (int k = 0; k < count; ++k) beta[static_cast<std::size_t>(k)] = x[k] / scale[static_cast<std::size_t>(k)];
      d.probabilities(beta, slots);
      return est(run.model, run.listing, slots, ParameterScale::Natural);
    };
    double F = 0.0;
    if (m.exact_gradient) {
      // dF/dz = dF/dbeta / scale, dF/dbeta through the slots.
      ExactObjective exact(m, run.listing, ParameterScale::Natural);
      std::vector<double> slot_gradient(static_cast<std::size_t>(d.slots));
      std::vector<double> beta_gradient(static_cast<std::size_t>(n));
      auto value_at = [&](int count, const double* at) {
        for (int k = 0; k < count; ++k) beta[static_cast<std::size_t>(k)] = at[k] / scale[static_cast<std::size_t>(k)];
        d.probabilities(beta, slots);
        return exact.value(slots);
      };
      auto with_gradient = [&](int count, const double* at, double* g) {
        for (int k = 0; k < count; ++k) beta[static_cast<std::size_t>(k)] = at[k] / scale[static_cast<std::size_t>(k)];
        d.probabilities(beta, slots);
        const double value = exact.value_and_gradient(slots, slot_gradient);
        linear_gradient(d, beta, slot_gradient, beta_gradient);
        for (int k = 0; k < count; ++k) {
          g[k] = beta_gradient[static_cast<std::size_t>(k)] / scale[static_cast<std::size_t>(k)];
        }
        return value;
      };
      report.optimizer = optmiz(value_at, with_gradient, n, m.NSIG, m.MAXFN, z, w.VC, gradient, F, w.WOPT, start);
    } else {
      report.optimizer = optmiz(objective, n, m.NSIG, m.MAXFN, z, w.VC, gradient, F, w.WOPT);
    }
    report.function_value = F;
    for (std::size_t k = 0; k < z.size(); ++k) w.beta[k] = z[k] / scale[k];
  }
  m.IEROPT = code_number(report.optimizer);
  auto truncated = [](double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
    return static_cast<int>(v);
  };
  report.evaluations = truncated(w.WOPT[1]);
  report.significant_digits = truncated(w.WOPT[2]);
  d.probabilities(w.beta, slots);
  for (int J = 1; J <= m.NEST; ++J) w.WORK(J) = slots[static_cast<std::size_t>(J - 1)];
}

/// Prints the fit's report lines and turns the optimizer's code into warnings.
void report_fit(Listing& lst, const FitReport& report, bool print) {
  static const Layout final_value("(/5X,21HFinal function value ,G14.8,          17H (Error Return = ,I3,1H))");
  static const Layout digits("(/5X,31HNumber of significant digits   ,I5)");
  static const Layout evaluations("(/5X,31HNumber of function evaluations ,I5)");
  static const Layout exact("(/5X,A)");
  const int code = code_number(report.optimizer);
  if (code != 0) numerr(lst, code, "OPTMIZ");
  if (print) {
    lst.linchk(6);
    lst.put(final_value, {report.function_value, code});
    lst.put(digits, {report.significant_digits});
    lst.put(evaluations, {report.evaluations});
    if (report.exact_gradient) {
      // Each gradient is one evaluation, with the cells' exact derivatives.
      lst.linchk(2);
      lst.put(exact, {"Gradient and information from exact derivatives (GRADIENT=EXACT)"});
    }
  }
  const std::string& name = report.name;
  switch (report.optimizer) {
    case OptimizerCode::Converged:
      break;
    case OptimizerCode::StartNotPositive:
      lst.warn("Hessian matrix was not initialized positive definite for Model " + name);
      break;
    case OptimizerCode::RoundingDominant:
      lst.warn("Rounding errors became dominant before parameters estimated");
      lst.warn("to NSIG digits for Model " + name);
      lst.warn("Check to be sure the parameters are identifiable,");
      lst.warn("but the problem may just be ill-conditioned.");
      break;
    case OptimizerCode::EvaluationLimit:
      lst.warn("Number of function evaluations exceed MAXFN limit before");
      lst.warn("parameters estimated to NSIG digits for Model " + name);
      break;
    default:
      lst.error("Unknown error message from OPTMIZ subroutine.");
  }
}

/// Returns the estimates of slots 1..NEST, on `scale` in PAR, to the
/// natural scale in WORK and PAR.
void natural_scale(FitContext& run, ParameterScale scale) {
  ModelStore& m = run.model;
  Vec1<double>& WORK = run.work.WORK;
  for (int J = 1; J <= m.NEST; ++J) {
    int I = 1;
    while (I <= m.NPAR && m.POINT(I) != J) ++I;
    if (I > m.NPAR) run.listing.error("ESTMAT code error 2");
    WORK(J) = ss(m, run.listing, I, scale);
  }
  for (int J = 1; J <= m.NEST; ++J) m.PAR(J) = WORK(J);
}

}  // namespace

void debug_dump(FitContext& run, ParameterScale scale) {
  static const Layout numbers5("(/6X,5H  I =,5(6X,I3,6X),                     10(:/11X,5(6X,I3,6X)))");
  static const Layout par("(/6X,5HPAR =,5G15.8,10(:/11X,5G15.8))");
  static const Layout parl("(/6X,5HPARL=,5G15.8,10(:/11X,5G15.8))");
  static const Layout paru("(/6X,5HPARU=,5G15.8,10(:/11X,5G15.8))");
  static const Layout values("(/6X,5HS(I)=,5G15.8,10(:/11X,5G15.8))");
  static const Layout numbers33("(/6X,7H    I =,33I3,5(:/13X,33I3))");
  static const Layout point("(/6X,7HPOINT =,33I3,5(:/13X,33I3))");
  static const Layout pointl("(/6X,7HPOINTL=,33I3,5(:/13X,33I3))");
  static const Layout pointu("(/6X,7HPOINTU=,33I3,5(:/13X,33I3))");
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  const int n = m.NPAR;
  auto ints = [n](auto&& value_of) {
    std::vector<Item> items;
    for (int i = 1; i <= n; ++i) items.emplace_back(static_cast<int>(value_of(i)));
    return items;
  };
  auto reals = [n](auto&& value_of) {
    std::vector<Item> items;
    for (int i = 1; i <= n; ++i) items.emplace_back(static_cast<double>(value_of(i)));
    return items;
  };
  lst.linchk(2);
  lst.warn("DEBUG output follows.");
  const int wide = n / 5 + 2;
  const int narrow = n / 33 + 2;
  lst.linchk(wide);
  lst.put(numbers5, ints([](int i) { return i; }));
  lst.linchk(wide);
  lst.put(par, reals([&](int i) { return m.PAR(i); }));
  lst.linchk(wide);
  lst.put(parl, reals([&](int i) { return m.PARL(i); }));
  lst.linchk(wide);
  lst.put(paru, reals([&](int i) { return m.PARU(i); }));
  lst.linchk(wide);
  lst.put(values, reals([&](int i) { return ss(m, lst, i, scale); }));
  lst.linchk(narrow);
  lst.put(numbers33, ints([](int i) { return i; }));
  lst.linchk(narrow);
  lst.put(point, ints([&](int i) { return m.POINT(i); }));
  lst.linchk(narrow);
  lst.put(pointl, ints([&](int i) { return m.POINTL(i); }));
  lst.linchk(narrow);
  lst.put(pointu, ints([&](int i) { return m.POINTU(i); }));
  lst.linchk(2);
  lst.warn("End of DEBUG output.");
}

FitReport fit_model(FitContext& run, EstimateMode mode) {
  ModelStore& m = run.model;
  Status& s = run.status;
  FitReport report;
  if (mode == EstimateMode::Full || mode == EstimateMode::SetupOnly) {
    run.saved.open_row(run.listing);
    m.NSIG = 5;
    m.MAXFN = 1000;
    m.ISINE = 1;
    m.NOTRAN = 0;
    m.NOVAR = 0;
    m.NOBIN = 0;
    m.exact_gradient = run.exact_gradient_default;
    refuse_statement_words(run);  // before the options take such words into the name
    read_options(run, report);
    run.listing.err_free({run.saved.NMOD, run.saved.NAMSAV(run.saved.NMOD)});
    default_map(m);
    read_setup_blocks(run, mode == EstimateMode::SetupOnly ? SetupUse::Simulation : SetupUse::Estimate);
    if (report.full_name.empty() && !run.structure_name.empty()) {
      // Without NAME the model is named by its structure; the table keeps 20 characters.
      report.full_name = run.structure_name;
      std::string& table_name = run.saved.NAMSAV(run.saved.NMOD);
      table_name = run.structure_name.substr(0, 20);
      table_name.resize(20, ' ');
    }
    // The design of linear forms on the map the set-up left, before the counts that show its size.
    if (m.linear) set_up_linear(run);
    print_counts(run);
    for (int i = 1; i <= m.NPAR; ++i) run.work.WORK(i) = m.PAR(i);
    parameter_table(run, ParameterTableFor::Estimate);
    if (m.linear) {
      // The coefficients are unbounded: no transform. The slots start at
      // the values the start coefficients give (the start values themselves
      // when the forms can hold them), on the natural scale; a simulation
      // generates from these.
      std::vector<double> slots(static_cast<std::size_t>(m.NEST));
      m.linear->design.probabilities(m.linear->start, slots);
      for (int J = 1; J <= m.NEST; ++J) m.PAR(J) = slots[static_cast<std::size_t>(J - 1)];
    } else if (transform_scale(m) == ParameterScale::Working) {
      working_scale(run);
    }
    if (s.IDEBUG == 1) debug_dump(run, m.linear ? ParameterScale::Natural : transform_scale(m));
  }
  report.sequence = run.saved.NMOD;
  report.name = run.saved.NAMSAV(report.sequence);
  if (report.full_name.empty()) report.full_name = trimmed(report.name);
  if (mode == EstimateMode::SetupOnly) return report;
  report.exact_gradient = m.exact_gradient;

  if (m.linear) {
    // The slots at the start coefficients, then the fit over the coefficients.
    std::vector<double> slots(static_cast<std::size_t>(m.NEST));
    m.linear->design.probabilities(m.linear->start, slots);
    for (int J = 1; J <= m.NEST; ++J) run.work.WORK(J) = slots[static_cast<std::size_t>(J - 1)];
    if (s.IDEBUG == 1) debug_dump(run, ParameterScale::Natural);
    const double first_value = evaluate_at_work(run, ParameterScale::Natural);
    cell_sum_check(run);
    minimise_linear(run, first_value, report);
    for (int J = 1; J <= m.NEST; ++J) m.PAR(J) = run.work.WORK(J);
    return report;
  }
  // A refit reads the start values its set-up saved as working values.
  const ParameterScale scale = mode == EstimateMode::Full ? transform_scale(m) : ParameterScale::Working;
  if (s.IDEBUG == 1) debug_dump(run, scale);
  const double first_value = evaluate_at_work(run, scale);
  cell_sum_check(run);
  minimise(run, scale, first_value, report);
  for (int J = 1; J <= m.NEST; ++J) m.PAR(J) = run.work.WORK(J);
  natural_scale(run, scale);
  return report;
}

std::optional<FitReport> estmat(FitContext& run, EstimateMode mode) {
  const std::size_t mark = run.listing.warning_count();
  FitReport report = fit_model(run, mode);
  if (mode == EstimateMode::SetupOnly) return std::nullopt;
  report_fit(run.listing, report, mode != EstimateMode::QuietRefit);
  complete_report(run, report);
  print_results(run.listing, run.model, report,
                mode == EstimateMode::QuietRefit ? ReportDetail::Quiet : ReportDetail::Full);
  save_row(run.saved, report);
  report.warnings = run.listing.take_warnings(mark);
  if (mode == EstimateMode::Full) {
    if (report.sequence == 1) run.estimates.recreate();
    std::vector<double> estimates;
    estimates.reserve(report.parameters.size());
    for (const ParameterEstimate& e : report.parameters) estimates.push_back(e.estimate);
    run.estimates.write(report.sequence, estimates);
  }
  return report;
}

void estimate(FitContext& run) { estmat(run, EstimateMode::Full); }

}  // namespace quorvale
