// A scratch file written on a thread of its own while the caller goes on
// with the next piece of work. The bytes are copied first, so the caller
// may change its own at once; one buffer is kept and reused, so a night of
// frames of one size allocates it once.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/aside.h"
#include "core/outcome.h"

namespace qv {

class ScratchWriter {
 public:
  ScratchWriter() = default;
  ScratchWriter(const ScratchWriter&) = delete;
  ScratchWriter& operator=(const ScratchWriter&) = delete;
  // Waits for the write under way: its file is whole or gone.
  ~ScratchWriter() { Await(); }

  // Copies `parts` and starts writing them, one after the other, to `path`
  // (a part given twice, the same bytes at the same place, is copied once)
  // (as WriteScratchFile does: a file that cannot be written whole is
  // removed). A write under way is waited for first; its outcome is kept
  // for Await only if nobody has taken it, so callers take it before.
  // Throws std::bad_alloc when the copy finds no memory; then nothing is
  // written.
  void Start(const std::string& path, const std::vector<std::span<const uint8_t>>& parts);
  // Whether a write was started and its outcome not taken yet.
  bool Pending() const { return pending_; }
  // Waits for the write under way and gives its outcome, once; success
  // when there is none.
  Outcome Await();

 private:
  AsideThread thread_;
  std::unique_ptr<uint8_t[]> bytes_;
  size_t capacity_ = 0;
  std::vector<std::span<const uint8_t>> parts_;  // within bytes_
  std::string path_;
  Outcome outcome_;
  bool pending_ = false;
};

}  // namespace qv
