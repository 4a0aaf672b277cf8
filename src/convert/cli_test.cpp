#include "convert/cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "convert/command.h"

namespace quorvale::convert {
namespace {

/// Outcome of one call: exit status, standard output and error stream.
struct Call {
  int status;
  std::string out;
  std::string err;
};

Call call(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const int status = inp_main(args, in, out, err);
  return {status, out.str(), err.str()};
}

const char* const kInp = "/* two periods */\n1111 2;\n1000 3;\n0010 1;\n";

TEST(InpMain, ConvertsStandardInput) {
  const Call c = call({"--secondary", "2,2", "-"}, kInp);
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(c.out, command_file(parse_design("2,2"), read_inp(kInp), CommandOptions{"", false}));
  EXPECT_EQ(c.out.substr(0, c.out.find('\n')), "PROC TITLE Robust design: standard input;");
  // The option may also be written with "=", and --models anywhere.
  const Call m = call({"--models", "--secondary=2,2", "-"}, kInp);
  EXPECT_EQ(m.status, 0);
  EXPECT_EQ(m.out, command_file(parse_design("2,2"), read_inp(kInp), CommandOptions{"", true}));
}

TEST(InpMain, HelpGoesToStandardOutput) {
  const Call c = call({"--help"});
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out.rfind("Usage: quorvale-inp --secondary K1,K2,...,KM [--models] FILE.inp > analysis.cmd\n", 0), 0u);
  EXPECT_EQ(c.err, "");
}

TEST(InpMain, FaultsGoToTheErrorStreamAlone) {
  const std::string hint = "\nTry 'quorvale-inp --help'.\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-"}, "quorvale-inp: --secondary is required: the secondary occasions of each primary period" + hint},
      {{"--secondary"}, "quorvale-inp: --secondary needs a list such as 2,2,4,5,2" + hint},
      {{"--secondary", "2,2"}, "quorvale-inp: no input file" + hint},
      {{"--secondary", "2,2", "a.inp", "b.inp"}, "quorvale-inp: more than one input file (a.inp, b.inp)" + hint},
      {{"--secondary", "2,2", "--model", "-"}, "quorvale-inp: unknown option --model" + hint},
      {{"--secondary", "2,2", "/nonexistent/dir/x.inp"}, "quorvale-inp: cannot open /nonexistent/dir/x.inp\n"},
      {{"--secondary", "2", "-"}, "quorvale-inp: --secondary: a robust design needs at least 2 primary periods\n"},
      {{"--secondary", "2,3", "-"},
       "quorvale-inp: standard input:2: history \"1111\" has 4 occasions, but --secondary 2,3 describes 5\n"},
  };
  for (const auto& [args, message] : cases) {
    const Call c = call(args, kInp);
    EXPECT_EQ(c.status, 1) << message;
    EXPECT_EQ(c.out, "") << message;
    EXPECT_EQ(c.err, message);
  }
  const Call bad = call({"--secondary", "2,2", "-"}, "1111 2;\n1000 3;\n0010 0;\n");
  EXPECT_EQ(bad.err, "quorvale-inp: standard input:3: frequency 0: every history needs a number of animals other "
                     "than 0 (negative for animals not released after their last capture)\n");
  EXPECT_EQ(bad.out, "");
  const Call empty = call({"--secondary", "2,2", "-"}, "");
  EXPECT_EQ(empty.err, "quorvale-inp: standard input: no encounter history in the input\n");
}

}  // namespace
}  // namespace quorvale::convert
