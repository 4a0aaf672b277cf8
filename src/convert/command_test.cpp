#include "convert/command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "convert/templates.h"
#include "driver/title.h"
#include "estimate/consrt.h"
#include "estimate/structure.h"
#include "model/likelihood.h"
#include "model/model.h"
#include "testing/harness.h"

namespace quorvale::convert {
namespace {

using quorvale::testing::StringRun;

/// A run that has read PROC TITLE and PROC MODEL of `command` and stands on the next PROC statement.
std::unique_ptr<StringRun> read_model(const std::string& command, const std::string& name_tokens = "[SMALL.INP]") {
  auto r = std::make_unique<StringRun>(command);
  r->run.status.LINLFT = 1000000;
  r->start();
  EXPECT_EQ(r->tokens(), "[PROC][TITLE][ROBUST][DESIGN][:]" + name_tokens);
  title(r->run);
  model(r->run);
  return r;
}

/// Checks what PROC MODEL stored against the design and the tabulated cohorts.
void expect_stored(const ModelStore& m, const Design& d, const std::vector<Cohort>& cohorts) {
  EXPECT_EQ(m.NPAR, d.npar());
  EXPECT_EQ(m.ADDCEL, 1);
  EXPECT_EQ(m.NPRIM, d.periods());
  for (int ip = 1; ip <= d.periods(); ++ip) EXPECT_EQ(m.NSEC(ip), d.occasions(ip)) << ip;
  ASSERT_EQ(m.NCOHRT, d.cohorts());
  for (int c = 1; c <= m.NCOHRT; ++c) {
    const Cohort& want = cohorts[static_cast<std::size_t>(c - 1)];
    ASSERT_EQ(m.NCLASS(c), static_cast<int>(want.cells.size()) + 1) << c;
    EXPECT_EQ(m.NREL(c), want.size) << c;
    long long sum = 0;
    for (std::size_t k = 0; k < want.cells.size(); ++k) {
      EXPECT_EQ(m.NOBS(static_cast<int>(k) + 1, c), want.cells[k]) << c << " " << k;
      sum += want.cells[k];
    }
    EXPECT_EQ(m.NOBS(m.NCLASS(c), c), want.size - sum) << c;
  }
  const RdDesign layout = rd_design(m);
  ASSERT_EQ(layout.status, EstStatus::Ok);
  EXPECT_EQ(layout.M, d.periods());
  for (int ip = 1; ip <= d.periods(); ++ip) EXPECT_EQ(layout.layout.occasions(ip), d.occasions(ip));
}

/// Every line fits the columns the program reads, and every line that
/// continues a statement begins with a blank.
void expect_readable_lines(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  bool in_statement = false;
  bool in_comment = false;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    EXPECT_LE(line.size(), kLineWidth) << "line " << n;
    if ((in_statement || in_comment) && !line.empty()) {
      EXPECT_EQ(line[0], ' ') << "line " << n << ": " << line;
    }
    if (line.find("/*") != std::string::npos) in_comment = true;
    if (line.find("*/") != std::string::npos) in_comment = false;
    const std::size_t end = line.find_last_not_of(' ');
    in_statement = !in_comment && end != std::string::npos && line[end] != ';' && line.rfind("*/") != end - 1;
  }
}

const char* const kSmallInp = "1111 2;\n1000 3;\n0010 1;\n0110 -1;\n0100 -2;\n";

TEST(CommandFile, TwoPeriodsWrittenInFull) {
  const Design d = parse_design("2,2");
  const std::string text = command_file(d, read_inp(kSmallInp), CommandOptions{"data/small.inp", false});
  EXPECT_EQ(text,
            "PROC TITLE Robust design: small.inp;\n"
            "/* Written by quorvale-inp from small.inp: 5 encounter histories, 9 animals\n"
            "   (3 not released after their last capture), 2 primary periods of 2 and 2\n"
            "   secondary occasions. */\n"
            "PROC MODEL NPAR=10 ADDCELL PRIMARY PERIODS = 2 SECONDARY = 2 2 INTERVALS = 1;\n"
            "/* Labels: p(i,t) capture and c(i,t) recapture in period i on occasion t,\n"
            "   phi(i) survival from period i to i+1, gamma''(j) unavailable in j if\n"
            "   available in j-1 (leave), gamma'(j) unavailable in j if unavailable in\n"
            "   j-1 (stay out), theta(i) the recapture exponent of period i. */\n"
            "LABELS;\n"
            "  S(1)=p(1,1) capture;\n"
            "  S(2)=p(1,2) capture;\n"
            "  S(3)=c(1,2) recapture;\n"
            "  S(4)=p(2,1) capture;\n"
            "  S(5)=p(2,2) capture;\n"
            "  S(6)=c(2,2) recapture;\n"
            "  S(7)=phi(1) survival;\n"
            "  S(8)=gamma''(2) leave;\n"
            "  S(9)=theta(1) exponent;\n"
            "  S(10)=theta(2) exponent;\n"
            "/* Cohorts: for each period ip, the animals first caught in ip, then those\n"
            "   released after period jp-1 and next caught in ip (jp = 2..ip), cells by\n"
            "   capture history within ip. Then for each period i, the animals released\n"
            "   after i, cells by the period they are next caught in. ADDCELL adds every\n"
            "   cohort's last cell (never caught). The cell expressions are for reading\n"
            "   only: PSTAR(j) is caught at least once in period j, A(i,j) is available\n"
            "   in j and missed in between. */\n"
            " COHORT = 8 /* period 1, first caught */;\n"
            "          2 : S(1)*S(3);\n"
            "          3 : S(1)*(1-S(3));\n"
            "          3 : (1-S(1))*S(2);\n"
            " COHORT = 1 /* period 2, first caught */;\n"
            "          0 : S(4)*S(6);\n"
            "          1 : S(4)*(1-S(6));\n"
            "          0 : (1-S(4))*S(5);\n"
            " COHORT = 3 /* period 2, released after period 1 */;\n"
            "          2 : S(4)*S(6);\n"
            "          1 : S(4)*(1-S(6));\n"
            "          0 : (1-S(4))*S(5);\n"
            " COHORT = 6 /* released after period 1, next caught in period 2..2 */;\n"
            "          3 : S(7)*PSTAR(2)*(1-S(8));\n"
            "PROC STOP;\n");
  expect_readable_lines(text);
}

TEST(CommandFile, SourceNamesAreCutAndCleanedForTheTitle) {
  const Design d = parse_design("2,2");
  const std::string dir = "some/dir;x/";
  const std::string text =
      command_file(d, read_inp(kSmallInp), CommandOptions{dir + "a b;c*d" + std::string(80, 'x') + ".inp", false});
  expect_readable_lines(text);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "PROC TITLE Robust design: a_b_c_d" + std::string(43, 'x') + ";");
}

