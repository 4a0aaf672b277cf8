#include "convert/inp.h"

#include <gtest/gtest.h>

namespace quorvale::convert {
namespace {

/// The records as "occasions:frequency@line ...", the frequencies of several groups as "12/7".
std::string records(std::string_view text, int groups = 0) {
  std::string s;
  for (const History& h : read_inp(text, groups)) {
    if (!s.empty()) s += " ";
    s += h.occasions + ":";
    for (std::size_t g = 0; g < h.frequencies.size(); ++g) s += (g ? "/" : "") + std::to_string(h.frequencies[g]);
    s += "@" + std::to_string(h.line);
  }
  return s;
}

/// "line: message" of the fault read_inp stops on.
std::string fault(std::string_view text, int groups = 0) {
  try {
    read_inp(text, groups);
  } catch (const ConvertError& e) {
    return std::to_string(e.line()) + ": " + e.what();
  }
  return "(no fault)";
}

TEST(ReadInp, RecordsWithCommentsAnywhere) {
  EXPECT_EQ(records("/* study 1,\n   two lines */\n0110 3 ;\n1001 -1;\n /* between */ 1111 12 ; /* after */\n"),
            "0110:3@3 1001:-1@4 1111:12@5");
  // A record may spread over lines; its line is the history's.
  EXPECT_EQ(records("01\n  2\n  ;\n10 +4;"), "01:2@1 10:4@4");
  // A comment glued to the words on both sides still separates them.
  EXPECT_EQ(records("01/*x*/5/*y*/;"), "01:5@1");
}

TEST(ReadInp, DosLineEndsAndTabsAreBlanks) {
  EXPECT_EQ(records("/* a */\r\n0011\t2\t;\r\n1100 1 ;\r\n"), "0011:2@2 1100:1@3");
}

TEST(ReadInp, EveryFaultNamesItsLine) {
  EXPECT_EQ(fault("0101 1 ;\n01x1 1 ;\n"),
            "2: 'x' at occasion 3 of history \"01x1\": a history holds only 0 (not caught) and 1 (caught)");
  EXPECT_EQ(fault("\n\n0.01 2 ;\n"),
            "3: missing occasion '.' at occasion 2 of history \"0.01\": missing occasions are not supported; every "
            "history needs 0 or 1 on every occasion");
  EXPECT_EQ(fault("0101 1 ;\n0110 0 ;\n"),
            "2: frequency 0: every history needs a number of animals other than 0 (negative for animals not "
            "released after their last capture)");
  EXPECT_EQ(fault("0101 -0 ;\n"), fault("0101 0 ;\n"));
  EXPECT_EQ(fault("0101 1.5 ;\n"), "1: frequency \"1.5\" is not a whole number");
  EXPECT_EQ(fault("0101 - ;\n"), "1: frequency \"-\" is not a whole number");
  EXPECT_EQ(fault("0101 1 ;\n0110 ;\n"), "2: history \"0110\" has no frequency");
  EXPECT_EQ(fault("0101 1 ;\n0110"), "2: history \"0110\" has no frequency");
  // The next record on a later line shows the ";" is missing.
  EXPECT_EQ(fault("0101 1\n0110 2 ;\n"), "1: missing \";\" at the end of the record of history \"0101\"");
  EXPECT_EQ(fault("0101 1 ;\n0110 2"), "2: missing \";\" at the end of the record of history \"0110\"");
  EXPECT_EQ(fault("0101 1 ;\n/* note\n\n0110 1 ;\n"), "2: comment opened with \"/*\" is never closed with \"*/\"");
  EXPECT_EQ(fault("0101 1 ;\n ; 0110 1 ;\n"), "2: \";\" without a history before it");
  EXPECT_EQ(fault("0101 2147483648 ;\n"), "1: frequency \"2147483648\" is too large: at most 2147483647 animals per history");
  EXPECT_EQ(fault("0101 99999999999999999999999 ;\n"),
            "1: frequency \"99999999999999999999999\" is too large: at most 2147483647 animals per history");
  EXPECT_EQ(records("0101 2147483647 ;"), "0101:2147483647@1");
}

TEST(ReadInp, ByteOrderMarkIsSkipped) {
  EXPECT_EQ(records("\xEF\xBB\xBF/* a */\n0011 2 ;\n1100 1 ;\n"), "0011:2@2 1100:1@3");
  EXPECT_EQ(records("\xEF\xBB\xBF" "0011 2 ;"), "0011:2@1");
  // Only at the start, and only whole: elsewhere its bytes are characters of a history.
  EXPECT_EQ(fault("0011 2 ;\n\xEF\xBB\xBF" "1100 1 ;\n").substr(0, 22), "2: character code 239 ");
  EXPECT_EQ(fault("\xEF\xBB" "0011 2 ;").substr(0, 22), "1: character code 239 ");
}

TEST(ReadInp, HistoryInGroupsSaysWhatIsExpected) {
  EXPECT_EQ(fault("1111 1 ;\n11 00 00 10 ;\n"),
            "2: history written in groups (\"11 00 00 10\"): a history is one string of 0 and 1 without blanks "
            "(\"11000010\"), then its frequency and \";\"");
  EXPECT_EQ(fault("11 01 5 ;\n"),
            "1: history written in groups (\"11 01\"): a history is one string of 0 and 1 without blanks "
            "(\"1101\"), then its frequency and \";\"");
  // A frequency of 0, 1 or 10 is no group.
  EXPECT_EQ(fault("0101 0 ;\n").substr(0, 14), "1: frequency 0");
  EXPECT_EQ(records("0101 10 ;\n0110 1 ;"), "0101:10@1 0110:1@2");
}

TEST(ReadInp, OneFrequencyPerGroup) {
  // A group may have none of a history, and lose animals on capture of its own.
  EXPECT_EQ(records("0110 12 7;\n1001 0 -2 ;\n1111 -1 0;"), "0110:12/7@1 1001:0/-2@2 1111:-1/0@3");
  EXPECT_EQ(records("0110 12 7 1;", 3), "0110:12/7/1@1");
  // Every record has as many as the first, or as --groups names.
  const std::string each = ": every history needs one frequency for each group";
  EXPECT_EQ(fault("0110 12 7;\n/* */\n1001 3 ;\n"),
            "3: history \"1001\" has 1 frequency, but the first history (line 1) has 2" + each);
  EXPECT_EQ(fault("0110 12;\n1001 3 1 4;\n"),
            "2: history \"1001\" has 3 frequencies, but the first history (line 1) has 1" + each);
  EXPECT_EQ(fault("0110 12 7;\n", 3), "1: history \"0110\" has 2 frequencies, but --groups names 3 groups" + each);
  EXPECT_EQ(fault("0110 12 7;\n1001 3 4 ;\n", 1),
            "1: history \"0110\" has 2 frequencies, but --groups names 1 group" + each);
  EXPECT_EQ(fault("0110 1 2 3 4 5 6 7 8 9 10 11;\n"),
            "1: history \"0110\" has 11 frequencies: at most 10 groups, one frequency each");
  EXPECT_EQ(fault("0110 12 7;\n1001 0 -0 ;\n"),
            "2: frequencies all 0: every history needs a number of animals other than 0 in at least one group");
  EXPECT_EQ(fault("0110 12 7;\n1001 3 x ;\n"), "2: frequency \"x\" is not a whole number");
  // The frequencies stand on one line: the record ends with its ";".
  EXPECT_EQ(fault("0110 12\n 7;\n"), "1: missing \";\" at the end of the record of history \"0110\"");
}

TEST(ReadInp, NoHistoryAtAll) {
  EXPECT_EQ(fault(""), "0: no encounter history in the input");
  EXPECT_EQ(fault("/* only a comment */\n\n"), "0: no encounter history in the input");
}

TEST(ReadInp, ControlCharactersAreShownByCode) {
  EXPECT_EQ(fault(std::string("01\x01" "1 1 ;", 7)),
            "1: character code 1 at occasion 3 of history \"01\x01" "1\": a history holds only 0 (not caught) and "
            "1 (caught)");
}

}  // namespace
}  // namespace quorvale::convert
