// PROC TEST with a model file: AICSAVE.
#include "compare/dotest.h"

#include <gtest/gtest.h>

#include "testing/dotest_fixture.h"

namespace quorvale {
namespace {

using namespace dotest_fixture;
// ---------------------------------------------------------------------------
// The model file

// The first record written for the three fits: A, with AIC 206.6.
const std::string kRecordA = record("A", "206.60", "-100.30000    ", "10", "3", "0.2134", " 12.400000    ", "10");

TEST_F(DotestModelFile, WritesOneRecordPerModelInSortedOrder) {
  auto r = make_run("PROC TEST AICSAVE = F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  const std::vector<std::string> lines = split_lines(slurp("F1"));
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[0].substr(0, 90) + "\n", kRecordA);
  EXPECT_EQ(lines[1].substr(0, 90) + "\n",
            record("B", "206.20", "-98.100000    ", "8", "5", "0.2381", " 10.400000    ", "8"));
  EXPECT_EQ(lines[2].substr(0, 90) + "\n",
            record("C", "212.40", "-104.20000    ", "11", "2", "0.0564", " 20.600000    ", "11"));
  // After column 90, the identity of the data: 2 cohorts of 101 animals in all, then a checksum.
  EXPECT_EQ(lines[0].substr(90, 13), "  data 2 101 ");
  EXPECT_EQ(lines[0].size(), 111U);
  EXPECT_EQ(lines[1].substr(90), lines[0].substr(90));
  // No temporary file left behind; the lock file stays beside the model file.
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));
}

TEST_F(DotestModelFile, ModelsCarryOverToTheNextTestAndTheNextRun) {
  auto r = make_run("PROC TEST AICSAVE = F1;\nPROC TEST AICSAVE = F1 SORTBY AIC;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  ASSERT_EQ(r->run.token(2), "TEST");
  // The next sequence fits A again and a new D; the saved A is dropped.
  fill(r->run, {{"D", -99.5, 4, 9}, {"A", -97.0, 3, 10, 12.4, 0.2134, 10}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 4), (std::vector<std::string>{"D", "A", "B", "C"}));
  // B and C read back give the same criteria as when they were fitted
  // (c-hat is again B's 1.3).
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 4)[2],
            " 3 " + col20("B") + "      5" + "  206.200    " + "  206.832    " + "  160.923    " + "  161.555    ");
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 4)[3],
            " 4 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  164.308    " + "  164.430    ");
  // Sorted by AIC: A 200, B 206.2, D 207, C 212.4.
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"A", "B", "D", "C"}));
  EXPECT_EQ(split_lines(slurp("F1"))[0].substr(0, 90) + "\n",
            record("A", "200.00", "-97.000000    ", "10", "3", "0.2134", " 12.400000    ", "10"));

  // A later run adds its own model to the four.
  auto next = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(next->run, {{"E", -120.0, 1, 12}});
  dotest(next->run);
  EXPECT_EQ(first_table_names(*next, 5), (std::vector<std::string>{"E", "A", "B", "D", "C"}));
  EXPECT_EQ(record_names("F1").size(), 5U);
}

TEST_F(DotestModelFile, AProbabilityThatOverflowedItsFieldReadsBackAsUnknown) {
  // A chi-square error leaves PG far outside [0, 1]; F6.4 writes it as
  // asterisks, and the file must still be readable by the next PROC TEST.
  auto r = make_run("PROC TEST AICSAVE = F1;\nPROC STOP;\n", 500);
  fill(r->run, {{"GEN", -100.0, 3, 8, 1.0, 1e25, 8}, {"RED", -101.0, 2, 9}});
  dotest(r->run);
  ASSERT_NE(slurp("F1").find("******"), std::string::npos);
  std::vector<std::string> expected = {"NEW"};
  for (const std::string& name : record_names("F1")) expected.push_back(name);
  auto next = make_run("PROC TEST AICSAVE = F1;\nPROC STOP;\n", 500);
  fill(next->run, {{"NEW", -102.0, 1, 10}});
  dotest(next->run);
  EXPECT_EQ(first_table_names(*next, 3), expected);
  EXPECT_EQ(record_names("F1").size(), 3U);
}

