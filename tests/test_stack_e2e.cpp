// Whole stacking runs on simulated skies, through the command-line tool and
// the window's model: frames refused or left out and why, shifts, stops, and
// temporary folders that refuse or run out of room. Where the stars land is
// the golden outputs' business.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <regex>

#include "core/paths.h"
#include "io/file.h"
#include "platform/disk_space.h"
#include "process/image_files.h"
#include "stack/accumulate.h"
#include "stack/stacking.h"
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

using qvtest::RunLine;
using qvtest::RunLines;

long SummaryNumber(const std::string& out, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(out, m, std::regex("\"" + key + "\":(-?[0-9]+)"))) return -999999;
  return std::stol(m[1]);
}

bool EmptyFolder(const std::string& path) { return fs::is_directory(path) && fs::is_empty(path); }

// A simulated sky in dir/sim with a private temporary folder dir/tmp.
struct Sky {
  TempDir dir;
  std::string sim, tmp, project;
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
  }
  CliResult Stack(const std::string& args) const { return RunCli(dir, "stack '" + project + "' " + args, tmp); }
};

}  // namespace

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

// Nothing to stack, because the temporary folder cannot take the files
// (said before any frame is read) or no frame can be read (with or without
// a guide star): exit 1, a message, no result and no file left.
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
  EXPECT_NE(r.err.find("dossier temporaire inutilisable"), std::string::npos) << r.err;
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
      int files = 0;
      for ([[maybe_unused]] const auto& f : fs::directory_iterator(sky.tmp)) ++files;
      run.push_back("files left " + std::to_string(files));
      const Plane<float>& sum = ts->dest.DestSumR;
      run.emplace_back(reinterpret_cast<const char*>(sum.Data()), sum.Size() * sizeof(float));
      DeleteTempFiles(*ts);
    }
    EXPECT_EQ(runs[0], runs[1]) << "case " << c;
    EXPECT_EQ(runs[1].size(), (c == kStopped ? 3u : 6u) + 3) << "case " << c;
  }
}
