#include "base/atomic_file.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <system_error>
#include <vector>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
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

/// Where writing `path` really goes: the end of its chain of symbolic links.
struct Target {
  std::string path;     ///< the file the chain ends at (may not exist yet)
  bool direct = false;  ///< write into it as it is: a device, a FIFO or a descriptor of this process
};

/// Follows the symbolic links from `path`, each relative to the folder of
/// the link; a hop into /proc or /dev/fd names an open descriptor, which is
/// written through as named, never replaced. Gives up after 40 hops (a loop).
std::optional<Target> resolve(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path at(path);
  Target target;
  for (int hop = 0; hop <= 40; ++hop) {
    const std::string text = at.string();
    if (text.rfind("/proc/", 0) == 0 || text.rfind("/dev/fd/", 0) == 0) {
      // Opened as it is named; its "link" may be a pipe or socket, no path.
      target.path = text;
      target.direct = true;
      return target;
    }
    struct stat st {};
    if (::lstat(text.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target.path = text;
      if (::stat(text.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) target.direct = true;
      return target;
    }
    std::error_code ec;
    const fs::path next = fs::read_symlink(at, ec);
    if (ec) return std::nullopt;
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
  return std::nullopt;
}

/// Blocks the signals that end a run by request (interrupt, termination,
/// hang-up, quit) for its lifetime; one that arrives meanwhile is delivered
/// when they are unblocked.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
    pthread_sigmask(SIG_BLOCK, &held, &old_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_{};
};

/// Writes the text straight into an open descriptor's file, at its end.
bool write_through(const std::string& path, const std::function<void(const TextSink&)>& write) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  bool written = true;
  write([&](std::string_view piece) {
    while (written && !piece.empty()) {
      const ssize_t n = ::write(fd, piece.data(), piece.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        written = false;
        break;
      }
      piece.remove_prefix(static_cast<std::size_t>(n));
    }
  });
  return ::close(fd) == 0 && written;
}

}  // namespace

std::string replace_refusal(const std::string& path) {
  const std::optional<Target> target = resolve(path);
  if (!target) return "is a symbolic link that leads nowhere (a loop)";
  if (target->direct) return {};
  struct stat st {};
  if (::stat(target->path.c_str(), &st) != 0) return {};  // a new file
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISREG(st.st_mode)) return "is a special file";
  // Its owner's write permission counts even for a user the system lets write anyway.
  if ((st.st_mode & S_IWUSR) == 0 || ::access(target->path.c_str(), W_OK) != 0) return "is read-only";
  return {};
}

bool replace_file(const std::string& path, const std::string& contents, Durability durability) {
  return replace_file(path, [&contents](const TextSink& sink) { sink(contents); }, durability);
}

std::string write_refusal(const std::string& path) {
  std::string reason = replace_refusal(path);
  if (!reason.empty()) return reason;
  const std::optional<Target> target = resolve(path);
  if (!target || target->direct) return {};
  std::filesystem::path folder = std::filesystem::path(target->path).parent_path();
  if (folder.empty()) folder = ".";
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return "is in the folder " + folder.string() + ", which does not exist";
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return "is in the folder " + folder.string() + ", which is not writable";
  return {};
}

bool replace_file(const std::string& path, const std::function<void(const TextSink&)>& write, Durability durability) {
  const FileText file{path, write};
  return replace_files(std::span<const FileText>(&file, 1), durability) == 1;
}

std::size_t replace_files(std::span<const FileText> files, Durability durability) {
  namespace fs = std::filesystem;
  struct Staged {
    Target target;
    std::unique_ptr<TempFile> temp;  // none for a file written through
  };
  std::vector<Staged> staged;
  for (const FileText& f : files) {
    if (!replace_refusal(f.path).empty()) return staged.size();
    std::optional<Target> target = resolve(f.path);
    if (!target) return staged.size();
    staged.push_back(Staged{std::move(*target), nullptr});
  }
  const SignalsHeld held;
  // Every temporary file is written before any file is touched.
  for (std::size_t i = 0; i < files.size(); ++i) {
    Staged& s = staged[i];
    if (s.target.direct) continue;
    std::string temp_path;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(create_temporary(s.target.path, temp_path), std::fclose);
    if (!file) return i;
    s.temp = std::make_unique<TempFile>(temp_path);
    bool written = true;
    files[i].write([&](std::string_view piece) {
      written = written && std::fwrite(piece.data(), 1, piece.size(), file.get()) == piece.size();
    });
    std::FILE* f = file.release();
    const bool flushed = std::fflush(f) == 0 && (durability == Durability::Unsynced || ::fsync(::fileno(f)) == 0);
    const bool closed = std::fclose(f) == 0;
    if (!written || !flushed || !closed) return i;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (staged[i].target.direct && !write_through(staged[i].target.path, files[i].write)) return i;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    Staged& s = staged[i];
    if (!s.temp) continue;
    std::error_code ec;
    const fs::file_status old = fs::status(s.target.path, ec);
    if (!ec && fs::is_regular_file(old)) fs::permissions(s.temp->path(), old.permissions(), ec);
    fs::rename(s.temp->path(), s.target.path, ec);
    if (ec) return i;
    s.temp->release();
  }
  return files.size();
}

FileLock::FileLock(const std::string& path) : lock_file_(path + ".lock") {
  fd_ = ::open(lock_file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  // flock needs no write permission: a lock file this user may only read is locked through a reading descriptor.
  if (fd_ < 0 && errno == EACCES) fd_ = ::open(lock_file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat st {};
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
  }
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
