// Project files: saving, loading, the older layouts and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/options.h"
#include "support.h"
#include "workspace/form1.h"
#include "workspace/image_list.h"
#include "workspace/project.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

void WriteText(const std::string& path, const std::string& text) {
  qvtest::WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

void Touch(const std::string& path) { WriteText(path, "x"); }

std::string Join(const std::vector<std::string>& lines) {
  std::string t;
  for (const std::string& l : lines) t += l + "\r\n";
  return t;
}

// Columns 8..22 of an image line: checked, every other field 0, no zone.
const std::string kRest = "0\t1\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\t";

std::string ImageLineOf(const std::string& file, int w, int h, const std::string& gx, const std::string& gy,
                        const std::string& rest = kRest) {
  return file + "\t2\t" + std::to_string(w) + "\t" + std::to_string(h) + "\t0\t" + gx + "\t" + gy + "\t" + rest;
}

ImageEntry Entry(const std::string& file, double gx, double gy) {
  ImageEntry e;
  e.ImgFile = file;
  e.ImgNaxis = 3;
  e.ImgNaxis1 = 1000;
  e.ImgNaxis2 = 800;
  e.ImgBzero = 32768;
  e.ImgGuideX = gx;
  e.ImgGuideY = gy;
  e.ImgChecked = 1;
  e.ImgBitpix = 16;  // not saved
  return e;
}

// A folder with one image, the lines 1..16 of a plain tagged file, and a
// session to load them into.
class ProjectFile : public ::testing::Test {
 protected:
  ProjectFile() { Touch(img); }
  ProjectLoad Load(const std::vector<std::string>& text, Form1& into) {
    WriteText(dir.File("p.txt"), Join(text));
    return LoadProject(into, dir.File("p.txt"));
  }
  ProjectLoad Load() { return Load(lines, s.form1); }
  std::string Line(int w, int h, const std::string& gx, const std::string& gy, const std::string& rest = kRest) {
    return ImageLineOf(img, w, h, gx, gy, rest);
  }

  TempDir dir;
  std::string img = dir.File("a.fts");
  std::vector<std::string> lines = {
      "Quelvista", "0",   "\t\t", "1000", "3",  "5\t .5\t .5\t .5\t .01",   " 1.28", "100", "2", "1",
      "5",         " 75", "32",   "0",    "10", "_HA\t0\t_SII\t0\t_OIII\t0"};
  TestSession s;
};

struct FakeDialogs : FileDialogs {
  std::string answer;
  std::vector<FileDialogRequest> asked;
  std::string OpenFile(const FileDialogRequest& r) override { return asked.push_back(r), answer; }
  SaveAnswer SaveFile(const FileDialogRequest& r) override { return asked.push_back(r), SaveAnswer{answer, 0}; }
};

}  // namespace

