// Whole stacking runs on simulated skies: through the command-line tool
// and through the engine, checked against the simulator's own record of
// where every star was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>

#include "core/paths.h"
#include "io/file.h"
#include "platform/disk_space.h"
#include "process/image_files.h"
#include "stack/accumulate.h"
#include "support.h"
#include "workspace/form1_events.h"
#include "workspace/frame_report.h"
#include "workspace/project.h"
#include "workspace/run.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;
namespace fs = std::filesystem;

namespace {

constexpr int kW = 256, kH = 192;

using qvtest::CliResult;

// A run of the tool with a temporary folder of the test's own as well.
CliResult RunCli(const TempDir& dir, const std::string& args, const std::string& tmp) {
  return qvtest::Cli(dir, args, "TMPDIR='" + tmp + "' ");
}

using qvtest::ReadTruth;
using qvtest::RunLine;
using qvtest::RunLines;
using qvtest::Truth;

long SummaryNumber(const std::string& out, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(out, m, std::regex("\"" + key + "\":(-?[0-9]+)"))) return -999999;
  return std::stol(m[1]);
}

using FitsPlane = qvtest::FitsImage;  // the first plane is the one looked at
using qvtest::ReadFitsImage;

// Centroid of the star near (x, y) above the median of a ring around it.
bool Centroid(const FitsPlane& img, double x, double y, double& cx, double& cy) {
  const long ix = std::lround(x), iy = std::lround(y);
  if (ix < 10 || iy < 10 || ix >= img.w - 10 || iy >= img.h - 10) return false;
  std::vector<double> ring;
  for (long dy = -9; dy <= 9; ++dy)
    for (long dx = -9; dx <= 9; ++dx) {
      const double r = std::hypot(dx, dy);
      if (r >= 6 && r <= 9) ring.push_back(img(ix + dx, iy + dy));
    }
  std::nth_element(ring.begin(), ring.begin() + static_cast<long>(ring.size() / 2), ring.end());
  const double sky = ring[ring.size() / 2];
  double sx = 0, sy = 0, sw = 0;
  for (long dy = -3; dy <= 3; ++dy)
    for (long dx = -3; dx <= 3; ++dx) {
      const double v = img(ix + dx, iy + dy) - sky;
      if (v <= 0) continue;
      sx += static_cast<double>(ix + dx) * v;
      sy += static_cast<double>(iy + dy) * v;
      sw += v;
    }
  if (sw <= 0) return false;
  cx = sx / sw;
  cy = sy / sw;
  return true;
}

// Bright stars with no other star of note within 12 pixels.
std::vector<Truth::Star> IsolatedBrightStars(const Truth& t, double minPeak) {
  std::vector<Truth::Star> out;
  for (const Truth::Star& s : t.stars) {
    if (s.peak < minPeak || s.peak > 40000) continue;
    bool alone = true;
    for (const Truth::Star& o : t.stars)
      if (&o != &s && std::hypot(o.x - s.x, o.y - s.y) < 12 && o.peak > 0.02 * s.peak) alone = false;
    if (alone) out.push_back(s);
  }
  return out;
}

// Counts the isolated stars brighter than `minPeak`, at least `minFromGuide`
// from the guide star, whose centroid in `img` was measured; each must lie
// within `tolerance` of where the truth puts it on frame 1.
int StarsInPlace(const FitsPlane& img, const Truth& truth, double minPeak, double minFromGuide, double tolerance) {
  const Truth::Frame& g = truth.frames.at(0);
  int measured = 0;
  for (const Truth::Star& s : IsolatedBrightStars(truth, minPeak)) {
    double cx, cy;
    if (std::hypot(s.x - g.guideX, s.y - g.guideY) < minFromGuide || !Centroid(img, s.x, s.y, cx, cy)) continue;
    ++measured;
    EXPECT_LT(std::hypot(cx - s.x, cy - s.y), tolerance)
        << "star at " << s.x << "," << s.y << " found at " << cx << "," << cy;
  }
  return measured;
}

bool EmptyFolder(const std::string& path) { return fs::is_directory(path) && fs::is_empty(path); }

