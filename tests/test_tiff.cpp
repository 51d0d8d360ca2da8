// TIFF input: files from an independent writer read exactly, and files the
// program cannot read refused cleanly. The bytes of the files it writes are
// pinned by the golden outputs.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "core/options.h"
#include "io/tiff_reader.h"
#include "process/image_files.h"
#include "process/process_pic.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

struct Layout {
  int w, h, samples, bits;
};

// Sample c of pixel (x, y), varied enough that a wrong byte order, plane or
// pixel stride shows.
uint32_t Sample(const Layout& t, int x, int y, int c) {
  const uint32_t i = static_cast<uint32_t>((y * t.w + x) * t.samples + c);
  return t.bits == 8 ? (i * 37 + 11) % 256 : (i * 7919 + 1234) % 65536;
}

// Uncompressed strips of `rows` rows written last first, so that they do not
// follow each other in the file; with `separate`, each sample in planes of
// its own. "wl" forces Intel order, "wb" Motorola.
void WriteWithLibtiff(const std::string& path, const Layout& t, int rows = 2, bool separate = false,
                      const char* mode = "wl", uint16_t compression = COMPRESSION_NONE) {
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), mode);
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, t.w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, t.h);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, t.samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t.bits);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  if (t.samples == 2 || t.samples == 4) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  const int bytes = t.bits / 8;
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
  const int strips = (t.h + rows - 1) / rows;
  const int planes = separate ? t.samples : 1, perPixel = separate ? 1 : t.samples;
  for (int i = planes * strips - 1; i >= 0; --i) {
    const int plane = i / strips, y0 = (i % strips) * rows, n = std::min(rows, t.h - y0);
    std::vector<uint8_t> data(static_cast<size_t>(n * t.w * perPixel * bytes));
    for (int y = y0; y < y0 + n; ++y)
      for (int x = 0; x < t.w; ++x)
        for (int c = 0; c < perPixel; ++c) {
          // In this little-endian machine's order (libtiff swaps as the
          // file needs): an 8-bit sample is the low byte.
          const uint16_t v = static_cast<uint16_t>(Sample(t, x, y, separate ? plane : c));
          std::memcpy(&data[static_cast<size_t>((((y - y0) * t.w + x) * perPixel + c) * bytes)], &v, bytes);
        }
    ASSERT_NE(TIFFWriteEncodedStrip(tif, static_cast<uint32_t>(i), data.data(), static_cast<tmsize_t>(data.size())),
              -1);
  }
  TIFFClose(tif);
}

}  // namespace

// Odd widths, rows over several strips written out of order, separate
// planes, and a fourth (alpha) sample that is not a colour plane.
TEST(TiffRead, LibtiffFilesReadExactly) {
  TempDir dir;
  const Layout layouts[] = {{5, 7, 1, 8}, {5, 7, 3, 8}, {4, 5, 4, 8}, {5, 7, 3, 16}, {3, 5, 1, 16}, {3, 2, 4, 16}};
  for (const Layout& t : layouts)
    for (bool separate : {false, true})
      for (int rows : {1, 3}) {
        const std::string what = std::to_string(t.samples) + " x " + std::to_string(t.bits) + " bits, " +
                                 (separate ? "separate" : "interleaved") + ", " + std::to_string(rows) + " rows";
        const std::string path = dir.File("strips.tif");
        WriteWithLibtiff(path, t, rows, separate);
        TiffHeader h;
        ASSERT_TRUE(ReadTiffHeader(path, h)) << what;
        EXPECT_EQ(std::tie(h.width, h.height, h.samples, h.bits), std::tie(t.w, t.h, t.samples, t.bits)) << what;
        TestSession s(path);
        ASSERT_TRUE(qvtest::Processed(*s, 1, 1)) << what;
        EXPECT_EQ(std::tuple(s->Img[1].ImgNaxis, s->Img[1].ImgNaxis3), std::tuple(3, t.samples));
        // The first sample in all three planes for fewer than three samples,
        // else the first three; 8-bit data times 8.
        ASSERT_TRUE(s->pic.PicR.HasSize(t.w, t.h)) << what;
        const Plane<int32_t>* planes[3] = {&s->pic.PicR, &s->pic.PicG, &s->pic.PicB};
        for (int c = 0; c < 3; ++c)
          for (int y = 0; y < t.h; ++y)
            for (int x = 0; x < t.w; ++x) {
              const uint32_t v = Sample(t, x, y, t.samples < 3 ? 0 : c);
              ASSERT_EQ((*planes[c])(x, y), static_cast<int32_t>(t.bits == 8 ? v * 8 : v))
                  << what << " plane " << c << " at " << x << "," << y;
            }
      }

  // Separate planes with one strip offset for three planes: refused, not
  // read as interleaved.
  const uint32_t bitsAt = qvtest::AfterTiffDirectory(6), pixelsAt = bitsAt + 6;
  std::vector<uint8_t> tail(18, 50);
  for (size_t i = 0; i < 6; ++i) tail[i] = i % 2 ? 0 : 8;
  qvtest::WriteBytes(
      dir.File("planar.tif"),
      qvtest::TiffFile(
          {{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 3, bitsAt}, {259, 3, 1, 1}, {273, 4, 1, pixelsAt}, {284, 3, 1, 2}},
          tail));
  TestSession s(dir.File("planar.tif"));
  const Outcome r = ProcessPic(*s, 1, 1);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.Text(), "TIFF non pris en charge (3 bandes attendues, 1 dans la table) : " + dir.File("planar.tif"));
}

