#include "convert/inp.h"

#include <gtest/gtest.h>

namespace quorvale::convert {
namespace {

/// The records as "occasions:frequency@line ...".
std::string records(std::string_view text) {
  std::string s;
  for (const History& h : read_inp(text)) {
    s += (s.empty() ? "" : " ") + h.occasions + ":" + std::to_string(h.frequency) + "@" + std::to_string(h.line);
  }
  return s;
}

/// "line: message" of the fault read_inp stops on.
std::string fault(std::string_view text) {
  try {
    read_inp(text);
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
  EXPECT_EQ(fault("0101 1 2 ;\n"),
            "1: more than one frequency (\"2\" after \"1\"): groups and individual covariates are not supported");
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
