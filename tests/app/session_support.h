// What the scripted sessions on a real display share: the checks they
// print, waiting while the program works, screenshots, and a desktop that
// answers "Confimer quitter" with Yes.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/qt_platform.h"
#include "core/session.h"
#include "platform/desktop.h"
#include "platform/settings_store.h"
#include "workspace/form1.h"

namespace qvsession {

inline int failures = 0;

inline void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "ÉCHEC", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

// Lets the program work until `done` holds or `seconds` pass.
inline bool WaitFor(const std::function<bool()>& done, double seconds) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

// Lets the program work until `w` is on the screen.
inline bool Exposed(QWidget& w, double seconds = 5) {
  return WaitFor([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, seconds);
}

// Runs `answer` on the next modal window of type T once it shows, while
// the command that opened it waits in its own event loop.
template <class T>
void WhenShown(const char* what, std::function<void(T*)> answer) {
  auto* timer = new QTimer;
  auto waited = std::make_shared<QElapsedTimer>();
  waited->start();
  QObject::connect(timer, &QTimer::timeout, [timer, waited, what, answer] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      answer(w);
    } else if (waited->elapsed() > 60000) {
      timer->stop();
      timer->deleteLater();
      Check(false, std::string(what) + " s'ouvre");
    }
  });
  timer->start(50);
}

// The guide star of a simulated night's first frame, as its truth file
// gives it.
inline QPointF FirstGuideStar(const QString& night) {
  QFile truth(night + "/truth.json");
  if (!truth.open(QIODevice::ReadOnly)) return {};
  const QJsonObject first = QJsonDocument::fromJson(truth.readAll())["frames"][0].toObject();
  return {first["guideX"].toDouble(), first["guideY"].toDouble()};
}

// A window's frame lies in the free area of its screen, once the window
// manager has framed it.
inline void CheckWithinScreen(QWidget& w, const std::string& what) {
  Exposed(w);
  QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  // On a busy machine the window manager may still be placing and fitting
  // the frame: a window that does not fit still fails after the wait.
  WaitFor([&] { return qvapp::AvailableArea(&w).contains(w.frameGeometry()); }, 3);
  const QRect area = qvapp::AvailableArea(&w);
  const QRect frame = w.frameGeometry();
  const bool inside = area.contains(frame);
  if (!inside)
    std::printf("  %s : cadre (%d,%d %dx%d), zone libre (%d,%d %dx%d)\n", what.c_str(), frame.x(), frame.y(),
                frame.width(), frame.height(), area.x(), area.y(), area.width(), area.height());
  Check(inside, what + " tient dans l'écran");
}

// The window as a picture in `folder`, and the whole screen beside it in
// `folder`/../screens, where a person checks how the windows are placed.
inline void Shot(QWidget& w, const QString& folder, const char* name) {
  QCoreApplication::processEvents();
  const QString path = folder + "/" + name + ".png";
  Check(w.grab().save(path), "capture " + path.toStdString());
  // The display shows a window just opened a moment after Qt has drawn it:
  // without this wait a fresh message box comes out blank.
  WaitFor([] { return false; }, 0.15);
  const QString screens = folder + "/../screens";
  QDir().mkpath(screens);
  QGuiApplication::primaryScreen()->grabWindow(0).save(screens + "/" + name + ".png");
}

// The screen's desktop, with "Confimer quitter" answered Yes.
struct ScriptedDesktop : qvapp::QtDesktop {
  ScriptedDesktop() : qvapp::QtDesktop(owner) {}
  std::vector<std::string> questions;
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    return true;
  }
  bool OpenFolder(const std::string&) override { return true; }
  QWidget* owner = nullptr;
};

// The program as it starts: a session on the Qt event loop, a keys' store
// made from `settings`, and the main window shown within the screen.
struct Program {
  qvapp::QtEventLoop events;
  qv::FreeImageLoader loader;
  qv::SystemClock clock;
  qv::Session s{qv::Platform{&loader, &events, &clock}};
  qv::QtSettingsStore store;
  ScriptedDesktop desktop;
  QWidget* owner = nullptr;
  qvapp::QtDialogs dialogs{owner};
  qv::Form1 form1{s};
  qvapp::MainWindow w{form1, store, desktop, dialogs};
  explicit Program(const char* settings) : store(std::string(settings)) {
    owner = &w;
    w.FollowEvents(events);
    w.ShowWithinScreen();
    Check(Exposed(w, 10), "la fenêtre est affichée");
  }
};

}  // namespace qvsession
