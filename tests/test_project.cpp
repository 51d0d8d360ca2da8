// Project files: the value read from bytes, applied to the program through
// the window or without one, and written back.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

#include "core/options.h"
#include "support.h"
#include "workspace/form1.h"
#include "workspace/project.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

std::string Join(const std::vector<std::string>& lines, const char* end = "\r\n") {
  std::string t;
  for (const std::string& l : lines) t += l + end;
  return t;
}

// Columns 8..22 of an image line: checked, every other field 0, no zone.
const std::string kRest = "0\t1\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\t";

std::string ImageLineOf(const std::string& file, int w, int h, const std::string& gx, const std::string& gy,
                        const std::string& rest = kRest) {
  return file + "\t2\t" + std::to_string(w) + "\t" + std::to_string(h) + "\t0\t" + gx + "\t" + gy + "\t" + rest;
}

// Lines 1..16 of a plain tagged file.
const std::vector<std::string> kSettings = {
    "Quelvista", "0",   "\t\t", "1000", "3",  "5\t .5\t .5\t .5\t .01",   " 1.28", "100", "2", "1",
    "5",         " 75", "32",   "0",    "10", "_HA\t0\t_SII\t0\t_OIII\t0"};

// A project read from memory in the folder /prj/, where only the files
// named in `files` exist.
ProjectRead Parse(const std::vector<std::string>& lines, int32_t useMaskBefore = 0, const char* end = "\r\n") {
  const std::string text = Join(lines, end);
  const auto exists = [](const std::string& f) { return f == "/prj/a.fts" || f == "/prj/c.fts"; };
  return ParseProject(std::vector<uint8_t>(text.begin(), text.end()), "/prj/p.txt", exists, useMaskBefore);
}

using Lines = std::vector<std::string>;

// kSettings with some lines replaced (index 0 = line 1) and lines added.
Lines Edited(std::initializer_list<std::pair<size_t, std::string>> changes, const Lines& added = {}) {
  Lines l = kSettings;
  for (const auto& [at, text] : changes) l[at] = text;
  l.insert(l.end(), added.begin(), added.end());
  return l;
}

const std::string kA = ImageLineOf("/prj/a.fts", 10, 10, "0.5", "0.5");

struct ParseCase {
  const char* what;
  Lines lines;
  ProjectLoad::Outcome outcome;
  int error, line;
  size_t images;
  std::function<void(const Project&)> check;
  int32_t useMaskBefore = 0;
  const char* end = "\r\n";
};

}  // namespace

