// A whole night worked in the desktop program as a new user works it, on a
// real display (xvfb-run, the xcb platform and a window manager): from an
// empty list, masters built in the window from the darks and flats, the
// frames added through the open dialog, a click on the first frame's star,
// the project saved, the automatic marks, the run, the automatic stretch,
// and the result saved as JPEG and FITS through the save dialog. Every
// dialog is the program's own, answered the way a user fills it in.
//
// usage: quelvista_night_session NIGHT_FOLDER SETTINGS.ini SHOTS_FOLDER OUT_FOLDER
// The project saved after the click is OUT_FOLDER/apres-clic.txt, the
// result OUT_FOLDER/fenetre.fts and .jpg; the masters are written beside
// the darks and the flats.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QtTest/QTest>
#include <cstdio>

#include "app/main_window.h"
#include "app/qt_platform.h"
#include "app/session_support.h"
#include "core/options.h"
#include "core/session.h"
#include "editor/form3.h"
#include "platform/desktop.h"
#include "platform/disk_space.h"
#include "platform/settings_store.h"
#include "workspace/form1.h"

using qvsession::Check;
using qvsession::CheckWithinScreen;
using qvsession::Exposed;
using qvsession::WaitFor;
using qvsession::WhenShown;

namespace {

QString shots;

void Shot(QWidget& w, const char* name) { qvsession::Shot(w, shots, name); }

// The accepting button of a file dialog ("Ouvrir", "Enregistrer", "Choisir").
void PressAccept(QFileDialog* d) {
  auto* buttons = d->findChild<QDialogButtonBox*>("buttonBox");
  for (QAbstractButton* b : buttons->buttons())
    if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) {
      b->click();
      return;
    }
  Check(false, "le dialogue a un bouton d'acceptation");
}

// The file dialog filled in as a user does: the folder, then the name or
// the names typed in its name field, then its accepting button.
void TypeInFileDialog(QFileDialog* d, const QString& folder, const QString& names, const char* shot = nullptr) {
  d->setDirectory(folder);
  QCoreApplication::processEvents();
  if (shot) Shot(*d, shot);
  auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
  edit->clear();
  QTest::keyClicks(edit, names);
  PressAccept(d);
}