TEST_F(DotestModelFile, RecordsNamedLikeACurrentModelAreDropped) {
  // AIC fields are only for the reader: the criteria come from lnL and K.
  write_file("SAVED", record("P", "1.00", "-50.000000", "4", "2", "0.5000", "5.0", "4") +
                          record("Q", "2.00", "-60.000000", "4", "2", "0.5000", "5.0", "4") +
                          record("R", "3.00", "-70.000000", "4", "2", "0.5000", "5.0", "4"));
  auto r = make_run("PROC TEST AICSAVE = SAVED;\nPROC STOP;\n", 1000);
  fill(r->run, {{"Q", -40.0, 3, 3}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 3), (std::vector<std::string>{"Q", "P", "R"}));
  // P: AIC 104; AICc 104 + 12/997 = 104.012; c-hat 1 from Q's G/DFC.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 3)[1],
            " 2 " + col20("P") + "      2" + "  104.000    " + "  104.012    " + "  104.000    " + "  104.012    ");
  EXPECT_EQ(record_names("SAVED"), (std::vector<std::string>{"Q", "P", "R"}));
}

TEST_F(DotestModelFile, RecordsAreMatchedOnlyAgainstTheCurrentSequence) {
  // Two records of one name both stay: only this sequence's names are compared.
  write_file("F1", record("P", "0", "-50.0", "4", "2", "0.5", "5.0", "4") +
                       record("P", "0", "-51.0", "4", "2", "0.5", "5.0", "4"));
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 1000);
  fill(r->run, {{"X", -40.0, 3, 3}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 3), (std::vector<std::string>{"X", "P", "P"}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"X", "P", "P"}));
}

TEST_F(DotestModelFile, TheSameFitAgainReplacesItsRecord) {
  // The name field holds 10 characters and the full name follows the data
  // identity; the same full name is the same model, so running the same
  // commands again adds nothing, and names alike in 10 characters stay apart.
  auto r = make_run(
      "PROC TEST AICSAVE=F1;\nPROC TEST AICSAVE=F1;\nPROC TEST AICSAVE=F1;\nPROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  const std::vector<Fit> fits = {{"LONGMODELNAME1", -50.0, 3, 5}, {"SHORT", -52.0, 2, 6}};
  fill(r->run, fits);
  dotest(r->run);
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"LONGMODELN", "SHORT"}));
  fill(r->run, fits);
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 3), (std::vector<std::string>{"LONGMODELNAME1", "SHORT", ""}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"LONGMODELN", "SHORT"}));
  // Another model whose name shares the 10 characters is another model, and
  // the one recalled from the file keeps its full name.
  fill(r->run, {{"LONGMODELNAME2", -50.0, 3, 5}, {"OTHER", -60.0, 1, 7}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 4),
            (std::vector<std::string>{"LONGMODELNAME2", "OTHER", "LONGMODELNAME1", "SHORT"}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"LONGMODELN", "LONGMODELN", "SHORT", "OTHER"}));
  // The first model fitted again replaces its own record, not its namesake's.
  fill(r->run, {{"LONGMODELNAME1", -49.0, 3, 5}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 4), (std::vector<std::string>{"LONGMODELNAME1", "LONGMODELNAME2", "SHORT", "OTHER"}));
}

TEST_F(DotestModelFile, RecordsOfOtherDataStayInTheFileOutsideTheComparison) {
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  // Other data: one count differs.
  auto other = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 102);
  fill(other->run, {{"X", -40.0, 3, 3}, {"Y", -45.0, 2, 4}});
  dotest(other->run);
  EXPECT_TRUE(has_line(*other, " * *  WARNING  * *   3 model(s) of the model file F1 are of other data: left out "
                                "of the comparison, kept in the file."));
  EXPECT_EQ(first_table_names(*other, 3), (std::vector<std::string>{"X", "Y", ""}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"X", "Y", "A", "B", "C"}));
  // Back on the first data: its three records count again, X and Y are left out.
  auto again = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(again->run, {{"D", -99.5, 4, 9}});
  dotest(again->run);
  EXPECT_EQ(first_table_names(*again, 4), (std::vector<std::string>{"D", "A", "B", "C"}));
  EXPECT_TRUE(has_text(*again, "2 model(s) of the model file F1 are of other data"));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"A", "D", "B", "C", "X", "Y"}));
  // Records without an identity (older files) are compared as before.
  write_file("OLD", record("P", "0", "-50.0", "4", "2", "0.5", "5.0", "4"));
  auto old = make_run("PROC TEST AICSAVE=OLD;\nPROC STOP;\n", 102);
  fill(old->run, {{"X", -40.0, 3, 3}});
  dotest(old->run);
  EXPECT_EQ(first_table_names(*old, 2), (std::vector<std::string>{"X", "P"}));
}