TEST(CommandFile, ProcModelReadsBackTheCohortsAndLabels) {
  const Design d = parse_design("3,1,2");
  const std::vector<History> histories = read_inp("101101 4;\n000011 2;\n010010 -1;\n001100 -3;\n000100 5;\n");
  const std::string text = command_file(d, histories, CommandOptions{"small.inp", false});
  expect_readable_lines(text);
  auto r = read_model(text);
  expect_stored(r->run.model, d, tabulate(d, histories));
  EXPECT_EQ(r->tokens(), "[PROC][STOP]");
  const ModelStore& m = r->run.model;
  auto label = [&](int i) { return m.LABEL(i).substr(0, m.LABEL(i).find_last_not_of(' ') + 1); };
  EXPECT_EQ(label(d.p(1, 3)), "p(1,3) capture");
  EXPECT_EQ(label(d.c(3, 2)), "c(3,2) recapture");
  EXPECT_EQ(label(d.phi(2)), "phi(2) survival");
  EXPECT_EQ(label(d.gamma2(3)), "gamma''(3) leave");
  EXPECT_EQ(label(d.gamma1(3)), "gamma'(3) stay out");
  EXPECT_EQ(label(d.theta(2)), "theta(2) exponent");
  // The listing shows the description as the options were read.
  const std::string listing = r->listing();
  EXPECT_NE(listing.find("SECONDARY OCCASIONS:   3   1   2"), std::string::npos);
}

