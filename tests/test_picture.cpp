// Raster pictures: BMP and JPEG files from independent writers become three
// 8-bit planes on the working scale, top row first.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "io/fits_reader.h"
#include "process/process_pic.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

struct Rgb {
  int r, g, b;
};

// Colour of (x, y), y 0 at the top, different along both axes and per
// channel, so that a flipped picture or swapped channels show.
Rgb Pattern(int x, int y) {
  return {(x * 23 + y * 5) % 256, ((255 - x * 3 - y * 11) % 256 + 256) % 256, (x * y * 7 + 40) % 256};
}

void EnsureFreeImage() {
  // Reference-counted in FreeImage; the program's loader does its own.
  static const bool once = (FreeImage_Initialise(FALSE), true);
  (void)once;
}

// A 24-bit picture through FreeImage, whose scan lines run bottom-up.
void SaveWithFreeImage(const std::string& path, FREE_IMAGE_FORMAT fif, int w, int h, Rgb (*colour)(int, int),
                       int flags = 0) {
  EnsureFreeImage();
  FIBITMAP* dib = FreeImage_Allocate(w, h, 24);
  ASSERT_NE(dib, nullptr);
  for (int y = 0; y < h; ++y) {
    BYTE* line = FreeImage_GetScanLine(dib, h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const Rgb c = colour(x, y);
      line[x * 3 + FI_RGBA_RED] = static_cast<BYTE>(c.r);
      line[x * 3 + FI_RGBA_GREEN] = static_cast<BYTE>(c.g);
      line[x * 3 + FI_RGBA_BLUE] = static_cast<BYTE>(c.b);
    }
  }
  ASSERT_TRUE(FreeImage_Save(fif, dib, path.c_str(), flags)) << path;
  FreeImage_Unload(dib);
}

// Every pixel within `tolerance` (in file bytes) of the pattern.
void ExpectPattern(const Session& s, int w, int h, int step, Rgb (*colour)(int, int), int tolerance,
                   const std::string& what) {
  ASSERT_EQ(s.pic.PicR.Width(), (w - 1) / step + 1) << what;
  ASSERT_EQ(s.pic.PicR.Height(), (h - 1) / step + 1) << what;
  int bad = 0;
  for (int y = 0; y < s.pic.PicR.Height(); ++y)
    for (int x = 0; x < s.pic.PicR.Width(); ++x) {
      const Rgb c = colour(x * step, y * step);
      const int got[3] = {s.pic.PicR(x, y), s.pic.PicG(x, y), s.pic.PicB(x, y)};
      const int want[3] = {c.r * 8, c.g * 8, c.b * 8};
      for (int p = 0; p < 3; ++p)
        if (std::abs(got[p] - want[p]) > tolerance * 8 && bad++ < 5)
          ADD_FAILURE() << what << " plane " << p << " at " << x << "," << y << ": " << got[p] << " instead of "
                        << want[p];
    }
}

Rgb Halves(int, int y) { return y < 16 ? Rgb{200, 40, 30} : Rgb{20, 60, 220}; }

}  // namespace

TEST(Picture, BmpFilesLoadExactlyWithTheTopRowFirst) {
  TempDir dir;
  const std::string path = dir.File("pattern.bmp");
  SaveWithFreeImage(path, FIF_BMP, 7, 5, Pattern);
  TestSession s;
  qvtest::OneImage(*s, path);
  ASSERT_EQ(ReadHeader(*s, 1), HeaderResult::Ok);
  const ImageEntry& e = s->Img[1];
  EXPECT_EQ(e.ImgNaxis, 3);
  EXPECT_EQ(e.ImgNaxis1, 7);
  EXPECT_EQ(e.ImgNaxis2, 5);
  EXPECT_EQ(e.ImgNaxis3, 3);
  EXPECT_EQ(e.ImgBitpix, 8);
  EXPECT_EQ(s->pic.PicPixels.Size(), 1u);  // the header read keeps no pixels
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  ExpectPattern(*s, 7, 5, 1, Pattern, 0, "FreeImage BMP");
  EXPECT_EQ(s->pic.PicPixels.Size(), 1u);

  // An 8-bit palette picture gives the same grey in every plane.
  EnsureFreeImage();
  FIBITMAP* grey = FreeImage_Allocate(4, 3, 8);
  RGBQUAD* pal = FreeImage_GetPalette(grey);
  for (int i = 0; i < 256; ++i) pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = static_cast<BYTE>(i);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) FreeImage_GetScanLine(grey, 2 - y)[x] = static_cast<BYTE>(x * 60 + y);
  const std::string greyPath = dir.File("grey.bmp");
  ASSERT_TRUE(FreeImage_Save(FIF_BMP, grey, greyPath.c_str(), 0));
  FreeImage_Unload(grey);
  TestSession g;
  qvtest::OneImage(*g, greyPath);
  ASSERT_TRUE(qvtest::Processed(*g, 1, 1));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(g->pic.PicR(x, y), (x * 60 + y) * 8) << x << "," << y;
      EXPECT_EQ(g->pic.PicG(x, y), g->pic.PicR(x, y));
      EXPECT_EQ(g->pic.PicB(x, y), g->pic.PicR(x, y));
    }
}

