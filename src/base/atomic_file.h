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

/// Replaces (or creates) `path` with `contents`, keeping the old file's
/// permissions; false when anything failed, the old file then untouched.
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
