// The main window's list, selection and "Niveau" handlers on the model:
// what a user sees after adding images, walking the list with the keys
// and moving the level controls while something runs; and where the
// destination window's scroll bars start.
#include <gtest/gtest.h>

#include <filesystem>

#include <set>
#include <string>
#include <vector>

#include "editor/form2.h"
#include "support.h"
#include "workspace/add_images.h"
#include "workspace/form1_events.h"
#include "workspace/image_list.h"
#include "workspace/save_commands.h"

using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// Three small 16-bit images with a star, in a folder of the test's own; the
// folder first, as the open dialog gives it.
std::vector<std::string> Images(const TempDir& dir) {
  std::vector<std::string> parts{dir.path().string()};
  for (const char* name : {"c.fts", "a.fts", "b.fts"}) {
    std::vector<int> values(40 * 30, 800);
    values[12 * 40 + 20] = 30000;
    qvtest::WriteFits16(dir.File(name), 40, 30, 1, values);
    parts.push_back(name);
  }
  return parts;
}

class WindowRules : public ::testing::Test {
 protected:
  TestSession t;
  qv::Session& s = *t;
  qv::Form1& f = t.form1;
};

}  // namespace

// Adding images ends with the new image shown in the middle of the panned
// view, wherever the pan bars were left by the previous image; Up on the
// first image and Down on the last then leave the selection alone.
// "Enregistrer toutes les images en TIFF" then keeps a TIFF already there,
// shows each one written with the count in the run's status label, and
// says at the end what it did.
TEST_F(WindowRules, AddedImagesCentreThePanBarsStayUnderTheKeysAndSaveAsTiffCounting) {
  TempDir dir;
  f.HScroll2Value = 10;
  f.VScroll2Value = 90;
  // While the thumbnails are made, the status line says the images are
  // being added; the last run's summary does not stay over the new list.
  struct Adding : qv::Form1Window {
    qv::Form1& f;
    std::set<std::string> said;
    explicit Adding(qv::Form1& form) : f(form) {}
    void Thumbnail(int) override { said.insert(f.StatusText); }
  } adding(f);
  f.outer = &adding;
  f.StatusText = "2 images combinées sur 2 acceptées";
  qv::mnuLoad_Click(f, Images(dir));
  f.outer = nullptr;
  EXPECT_EQ(adding.said, std::set<std::string>{"Ajout des images en cours"});
  EXPECT_EQ(f.StatusText, "3 images ajoutées");
  ASSERT_EQ(std::tuple(s.ImageCount(), s.Img[1].ImgFile, s.CurPic, f.Frame2Visible),
            std::tuple(3, dir.File("a.fts"), int16_t{1}, true));
  EXPECT_EQ(std::pair(f.HScroll2Value, f.VScroll2Value), (std::pair<int16_t, int16_t>(50, 50)));

  for (const auto& [from, key] : {std::pair(1, qv::kKeyUp), std::pair(3, qv::kKeyDown)}) {
    qv::SelectPic(f, from, false, false);
    const std::string caption = f.Caption;
    qv::Form_KeyDown(f, key, 0, false);
    EXPECT_EQ(std::tuple(s.CurPic, f.VScroll1Value, f.Caption), std::tuple(int16_t(from), int16_t(from), caption));
  }

  // What a click said of the image shown goes when another is selected;
  // other status texts stay.
  f.StatusText = f.ClickStatus = "Référence placée en (4, 4)";
  qv::SelectPic(f, 2, false, false);
  EXPECT_EQ(f.StatusText, "");
  f.StatusText = "3 images combinées sur 3 acceptées";
  qv::SelectPic(f, 3, false, false);
  EXPECT_EQ(f.StatusText, "3 images combinées sur 3 acceptées");

  qvtest::WriteBytes(dir.File("b.tif"), {7, 7, 7});
  EXPECT_EQ(qv::SaveAllTiff(f), 2);
  EXPECT_EQ(std::tuple(qvtest::ReadBytes(dir.File("b.tif")), std::filesystem::exists(dir.File("c.tif")), s.RunState),
            std::tuple(std::vector<uint8_t>{7, 7, 7}, true, qv::kIdle));
  EXPECT_EQ(f.Label6, dir.File("c.tif") + "\r\n2/3");
  // The status bar says what was written and why the others were not.
  EXPECT_EQ(f.StatusText,
            "TIFF : 2 images enregistrées à côté de leur image (même nom, en « .tif ») ; 1 déjà présente à côté de "
            "son image, laissée telle quelle");

  // Added files the list cannot read are said at once, with what keeps the
  // first of them out.
  qvtest::WriteBytes(
      dir.File("a_lzw.tif"),
      qvtest::TiffFile(
          {{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 1, 8}, {259, 3, 1, 5}, {273, 4, 1, qvtest::AfterTiffDirectory(5)}},
          {1, 2, 3, 4}));
  qv::mnuLoad_Click(f, {dir.path().string(), "a_lzw.tif", "b.tif"});
  EXPECT_EQ(f.StatusText,
            "2 images ajoutées illisibles (a_lzw.tif, …) : TIFF compressé (LZW) non pris en charge : enregistrez les "
            "images sans compression ; décochez-les — voir Rapport");
  // Frames added under the guide box "Aucun" (a window opened on one
  // image) are told to be stacked unaligned before any run.
  s.guide.GuideBox = 128;
  qvtest::WriteFits16(dir.File("d.fts"), 40, 30, 1, std::vector<int>(40 * 30, 800));
  qv::mnuLoad_Click(f, {dir.path().string(), "d.fts"});
  EXPECT_EQ(f.StatusText.rfind("Référence « Aucun » : les images seront empilées sans être alignées", 0), 0u);
  s.guide.GuideBox = 32;
  // A good frame added to a list says how many the list holds now.
  qvtest::WriteFits16(dir.File("e.fts"), 40, 30, 1, std::vector<int>(40 * 30, 800));
  qv::mnuLoad_Click(f, {dir.path().string(), "e.fts"});
  EXPECT_EQ(f.StatusText, "1 image ajoutée ; 7 images dans la liste");
  // A frame of another size is read whole: it is of no use, not unreadable.
  qvtest::WriteFits16(dir.File("small.fts"), 20, 30, 1, std::vector<int>(20 * 30, 800));
  qv::mnuLoad_Click(f, {dir.path().string(), "small.fts"});
  EXPECT_EQ(f.StatusText.substr(0, f.StatusText.find(" (")), "1 image ajoutée inutilisable");
}

