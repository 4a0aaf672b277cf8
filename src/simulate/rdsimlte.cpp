#include "simulate/rdsimlte.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "estimate/context.h"
#include "base/text.h"
#include "estimate/estmat.h"
#include "estimate/results.h"
#include "estimate/setup.h"
#include "input/option_words.h"
#include "input/fields.h"
#include "listing/run_end.h"
#include "model/likelihood.h"
#include "model/ss.h"
#include "simulate/draw.h"
#include "simulate/parfile.h"
#include "simulate/progress.h"
#include "simulate/ran.h"
#include "simulate/simstats.h"

namespace quorvale {

SimulationTotals::SimulationTotals(int npar, int nmod)
    : npar_(std::max(npar, 1)),
      nconv_(static_cast<std::size_t>(nmod), 0),
      sums_(static_cast<std::size_t>(npar_) * static_cast<std::size_t>(nmod), 0.0),
      sums2_(sums_.size(), 0.0),
      sumse_(sums_.size(), 0.0),
      sumse2_(sums_.size(), 0.0),
      ngof_(static_cast<std::size_t>(nmod), std::array<int, 4>{}),
      nlrt_(static_cast<std::size_t>(nmod) * static_cast<std::size_t>(std::max(nmod - 1, 0)) / 2,
            std::array<int, 5>{}),
      converged_estimates_(sums_.size()),
      converged_errors_(sums_.size()),
      ncovw_(sums_.size(), 0),
      ncovl_(sums_.size(), 0),
      nconverged_(static_cast<std::size_t>(nmod), 0),
      nfail_(static_cast<std::size_t>(nmod), 0) {}

void SimulationTotals::add(const ReplicateFit& f) {
  const int n = f.submodel;
  const int npar = std::min({npar_, static_cast<int>(f.estimates.size()), static_cast<int>(f.errors.size())});
  if (f.converged()) {
    ++nconverged_[idx(n)];
    for (int I = 1; I <= npar; ++I) {
      const std::size_t i = static_cast<std::size_t>(I - 1);
      converged_estimates_[at(I, n)].push_back(f.estimates[i]);
      converged_errors_[at(I, n)].push_back(f.errors[i]);
      if (i < f.wald_covers.size() && f.wald_covers[i]) ++ncovw_[at(I, n)];
      if (i < f.logit_covers.size() && f.logit_covers[i]) ++ncovl_[at(I, n)];
    }
  } else {
    ++nfail_[idx(n)];
  }
  if (!f.included) return;
  NCONV(n) += 1;
  for (int I = 1; I <= npar; ++I) {
    const std::size_t i = static_cast<std::size_t>(I - 1);
    const double s = f.estimates[i];
    const double e = f.errors[i];
    SUMS(I, n) += s;
    SUMS2(I, n) += s * s;
    SUMSE(I, n) += e;
    SUMSE2(I, n) += e * e;
  }
  count_gof(f.gof_p, NGOF(n));
}

void SimulationTotals::add_pairs(const std::vector<FitSummary>& fits) {
  int k = 0;
  for (std::size_t I = 0; I + 1 < fits.size(); ++I) {
    for (std::size_t J = I + 1; J < fits.size(); ++J) {
      ++k;
      const PairTest test = pair_test(fits[I], fits[J]);
      if (test.tested) count_lrt(test.probability, NLRT(k));
    }
  }
}

double median_of(std::vector<double> values) {
  if (values.empty() || std::any_of(values.begin(), values.end(), [](double v) { return std::isnan(v); })) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
  const double upper = values[half];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
  return lower + (upper - lower) / 2.0;
}

CoverageRow SimulationTotals::coverage_row(int I, int n) const {
  CoverageRow row;
  const std::vector<double>& estimates = converged_estimates_[at(I, n)];
  const std::vector<double>& errors = converged_errors_[at(I, n)];
  const double c = static_cast<double>(estimates.size());
  const double g = static_cast<std::size_t>(I) <= generating.size() ? generating[static_cast<std::size_t>(I - 1)] : 0.0;
  row.index = I;
  row.generating = g;
  double sum = 0.0;
  for (double s : estimates) sum += s;
  const double mean = sum / c;
  double squares = 0.0;  // about the mean
  double errors2 = 0.0;  // about the generating value
  for (double s : estimates) {
    squares += (s - mean) * (s - mean);
    errors2 += (s - g) * (s - g);
  }
  row.bias = mean - g;
  row.relative_bias = g != 0.0 ? row.bias / g : std::numeric_limits<double>::quiet_NaN();
  row.rmse = std::sqrt(errors2 / c);
  row.empirical_sd = estimates.size() > 1 ? std::sqrt(squares / (c - 1.0)) : 0.0;
  double se_sum = 0.0;
  for (double e : errors) se_sum += e;
  row.mean_se = se_sum / c;
  row.median_se = median_of(errors);
  if (estimates.size() > 1) {
    row.wide_se = static_cast<int>(
        std::count_if(errors.begin(), errors.end(), [&row](double e) { return e > 10.0 * row.empirical_sd; }));
  }
  row.wald = static_cast<double>(ncovw_[at(I, n)]) / c;
  row.logit = static_cast<double>(ncovl_[at(I, n)]) / c;
  return row;
}

std::pair<int, int> shard_range(int nsim, int K, int N) {
  const long long n = std::max(nsim, 0);
  return {static_cast<int>((K - 1) * n / N) + 1, static_cast<int>(K * n / N)};
}

namespace {

/// Starting seed when the SEED option is not given.
constexpr std::int32_t kDefaultSeed = 7654321;
/// Replicates when the NSIM option is not given.
constexpr int kDefaultReplicates = 5;
/// Width of the estimate file's name as kept and printed.
constexpr std::size_t kFileNameWidth = 30;
/// Message of a failed close or open of the estimate file.
constexpr const char* kFileError = "Error opening the binary file for parameter estimates.";

/// The options of the PROC SIMULATE statement.
struct SimOptions {
  int NSIM = kDefaultReplicates;  ///< replicates
  std::int32_t seed = odd_seed(kDefaultSeed);  ///< starting seed, odd
  bool parfile = false;           ///< write the estimate file
  std::string file_name = std::string(kFileNameWidth, ' ');  ///< its name, blank-padded
  bool detail = false;            ///< print every fit and the per-replicate tables
  bool error_test = false;        ///< leave fits with a positive return code out
  bool coverage = false;          ///< print bias, RMSE and interval coverage after the summaries
};

/// One estimation set-up as the estimation driver leaves it in the store.
struct SavedSetup {
  std::vector<int> POINT, POINTL, POINTU;  ///< parameter map of parameters 1..NPAR
  std::vector<double> PAR, PARL, PARU;     ///< start values (working scale) and bounds of slots 1..NPAR
  int NEST = 0, NFIXED = 0, NEQUAL = 0;    ///< parameter counts
  int NSIG = 0, MAXFN = 0, ISINE = 0;      ///< optimizer settings and transform
  int NOTRAN = 0;                          ///< 1: the values are S itself (TRANSFORM=NO)