TEST(CommandFile, ClosedExpressionsFollowTheCellOrder) {
  const Design d = parse_design("2,3,2");
  // Cell h + 1: occasion t caught when binary digit kk - t of h is 0.
  EXPECT_EQ(closed_expression(d, 2, 0), "S(4)*S(7)*S(8)");
  EXPECT_EQ(closed_expression(d, 2, 3), "S(4)*(1-S(7))*(1-S(8))");
  EXPECT_EQ(closed_expression(d, 2, 6), "(1-S(4))*(1-S(5))*S(6)");
  EXPECT_EQ(closed_expression(d, 3, 2), "(1-S(9))*S(10)");
}

/// Histories over `occasions` occasions: every single-period capture
/// pattern of a few periods, and a few runs across periods.
std::string some_histories(const Design& d) {
  std::string inp;
  const int n = d.total_occasions();
  for (int first = 0; first < n; first += 3) {
    std::string h(static_cast<std::size_t>(n), '0');
    for (int k = first; k < n; k += 2) h[static_cast<std::size_t>(k)] = '1';
    inp += h;
    // One frequency per group, each group's a little different.
    for (int g = 1; g <= d.groups(); ++g) inp += " " + std::to_string(first % 2 == 0 ? 2 + g : -g);
    inp += " ;\n";
  }
  return inp;
}

TEST(CommandFile, LargestDesignReadsBack) {
  // 47 periods of one occasion: the most cohorts, and open cells with 46
  // survival factors.
  std::string list47 = "1";
  for (int i = 2; i <= 47; ++i) list47 += ",1";
  const Design d = parse_design(list47);
  const std::vector<History> histories = read_inp(some_histories(d));
  // The longest name shown, in the comment that goes with PROC MODEL.
  const std::string name = std::string(46, 'n') + ".inp";
  const std::string text = command_file(d, histories, CommandOptions{name, false});
  expect_readable_lines(text);
  auto r = read_model(text, "[NNNNNNNNNN][NNNNNNNNNN][NNNNNNNNNN][NNNNNNNNNN][NNNNNN.INP]");
  expect_stored(r->run.model, d, tabulate(d, histories));
  EXPECT_EQ(r->tokens(), "[PROC][STOP]");
}

TEST(CommandFile, LabelsLeaveABlankBeforeTheEstimate) {
  // The table of estimates shows 20 characters of a label and the estimate
  // right after them: a label of 20 or more runs into it. Two-digit periods
  // and six occasions give the longest labels.
  for (const std::string list : {"6,6,6", "2,2,2,2,2,2,2,2,2,2,2,2"}) {
    const Design d = parse_design(list);
    auto r = read_model(command_file(d, read_inp(some_histories(d)), CommandOptions{"small.inp", false}));
    const ModelStore& m = r->run.model;
    for (int i = 1; i <= m.NPAR; ++i) {
      const std::string label = m.LABEL(i).substr(0, m.LABEL(i).find_last_not_of(' ') + 1);
      EXPECT_LT(label.size(), 20U) << list << ": " << label;
      EXPECT_GE(label.size(), 8U) << list << ": " << label;  // a symbol and a word
    }
  }
}

