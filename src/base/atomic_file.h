#pragma once
// Replacing a file as a whole: the new contents go to a temporary file in
// the same folder, are flushed to disk, and the temporary file is renamed
// over the old one, so a reader (or a crash) sees the old file or the
// complete new one, never a part.

#include <functional>
#include <string>
#include <string_view>

namespace quorvale {

/// Whether the new contents must reach the disk before the rename.
enum class Durability {
  Synced,    ///< fsync first: the file survives a power loss (stored data such as the model file)
  Unsynced,  ///< no fsync: the rename alone keeps readers from a part (output a run can write again)
};

/// Receives a file's text piece by piece, in order.
using TextSink = std::function<void(std::string_view)>;

/// Why `path` cannot be written by replace_file, as the end of a sentence
/// ("is a directory", "is read-only", ...); empty when it can. A symbolic
/// link is judged by the file it leads to.
std::string replace_refusal(const std::string& path);

/// Replaces (or creates) `path` with `contents`, keeping the old file's
/// permissions; false when anything failed, the old file then untouched.
/// A symbolic link keeps being a link: the file it leads to is replaced, in
/// that file's folder. A character device or a FIFO (and a link through
/// /proc or /dev/fd, such as /dev/stdout) is written to as it is, at its
/// end, never replaced. A file replace_refusal refuses is left alone (false).
/// Interrupt and termination signals wait until the temporary file is
/// renamed or removed, so none is left behind by them.
bool replace_file(const std::string& path, const std::string& contents, Durability durability);

/// The same with the text `write` hands to the sink it is given, so that a
/// long text need not be held whole: pieces written as they come.
bool replace_file(const std::string& path, const std::function<void(const TextSink&)>& write, Durability durability);

/// An exclusive lock (flock) on the file `path` + ".lock", created when
/// missing and left in place: runs that read, merge and replace the same
/// file take turns. Released when destroyed (or when the process ends).
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  /// False when the lock file could not be opened (its folder missing or not writable).
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace quorvale
