// PROC IDENTIFIABLE on a fit with linear forms: the coordinates moved are
// the coefficients on the logit scale, checked here against the cells
// computed from the formulas' meaning by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/estmat.h"
#include "identify/identf.h"
#include "model/likelihood.h"
#include "model/model.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;
using testing::lines_starting;

/// PROC MODEL of examples/example.cmd: three periods of 2, 3 and 2
/// occasions; S(1)-S(11) capture and recapture, S(12)-S(13) survival,
/// S(14)-S(16) gamma's, S(17)-S(19) the exponents.
std::string example_model() {
  std::ifstream file(QUORVALE_SOURCE_DIR "/examples/example.cmd", std::ios::binary);
  std::ostringstream all;
  all << file.rdbuf();
  const std::string text = all.str();
  const std::size_t from = text.find("PROC MODEL");
  const std::size_t to = text.find("/* Three competing models");
  if (from == std::string::npos || to == std::string::npos) return {};
  return text.substr(from, to - from);
}

/// Runs PROC MODEL and PROC IDENTIFIABLE with `text`; the scan is kept in `scan`.
std::unique_ptr<StringRun> identify(const std::string& text, IdentifiabilityScan* scan = nullptr) {
  auto r = std::make_unique<StringRun>(example_model() + text + "PROC STOP;\n");
  r->start();
  model(r->run);
  const IdentifiabilityScan s = identf(r->run);
  if (scan != nullptr) *scan = s;
  return r;
}

std::string identify_error(const std::string& text) {
  auto r = std::make_unique<StringRun>(example_model() + text + "PROC STOP;\n");
  return expect_fatal(*r, [&] {
    r->start();
    model(r->run);
    identf(r->run);
  });
}

/// The coefficients' names as the listing numbers them ("    3 = C:1").
std::vector<std::string> numbered_names(const std::string& listing) {
  std::vector<std::string> names;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    const std::size_t eq = line.find(" = ");
    if (line.size() < 9 || eq != 6 || line.find_first_not_of(' ') >= eq) continue;
    if (std::stoi(line.substr(0, eq)) != static_cast<int>(names.size()) + 1) continue;
    names.push_back(line.substr(eq + 3));
  }
  return names;
}

double logit(double p) { return std::log(p / (1.0 - p)); }
double expit(double eta) { return 1.0 / (1.0 + std::exp(-eta)); }

/// The structure P(TREND) C(P+1) PHI(.) GAMMA(NONE) on the example, from
/// what its words mean: p(ip, t) = expit(P:1 + P:TREND * ip), c(ip, t) = that
/// plus C:1 on the logit scale, one survival, no emigration, theta 1. Gives
/// S(1..19) from the coefficients named in `b`.
std::vector<double> by_hand(const std::map<std::string, double>& b) {
  const double a = b.at("P:1");
  const double slope = b.at("P:TREND");
  const double behaviour = b.at("C:1");
  std::vector<double> S(20, 0.0);
  // Capture parameters of each period, then its recapture parameters.
  const int period_of_p[] = {0, 1, 1, 0, 2, 2, 2, 0, 0, 3, 3, 0};
  const int period_of_c[] = {0, 0, 0, 1, 0, 0, 0, 2, 2, 0, 0, 3};
  for (int I = 1; I <= 11; ++I) {
    if (period_of_p[I] > 0) S[I] = expit(a + slope * period_of_p[I]);
    if (period_of_c[I] > 0) S[I] = expit(a + slope * period_of_c[I] + behaviour);
  }
  S[12] = S[13] = expit(b.at("PHI:S(12)"));
  S[14] = S[15] = S[16] = 0.0;
  S[17] = S[18] = S[19] = 1.0;
  return S;
}

/// The slots of the store's map holding the parameters S.
std::vector<double> slots_of(const ModelStore& m, const std::vector<double>& S) {
  std::vector<double> x(static_cast<std::size_t>(m.NEST));
  for (int I = 1; I <= m.NPAR; ++I) {
    if (m.POINT(I) >= 1) x[static_cast<std::size_t>(m.POINT(I) - 1)] = S[static_cast<std::size_t>(I)];
  }
  return x;
}

