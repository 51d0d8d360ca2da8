// quelvista: the desktop program.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_window.h"
#include "app/qt_platform.h"
#include "app/termination.h"
#include "core/run_files.h"
#include "core/session.h"
#include "platform/settings_store.h"
#include "workspace/form1.h"
#include "workspace/form1_events.h"

int main(int argc, char** argv) {
  // Answered before any window system is needed.
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quelvista %s\n", QUELVISTA_VERSION);
    return 0;
  }
  QApplication app(argc, argv);
  // The interface is French throughout, Qt's own dialog texts included.
  qvapp::InstallFrenchTranslations();
  QApplication::setApplicationName("Quelvista");
  QApplication::setOrganizationName("Quelvista");
  QApplication::setApplicationVersion(QUELVISTA_VERSION);

  // What runs killed before their end left in the temporary folder goes
  // now; the files of runs still going are left alone.
  qv::SweepOrphanedRunFiles();

  qvapp::QtEventLoop events;
  qv::FreeImageLoader loader;
  qv::SystemClock clock;
  qv::Session s(qv::Platform{&loader, &events, &clock});
  s.locale = qv::NumLocale::FromEnvironment();
  // Start from nothing, as the tool does: the settings give each value its
  // default, and one that cannot be read stays zero.
  s.opt = qv::Options::Fresh();
  qv::QtSettingsStore store;

  QWidget* owner = nullptr;
  qvapp::QtDesktop desktop(owner);
  qvapp::QtDialogs dialogs(owner);
  qv::Form1 form1(s);
  qvapp::MainWindow window(form1, store, desktop, dialogs);
  owner = &window;
  window.FollowEvents(events);
  // Ended from outside, the program leaves no temporary file behind. It
  // ends at once, from wherever the event loop was running (a run, a
  // dialog), so nothing half-done is carried on.
  const qvapp::TerminationWatch termination([&form1](int sig) {
    qv::EndWithoutAsking(form1);
    std::_Exit(128 + sig);
  });
  window.ShowWithinScreen();

  // One optional argument: a project or one image.
  const QStringList args = QApplication::arguments();
  const std::string argument = args.size() > 1 ? qvapp::S(args.at(1)) : std::string();
  QTimer::singleShot(0, &window, [&window, argument] { window.Load(argument); });
  return app.exec();
}
