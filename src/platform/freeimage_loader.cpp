#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/paths.h"
#include "platform/platform.h"

namespace qv {

namespace {
// FreeImage keeps global state that wants one initialisation per process.
struct FreeImageInit {
  FreeImageInit() { FreeImage_Initialise(FALSE); }
  ~FreeImageInit() { FreeImage_DeInitialise(); }
};
void EnsureFreeImage() { static FreeImageInit init; }

// FreeImage prints decoder complaints on its own unless given a handler.
void QuietOutput(FREE_IMAGE_FORMAT, const char*) {}

uint32_t Le32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
void PutLe32(BYTE* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

uint16_t Le16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Expands run-length coded pixels (8 bits, or 4 bits when `nibbles`) into
// the bottom-up rows of an 8-bit palette picture, row stride `stride`. Runs
// that go past the end of a row are cut there and a stream that stops early
// leaves the rest at index 0: writers pad rows with runs of their own and
// other decoders accept both.
void ExpandRle(const BYTE* p, size_t n, bool nibbles, int64_t w, int64_t h, size_t stride, BYTE* rows) {
  int64_t x = 0, y = 0;
  size_t i = 0;
  auto put = [&](BYTE index) {
    if (x < w && y < h) rows[static_cast<size_t>(y) * stride + static_cast<size_t>(x)] = index;
    ++x;
  };
  while (i + 1 < n && y < h) {
    const BYTE count = p[i], code = p[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count; ++k) put(nibbles ? static_cast<BYTE>(k % 2 ? code & 15 : code >> 4) : code);
    } else if (code == 0) {
      x = 0;
      ++y;
    } else if (code == 1) {
      break;
    } else if (code == 2) {
      if (i + 1 >= n) break;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {
      // Literal pixels, their bytes padded to a 16-bit boundary.
      const size_t bytes = nibbles ? (code + 1u) / 2 : code;
      if (i + bytes > n) break;
      for (int k = 0; k < code; ++k)
        put(nibbles ? static_cast<BYTE>(k % 2 ? p[i + k / 2] & 15 : p[i + k / 2] >> 4) : p[i + k]);
      i += bytes + (bytes & 1);
    }
  }
}

// FreeImage reads through these from a stream the loader opened itself, so
// the file it decodes is the regular file that was checked.
unsigned DLL_CALLCONV ReadProc(void* buffer, unsigned size, unsigned count, fi_handle h) {
  return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<std::FILE*>(h)));
}
unsigned DLL_CALLCONV WriteProc(void*, unsigned, unsigned, fi_handle) { return 0; }
int DLL_CALLCONV SeekProc(fi_handle h, long offset, int origin) {
  return std::fseek(static_cast<std::FILE*>(h), offset, origin);
}
long DLL_CALLCONV TellProc(fi_handle h) { return std::ftell(static_cast<std::FILE*>(h)); }

// What a BMP header declares, read before FreeImage sees the file.
struct BmpLayout {
  bool bmp = false;
  uint32_t infoSize = 0, compression = 0, pixelsAt = 0;
  int bits = 0;
  int64_t w = 0, h = 0, rows = 0;
  bool Rle() const { return (compression == 1 && bits == 8) || (compression == 2 && bits == 4); }
  // Pixel rows stored as they are (plain or bit-field colours): the file
  // must hold all of them.
  bool Uncompressed() const {
    return (compression == 0 || compression == 3 || compression == 6) &&
           (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
  }
  int64_t Stride() const { return (w * bits + 31) / 32 * 4; }
};

BmpLayout ReadBmpLayout(std::FILE* f) {
  BmpLayout b;
  BYTE head[54] = {};
  const size_t got = std::fseek(f, 0, SEEK_SET) == 0 ? std::fread(head, 1, sizeof head, f) : 0;
  if (got < 26 || head[0] != 'B' || head[1] != 'M') return b;
  b.infoSize = Le32(head + 14);
  b.pixelsAt = Le32(head + 10);
  if (b.infoSize == 12) {
    // The oldest header, with 16-bit unsigned sizes and no compression.
    b.w = Le16(head + 18);
    b.h = Le16(head + 20);
    b.bits = Le16(head + 24);
  } else if (b.infoSize >= 40 && got == sizeof head) {
    b.w = static_cast<int32_t>(Le32(head + 18));
    b.h = static_cast<int32_t>(Le32(head + 22));
    b.bits = Le16(head + 28);
    b.compression = Le32(head + 30);
  } else {
    return b;
  }
  b.rows = b.h < 0 ? -b.h : b.h;
  b.bmp = true;
  return b;
}

// A copy of a BMP file that the FreeImage of Debian decodes, for the
// variants it refuses although other decoders read them; false when the
// file needs no copy. The size was checked before: the copy is at most the
// allowed picture.
// - A version 4 or 5 info header (108 or 124 bytes), which ImageMagick and
//   GIMP write by default: its first 40 bytes are the plain info header and
//   the colour masks come right after, so the file with its header cut to 40
//   bytes reads the same.
// - Run-length coded palette pixels (RLE8, RLE4): FreeImage stops at a run
//   that passes the end of a row, which common writers emit to pad rows.
//   They are expanded here into a plain 8-bit palette picture.
bool BmpCopy(std::FILE* f, const BmpLayout& b, int64_t fileSize, std::vector<BYTE>& out) {
  const bool rle = b.Rle();
  if (!b.bmp || !(b.infoSize == 108 || b.infoSize == 124 || (b.infoSize == 40 && rle))) return false;
  if (b.w <= 0 || b.h == 0 || (rle && b.h < 0)) return false;
  if (b.pixelsAt < 14 + b.infoSize || b.pixelsAt > fileSize) return false;
  // Only the bytes the pixels can use are read: a coded pixel takes at most
  // two bytes (a run of one), plus the end of each row and of the picture;
  // anything after that is not part of the picture.
  const int64_t pixelBytes = rle ? 2 * b.w * b.rows + 2 * b.rows + 2 : b.Stride() * b.rows;
  const int64_t take = std::min<int64_t>(fileSize, int64_t{b.pixelsAt} + pixelBytes);
  std::vector<BYTE> file;
  file.resize(static_cast<size_t>(take));
  if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(file.data(), 1, file.size(), f) != file.size()) return false;
  const size_t masks = b.compression == 3 ? 12 : b.compression == 6 ? 16 : 0;  // bit fields, with alpha
  out.assign(file.begin(), file.begin() + 54 + masks);
  out.insert(out.end(), file.begin() + 14 + b.infoSize, file.begin() + b.pixelsAt);  // the palette
  size_t pixelsFrom = out.size();
  if (rle) {
    const size_t colours = std::min<size_t>((out.size() - 54) / 4, 256);
    out.resize(54 + 4 * colours);
    pixelsFrom = out.size();
    const size_t stride = (static_cast<size_t>(b.w) + 3) & ~size_t{3};
    out.resize(out.size() + stride * static_cast<size_t>(b.rows), 0);
    ExpandRle(file.data() + b.pixelsAt, file.size() - b.pixelsAt, b.compression == 2, b.w, b.rows, stride,
              out.data() + 54 + 4 * colours);
    out[28] = 8;
    out[29] = 0;
    PutLe32(out.data() + 30, 0);  // no compression
    PutLe32(out.data() + 34, 0);
    PutLe32(out.data() + 46, static_cast<uint32_t>(colours));
    PutLe32(out.data() + 50, 0);
  } else {
    out.insert(out.end(), file.begin() + b.pixelsAt, file.end());
  }
  PutLe32(out.data() + 2, static_cast<uint32_t>(out.size()));
  PutLe32(out.data() + 10, static_cast<uint32_t>(pixelsFrom));
  PutLe32(out.data() + 14, 40);
  return true;
}
}  // namespace

