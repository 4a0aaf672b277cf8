#pragma once
// Replacing a file as a whole: the new contents go to a temporary file in
// the same folder, are flushed to disk, and the temporary file is renamed
// over the old one, so a reader (or a crash) sees the old file or the
// complete new one, never a part.

#include <functional>
#include <span>
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

/// Why `path` cannot be written at all, as the end of a sentence: what
/// replace_refusal says, or that the folder it would be made in does not
/// exist or is not writable; empty when it can be.
std::string write_refusal(const std::string& path);

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

/// One file of a set replaced together: its name and the writer of its text.
struct FileText {
  std::string path;
  std::function<void(const TextSink&)> write;
};

/// Replaces every file of `files` or none: each text goes to its own
/// temporary file first, and only when all are written are they renamed
/// into place (a device or FIFO among them is written to then, before the
/// renames). Signals wait as for replace_file. The index of the first file
/// that could not be written (every file then untouched), or files.size()
/// when all were replaced.
std::size_t replace_files(std::span<const FileText> files, Durability durability);

/// An exclusive lock (flock) on the file `path` + ".lock", created when
/// missing and left in place: runs that read, merge and replace the same
/// file take turns. A lock file this user may only read (another user's, in
/// a shared folder) is locked all the same. Released when destroyed (or
/// when the process ends).
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  /// False when the lock could not be taken: the lock file could not be
  /// opened or created, or is not a regular file.
  bool held() const { return fd_ >= 0; }
  /// The lock file's name.
  const std::string& lock_file() const { return lock_file_; }

 private:
  int fd_ = -1;
  std::string lock_file_;
};

}  // namespace quorvale
