// What memory costs to touch after it has lain free for a while: a block
// the size of a run's sum planes is filled, given back, left free for a
// given time, then taken and filled again. On a laptop the second filling
// costs the same whatever the wait. On a virtual machine whose memory
// balloon reports free memory to its host, memory left free for a second
// or two is taken back by the host and costs many times more to touch
// again: a run that waits between frames, as the window's does, then pays
// for its last allocations what a run without waits does not.
//
// usage: quelvista_bench_idle_memory [MiB]   (75 by default)
#include <sys/mman.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <thread>

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A block of fresh memory in large pages, as the planes are, filled.
void* Filled(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    std::perror("mmap");
    std::exit(1);
  }
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);
#endif
  std::memset(p, 1, bytes);
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 75;
  if (mib < 1 || mib > 4096) {
    std::fprintf(stderr, "usage : quelvista_bench_idle_memory [Mio, 1 à 4096]\n");
    return 2;
  }
  const size_t bytes = static_cast<size_t>(mib) << 20;
  std::printf("%ld Mio remplis, rendus, laissés libres, puis repris et remplis (CPU de la reprise) :\n", mib);
  for (int round = 0; round < 2; ++round)
    for (double wait : {0.0, 0.5, 1.0, 2.0, 3.0, 5.0}) {
      munmap(Filled(bytes), bytes);
      std::this_thread::sleep_for(std::chrono::duration<double>(wait));
      const double start = CpuSeconds();
      void* p = Filled(bytes);
      const double cpu = CpuSeconds() - start;
      munmap(p, bytes);
      std::printf("  libre %.1f s : %.3f s\n", wait, cpu);
    }
  return 0;
}