TEST(ProjectParse, WhatTheReaderTakesAndWhereItStops) {
  using O = ProjectLoad;
  const std::string pixels =
      ImageLineOf("/prj/a.fts", 1000, 800, "999", "0.5", "0\t1\t0\t0.5\t799\t9.99\t" + kRest.substr(12));
  const Lines kUntagged = {"quelvista", " 60", "128", "1", "12", "_R\t1\t_V\t2\t_B\t4", kA};
  const std::vector<ParseCase> cases = {
      {"a plain tagged file", Edited({}, {kA}), O::Completed, 0, 17, 1,
       [](const Project& p) {
         EXPECT_TRUE(p.tagged && p.fovF && p.colourPlanes[2] && (*p.images)[0].GuideOrigin == PairOrigin::Loaded);
         EXPECT_EQ(*p.folder + *p.minQualPercent, "/prj/ 75");
       }},
      {"the earlier tag", Edited({{0, "Marrowfeld"}, {1, "512"}}, {kA}), O::Completed, 0, 17, 1,
       [](const Project& p) { EXPECT_EQ(*p.useMask, 512); }},
      // Another case is no tag: the first line is line 11, lines 2..10 are absent.
      {"untagged", kUntagged, O::Completed, 0, 7, 1,
       [](const Project& p) {
         EXPECT_FALSE(p.tagged || p.useMask || p.maskFile || p.edgeSize || p.expand);
         EXPECT_EQ(*p.gradRatio + *p.guideBox + *p.colourPlanes[2], 0 + 128 + 4);
       }},
      {"END in any case ends the images", Edited({}, {kA, "eNd", kA}), O::Completed, 0, 18, 1, nullptr},
      {"so does an empty line", Edited({}, {kA, "", kA}), O::Completed, 0, 18, 1, nullptr},
      {"lines of fewer than three tabs are skipped, three are enough",
       Edited({}, {kA, "/prj/a.fts\t2\t10", "/prj/a.fts\t2\t640\t480"}), O::Completed, 0, 19, 2,
       [](const Project& p) { EXPECT_EQ((*p.images)[1].ImgNaxis2 + (*p.images)[1].ImgChecked, 480); }},
      // Written on a system whose folders end with a backslash too.
      {"moved files are looked for in the project's folder",
       Edited({{2, "/gone/masque.fts\t\tC:\\nuit\\plu.fts"}},
              {ImageLineOf("/gone/a.fts", 10, 10, ".5", ".5"), ImageLineOf("/gone/b.fts", 10, 10, ".5", ".5"),
               ImageLineOf("C:\\nuit\\c.fts", 10, 10, ".5", ".5")}),
       O::Completed, 0, 19, 2,
       [](const Project& p) {
         // A master file is rewritten although it is not there either.
         EXPECT_EQ(*p.maskFile + "|" + *p.darkFile + "|" + *p.flatFile, "/prj/masque.fts||/prj/plu.fts");
         EXPECT_EQ((*p.images)[0].ImgFile + (*p.images)[1].ImgFile, "/prj/a.fts/prj/c.fts");
       }},
      {"without its first image no image loads",
       Edited({{1, "8"}}, {ImageLineOf("/gone/b.fts", 10, 10, ".5", ".5"), kA}), O::NoImages, 0, 17, 0,
       [](const Project& p) { EXPECT_EQ(*p.useMask, 8); }},
      {"no image lines at all", kSettings, O::NoImages, 0, 16, 0, nullptr},
      {"GradRatio clamped above", Edited({{10, "15"}}, {kA}), O::Completed, 0, 17, 1,
       [](const Project& p) { EXPECT_EQ(*p.gradRatio, 10); }},
      {"and below", Edited({{10, "-3"}}, {kA}), O::Completed, 0, 17, 1,
       [](const Project& p) { EXPECT_EQ(*p.gradRatio, 0); }},
      {"line 6 of fewer than five fields, line 16 of five", Edited({{5, "9\t .25"}, {15, "_X\t1\t_Y\t2\t_Z"}}, {kA}),
       O::Completed, 0, 17, 1, [](const Project& p) { EXPECT_TRUE(*p.edgeSize == 9 && !p.fovX && !p.colourNames[0]); }},
      // ln(40) / ln(2) - 5 rounds to 0: a box of 32.
      {"an empty line 6", Edited({{5, ""}, {12, "40"}}, {kA}), O::Completed, 0, 17, 1,
       [](const Project& p) { EXPECT_TRUE(!p.edgeSize && *p.guideBox == 32); }},
      // One field above 1 makes all ten pixels; exactly 1 is a fraction already.
      {"pixel positions of older files", Edited({}, {ImageLineOf("/prj/a.fts", 1000, 800, "1", "1"), pixels}),
       O::Completed, 0, 18, 2,
       [](const Project& p) {
         const ImageEntry& e = (*p.images)[1];
         EXPECT_TRUE((*p.images)[0].ImgGuideX == 1 && e.ImgGuideX == 1 && e.ImgGuideY == 0.5 / 799);
         EXPECT_TRUE(e.ImgRefX == 0.5 / 999 && e.ImgShiftX == 9.99 / 999);
       }},
      // Under the 2 x 2 fusion the processed image is half as wide and high:
      // the file's own, or the program's for a file without settings.
      {"pixel positions under the fusion", Edited({{1, std::to_string(Bin2x2)}}, {pixels}), O::Completed, 0, 17, 1,
       [](const Project& p) { EXPECT_DOUBLE_EQ((*p.images)[0].ImgRefY, 799.0 / 399); }},
      {"pixel positions of an untagged file", Lines({"5", " 75", "32", "0", "10", "", pixels}), O::Completed, 0, 7, 1,
       [](const Project& p) { EXPECT_DOUBLE_EQ((*p.images)[0].ImgRefY, 799.0 / 399); }, Bin2x2},
      {"a processed height of 1 cannot be converted",
       Edited({}, {kA, ImageLineOf("/prj/a.fts", 1000, 1, "5", "0"), kA}), O::Failed, kErrDivisionByZero, 18, 2,
       [](const Project& p) { EXPECT_EQ((*p.images)[1].ImgGuideX, 5); }},
      {"a 16-bit setting out of range", Edited({{3, "2000"}, {4, "70000"}}), O::Failed, kErrOverflow, 5, 0,
       [](const Project& p) { EXPECT_TRUE(*p.maskThr == 2000 && !p.maskSize && !p.edgeSize && !p.images); }},
      // The faulty entry keeps the columns before the error.
      {"an 8-bit column out of range",
       Edited({}, {kA, ImageLineOf("/prj/a.fts", 20, 10, ".5", ".25", "300\t1\t" + kRest.substr(4)), kA}), O::Failed,
       kErrOverflow, 18, 2,
       [](const Project& p) { EXPECT_TRUE((*p.images)[1].ImgGuideY == 0.25 && (*p.images)[1].ImgChecked == 0); }},
      {"a field of view too large for a single", Edited({{5, "7\t1e300\t.5\t.5\t.5"}}), O::Failed, kErrOverflow, 6, 0,
       [](const Project& p) { EXPECT_TRUE(*p.edgeSize == 7 && !p.fovX); }},
      {"a minimum quality too large for a double", Edited({{11, "1e999"}}), O::Failed, kErrOverflow, 12, 0,
       [](const Project& p) { EXPECT_FALSE(p.minQualPercent); }},
      // The errors of the window's controls: an invalid call (the logarithm of
      // 0), a missing option button, a slider value out of range.
      {"a guide box of 0", Edited({{12, "0"}}), O::Failed, 5, 13, 0,
       [](const Project& p) { EXPECT_TRUE(p.minQualPercent && !p.guideBox); }},
      {"a guide box past \"Aucun\"", Edited({{12, "256"}}), O::Failed, 340, 13, 0, nullptr},
      {"a slider value past 20", Edited({{14, "21"}}), O::Failed, 380, 15, 0,
       [](const Project& p) { EXPECT_TRUE(p.autoLevels && !p.levelSlider); }},
      {"a file that ends inside the settings", Lines(kSettings.begin(), kSettings.begin() + 7), O::Failed,
       kErrInputPastEnd, 7, 0, [](const Project& p) { EXPECT_TRUE(p.pixRatio && !p.calcThr); }},
      // Lines ended by LF alone, or CR alone, read the same.
      {"LF", Edited({}, {kA, kA}), O::Completed, 0, 18, 2, nullptr, 0, "\n"},
      {"CR", Edited({}, {kA, kA}), O::Completed, 0, 18, 2, nullptr, 0, "\r"},
      // A line longer than the limit is refused, not read into memory; just
      // below it is an ordinary line.
      {"a line past the limit", Edited({}, {kA, "/prj/a.fts\t2\t10\t10\t" + std::string(kMaxProjectLine + 10, '7')}),
       O::Failed, kErrOutOfMemory, 18, 1, nullptr},
      {"a line within the limit",
       Edited({}, {kA, kA.substr(0, kA.size() - 1) + std::string(kMaxProjectLine - 200, 'z')}), O::Completed, 0, 18, 2,
       [](const Project& p) { EXPECT_EQ((*p.images)[1].ImgZone.size(), kMaxProjectLine - 200); }},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.what);
    const ProjectRead r = Parse(c.lines, c.useMaskBefore, c.end);
    EXPECT_EQ(
        std::tuple(r.status.outcome, r.status.error, r.status.line, r.project.images ? r.project.images->size() : 0u),
        std::tuple(c.outcome, c.error, c.line, c.images));
    if (c.check) c.check(r.project);
  }
}