// The "Niveau" slider and "Auto" wait, like the window's other controls,
// until the window is neither busy nor running. The setting follows the
// slider as the histogram is drawn: without an image it stays what it was
// (it is what the quit saves).
TEST_F(WindowRules, LevelControlsActOnlyWhenIdleAndTheSettingWhenAnImageIsShown) {
  int drawn = 0;
  qvtest::ViewSpy window;
  window.onShowHisto = [&] { ++drawn; };
  f.outer = &window;
  s.opt.Hsens = 10;
  f.HScroll1 = 4;
  qv::HScroll1_Change(f);
  EXPECT_EQ(std::pair(s.opt.Hsens, drawn), (std::pair<int16_t, int>(10, 1)));

  s.pic.HistoMax = 1;  // an image is shown
  f.HScroll1 = 3;
  f.Check3 = 0;
  for (auto [busy, state] : {std::pair(false, qv::kRunning), std::pair(true, qv::kIdle)}) {
    f.Busy = busy;
    s.RunState = state;
    qv::HScroll1_Change(f);
    qv::Check3_Click(f);
    EXPECT_EQ(std::pair(s.opt.Hsens, drawn), (std::pair<int16_t, int>(10, 1)));
  }
  f.Busy = false;
  qv::HScroll1_Change(f);
  qv::Check3_Click(f);
  EXPECT_EQ(std::pair(s.opt.Hsens, drawn), (std::pair<int16_t, int>(3, 3)));

  // A minimum quality or a guide box chosen during a run waits it out, and
  // the run's summary will say so; while busy (start-up) nothing is noted.
  s.opt.MinQual = 0.75f;
  s.RunState = qv::kRunning;
  for (int k = 0; k < 2; ++k) qv::SetText3(f, "99.9");
  qv::Option1_Click(f, 2);
  EXPECT_EQ(s.opt.MinQual, 0.75f);
  EXPECT_EQ(f.IgnoredDuringRun, (std::vector<std::string>{"« Qualité minimale »", "« Référence »"}));
}

// Closing the debug window empties its list; the FITS header view opens it
// afresh, with the cards of this file alone, each time.
TEST(DebugWindow, ClosedItIsEmptyAndAHeaderViewListsOnlyItsCards) {
  TempDir dir;
  const std::string path = dir.File("m42.fts");
  qvtest::WriteBytes(path, qvtest::FitsHeader({"SIMPLE  =                    T", "BITPIX  =                   16",
                                               "NAXIS   =                    0", "END"}));
  TestSession t(path);
  qv::Form1& f = t.form1;
  f.mnuDebug = true;
  qv::DebugLine(f, "Sélection de m42.fts  1/1");
  qv::form4::Form_QueryUnload(f);
  EXPECT_EQ(std::pair(f.mnuDebug, f.DebugLog.size()), std::pair(false, size_t{0}));
  for (int view = 1; view <= 2; ++view) {
    ASSERT_TRUE(qv::mnuFITS_Click(f).shown);
    EXPECT_EQ(std::pair(f.DebugLog.size(), f.DebugLog.front().substr(0, 6)),
              std::pair(size_t{4}, std::string("SIMPLE")));
  }
}