TEST_F(ProjectFile, SavedProjectReloadsToTheSameListAndResavesByteForByte) {
  const std::string b = dir.File("b.fts");
  Touch(b);
  s->opt.UseMask = EdgeCut | CircCrop;
  s->guide.GuideBox = 64;
  s.form1.Text3 = "80.5";
  s->ResizeImageArrays(2);
  s->Img[1] = Entry(img, 1.0 / 3.0, 0.25);
  s->Img[1].ImgZone = "0.1,0.2;0.3,0.4;S";
  s->Img[1].ImgRegFlags = 3;
  s->Img[2] = Entry(b, 0.123456789012345678, 0.5);
  s->Img[2].ImgShiftX = -0.002;
  s->Img[2].ImgAngle = 12.5;
  s->Img[2].ImgRot = 1;
  s->Img[2].ImgRotX = 1e-7;
  ASSERT_EQ(SaveProject(s.form1, dir.File("p.txt")).outcome, ProjectSave::Saved);
  EXPECT_EQ(s.form1.Project, dir.File("p.txt"));
  const std::string text = qvtest::ReadText(dir.File("p.txt"));
  EXPECT_EQ(text.rfind("Quelvista\r\n8200\r\n\t\t\r\n1000\r\n3\r\n5\t .5\t .5\t .5\t .01\r\n 1.28\r\n", 0), 0u);
  EXPECT_NE(text.find("\r\n 80.5\r\n64\r\n"), std::string::npos);
  EXPECT_NE(text.find("\t32768\t0.333333333333333\t0.25\t3\t1\t0\t"), std::string::npos);
  EXPECT_NE(text.find("\t0.123456789012346\t0.5\t"), std::string::npos);
  EXPECT_NE(text.find("\t-0.002\t0\t12.5\t1\t1E-07\t"), std::string::npos);
  EXPECT_NE(text.find("\t0.1,0.2;0.3,0.4;S\t\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), "\t\t\r\n");  // an empty zone leaves two tabs

  TestSession r;
  ASSERT_EQ(LoadProject(r.form1, dir.File("p.txt")).outcome, ProjectLoad::Completed);
  ASSERT_EQ(r->ImageCount(), 2);
  EXPECT_FLOAT_EQ(r->opt.MinQual, 0.805f);
  EXPECT_EQ(r.form1.Option1, 1);
  EXPECT_EQ(r->Img[2].ImgFile, b);
  EXPECT_DOUBLE_EQ(r->Img[2].ImgGuideX, 0.123456789012346);
  EXPECT_EQ(r->Img[2].ImgBitpix, 0);  // headers are read again
  // The strip follows the entries and the first entry is selected.
  ASSERT_EQ(r.form1.Check9.size(), 3u);
  EXPECT_EQ(r.form1.Check9[2].Caption, "b.fts");
  EXPECT_EQ(r->CurPic, 1);
  EXPECT_EQ(r->RunState, 0);
  ASSERT_EQ(SaveProject(r.form1, dir.File("q.txt")).outcome, ProjectSave::Saved);
  // Selecting entry 1 read the stand-in image files again: they are not
  // FITS, so their header fields were reset; everything else is unchanged.
  std::string reread = text;
  for (size_t at; (at = reread.find("\t800\t32768\t")) != std::string::npos;) reread.replace(at, 11, "\t800\t0\t");
  EXPECT_EQ(qvtest::ReadText(dir.File("q.txt")), reread);
}

TEST(Project, SavingNeedsAListAndAWritablePlace) {
  TempDir dir;
  TestSession s;
  s.form1.Project = "old.txt";
  EXPECT_EQ(SaveProject(s.form1, dir.File("p.txt")).outcome, ProjectSave::EmptyList);
  s->ResizeImageArrays(1);
  s->Img[1] = Entry(dir.File("a.fts"), 0.5, 0.5);
  EXPECT_EQ(SaveProject(s.form1, dir.File("missing/p.txt")).outcome, ProjectSave::Failed);
  EXPECT_EQ(SaveProject(s.form1, dir.path().string()).outcome, ProjectSave::Failed);  // a folder
  s->Img[1].ImgAngle = std::nan("");                                                  // has no text form
  EXPECT_EQ(SaveProject(s.form1, dir.File("p.txt")).outcome, ProjectSave::Failed);
  EXPECT_EQ(s.form1.Project, "old.txt");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(ProjectFile, AMovedProjectFindsItsFilesInItsOwnFolder) {
  Touch(dir.File("c.fts"));
  lines[2] = "/gone/masque.fts\t\t/gone/plu.fts";
  lines.push_back(ImageLineOf("/gone/a.fts", 10, 10, "0.5", "0.5"));
  lines.push_back(ImageLineOf("/gone/b.fts", 10, 10, "0.5", "0.5"));  // found nowhere: dropped
  lines.push_back(ImageLineOf("c.fts", 10, 10, "0.5", "0.5"));
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->opt.InitDir, dir.path().string() + "/");
  EXPECT_EQ(s->opt.MaskFile, dir.File("masque.fts"));  // rewritten although it is not there either
  EXPECT_EQ(s->opt.DarkFile, "");
  EXPECT_EQ(s->opt.FlatFile, dir.File("plu.fts"));
  ASSERT_EQ(s->ImageCount(), 2);
  EXPECT_EQ(s->Img[1].ImgFile, img);
  EXPECT_EQ(s->Img[2].ImgFile, dir.File("c.fts"));
}

TEST_F(ProjectFile, WithoutItsFirstImageNoImageLoads) {
  s.form1.Project = "before.txt";
  lines[1] = "8";
  lines.push_back(ImageLineOf("/gone/b.fts", 10, 10, "0.5", "0.5"));
  lines.push_back(Line(10, 10, "0.5", "0.5"));
  EXPECT_EQ(Load().outcome, ProjectLoad::NoImages);
  EXPECT_EQ(s->ImageCount(), 0);
  EXPECT_EQ(s->opt.UseMask, 8);  // the settings are taken all the same
  lines.resize(16);              // no image lines at all
  EXPECT_EQ(Load().outcome, ProjectLoad::NoImages);
  EXPECT_EQ(LoadProject(s.form1, dir.File("nothing.txt")).outcome, ProjectLoad::NoFile);
  EXPECT_EQ(s.form1.Project, "before.txt");
}

TEST_F(ProjectFile, EarlierTagAndUntaggedFiles) {
  lines[0] = "Marrowfeld";
  lines[1] = "512";
  lines.push_back(Line(10, 10, "0.5", "0.5"));
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->opt.UseMask, 512);

  // Another case is no tag: the first line is line 11 and lines 2..10 are absent.
  TestSession u;
  u->opt.UseMask = 7;
  u->opt.MaskFile = "kept.fts";
  ASSERT_EQ(
      Load({"quelvista", " 60", "128", "1", "12", "_R\t1\t_V\t2\t_B\t4", Line(10, 10, "0.5", "0.5")}, u.form1).outcome,
      ProjectLoad::Completed);
  EXPECT_FLOAT_EQ(u->opt.MinQual, 0.6f);
  EXPECT_EQ(u->guide.GuideBox, 128);
  EXPECT_EQ(u->opt.Hsens, 12);
  EXPECT_EQ(u->opt.ColorText[1], "_V");
  EXPECT_EQ(u->opt.UseMask, 7);
  EXPECT_EQ(u->opt.MaskFile, "kept.fts");
  EXPECT_EQ(u->ImageCount(), 1);
}

TEST_F(ProjectFile, PixelPositionsOfOlderFilesBecomeFractions) {
  lines.push_back(Line(1000, 800, "1", "1"));  // exactly 1 is a fraction already
  // One field above 1 makes all ten pixels: ImgRefY 799 and the shift 9.99.
  lines.push_back(Line(1000, 800, "999", "0.5", "0\t1\t0\t0.5\t799\t9.99\t0\t0\t0\t0\t0\t0\t0\t0\t\t"));
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->Img[1].ImgGuideX, 1);
  const ImageEntry& e = s->Img[2];
  EXPECT_DOUBLE_EQ(e.ImgGuideX, 1);
  EXPECT_DOUBLE_EQ(e.ImgGuideY, 0.5 / 799);
  EXPECT_DOUBLE_EQ(e.ImgRefX, 0.5 / 999);
  EXPECT_DOUBLE_EQ(e.ImgShiftX, 9.99 / 999);

  // Under the 2 x 2 fusion the processed image is half as wide and high.
  lines[1] = std::to_string(Bin2x2);
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_DOUBLE_EQ(s->Img[2].ImgGuideX, 999.0 / 499);
  EXPECT_DOUBLE_EQ(s->Img[2].ImgRefY, 799.0 / 399);

  // A processed height of 1 cannot be converted: the load ends there.
  lines[17] = Line(1000, 2, "5", "0");
  lines.push_back(Line(1000, 800, "0.5", "0.5"));
  const ProjectLoad r = Load();
  EXPECT_EQ(r.error, kErrDivisionByZero);
  ASSERT_EQ(s->ImageCount(), 2);
  EXPECT_EQ(s->Img[2].ImgGuideX, 5);
}

