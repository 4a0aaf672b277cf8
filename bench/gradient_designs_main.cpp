// Writes the command files the exact gradient is timed on (gradient_designs.h)
// to standard output, for tools/exact-gradient-speed.sh:
//   quorvale_gradient_designs fit M KK full|reduced
//   quorvale_gradient_designs simulate EXAMPLE.cmd NSIM
// The files name no gradient: the script runs each with and without the
// parameter word gradient=exact.

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "gradient_designs.h"

namespace {

int usage() {
  std::cerr << "usage: quorvale_gradient_designs fit M KK full|reduced\n"
               "       quorvale_gradient_designs simulate EXAMPLE.cmd NSIM\n";
  return 2;
}

/// A whole number from `lo` up, or 0 when `text` is not one.
int whole(const std::string& text, int lo) {
  try {
    std::size_t used = 0;
    const int n = std::stoi(text, &used);
    return used == text.size() && n >= lo ? n : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvale::bench;
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "fit" && argc == 5) {
    const int M = whole(argv[2], 3);
    const int kk = whole(argv[3], 2);
    const std::string model = argv[4];
    if (M == 0 || kk == 0 || (model != "full" && model != "reduced")) return usage();
    std::cout << fit_commands(M, kk, model == "full" ? kFullStructure : kReducedStructure);
    return 0;
  }
  if (what == "simulate" && argc == 4) {
    std::ifstream in(argv[2]);
    const int nsim = whole(argv[3], 1);
    if (!in || nsim == 0) return usage();
    std::stringstream example;
    example << in.rdbuf();
    try {
      std::cout << simulation_commands(example.str(), nsim);
    } catch (const std::exception& e) {
      std::cerr << argv[2] << ": " << e.what() << '\n';
      return 1;
    }
    return 0;
  }
  return usage();
}
