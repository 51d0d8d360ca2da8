// Whole stacking runs on simulated skies, through the command-line tool and
// the window's model: frames refused or left out and why, shifts, stops, and
// temporary folders that refuse or run out of room. Where the stars land is
// the golden outputs' business.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <regex>

#include "platform/disk_space.h"
#include "stack/accumulate.h"
#include "stack/reject.h"
#include "stack/stacking.h"
#include "support.h"
#include "workspace/project.h"
#include "workspace/run.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;
namespace fs = std::filesystem;

namespace {

constexpr int kW = 256, kH = 192;  // the simulated frames' size
// The bytes of the temporary file of one simulated frame.
constexpr uint64_t kTempFileBytes = 24 + 12 * uint64_t{kW} * kH;

using qvtest::CliResult;

// A run of the tool with a temporary folder of the test's own as well.
CliResult RunCli(const TempDir& dir, const std::string& args, const std::string& tmp) {
  return qvtest::Cli(dir, args, "TMPDIR='" + tmp + "' ");
}

using qvtest::Contains;
using qvtest::RunLines;

bool EmptyFolder(const std::string& path) { return fs::is_directory(path) && fs::is_empty(path); }

// A simulated sky in dir/sim with a private temporary folder dir/tmp.
struct Sky {
  TempDir dir;
  std::string tmp = dir.File("tmp"), sim, project;
  explicit Sky(const std::string& options) {
    fs::create_directory(tmp);
    sim = qvtest::SimulateNight(dir, "sim", "--width 256 --height 192 " + options, "TMPDIR='" + tmp + "' ");
    project = sim + "/project.txt";
  }
  CliResult Stack(const std::string& args) const { return RunCli(dir, "stack '" + project + "' " + args, tmp); }
};

}  // namespace

