// The process command: the ways of giving settings, and its exit status.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>

#include "support.h"

using namespace qv;
using qvtest::TempDir;

namespace {

constexpr int kW = 24, kH = 16;

// A three-plane 16-bit file with BZERO 32768: a sky gradient, a few stars
// and one hot pixel, different in each plane.
void WriteSky(const std::string& path) {
  static const std::array<std::pair<int, int>, 3> stars{{{6, 5}, {17, 10}, {11, 3}}};
  std::vector<int> stored;
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        double v = 1500 + 40 * x + 25 * y + 300 * p + ((x * 7 + y * 13 + p) % 17) * 9;
        for (const auto& [sx, sy] : stars) v += 20000 * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 2.5);
        if (x == 3 && y == 12) v = 60000;
        stored.push_back(static_cast<int>(v) - 32768);
      }
  qvtest::WriteFits16(path, kW, kH, 3, stored, {"BZERO   =                32768"});
}

}  // namespace

TEST(Cli, SettingsOnTheCommandLineAndInAFileAreEquivalent) {
  TempDir dir;
  const std::string sky = dir.File("m42.fts");
  WriteSky(sky);
  const std::string ini = dir.File("opts.ini");
  std::ofstream(ini) << "[Settings]\nUseMask=16389\nCalcThr=200\nGradRatio=3\n";

  const qvtest::CliResult plain = qvtest::Cli(dir, "process '" + sky + "' --planes '" + dir.File("plain.raw") + "'");
  const qvtest::CliResult set =
      qvtest::Cli(dir, "process '" + sky + "' --set UseMask=16389 --set CalcThr=200 --set GradRatio=3 --planes '" +
                           dir.File("set.raw") + "'");
  const qvtest::CliResult file =
      qvtest::Cli(dir, "process '" + sky + "' --settings '" + ini + "' --planes '" + dir.File("ini.raw") + "'");
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(set.status, 0) << set.err;
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(set.out, file.out);
  EXPECT_EQ(qvtest::ReadBytes(dir.File("set.raw")), qvtest::ReadBytes(dir.File("ini.raw")));
  // The options did act: the hot pixel and the gradient are gone.
  EXPECT_NE(qvtest::ReadBytes(dir.File("set.raw")), qvtest::ReadBytes(dir.File("plain.raw")));

  // A later --set overrides the file; Mono gives a one-plane FITS file.
  const qvtest::CliResult mono =
      qvtest::Cli(dir, "process '" + sky + "' --settings '" + ini + "' --set UseMask=64 --step 2 --out '" +
                           dir.File("mono.fts") + "'");
  ASSERT_EQ(mono.status, 0) << mono.err;
  EXPECT_NE(mono.out.find("\"width\":12,\"height\":8,"), std::string::npos) << mono.out;
  const qvtest::FitsImage img = qvtest::ReadFitsImage(dir.File("mono.fts"));
  EXPECT_EQ(img.values.size(), 12u * 8u);
  EXPECT_EQ(img.planes, 1);
}

TEST(Cli, ExitStatus) {
  TempDir dir;
  // Built in two steps: GCC 12 warns falsely about "literal" + temporary string.
  std::string sky = "'";
  sky += dir.File("m42.fts") + "'";
  WriteSky(dir.File("m42.fts"));
  struct Case {
    std::string args;
    int status;
  } cases[] = {
      {"process " + sky, 0},
      {"process " + sky + " --step 0", 0},
      {"", 2},
      {"nonsense", 2},
      {"process", 2},
      {"process " + sky + " --bogus", 2},
      {"process " + sky + " --step", 2},
      {"process " + sky + " --step -1", 2},
      {"process " + sky + " --set UseMask", 2},
      {"process " + sky + " --set NoSuchKey=1", 2},
      {"process " + sky + " --set CalcSize=abc", 2},
      {"process " + sky + " " + sky, 2},
      {"process " + sky + " --settings '" + dir.File("absent.ini") + "'", 1},
      {"process " + sky + " --out '" + dir.File("no/such/dir/o.fts") + "'", 1},
      {"process " + sky + " --planes '" + dir.File("no/such/dir/o.raw") + "'", 1},
  };
  for (const Case& c : cases) {
    const qvtest::CliResult r = qvtest::Cli(dir, c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    if (c.status != 0) {
      EXPECT_FALSE(r.err.empty()) << c.args;
    }
  }
  // An output folder that does not exist is said before the processing.
  const qvtest::CliResult r = qvtest::Cli(dir, "process " + sky + " --out '" + dir.File("no/such/dir/o.fts") + "'");
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("no/such/dir"), std::string::npos) << r.err;
}
