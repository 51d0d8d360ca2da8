// How much room is left in a folder, for what a long operation is about to
// write there.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// The bytes this user may still write on the file system that holds
// `folder`: its free blocks outside the part kept back for the system, as
// `df` shows them. False when the folder cannot be asked (it is missing, or
// the system refuses).
bool FreeBytes(const std::string& folder, uint64_t& bytes);

// For tests: while one is alive, every folder has `bytes` free, so a run
// can meet a nearly full disk without filling a real one.
class ScopedFreeSpace {
 public:
  explicit ScopedFreeSpace(uint64_t bytes);
  ~ScopedFreeSpace();
  ScopedFreeSpace(const ScopedFreeSpace&) = delete;
  ScopedFreeSpace& operator=(const ScopedFreeSpace&) = delete;
};

}  // namespace qv