TEST(Picture, JpegFilesKeepColoursAndOrientation) {
  TempDir dir;
  // Halves of whole 16 x 16 blocks, so that chroma sub-sampling does not
  // blur one colour into the other.
  const std::string path = dir.File("halves.jpg");
  SaveWithFreeImage(path, FIF_JPEG, 32, 32, Halves, JPEG_QUALITYSUPERB);
  TestSession s;
  qvtest::OneImage(*s, path);
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(s->Img[1].ImgBitpix, 8);
  ExpectPattern(*s, 32, 32, 1, Halves, 4, "FreeImage JPEG");
}

TEST(Picture, ImageMagickBmpAndJpegFilesLoad) {
  if (qvtest::RunCommand("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "convert is not installed";
  TempDir dir;
  // Netpbm input fixes every byte, so the converter decides nothing.
  auto writePpm = [&](const std::string& path, int w, int h, Rgb (*colour)(int, int)) {
    std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const Rgb c = colour(x, y);
        ppm += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
      }
    std::ofstream(path, std::ios::binary) << ppm;
  };
  writePpm(dir.File("p.ppm"), 9, 6, Pattern);
  writePpm(dir.File("h.ppm"), 32, 32, Halves);
  struct Case {
    const char* in;
    const char* out;
    const char* options;
    int w, h;
    Rgb (*colour)(int, int);
    int tolerance;
  } cases[] = {
      {"p.ppm", "im24.bmp", "-type TrueColor", 9, 6, Pattern, 0},
      {"p.ppm", "im32.bmp", "-type TrueColorAlpha -define bmp:format=bmp4", 9, 6, Pattern, 0},
      {"h.ppm", "im.jpg", "-quality 100", 32, 32, Halves, 4},
      {"h.ppm", "im.JPEG", "-quality 95", 32, 32, Halves, 6},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File(c.out);
    const std::string cmd = std::string("convert '") + dir.File(c.in) + "' " + c.options + " '" + out + "' 2>&1";
    ASSERT_EQ(qvtest::RunCommand(cmd), 0) << cmd;
    TestSession s;
    qvtest::OneImage(*s, out);
    ASSERT_TRUE(qvtest::Processed(*s, 1, 1)) << cmd;
    ExpectPattern(*s, c.w, c.h, 1, c.colour, c.tolerance, cmd);
  }
}

TEST(Picture, StepSubSamplesPictures) {
  TempDir dir;
  const std::string path = dir.File("wide.bmp");
  SaveWithFreeImage(path, FIF_BMP, 101, 51, Pattern);
  TestSession one, zero, two, three;
  for (auto* s : {&one, &zero, &two, &three}) qvtest::OneImage(**s, path);
  ASSERT_TRUE(qvtest::Processed(*one, 1, 1));
  ASSERT_TRUE(qvtest::Processed(*zero, 1, 0));
  ASSERT_TRUE(qvtest::Processed(*two, 1, 2));
  ASSERT_TRUE(qvtest::Processed(*three, 1, 3));
  EXPECT_TRUE(one->pic.PicR == zero->pic.PicR && one->pic.PicG == zero->pic.PicG && one->pic.PicB == zero->pic.PicB);
  EXPECT_EQ(one->pic.Histo, zero->pic.Histo);
  EXPECT_EQ(two->pic.PicR.Width(), 51);
  EXPECT_EQ(two->pic.PicR.Height(), 26);
  ExpectPattern(*two, 101, 51, 2, Pattern, 0, "step 2");
  EXPECT_EQ(three->pic.PicR.Width(), 34);
  EXPECT_EQ(three->pic.PicR.Height(), 17);
  ExpectPattern(*three, 101, 51, 3, Pattern, 0, "step 3");
}
