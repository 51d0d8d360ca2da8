#include "io/tiff_reader.h"

#include <algorithm>
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
  kTagRowsPerStrip = 278,
  kTagPlanarConfiguration = 284,
  kTagTileOffsets = 324,
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

void ApplyEntry(ByteSource& f, const uint8_t* entry, Fields& out) {
  const uint16_t tag = Le16(entry);
  const uint16_t type = Le16(entry + 2);
  const uint32_t count = Le32(entry + 4);
  // A LONG, or anything counted more than once, is read as 32 bits (for a
  // count above 1 it is the offset of the values); a single value of any
  // other type sits in the first two bytes, which also covers a lone BYTE.
  const uint32_t value = (type == kTypeLong || count > 1) ? Le32(entry + 8) : Le16(entry + 8);
  switch (tag) {
    case kTagImageWidth:
      out.width = value;
      break;
    case kTagImageLength:
      out.height = value;
      break;
    case kTagCompression:
      out.compression = value;
      break;
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
    default:
      break;
  }
}

// Where the strips lie, from the first directory: what the pixel read needs
// beyond the five header values.
struct StripTable {
  int64_t rowsPerStrip = 0, planar = 1;
  bool tiled = false, listed = false;
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t value[4] = {};  // the offsets themselves when they fit here
};

StripTable ReadStripTable(ByteSource& f) {
  uint8_t head[8];
  f.ReadExactly(0, head, sizeof head);
  const int64_t directory = Le32(head + 4);
  uint8_t countBytes[2];
  f.ReadExactly(directory, countBytes, sizeof countBytes);
  const size_t count = Le16(countBytes);
  if (f.Length() - (directory + 2) < static_cast<int64_t>(count * kEntrySize)) Raise(kErrInputPastEnd);
  std::vector<uint8_t> table;
  Allocate(table, count * kEntrySize);
  if (count > 0) f.ReadExactly(directory + 2, table.data(), table.size());
  StripTable t;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = table.data() + i * kEntrySize;
    const uint16_t tag = Le16(entry), type = Le16(entry + 2);
    const uint32_t n = Le32(entry + 4);
    const uint32_t value = type == kTypeLong ? Le32(entry + 8) : Le16(entry + 8);
    if (tag == kTagRowsPerStrip)
      t.rowsPerStrip = value;
    else if (tag == kTagPlanarConfiguration)
      t.planar = value;
    else if (tag == kTagTileOffsets)
      t.tiled = true;
    else if (tag == kTagStripOffsets) {
      t.listed = true;
      t.type = type;
      t.count = n;
      std::copy(entry + 8, entry + 12, t.value);
    }
  }
  return t;
}

// The first `n` strip offsets of the table.
std::vector<int64_t> StripOffsets(ByteSource& f, const StripTable& t, size_t n) {
  if (t.type != kTypeShort && t.type != kTypeLong)
    throw TiffUnsupported{"type " + std::to_string(t.type) + " de la table des bandes"};
  const size_t size = t.type == kTypeShort ? 2 : 4;
  std::vector<uint8_t> bytes;
  if (t.count * size <= 4) {
    bytes.assign(t.value, t.value + 4);
  } else {
    if (static_cast<int64_t>(n * size) > f.Length()) Raise(kErrInputPastEnd);
    Allocate(bytes, n * size);
    f.ReadExactly(Le32(t.value), bytes.data(), bytes.size());
  }
  std::vector<int64_t> offsets(n);
  for (size_t i = 0; i < n; ++i) offsets[i] = size == 2 ? Le16(bytes.data() + 2 * i) : Le32(bytes.data() + 4 * i);
  return offsets;
}

// Compression schemes a camera or an editor writes, by their tag value.
std::string CompressionName(int64_t c) {
  switch (c) {
    case 5:
      return "LZW";
    case 6:
    case 7:
      return "JPEG";
    case 8:
    case 32946:
      return "Deflate/ZIP";
    case 32773:
      return "PackBits";
    default:
      return "n° " + std::to_string(c);
  }
}

// `why`, when given, receives what keeps a file the parser refuses from
// being read, in the user's words.
bool ParseTiffHeader(ByteSource& f, TiffHeader& out, std::string* why) {
  auto refuse = [why](std::string words) {
    if (why) *why = std::move(words);
    return false;
  };
  try {
    const int64_t length = f.Length();
    uint8_t head[8];
    f.ReadExactly(0, head, sizeof head);
    if (head[0] == 'M' && head[1] == 'M')
      return refuse("TIFF en ordre d'octets « MM » non pris en charge (seul « II » l'est)");
    if (head[0] == 'I' && head[1] == 'I' && Le16(head + 2) == 43) return refuse("BigTIFF non pris en charge");
    if (head[0] != 'I' || head[1] != 'I' || Le16(head + 2) != 42) return refuse("pas un fichier TIFF");

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

    if (fields.compression == 0 && fields.width > 0 && fields.height > 0)
      return refuse("en-tête TIFF sans champ de compression");
    if (fields.compression > 1 && fields.width > 0 && fields.height > 0)
      return refuse("TIFF compressé (" + CompressionName(fields.compression) +
                    ") non pris en charge : enregistrez les images sans compression");
    if (fields.width <= 0 || fields.height <= 0 || fields.compression != 1 || fields.samples <= 0)
      return refuse("en-tête TIFF incomplet (largeur, hauteur ou échantillons absents)");
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
  } catch (const RuntimeError& err) {
    return refuse(err.Number() == kErrOverflow      ? "valeur hors limites dans l'en-tête TIFF"
                  : err.Number() == kErrOutOfMemory ? "en-tête TIFF démesuré"
                                                    : "fichier TIFF tronqué ou illisible");
  }
}

