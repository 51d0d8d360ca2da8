#include <FreeImage.h>

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
}  // namespace

bool FreeImageLoader::Load(const std::string& path, Plane<int32_t>& pixels) {
  EnsureFreeImage();
  FreeImage_SetOutputMessage(QuietOutput);
  pixels.Erase();
  FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
  if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
  if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) return false;

  // Read the size first, so that an absurd header is refused before any
  // pixel buffer is allocated.
  if (FreeImage_FIFSupportsNoPixels(fif)) {
    FIBITMAP* head = FreeImage_Load(fif, path.c_str(), FIF_LOAD_NOPIXELS);
    if (!head) return false;
    const int64_t w = FreeImage_GetWidth(head), h = FreeImage_GetHeight(head);
    FreeImage_Unload(head);
    if (w < 1 || h < 1 || w * h > maxPixels_) return false;
  }

  FIBITMAP* dib = FreeImage_Load(fif, path.c_str(), 0);
  if (!dib) return false;
  FIBITMAP* rgb = FreeImage_ConvertTo32Bits(dib);
  FreeImage_Unload(dib);
  if (!rgb) return false;
  const int w = static_cast<int>(FreeImage_GetWidth(rgb)), h = static_cast<int>(FreeImage_GetHeight(rgb));
  bool ok = w > 0 && h > 0 && static_cast<int64_t>(w) * h <= maxPixels_;
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
      ok = false;
    }
  }
  FreeImage_Unload(rgb);
  return ok;
}

}  // namespace qv
