// "Marques automatiques" in the window against the tool's marking phase on
// the same project: the window must not pay a selection and its closing
// wait for every frame.
//
// usage: QT_QPA_PLATFORM=offscreen quelvista_bench_marks PROJECT.txt [ROUNDS]
// Prints the median wall time of each over the rounds and their ratio.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/main_window.h"
#include "app/qt_platform.h"
#include "platform/desktop.h"
#include "platform/settings_store.h"
#include "stack/auto_marks.h"
#include "stack/run_control.h"
#include "workspace/project.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The tool's way: a headless session, the project loaded, then the marks
// alone, in the running state as `stack --mark auto` makes them.
double ToolMarks(const std::string& project) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  qv::Form1 f(s);
  qv::LoadProject(f, project);
  QElapsedTimer t;
  t.start();
  s.RunState = 1;
  const qv::AutoMarkReport report = qv::AutoMarks(s, {});
  s.RunState = 0;
  const double seconds = t.nsecsElapsed() / 1e9;
  std::printf("  outil : %.2f s, %zu images vues\n", seconds, report.images.size());
  return seconds;
}

// The window's way: the menu command, its closing message answered at once.
double WindowMarks(const std::string& project) {
  qvapp::QtEventLoop events;
  qv::FreeImageLoader loader;
  qv::SystemClock clock;
  qv::Session s(qv::Platform{&loader, &events, &clock});
  qv::Form1 f(s);
  qv::MemorySettingsStore store;
  qv::HeadlessDesktop desktop;
  QWidget* owner = nullptr;
  qvapp::QtDialogs dialogs(owner);
  qvapp::MainWindow w(f, store, desktop, dialogs);
  w.FollowEvents(events);
  w.show();
  w.OpenPaths({QString::fromStdString(project)});
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
  });
  answer.start(20);
  QElapsedTimer t;
  t.start();
  w.findChild<QAction*>("mnuAutoMarks")->trigger();
  const double seconds = t.nsecsElapsed() / 1e9;
  std::printf("  fenêtre : %.2f s (message et image 1 affichée compris)\n", seconds);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PROJET.txt [TOURS]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const std::string project = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::vector<double> tool, window;
  for (int r = 0; r < rounds; ++r) {
    std::printf("tour %d\n", r + 1);
    tool.push_back(ToolMarks(project));
    window.push_back(WindowMarks(project));
  }
  const double a = Median(tool), b = Median(window);
  std::printf("médianes : outil %.2f s, fenêtre %.2f s, rapport %.2f\n", a, b, a > 0 ? b / a : 0);
  return 0;
}
