// The main window's handlers on the model, without a window.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "core/error_words.h"
#include "stack/accumulate.h"
#include "stack/guide.h"
#include "stack/reject.h"
#include "support.h"
#include "workspace/form1_events.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"

using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// A picture of 65 x 49 pixels (upper bounds 64 and 48, so that pixel
// positions give short fractions) with one star at (30, 20), shown as list
// image 1 of `images`.
void ShowPicture(qv::Session& s, int images = 1) {
  s.ResizeImageArrays(images);
  for (int i = 1; i <= images; ++i) s.Img[static_cast<size_t>(i)].ImgFile = "image" + std::to_string(i) + ".fts";
  s.CurPic = 1;
  s.opt.PicZoom = 2;
  qvtest::SetPicture(s, 65, 49, [](int, int x, int y) {
    if (x == 30 && y == 20) return 30000;
    return std::abs(x - 30) + std::abs(y - 20) == 1 ? 12000 : 1000;
  });
  s.pic.PicG(16, 24) = 7;
}

// The main window's model on a session of its own.
class Form1Events : public ::testing::Test {
 protected:
  TestSession t;
  qv::Session& s = *t;
  qv::Form1& f = t.form1;
};
using FrameReport = Form1Events;

}  // namespace

// The clicks in each mode, the registration boxes and the shift fields, on
// the marks of the image shown.
TEST_F(Form1Events, ClicksBoxesAndShiftFieldsSetTheMarksInImagePixels) {
  ShowPicture(s);
  qv::ImageEntry& e = s.Img[1];

  // A plain click sets the guide star ("Nouvelle position"); halves go to
  // the even pixel: 10.25 x 2 = 20.5 -> 20; 10.75 x 2 = 21.5 -> 22.
  qv::Picture1_MouseDown(f, qv::kLeftButton, 0, 10.25, 10.75);
  EXPECT_EQ(std::pair(e.ImgGuideX, e.ImgGuideY), std::pair(20.0 / 64, 22.0 / 48));
  // Shift, the reference: display (8, 12) at zoom 2 is pixel (16, 24).
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kShiftMask, 8, 12);
  EXPECT_EQ(std::pair(e.ImgRefX, e.ImgRefY), std::pair(0.25, 0.5));
  // Ctrl without "Rotation" checked sets nothing; a plain click in that
  // mode (which a new list keeps from the last) says how to place the
  // guide star instead.
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kCtrlMask, 15, 10);
  EXPECT_EQ(std::pair(e.ImgRotX, f.StatusText),
            std::pair(0.0, std::string("Clic sans effet sur cette image : cochez « Rotation (CTL click) » pour "
                                       "l'appliquer")));
  f.Option2 = 2;
  qv::Picture1_MouseDown(f, qv::kLeftButton, 0, 15, 10);
  EXPECT_EQ(f.StatusText.find("Clic sans effet sur cette image : le mode « Rotation (CTL click) » est choisi"), 0u);
  EXPECT_NE(f.StatusText.find("choisissez « Nouvelle position (Click) » pour placer l'étoile guide"),
            std::string::npos);
  EXPECT_EQ(std::pair(e.ImgRotX, e.ImgGuideX), std::pair(0.0, 20.0 / 64));
  f.Option2 = 1;

  // The registration boxes set their flags and the click mode.
  f.Check5 = 1;
  qv::Check5_Click(f);
  EXPECT_EQ(std::pair(e.ImgRegFlags, f.Option2), (std::pair<uint8_t, int16_t>(qv::kNewRef, 0)));
  f.Check2 = 1;
  qv::Check2_Click(f);
  EXPECT_EQ(std::pair(e.ImgRegFlags, f.Option2), (std::pair<uint8_t, int16_t>(qv::kNewRef | qv::kNewPos, 1)));
  f.Check5 = 0;
  qv::Check5_Click(f);
  EXPECT_EQ(e.ImgRegFlags, qv::kNewPos);
  // During a run the boxes do nothing, except the rotation boxes, which
  // only wait for the window not to be busy.
  s.RunState = 1;
  f.Check2 = 0;
  qv::Check2_Click(f);
  EXPECT_EQ(e.ImgRegFlags, qv::kNewPos);
  f.Check7 = 1;
  qv::Check7_Click(f);
  EXPECT_EQ(std::pair(e.ImgRot, f.Option2), (std::pair<uint8_t, int16_t>(1, 2)));
  // No star yet: its line goes to the corner, and the status says why.
  EXPECT_EQ(f.StatusText.rfind("Cliquez sur l'étoile de rotation de cette image (clic, ou Ctrl+clic)", 0), 0u);
  s.RunState = 0;

  // With "Rotation" checked, Ctrl sets the star's centroid.
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kCtrlMask, 15.5, 10);
  EXPECT_NEAR(e.ImgRotX * 64, 30, 0.5);
  EXPECT_NEAR(e.ImgRotY * 48, 20, 0.5);
  e.ImgNewRot = 1;
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kAltMask, 15, 10.5);
  EXPECT_NEAR(e.ImgNewRotX * 64, 30, 0.5);

  // Ctrl+Alt adds a zone point; so does a plain click in zone mode.
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kCtrlMask | qv::kAltMask, 8, 12);
  EXPECT_EQ(e.ImgZone, " .25, .5;");
  f.Option2 = 4;
  qv::Picture1_MouseDown(f, qv::kLeftButton, 0, 32, 0);
  EXPECT_EQ(e.ImgZone, " .25, .5; 1, 0;");
  // Shift overrides the selected mode.
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kShiftMask, 0, 0);
  EXPECT_EQ(e.ImgRefX, 0);

  // The right button shows the pixel and sets no mark.
  qv::Picture1_MouseDown(f, qv::kRightButton, qv::kShiftMask, 8, 12);
  EXPECT_EQ(std::pair(f.Caption, e.ImgRefX), std::pair(std::string("(x,y)=(16,24) RGB=(1000,7,1000)"), 0.0));

  // Outside the planes: the caption stays, nothing throws.
  qv::Picture1_MouseDown(f, qv::kRightButton, 0, 500, 12);
  EXPECT_EQ(f.Caption, "(x,y)=(16,24) RGB=(1000,7,1000)");

  // The shift fields in pixels of the picture, 64 x 48; a field that is not
  // a number gives 0.
  f.Text4 = "16";
  qv::Text4_Change(f);
  f.Text5 = "-12abc";
  qv::Text5_Change(f);
  f.Text6 = "1.5";
  qv::Text6_Change(f);
  EXPECT_EQ(std::tuple(e.ImgShiftX, e.ImgShiftY, e.ImgAngle), std::tuple(0.25, -0.25, 1.5));
  f.Text6 = "x";
  qv::Text6_Change(f);
  EXPECT_EQ(e.ImgAngle, 0);
  // Val stops at a comma; where the decimal sign is a comma the boxes show
  // French writing, which reads back as shown, and a point still reads.
  f.Text6 = "2,5";
  qv::Text6_Change(f);
  EXPECT_EQ(e.ImgAngle, 2);
  s.locale = qv::NumLocale::Comma();
  qv::Text6_Change(f);
  f.Text4 = "-8,5";
  qv::Text4_Change(f);
  f.Text5 = "6.5";
  qv::Text5_Change(f);
  EXPECT_EQ(std::tuple(e.ImgAngle, e.ImgShiftX, e.ImgShiftY), std::tuple(2.5, -8.5 / 64, 6.5 / 48));
  s.locale = qv::NumLocale::Dot();

  // While busy or running the picture does not react.
  const std::string zones = e.ImgZone;
  f.Busy = true;
  qv::Picture1_MouseDown(f, qv::kLeftButton, 0, 8, 12);
  f.Busy = false;
  s.RunState = 1;
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kShiftMask, 8, 12);
  EXPECT_EQ(std::pair(e.ImgZone, e.ImgRefX), std::pair(zones, 0.0));
  // A picture of one column cannot give an x fraction: only that statement
  // fails, and the y fraction is stored.
  s.RunState = 0;
  for (auto* p : {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB}) p->Redim(0, 10);
  qv::Picture1_MouseDown(f, qv::kLeftButton, qv::kShiftMask, 0, 2);
  EXPECT_EQ(std::pair(e.ImgRefX, e.ImgRefY), std::pair(0.0, 0.4));
}

