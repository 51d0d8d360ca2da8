#include "io/fits_reader.h"

#include <bit>
#include <cstring>
#include <new>

#include "core/options.h"
#include "core/paths.h"
#include "io/file.h"
#include "io/picture.h"
#include "io/tiff_reader.h"

namespace qv {

bool IsFitsKind(const std::string& kind) { return kind == "fts" || kind == "fit"; }

int BytesPerValue(int bitpix) {
  switch (bitpix) {
    case 8:
      return 1;
    case 16:
      return 2;
    case 32:
    case -32:
      return 4;
    case -64:
      return 8;
    default:
      return 0;
  }
}

int32_t DecodeFitsFloat(const uint8_t* p) {
  const uint32_t u = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  const int32_t v = CLng(std::bit_cast<float>(u));
  return v > 65535 ? 65535 : v;
}

int32_t DecodeFitsDouble(const uint8_t* p) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u = (u << 8) | p[i];
  double v = std::bit_cast<double>(u);
  // NaN compares false both ways and would slip through; it is not a number
  // the working scale can hold.
  if (v != v) Raise(kErrOverflow);
  if (v < 0) v = 0;
  if (v > 65535) v = 65535;
  return static_cast<int32_t>(RoundHalfEven(v));
}

void DecodeRow(const uint8_t* row, int bitpix, int32_t bzero, int step, int count, int32_t* out) {
  switch (bitpix) {
    case 8:
      for (int i = 0; i < count; ++i) out[i] = DecodeFits8(row + static_cast<size_t>(i) * step);
      break;
    case 16:
      for (int i = 0; i < count; ++i) out[i] = DecodeFits16(row + static_cast<size_t>(i) * step * 2, bzero);
      break;
    case 32:
      for (int i = 0; i < count; ++i) out[i] = DecodeFits32(row + static_cast<size_t>(i) * step * 4);
      break;
    case -32:
      for (int i = 0; i < count; ++i) out[i] = DecodeFitsFloat(row + static_cast<size_t>(i) * step * 4);
      break;
    case -64:
      for (int i = 0; i < count; ++i) out[i] = DecodeFitsDouble(row + static_cast<size_t>(i) * step * 8);
      break;
    default:
      Raise(kErrTypeMismatch);
  }
}

