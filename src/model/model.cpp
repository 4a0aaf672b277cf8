#include "model/model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/context.h"
#include "input/fields.h"
#include "input/option_words.h"
#include "listing/run_end.h"
#include "model/group_names.h"
#include "model/likelihood.h"

namespace quorvale {

namespace {

/// The options of PROC MODEL.
constexpr OptionSpec kModelOptions[] = {
    {"NPAR", OptionForm::Value},      {"PRIMARY", OptionForm::CountWord}, {"GROUPS", OptionForm::Name},
    {"SECONDARY", OptionForm::List},  {"INTERVALS", OptionForm::List},    {"NORMALIZE", OptionForm::Flag},
    {"ADDCELL", OptionForm::Flag},    {"RECOVERIES", OptionForm::Flag},
};

/// Takes the words after GROUPS = as the names of the groups, or, for a
/// count, says that a count alone lays out no groups.
void read_groups(ModelContext& run, const std::vector<std::string>& words) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  if (static_cast<unsigned char>(words.front().front()) <= '9') {
    if (m.NGROUP > 1) {
      lst.warn("GROUPS = " + words.front() + " only records a count; name the groups (GROUPS = F M) to fit them.");
    }
    return;
  }
  if (const std::optional<std::string> fault = group_names_fault(words)) lst.error(*fault);
  m.group_names = words;
  m.NGROUP = static_cast<int>(m.group_names.size());
}

/// Reads the options of the PROC MODEL statement into the store.
void read_options(ModelContext& run) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  const int ntok = run.status.NTOK;
  // A list option (SECONDARY, INTERVALS) takes every later token that starts
  // with a digit or any other character not above "9"; the others still count
  // in the position k.
  auto list_values = [&](int i, auto&& store) {
    for (int j = i + 2; j <= ntok; ++j) {
      auto first = static_cast<unsigned char>(run.token(j).first());
      if (first > static_cast<unsigned char>('9')) continue;
      store(j - i - 1, j);
    }
  };
  for (int i = 3; i <= ntok; ++i) {
    const Token& t = run.token(i);
    if (t == "NPAR") {
      m.NPAR = ivalue(run.instr, i + 2, lst);
      if (m.NPAR > MAXPAR) {
        lst.error("NPAR exceeds MAXPAR.  Recompile with MAXPAR = NPAR in PARAMETER statement.");
      }
      if (m.NPAR < 0) lst.error("NPAR must not be negative.");
    } else if (t == "PRIMARY") {
      m.NPRIM = ivalue(run.instr, i + 3, lst);
      if (m.NPRIM > MAXPRM) {
        lst.error("Number of primary occasions exceeds MAXPRM.   Recompile with MAXPRM = # primary occasions.");
      }
    } else if (t == "GROUPS") {
      // A count only records the number (as it always has); names lay the
      // model out for that many groups.
      if (static_cast<unsigned char>(run.token(i + 2).first()) <= '9') m.NGROUP = ivalue(run.instr, i + 2, lst);
    } else if (t == "SECONDARY") {
      list_values(i, [&](int k, int field) {
        if (k <= m.NPRIM) m.NSEC(k) = ivalue(run.instr, field, lst);
      });
    } else if (t == "INTERVALS") {
      list_values(i, [&](int k, int field) {
        if (k < m.NPRIM) m.TINT(k) = static_cast<double>(ivalue(run.instr, field, lst));
      });
    } else if (t == "NORMALIZE") {
      m.NORMAL = 1;
    } else if (t == "ADDCELL") {
      m.ADDCEL = 1;
    } else if (t == "RECOVERIES") {
      m.IRECOV = 1;
    }
  }
  const OptionScan scan = scan_options(run.instr, ntok, kModelOptions);
  if (!scan.name_words.empty()) read_groups(run, scan.name_words);
  run.reader.warn_unknown_options(scan, "PROC MODEL");
}