TEST_F(Form1Events, EscapeStopsARunEvenWhenBusyAndKeysWalkTheList) {
  qv::Form_KeyDown(f, qv::kKeyEscape, 0, false);
  EXPECT_EQ(s.RunState, 0);
  s.RunState = 1;
  f.Busy = true;
  qv::Form_KeyDown(f, qv::kKeyEscape, 0, false);
  EXPECT_EQ(s.RunState, 2);
  // "Terminer" does nothing while busy or running; a run names it among
  // what it ignored.
  EXPECT_FALSE(qv::mnuExit_Click(f));
  f.Busy = false;
  EXPECT_FALSE(qv::mnuExit_Click(f));
  EXPECT_EQ(f.IgnoredDuringRun, std::vector<std::string>{"« Terminer »"});
  f.IgnoredDuringRun.clear();

  // Up and Down move the selection, not while the strip's bar has the focus.
  s.RunState = 0;
  EXPECT_TRUE(qv::mnuExit_Click(f));
  s.ResizeImageArrays(3);
  f.Check9.resize(4);
  s.CurPic = 2;
  qv::Form_KeyDown(f, qv::kKeyDown, 0, true);
  EXPECT_EQ(f.VScroll1Value, 1);
  qv::Form_KeyDown(f, qv::kKeyDown, 0, false);
  EXPECT_EQ(f.VScroll1Value, 3);
  qv::Form_KeyDown(f, qv::kKeyUp, 0, false);
  EXPECT_EQ(f.VScroll1Value, 2);
  // The strip's bar scrolls the strip; the selection frame stays on the
  // image shown.
  f.VScroll1Value = 3;
  qv::VScroll1_Change(f);
  EXPECT_EQ(std::tuple(s.CurPic, f.VScroll1Value, f.Shape6Index), std::tuple(int16_t{2}, int16_t{3}, int16_t{2}));
}