// A star that drifts out of the search area: the frame is rejected with the
// hint that the star may have left it. Without a guide star, a frame of
// another size and a frame that cannot be read: the run goes on, and their
// lines say what happened. With no frame that can be read (with or without
// a guide star): exit 1, a message, no result and no file left.
TEST(StackRun, FramesThatCannotBeUsedSayWhy) {
  Sky sky("--frames 4 --seed 13 --drift 30,0");
  const CliResult drifted = sky.Stack("--out '" + sky.dir.File("r.fts") + "'");
  const auto lines = RunLines(drifted.out);
  ASSERT_EQ(lines.size(), 4u) << drifted.out;
  ASSERT_FALSE(lines[1].accepted) << drifted.out;
  EXPECT_TRUE(Contains(drifted.out,
                       "l'étoile guide en est peut-être sortie (essayer --box 64 ou --guide auto)\",\"onEdge\":true}"));
  EXPECT_TRUE(Contains(drifted.err, "image 2 : qualité "));

  qvtest::WriteFits16(sky.sim + "/frame003.fts", 64, 64, 1, std::vector<int>(64 * 64, 100));
  qvtest::WriteBytes(sky.sim + "/frame004.fts", std::vector<uint8_t>(100, 'x'));
  const CliResult r = sky.Stack("--box aucun --out '" + sky.dir.File("r.fts") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> out;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
    out.push_back(r.out.substr(at, end - at));
  ASSERT_GE(out.size(), 4u) << r.out;
  EXPECT_EQ(out[1].find("reason"), std::string::npos) << out[1];
  EXPECT_TRUE(Contains(out[2], "\"error\":\"taille différente de l'image de référence (64 x 64 au lieu de " +
                                   std::to_string(kW) + " x " + std::to_string(kH) + ")"));
  EXPECT_TRUE(Contains(out[2],
                       "les plans restés en mémoire (ceux de l'image précédente, ou la partie lue de "
                       "celle-ci) ont été empilés à sa place"));
  EXPECT_TRUE(Contains(out[3], "\"error\":\"en-tête FITS tronqué : "));
  EXPECT_TRUE(Contains(r.err, "image 4 : image non traitée : en-tête FITS tronqué"));

  fs::remove(sky.dir.File("r.fts"));
  qvtest::WriteBytes(sky.sim + "/frame001.fts", std::vector<uint8_t>(100, 'x'));
  const CliResult firstUnread = sky.Stack("--box aucun --out '" + sky.dir.File("r.fts") + "'");
  EXPECT_TRUE(Contains(firstUnread.out, "l'image de référence (image 1) est illisible, sa taille est inconnue : "));
  for (const char* name : {"/frame002.fts", "/frame003.fts"})
    qvtest::WriteBytes(sky.sim + name, std::vector<uint8_t>(100, 'x'));
  for (const std::string box : {"", "--box aucun"}) {
    const CliResult unread = sky.Stack(box + " --out '" + sky.dir.File("r.fts") + "'");
    EXPECT_EQ(unread.status, 1) << box << ": " << unread.err;
    EXPECT_TRUE(Contains(unread.err, "rien n'a été empilé"));
    EXPECT_FALSE(fs::exists(sky.dir.File("r.fts")));
    EXPECT_TRUE(EmptyFolder(sky.tmp));
  }
}

// The shift of image 4 moves images 4 and later by 10 pixels; the others
// stay where they were, and the tracking itself is untouched.
TEST(StackRun, ShiftOfOneImageMovesItAndTheLaterOnes) {
  Sky sky("--frames 6 --seed 8");
  RunResult runs[2];
  int canvasMaxX[2];
  for (const bool shifted : {false, true}) {
    TestSession ts;
    ASSERT_EQ(LoadProject(ts.form1, sky.project).outcome, ProjectLoad::Completed);
    ts->stack.TempBase = sky.tmp + "/run_";
    ts->Img[4].ImgShiftX = shifted ? 10.0 / (kW - 1) : 0;
    runs[shifted] = StackRun(*ts, {0, 0, true}, RunListener::Headless());
    canvasMaxX[shifted] = ts->stack.CanvasMaxX;
    EXPECT_EQ(runs[shifted].Combined(), 6);
  }
  for (size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(runs[1].frames[k].anchorX - runs[0].frames[k].anchorX, k >= 3 ? 10 : 0) << "image " << k + 1;
    EXPECT_EQ(runs[1].frames[k].guideX, runs[0].frames[k].guideX) << "image " << k + 1;
  }
  // Frame 1 sets the right edge of the plain stack; the shifted images
  // now reach beyond it.
  EXPECT_EQ(canvasMaxX[0], kW - 1);
  EXPECT_GT(canvasMaxX[1], canvasMaxX[0]);
  EXPECT_TRUE(EmptyFolder(sky.tmp));
}

// A stop between images: no combination, the files wait for the exit
// clean-up. A stop during the combination: the files go at once. A run to
// the end: the bar that reached the end with the images starts again with
// the combination and rises with the files it reads, then with the bands of
// a rejection, which take the second half.
TEST(StackRun, StopLeavesNothingBehind) {
  Sky sky("--frames 5 --seed 9");
  enum Case { kBetweenImages, kDuringCombination, kToTheEnd, kToTheEndRejecting };
  for (const Case c : {kBetweenImages, kDuringCombination, kToTheEnd, kToTheEndRejecting}) {
    TestSession ts;
    Session& s = *ts;
    ASSERT_EQ(LoadProject(ts.form1, sky.project).outcome, ProjectLoad::Completed);
    s.stack.TempBase = sky.tmp + "/run_";
    s.opt.RejectMode = c == kToTheEndRejecting ? kRejectSigma : kRejectNone;
    int done = 0;
    std::vector<double> reported;  // the fraction done reported before each image's end
    std::vector<double> shown;     // the fractions the combination reported
    qvtest::ViewSpy window;
    window.onRunImage = [&](int, bool) {
      ++done;
      reported.push_back(ts.services.events.done);
    };
    ts.form1.outer = &window;
    ts.services.events.onYield = [&] {
      const bool combining = ts.form1.Caption.rfind("W=", 0) == 0;
      if (s.RunState == 1 && (c == kDuringCombination ? combining : c == kBetweenImages && done == 3)) s.RunState = 2;
    };
    ts.services.events.onReport = [&](const std::string& caption, double fraction) {
      if (caption.rfind("W=", 0) == 0 && fraction >= 0) shown.push_back(fraction);
    };
    const RunResult run = RunStack(ts.form1);
    EXPECT_EQ(s.RunState, 0);
    // Stopped, not failed, wherever the stop came: the report says so.
    EXPECT_EQ(run.stopped, c <= kDuringCombination) << c;
    EXPECT_EQ(run.outcome.ok, c >= kToTheEnd) << c;
    EXPECT_EQ(s.dest.DestFileName.empty(), c <= kDuringCombination) << c;
    EXPECT_EQ(done, c == kBetweenImages ? 3 : 5);
    if (c == kBetweenImages) {
      EXPECT_EQ(ts.form1.Label6, "3/5 Ok");
      // Images done out of the five to do; a stop ends the reports.
      ASSERT_EQ(reported.size(), 3u);
      EXPECT_EQ(std::tuple(reported[1], reported[2]), std::tuple(0.2, 0.4));
      EXPECT_DOUBLE_EQ(ts.services.events.done, 0.6);
      EXPECT_FALSE(EmptyFolder(sky.tmp));
      DeleteTempFiles(s);  // what the program does at exit
    } else if (c >= kToTheEnd) {
      // The size first, then each file (one band here).
      const std::vector<double> files = {0, 0, 0.2, 0.4, 0.6, 0.8}, halves = {0, 0, 0.1, 0.2, 0.3, 0.4, 0.5};
      EXPECT_EQ(shown, c == kToTheEnd ? files : halves);
    }
    EXPECT_TRUE(EmptyFolder(sky.tmp)) << c;
  }
}

// A real temporary folder of 50 MB, where the superuser may mount one: 30
// frames of 1024 x 768 need 271 Mo. The tool refuses before any work; told
// to go on, it combines the 5 frames that fit, names the 25 others, writes
// the result and ends with 3.
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
  const std::string sim = qvtest::SimulateNight(dir, "sim", "--frames 30 --width 1024 --height 768 --seed 4",
                                                "TMPDIR=" + qvtest::Q(roomy) + " ");
  const std::string project = qvtest::Q(sim + "/project.txt") + " ";

  const CliResult refused = RunCli(dir, "stack " + project + "--out '" + dir.File("a.fts") + "'", mount);
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_TRUE(Contains(refused.err, "espace libre insuffisant dans " + mount + " : 50 Mo libres, 271 Mo nécessaires"));
  EXPECT_TRUE(RunLines(refused.out).empty()) << refused.out;
  EXPECT_FALSE(fs::exists(dir.File("a.fts")));

  const CliResult r = RunCli(dir, "stack " + project + "--no-space-check --out '" + dir.File("b.fts") + "'", mount);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(std::tuple(qvtest::JsonNumber(r.out, "stacked"), qvtest::JsonNumber(r.out, "combined")),
            std::tuple(30.0, 5.0));
  EXPECT_TRUE(Contains(r.err, "5 images combinées sur 30 acceptées → "));
  const std::string why = "fichier temporaire non écrit (disque plein)";
  for (const std::string i : {"6", "30"}) {
    const std::string name = (i == "6" ? "frame006" : "frame030") + std::string(".fts");
    EXPECT_TRUE(Contains(r.err, "image " + i + " (" + name + ") : " + why));
    EXPECT_TRUE(Contains(r.out, "{\"index\":" + i + ",\"file\":\"" + sim + "/" + name + "\",\"why\":\"" + why + "\"}"));
  }
  EXPECT_TRUE(EmptyFolder(mount));
}

