#pragma once
// Small models shared by the tests.

namespace quorvale::testing {

/// Two primary periods of two occasions: closed cohorts (1,1), (2,1), (2,2)
/// of 4 cells and one open cohort of 2 (its remainder added). S(1..3) are
/// p, p, c of period 1, S(4..6) of period 2, S(7) phi, S(8) gamma'', S(9)
/// and S(10) theta (used only by the power variant).
inline constexpr const char* kTwoByTwoModel = R"(PROC MODEL NPAR=10;
 COHORT=85;
  30 : a; 20 : b; 35 : c; 0 : d;
 COHORT=65;
  10 : a; 15 : b; 40 : c; 0 : d;
 COHORT=47;
  12 : a; 10 : b; 25 : c; 0 : d;
 COHORT=100;
  35 : a;
)";

}  // namespace quorvale::testing
