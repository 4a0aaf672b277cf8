#include "input/reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <streambuf>
#include <vector>

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

/// Command text built line by line, with the line where each statement's first word stands.
struct Script {
  std::string text;
  std::vector<int> starts;
  int line = 0;
  void add(const std::string& l) {
    text += l + "\n";
    ++line;
  }
};

/// Reads every statement of `text` and collects the place the reader gives for each.
std::vector<std::string> places(const std::string& text, const std::string& name, int lines_before) {
  StringRun r(text);
  r.run.reader.set_source(name, std::nullopt, lines_before);
  r.start();
  std::vector<std::string> out;
  while (!(r.run.token(1) == "PROC" && r.run.token(2) == "STOP")) {
    out.push_back(r.run.reader.where());
    r.run.reader.getcmd();
  }
  return out;
}

TEST(ReaderPlaces, EachStatementIsPlacedAtTheLineOfItsFirstWord) {
  // Enough text for many refills and compactions, with blank lines, comment
  // lines, statements over two lines and two statements on one line.
  Script sc;
  for (int i = 0; i < 400; ++i) {
    const std::string w = "W" + std::to_string(i);
    if (i % 7 == 3) sc.add("");
    if (i % 11 == 5) sc.add(" /* a note on " + w + " */");
    if (i % 5 == 0) {
      sc.starts.push_back(sc.line + 1);
      sc.add(" " + w + " =");
      sc.add("    " + std::to_string(i) + ";");
    } else if (i % 4 == 1 && i + 1 < 400) {
      sc.starts.push_back(sc.line + 1);
      sc.starts.push_back(sc.line + 1);
      sc.add(" " + w + " = 1; X" + std::to_string(i) + " = 2;");
      ++i;
    } else {
      sc.starts.push_back(sc.line + 1);
      sc.add(" " + w + " = " + std::to_string(i) + ";");
    }
  }
  std::vector<std::string> expected;
  for (int line : sc.starts) expected.push_back("run.cmd:" + std::to_string(line));
  EXPECT_EQ(places(sc.text, "run.cmd", 0), expected);
  // Commands that follow the parameter line on standard input count it.
  EXPECT_EQ(places(" A;\n\n B;\n", "(stdin)", 1), (std::vector<std::string>{"(stdin):2", "(stdin):4"}));
}

TEST(ReaderPlaces, LinesStayRightAfterACommentLongerThanTheBuffer) {
  Script sc;
  sc.starts.push_back(1);
  sc.add("FIRST;");
  sc.add("/* a long comment");
  for (int i = 0; i < 40; ++i) sc.add("   " + std::string(60, 'c'));
  sc.add("   */");
  sc.starts.push_back(sc.line + 1);
  sc.add(" SECOND /* a long comment inside a statement");
  for (int i = 0; i < 40; ++i) sc.add("   " + std::string(60, 'd'));
  sc.add("   */ = 2;");
  for (int i = 0; i < 30; ++i) {
    sc.starts.push_back(sc.line + 1);
    sc.add(" W" + std::to_string(i) + " = 1;");
  }
  std::vector<std::string> expected;
  for (int line : sc.starts) expected.push_back("f:" + std::to_string(line));
  EXPECT_EQ(places(sc.text, "f", 0), expected);
  const std::string head = "[FIRST]\n[SECOND][=][2]\n[W0][=][1]\n";
  EXPECT_EQ(all_statements(sc.text).substr(0, head.size()), head);
}