constexpr const char* kTrendBlock = " STRUCTURE P(TREND) C(P+1) PHI(.) GAMMA(NONE);\n";

TEST(IdentifyLinear, AdditiveScanOfTheCoefficientsAsTheFormulasMeanThem) {
  // Start values the forms hold exactly: p and c 0.6 in every period and
  // survival 0.8 give P:1 = logit(0.6), P:TREND = C:1 = 0, PHI = logit(0.8).
  for (const double add : {static_cast<double>(0.05F), 0.3}) {
    std::string proc = "PROC IDENTIFIABLE";
    if (add != static_cast<double>(0.05F)) proc += " ADD = 0.3";
    IdentifiabilityScan scan;
    auto r = identify(proc + ";\n" + kTrendBlock + " INITIAL;\n  ALL = 0.6;  S(12) = 0.8;\n", &scan);
    const ModelStore& m = r->run.model;
    const std::string listing = r->listing();
    ASSERT_TRUE(m.linear);
    ASSERT_EQ(m.NEST, 12);  // every p and c its own slot, one survival
    const std::vector<std::string> names = numbered_names(listing);
    ASSERT_EQ(names.size(), 4u) << listing;
    EXPECT_NE(listing.find("\n The coordinates are the 4 coefficients on the logit scale, numbered as the fit lists "
                           "them:\n"),
              std::string::npos);
    std::map<std::string, double> start{
        {"P:1", logit(0.6)}, {"P:TREND", 0.0}, {"C:1", 0.0}, {"PHI:S(12)", logit(0.8)}};
    for (std::size_t k = 0; k < names.size(); ++k) {
      ASSERT_EQ(start.count(names[k]), 1u) << names[k];
      EXPECT_NEAR(m.linear->start[k], start[names[k]], 1e-12) << names[k];
    }
    // Every pair moved by hand, the smallest largest change kept.
    auto baseline = std::make_unique<Mat1<double>>(MXCLAS, MAXCHT);
    auto moved = std::make_unique<Mat1<double>>(MXCLAS, MAXCHT);
    ASSERT_EQ(est_core(m, slots_of(m, by_hand(start)), ParameterScale::Natural, *baseline).status, EstStatus::Ok);
    PairScan best;
    for (int i = 1; i <= 4; ++i) {
      for (int j = i + 1; j <= 4; ++j) {
        std::map<std::string, double> b = start;
        b[names[static_cast<std::size_t>(i - 1)]] += add;
        b[names[static_cast<std::size_t>(j - 1)]] -= add;
        est_core(m, slots_of(m, by_hand(b)), ParameterScale::Natural, *moved);
        const double change = largest_change(m, *baseline, *moved);
        EXPECT_GT(change, 1e-4);  // every pair reaches the cells
        if (change < best.change) best = {change, i, j};
      }
    }
    EXPECT_EQ(scan.additive.i, best.i);
    EXPECT_EQ(scan.additive.j, best.j);
    EXPECT_NEAR(scan.additive.change, best.change, 1e-12 * best.change);
    // The multiplicative scan is left out and finds no pair.
    EXPECT_EQ(scan.multiplicative.change, 1.0);
    EXPECT_EQ(scan.multiplicative.i, 0);
    EXPECT_EQ(scan.multiplicative.j, 0);
    const std::vector<std::string> verdicts = lines_starting(listing, " The minimum maximum change observed was ");
    ASSERT_EQ(verdicts.size(), 1u);
    std::istringstream in(verdicts[0].substr(41));
    PairScan shown;
    std::string word;
    in >> shown.change >> word >> word >> shown.i >> word >> shown.j;
    EXPECT_EQ(shown.i, best.i);
    EXPECT_EQ(shown.j, best.j);
    EXPECT_NEAR(shown.change, best.change, 1e-7 * best.change);
    EXPECT_NE(listing.find("\n The multiplicative scan is left out"), std::string::npos);
    // One evaluation for the start and one per pair of coefficients.
    EXPECT_EQ(lines_starting(listing, " nper,majper=").size(), 1u + 6u);
  }
}