TEST_F(ProjectFile, ImageLinesEndAtEndOrAnEmptyLineAndNeedThreeTabs) {
  lines.push_back(Line(10, 10, "0.5", "0.5"));
  lines.push_back(img + "\t2\t10");        // two tabs: skipped
  lines.push_back(img + "\t2\t640\t480");  // three tabs: the rest reads as 0 or empty
  lines.push_back("eNd");
  lines.push_back(Line(10, 10, "0.5", "0.5"));
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  ASSERT_EQ(s->ImageCount(), 2);
  EXPECT_EQ(s->Img[2].ImgNaxis2, 480);
  EXPECT_EQ(s->Img[2].ImgChecked, 0);
  lines[19] = "";
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->ImageCount(), 2);

  // Lines ended by LF alone load the same.
  std::string lf;
  for (size_t i = 0; i < 18; ++i) lf += lines[i] + "\n";
  WriteText(dir.File("lf.txt"), lf);
  ASSERT_EQ(LoadProject(s.form1, dir.File("lf.txt")).outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->ImageCount(), 1);
}

TEST_F(ProjectFile, SettingLinesAndTheirRanges) {
  lines.push_back(Line(10, 10, "0.5", "0.5"));
  lines[5] = "9\t .25";            // fewer than five fields: EdgeSize only
  lines[10] = "15";                // GradRatio clamped
  lines[12] = "40";                // ln(40) / ln(2) - 5 rounds to 0
  lines[15] = "_X\t1\t_Y\t2\t_Z";  // five fields: colours unchanged
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->opt.EdgeSize, 9);
  EXPECT_FLOAT_EQ(s->opt.FovX, 0.5f);
  EXPECT_EQ(s->opt.GradRatio, 10);
  EXPECT_EQ(s->guide.GuideBox, 32);
  EXPECT_EQ(s->opt.ColorText[0], "_HA");
  lines[5] = "";
  lines[10] = "-3";
  s->opt.EdgeSize = 44;
  ASSERT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->opt.EdgeSize, 44);
  EXPECT_EQ(s->opt.GradRatio, 0);

  // GuideBox 0, an index past "Aucun" and a slider value past 20 are errors.
  for (const char* box : {"0", "256"}) {
    lines[12] = box;
    const ProjectLoad r = Load();
    EXPECT_EQ(r.outcome, ProjectLoad::Failed) << box;
    EXPECT_EQ(r.line, 13);
    EXPECT_EQ(s->ImageCount(), 0);
  }
  lines[12] = "32";
  lines[14] = "21";
  EXPECT_EQ(Load().line, 15);
}

