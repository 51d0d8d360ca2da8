// The guide star picked and marked on every frame by the command-line tool
// on dithered and turning simulated skies, the frames' scores, and a run
// that marks as it goes against one that marks first.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "stack/auto_marks.h"
#include "stack/frames.h"
#include "stack/stacking.h"
#include "support.h"
#include "workspace/project.h"

using qvtest::CliResult;
using qvtest::TempDir;

namespace {

struct Mark {
  bool marked = false, checked = true;
  double x = 0, y = 0;
  std::string reason;
  double fwhm = 0, roundness = 0, background = 0;
};

// The tool's line for each image it marked or could not mark.
std::map<int, Mark> Marks(const std::string& out) {
  std::map<int, Mark> marks;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    const auto has = [&l](const char* text) { return l.find(text) != std::string::npos; };
    const auto n = [&l](const char* key) { return qvtest::JsonNumber(l, key); };
    if (!has("\"marked\":")) continue;
    std::string reason;
    if (const size_t at = l.find("\"reason\":\""); at != std::string::npos)
      reason = l.substr(at + 10, l.find('"', at + 10) - at - 10);
    marks[static_cast<int>(n("image"))] = {
        has("\"marked\":true"), !has("\"checked\":false"), n("markX"), n("markY"), reason, n("fwhm"), n("roundness"),
        n("background")};
  }
  return marks;
}

// The run's line for each image it walked.
std::map<int, qvtest::RunLine> RunImages(const std::string& out) {
  std::map<int, qvtest::RunLine> run;
  for (const qvtest::RunLine& l : qvtest::RunLines(out)) run[l.image] = l;
  return run;
}

// The simulator's first `count` frames (fewer than ten) of `folder`, quoted
// for the shell.
std::string Frames(const std::string& folder, int count) {
  std::string list;
  for (int f = 1; f <= count; ++f) list.append(" ").append(qvtest::Q(folder + "/frame00" + std::to_string(f) + ".fts"));
  return list;
}

// The stack command with the test's folder as its temporary folder.
CliResult Stack(const TempDir& dir, const std::string& args) {
  return qvtest::Cli(dir, "stack " + args, "TMPDIR=" + qvtest::Q(dir.path().string()) + " ");
}

// What a run leaves: its frames, the result's planes, the list's marks.
struct RunTrace {
  std::vector<std::string> frames, entries;
  std::vector<float> dest;
};

RunTrace Trace(const qv::Session& s, const qv::RunResult& run) {
  RunTrace t;
  char line[400];
  for (const qv::FrameResult& f : run.frames) {
    std::snprintf(line, sizeof line, "%d q%.9g a%d p%d[%s] g%.17g,%.17g a%.17g,%.17g r%.17g f%d", f.image, f.quality,
                  f.accepted, f.processed.ok, f.processed.why.c_str(), f.guideX, f.guideY, f.anchorX, f.anchorY,
                  f.angle, f.tempFile);
    t.frames.push_back(line);
  }
  for (int i = 1; i <= s.ImageCount(); ++i) {
    const qv::ImageEntry& e = s.Img[static_cast<size_t>(i)];
    std::snprintf(line, sizeof line, "%d c%d g%.17g,%.17g r%.17g,%.17g f%d", i, e.ImgChecked, e.ImgGuideX, e.ImgGuideY,
                  e.ImgRefX, e.ImgRefY, e.ImgRegFlags);
    t.entries.push_back(line);
  }
  for (const qv::Plane<float>* p : {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestWeightR})
    t.dest.insert(t.dest.end(), p->Data(), p->Data() + p->Size());
  return t;
}

}  // namespace

