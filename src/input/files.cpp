#include "input/files.h"

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

}  // namespace quorvale
