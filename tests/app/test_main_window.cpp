// The desktop windows on the offscreen platform: each mirrors its model and
// forwards its events to the model's handlers.
#include <unistd.h>
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyleOptionSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QWheelEvent>
#include <QtTest>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>

#include "app/main_window.h"
#include "app/options_dialog.h"
#include "app/qt_platform.h"
#include "app/session_support.h"
#include "app/small_windows.h"
#include "app/termination.h"
#include "core/options.h"
#include "core/paths.h"
#include "core/run_files.h"
#include "core/session.h"
#include "editor/form3.h"
#include "platform/desktop.h"
#include "platform/settings_store.h"
#include "stack/combine.h"
#include "workspace/form1_events.h"
#include "workspace/form5.h"
#include "workspace/results.h"
#include "workspace/save_commands.h"
#include "workspace/settings.h"

namespace {

// Dialogs that answer what the test set beforehand.
struct ScriptedDialogs : qvapp::GuiDialogs {
  std::vector<std::string> files;
  std::string open, save, folder;
  std::function<void()> onSave;  // told when the save dialog would open
  std::string OpenFile(const qv::FileDialogRequest&) override { return open; }
  qv::SaveAnswer SaveFile(const qv::FileDialogRequest&) override {
    if (onSave) onSave();
    return {save, -1};
  }
  std::vector<std::string> OpenFiles(const qv::FileDialogRequest&) override { return files; }
  std::string BrowseFolder(const std::string&, const std::string&) override { return folder; }
};

// One program: a session on the Qt event loop and its main window.
struct Program {
  qvapp::QtEventLoop events;
  qv::FreeImageLoader loader;
  qv::SystemClock clock;
  qv::Session s{qv::Platform{&loader, &events, &clock}};
  qv::Form1 f{s};
  qv::MemorySettingsStore store;
  qv::HeadlessDesktop desktop;
  ScriptedDialogs dialogs;
  qvapp::MainWindow w{f, store, desktop, dialogs};
  Program() {
    w.FollowEvents(events);
    w.resize(1100, 760);
    w.show();
  }
  QAction* Action(const char* name) { return w.findChild<QAction*>(name); }
  template <class T>
  T* Control(const char* name) {
    return w.findChild<T*>(name);
  }
};

// Runs `step` every few milliseconds while the test waits inside a
// synchronous command (a run), as a user acting during it would.
struct During {
  QTimer timer;
  explicit During(const std::function<void()>& step) {
    QObject::connect(&timer, &QTimer::timeout, step);
    timer.start(5);
  }
};

// The editor's rendering of the session's destination for the controls
// `set` gives, as one draw of a model of its own makes it.
QImage Rendered(Program& p, const std::function<void(qv::Form3&)>& set) {
  qv::Form2 dest;
  qv::Form3 model(p.s, dest);
  model.Form_Load();
  set(model);
  model.draw();
  return qvapp::PackedToImage(dest.Shown(p.s.opt.Has(qv::PixAspect), p.s.opt.PixRatio));
}

// Counts the paint events a widget receives.
struct PaintCount : QObject {
  explicit PaintCount(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString sky_, night_;
  QPointF nightGuide_;  // the guide star of the night's first frame

  // The simulated frames through the open dialog, which gives the folder,
  // then the names.
  void LoadFrames(Program& p) {
    p.dialogs.files = {qvapp::S(sky_) + "/", "frame001.fts", "frame002.fts", "frame003.fts", "frame004.fts"};
    p.Action("mnuLoad")->trigger();
    QCOMPARE(p.s.ImageCount(), 4);
  }

 private slots:
  void initTestCase() {
    // As the program does when it starts.
    QVERIFY(qvapp::InstallFrenchTranslations() && dir_.isValid());
    auto simulate = [](const QString& out, const char* options) {
      const QString cmd = QStringLiteral("'%1' simulate --out '%2' %3 >/dev/null").arg(QUELVISTA_CLI, out, options);
      return std::system(cmd.toLocal8Bit().constData());
    };
    sky_ = dir_.filePath("sky");
    QCOMPARE(simulate(sky_, "--frames 4 --width 160 --height 120 --seed 5"), 0);
    // A dithered night whose fifth frame is dimmed by cloud below the
    // minimum quality.
    night_ = dir_.filePath("night");
    QCOMPARE(simulate(night_, "--frames 6 --width 480 --height 360 --dither 20 --cloud 5 --seed 7"), 0);
    nightGuide_ = qvsession::FirstGuideStar(night_);
    QVERIFY(!nightGuide_.isNull());
  }

  void optionsDialogMirrorsItsModel() {
    Program p;
    qv::Form5 model(p.s, p.store);
    model.Form_Load();
    qvapp::OptionsDialog dialog(model, p.dialogs, &p.w);
    dialog.show();
    // "Annuler" writes nothing, whatever was ticked.
    dialog.findChild<QCheckBox*>("Check6")->click();
    dialog.findChild<QPushButton*>("Command2")->click();
    QVERIFY(!p.s.OptionsApplied && p.store.writes.empty() && p.s.opt.UseMask == 0);
    model.Form_Load();
    dialog.Refresh();
    dialog.show();
    auto* frame4 = dialog.findChild<QGroupBox*>("Frame4");
    QVERIFY(!frame4->isVisible());
    dialog.findChild<QCheckBox*>("Check1")->click();
    QVERIFY(frame4->isVisible());  // the model's visibility rule, mirrored
    // The pixel ratio says what it stretches and what it leaves.
    QVERIFY(dialog.findChild<QRadioButton*>("Option1_1")->toolTip().contains("L'empilement n'en tient pas compte"));
    // The hot-pixel calculation warns that fine stars' cores go with it.
    for (const char* name : {"Check1", "Text5", "Text7"})
      QVERIFY(dialog.findChild<QWidget*>(name)->toolTip().contains("Le cœur d'une étoile fine"));
    QTest::keyClicks(dialog.findChild<QLineEdit*>("Text14"), "9");
    QCOMPARE(model.Text14, std::string("15009"));

    // "Explorer" fills the box with the chosen folder; a cancel keeps it.
    for (const char* folder : {"/data/nuit", ""}) {
      p.dialogs.folder = folder;
      dialog.findChild<QPushButton*>("Command4")->click();
      QCOMPARE(model.Text2, std::string("/data/nuit"));
    }
    p.dialogs.open = "/data/dark.fts";
    dialog.findChild<QPushButton*>("Command7")->click();
    QCOMPARE(model.Text12, std::string("/data/dark.fts"));

    // The frame "Rejet" mirrors the model's enabling rules; OK writes what
    // was chosen, there and in "Marques automatiques".
    auto* text15 = dialog.findChild<QLineEdit*>("Text15");
    auto* check18 = dialog.findChild<QCheckBox*>("Check18");
    QVERIFY(!text15->isEnabled());
    dialog.findChild<QRadioButton*>("Option3_2")->click();
    QVERIFY(text15->isEnabled() && !check18->isEnabled());
    dialog.findChild<QCheckBox*>("Check17")->click();
    QVERIFY(check18->isEnabled());
    for (const auto& [name, typed] : {std::pair("Text15", "2.5"), std::pair("Text17", "2")}) {
      dialog.findChild<QLineEdit*>(name)->selectAll();
      QTest::keyClicks(dialog.findChild<QLineEdit*>(name), typed);
    }
    dialog.findChild<QPushButton*>("Command1")->click();
    QVERIFY(p.s.OptionsApplied && !dialog.isVisible() && (p.s.opt.UseMask & qv::HotCalc) == qv::HotCalc);
    QVERIFY(p.s.opt.MaxFwhm == 2.0f && p.s.opt.RejectMode == 2 && p.s.opt.Normalise == 1);
    QCOMPARE(p.store.Get(qv::kSettingsSection, "RejectLow"), std::string("2.5"));
  }

  // The controls reach the model and mirror it; a quit asks, and saves the
  // keys only when told Yes.
  void controlsReachTheModelAndAQuitSavesThem() {
    Program p;
    p.desktop.answer = false;
    p.Action("mnuExit")->trigger();
    QVERIFY(p.w.isVisible() && p.store.writes.empty() && p.desktop.questions.size() == 1);
    // While an image is selected "Terminer" does nothing; the close box asks.
    p.f.Busy = true;
    p.Action("mnuExit")->trigger();
    QCOMPARE(p.desktop.questions.size(), size_t{1});
    p.w.close();
    QCOMPARE(p.desktop.questions.size(), size_t{2});
    p.f.Busy = false;

    auto* text3 = p.Control<QLineEdit>("Text3");
    text3->clear();
    QTest::keyClicks(text3, "60");
    QCOMPARE(p.s.opt.MinQual, 0.6f);
    // The box checked here is clicked off below, and the quit saves it off.
    p.f.Check6 = 1;
    p.f.Label1 = "320x240\r\nZoom=50.0%";
    p.w.Refresh();
    QCOMPARE(p.Control<QLabel>("Label1")->text(), QStringLiteral("320x240\nZoom=50.0%"));
    // "Sous-ensemble" shows the subset fields, whose text is the model's.
    QVERIFY(!p.Control<QLineEdit>("Text7")->isVisible());
    p.Action("mnubar11")->trigger();
    QVERIFY(p.Control<QLineEdit>("Text7")->isVisible());
    QTest::keyClicks(p.Control<QLineEdit>("Text8"), "3");
    QCOMPARE(p.f.Text8, std::string("3"));

    // Yes saves the keys and the project, and removes every file of the
    // run's temporary pattern (the base, anything or nothing, ".bin"), not
    // others.
    p.desktop.answer = true;
    p.Control<QCheckBox>("Check6")->click();
    p.f.Project = "/p/projet.txt";
    const std::string base = qvapp::S(dir_.filePath("quit_"));
    p.s.stack.TempBase = base;
    for (const char* name : {".bin", "1.bin", "autre.txt"}) std::ofstream(base + name) << "x";
    std::ofstream(qvapp::S(dir_.filePath("autre.bin"))) << "x";
    p.w.close();
    QCOMPARE(p.store.Get(qv::kSettingsSection, "Expand"), std::string("0"));
    QCOMPARE(p.store.Get(qv::kSettingsSection, "Project"), std::string("/p/projet.txt"));
    QVERIFY(!p.w.isVisible() && !QFileInfo::exists(qvapp::Q(base + ".bin")) &&
            !QFileInfo::exists(qvapp::Q(base + "1.bin")) && QFileInfo::exists(qvapp::Q(base + "autre.txt")) &&
            QFileInfo::exists(dir_.filePath("autre.bin")));
  }

  void imagesLoadAndClicksSetMarksAtTheZooms() {
    Program p;
    LoadFrames(p);
    QCOMPARE(p.w.findChild<QCheckBox*>("Check9_4")->text(), QStringLiteral("frame004.fts"));

    auto* picture = p.w.findChild<QWidget*>("Picture1");
    {
      // The box paints the part of the drawn picture it is asked for (the
      // part in sight), from the drawing itself: what it paints is the
      // picture the window gives out (the marks, which the clicks below
      // place again, aside).
      for (qv::ShapeMark* m : {&p.f.Shape2, &p.f.Shape3, &p.f.Shape4, &p.f.Shape5, &p.f.Label9, &p.f.Label10})
        m->Visible = false;
      for (qv::LineMark* l : {&p.f.Line2, &p.f.Line3, &p.f.Line4}) l->Visible = false;
      const QSize size = picture->size();
      const QRect part(size.width() / 3, size.height() / 4, size.width() / 2, size.height() / 2);
      const QImage painted = picture->grab(part).toImage().convertToFormat(QImage::Format_RGB32);
      const QImage whole = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
      const QImage shown = p.w.Shown().convertToFormat(QImage::Format_RGB32);
      QVERIFY(!shown.isNull() && shown.size() == size && whole == shown && painted == shown.copy(part));
    }
    const int u1 = p.s.pic.PicR.UBound1(), u2 = p.s.pic.PicR.UBound2();
    for (int z : {0, 3}) {
      p.Action(QStringLiteral("mnuZoom_%1").arg(z).toLatin1().constData())->trigger();
      const int zoom = 1 << z;
      QCOMPARE(std::pair(int(p.s.opt.PicZoom), p.w.Shown().width()), std::pair(zoom, u1 / zoom + 1));
      const QPoint at(9, 7);
      const double px = zoom * 9, py = zoom * 7;
      qv::ImageEntry& e = p.s.Img[1];

      QTest::mouseClick(picture, Qt::LeftButton, Qt::ShiftModifier, at);
      QCOMPARE(QPointF(e.ImgRefX, e.ImgRefY), QPointF(px / u1, py / u2));
      QTest::mouseClick(picture, Qt::LeftButton, Qt::NoModifier, at);
      QCOMPARE(QPointF(e.ImgGuideX, e.ImgGuideY), QPointF(px / u1, py / u2));
      e.ImgZone.clear();
      QTest::mouseClick(picture, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, at);
      QCOMPARE(e.ImgZone, qv::Str(px / u1) + "," + qv::Str(py / u2) + ";");
      // The zone mark shows at once, zone menu unchecked: a red circle of radius 3.
      if (z == 0) QCOMPARE(p.w.Shown().pixel(at.x() - 3, at.y()), qRgb(255, 0, 0));
      QTest::mouseClick(picture, Qt::RightButton, Qt::NoModifier, at);
      QVERIFY2(p.w.windowTitle().startsWith(QStringLiteral("(x,y)=(%1,%2) RGB=(").arg(px).arg(py)),
               qPrintable(p.w.windowTitle()));
    }
    QCOMPARE(p.store.Get(qv::kSettingsSection, "PicZoom"), std::string("8"));

    // The strip: a box reaches its entry, a thumbnail selects its image.
    p.w.findChild<QCheckBox*>("Check9_3")->click();
    QCOMPARE(p.s.Img[3].ImgChecked, uint8_t{0});
    QTest::mouseClick(p.w.findChild<QLabel*>("Image1_2"), Qt::LeftButton);
    QCOMPARE(p.s.CurPic, int16_t{2});
    QTest::keyClick(&p.w, Qt::Key_Down);
    QCOMPARE(p.s.CurPic, int16_t{3});
    // What the model's boxes say reaches the strip, and only the selected
    // thumbnail is framed; a box set back behind the mirror's back follows.
    auto* box2 = p.w.findChild<QCheckBox*>("Check9_2");
    p.f.Check9[2].ForeColor = 0xFF0000;
    p.f.Check9[2].Bold = true;
    p.f.Check9[2].Caption = "renommée.fts";
    p.w.Refresh();
    QVERIFY(box2->font().bold() && box2->palette().color(QPalette::WindowText) == QColor(255, 0, 0) &&
            box2->text() == QStringLiteral("renommée.fts"));
    for (int i = 1; i <= 4; ++i)
      QCOMPARE(p.w.findChild<QLabel*>(QStringLiteral("Image1_%1").arg(i))->palette().color(QPalette::WindowText),
               i == 3 ? QColor(Qt::red) : QColor(Qt::transparent));
    p.f.Check9[2].Bold = false;
    p.w.Refresh();
    QVERIFY(!box2->font().bold());
    auto* box3 = p.w.findChild<QCheckBox*>("Check9_3");
    QVERIFY(p.f.Check9[3].Value == 0 && !box3->isChecked());
    {
      const QSignalBlocker quiet(box3);
      box3->setChecked(true);
    }
    p.w.Refresh();
    QVERIFY(!box3->isChecked());
    // A click the tracking will not use says which box to tick.
    QTest::mouseClick(picture, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QVERIFY2(p.w.StatusLine().contains(QStringLiteral("« Nouvelle position (Click) »")), qPrintable(p.w.StatusLine()));
    // A menu item's tip covers the line while the pointer is on the item;
    // the line is there again once it has left.
    auto* line = p.w.statusBar()->findChild<QLabel*>("status");
    QVERIFY(line);
    QStatusTipEvent tip{QStringLiteral("Ouvre des images")};
    QApplication::sendEvent(p.w.menuBar(), &tip);
    QCOMPARE(p.w.statusBar()->currentMessage(), QStringLiteral("Ouvre des images"));
    QStatusTipEvent left{QString()};
    QApplication::sendEvent(p.w.menuBar(), &left);
    QVERIFY(line->isVisible() && p.w.StatusLine().contains(QStringLiteral("« Nouvelle position (Click) »")));
    // A wrapped line never starts with a French sign that follows a space:
    // that space is shown as a no-break space.
    QVERIFY(line->text().contains(QStringLiteral("«\u00A0Nouvelle position (Click)\u00A0»")));
    // A short line takes one line; a run's summary, longer than the window
    // is wide, is read whole: the line wraps within the window and is as
    // tall as its lines.
    QApplication::processEvents();
    QCOMPARE(line->height(), line->fontMetrics().height());
    const std::string said = p.f.StatusText;
    p.f.StatusText.clear();
    for (int k = 0; k < 12; ++k) p.f.StatusText += "3 images refusées (qualité < 75 %) ; ";
    p.w.Refresh();
    QApplication::processEvents();
    QVERIFY(line->geometry().right() < p.w.statusBar()->width());
    QVERIFY(line->height() >= line->heightForWidth(line->width()));
    QVERIFY(line->height() > 2 * line->fontMetrics().height());
    // A summary of many lines takes three, ends in "…", and shows whole
    // under the pointer; a long path wraps at its slashes and does not
    // widen the window.
    for (int k = 0; k < 40; ++k) p.f.StatusText += "image " + std::to_string(k) + " : étoiles trop larges ; ";
    p.w.Refresh();
    QApplication::processEvents();
    QVERIFY(line->height() <= 3 * line->fontMetrics().lineSpacing() && line->text().endsWith(QStringLiteral("…")));
    QCOMPARE(line->toolTip(), p.w.StatusLine());
    const int width = p.w.width();
    p.f.StatusText = "Enregistré : ";
    for (int k = 0; k < 20; ++k) p.f.StatusText += "/dossier" + std::to_string(k);
    p.w.Refresh();
    QApplication::processEvents();
    QVERIFY(p.w.width() == width && line->geometry().right() < p.w.statusBar()->width() && line->toolTip().isEmpty() &&
            line->height() > line->fontMetrics().height());
    p.f.StatusText = said;
    p.w.Refresh();
    QApplication::processEvents();
    QCOMPARE(line->height(), line->fontMetrics().height());

    // A refresh repaints the picture for marks that moved, not for a mirror
    // that changed nothing in it.
    PaintCount count(picture);
    // The window settles first (the status line grew and shrank above).
    for (int turn = 0; turn < 5; ++turn) QApplication::processEvents();
    count.paints = 0;
    p.w.Refresh();
    QApplication::processEvents();
    QCOMPARE(count.paints, 0);
    p.f.Shape2 = {true, 4, 4, 12, 12};
    p.w.Refresh();
    QApplication::processEvents();
    QVERIFY(count.paints > 0);
    // The preview of an image being read has the picture's size; it is
    // painted only when the reading lasts (an image of a run is read before
    // anyone could see it); showing the image again replaces it, in the
    // picture's memory.
    const QSize drawn = p.w.Shown().size();
    count.paints = 0;
    p.s.window->Preview(2);
    QApplication::processEvents();
    QCOMPARE(count.paints, 0);
    QTRY_VERIFY(count.paints > 0);
    count.paints = 0;
    p.s.window->Preview(2);
    p.s.window->ShowHisto();
    QTest::qWait(200);
    QCOMPARE(count.paints, 1);
    p.s.window->Preview(2);
    QCOMPARE(picture->size(), drawn);
    const QImage preview = p.w.Shown();
    QCOMPARE(preview.size(), drawn);
    p.s.window->ShowHisto();
    QVERIFY(p.w.Shown().size() == drawn && p.w.Shown() != preview);

    // The frames loaded twice more: a long strip keeps whole thumbnails.
    for (int k = 0; k < 2; ++k) p.Action("mnuLoad")->trigger();
    QCOMPARE(p.s.ImageCount(), 12);
    QApplication::processEvents();
    for (int i = 1; i <= 12; ++i) {
      auto* image = p.Control<QLabel>(QStringLiteral("Image1_%1").arg(i).toLatin1().constData());
      QVERIFY(image && !image->pixmap().isNull());
      QVERIFY2(image->height() >= image->pixmap().height(), qPrintable(QString::number(i)));
    }
    // The strip's bar moves the strip so that its thumbnail sits in the
    // middle, the selection frame staying on the image shown.
    auto* strip = p.Control<QScrollArea>("Picture11");
    auto* bar = p.Control<QScrollBar>("VScroll1");
    const int16_t shown = p.s.CurPic;
    for (int i : {6, 7}) {
      bar->setValue(i);
      QApplication::processEvents();
      QWidget* cell = p.Control<QLabel>(QStringLiteral("Image1_%1").arg(i).toLatin1().constData())->parentWidget();
      const int middle = cell->mapTo(strip->viewport(), QPoint(0, cell->height() / 2)).y();
      QVERIFY2(std::abs(middle - strip->viewport()->height() / 2) <= 1, qPrintable(QString::number(middle)));
      QCOMPARE(p.s.CurPic, shown);
    }
    // A page of the bar (a click in its groove) brings the thumbnails after
    // the last one in sight, none skipped; the wheel over the strip turns
    // the bar, which the strip follows. During a run the strip, disabled,
    // keeps its pictures' look and ignores the wheel.
    auto thumb = [&](int i) { return p.Control<QLabel>(QStringLiteral("Image1_%1").arg(i).toLatin1().constData()); };
    auto inSight = [&] {
      std::vector<int> seen;
      for (int i = 1; i <= 12; ++i) {
        const int top = thumb(i)->parentWidget()->mapTo(strip->viewport(), QPoint(0, 0)).y();
        if (top >= 0 && top + thumb(i)->parentWidget()->height() <= strip->viewport()->height()) seen.push_back(i);
      }
      return seen;
    };
    bar->setValue(1);
    const std::vector<int> top = inSight();
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    const std::vector<int> paged = inSight();
    QVERIFY(!top.empty() && !paged.empty() && paged.front() > top.front() && paged.front() <= top.back() + 1);
    auto wheel = [&] {
      QWheelEvent turn(QPointF(10, 10), strip->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(thumb(paged.front()), &turn);
    };
    const int before = bar->value();
    wheel();
    QVERIFY(bar->value() > before && inSight().front() > paged.front());
    QCOMPARE(p.s.CurPic, shown);
    // The bar is painted plainly where its style puts each part: the
    // slider in the button colour, the groove around it darker.
    {
      QStyleOptionSlider o;
      o.initFrom(bar);
      o.orientation = Qt::Vertical;
      std::tie(o.minimum, o.maximum, o.sliderPosition, o.sliderValue, o.pageStep, o.singleStep) =
          std::tuple(bar->minimum(), bar->maximum(), bar->value(), bar->value(), bar->pageStep(), 1);
      const QRect slider = bar->style()->subControlRect(QStyle::CC_ScrollBar, &o, QStyle::SC_ScrollBarSlider, bar);
      const QImage painted = bar->grab().toImage();
      const QPoint groove = slider.top() > bar->height() / 2 ? QPoint(slider.center().x(), slider.top() - 8)
                                                             : QPoint(slider.center().x(), slider.bottom() + 8);
      QCOMPARE(std::pair(painted.pixel(slider.center()), painted.pixel(groove)),
               std::pair(bar->palette().color(QPalette::Button).rgb(),
                         bar->palette().color(QPalette::Window).darker(106).rgb()));
    }
    const QImage enabled = thumb(paged.front())->grab().toImage(), framed = thumb(shown)->grab().toImage();
    p.Control<QWidget>("Picture10")->setEnabled(false);
    const int running = bar->value();
    const std::vector<int> still = inSight();
    wheel();
    QVERIFY(bar->value() == running && inSight() == still);
    QVERIFY(thumb(paged.front())->grab().toImage() == enabled && thumb(shown)->grab().toImage() == framed);
  }

  // Each control answers the event its handler is named after: a scroll bar
  // when it is let go, a thumbnail a left click on it, a held key each
  // repeat, a double click one press; "&Copier" takes the picture without
  // the marks over it.
  void theMainWindowsControlsAnswerTheirEvents() {
    Program p;
    LoadFrames(p);
    auto* slider = p.Control<QScrollBar>("HScroll1");
    const int16_t hsens = p.s.opt.Hsens;
    const int released = slider->value() == 20 ? 0 : 20;
    slider->setSliderDown(true);
    slider->setSliderPosition(released);
    QCOMPARE(p.s.opt.Hsens, hsens);
    slider->setSliderDown(false);
    QCOMPARE(int(p.s.opt.Hsens), released);

    QTest::mouseClick(p.w.findChild<QLabel*>("Image1_3"), Qt::RightButton);
    QTest::mousePress(p.w.findChild<QLabel*>("Image1_3"), Qt::LeftButton);
    QTest::mouseRelease(p.w.findChild<QLabel*>("Image1_2"), Qt::LeftButton);
    QCOMPARE(p.s.CurPic, int16_t{1});
    QTest::keyClick(&p.w, Qt::Key_Down);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : &p.w, &repeat);
    QCOMPARE(p.s.CurPic, int16_t{3});
    // A click on the strip's bar gives it the arrows, which scroll the strip
    // and select nothing; a click on the picture takes them back.
    auto* strip = p.Control<QScrollBar>("VScroll1");
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() / 2, strip->height() / 2));
    QCOMPARE(QApplication::focusWidget(), strip);
    const int16_t stripAt = p.f.VScroll1Value;
    QTest::keyClick(strip, Qt::Key_Up);
    QCOMPARE(std::pair(p.s.CurPic, int(p.f.VScroll1Value)), std::pair(int16_t{3}, stripAt - 1));
    QTest::mouseClick(p.w.findChild<QWidget*>("Picture1"), Qt::RightButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(p.s.CurPic, int16_t{2});
    // A resize arranges the window again and redraws the picture at the
    // levels typed.
    p.f.Check3 = 0;
    p.f.Text1 = "0";
    p.f.Text2 = "1";
    const QImage before = p.w.Shown();
    p.w.resize(p.w.width() + 40, p.w.height());
    QTRY_VERIFY(p.w.Shown() != before);
    QVERIFY(QApplication::focusWidget() == p.w.findChild<QWidget*>("Picture1"));
    p.f.Check3 = 1;

    p.Action("mnuZoom_0")->trigger();
    qv::ImageEntry& e = p.s.Img[static_cast<size_t>(p.s.CurPic)];
    e.ImgZone.clear();
    QWidget* picture = p.w.findChild<QWidget*>("Picture1");
    QTest::mouseDClick(p.w.windowHandle(), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier,
                       picture->mapTo(&p.w, QPoint(9, 7)));
    QCOMPARE(std::count(e.ImgZone.begin(), e.ImgZone.end(), ';'), std::ptrdiff_t{1});

    p.f.Shape2 = {true, 4, 4, 12, 12};
    p.w.Refresh();
    p.Action("mnuCopy")->trigger();
    QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
             p.w.Shown().convertToFormat(QImage::Format_RGB32));
    QCOMPARE(p.w.StatusLine(), QStringLiteral("Image copiée dans le presse-papiers : %1 x %2 pixels")
                                   .arg(p.w.Shown().width())
                                   .arg(p.w.Shown().height()));

    // Choosing the zone mode draws the zones over the picture as it is shown
    // (the crosses of "Zone de gradient" stay); with "Auto", a level typed in
    // a box stays there until the next redraw.
    p.s.opt.UseMask |= qv::GradRemove;
    p.s.pic.GradMask.Redim(2, 2);
    p.s.pic.GradMask.Fill(1);
    if (!p.Control<QCheckBox>("Check3")->isChecked()) p.Control<QCheckBox>("Check3")->click();
    p.Action("mnuGrad")->trigger();
    const QImage withGrid = p.w.Shown().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(withGrid.pixel(QPoint(5, 0)), qRgb(255, 0, 0));  // an arm of the top left cross
    e.ImgZone.clear();
    p.Control<QRadioButton>("Option2_4")->click();
    QVERIFY(p.f.Option2 == 4 && p.f.Form6Visible);
    QCOMPARE(p.w.Shown().convertToFormat(QImage::Format_RGB32), withGrid);

    auto* text1 = p.Control<QLineEdit>("Text1");
    text1->selectAll();
    QTest::keyClicks(text1, "60000");
    QTest::keyClick(text1, Qt::Key_Return);
    QVERIFY(p.f.Text1 == "60000" && text1->text() == QStringLiteral("60000"));
  }

