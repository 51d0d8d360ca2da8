#include "io/scratch_writer.h"

#include <cstring>

#include "io/file.h"

namespace qv {

void ScratchWriter::Start(const std::string& path, const std::vector<std::span<const uint8_t>>& parts) {
  Await();
  // Each part's copy, and where it starts: a part seen before shares it.
  std::vector<size_t> copyOf(parts.size()), at(parts.size());
  size_t total = 0;
  for (size_t k = 0; k < parts.size(); ++k) {
    size_t same = 0;
    while (same < k && !(parts[same].data() == parts[k].data() && parts[same].size() == parts[k].size())) ++same;
    copyOf[k] = same;
    at[k] = same < k ? at[same] : total;
    if (same == k) total += parts[k].size();
  }
  // Left uninitialised: every byte is copied over at once, and clearing a
  // fresh buffer would touch its pages twice.
  if (total > capacity_) {
    bytes_.reset();
    capacity_ = 0;
    bytes_ = std::make_unique_for_overwrite<uint8_t[]>(total);
    capacity_ = total;
  }
  parts_.clear();
  for (size_t k = 0; k < parts.size(); ++k) {
    if (copyOf[k] == k && !parts[k].empty()) std::memcpy(bytes_.get() + at[k], parts[k].data(), parts[k].size());
    parts_.emplace_back(bytes_.get() + at[k], parts[k].size());
  }
  path_ = path;
  pending_ = true;
  outcome_ = Outcome::Success();
  thread_.Start([this] { outcome_ = WriteScratchFile(path_, parts_); });
}

Outcome ScratchWriter::Await() {
  thread_.Await();
  if (!pending_) return Outcome::Success();
  pending_ = false;
  return std::move(outcome_);
}

}  // namespace qv
