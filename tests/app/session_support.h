// What the scripted sessions on a real display share: the checks they
// print, waiting while the program works, screenshots, and a desktop that
// answers "Confimer quitter" with Yes.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/qt_platform.h"

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

// A window's frame lies in the free area of its screen, once the window
// manager has framed it.
inline void CheckWithinScreen(QWidget& w, const std::string& what) {
  WaitFor([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 5);
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
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    // The display shows a window just opened a moment after Qt has drawn
    // it: without this wait a fresh message box comes out blank.
    QElapsedTimer shown;
    shown.start();
    while (shown.elapsed() < 150) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QString screens = folder + "/../screens";
    QDir().mkpath(screens);
    screen->grabWindow(0).save(screens + "/" + name + ".png");
  }
}

// The screen's desktop, with "Confimer quitter" answered Yes.
class ScriptedDesktop : public qvapp::QtDesktop {
 public:
  ScriptedDesktop() : qvapp::QtDesktop(owner_) {}
  std::vector<std::string> questions;
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    return true;
  }
  void OpenFolder(const std::string&) override {}

 private:
  QWidget* owner_ = nullptr;
};

}  // namespace qvsession