TEST(TiffRead, DirectoryValueRules) {
  TempDir dir;
  const std::string path = dir.File("hand.tif");
  // ImageWidth twice: the second, a LONG, is the one that counts.
  const std::vector<qvtest::TiffEntry> twice = {{256, 3, 1, 9}, {256, 4, 1, 2},
                                                {257, 3, 1, 2}, {258, 3, 1, 8},
                                                {259, 3, 1, 1}, {273, 4, 1, qvtest::AfterTiffDirectory(6)}};
  qvtest::WriteBytes(path, qvtest::TiffFile(twice, {10, 20, 30, 40}));
  TestSession s(path);
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(std::make_tuple(s->pic.PicR.Width(), s->pic.PicR(1, 0), s->pic.PicB(0, 1)), std::make_tuple(2, 160, 240));
  // Three 16-bit samples whose bits sit at an offset, read from there.
  const uint32_t data = qvtest::AfterTiffDirectory(5);
  TiffHeader h;
  ASSERT_TRUE(ParseTiffHeader(
      qvtest::TiffFile({{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 3, data}, {259, 3, 1, 1}, {273, 4, 1, data + 6}},
                       {16, 0, 16, 0, 16, 0}),
      h));
  EXPECT_EQ(std::tie(h.samples, h.bits, h.offset), std::make_tuple(3, 16, static_cast<int32_t>(data + 6)));
  // Refused headers, leaving the result alone: no Compression entry, bits
  // array past the end of the file.
  const std::vector<std::vector<qvtest::TiffEntry>> refused = {
      {{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 1, 8}, {273, 4, 1, data}},
      {{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 3, 5000}, {259, 3, 1, 1}, {273, 4, 1, data}},
  };
  for (const auto& entries : refused) {
    TiffHeader untouched;
    untouched.width = 77;
    EXPECT_FALSE(ParseTiffHeader(qvtest::TiffFile(entries, std::vector<uint8_t>(64, 1)), untouched));
    EXPECT_EQ(untouched.width, 77);
  }
  // A readable header whose 32-bit samples have no place in the planes.
  qvtest::WriteBytes(
      path, qvtest::TiffFile({{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 1, 32}, {259, 3, 1, 1}, {273, 4, 1, data}},
                             std::vector<uint8_t>(64, 1)));
  TestSession t(path);
  EXPECT_FALSE(ProcessPic(*t, 1, 1));
  // Motorola byte order and compression: refused rather than misread, and
  // the refusal says which.
  for (const auto& [name, mode, compression, why] :
       {std::tuple{"motorola.tif", "wb", COMPRESSION_NONE, "TIFF en ordre d'octets « MM » non pris en charge"},
        {"lzw.tif", "wl", COMPRESSION_LZW, "TIFF compressé (LZW) non pris en charge"}}) {
    WriteWithLibtiff(dir.File(name), Layout{6, 4, 3, 16}, 2, false, mode, static_cast<uint16_t>(compression));
    TestSession u(dir.File(name));
    const Outcome read = ProcessPic(*u, 1, 1);
    EXPECT_EQ(read.why.rfind(why, 0), 0u) << read.why;
    EXPECT_NE(read.why.find(dir.File(name)), std::string::npos) << read.why;
  }
}