TEST(AutoMarks, DitheredSequenceIsMarkedOnEveryFrameButTheForeignOne) {
  TempDir dir;
  const std::string sim = qvtest::SimulateNight(
      dir, "sim",
      "--frames 6 --width 320 --height 240 --stars 90 --dither 20 --dither-angle 0.3 --other-field 5 --seed 4");
  const auto truth = qvtest::ReadTruth(sim + "/truth.json").frames;
  ASSERT_EQ(truth.size(), 6u);
  const CliResult r = Stack(dir, Frames(sim, 6) + " --guide auto --out " + qvtest::Q(dir.File("o.fts")));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto marks = Marks(r.out);
  ASSERT_EQ(marks.size(), 6u) << r.out;
  for (int f = 1; f <= 6; ++f) {
    const Mark& m = marks.at(f);
    EXPECT_EQ(m.marked, f != 5) << f << " " << m.reason;
    EXPECT_TRUE(f != 5 || (!m.checked && qvtest::Contains(m.reason, "autre champ"))) << m.reason;
    EXPECT_TRUE(f == 5 || std::hypot(m.x - truth[f - 1].guideX, m.y - truth[f - 1].guideY) <= 1.0) << "frame " << f;
  }
  const auto run = RunImages(r.out);
  EXPECT_EQ(run.count(5), 0u);
  for (int f : {1, 2, 3, 4, 6}) {
    ASSERT_EQ(run.count(f), 1u) << f;
    EXPECT_TRUE(run.at(f).accepted) << f;
    EXPECT_EQ(run.at(f).guideX, marks.at(f).x);
  }
  EXPECT_TRUE(qvtest::Contains(r.err, "image 5 non marquée"));

  // A frame of another size is not marked, and says so rather than being
  // called unreadable.
  const std::string small = qvtest::SimulateNight(dir, "small", "--frames 1 --width 160 --height 120");
  const CliResult sized =
      Stack(dir, Frames(sim, 2) + Frames(small, 1) + " --guide auto --out " + qvtest::Q(dir.File("o3.fts")));
  ASSERT_EQ(sized.status, 0) << sized.err;
  EXPECT_TRUE(qvtest::Contains(Marks(sized.out).at(3).reason,
                               "taille différente de l'image de référence (160 x 120 au lieu de 320 x 240)"));
}

// Each frame's stars measured as the marks find them: the widths the
// simulator drew them with, and, on request, the frames whose stars are too
// wide against the night's median left out as if they could not be marked.
TEST(AutoMarks, FramesAreScoredAndTheBlurredOnesLeftOutOnRequest) {
  TempDir dir;
  const std::string sim = qvtest::SimulateNight(
      dir, "sim", "--frames 7 --width 480 --height 360 --stars 120 --dither 10 --seed 8 --seeing 3:6 --seeing 6:4.2");
  const auto truth = qvtest::ReadTruth(sim + "/truth.json").frames;
  for (const std::string factor : {"", "1.5", "1.1"}) {
    SCOPED_TRACE("--max-fwhm " + factor);
    const CliResult r = Stack(dir, Frames(sim, 7) + " --guide auto --out " + qvtest::Q(dir.File("o.fts")) +
                                       (factor.empty() ? "" : " --max-fwhm " + factor));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto marks = Marks(r.out);
    ASSERT_EQ(marks.size(), 7u) << r.out;
    for (int f = 1; f <= 7; ++f) {
      const Mark& m = marks.at(f);
      EXPECT_NEAR(m.fwhm, truth[f - 1].fwhm, 0.03 * truth[f - 1].fwhm) << "frame " << f;
      EXPECT_GT(m.roundness, 0.95) << "frame " << f;
      // The simulated sky's median: 800 + 500 / 2 + 250 / 2.
      EXPECT_NEAR(m.background, 1175, 10) << "frame " << f;
      const bool wide = (f == 3 && !factor.empty()) || (f == 6 && factor == "1.1");
      EXPECT_EQ(m.marked, !wide) << "frame " << f << " " << m.reason;
      EXPECT_EQ(m.checked, !wide) << "frame " << f;
      EXPECT_EQ(RunImages(r.out).count(f), wide ? 0u : 1u) << "frame " << f;
    }
    EXPECT_TRUE(factor != "1.5" || marks.at(3).reason == "FWHM 6.0 > 1.5 x médiane") << marks.at(3).reason;
  }
}

