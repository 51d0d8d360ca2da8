// TIFF reading: uncompressed "II" files with their samples interleaved in
// contiguous strips, such as the files the program writes itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qv {

struct TiffHeader {
  int32_t width = 0;
  int32_t height = 0;
  int32_t offset = 0;  // 0-based offset of the first strip
  int16_t samples = 0;
  int16_t bits = 0;
};

// True when the file is a TIFF the program can read; `out` is then filled.
// On false `out` is left as it was.
bool ReadTiffHeader(const std::string& path, TiffHeader& out);
// The same over the file's bytes in memory.
bool ParseTiffHeader(std::span<const uint8_t> bytes, TiffHeader& out);
// Why ReadTiffHeader refuses the file, in words for the user (a compressed
// file, another byte order, a truncated header); empty when it reads it.
std::string TiffHeaderProblem(const std::string& path);

// Reads the w x h pixels of `samples` samples of `bits` bits that start at the
// 1-based position `dataPos`, and reorders them into the data-unit layout of
// a FITS file: big-endian values of bits / 8 bytes, x fastest, then y, then
// the plane; one plane when samples < 3, else three (a fourth sample is
// dropped). Only 8 and 16 bits are readable. Raises a run-time error when
// the bits are not readable, the data would start inside the file header
// or the file holds fewer bytes than the pixels need; `out` is then
// unchanged.
//
// Each strip is read from its own offset, so strips need not follow each
// other, and files that store each sample in its own planes are read plane
// by plane. A layout this reader cannot follow throws TiffUnsupported.
void ReadTiffSamples(const std::string& path, int32_t dataPos, int bits, int samples, int w, int h,
                     std::vector<uint8_t>& out);
// The same over the file's bytes in memory.
void ReadTiffSamples(std::span<const uint8_t> bytes, int32_t dataPos, int bits, int samples, int w, int h,
                     std::vector<uint8_t>& out);

// A TIFF whose pixels this reader cannot place, with the reason in words.
struct TiffUnsupported {
  std::string why;
};

}  // namespace qv
