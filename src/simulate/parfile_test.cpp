#include "simulate/parfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace quorvale {
namespace {

std::string contents(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SimulationFile, ReopeningRewritesFromTheStart) {
  const std::string name = ::testing::TempDir() + "quorvale_simfile_test.out";
  SimulationFile f;
  EXPECT_FALSE(f.write("no file\n"));
  EXPECT_TRUE(f.close());  // nothing open
  ASSERT_TRUE(f.open(name));
  EXPECT_TRUE(f.write("first run, a long record\n"));
  ASSERT_TRUE(f.open(name));  // closes the first file and starts over
  EXPECT_TRUE(f.write("second\n"));
  EXPECT_TRUE(f.close());
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(contents(name), "second\n");
  std::remove(name.c_str());
}

TEST(SimulationFile, FailuresAreReported) {
  SimulationFile f;
  EXPECT_FALSE(f.open(::testing::TempDir() + "no_such_directory/x.out"));
  EXPECT_FALSE(f.is_open());
  // A device that accepts no data: the records are lost when they are flushed.
  std::ifstream probe("/dev/full");
  if (!probe.is_open()) GTEST_SKIP() << "no /dev/full";
  ASSERT_TRUE(f.open("/dev/full"));
  EXPECT_EQ(f.name(), "/dev/full");
  // Each write reaches the device at once, so a short record already fails;
  // the file is then given up.
  EXPECT_FALSE(f.write("lost\n"));
  EXPECT_FALSE(f.is_open());
  EXPECT_TRUE(f.close());
}

}  // namespace
}  // namespace quorvale