TEST_F(Form1Events, HistogramClickShowsTheLevelOfTheBin) {
  qv::Picture3_MouseDown(f, 100.7);  // 3222.4 on the 0..65535 scale, rounded down
  EXPECT_EQ(std::tuple(f.Line1Visible, f.Line1X, f.Label6), std::tuple(true, 100.7, std::string("3222")));
  qv::Picture3_MouseDown(f, -0.5);
  EXPECT_EQ(f.Label6, "-16");
  s.RunState = 1;  // the run's label is not overwritten
  f.Label6 = "2/4 Ok";
  qv::Picture3_MouseDown(f, 10);
  EXPECT_EQ(f.Label6, "2/4 Ok");
}

TEST_F(Form1Events, ZoneDialogCommands) {
  ShowPicture(s, 3);
  s.CurPic = 2;
  qv::SelectOption2(f, 4);
  EXPECT_TRUE(f.Form6Visible);
  s.Img[2].ImgZone = " .1, .1; .5, .1;";
  qv::form6::Command3_Click(f);
  qv::form6::Command3_Click(f);
  EXPECT_EQ(s.Img[2].ImgZone, " .1, .1; .5, .1;S");
  qv::form6::Command2_Click(f);
  EXPECT_EQ(std::pair(s.Img[1].ImgZone, s.Img[3].ImgZone), std::pair(std::string(), s.Img[2].ImgZone));
  EXPECT_EQ(f.StatusText, "Zones de l'image 2 copiées sur l'image suivante");
  qv::form6::Command1_Click(f);
  EXPECT_EQ(s.Img[2].ImgZone, "");
  qv::form6::Command2_Click(f);
  EXPECT_EQ(std::pair(s.Img[3].ImgZone, f.StatusText),
            std::pair(std::string(), std::string("Zones effacées sur l'image suivante")));
  s.Img[3].ImgZone = " .1, .1; .5, .1;S";
  // On the last image "Appliquer aux images suivantes" changes nothing.
  s.CurPic = 3;
  f.StatusText.clear();
  qv::form6::Command2_Click(f);
  EXPECT_EQ(std::pair(s.Img[3].ImgZone, f.StatusText), std::pair(std::string(" .1, .1; .5, .1;S"), std::string()));
  // Closing the dialog leaves zone mode; another click mode closes it.
  qv::form6::Form_QueryUnload(f);
  EXPECT_EQ(std::pair(f.Form6Visible, f.Option2), (std::pair<bool, int16_t>(false, 1)));
  qv::SelectOption2(f, 4);
  qv::SelectOption2(f, 3);
  EXPECT_EQ(std::pair(f.Form6Visible, f.Option2), (std::pair<bool, int16_t>(false, 3)));
  // Selecting an image closes it too.
  qv::SelectOption2(f, 4);
  qv::SelectPic(f, -1, false, false);
  EXPECT_FALSE(f.Form6Visible);
}

TEST_F(Form1Events, CommandLineOpensAProjectOrOneImageAndMarksOnNoneSayWhy) {
  TempDir dir;
  const std::string image = dir.File("m31.fts");
  std::vector<int> values(32 * 24, 500);
  values[10 * 32 + 12] = 20000;
  qvtest::WriteFits16(image, 32, 24, 1, values);
  qv::OpenCommandLine(f, "\"" + image + "\"");
  ASSERT_EQ(s.ImageCount(), 1);
  EXPECT_EQ(s.Img[1].ImgFile, image);
  // "Aucun": no guide star; the image checked and shown with its controls.
  EXPECT_EQ(std::tuple(s.guide.GuideBox, f.Option1, s.Img[1].ImgChecked, f.Frame2Visible),
            std::tuple(decltype(s.guide.GuideBox){128}, int16_t{2}, uint8_t{1}, true));
  // A file that cannot be read, once selected: the status bar says why.
  const std::string text = dir.File("notes.jpg");
  qvtest::WriteBytes(text, {'n', 'o', 't', 'e', 's'});
  s.Img[1].ImgFile = text;
  qv::SelectPic(f, 1, false, false);
  EXPECT_EQ(f.StatusText.rfind("Image illisible : ", 0), 0u);
  EXPECT_NE(f.StatusText.find(text), std::string::npos) << f.StatusText;
  // A header value past what the fields hold, read once when the list was
  // filled: the selection says that, not "0 x 0".
  const std::string huge = dir.File("enorme.fts");
  std::vector<uint8_t> bytes = qvtest::ReadBytes(image);
  const std::string card = "NAXIS1  =                60000";
  std::copy(card.begin(), card.end(), bytes.begin() + 3 * 80);
  qvtest::WriteBytes(huge, bytes);
  qv::OpenCommandLine(f, huge);
  qv::SelectPic(f, 1, false, false);
  EXPECT_TRUE(qvtest::Contains(f.StatusText, "en-tête illisible ou valeur hors limites")) << f.StatusText;
  // Read again, the note goes.
  qv::OpenCommandLine(f, "\"" + image + "\"");
  s.Img[1].ImgFile = image;
  qv::SelectPic(f, 1, false, false);
  EXPECT_EQ(f.StatusText, "");

  // Upper-case TXT is a project, not an image: opening one starts a new
  // list, and a missing one adds nothing to it.
  qv::OpenCommandLine(f, dir.File("absent.TXT"));
  EXPECT_EQ(s.ImageCount(), 0);
  // The automatic marks on that empty list say why and leave the run state.
  qv::mnuAutoMarks_Click(f, true);
  EXPECT_EQ(std::tuple(f.LastMarks.ok, f.LastMarks.message, s.RunState),
            std::tuple(false, std::string("aucune image cochée"), decltype(s.RunState){0}));
  // The status bar says so in place of what an earlier run left there.
  EXPECT_EQ(f.StatusText, "Marques automatiques impossibles : aucune image cochée");
}

