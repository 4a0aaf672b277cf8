#include "convert/design.h"

#include <gtest/gtest.h>

namespace quorvale::convert {
namespace {

/// The cohorts as "C(ip,jp)=size[cells]" and "O(i)=size[cells]".
std::string render(const std::vector<Cohort>& cohorts) {
  std::string s;
  for (const Cohort& c : cohorts) {
    s += s.empty() ? "" : " ";
    s += c.open ? "O(" + std::to_string(c.period) + ")"
                : "C(" + std::to_string(c.period) + "," + std::to_string(c.jp) + ")";
    s += "=" + std::to_string(c.size) + "[";
    for (std::size_t k = 0; k < c.cells.size(); ++k) s += (k ? " " : "") + std::to_string(c.cells[k]);
    s += "]";
  }
  return s;
}

std::vector<Cohort> tabulate_text(const std::string& design, const std::string& inp) {
  return tabulate(parse_design(design), read_inp(inp));
}

/// "line: message" of the fault, or "(no fault)".
template <typename F>
std::string fault(F&& body) {
  try {
    body();
  } catch (const ConvertError& e) {
    return std::to_string(e.line()) + ": " + e.what();
  }
  return "(no fault)";
}

TEST(DesignNumbering, MatchesTheHandMadeExampleOfThreePeriods) {
  // examples/example.cmd: periods of 2, 3 and 2 occasions, labelled by hand.
  const Design d = parse_design("2,3,2");
  EXPECT_EQ(d.npar(), 19);
  EXPECT_EQ(d.cohorts(), 8);
  EXPECT_EQ(d.total_occasions(), 7);
  EXPECT_EQ(d.text(), "2,3,2");
  EXPECT_EQ(d.p(1, 1), 1);
  EXPECT_EQ(d.p(1, 2), 2);
  EXPECT_EQ(d.c(1, 2), 3);
  EXPECT_EQ(d.p(2, 1), 4);
  EXPECT_EQ(d.p(2, 3), 6);
  EXPECT_EQ(d.c(2, 2), 7);
  EXPECT_EQ(d.c(2, 3), 8);
  EXPECT_EQ(d.p(3, 1), 9);
  EXPECT_EQ(d.c(3, 2), 11);
  EXPECT_EQ(d.phi(1), 12);
  EXPECT_EQ(d.phi(2), 13);
  EXPECT_EQ(d.gamma2(2), 14);
  EXPECT_EQ(d.gamma2(3), 15);
  EXPECT_EQ(d.gamma1(3), 16);
  EXPECT_EQ(d.theta(1), 17);
  EXPECT_EQ(d.theta(3), 19);
}

TEST(DesignNumbering, TwoPeriodsOfTwoHaveTenParameters) {
  const Design d = parse_design("2,2");
  EXPECT_EQ(d.npar(), 10);
  EXPECT_EQ(d.cohorts(), 4);
  EXPECT_EQ(d.phi(1), 7);
  EXPECT_EQ(d.gamma2(2), 8);
  EXPECT_EQ(d.theta(1), 9);
  EXPECT_EQ(d.theta(2), 10);
}

TEST(DesignLimits, EachLimitIsNamed) {
  EXPECT_EQ(fault([] { parse_design("2,7"); }),
            "0: --secondary: period 2 has 7 secondary occasions; at most 6 fit, because the 2^kk capture histories "
            "of a period must fit the cells of a cohort (MXCLAS = 64)");
  EXPECT_EQ(fault([] { parse_design("6,6"); }), "(no fault)");
  EXPECT_EQ(fault([] { parse_design("3"); }), "0: --secondary: a robust design needs at least 2 primary periods");
  EXPECT_EQ(fault([] { parse_design("2,0,2"); }), "0: --secondary: period 2 has no secondary occasion");
  const std::string bad = "is not a number of occasions; write the occasions of every primary period, such as 2,2,4,5,2";
  EXPECT_EQ(fault([] { parse_design("2,,2"); }), "0: --secondary: \"\" (period 2) " + bad);
  EXPECT_EQ(fault([] { parse_design("2,2,"); }), "0: --secondary: \"\" (period 3) " + bad);
  EXPECT_EQ(fault([] { parse_design("2;3"); }), "0: --secondary: \"2;3\" (period 1) " + bad);
  EXPECT_EQ(fault([] { parse_design("2,-1"); }), "0: --secondary: \"-1\" (period 2) " + bad);
  EXPECT_EQ(fault([] { parse_design(""); }), "0: --secondary: \"\" (period 1) " + bad);

  // 47 periods fill 1174 cohorts; 48 would need 1223.
  std::string list47 = "1";
  for (int i = 2; i <= 47; ++i) list47 += ",1";
  EXPECT_EQ(fault([&] { parse_design(list47); }), "(no fault)");
  EXPECT_EQ(fault([&] { parse_design(list47 + ",1"); }),
            "0: --secondary: 48 primary periods need 1223 cohorts, more than the program's MAXCHT = 1200");
  // 36 periods of 6 occasions: 36 * 11 + 140 = 536 parameters.
  std::string list36 = "6";
  for (int i = 2; i <= 36; ++i) list36 += ",6";
  EXPECT_EQ(fault([&] { parse_design(list36); }),
            "0: --secondary: the model needs NPAR = 536 parameters, more than the program's MAXPAR = 420");
  std::string list121 = "1";
  for (int i = 2; i <= 121; ++i) list121 += ",1";
  EXPECT_EQ(fault([&] { parse_design(list121); }),
            "0: --secondary: more than 120 primary periods (MAXPRM = 120)");
}

TEST(ClosedCell, OccasionOneIsTheMostSignificantDigitAndACaptureIsZero) {
  EXPECT_EQ(closed_cell("11"), 1);
  EXPECT_EQ(closed_cell("10"), 2);
  EXPECT_EQ(closed_cell("01"), 3);
  EXPECT_EQ(closed_cell("00"), 4);
  EXPECT_EQ(closed_cell("101"), 3);
  EXPECT_EQ(closed_cell("1"), 1);
  EXPECT_EQ(closed_cell("011111"), 33);
}

TEST(Tabulate, TwoPeriodsByHand) {
  // 1111 x2: first caught in 1 (cell 1), released, next caught in 2.
  // 1000 x3: caught in 1 only (cell 2), released, never seen again.
  // 0010 x1: first caught in 2 (cell 2).
  // 0110 lost x1: cell 3 in 1, released, cell 2 in 2, lost at the end.
  // 0100 lost x2: cell 3 in 1, not released.
  EXPECT_EQ(render(tabulate_text("2,2", "1111 2;\n1000 3;\n0010 1;\n0110 -1;\n0100 -2;\n")),
            "C(1,1)=8[2 3 3] C(2,1)=1[0 1 0] C(2,2)=3[2 1 0] O(1)=6[3]");
}

TEST(Tabulate, ThreePeriodsOfUnequalOccasionsWithLosses) {
  // Periods of 3, 1 and 2 occasions.
  // 101 1 01 x4: cell 3 in 1, cell 1 in 2, cell 3 in 3.
  // 000 0 11 x2: first caught in 3, cell 1.
  // 010 0 10 lost x1: cell 6 in 1, next caught in 3 (cell 2), lost there.
  // 001 1 00 lost x3: cell 7 in 1, cell 1 in 2, lost there: no release after 2.
  // 000 1 00 x5: first caught in 2, released, never seen again.
  EXPECT_EQ(render(tabulate_text("3,1,2", "101101 4;\n000011 2;\n010010 -1;\n001100 -3;\n000100 5;\n")),
            "C(1,1)=8[0 0 4 0 0 1 3] C(2,1)=5[5] C(2,2)=7[7] C(3,1)=2[2 0 0] C(3,2)=1[0 1 0] C(3,3)=4[0 0 4] "
            "O(1)=8[7 1] O(2)=9[4]");
}

TEST(Tabulate, GroupsByHandEachInItsOwnCohorts) {
  // The first frequency is that of TwoPeriodsByHand; the second group:
  // 1111 x1: cell 1 in 1, released, cell 1 in 2.
  // 0010 x4: first caught in 2 (cell 2).
  // 0110 x2: cell 3 in 1, released, cell 2 in 2.
  // 0100 lost x1: cell 3 in 1, not released.
  const Design d = with_groups(parse_design("2,2"), {"F", "M"});
  const std::vector<Cohort> cohorts = tabulate(d, read_inp("1111 2 1;\n1000 3 0;\n0010 1 4;\n0110 -1 2;\n0100 -2 -1;\n"));
  EXPECT_EQ(render(cohorts), "C(1,1)=8[2 3 3] C(2,1)=1[0 1 0] C(2,2)=3[2 1 0] O(1)=6[3] "
                             "C(1,1)=4[1 0 3] C(2,1)=4[0 4 0] C(2,2)=3[1 2 0] O(1)=3[3]");
  ASSERT_EQ(cohorts.size(), 8u);
  for (std::size_t c = 0; c < cohorts.size(); ++c) EXPECT_EQ(cohorts[c].group, c < 4 ? 1 : 2) << c;
  EXPECT_EQ(fault([&] { tabulate(d, read_inp("1111 2;\n")); }), "1: history \"1111\" has 1 frequency for 2 groups");
}

TEST(DesignLimits, GroupsMultiplyCohortsAndParameters) {
  // 2,2,4,5,2: 19 cohorts and 41 parameters a group.
  const Design d = with_groups(parse_design("2,2,4,5,2"), {"F", "M", "J"});
  EXPECT_EQ(d.cohorts(), 57);
  EXPECT_EQ(d.npar(), 123);
  EXPECT_EQ(d.group_name(3), "J");
  EXPECT_EQ(fault([] { with_groups(parse_design("2,2,4,5,2"), default_group_names(10)); }), "(no fault)");
  // Five periods of six occasions: 5 * 11 + 16 = 71 parameters a group.
  EXPECT_EQ(fault([] { with_groups(parse_design("6,6,6,6,6"), default_group_names(6)); }),
            "0: 6 groups of 6,6,6,6,6 need NPAR = 426 parameters, more than the program's MAXPAR = 420");
  // Twenty periods: 210 + 19 = 229 cohorts a group.
  std::string list20 = "1";
  for (int i = 2; i <= 20; ++i) list20 += ",1";
  EXPECT_EQ(fault([&] { with_groups(parse_design(list20), default_group_names(6)); }),
            "0: 6 groups of " + list20 + " need 1374 cohorts, more than the program's MAXCHT = 1200");
}

TEST(Tabulate, HistoryFaultsNameTheirLine) {
  EXPECT_EQ(fault([] { tabulate_text("2,2", "1111 1;\n/* x */ 111 2;\n"); }),
            "2: history \"111\" has 3 occasions, but --secondary 2,2 describes 4");
  // A design that does not add up to the histories stops on the first one.
  EXPECT_EQ(fault([] { tabulate_text("2,2,4,5", "\n000000111011101 1 ;\n"); }),
            "2: history \"000000111011101\" has 15 occasions, but --secondary 2,2,4,5 describes 13");
  EXPECT_EQ(fault([] { tabulate_text("2,2", "1111 1;\n0000 2;\n"); }), "2: history \"0000\" has no capture");
  EXPECT_EQ(fault([] { tabulate_text("2,2", "1111 2147483647;\n0011 -1;\n"); }),
            "2: more than 2147483647 animals in all: cohort sizes must fit the program's 32-bit counts");
}

}  // namespace
}  // namespace quorvale::convert
