// FITS input: headers parsed card by card, and data units of every BITPIX
// written by cfitsio decoded to the working scale.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "io/fits_reader.h"
#include "process/image_files.h"
#include "process/process_pic.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// Writes stored values exactly as given: BZERO, when there is one, goes in
// as a card only, so cfitsio must not scale what it writes.
void WriteWithCfitsio(const std::string& path, int bitpix, long w, long h, int planes,
                      const std::vector<double>& stored, const long* bzero = nullptr) {
  fitsfile* f = nullptr;
  int status = 0;
  const std::string target = "!" + path;
  fits_create_file(&f, target.c_str(), &status);
  long naxes[3] = {w, h, planes};
  fits_create_img(f, bitpix, planes == 1 ? 2 : 3, naxes, &status);
  if (bzero) {
    long bz = *bzero;
    fits_write_key(f, TLONG, "BZERO", &bz, "offset", &status);
    fits_set_bscale(f, 1.0, 0.0, &status);
  }
  // Every value fits the BITPIX's type (a whole number where it is one).
  std::vector<double> v = stored;
  fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(v.size()), v.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << "cfitsio status " << status << " for " << path;
}

// The header of the file at `path` read into a fresh entry.
ImageEntry ReadListHeader(const std::string& path, HeaderResult* result = nullptr) {
  FreeImageLoader loader;
  Plane<int32_t> pixels;
  ImageEntry e;
  const HeaderResult r = ReadHeader(path, e, &loader, pixels);
  if (result) *result = r;
  return e;
}

// BITPIX, NAXIS, NAXIS1, NAXIS2, NAXIS3, BZERO and the data's place.
std::vector<long> Fields(const ImageEntry& e) {
  return {e.ImgBitpix, e.ImgNaxis, e.ImgNaxis1, e.ImgNaxis2, e.ImgNaxis3, e.ImgBzero, e.ImgDataPos};
}

// One row of stored values and what each must become.
struct Decoding {
  const char* what;
  int bitpix;
  bool hasBzero;
  long bzero;
  std::vector<double> stored;
  std::vector<int32_t> expected;
};

}  // namespace

TEST(FitsRead, EveryBitpixDecodesToTheWorkingScale) {
  const Decoding cases[] = {
      {"8 bits", 8, false, 0, {0, 1, 128, 255, 17, 200}, {0, 8, 1024, 2040, 136, 1600}},
      {"8 bits, BZERO not applied", 8, true, 100, {255, 0, 3}, {2040, 0, 24}},
      // Stored as signed shorts: -32768 is bytes 80 00, 32767 is 7F FF.
      {"16 bits", 16, false, 0, {-32768, 32767, 0, -1, 1, 12345}, {32768, 32767, 0, 65535, 1, 12345}},
      {"BZERO 32768", 16, true, 32768, {-32768, 32767, 0, -1, 1, 12345}, {0, 65535, 32768, 32767, 32769, 45113}},
      {"16 bits, BZERO 1000 wraps", 16, true, 1000, {-536, 100, -1}, {464, 1100, 999}},
      {"16 bits, negative BZERO ignored", 16, true, -5, {-1, 7, 0}, {65535, 7, 0}},
      {"32 bits", 32, false, 0, {70000, -5, 65535, 65536, 123, -100000}, {65535, -5, 65535, 65535, 123, -100000}},
      {"singles", -32, false, 0, {2.5, 3.5, -2.5, -3.7, 65535.6, 70000, 1.49, 0.5}, {2, 4, -2, -4, 65535, 65535, 1, 0}},
      {"doubles", -64, false, 0, {-3.7, 2.5, 3.5, 65535.6, 65534.5, 1e10, -1e10}, {0, 2, 4, 65535, 65534, 65535, 0}},
  };
  TempDir dir;
  for (const Decoding& c : cases) {
    const int w = static_cast<int>(c.stored.size()), h = 2;
    for (int planes : {1, 3}) {
      // Value index of (x, y, plane): rows reversed on y 1 and each plane
      // rotated, so that a wrong stride or plane order shows.
      auto index = [&](int x, int y, int p) { return ((y == 0 ? x : w - 1 - x) + p) % w; };
      std::vector<double> stored;
      for (int p = 0; p < planes; ++p)
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) stored.push_back(c.stored[static_cast<size_t>(index(x, y, p))]);
      const std::string path = dir.File("img" + std::to_string(planes) + "p.fts");
      WriteWithCfitsio(path, c.bitpix, w, h, planes, stored, c.hasBzero ? &c.bzero : nullptr);

      TestSession s(path);
      const std::string what = std::string(c.what) + ", " + std::to_string(planes) + " plane(s)";
      ASSERT_TRUE(qvtest::Processed(*s, 1, 1)) << what;
      EXPECT_EQ(Fields(s->Img[1]), (std::vector<long>{c.bitpix, planes == 1 ? 2 : 3, w, h, planes == 1 ? 0 : 3,
                                                      c.hasBzero ? c.bzero : 0, 2881}))
          << what;
      ASSERT_TRUE(s->pic.PicR.HasSize(w, h)) << what;
      const Plane<int32_t>* out[3] = {&s->pic.PicR, &s->pic.PicG, &s->pic.PicB};
      for (int p = 0; p < 3; ++p)
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            EXPECT_EQ((*out[p])(x, y), c.expected[static_cast<size_t>(index(x, y, planes == 1 ? 0 : p))])
                << what << " plane " << p << " at " << x << "," << y;
    }
  }
}

