// FITS output: the fixed header, the 16-bit samples with BZERO 32768, the
// statistics cards, and files that independent readers accept.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "core/options.h"
#include "io/fits_writer.h"
#include "process/image_files.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// Card n (0-based) of the header, trailing blanks removed.
std::string Card(const std::vector<uint8_t>& file, int n) {
  std::string c(file.begin() + n * 80, file.begin() + n * 80 + 80);
  return c.erase(c.find_last_not_of(' ') + 1);
}

int Save(Session& s, const std::string& path, bool fromDestination) {
  bool from = fromDestination;
  return WriteFitsFile(s, path, from).err;
}

}  // namespace

TEST(FitsWrite, MonochromeHeaderIsByteExact) {
  Plane<int32_t> r;
  qvtest::SetPlane(r, 3, 2, {10, 20, 30, 40, 50, 12});
  const FitsImage img = BuildFitsImage(SavedPlanes::Picture(r, r, r, true));
  ASSERT_EQ(img.data.size(), 2880u);

  const char* cards[] = {"SIMPLE  =                    T",
                         "BITPIX  =                   16",
                         "NAXIS   =                    2",
                         "NAXIS1  =                    3",
                         "NAXIS2  =                    2",
                         "HISTORY =    Forced Monochrome",
                         "BSCALE  =                  1.0",
                         "BZERO   =                32768",
                         "BACKGRND=                   10",
                         "RANGE   =                   41",
                         "END"};
  std::string expected(2880, ' ');
  for (size_t i = 0; i < std::size(cards); ++i) expected.replace(i * 80, std::strlen(cards[i]), cards[i]);
  EXPECT_EQ(std::string(img.header.begin(), img.header.end()), expected);

  // Each sample is the value minus 32768 as 16 bits, high byte first; the
  // rest of the block is zero.
  const std::vector<uint8_t> data(img.data.begin(), img.data.begin() + 12);
  EXPECT_EQ(data, (std::vector<uint8_t>{0x80, 0x0A, 0x80, 0x14, 0x80, 0x1E, 0x80, 0x28, 0x80, 0x32, 0x80, 0x0C}));
  EXPECT_TRUE(std::all_of(img.data.begin() + 12, img.data.end(), [](uint8_t b) { return b == 0; }));
}

TEST(FitsWrite, ValuesAreClippedAndStatisticsFollowThem) {
  TempDir dir;
  Plane<int32_t> r;
  qvtest::SetPlane(r, 2, 2, {0, 32768, 65535, 70000});
  const std::string path = dir.File("clip.fts");
  ASSERT_TRUE(WriteFitsFile(SavedPlanes::Picture(r, r, r, true), path));
  const auto file = qvtest::ReadBytes(path);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 2880, file.begin() + 2888),
            (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0x7F, 0xFF}));
  EXPECT_EQ(Card(file, 8), "BACKGRND=                    0");
  EXPECT_EQ(Card(file, 9), "RANGE   =                65536");
  EXPECT_EQ(qvtest::ReadFitsImage(path).values, (std::vector<int>{0, 32768, 65535, 65535}));

  // A negative sample keeps its zero bytes (32768 through BZERO) and is not
  // part of the statistics.
  qvtest::SetPlane(r, 2, 2, {-5, 100, 200, 300});
  ASSERT_TRUE(WriteFitsFile(SavedPlanes::Picture(r, r, r, true), path));
  const auto neg = qvtest::ReadBytes(path);
  EXPECT_EQ(neg[2880], 0);
  EXPECT_EQ(neg[2881], 0);
  EXPECT_EQ(Card(neg, 8), "BACKGRND=                  100");
  EXPECT_EQ(Card(neg, 9), "RANGE   =                  201");
}

TEST(FitsWrite, ColourPlanesAreStoredPlaneByPlane) {
  TempDir dir;
  Plane<int32_t> r, g, b;
  qvtest::SetPlane(r, 3, 2, {1, 2, 3, 4, 5, 6});
  qvtest::SetPlane(g, 3, 2, {100, 200, 300, 400, 500, 600});
  qvtest::SetPlane(b, 3, 2, {60000, 50000, 40000, 30000, 20000, 10000});
  const std::string path = dir.File("rgb.fts");
  ASSERT_TRUE(WriteFitsFile(SavedPlanes::Picture(r, g, b, false), path));
  const qvtest::FitsImage back = qvtest::ReadFitsImage(path);
  EXPECT_EQ(back.w, 3);
  EXPECT_EQ(back.h, 2);
  EXPECT_EQ(back.planes, 3);
  EXPECT_EQ(back.values, (std::vector<int>{1, 2, 3, 4, 5, 6, 100, 200, 300, 400, 500, 600, 60000, 50000, 40000, 30000,
                                           20000, 10000}));
  EXPECT_EQ(Card(qvtest::ReadBytes(path), 8), "BACKGRND=                    1");
}

