#include "base/atomic_file.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quorvale {

namespace {

/// Removes a temporary file unless it has been renamed into place.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove(path_, ec);
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  /// The file is in place under its final name: nothing to remove.
  void release() { path_.clear(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Creates a new file next to `file` under a name no other file has; null when none can be made.
/// The names need not be hard to guess, only unlikely to be taken, so they
/// are drawn from the process id and the clock: opening a random_device for
/// each file cost about a tenth of writing a small one.
std::FILE* create_temporary(const std::string& file, std::string& path) {
  const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::minstd_rand draw(static_cast<std::uint_fast32_t>(ticks ^ (ticks >> 32) ^ (static_cast<std::uint64_t>(::getpid()) << 16)));
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(draw()));
    path = file + suffix;
    // "x": the open fails rather than overwrite a file that already has this name.
    if (std::FILE* f = std::fopen(path.c_str(), "wx")) return f;
  }
  path.clear();
  return nullptr;
}

}  // namespace

bool replace_file(const std::string& path, const std::string& contents, Durability durability) {
  return replace_file(path, [&contents](const TextSink& sink) { sink(contents); }, durability);
}

bool replace_file(const std::string& path, const std::function<void(const TextSink&)>& write, Durability durability) {
  namespace fs = std::filesystem;
  std::string temp_path;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(create_temporary(path, temp_path), std::fclose);
  if (!file) return false;
  TempFile temp(temp_path);
  bool written = true;
  write([&](std::string_view piece) {
    written = written && std::fwrite(piece.data(), 1, piece.size(), file.get()) == piece.size();
  });
  std::FILE* f = file.release();
  const bool flushed = std::fflush(f) == 0 && (durability == Durability::Unsynced || ::fsync(::fileno(f)) == 0);
  const bool closed = std::fclose(f) == 0;
  if (!written || !flushed || !closed) return false;
  std::error_code ec;
  const fs::file_status old = fs::status(path, ec);
  if (!ec && fs::is_regular_file(old)) fs::permissions(temp.path(), old.permissions(), ec);
  fs::rename(temp.path(), path, ec);
  if (ec) return false;
  temp.release();
  return true;
}

FileLock::FileLock(const std::string& path) {
  fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    ::close(fd_);
    fd_ = -1;
    return;
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace quorvale
