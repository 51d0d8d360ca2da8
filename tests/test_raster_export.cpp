// JPEG and BMP files of a rendered picture.
#include <gtest/gtest.h>

#include "io/raster_export.h"
#include "platform/platform.h"
#include "support.h"

using qvtest::TempDir;

namespace {

qv::Plane<int32_t> Gradient(int w, int h) {
  qv::Plane<int32_t> p(w - 1, h - 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p(x, y) = (x * 20) << 16 | (y * 30) << 8 | 0x40;
  return p;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

}  // namespace

TEST(RasterExport, BmpRowsArePaddedAndStoredBottomUp) {
  for (const auto& [w, row] : {std::pair{10, 32}, std::pair{4, 12}, std::pair{1, 4}}) {
    const std::vector<uint8_t> b = qv::BmpImage(Gradient(w, 3));
    ASSERT_EQ(b.size(), 54u + static_cast<size_t>(row) * 3) << w;
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Le32(b, 2), b.size());
    EXPECT_EQ(Le32(b, 10), 54u);
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(Le32(b, 18), static_cast<uint32_t>(w));
    EXPECT_EQ(Le32(b, 22), 3u);  // positive: bottom-up rows
    EXPECT_EQ(b[28], 24);
    // The first stored row is the picture's last: y = 2, green 60.
    EXPECT_EQ(b[54], 0x40);      // blue
    EXPECT_EQ(b[55], 60);        // green
    EXPECT_EQ(b[56], 0);         // red of x = 0
  }
  EXPECT_TRUE(qv::BmpImage(qv::Plane<int32_t>()).empty());
}

TEST(RasterExport, FilesDecodeBackToThePicture) {
  TempDir dir;
  const qv::Plane<int32_t> picture = Gradient(12, 8);
  qv::FreeImageLoader loader;
  qv::Plane<int32_t> back;

  ASSERT_TRUE(qv::SavePictureAsBmp(picture, dir.File("p.bmp")));
  ASSERT_TRUE(loader.Load(dir.File("p.bmp"), back));
  EXPECT_EQ(back, picture);

  // JPEG is lossy: a picture of flat halves (red above, blue below) shows
  // whether rows or channels came out swapped.
  qv::Plane<int32_t> halves(31, 31);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) halves(x, y) = y < 16 ? 0xD02010 : 0x1030C0;
  ASSERT_TRUE(qv::SaveJpeg(halves, dir.File("p.jpg")));
  ASSERT_TRUE(loader.Load(dir.File("p.jpg"), back));
  ASSERT_TRUE(back.HasSize(32, 32));
  for (const auto& [y, colour] : {std::pair{4, 0xD02010}, std::pair{27, 0x1030C0}})
    for (int shift : {0, 8, 16}) EXPECT_NEAR((back(16, y) >> shift) & 0xFF, (colour >> shift) & 0xFF, 8) << y;

  // Nothing to write, or nowhere to write it: no file, and an existing one stays.
  EXPECT_FALSE(qv::SaveJpeg(qv::Plane<int32_t>(), dir.File("e.jpg")));
  EXPECT_FALSE(qv::SavePictureAsBmp(picture, dir.File("absent/p.bmp")));
  qvtest::WriteBytes(dir.File("keep.jpg"), {1, 2, 3});
  EXPECT_FALSE(qv::SaveJpeg(qv::Plane<int32_t>(), dir.File("keep.jpg")));
  EXPECT_EQ(qvtest::ReadBytes(dir.File("keep.jpg")), (std::vector<uint8_t>{1, 2, 3}));
}
