// A scripted session of the desktop program on a real display (run under
// xvfb-run with the xcb platform): start on a simulated project, run
// "E&xécuter", wait for the end of the run, quit, and keep screenshots.
//
// usage: quelvista_scripted_session PROJECT.txt SETTINGS.ini SHOTS_FOLDER
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/main_window.h"
#include "app/qt_platform.h"
#include "app/session_support.h"
#include "core/options.h"
#include "core/session.h"
#include "editor/form3.h"
#include "platform/desktop.h"
#include "platform/settings_store.h"
#include "stack/accumulate.h"
#include "workspace/form1.h"
#include "workspace/save_commands.h"

using qvsession::Check;
using qvsession::CheckWithinScreen;
using qvsession::Shot;
using qvsession::WaitFor;

namespace {

// A press of the left button at `at` in `w`.
void Press(QWidget* w, QPointF at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s PROJET.txt REGLAGES.ini DOSSIER\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  qvapp::InstallFrenchTranslations();
  const QString shots = QString::fromLocal8Bit(argv[3]);
  QDir().mkpath(shots);

  qvsession::Program p(argv[2]);  // its desktop answers "Confimer quitter" with Yes
  qv::Session& s = p.s;
  qvapp::MainWindow& w = p.w;
  CheckWithinScreen(w, "la fenêtre principale");

  w.Load(argv[1]);
  Check(s.ImageCount() >= 2, "le projet est chargé");
  Check(WaitFor([&] { return s.RunState == 0 && !p.form1.Busy; }, 30), "les vignettes sont construites");
  // "Auto" of "Niveau" stretches the picture between the computed levels
  // (the simulated project was saved with it off).
  w.findChild<QCheckBox*>("Check3")->click();
  Check(p.form1.Check3 == 1 && !p.form1.Text1.empty(), "Auto remplit Minimum et Maximum");
  // The second image, with its guide-star mark.
  Press(w.findChild<QLabel*>("Image1_2"), QPointF(5, 5));
  Check(s.CurPic == 2, "la deuxième image est choisie");
  Check(p.form1.Shape2.Visible, "la marque de l'étoile guide est là");
  w.Refresh();
  QCoreApplication::processEvents();
  Shot(w, shots, "main-window-loaded");

  QAction* run = w.findChild<QAction*>("mnu_4");
  Check(run->isEnabled(), "E&xécuter est disponible");
  bool sawRunning = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] { sawRunning |= s.RunState == 1; });
  probe.start(20);
  run->trigger();  // returns when the run is over
  probe.stop();
  Check(sawRunning, "la fenêtre a vécu pendant le passage");
  Check(s.RunState == 0, "le passage est terminé");
  Check(s.stack.StackCount >= 2, "les images sont empilées");
  const qv::Plane<float>& weights = s.dest.DestWeightR;
  Check(!s.dest.DestSumR.Empty() && !weights.Empty() &&
            *std::max_element(weights.Data(), weights.Data() + weights.Size()) >= 2,
        "la destination contient la pile, où plusieurs images se recouvrent");
  w.Refresh();
  QCoreApplication::processEvents();
  Shot(w, shots, "main-window-after-run");

  // The editor and the destination window open after the run.
  qvapp::EditorWindow* editor = w.editorWindow();
  qvapp::DestinationWindow* destination = w.destinationWindow();
  Check(editor && editor->isVisible() && destination && destination->isVisible(),
        "l'éditeur et la fenêtre destination s'ouvrent");
  CheckWithinScreen(*destination, "la fenêtre destination");
  CheckWithinScreen(*editor, "l'éditeur");
  const QImage first = destination->Shown();
  auto* black = editor->findChild<QLineEdit*>("Text1_1");
  black->setText(QStringLiteral("1500"));
  emit black->textEdited(black->text());
  Press(editor->findChild<QWidget*>("Picture2"), QPointF(90, 40));
  Check(destination->Shown() != first, "les niveaux et la courbe changent l'image");
  QCoreApplication::processEvents();
  Shot(*destination, shots, "destination-window");
  Shot(*editor, shots, "editor-window");
  // What "Enregistrer" does once its dialog confirmed a name.
  for (const char* ext : {"jpg", "bmp", "tif", "fts"}) {
    const std::string name = qvapp::S(shots) + "/../saved." + ext;
    Check(qv::SaveDestinationAs(s, name, w.form2()->Shown(s.opt.Has(qv::PixAspect), s.opt.PixRatio)) == 0,
          "l'éditeur enregistre " + name);
  }

  // The zone dialog above the main window, and the debug log beside it.
  w.findChild<QRadioButton*>("Option2_4")->click();
  Check(w.zoneDialog()->isVisible(), "le dialogue Zone s'ouvre");
  CheckWithinScreen(*w.zoneDialog(), "le dialogue Zone");
  Shot(*w.zoneDialog(), shots, "zone-dialog");
  w.findChild<QRadioButton*>("Option2_1")->click();
  Check(!w.zoneDialog()->isVisible(), "le dialogue Zone se ferme avec un autre mode");
  w.findChild<QAction*>("mnuDebug")->trigger();
  Check(w.debugWindow()->isVisible(), "la fenêtre de débogage s'ouvre");
  CheckWithinScreen(*w.debugWindow(), "la fenêtre de débogage");
  QGuiApplication::primaryScreen()->grabWindow(0).save(shots + "/../screens/debug.png");
  CheckWithinScreen(w, "la fenêtre principale à côté du débogage");
  w.debugWindow()->close();

  // The Options dialog, as the menu shows it (modal): captured, then closed
  // with "Annuler".
  bool optionsShown = false;
  qvsession::WhenShown<QDialog>("le dialogue Options", [&](QDialog* dialog) {
    optionsShown = dialog->objectName() == "Form5";
    CheckWithinScreen(*dialog, "le dialogue Options");
    // OK and "Annuler" inside the dialog, so on the screen.
    for (const char* name : {"Command1", "Command2"}) {
      auto* b = dialog->findChild<QPushButton*>(name);
      Check(dialog->rect().contains(QRect(b->mapTo(dialog, QPoint(0, 0)), b->size())),
            "les boutons du dialogue Options sont visibles");
    }
    Shot(*dialog, shots, "options-dialog");
    dialog->findChild<QPushButton*>("Command2")->click();
  });
  w.findChild<QAction*>("mnu_3")->trigger();
  Check(optionsShown, "le dialogue Options s'ouvre");
  Check(!s.OptionsApplied, "Annuler n'applique rien");

  const std::string tempBase = s.stack.TempBase;
  w.close();
  Check(!w.isVisible(), "la fenêtre se ferme après confirmation");
  Check(p.desktop.questions.size() == 1 && p.desktop.questions[0] == "Confimer quitter",
        "la confirmation est demandée");
  bool leftover = false;
  if (!tempBase.empty()) {
    const std::filesystem::path base(tempBase);
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(base.parent_path(), ec))
      if (e.path().filename().string().rfind(base.filename().string(), 0) == 0) leftover = true;
  }
  Check(!leftover, "aucun fichier temporaire ne reste");
  std::printf("%d échec(s)\n", qvsession::failures);
  return qvsession::failures == 0 ? 0 : 1;
}