TEST_F(DotestModelFile, FileNameIsTheWordAfterAicsaveAsTyped) {
  // Wherever the option stands, case and length kept.
  auto r = make_run("PROC TEST SORTBY AIC AICSAVE = my-models.txt;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_EQ(entries(), (std::vector<std::string>{"my-models.txt", "my-models.txt.lock"}));
  EXPECT_EQ(record_names("my-models.txt"), (std::vector<std::string>{"B", "A", "C"}));

  auto lower = make_run("proc test aicsave=Models;\nPROC STOP;\n", 101);
  fill(lower->run, kThree);
  dotest(lower->run);
  EXPECT_EQ(entries(), (std::vector<std::string>{"Models", "Models.lock", "my-models.txt", "my-models.txt.lock"}));
}

TEST_F(DotestModelFile, FewerThanTwoModelsLeaveTheFileAsItIs) {
  // No file and one model: nothing is created.
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, {kThree[0]});
  dotest(r->run);
  EXPECT_EQ(entries(), std::vector<std::string>{"F1.lock"});
  EXPECT_EQ(after_echo(*r), (std::vector<std::string>{"", kTooFewWarning, "", kResetWarning}));

  // A file of one record and no model: the file keeps its bytes.
  const std::string text = record("ONLY", "", "-50.0", "", "0", "", "", "");
  write_file("F1", text);
  auto alone = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  dotest(alone->run);
  EXPECT_TRUE(has_line(*alone, kTooFewWarning));
  EXPECT_EQ(slurp("F1"), text);
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));

  // With one model more there are two, and the file is rewritten in full.
  auto two = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(two->run, {{"NEW", -40.0, 2, 3}});
  dotest(two->run);
  EXPECT_FALSE(has_line(*two, kTooFewWarning));
  // ONLY read its blank fields as zeros: K 0, lnL -50, AIC 100 (printed F16.2).
  EXPECT_EQ(split_lines(slurp("F1"))[1].substr(0, 90) + "\n",
            record("ONLY", "100.00", "-50.000000    ", "0", "0", "0.0000", "0.0000000    ", "0"));
}

TEST_F(DotestModelFile, MoreModelsThanTheTableHoldsAreRefusedWithTheFileUntouched) {
  std::vector<Fit> fits;
  for (int i = 1; i <= 28; ++i) fits.push_back({"M" + std::to_string(i), -100.0 - i, 3, 10});
  // The record of M5 is replaced by this run's M5; FA and FB fill the table.
  const std::string full = record("M5", "0", "-1.0", "1", "1", "0.5", "1.0", "1") +
                           record("FA", "0", "-2.0", "1", "1", "0.5", "1.0", "1") +
                           record("FB", "0", "-3.0", "1", "1", "0.5", "1.0", "1");
  write_file("F1", full);
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 1000);
  fill(r->run, fits);
  dotest(r->run);
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 30)[29].substr(0, 3), "30 ");
  const std::vector<std::string> saved = record_names("F1");
  EXPECT_EQ(saved.size(), 30U);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), "M5"), 1);
  EXPECT_EQ(saved[0], "FA");  // the best AIC: 4 + 2

  // One record more than the table holds: nothing is dropped, nothing rewritten.
  const std::string over = full + record("FC", "0", "-4.0", "1", "1", "0.5", "1.0", "1");
  write_file("F1", over);
  auto more = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 1000);
  fill(more->run, fits);
  EXPECT_EQ(expect_fatal(*more, [&] { dotest(more->run); }),
            "\n Model file F1 and this sequence hold more than 30 models; the file is left as it is.\n"
            "STOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(slurp("F1"), over);
}

