// Golden outputs: a seeded set of inputs made here (simulated skies in
// every sample format and colour arrangement, hand-built FITS files,
// masters, zones) goes through every command of the tool, and a digest of
// every output (JSON, messages, planes, written FITS and TIFF bytes,
// project files) must match the one recorded in golden/outputs.txt.
//
// A digest may change only in a commit that fixes a bug and says which.
// To record them again: QUELVISTA_GOLDEN_RECORD=1 quelvista_tests --gtest_filter='Golden.*'
// Before that, see what moved: QUELVISTA_GOLDEN_DUMP=DIR writes every kept
// output (as digested, paths made neutral) to DIR/NAME; dump with the code
// before and after the change and compare the two folders with diff -r.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "support.h"

using qvtest::TempDir;

namespace {

// FNV-1a, 64 bits: enough to tell two outputs apart, and stable everywhere.
std::string Digest(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

class Golden : public ::testing::Test {
 protected:
  TempDir dir;
  std::map<std::string, std::string> got;  // name -> "size digest"

  std::string Q(const std::string& name) const {
    std::string quoted(1, '\'');
    quoted += dir.File(name);
    return quoted += '\'';
  }

  // Paths of this run's folder and of the tool's folder are replaced, so
  // that the digests do not depend on where the test runs.
  std::string Neutral(std::string text) const {
    text = ReplaceAll(text, dir.path().string(), "@DIR");
    const std::string cli = QUELVISTA_CLI;
    return ReplaceAll(text, cli.substr(0, cli.rfind('/')), "@BIN");
  }

  void Keep(const std::string& name, const std::string& bytes) {
    ASSERT_FALSE(got.count(name)) << name;
    got[name] = std::to_string(bytes.size()) + " " + Digest(bytes);
    if (const char* dump = std::getenv("QUELVISTA_GOLDEN_DUMP"); dump && *dump) {
      const std::filesystem::path file = std::filesystem::path(dump) / name;
      std::filesystem::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << bytes;
    }
  }
  void KeepFile(const std::string& name, const std::string& file, bool text = false) {
    const std::string bytes = qvtest::ReadText(dir.File(file));
    Keep(name, text ? Neutral(bytes) : bytes);
  }

  // One run of the tool: its status, standard output and messages (the
  // time left of the stacking progress lines is the clock's, not ours).
  void Run(const std::string& name, const std::string& args) {
    const qvtest::CliResult r = qvtest::Cli(dir, args, "TMPDIR=" + Q("tmp") + " ");
    static const std::regex left("reste [0-9]+:[0-9]+");
    Keep(name,
         std::to_string(r.status) + "\n" + Neutral(r.out) + "\n" + std::regex_replace(Neutral(r.err), left, "reste -"));
  }

  void Compare() {
    const std::string path = QUELVISTA_GOLDEN_FILE;
    if (std::getenv("QUELVISTA_GOLDEN_RECORD")) {
      std::ofstream f(path, std::ios::binary);
      f << "# name size digest: the tool's outputs on the golden inputs\n";
      for (const auto& [name, digest] : got) f << name << " " << digest << "\n";
      GTEST_SKIP() << "recorded " << got.size() << " digests in " << path;
    }
    std::map<std::string, std::string> want;
    std::istringstream in(qvtest::ReadText(path));
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      const size_t sp = line.find(' ');
      want[line.substr(0, sp)] = line.substr(sp + 1);
    }
    ASSERT_FALSE(want.empty()) << "no golden digests in " << path;
    for (const auto& [name, digest] : want) EXPECT_EQ(got.count(name) ? got[name] : "absent", digest) << name;
    for (const auto& [name, digest] : got) EXPECT_TRUE(want.count(name)) << "not recorded: " << name;
  }

  void Simulate(const std::string& name, const std::string& options) {
    Run("simulate." + name, "simulate --out " + Q(name) + " " + options);
  }
};

TEST_F(Golden, EveryCommandGivesTheRecordedOutputs) {
  std::filesystem::create_directory(dir.path() / "tmp");

  // Inputs. The simulator's files are outputs too: keep their bytes.
  Simulate("mono", "--frames 5 --width 96 --height 72 --seed 3 --rotation 0.8 --hot-pixels --vignetting --cloud 4");
  for (const auto& [name, bitpix] : {std::pair{"b8", "8"}, {"b32", "32"}, {"bm32", "-32"}, {"bm64", "-64"}})
    Simulate(name, std::string("--frames 2 --width 64 --height 64 --seed 5 --bitpix ") + bitpix);
  Simulate("rgb", "--frames 3 --width 64 --height 64 --seed 9 --colour rgb --rotation -0.5");
  Simulate("cfa", "--frames 3 --width 64 --height 64 --seed 11 --colour cfa --hot-pixels");
  Simulate("split", "--frames 2 --width 72 --height 64 --seed 13 --colour split");
  Simulate("tif", "--frames 2 --width 72 --height 64 --seed 15 --format tif --colour rgb");
  Simulate("bmp", "--frames 2 --width 72 --height 64 --seed 17 --format bmp");
  for (const char* sim : {"mono", "rgb", "cfa", "split", "tif", "bmp"})
    for (const auto& e : std::filesystem::directory_iterator(dir.path() / sim)) {
      const std::string file = std::string(sim) + "/" + e.path().filename().string();
      KeepFile("input." + file, file, e.path().extension() == ".txt" || e.path().extension() == ".json");
    }
  for (const char* sim : {"b8", "b32", "bm32", "bm64"})
    KeepFile(std::string("input.") + sim, std::string(sim) + "/frame001.fts");

  // Hand-built FITS files: signed values without BZERO, an odd-sized raw
  // readout, three planes, and headers with unusual cards.
  std::vector<int> ramp;
  for (int i = 0; i < 15 * 11; ++i) ramp.push_back((i * 397) % 65536 - 32768);
  qvtest::WriteFits16(dir.File("signed.fts"), 15, 11, 1, ramp);
  qvtest::WriteFits16(dir.File("raw.fts"), 15, 11, 1, ramp, {"BZERO   = 32768", "READOUTM= 'RAW     '"});
  std::vector<int> three;
  for (int i = 0; i < 12 * 9 * 3; ++i) three.push_back((i * 1013) % 30000);
  qvtest::WriteFits16(dir.File("three.fts"), 12, 9, 3, three, {"BZERO   = 0", "BSCALE  = 1.0"});
  qvtest::WriteFits16(dir.File("odd.fts"), 15, 11, 1, ramp,
                      {"BZERO   = 32768", "ROWORDER= 'TOP-DOWN'", "COMMENT = 'x'", "XBINNING= 2"});
  qvtest::WriteBytes(dir.File("short.fts"), qvtest::FitsHeader({"SIMPLE  = T", "BITPIX  = 16", "NAXIS   = 2"}));

  const std::vector<std::string> singles = {
      "mono/frame001.fts", "mono/dark.fts",     "mono/flat.fts",    "b8/frame001.fts",  "b32/frame001.fts",
      "bm32/frame001.fts", "bm64/frame001.fts", "rgb/frame001.fts", "cfa/frame001.fts", "split/frame001.fts",
      "tif/frame001.tif",  "bmp/frame001.bmp",  "signed.fts",       "raw.fts",          "three.fts",
      "odd.fts",           "short.fts",         "absent.fts"};
  for (size_t i = 0; i < singles.size(); ++i) {
    const std::string f = Q(singles[i]), n = std::to_string(i);
    Run("header." + singles[i], "header " + f);
    Run("process." + singles[i], "process " + f + " --out " + Q(n + ".fts") + " --planes " + Q(n + ".raw"));
    KeepFile("process.fts." + singles[i], n + ".fts");
    KeepFile("process.raw." + singles[i], n + ".raw");
    Run("process.tif." + singles[i], "process " + f + " --step 2 --out " + Q(n + ".tif"));
    KeepFile("process.tif.bytes." + singles[i], n + ".tif");
  }

  // The pipeline's options on one frame each: every UseMask bit alone,
  // then masters, zones and reduced steps together.
  const std::string mono = Q("mono/frame001.fts"), cfa = Q("cfa/frame001.fts"), rgb = Q("rgb/frame001.fts");
  for (int bit : {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000})
    for (const auto& [name, file] : {std::pair{"mono", mono}, std::pair{"cfa", cfa}, std::pair{"rgb", rgb}}) {
      const std::string n = std::string("opt.") + name + "." + std::to_string(bit);
      Run(n,
          "process " + file + " --set UseMask=" + std::to_string(bit) + " --set CalcThr=300 --planes " + Q(n + ".raw"));
      KeepFile(n + ".raw", n + ".raw");
    }
  const std::string masters = " --set DarkFile=" + Q("mono/dark.fts") + " --set FlatFile=" + Q("mono/flat.fts") +
                              " --set MaskFile=" + Q("mono/dark.fts");
  for (int use : {0x8000, 0x10000, 0x18000, 0x18003, 0x1C025, 0x1800A}) {
    const std::string n = "masters." + std::to_string(use);
    Run(n, "process " + mono + masters + " --set UseMask=" + std::to_string(use) + " --set MaskThr=500 --planes " +
               Q(n + ".raw") + " --out " + Q(n + ".fts"));
    KeepFile(n + ".raw", n + ".raw");
    KeepFile(n + ".fts", n + ".fts");
  }
  for (const char* step : {"0", "2", "3", "7"}) {
    const std::string n = std::string("step.") + step;
    Run(n, "process " + cfa + " --step " + step + " --zone ' .1, .1; .6, .2; .4, .7;S .7, .7; .9, .7; .9, .9;S'" +
               " --set UseMask=" + std::to_string(0x20 | 0x4000) + " --planes " + Q(n + ".raw"));
    KeepFile(n + ".raw", n + ".raw");
  }

  // Stacking: rotation, the combination options, the range, the canvas,
  // the guide box, colour, TIFF output and the saved project.
  const std::string proj = Q("mono/project.txt");
  const std::vector<std::pair<std::string, std::string>> runs = {
      {"plain", proj},
      {"median1", proj + " --set UseMask=" + std::to_string(0x800)},
      {"median2", proj + " --set UseMask=" + std::to_string(0x1000) + " --set MedianLimit=800"},
      {"median3", proj + " --set UseMask=" + std::to_string(0x1800)},
      {"blend", proj + " --set UseMask=" + std::to_string(0x400 | 0x2000)},
      {"bin", proj + " --set UseMask=" + std::to_string(0x200 | 0x10 | 0x8) + " --set PixRatio=1.5"},
      {"gradient", proj + " --set UseMask=" + std::to_string(0x4000 | 0x1 | 0x4) + " --set GradRatio=3"},
      {"range", proj + " --first 2 --last 4 --expand 0"},
      {"expand", proj + " --expand 1 --set MinQual=0.2"},
      {"strict", proj + " --set MinQual=0.99"},
      {"rgb", Q("rgb/project.txt")},
      {"cfa", Q("cfa/project.txt") + " --set UseMask=" + std::to_string(0x1800 | 0x1)},
      {"split", Q("split/project.txt")},
      {"tiffin", Q("tif/project.txt")},
      {"list",
       Q("mono/frame001.fts") + " " + Q("mono/frame002.fts") + " " + Q("mono/frame003.fts") + " --guide auto --box 32"},
      {"list64", Q("mono/frame001.fts") + " " + Q("mono/frame002.fts") + " --guide 48,36 --box 64"},
      {"listnobox", Q("rgb/frame001.fts") + " " + Q("rgb/frame002.fts") + " --guide auto --box aucun"},
  };
  for (const auto& [name, args] : runs) {
    Run("stack." + name,
        "stack " + args + " --out " + Q("s_" + name + ".fts") + " --save-project " + Q("p_" + name + ".txt"));
    KeepFile("stack.fts." + name, "s_" + name + ".fts");
    KeepFile("stack.project." + name, "p_" + name + ".txt", true);
  }
  Run("stack.tif", "stack " + proj + " --set UseMask=" + std::to_string(0x1000) + " --out " + Q("s.tif"));
  KeepFile("stack.tif.bytes", "s.tif");

  // Projects and settings.
  std::ofstream(dir.File("s.ini")) << "[Settings]\nMinQual=0.5\nUseMask=1031\nHsens=25\nColorText2=_X\nFovX=abc\n";
  Run("project.show", "project show " + proj + " --settings " + Q("s.ini"));
  Run("project.save", "project save " + Q("p_range.txt") + " " + Q("resaved.txt"));
  KeepFile("project.resaved", "resaved.txt", true);
  Run("settings.ini", "settings --settings " + Q("s.ini"));
  Run("settings.none", "settings");

  Compare();
}

}  // namespace
