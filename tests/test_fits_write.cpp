// FITS output: the 16-bit samples with BZERO 32768 and the statistics
// cards; the rest of the header is pinned by the golden outputs.
#include <gtest/gtest.h>

#include "io/fits_writer.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;

namespace {

// Card n (0-based) of the header, trailing blanks removed.
std::string Card(const std::vector<uint8_t>& file, int n) {
  std::string c(file.begin() + n * 80, file.begin() + n * 80 + 80);
  return c.erase(c.find_last_not_of(' ') + 1);
}

}  // namespace

// A picture's samples clipped to 0..65535, a negative one written as 0 and
// left out of the statistics; a destination's sum over weight rounded half
// to even, 0 where nothing fell, and fractional statistics written with no
// zero before the point.
TEST(FitsWrite, SamplesAreClippedAndStatisticsFollowThem) {
  TempDir dir;
  const std::string path = dir.File("out.fts");
  Plane<int32_t> r;
  qvtest::SetPlane(r, 2, 2, {-5, 100, 200, 70000});
  ASSERT_TRUE(WriteFitsFile(SavedPlanes::Picture(r, r, r, true), path));
  auto file = qvtest::ReadBytes(path);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 2880, file.begin() + 2888),
            (std::vector<uint8_t>{0x00, 0x00, 0x80, 0x64, 0x80, 0xC8, 0x7F, 0xFF}));
  EXPECT_EQ(Card(file, 8), "BACKGRND=                  100");
  EXPECT_EQ(Card(file, 9), "RANGE   =                65436");

  Plane<float> sum, weight;
  qvtest::SetPlane(sum, 3, 2, {9, 3, 5, 7, -4, 200000});
  qvtest::SetPlane(weight, 3, 2, {0, 2, 2, 2, 2, 2});
  const auto destination = [&] { return SavedPlanes::Destination(sum, sum, sum, weight, weight, weight, true); };
  ASSERT_TRUE(WriteFitsFile(destination(), path));
  EXPECT_EQ(qvtest::ReadFitsImage(path).values, (std::vector<int>{0, 2, 2, 4, 32768, 65535}));
  qvtest::SetPlane(sum, 2, 2, {1, 25, 300, 7});
  qvtest::SetPlane(weight, 2, 2, {2, 2, 3, 2});
  ASSERT_TRUE(WriteFitsFile(destination(), path));
  file = qvtest::ReadBytes(path);
  EXPECT_EQ(Card(file, 8), "BACKGRND=                   .5");
  EXPECT_EQ(Card(file, 9), "RANGE   =                100.5");
}