// A Ctrl+click on black with "Rotation" ticked: the centroid has no value,
// the click still shows the marks again. The selection of an image whose
// planes were never made still shows its flags before the shifts fail, and
// each selection ends with its half second, however long its steps took.
TEST_F(WindowRules, FailingStepsLeaveTheRestAndTheClosingWaitIsWhole) {
  s.ResizeImageArrays(1);
  s.Img[1].ImgFile = "/nonexistent-folder/missing.fts";
  s.Img[1].ImgRegFlags = qv::kNewRef | qv::kNewPos;
  f.Check9.resize(2);
  f.VScroll1Max = 1;
  ASSERT_TRUE(s.pic.PicR.Empty());
  qv::SelectPic(f, 1, false, false);
  EXPECT_EQ(std::pair(f.Check5, f.Check2), (std::pair<int16_t, int16_t>(1, 1)));

  s.CurPic = 1;
  s.opt.PicZoom = 2;
  qvtest::SetPicture(s, 65, 49, [](int, int x, int y) { return x < 20 ? 0 : x == 40 && y == 20 ? 30000 : 1000; });
  s.Img[1].ImgRot = 1;
  f.Text4 = "junk";
  f.Check5 = 0;
  struct Clock : qv::Clock {
    double now = 1000;
    double SecondsSinceMidnight() override { return now; }
  } clock;
  s.platform.clock = &clock;
  double paused = 0;
  qvtest::ViewSpy window;
  window.onShowHisto = [&] { clock.now += 2; };  // drawing takes two seconds
  window.onPause = [&](double seconds) { paused += seconds; };
  f.outer = &window;
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kCtrlMask, 2, 10);  // pixel (4, 20), black all round
  EXPECT_EQ(std::tuple(f.Text4, f.Check5, paused), std::tuple(std::string("0"), int16_t{1}, 0.5));
  f.outer = nullptr;
}

// The marks' summary counts the images they looked at, and says that the
// unticked ones were left aside and how to bring them back.
TEST_F(WindowRules, TheMarksSummarySaysWhichImagesWereLeftAside) {
  s.ResizeImageArrays(4);
  for (int i = 1; i <= 4; ++i) s.Img[static_cast<size_t>(i)].ImgFile = "/nuit/f" + std::to_string(i) + ".fts";
  qv::AutoMarkReport report;
  report.ok = true;
  for (int i : {1, 3}) {
    qv::ImageMark m;
    m.image = i, m.marked = true, m.reference = i == 1, m.x = 10, m.y = 20;
    report.images.push_back(m);
  }
  EXPECT_EQ(qv::AutoMarksText(s, report),
            "Étoile suivie : (10, 20) sur f1.fts, choisie automatiquement\r\nImages marquées : 2 sur 2\r\n(2 images "
            "décochées laissées de côté : cochez-les pour les marquer)");
  // A rotation star is named, with the images it was found on.
  report.images.back().rotationMarked = true, report.images.back().rotX = 61.4, report.images.back().rotY = 7;
  EXPECT_TRUE(qvtest::Contains(qv::AutoMarksText(s, report),
                               "choisie automatiquement\r\nÉtoile de rotation : (61, 7) sur f3.fts, marquée sur 1 "
                               "image\r\nImages marquées"));
  report.images.back().rotationMarked = false;
  // A reference with far fewer stars than the others (veiled, blurred) is
  // pointed out: every frame would be scored against it.
  for (qv::ImageMark& m : report.images) m.stars = m.reference ? 46 : 145;
  report.images.push_back(report.images.back());
  EXPECT_TRUE(qvtest::Contains(qv::AutoMarksText(s, report),
                               "\r\n(l'image de référence f1.fts n'a que 46 étoiles, contre 145 en médiane pour les "
                               "autres : voilée ou floue ?"));
  report.images.front().stars = 73;
  EXPECT_FALSE(qvtest::Contains(qv::AutoMarksText(s, report), "voilée"));
  // An image left unmarked is named once, by its name, before its reason.
  report.images[1].marked = false, report.images[1].reason = "fichier vide : /nuit/f3.fts";
  EXPECT_TRUE(qv::AutoMarksText(s, report).ends_with("Non marquées (décochées) :\r\nf3.fts : fichier vide"));
  report.images[1].marked = true;
  // Stopped, the marks say how far they went.
  report.images.back().marked = false;
  EXPECT_EQ(qv::StoppedMarksText(report),
            "Marques automatiques arrêtées : 2 images marquées sur 3 examinées ; les suivantes gardent leurs marques "
            "d'avant\r\n(relancez les marques pour les marquer toutes)");
  EXPECT_EQ(qv::StoppedMarksText(qv::AutoMarkReport{}), "Marques automatiques arrêtées");
}

// A new result puts each bar shown in the middle of its range, a half going
// to the even value as every conversion to a whole number does (0 .. 7
// gives 4, 0 .. 5 gives 2).
TEST(DestinationWindow, ANewResultCentresTheScrollBars) {
  qv::Form2 d;
  qv::Plane<int32_t> picture(106, 104);  // 107 x 105
  d.ShowPixels(picture, 0, false);
  d.form_scroll(105, 105, 5, false, 1);  // 100 x 100 visible
  ASSERT_EQ(std::tuple(d.Scroll.hVisible, d.Scroll.vVisible, d.Scroll.hMax, d.Scroll.vMax),
            std::tuple(true, true, 7, 5));
  d.CentreScrollBars();
  EXPECT_EQ(std::pair(d.HScroll1, d.VScroll1), std::pair(4, 2));
}
