// Shared by the tests that run the tool on files built to claim huge
// pictures.
#pragma once

#include <string>

namespace qvtest {

// The shell prefix that caps the address space of a command at `kib` KiB,
// for a tool run that must refuse a huge file before it allocates. The
// sanitizer build gives none: its shadow memory alone needs terabytes of
// addresses, so under a cap the tool could not even start.
inline std::string AddressSpaceCap(long kib) {
#if defined(QUELVISTA_SANITIZE) || defined(__SANITIZE_ADDRESS__)
  static_cast<void>(kib);
  return "";
#else
  return "ulimit -v " + std::to_string(kib) + "; ";
#endif
}

}  // namespace qvtest
