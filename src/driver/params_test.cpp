#include "driver/params.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvale {
namespace {

TEST(ParamsWords, SplitOnRunsOfBlanks) {
  EXPECT_EQ(split_words("  i=run1.cmd   l=run1.lst lines=66 noecho  "),
            (std::vector<std::string>{"i=run1.cmd", "l=run1.lst", "lines=66", "noecho"}));
  EXPECT_TRUE(split_words("     ").empty());
  EXPECT_TRUE(split_words("").empty());
}

TEST(ParamsWords, AllFourParametersAreSet) {
  RunParams p = parse_params({"i=run1.cmd", "l=run1.lst", "lines=66", "noecho"});
  EXPECT_EQ(p.input, "run1.cmd");
  EXPECT_EQ(p.listing, "run1.lst");
  EXPECT_TRUE(p.lines_given);
  EXPECT_EQ(p.lines_field, "66");
  EXPECT_TRUE(p.noecho);
}

TEST(ParamsWords, MixedCaseAndUnknownWordsAreIgnored) {
  RunParams p = parse_params({"Lines=50", "Noecho", "I=", "x=1", "LINESX"});
  EXPECT_FALSE(p.lines_given);
  EXPECT_FALSE(p.noecho);
  EXPECT_EQ(p.input, "");
}

TEST(ParamsWords, TheLastOccurrenceWins) {
  RunParams p = parse_params({"I=a.cmd", "i=b.cmd", "LINES=20", "lines=80"});
  EXPECT_EQ(p.input, "b.cmd");
  EXPECT_EQ(p.lines_field, "80");
}

TEST(ParamsWords, FileNamesAreKeptWhole) {
  std::string name(45, 'n');
  RunParams p = parse_params({"I=" + name, "L=dir/" + name});
  EXPECT_EQ(p.input, name);
  EXPECT_EQ(p.listing, "dir/" + name);
}

TEST(ParamsWords, LinesFieldIsTheWholeTextAfterTheKeyword) {
  EXPECT_EQ(parse_params({"LINES=abc"}).lines_field, "abc");
  EXPECT_EQ(parse_params({"LINES="}).lines_field, "");
  // Not cut to the field: the driver refuses a number longer than it.
  EXPECT_EQ(parse_params({"LINES=123456789012"}).lines_field, "123456789012");
}

TEST(ParamsWords, IgnoredWordsAreNamedWithTheNearestKnownWord) {
  RunParams p = parse_params({"Json=o.json", "jsno=o.json", "--json=o.json", "i=run.cmd", "x=1", "NOTRACE",
                              "notracex", "threads=2", "Shard=1/2", "noechoes"});
  std::vector<std::pair<std::string, std::string>> want{{"Json=o.json", "json="},   {"jsno=o.json", "json="},
                                                        {"--json=o.json", "json="}, {"x=1", ""},
                                                        {"notracex", "notrace"},    {"Shard=1/2", "shard="}};
  EXPECT_EQ(p.ignored, want);
  EXPECT_EQ(p.input, "run.cmd");
  EXPECT_TRUE(p.notrace);
  EXPECT_TRUE(p.noecho);  // noecho is known by its first characters
  EXPECT_EQ(ignored_words_line(parse_params({"Json=o.json", "x=1"})),
            "Parameter words ignored: Json=o.json (did you mean json=?), x=1.\n");
  EXPECT_EQ(ignored_words_line(parse_params({"i=run.cmd", "lines=40", "REPORT=r.html"})), "");
}

TEST(ParamsPrompt, TwoPromptLinesThenOneLine) {
  std::istringstream in("i=x.cmd noecho\nPROC STOP;\n");
  std::ostringstream out;
  EXPECT_EQ(args1(in, out), (std::vector<std::string>{"i=x.cmd", "noecho"}));
  EXPECT_EQ(out.str(),
            " Enter command line parameters [i=in_file] [l=out_file]\n"
            "    [lines=n] [noecho]:\n");
  std::string rest;
  std::getline(in, rest);
  EXPECT_EQ(rest, "PROC STOP;");
}

TEST(ParamsPrompt, EndOfInputGivesNoWords) {
  std::istringstream in("");
  std::ostringstream out;
  EXPECT_TRUE(args1(in, out).empty());
}

TEST(ParamsBlanks, LeadingBlanksMoveToTheEnd) {
  std::string s = "   ab c";
  lblksp(s);
  EXPECT_EQ(s, "ab c   ");
  std::string blank = "    ";
  lblksp(blank);
  EXPECT_EQ(blank, "    ");
}

}  // namespace
}  // namespace quorvale
