// Header reading of every image kind, and the decoding of FITS data values.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/image_entry.h"
#include "core/numeric.h"
#include "core/plane.h"
#include "platform/platform.h"

namespace qv {

bool IsFitsKind(const std::string& kind);

// How a header read ended; the program itself only looks at the header
// fields, the command-line tool reports this in words.
// NotRegularFile: a pipe, a device or the like, never opened.
enum class HeaderResult { Ok, AlreadyRead, Missing, Unreadable, Truncated, NoEndCard, Empty, NotRegularFile };

// Fills the header fields of `e` from the file at `path` without reading
// any pixel; the kind of file comes from the name's extension. A raster
// picture is decoded by `loader` into `pixels` only to learn its size:
// `pixels` holds a single element afterwards, whether it decoded or not.
// A path that names no file is Missing and changes nothing.
HeaderResult ReadHeader(const std::string& path, ImageEntry& e, PictureLoader* loader, Plane<int32_t>& pixels);

// The FITS header in `bytes` (a whole file or its beginning), card by card
// up to END, into the header fields of `e`: the same fields and result as
// ReadHeader gives for a file of these bytes.
HeaderResult ParseFitsHeader(std::span<const uint8_t> bytes, ImageEntry& e);

// Bytes per stored value for a BITPIX, 0 for an unknown BITPIX.
int BytesPerValue(int bitpix);

// One big-endian data value converted to the working scale.
inline int32_t DecodeFits8(const uint8_t* p) { return p[0] * 8; }
inline int32_t DecodeFits16(const uint8_t* p, int32_t bzero) {
  // The sum is a 32-bit integer: a BZERO close to its limit overflows it,
  // which is a run-time error, not a wrapped value.
  int64_t v = p[0] * 256 + p[1];
  if (bzero > 0) {
    v += bzero;
    if (v > INT32_MAX) Raise(kErrOverflow);
    if (v > 65535) v -= 65536;
  }
  return static_cast<int32_t>(v);
}
inline int32_t DecodeFits32(const uint8_t* p) {
  const uint32_t u = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  const int32_t v = static_cast<int32_t>(u);
  return v > 65535 ? 65535 : v;
}
int32_t DecodeFitsFloat(const uint8_t* p);
int32_t DecodeFitsDouble(const uint8_t* p);

// Decodes the values of one row: `count` values starting at `row`, taking
// every `step`-th value, into `out`.
void DecodeRow(const uint8_t* row, int bitpix, int32_t bzero, int step, int count, int32_t* out);

}  // namespace qv
