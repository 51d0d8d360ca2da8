// Saving what a view shows (JPEG, BMP), the writer chosen by the name, the
// batch TIFF conversion and the FITS header view.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "display/render.h"
#include "io/picture_export.h"
#include "process/image_files.h"
#include "support.h"
#include "workspace/save_commands.h"

namespace {

using qv::Plane;
using qvtest::TempDir;

// A picture with distinct colours in every pixel and large flat patches, so
// that a lossy decoder still gives each patch's colour back closely.
Plane<int32_t> Patches(int w, int h) {
  Plane<int32_t> p(w - 1, h - 1);
  const int32_t colours[4] = {qv::PackRgb(200, 30, 40), qv::PackRgb(20, 180, 60), qv::PackRgb(30, 40, 220),
                              qv::PackRgb(250, 250, 250)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p(x, y) = colours[(x >= w / 2) + 2 * (y >= h / 2)];
  return p;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(SaveJpeg, AnotherDecoderReadsTheShownPicture) {
  TempDir dir;
  // The array as a view shows it: 40 x 30 at 50% with aspect 1.5 and mirror.
  const Plane<int32_t> array = Patches(40, 30);
  const Plane<int32_t> shown = qv::ShowPixels(array, qv::ShowPixelsGeometry(40, 30, true, 1.5, 50, true));
  const std::string path = dir.File("preview.jpg"), ppm = dir.File("decoded.ppm");
  ASSERT_TRUE(qv::SaveJpeg(shown, path));
  // Decoded by a program that does not share our writer's library: its size,
  // then its pixels, row 0 at the top.
  if (qvtest::RunCommand("convert '" + path + "' -depth 8 ppm:'" + ppm + "' 2>/dev/null") != 0)
    GTEST_SKIP() << "no independent JPEG decoder";
  const std::vector<uint8_t> decoded = qvtest::ReadBytes(ppm);
  const std::string header = "P6\n30 15\n255\n";
  ASSERT_EQ(std::string(decoded.begin(), decoded.begin() + std::min(decoded.size(), header.size())), header);
  const uint8_t* rgb = decoded.data() + header.size();
  ASSERT_EQ(decoded.size(), header.size() + 30 * 15 * 3);
  // Patch centres, mirrored: the right half of the array shows on the left.
  const int expect[2][2][3] = {{{20, 180, 60}, {200, 30, 40}}, {{250, 250, 250}, {30, 40, 220}}};
  for (int py = 0; py < 2; ++py)
    for (int px = 0; px < 2; ++px)
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(rgb[((3 + 8 * py) * 30 + 7 + 15 * px) * 3 + c], expect[py][px][c], 12)
            << px << "," << py << " c" << c;
}

TEST(SavePictureAsBmp, LayoutRowPaddingAndOrder) {
  for (const int w : {10, 4, 1}) {
    Plane<int32_t> p(w - 1, 2);  // w x 3
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x) p(x, y) = qv::PackRgb(x, 100 + y, 200);
    const auto b = qv::BuildBmpFile(p);
    const size_t row = w == 10 ? 32 : w == 4 ? 12 : 4;
    ASSERT_EQ(b.size(), 54 + 3 * row) << w;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 2), "BM");
    // Size, the reserved words, pixels' offset, info header size, width,
    // height (positive: bottom row first), 1 plane and 24 bits; the rest 0.
    EXPECT_EQ(std::vector<uint32_t>(
                  {Le32(b, 2), Le32(b, 6), Le32(b, 10), Le32(b, 14), Le32(b, 18), Le32(b, 22), Le32(b, 26)}),
              std::vector<uint32_t>(
                  {static_cast<uint32_t>(b.size()), 0, 54, 40, static_cast<uint32_t>(w), 3, 1 + (24 << 16)}));
    for (size_t at = 30; at < 54; ++at) EXPECT_EQ(b[at], 0) << at;
    // The first stored row is the bottom one (y 2), blue first.
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 54, b.begin() + 57), (std::vector<uint8_t>{200, 102, 0}));
    EXPECT_EQ(b[54 + 2 * row + 1], 100);  // last stored row: the top
    EXPECT_EQ(b[54 + 3 * (w - 1) + 2], w - 1);
    for (size_t pad = 3 * w; pad < row; ++pad) EXPECT_EQ(b[54 + pad], 0);
  }
  EXPECT_TRUE(qv::BuildBmpFile(Plane<int32_t>()).empty());
}