// Values that are not numbers still fail the image, with a message that
// says so and where the first one lies; any other overflow (singles beyond
// the long range too) keeps its number.
TEST(FitsRead, NotANumberOrInfiniteValuesAreNamedWithTheirPlaceOverflowsKeepTheirNumber) {
  // A BZERO near the 32-bit limit overflows the sum of a 16-bit value and
  // BZERO: a run-time overflow, as in any 32-bit addition, never a wrapped
  // value; up to the limit the usual wrap-around still applies.
  const uint8_t top[2] = {0xFF, 0xFF}, zero[2] = {0, 0}, one[2] = {0, 1};
  for (const uint8_t* p : {top, one}) EXPECT_THROW(DecodeFits16(p, 2147483647), RuntimeError);
  EXPECT_EQ(DecodeFits16(zero, 2147483647), 2147483647 - 65536);
  EXPECT_EQ(DecodeFits16(top, 2147418112), 2147483647 - 65536);

  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    int bitpix, step;
    std::vector<std::pair<int, double>> odd;  // value index in the data unit, value
    const char* says;
  };
  const int w = 4, h = 3, planes = 3, planeSize = w * h;
  const std::vector<Case> cases = {
      {"NaN single on plane 3", FLOAT_IMG, 1, {{2 * planeSize + 1 * w + 3, nan}}, "x 3, y 1 du plan 3)"},
      {"infinite single", FLOAT_IMG, 1, {{5, -inf}}, "x 1, y 1 du plan 1)"},
      {"row before plane", FLOAT_IMG, 1, {{planeSize + 2, inf}, {2 * w + 1, nan}}, "x 2, y 0 du plan 2)"},
      {"NaN double", DOUBLE_IMG, 1, {{w + 2, nan}}, "x 2, y 1 du plan 1)"},
      {"a step: the full-size place", FLOAT_IMG, 2, {{2 * w + 2, nan}, {2 * w + 1, nan}}, "x 2, y 2 du plan 1)"},
      {"a finite overflow before it", FLOAT_IMG, 1, {{1, 1e10}, {2, nan}}, nullptr},
      {"a single far below the long range", FLOAT_IMG, 1, {{2 * w + 1, -1e10}}, nullptr},
  };
  TempDir dir;
  const std::string path = dir.File("odd.fts");
  for (const Case& c : cases) {
    std::vector<double> values(static_cast<size_t>(planeSize * planes), 100);
    for (const auto& [at, v] : c.odd) values[static_cast<size_t>(at)] = v;
    WriteWithCfitsio(path, c.bitpix, w, h, planes, values);
    TestSession s(path);
    const Outcome r = ProcessPic(*s, 1, c.step);
    EXPECT_FALSE(r) << c.what;
    if (c.says) {
      EXPECT_EQ(r.Text(),
                "le fichier contient des valeurs qui ne sont pas des nombres ou qui sont infinies (la "
                "première au pixel " +
                    std::string(c.says) + " : " + path)
          << c.what;
    } else {
      EXPECT_EQ(r.Text().rfind("erreur 6 ", 0), 0u) << c.what;
    }
  }
}

