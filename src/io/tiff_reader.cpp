#include "io/tiff_reader.h"

#include <new>

#include "core/numeric.h"
#include "io/file.h"

namespace qv {

namespace {

constexpr size_t kEntrySize = 12;

enum : uint16_t {
  kTypeShort = 3,
  kTypeLong = 4,
};

enum : uint16_t {
  kTagImageWidth = 256,
  kTagImageLength = 257,
  kTagBitsPerSample = 258,
  kTagCompression = 259,
  kTagStripOffsets = 273,
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void Allocate(std::vector<uint8_t>& v, size_t n) {
  try {
    v.assign(n, 0);
  } catch (const std::bad_alloc&) {
    Raise(kErrOutOfMemory);
  } catch (const std::length_error&) {
    Raise(kErrOutOfMemory);
  }
}

// What the directory walk keeps: the last value seen for each tag.
struct Fields {
  int64_t width = 0, height = 0, offset = 0, samples = 0, bits = 0, compression = 0;
};

void ApplyEntry(BinaryFile& f, const uint8_t* entry, Fields& out) {
  const uint16_t tag = Le16(entry);
  const uint16_t type = Le16(entry + 2);
  const uint32_t count = Le32(entry + 4);
  // A LONG, or anything counted more than once, is read as 32 bits (for a
  // count above 1 it is the offset of the values); a single value of any
  // other type sits in the first two bytes, which also covers a lone BYTE.
  const uint32_t value = (type == kTypeLong || count > 1) ? Le32(entry + 8) : Le16(entry + 8);
  switch (tag) {
    case kTagImageWidth: out.width = value; break;
    case kTagImageLength: out.height = value; break;
    case kTagCompression: out.compression = value; break;
    case kTagBitsPerSample:
      // The program takes the number of samples from here rather than from
      // SamplesPerPixel, and the bits of the first sample stand for all.
      out.samples = count;
      if (count == 1) {
        out.bits = value;
      } else if (type == kTypeShort) {
        uint8_t bits[8];
        f.ReadExactly(value, bits, count > 3 ? 8 : 6);
        out.bits = Le16(bits);
      }
      break;
    case kTagStripOffsets:
      if (count == 1) {
        out.offset = value;
      } else {
        uint8_t first[4];
        f.ReadExactly(value, first, 4);
        out.offset = Le32(first);
      }
      break;
    default: break;
  }
}

}  // namespace

bool ReadTiffHeader(const std::string& path, TiffHeader& out) {
  BinaryFile f;
  try {
    f.OpenRead(path);
    const int64_t length = f.Length();
    uint8_t head[8];
    f.ReadExactly(0, head, sizeof head);
    if (head[0] != 'I' || head[1] != 'I' || Le16(head + 2) != 42) return false;

    const int64_t directory = Le32(head + 4);
    uint8_t countBytes[2];
    f.ReadExactly(directory, countBytes, sizeof countBytes);
    const size_t count = Le16(countBytes);
    // The table is read in one piece; it must lie inside the file before it
    // is made.
    const int64_t tableStart = directory + 2;
    if (length - tableStart < static_cast<int64_t>(count * kEntrySize)) Raise(kErrInputPastEnd);
    std::vector<uint8_t> table;
    Allocate(table, count * kEntrySize);
    if (count > 0) f.ReadExactly(tableStart, table.data(), table.size());

    Fields fields;
    for (size_t i = 0; i < count; ++i) ApplyEntry(f, table.data() + i * kEntrySize, fields);
    f.Close();

    if (fields.width <= 0 || fields.height <= 0 || fields.compression != 1 || fields.samples <= 0) return false;
    // Values that do not fit the header fields are overflow errors, which
    // end the read like any other run-time error.
    TiffHeader t;
    t.width = CheckedLong(fields.width);
    t.height = CheckedLong(fields.height);
    t.offset = CheckedLong(fields.offset);
    t.samples = CInt(static_cast<double>(fields.samples));
    t.bits = CInt(static_cast<double>(fields.bits));
    out = t;
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

void ReadTiffSamples(const std::string& path, int32_t dataPos, int bits, int samples, int w, int h,
                     std::vector<uint8_t>& out) {
  if (bits != 8 && bits != 16) Raise(kErrTypeMismatch);
  if (samples < 1 || w < 1 || h < 1) Raise(kErrSubscript);
  const int b = bits / 8;
  const size_t q = static_cast<size_t>(RoundHalfEven(bits / 8.0 * samples));
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  const size_t need = q * pixels;

  const int64_t start = static_cast<int64_t>(dataPos) - 1;
  // No strip can begin inside the 8-byte file header; a start there means
  // the file has no StripOffsets entry (a tiled file, for one), and its
  // pixels are not where this reader looks.
  if (start < 8) Raise(kErrTypeMismatch);
  BinaryFile f;
  f.OpenRead(path);
  const int64_t length = f.Length();
  // Checked before anything is made, so that a header claiming more pixels
  // than the file holds cannot ask for an absurd buffer.
  if (start > length || static_cast<uint64_t>(length - start) < need) Raise(kErrInputPastEnd);
  std::vector<uint8_t> raw;
  Allocate(raw, need);
  f.ReadExactly(start, raw.data(), need);
  f.Close();

  // The sample count fixes both the planes kept here and the planes the
  // caller expects: fewer than three samples give one plane, else three.
  std::vector<uint8_t> planar;
  if (bits == 8) {
    const int planes = q < 3 ? 1 : 3;
    Allocate(planar, pixels * planes);
    for (int p = 0; p < planes; ++p) {
      uint8_t* dst = planar.data() + pixels * p;
      const uint8_t* src = raw.data() + p;
      for (size_t i = 0; i < pixels; ++i, src += q) dst[i] = *src;
    }
  } else {
    const int planes = q > 4 ? 3 : 1;
    Allocate(planar, pixels * planes * b);
    for (int p = 0; p < planes; ++p) {
      // Intel order in the file, high byte first in the data unit.
      uint8_t* dst = planar.data() + pixels * b * p;
      const uint8_t* src = raw.data() + 2 * p;
      for (size_t i = 0; i < pixels; ++i, src += q, dst += 2) {
        dst[0] = src[1];
        dst[1] = src[0];
      }
    }
  }
  out.swap(planar);
}

}  // namespace qv