// A name typed without extension takes the selected filter's; a name
// that has one keeps it, and the writer follows its lower-case extension.
TEST(SaveCommands, ABareNameTakesTheSelectedFiltersExtensionAndTheWriterFollowsIt) {
  using W = qv::PictureWriter;
  for (const auto& [name, writer] :
       {std::pair{"A.JPG", W::Jpeg}, {"a.Bmp", W::Bmp}, {"a.tiff", W::Fits}, {"tif", W::Tiff}, {"jp", W::Fits}})
    EXPECT_EQ(qv::WriterForName(name), writer) << name;
  EXPECT_EQ(qv::SaveDialogInitialName("/d/m31.fts"), "/d/m31");
  const qv::FileDialogRequest image = qv::SaveDialogParams().Request();
  qv::FileDialogRequest project;
  project.pattern = "*.txt";
  project.defaultExt = "txt";
  struct Case {
    const qv::FileDialogRequest& request;
    std::string typed;
    int filter;
    std::string saved;
  };
  const Case cases[] = {
      {image, "/d/m31", 0, "/d/m31.fts"},
      {image, "/d/m31", 3, "/d/m31.bmp"},
      {image, "/d/m31", -1, "/d/m31.bmp"},  // the dialog did not say: the default, in lower case
      {image, "/d/m31", 7, "/d/m31.bmp"},
      {image, "/d/m31.fits", 3, "/d/m31.fits"},
      {image, "/d/m31.TIF", 0, "/d/m31.TIF"},
      {image, "/d.v2/m31", 0, "/d.v2/m31.fts"},  // a point in a folder's name is no extension
      {image, "/d/m31.", 2, "/d/m31.jpg"},
      {image, "", 0, ""},  // cancelled
      {project, "/p/nuit", 0, "/p/nuit.txt"},
  };
  for (const Case& c : cases) EXPECT_EQ(qv::SavedName(c.request, {c.typed, c.filter}), c.saved) << c.typed;
  EXPECT_EQ(qv::FilterExtension("*.fts"), "fts");
  EXPECT_EQ(qv::FilterExtension("*.fts;*.fit"), "");
}

TEST(BatchTiff, ConvertsWhatIsNotTakenUnderANameToTheFirstDotF) {
  // The name runs to the first ".f", folders included; other kinds have none.
  EXPECT_EQ(qv::BatchTiffName("/data/M31.FIT"), "/data/M31.tif");
  EXPECT_EQ(qv::BatchTiffName("/data/my.files/m.fts"), "/data/my.tif");
  EXPECT_EQ(qv::BatchTiffName("/data/shot.tif"), "");
  TempDir dir;
  const std::string sim = qvtest::SimulateNight(dir, "sim", "--frames 3 --width 256 --height 192");
  // The second frame's TIFF exists already and must survive as it is.
  qvtest::WriteBytes(sim + "/frame002.tif", {7, 7, 7});
  const qvtest::CliResult r = qvtest::Cli(dir, "tiff-all '" + sim + "/project.txt'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"converted\":2,\"images\":3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frame003.tif\\r\\n2/3"), std::string::npos) << r.out;
  EXPECT_EQ(qvtest::ReadBytes(sim + "/frame002.tif"), (std::vector<uint8_t>{7, 7, 7}));
  for (const char* name : {"/frame001.tif", "/frame003.tif"})
    EXPECT_GT(std::filesystem::file_size(sim + name), 256u * 192 * 2) << name;
}

TEST(FitsHeaderView, CardsUpToEndAndCaption) {
  TempDir dir;
  const std::string path = dir.File("m42.fits");  // last four "fits": extension "fit"
  auto bytes = qvtest::FitsHeader({"SIMPLE  =                    T", "BITPIX  =                   16",
                                   "NAXIS   =                    0", "end", "COMMENT after the end"});
  qvtest::WriteBytes(path, bytes);
  qvtest::TestSession s(path);
  const auto v = qv::mnuFITS_Click(s.form1);
  ASSERT_TRUE(v.shown && v.lines.size() == 4);
  EXPECT_EQ(std::tuple(v.caption, v.lines[3].substr(0, 3), s.form1.DebugLog.size()),
            std::tuple("Entête FTS - m42.fits", "end", size_t{4}));

  // Without an END card: every whole card, the last block cut short too.
  std::vector<std::string> cards(40, "COMMENT");
  auto noEnd = qvtest::FitsHeader(cards);
  noEnd.resize(2880 + 80 * 4 + 50);
  qvtest::WriteBytes(dir.File("cut.fts"), noEnd);
  EXPECT_EQ(qv::ReadFitsHeaderView(dir.File("cut.fts")).lines.size(), 40u);

  EXPECT_FALSE(qv::ReadFitsHeaderView(dir.File("none.fts")).shown);
}

}  // namespace
