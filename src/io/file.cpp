#include "io/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "core/numeric.h"
#include "core/paths.h"

namespace qv {

void BinaryFile::OpenRead(const std::string& path) {
  Close();
  OpenFailure why = OpenFailure::None;
  f_ = OpenRegularFile(path, why);
  if (why == OpenFailure::NotRegular) throw RuntimeError(kErrPathAccess, kNotRegularFile);
  if (!f_) Raise(why == OpenFailure::Missing ? kErrFileNotFound : kErrPathAccess);
}

void BinaryFile::Close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
}

int64_t BinaryFile::Length() {
  if (!f_ || std::fseek(f_, 0, SEEK_END) != 0) Raise(kErrBadFileName);
  const long n = std::ftell(f_);
  if (n < 0) Raise(kErrBadFileName);
  return n;
}

size_t BinaryFile::ReadAt(int64_t offset, void* dst, size_t n) {
  if (!f_ || offset < 0 || std::fseek(f_, offset, SEEK_SET) != 0) Raise(kErrBadFileName);
  return std::fread(dst, 1, n, f_);
}

size_t MemoryBytes::ReadAt(int64_t offset, void* dst, size_t n) {
  if (offset < 0) Raise(kErrBadFileName);
  if (static_cast<uint64_t>(offset) >= bytes_.size()) return 0;
  const size_t count = std::min(n, bytes_.size() - static_cast<size_t>(offset));
  if (count > 0) std::memcpy(dst, bytes_.data() + offset, count);
  return count;
}

void ByteSource::ReadExactly(int64_t offset, void* dst, size_t n) {
  if (ReadAt(offset, dst, n) != n) Raise(kErrInputPastEnd);
}

namespace {

// The test budget: bytes the file layer may still write, negative for none.
std::atomic<int64_t> writeBudget{-1};
std::atomic<int> writeBudgetError{kErrDiskFull};

int ErrorOfErrno(int e) { return e == ENOSPC || e == EDQUOT || e == EFBIG ? kErrDiskFull : kErrPathAccess; }

// Writes n bytes whole, retrying short writes; 0 or the run-time error.
// The bytes go in pieces of 256 KiB: one write of a whole 38 MB temporary
// file makes the kernel fill its page cache in large blocks, which on a
// virtual machine took one to five times the system time of the same bytes
// written in small pieces, differing from run to run.
int WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    size_t chunk = std::min<size_t>(n, size_t{1} << 18);
    const int64_t budget = writeBudget.load();
    const bool cut = budget >= 0 && static_cast<uint64_t>(budget) < chunk;
    if (cut) chunk = static_cast<size_t>(budget);
    while (chunk > 0) {
      const ssize_t w = ::write(fd, p, chunk);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return ErrorOfErrno(w < 0 ? errno : ENOSPC);
      p += w;
      n -= static_cast<size_t>(w);
      chunk -= static_cast<size_t>(w);
      if (budget >= 0) writeBudget -= w;
    }
    if (cut) return writeBudgetError.load();
  }
  return 0;
}

bool IsPartName(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
    return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// Removes the parts left beside `path` by saves that did not finish (a
// killed program, a power cut). A save in progress holds a lock on its part,
// so a part whose lock can be taken belongs to no running save.
void RemoveStaleParts(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".part";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (!IsPartName(name, prefix)) continue;
    const std::string part = folder + name;
    const int fd = ::open(part.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(part.c_str());
    ::close(fd);
  }
  ::closedir(dir);
}

// Creates a fresh part beside `path`, locked for as long as it is open, with
// the permissions of the file it replaces where there is one.
int CreatePart(const std::string& path, std::string& part, int& err) {
  if (writeBudget.load() == 0) {
    err = writeBudgetError.load();
    return -1;
  }
  thread_local std::mt19937 pick{std::random_device{}()};
  for (int attempt = 0; attempt < 64; ++attempt) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06u", static_cast<unsigned>(pick() % 1000000));
    part = path + ".part" + digits;
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      err = ErrorOfErrno(errno);
      return -1;
    }
    // Between its creation and this lock another save to the same name may
    // have taken the part for a stale one: it holds the lock and removes the
    // part, or has removed it already. Then another name.
    struct stat mine {
    }, named{};
    const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (taken || (::fstat(fd, &mine) == 0 &&
                  (::lstat(part.c_str(), &named) != 0 || mine.st_dev != named.st_dev || mine.st_ino != named.st_ino))) {
      ::close(fd);
      continue;
    }
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
    return fd;
  }
  err = kErrPathAccess;
  return -1;
}

// Gives the finished part the name without replacing a file that holds it,
// even one created while the part was written.
int LinkNew(const std::string& part, const std::string& path) {
  if (::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == EEXIST) return kErrFileAlreadyExists;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return ErrorOfErrno(errno);
  // A file system without that rename: a hard link refuses an existing name
  // just as well.
  if (::link(part.c_str(), path.c_str()) == 0) {
    ::unlink(part.c_str());
    return 0;
  }
  return errno == EEXIST ? kErrFileAlreadyExists : ErrorOfErrno(errno);
}

Outcome WriteBeside(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts, bool replace) {
  if (Trim(path).empty()) return Outcome::FromNumber(kErrBadFileName);
  RemoveStaleParts(path);
  if (!replace && ::access(path.c_str(), F_OK) == 0)
    return Outcome::Failure("le fichier existe déjà", kErrFileAlreadyExists);
  std::string part;
  int err = 0;
  const int fd = CreatePart(path, part, err);
  if (fd < 0) return Outcome::FromNumber(err);
  for (const auto* bytes : parts)
    if (!err && !bytes->empty()) err = WriteAll(fd, bytes->data(), bytes->size());
  // On disk before it takes the name: after a crash the name holds the old
  // file or the new one, never an empty one.
  if (!err && ::fsync(fd) != 0) err = ErrorOfErrno(errno);
  if (::close(fd) != 0 && !err) err = ErrorOfErrno(errno);
  if (!err) {
    if (replace)
      err = std::rename(part.c_str(), path.c_str()) == 0 ? 0 : ErrorOfErrno(errno);
    else
      err = LinkNew(part, path);
  }
  if (err) ::unlink(part.c_str());
  if (err == kErrFileAlreadyExists) return Outcome::Failure("le fichier existe déjà", err);
  return Outcome::FromNumber(err);
}

}  // namespace

Outcome WriteFileReplacing(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts) {
  return WriteBeside(path, parts, true);
}

Outcome WriteFileNew(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts) {
  return WriteBeside(path, parts, false);
}

Outcome WriteScratchFile(const std::string& path, const std::vector<std::span<const uint8_t>>& parts) {
  if (Trim(path).empty()) return Outcome::FromNumber(kErrBadFileName);
  if (writeBudget.load() == 0) return Outcome::FromNumber(writeBudgetError.load());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Outcome::FromNumber(ErrorOfErrno(errno));
  int err = 0;
  for (const std::span<const uint8_t>& bytes : parts)
    if (!err && !bytes.empty()) err = WriteAll(fd, bytes.data(), bytes.size());
  if (::close(fd) != 0 && !err) err = ErrorOfErrno(errno);
  if (err) ::unlink(path.c_str());
  return Outcome::FromNumber(err);
}

ScopedWriteBudget::ScopedWriteBudget(int64_t bytes, int error) {
  writeBudgetError = error;
  writeBudget = std::max<int64_t>(bytes, 0);
}

ScopedWriteBudget::~ScopedWriteBudget() { writeBudget = -1; }

}  // namespace qv
