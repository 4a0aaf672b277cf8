#include "base/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quorvale {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A text handed on in pieces replaces the old file whole; a writer that
// fails part-way leaves the old file as it was and no temporary file behind.
TEST(ReplaceFile, PiecesInOrderAndNothingLeftByAFailedWriter) {
  const fs::path dir = fs::temp_directory_path() / "quorvale_replace_file_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path file = dir / "out.txt";
  ASSERT_TRUE(replace_file(file.string(), std::string("old text\n"), Durability::Unsynced));

  const auto pieces = [](const TextSink& sink) {
    sink("first,");
    sink("");
    sink(std::string(70000, 'x'));
    sink(",last\n");
  };
  ASSERT_TRUE(replace_file(file.string(), pieces, Durability::Unsynced));
  EXPECT_EQ(contents(file), "first," + std::string(70000, 'x') + ",last\n");

  const auto failing = [](const TextSink& sink) {
    sink("part of a text");
    throw std::runtime_error("no more");
  };
  EXPECT_THROW(replace_file(file.string(), failing, Durability::Unsynced), std::runtime_error);
  EXPECT_EQ(contents(file), "first," + std::string(70000, 'x') + ",last\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvale
