#include "io/tiff_writer.h"

#include <limits>
#include <new>

#include "io/file.h"

namespace qv {

namespace {

// The header, the BitsPerSample array, the entry count, eight 12-byte
// entries and the next-directory offset around the pixel bytes.
constexpr uint64_t kHeader = 8;
constexpr uint64_t kBitsArray = 6;
constexpr uint16_t kEntries = 8;
constexpr uint64_t kOverhead = kHeader + kBitsArray + 2 + kEntries * 12 + 4;

enum : uint16_t {
  kShort = 3,
  kLong = 4,
};

void Put16(uint8_t*& p, uint32_t v) {
  *p++ = static_cast<uint8_t>(v & 255);
  *p++ = static_cast<uint8_t>((v >> 8) & 255);
}
void Put32(uint8_t*& p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p, v >> 16);
}
// A SHORT value stands in the low half of the value field, the high half 0.
void PutEntry(uint8_t*& p, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  Put16(p, tag);
  Put16(p, type);
  Put32(p, count);
  Put32(p, value);
}

}  // namespace

std::vector<uint8_t> BuildTiffImage(const SavedPlanes& planes) {
  const SavedImage img(planes);
  const int W = img.Width(), H = img.Height(), P = img.Planes();
  // Width and height go into SHORT entries and every offset into 32 bits;
  // an image that does not fit them cannot be written as this layout.
  if (W > 65535 || H > 65535) Raise(kErrOverflow);
  const uint64_t S = 2 * static_cast<uint64_t>(P);
  const uint64_t D = S * static_cast<uint64_t>(W) * static_cast<uint64_t>(H);
  if (D + kOverhead > std::numeric_limits<uint32_t>::max()) Raise(kErrOverflow);

  std::vector<uint8_t> file(static_cast<size_t>(D + kOverhead), 0);
  uint8_t* p = file.data();
  const uint32_t bitsArray = static_cast<uint32_t>(kHeader + D);
  const uint32_t directory = bitsArray + kBitsArray;
  *p++ = 'I';
  *p++ = 'I';
  Put16(p, 42);
  Put32(p, directory);

  // Samples red, green, blue within a pixel, top row first.
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      for (int c = 0; c < P; ++c, p += 2) {
        float v = img.Value(c, x, y);
        // A negative value is not stored: its sample reads back as 0.
        if (!(v >= 0)) continue;
        if (v > 65535) v = 65535;
        const int32_t n = CLng(v);
        p[0] = static_cast<uint8_t>(n & 255);
        p[1] = static_cast<uint8_t>((n / 256) & 255);
      }
    }
  }

  // The BitsPerSample array is written in monochrome files too, where
  // nothing points at it.
  for (int i = 0; i < 3; ++i) Put16(p, 16);
  Put16(p, kEntries);
  const bool mono = P == 1;
  PutEntry(p, 254, kLong, 1, 0);                                  // NewSubfileType
  PutEntry(p, 256, kShort, 1, static_cast<uint32_t>(W));          // ImageWidth
  PutEntry(p, 257, kShort, 1, static_cast<uint32_t>(H));          // ImageLength
  PutEntry(p, 258, kShort, mono ? 1 : 3, mono ? 16 : bitsArray);  // BitsPerSample
  PutEntry(p, 259, kShort, 1, 1);                                 // Compression: none
  PutEntry(p, 262, kShort, 1, mono ? 1 : 2);                      // Photometric: black is zero / RGB
  PutEntry(p, 273, kLong, 1, static_cast<uint32_t>(kHeader));     // StripOffsets
  PutEntry(p, 277, kShort, 1, static_cast<uint32_t>(P));          // SamplesPerPixel
  Put32(p, 0);                                                    // no next directory
  return file;
}

namespace {

Outcome WriteTiff(const SavedPlanes& planes, const std::string& FileName, bool replace) {
  try {
    const std::vector<uint8_t> file = BuildTiffImage(planes);
    return replace ? WriteFileReplacing(FileName, {&file}) : WriteFileNew(FileName, {&file});
  } catch (const RuntimeError& e) {
    return Outcome::From(e);
  } catch (const std::bad_alloc&) {
    return Outcome::FromNumber(kErrOutOfMemory);
  } catch (const std::length_error&) {
    return Outcome::FromNumber(kErrOutOfMemory);
  }
}

}  // namespace

Outcome WriteTiffFile(const SavedPlanes& planes, const std::string& FileName) {
  return WriteTiff(planes, FileName, true);
}

Outcome WriteNewTiffFile(const SavedPlanes& planes, const std::string& FileName) {
  return WriteTiff(planes, FileName, false);
}

}  // namespace qv
