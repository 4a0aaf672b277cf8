#include "simulate/rdsimlte.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/context.h"
#include "base/text.h"
#include "estimate/estmat.h"
#include "estimate/results.h"
#include "listing/run_end.h"
#include "model/likelihood.h"
#include "model/ss.h"
#include "simulate/draw.h"
#include "simulate/parfile.h"
#include "simulate/progress.h"
#include "simulate/refit_pool.h"
#include "simulate/sim_setup.h"
#include "simulate/ran.h"
#include "simulate/simstats.h"
#include "simulate/summaries.h"
#include "simulate/totals.h"

namespace quorvale {

std::pair<int, int> shard_range(int nsim, int K, int N) {
  const long long n = std::max(nsim, 0);
  return {static_cast<int>((K - 1) * n / N) + 1, static_cast<int>(K * n / N)};
}

namespace {

/// Message of a failed close or open of the estimate file.
constexpr const char* kFileError = "Error opening the binary file for parameter estimates.";

/// One PROC SIMULATE: options, set-ups, replicates, reports.
class Simulation {
 public:
  Simulation(FitContext& run, SimulationFile& file, const SimulationSettings& settings)
      : run_(run), file_(file), m_(run.model), t_(run.saved), lst_(run.listing), settings_(settings) {}

  /// Runs the procedure and hands back what it accumulated.
  SimulationTotals run() {
    allocate();
    opt_ = read_simulate_options(run_);
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
    summarise(totals_);
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
    // GRADIENT= on PROC SIMULATE is every submodel's unless its own statement names one.
    const bool run_default = run_.exact_gradient_default;
    run_.exact_gradient_default = m_.exact_gradient;
    while (run_.token(1) == "PROC" && run_.token(2) == "ESTIMATE") {
      // The estimation driver ends the run at the 31st model of the sequence.
      estmat(run_, EstimateMode::SetupOnly);
      slots_[static_cast<std::size_t>(t_.NMOD)].save(m_);
    }
    run_.exact_gradient_default = run_default;
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
    totals_.group_names = m_.group_names;
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
    const ParameterScale scale = slots_[0].scale;
    if (totals_.generating.empty()) {
      for (int I = 1; I <= m_.NPAR; ++I) totals_.generating.push_back(ss(m_, lst_, I, scale));
    }
    t_.NMOD = 0;
    run_.work.F =
        est(m_, lst_, std::span<const double>(WORK.base() + 1, static_cast<std::size_t>(m_.NEST)), scale);
    const std::optional<DrawLayout> layout = draw_layout(m_, laid_out(m_).layout);
    if (!layout) {
      lst_.error("Cohorts do not follow the robust-design layout: the cohort sizes of a replicate cannot be derived.");
    }
    if (totals_.catch_probabilities.empty()) {
      totals_.catch_probabilities = catch_probabilities(layout->layout, totals_.generating);
      true_coefficients();
    }
    draw_replicate(m_, *layout, seed);
  }

  /// The true values of the coefficients of every submodel with linear
  /// forms, once the generating values are known.
  void true_coefficients() {
    totals_.coefficients.assign(static_cast<std::size_t>(nsub_), {});
    for (int n = 1; n <= nsub_; ++n) {
      const SavedSetup& setup = slots_[static_cast<std::size_t>(n)];
      if (setup.linear) {
        totals_.coefficients[static_cast<std::size_t>(n - 1)] =
            coefficient_truths(setup.linear->design, setup.POINT, totals_.generating);
      }
    }
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
                   included ? report.G.df : -1, report.G.probability, {}, {}, {}, {}, {}, {}};
    for (const ParameterEstimate& e : report.parameters) {
      const double g = totals_.generating[static_cast<std::size_t>(e.index - 1)];
      const std::optional<Interval> ci = e.logit_ci;
      f.estimates.push_back(e.estimate);
      f.errors.push_back(e.se);
      f.wald_covers.push_back(e.lower <= g && g <= e.upper);
      f.logit_covers.push_back(ci && ci->lower <= g && g <= ci->upper);
    }
    for (const PeriodAbundance& a : report.abundance) {
      f.abundance.push_back(
          ReplicateAbundance{a.group, a.period, a.caught, a.estimate, a.se, a.ci.lower, a.ci.upper});
    }
    const std::vector<CoefficientTruth>& truths = totals_.coefficients_of(n);
    for (std::size_t k = 0; k < report.betas.size(); ++k) {
      const CoefficientEstimate& b = report.betas[k];
      const double truth = k < truths.size() ? truths[k].value : std::numeric_limits<double>::quiet_NaN();
      f.coefficients.push_back(
          ReplicateCoefficient{b.estimate, b.se, b.ci.lower, b.ci.upper, b.ci.lower <= truth && truth <= b.ci.upper});
    }
    add_fit(totals_, f);
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

  /// A private context that refits replicates one after another: the store
  /// as it was when the refits began, a listing that records its output.
  struct RefitContext {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    FitContext ctx;
    RefitContext(const ModelStore& start, int idebug, bool tracing) : ctx(in, out, err) {
      ctx.model = start;
      ctx.status.IDEBUG = idebug;
      ctx.listing.set_tracing(tracing);
    }
  };

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

  /// Refits every submodel to the replicate of `job` on the private context
  /// `ctx`, recording the output. Reads nothing of the procedure but its
  /// set-ups and options, so that threads may refit at once.
  void refit_job(FitContext& ctx, ReplicateJob& job) const {
    take_data(ctx.model, job);
    ctx.work = job.work;
    ctx.saved = job.saved;
    for (int n = 1; n <= nsub_; ++n) {
      ctx.listing.record_into(&job.output[static_cast<std::size_t>(n - 1)]);
      try {
        job.reports.push_back(refit(ctx, n, job.r));
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

  /// What makes each refit thread's work: a private context starting from a
  /// copy of the store as it is now.
  RefitPool<ReplicateJob>::MakeWork refit_work() const {
    auto start = std::make_shared<const ModelStore>(m_);
    const int idebug = run_.status.IDEBUG;
    const bool tracing = lst_.tracing();
    return [this, start, idebug, tracing]() -> RefitPool<ReplicateJob>::Work {
      auto context = std::make_shared<RefitContext>(*start, idebug, tracing);
      return [this, context](ReplicateJob& job) { refit_job(context->ctx, job); };
    };
  }

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
    RefitPool<ReplicateJob> pool(threads, refit_work());
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

}  // namespace

SimulationTotals simlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings) {
  return Simulation(run, file, settings).run();
}

SimulationTotals rdsimlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings) {
  return simlte(run, file, settings);
}

}  // namespace quorvale