  /// Copies the set-up of parameters 1..NPAR out of the store.
  void save(const ModelStore& m) {
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
    NOTRAN = m.NOTRAN;
  }

  /// Puts the set-up back into the store.
  void restore(ModelStore& m) const {
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
  }
};

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

/// Reads the options of the PROC SIMULATE statement.
SimOptions read_options(FitContext& run) {
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

/// A submodel's name up to its last non-blank character, at least one character.
std::string cut_name(const std::string& name) {
  std::size_t n = name.find_last_not_of(' ');
  return name.substr(0, n == std::string::npos ? 1 : n + 1);
}

/// One PROC SIMULATE: options, set-ups, replicates, reports.
class Simulation {
 public:
  Simulation(FitContext& run, SimulationFile& file, const SimulationSettings& settings)
      : run_(run), file_(file), m_(run.model), t_(run.saved), lst_(run.listing), settings_(settings) {}

  /// Runs the procedure and hands back what it accumulated.
  SimulationTotals run() {
    allocate();
    opt_ = read_options(run_);
    totals_.NSIM = opt_.NSIM;
    read_setups();
    if (opt_.parfile) open_file();
    std::int32_t seed = opt_.seed;
    totals_.first_seed = seed;
    describe();
    totals_.coverage = opt_.coverage;
    totals_.first = 1;
    totals_.last = opt_.NSIM;
    if (settings_.shard > 0) {
      std::tie(totals_.first, totals_.last) = shard_range(opt_.NSIM, settings_.shard, settings_.shards);
      totals_.shard = settings_.shard;
      totals_.shards = settings_.shards;
      shard_notice();
    }
    if (settings_.threads > 1 || settings_.shard > 0) {
      refit_in_threads(seed);
    } else {
      ProgressLine progress(lst_);
      for (int r = 1; r <= opt_.NSIM; ++r) {
        progress.show(r, opt_.NSIM);
        generate(seed);
        for (int n = 1; n <= nsub_; ++n) fit(n, r);
        replicate_report(r);
      }
    }
    totals_.seed = seed;
    if (opt_.NSIM > 1 && settings_.shard == 0) print_summaries(lst_, totals_);
    t_.NMOD = 0;
    return std::move(totals_);
  }

 private:
  FitContext& run_;                ///< the run
  SimulationFile& file_;           ///< the estimate file (PARFILE), open until the end of the run
  ModelStore& m_;                  ///< its model store
  SavedModels& t_;                 ///< its saved-model table
  Listing& lst_;                   ///< its listing
  SimOptions opt_;                 ///< the options read
  std::vector<SavedSetup> slots_;  ///< slot 0 the generating model, 1..NSUB the submodels
  SimulationTotals totals_;        ///< the accumulators
  int nsub_ = 0;                   ///< submodels read
  SimulationSettings settings_;    ///< how the driver runs it

  /// The saved set-ups and the accumulators; a failure ends the run.
  void allocate() {
    try {
      slots_.resize(static_cast<std::size_t>(MAXMOD) + 1);
      totals_ = SimulationTotals(m_.NPAR, MAXMOD);
    } catch (const std::bad_alloc&) {
      throw RunEnd{"*** allocation error ***", 1};
    }
  }

  /// The generating model's set-up from the PROC SIMULATE block, then one
  /// set-up per PROC ESTIMATE block that follows.
  void read_setups() {
    t_.NMOD = 0;
    estmat(run_, EstimateMode::SetupOnly);
    t_.NMOD = 0;
    slots_[0].save(m_);
    while (run_.token(1) == "PROC" && run_.token(2) == "ESTIMATE") {
      // The estimation driver ends the run at the 31st model of the sequence.
      estmat(run_, EstimateMode::SetupOnly);
      slots_[static_cast<std::size_t>(t_.NMOD)].save(m_);
    }
    if (t_.NMOD == 0) lst_.error("No submodels specified in PROC SIMULATE.");
    nsub_ = t_.NMOD;
    totals_.NSUB = nsub_;
  }

  /// Prints which replicates this shard refits.
  void shard_notice() {
    static const Layout notice("(//5X,A,I2,A,I2,A,I6,A,I6,A,I6,A/5X,A)");
    lst_.linchk(4);
    lst_.put(notice, {"Shard ", settings_.shard, " of ", settings_.shards, ": replicates ", totals_.first, " to ",
                      totals_.last, " of ", opt_.NSIM, " are refitted.",
                      "quorvale-merge writes the summaries from the results of all shards."});
  }

  /// Keeps the submodels' names, the parameters each estimates, the labels
  /// and what identifies the study.
  void describe() {
    totals_.study = settings_.study;
    totals_.study.generating_map = slots_[0].POINT;
    for (int n = 1; n <= nsub_; ++n) {
      totals_.names.push_back(t_.NAMSAV(n));
      const SavedSetup& setup = slots_[static_cast<std::size_t>(n)];
      totals_.study.submodel_maps.push_back(setup.POINT);
      std::vector<bool> estimated;
      for (int point : setup.POINT) estimated.push_back(point > 0);
      totals_.estimated.push_back(std::move(estimated));
    }
    for (int I = 1; I <= m_.NPAR; ++I) {
      const std::string& label = m_.LABEL(I);
      totals_.labels.push_back(trimmed(label));
    }
  }

  /// Prints the notice of the estimate file and opens it.
  void open_file() {
    static const Layout first_line("(//5X,A)");
    static const Layout text("(5X,A)");
    static const Layout count("(5X,A,I2)");
    if (!file_.close()) lst_.error(file_.failure());
    lst_.linchk(6);
    lst_.put(first_line, {"Parameter estimates are written to the file " + opt_.file_name});
    lst_.put(text, {"with the order being Replicate Number, Model Number, and AIC"});
    lst_.put(text, {"The parameters follow on the next record(s) as"});
    lst_.put(text, {"(S(I),SE(S(I)),I=1,NPAR)."});
    lst_.put(count, {"The format used is '(8F10.6)', which generates (NPAR*2+2)/8+1 =", (m_.NPAR + 1) / 4 + 1});
    lst_.put(text, {"'CARDS' per model."});
    const std::size_t end = opt_.file_name.find_last_not_of(' ');
    const std::string name = end == std::string::npos ? std::string() : opt_.file_name.substr(0, end + 1);
    run_.reader.refuse_overwrite(name, "Parameter estimate file");
    if (!file_.open(name)) lst_.error(kFileError);
  }

  /// The data of the next replicate: the generating model's cell
  /// probabilities, then the draws.
  void generate(std::int32_t& seed) {
    const int ncohrt = std::min(m_.NCOHRT, m_.P.cols());
    for (int j = 1; j <= ncohrt; ++j) {
      const int cells = std::clamp(m_.NCLASS(j), 0, MXCLAS);
      for (int k = 1; k <= cells; ++k) {
        m_.NOBS(k, j) = 0;
        m_.P(k, j) = 0.0;
      }
    }
    slots_[0].restore(m_);
    Vec1<double>& WORK = run_.work.WORK;
    for (int i = 1; i <= m_.NPAR; ++i) WORK(i) = m_.PAR(i);
    // A generating model set up without a transform holds its values as S
    // itself; read through the sine map they would generate other
    // probabilities than the ones given.
    m_.NOTRAN = slots_[0].NOTRAN;
    if (totals_.generating.empty()) {
      for (int I = 1; I <= m_.NPAR; ++I) totals_.generating.push_back(ss(m_, lst_, I));
    }
    t_.NMOD = 0;
    run_.work.F = est(m_, lst_, std::span<const double>(WORK.base() + 1, static_cast<std::size_t>(m_.NEST)));
    const std::optional<DrawLayout> layout = draw_layout(m_);
    if (!layout) {
      lst_.error("Cohorts do not follow the robust-design layout: the cohort sizes of a replicate cannot be derived.");
    }
    draw_replicate(m_, *layout, seed);
  }

  /// Lists the data of replicate r held by `ctx` on its listing (DEBUG).
  static void list_data(FitContext& ctx, int r) {
    static const Layout title("(//5X,A,I3)");
    static const Layout cohort("(/7H COHORT,I3,22I5:/10X,22I5)");
    const ModelStore& m = ctx.model;
    Listing& lst = ctx.listing;
    lst.linchk(2);
    lst.warn("DEBUG output follows.");
    lst.linchk(3);
    lst.put(title, {"Listing of data generated for replicate ", r});
    std::vector<Item> items;
    for (int j = 1; j <= m.NCOHRT; ++j) {
      lst.linchk(m.NCLASS(j) / 22 + 2);
      items.clear();
      items.emplace_back(j);
      for (int k = 1; k <= m.NCLASS(j); ++k) items.emplace_back(m.NOBS(k, j));
      lst.put(cohort, items);
    }
    lst.linchk(2);
    lst.warn("End of DEBUG output.");
  }

  /// Refits submodel n to replicate r, whose data `ctx` holds: the set-up
  /// restored, the DETAIL heading, the DEBUG data and the fit. Reads nothing
  /// of the procedure but its set-ups and options, so that threads may refit
  /// at once, each on its own context.
  FitReport refit(FitContext& ctx, int n, int r) const {
    static const Layout detail("(/7X,37HDetailed Simulation Output for MODEL ,A,                 18H Replicate Number ,I3//)");
    ModelStore& m = ctx.model;
    slots_[static_cast<std::size_t>(n)].restore(m);
    Vec1<double>& WORK = ctx.work.WORK;
    for (int i = 1; i <= m.NPAR; ++i) WORK(i) = m.PAR(i);
    m.NOTRAN = 0;
    ctx.saved.NMOD = n;
    if (opt_.detail) {
      ctx.listing.headng();
      ctx.listing.linchk(4);
      ctx.listing.put(detail, {cut_name(ctx.saved.NAMSAV(n)), r});
    }
    if (ctx.status.IDEBUG == 1) list_data(ctx, r);
    return *estmat(ctx, opt_.detail ? EstimateMode::ReportedRefit : EstimateMode::QuietRefit);
  }

  /// Refits submodel n to replicate r and accumulates the fit.
  void fit(int n, int r) { accumulate(refit(run_, n, r), n, r); }

  /// Accumulates refit n of replicate r, writes it to the estimate file and
  /// counts its goodness-of-fit test; with ERROR TEST a fit that failed is
  /// only kept, and marked left out for the likelihood-ratio tests.
  void accumulate(const FitReport& report, int n, int r) {
    const bool included = !(opt_.error_test && (report.optimizer != OptimizerCode::Converged ||
                                                report.inversion != InversionCode::Inverted));
    if (!included) t_.NDF(n) = -1;
    ReplicateFit f{r, n, report.optimizer, report.inversion, included, report.lnL, report.aic,
                   included ? report.G.df : -1, report.G.probability, {}, {}, {}, {}};
    for (const ParameterEstimate& e : report.parameters) {
      const double g = totals_.generating[static_cast<std::size_t>(e.index - 1)];
      const std::optional<Interval> ci = e.logit_ci();
      f.estimates.push_back(e.estimate);
      f.errors.push_back(e.se);
      f.wald_covers.push_back(e.lower <= g && g <= e.upper);
      f.logit_covers.push_back(ci && ci->lower <= g && g <= ci->upper);
    }
    totals_.add(f);
    if (included && opt_.parfile) {
      if (!file_.write(estimate_records(r, n, report.aic, f.estimates, f.errors))) {
        lst_.error(file_.failure());
      }
    }
    if (settings_.keep_fits) totals_.fits.push_back(std::move(f));
  }

  /// One replicate on its way through the refit threads: the listing output
  /// of its draw, its data as drawn, and what each refit wrote and yielded.
  struct ReplicateJob {
    int r = 0;                          ///< the replicate
    ListingRecord drawn;                ///< listing output of the draw
    std::exception_ptr draw_failure;    ///< the draw ended the run
    std::vector<int> nobs;              ///< NOBS of cohorts 1..NCOHRT as drawn, column by column
    std::vector<int> nrel;              ///< NREL of cohorts 1..NCOHRT as drawn
    std::vector<double> p;              ///< P of cohorts 1..NCOHRT after the draw, column by column
    std::unique_ptr<ModelStore> model;  ///< the store of the last replicate's refits, when handed back
    EstimationWork work;                ///< the work areas as the draw left them
    SavedModels saved;                  ///< the saved-model table
    bool skipped = false;               ///< drawn only, outside this shard's replicates
    bool hand_back = false;             ///< return the refits' store and work areas (the last replicate)
    std::vector<ListingRecord> output;  ///< listing output of refit n at n - 1
    std::vector<FitReport> reports;     ///< report of refit n at n - 1, up to a failure
    std::exception_ptr failure;         ///< the refit after the last report ended the run
    bool done = false;                  ///< the refits are over (guarded by the pool's lock)
  };

  /// Threads that refit replicates taken from a queue, each on a private
  /// context whose listing records its output.
  class RefitPool {
   public:
    /// Up to `threads` threads, each starting from a copy of the store as it
    /// is now. A thread the system cannot start is not fatal: the pool goes
    /// on with those that started, and with none refits each replicate on
    /// the calling thread as it is queued.
    RefitPool(const Simulation& sim, int threads) : sim_(sim), start_(sim.m_) {
      try {
        for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        // Fewer threads than asked for: the caller is told by started().
      }
      if (threads_.empty()) caller_ = std::make_unique<Worker>(*this);
    }
    /// The threads that started.
    int started() const { return static_cast<int>(threads_.size()); }
    ~RefitPool() {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
      }
      wake_.notify_all();
      for (std::thread& t : threads_) t.join();
    }
    RefitPool(const RefitPool&) = delete;
    RefitPool& operator=(const RefitPool&) = delete;

    /// Queues a drawn replicate; without threads, refits it at once.
    void submit(ReplicateJob& job) {
      if (caller_) {
        caller_->refit(job);
        job.done = true;
        return;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(&job);
      }
      wake_.notify_one();
    }
    /// Waits until the refits of `job` are over.
    void wait(const ReplicateJob& job) {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [&job] { return job.done; });
    }

   private:
    const Simulation& sim_;
    const ModelStore start_;  ///< the store the threads' copies start from
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;  ///< a job was queued, or the pool stops
    std::condition_variable done_;  ///< a job is over
    std::deque<ReplicateJob*> queue_;
    bool stop_ = false;

    /// Puts the data of the replicate of `job` into `m`: the refits restore
    /// the rest of what they read from their set-ups.
    static void take_data(ModelStore& m, const ReplicateJob& job) {
      for (std::size_t j = 0; j < job.nrel.size(); ++j) {
        const int c = static_cast<int>(j) + 1;
        m.NREL(c) = job.nrel[j];
        const auto at = static_cast<std::ptrdiff_t>(m.NOBS.values_through(c - 1));
        std::copy_n(job.nobs.begin() + at, m.NOBS.rows(c), m.NOBS.column(c));
        std::copy_n(job.p.begin() + at, m.P.rows(c), m.P.column(c));
      }
    }

    /// A private context that refits replicates one after another.
    struct Worker {
      std::istringstream in;
      std::ostringstream out;
      std::ostringstream err;
      FitContext ctx;
      const RefitPool& pool;
      explicit Worker(const RefitPool& p) : ctx(in, out, err), pool(p) {
        ctx.model = p.start_;
        ctx.status.IDEBUG = p.sim_.run_.status.IDEBUG;
        ctx.listing.set_tracing(p.sim_.lst_.tracing());
      }
      /// Refits every submodel to the replicate of `job`, recording the output.
      void refit(ReplicateJob& job) {
        take_data(ctx.model, job);
        ctx.work = job.work;
        ctx.saved = job.saved;
        for (int n = 1; n <= pool.sim_.nsub_; ++n) {
          ctx.listing.record_into(&job.output[static_cast<std::size_t>(n - 1)]);
          try {
            job.reports.push_back(pool.sim_.refit(ctx, n, job.r));
          } catch (...) {
            job.failure = std::current_exception();
            break;
          }
        }
        ctx.listing.record_into(nullptr);
        if (job.hand_back) {
          job.model = std::make_unique<ModelStore>(ctx.model);
          job.work = ctx.work;
        }
      }
    };
    std::unique_ptr<Worker> caller_;  ///< refits on the calling thread when no thread started

    void work() {
      Worker worker(*this);
      for (;;) {
        ReplicateJob* job = nullptr;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
          if (stop_) return;
          job = queue_.front();
          queue_.pop_front();
        }
        worker.refit(*job);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          job->done = true;
        }
        done_.notify_all();
      }
    }
  };

  /// Draws replicate r into `job`, recording the listing output of the draw.
  void draw(ReplicateJob& job, int r, std::int32_t& seed) {
    job.r = r;
    job.drawn.clear();
    job.draw_failure = nullptr;
    job.output.assign(static_cast<std::size_t>(nsub_), ListingRecord());
    job.reports.clear();
    job.failure = nullptr;
    job.done = false;
    lst_.record_into(&job.drawn);
    try {
      generate(seed);
    } catch (...) {
      job.draw_failure = std::current_exception();
    }
    lst_.record_into(nullptr);
    job.skipped = r < totals_.first || r > totals_.last;
    if (job.draw_failure || job.skipped) {
      job.done = true;
      return;
    }
    const int ncohrt = std::min(m_.NCOHRT, m_.NOBS.cols());
    const std::size_t cells = m_.NOBS.values_through(ncohrt);
    job.nrel.assign(m_.NREL.base() + 1, m_.NREL.base() + 1 + ncohrt);
    job.nobs.assign(m_.NOBS.column(1), m_.NOBS.column(1) + cells);
    job.p.assign(m_.P.column(1), m_.P.column(1) + cells);
    job.work = run_.work;
    job.saved = t_;
    job.hand_back = r == totals_.last;
  }

  /// Writes replicate `job` as the sequential path would have written it:
  /// the draw's output, then each refit's output and accumulation, then the
  /// replicate's report. A failure recorded ends the run at the same point.
  void replay(ReplicateJob& job) {
    if (job.skipped && !job.draw_failure) return;
    job.drawn.replay(lst_);
    if (job.draw_failure) std::rethrow_exception(job.draw_failure);
    for (int n = 1; n <= nsub_; ++n) {
      const std::size_t i = static_cast<std::size_t>(n - 1);
      job.output[i].replay(lst_);
      if (i >= job.reports.size()) std::rethrow_exception(job.failure);
      const FitReport& report = job.reports[i];
      t_.NMOD = n;
      save_row(t_, report);
      accumulate(report, n, job.r);
    }
    if (job.hand_back) {
      std::swap(m_, *job.model);
      run_.work = job.work;
    }
    replicate_report(job.r);
  }

  /// Every replicate drawn in turn and those of the shard refitted by
  /// `settings_.threads` threads; a bounded number of replicates is drawn
  /// ahead of the one being written. The draws of a shard stop at its last
  /// replicate.
  void refit_in_threads(std::int32_t& seed) {
    // More threads than the shard has replicates would wait for nothing.
    const int threads = std::clamp(settings_.threads, 1, std::max(totals_.last - totals_.first + 1, 1));
    const int last = totals_.last;
    const int window = 2 * threads + 2;
    std::vector<ReplicateJob> ring(static_cast<std::size_t>(window));
    auto slot = [&ring, window](int r) -> ReplicateJob& { return ring[static_cast<std::size_t>((r - 1) % window)]; };
    RefitPool pool(*this, threads);
    if (pool.started() < threads) {
      lst_.warn(pool.started() == 0 ? "No refit thread could be started: refits run one at a time."
                                    : "Only " + std::to_string(pool.started()) + " of " + std::to_string(threads) +
                                          " refit threads could be started.");
    }
    ProgressLine progress(lst_);
    int drawn = 0;
    bool failed = false;
    for (int r = 1; r <= last; ++r) {
      while (!failed && drawn < last && drawn < r + window - 1) {
        ++drawn;
        ReplicateJob& job = slot(drawn);
        draw(job, drawn, seed);
        if (job.draw_failure) {
          failed = true;
        } else if (!job.skipped) {
          pool.submit(job);
        }
      }
      ReplicateJob& job = slot(r);
      pool.wait(job);
      progress.show(r, opt_.NSIM);
      replay(job);
    }
  }

  /// The fits of replicate r (DETAIL) and the likelihood-ratio tests of every pair.
  void replicate_report(int r) {
    static const Layout title("(/6X,44HLikelihood Ratio Test Results for Replicate ,I3)");
    static const Layout heading(
        "(/6X,8HSubmodel,4X,4HName,6X,19HLog-likelihood  NDF,             2X,19HAkaike Inf. Criter.,3X,5HG-O-F)");
    static const Layout rule("(6X,8(1H-),2X,10(1H-),2X,14(1H-),2X,3(1H-),2X,                   19(1H-),2X,6(1H-))");
    static const Layout failed("(5X,I5,5X,A10,2X,A)");
    static const Layout row("(6X,I5,5X,A10,2X,G14.8,I5,5X,                 G14.8,4X,F6.4)");
    static const Layout blank("(1X)");
    static const Layout text("(15X,A)");
    static const Layout pair_line("(15X,A10,2X,A10,2X,F10.3,4X,I3,7X,F6.4)");
    if (opt_.detail) {
      lst_.headng();
      lst_.linchk(nsub_ + 5);
      lst_.put(title, {r});
      lst_.put(heading, {});
      lst_.put(rule, {});
      for (int n = 1; n <= nsub_; ++n) {
        if (t_.NDF(n) < 0) {
          lst_.put(failed, {n, t_.NAMSAV(n), "Failed to converge properly."});
        } else {
          lst_.put(row, {n, t_.NAMSAV(n), t_.lnL(n), t_.NDF(n), -2.0 * t_.lnL(n) + 2.0 * t_.K(n), t_.PG(n)});
        }
      }
    }
    if (nsub_ <= 1) return;
    if (opt_.detail) {
      lst_.linchk(4);
      lst_.put(blank, {});
      lst_.put(text, {" General     Reduced                Degrees   Pr(Larger "});
      lst_.put(text, {" Submodel    Submodel   Chi-square  Freedom  Chi-square)"});
      lst_.put(text, {"----------  ----------  ----------  -------  -----------"});
    }
    int k = 0;
    for (int I = 1; I <= nsub_ - 1; ++I) {
      for (int J = I + 1; J <= nsub_; ++J) {
        ++k;
        const PairTest test = pair_test({t_.lnL(I), t_.NDF(I)}, {t_.lnL(J), t_.NDF(J)});
        if (!test.tested) continue;
        if (test.cdtr_error) lst_.warn("ERROR with chi-square probability.");
        count_lrt(test.probability, totals_.NLRT(k));
        if (opt_.detail) {
          const int general = test.first_general ? I : J;
          const int reduced = test.first_general ? J : I;
          lst_.linchk(1);
          lst_.put(pair_line, {t_.NAMSAV(general), t_.NAMSAV(reduced), test.chi, test.df, test.probability});
        }
      }
    }
  }

};

