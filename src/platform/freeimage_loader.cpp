#include <FreeImage.h>

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

// The FreeImage of Debian refuses BMP files with a version 4 or 5 info
// header (108 or 124 bytes), which ImageMagick and GIMP write by default.
// Their first 40 bytes are the plain info header and the colour masks come
// right after, so the file with its header cut to 40 bytes reads the same.
// Returns false when the file is not such a BMP or is larger than allowed.
bool PlainBmpCopy(const std::string& path, int64_t maxPixels, std::vector<BYTE>& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  BYTE head[54];
  bool ok = std::fread(head, 1, sizeof head, f) == sizeof head && head[0] == 'B' && head[1] == 'M';
  const uint32_t infoSize = ok ? Le32(head + 14) : 0;
  ok = ok && (infoSize == 108 || infoSize == 124);
  if (ok) {
    const int64_t w = static_cast<int32_t>(Le32(head + 18)), h = static_cast<int32_t>(Le32(head + 22));
    ok = w > 0 && h != 0 && w * (h < 0 ? -h : h) <= maxPixels && std::fseek(f, 0, SEEK_END) == 0;
  }
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
  const uint32_t pixelsAt = Le32(file.data() + 10), compression = Le32(file.data() + 30);
  const size_t masks = compression == 3 ? 12 : compression == 6 ? 16 : 0;  // bit fields, with alpha
  if (pixelsAt < 14 + infoSize || pixelsAt > file.size()) return false;
  out.assign(file.begin(), file.begin() + 54 + masks);
  out.insert(out.end(), file.begin() + 14 + infoSize, file.end());  // palette, then the pixels
  PutLe32(out.data() + 2, static_cast<uint32_t>(out.size()));
  PutLe32(out.data() + 10, static_cast<uint32_t>(pixelsAt - infoSize + 40 + masks));
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
  if (fif == FIF_BMP && !PlainBmpCopy(path, maxPixels_, plainBmp)) plainBmp.clear();
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