// A simulated sky in dir/sim with a private temporary folder dir/tmp.
struct Sky {
  TempDir dir;
  std::string sim, tmp, project;
  Truth truth;
  explicit Sky(const std::string& options) {
    sim = dir.File("sim");
    tmp = dir.File("tmp");
    fs::create_directory(tmp);
    project = sim + "/project.txt";
    const CliResult r = RunCli(dir,
                               "simulate --out '" + sim + "' --width " + std::to_string(kW) + " --height " +
                                   std::to_string(kH) + " " + options,
                               tmp);
    EXPECT_EQ(r.status, 0) << r.err;
    truth = ReadTruth(sim + "/truth.json");
  }
  CliResult Stack(const std::string& args) const { return RunCli(dir, "stack '" + project + "' " + args, tmp); }
};

}  // namespace

TEST(StackRun, EveryFrameLandsOnTheFirst) {
  Sky sky("--frames 6 --seed 2");
  const CliResult r = sky.Stack("--expand 0 --out '" + sky.dir.File("r.fts") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<RunLine> lines = RunLines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  for (const RunLine& l : lines) EXPECT_TRUE(l.accepted) << l.image << " quality " << l.quality;
  EXPECT_EQ(SummaryNumber(r.out, "stacked"), 6);
  EXPECT_EQ(SummaryNumber(r.out, "combined"), 6);
  EXPECT_NE(r.out.find("\"missing\":[]"), std::string::npos) << r.out;
  // The temporary folder is named on stderr and in the summary.
  EXPECT_NE(r.err.find("dossier temporaire : " + sky.tmp + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"tempFolder\":\"" + sky.tmp + "\""), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("6 images combinées sur 6 acceptées → "), std::string::npos) << r.err;
  EXPECT_TRUE(EmptyFolder(sky.tmp));

  const FitsPlane out = ReadFitsImage(sky.dir.File("r.fts"));
  ASSERT_EQ(out.w, kW);
  ASSERT_EQ(out.h, kH);
  EXPECT_GE(StarsInPlace(out, sky.truth, 2000, 0, 1.0), 5);
}

TEST(StackRun, CloudFrameIsRejectedByQuality) {
  Sky sky("--frames 5 --seed 5 --cloud 3");
  const CliResult r = sky.Stack("--out '" + sky.dir.File("r.fts") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<RunLine> lines = RunLines(r.out);
  ASSERT_EQ(lines.size(), 5u);
  for (const RunLine& l : lines) EXPECT_EQ(l.accepted, l.image != 3) << l.image << " quality " << l.quality;
  EXPECT_LT(lines[2].quality, 0.5);
  EXPECT_EQ(SummaryNumber(r.out, "stacked"), 4);
  // The rejected frame says why, in its line and in the progress; the
  // others keep their lines as they were.
  EXPECT_NE(r.out.find("\"reason\":\"qualité "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("% inférieure au minimum 50.0%\""), std::string::npos) << r.out;  // the project's 50 %
  EXPECT_EQ(r.out.find("\"reason\""), r.out.rfind("\"reason\"")) << r.out;
  EXPECT_NE(r.err.find("image 3 : qualité "), std::string::npos) << r.err;

  // Without a guide star every image is stacked, whatever its quality.
  const CliResult none = sky.Stack("--box aucun --out '" + sky.dir.File("n.fts") + "'");
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(SummaryNumber(none.out, "stacked"), 5);
}

// A star that drifts out of the search area: the frame is rejected with the
// hint that the star may have left it.
TEST(StackRun, AStarThatLeftTheSearchAreaIsNamed) {
  Sky sky("--frames 3 --seed 13 --drift 30,0");
  const CliResult r = sky.Stack("--out '" + sky.dir.File("r.fts") + "'");
  const std::vector<RunLine> lines = RunLines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  ASSERT_FALSE(lines[1].accepted) << r.out;
  EXPECT_NE(r.out.find("l'étoile guide en est peut-être sortie (essayer --box 64 ou --guide auto)\",\"onEdge\":true}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("image 2 : qualité "), std::string::npos) << r.err;
}

// A frame of another size and a frame that cannot be read: the run goes on,
// and their lines say what happened.
TEST(StackRun, FramesThatCannotBeProcessedSayWhy) {
  Sky sky("--frames 4 --seed 14");
  qvtest::WriteFits16(sky.sim + "/frame003.fts", 64, 64, 1, std::vector<int>(64 * 64, 100));
  qvtest::WriteBytes(sky.sim + "/frame004.fts", std::vector<uint8_t>(100, 'x'));
  const CliResult r = sky.Stack("--box aucun --out '" + sky.dir.File("r.fts") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> out;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
    out.push_back(r.out.substr(at, end - at));
  ASSERT_GE(out.size(), 4u) << r.out;
  EXPECT_EQ(out[1].find("reason"), std::string::npos) << out[1];
  EXPECT_NE(out[2].find("\"error\":\"taille différente de l'image de référence (64 x 64 au lieu de " +
                        std::to_string(kW) + " x " + std::to_string(kH) + ")"),
            std::string::npos)
      << out[2];
  EXPECT_NE(out[2].find("les plans restés en mémoire (ceux de l'image précédente, ou la partie lue de celle-ci) ont "
                        "été empilés à sa place"),
            std::string::npos)
      << out[2];
  EXPECT_NE(out[3].find("\"error\":\"en-tête FITS tronqué : "), std::string::npos) << out[3];
  EXPECT_NE(r.err.find("image 4 : image non traitée : en-tête FITS tronqué"), std::string::npos) << r.err;
}

TEST(StackRun, ExpandedCanvasSpansEveryImage) {
  Sky sky("--frames 6 --seed 7 --drift 2,1.5");
  const CliResult r = sky.Stack("--expand 1 --out '" + sky.dir.File("r.fts") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const long w = SummaryNumber(r.out, "width"), h = SummaryNumber(r.out, "height");
  EXPECT_EQ(w, SummaryNumber(r.out, "CanvasMaxX") - SummaryNumber(r.out, "CanvasMinX") + 1);
  EXPECT_EQ(h, SummaryNumber(r.out, "CanvasMaxY") - SummaryNumber(r.out, "CanvasMinY") + 1);
  // Frame 6 drifted 10 right and 7.5 down; aligned on frame 1 it reaches
  // as far left and up of it.
  EXPECT_NEAR(static_cast<double>(w), kW + 10, 1);
  EXPECT_NEAR(static_cast<double>(h), kH + 7.5, 1);
  const FitsPlane out = ReadFitsImage(sky.dir.File("r.fts"));
  ASSERT_EQ(out.w, w);
  ASSERT_EQ(out.h, h);
  // The top-right corner lies above frame 1 and right of frame 6, the
  // bottom-left one left of frame 1 and below frame 6: no image covers
  // them. The other two corners are frame 6's and frame 1's own.
  EXPECT_EQ(out(w - 1, 0), 0);
  EXPECT_EQ(out(0, h - 1), 0);
  EXPECT_GT(out(0, 0), 0);
  EXPECT_GT(out(w - 1, h - 1), 0);
  EXPECT_GT(out(w / 2, h / 2), 0);
}

// The shift of image 4 moves images 4 and later by 10 pixels; the others
// stay where they were, and the tracking itself is untouched.
TEST(StackRun, ShiftOfOneImageMovesItAndTheLaterOnes) {
  Sky sky("--frames 6 --seed 8");
  struct Placed {
    double anchorX, guideX;
  };
  auto run = [&](double shift, std::vector<Placed>& placed, int& canvasMaxX) {
    TestSession ts;
    Session& s = *ts;
    ASSERT_EQ(LoadProject(ts.form1, sky.project).outcome, ProjectLoad::Completed);
    s.stack.TempBase = sky.tmp + "/run_";
    ts.form1.Check6 = 1;
    s.Img[4].ImgShiftX = shift / (kW - 1);
    qvtest::ViewSpy window;
    window.onRunImage = [&](int, bool accepted) {
      EXPECT_TRUE(accepted);
      placed.push_back({s.guide.AnchorX, s.guide.GuideX});
    };
    ts.form1.outer = &window;
    RunStack(ts.form1);
    canvasMaxX = s.stack.CanvasMaxX;
    EXPECT_FALSE(s.dest.DestFileName.empty());
  };
  std::vector<Placed> plain, shifted;
  int plainMax = 0, shiftedMax = 0;
  run(0, plain, plainMax);
  run(10, shifted, shiftedMax);
  ASSERT_EQ(plain.size(), 6u);
  ASSERT_EQ(shifted.size(), 6u);
  for (size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(shifted[k].anchorX - plain[k].anchorX, k >= 3 ? 10 : 0) << "image " << k + 1;
    EXPECT_EQ(shifted[k].guideX, plain[k].guideX) << "image " << k + 1;
  }
  // Frame 1 sets the right edge of the plain stack; the shifted images
  // now reach beyond it.
  EXPECT_EQ(plainMax, kW - 1);
  EXPECT_GT(shiftedMax, plainMax);
  EXPECT_TRUE(EmptyFolder(sky.tmp));
}

// A stop between images: no combination, the files wait for the exit
// clean-up. A stop during the combination: the files go at once.
TEST(StackRun, StopLeavesNothingBehind) {
  Sky sky("--frames 5 --seed 9");
  for (const bool duringCombination : {false, true}) {
    TestSession ts;
    Session& s = *ts;
    ASSERT_EQ(LoadProject(ts.form1, sky.project).outcome, ProjectLoad::Completed);
    s.stack.TempBase = sky.tmp + "/run_";
    int done = 0;
    std::vector<double> reported;  // the fraction done reported before each image's end
    qvtest::ViewSpy window;
    window.onRunImage = [&](int, bool) {
      ++done;
      reported.push_back(ts.services.events.done);
    };
    ts.form1.outer = &window;
    ts.services.events.onYield = [&] {
      const bool combining = ts.form1.Caption.rfind("W=", 0) == 0;
      if (s.RunState == 1 && (duringCombination ? combining : done == 3)) s.RunState = 2;
    };
    RunStack(ts.form1);
    EXPECT_EQ(s.RunState, 0);
    EXPECT_TRUE(s.dest.DestFileName.empty());
    if (!duringCombination) {
      EXPECT_EQ(done, 3);
      EXPECT_EQ(ts.form1.Label6, "3/5 Ok");
      // Images done out of the five to do; a stop ends the reports.
      ASSERT_EQ(reported.size(), 3u);
      EXPECT_EQ(reported[1], 0.2);
      EXPECT_EQ(reported[2], 0.4);
      EXPECT_DOUBLE_EQ(ts.services.events.done, 0.6);
      EXPECT_FALSE(EmptyFolder(sky.tmp));
      DeleteTempFiles(s);  // what the program does at exit
    } else {
      EXPECT_EQ(done, 5);
    }
    EXPECT_TRUE(EmptyFolder(sky.tmp)) << (duringCombination ? "combination" : "between images");
  }
}

// Nothing to stack, because the temporary folder refuses the files or no
// frame can be read (with or without a guide star): exit 1, a message, no
// result and no file left.
TEST(StackRun, NothingStackedEndsWithAMessage) {
  Sky sky("--frames 3 --seed 11");
  std::string readonly = sky.dir.File("readonly");
  fs::create_directory(readonly);
  chmod(readonly.c_str(), 0555);
  if (geteuid() == 0) {
    // Permissions do not stop the superuser: a "folder" that is a file does.
    readonly = sky.dir.File("plainfile");
    qvtest::WriteBytes(readonly, {0});
  }
  const CliResult r = RunCli(sky.dir, "stack '" + sky.project + "' --out '" + sky.dir.File("r.fts") + "'", readonly);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("rien n'a été empilé"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("dossier temporaire " + readonly), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(sky.dir.File("r.fts")));
  chmod(sky.dir.File("readonly").c_str(), 0755);

  for (const char* name : {"/frame001.fts", "/frame002.fts", "/frame003.fts"})
    qvtest::WriteBytes(sky.sim + name, std::vector<uint8_t>(100, 'x'));
  for (const std::string box : {"", "--box aucun"}) {
    const CliResult unread = sky.Stack(box + " --out '" + sky.dir.File("r.fts") + "'");
    EXPECT_EQ(unread.status, 1) << box << ": " << unread.err;
    EXPECT_NE(unread.err.find("rien n'a été empilé"), std::string::npos) << unread.err;
    EXPECT_FALSE(fs::exists(sky.dir.File("r.fts")));
    EXPECT_TRUE(EmptyFolder(sky.tmp));
  }
}

namespace {

// The bytes of the temporary file of one simulated frame.
constexpr uint64_t kTempFileBytes = 24 + 12 * uint64_t{kW} * kH;

// "E&xécuter" in the window's model on the sky's project, with the canvas of
// the first image; the result written to `out` when there is one.
struct WindowRunOf {
  TestSession ts;
  HeadlessDesktop desktop;
  explicit WindowRunOf(const Sky& sky) {
    EXPECT_EQ(LoadProject(ts.form1, sky.project).outcome, ProjectLoad::Completed);
    ts->stack.TempBase = sky.tmp + "/run_";
    ts.form1.Check6 = 0;
  }
  void Run(const std::string& out) {
    mnu_Click(ts.form1, 4, desktop, {});
    if (!out.empty()) Write(out);
  }
  void Write(const std::string& out) {
    bool fromDestination = true;
    if (!ts->dest.DestFileName.empty()) {
      EXPECT_TRUE(WriteFitsFile(*ts, out, fromDestination));
    }
  }
};

}  // namespace

// A temporary folder that fills after two files: the run goes on, the
// result holds the two frames that were parked, exactly as a run of those
// two alone makes it, and the window says which frames it lacks and why.
TEST(StackRun, AFolderThatFillsLeavesFramesOutAndSaysWhich) {
  Sky sky("--frames 6 --seed 2");
  WindowRunOf full(sky);
  {
    ScopedWriteBudget budget(static_cast<int64_t>(2 * kTempFileBytes));
    full.Run("");
  }
  full.Write(sky.dir.File("full.fts"));
  const RunResult& run = full.ts.form1.LastRun;
  EXPECT_EQ(run.Accepted(), 6);
  EXPECT_EQ(run.Combined(), 2);
  const std::vector<const FrameResult*> missing = run.Missing();
  ASSERT_EQ(missing.size(), 4u);
  for (size_t k = 0; k < missing.size(); ++k) {
    EXPECT_EQ(missing[k]->image, static_cast<int>(k) + 3);
    EXPECT_EQ(WhyMissing(*missing[k]), "fichier temporaire non écrit (disque plein)");
    const ReportRow& row = full.ts.form1.Report.rows[k + 2];
    EXPECT_EQ(row.stacked, "non");
    EXPECT_EQ(row.why, "fichier temporaire non écrit (disque plein)");
    EXPECT_TRUE(row.notStacked);
  }
  EXPECT_EQ(full.ts.form1.StatusText,
            "2 images combinées sur 6 acceptées ; fichier temporaire non écrit (disque plein) : image 3 "
            "(frame003.fts), image 4 (frame004.fts), image 5 (frame005.fts), image 6 (frame006.fts)");
  EXPECT_TRUE(full.ts.form1.mnuReport);
  EXPECT_EQ(full.ts.form1.Label6, "6/6 Ok");  // the accepted count, as before
  EXPECT_TRUE(EmptyFolder(sky.tmp));

  WindowRunOf two(sky);
  two.ts.form1.Text7Visible = true;
  two.ts.form1.Text7 = "1";
  two.ts.form1.Text8 = "2";
  two.Run(sky.dir.File("two.fts"));
  EXPECT_EQ(two.ts.form1.StatusText, "2 images combinées sur 2 acceptées");
  EXPECT_EQ(qvtest::ReadBytes(sky.dir.File("full.fts")), qvtest::ReadBytes(sky.dir.File("two.fts")));
}

// Less room than the run needs: the window asks first; No leaves everything
// as it was, Yes runs exactly the run there would have been.
TEST(StackRun, TheWindowAsksBeforeARunThatMayNotFit) {
  Sky sky("--frames 6 --seed 2");
  const std::string folder = TempFolder().substr(0, TempFolder().size() - 1);
  // 6 files of 589 848 bytes: 3.4 Mo, said as 4; 3 Mo and a few bytes free, said as 3.
  ScopedFreeSpace nearlyFull(3 * (uint64_t{1} << 20) + 5);
  WindowRunOf declined(sky);
  declined.desktop.answer = false;
  declined.Run(sky.dir.File("no.fts"));
  ASSERT_EQ(declined.desktop.questions.size(), 1u);
  EXPECT_EQ(declined.desktop.questions[0],
            "Espace libre insuffisant dans " + folder + " : 3 Mo libres, 4 Mo nécessaires. Continuer quand même ?");
  EXPECT_FALSE(declined.ts.form1.HasRun);
  EXPECT_EQ(declined.ts.form1.Label6, "");
  EXPECT_EQ(declined.ts.form1.StatusText, "");
  EXPECT_EQ(declined.ts->stack.StackCount, 0);
  EXPECT_FALSE(fs::exists(sky.dir.File("no.fts")));

  WindowRunOf agreed(sky);
  agreed.Run(sky.dir.File("yes.fts"));
  EXPECT_EQ(agreed.desktop.questions.size(), 1u);
  EXPECT_EQ(agreed.ts.form1.StatusText, "6 images combinées sur 6 acceptées");

  // With room enough nobody is asked, and the result is the same.
  ScopedFreeSpace roomy(6 * kTempFileBytes);
  WindowRunOf unasked(sky);
  unasked.Run(sky.dir.File("unasked.fts"));
  EXPECT_TRUE(unasked.desktop.questions.empty());
  EXPECT_EQ(qvtest::ReadBytes(sky.dir.File("yes.fts")), qvtest::ReadBytes(sky.dir.File("unasked.fts")));
}

// A real temporary folder of 50 MB, where the superuser may mount one: 30
// frames of 1024 x 768 need 271 Mo. The tool refuses before any work; told
// to go on, it combines the 5 frames that fit, names the 25 others, writes
// the result (byte for byte the stack of those 5) and ends with 3.
TEST(StackRun, ARealTemporaryFolderThatFills) {
  TempDir dir;
  const std::string mount = dir.File("small");
  fs::create_directory(mount);
  if (geteuid() != 0 || qvtest::RunCommand("mount -t tmpfs -o size=50m tmpfs '" + mount + "' 2>/dev/null") != 0)
    GTEST_SKIP() << "no tmpfs can be mounted here (needs root): the full folder is tested with the write budget";
  struct Unmount {
    std::string path;
    ~Unmount() { qvtest::RunCommand("umount '" + path + "'"); }
  } unmount{mount};
  const std::string roomy = dir.File("roomy");
  fs::create_directory(roomy);
  const std::string sim = dir.File("sim"), project = "'" + sim + "/project.txt' ";
  ASSERT_EQ(RunCli(dir, "simulate --out '" + sim + "' --frames 30 --width 1024 --height 768 --seed 4", roomy).status,
            0);

  const CliResult refused = RunCli(dir, "stack " + project + "--out '" + dir.File("a.fts") + "'", mount);
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_NE(refused.err.find("espace libre insuffisant dans " + mount + " : 50 Mo libres, 271 Mo nécessaires"),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("TMPDIR="), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--no-space-check"), std::string::npos) << refused.err;
  EXPECT_TRUE(RunLines(refused.out).empty()) << refused.out;
  EXPECT_FALSE(fs::exists(dir.File("a.fts")));

  const CliResult r = RunCli(dir, "stack " + project + "--no-space-check --out '" + dir.File("b.fts") + "'", mount);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(SummaryNumber(r.out, "stacked"), 30);
  EXPECT_EQ(SummaryNumber(r.out, "combined"), 5);
  EXPECT_NE(r.err.find("5 images combinées sur 30 acceptées → "), std::string::npos) << r.err;
  for (const int i : {6, 30}) {
    char name[16];
    std::snprintf(name, sizeof name, "frame%03d.fts", i);
    const std::string why = "fichier temporaire non écrit (disque plein)";
    EXPECT_NE(r.err.find("image " + std::to_string(i) + " (" + name + ") : " + why), std::string::npos) << i;
    EXPECT_NE(r.out.find("{\"index\":" + std::to_string(i) + ",\"file\":\"" + sim + "/" + name + "\",\"why\":\"" + why +
                         "\"}"),
              std::string::npos)
        << i;
  }
  EXPECT_TRUE(EmptyFolder(mount));

  const CliResult five = RunCli(dir, "stack " + project + "--last 5 --out '" + dir.File("c.fts") + "'", roomy);
  EXPECT_EQ(five.status, 0) << five.err;
  EXPECT_EQ(qvtest::ReadBytes(dir.File("b.fts")), qvtest::ReadBytes(dir.File("c.fts")));
}
