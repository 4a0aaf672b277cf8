#include "estimate/saved_models.h"

#include <gtest/gtest.h>

#include <cmath>

#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

TEST(SavedModelsRows, OpenRowsGetDefaultNamesAndOpenValues) {
  StringRun r("");
  SavedModels& t = r.run.saved;
  t.open_row(r.run.listing);
  EXPECT_EQ(t.NMOD, 1);
  EXPECT_EQ(t.NAMSAV(1), "SUBMODEL 1          ");
  EXPECT_EQ(t.lnL(1), -1.0000000200408773E20);
  EXPECT_EQ(t.PG(1), 0.0);
  EXPECT_EQ(t.NDF(1), 0);
  for (int i = 2; i <= MAXMOD; ++i) t.open_row(r.run.listing);
  EXPECT_EQ(t.NAMSAV(30), "SUBMODEL30          ");
  std::string err = expect_fatal(r, [&] { t.open_row(r.run.listing); });
  EXPECT_EQ(err, "\n Number of PROC ESTIMATE calls exceeds dimensions.\nSTOP PELMAR ERROR TERMINATION");
}

TEST(SavedModelsRows, ResetStartsAgainAtRowOne) {
  StringRun r("");
  r.run.saved.open_row(r.run.listing);
  r.run.saved.open_row(r.run.listing);
  r.run.saved.reset();
  r.run.saved.open_row(r.run.listing);
  EXPECT_EQ(r.run.saved.NMOD, 1);
}

TEST(EstimatesFileRecords, WriteThenReadBack) {
  EstimatesFile f;
  std::vector<double> one = {0.25, 0.5, 0.75};
  std::vector<double> two = {1.0 / 3.0, -0.0, 1e-300};
  f.write(1, one);
  f.write(2, two);
  std::vector<double> back(3);
  ASSERT_TRUE(f.read(2, back));
  EXPECT_EQ(back, two);
  ASSERT_TRUE(f.read(1, back));
  EXPECT_EQ(back, one);
}

TEST(EstimatesFileRecords, RecordsNeverWrittenFailToRead) {
  EstimatesFile f;
  std::vector<double> back(2);
  EXPECT_FALSE(f.read(1, back));
  f.write(3, std::vector<double>{1.0, 2.0});
  EXPECT_FALSE(f.read(2, back));  // a gap below a written record
  EXPECT_FALSE(f.read(0, back));
  std::vector<double> longer(3);
  EXPECT_FALSE(f.read(3, longer));  // more values asked than the record holds
  f.recreate();
  EXPECT_FALSE(f.read(3, back));  // a new file holds nothing of the old sequence
}

// The one rule by which the model file's reader accepts a record and its
// writer writes one.
TEST(ModelFileRecords, ValidRecordsHoldNoPositiveLogLikelihoodNorNegativeCount) {
  EXPECT_TRUE(valid_model_record(0.0, 0, 0, 0));
  EXPECT_TRUE(valid_model_record(-61.6, 9, 20, 20));
  EXPECT_FALSE(valid_model_record(81409.6, 10, 19, 19));
  EXPECT_FALSE(valid_model_record(std::nan(""), 10, 19, 19));
  EXPECT_FALSE(valid_model_record(-1.0, -2, 1, 1));
  EXPECT_FALSE(valid_model_record(-1.0, 1, -1, 1));
  EXPECT_FALSE(valid_model_record(-1.0, 1, 1, -1));
}

}  // namespace
}  // namespace quorvale
