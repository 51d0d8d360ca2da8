#include "io/picture_export.h"

#include <FreeImage.h>
#include <new>

#include "core/numeric.h"
#include "core/paths.h"
#include "io/file.h"

namespace qv {

namespace {

// FreeImage wants one initialisation per process; it counts them, so this
// one and the picture loader's live side by side.
void EnsureFreeImage() {
  struct Init {
    Init() { FreeImage_Initialise(FALSE); }
    ~Init() { FreeImage_DeInitialise(); }
  };
  static Init init;
}

// JPEG format code and the good-quality flag of the library.
constexpr int kFormatJpeg = 2;
constexpr int kJpegQualityGood = 256;

void PutLe16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Bytes of one BMP row of w pixels: 3w rounded up to a multiple of 4.
size_t BmpRowBytes(int w) {
  const size_t r = 3 * static_cast<size_t>(w);
  return r % 4 ? r + 4 - r % 4 : r;
}

}  // namespace

PictureWriter WriterForName(const std::string& fileName) {
  const std::string ext = LCase(fileName.size() >= 3 ? fileName.substr(fileName.size() - 3) : fileName);
  if (ext == "jpg") return PictureWriter::Jpeg;
  if (ext == "bmp") return PictureWriter::Bmp;
  if (ext == "tif") return PictureWriter::Tiff;
  return PictureWriter::Fits;
}

std::string SaveDialogInitialName(const std::string& fileName) {
  return fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
}

FIBITMAP* PictureToFreeImage(const Plane<int32_t>& shown) {
  const int w = shown.Width(), h = shown.Height();
  if (shown.Empty() || w <= 0 || h <= 0) return nullptr;
  EnsureFreeImage();
  FIBITMAP* dib = FreeImage_Allocate(w, h, 24, 0, 0, 0);
  if (!dib) return nullptr;
  BYTE* bits = FreeImage_GetBits(dib);
  if (bits && FreeImage_GetInfo(dib)) {
    // The bitmap's scan lines run from the bottom up.
    const unsigned pitch = FreeImage_GetPitch(dib);
    for (int y = 0; y < h; ++y) {
      BYTE* line = bits + static_cast<size_t>(pitch) * (h - 1 - y);
      const int32_t* src = shown.Row(y);
      for (int x = 0; x < w; ++x) {
        line[3 * x + FI_RGBA_RED] = static_cast<BYTE>(src[x] >> 16);
        line[3 * x + FI_RGBA_GREEN] = static_cast<BYTE>(src[x] >> 8);
        line[3 * x + FI_RGBA_BLUE] = static_cast<BYTE>(src[x]);
      }
    }
  }
  return dib;
}

Outcome SaveJpeg(const Plane<int32_t>& shown, const std::string& FileName) {
  if (Trim(FileName).empty()) return Outcome::FromNumber(kErrBadFileName);
  FIBITMAP* dib = PictureToFreeImage(shown);
  if (!dib) return Outcome::FromNumber(kErrOutOfMemory);
  FIBITMAP* dib24 = FreeImage_ConvertTo24Bits(dib);
  FreeImage_Unload(dib);
  if (!dib24) return Outcome::FromNumber(kErrOutOfMemory);
  // The library encodes into memory and the file layer writes the bytes, so a
  // failure midway leaves the old picture as it was.
  std::vector<uint8_t> bytes;
  FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
  BOOL encoded = FALSE;
  if (memory) {
    encoded = FreeImage_SaveToMemory(static_cast<FREE_IMAGE_FORMAT>(kFormatJpeg), dib24, memory, kJpegQualityGood);
    BYTE* data = nullptr;
    DWORD size = 0;
    if (encoded && FreeImage_AcquireMemory(memory, &data, &size) && data && size > 0) {
      try {
        bytes.assign(data, data + size);
      } catch (const std::bad_alloc&) {
        bytes.clear();
      }
    }
    FreeImage_CloseMemory(memory);
  }
  FreeImage_Unload(dib24);
  if (bytes.empty()) return Outcome::FromNumber(encoded ? kErrOutOfMemory : kErrPathAccess);
  return WriteFileReplacing(FileName, {&bytes});
}

std::vector<uint8_t> BuildBmpFile(const Plane<int32_t>& shown) {
  std::vector<uint8_t> file;
  const int w = shown.Width(), h = shown.Height();
  if (shown.Empty() || w <= 0 || h <= 0) return file;
  const size_t row = BmpRowBytes(w);
  const size_t image = row * static_cast<size_t>(h);
  if (image > 0xFFFFFFFFu - 54) Raise(kErrOverflow);
  file.assign(54 + image, 0);
  file[0] = 'B';
  file[1] = 'M';
  PutLe32(file, 2, static_cast<uint32_t>(54 + image));
  PutLe32(file, 10, 54);
  PutLe32(file, 14, 40);
  PutLe32(file, 18, static_cast<uint32_t>(w));
  PutLe32(file, 22, static_cast<uint32_t>(h));
  PutLe16(file, 26, 1);
  PutLe16(file, 28, 24);
  for (int y = 0; y < h; ++y) {
    uint8_t* out = file.data() + 54 + row * static_cast<size_t>(h - 1 - y);
    const int32_t* src = shown.Row(y);
    for (int x = 0; x < w; ++x) {
      out[3 * x] = static_cast<uint8_t>(src[x]);
      out[3 * x + 1] = static_cast<uint8_t>(src[x] >> 8);
      out[3 * x + 2] = static_cast<uint8_t>(src[x] >> 16);
    }
  }
  return file;
}

Outcome SavePictureAsBmp(const Plane<int32_t>& shown, const std::string& FileName) {
  std::vector<uint8_t> file;
  try {
    file = BuildBmpFile(shown);
  } catch (const RuntimeError& e) {
    return Outcome::From(e);
  } catch (const std::bad_alloc&) {
    return Outcome::FromNumber(kErrOutOfMemory);
  }
  if (file.empty()) return Outcome::FromNumber(kErrOutOfMemory);
  return WriteFileReplacing(FileName, {&file});
}

std::string BatchTiffName(const std::string& fileName) {
  const size_t p = LCase(fileName).find(".f");
  if (p == std::string::npos) return std::string();
  return fileName.substr(0, p + 1) + "tif";
}

FitsHeaderView ReadFitsHeaderView(const std::string& path) {
  FitsHeaderView view;
  if (path.size() < 4) return view;
  const std::string last4 = LCase(path.substr(path.size() - 4));
  const std::string ext = last4[0] == '.' ? last4.substr(1) : last4.substr(0, 3);
  if ((ext != "fts" && ext != "fit") || !FileExists(path)) return view;
  OpenFailure why = OpenFailure::None;
  std::FILE* f = OpenRegularFile(path, why);
  if (!f) return view;
  view.shown = true;
  view.caption = "Entête FTS - " + PathName(path);
  char block[36 * 80];
  bool end = false;
  // A file without END card would list its whole data unit as cards; the
  // list stops far beyond any real header instead of growing with the file.
  constexpr size_t kMaxCards = 100000;
  while (!end && view.lines.size() < kMaxCards) {
    const size_t got = std::fread(block, 1, sizeof block, f);
    const size_t cards = got / 80;
    for (size_t i = 0; i < cards && !end; ++i) {
      std::string card(block + 80 * i, 80);
      view.lines.push_back(card);
      end = LCase(Trim(card.substr(0, 3))) == "end";
    }
    if (got < sizeof block) break;
  }
  std::fclose(f);
  return view;
}

}  // namespace qv
