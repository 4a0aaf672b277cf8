#include "convert/cli.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "convert/command.h"
#include "convert/design.h"
#include "convert/inp.h"

namespace quorvale::convert {

namespace {

/// The --help text.
constexpr const char* kUsage =
    "Usage: quorvale-inp --secondary K1,K2,...,KM [--models] FILE.inp > analysis.cmd\n"
    "\n"
    "Converts robust-design encounter histories (\".inp\": one record per history,\n"
    "a string of 0 and 1 over all secondary occasions, a frequency and \";\",\n"
    "comments between /* and */) into a Quorvale command file on standard output.\n"
    "A negative frequency counts animals not released after their last capture.\n"
    "\n"
    "  --secondary LIST  secondary occasions of each primary period, e.g. 2,2,4,5,2;\n"
    "                    they must add up to the length of every history\n"
    "  --models          also write competing models (no, random and Markovian\n"
    "                    temporary emigration; survival and capture constant or\n"
    "                    by period), each identifiable, and PROC TEST\n"
    "  --help            show this text\n"
    "\n"
    "FILE \"-\" reads standard input. Faults are reported with the line of the input\n"
    "(exit status 1, nothing written to standard output). Run the result with\n"
    "  printf 'i=analysis.cmd\\n' | quorvale\n";

/// A fault of the command line itself.
struct UsageFault {
  std::string message;  ///< what is wrong
};

/// The options of one call.
struct Options {
  std::string secondary;  ///< the --secondary list
  bool models = false;    ///< --models
  bool help = false;      ///< --help
  std::string file;       ///< the input file
};

Options parse_args(const std::vector<std::string>& args) {
  Options o;
  bool have_secondary = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--models") {
      o.models = true;
    } else if (a == "--secondary") {
      if (i + 1 >= args.size()) throw UsageFault{"--secondary needs a list such as 2,2,4,5,2"};
      o.secondary = args[++i];
      have_secondary = true;
    } else if (a.rfind("--secondary=", 0) == 0) {
      o.secondary = a.substr(12);
      have_secondary = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageFault{"unknown option " + a};
    } else if (!o.file.empty()) {
      throw UsageFault{"more than one input file (" + o.file + ", " + a + ")"};
    } else {
      o.file = a;
    }
  }
  if (o.help) return o;
  if (!have_secondary) throw UsageFault{"--secondary is required: the secondary occasions of each primary period"};
  if (o.file.empty()) throw UsageFault{"no input file"};
  return o;
}

}  // namespace

int inp_main(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = parse_args(args);
  } catch (const UsageFault& f) {
    err << "quorvale-inp: " << f.message << "\nTry 'quorvale-inp --help'.\n";
    return 1;
  }
  if (o.help) {
    out << kUsage;
    return 0;
  }
  std::string where = o.file == "-" ? "standard input" : o.file;
  try {
    const Design design = parse_design(o.secondary);
    std::string text;
    if (o.file == "-") {
      std::ostringstream all;
      all << in.rdbuf();
      text = all.str();
    } else {
      std::ifstream file(o.file, std::ios::binary);
      if (!file) {
        err << "quorvale-inp: cannot open " << o.file << "\n";
        return 1;
      }
      std::ostringstream all;
      all << file.rdbuf();
      if (file.bad()) {
        err << "quorvale-inp: cannot read " << o.file << "\n";
        return 1;
      }
      text = all.str();
    }
    const std::vector<History> histories = read_inp(text);
    const std::string command =
        command_file(design, histories, CommandOptions{o.file == "-" ? "" : o.file, o.models});
    out << command << std::flush;
    if (!out) {
      err << "quorvale-inp: cannot write the command file\n";
      return 1;
    }
    return 0;
  } catch (const ConvertError& e) {
    err << "quorvale-inp: ";
    if (e.line() > 0) {
      err << where << ":" << e.line() << ": ";
    } else if (std::string_view(e.what()).rfind("--secondary", 0) != 0) {
      err << where << ": ";
    }
    err << e.what() << "\n";
    return 1;
  }
}

}  // namespace quorvale::convert
