// quorvale-inp: converts encounter histories into a Quorvale command file.
#include <iostream>
#include <string>
#include <vector>

#include "convert/cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quorvale::convert::inp_main(args, std::cin, std::cout, std::cerr);
}