TEST_F(ProjectFile, ARunTimeErrorKeepsWhatWasReadBeforeIt) {
  s.form1.Project = "before.txt";
  lines[1] = std::to_string(EdgeCut);
  lines[3] = "2000";
  lines[4] = "70000";  // MaskSize is 16-bit
  ProjectLoad r = Load();
  EXPECT_EQ(r.error, kErrOverflow);
  EXPECT_EQ(r.line, 5);
  EXPECT_EQ(s->opt.UseMask, EdgeCut);
  EXPECT_EQ(s->opt.MaskThr, 2000);
  EXPECT_EQ(s->opt.MaskSize, 3);

  lines[4] = "3";
  lines.push_back(Line(10, 10, "0.5", "0.5"));
  lines.push_back(Line(20, 10, "0.5", "0.5", "0\t300\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\t"));
  lines.push_back(Line(30, 10, "0.5", "0.5"));
  r = Load();
  EXPECT_EQ(r.outcome, ProjectLoad::Failed);
  EXPECT_EQ(r.line, 18);
  ASSERT_EQ(s->ImageCount(), 2);  // the faulty entry keeps the columns before the error
  EXPECT_EQ(s->Img[2].ImgNaxis1, 20);
  EXPECT_EQ(s->Img[1].ImgRegFlags, 0);  // the strip was not rebuilt
  EXPECT_EQ(s.form1.Check9.size(), 1u);
  EXPECT_EQ(s.form1.Project, "before.txt");

  lines.resize(7);  // a file that ends inside the settings
  EXPECT_EQ(Load().error, kErrInputPastEnd);
}

