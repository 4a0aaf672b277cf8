#pragma once
// The command line of quorvale-inp: options, reading the histories, writing
// the command file, and the error report.

#include <iosfwd>
#include <string>
#include <vector>

namespace quorvale::convert {

/// Runs quorvale-inp with the words after the program name. The command
/// file goes to `out` only when the whole conversion succeeded; faults go to
/// `err` as "quorvale-inp: FILE:LINE: message". `in` is read for the file
/// name "-". Returns the exit status: 0 done, 1 any fault.
int inp_main(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace quorvale::convert
