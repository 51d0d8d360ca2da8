#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

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

// A copy of a BMP file that the FreeImage of Debian decodes, for the
// variants it refuses although other decoders read them; false when the
// file needs no copy, is not a BMP or is larger than allowed.
// - A version 4 or 5 info header (108 or 124 bytes), which ImageMagick and
//   GIMP write by default: its first 40 bytes are the plain info header and
//   the colour masks come right after, so the file with its header cut to 40
//   bytes reads the same.
// - Run-length coded palette pixels (RLE8, RLE4): FreeImage stops at a run
//   that passes the end of a row, which common writers emit to pad rows.
//   They are expanded here into a plain 8-bit palette picture.
bool BmpCopy(const std::string& path, int64_t maxSide, int64_t maxPixels, std::vector<BYTE>& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  BYTE head[54];
  bool ok = std::fread(head, 1, sizeof head, f) == sizeof head && head[0] == 'B' && head[1] == 'M';
  const uint32_t infoSize = ok ? Le32(head + 14) : 0, compression = ok ? Le32(head + 30) : 0;
  const int bits = ok ? Le16(head + 28) : 0;
  const bool rle = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
  ok = ok && (infoSize == 108 || infoSize == 124 || (infoSize == 40 && rle));
  const int64_t w = ok ? static_cast<int32_t>(Le32(head + 18)) : 0, h = ok ? static_cast<int32_t>(Le32(head + 22)) : 0;
  const int64_t rows = h < 0 ? -h : h;
  ok = ok && w > 0 && h != 0 && w <= maxSide && rows <= maxSide && w * rows <= maxPixels && !(rle && h < 0) &&
       std::fseek(f, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(f) : -1;
  std::vector<BYTE> file;
  if (size > 0 && std::fseek(f, 0, SEEK_SET) == 0) {
    file.resize(static_cast<size_t>(size));
    ok = std::fread(file.data(), 1, file.size(), f) == file.size();
  } else {
    ok = false;
  }
  std::fclose(f);
  if (!ok) return false;
  const uint32_t pixelsAt = Le32(file.data() + 10);
  const size_t masks = compression == 3 ? 12 : compression == 6 ? 16 : 0;  // bit fields, with alpha
  if (pixelsAt < 14 + infoSize || pixelsAt > file.size()) return false;
  out.assign(file.begin(), file.begin() + 54 + masks);
  out.insert(out.end(), file.begin() + 14 + infoSize, file.begin() + pixelsAt);  // the palette
  size_t pixelsFrom = out.size();
  if (rle) {
    const size_t colours = std::min<size_t>((out.size() - 54) / 4, 256);
    out.resize(54 + 4 * colours);
    pixelsFrom = out.size();
    const size_t stride = (static_cast<size_t>(w) + 3) & ~size_t{3};
    out.resize(out.size() + stride * static_cast<size_t>(rows), 0);
    ExpandRle(file.data() + pixelsAt, file.size() - pixelsAt, compression == 2, w, rows, stride,
              out.data() + 54 + 4 * colours);
    out[28] = 8;
    out[29] = 0;
    PutLe32(out.data() + 30, 0);  // no compression
    PutLe32(out.data() + 34, 0);
    PutLe32(out.data() + 46, static_cast<uint32_t>(colours));
    PutLe32(out.data() + 50, 0);
  } else {
    out.insert(out.end(), file.begin() + pixelsAt, file.end());
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
  FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
  if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
  if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) {
    failure = "format inconnu";
    return false;
  }

  std::vector<BYTE> plainBmp;
  if (fif == FIF_BMP && !BmpCopy(path, kMaxSide, maxPixels_, plainBmp)) plainBmp.clear();
  auto load = [&](int flags) -> FIBITMAP* {
    if (plainBmp.empty()) return FreeImage_Load(fif, path.c_str(), flags);
    FIMEMORY* mem = FreeImage_OpenMemory(plainBmp.data(), static_cast<DWORD>(plainBmp.size()));
    FIBITMAP* d = mem ? FreeImage_LoadFromMemory(fif, mem, flags) : nullptr;
    if (mem) FreeImage_CloseMemory(mem);
    return d;
  };

  // Read the size first, so that an absurd header is refused before any
  // pixel buffer is allocated.
  if (FreeImage_FIFSupportsNoPixels(fif)) {
    FIBITMAP* head = load(FIF_LOAD_NOPIXELS);
    if (!head) {
      failure = "données non décodables";
      return false;
    }
    const int64_t w = FreeImage_GetWidth(head), h = FreeImage_GetHeight(head);
    FreeImage_Unload(head);
    if (!SizeAllowed(w, h)) return false;
  }

  FIBITMAP* dib = load(0);
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