TEST(ProjectApply, WithoutAWindowTheEngineEndsAsThroughTheWindow) {
  Lines lines = Edited({{1, std::to_string(EdgeCut)}, {9, "0"}, {11, " 80.5"}, {12, "64"}, {13, "0"}, {14, "12"}});
  lines.push_back(ImageLineOf("/gone/b.fts", 10, 10, ".5", ".5"));
  const ProjectRead read = Parse(lines);
  ASSERT_EQ(read.status.outcome, ProjectLoad::NoImages);  // the window builds no list: both end here
  TestSession engine, window;
  int shows = 0;
  qvtest::ViewSpy spy;
  spy.onShowHisto = [&shows] { ++shows; };
  for (TestSession* t : {&engine, &window}) {
    t->form1.outer = &spy;
    (*t)->guide.Quality = 0.9f;
    (*t)->cal.DarkR.Redim(4, 4);
  }
  EngineControls held(*engine);
  EXPECT_EQ(ApplyProject(*engine, read, held).outcome, ProjectLoad::NoImages);
  EXPECT_EQ(shows, 2);  // "Auto" and the slider each redraw
  EXPECT_EQ(std::tuple(LoadProject(window.form1, read, "/prj/p.txt").outcome, shows),
            std::tuple(ProjectLoad::NoImages, 4));

  for (TestSession* t : {&engine, &window}) {
    Session& s = **t;
    EXPECT_EQ(s.opt.InitDir, "/prj/");
    EXPECT_EQ(s.opt.UseMask + s.opt.Hsens, EdgeCut + 10);  // no image shown: the slider moved alone
    EXPECT_EQ(s.cal.DarkR.UBound1(), 0);                   // the masters were rebuilt
    // Option1's handler: a new box, no template, a search that finds nothing.
    EXPECT_TRUE(s.guide.GuideBox == 64 && s.guide.GuideTemplate.UBound1() == 0 && s.guide.Quality == 0);
  }
  EXPECT_FLOAT_EQ(engine->opt.MinQual, 0.805f);
  EXPECT_EQ(engine->opt.MinQual, window->opt.MinQual);
  EXPECT_EQ(held.minQualPercent + "|" + window.form1.Text3, "80.5|80.5");
  const Form1& w = window.form1;
  EXPECT_EQ(std::vector<int>({held.expand, held.guideBoxChoice, held.autoLevels, held.levelSlider}),
            std::vector<int>({w.Check6, w.Option1, w.Check3, w.HScroll1}));
}