// A project's marks, whatever put them there: none at all (the automatic
// choice decides), the guide star with a reference the tracking left on
// empty sky (passed over, said, and the guide star followed), or both on
// the star. The three give the same result byte for byte.
TEST(AutoMarks, ProjectPairsWithoutAStarAreNotFollowed) {
  TempDir dir;
  const std::string sim =
      qvtest::SimulateNight(dir, "sim", "--frames 5 --width 320 --height 240 --stars 90 --dither 15 --seed 8");
  const std::string project = qvtest::ReadText(sim + "/project.txt");
  // Image 1's line (line 17) with its guide pair (columns 6-7) and its
  // reference pair (columns 11-12) replaced.
  auto withFirstPairs = [&](const std::string& guide, const std::string& ref) {
    size_t begin = 0;
    for (int line = 0; line < 16; ++line) begin = project.find('\n', begin) + 1;
    const size_t end = project.find('\r', begin);
    std::vector<std::string> f;
    std::istringstream fields(project.substr(begin, end - begin));
    for (std::string c; std::getline(fields, c, '\t');) f.push_back(c);
    if (!guide.empty()) f[5] = f[6] = guide;
    f[10] = f[11] = ref;
    std::string line;
    for (const std::string& c : f) line += c + "\t";
    return project.substr(0, begin) + line + project.substr(end);
  };
  auto stack = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir.File(name + ".txt"), std::ios::binary) << text;
    return Stack(dir, qvtest::Q(dir.File(name + ".txt")) + " --mark auto --out " + qvtest::Q(dir.File(name + ".fts")));
  };
  const CliResult guided = stack("guided", withFirstPairs("", "0"));
  ASSERT_EQ(guided.status, 0) << guided.err;
  const Mark star = Marks(guided.out).at(1);
  const CliResult inherited = stack("inherited", withFirstPairs("", "0.05"));
  ASSERT_EQ(inherited.status, 0) << inherited.err;
  EXPECT_TRUE(qvtest::Contains(inherited.err, "la référence du projet (16, 12) n'est pas sur une étoile"));
  const CliResult none = stack("none", withFirstPairs("0", "0"));
  ASSERT_EQ(none.status, 0) << none.err;
  for (const CliResult* r : {&guided, &inherited, &none}) {
    const auto marks = Marks(r->out);
    ASSERT_EQ(marks.size(), 5u) << r->out;
    EXPECT_NEAR(marks.at(1).x, star.x, 2) << r->out;
    EXPECT_NEAR(marks.at(1).y, star.y, 2) << r->out;
    EXPECT_EQ(RunImages(r->out).size(), 5u) << r->out;
    for (const auto& [f, line] : RunImages(r->out)) EXPECT_TRUE(line.accepted) << f;
  }
  EXPECT_EQ(qvtest::ReadText(dir.File("inherited.fts")), qvtest::ReadText(dir.File("guided.fts")));
}

TEST(AutoMarks, NoUsableStarSaysWhyAndHowToGoOn) {
  TempDir dir;
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 30);
  std::vector<int> bare(200 * 150), clipped(200 * 150);
  for (size_t k = 0; k < bare.size(); ++k)
    bare[k] = clipped[k] = static_cast<int>(std::lround(1500 + noise(rng))) - 32768;
  // One star, clipped flat at full scale.
  for (int y = 70; y < 80; ++y)
    for (int x = 95; x < 105; ++x)
      if (const double d = std::hypot(x - 99.5, y - 74.5); d < 4.5)
        clipped[static_cast<size_t>(y) * 200 + x] = d < 2.5 ? 32767 : 20000 - 32768;
  for (const auto& [values, why] : {std::pair{&bare, "aucune étoile"}, {&clipped, "saturée"}}) {
    for (const char* name : {"a.fits", "b.fits"})
      qvtest::WriteFits16(dir.File(name), 200, 150, 1, *values, {"BZERO   = 32768"});
    const CliResult r = Stack(dir, qvtest::Q(dir.File("a.fits")) + " " + qvtest::Q(dir.File("b.fits")) +
                                       " --guide auto --out " + qvtest::Q(dir.File("o.fts")));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(qvtest::Contains(r.err, why));
    EXPECT_TRUE(qvtest::Contains(r.err, "--guide X,Y"));
  }
  // An unreadable first image: the refusal says what the reading met.
  qvtest::WriteBytes(dir.File("a.fits"), {});
  const CliResult empty = Stack(dir, qvtest::Q(dir.File("a.fits")) + " " + qvtest::Q(dir.File("b.fits")) +
                                         " --guide auto --out " + qvtest::Q(dir.File("o.fts")));
  EXPECT_TRUE(qvtest::Contains(empty.err, "l'image 1 est illisible : fichier vide : " + dir.File("a.fits")))
      << empty.err;
}

