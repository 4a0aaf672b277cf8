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

TEST(InpMain, ChosenStructuresAreWrittenInsteadOfTheTemplates) {
  const Call c = call({"--secondary", "2,2", "--models=gamma(none) p(t) c(p);PHI(.) P(.) C(T) GAMMA(NONE)", "-"},
                      kInp);
  EXPECT_EQ(c.status, 0) << c.err;
  const std::string models = c.out.substr(c.out.find("/* Chosen models"));
  EXPECT_NE(models.find("/* Model 1: PHI(T) P(T) C(P) GAMMA(NONE). */\nPROC ESTIMATE DERIVED NAME=NO-EMIG "
                        "PHI(T)P(T);\n STRUCTURE PHI(T) P(T) C(P) GAMMA(NONE);\n/* Model 2: PHI(.) P(.) C(T) "
                        "GAMMA(NONE). */\nPROC ESTIMATE DERIVED NAME=NO-EMIG PHI(.)P(.) C(T);\n STRUCTURE "
                        "PHI(.) P(.) C(T) GAMMA(NONE);\nPROC TEST AVERAGE;\nPROC STOP;\n"),
            std::string::npos)
      << models;
}

TEST(InpMain, HelpGoesToStandardOutput) {
  const Call c = call({"--help"});
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out.rfind("Usage: quorvale-inp --secondary K1,K2,...,KM [--groups NAMES]\n", 0), 0u);
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
      {{"--secondary", "2,2", "--models=", "-"},
       "quorvale-inp: --models= needs structures, e.g. --models='PHI(.) P(T)'" + hint},
      {{"--secondary", "2,2", "--models=P(T) GAMMA(NEVER)", "-"},
       "quorvale-inp: --models: Unknown level in STRUCTURE part GAMMA(NEVER): GAMMA takes NONE, RANDOM,. "
       "RANDOM,T MARKOV,. or MARKOV,T.\n"},
      {{"--secondary", "2,2", "--models=P(T) C(P) GAMMA(NONE); P(T*O) C(T*O) GAMMA(NONE)", "-"},
       "quorvale-inp: --models: PHI(T) P(T*O) C(T*O) GAMMA(NONE) is not identifiable with 2 primary periods\n"},
      {{"--secondary", "2,3", "-"},
       "quorvale-inp: standard input:2: history \"1111\" has 4 occasions, but --secondary 2,3 describes 5\n"},
      {{"--plan", "--secondary", "2,2", "--marked", "5", "--phi", ".8", "--p", ".4", "--nsim", "2147483646"},
       "quorvale-inp: --nsim: 2147483646 is more than the program's 2147483645" + hint},
      // N = 2e9, p* = 1 - 0.6^2 = 0.64: first caught in 1 N p* = 1.28e9, released after 1 as many, those
      // recaptured in 2 1.28e9 * 0.8 * 0.64 = 6.5536e8, first caught in 2 N 0.36 * 0.8 * 0.64 = 3.6864e8.
      {{"--plan", "--secondary", "2,2", "--superpopulation", "2e9", "--phi", ".8", "--p", ".4"},
       "quorvale-inp: --superpopulation: the planned cohorts would hold 3.584e+09 animals in all, more than the "
       "2147483647 the program counts (the sample size, the sum of the cohort sizes, is a 32-bit count); plan "
       "fewer animals" + hint},
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