TEST(CommandFile, StructureStatementsBuildEachTemplatesMap) {
  // Six occasions give 64 cells per cohort; twelve periods long blocks; two
  // groups the grouped templates, whose shared parts the program ties across groups.
  for (const std::string list : {"6,6,6", "2,3,2,3,2,3,2,3,2,3,2,3", "2,2,4,5,2 F M"}) {
    const bool grouped = list.find(' ') != std::string::npos;
    const Design d = grouped ? with_groups(parse_design(list.substr(0, list.find(' '))), {"F", "M"})
                             : parse_design(list);
    const std::vector<History> histories = read_inp(some_histories(d));
    const std::string text = command_file(d, histories, CommandOptions{"small.inp", true});
    expect_readable_lines(text);
    auto r = read_model(text);
    expect_stored(r->run.model, d, tabulate(d, histories));
    // Each STRUCTURE statement builds the template's map in the program.
    std::vector<std::string> omitted;
    for (const ModelTemplate& t : standard_models(d, omitted)) {
      ASSERT_EQ(r->tokens().substr(0, 16), "[PROC][ESTIMATE]") << t.name;
      EXPECT_NE(r->tokens().find("[" + t.name.substr(0, t.name.find(' ')) + "]"), std::string::npos);
      r->run.reader.getcmd();
      ASSERT_EQ(r->tokens().substr(0, 11), "[STRUCTURE]");
      default_map(r->run.model);
      structure(r->run);
      const ModelStore& m = r->run.model;
      EXPECT_EQ(m.NEST, t.map.estimated()) << t.name;
      for (int i = 1; i <= m.NPAR; ++i) {
        const Setting& s = t.map[i];
        if (s.kind == Setting::Kind::Fixed) {
          ASSERT_LT(m.POINT(i), 0) << t.name << " " << i;
          EXPECT_EQ(m.PAR(-m.POINT(i)), s.value);
        } else {
          EXPECT_EQ(m.POINT(i), m.POINT(s.kind == Setting::Kind::Equal ? s.root : i)) << t.name << " " << i;
          EXPECT_GE(m.POINT(i), 1);
        }
      }
    }
    EXPECT_EQ(r->tokens(), "[PROC][TEST][AVERAGE]");
  }
}

TEST(CommandFile, GroupedCohortsReadBackAsTalliedFromTheHistories) {
  // Random histories over periods of 2, 3 and 2 occasions, each with a
  // frequency for each of two groups: some 0, some negative (lost on capture).
  const Design d = with_groups(parse_design("2,3,2"), {"F", "M"});
  const std::vector<int> start = {0, 2, 5, 7};  // first occasion of each period, and the end
  std::mt19937 random(7);
  std::string inp;
  for (int n = 0; n < 60; ++n) {
    std::string h(7, '0');
    while (h.find('1') == std::string::npos) {
      for (char& ch : h) ch = random() % 3 == 0 ? '1' : '0';
    }
    const int f = static_cast<int>(random() % 9) - 3;
    const int f2 = static_cast<int>(random() % 7) - 2;
    inp += h + " " + std::to_string(f) + " " + std::to_string(f == 0 && f2 == 0 ? 1 : f2) + " ;\n";
  }
  const std::vector<History> histories = read_inp(inp);
  const std::string text = command_file(d, histories, CommandOptions{"small.inp", false});
  expect_readable_lines(text);
  auto r = read_model(text);
  EXPECT_EQ(r->tokens(), "[PROC][STOP]");
  const ModelStore& m = r->run.model;
  ASSERT_EQ(m.group_names, (std::vector<std::string>{"F", "M"}));
  ASSERT_EQ(m.NPAR, 38);
  ASSERT_EQ(m.NCOHRT, 16);

  // Tallied animal by animal from the histories: captures on each occasion,
  // first captures in each period, and the releases after period i next
  // caught in j (0: not seen again, released).
  auto caught_in = [&](const std::string& h, int ip) {
    return h.substr(static_cast<std::size_t>(start[static_cast<std::size_t>(ip - 1)]),
                    static_cast<std::size_t>(d.occasions(ip))).find('1') != std::string::npos;
  };
  for (int g = 1; g <= 2; ++g) {
    std::map<std::pair<int, int>, long long> on_occasion, released;
    std::map<int, long long> first;
    for (const History& h : histories) {
      const long long f = h.frequencies[static_cast<std::size_t>(g - 1)];
      const long long n = f < 0 ? -f : f;
      for (int ip = 1; ip <= 3; ++ip) {
        for (int t = 1; t <= d.occasions(ip); ++t) {
          if (h.occasions[static_cast<std::size_t>(start[static_cast<std::size_t>(ip - 1)] + t - 1)] == '1') {
            on_occasion[{ip, t}] += n;
          }
        }
      }
      int previous = 0;
      for (int ip = 1; ip <= 3; ++ip) {
        if (!caught_in(h.occasions, ip)) continue;
        if (previous == 0) first[ip] += n;
        if (previous > 0) released[{previous, ip}] += n;
        previous = ip;
      }
      if (previous < 3 && f > 0) released[{previous, 0}] += n;
    }
    // The same read back from the cohorts of group g.
    for (int ip = 1; ip <= 3; ++ip) {
      const int kk = d.occasions(ip);
      EXPECT_EQ(m.NREL(d.closed_cohort(ip, 1, g)), first[ip]) << g << " " << ip;
      for (int t = 1; t <= kk; ++t) {
        long long n = 0;
        for (int jp = 1; jp <= ip; ++jp) {
          // Cell k: occasion t caught when binary digit kk - t of k - 1 is 0.
          for (int k = 1; k < (1 << kk); ++k) {
            if ((((k - 1) >> (kk - t)) & 1) == 0) n += m.NOBS(k, d.closed_cohort(ip, jp, g));
          }
        }
        EXPECT_EQ(n, on_occasion[std::make_pair(ip, t)]) << g << " " << ip << " " << t;
      }
    }
    for (int i = 1; i <= 2; ++i) {
      long long size = released[{i, 0}];
      for (int j = i + 1; j <= 3; ++j) {
        EXPECT_EQ(m.NOBS(j - i, d.open_cohort(i, g)), released[std::make_pair(i, j)]) << g << " " << i << " " << j;
        size += released[{i, j}];
      }
      EXPECT_EQ(m.NREL(d.open_cohort(i, g)), size) << g << " " << i;
    }
  }
}

