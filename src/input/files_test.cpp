#include "input/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace quorvale {
namespace {

TEST(FileIdentity, NamesOfOneFileShareItsIdentity) {
  const std::string dir = ::testing::TempDir();
  const std::string a = dir + "quorvale_id_a.txt";
  const std::string b = dir + "quorvale_id_b.txt";
  const std::string link = dir + "quorvale_id_link.txt";
  std::ofstream(a) << "a\n";
  std::ofstream(b) << "b\n";
  std::remove(link.c_str());
  ASSERT_EQ(::link(a.c_str(), link.c_str()), 0);
  ASSERT_TRUE(file_id(a).has_value());
  EXPECT_EQ(file_id(a), file_id(dir + "./quorvale_id_a.txt"));
  EXPECT_EQ(file_id(a), file_id(link));  // another name, the same file
  EXPECT_NE(file_id(a), file_id(b));
  const int fd = ::open(a.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(descriptor_id(fd), file_id(a));
  ::close(fd);
  // Only regular files have an identity here: writing to a device replaces nothing.
  EXPECT_FALSE(file_id("/dev/null").has_value());
  EXPECT_FALSE(file_id(dir).has_value());
  EXPECT_FALSE(file_id(dir + "quorvale_id_missing.txt").has_value());
  EXPECT_FALSE(file_id("").has_value());
  for (const std::string& name : {a, b, link}) std::remove(name.c_str());
}

// Names of files not yet written are one file when their folders resolve
// to one folder (a link to a folder, a "..") and the last names agree.
TEST(FileIdentity, SameFileBeforeEitherExists) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / "quorvale_same_file";
  fs::remove_all(dir);
  fs::create_directories(dir / "tab");
  fs::create_directory_symlink("tab", dir / "tables");
  EXPECT_TRUE(same_file((dir / "tab" / "models.csv").string(), (dir / "tables" / "models.csv").string()));
  EXPECT_TRUE(same_file((dir / "tab" / ".." / "a.json").string(), (dir / "a.json").string()));
  EXPECT_FALSE(same_file((dir / "tab" / "a.json").string(), (dir / "a.json").string()));
  std::ofstream(dir / "a.json") << "{}\n";
  EXPECT_FALSE(same_file((dir / "a.json").string(), (dir / "tab" / "a.json").string()));
  EXPECT_TRUE(same_file((dir / "tables" / ".." / "a.json").string(), (dir / "a.json").string()));
  EXPECT_FALSE(same_file("", (dir / "a.json").string()));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvale
