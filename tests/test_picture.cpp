// Raster pictures: BMP and JPEG files from independent writers become three
// 8-bit planes on the working scale, top row first.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "process/image_files.h"
#include "process/process_pic.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

struct Rgb {
  int r, g, b;
};

// Every pixel within `tolerance` (in file bytes) of the pattern.
void ExpectPattern(const Session& s, int w, int h, const std::function<Rgb(int, int)>& colour, int tolerance,
                   const std::string& what) {
  ASSERT_TRUE(s.pic.PicR.HasSize(w, h)) << what;
  int bad = 0;
  for (int y = 0; y < s.pic.PicR.Height(); ++y)
    for (int x = 0; x < s.pic.PicR.Width(); ++x) {
      const Rgb c = colour(x, y);
      const int got[3] = {s.pic.PicR(x, y), s.pic.PicG(x, y), s.pic.PicB(x, y)};
      const int want[3] = {c.r * 8, c.g * 8, c.b * 8};
      for (int p = 0; p < 3; ++p)
        if (std::abs(got[p] - want[p]) > tolerance * 8 && bad++ < 5)
          ADD_FAILURE() << what << " plane " << p << " at " << x << "," << y << ": " << got[p] << " instead of "
                        << want[p];
    }
}

Rgb Halves(int, int y) { return y < 16 ? Rgb{200, 40, 30} : Rgb{20, 60, 220}; }

// Sixteen colours in a pattern with runs of several lengths, so that a
// palette writer keeps every colour exactly and run-length coding has runs;
// y 0 at the top, and the three channels differ, so that a flipped picture
// or swapped channels show.
Rgb Sixteen(int x, int y) {
  const int i = ((x / 3) * 5 + y * 3 + (x * y) % 4) % 16;
  return {i * 16, 255 - i * 13, (i * 77) % 256};
}

void WritePpm(const std::string& path, int w, int h, Rgb (*colour)(int, int)) {
  std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb c = colour(x, y);
      ppm += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
    }
  std::ofstream(path, std::ios::binary) << ppm;
}

// A BMP whose palette, when it has one, holds 16 colours: colour i is
// PaletteColour(i).
Rgb PaletteColour(int i) { return {i * 16, 255 - i * 16, i * 8}; }
std::vector<uint8_t> HandBmp(int w, int h, int bits, int compression, const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> palette;
  for (int i = 0; i < (bits <= 8 ? 16 : 0); ++i) {
    const Rgb c = PaletteColour(i);
    palette.insert(palette.end(), {static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.r), 0});
  }
  return qvtest::BmpFile(w, h, bits, compression, palette, pixels);
}

}  // namespace

// The pictures common writers produce: a JPEG of halves of whole 16 x 16
// blocks (so that chroma sub-sampling does not blur one colour into the
// other), with an upper-case extension of four letters; BMP palette pictures
// of 4 and 8 bits, run-length coded ones (whose rows the writer pads with
// runs past the width), 16- and 32-bit bit fields, with plain, version 4 and
// version 5 headers, at odd sizes whose rows need padding.
TEST(Picture, JpegAndBmpVariantsFromImageMagickLoad) {
  if (qvtest::RunCommand("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "convert is not installed";
  TempDir dir;
  WritePpm(dir.File("h.ppm"), 32, 32, Halves);
  WritePpm(dir.File("s.ppm"), 37, 23, Sixteen);
  struct Case {
    const char *out, *options;
    int tolerance;
  } cases[] = {
      {"im.JPEG", "-quality 95 ", 6},
      {"rle8v5.bmp", "-type Palette -compress RLE bmp:", 0},
      {"pal4.bmp", "-type Palette bmp3:", 0},
      {"rgb565.bmp", "-define bmp:subtype=RGB565 bmp:", 8},
      {"argb32v4.bmp", "-type TrueColorAlpha -define bmp:format=bmp4 bmp:", 0},
      {"bgr24v5.bmp", "-type TrueColor bmp:", 0},
  };
  for (const Case& c : cases) {
    const bool jpeg = c.tolerance == 6;
    const std::string out = dir.File(c.out);
    const std::string cmd = "convert '" + dir.File(jpeg ? "h.ppm" : "s.ppm") + "' " + c.options + "'" + out + "' 2>&1";
    ASSERT_EQ(qvtest::RunCommand(cmd), 0) << cmd;
    TestSession s(out);
    ASSERT_TRUE(qvtest::Processed(*s, 1, 1)) << cmd;
    ExpectPattern(*s, jpeg ? 32 : 37, jpeg ? 32 : 23, jpeg ? Halves : Sixteen, c.tolerance, cmd);
  }
}

// Run-length coding by hand: runs cut at the end of their row, literal
// pixels with their padding, jumps, an early end of the stream; and a
// top-down picture.
TEST(Picture, RunLengthAndTopDownBmpFilesDecodeByHand) {
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::vector<std::vector<int>> indices;
  };
  const std::vector<Case> cases = {
      {"rle4.bmp",
       HandBmp(5, 3, 4, 2, {7, 0x12, 0,    0,                                      // bottom row: 1 2 1 2 1, two cut
                            0, 3,    0x34, 0x50, 0,    2, 1, 0,    1, 0x60, 0, 0,  // 3 4 5, skip one, 6
                            0, 5,    0x78, 0x9A, 0xB0, 0, 2, 0xCC, 0, 1}),         // 7..11, a run past the row
       {{7, 8, 9, 10, 11}, {3, 4, 5, 0, 6}, {1, 2, 1, 2, 1}}},
      {"rle8.bmp",
       HandBmp(4, 3, 8, 1,
               {0, 3, 9, 10, 11, 0, 1, 12, 0, 0,  // literal of odd length, padded
                0, 2, 2, 1,                       // jump two right, one up: to the top row
                2, 13}),                          // and the stream stops there
       {{0, 0, 13, 13}, {0, 0, 0, 0}, {9, 10, 11, 12}}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File(c.name);
    qvtest::WriteBytes(path, c.file);
    TestSession s(path);
    ASSERT_TRUE(qvtest::Processed(*s, 1, 1)) << c.name;
    ExpectPattern(
        *s, static_cast<int>(c.indices[0].size()), static_cast<int>(c.indices.size()),
        [&](int x, int y) { return PaletteColour(c.indices[static_cast<size_t>(y)][static_cast<size_t>(x)]); }, 0,
        c.name);
  }

  // 24 bits, negative height: the first row in the file is the top one.
  std::vector<uint8_t> rows;
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const Rgb c = Sixteen(x, y);
      rows.insert(rows.end(), {static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.r)});
    }
    rows.insert(rows.end(), 3, 0);
  }
  const std::string path = dir.File("topdown.bmp");
  qvtest::WriteBytes(path, HandBmp(3, -2, 24, 0, rows));
  TestSession s(path);
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  ExpectPattern(*s, 3, 2, Sixteen, 0, "top-down");
}