TEST(CommandFile, GroupedLabelsNameTheirGroupAndFitTheTables) {
  // Two-digit periods give the longest symbols; a name of 10 characters
  // leaves room for the symbol alone, or not even for that.
  const Design d = with_groups(parse_design("2,2,2,2,2,2,2,2,2,2,2,2"), {"Females_1", "M"});
  std::string inp;
  for (const char* h : {"110000000000000000000000", "000000000000000000000011"}) inp += std::string(h) + " 3 2;\n";
  auto r = read_model(command_file(d, read_inp(inp), CommandOptions{"small.inp", false}));
  const ModelStore& m = r->run.model;
  auto label = [&](int i) { return m.LABEL(i).substr(0, m.LABEL(i).find_last_not_of(' ') + 1); };
  for (int i = 1; i <= m.NPAR; ++i) {
    EXPECT_LT(label(i).size(), 20U) << label(i);
    const std::string end = d.group_of(i) == 1 ? ", Females_1" : ", M";
    const bool named = label(i).size() > end.size() && label(i).substr(label(i).size() - end.size()) == end;
    EXPECT_TRUE(named || (d.group_of(i) == 1 && label(i).substr(label(i).size() - 3) == ", 1")) << label(i);
  }
  EXPECT_EQ(label(d.p(1, 1, 2)), "p(1,1) capture, M");
  EXPECT_EQ(label(d.phi(3, 1)), "phi(3), Females_1");
  EXPECT_EQ(label(d.gamma2(12, 1)), "gamma''(12), 1");
  EXPECT_EQ(label(d.gamma2(12, 2)), "gamma''(12), M");
  // The comment says which number is which group.
  std::string text = command_file(d, read_inp(inp), CommandOptions{"small.inp", false});
  for (std::size_t at = text.find("\n   "); at != std::string::npos; at = text.find("\n   ", at)) text.replace(at, 4, " ");
  EXPECT_NE(text.find("by number where the name does not fit: 1 Females_1, 2 M."), std::string::npos);
}

TEST(CommandFile, ShippedExampleIsTheConvertersOutput) {
  const std::string dir = QUORVALE_SOURCE_DIR "/examples/";
  auto slurp = [](const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  };
  const std::string inp = slurp(dir + "robust-example.inp");
  ASSERT_FALSE(inp.empty());
  const std::string text =
      command_file(parse_design("2,2,4,5,2"), read_inp(inp), CommandOptions{"robust-example.inp", true});
  EXPECT_EQ(text, slurp(dir + "robust-example.cmd"));
}

}  // namespace
}  // namespace quorvale::convert