// The guide thumbnails show the template and the match of the last search,
// and a search that finds nothing (an empty picture) clears them.
TEST_F(Form1Events, AFailedGuideSearchClearsTheThumbnails) {
  ShowPicture(s);
  s.guide.GuideBox = 32;
  qv::FindGuide(s, 30, 20, true);
  EXPECT_FALSE(f.Picture4.Empty() || f.Picture5.Empty());
  qvtest::SetPicture(s, 65, 49, [](int, int, int) { return 0; });
  qv::FindGuide(s, 30, 20, false);
  EXPECT_TRUE(f.Picture4.Empty() && f.Picture5.Empty() && s.guide.Quality == 0);
}

// Unreadable first ticked images (data cut short, a file gone since it was
// added) are unticked, each said once, and the marks start from the first
// readable one; the advice to tick the unticked ones again leaves them out.
// An unreadable list image 1, which gives every image its size, is named as
// what blocks them all.
TEST_F(Form1Events, MarksSkipUnreadableFirstImagesAndSaySo) {
  TempDir dir;
  const std::string sim =
      qvtest::SimulateNight(dir, "sim", "--frames 3 --width 160 --height 120 --stars 60 --dither 8 --seed 4");
  std::filesystem::copy_file(sim + "/frame001.fts", sim + "/a_coupe.fts");
  std::filesystem::resize_file(sim + "/a_coupe.fts", 2880 + 160 * 2 * 60);
  std::filesystem::copy_file(sim + "/frame001.fts", sim + "/b_efface.fts");
  const std::vector<std::string> names{sim + "/",      "a_coupe.fts",  "b_efface.fts",
                                       "frame001.fts", "frame002.fts", "frame003.fts"};
  qv::AddImages(s, names);
  qv::Populate(f, 1, true);
  std::filesystem::remove(sim + "/b_efface.fts");
  qv::mnuAutoMarks_Click(f, false);
  EXPECT_EQ(
      std::tuple(f.LastMarks.ok, f.LastMarks.reference, s.Img[1].ImgChecked, s.Img[2].ImgChecked, f.Check9[1].Value),
      std::tuple(true, 3, uint8_t{0}, uint8_t{0}, uint8_t{0}));
  EXPECT_TRUE(qvtest::Contains(f.StatusText, "Étoile suivie : ")) << f.StatusText;
  EXPECT_TRUE(qvtest::Contains(f.StatusText, "sur frame001.fts, choisie automatiquement"));
  EXPECT_TRUE(qvtest::Contains(f.StatusText,
                               "Images marquées : 3 sur 5 ; Non marquées (décochées) : "
                               "a_coupe.fts : données FITS tronquées"));
  EXPECT_TRUE(qvtest::Contains(f.StatusText, "b_efface.fts : fichier introuvable")) << f.StatusText;
  EXPECT_FALSE(qvtest::Contains(f.StatusText, "cochez-les")) << f.StatusText;
  // The report gives the two their reasons, and a run's count says what
  // they are.
  EXPECT_TRUE(qvtest::Contains(f.Report.rows[0].remarks, "non marquée : données FITS tronquées"));
  qv::RunResult run;
  run.outcome = qv::Outcome::Success();
  run.first = 1;
  run.last = 5;
  EXPECT_TRUE(
      qvtest::Contains(qv::BuildFrameReport(s, &run, &f.LastMarks).total, "; 2 non cochées, dont 2 illisibles"));

  qvtest::WriteBytes(sim + "/a_coupe.fts", {});
  qv::mnuNew_Click(f);
  qv::AddImages(s, {sim + "/", "a_coupe.fts", "frame001.fts"});
  qv::Populate(f, 1, true);
  qv::mnuAutoMarks_Click(f, false);
  EXPECT_EQ(f.StatusText, "Marques automatiques impossibles : l'image 1 est illisible : fichier vide : " + sim +
                              "/a_coupe.fts ; (l'image 1 donne sa taille aux autres : illisible, elle les rend "
                              "toutes illisibles ; « Nouveau », puis ajoutez les images sans elle)");
}

