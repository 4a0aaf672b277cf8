#include "input/files.h"

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace quorvale {

namespace {

std::optional<FileId> regular(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  return FileId{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

}  // namespace

std::optional<FileId> file_id(const std::string& name) {
  struct stat st {};
  if (name.empty() || ::stat(name.c_str(), &st) != 0) return std::nullopt;
  return regular(st);
}

std::optional<FileId> descriptor_id(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return regular(st);
}

bool same_file(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa {};
  struct stat sb {};
  const bool a_exists = ::stat(a.c_str(), &sa) == 0;
  const bool b_exists = ::stat(b.c_str(), &sb) == 0;
  if (a_exists && b_exists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (a_exists != b_exists) return false;
  std::error_code ea;
  std::error_code eb;
  const std::filesystem::path pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
  const std::filesystem::path pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
  return !ea && !eb && pa == pb;
}

}  // namespace quorvale