TEST(IdentifyLinear, StoreAfterTheScanAndAFitAfterwards) {
  // Start values the forms cannot hold: the start is their least-squares
  // fit on the logit scale, and the slots hold its probabilities after the
  // scan; P holds the cells of the last pair moved, coefficients 3 and 4.
  const std::string block = std::string(kTrendBlock) + " INITIAL;\n  ALL = 0.6;  S(4) = 0.3;  S(10) = 0.8;\n";
  auto r = identify("PROC IDENTIFIABLE;\n" + block);
  const ModelStore& m = r->run.model;
  ASSERT_TRUE(m.linear);
  const std::vector<std::string> names = numbered_names(r->listing());
  ASSERT_EQ(names.size(), 4u);
  std::map<std::string, double> start;
  for (std::size_t k = 0; k < names.size(); ++k) start[names[k]] = m.linear->start[k];
  EXPECT_GT(std::fabs(start["P:TREND"]), 0.1);  // the start values pull the trend
  const std::vector<double> at_start = slots_of(m, by_hand(start));
  for (int k = 1; k <= m.NEST; ++k) EXPECT_NEAR(m.PAR(k), at_start[static_cast<std::size_t>(k - 1)], 1e-14) << k;
  std::map<std::string, double> last = start;
  last[names[2]] += static_cast<double>(0.05F);
  last[names[3]] -= static_cast<double>(0.05F);
  auto P = std::make_unique<Mat1<double>>(MXCLAS, MAXCHT);
  est_core(m, slots_of(m, by_hand(last)), ParameterScale::Natural, *P);
  EXPECT_LT(largest_change(m, *P, m.P), 1e-14);
  est_core(m, at_start, ParameterScale::Natural, *P);
  EXPECT_GT(largest_change(m, *P, m.P), 1e-4);

  // A fit after the scan sets its forms up anew and fits as it does alone.
  const std::string estimate = "PROC ESTIMATE NAME=AFTER;\n" + block;
  auto alone = std::make_unique<StringRun>(example_model() + estimate + "PROC STOP;\n");
  alone->start();
  model(alone->run);
  quorvale::estimate(alone->run);
  auto after = std::make_unique<StringRun>(example_model() + "PROC IDENTIFIABLE ADD = 0.2;\n" +
                                           " STRUCTURE PHI(TREND) P(T) C(P) GAMMA(RANDOM,.);\n" + estimate +
                                           "PROC STOP;\n");
  after->start();
  model(after->run);
  identf(after->run);
  quorvale::estimate(after->run);
  const std::string a = alone->listing();
  const std::string b = after->listing();
  const std::string from = "  INPUT --- PROC ESTIMATE NAME=AFTER;";
  ASSERT_NE(a.find(from), std::string::npos);
  ASSERT_NE(b.find(from), std::string::npos);
  EXPECT_EQ(a.substr(a.find(from)), b.substr(b.find(from)));
  EXPECT_EQ(alone->run.saved.lnL(1), after->run.saved.lnL(1));
}

TEST(IdentifyLinear, FormsTheFitWouldRefuseEndTheRunBeforeAnyScan) {
  // TREND lies in the span of the constant and the period factor.
  const std::string rank = identify_error("PROC IDENTIFIABLE;\n STRUCTURE P(T+TREND) C(P) PHI(.) GAMMA(NONE);\n");
  EXPECT_NE(rank.find("The linear forms have deficient rank: P:TREND is confounded with P:1, P:T[2], P:T[3]"),
            std::string::npos)
      << rank;
  const std::string bound = identify_error("PROC IDENTIFIABLE;\n" + std::string(kTrendBlock) +
                                           " CONSTRAINT;\n  0.2 < S(4);\n");
  EXPECT_NE(bound.find("S(4) has bounds other than 0 and 1"), std::string::npos) << bound;
}

}  // namespace
}  // namespace quorvale