// A front end that takes its frames late has each file written aside while
// the next frame is read: it is told the same frames in the same order, and
// the run ends as the one loop ends it, with the folder roomy, filling after
// two files, missing, or the run stopped at the fourth frame.
TEST(StackRun, FilesWrittenAsideLeaveTheOneLoopsRun) {
  Sky sky("--frames 6 --seed 2");
  struct Told : RunListener {
    bool late = false;
    std::vector<std::string> lines;
    bool TakesFramesLate() const override { return late; }
    void FrameDone(const FrameResult& f, int accepted) override {
      lines.push_back(std::to_string(f.image) + " " + std::to_string(accepted) + " file " + std::to_string(f.tempFile) +
                      " " + f.parked.Text() + " planes " + std::to_string(f.planesOf));
    }
  };
  enum Case { kRoomy, kFills, kMissing, kStopped };
  for (const Case c : {kRoomy, kFills, kMissing, kStopped}) {
    std::vector<std::string> runs[2];
    for (const bool late : {false, true}) {
      TestSession ts;
      ASSERT_EQ(LoadProject(ts.form1, sky.project).outcome, ProjectLoad::Completed);
      ts->stack.TempBase = (c == kMissing ? sky.dir.File("missing") : sky.tmp) + "/run_";
      if (c == kStopped)
        ts.services.events.onYield = [&] {
          if (ts->CurPic == 4 && ts->RunState == 1) ts->RunState = 2;
        };
      Told told;
      told.late = late;
      std::optional<ScopedWriteBudget> full;
      if (c == kFills) full.emplace(static_cast<int64_t>(2 * kTempFileBytes));
      const RunResult r = StackRun(*ts, {}, told);
      full.reset();
      std::vector<std::string>& run = runs[late];
      run = told.lines;
      run.push_back(r.outcome.Text() + (r.stopped ? " stopped" : "") + " combined " + std::to_string(r.Combined()));
      run.push_back("files left " +
                    std::to_string(std::distance(fs::directory_iterator(sky.tmp), fs::directory_iterator())));
      const Plane<float>& sum = ts->dest.DestSumR;
      run.emplace_back(reinterpret_cast<const char*>(sum.Data()), sum.Size() * sizeof(float));
      DeleteTempFiles(*ts);
    }
    EXPECT_EQ(runs[0], runs[1]) << "case " << c;
    EXPECT_EQ(runs[1].size(), (c == kStopped ? 3u : 6u) + 3) << "case " << c;
  }
}
