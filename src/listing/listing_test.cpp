#include "listing/listing.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <streambuf>

#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

/// Loads `text` as the current statement, as the reader would leave it.
void set_statement(Run& run, const std::string& text, EchoLevel echo_level) {
  for (std::size_t i = 0; i < text.size(); ++i) run.instr.CMD[i + 1] = text[i];
  run.status.ISTART = 1;
  run.status.IEND = static_cast<int>(text.size());
  run.status.ECHOLV = echo_level;
}

TEST(ListingPages, HeadingLayoutAndPageBudget) {
  StringRun r("");
  r.run.status.LINES = 60;
  r.run.listing.headst.BANNER = "Quorvale 1.0        Oct, 1996 ";
  r.run.listing.headst.DATE1 = "Mon Dec  7 05:1";
  r.run.listing.headst.DATE2 = "7:10 2026 ";
  r.run.listing.linchk(9);
  EXPECT_EQ(r.run.status.NPAGE, 1);
  EXPECT_EQ(r.run.status.LINLFT, 55 - 9);
  std::string expected = "\n\fQuorvale - Robust Design Survival Rate Estimation \n";
  // Date text in columns 2-26, the banner right-aligned in 35 columns, the
  // page number from column 70 in at least three digits.
  expected += " Mon Dec  7 05:17:10 2026 " + std::string(2 + 5, ' ') +
              "Quorvale 1.0        Oct, 1996 " + std::string(6, ' ') + "Page  001\n";
  expected += " " + std::string(90, ' ') + "\n";
  std::string rule;
  for (int i = 0; i < 40; ++i) rule += " -";
  expected += rule + "\n\n\n";
  EXPECT_EQ(r.listing(), expected);
}

TEST(ListingPages, ReservationStartsANewPageOnlyWhenNeeded) {
  StringRun r("");
  r.run.status.LINES = 60;
  r.run.listing.linchk(50);  // page 1, 5 left
  r.run.listing.linchk(5);
  EXPECT_EQ(r.run.status.NPAGE, 1);
  EXPECT_EQ(r.run.status.LINLFT, 0);
  r.run.listing.linchk(1);
  EXPECT_EQ(r.run.status.NPAGE, 2);
  EXPECT_EQ(r.run.status.LINLFT, 54);
}

TEST(ListingPages, PageNumbersWidenThenOverflow) {
  StringRun r("");
  r.run.status.LINES = 60;
  r.run.status.NPAGE = 1233;
  r.run.listing.headng();
  EXPECT_NE(r.listing().find("Page 1234\n"), std::string::npos);
  StringRun big("");
  big.run.status.NPAGE = 99999;
  big.run.listing.headng();
  EXPECT_NE(big.listing().find("Page*****\n"), std::string::npos);
}

TEST(ListingEcho, LevelsSetBlankLinesAndPrefix) {
  StringRun r("");
  set_statement(r.run, "PROC MODEL;", EchoLevel::Proc);
  r.run.status.LINLFT = 100;
  r.run.listing.prtcmd();
  set_statement(r.run, "COHORT=10;", EchoLevel::Statement);
  r.run.listing.prtcmd();
  set_statement(r.run, "  5 : S(1);", EchoLevel::Detail);
  r.run.listing.prtcmd();
  EXPECT_EQ(r.listing(),
            "\n\n  INPUT --- PROC MODEL;\n"
            "\n  INPUT ---    COHORT=10;\n"
            "  INPUT ---       5 : S(1);\n");
  EXPECT_EQ(r.run.status.LINLFT, 100 - 3 - 2 - 1);
}

TEST(ListingEcho, LongStatementsAreCutAtBlanksOrAtSixtyCharacters) {
  StringRun r("");
  r.run.status.LINLFT = 100;
  std::string word(149, 'X');
  set_statement(r.run, word + ";", EchoLevel::Detail);
  r.run.listing.prtcmd();
  std::string prefix = "  INPUT ---       ";
  EXPECT_EQ(r.listing(), prefix + std::string(60, 'X') + "\n" + prefix + std::string(60, 'X') +
                             "\n" + prefix + std::string(29, 'X') + ";\n");
}

TEST(ListingEcho, CutAfterTheLastBlankBeforeColumnSixty) {
  StringRun r("");
  r.run.status.LINLFT = 100;
  std::string text = std::string(50, 'A') + " " + std::string(20, 'B') + ";";
  set_statement(r.run, text, EchoLevel::Detail);
  r.run.listing.prtcmd();
  std::string prefix = "  INPUT ---       ";
  EXPECT_EQ(r.listing(), prefix + std::string(50, 'A') + " \n" + prefix + std::string(20, 'B') + ";\n");
}

TEST(ListingEcho, ACommentEndsItsLine) {
  StringRun r("");
  r.run.status.LINLFT = 100;
  set_statement(r.run, "A /* note */ B C;", EchoLevel::Detail);
  r.run.listing.prtcmd();
  set_statement(r.run, "D /* last */;", EchoLevel::Detail);
  r.run.listing.prtcmd();
  std::string prefix = "  INPUT ---       ";
  EXPECT_EQ(r.listing(), prefix + "A /* note */\n" + prefix + " B C;\n" + prefix + "D /* last */;\n");
}

