#include "core/run_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <map>
#include <string_view>
#include <thread>
#include <vector>

#include "core/paths.h"

namespace qv {

namespace {

constexpr std::string_view kStackPrefix = "Quelvista_";
constexpr std::string_view kLockSuffix = ".lock";
constexpr std::string_view kStackSuffix = ".bin";
constexpr std::string_view kLayerSuffix = ".rej";  // as long as kStackSuffix
constexpr std::string_view kStagingPrefix = "quelvista-master-";

bool AllDigits(std::string_view t) {
  return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A process number written by one of our names; 0 when the text is not one.
pid_t PidOf(std::string_view digits) {
  if (!AllDigits(digits) || digits.size() > 10 || digits[0] == '0') return 0;
  long long v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v <= INT_MAX ? static_cast<pid_t>(v) : 0;
}

enum class Kind { None, Lock, StackFile, Staging };

struct Owned {
  Kind kind = Kind::None;
  pid_t pid = 0;
};

// Which of our names `name` is, with the process number it carries.
Owned Classify(std::string_view name) {
  if (name.substr(0, kStagingPrefix.size()) == kStagingPrefix) {
    const pid_t pid = PidOf(name.substr(kStagingPrefix.size()));
    return pid ? Owned{Kind::Staging, pid} : Owned{};
  }
  if (name.substr(0, kStackPrefix.size()) != kStackPrefix) return {};
  std::string_view rest = name.substr(kStackPrefix.size());
  if (rest.size() > kLockSuffix.size() && rest.substr(rest.size() - kLockSuffix.size()) == kLockSuffix) {
    const pid_t pid = PidOf(rest.substr(0, rest.size() - kLockSuffix.size()));
    return pid ? Owned{Kind::Lock, pid} : Owned{};
  }
  // <HEX>_<pid>_<k>.bin, and <HEX>_<pid>_<k>.rej for the layers of a
  // combination with rejection
  const bool stack =
      rest.size() > kStackSuffix.size() && rest.substr(rest.size() - kStackSuffix.size()) == kStackSuffix;
  const bool layer =
      rest.size() > kLayerSuffix.size() && rest.substr(rest.size() - kLayerSuffix.size()) == kLayerSuffix;
  if (!stack && !layer) return {};
  rest.remove_suffix(kStackSuffix.size());
  const size_t first = rest.find('_'), last = rest.rfind('_');
  if (first == std::string_view::npos || first == last || first == 0) return {};
  const std::string_view stamp = rest.substr(0, first), pid = rest.substr(first + 1, last - first - 1),
                         number = rest.substr(last + 1);
  const bool hex =
      std::all_of(stamp.begin(), stamp.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
  if (!hex || !AllDigits(number) || !PidOf(pid)) return {};
  return {Kind::StackFile, PidOf(pid)};
}

std::string LockPath(pid_t pid) {
  return TempFolder() + std::string(kStackPrefix) + std::to_string(pid) + std::string(kLockSuffix);
}

// True when `fd` is still the file the folder names `path`: a sweeper may
// have removed a lock between its opening and its locking.
bool StillNamed(int fd, const std::string& path) {
  struct stat a {
  }, b{};
  return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the staging folder `name` of the temporary folder: its raw frames,
// then the folder if nothing else is left in it. A link of that name is not
// followed: it could lead anywhere.
int RemoveStaging(int tempFd, const std::string& name) {
  const int fd = ::openat(tempFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  int removed = 0;
  if (DIR* dir = ::fdopendir(fd)) {
    std::vector<std::string> frames;
    while (const dirent* e = ::readdir(dir)) {
      const std::string_view n = e->d_name;
      if (n.size() > 4 && n.substr(n.size() - 4) == ".raw" && AllDigits(n.substr(0, n.size() - 4)))
        frames.emplace_back(n);
    }
    for (const std::string& frame : frames) removed += ::unlinkat(::dirfd(dir), frame.c_str(), 0) == 0;
    ::closedir(dir);
  } else {
    ::close(fd);
  }
  removed += ::unlinkat(tempFd, name.c_str(), AT_REMOVEDIR) == 0;
  return removed;
}

// Removes the files of process `pid` listed in `names` (the lock aside).
int RemoveFiles(int tempFd, const std::vector<std::pair<std::string, Kind>>& names) {
  int removed = 0;
  for (const auto& [name, kind] : names) {
    if (kind == Kind::StackFile) {
      struct stat st {};
      if (::fstatat(tempFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        removed += ::unlinkat(tempFd, name.c_str(), 0) == 0;
    } else if (kind == Kind::Staging) {
      removed += RemoveStaging(tempFd, name);
    }
  }
  return removed;
}

// The files of our names in the temporary folder, by process number, and
// whether each process left a lock.
struct Listing {
  std::map<pid_t, std::vector<std::pair<std::string, Kind>>> files;
  std::map<pid_t, bool> locked;
};

Listing List(int tempFd, pid_t only) {
  Listing l;
  const int fd = ::dup(tempFd);
  if (fd < 0) return l;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return l;
  }
  while (const dirent* e = ::readdir(dir)) {
    const Owned o = Classify(e->d_name);
    if (o.kind == Kind::None || (only && o.pid != only)) continue;
    if (o.kind == Kind::Lock)
      l.locked[o.pid] = true;
    else
      l.files[o.pid].emplace_back(e->d_name, o.kind);
  }
  ::closedir(dir);
  return l;
}

int OpenTempFolder() { return ::open(TempFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

struct RunLock {
  int fd = -1;
  std::string path;
  // At a normal end the files are gone already; the lock goes with the run.
  ~RunLock() { Release(); }
  void Release() {
    if (fd < 0) return;
    // Removed while still held, so no sweeper takes a lock whose name has
    // gone to a new run.
    ::unlink(path.c_str());
    ::close(fd);
    fd = -1;
  }
};

RunLock& TheLock() {
  static RunLock lock;
  return lock;
}

}  // namespace

bool HoldRunLock() {
  RunLock& lock = TheLock();
  if (lock.fd >= 0) return true;
  const pid_t self = ::getpid();
  const std::string path = LockPath(self);
  // A sweeper holds a dead run's lock of this number only while it removes
  // that run's files: a few tries are enough.
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path)) {
      lock.fd = fd;
      lock.path = path;
      // This run has made no file yet, so any of its number belong to an
      // ended process that had the same one.
      if (const int temp = OpenTempFolder(); temp >= 0) {
        const Listing l = List(temp, self);
        if (const auto it = l.files.find(self); it != l.files.end()) RemoveFiles(temp, it->second);
        ::close(temp);
      }
      return true;
    }
    ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

std::string RunTempBase(unsigned stamp) {
  HoldRunLock();
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", stamp);
  // The process number keeps two programs started in the same millisecond
  // apart, and ties the files to the run's lock.
  return TempFolder() + std::string(kStackPrefix) + hex + "_" + std::to_string(::getpid()) + "_";
}

std::string MasterStagingFolder() {
  HoldRunLock();
  return TempFolder() + std::string(kStagingPrefix) + std::to_string(::getpid());
}

int SweepOrphanedRunFiles() {
  const int temp = OpenTempFolder();
  if (temp < 0) return 0;
  const pid_t self = ::getpid();
  Listing l = List(temp, 0);
  int removed = 0;
  // Locks left with no file beside them are swept too.
  for (const auto& [pid, locked] : l.locked) l.files[pid];
  for (const auto& [pid, names] : l.files) {
    if (pid == self && TheLock().fd >= 0) continue;
    if (!l.locked.count(pid)) {
      // Files from before runs had a lock: their process tells.
      if (ProcessEnded(pid)) removed += RemoveFiles(temp, names);
      continue;
    }
    const std::string path = LockPath(pid);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // Taking the lock proves its run has ended; a lock renewed meanwhile
    // under the same name belongs to a new run and is left alone.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path)) {
      removed += RemoveFiles(temp, names);
      removed += ::unlink(path.c_str()) == 0;
    }
    ::close(fd);
  }
  ::close(temp);
  return removed;
}

void RemoveOwnRunFiles() {
  const pid_t self = ::getpid();
  if (const int temp = OpenTempFolder(); temp >= 0) {
    const Listing l = List(temp, self);
    if (const auto it = l.files.find(self); it != l.files.end()) RemoveFiles(temp, it->second);
    ::close(temp);
  }
  TheLock().Release();
}

bool ProcessEnded(long pid) {
  if (pid <= 0 || pid > INT_MAX) return false;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace qv
