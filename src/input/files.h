#pragma once
// The identity of a file (device and inode), so that two names of one file
// are recognised as the same file.

#include <optional>
#include <string>

namespace quorvale {

/// Device and inode of a regular file.
struct FileId {
  unsigned long long dev = 0;
  unsigned long long ino = 0;
  bool operator==(const FileId&) const = default;
};

/// The identity of the regular file `name` names; none when there is no such
/// file, or when it is not a regular file (a terminal, /dev/null, a pipe).
std::optional<FileId> file_id(const std::string& name);

/// The identity of the regular file open as descriptor `fd`; none otherwise.
std::optional<FileId> descriptor_id(int fd);

/// Whether two names lead to one file: by device and inode when both exist,
/// else by their paths with every link of the folders that exist resolved
/// (so `out/../a.json` and `a.json` are one file before either is written).
bool same_file(const std::string& a, const std::string& b);

}  // namespace quorvale