// "Créer un fichier maître..." for one kind from one folder of frames.
void BuildMaster(qvapp::MainWindow& w, int kind, const QString& folder, const char* name) {
  WhenShown<QDialog>("le dialogue du fichier maître", [kind, folder, name](QDialog* d) {
    d->findChild<QRadioButton*>(QStringLiteral("Option1_%1").arg(kind))->click();
    WhenShown<QFileDialog>("le choix du dossier", [folder](QFileDialog* f) {
      f->setDirectory(folder);
      QCoreApplication::processEvents();
      PressAccept(f);
    });
    d->findChild<QPushButton*>("Command2")->click();  // "Ajouter un dossier..."
    Shot(*d, name);
    CheckWithinScreen(*d, "le dialogue du fichier maître");
    WhenShown<QMessageBox>("le compte rendu du fichier maître", [](QMessageBox* box) { box->accept(); });
    d->findChild<QPushButton*>("Command6")->click();  // "Créer"
  });
  w.findChild<QAction*>("mnuMaster")->trigger();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s NUIT REGLAGES.ini CAPTURES SORTIES\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  qvapp::InstallFrenchTranslations();
  const QString night = QString::fromLocal8Bit(argv[1]);
  shots = QString::fromLocal8Bit(argv[3]);
  const QString out = QString::fromLocal8Bit(argv[4]);
  QDir().mkpath(shots);
  QDir().mkpath(out);

  qvsession::Program p(argv[2]);
  qv::Session& s = p.s;
  qvapp::MainWindow& w = p.w;
  w.Load("");
  CheckWithinScreen(w, "la fenêtre principale");
  Shot(w, "nuit-1-vide");

  // The masters, each from its folder of frames; each is put to use.
  BuildMaster(w, 0, night + "/darks", "nuit-2-maitre-dark");
  Check(QFile::exists(night + "/darks/master-dark.fts"), "le dark maître est écrit");
  BuildMaster(w, 1, night + "/flats", "nuit-3-maitre-plu");
  Check(QFile::exists(night + "/flats/master-plu.fts"), "la PLU maîtresse est écrite");
  Check(s.opt.Has(qv::DarkSub) && s.opt.Has(qv::FlatApply) && s.cal.DarkR.Width() == 1800 &&
            s.cal.FlatPic.Width() == 1800,
        "les deux maîtres sont en service");

  // The frames, through the open dialog.
  QStringList names;
  for (int i = 1; i <= 30; ++i) names << QStringLiteral("\"frame%1.fts\"").arg(i, 3, 10, QChar('0'));
  WhenShown<QFileDialog>("le dialogue d'ouverture",
                         [&](QFileDialog* d) { TypeInFileDialog(d, night, names.join(' '), "nuit-4-ouvrir"); });
  w.findChild<QAction*>("mnuLoad")->trigger();
  Check(WaitFor([&] { return s.RunState == 0 && !p.form1.Busy; }, 120), "les vignettes sont construites");
  Check(s.ImageCount() == 30, "30 images dans la liste");
  Shot(w, "nuit-5-images");

  // A plain click on the guide star of the first frame.
  const QPointF star = qvsession::FirstGuideStar(night);
  auto* picture = w.findChild<QWidget*>("Picture1");
  const double zoom = s.opt.PicZoom;
  QTest::mouseClick(picture, Qt::LeftButton, Qt::NoModifier, QPoint(qRound(star.x() / zoom), qRound(star.y() / zoom)));
  Check(s.Img[1].GuideOrigin == qv::PairOrigin::Placed, "le clic place l'étoile guide");
  Check(!w.StatusLine().isEmpty(), "la barre d'état dit ce que le clic a fait");
  Shot(w, "nuit-6-clic");

  // The project as it stands, for the tool to stack the same way.
  WhenShown<QFileDialog>("l'enregistrement du projet",
                         [&](QFileDialog* d) { TypeInFileDialog(d, out, "apres-clic.txt"); });
  w.findChild<QAction*>("mnuSavePrj")->trigger();
  Check(QFile::exists(out + "/apres-clic.txt"), "le projet est enregistré");

  // The automatic marks, and what they say.
  std::string marks;
  WhenShown<QMessageBox>("le compte rendu des marques", [&](QMessageBox* box) {
    Shot(*box, "nuit-7-marques");
    marks = box->text().toStdString();
    box->accept();
  });
  w.findChild<QAction*>("mnuAutoMarks")->trigger();
  Check(marks.find("l'étoile guide marquée") != std::string::npos, "les marques suivent l'étoile cliquée");
  Check(p.form1.LastMarks.ok, "les marques sont posées");

  // A temporary folder that looks too small: the run asks first, and the
  // default answer, Non, runs nothing.
  {
    qv::ScopedFreeSpace tight(10u << 20);
    std::string question;
    WhenShown<QMessageBox>("la question de l'espace libre", [&](QMessageBox* box) {
      Shot(*box, "nuit-7b-espace");
      question = box->text().toStdString();
      box->defaultButton()->click();
    });
    w.findChild<QAction*>("mnu_4")->trigger();
    Check(question.rfind("Espace libre insuffisant dans ", 0) == 0 &&
              question.find("Continuer quand même ?") != std::string::npos,
          "la place manque : la question est posée (" + question + ")");
    Check(s.RunState == 0 && p.form1.LastRun.Combined() == 0, "Non : rien n'est empilé");
    Check(w.StatusLine().startsWith(QStringLiteral("Exécution annulée")), "Non : la barre d'état le dit");
  }

  // The run.
  w.findChild<QAction*>("mnu_4")->trigger();
  Check(s.RunState == 0, "le passage est terminé");
  Check(p.form1.LastRun.Combined() == 29,
        "29 images combinées sur 30 (" + std::to_string(p.form1.LastRun.Combined()) + ")");
  // The frame refused for its quality is counted, not only the others.
  const QString counted = w.StatusLine();
  Check(counted == QStringLiteral("29 images combinées sur 29 acceptées ; 1 refusée (qualité < 75.0 %)"),
        "la barre d'état donne le compte (" + counted.toStdString() + ")");
  Check(w.reportWindow() && w.reportWindow()->isVisible(), "le rapport s'ouvre pour l'image laissée de côté");
  Exposed(*w.reportWindow());
  Shot(*w.reportWindow(), "nuit-8-rapport");
  CheckWithinScreen(*w.reportWindow(), "le rapport");

  // The editor: the automatic stretch, then the saves.
  qvapp::EditorWindow* editor = w.editorWindow();
  qvapp::DestinationWindow* destination = w.destinationWindow();
  Check(editor && destination && editor->isVisible() && destination->isVisible(), "l'éditeur s'ouvre");
  CheckWithinScreen(*editor, "l'éditeur");
  CheckWithinScreen(*destination, "la fenêtre destination");
  auto* stretch = editor->findChild<QPushButton*>("Command7");
  Check(stretch->text() == QStringLiteral("Étirement auto"), "le bouton Étirement auto existe");
  stretch->click();
  WaitFor([&] { return !w.form3()->Drawing(); }, 30);
  Shot(*destination, "nuit-9-destination");
  Shot(*editor, "nuit-10-editeur");
  // A name typed without its extension takes the one of the type chosen.
  auto save = [&](int type, const QString& name, const char* shot) {
    WhenShown<QFileDialog>("le dialogue d'enregistrement", [=](QFileDialog* d) {
      // Chosen in the list as a user does: the dialog follows the list's
      // activation, not a change made to it from code.
      if (auto* types = d->findChild<QComboBox*>("fileTypeCombo")) {
        types->setCurrentIndex(type);
        emit types->activated(type);
        emit types->textActivated(types->itemText(type));
      }
      TypeInFileDialog(d, out, name, shot);
    });
    editor->findChild<QPushButton*>("Command1")->click();
  };
  save(2, "fenetre", "nuit-11-enregistrer");
  save(0, "fenetre", nullptr);
  Check(QFile::exists(out + "/fenetre.jpg"), "le JPEG est enregistré");
  Check(QFile::exists(out + "/fenetre.fts"), "le FITS est enregistré");

  w.close();
  Check(!w.isVisible(), "la fenêtre se ferme");
  std::printf("%d échec(s)\n", qvsession::failures);
  return qvsession::failures == 0 ? 0 : 1;
}