TEST(ListingEcho, NothingWithNoechoOrWithoutAStatement) {
  StringRun r("");
  r.run.listing.prtcmd();  // IEND <= ISTART at start
  set_statement(r.run, "PROC X;", EchoLevel::Proc);
  r.run.status.NOECHO = 1;
  r.run.listing.prtcmd();
  set_statement(r.run, "   ;", EchoLevel::Proc);
  r.run.status.NOECHO = 0;
  r.run.listing.prtcmd();
  EXPECT_EQ(r.listing(), "");
}

TEST(ListingEcho, LevelZeroIsEchoedLikeAProcStatement) {
  StringRun r("");
  r.run.status.LINLFT = 100;
  set_statement(r.run, "HELLO;", EchoLevel::Unset);
  r.run.listing.prtcmd();
  EXPECT_EQ(r.listing(), "\n\n  INPUT --- HELLO;\n");
}

TEST(ListingMessages, WarningReservesTwoLines) {
  StringRun r("");
  r.run.status.LINES = 60;
  r.run.status.LINLFT = 1;
  r.run.status.NPAGE = 1;
  r.run.listing.warn("Verify output for correctness.");
  EXPECT_EQ(r.run.status.NPAGE, 2);
  EXPECT_EQ(r.run.status.LINLFT, 53);
  std::string text = r.listing();
  EXPECT_EQ(text.substr(text.size() - 53), "\n * *  WARNING  * *   Verify output for correctness.\n");
}

TEST(ListingMessages, ErrorEchoesTheStatementWritesBothStreamsAndEnds) {
  StringRun r("");
  r.run.status.LINLFT = 100;
  set_statement(r.run, "PROC MODELS;", EchoLevel::Proc);
  std::string err = expect_fatal(r, [&] { r.run.listing.error("Unrecognized procedure specified."); });
  EXPECT_EQ(err, "\n Unrecognized procedure specified.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(r.listing(), "\n\n  INPUT --- PROC MODELS;\n\n Unrecognized procedure specified.\n");
  EXPECT_EQ(r.run.status.LINLFT, 97);  // the message itself reserves nothing
}

/// A listing stream whose writes all fail, like a full disk.
class FullDevice : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(ListingMessages, FailedWritesEndTheRunAndAreKnown) {
  FullDevice full;
  std::ostream out(&full);
  std::ostringstream err;
  Status status;
  Instr instr;
  Listing listing(status, instr, out, err);
  listing.put_text("a record\n");
  EXPECT_FALSE(listing.failed());  // still in the buffer
  try {
    listing.flush();
    ADD_FAILURE() << "no end of the run";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.stop_text, kErrorEnd);
    EXPECT_EQ(end.exit_status, 1);
  }
  EXPECT_TRUE(listing.failed());
  // A fatal error on a failed listing still writes its message to the error
  // stream and ends the run with it.
  try {
    listing.error("Unrecognized input.");
    ADD_FAILURE() << "no end of the run";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.message, "Unrecognized input.");
  }
  EXPECT_EQ(err.str(), "\n Unrecognized input.\n");
  // Text too long for the buffer reaches the stream, and its failure ends the run, at once.
  Listing big(status, instr, out, err);
  EXPECT_THROW(big.put_text(std::string(1 << 17, 'x')), RunEnd);
  EXPECT_TRUE(big.failed());
}

}  // namespace
}  // namespace quorvale

namespace quorvale {
namespace {

/// The same output written on `lst`: reservations that cross page ends, a
/// page start, warnings, free-form lines, error-stream text and last a fatal error.
void write_sample(Listing& lst) {
  static const Layout line("(1X,A,I4)");
  for (int i = 1; i <= 9; ++i) {
    lst.linchk(4);
    lst.put(line, {"row", i});
    lst.put_free({"free", i, 0.5});
    lst.warn("a warning");
  }
  lst.headng();
  lst.err_text(" on the error stream\n");
  lst.put_text(" preformatted\n");
  lst.error("the end");
}

TEST(ListingRecordReplay, ReplayEqualsDirectWritingPageBreaksAndErrorIncluded) {
  StringRun direct("");
  StringRun replayed("");
  StringRun recorder("");
  for (StringRun* r : {&direct, &replayed}) {
    r->run.status.LINES = 30;
    r->run.status.LINLFT = 7;  // the first reservations fall near a page end
    r->run.status.NPAGE = 4;
  }
  const std::string direct_err = expect_fatal(direct, [&] { write_sample(direct.run.listing); });

  ListingRecord record;
  recorder.run.listing.record_into(&record);
  const std::string recorded_err = expect_fatal(recorder, [&] { write_sample(recorder.run.listing); });
  EXPECT_EQ(recorded_err, "STOP PELMAR ERROR TERMINATION");  // nothing reached the recorder's streams
  EXPECT_EQ(recorder.listing(), "");
  EXPECT_EQ(recorder.run.listing.warning_count(), 9u);  // warnings stay with the recorder

  const std::string replayed_err = expect_fatal(replayed, [&] { record.replay(replayed.run.listing); });
  EXPECT_EQ(replayed.listing(), direct.listing());
  EXPECT_EQ(replayed_err, direct_err);
  EXPECT_EQ(replayed.run.status.NPAGE, direct.run.status.NPAGE);
  EXPECT_EQ(replayed.run.status.LINLFT, direct.run.status.LINLFT);
  EXPECT_GE(direct.run.status.NPAGE, 7);  // the sample did cross pages
}

}  // namespace
}  // namespace quorvale