  void dialogsOpenOverTheActiveWindow() {
    QWidget owner, editor;
    editor.show();
    QApplication::setActiveWindow(&editor);
    QTRY_COMPARE(QApplication::activeWindow(), &editor);
    QCOMPARE(qvapp::DialogOwner(&owner), &editor);
    editor.hide();
    QApplication::setActiveWindow(nullptr);
    QCOMPARE(qvapp::DialogOwner(&owner), &owner);
  }

  // The closing wait of a selection serves the events that come meanwhile
  // and lasts its time, sleeping in between: the event loop goes round for
  // those events and the deadline, not thousands of times.
  void theClosingWaitSleepsAndServesEvents() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    int rounds = 0;
    const auto blocks = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] { ++rounds; });
    const auto wakes = connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++rounds; });
    bool served = false;
    QTimer::singleShot(20, [&] { served = true; });
    QElapsedTimer waited;
    waited.start();
    qvapp::PauseWithEvents(0.2);
    const qint64 elapsed = waited.elapsed();
    disconnect(blocks);
    disconnect(wakes);
    QVERIFY(served);
    QVERIFY2(elapsed >= 200, qPrintable(QString::number(elapsed)));
    QVERIFY2(rounds < 50, qPrintable(QString::number(rounds)));
  }

  // Qt's own texts are French; Enter answers a question with its default:
  // Yes for the quit, No for a run that may not fit in the temporary folder.
  void dialogsAreFrenchAndDefaultToTheSafeAnswer() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quelvista"), QStringLiteral("Confimer quitter"),
                    QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text().remove('&'), QStringLiteral("Oui"));
    QCOMPARE(box.button(QMessageBox::No)->text().remove('&'), QStringLiteral("Non"));
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
             QStringLiteral("Dossier"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "%1 already exists.\nDo you want to replace it?"),
             QStringLiteral("Le fichier %1 existe déjà.\nVoulez-vous l'écraser ?"));
    // The file dialogs' dates are French too.
    QCOMPARE(QLocale().toString(QDate(2026, 12, 8), QLocale::ShortFormat), QStringLiteral("08/12/2026"));
    // The file dialogs' filters and folders.
    QCOMPARE(qvapp::FilterText("Image Astro (FTS FIT BMP JPEG TIF)", "*.fts;*.fit"),
             QStringLiteral("Image Astro (FTS FIT BMP JPEG TIF) (*.fts *.fit)"));
    const auto groups = qvapp::GroupByFolder({"/a/x.fts", "/b/y.fts", "/a/z.fts"});
    QCOMPARE(groups, (std::vector<std::vector<std::string>>{{"/a", "x.fts", "z.fts"}, {"/b", "y.fts"}}));

    QWidget* none = nullptr;
    qvapp::QtDesktop desktop(none);
    for (const bool safeIsNo : {false, true}) {
      QString asked;
      During enter([&] {
        if (auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          asked = question->text();
          QTest::keyClick(question, Qt::Key_Return);
        }
      });
      const bool yes =
          safeIsNo ? desktop.AskYesNoDefaultNo("Continuer quand même ?") : desktop.AskYesNo("Confimer quitter");
      QCOMPARE(asked, safeIsNo ? QStringLiteral("Continuer quand même ?") : QStringLiteral("Confimer quitter"));
      QCOMPARE(yes, !safeIsNo);
    }
  }

  // The menus' commands; "Nouveau" clears the view and keeps the levels.
  void menusRunTheirCommandsAndNewKeepsTheLevels() {
    Program p;
    LoadFrames(p);
    p.s.opt.InitDir = "/ciel/source";
    p.Action("mnuExplSource")->trigger();
    QCOMPARE(p.desktop.opened, std::vector<std::string>{"/ciel/source"});
    // With no file browser to take it, the line says the menu did nothing.
    p.desktop.opens = false;
    p.Action("mnuExplSource")->trigger();
    QCOMPARE(p.w.StatusLine(),
             QStringLiteral("Répertoire non ouvert (aucun gestionnaire de fichiers ne l'a pris) : /ciel/source"));
    p.desktop.opens = true;

    p.Action("mnuDebug")->trigger();
    // The header view opens the debug window itself: greyed while it is open.
    QVERIFY(!p.Action("mnuFITS")->isEnabled());
    p.Control<QRadioButton>("Option2_4")->click();
    QVERIFY(p.w.zoneDialog() && p.w.zoneDialog()->isVisible() &&
            (p.w.zoneDialog()->windowFlags() & Qt::WindowStaysOnTopHint));
    // A log cleared and written again as far as it went shows the new lines.
    auto* debugList = p.w.debugWindow()->findChild<QListWidget*>("List1");
    p.f.DebugLog = {"Exécution"};
    p.w.Refresh();
    p.f.DebugLog = {"Ouverture du projet /ciel/p.txt"};
    p.w.Refresh();
    QCOMPARE(std::pair(debugList->count(), debugList->item(0)->text()),
             std::pair(1, QStringLiteral("Ouverture du projet /ciel/p.txt")));
    p.w.debugWindow()->close();
    QVERIFY(!p.f.mnuDebug && !p.Action("mnuDebug")->isChecked() && p.Action("mnuFITS")->isEnabled());

    const QString project = dir_.filePath("projet.txt");
    p.dialogs.save = qvapp::S(project);
    p.Action("mnuSavePrj")->trigger();
    QVERIFY(QFile::exists(project));
    QCOMPARE(p.w.StatusLine(), QStringLiteral("Projet enregistré : ") + project);
    // A folder that is not there: the status bar says so, in words.
    p.dialogs.save = qvapp::S(dir_.filePath("absent/projet.txt"));
    p.Action("mnuSavePrj")->trigger();
    QVERIFY2(p.w.StatusLine().startsWith(QStringLiteral("Projet non enregistré : ")), qPrintable(p.w.StatusLine()));
    // "Nouveau" clears the view and keeps the levels.
    auto* h2 = p.Control<QScrollBar>("HScroll2");
    auto* label1 = p.Control<QLabel>("Label1");
    QVERIFY(h2->isVisible() && p.Control<QScrollBar>("VScroll2")->isVisible() && !label1->text().isEmpty());
    QWidget* histo = p.w.findChild<QWidget*>("Picture3");
    auto whiteOnly = [&] {
      const QImage shown = histo->grab().toImage().convertToFormat(QImage::Format_RGB32);
      const auto* px = reinterpret_cast<const QRgb*>(shown.constBits());
      return std::all_of(px, px + shown.width() * shown.height(), [](QRgb c) { return c == qRgb(255, 255, 255); });
    };
    QVERIFY(!whiteOnly());
    p.Control<QLineEdit>("Text1")->setText("1234");
    p.f.Text1 = "1234";
    p.Control<QScrollBar>("HScroll1")->setValue(13);
    const bool autoChecked = p.Control<QCheckBox>("Check3")->isChecked();
    // The picture panned to its top left corner before.
    h2->setValue(0);
    p.Control<QScrollBar>("VScroll2")->setValue(0);
    QVERIFY(p.w.windowTitle() != QStringLiteral("Quelvista"));
    p.Action("mnuNew")->trigger();
    QCOMPARE(p.s.ImageCount(), 0);
    QCOMPARE(p.w.windowTitle(), QStringLiteral("Quelvista"));
    // Selecting closed the zone dialog.
    QVERIFY(!p.w.findChild<QCheckBox*>("Check9_1") && !p.w.zoneDialog()->isVisible() && whiteOnly());
    QVERIFY(!h2->isVisible() && !p.Control<QScrollBar>("VScroll2")->isVisible() && label1->text().isEmpty());
    QVERIFY(p.Control<QLineEdit>("Text1")->text() == QStringLiteral("1234") &&
            p.Control<QScrollBar>("HScroll1")->value() == 13 &&
            p.Control<QCheckBox>("Check3")->isChecked() == autoChecked);
    // A new list shows them again.
    p.dialogs.open = qvapp::S(project);
    p.Action("mnuLoadPrj")->trigger();
    QVERIFY(p.s.ImageCount() == 4 && h2->isVisible() && !whiteOnly());
    // It is shown from its middle, where its bars say, not where the last
    // list was panned.
    {
      auto* picture = p.w.findChild<QWidget*>("Picture1");
      const QWidget* view = picture->parentWidget();
      QVERIFY(h2->value() == p.f.HScroll2Value && p.f.HScroll2Value == p.f.HScroll2Max / 2);
      QCOMPARE(picture->pos(), QPoint(view->width() / 2 - p.f.HScroll2Value * picture->width() / 100,
                                      view->height() / 2 - p.f.VScroll2Value * picture->height() / 100));
      // The wheel over the picture pans it down, and across with Shift (the
      // picture leaves the wheel to the view it sits in, as Qt passes a
      // wheel turned by the user on; one sent here stays where it is sent).
      auto wheel = [&](Qt::KeyboardModifiers keys, QPoint delta = QPoint(0, -120)) {
        QWheelEvent turn(QPointF(10, 10), picture->mapToGlobal(QPointF(10, 10)), QPoint(), delta, Qt::NoButton, keys,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(picture, &turn);
        QVERIFY(!turn.isAccepted());
        QApplication::sendEvent(picture->parentWidget(), &turn);
      };
      const QPoint before = picture->pos();
      const int v = p.f.VScroll2Value, h = p.f.HScroll2Value;
      wheel(Qt::NoModifier);
      QVERIFY(p.f.VScroll2Value > v && p.f.HScroll2Value == h && picture->y() < before.y());
      wheel(Qt::ShiftModifier);  // by the same steps, not a page
      QVERIFY(p.f.HScroll2Value - h == p.f.VScroll2Value - v && picture->x() < before.x());
      // A touchpad's slanted stroke: each bar takes its part.
      const int down = p.f.VScroll2Value, across = p.f.HScroll2Value;
      wheel(Qt::NoModifier, QPoint(-60, -120));
      QVERIFY(p.f.VScroll2Value > down && p.f.HScroll2Value > across);
    }

    // "Enregistrer l'image ..." writes what the picture shows.
    const QString bmp = dir_.filePath("vue.bmp");
    p.dialogs.save = qvapp::S(bmp);
    p.Action("mnuSavPicBmp")->trigger();
    QCOMPARE(QImage(bmp).convertToFormat(QImage::Format_RGB32), p.w.Shown().convertToFormat(QImage::Format_RGB32));

    // The FITS header in a fixed-pitch list, which Escape closes.
    bool shown = false, fixed = false;
    During user([&] {
      auto* view = qobject_cast<qvapp::DebugWindow*>(QApplication::activeModalWidget());
      if (!view || view->List1()->count() == 0) return;
      shown = true;
      fixed = QFontInfo(view->List1()->font()).fixedPitch();
      QTest::keyClick(view->List1(), Qt::Key_Escape);
    });
    p.Action("mnuFITS")->trigger();  // returns once the view is closed
    QVERIFY(shown && fixed);
  }

  // Escape stops a run, whose menus meanwhile allow only "&Stop"; closing
  // the window during a run only requests the stop, asks nothing and saves
  // nothing, and the run's status line says to close it again.
  void escapeOrCloseStopsARun() {
    for (const bool byClose : {false, true}) {
      Program p;
      LoadFrames(p);
      bool menusWhileRunning = false, stayed = false;
      During user([&] {
        if (p.s.RunState != 1) return;
        // The status bar no longer shows what it said before the run.
        menusWhileRunning = !p.Action("mnu_4")->isEnabled() && p.Action("mnu_5")->isEnabled() &&
                            !p.Action("mnu_0")->isEnabled() && !p.w.findChild<QWidget*>("Picture1")->isEnabled() &&
                            p.w.StatusLine() == QStringLiteral("Exécution en cours");
        if (byClose) {
          p.w.close();
          stayed = p.w.isVisible() && p.s.RunState == 2;
        } else {
          QTest::keyClick(&p.w, Qt::Key_Escape);
        }
      });
      p.Action("mnu_4")->trigger();
      // Stopped: no final combination.
      QVERIFY(menusWhileRunning && p.s.dest.DestSumR.Empty() && p.Action("mnu_4")->isEnabled() &&
              !p.Action("mnu_5")->isEnabled());
      QCOMPARE(stayed, byClose);
      QVERIFY(p.w.isVisible() && p.desktop.questions.empty() && p.store.writes.empty());
      // The window that stayed says how to quit.
      QCOMPARE(p.w.StatusLine().endsWith(QStringLiteral(" ; fermez de nouveau la fenêtre pour quitter")), byClose);
    }
  }

  // A run that ends fills the destination and opens the editor's windows:
  // what they show must be what the editor model computes for the same
  // controls on the same destination.
  void aRunOpensTheDestinationAndTheEditor() {
    Program p;
    LoadFrames(p);
    // The bar follows the images done while the run goes (painted with the
    // window's turns of events), and goes away with it.
    auto* bar = p.Control<QProgressBar>("progress");
    {
      // The first report of an operation shows in the bar as it appears;
      // the next ones wait for the next picture shown, or a moment later
      // when none comes, and each is painted then, however many reports
      // came meanwhile.
      p.s.RunState = 1;
      PaintCount reported(bar);
      p.w.ShowProgress(0.25);
      QVERIFY(bar->isVisible() && bar->value() == 250);
      // Painted plainly: the quarter done in the highlight, the rest in the
      // base colour.
      const QImage painted = bar->grab().toImage();
      QCOMPARE(std::pair(painted.pixelColor(painted.width() / 8, 2), painted.pixelColor(painted.width() * 7 / 8, 2)),
               std::pair(bar->palette().color(QPalette::Highlight), bar->palette().color(QPalette::Base)));
      QCoreApplication::processEvents();
      const int shown = reported.paints;
      p.w.ShowProgress(0.5);
      QCoreApplication::processEvents();
      QVERIFY(bar->value() == 250 && reported.paints == shown);
      p.f.outer->ShowImage();
      QCoreApplication::processEvents();
      QVERIFY(bar->value() == 500 && reported.paints == shown + 1);
      for (double done : {0.6, 0.7, 0.8}) {
        p.w.ShowProgress(done);
        QCoreApplication::processEvents();
        QVERIFY(bar->updatesEnabled());  // a paint asked for is never dropped
      }
      QTRY_VERIFY_WITH_TIMEOUT(bar->value() == 800 && reported.paints == shown + 2, 2000);
      // A run's combination names itself from nothing, not from the
      // frames' count.
      p.f.outer->Combining();
      QCOMPARE(bar->text(), QStringLiteral("Combinaison : 0 %"));
      p.s.RunState = 0;
      p.w.Refresh();
      QVERIFY(!bar->isVisible());
    }
    // The combination starts the bar again under its own name, on one line.
    int highest = -1;
    bool walked = false, combining = false, fits = true;
    During watch([&] {
      if (p.s.RunState != 1 || !bar->isVisible()) return;
      highest = std::max(highest, bar->value());
      walked = walked || !bar->text().startsWith(QStringLiteral("Combinaison"));
      combining = combining || (walked && bar->text().startsWith(QStringLiteral("Combinaison : ")));
      fits = fits && bar->fontMetrics().horizontalAdvance(bar->text()) < bar->width() - 16;
    });
    PaintCount barPaints(bar);
    p.Action("mnu_4")->trigger();
    QVERIFY(highest > 0 && highest <= bar->maximum() && !bar->isVisible() && barPaints.paints > 0);
    QVERIFY(walked && combining && fits && bar->format() == QStringLiteral("%p %"));
    qvapp::DestinationWindow* d = p.w.destinationWindow();
    qvapp::EditorWindow* e = p.w.editorWindow();
    QVERIFY(d && e && d->isVisible() && e->isVisible() && d->windowTitle().endsWith(QStringLiteral(".bmp")));
    QCOMPARE(d->Shown().size(), QSize(p.s.dest.DestSumR.Width(), p.s.dest.DestSumR.Height()));
    QCOMPARE(d->picture()->grab().toImage().convertToFormat(QImage::Format_RGB32), d->Shown());

    // The bars of the destination window follow the picture when a zoom (or,
    // further down, a turn) changes its size; the window is not resized.
    auto *h = d->findChild<QScrollBar*>("HScroll1"), *v = d->findChild<QScrollBar*>("VScroll1");
    QVERIFY(!h->isVisible() && !v->isVisible());  // sized to the whole picture
    const QSize window = d->size();
    auto* combo = e->findChild<QComboBox*>("Combo1");
    combo->setCurrentIndex(combo->findText("200"));
    emit combo->activated(combo->currentIndex());
    QCOMPARE(d->size(), window);
    QVERIFY(h->isVisible() && v->isVisible() && h->maximum() == p.w.form2()->Scroll.hMax && h->maximum() > 0);
    combo->setCurrentIndex(combo->findText("100"));
    emit combo->activated(combo->currentIndex());
    QVERIFY(!h->isVisible() && !v->isVisible());

    auto editorControl = [&](const char* name) { return e->findChild<QWidget*>(name); };

    // A click in the curve box, three quarters to the right (a typed level
    // is the redraw test's); colour mode, details, hiding the maximum and
    // filling.
    QTest::mouseClick(editorControl("Picture2"), Qt::LeftButton, {}, QPoint(192, 60));
    for (const char* name : {"Option1_1", "Check3", "Check5", "Check6"})
      qobject_cast<QAbstractButton*>(editorControl(name))->click();
    // A slider acts when let go; the picture of the same size is drawn
    // again into the memory of the last.
    auto* detail = qobject_cast<QScrollBar*>(editorControl("HScroll1"));
    const uchar* memory = d->Shown().constBits();
    detail->setSliderDown(true);
    detail->setSliderPosition(10);
    QCOMPARE(p.w.form3()->HScroll1, int16_t(0));
    detail->setSliderDown(false);
    QCOMPARE(d->Shown().constBits(), memory);
    QCOMPARE(d->Shown(), Rendered(p, [](qv::Form3& m) {
               m.SetHisCurv(192);
               m.Option1 = m.Check3 = m.Check5 = m.Check6 = 1;
               m.HScroll1 = 10;
             }));

    // With only the green black-level selector checked, a press on the
    // histogram sets that level where the model reads the press.
    qobject_cast<QCheckBox*>(editorControl("Check1_1"))->click();
    QWidget* histo = editorControl("Picture1");
    qv::Form3& m = *p.w.form3();
    const std::string red = m.Text1[0];
    QTest::mouseClick(histo, Qt::LeftButton, {}, QPoint(histo->width() / 3, 50));
    const std::string pressed = m.Text1[1];
    QCOMPARE(qobject_cast<QLineEdit*>(editorControl("Text1_1"))->text().toStdString(), pressed);
    m.Picture1_MouseDown(1, m.Picture1ScaleLeft + (histo->width() / 3) * m.Picture1ScaleWidth / histo->width());
    QVERIFY(m.Text1[1] == pressed && m.Text1[0] == red);
    // Any other button, the middle one too, clears the selectors and sets
    // no level.
    QTest::mouseClick(histo, Qt::MiddleButton, {}, QPoint(histo->width() / 5, 50));
    QVERIFY(m.Check1 == (std::array<int16_t, 3>{}) && m.Check2 == (std::array<int16_t, 3>{}) && m.Text1[1] == pressed);

    // Presses on the destination picture, a save in every format, the
    // geometry buttons and a zoom.
    auto* wb = e->findChild<QScrollBar*>("HScroll4");

    // Right: the pixel's weights and sums in the caption.
    QTest::mouseClick(d->picture(), Qt::RightButton, {}, QPoint(10, 12));
    QVERIFY2(d->windowTitle().startsWith(QStringLiteral("(x,y)=(10,12) (nR,nG,nB)=(")), qPrintable(d->windowTitle()));
    QVERIFY(wb->isHidden());

    // Left: a white balance sets the levels and shows its strength slider.
    const std::array<std::string, 3> levels = m.Text1;
    QTest::mouseClick(d->picture(), Qt::LeftButton, {}, QPoint(80, 60));
    QVERIFY(!wb->isHidden() && (m.Text1 != levels || m.Text2 != std::array<std::string, 3>{"65535", "65535", "65535"}));
    QCOMPARE(e->findChild<QLineEdit*>("Text1_0")->text().toStdString(), m.Text1[0]);

    for (const char* ext : {"jpg", "bmp", "tif", "fts", "jpeg"}) {
      const QString file = dir_.filePath(QStringLiteral("editor.%1").arg(QLatin1String(ext)));
      p.dialogs.save = qvapp::S(file);
      e->findChild<QPushButton*>("Command1")->click();
      // One-plane frames written as three identical planes: the status bar
      // says so and how to write one. A name that ends otherwise than a
      // format's is written as FITS, and said to be.
      const QString status = p.w.StatusLine();
      QVERIFY2(status.startsWith(QStringLiteral("Enregistré : ") + file), qPrintable(status));
      QCOMPARE(status.contains(QStringLiteral("trois plans identiques")),
               std::string(ext) != "jpg" && std::string(ext) != "bmp");
      QCOMPARE(status.contains(QStringLiteral("(au format FITS : la fin du nom choisit le format")),
               std::string(ext) == "jpeg");
      if (std::string(ext) == "jpeg") continue;
      // A JPEG or BMP is the picture shown: its size is said.
      const QImage saved(file);
      QCOMPARE(status.contains(QStringLiteral(" (%1 x %2 pixels : l'image telle qu'affichée, à son zoom)")
                                   .arg(saved.width())
                                   .arg(saved.height())),
               ext[0] == 'j' || ext[0] == 'b');
    }
    // A save that fails is said in front of the editor, not only in the
    // status bar behind it.
    p.dialogs.save = qvapp::S(dir_.filePath(QStringLiteral("absent/editor.bmp")));
    QString told;
    qvsession::WhenShown<QMessageBox>("l'échec de l'enregistrement", [&](QMessageBox* box) {
      told = box->text();
      box->accept();
    });
    e->findChild<QPushButton*>("Command1")->click();
    QVERIFY2(told.startsWith(QStringLiteral("Enregistrement impossible : le dossier ") + dir_.filePath("absent/") +
                             QStringLiteral(" n'existe pas")),
             qPrintable(told));
    QCOMPARE(p.w.StatusLine(), told);

    const QSize start = d->Shown().size();
    e->findChild<QPushButton*>("Command4")->click();  // "Tourner"
    QCOMPARE(d->Shown().size(), start.transposed());
    QVERIFY(d->Shown().height() > d->height() && v->isVisible());  // a wide picture made tall
    e->findChild<QPushButton*>("Command5")->click();               // "2 x 2"
    QCOMPARE(d->Shown().size(), start.transposed() / 2);
    e->findChild<QPushButton*>("Command6")->click();  // "3 x 3"
    QCOMPARE(d->Shown().size(), start.transposed() / 2 / 3);

    // "Copier" puts the shown picture on the clipboard, and says so.
    e->findChild<QPushButton*>("Command2")->click();
    QCOMPARE(QApplication::clipboard()->image().size(), d->Shown().size());
    QCOMPARE(p.w.StatusLine(), QStringLiteral("Image copiée dans le presse-papiers (%1 x %2)")
                                   .arg(d->Shown().width())
                                   .arg(d->Shown().height()));

    // Whatever enters the running state puts the last result away: a new
    // run (seen as soon as it has begun; its end opens the new result), the
    // batch TIFF save.
    bool sawRun = false, hiddenAtStart = false;
    During again([&] {
      if (p.s.RunState != 1 || sawRun) return;
      sawRun = true;
      hiddenAtStart = !p.w.destinationWindow()->isVisible() && !p.w.editorWindow()->isVisible();
    });
    p.Action("mnu_4")->trigger();
    QVERIFY(sawRun && hiddenAtStart && p.w.destinationWindow()->isVisible());
    p.Action("mnuSavPicAll")->trigger();
    QVERIFY(!p.w.destinationWindow()->isVisible() && !p.w.editorWindow()->isVisible());
    // A new result loads the editor's controls as designed; closing the
    // destination closes the editor.
    m.Check4 = m.Check5 = m.Check6 = 1;
    m.Check1 = {1, 1, 1};
    p.s.window->OpenDestination("ciel_1.bmp");
    QVERIFY(m.Check4 == 0 && m.Check5 == 0 && m.Check6 == 0 && m.Check1 == (std::array<int16_t, 3>{}));
    e = p.w.editorWindow();
    QVERIFY(e->isVisible());
    // The editor closed alone: the status bar says how to bring it back, and
    // a press on the result does, as it was left, setting no white balance.
    // A right press still shows the pixel's sums in the caption; the run's
    // line comes back with the editor.
    m.Check4 = 1;
    const std::array<std::string, 3> whites = m.Text2;
    p.f.StatusText = "ligne de l'exécution";
    e->close();
    QVERIFY(!e->isVisible() && p.w.destinationWindow()->isVisible());
    QVERIFY(p.w.StatusLine().startsWith(QStringLiteral("Modification de l'image fermée : cliquez")));
    QTest::mouseClick(p.w.destinationWindow()->picture(), Qt::RightButton, {}, QPoint(10, 12));
    QVERIFY(!e->isVisible() && p.w.destinationWindow()->windowTitle().startsWith(QStringLiteral("(x,y)=(10,12)")));
    QTest::mouseClick(p.w.destinationWindow()->picture(), Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(e->isVisible() && m.Check4 == 1 && m.Text2 == whites && !m.HScroll4Visible);
    QCOMPARE(p.w.StatusLine(), QStringLiteral("ligne de l'exécution"));
    p.w.destinationWindow()->close();
    QVERIFY(!e->isVisible());
  }

  // Keys typed while a band of rows is computed off the interface thread:
  // the event loop serves them during the wait, each restarts the redraw,
  // which ends with a whole render of the last level; a save asked for
  // meanwhile takes that render. The editor closed by the user during a
  // redraw lets it finish; closed with its result, the redraw stops. Then
  // "Étirement auto" sets the levels and "Initialiser" undoes it.
  void editsDuringARedrawRestartItAndInitialiserUndoesAStretch() {
    Program p;
    // A stacked sky as the final combination leaves it: a background with a
    // slope and noise, and a few stars; opened in the destination window and
    // the editor as at the end of a run.
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0, 40);
    qv::Plane<float>* sum[3] = {&p.s.dest.DestSumR, &p.s.dest.DestSumG, &p.s.dest.DestSumB};
    qv::Plane<float>* weight[3] = {&p.s.dest.DestWeightR, &p.s.dest.DestWeightG, &p.s.dest.DestWeightB};
    for (int c = 0; c < 3; ++c) {
      sum[c]->Redim(639, 479);
      weight[c]->Redim(639, 479);
      weight[c]->Fill(3);
      for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
          const double v = 900 + 100 * c + x + noise(rng);
          (*sum[c])(x, y) = static_cast<float>(3 * (x % 97 == 13 && y % 89 == 7 ? 30000 : v));
        }
    }
    qv::MeasureDestination(p.s);
    p.s.dest.DestFileName = "/nulle/part/ciel_1.bmp";
    p.s.window->OpenDestination("ciel_1.bmp");
    qvapp::DestinationWindow* d = p.w.destinationWindow();
    qvapp::EditorWindow* e = p.w.editorWindow();
    QVERIFY(d && e);
    qv::Form3& m = *p.w.form3();
    const QImage start = d->Shown();
    const std::array<std::string, 3> black = m.Text1, white = m.Text2;
    const double curve = m.CurveLineX;
    auto* text1 = e->findChild<QLineEdit*>("Text1_0");
    const QString keys = QStringLiteral("1150");
    const QString bmp = dir_.filePath("pendant_calcul.bmp");
    p.dialogs.save = qvapp::S(bmp);
    int served = 0, asides = 0, typed = 1;
    QObject::connect(text1, &QLineEdit::textEdited, [&] { served += p.events.InAside() ? 1 : 0; });
    // Posted: only the event loop of the wait delivers them.
    auto post = [](QObject* to, std::function<void()> what) {
      QMetaObject::invokeMethod(to, std::move(what), Qt::QueuedConnection);
    };
    p.events.duringAside = [&] {
      ++asides;
      if (typed < keys.size()) {
        const char key = keys[typed++].toLatin1();
        post(text1, [text1, key] { QTest::keyClick(text1, key); });
      }
      // "Enregistrer", twice: one dialog, once the redraw is done (opened
      // within it, it would hold the redraw still behind it).
      if (asides == 2)
        for (int k = 0; k < 2; ++k) post(e, [e] { e->findChild<QPushButton*>("Command1")->click(); });
    };
    int dialogs = 0;
    p.dialogs.onSave = [&] { dialogs += m.Drawing() ? 100 : 1; };
    text1->selectAll();
    QTest::keyClick(text1, keys[0].toLatin1());
    p.events.duringAside = nullptr;
    p.dialogs.onSave = nullptr;
    QCOMPARE(dialogs, 1);
    QCOMPARE(served, int(keys.size()) - 1);
    QVERIFY(m.Text1[0] == "1150" && !m.Drawing());
    // Three passes stopped at their first band; the last one's five bands.
    QCOMPARE(asides, 3 + 5);
    const QImage last = Rendered(p, [](qv::Form3& r) { r.Text1[0] = "1150"; });
    QCOMPARE(d->Shown(), last);
    QCOMPARE(QImage(bmp).convertToFormat(QImage::Format_RGB32), last);
    QCOMPARE(p.s.dest.DestFileName, qvapp::S(bmp));

    // "Étirement auto" sets the levels and the curve, as its fields and the
    // picture show; "Initialiser" undoes it.
    e->findChild<QPushButton*>("Command7")->click();
    QCOMPARE(e->findChild<QLineEdit*>("Text2_2")->text(), qvapp::Q(m.Text2[2]));
    QVERIFY(m.Text1 != black && m.Text2 != white && m.CurveLineX != curve);
    QCOMPARE(d->Shown(), Rendered(p, [&](qv::Form3& r) {
               r.Text1 = m.Text1;
               r.Text2 = m.Text2;
               r.SetHisCurv(m.CurveLineX);
             }));
    e->findChild<QPushButton*>("Command3")->click();  // "Initialiser"
    QVERIFY(m.Text1 == black && m.Text2 == white && m.CurveLineX == curve);
    QCOMPARE(d->Shown(), start);

    // A key starts a redraw, and `what` is done once during its first
    // band, as a user acting meanwhile; the bands are counted.
    auto duringFirstBand = [&](QObject* to, const std::function<void()>& what, char key) {
      bool posted = false;
      asides = 0;
      p.events.duringAside = [&] {
        ++asides;
        if (!std::exchange(posted, true)) post(to, what);
      };
      QTest::keyClick(text1, key);
      p.events.duringAside = nullptr;
      return posted;
    };
    auto lastSettings = [&] { return Rendered(p, [&](qv::Form3& r) { r.Text1 = m.Text1; }); };
    // Closed by the user during a redraw, the editor leaves the result
    // drawn with its last settings: the redraw goes on to its end.
    QVERIFY(duringFirstBand(
        e, [e] { e->close(); }, '0'));
    QVERIFY(!e->isVisible() && !m.Drawing() && asides == 5);
    QCOMPARE(d->Shown(), lastSettings());
    // Closed with its result (as before a run), the redraw stops at the end
    // of its band.
    p.s.window->OpenDestination("ciel_1.bmp");
    QVERIFY(duringFirstBand(
        d, [d] { d->close(); }, '5'));
    QVERIFY(!e->isVisible() && !d->isVisible() && !m.Drawing() && asides == 1);
    // A result put away and opened again during a band (a run begun from
    // the main window meanwhile) is drawn whole.
    p.s.window->OpenDestination("ciel_1.bmp");
    QVERIFY(duringFirstBand(
        d,
        [&] {
          d->close();
          p.s.window->OpenDestination("ciel_1.bmp");
        },
        '2'));
    QVERIFY(e->isVisible() && !m.Drawing() && asides > 5);
    QCOMPARE(d->Shown(), lastSettings());
  }

  // The window starts with "Auto" checked; files dropped on it join the
  // list, and a project dropped opens with its own "Auto".
  void droppedFilesJoinTheListAndAProjectOpens() {
    Program p;
    // The list starts empty: the line names the last session's project.
    const std::string last = qvapp::S(sky_ + "/project.txt");
    p.store.Set(qv::kSettingsSection, "Project", last);
    p.w.Load("");
    QCOMPARE(p.w.StatusLine(), QStringLiteral("Dernier projet : %1 (Fichier > Ouvrir un projet)").arg(qvapp::Q(last)));
    QVERIFY(p.Control<QCheckBox>("Check3")->isChecked());
    auto drop = [&](const QStringList& paths) {
      QMimeData mime;
      QList<QUrl> urls;
      for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
      mime.setUrls(urls);
      QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&p.w, &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent event(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&p.w, &event);
      QVERIFY(event.isAccepted());
    };
    drop({sky_ + "/frame002.fts", sky_ + "/frame001.fts"});
    // Sorted as the dialog's.
    QVERIFY(p.s.ImageCount() == 2 && p.s.Img[1].ImgFile.find("frame001.fts") != std::string::npos);
    drop({sky_ + "/frame003.fts"});
    QCOMPARE(p.s.ImageCount(), 3);
    QCOMPARE(p.w.StatusLine(), QStringLiteral("1 image ajoutée ; 3 images dans la liste"));
    drop({sky_ + "/project.txt"});
    // Saved with "Auto" off (line 14).
    QVERIFY(p.s.ImageCount() == 4 && !p.Control<QCheckBox>("Check3")->isChecked());
    QCOMPARE(p.w.StatusLine(), QStringLiteral("Projet ouvert : %1 (4 images)").arg(qvapp::Q(last)));
    // A project whose lines carry no widths is filled at full size: the
    // thumbnails kept are still the strip's size, not the frames'.
    drop({night_ + "/project.txt"});
    QVERIFY(p.s.ImageCount() == 6 && p.s.Img[1].ImgNaxis1 == 480);
    for (int i = 1; i <= 6; ++i) QCOMPARE(p.w.ThumbnailSize(i).width(), 120);
  }

  // The marks follow the star the user placed, reference before guide star;
  // the run's report lists every image.
  void automaticMarksFollowTheUsersStar() {
    Program p;
    // The marks' report comes over their reference image, already shown:
    // nothing is left to load once it is closed, when a command given at
    // once would be refused.
    bool reportOverTheReference = false;
    During user([&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        if (box->text().contains(QStringLiteral("Images marquées")))
          reportOverTheReference = !p.f.Busy && p.s.CurPic == 1;
        box->accept();
      }
    });
    // A reference placed with Maj+click wins over a guide star clicked on
    // empty sky; the marks, then a run.
    p.dialogs.files = {qvapp::S(night_) + "/", "frame001.fts", "frame002.fts", "frame003.fts",
                       "frame004.fts",         "frame005.fts", "frame006.fts"};
    p.Action("mnuLoad")->trigger();
    auto* picture = p.w.findChild<QWidget*>("Picture1");
    const double zoom = p.s.opt.PicZoom;
    QTest::mouseClick(picture, Qt::LeftButton, Qt::NoModifier, QPoint(qRound(40 / zoom), qRound(40 / zoom)));
    QTest::mouseClick(picture, Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(qRound(nightGuide_.x() / zoom), qRound(nightGuide_.y() / zoom)));
    // A run before the marks opens the report; the run after them brings it
    // up again, its rows rewritten.
    p.Action("mnu_4")->trigger();
    QVERIFY(p.w.reportWindow() && p.w.reportWindow()->isVisible());
    // The progress bar follows the marks to their last image, the status
    // line says they run, and the result of the run stays open to be saved.
    QPointer<qvapp::DestinationWindow> result = p.w.destinationWindow();
    QVERIFY(result && result->isVisible());
    auto* bar = p.w.findChild<QProgressBar*>("progress");
    int reached = 0;
    bool told = false;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
      reached = bar->isVisible() ? v : reached;
      told = told || p.f.StatusText == "Marques automatiques en cours";
    });
    p.Action("mnuAutoMarks")->trigger();
    QCOMPARE(reached, bar->maximum());
    QVERIFY(told && result && result->isVisible() && reportOverTheReference);
    QVERIFY2(p.w.windowTitle().startsWith(QStringLiteral("frame001.fts")), qPrintable(p.w.windowTitle()));
    const qv::ImageEntry& first = p.s.Img[1];
    QVERIFY(first.ImgRefX == first.ImgGuideX && first.ImgRefY == first.ImgGuideY &&
            p.f.LastMarks.source == qv::StarSource::Reference);
    QCOMPARE(p.s.CurPic, int16_t{1});
    const QPointF marked(first.ImgGuideX * p.s.pic.PicR.UBound1(), first.ImgGuideY * p.s.pic.PicR.UBound2());
    QVERIFY(std::hypot(marked.x() - nightGuide_.x(), marked.y() - nightGuide_.y()) < 3);
    p.Action("mnu_4")->trigger();

    // The report: a row per image, the clouded frame left out, and a click
    // on a row selects its image.
    QTableWidget* table = p.w.reportWindow()->Table();
    QCOMPARE(table->rowCount(), 6);
    QCOMPARE(table->item(4, 3)->text(), QStringLiteral("non"));
    // The report is sized to what it holds.
    QVERIFY(table->horizontalHeader()->sectionSize(4) >=
            table->fontMetrics().horizontalAdvance(table->item(4, 4)->text()));
    table->cellClicked(2, 0);
    QCOMPARE(p.s.CurPic, int16_t{3});
    // The keys that move through the rows show their images too; Escape
    // puts the report away, as its menu item does.
    table->setCurrentCell(2, 0);
    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(p.s.CurPic, int16_t{4});
    QTest::keyClick(table, Qt::Key_PageUp);
    QCOMPARE(p.s.CurPic, int16_t{1});
    QTest::keyClick(table, Qt::Key_Escape);
    QVERIFY(!p.w.reportWindow()->isVisible() && !p.Action("mnuReport")->isChecked());
    p.Action("mnuReport")->trigger();
    p.Action("mnuReport")->trigger();
    QVERIFY(!p.w.reportWindow()->isVisible());
  }

  // The windows within the screen's free area (ctest runs this on a 1366 x
  // 768 screen too; the scripted session checks every window and the
  // dialog's buttons there): the main window; the Options dialog, the lowest
  // control of each column reached by scrolling; the debug window beside the
  // main window; the zone dialog beside it, or at the screen's right edge
  // when the window leaves no room.
  void windowsFitTheScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect g = screen->geometry(), area = screen->availableGeometry();
    Program p;
    p.w.hide();
    p.w.ShowWithinScreen();
    QVERIFY(area.contains(p.w.frameGeometry()));
    {
      qv::Form5 model(p.s, p.store);
      model.Form_Load();
      qvapp::OptionsDialog dialog(model, p.dialogs, &p.w);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog) && area.contains(dialog.frameGeometry()));
      auto* scroll = dialog.findChild<QScrollArea*>("Form5Scroll");
      QVERIFY(scroll);
      for (const char* name : {"Text14", "Text17", "Check16_3"}) {
        auto* last = dialog.findChild<QWidget*>(name);
        QVERIFY(last);
        scroll->ensureWidgetVisible(last);
        const QPoint inView = last->mapTo(scroll->viewport(), QPoint(0, 0));
        QVERIFY2(scroll->viewport()->rect().contains(QRect(inView, last->size())), name);
      }
    }

    // The desktop the model asks is the screen the windows are on. The debug
    // window: 90% of a screen without a task bar.
    p.desktop.screen = {g.left(), g.top(), g.width(), g.height()};
    p.desktop.available = {area.left(), area.top(), area.width(), area.height()};
    p.Action("mnuDebug")->trigger();
    qvapp::DebugWindow* debug = p.w.debugWindow();
    QVERIFY(debug && debug->isVisible() && area.contains(debug->frameGeometry()) && area.contains(p.w.frameGeometry()));
    QCOMPARE(debug->frameGeometry().height(), std::min(area.height(), qRound(g.height() * 0.9)));
    QCOMPARE(debug->frameGeometry().left(), g.left() + 3 * (g.width() / 4));
    debug->close();

    LoadFrames(p);
    p.w.resize(p.w.minimumSizeHint());
    p.w.move(area.topLeft());
    QApplication::processEvents();
    QVERIFY(p.w.findChild<QWidget*>("Frame2Area")->width() >= 240);  // the picture stays in sight
    p.Control<QRadioButton>("Option2_4")->click();
    qvapp::ZoneDialog* zone = p.w.zoneDialog();
    QVERIFY(zone && zone->isVisible() && area.contains(zone->frameGeometry()));
    if (area.right() - p.w.frameGeometry().right() >= zone->frameGeometry().width()) {
      QVERIFY(!zone->frameGeometry().intersects(p.w.frameGeometry()));
      QCOMPARE(zone->frameGeometry().topLeft(), QPoint(p.w.frameGeometry().right() + 1, p.w.frameGeometry().top()));
    }
    p.Control<QRadioButton>("Option2_1")->click();
    p.w.resize(area.size() - (p.w.frameGeometry().size() - p.w.size()));
    p.w.move(area.topLeft());
    p.Control<QRadioButton>("Option2_4")->click();
    QVERIFY(area.contains(zone->frameGeometry()) && zone->frameGeometry().right() == area.right());
  }

  // The program's own file and folder dialogs are wide enough for their
  // columns, the names taking what the others leave; a cancelled one
  // chooses nothing.
  void fileDialogsLeaveRoomForTheirColumns() {
    QWidget* owner = nullptr;
    qvapp::QtDialogs dialogs(owner);
    qv::FileDialogRequest r;
    r.startFolder = qvapp::S(dir_.path());
    for (int kind = 0; kind < 2; ++kind) {
      bool wide = false;
      qvsession::WhenShown<QFileDialog>("le dialogue de fichiers", [&](QFileDialog* d) {
        auto* list = d->findChild<QTreeView*>(QStringLiteral("treeView"));
        wide = d->width() >= 860 && list && list->header()->sectionResizeMode(0) == QHeaderView::Stretch &&
               list->header()->sectionResizeMode(2) == QHeaderView::ResizeToContents;
        d->reject();
      });
      const std::string chosen = kind == 0 ? dialogs.OpenFile(r) : dialogs.BrowseFolder(r.startFolder, "Dossier");
      QVERIFY2(wide && chosen.empty(), kind == 0 ? "ouvrir" : "dossier");
    }
  }

  // SIGTERM and SIGHUP end the program without a question, from the event
  // loop: its temporary files go as at a confirmed quit, with the staging
  // folder of a master being built and the run's lock, and the keys of the
  // quit are not written.
  void aSignalEndsWithoutAskingAndLeavesNoFile() {
    for (const int sig : {SIGTERM, SIGHUP}) {
      Program p;
      p.Control<QCheckBox>("Check6")->click();  // a quit would save Expand
      const std::string base = qvapp::S(dir_.filePath("signal_"));
      p.s.stack.TempBase = base;
      for (int k = 1; k <= 3; ++k) std::ofstream(base + std::to_string(k) + ".bin") << "x";
      const std::string staging = qv::MasterStagingFolder();
      QVERIFY(QDir().mkpath(QString::fromStdString(staging)));
      std::ofstream(staging + "/0.raw") << "x";
      const QString lock = QString::fromStdString(qv::TempFolder() + "Quelvista_" + std::to_string(getpid()) + ".lock");
      QVERIFY(QFileInfo::exists(lock));

      int ended = 0;
      qvapp::TerminationWatch watch([&](int received) {
        qv::EndWithoutAsking(p.f);
        ended = received;
      });
      QVERIFY(watch.Watching());
      QCOMPARE(raise(sig), 0);
      QTRY_COMPARE(ended, sig);
      for (int k = 1; k <= 3; ++k)
        QVERIFY(!QFileInfo::exists(QString::fromStdString(base + std::to_string(k) + ".bin")));
      QVERIFY(!QFileInfo::exists(QString::fromStdString(staging)) && !QFileInfo::exists(lock) &&
              p.desktop.questions.empty() && p.store.writes.empty());
    }
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