/// Handles a cell statement: the next class of the current cohort.
void read_cell(ModelContext& run) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  const int c = m.NCOHRT;
  if (c < 1) lst.error("Cell statement before the first COHORT statement.");
  run.reader.echo_as(EchoLevel::Detail);
  const int k = ++m.NCLASS(c);
  if (k > MXCLAS) lst.error("Number of classes exceeds MXCLAS.   Recompile with MXCLAS = # classes.");
  m.NOBS.push_back(ivalue(run.instr, 1, lst));
  if (m.NOBS(k, c) < 0) lst.error("Observed count of a cell is negative.");

  // The expression is rebuilt from its tokens, each in its full 10 columns,
  // and only checked for balanced parentheses.
  const int ntok = run.status.NTOK;
  const int words = std::max(0, ntok - 2);
  if (words * TOKLEN > MAXCHR) {
    lst.error("Probability expression exceeds 1320 characters.");
  }
  std::fill(m.EXPR.begin(), m.EXPR.end(), ' ');
  for (int j = 3; j <= ntok; ++j) {
    std::string_view w = run.token(j).view();
    std::copy(w.begin(), w.end(), m.EXPR.begin() + (j - 3) * TOKLEN);
  }
  std::string_view used(m.EXPR.data(), static_cast<std::size_t>(words * TOKLEN));
  if (count(used, "(") != count(used, ")")) {
    lst.error("Imbalanced parentheses in probability expression.");
  }
}

/// Reads COVARIATE name = v1 ... vM: one value per primary period. Returns
/// the statement's place, for the check of the count against the design.
std::string read_covariate(ModelContext& run) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  const int ntok = run.status.NTOK;
  static constexpr const char* kForm =
      "COVARIATE needs a name, = and one value per primary period (COVARIATE WINTER = 0.2 0.5 0.1).";
  // The name as typed, up to the = that may follow it without a blank; a
  // name longer than a token takes several, and is judged whole.
  std::string_view raw = run.instr.raw_word(2);
  raw = raw.substr(0, std::min(raw.size(), raw.find_first_of(":=<>")));
  if (raw.empty()) lst.error(kForm);
  std::string name(raw);
  if (const std::optional<std::string> fault = covariate_name_fault(name)) lst.error(*fault);
  int equals = 3;  // the token after the name
  while (equals <= ntok && run.instr.TOKPOS[static_cast<std::size_t>(equals)] <
                               run.instr.TOKPOS[2] + static_cast<int>(raw.size())) {
    ++equals;
  }
  if (equals + 1 > ntok || run.token(equals) != "=") lst.error(kForm);
  for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (const Covariate& c : m.covariates) {
    if (c.name == name) lst.error("Covariate " + name + " given twice.");
  }
  Covariate c{name, {}};
  for (int L = equals + 1; L <= ntok; ++L) {
    // A word that cannot be a number is named with the covariate it was
    // given for; a malformed number still gets the reader's message.
    const std::string_view word = run.instr.raw_word(L);
    if (verify(run.token(L).view(), "0123456789.+-ED ") != 0) {
      lst.error("Covariate " + name + " has a value that is not a number: " + std::string(word) + ".");
    }
    const double v = value(run.instr, L, lst);
    if (!std::isfinite(v)) lst.error("Covariate " + name + " has a value that is not a finite number.");
    c.values.push_back(v);
  }
  const int count = static_cast<int>(c.values.size());
  if (m.NPRIM > 0 && count != m.NPRIM) {
    lst.error("Covariate " + name + " has " + std::to_string(count) + (count == 1 ? " value" : " values") +
              ", but the model has " + std::to_string(m.NPRIM) + " primary periods: give one value per period.");
  }
  m.covariates.push_back(std::move(c));
  return run.reader.where();
}

