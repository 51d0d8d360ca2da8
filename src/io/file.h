// Binary file access with run-time errors instead of status codes, closed
// on every path out of the routine that opened it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "core/outcome.h"

namespace qv {

// Random-access bytes a parser reads: a file, or bytes already in memory,
// with the same run-time errors either way, so one parser serves both.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual int64_t Length() = 0;
  // Reads up to n bytes at the 0-based offset; returns the count read. A
  // negative offset is a bad file name error, as a failed seek is.
  virtual size_t ReadAt(int64_t offset, void* dst, size_t n) = 0;
  // Reads exactly n bytes at the offset: a short read is a run-time error.
  void ReadExactly(int64_t offset, void* dst, size_t n);
};

// Bytes in memory, not owned: they must outlive the source.
class MemoryBytes final : public ByteSource {
 public:
  explicit MemoryBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  int64_t Length() override { return static_cast<int64_t>(bytes_.size()); }
  size_t ReadAt(int64_t offset, void* dst, size_t n) override;

 private:
  std::span<const uint8_t> bytes_;
};

// The one place files are opened, sized and read.
class BinaryFile final : public ByteSource {
 public:
  BinaryFile() = default;
  ~BinaryFile() { Close(); }
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;

  // Opens for reading; a missing or unreadable file is a run-time error, and
  // so is anything but a regular file (a pipe would never answer).
  void OpenRead(const std::string& path);
  void Close();
  bool IsOpen() const { return f_ != nullptr; }
  int64_t Length() override;
  size_t ReadAt(int64_t offset, void* dst, size_t n) override;

 private:
  std::FILE* f_ = nullptr;
};

// Writes a whole file so that an existing file of that name is replaced only
// once the new content is complete: the bytes go to a fresh file beside it
// (NAME.partNNNNNN), which then takes the name. On any failure, a full disk
// midway included, the old file is left as it was and the fresh one is
// removed. Parts left by an earlier save to the same name that was killed are
// removed first. Fails with the run-time error met.
Outcome WriteFileReplacing(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts);

// The same, for a file that must never replace another: when a file of that
// name exists, or appears while the bytes are written, nothing is replaced
// and the save fails with kErrFileAlreadyExists.
Outcome WriteFileNew(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts);

// Writes a scratch file of the program's own (a temporary stacking file)
// in place: created, or emptied when it exists, then the parts in order. A
// file that cannot be written whole is removed, so that its reader finds no
// file rather than a short one. Fails with the run-time error met; the
// test budget below fills it as a full disk would.
Outcome WriteScratchFile(const std::string& path, const std::vector<std::span<const uint8_t>>& parts);

// For tests: a disk that fills. While one is alive, the files written here
// may take `bytes` more bytes in all; the write that would go beyond writes
// what fits and then fails with `error`. With 0 bytes the fresh file cannot
// even be created, as in a read-only or missing folder.
class ScopedWriteBudget {
 public:
  explicit ScopedWriteBudget(int64_t bytes, int error = kErrDiskFull);
  ~ScopedWriteBudget();
  ScopedWriteBudget(const ScopedWriteBudget&) = delete;
  ScopedWriteBudget& operator=(const ScopedWriteBudget&) = delete;
};

}  // namespace qv
