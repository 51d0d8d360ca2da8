#include "io/raster_export.h"

#include <FreeImage.h>

#include "io/file.h"

namespace qv {

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
}

// Bytes of one BMP row of w pixels: 3w rounded up to a multiple of 4.
size_t RowBytes(int w) {
  const size_t r = 3 * static_cast<size_t>(w);
  return r % 4 ? r + 4 - r % 4 : r;
}

struct FreeImageLibrary {
  FreeImageLibrary() { FreeImage_Initialise(FALSE); }
  ~FreeImageLibrary() { FreeImage_DeInitialise(); }
};

}  // namespace

std::vector<uint8_t> BmpImage(const Plane<int32_t>& pixels) {
  if (pixels.Empty()) return {};
  const int w = pixels.Width(), h = pixels.Height();
  const size_t row = RowBytes(w);
  std::vector<uint8_t> b(54 + row * static_cast<size_t>(h), 0);
  Put16(b, 0, 0x4D42);
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<uint32_t>(w));
  Put32(b, 22, static_cast<uint32_t>(h));
  Put16(b, 26, 1);
  Put16(b, 28, 24);
  for (int y = 0; y < h; ++y) {
    uint8_t* out = &b[54 + row * static_cast<size_t>(h - 1 - y)];
    const int32_t* in = pixels.Row(y);
    for (int x = 0; x < w; ++x) {
      out[3 * x] = static_cast<uint8_t>(in[x]);
      out[3 * x + 1] = static_cast<uint8_t>(in[x] >> 8);
      out[3 * x + 2] = static_cast<uint8_t>(in[x] >> 16);
    }
  }
  return b;
}

bool SavePictureAsBmp(const Plane<int32_t>& pixels, const std::string& path) {
  const std::vector<uint8_t> bytes = BmpImage(pixels);
  return !bytes.empty() && WriteFileReplacing(path, {&bytes}) == 0;
}

bool SaveJpeg(const Plane<int32_t>& pixels, const std::string& path) {
  static FreeImageLibrary library;
  if (pixels.Empty()) return false;
  const int w = pixels.Width(), h = pixels.Height();
  FIBITMAP* dib = FreeImage_Allocate(w, h, 24, 0, 0, 0);
  if (!dib) return false;
  for (int y = 0; y < h; ++y) {
    // FreeImage keeps its rows bottom-up.
    BYTE* out = FreeImage_GetScanLine(dib, h - 1 - y);
    const int32_t* in = pixels.Row(y);
    for (int x = 0; x < w; ++x) {
      out[3 * x + FI_RGBA_RED] = static_cast<BYTE>(in[x] >> 16);
      out[3 * x + FI_RGBA_GREEN] = static_cast<BYTE>(in[x] >> 8);
      out[3 * x + FI_RGBA_BLUE] = static_cast<BYTE>(in[x]);
    }
  }
  bool ok = false;
  // Encoded in memory first, so that a failure leaves an existing file whole.
  if (FIMEMORY* mem = FreeImage_OpenMemory()) {
    if (FreeImage_SaveToMemory(FIF_JPEG, dib, mem, JPEG_QUALITYGOOD)) {
      BYTE* data = nullptr;
      DWORD size = 0;
      if (FreeImage_AcquireMemory(mem, &data, &size) && data && size > 0) {
        const std::vector<uint8_t> bytes(data, data + size);
        ok = WriteFileReplacing(path, {&bytes}) == 0;
      }
    }
    FreeImage_CloseMemory(mem);
  }
  FreeImage_Unload(dib);
  return ok;
}

}  // namespace qv