TEST_F(ProjectFile, DamagedFilesEndTheLoadWithoutHarm) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    std::string bytes(static_cast<size_t>(rng() % 20000), '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    // Half of the files start like a real project.
    if (round % 2) bytes = Join(lines) + Line(10, 10, "0.5", "0.5") + "\r\n" + bytes;
    WriteText(dir.File("g.txt"), bytes);
    TestSession fresh, inMemory;
    const ProjectLoad fromFile = LoadProject(fresh.form1, dir.File("g.txt"));
    EXPECT_NE(fromFile.outcome, ProjectLoad::NoFile);
    EXPECT_EQ(fresh->RunState, 0);
    EXPECT_TRUE(fresh->Img[0].ImgFile.empty());
    // The same bytes from memory end the same way, at the same line.
    const std::vector<uint8_t> raw(bytes.begin(), bytes.end());
    const ProjectLoad fromBytes = LoadProjectBytes(inMemory.form1, raw, dir.File("g.txt"));
    EXPECT_EQ(fromBytes.outcome, fromFile.outcome);
    EXPECT_EQ(fromBytes.error, fromFile.error);
    EXPECT_EQ(fromBytes.line, fromFile.line);
    EXPECT_EQ(inMemory->ImageCount(), fresh->ImageCount());
  }

  // A line longer than the limit is refused, not read into memory.
  lines.push_back(Line(10, 10, "0.5", "0.5"));
  lines.push_back(img + "\t2\t10\t10\t" + std::string(kMaxProjectLine + 10, '7'));
  const ProjectLoad r = Load();
  EXPECT_EQ(r.error, kErrOutOfMemory);
  EXPECT_EQ(s->ImageCount(), 1);
  // Just below the limit is an ordinary line.
  lines.back() =
      Line(10, 10, "0.5", "0.5", kRest.substr(0, kRest.size() - 1) + std::string(kMaxProjectLine - 200, 'z'));
  EXPECT_EQ(Load().outcome, ProjectLoad::Completed);
  EXPECT_EQ(s->Img[2].ImgZone.size(), kMaxProjectLine - 200);
}

TEST(Project, PathsAreWrittenInWindows1252) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "Séance d'été");
  const std::string img = (dir.path() / "Séance d'été" / "M31 €.fts").string();
  Touch(img);
  Touch(dir.File("星.fts"));
  TestSession s;
  s->guide.GuideBox = 32;
  s->opt.ColorText[0] = "_Hα";
  s->ResizeImageArrays(2);
  s->Img[1] = Entry(img, 0.5, 0.5);
  s->Img[2] = Entry(dir.File("星.fts"), 0.5, 0.5);
  const std::string prj = (dir.path() / "Séance d'été" / "p.txt").string();
  ASSERT_EQ(SaveProject(s.form1, prj).outcome, ProjectSave::Saved);
  const std::string text = qvtest::ReadText(prj);
  EXPECT_NE(text.find("S\xE9"
                      "ance d'\xE9t\xE9/M31 \x80.fts\t"),
            std::string::npos);
  EXPECT_NE(text.find("/?.fts\t"), std::string::npos);  // no form in the code page
  EXPECT_NE(text.find("_H?\t"), std::string::npos);

  TestSession r;
  ASSERT_EQ(LoadProject(r.form1, prj).outcome, ProjectLoad::Completed);
  ASSERT_EQ(r->ImageCount(), 1);  // the name written as "?" matches no file
  EXPECT_EQ(r->Img[1].ImgFile, img);

  // Every byte reads as a character that is written back as that byte.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
  EXPECT_EQ(Utf8ToWindows1252("\xC3(\xF0\x9F\x98\x80"), "?(?");
}

