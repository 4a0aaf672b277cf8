#include "input/reader.h"

#include <gtest/gtest.h>

#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

/// Reads every statement of `commands` and renders their tokens, one per line.
std::string all_statements(const std::string& commands) {
  StringRun r(commands);
  r.start();
  std::string out;
  for (int guard = 0; guard < 100000; ++guard) {
    if (r.run.token(1) == "PROC" && r.run.token(2) == "STOP") break;
    out += r.tokens() + "\n";
    r.run.reader.getcmd();
  }
  return out;
}

TEST(ReaderTokens, DelimitersFormTokensOfTheirOwn) {
  EXPECT_EQ(all_statements("COHORT=120;\n"), "[COHORT][=][120]\n");
  EXPECT_EQ(all_statements("S(3)>S(2);\n"), "[S(3)][>][S(2)]\n");
  EXPECT_EQ(all_statements("a:b<c = d;\n"), "[A][:][B][<][C][=][D]\n");
}

TEST(ReaderTokens, EmptyStatementHasNoTokens) {
  StringRun r(";\n");
  r.start();
  EXPECT_EQ(r.run.status.NTOK, 0);
  EXPECT_TRUE(r.run.token(1).blank());
}

TEST(ReaderTokens, LongWordsAreCutIntoTenCharacterPieces) {
  EXPECT_EQ(all_statements("abcdefghijKLMNOPQRSTuvw;\n"), "[ABCDEFGHIJ][KLMNOPQRST][UVW]\n");
}

TEST(ReaderTokens, LettersAreFoldedButTheBufferKeepsTheText) {
  StringRun r("proc Title Spring survey;\n");
  r.start();
  EXPECT_EQ(r.tokens(), "[PROC][TITLE][SPRING][SURVEY]");
  EXPECT_EQ(r.run.instr.text(r.run.status.ISTART, r.run.status.IEND), "proc Title Spring survey;");
}

TEST(ReaderLines, ColumnOneContinuesTheLastWord) {
  EXPECT_EQ(all_statements("PROC MODEL\nNPAR=4;\n"), "[PROC][MODELNPAR][=][4]\n");
  EXPECT_EQ(all_statements("PROC MODEL\n   NPAR=4;\n"), "[PROC][MODEL][NPAR][=][4]\n");
}

TEST(ReaderLines, TabsCountAsBlanks) {
  EXPECT_EQ(all_statements("PROC\tMODEL\t NPAR=4;\n"), "[PROC][MODEL][NPAR][=][4]\n");
}

TEST(ReaderLines, CharactersAfterColumnEightyAreIgnored) {
  std::string line(75, ' ');
  line += "A B;C D E F G";  // columns 76..80 hold "A B;C"
  EXPECT_EQ(all_statements(line + "\n ;\n"), "[A][B]\n[C]\n");
}

TEST(ReaderLines, CarriageReturnsOfWindowsLinesAreDropped) {
  EXPECT_EQ(all_statements("PROC MODEL\r\n NPAR=4;\r\n"), "[PROC][MODEL][NPAR][=][4]\n");
}

TEST(ReaderLines, ManyStatementsAcrossRefillsReadInOrder) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 700; ++i) {
    // Two statements per line, every third line followed by a blank line.
    std::string word = "W" + std::to_string(i);
    input += " " + word + " = " + std::to_string(i * 7) + ";";
    if (i % 2 == 1) input += "\n";
    if (i % 6 == 5) input += "\n";
    expected += "[" + word + "][=][" + std::to_string(i * 7) + "]\n";
  }
  EXPECT_EQ(all_statements(input + "\n"), expected);
}

TEST(ReaderComments, CommentsProduceNoTokens) {
  EXPECT_EQ(all_statements("PROC /* the model */ MODEL;\n"), "[PROC][MODEL]\n");
  EXPECT_EQ(all_statements("PROC MODEL /* trailing */;\n"), "[PROC][MODEL]\n");
  EXPECT_EQ(all_statements("/* a */ /* b */ X;\n"), "[X]\n");
  EXPECT_EQ(all_statements("X /* spans\n two lines */ Y;\n"), "[X][Y]\n");
}

TEST(ReaderComments, SemicolonInsideACommentIsFatal) {
  StringRun r("PROC /* a; b */ MODEL;\n");
  std::string err = expect_fatal(r, [&] { r.start(); });
  EXPECT_EQ(err, "\n No closing comment string (*/).\nSTOP PELMAR ERROR TERMINATION");
}

TEST(ReaderEnd, CommentAfterTheLastStatementEndsTheInput) {
  StringRun r("PROC TITLE x;\n/* done */\n");
  r.start();
  r.run.reader.getcmd();
  EXPECT_EQ(r.run.token(1), "PROC");
  EXPECT_EQ(r.run.token(2), "STOP");
  EXPECT_EQ(r.err.str(), "");
}

TEST(ReaderEnd, ExhaustedInputSuppliesProcStopRepeatedly) {
  StringRun r("PROC TITLE x y;\n");
  r.start();
  EXPECT_EQ(r.tokens(), "[PROC][TITLE][X][Y]");
  for (int i = 0; i < 3; ++i) {
    r.run.reader.getcmd();
    EXPECT_EQ(r.run.token(1), "PROC");
    EXPECT_EQ(r.run.token(2), "STOP");
    EXPECT_TRUE(r.run.token(3).blank());
    // The positions still point at the last statement read.
    EXPECT_EQ(r.run.instr.text(r.run.status.ISTART, r.run.status.IEND), "PROC TITLE x y;");
  }
}

TEST(ReaderEnd, EmptyInputSuppliesProcStopAtOnce) {
  StringRun r("");
  r.start();
  EXPECT_EQ(r.run.token(1), "PROC");
  EXPECT_EQ(r.run.token(2), "STOP");
  EXPECT_EQ(r.run.status.NTOK, 0);
}

TEST(ReaderLimits, OnlyTheFirst140TokensAreKept) {
  std::string input = "T";
  for (int i = 1; i <= 150; ++i) input += " " + std::to_string(i) + (i % 15 == 0 ? "\n" : "");
  input += ";\n NEXT;\n";
  StringRun r(input);
  r.start();
  EXPECT_EQ(r.run.status.NTOK, 140);
  EXPECT_EQ(r.run.token(140), "139");
  r.run.reader.getcmd();
  EXPECT_EQ(r.tokens(), "[NEXT]");
}

TEST(ReaderLimits, StatementLongerThanTheBufferIsFatal) {
  std::string input;
  for (int i = 0; i < 30; ++i) input += " WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD\n";
  input += ";\n";
  StringRun r(input);
  std::string err = expect_fatal(r, [&] { r.start(); });
  EXPECT_EQ(err, "\n Length of command exceeded MAXCHR characters.\nSTOP PELMAR ERROR TERMINATION");
}

}  // namespace
}  // namespace quorvale