/// The rows of one table of means: mean, SE and interval of each parameter.
void mean_rows(Listing& lst, const SimulationTotals& totals, int n, int c, bool errors) {
static const Layout row("(1X,I2,4G15.8,1X,A)");
const int npar = static_cast<int>(totals.labels.size());
for (int I = 1; I <= npar; ++I) {
  const MeanRow v = errors ? mean_row(totals.SUMSE(I, n), totals.SUMSE2(I, n), c)
                           : mean_row(totals.SUMS(I, n), totals.SUMS2(I, n), c);
  lst.put(row, {I, v.mean, v.se, v.lower, v.upper, pad(totals.labels[static_cast<std::size_t>(I - 1)], 16)});
}
}

/// A name of the saved-model table (20 characters).
const std::string& name_of(const SimulationTotals& totals, int n) { return totals.names[static_cast<std::size_t>(n - 1)]; }

/// Bias, RMSE, standard errors and interval coverage of every estimated
/// parameter of every submodel over its converged fits (option COVERAGE).
void print_coverage(Listing& lst, const SimulationTotals& totals) {
static const Layout title(
    "(/21X,33HB I A S   A N D   C O V E R A G E/16X,6HMODEL ,A,9H   NSIM = ,I4,15H   Converged = ,I4/16X,"
    "34HNot converged or not inverted   = ,I4,A)");
static const Layout heading("(/86X,12H95% coverage/2X,1HI,3X,10HGenerating,6X,4HBias,1X,9HRel. bias,6X,"
                            "4HRMSE,3X,7HEmp. SD,3X,7HMean SE,1X,9HMedian SE,1X,7HSE>10SD,3X,4HWald,2X,5HLogit)");
static const Layout rule("(1X,97(1H-))");
static const Layout row("(1X,I2,F13.6,F10.6,A10,4F10.6,I8,2F7.3)");
static const Layout ratio("(F10.4)");
static const Layout note("(/5X,A/5X,A/5X,A/5X,A/5X,A)");
lst.headng();
for (int n = 1; n <= totals.NSUB; ++n) {
  const int c = totals.converged(n);
  const std::vector<bool>& estimated = totals.estimated[static_cast<std::size_t>(n - 1)];
  const int rows = static_cast<int>(std::count(estimated.begin(), estimated.end(), true));
  lst.linchk(rows + 9);
  lst.put(title, {name_of(totals, n), totals.NSIM, c, totals.NFAIL(n), ", left out of the figures"});
  if (c < 1) {
    lst.warn("Too few successful simulations to summarize.");
    continue;
  }
  lst.put(heading, {});
  lst.put(rule, {});
  for (std::size_t i = 0; i < estimated.size(); ++i) {
    if (!estimated[i]) continue;
    const CoverageRow v = totals.coverage_row(static_cast<int>(i) + 1, n);
    const std::string relative =
        std::isfinite(v.relative_bias) ? ratio.write_internal({v.relative_bias}, 10) : std::string(10, ' ');
    lst.put(row, {v.index, v.generating, v.bias, relative, v.rmse, v.empirical_sd, v.mean_se, v.median_se,
                  v.wide_se, v.wald, v.logit});
  }
}
lst.linchk(6);
lst.put(note, {"Over the converged fits only (optimizer and inversion codes 0): bias and RMSE",
               "about the generating value, Emp. SD of the estimates, Mean SE and Median SE of",
               "their estimated standard errors, SE>10SD the fits whose SE exceeds 10 times",
               "Emp. SD. Coverage: share of those fits whose 95% interval holds the generating",
               "value, as printed (estimate -+ 1.96 SE) and on the logit scale."});
}

}  // namespace