void ReadTiffSamples(ByteSource& f, int32_t dataPos, int bits, int samples, int w, int h, std::vector<uint8_t>& out) {
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
  const int64_t length = f.Length();
  const StripTable table = ReadStripTable(f);
  if (table.tiled) throw TiffUnsupported{"image en tuiles"};
  const bool separate = table.planar == 2 && samples > 1;
  if (table.planar != 1 && table.planar != 2)
    throw TiffUnsupported{"organisation des plans " + std::to_string(table.planar)};
  const int64_t rows = table.rowsPerStrip > 0 && table.rowsPerStrip < h ? table.rowsPerStrip : h;
  const int64_t strips = (h + rows - 1) / rows, wanted = separate ? strips * samples : strips;
  std::vector<uint8_t> raw;
  if (!separate && (strips == 1 || table.count <= 1)) {
    // One strip, or a single offset for all of them: the rows follow each
    // other from the first strip on. Checked before anything is made, so
    // that a header claiming more pixels than the file holds cannot ask for
    // an absurd buffer.
    if (start > length || static_cast<uint64_t>(length - start) < need) Raise(kErrInputPastEnd);
    Allocate(raw, need);
    f.ReadExactly(start, raw.data(), need);
  } else {
    if (table.count < wanted)
      throw TiffUnsupported{std::to_string(wanted) + " bandes attendues, " + std::to_string(table.count) +
                            " dans la table"};
    const std::vector<int64_t> offsets = StripOffsets(f, table, static_cast<size_t>(wanted));
    // Each pixel has `unit` bytes in a strip: all q of them when the samples
    // are interleaved, one sample's when each sample has planes of its own
    // (it then goes to its place among the pixel's q bytes).
    const size_t unit = separate ? static_cast<size_t>(b) : q;
    for (int64_t i = 0; i < wanted; ++i) {
      const int64_t y0 = (i % strips) * rows, n = std::min<int64_t>(rows, h - y0);
      const size_t bytes = static_cast<size_t>(n) * static_cast<size_t>(w) * unit;
      if (offsets[static_cast<size_t>(i)] < 8 || offsets[static_cast<size_t>(i)] > length ||
          static_cast<uint64_t>(length - offsets[static_cast<size_t>(i)]) < bytes)
        Raise(kErrInputPastEnd);
    }
    // Strips do not share bytes, so a file smaller than its pixels is cut
    // short (or lies); refused before the buffer is made.
    if (static_cast<uint64_t>(length) < need) Raise(kErrInputPastEnd);
    Allocate(raw, need);
    std::vector<uint8_t> strip;
    for (int64_t i = 0; i < wanted; ++i) {
      const int64_t y0 = (i % strips) * rows, n = std::min<int64_t>(rows, h - y0);
      const size_t count = static_cast<size_t>(n) * static_cast<size_t>(w);
      uint8_t* dst = raw.data() + static_cast<size_t>(y0) * static_cast<size_t>(w) * q;
      if (!separate) {
        f.ReadExactly(offsets[static_cast<size_t>(i)], dst, count * q);
        continue;
      }
      Allocate(strip, count * unit);
      f.ReadExactly(offsets[static_cast<size_t>(i)], strip.data(), strip.size());
      dst += static_cast<size_t>(i / strips) * unit;
      for (size_t k = 0; k < count; ++k, dst += q)
        for (size_t c = 0; c < unit; ++c) dst[c] = strip[k * unit + c];
    }
  }

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

}  // namespace

bool ParseTiffHeader(std::span<const uint8_t> bytes, TiffHeader& out) {
  MemoryBytes source(bytes);
  return ParseTiffHeader(source, out, nullptr);
}

bool ReadTiffHeader(const std::string& path, TiffHeader& out) {
  BinaryFile f;
  try {
    f.OpenRead(path);
  } catch (const RuntimeError&) {
    return false;
  }
  return ParseTiffHeader(f, out, nullptr);
}

std::string TiffHeaderProblem(const std::string& path) {
  BinaryFile f;
  try {
    f.OpenRead(path);
  } catch (const RuntimeError&) {
    return "fichier TIFF illisible";
  }
  TiffHeader ignored;
  std::string why;
  return ParseTiffHeader(f, ignored, &why) ? std::string() : why;
}

void ReadTiffSamples(std::span<const uint8_t> bytes, int32_t dataPos, int bits, int samples, int w, int h,
                     std::vector<uint8_t>& out) {
  MemoryBytes source(bytes);
  ReadTiffSamples(source, dataPos, bits, samples, w, h, out);
}

void ReadTiffSamples(const std::string& path, int32_t dataPos, int bits, int samples, int w, int h,
                     std::vector<uint8_t>& out) {
  // The checks that need no file come first, as they always have.
  if (bits != 8 && bits != 16) Raise(kErrTypeMismatch);
  if (samples < 1 || w < 1 || h < 1) Raise(kErrSubscript);
  if (static_cast<int64_t>(dataPos) - 1 < 8) Raise(kErrTypeMismatch);
  BinaryFile f;
  f.OpenRead(path);
  ReadTiffSamples(f, dataPos, bits, samples, w, h, out);
}

}  // namespace qv