// Loads through the window from a folder that holds one image.
TEST(ProjectFile, AnErrorKeepsInForceWhatWasReadBeforeIt) {
  TempDir dir;
  TestSession s;
  const std::string img = dir.File("a.fts");
  std::ofstream(img) << "x";
  const auto load = [&](const Lines& text) {
    std::ofstream(dir.File("p.txt"), std::ios::binary) << Join(text);
    return LoadProject(s.form1, dir.File("p.txt"));
  };
  s.form1.Project = "before.txt";
  s->cal.DarkR.Redim(4, 4);
  ProjectLoad r = load(Edited({{3, "2000"}, {4, "70000"}}));
  EXPECT_EQ(std::tuple(r.line, s->opt.MaskThr, s->opt.MaskSize), std::tuple(5, 2000, 3));
  EXPECT_EQ(s->cal.DarkR.UBound1(), 4);  // the masters come after line 10

  r = load(Edited({}, {ImageLineOf(img, 10, 10, ".5", ".5"),
                       ImageLineOf(img, 20, 10, ".5", ".5", "0\t300\t" + kRest.substr(4)), kA}));
  EXPECT_EQ(r.line, 18);
  // Two entries, and no strip: entry 1 was not given NewRef and NewPos.
  EXPECT_TRUE(s->ImageCount() == 2 && s->Img[1].ImgRegFlags == 0 && s.form1.Check9.size() == 1u);
  EXPECT_EQ(s.form1.Project, "before.txt");

  // An error of a handler ends the load at its line: here the new search
  // from a guide position that has no 16-bit value.
  s->guide.GuideX = 1e10;
  r = load(Edited({{14, "12"}}, {ImageLineOf(img, 10, 10, "0.5", "0.5")}));
  EXPECT_EQ(std::tuple(r.error, r.line), std::tuple(kErrOverflow, 13));
  EXPECT_TRUE(s->opt.Hsens == 10 && s->ImageCount() == 0);
}

// A project opened and saved again under a decimal comma is the same file:
// its numbers are the program's own forms, whatever the user's locale.
TEST(ProjectFile, ADecimalCommaSavesTheSameFile) {
  TempDir dir;
  const std::string img = dir.File("a.fts");
  std::ofstream(img) << "x";
  const Lines lines = Edited({{11, " 75.5"}}, {ImageLineOf(img, 10, 10, "0.527073552425665", ".25")});
  std::ofstream(dir.File("p.txt"), std::ios::binary) << Join(lines);
  std::string saved[2];
  for (const bool comma : {false, true}) {
    TestSession s;
    if (comma) s->locale = NumLocale::Comma();
    ASSERT_EQ(LoadProject(s.form1, dir.File("p.txt")).outcome, ProjectLoad::Completed);
    EXPECT_EQ(s.form1.Text3, comma ? "75,5" : "75.5");
    const std::string out = dir.File(comma ? "comma.txt" : "dot.txt");
    ASSERT_EQ(SaveProject(s.form1, out).outcome, ProjectSave::Saved);
    saved[comma] = qvtest::ReadText(out);
  }
  EXPECT_EQ(saved[1], saved[0]);
  EXPECT_TRUE(qvtest::Contains(saved[0], "\r\n 75.5\r\n")) << saved[0];
}

TEST(ProjectWrite, TextIsWrittenInWindows1252) {
  const std::string img = "/Séance d'été/M31 €.fts";
  Project p;
  p.colourNames[0] = "_Hα";
  p.images.emplace(std::vector<ImageEntry>{{.ImgFile = img, .ImgZone = {}}, {.ImgFile = "/星.fts", .ImgZone = {}}});
  const std::vector<uint8_t> bytes = ProjectBytes(p);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_TRUE(qvtest::Contains(text,
                               "\n/S\xE9"
                               "ance d'\xE9t\xE9/M31 \x80.fts\t"));
  EXPECT_TRUE(qvtest::Contains(text, "\n/?.fts\t"));  // no form in the code page
  EXPECT_TRUE(qvtest::Contains(text, "\n_H?\t"));
  // Read back, the name written as "?" matches no file.
  const ProjectRead r =
      ParseProject(bytes, "/p.txt", [&img](const std::string& f) { return f == img || f == "/星.fts"; });
  ASSERT_EQ(r.project.images->size(), 1u);
  EXPECT_EQ((*r.project.images)[0].ImgFile, img);

  // Every byte reads as a character that is written back as that byte.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
  EXPECT_EQ(Utf8ToWindows1252("\xC3(\xF0\x9F\x98\x80"), "?(?");
}