namespace {

constexpr size_t kBlock = 2880;
constexpr size_t kCard = 80;

// Applies one 80-character header card to the slot.
// Returns true on the end card.
bool ApplyCard(std::string_view card, ImageEntry& e) {
  std::string keyword, value;
  const size_t eq = card.find('=');
  if (eq != std::string_view::npos) {
    keyword = Trim(LCase(card.substr(0, eq)));
    value = Trim(card.substr(eq + 1));
    const size_t blank = value.find(' ');
    if (blank != std::string::npos) value = LCase(value.substr(0, blank));
  } else {
    keyword = Trim(LCase(card));
  }
  if (keyword == "bitpix")
    e.ImgBitpix = CInt(Val(value));
  else if (keyword == "naxis")
    e.ImgNaxis = CInt(Val(value));
  else if (keyword == "naxis1")
    e.ImgNaxis1 = CInt(Val(value));
  else if (keyword == "naxis2")
    e.ImgNaxis2 = CInt(Val(value));
  else if (keyword == "naxis3")
    e.ImgNaxis3 = CInt(Val(value));
  else if (keyword == "bzero")
    e.ImgBzero = CLng(Val(value));
  else if (keyword == "readoutm") {
    if (LCase(card).find("raw") != std::string::npos) e.ImgFlags |= FlagRawCfa;
  } else if (keyword == "xorgsubf") {
    if (CLng(Val(value)) % 2 > 0) e.ImgFlags |= FlagOddX;
  } else if (keyword == "yorgsubf") {
    if (CLng(Val(value)) % 2 > 0) e.ImgFlags |= FlagOddY;
  } else if (keyword == "instrume") {
    if (LCase(card).find("ssdsi") != std::string::npos) e.ImgFlags |= FlagSsdsi;
  } else if (keyword == "end") {
    return true;
  }
  return false;
}

// The header's blocks, read one at a time by `read(at, block)` from a
// source of `length` bytes, until the END card: a file is never read
// further than its header.
template <class ReadBlock>
HeaderResult ParseHeaderBlocks(int64_t length, ReadBlock read, ImageEntry& e) {
  e.ImgBzero = 0;
  e.ImgFlags = 0;
  e.ImgNaxis3 = 0;
  try {
    int64_t consumed = 0;
    bool end = false;
    char block[kBlock];
    while (consumed < length && !end) {
      // A partial last block is a truncated file: none of its cards count.
      read(consumed, block);
      consumed += kBlock;
      for (size_t c = 0; c < kBlock / kCard && !end; ++c)
        end = ApplyCard(std::string_view(block + c * kCard, kCard), e);
    }
    e.ImgDataPos = CLng(static_cast<double>(consumed) + 1);
    if (length == 0) return HeaderResult::Empty;
    return end ? HeaderResult::Ok : HeaderResult::NoEndCard;
  } catch (const RuntimeError& err) {
    // A short block is a cut file; anything else is a value the header
    // fields cannot hold.
    return err.Number() == kErrInputPastEnd ? HeaderResult::Truncated : HeaderResult::Unreadable;
  }
}

HeaderResult ReadFitsHeader(const std::string& path, ImageEntry& e) {
  BinaryFile f;
  int64_t length = 0;
  try {
    f.OpenRead(path);
    length = f.Length();
  } catch (const RuntimeError& err) {
    e.ImgBzero = 0;
    e.ImgFlags = 0;
    e.ImgNaxis3 = 0;
    return err.Number() == kErrInputPastEnd ? HeaderResult::Truncated : HeaderResult::Unreadable;
  }
  return ParseHeaderBlocks(
      length, [&f](int64_t at, char* block) { f.ReadExactly(at, block, kBlock); }, e);
}

}  // namespace

HeaderResult ParseFitsHeader(std::span<const uint8_t> bytes, ImageEntry& e) {
  return ParseHeaderBlocks(
      static_cast<int64_t>(bytes.size()),
      [bytes](int64_t at, char* block) {
        if (static_cast<uint64_t>(at) + kBlock > bytes.size()) Raise(kErrInputPastEnd);
        std::memcpy(block, bytes.data() + at, kBlock);
      },
      e);
}

HeaderResult ReadHeader(const std::string& path, ImageEntry& e, PictureLoader* loader, Plane<int32_t>& pixels) {
  try {
    if (!FileExists(path)) return HeaderResult::Missing;
    if (IsSpecialFile(path)) return HeaderResult::NotRegularFile;
    const std::string kind = FileKind(path);
    if (kind == "tif") {
      TiffHeader t;
      if (!ReadTiffHeader(path, t)) return HeaderResult::Unreadable;
      e.ImgNaxis = 3;
      e.ImgNaxis1 = CInt(t.width);
      e.ImgNaxis2 = CInt(t.height);
      e.ImgNaxis3 = t.samples;
      e.ImgBitpix = t.bits;
      e.ImgDataPos = CLng(static_cast<double>(t.offset) + 1);
      e.ImgBzero = 0;
      e.ImgFlags = 0;
      return HeaderResult::Ok;
    }
    if (!IsFitsKind(kind)) {
      if (!LoadPictureToPixels(loader, path, pixels)) return HeaderResult::Unreadable;
      e.ImgNaxis = 3;
      e.ImgNaxis1 = CInt(pixels.Width());
      e.ImgNaxis2 = CInt(pixels.Height());
      e.ImgNaxis3 = 3;
      pixels.Redim(0, 0);
      e.ImgBitpix = 8;
      e.ImgBzero = 0;
      e.ImgFlags = 0;
      return HeaderResult::Ok;
    }
    return ReadFitsHeader(path, e);
  } catch (const RuntimeError&) {
    return HeaderResult::Unreadable;
  } catch (const std::bad_alloc&) {
    return HeaderResult::Unreadable;
  }
}

}  // namespace qv
