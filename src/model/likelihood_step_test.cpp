// Tests of the store-updating step of the robust-design likelihood: what it
// copies into the store and writes to the listing, and its fatal errors.

#include <gtest/gtest.h>

#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "model/ss.h"
#include "testing/harness.h"
#include "testing/likelihood_cases.h"

namespace quorvale {
namespace {

using namespace quorvale::testing;


/// Right-justified integer of a free-form record: a blank and 11 columns.
std::string free_int(int v) {
  std::ostringstream s;
  s << ' ' << std::setw(11) << v;
  return s.str();
}

TEST(LikelihoodStep, CopiesThePointFillsPAndWritesTheTraceLine) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  Rng rng(31);
  const std::vector<int> kk{2, 1, 3};
  set_design(m, kk, [&] { return static_cast<int>(rng() % 9); });
  set_defaults(m, needed_npar(kk));
  const std::vector<double> x = random_map(m, kk, rng, false);
  const ModelStore copy = m;
  CoreRun core(copy, x);
  const double F = est(m, r.run.listing, x, transform_scale(m));
  EXPECT_EQ(bits(F), bits(core.r.F));
  for (int k = 1; k <= m.NEST; ++k) EXPECT_EQ(m.PAR(k), x[static_cast<std::size_t>(k - 1)]);
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h) ASSERT_EQ(bits(m.P(h, c)), bits(core.P(h, c)));
  EXPECT_EQ(r.listing(), " nper,majper=" + free_int(m.NCOHRT) + free_int(3) + "\n");
}

TEST(LikelihoodStep, DenOneWritesTheDiagnosticLines) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_design(m, {1, 1}, [] { return 1; });
  set_defaults(m, 6);
  m.PAR(2) = 0.0;  // period 2 cannot be caught: den = 1
  est(m, r.run.listing, working(m), ParameterScale::Natural);
  const std::string listing = r.listing();
  const std::string trace = " nper,majper=" + free_int(4) + free_int(2) + "\n";
  ASSERT_EQ(listing.substr(0, trace.size()), trace);
  // Period 2 has two cohorts of one history each: two pairs of lines.
  std::istringstream lines(listing.substr(trace.size()));
  std::string line;
  int pairs = 0;
  while (std::getline(lines, line)) {
    const std::string head = " ip,jp,i,den:" + free_int(2) + free_int(pairs + 1) + free_int(0);
    ASSERT_EQ(line.substr(0, head.size()), head) << line;
    std::string values;
    ASSERT_TRUE(static_cast<bool>(std::getline(lines, values)));
    std::istringstream nums(values);
    std::vector<double> got;
    double v;
    while (nums >> v) got.push_back(v);
    ASSERT_EQ(got.size(), 6u);
    for (int i = 1; i <= 6; ++i) EXPECT_EQ(got[static_cast<std::size_t>(i - 1)], m.PAR(i));
    ++pairs;
  }
  EXPECT_EQ(pairs, 2);
}

/// Runs the step on a spoilt store and returns the error text and the listing.
std::pair<std::string, std::string> fatal_of(const std::function<void(ModelStore&)>& spoil) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_design(m, {2, 2, 2}, [] { return 1; });
  set_defaults(m, 17);
  spoil(m);
  const std::string err =
      testing::expect_fatal(r, [&] { est(m, r.run.listing, working(m), ParameterScale::Working); });
  return {err, r.listing()};
}

TEST(LikelihoodStep, BadLayoutsEndTheRunWithAClearMessage) {
  const std::string head = "Cohorts do not follow the robust-design layout: ";
  const std::vector<std::pair<std::function<void(ModelStore&)>, std::string>> cases = {
      {[](ModelStore& m) { m.NCOHRT = 0; }, head + "the model has no cohorts."},
      {[](ModelStore& m) { m.NCOHRT = 7; },
       head + "NCOHRT = 7 is not M(M+1)/2+M-1 for any number of periods M."},
      {[](ModelStore& m) { m.NCLASS(2) = 3; },
       head + "cohort 2 (period 2) has 3 cells, not a power of two from 2 to 64."},
      {[](ModelStore& m) { m.NCLASS(5) = 8; },
       head + "cohort 5 (period 3) has 8 cells, 4 expected."},
      {[](ModelStore& m) { m.NCLASS(7) = 2; },
       head + "cohort 7 (released in period 1) has 2 cells, 3 expected."},
      {[](ModelStore& m) { m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(48)); },
       head + "NCOHRT = 1223 is more than the 1200 cohorts the store holds."},
      {[](ModelStore& m) { m.NPAR = 16; },
       "NPAR too small for the cohort layout of the model: 17 parameters needed, NPAR = 16."},
  };
  for (const auto& [spoil, message] : cases) {
    const auto [err, listing] = fatal_of(spoil);
    EXPECT_NE(err.find("\n " + message + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find("STOP " + std::string(kErrorEnd)), std::string::npos) << err;
    EXPECT_NE(listing.find(" " + message + "\n"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("nper,majper="), std::string::npos) << listing;
  }
}

TEST(LikelihoodStep, OnePeriodEndsWithTheParameterNumberError) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_design(m, {2}, [] { return 1; });
  set_defaults(m, 3);
  const std::string err = testing::expect_fatal(r, [&] { est(m, r.run.listing, working(m), ParameterScale::Working); });
  EXPECT_NE(err.find("S(I) IN CELL PROBABILITY WITH I > NPAR"), std::string::npos) << err;
  const std::string listing = r.listing();
  const std::string trace = " nper,majper=" + free_int(1) + free_int(1) + "\n";
  EXPECT_EQ(listing.substr(0, trace.size()), trace) << listing;
  EXPECT_NE(listing.find("\n           I=         4NPAR=         3\n"), std::string::npos)
      << listing;
}

TEST(LikelihoodStep, TooManyPeriodsStopsWithTheDimensionText) {
  // 1001 periods need 502501 cohorts, far more than the store holds, so the
  // stop is reached through the cohort count alone, before any cell is read.
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_defaults(m, 10);
  m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(1001));
  try {
    est(m, r.run.listing, working(m), ParameterScale::Working);
    FAIL() << "no stop";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.stop_text, "*** dimension error in est function");
    EXPECT_EQ(end.exit_status, 1);
  }
  EXPECT_EQ(r.listing(), " *** dimension error in est function\n");
  // 1000 periods pass this guard (and then meet the cohort limit of the store).
  m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(1000));
  EXPECT_EQ(rd_design(m).status, EstStatus::TooManyCohorts);
}

}  // namespace
}  // namespace quorvale
