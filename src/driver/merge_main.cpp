// quorvale-merge: joins the results of the shards of a simulation run.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "driver/merge.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the file-size limit fails like a full disk
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quorvale::merge_main(args, std::cout, std::cerr);
}
