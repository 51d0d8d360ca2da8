// FITS output: the fixed header, the 16-bit samples with BZERO 32768, the
// statistics cards, and files that independent readers accept.
#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace

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
