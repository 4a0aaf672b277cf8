#include "base/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A link keeps being a link and the file it leads to gets the new text; a
// descriptor named through /proc is written at its end, not replaced; a
// device stays a device; a read-only file and a directory are refused and
// left as they were.
TEST(ReplaceFile, LinksDevicesAndFilesNotToBeReplaced) {
  const fs::path dir = fs::temp_directory_path() / "quorvale_replace_kinds_test";
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  const fs::path real = dir / "sub" / "models.txt";
  { std::ofstream(real) << "old\n"; }
  const fs::path link = dir / "link.txt";
  fs::create_symlink("sub/models.txt", link);
  ASSERT_TRUE(replace_file(link.string(), std::string("new\n"), Durability::Synced));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(contents(real), "new\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator()), 1);

  {
    std::ofstream open_file(dir / "open.txt");
    open_file << "listing so far\n" << std::flush;
    struct stat before {};
    ::stat((dir / "open.txt").c_str(), &before);
    const int fd = ::open((dir / "open.txt").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    const std::string through = "/proc/self/fd/" + std::to_string(fd);
    EXPECT_TRUE(replace_file(through, std::string("results\n"), Durability::Unsynced));
    ::close(fd);
    struct stat after {};
    ::stat((dir / "open.txt").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(contents(dir / "open.txt"), "listing so far\nresults\n");
  }

  EXPECT_TRUE(replace_file("/dev/null", std::string("nothing\n"), Durability::Unsynced));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  const fs::path locked = dir / "locked.json";
  { std::ofstream(locked) << "kept\n"; }
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(replace_refusal(locked.string()), "is read-only");
  EXPECT_FALSE(replace_file(locked.string(), std::string("lost\n"), Durability::Unsynced));
  EXPECT_EQ(contents(locked), "kept\n");
  EXPECT_EQ(replace_refusal((dir / "sub").string()), "is a directory");
  EXPECT_FALSE(replace_file((dir / "sub").string(), std::string("x"), Durability::Unsynced));
  EXPECT_TRUE(fs::is_directory(dir / "sub"));
  EXPECT_EQ(replace_refusal((dir / "absent.json").string()), "");
  fs::remove_all(dir);
}

// A set of files is replaced whole or not at all: when one of them cannot be
// written (its folder missing, or its writer failing), the files before it
// keep their old text and no temporary file is left.
TEST(ReplaceFiles, AllOrNone) {
  const fs::path dir = fs::temp_directory_path() / "quorvale_replace_files_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string a = (dir / "a.txt").string();
  const std::string b = (dir / "b.txt").string();
  ASSERT_TRUE(replace_file(a, std::string("old a\n"), Durability::Unsynced));
  ASSERT_TRUE(replace_file(b, std::string("old b\n"), Durability::Unsynced));
  const auto text = [](std::string t) { return [t](const TextSink& sink) { sink(t); }; };

  const std::vector<FileText> missing_folder{{a, text("new a\n")}, {b, text("new b\n")}, {(dir / "no" / "c.txt").string(), text("c\n")}};
  EXPECT_EQ(replace_files(missing_folder, Durability::Unsynced), 2u);
  const std::vector<FileText> failing{{a, text("new a\n")}, {b, [](const TextSink& sink) {
                                         sink("part");
                                         throw std::runtime_error("no more");
                                       }}};
  EXPECT_THROW(replace_files(failing, Durability::Unsynced), std::runtime_error);
  EXPECT_EQ(contents(a), "old a\n");
  EXPECT_EQ(contents(b), "old b\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

  const std::vector<FileText> both{{a, text("new a\n")}, {b, text("new b\n")}};
  EXPECT_EQ(replace_files(both, Durability::Unsynced), 2u);
  EXPECT_EQ(contents(a), "new a\n");
  EXPECT_EQ(contents(b), "new b\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  fs::remove_all(dir);
}

// A lock file the user may only read (another user's) is locked all the
// same: a second descriptor of it cannot take the lock meanwhile. A lock
// "file" that is a folder is not held, and is named.
TEST(FileLock, ReadOnlyLockFileLockedFolderNot) {
  const fs::path dir = fs::temp_directory_path() / "quorvale_file_lock_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                           fs::perms::others_exec);
  const std::string model = (dir / "models.txt").string();
  { std::ofstream(model + ".lock") << ""; }
  fs::permissions(model + ".lock", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another user's file: as the superuser, become an ordinary user first.
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(4);
    const FileLock lock(model);
    if (!lock.held()) ::_exit(2);
    const int other = ::open((model + ".lock").c_str(), O_RDONLY);
    if (other < 0 || ::flock(other, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) ::_exit(3);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 4) GTEST_SKIP() << "cannot become another user";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: not held, 3: not locked";

  const std::string other = (dir / "other.txt").string();
  fs::create_directory(other + ".lock");
  const FileLock folder(other);
  EXPECT_FALSE(folder.held());
  EXPECT_EQ(folder.lock_file(), other + ".lock");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvale
