// quorvale-inp: converts encounter histories into a Quorvale command file.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "convert/cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the file-size limit fails like a full disk
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quorvale::convert::inp_main(args, std::cin, std::cout, std::cerr);
}
