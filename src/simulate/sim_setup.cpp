#include "simulate/sim_setup.h"

#include <algorithm>
#include <string>
#include <vector>

#include "estimate/context.h"
#include "estimate/estmat.h"
#include "estimate/setup.h"
#include "input/fields.h"
#include "input/option_words.h"

namespace quorvale {

void SavedSetup::save(const ModelStore& m) {
  const int n = m.NPAR;
  POINT.assign(m.POINT.base() + 1, m.POINT.base() + 1 + n);
  POINTL.assign(m.POINTL.base() + 1, m.POINTL.base() + 1 + n);
  POINTU.assign(m.POINTU.base() + 1, m.POINTU.base() + 1 + n);
  PAR.assign(m.PAR.base() + 1, m.PAR.base() + 1 + n);
  PARL.assign(m.PARL.base() + 1, m.PARL.base() + 1 + n);
  PARU.assign(m.PARU.base() + 1, m.PARU.base() + 1 + n);
  NEST = m.NEST;
  NFIXED = m.NFIXED;
  NEQUAL = m.NEQUAL;
  NSIG = m.NSIG;
  MAXFN = m.MAXFN;
  ISINE = m.ISINE;
  exact_gradient = m.exact_gradient;
  // A set-up with linear forms holds its slots' values themselves.
  scale = m.linear ? ParameterScale::Natural : transform_scale(m);
  linear = m.linear;
}

void SavedSetup::restore(ModelStore& m) const {
  std::copy(POINT.begin(), POINT.end(), m.POINT.base() + 1);
  std::copy(POINTL.begin(), POINTL.end(), m.POINTL.base() + 1);
  std::copy(POINTU.begin(), POINTU.end(), m.POINTU.base() + 1);
  std::copy(PAR.begin(), PAR.end(), m.PAR.base() + 1);
  std::copy(PARL.begin(), PARL.end(), m.PARL.base() + 1);
  std::copy(PARU.begin(), PARU.end(), m.PARU.base() + 1);
  m.NEST = NEST;
  m.NFIXED = NFIXED;
  m.NEQUAL = NEQUAL;
  m.NSIG = NSIG;
  m.MAXFN = MAXFN;
  m.ISINE = ISINE;
  m.exact_gradient = exact_gradient;
  m.linear = linear;
}

namespace {

/// The options of PROC SIMULATE.
constexpr OptionSpec kSimulateOptions[] = {
    {"NSIM", OptionForm::Value},  {"PARFILE", OptionForm::Value},           {"DETAIL", OptionForm::Flag},
    {"SEED", OptionForm::Value},  {"ERROR", OptionForm::Phrase, "TEST"},    {"COVERAGE", OptionForm::Flag},
};

/// The options of PROC SIMULATE's statement: its own and those of the
/// generating model's set-up.
std::span<const OptionSpec> simulate_options() {
  static const std::vector<OptionSpec> all = [] {
    std::vector<OptionSpec> v(std::begin(kSimulateOptions), std::end(kSimulateOptions));
    const std::span<const OptionSpec> fit = estimate_options();
    v.insert(v.end(), fit.begin(), fit.end());
    return v;
  }();
  return all;
}

}  // namespace

SimOptions read_simulate_options(FitContext& run) {
  SimOptions opt;
  for (int L = 3; L <= run.status.NTOK; ++L) {
    const Token& tok = run.token(L);
    if (tok == "NSIM") {
      opt.NSIM = option_int(run, L);
      if (opt.NSIM <= 0) {
        run.reader.warn_ignored("NSIM = " + std::to_string(opt.NSIM) + ": no replicates are drawn.");
      }
    } else if (tok == "PARFILE") {
      opt.parfile = true;
      opt.file_name = pad_min(run.reader.option_word("PARFILE"), kFileNameWidth);
    } else if (tok == "DETAIL") {
      opt.detail = true;
    } else if (tok == "SEED") {
      const int n = option_int(run, L);
      // A negative seed makes every uniform number negative, so that no
      // animal would fall in any cell; 2^31 - 2 and 2^31 - 1 are made odd
      // to the modulus itself, after which every number is 0.
      if (n < 0 || n > 2147483645) run.listing.error("Value of SEED must be from 0 to 2147483645.");
      opt.seed = odd_seed(n);
    } else if (tok == "ERROR" && run.token(L + 1) == "TEST") {
      opt.error_test = true;
    } else if (tok == "COVERAGE") {
      opt.coverage = true;
    }
  }
  run.reader.warn_unknown_options(scan_options(run.instr, run.status.NTOK, simulate_options()), "PROC SIMULATE");
  return opt;
}

std::string cut_name(const std::string& name) {
  std::size_t n = name.find_last_not_of(' ');
  return name.substr(0, n == std::string::npos ? 1 : n + 1);
}

}  // namespace quorvale
