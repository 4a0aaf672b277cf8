#include "driver/pelmar.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>
#include <fstream>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "compare/dotest.h"
#include "driver/outputs.h"
#include "driver/params.h"
#include "driver/run.h"
#include "driver/title.h"
#include "estimate/estmat.h"
#include "identify/identf.h"
#include "input/fields.h"
#include "input/files.h"
#include "listing/run_end.h"
#include "results/csv.h"
#include "results/html.h"
#include "results/json.h"
#include "base/atomic_file.h"
#include "base/digest.h"
#include "base/limits.h"
#include "model/context.h"
#include "model/data_identity.h"
#include "model/likelihood.h"
#include "model/linear_form.h"
#include "model/model.h"
#include "simulate/rdsimlte.h"

namespace quorvale {

namespace {

/// Program name and version shown in every page heading.
constexpr std::string_view kBanner = "Quorvale 1.0        Oct, 1996";

/// PROC SIMULATE, with the run's estimate file.
void simulate(Run& run) {
  run.results.simulations.push_back(rdsimlte(run, run.simfile, run.simulation));
  run.sequence_start = run.results.fits.size();
}

/// Most refit threads a simulation starts.
constexpr int kMaxRefitThreads = 64;

/// The refit threads of PROC SIMULATE: the THREADS= value, or the cores
/// available, at most kMaxRefitThreads (a larger THREADS= is said on `err`);
/// anything but a whole number of 1 or more ends the run.
int refit_threads(Run& run, const std::string& text, std::ostream& err) {
  if (text.empty()) {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxRefitThreads);
  }
  long long n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  if (ec == std::errc::result_out_of_range && digits) n = std::numeric_limits<long long>::max();
  if ((ec != std::errc() && !(ec == std::errc::result_out_of_range && digits)) ||
      end != text.data() + text.size() || n < 1) {
    run.listing.error("Value of THREADS must be a whole number of 1 or more: " + text);
  }
  if (n > kMaxRefitThreads) {
    err << "quorvale: threads=" << text << " is more than " << kMaxRefitThreads << ": " << kMaxRefitThreads
        << " refit threads are used.\n";
    return kMaxRefitThreads;
  }
  return static_cast<int>(n);
}

/// The gradient=exact word: every fit of the run takes its gradient and
/// information from exact cell derivatives unless its statement says
/// GRADIENT=DIFFERENCE; gradient=difference is the default. Any other value
/// ends the run.
bool exact_gradient(Run& run, const std::string& text) {
  if (text.empty() || text == "difference" || text == "DIFFERENCE") return false;
  if (text == "exact" || text == "EXACT") return true;
  run.listing.error("Value of GRADIENT must be exact or difference: " + text);
}

/// The shard=K/N word: K and N whole numbers with 1 <= K <= N; the shard's
/// refits go to the JSON results, so json=FILE must be given too.
void read_shard(Run& run, const RunParams& params) {
  if (params.shard.empty()) return;
  const std::string& text = params.shard;
  int k = 0;
  int n = 0;
  const char* end = text.data() + text.size();
  const auto [slash, ec1] = std::from_chars(text.data(), end, k);
  bool ok = ec1 == std::errc() && slash != end && *slash == '/';
  if (ok) {
    const auto [last, ec2] = std::from_chars(slash + 1, end, n);
    ok = ec2 == std::errc() && last == end && k >= 1 && n >= k;
  }
  if (!ok) run.listing.error("Value of SHARD must be K/N with 1 <= K <= N: " + text);
  if (params.json.empty()) {
    run.listing.error("SHARD needs json=FILE: quorvale-merge reads the results of every shard.");
  }
  run.simulation.shard = k;
  run.simulation.shards = n;
}

/// PROC ESTIMATE; its report joins the results.
void estimate_fit(Run& run) {
  if (std::optional<FitReport> report = estmat(run, EstimateMode::Full)) run.results.fits.push_back(std::move(*report));
}

/// PROC TEST; a comparison of two models or more joins the results.
void test_models(Run& run) {
  if (std::optional<ModelComparison> comparison = dotest(run, run.results.fits, run.sequence_start)) {
    run.results.tests.push_back(std::move(*comparison));
  }
  run.sequence_start = run.results.fits.size();
}

/// PROC IDENTIFIABLE; its scans join the results.
void identifiable(Run& run) { run.results.identifiability.push_back(identf(run)); }

/// The cohorts of the model store, laid out by period when the data follow the robust design.
DataSummary data_summary(const ModelStore& m) {
  DataSummary d;
  for (int c = 1; c <= m.NCOHRT; ++c) {
    CohortData cohort;
    cohort.size = m.NREL(c);
    for (int k = 1; k <= m.NCLASS(c); ++k) cohort.counts.push_back(m.NOBS(k, c));
    d.cohorts.push_back(std::move(cohort));
  }
  d.groups = m.group_names;
  const RdDesign design = laid_out(m);
  if (design.status != EstStatus::Ok) return d;
  const RobustLayout& L = design.layout;
  const auto cohort = [&d](int c) -> CohortData& { return d.cohorts[static_cast<std::size_t>(c - 1)]; };
  for (int ip = 1; ip <= L.periods(); ++ip) {
    d.occasions.push_back(L.occasions(ip));
    int first = 0;
    for (int g = 1; g <= L.groups(); ++g) first += m.NREL(L.closed_cohort(ip, 1, g));
    d.first_caught.push_back(first);
  }
  for (int g = 1; g <= L.groups(); ++g) {
    for (int ip = 1; ip <= L.periods(); ++ip) {
      for (int jp = 1; jp <= ip; ++jp) {
        CohortData& c = cohort(L.closed_cohort(ip, jp, g));
        c.kind = "closed";
        c.period = ip;
        c.release_period = jp - 1;
        c.group = g;
      }
    }
    for (int i = 1; i < L.periods(); ++i) {
      CohortData& c = cohort(L.open_cohort(i, g));
      c.kind = "open";
      c.release_period = i;
      c.group = g;
    }
  }
  return d;
}

/// PROC MODEL; a new model starts a new sequence of fits.
void read_model(Run& run) {
  model(run);
  run.saved.reset();
  run.sequence_start = run.results.fits.size();
  run.results.has_data = true;
  run.results.data = data_summary(run.model);
  run.simulation.study.data = data_identity(run.model);
}

/// A procedure selected by the second word of a PROC statement.
struct Procedure {
  std::string_view keyword;
  void (*run)(Run&);
};

/// The procedures the program knows; the keyword must be the whole token.
constexpr Procedure kProcedures[] = {
    {"MODEL", read_model},
    {"ESTIMATE", estimate_fit},
    {"TEST", test_models},
    {"SIMULATE", simulate},
    {"TITLE", [](Run& run) { title(run); }},
    {"IDENTIFIAB", identifiable},
};

/// Prints the dimension limits compiled into this program.
void print_dimensions(Run& run) {
  static const Layout heading("(/6X,A)");
  static const Layout limit("(8X,A,T50,I4)");
  static const Layout text("(6X,A)");
  static const Layout last("(6X,A/)");
  Listing& lst = run.listing;
  lst.linchk(9);
  lst.put(heading, {"Dimension limitations for this run:"});
  lst.put(limit, {"Maximum number of parameters", MAXPAR});
  lst.put(limit, {"Maximum number of cohorts", MAXCHT});
  lst.put(limit, {"Maximum number of classes within a cohort", MXCLAS});
  lst.put(limit, {"Maximum number of models for PROC TEST", MAXMOD});
  lst.put(text, {"If your problem needs larger dimensions, reset the values"});
  lst.put(last, {"in the MODELC include file and recompile the program."});
}

/// Prints the modification history block.
void print_history(Run& run) {
  static const Layout line("(2X,A)");
  Listing& lst = run.listing;
  lst.linchk(5);
  lst.put(line, {"Date       Modifications"});
  lst.put(line, {"---------  " + std::string(64, '-')});
  lst.put(line, {"March, 90  NORMALIZE option for PROC MODEL to normalize cell probabilities."});
  lst.put(line, {"March, 90  ADDCELL option for PROC MODEL to add cell with 1 - sum of cells."});
  lst.put(line, {"March, 90  NOBINCOF option for PROC ESTIMATE to not add bin. coef. to like."});
  lst.put(line, {" "});
}

/// Closes PROC SIMULATE's estimate file, then prints the run's total time and the success line.
void end_sequence(Run& run) {
  static const Layout minutes("(/5X,A,F8.2)");
  static const Layout success("(//10X,A)");
  if (!run.simfile.close()) run.listing.error(run.simfile.failure());
  run.listing.prtcmd();
  run.listing.put(minutes, {"CPU time in minutes for this job was", run.status.TTOTAL / 60.0F});
  run.listing.put(success, {"E X E C U T I O N   S U C C E S S F U L "});
}

/// The procedure loop: one procedure per PROC statement until PROC STOP.
void procedure_loop(Run& run) {
  static const Layout elapsed("(/5X,A,F8.2)");
  Status& s = run.status;
  while (run.token(1) == "PROC") {
    run.reader.echo_as(EchoLevel::Proc);
    s.IDEBUG = run.token(3) == "DEBUG" ? 1 : 0;
    if (s.LINLFT <= 29) run.listing.headng();
    if (run.token(2) == "STOP") return;
    const Procedure* chosen = nullptr;
    for (const Procedure& p : kProcedures) {
      if (run.token(2) == p.keyword) chosen = &p;
    }
    if (chosen == nullptr) run.listing.error("Unrecognized procedure specified.");
    run.reader.begin_procedure();
    chosen->run(run);
    s.TPROC = run.clock.secnds(0.0F) - s.TSTART;
    s.TSTART = s.TSTART + s.TPROC;
    run.listing.linchk(2);
    run.listing.put(elapsed, {"CPU time in seconds for last procedure was", s.TPROC});
    s.TTOTAL = s.TTOTAL + s.TPROC;
  }
  if (run.token(1) == "COVARIATE") run.listing.error(covariate_outside_model());
  if (!(run.token(1) == "STOP")) run.listing.error("Unrecognized input.");
}

/// The files a run opens at start-up.
struct RunFiles {
  std::ifstream input;                    ///< the command file (i=)
  std::istringstream commands;            ///< the commands read ahead, when they were
  std::ofstream listing;                  ///< the listing file (l=)
  std::string listing_name = "(stdout)";  ///< the listing's name in messages
};

/// Reads the rest of `in` into `text`; false when the input fails (its
/// reader then reports the failure).
bool read_ahead(std::istream& in, std::string& text) {
  if (!in.good()) return false;
  std::streambuf* sb = in.rdbuf();
  if (sb == nullptr) return false;
  char chunk[65536];
  for (;;) {
    std::streamsize n = 0;
    try {
      n = sb->sgetn(chunk, sizeof chunk);
    } catch (const std::exception&) {
      return false;
    }
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

/// Start-up, procedure loop and end of one run; throws RunEnd on a fatal end.
void run_program(Run& run, const std::vector<std::string>& words, RunFiles& files, std::ostream& err) {
  Status& s = run.status;
  run.listing.headst.BANNER = std::string(kBanner) + " ";
  std::string date = run.clock.dater();
  run.listing.headst.DATE1 = date.substr(0, 15);
  run.listing.headst.DATE2 = date.substr(15, 10);

  RunParams params = parse_params(words);
  run.listing.err_text(ignored_words_line(params));
  if (params.noecho) s.NOECHO = 1;
  run.listing.set_tracing(!params.notrace);
  run.simulation.keep_fits = !params.json.empty() || !params.csv.empty() || !params.report.empty();
  run.simulation.threads = refit_threads(run, params.threads, err);
  run.exact_gradient_default = exact_gradient(run, params.gradient);
  read_shard(run, params);
  for (const std::string& word : words) {
    if (!run.results.parameter_line.empty()) run.results.parameter_line += ' ';
    run.results.parameter_line += word;
    if (word.starts_with("shard=") || word.starts_with("SHARD=")) continue;
    std::string& study_words = run.simulation.study.parameters;
    if (!study_words.empty()) study_words += ' ';
    study_words += word;
  }
  run.results.command_file = params.input;
  if (params.lines_given) {
    if (params.lines_field.size() > 10) {
      run.listing.error("Number " + params.lines_field + " of lines= is longer than its field of 10 characters; it is not read cut.");
    }
    s.LINES = ivalue(params.lines_field, run.listing);
  }
  if (s.LINES <= 29) s.LINES = 60;

  if (!params.input.empty()) {
    s.INUNIT = 4;
    files.input.open(params.input, std::ios::in | std::ios::binary);
    if (!files.input.is_open()) {
      run.listing.error("Could not open file " + pad_min(params.input, 60) + " for input.");
    }
    run.reader.set_input(files.input);
    run.reader.set_source(params.input, file_id(params.input));
  }
  // The commands are read ahead to find the files they name, which no other
  // output of the run may be.
  std::vector<NamedFile> named;
  const std::optional<FileId> listing_id = file_id(params.listing);  // none without l=
  if (!(listing_id && listing_id == run.reader.source_id())) {
    std::string text;
    if (read_ahead(run.reader.input(), text)) {
      named = files_named(run.reader, text);
      files.commands.str(std::move(text));
      run.reader.set_input(files.commands);
    }
  }
  if (!params.listing.empty()) {
    const std::optional<FileId>& id = listing_id;
    std::string msg;
    // Opening the listing empties the file: the commands must not be in it.
    // Nor a model file that PROC TEST will read and merge.
    std::optional<std::string> model_file;
    for (const NamedFile& f : named) {
      if (id && f.model_file && file_id(f.name) == id) model_file = f.place;
    }
    if (id && id == run.reader.source_id()) {
      msg = "\n Listing file " + params.listing + " is the command file; it is not overwritten.\n";
    } else if (model_file) {
      msg = "\n Listing file " + params.listing + " is the model file of PROC TEST AICSAVE at " + *model_file +
            "; it is not overwritten.\n";
    } else {
      files.listing.open(params.listing, std::ios::out | std::ios::trunc | std::ios::binary);
      if (!files.listing.is_open()) msg = "\n Could not open file " + params.listing + " for the listing.\n";
    }
    if (!msg.empty()) {
      err.write(msg.data(), static_cast<std::streamsize>(msg.size()));
      throw RunEnd{kErrorEnd, 1};
    }
    files.listing_name = params.listing;
    run.listing.set_stream(files.listing);
    run.reader.set_listing_file(file_id(params.listing));
  }

  // The result files are written at the end of the run: one that would
  // replace the command file or the listing is refused before anything runs.
  if (!params.json.empty()) run.reader.refuse_overwrite(params.json, "Results file");
  if (!params.csv.empty()) run.reader.refuse_overwrite(params.csv, "Results folder");
  if (!params.report.empty()) run.reader.refuse_overwrite(params.report, "Report");
  check_outputs(run, params, named);

  // A shard's results carry the digest of its commands, read whole first.
  if (!params.shard.empty()) {
    std::string text;
    const bool whole = read_ahead(run.reader.input(), text);
    run.simulation.study.commands = text_digest(text);
    if (whole) {
      files.commands.str(std::move(text));
      run.reader.set_input(files.commands);
    }
  }

  run.reader.fillsg();
  run.reader.getcmd();
  s.TTOTAL = 0.0F;
  s.TSTART = run.clock.secnds(0.0F);
  print_dimensions(run);
  print_history(run);
  procedure_loop(run);
  write_results(run, params);
  end_sequence(run);
}

}  // namespace

int pelmar(RunIo io, const std::vector<std::string>* words, Clock clock) {
  RunFiles files;
  std::vector<std::string> read_words;
  const bool line_read = words == nullptr;
  if (line_read) {
    read_words = args1(io.in, io.out);
    words = &read_words;
  }
  Run run(io.in, io.out, io.err, std::move(clock));
  run.listing.set_err_terminal(io.err_terminal);
  // Commands on standard input follow the parameter line when that was read there.
  run.reader.set_source("(stdin)", &io.in == &std::cin ? descriptor_id(0) : std::nullopt,
                        line_read && !io.in.fail() ? 1 : 0);
  int status = 0;
  std::string stop_text = kNormalEnd;
  // A fatal message again, after the file and line of the statement it concerns.
  auto say_where = [&](std::string_view message) {
    const std::string place = run.reader.where();
    if (!place.empty() && !message.empty()) io.err << place << ": " << message << "\n";
  };
  try {
    run_program(run, *words, files, io.err);
  } catch (const RunEnd& end) {
    stop_text = end.stop_text;
    status = end.exit_status;
    say_where(end.message);
  } catch (const InternalError& fault) {
    stop_text = kErrorEnd;
    status = 1;
    io.err << "\n Internal error: " << fault.what() << "\n";
    say_where(std::string("Internal error: ") + fault.what());
  } catch (const std::bad_alloc&) {
    stop_text = kErrorEnd;
    status = 1;
    io.err << "\n Not enough memory for this run.\n";
    say_where("Not enough memory for this run.");
  }
  auto fail = [&](const std::string& message) {
    io.err << "\n " << message << "\n";
    if (stop_text == kNormalEnd) stop_text = kErrorEnd;
    status = 1;
  };
  // After a fatal end the estimate file is closed here; its records may be lost too.
  if (!run.simfile.close()) fail(run.simfile.failure());
  try {
    run.listing.flush();
  } catch (const RunEnd&) {
    // failed() tells below.
  }
  bool listing_failed = run.listing.failed();
  if (files.listing.is_open()) {
    files.listing.close();
    listing_failed = listing_failed || files.listing.fail();
  }
  if (listing_failed) fail("Could not write file " + files.listing_name + " for the listing.");
  io.err << "STOP " << stop_text << "\n" << std::flush;
  return status;
}

int program_main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // A write past the file-size limit fails like a full disk, through the error path.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << "Usage: quorvale [i=commands.cmd] [l=listing.lst] [lines=n] [noecho] [word ...]\n"
                   "\n"
                   "Estimates survival, capture and temporary-emigration probabilities from\n"
                   "robust-design capture-recapture data described in a command file.\n"
                   "\n"
                   "  i=FILE       read the commands from FILE (default: standard input)\n"
                   "  l=FILE       write the listing to FILE (default: standard output)\n"
                   "  lines=N      page length of the listing (values below 30 give 60)\n"
                   "  noecho       do not echo the statements into the listing\n"
                   "  json=FILE    write the run's results as one JSON document\n"
                   "  csv=DIR      write the results as CSV tables into DIR\n"
                   "  report=FILE  write the report page of the run (HTML) to FILE\n"
                   "  notrace      leave out the trace line of every likelihood evaluation\n"
                   "  threads=N    refit PROC SIMULATE's replicates on N threads\n"
                   "  shard=K/N    refit only the K-th of N blocks of replicates (needs json=)\n"
                   "  gradient=G   G = exact: every fit with exact derivatives (faster on large\n"
                   "               models); difference (the default): difference gradients\n"
                   "\n"
                   "Each word may also be written in capitals (JSON=FILE). Other words are\n"
                   "ignored, and named on standard error. Without arguments the parameter\n"
                   "line is read from standard input after a prompt. --version prints the\n"
                   "version.\n";
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "quorvale " << QUORVALE_VERSION << "\n";
      return 0;
    }
    words.emplace_back(argv[i]);
  }
  RunIo io{std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
  return pelmar(io, argc > 1 ? &words : nullptr);
}

}  // namespace quorvale
