// Binary file access with run-time errors instead of status codes, closed
// on every path out of the routine that opened it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qv {

class BinaryFile {
 public:
  BinaryFile() = default;
  ~BinaryFile() { Close(); }
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;

  // Opens for reading; a missing or unreadable file is a run-time error.
  void OpenRead(const std::string& path);
  void Close();
  bool IsOpen() const { return f_ != nullptr; }
  int64_t Length();
  // Reads up to n bytes at the 0-based offset; returns the count read.
  size_t ReadAt(int64_t offset, void* dst, size_t n);
  // Reads exactly n bytes at the offset: a short read is a run-time error.
  void ReadExactly(int64_t offset, void* dst, size_t n);

 private:
  std::FILE* f_ = nullptr;
};

// Writes a whole file so that an existing file of that name is replaced only
// once the new content is complete: the bytes go to a fresh file beside it,
// which then takes the name. Returns 0, or the number of the error met.
int WriteFileReplacing(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts);

}  // namespace qv