TEST(AutoMarks, RotationStarFollowsTheTurningField) {
  TempDir dir;
  const std::string sim = qvtest::SimulateNight(
      dir, "sim", "--frames 4 --width 320 --height 240 --stars 90 --rotation 0.8 --dither 12 --seed 6");
  const CliResult r = Stack(dir, Frames(sim, 4) + " --guide auto --rotation auto --out " +
                                     qvtest::Q(dir.File("o.fts")) + " --save-project " + qvtest::Q(dir.File("p.txt")));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto run = RunImages(r.out);
  ASSERT_EQ(run.size(), 4u) << r.out;
  for (int f = 1; f <= 4; ++f) {
    EXPECT_TRUE(run.at(f).accepted);
    // The stack turns each frame back by the field's turn since frame 1.
    EXPECT_NEAR(run.at(f).stackAngle, -0.8 * (f - 1) * M_PI / 180, 0.006) << "frame " << f;
  }
  // Every later frame measures the turn from its own rotation star.
  const std::string project = qvtest::ReadText(dir.File("p.txt"));
  const std::regex rotOn("frame00[234]\\.fts\\t(?:[^\\t]*\\t){14}1\\t");
  EXPECT_EQ(std::distance(std::sregex_iterator(project.begin(), project.end(), rotOn), std::sregex_iterator()), 3);
}

// A run that marks each frame as it reaches it processes each frame once,
// and gives what marking every frame first and then running gives, to the
// last bit: with a frame of another field, an unreadable frame (unticked,
// or kept and tracked on what the planes held), and ranges that leave
// frames before and after them.
TEST(AutoMarks, MarkingOnTheWayGivesWhatMarkingFirstGives) {
  TempDir dir;
  const std::string sim = qvtest::SimulateNight(
      dir, "sim", "--frames 7 --width 160 --height 120 --stars 60 --dither 12 --other-field 5 --seed 9");
  // Frame 3 cut in the middle of its rows.
  std::filesystem::resize_file(sim + "/frame003.fts", 2880 + 160 * 2 * 60);
  std::vector<std::string> parts{sim + "/"};
  for (int f = 1; f <= 7; ++f) parts.push_back("frame00" + std::to_string(f) + ".fts");
  for (const bool keep : {false, true})
    for (const auto& [first, last] : {std::pair{0, 0}, {3, 6}, {4, 7}}) {
      const std::string where =
          std::string(keep ? "kept" : "unticked") + " " + std::to_string(first) + ".." + std::to_string(last);
      const qv::RunRequest request{first, last};
      const qv::AutoMarkOptions options{false, keep};
      RunTrace trace[2];
      for (const bool onTheWay : {false, true}) {
        qvtest::TestSession ts;
        qv::Session& s = *ts;
        qv::AddImages(s, parts);
        (onTheWay ? qv::FillListWithoutThumbnails : qv::FillList)(s, 1, true, qv::ListListener::Headless());
        qv::RunResult run;
        if (!onTheWay) {
          ASSERT_TRUE(qv::AutoMarks(s, options).ok) << where;
          run = qv::StackRun(s, request, qv::RunListener::Headless());
        } else {
          qv::AutoMarker marker(s, options);
          ASSERT_TRUE(marker.Reference() && marker.Start()) << where;
          qv::MarkingRun walk;
          walk.marker = &marker;
          walk.Begin(s, request);
          run = qv::StackRun(s, request, walk);
          walk.MarkUpTo(s, s.ImageCount());
        }
        ASSERT_TRUE(run.outcome) << where;
        trace[onTheWay] = Trace(s, run);
      }
      EXPECT_EQ(trace[0].frames, trace[1].frames) << where;
      EXPECT_EQ(trace[0].entries, trace[1].entries) << where;
      EXPECT_TRUE(trace[0].dest == trace[1].dest) << where;
      EXPECT_FALSE(trace[0].frames.empty()) << where;
    }
}