// The report says, for each image, the first reason the run had to leave it
// out of the result, in the order the run decides: quality, then size, then
// parking, then the combination.
TEST_F(FrameReport, EachImageGetsTheReasonTheRunMet) {
  s.opt.MinQual = 0.75f;
  s.ResizeImageArrays(8);
  for (int i = 1; i <= 8; ++i) {
    s.Img[static_cast<size_t>(i)].ImgFile = "/nuit/f" + std::to_string(i) + ".fts";
    s.Img[static_cast<size_t>(i)].ImgChecked = i != 2;
  }
  qv::RunResult run;
  run.outcome = qv::Outcome::Success();
  run.first = 1;
  run.last = 7;
  auto frame = [](int i, float quality, int tempFile, bool parked, bool combined) {
    qv::FrameResult r;
    r.image = i;
    r.quality = quality;
    r.accepted = quality >= 0.75f;
    r.tempFile = tempFile;
    r.parked = parked ? qv::Outcome::Success() : qv::Outcome::Failure("disque plein", 61);
    r.combined = combined;
    return r;
  };
  run.frames = {frame(1, 1, 1, true, true), frame(3, 0.5f, 0, true, false), frame(4, 0.9f, 0, true, false),
                frame(5, 0.9f, 2, false, false), frame(6, 0.9f, 3, true, false)};
  run.frames[1].processed = qv::Outcome::Failure("illisible");
  run.frames[4].onEdge = true;
  // The opening found images 2 and 3 unreadable: the run reads 3 again,
  // not the unticked 2, which keeps what the opening said.
  qv::OpeningReport opening;
  opening.unreadable = {{2, true, "fichier vide"}, {3, true, "fichier vide"}};
  auto build = [&] { return qv::BuildFrameReport(s, &run, nullptr, &opening); };
  const qv::FrameReport report = build();
  const struct {
    const char* stacked;
    std::string why;
    std::string remarks;
  } want[8] = {{"oui", "", ""},
               {"non", "non cochée", "illisible : fichier vide"},
               {"non", "qualité 50.0 % < minimum 75.0 %", "illisible"},
               {"non", "autre taille que l'image 1", ""},
               {"non", "fichier temporaire non écrit (disque plein)", ""},
               {"non", "fichier temporaire disparu ou incomplet à la combinaison",
                "étoile guide au bord de la zone de recherche"},
               {"non", "non traitée : exécution arrêtée", ""},
               {"non", "hors du sous-ensemble", ""}};
  ASSERT_EQ(report.rows.size(), 8u);
  for (size_t k = 0; k < 8; ++k)
    EXPECT_EQ(std::tie(report.rows[k].stacked, report.rows[k].why, report.rows[k].remarks),
              std::tie(want[k].stacked, want[k].why, want[k].remarks))
        << k + 1;
  // A new guide star, a shift and an angle asked on an accepted frame move
  // every later one: its row says so (a refused frame's do not count).
  // 30.5 pixels: shown as the boxes show it, halves to even.
  s.Img[5].ImgRegFlags = qv::kNewRef, s.Img[5].ImgShiftX = 30.5 / 120, s.Img[5].ImgNaxis1 = 121;
  s.Img[5].ImgAngle = 1.5;
  s.Img[3].ImgRegFlags = qv::kNewRef;
  EXPECT_EQ(std::pair(build().rows[4].remarks, build().rows[2].remarks),
            std::pair(std::string("nouvelle étoile guide ; décalage de (30, 0) pixels, gardé pour les suivantes ; "
                                  "angle ajouté de 1.5°, gardé pour les suivantes"),
                      std::string("illisible")));
  EXPECT_TRUE(build().total.ends_with(" ; décalage manuel de (30, 0) pixels à partir de l'image 5")) << build().total;
  s.Img[5] = s.Img[4], s.Img[5].ImgFile = "/nuit/f5.fts";
  s.Img[3].ImgRegFlags = 0;
  // The marks' figures keep their decimals in a column: 1.00 beside 0.99.
  qv::AutoMarkReport marks;
  qv::ImageMark mark;
  mark.image = 1, mark.scored = true;
  mark.score = {.shaped = true, .fwhm = 2.5, .roundness = 0.996, .measured = 9, .background = 1186.4, .noise = 35.04};
  marks.images.push_back(mark);
  const qv::ReportRow scored = qv::BuildFrameReport(s, &run, &marks).rows[0];
  EXPECT_EQ(std::tie(scored.fwhm, scored.roundness, scored.background, scored.noise),
            std::tie("2.50", "1.00", "1186", "35.0"));
  // A frame with less than half the stars the night's others have is said
  // veiled or blurred (from five frames marked on).
  for (size_t stars : {140, 160, 74, 155, 150}) {
    mark.image++, mark.stars = stars;
    marks.images.push_back(mark);
  }
  for (qv::ImageMark& m : marks.images) m.marked = true;
  marks.images[0].stars = 75;
  const qv::FrameReport veiled = qv::BuildFrameReport(s, nullptr, &marks);
  EXPECT_EQ(std::tie(veiled.rows[0].remarks, veiled.rows[3].remarks),
            std::tie("", "peu d'étoiles (74 contre 150 en général) : image voilée ou floue ?"));
  marks.images[4].scored = marks.images[5].scored = false;  // four counted: no middle to speak of
  EXPECT_EQ(qv::BuildFrameReport(s, nullptr, &marks).rows[3].remarks, "");
  // Image 2, unticked in the run's range, is counted apart, with what the
  // opening found of it; a refused frame that could not be read is told
  // among the refused; the range the subset boxes gave is said.
  EXPECT_EQ(report.total,
            "1 image combinée sur 4 acceptées ; 1 refusée (qualité < 75.0 %), dont 1 illisible ; 1 non cochée, dont 1 "
            "illisible ; "
            "sous-ensemble : images 1 à 7 sur 8");
  qv::RunResult one = run;  // boxes 3 and 1: the last is raised to the first
  one.first = one.last = 3;
  EXPECT_TRUE(qv::BuildFrameReport(s, &one, nullptr).total.ends_with(" ; sous-ensemble : image 3 seule sur 8"));
  // A rejection that ran says so, with its thresholds (not for one frame,
  // where it has nothing to compare).
  s.opt.RejectMode = qv::kRejectSigma, s.opt.RejectLow = 2.5f, s.opt.Normalise = 1;
  run.frames[3].combined = true;
  EXPECT_EQ(build().total.find(" avec rejet"), std::string::npos);
  run.frames[4].combined = true;
  EXPECT_EQ(build().total.rfind("3 images combinées sur 4 acceptées avec rejet sigma (κ bas 2.5, κ haut 3, fond "
                                "normalisé) ; ",
                                0),
            0u);
  run.frames[3].combined = run.frames[4].combined = false;
  s.opt.RejectMode = qv::kRejectNone;
  EXPECT_FALSE(report.rows[1].notStacked);  // not checked: the user's choice
  // The debug window's lines stand in columns, counted in characters.
  const std::vector<std::string> lines = qv::ReportLines(report);
  auto column = [](const std::string& line, const std::string& cell) {
    const std::string before = line.substr(0, line.find(cell));
    return std::count_if(before.begin(), before.end(), [](char c) { return (c & 0xC0) != 0x80; });
  };
  EXPECT_EQ(std::pair(column(lines[0], "Qualité"), column(lines[0], "Empilée")),
            std::pair(column(lines[3], "50.0 %"), column(lines[3], "non  ")));
  // Nobody chose a guide star and frames were refused: the summary says how
  // to choose one; a guide star read from a project counts as chosen. (Not
  // for frames refused because they could not be read.)
  EXPECT_EQ(report.advice.find("étoile guide"), std::string::npos) << report.advice;
  // A night none of whose files could be read says so, and why.
  qv::RunResult unread = run;
  for (qv::FrameResult& walked : unread.frames) {
    walked.processed = qv::Outcome::Failure("TIFF compressé (LZW) non pris en charge : /nuit/f1.fts");
    walked.accepted = walked.combined = false;
  }
  EXPECT_EQ(qv::BuildFrameReport(s, &unread, nullptr).advice,
            "aucune image n'a pu être lue ; TIFF compressé (LZW) non pris en charge : /nuit/f1.fts");
  // A file read whole but of another size is counted apart, and was read.
  unread.frames[0].processed =
      qv::Outcome::Failure("taille différente de l'image de référence (4 x 3 au lieu de 8 x 6)");
  const qv::FrameReport otherSize = qv::BuildFrameReport(s, &unread, nullptr);
  EXPECT_NE(otherSize.total.find(", dont 4 illisibles et 1 inutilisable ; 1 non cochée"), std::string::npos)
      << otherSize.total;
  EXPECT_EQ(otherSize.advice.rfind("aucune image n'a pu être utilisée ; taille différente", 0), 0u);
  run.frames[1].processed = qv::Outcome::Success();
  EXPECT_EQ(build().advice.rfind("aucune étoile guide n'a été choisie : cliquez sur une étoile brillante de "
                                 "l'image 1, ou lancez « Marques automatiques », puis exécutez à nouveau ; ",
                                 0),
            0u)
      << build().advice;
  // A reference placed on the first image chooses a star too, once its
  // "Nouvelle référence" is ticked; frames then refused with their best
  // match at the box's edge moved further than the box reaches.
  s.Img[1].RefOrigin = qv::PairOrigin::Placed;
  run.frames[1].onEdge = true;
  EXPECT_EQ(build().advice.rfind("aucune étoile guide", 0), 0u);
  s.Img[1].ImgRegFlags |= qv::kNewRef;
  EXPECT_EQ(build().advice.rfind("1 image refusée : l'étoile guide est sortie de la zone de recherche (image "
                                 "trop décalée) ; lancez",
                                 0),
            0u)
      << build().advice;
  run.frames[1].onEdge = false;
  s.Img[1].RefOrigin = qv::PairOrigin::Inherited;
  s.Img[1].GuideOrigin = qv::PairOrigin::Loaded;
  // A full temporary folder: the summary says how to make room.
  EXPECT_EQ(build().advice.rfind("libérez de la place dans ", 0), 0u);
  // A circular crop of no radius weighs every pixel at 0: a black result,
  // said; blended with an outer weight it is not.
  s.opt.UseMask |= qv::CircCrop;
  s.opt.FovR = 0;
  EXPECT_EQ(build().advice.rfind("découpage circulaire de rayon nul (« R/H » 0) : le résultat est noir ; ", 0), 0u);
  s.opt.UseMask |= qv::ProgBlend;
  s.opt.FovF = 0.01f;
  EXPECT_FALSE(qvtest::Contains(build().advice, "rayon nul"));
  s.opt.UseMask &= ~(qv::CircCrop | qv::ProgBlend);

  // A combination that failed leaves every accepted image out and says so.
  run.outcome = qv::Outcome::Failure("Mémoire insuffisante", 7);
  const qv::FrameReport failed = build();
  EXPECT_EQ(failed.rows[0].why.rfind("combinaison impossible : mémoire insuffisante en relisant", 0), 0u);
  // The frame that was not parked still says why; there is no result to lack it.
  EXPECT_EQ(failed.rows[4].why, "fichier temporaire non écrit (disque plein)");
  // An unreadable frame's remark says what the reading met, in words.
  run.frames[1].processed = qv::Outcome::Failure("", 62);
  EXPECT_EQ(build().rows[2].remarks, "illisible : " + qv::ErrorWords(62, "f3.fts", qv::FileTask::Process));
  // A frame read whole but of another size is unusable, not unreadable.
  run.frames[1].processed = qv::Outcome::Failure("taille différente de l'image de référence (4 x 3 au lieu de 8 x 6)");
  EXPECT_EQ(build().rows[2].remarks,
            "inutilisable : taille différente de l'image de référence (4 x 3 au lieu de 8 x 6)");
  run.frames[1].processed = qv::Outcome::Failure("", 62);
  // Unreadable frames that were stacked anyway are counted, a stopped run
  // says so, and the counts agree with their number.
  run.frames[0].processed = qv::Outcome::Failure("illisible");
  run.stopped = true;
  EXPECT_EQ(build().total,
            "1 image combinée sur 4 acceptées ; 1 refusée (qualité < 75.0 %), dont 1 illisible ; 1 non cochée, dont 1 "
            "illisible ; "
            "sous-ensemble : images 1 à 7 sur 8 ; 1 illisible, empilée quand même ; exécution arrêtée");
  // ... and when no frame of the result could be used, that it holds
  // nothing of the night.
  EXPECT_EQ(build().advice,
            "aucune image n'a pu être utilisée : le résultat ne montre que ce qui restait en mémoire ; illisible");
  // Otherwise it names them and says how to keep them out; a file read
  // whole but of another size is counted apart.
  run.frames[2].combined = run.frames[3].combined = true;
  run.frames[2].processed = qv::Outcome::Failure("taille différente de l'image de référence (4 x 3 au lieu de 8 x 6)");
  run.stopped = false;
  EXPECT_EQ(build().total,
            "3 images combinées sur 4 acceptées ; 1 refusée (qualité < 75.0 %), dont 1 illisible ; 1 non cochée, dont "
            "1 illisible ; "
            "sous-ensemble : images 1 à 7 sur 8 ; 1 illisible et 1 inutilisable, empilées quand même");
  EXPECT_EQ(build().advice,
            "les images 1 et 4, illisibles ou inutilisables, redonnent les pixels de la précédente : décochez-les, "
            "ou lancez « Marques automatiques », qui les décoche");
  run.frames[2].combined = run.frames[3].combined = false;
  run.frames[2].processed = qv::Outcome::Success();
  run.frames[0].processed = qv::Outcome::Success();
  // A guide star clicked on the first image, its reference left where it
  // was inherited: the summary says what to do; once placed, nothing.
  qv::ImageEntry& first = s.Img[1];
  first.ImgGuideX = 0.3, first.ImgRefX = 0.1;
  first.GuideOrigin = qv::PairOrigin::Placed;
  EXPECT_EQ(build().advice.rfind("la référence de l'image 1 n'est pas sur", 0), 0u);
  first.RefOrigin = qv::PairOrigin::Placed;
  EXPECT_EQ(build().advice, "");
  // The star followed, yet most frames refused: the star may be too faint
  // or clipped.
  run.frames[1].processed = qv::Outcome::Success();
  run.frames[2].quality = 0.6f, run.frames[2].accepted = false;
  run.frames[3].quality = 0.55f, run.frames[3].accepted = false;
  EXPECT_EQ(build().advice,
            "qualité de 50.0 % à 60.0 % pour les images refusées : l'étoile guide est peut-être trop faible ou "
            "saturée ; choisissez une étoile bien visible et non saturée, ou baissez « Qualité minimale (%) »");
  // Refused under a minimum raised far above the usual one that they all
  // reach: the minimum is named first; a frame under the usual one brings
  // the star's advice back.
  s.opt.MinQual = 0.999f;
  run.frames[1].quality = 0.9f, run.frames[2].quality = 0.928f, run.frames[3].quality = 0.888f;
  EXPECT_EQ(build().advice,
            "qualité de 88.8 % à 92.8 % pour les images refusées, sous le minimum de 99.9 % : baissez « Qualité "
            "minimale (%) » (à 75.0 %, toutes passeraient)");
  run.frames[3].quality = 0.55f;
  EXPECT_EQ(build().advice.find("qualité de 55.0 % à 92.8 % pour les images refusées : l'étoile guide"), 0u);
  s.opt.MinQual = 0.75f;
  run.frames[1].quality = 0.5f, run.frames[2].quality = 0.6f;
  // Refused frames of fewer bits than the first one walked: their levels
  // are the reason, not the star; unless a frame of that depth passed.
  s.Img[1].ImgBitpix = 16;
  for (int i : {3, 4}) {
    s.Img[static_cast<size_t>(i)].ImgBitpix = 8;
    s.Img[static_cast<size_t>(i)].ImgFile = "/nuit/f" + std::to_string(i) + ".jpeg";
  }
  EXPECT_EQ(build().advice,
            "2 images refusées (JPEG) n'ont que 8 bits, l'image 1 en a 16 : leurs niveaux ne se comparent pas ; "
            "empilez des images de même profondeur à la fois ; qualité de 50.0 % à 60.0 % pour les images "
            "refusées : l'étoile guide est peut-être trop faible ou saturée ; choisissez une étoile bien visible et "
            "non saturée, ou baissez « Qualité minimale (%) »");
  s.Img[5].ImgBitpix = 8, s.Img[5].ImgFile = "/nuit/f5.bmp";
  EXPECT_EQ(build().advice.find("3 images refusées (JPEG, BMP) n'ont que 8 bits"), 0u);
  EXPECT_EQ(build().advice.find("trop faible"), std::string::npos);
  s.Img[6].ImgBitpix = 8;  // accepted: the depth is not why the others fell short
  EXPECT_EQ(build().advice.find("8 bits"), std::string::npos);
  for (int i : {1, 3, 4, 5, 6}) {
    s.Img[static_cast<size_t>(i)].ImgBitpix = 0;
    s.Img[static_cast<size_t>(i)].ImgFile = "/nuit/f" + std::to_string(i) + ".fts";
  }
  run.frames[2].quality = run.frames[3].quality = 0.9f;
  run.frames[2].accepted = run.frames[3].accepted = true;
  // Without a guide star nothing is aligned; a rotation star on the first
  // frame alone turns the whole result.
  s.guide.GuideBox = 128;
  EXPECT_EQ(build().advice,
            "sans étoile guide (« Aucun ») : les images sont empilées sans être alignées ni triées par qualité");
  // With a guide star, every later frame at 100 % points at a first frame
  // worse than all of them.
  s.guide.GuideBox = 31;
  for (qv::FrameResult& r : run.frames) r.quality = 1, r.accepted = true, r.onEdge = false;
  EXPECT_EQ(build().advice.rfind("toutes les images suivantes dépassent l'image 1 (qualité 100 %)", 0), 0u);
  run.frames[2].quality = 0.98f;
  EXPECT_EQ(build().advice, "");
  s.guide.GuideBox = 128;
  s.guide.GuideBox = 31;
  first.ImgRot = 1;
  run.frames[0].angle = -3.2419;
  EXPECT_EQ(build().advice,
            "l'étoile de rotation n'est marquée que sur l'image 1 : tout le résultat est tourné de -185.75° pour la "
            "mettre à l'horizontale, sans suivre la rotation du champ ; lancez « Marques automatiques et étoile de "
            "rotation »");
  s.Img[4].ImgRot = 1;
  EXPECT_EQ(build().advice, "");
  // Missing on the first frame stacked while a later stacked one has one.
  first.ImgRot = s.Img[4].ImgRot = 0;
  s.Img[5].ImgRot = 1;
  EXPECT_EQ(
      build().advice.rfind("l'image 1, la première empilée, n'a pas d'étoile de rotation, les suivantes en ont", 0), 0u)
      << build().advice;
  // Marked with both, the first frame's star served this run as its
  // reference direction, and the run cleared its "Rotation" box.
  first.ImgNewRot = 1;
  EXPECT_EQ(build().advice.rfind("l'étoile de rotation de l'image 1, la première empilée, a servi de direction de "
                                 "référence et l'exécution a décoché sa case « Rotation (CTL click) »",
                                 0),
            0u)
      << build().advice;
  first.ImgNewRot = 0;
  s.Img[5].ImgRot = 0;
  // A dark the frames could not use, and a PLU that gave nothing, are named.
  first.ImgNaxis1 = 8, first.ImgNaxis2 = 6;
  s.opt.UseMask |= qv::DarkSub | qv::FlatApply;
  s.opt.DarkFile = "/cal/dark.fts", s.opt.FlatFile = "/cal/plu.fts";
  s.cal.DarkR.Redim(3, 3);
  EXPECT_EQ(build().advice,
            "dark non soustrait : fichier de 4 x 4 pixels, les images font 8 x 6 (dark.fts) ; PLU non appliqué : "
            "fichier illisible ou absent (plu.fts)");
  // A mask asked for with no file named: the summary says where to name one.
  s.opt.UseMask &= ~(qv::DarkSub | qv::FlatApply);
  s.opt.UseMask |= qv::HotMaskOn;
  s.cal.HotMask.Redim(0, 0);
  EXPECT_EQ(build().advice,
            "masque non appliqué : aucun fichier choisi ; dans Options, choisissez-en un (« Fichier Masque ») ou "
            "décochez « Enlever les pixels chauds (Masque) »");
}
