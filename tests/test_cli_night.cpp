// The command line as a user runs a night: masters from many frames,
// calibration options, values and paths checked before any work, outputs
// that are what their names say, and help.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/numeric.h"
#include "stack/frame_combine.h"
#include "support.h"

using qvtest::Cli;
using qvtest::CliResult;
using qvtest::Q;
using qvtest::TempDir;

namespace {

constexpr int kW = 7, kH = 5;

// A one-plane 16-bit frame holding `values` (0..65535) through BZERO.
void WriteFrame(const std::string& path, int w, int h, const std::vector<int>& values) {
  std::vector<int> stored;
  for (int v : values) stored.push_back(v - 32768);
  qvtest::WriteFits16(path, w, h, 1, stored, {"BZERO   =                32768"});
}

// The reference median: sort, and for an even count the two middle values'
// mean with halves to the even neighbour.
int SortedMedian(std::vector<int> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  if (n % 2) return v[n / 2];
  const int64_t sum = int64_t{v[n / 2 - 1]} + v[n / 2];
  int64_t q = sum >= 0 ? sum / 2 : -((-sum + 1) / 2);  // floor
  if (sum % 2 != 0 && q % 2 != 0) ++q;                 // a half goes to the even one
  return static_cast<int>(q);
}

std::vector<int> RandomFrame(std::mt19937& rng, int lo, int hi, int n = kW * kH) {
  std::uniform_int_distribution<int> d(lo, hi);
  std::vector<int> v(static_cast<size_t>(n));
  for (int& x : v) x = d(rng);
  return v;
}

// Numbered("d", k), built so that the compiler's overlap
// check has nothing to warn about.
std::string Numbered(const char* stem, int k) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%d.fts", stem, k);
  return name;
}

}  // namespace

// Dark and mask: the per-pixel median of their frames, a frame of another
// size refused; the flat: the mean of the flats less the dark, each scaled
// to the median level.
TEST(CliMaster, MastersAreThePlainCombinationsOfTheirFrames) {
  TempDir dir;
  std::mt19937 rng(11);
  std::vector<std::vector<int>> frames;
  std::string files;
  for (int k = 0; k < 4; ++k) {
    frames.push_back(RandomFrame(rng, 280, 330));
    WriteFrame(dir.File(Numbered("d", k)), kW, kH, frames.back());
    files.append(" ").append(Q(dir.File(Numbered("d", k))));
  }
  // A frame from another camera: refused with its size, the rest combined.
  WriteFrame(dir.File("other.fts"), kW + 1, kH, RandomFrame(rng, 0, 10, (kW + 1) * kH));
  const CliResult r =
      Cli(dir, "master dark" + files + " " + Q(dir.File("other.fts")) + " --out " + Q(dir.File("md.fts")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(qvtest::Contains(r.out, "\"used\":4")) << r.out;
  EXPECT_TRUE(qvtest::Contains(r.out, "other.fts\",\"reason\":\"taille 8 x 5")) << r.out;
  const std::vector<int> got = qvtest::ReadFitsImage(dir.File("md.fts")).values;
  ASSERT_EQ(got.size(), static_cast<size_t>(kW * kH));
  for (size_t i = 0; i < got.size(); ++i) {
    std::vector<int> column;
    for (const auto& f : frames) column.push_back(f[i]);
    ASSERT_EQ(got[i], SortedMedian(column)) << "pixel " << i;
  }

  // Three masks: the odd median; a folder stands for its frames.
  std::filesystem::create_directory(dir.path() / "masks");
  frames.resize(3);
  for (int k = 0; k < 3; ++k) WriteFrame(dir.File(Numbered("masks/m", k)), kW, kH, frames[k]);
  const CliResult m = Cli(dir, "master mask " + Q(dir.File("masks")) + " --out " + Q(dir.File("mm.fts")));
  ASSERT_EQ(m.status, 0) << m.err;
  const std::vector<int> mask = qvtest::ReadFitsImage(dir.File("mm.fts")).values;
  for (size_t i = 0; i < mask.size(); ++i)
    ASSERT_EQ(mask[i], SortedMedian({frames[0][i], frames[1][i], frames[2][i]})) << "pixel " << i;

  // Flats less the dark just made, each scaled to the median of their
  // levels, then averaged.
  std::vector<std::vector<int>> flats;
  files.clear();
  for (int k = 0; k < 3; ++k) {
    flats.push_back(RandomFrame(rng, 8000 * (k + 1), 9000 * (k + 1)));
    WriteFrame(dir.File(Numbered("f", k)), kW, kH, flats.back());
    files.append(" ").append(Q(dir.File(Numbered("f", k))));
  }
  const CliResult f =
      Cli(dir, "master flat" + files + " --dark " + Q(dir.File("md.fts")) + " --out " + Q(dir.File("mf.fts")));
  ASSERT_EQ(f.status, 0) << f.err;
  std::vector<int> medians;
  std::vector<std::vector<int>> less(3);
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < kW * kH; ++i) less[k].push_back(flats[k][i] - got[i]);
    medians.push_back(SortedMedian(less[k]));
  }
  const double target = SortedMedian(medians);
  const std::vector<int> flat = qvtest::ReadFitsImage(dir.File("mf.fts")).values;
  for (int i = 0; i < kW * kH; ++i) {
    double sum = 0;
    for (int k = 0; k < 3; ++k) sum += less[k][i] * (target / medians[k]);
    ASSERT_EQ(flat[i], static_cast<int>(qv::RoundHalfEven(sum / 3))) << "pixel " << i;
  }
  EXPECT_TRUE(qvtest::Contains(f.out, "\"dark_holes\":0")) << f.out;
  // A dark stronger than the flats at two pixels digs two holes, and says so.
  std::vector<int> hot = got;
  hot[3] = hot[17] = 60000;
  WriteFrame(dir.File("hot.fts"), kW, kH, hot);
  const CliResult h =
      Cli(dir, "master flat" + files + " --dark " + Q(dir.File("hot.fts")) + " --out " + Q(dir.File("mh.fts")));
  ASSERT_EQ(h.status, 0) << h.err;
  EXPECT_TRUE(qvtest::Contains(h.out, "\"dark_holes\":2")) << h.out;
  EXPECT_TRUE(qvtest::Contains(h.err, "atteint le quart du niveau de la PLU en 2 pixels")) << h.err;
}

