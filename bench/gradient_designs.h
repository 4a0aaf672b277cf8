#pragma once
// The command files on which the exact gradient is timed against difference
// gradients: by the benchmarks (gradient_bench.cpp) and, written out by
// gradient_designs_main.cpp, by tools/exact-gradient-speed.sh, so that both
// time the same fits.
//
// Fits: M periods of kk occasions (designs.h: counts expected under survival
// 0.8, gamma'' 0.2, gamma' 0.3 and capture 0.3..0.6, what rounding leaves
// over on each cohort's likeliest cell) under a full and a reduced STRUCTURE.
// Simulation: the bundled example's model and its 12 competing models as
// submodels of one PROC SIMULATE ... COVERAGE, drawn from model 12's
// structure (Markovian temporary emigration by period) at values near its
// estimates.

#include <stdexcept>
#include <string>

#include "designs.h"

namespace quorvale::bench {

/// Survival and capture by period, capture by occasion within the period,
/// Markovian temporary emigration by period.
inline constexpr const char* kFullStructure = "PHI(T) P(T*O) C(P) GAMMA(MARKOV,T)";
/// Constant survival, capture by period, constant random temporary emigration.
inline constexpr const char* kReducedStructure = "PHI(.) P(T) C(P) GAMMA(RANDOM,.)";

/// The command file fitting `structure` to M periods of kk occasions;
/// `options` is added to the PROC ESTIMATE statement (" GRADIENT=EXACT").
inline std::string fit_commands(int M, int kk, const std::string& structure, const std::string& options = "") {
  std::string text = structured_model(M, kk);
  text += "PROC ESTIMATE MAXFN=100000";
  text += options;
  text += ";\n STRUCTURE ";
  text += structure;
  text += ";\nPROC STOP;\n";
  return text;
}

/// The generating values of the simulation, near model 12's estimates on the
/// example (p by period, c = p, phi by interval, gamma'' and gamma' by period,
/// the last period's equal to the one before, theta 1).
inline constexpr const char* kGeneratingValues =
    " INITIAL; S(1)=0.65; S(4)=0.6; S(7)=0.6; S(14)=0.6; S(23)=0.5;\n"
    "  S(26)=0.88; S(27)=0.86; S(28)=0.76; S(29)=0.79;\n"
    "  S(30)=0.09; S(31)=0.11; S(32)=0.15; S(33)=0.15;\n"
    "  S(34)=0.16; S(35)=0.08; S(36)=0.08;\n";

/// The simulation on the example's command file `example` (the text of
/// examples/robust-example.cmd): its PROC MODEL, then PROC SIMULATE NSIM=nsim
/// COVERAGE with `options` (" GRADIENT=EXACT") and model 12's STRUCTURE, and
/// its competing models as submodels, as the example writes them.
inline std::string simulation_commands(const std::string& example, int nsim, const std::string& options = "") {
  const std::size_t model = example.find("PROC MODEL");
  const std::size_t models = example.find("/* Competing models");
  const std::size_t first = example.find("PROC ESTIMATE", models);
  const std::size_t end = example.find("PROC TEST", first);
  const std::size_t structure = example.rfind(" STRUCTURE ", end);
  if (model == std::string::npos || models == std::string::npos || first == std::string::npos ||
      end == std::string::npos || structure == std::string::npos || structure < first) {
    throw std::runtime_error("the example's command file is not laid out as expected");
  }
  std::string text = example.substr(model, models - model);
  text += "PROC SIMULATE NSIM=";
  text += std::to_string(nsim);
  text += " SEED=20261208 COVERAGE NAME=GENERATING";
  text += options;
  text += ";\n";
  text += example.substr(structure, example.find('\n', structure) + 1 - structure);
  text += kGeneratingValues;
  text += example.substr(first, end - first);
  text += "PROC STOP;\n";
  return text;
}

}  // namespace quorvale::bench
