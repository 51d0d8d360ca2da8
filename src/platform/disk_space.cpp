#include "platform/disk_space.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>

namespace qv {

namespace {
// The free space tests give every folder; negative for the real one.
std::atomic<int64_t> givenFree{-1};
}  // namespace

bool FreeBytes(const std::string& folder, uint64_t& bytes) {
  bytes = 0;
  if (const int64_t given = givenFree.load(); given >= 0) {
    bytes = static_cast<uint64_t>(given);
    return true;
  }
  if (folder.empty() || folder.find('\0') != std::string::npos) return false;
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return false;
  // Blocks "available" are those an ordinary user may take; root may dip
  // into the reserve, but a run should not count on it.
  bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

ScopedFreeSpace::ScopedFreeSpace(uint64_t bytes) {
  givenFree = static_cast<int64_t>(std::min<uint64_t>(bytes, INT64_MAX));
}

ScopedFreeSpace::~ScopedFreeSpace() { givenFree = -1; }

}  // namespace qv
