#include "io/file.h"

#include <unistd.h>

#include <algorithm>
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

Outcome WriteFileReplacing(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts) {
  if (Trim(path).empty()) return Outcome::FromNumber(kErrBadFileName);
  std::random_device rd;
  const std::string temp = path + ".part" + std::to_string(rd() % 1000000);
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return Outcome::FromNumber(errno == ENOSPC ? kErrDiskFull : kErrPathAccess);
  int err = 0;
  for (const auto* part : parts)
    if (!err && !part->empty() && std::fwrite(part->data(), 1, part->size(), f) != part->size())
      err = errno == ENOSPC ? kErrDiskFull : kErrPathAccess;
  if (std::fflush(f) != 0 && !err) err = errno == ENOSPC ? kErrDiskFull : kErrPathAccess;
  if (std::fclose(f) != 0 && !err) err = kErrDiskFull;
  if (!err && std::rename(temp.c_str(), path.c_str()) != 0) err = kErrPathAccess;
  if (err) ::unlink(temp.c_str());
  return Outcome::FromNumber(err);
}

}  // namespace qv