void print_summaries(Listing& lst, const SimulationTotals& totals) {
  static const Layout title(
      "(/20X,35HS I M U L A T I O N   R E S U L T S/16X,                6HMODEL ,A,9H   NSIM = ,I4,15H   Converged = ,I4)");
  static const Layout mean_heading("(//8X,4HMEAN,13X,2HSE,16X,9H95% C. I.)");
  static const Layout mean_columns("(2X,1HI,3X,2(8HS(I)-Hat,8X),5HLower,9X,5HUpper)");
  static const Layout rule("(1X,78(1H-)/)");
  static const Layout se_heading("(//9X,4HMEAN,12X,2HSE,17X,9H95% C. I.)");
  static const Layout se_columns("(2X,1HI,2X,2(12HSE(S(I)-Hat),3X),3X,5HLower,10X,5HUpper)");
  static const Layout gof("(//21X,33HResults of Goodness of Fit Tests ,                 /23X,4(3H  <,F4.2)/22X,30(1H-)/23X,4I7)");
  static const Layout lrt_title(
      "(//26X,                                          29HLikelihood Ratio Test Results///37X,                           5(3H  <,F4.2)/11X,62(1H-))");
  static const Layout pair_row("(12X,A10,5H VS. ,A10,5I7)");
  lst.headng();
  for (int n = 1; n <= totals.NSUB; ++n) {
    const int c = totals.NCONV(n);
    lst.linchk(static_cast<int>(totals.labels.size()) + 9);
    lst.put(title, {name_of(totals, n), totals.NSIM, c});
    lst.put(mean_heading, {});
    lst.put(mean_columns, {});
    lst.put(rule, {});
    if (c < 1) {
      lst.warn("Too few successful simulations to summarize.");
      continue;
    }
    mean_rows(lst, totals, n, c, false);
    lst.linchk(static_cast<int>(totals.labels.size()) + 6);
    lst.put(se_heading, {});
    lst.put(se_columns, {});
    lst.put(rule, {});
    mean_rows(lst, totals, n, c, true);
    lst.linchk(6);
    const std::array<int, 4>& g = totals.NGOF(n);
    lst.put(gof, {kTestLevels[0], kTestLevels[1], kTestLevels[2], kTestLevels[3], g[0], g[1], g[2], g[3]});
  }
  if (totals.NSUB > 1) {
    lst.headng();
    lst.linchk(8);
    lst.put(lrt_title, {kTestLevels[0], kTestLevels[1], kTestLevels[2], kTestLevels[3], kTestLevels[4]});
    int k = 0;
    for (int I = 1; I <= totals.NSUB - 1; ++I) {
      for (int J = I + 1; J <= totals.NSUB; ++J) {
        ++k;
        const std::array<int, 5>& v = totals.NLRT(k);
        lst.linchk(1);
        lst.put(pair_row, {name_of(totals, I), name_of(totals, J), v[0], v[1], v[2], v[3], v[4]});
      }
    }
  }
  if (totals.coverage) print_coverage(lst, totals);
}

SimulationTotals simlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings) {
  return Simulation(run, file, settings).run();
}

SimulationTotals rdsimlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings) {
  return simlte(run, file, settings);
}

}  // namespace quorvale