class CliNight : public ::testing::Test {
 protected:
  void SetUp() override {
    qvtest::SimulateNight(dir, "sky", "--frames 3 --width 96 --height 72 --seed 3 --calibrated --calibration-frames 2");
    std::filesystem::create_directory(dir.path() / "lights");
    for (const char* f : {"frame001.fts", "frame002.fts", "frame003.fts"})
      std::filesystem::rename(dir.path() / "sky" / f, dir.path() / "lights" / f);
  }
  TempDir dir;
};

TEST_F(CliNight, AFolderOfLightsStacksInNameOrderBesideTheFirstImageWithoutOut) {
  const CliResult r = Cli(dir, "stack " + Q(dir.File("lights")) + " --guide auto --dark " +
                                   Q(dir.File("sky/dark.fts")) + " --flat " + Q(dir.File("sky/flat.fts")));
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t one = r.out.find("frame001"), two = r.out.find("frame002"), three = r.out.find("frame003");
  EXPECT_TRUE(one < two && two < three) << r.out;
  // The result takes the beginning the frames' names share.
  const std::string out = dir.File("lights/frame.fts");
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_TRUE(qvtest::Contains(r.err, "3 images combinées sur 3 acceptées → " + out)) << r.err;
  // Single-plane frames without Mono: the summary says what was written.
  EXPECT_TRUE(qvtest::Contains(r.out, "\"planes\":3") && qvtest::Contains(r.out, "0x18040")) << r.out;
}

// A project whose images are nowhere names them; one cut short says at
// which line, in words.
TEST_F(CliNight, AProjectSaysWhichImagesAreMissingAndWhereItEnds) {
  const std::string project = qvtest::ReadText(dir.File("sky/project.txt"));
  const CliResult missing = Cli(dir, "stack " + Q(dir.File("sky/project.txt")) + " --out " + Q(dir.File("r.fts")));
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(qvtest::Contains(missing.err, "ligne 17, image introuvable : " + dir.File("sky/frame001.fts") + "\n") &&
              qvtest::Contains(missing.err, "sky/frame003.fts") &&
              qvtest::Contains(missing.err, "aucune image du projet"))
      << missing.err;
  size_t at = 0;
  for (int line = 0; line < 5; ++line) at = project.find('\n', at) + 1;
  std::ofstream(dir.File("short.txt"), std::ios::binary) << project.substr(0, at);
  const CliResult cut = Cli(dir, "stack " + Q(dir.File("short.txt")) + " --out " + Q(dir.File("r.fts")));
  EXPECT_EQ(cut.status, 1);
  EXPECT_TRUE(qvtest::Contains(cut.err, "ligne 5 : le fichier s'arrête avant la fin attendue")) << cut.err;
}

TEST(CliHelp, EveryCommandAnswersHelp) {
  TempDir dir;
  for (const char* command : {"header", "process", "simulate", "stack", "render", "master", "settings", "project",
                              "tiff-all", "fits-header"}) {
    const CliResult r = Cli(dir, std::string(command) + " --help");
    EXPECT_EQ(r.status, 0) << command << r.err;
    EXPECT_TRUE(qvtest::Contains(r.out, command)) << command << ": " << r.out;
  }
  EXPECT_EQ(Cli(dir, "--version").out, std::string("quelvista-cli ") + QUELVISTA_VERSION + "\n");
}

TEST_F(CliNight, OnOneTerminalTheProgressBarNeverSharesALineWithJson) {
  if (qvtest::RunCommand("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) to give a terminal";
  // script(1) gives stdout and stderr one terminal, as a user's shell does.
  const std::string cmd =
      std::string(QUELVISTA_CLI) + " stack " + Q(dir.File("lights")) + " --guide auto --out " + Q(dir.File("r.fts"));
  std::string shown;
  ASSERT_EQ(qvtest::RunCommand("HOME=" + Q(dir.path().string()) + " script -qfec " + Q(cmd) + " /dev/null", &shown), 0);
  int lines = 0;
  for (size_t at = 0, end; (end = shown.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = shown.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // What the terminal leaves on the line: after the last return, once the
    // line is wiped.
    line = line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1);
    if (line.rfind("\033[K", 0) == 0) line = line.substr(3);
    if (line.find("\"accepted\"") == std::string::npos) continue;
    ++lines;
    EXPECT_EQ(line[0], '{') << line;
  }
  EXPECT_EQ(lines, 3) << shown;
}
