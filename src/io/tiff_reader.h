// TIFF header parsing: uncompressed "II" files.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct TiffHeader {
  int32_t width = 0;
  int32_t height = 0;
  int32_t offset = 0;  // 0-based offset of the first strip
  int16_t samples = 0;
  int16_t bits = 0;
};

// True when the file is a TIFF the program can read; `out` is then filled.
bool ReadTiffHeader(const std::string& path, TiffHeader& out);

}  // namespace qv