// A fit resting on an impossible point (here a positive log-likelihood, the
// largest K and by far the smallest criteria) is ranked last with no
// weight, gives no c-hat, enters no likelihood-ratio test and is not
// written to the model file, which the next run then reads.
TEST_F(DotestModelFile, ImpossibleFitIsRankedLastAndNeverWritten) {
  std::vector<Fit> fits = kThree;
  fits.push_back({"D", 8140.96, 7, 6, -1000.0, 1.0, 6});
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, fits);
  r->run.saved.unsound(4) = 1;
  const std::optional<ModelComparison> c = dotest(r->run);
  ASSERT_TRUE(c);
  ASSERT_EQ(c->ranked.size(), 4U);
  EXPECT_EQ(c->ranked.back().full_name, "D");
  EXPECT_EQ(c->ranked.back().weight_aicc, 0.0);
  EXPECT_EQ(c->impossible, std::vector<std::string>{"D"});
  EXPECT_TRUE(has_text(*r, "Most General Model: " + col20("B") + "  n=   101 c=  1.30"));
  for (const RatioTest& t : c->tests) EXPECT_TRUE(c->ranked[t.general].sound && c->ranked[t.reduced].sound);
  EXPECT_EQ(c->tests.size(), 3U);
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"A", "B", "C"}));
  auto next = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(next->run, {kThree[0]});
  EXPECT_TRUE(dotest(next->run));
  EXPECT_EQ(next->run.saved.NMOD, 0);
}

TEST_F(DotestModelFile, IncompleteOrImpossibleRecordsAreFatalAndLeaveTheFileIntact) {
  const std::string good = record("GOOD", "0", "-1.0", "1", "1", "0.5", "1.0", "1");
  const std::string cut = good.substr(0, 40) + "\n";  // cut inside the log-likelihood
  const std::vector<std::pair<std::string, std::string>> cases = {
      {good + cut, "record 2, is incomplete; the file is left as it is."},
      {good + "\n" + good, "record 2, is incomplete; the file is left as it is."},
      {good + record("NOK", "0", "-1.0", "1", "", "0.5", "1.0", "1"), "record 2, is incomplete; the file is left as it is."},
      {record("POS", "0", "12.5", "1", "1", "0.5", "1.0", "1"),
       "record 1, holds impossible values (log-likelihood above 0 or a negative count)."},
      {good + record("NEGK", "0", "-1.0", "1", "-2", "0.5", "1.0", "1"),
       "record 2, holds impossible values (log-likelihood above 0 or a negative count)."},
  };
  for (const auto& [text, message] : cases) {
    write_file("F1", text);
    auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
    fill(r->run, kThree);
    EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
              "\n Model file F1, " + message + "\nSTOP PELMAR ERROR TERMINATION")
        << text;
    EXPECT_EQ(slurp("F1"), text);
  }
}

TEST_F(DotestModelFile, BadRecordIsFatalAndLeavesTheFileIntact) {
  const std::string text = record("GOOD", "0", "-1.0", "1", "1", "0.5", "1.0", "1") +
                           record("BAD", "0", "-2.0", "1X", "1", "0.5", "1.0", "1");
  write_file("F1", text);
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
            "\n Model file F1, record 2, does not fit its layout.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_TRUE(has_line(*r, " Model file F1, record 2, does not fit its layout."));
  EXPECT_TRUE(has_text(*r, "  INPUT --- PROC TEST AICSAVE=F1;"));  // the statement is shown
  EXPECT_EQ(slurp("F1"), text);
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));
}

TEST_F(DotestModelFile, FileThatCannotBeLockedOrWrittenIsFatal) {
  // The folder does not exist: the lock file cannot be made, and the run does not go on unlocked.
  auto r = make_run("PROC TEST AICSAVE=NODIR/F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
            "\n Model file NODIR/F1 cannot be locked: the lock file NODIR/F1.lock cannot be opened, or is not a "
            "file.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(entries(), std::vector<std::string>{});

  // A read-only model file is read, and its rewrite fails with the file as it was.
  const std::string text = record("GOOD", "0", "-1.0", "1", "1", "0.5", "1.0", "1");
  write_file("F2", text);
  std::filesystem::permissions("F2", std::filesystem::perms::owner_read);
  auto w = make_run("PROC TEST AICSAVE=F2;\nPROC STOP;\n", 101);
  fill(w->run, kThree);
  EXPECT_EQ(expect_fatal(*w, [&] { dotest(w->run); }), "\n Model file F2 cannot be written.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(slurp("F2"), text);
  EXPECT_EQ(entries(), (std::vector<std::string>{"F2", "F2.lock"}));
}

TEST_F(DotestModelFile, FileThatCannotBeOpenedIsFatal) {
  fs::create_directory("F1");
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
            "\n Model file F1 cannot be opened.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));
  EXPECT_TRUE(fs::is_empty("F1"));
}

TEST_F(DotestModelFile, RewriteKeepsThePermissionsOfTheOldFile) {
  write_file("F1", "");
  fs::permissions("F1", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_EQ(record_names("F1").size(), 3U);
  EXPECT_EQ(fs::status("F1").permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace quorvale