/// Prints the robust-design description given to PROC MODEL.
void print_design(ModelContext& run) {
  static const Layout intervals("(/A,(20F4.1))");
  static const Layout secondary("(/A,(20I4))");
  const ModelStore& m = run.model;
  std::vector<Item> items;
  items.emplace_back("INTERVALS:");
  for (int k = 1; k <= m.NPRIM - 1; ++k) items.emplace_back(m.TINT(k));
  run.listing.put(intervals, items);
  items.clear();
  items.emplace_back("SECONDARY OCCASIONS:");
  for (int k = 1; k <= m.NPRIM; ++k) items.emplace_back(m.NSEC(k));
  run.listing.put(secondary, items);
  if (!m.group_names.empty()) {
    static const Layout groups("(/A,10(1X,A))");
    items.clear();
    items.emplace_back("GROUPS:");
    for (const std::string& name : m.group_names) items.emplace_back(name);
    run.listing.put(groups, items);
  }
  for (const Covariate& c : m.covariates) {
    static const Layout covariate("(/A,(8G13.5))");
    // An Item keeps a view of its text: the heading must outlive the put.
    std::string heading = "COVARIATE ";
    heading += c.name;
    heading += ":";
    items.clear();
    items.emplace_back(heading);
    for (double v : c.values) items.emplace_back(v);
    run.listing.put(covariate, items);
  }
}

/// Gives the labels of parameters 1..n, the ones not held yet "PARAMETER nn".
void label_defaults(ModelStore& m, int n) {
  static const Layout default_label("(10HPARAMETER ,I2)");
  const int held = m.LABEL.size();
  if (n <= held) return;
  m.LABEL.resize(n);
  for (int i = held + 1; i <= n; ++i) m.LABEL(i) = default_label.write_internal({i}, LABLEN);
}

}  // namespace

void model(ModelContext& run) {
  ModelStore& m = run.model;
  m.NCOHRT = 0;
  m.NPAR = 0;
  m.design = RdDesign{};
  m.NEQUAL = 0;
  m.NGROUP = 1;
  m.group_names.clear();
  m.covariates.clear();
  m.IRECOV = 0;
  m.NORMAL = 0;
  m.ADDCEL = 0;
  m.TINT.fill(1.0);
  read_options(run);
  // The parameters and labels of this model, the cohorts as they are read.
  m.LABEL = Vec1<std::string>();
  label_defaults(m, m.NPAR);
  m.size_parameters();
  m.NOBS = Mat1<int>();
  run.reader.getcmd();
  std::vector<std::string> covariate_places;

  for (;;) {
    run.listing.put_free({">>", run.token(1).view()});
    const Token& first = run.token(1);
    if (first == "PROC") break;
    if (first == "COVARIATE") {
      run.reader.echo_as(EchoLevel::Statement);
      covariate_places.push_back(read_covariate(run));
      run.reader.getcmd();
      continue;
    }
    if (first == "LABELS" || first == "LABEL") {
      run.reader.echo_as(EchoLevel::Statement);
      labels(run);
      continue;
    }
    if (first == "COHORT") {
      ++m.NCOHRT;
      run.reader.echo_as(EchoLevel::Statement);
      if (m.NCOHRT > MAXCHT) {
        run.listing.error("Number of cohorts exceeds MAXCHT.   Recompile with MAXCHT = # cohorts.");
      }
      m.NREL(m.NCOHRT) = ivalue(run.instr, 3, run.listing);
      if (m.NREL(m.NCOHRT) < 0) run.listing.error("Size of cohort is negative.");
      m.NCLASS(m.NCOHRT) = 0;
      m.NOBS.add_column();
    } else {
      read_cell(run);
    }
    run.reader.getcmd();
  }

  print_design(run);
  run.reader.echo_as(EchoLevel::Proc);
  modout(run);
  // A covariate has one value per primary period of the design the cohorts lay out.
  if (m.design.status == EstStatus::Ok || m.design.status == EstStatus::NparTooSmall) {
    const int M = m.design.layout.periods();
    for (std::size_t i = 0; i < m.covariates.size(); ++i) {
      const int count = static_cast<int>(m.covariates[i].values.size());
      if (count != M) {
        run.listing.error("Covariate " + m.covariates[i].name + " (" + covariate_places[i] + ") has " +
                          std::to_string(count) + (count == 1 ? " value" : " values") + ", but the design has " +
                          std::to_string(M) + " primary periods: give one value per period.");
      }
    }
  }
}