TEST(FitsWrite, DestinationIsSumOverWeightRoundedHalfToEven) {
  TempDir dir;
  Plane<float> sum, weight;
  // Uncovered (weight 0), 1.5, 2.5, 3.5, a negative mean, and a mean
  // above the 16-bit range.
  qvtest::SetPlane(sum, 3, 2, {9, 3, 5, 7, -4, 200000});
  qvtest::SetPlane(weight, 3, 2, {0, 2, 2, 2, 2, 2});
  const std::string path = dir.File("dest.fts");
  ASSERT_TRUE(WriteFitsFile(SavedPlanes::Destination(sum, sum, sum, weight, weight, weight, true), path));
  EXPECT_EQ(qvtest::ReadFitsImage(path).values, (std::vector<int>{0, 2, 2, 4, 32768, 65535}));
  const auto file = qvtest::ReadBytes(path);
  EXPECT_EQ(Card(file, 8), "BACKGRND=                    0");
  EXPECT_EQ(Card(file, 9), "RANGE   =                65536");

  // Fractional statistics: no zero before the point, no trailing zeros.
  qvtest::SetPlane(sum, 2, 2, {1, 25, 300, 7});
  qvtest::SetPlane(weight, 2, 2, {2, 2, 3, 2});
  ASSERT_TRUE(WriteFitsFile(SavedPlanes::Destination(sum, sum, sum, weight, weight, weight, true), path));
  const auto frac = qvtest::ReadBytes(path);
  EXPECT_EQ(Card(frac, 8), "BACKGRND=                   .5");
  EXPECT_EQ(Card(frac, 9), "RANGE   =                100.5");
}

TEST(FitsWrite, FilesPassFitsverify) {
  if (qvtest::RunCommand("command -v fitsverify >/dev/null 2>&1") != 0) GTEST_SKIP() << "fitsverify is not installed";
  TempDir dir;
  Plane<int32_t> r, g, b;
  qvtest::SetPlane(r, 5, 3, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 65535, 70000, 32768, 32767, 12});
  qvtest::SetPlane(g, 5, 3, std::vector<int32_t>(15, 400));
  qvtest::SetPlane(b, 5, 3, std::vector<int32_t>(15, 9));
  for (const bool mono : {false, true}) {
    const std::string path = dir.File(mono ? "mono.fts" : "colour.fts");
    ASSERT_TRUE(WriteFitsFile(SavedPlanes::Picture(r, g, b, mono), path));
    std::string out;
    qvtest::RunCommand("fitsverify '" + path + "' 2>&1", &out);
    EXPECT_NE(out.find(" 0 error"), std::string::npos) << out;
  }
}

TEST(FitsWrite, FailuresReturnAnErrorAndLeaveAnExistingFileAlone) {
  TempDir dir;
  TestSession s;
  qvtest::SetPicture(*s, 100, 50, [](int, int, int) { return 1234; });
  s->opt.UseMask = Mono;
  EXPECT_NE(Save(*s, dir.File("no/such/folder/x.fts"), false), 0);
  std::filesystem::create_directory(dir.File("folder.fts"));
  EXPECT_NE(Save(*s, dir.File("folder.fts"), false), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.fts")));

  const std::string keep = dir.File("keep.fts");
  const std::vector<uint8_t> original(100, 0x5A);
  qvtest::WriteBytes(keep, original);

  // Nothing to write: no planes of the chosen source.
  EXPECT_NE(Save(*s, keep, true), 0);
  EXPECT_EQ(qvtest::ReadBytes(keep), original);

  // A disk that fills up half-way through the file: the file-size limit
  // makes every write past 4000 bytes fail as a full disk would.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4000;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int err = Save(*s, keep, false);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_NE(err, 0);
  EXPECT_EQ(qvtest::ReadBytes(keep), original);
  // No half-written file is left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);

  // Once the write can succeed, the old file is replaced.
  ASSERT_EQ(Save(*s, keep, false), 0);
  EXPECT_EQ(qvtest::ReadBytes(keep).size(), 14400u);
}