TEST(ReaderComments, CommentsOfAnyLengthAreSkipped) {
  const std::string lines = "   " + std::string(70, 'x') + "\n";
  std::string many;
  for (int i = 0; i < 60; ++i) many += lines;  // about 4300 characters
  EXPECT_EQ(all_statements("A;\n/*\n" + many + " */\n B;\n"), "[A]\n[B]\n");
  EXPECT_EQ(all_statements(" A /*\n" + many + " */ C;\n"), "[A][C]\n");
  // A "/" in column 1 joins the end of the line before: after "*" it closes
  // the comment, after anything else it does not. Where the comment is cut
  // for room just before that line, both must still hold; the cut falls
  // there for one of these lengths.
  std::string starred;
  std::string plain;
  for (int i = 0; i < 40; ++i) {
    starred += "   " + std::string(70, 'y') + "*\n";
    plain += "   " + std::string(70, 'y') + "\n";
    EXPECT_EQ(all_statements("A;\n/*" + starred + "/ B;\n"), "[A]\n[B]\n") << i + 1 << " lines";
    EXPECT_EQ(all_statements("A;\n/*" + plain + "/ still a comment\n */ B;\n"), "[A]\n[B]\n") << i + 1 << " lines";
  }
  // Without a closing "*/" the input ends inside the comment.
  StringRun r("A;\n /*" + many);
  r.start();
  EXPECT_EQ(expect_fatal(r, [&] { r.run.reader.getcmd(); }),
            "\n No closing comment string (*/).\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(r.run.reader.where(), "(stdin):2");
}

TEST(ReaderEnd, StatementWithoutClosingSemicolonIsNamedByItsLine) {
  StringRun r("PROC TITLE x;\n\n/* last */ PROC\n STOP\n");
  r.start();
  EXPECT_EQ(expect_fatal(r, [&] { r.run.reader.getcmd(); }),
            "\n No closing semicolon (;) for the statement starting at line 3.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(r.run.reader.where(), "(stdin):3");
  // The statement is echoed as it stands, without the comment.
  EXPECT_NE(r.listing().find(" INPUT --- PROC STOP\n"), std::string::npos);
}

TEST(ReaderLines, ByteOrderMarkBeforeTheFirstLineIsSkipped) {
  EXPECT_EQ(all_statements("\xEF\xBB\xBFPROC TITLE x;\n"), "[PROC][TITLE][X]\n");
  // Only before the first line; an incomplete mark is text.
  EXPECT_EQ(all_statements("A;\n\xEF\xBB\xBF" "B;\n"), "[A]\n[\xEF\xBB\xBF" "B]\n");
  EXPECT_EQ(all_statements("\xEF\xBB" "B;\n"), "[\xEF\xBB" "B]\n");
  // The 80 columns are counted after the mark.
  EXPECT_EQ(all_statements("\xEF\xBB\xBF" + std::string(78, ' ') + "A;B;\n"), "[A]\n");
}

TEST(ReaderLines, TextAfterColumnEightyIsReportedOnce) {
  const std::string col80 = " X;" + std::string(77, ' ');  // 80 columns
  StringRun r(col80 + "  Y; Z;\n" + col80 + "\t \r\n W;" + std::string(77, ' ') + std::string(60, 'q') + "\n");
  r.run.reader.set_source("f.cmd", std::nullopt);
  r.start();
  EXPECT_EQ(r.tokens(), "[X]");
  r.run.reader.getcmd();
  EXPECT_EQ(r.tokens(), "[X]");
  r.run.reader.getcmd();
  EXPECT_EQ(r.tokens(), "[W]");
  // Blanks, tabs and a carriage return after column 80 are not text; a long
  // text is quoted in part.
  const std::string quoted = std::string(40, 'q') + " ...";
  EXPECT_EQ(r.err.str(), "f.cmd:1: Text after column 80 ignored: Y; Z;\nf.cmd:3: Text after column 80 ignored: " +
                             quoted + "\n");
  const std::string listing = r.listing();
  EXPECT_NE(listing.find("\n * *  WARNING  * *   Text after column 80 of line 1 ignored: Y; Z;\n"),
            std::string::npos);
  EXPECT_NE(listing.find("\n * *  WARNING  * *   Text after column 80 of line 3 ignored: " + quoted + "\n"),
            std::string::npos);
}

/// An input that fails as a file that cannot be read does.
class FailingInput : public std::streambuf {
 protected:
  int_type underflow() override { throw std::ios_base::failure("read error"); }
};

TEST(ReaderEnd, InputThatCannotBeReadEndsTheRun) {
  FailingInput failing;
  std::istream in(&failing);
  StringRun r("");
  r.run.reader.set_input(in);
  r.run.reader.set_source("dir", std::nullopt);
  EXPECT_EQ(expect_fatal(r, [&] { r.start(); }),
            "\n Could not read file dir for input.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(r.run.reader.where(), "dir:1");
  // A stream that failed before (standard input closed) is no end of input either.
  std::istringstream closed("A;\n");
  closed.setstate(std::ios::badbit);
  StringRun c("");
  c.run.reader.set_input(closed);
  EXPECT_NE(expect_fatal(c, [&] { c.start(); }).find("Could not read file (stdin) for input."), std::string::npos);
}

TEST(ReaderOptions, OptionWordIsTakenAsTyped) {
  auto word = [](const std::string& statement, const char* key) {
    StringRun r(statement + "\n");
    r.start();
    return r.run.reader.option_word(key);
  };
  EXPECT_EQ(word("PROC TEST SORTBY AIC AICSAVE = my-Models.txt;", "AICSAVE"), "my-Models.txt");
  EXPECT_EQ(word("proc test aicsave=/data/run/Models.v2 C = 1.5;", "AICSAVE"), "/data/run/Models.v2");
  EXPECT_EQ(word("PROC SIMULATE PARFILE /* the file */ = Sim.Out NSIM=2;", "PARFILE"), "Sim.Out");
  EXPECT_EQ(word("PROC TEST AICSAVE = a AICSAVE = second;", "AICSAVE"), "second");
  EXPECT_EQ(word("PROC TEST AICSAVE=x;", "AICSAVE"), "x");
  // A name is no key: PARFILE=AICSAVE names a file called AICSAVE.
  EXPECT_EQ(word("PROC SIMULATE PARFILE=AICSAVE;", "PARFILE"), "AICSAVE");
  for (const char* statement : {"PROC TEST AICSAVE;", "PROC TEST AICSAVE MODELS;", "PROC TEST AICSAVE =;"}) {
    StringRun r(std::string(statement) + "\n");
    r.start();
    EXPECT_EQ(expect_fatal(r, [&] { r.run.reader.option_word("AICSAVE"); }),
              "\n Option AICSAVE needs a value (AICSAVE = value).\nSTOP PELMAR ERROR TERMINATION")
        << statement;
  }
}

TEST(ReaderFiles, OutputsNamingTheCommandOrListingFileAreRefused) {
  const std::string dir = ::testing::TempDir();
  const std::string commands = dir + "quorvale_refuse.cmd";
  const std::string listing = dir + "quorvale_refuse.lst";
  const std::string other = dir + "quorvale_refuse.out";
  for (const std::string& name : {commands, listing, other}) std::ofstream(name) << "text\n";
  StringRun r("A;\n");
  r.run.reader.set_source(commands, file_id(commands));
  r.run.reader.set_listing_file(file_id(listing));
  r.start();
  r.run.reader.refuse_overwrite(other, "Model file");  // another file: no objection
  r.run.reader.refuse_overwrite(dir + "quorvale_missing.out", "Model file");
  const std::string err = expect_fatal(r, [&] { r.run.reader.refuse_overwrite(dir + "./quorvale_refuse.cmd", "Model file"); });
  EXPECT_EQ(err, "\n Model file " + dir + "./quorvale_refuse.cmd is the command file; it is not overwritten.\n"
                 "STOP PELMAR ERROR TERMINATION");
  StringRun l("A;\n");
  l.run.reader.set_listing_file(file_id(listing));
  l.start();
  EXPECT_NE(expect_fatal(l, [&] { l.run.reader.refuse_overwrite(listing, "Parameter estimate file"); })
                .find("Parameter estimate file " + listing + " is the listing file;"),
            std::string::npos);
  for (const std::string& name : {commands, listing, other}) std::remove(name.c_str());
}

}  // namespace
}  // namespace quorvale