TEST(ImageList, PopulateBuildsTheStripInTheRunningState) {
  TestSession s;
  s->opt.UseMask = Bin2x2 | PixAspect;
  s->opt.PixRatio = 1.5f;
  s->ResizeImageArrays(3);
  for (size_t i = 1; i <= 3; ++i) s->Img[i] = Entry("/x/" + std::to_string(i) + ".fts", 0, 0);
  s->Img[3].ImgChecked = 0;
  EXPECT_EQ(ThumbnailStep(*s), 6);  // 1000 / 2 x 1.5 / 120
  std::vector<std::string> built;
  s.services.events.onYield = [&] {
    // A stop request ends the loop after the current thumbnail.
    if (s->RunState != 1 || s.form1.Caption.find('/') == std::string::npos) return;
    if (built.empty() || built.back() != s.form1.Caption) built.push_back(s.form1.Caption);
    if (s.form1.Caption == "2/3") s->RunState = 2;
  };
  Populate(s.form1, 1, false);
  s.services.events.onYield = nullptr;
  EXPECT_EQ(built, (std::vector<std::string>{"1/3", "2/3"}));
  EXPECT_EQ(s.form1.Check9[1].ForeColor, 0xFF0000);  // entry 1 carries NewRef
  EXPECT_EQ(s->CurPic, 1);
  EXPECT_EQ(s->RunState, 0);
  Populate(s.form1, 3, true);  // new entries are checked
  EXPECT_EQ(s->Img[3].ImgChecked, 1);
  EXPECT_EQ(s.form1.Check9[3].Value, 1);

  // "&Nouveau" leaves nothing of the last image on show; the "Niveau"
  // settings stay as the user left them.
  Form1& f = s.form1;
  f.Label1 = "1000x800\r\nZoom=50.0%";
  f.Label6 = "3/3 Ok";
  f.Line1Visible = true;
  f.Text1 = "123";
  f.Text2 = "4567";
  f.Check3 = 0;
  f.HScroll1 = 7;
  mnuNew_Click(f);
  EXPECT_EQ(s->ImageCount() + f.Check9.size(), 1u);
  EXPECT_FALSE(f.PanBarsVisible || f.Picture1Visible || f.Frame2Visible || f.Picture10Visible);
  EXPECT_TRUE(f.Label1.empty());
  EXPECT_TRUE(f.Label6.empty());
  EXPECT_FALSE(f.Line1Visible);
  EXPECT_TRUE(f.Picture3Cleared);
  EXPECT_EQ(f.Text1, "123");
  EXPECT_EQ(f.Text2, "4567");
  EXPECT_EQ(f.Check3, 0);
  EXPECT_EQ(f.HScroll1, 7);
}

TEST_F(ProjectFile, MenuCommandsUseTheDialogsAndTheGuard) {
  s->ResizeImageArrays(1);
  s->Img[1] = Entry(img, 0.5, 0.5);
  s->guide.GuideBox = 32;
  FakeDialogs d;
  s->RunState = 1;
  mnuSavePrj_Click(s.form1, d);
  EXPECT_TRUE(d.asked.empty());
  s->RunState = 0;

  d.answer = dir.File("p.txt");
  s.form1.Project = "/old/place/x.txt";
  mnuSavePrj_Click(s.form1, d);
  ASSERT_EQ(d.asked.size(), 1u);
  EXPECT_EQ(d.asked[0].title, "Enregistrer un projet");
  EXPECT_EQ(d.asked[0].initialFile, "/old/place/x.txt");
  EXPECT_EQ(s.form1.Project, d.answer);

  s.form1.Text7 = "2";
  s.form1.mnuDebug = true;
  s.form1.DebugLog = {"old"};
  mnuLoadPrj_Click(s.form1, d);
  EXPECT_EQ(d.asked[1].startFolder, dir.path().string() + "/");
  ASSERT_FALSE(s.form1.DebugLog.empty());  // cleared, then the load's own lines
  EXPECT_EQ(s.form1.DebugLog[0], "Ouverture du projet " + d.answer);
  EXPECT_EQ(s->ImageCount(), 1);
  EXPECT_TRUE(s.form1.Text7.empty());
}

TEST_F(ProjectFile, CommandLineResavesStablyAndShowsWhatADamagedFileGave) {
  lines.push_back(Line(10, 10, "0.5", "0.25"));
  WriteText(dir.File("p.txt"), Join(lines));
  const auto run = [&](const std::string& args) { return qvtest::Cli(dir, "project " + args); };
  // A resaved project resaves to the same bytes.
  ASSERT_EQ(run("save '" + dir.File("p.txt") + "' '" + dir.File("q.txt") + "'").status, 0);
  ASSERT_EQ(run("save '" + dir.File("q.txt") + "' '" + dir.File("r.txt") + "'").status, 0);
  EXPECT_EQ(qvtest::ReadText(dir.File("q.txt")), qvtest::ReadText(dir.File("r.txt")));

  lines[16] = Line(10, 10, "0.5", "0.5", "0\t1\t300\t\t\t");
  WriteText(dir.File("bad.txt"), Join(lines));
  const qvtest::CliResult r = run("show '" + dir.File("bad.txt") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"images\":[{"), std::string::npos);
}
