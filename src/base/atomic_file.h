#pragma once
// Replacing a file as a whole: the new contents go to a temporary file in
// the same folder, are flushed to disk, and the temporary file is renamed
// over the old one, so a reader (or a crash) sees the old file or the
// complete new one, never a part.

#include <string>

namespace quorvale {

/// Whether the new contents must reach the disk before the rename.
enum class Durability {
  Synced,    ///< fsync first: the file survives a power loss (stored data such as the model file)
  Unsynced,  ///< no fsync: the rename alone keeps readers from a part (output a run can write again)
};

/// Replaces (or creates) `path` with `contents`, keeping the old file's
/// permissions; false when anything failed, the old file then untouched.
bool replace_file(const std::string& path, const std::string& contents, Durability durability);

}  // namespace quorvale