void labels(ModelContext& run) {
  ModelStore& m = run.model;
  Status& s = run.status;
  for (;;) {
    run.reader.getcmd();
    const Token& first = run.token(1);
    // COVARIATE may follow the labels as it may precede them.
    if (first == "PROC" || first == "COHORT" || first == "COVARIATE") return;
    if (first[0] != 'S' || first[1] != '(') {
      run.listing.error("Unidentified command in LABELS of PROC MODEL");
    }
    run.reader.echo_as(EchoLevel::Detail);
    int i = nparm(first.view(), run.listing);
    if (i < 1 || i > MAXPAR) run.listing.error("Parameter number in LABELS outside 1 to MAXPAR.");
    label_defaults(m, i);
    std::string_view raw = run.instr.text(s.ISTART, s.IEND);
    std::size_t eq = raw.find('=');
    int from = eq == std::string_view::npos ? s.ISTART : s.ISTART + static_cast<int>(eq) + 1;
    from = std::min(from, s.IEND - 1);
    m.LABEL(i) = pad(run.instr.text(from, s.IEND - 1), LABLEN);
  }
}

void modout(ModelContext& run) {
  static const Layout abort_line("(/1X,A)");
  ModelStore& m = run.model;
  std::vector<int> cells(static_cast<std::size_t>(m.NCOHRT));
  std::vector<std::pair<int, int>> remainders;  // cohort, animals in no cell
  for (int c = 1; c <= m.NCOHRT; ++c) {
    const int n = m.NCLASS(c);
    std::int64_t s = 0;
    for (int k = 1; k <= n; ++k) s += m.NOBS(k, c);
    // A cohort whose cells hold more animals than it has is rejected, with
    // or without ADDCELL: its remainder cell would get a negative count.
    if (s > m.NREL(c)) run.listing.error("Observed size of cohort too large.");
    if (s < m.NREL(c) || m.ADDCEL == 1) {
      m.NCLASS(c) = n + 1;
      if (m.NCLASS(c) > MXCLAS) {
        static constexpr const char* kTooManyClasses = "NUMBER OF CLASSES WITHIN COHORT EXCEEDS DIMENSIONS";
        run.listing.put(abort_line, {kTooManyClasses});
        throw RunEnd{kDimensionAbort, 1, kTooManyClasses};
      }
      remainders.emplace_back(c, static_cast<int>(m.NREL(c) - s));
    }
    cells[static_cast<std::size_t>(c - 1)] = m.NCLASS(c);
  }
  // The counts take their final shape with the remainder cells, and the
  // cell probabilities the same shape.
  m.NOBS.reshape(cells);
  for (const auto& [c, animals] : remainders) m.NOBS(m.NCLASS(c), c) = animals;
  m.P = Mat1<double>(cells);
  // The cohorts and NPAR are final: the design is laid out once, for every
  // evaluation of the likelihood and every draw that follows.
  m.design = rd_design(m);
  // Cohorts that do not make whole groups are the model's own fault: said
  // here, where it is read, not at the first fit.
  if (m.design.status == EstStatus::GroupCohorts || m.design.status == EstStatus::GroupBlocks) {
    run.listing.error(rd_design_message(m.design, m));
  }
  if (m.MODDEF == 1) {
    run.listing.warn("Multiple models are not allowed in this version of pelmar.");
    run.listing.warn("The model curently in core will still be used.");
  } else {
    m.MODDEF = 1;
  }
}

}  // namespace quorvale