bool FreeImageLoader::SizeAllowed(int64_t w, int64_t h) {
  if (w >= 1 && h >= 1 && w <= kMaxSide && h <= kMaxSide && w * h <= maxPixels_) return true;
  failure = "taille d'image démesurée (" + std::to_string(w) + " x " + std::to_string(h) + " pixels)";
  return false;
}

bool FreeImageLoader::Load(const std::string& path, Plane<int32_t>& pixels) {
  EnsureFreeImage();
  FreeImage_SetOutputMessage(QuietOutput);
  pixels.Erase();
  failure.clear();
  OpenFailure why = OpenFailure::None;
  std::FILE* f = OpenRegularFile(path, why);
  if (!f) {
    failure = why == OpenFailure::NotRegular ? kNotRegularFile
              : why == OpenFailure::Missing  ? "fichier introuvable"
                                             : "lecture refusée";
    return false;
  }
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{f};
  FreeImageIO io{ReadProc, WriteProc, SeekProc, TellProc};

  FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeFromHandle(&io, f, 0);
  if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
  if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) {
    failure = "format inconnu";
    return false;
  }
  // A format whose size cannot be read without decoding it could claim any
  // amount of memory before it is seen; none of them is a camera's.
  if (!FreeImage_FIFSupportsNoPixels(fif)) {
    failure = std::string("format ") + FreeImage_GetFormatFromFIF(fif) + " non pris en charge";
    return false;
  }
  if (std::fseek(f, 0, SEEK_END) != 0) {
    failure = "lecture refusée";
    return false;
  }
  const int64_t fileSize = std::ftell(f);

  std::vector<BYTE> plainBmp;
  if (fif == FIF_BMP) {
    const BmpLayout b = ReadBmpLayout(f);
    if (b.bmp && b.w > 0 && b.rows > 0) {
      if (!SizeAllowed(b.w, b.rows)) return false;
      // Uncompressed rows have a known size: a shorter file is cut, and its
      // missing rows would be made up.
      const int64_t need = b.Stride() * b.rows;
      if (b.Uncompressed() && fileSize - int64_t{b.pixelsAt} < need) {
        failure = "fichier tronqué (" + std::to_string(need) + " octets de pixels attendus, " +
                  std::to_string(std::max<int64_t>(0, fileSize - int64_t{b.pixelsAt})) + " présents)";
        return false;
      }
      if (!BmpCopy(f, b, fileSize, plainBmp)) plainBmp.clear();
    }
  }
  auto load = [&](int flags) -> FIBITMAP* {
    if (plainBmp.empty())
      return std::fseek(f, 0, SEEK_SET) == 0 ? FreeImage_LoadFromHandle(fif, &io, f, flags) : nullptr;
    FIMEMORY* mem = FreeImage_OpenMemory(plainBmp.data(), static_cast<DWORD>(plainBmp.size()));
    FIBITMAP* d = mem ? FreeImage_LoadFromMemory(fif, mem, flags) : nullptr;
    if (mem) FreeImage_CloseMemory(mem);
    return d;
  };

  // Read the size first, so that an absurd header is refused before any
  // pixel buffer is allocated.
  FIBITMAP* head = load(FIF_LOAD_NOPIXELS);
  if (!head) {
    failure = "données non décodables";
    return false;
  }
  const int64_t headW = FreeImage_GetWidth(head), headH = FreeImage_GetHeight(head);
  FreeImage_Unload(head);
  if (!SizeAllowed(headW, headH)) return false;

  FIBITMAP* dib = load(0);
  std::vector<BYTE>().swap(plainBmp);
  if (!dib) {
    failure = "données non décodables";
    return false;
  }
  FIBITMAP* rgb = FreeImage_ConvertTo32Bits(dib);
  FreeImage_Unload(dib);
  if (!rgb) {
    failure = "conversion en 32 bits impossible";
    return false;
  }
  const int w = static_cast<int>(FreeImage_GetWidth(rgb)), h = static_cast<int>(FreeImage_GetHeight(rgb));
  bool ok = SizeAllowed(w, h);
  if (ok) {
    try {
      pixels.Redim(w - 1, h - 1);
      // FreeImage stores rows bottom-up; the packed array has y 0 at the top.
      for (int y = 0; y < h; ++y) {
        const BYTE* src = FreeImage_GetScanLine(rgb, h - 1 - y);
        int32_t* dst = pixels.Row(y);
        for (int x = 0; x < w; ++x, src += 4)
          dst[x] = (static_cast<int32_t>(src[FI_RGBA_RED]) << 16) | (src[FI_RGBA_GREEN] << 8) | src[FI_RGBA_BLUE];
      }
    } catch (const RuntimeError&) {
      pixels.Erase();
      failure = "mémoire insuffisante";
      ok = false;
    }
  }
  FreeImage_Unload(rgb);
  return ok;
}

}  // namespace qv
