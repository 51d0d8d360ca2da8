// Storage for picture-sized buffers. Mapping fresh memory page by page costs
// far more than filling it, so a large buffer asks the system for huge pages
// (2 MiB each) where it offers them on request; a small one is an ordinary
// allocation.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace qv {

inline void* AllocateBig(size_t bytes) {
  constexpr size_t kHuge = size_t{2} << 20;
  if (bytes < 2 * kHuge) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
  void* p = std::aligned_alloc(kHuge, rounded);
  if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(p, rounded, MADV_HUGEPAGE);  // a refusal leaves ordinary pages
#endif
  return p;
}

template <class T>
struct BigAllocator {
  using value_type = T;
  BigAllocator() = default;
  template <class U>
  BigAllocator(const BigAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateBig(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) { std::free(p); }
  template <class U>
  bool operator==(const BigAllocator<U>&) const {
    return true;
  }
};

}  // namespace qv