// Cards match by their trimmed keyword and the first word of their value;
// the name's extension picks the reader, and a list image's known header is
// kept.
TEST(FitsRead, CardsMatchByTrimmedKeywordAndKnownListHeadersAreKept) {
  TempDir dir;
  const std::string path = dir.File("cards.fts");
  qvtest::WriteBytes(path, qvtest::FitsHeader({
                               "simple  = T", "  BitPix=   8 / lower-case, blanks before the keyword",
                               "NAXIS   =                    2", "NAXIS1  =                  765 / a slash comment",
                               "NAXIS2  =                 12.5",
                               "NAXIS12 =                    9",  // only begins with naxis1
                               "NAXIS3A =                    3",
                               "BZERO   =     1E3 2",  // cut at the first blank of the value
                               "XNAXIS1 =                    4", "COMMENT NAXIS2 = 99 inside a comment card", "END",
                               "NAXIS1  =                    7",  // after END: ignored
                           }));
  HeaderResult r;
  const ImageEntry e = ReadListHeader(path, &r);
  EXPECT_EQ(r, HeaderResult::Ok);
  EXPECT_EQ(Fields(e), (std::vector<long>{8, 2, 765, 12, 0, 1000, 2881}));  // 12.5 rounds half to even

  qvtest::WriteBytes(path, qvtest::FitsHeader({"NAXIS1  = 13.5", "NAXIS2  = abc", "BITPIX  =", "END"}));
  EXPECT_EQ(Fields(ReadListHeader(path)), (std::vector<long>{0, 0, 14, 0, 0, 0, 2881}));

  // The same bytes under picture or TIFF names go to those readers, which
  // refuse them and leave the fields as they were.
  const std::pair<const char*, bool> names[] = {{"a.FITS", true},  {"b.Fit", true},   {"c.FTS", true},
                                                {"d.jpeg", false}, {"e.tiff", false}, {"f.fits.txt", false}};
  for (const auto& [name, read] : names) {
    qvtest::WriteFits16(dir.File(name), 3, 2, 1, std::vector<int>(6));
    EXPECT_EQ(ReadListHeader(dir.File(name), &r).ImgNaxis1, read ? 3 : 0) << name;
    EXPECT_EQ(r, read ? HeaderResult::Ok : HeaderResult::Unreadable) << name;
  }
  TestSession s(dir.File("a.FITS"));
  ASSERT_EQ(ReadHeader(*s, 1), HeaderResult::Ok);
  // A list image whose BITPIX is known is not read again, even if the
  // file changed since.
  qvtest::WriteFits16(dir.File("a.FITS"), 9, 9, 1, std::vector<int>(81));
  EXPECT_EQ(std::tuple(ReadHeader(*s, 1), s->Img[1].ImgNaxis1), std::tuple(HeaderResult::AlreadyRead, 3));
  // A missing file leaves every field alone.
  s->Img[1].ImgBitpix = 0;
  s->Img[1].ImgFile = dir.File("gone.fts");
  EXPECT_EQ(std::tuple(ReadHeader(*s, 1), s->Img[1].ImgNaxis1, s->Img[1].ImgDataPos),
            std::tuple(HeaderResult::Missing, 3, 2881));
}

TEST(FitsRead, FlagsComeFromReadoutSubFrameOriginAndInstrument) {
  const std::pair<const char*, int> cases[] = {
      // card, flags
      {"READOUTM= 'RAW     '", FlagRawCfa},
      {"READOUTM= 'Raw'", FlagRawCfa},
      {"READOUTM= 'Normal  '           / not a rAw frame", FlagRawCfa},  // the comment counts too
      {"XORGSUBF=                  101", FlagOddX},
      {"XORGSUBF=                 -101", 0},
      {"XORGSUBF=                  100", 0},
      {"YORGSUBF=                    7 / odd", FlagOddY},
      {"INSTRUME= 'SSDSI-2 camera'", FlagSsdsi},
      {"INSTRUME= 'Canon' / not ssdsi", FlagSsdsi},
      {"COMMENT raw ssdsi", 0},
  };
  TempDir dir;
  const std::string path = dir.File("flags.fts");
  for (const auto& [card, flags] : cases) {
    qvtest::WriteFits16(path, 2, 2, 1, {0, 0, 0, 0}, {card});
    EXPECT_EQ(ReadListHeader(path).ImgFlags, flags) << card;
  }

  // Masters share slot 0: each read starts from clear flags, BZERO and
  // NAXIS3, so one master's cards never leak into the next.
  qvtest::WriteFits16(
      dir.File("dark.fts"), 2, 2, 1, {0, 0, 0, 0},
      {"NAXIS3  = 3", "BZERO   = 32768", "READOUTM= 'RAW'", "XORGSUBF= 1", "YORGSUBF= 1", "INSTRUME= 'ssdsi'"});
  qvtest::WriteBytes(dir.File("flat.fts"), qvtest::FitsHeader(std::vector<std::string>{"BITPIX  = 16", "END"}));
  TestSession s;
  s->ResizeImageArrays(0);
  s->opt.DarkFile = dir.File("dark.fts");
  s->opt.FlatFile = dir.File("flat.fts");
  EXPECT_EQ(ReadHeader(*s, -1), HeaderResult::Ok);
  EXPECT_EQ(s->Img[0].ImgFlags, FlagRawCfa | FlagOddX | FlagOddY | FlagSsdsi);
  EXPECT_EQ(ReadHeader(*s, -2), HeaderResult::Ok);
  EXPECT_EQ(std::tuple(s->Img[0].ImgFlags, s->Img[0].ImgBzero, s->Img[0].ImgNaxis3), std::tuple(0, 0, 0));
}
