// A stacking run in the main window against the same run as the tool makes
// it, in CPU seconds (user + system, every thread): the window shows every
// frame and waits half a second after each, and neither may cost much more
// than the engine's own work.
//
// usage: QT_QPA_PLATFORM=offscreen quelvista_bench_window_run [--frames N] [--size WxH]
//          [--rounds R] [--one-core] [--only outil|fenetre] [--paints] [--tool-wait]
//          [--one-process]
// Simulates N seeded mono frames (20 of 2048 x 1536 by default, dither 20,
// the guide star given by the project) in a temporary folder, runs the
// project in both ways, each run in a program of its own as a user starts
// them (the tool from the command line, the window opened on the project),
// the two ways alternating, and prints
// the CPU of each run, of its walk over the frames and per frame, of the
// combination and what shows it, and the ratios: medians over the rounds
// (3 by default). Where other work shares
// the machine, the waits between the two cores' halves of a split spin
// while the other half waits for a core, and the figures vary from round to
// round: --one-core runs every loop on one core, which shows the cost of
// the work itself. --only runs one way, and --one-process both ways, in
// this program (to profile them: a run's allocations then find memory
// that an earlier run left behind). --paints counts the paint events each widget class gets
// during the window's runs, per frame. --tool-wait makes the tool's run
// sleep half a second after each frame, as the window waits: what the
// tool's figure becomes then is what the waits alone cost (cold caches on
// waking), apart from anything the window draws. Without --tool-wait,
// each round also runs the tool with the waits, and the window's figures
// are given against both. On a virtual machine whose memory balloon takes
// back memory left free for a second or two, the waits alone make the
// memory touched afterwards (the combination's sums) cost several times more.
#include <sys/resource.h>
#include <time.h>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/qt_platform.h"
#include "core/parallel.h"
#include "platform/desktop.h"
#include "platform/settings_store.h"
#include "sim/simulate.h"
#include "stack/accumulate.h"
#include "stack/stacking.h"
#include "workspace/option_table.h"
#include "workspace/project_file.h"

namespace {

// Under `perf record --control fifo:CTL -D -1`, QUELVISTA_PERF_CTL=CTL
// limits the profile to the runs themselves, and with QUELVISTA_PERF_WALK
// set to their walks over the frames (up to the combination), with
// QUELVISTA_PERF_END to what follows (the combination and what shows it).
void Profile(const char* command) {
  static FILE* control = [] {
    const char* path = std::getenv("QUELVISTA_PERF_CTL");
    return path ? std::fopen(path, "w") : nullptr;
  }();
  if (!control) return;
  std::fputs(command, control);
  std::fflush(control);
}

// Paint events per widget class and name, counted while a window run
// lasts, with the CPU each took on the interface thread (a widget's paint
// is delivered apart from its children's), and the passes that paint them
// (update requests: every paint of a pass, and the flush to the screen).
struct PaintCount {
  int n = 0;
  double cpu = 0;
};
class PaintCounter {
 public:
  bool counting = false;
  std::map<std::string, PaintCount> counts;
  static double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
  static std::string Name(QObject* o, QEvent* e) {
    if (e->type() == QEvent::UpdateRequest) return "(passe de peinture)";
    return std::string(o->metaObject()->className()) + " " + o->objectName().toStdString() +
           (o->objectName().isEmpty() && o->parent() ? " dans " + o->parent()->objectName().toStdString() : "");
  }
};
PaintCounter* paints = nullptr;

// The application, timing the paints when asked.
class BenchApp : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* o, QEvent* e) override {
    const bool timed = paints && paints->counting && o->isWidgetType() &&
                       (e->type() == QEvent::Paint || e->type() == QEvent::UpdateRequest);
    if (!timed) return QApplication::notify(o, e);
    const std::string name = PaintCounter::Name(o, e);
    const double t0 = PaintCounter::ThreadCpu();
    const bool done = QApplication::notify(o, e);
    PaintCount& c = paints->counts[name];
    ++c.n;
    c.cpu += PaintCounter::ThreadCpu() - t0;
    return done;
  }
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The CPU of a run: at its start, at each frame's report, when the final
// combination starts, at its end.
struct RunCpu {
  double start = 0, end = 0, combination = -1;
  std::vector<double> frames;  // CPU time of the run when frame k was reported done
  // A report of the run: a frame done, or the first of the combination's
  // (its captions start with the result's size), which ends the walk.
  void Reported(const std::string& caption) {
    if (combination >= 0) return;
    if (caption.rfind("W=", 0) == 0) {
      combination = CpuSeconds();
      if (std::getenv("QUELVISTA_PERF_WALK")) Profile("disable\n");  // the profile of the walk alone
      if (std::getenv("QUELVISTA_PERF_END")) Profile("enable\n");    // or of the end alone
    } else
      frames.push_back(CpuSeconds());
  }
  double Total() const { return end - start; }
  // The walk over the frames, without the final combination and what shows it.
  double Walk() const { return frames.empty() ? 0 : frames.back() - start; }
  // The final combination and what shows it.
  double Combination() const { return combination < 0 ? 0 : end - combination; }
  double PerFrame() const { return frames.empty() ? 0 : Walk() / static_cast<double>(frames.size()); }
  double FrameAt(size_t k) const { return frames[k] - (k == 0 ? start : frames[k - 1]); }
};

// The tool's event loop: nothing to run, the reports noted.
class ToolProgress : public qv::HeadlessProgress {
 public:
  RunCpu* cpu = nullptr;
  void Report(const std::string& text, double fraction) override {
    HeadlessProgress::Report(text, fraction);
    if (cpu && fraction >= 0) cpu->Reported(text);
  }
};

// The tool's list: entries reached by the thumbnails are selected as the
// engine selects them, with nothing shown.
bool toolWaits = false;

struct ToolList : qv::ListListener {
  int strip = 0;
  void Reached(int i) override { strip = std::max(strip, i); }
  qv::Outcome Select(qv::Session& s, int i) override {
    return i >= 1 && i <= strip ? qv::ProcessAndTrack(s, i, true, *this) : qv::Outcome::Success();
  }
};

// The tool's run of a project: a headless session with the stored
// settings, the project applied and its list filled, then the engine's run.
RunCpu ToolRun(const std::string& project) {
  qv::FreeImageLoader loader;
  ToolProgress events;
  qv::SystemClock clock;
  qv::Session s(qv::Platform{&loader, &events, &clock});
  qv::MemorySettingsStore store;
  int16_t expand = 0;
  qv::OptionPlace place{s.opt, &expand, nullptr};
  qv::StartUpSettings(s, store, place, qv::ProgramFolder());
  ToolList list;
  qv::EngineControls controls(s);
  s.ResizeImageArrays(0);
  s.CurPic = 1;
  if (qv::ApplyProject(s, qv::ReadProjectFile(project, s.opt.UseMask), controls).outcome !=
      qv::ProjectLoad::Completed) {
    std::fprintf(stderr, "projet illisible : %s\n", project.c_str());
    std::exit(1);
  }
  qv::FillList(s, 1, false, list);
  qv::RunRequest request;
  request.expand = controls.expand == 1;
  struct Shown : qv::RunListener {
    qv::Outcome Select(qv::Session& session, int i) override {
      qv::Outcome o = qv::ProcessAndTrack(session, i, true, *this);
      if (toolWaits) std::this_thread::sleep_for(std::chrono::milliseconds(500));
      return o;
    }
    // As the tool: each file is written while the next frame is read.
    bool TakesFramesLate() const override { return true; }
  } shown;
  RunCpu cpu;
  events.cpu = &cpu;
  if (!std::getenv("QUELVISTA_PERF_END")) Profile("enable\n");
  cpu.start = CpuSeconds();
  const qv::RunResult run = qv::StackRun(s, request, shown);
  cpu.end = CpuSeconds();
  Profile("disable\n");
  if (!run.outcome) std::fprintf(stderr, "outil : combinaison en échec (%s)\n", run.outcome.Text().c_str());
  qv::DeleteTempFiles(s);
  return cpu;
}

// The window's run: the main window on the Qt event loop, the project
// opened as a dropped file, then "E&xécuter".
RunCpu WindowRun(const std::string& project) {
  qvapp::QtEventLoop events;
  qv::FreeImageLoader loader;
  qv::SystemClock clock;
  qv::Session s(qv::Platform{&loader, &events, &clock});
  qv::Form1 f(s);
  qv::MemorySettingsStore store;
  qv::HeadlessDesktop desktop;
  QWidget* owner = nullptr;
  qvapp::QtDialogs dialogs(owner);
  RunCpu cpu;
  {
    qvapp::MainWindow w(f, store, desktop, dialogs);
    w.FollowEvents(events);
    events.onReport = [&](const std::string& caption, double done) {
      w.ShowProgress(done);
      if (done >= 0 && s.RunState != 0) cpu.Reported(caption);
    };
    w.resize(1200, 800);
    w.show();
    w.Load("");
    w.OpenPaths({QString::fromStdString(project)});
    QApplication::processEvents();
    QAction* run = w.findChild<QAction*>("mnu_4");
    cpu.frames.clear();
    if (!std::getenv("QUELVISTA_PERF_END")) Profile("enable\n");
    cpu.start = CpuSeconds();
    if (paints) paints->counting = true;
    run->trigger();
    if (paints) paints->counting = false;
    cpu.end = CpuSeconds();
    Profile("disable\n");
    if (!f.LastRun.outcome)
      std::fprintf(stderr, "fenêtre : combinaison en échec (%s)\n", f.LastRun.outcome.Text().c_str());
    qv::DeleteTempFiles(s);
  }
  return cpu;
}

void Print(const char* name, const RunCpu& cpu) {
  std::printf("  %-8s : %.2f s CPU en tout, %.2f s sur les images, %.3f s par image, %.2f s pour la combinaison (",
              name, cpu.Total(), cpu.Walk(), cpu.PerFrame(), cpu.Combination());
  for (size_t k = 0; k < cpu.frames.size(); ++k) std::printf("%s%.3f", k ? " " : "", cpu.FrameAt(k));
  std::printf(")\n");
}

// A run in a program of its own: this program again, told to make one run
// of the project and print its figures on one line.
RunCpu ChildRun(const char* way, const std::string& project, const QStringList& passed) {
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(),
              QStringList{"--child", way, "--project", QString::fromStdString(project)} + passed);
  RunCpu cpu;
  if (!child.waitForFinished(-1) || child.exitCode() != 0) {
    std::fprintf(stderr, "%s : la mesure a échoué\n", way);
    std::exit(1);
  }
  const QStringList figures = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(' ');
  cpu.end = figures.value(0).toDouble();
  cpu.combination = figures.value(1).toDouble();
  for (int k = 2; k < figures.size(); ++k) cpu.frames.push_back(figures[k].toDouble());
  return cpu;
}

// The figures of a run on one line: its CPU, the CPU reached when the
// combination started (-1 without one), then at each frame's report.
void PrintForParent(const RunCpu& cpu) {
  std::printf("%.6f %.6f", cpu.Total(), cpu.combination < 0 ? -1 : cpu.combination - cpu.start);
  for (double f : cpu.frames) std::printf(" %.6f", f - cpu.start);
  std::printf("\n");
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  BenchApp app(argc, argv);
  qvsim::SimOptions o;
  o.frames = 20;
  o.width = 2048;
  o.height = 1536;
  int rounds = 3;
  std::string only, child, project;
  bool oneCore = false, oneProcess = false;
  QStringList passed;  // what the runs in programs of their own are given too
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    const char* next = k + 1 < argc ? argv[k + 1] : "";
    if (a == "--frames") {
      o.frames = std::max(2, std::atoi(next));
      ++k;
    } else if (a == "--size" && std::sscanf(next, "%dx%d", &o.width, &o.height) == 2) {
      ++k;
    } else if (a == "--rounds") {
      rounds = std::max(1, std::atoi(next));
      ++k;
    } else if (std::string* text = a == "--only"      ? &only
                                   : a == "--child"   ? &child
                                   : a == "--project" ? &project
                                                      : nullptr) {
      *text = next;
      ++k;
    } else if (a == "--one-process") {
      oneProcess = true;
    } else if (a == "--paints") {
      paints = new PaintCounter;
    } else if (a == "--tool-wait") {
      toolWaits = true;
      passed << "--tool-wait";
    } else if (a == "--one-core") {
      oneCore = true;
      qv::UseSecondCore(false);
      passed << "--one-core";
    } else {
      std::fprintf(stderr, "option inconnue : %s\n", a.c_str());
      return 2;
    }
  }
  if (!child.empty()) {
    PrintForParent(child == "outil" ? ToolRun(project) : WindowRun(project));
    return 0;
  }
  o.dither = 20;
  o.seed = 7;
  QTemporaryDir dir;
  o.out = dir.path().toStdString();
  qvsim::SimRecord record;
  std::string why;
  if (!dir.isValid() || qvsim::Simulate(o, record, why) != 0) {
    std::fprintf(stderr, "simulation impossible : %s\n", why.c_str());
    return 1;
  }
  std::printf("%d images mono %d x %d, décalage aléatoire 20, étoile guide du projet%s\n", o.frames, o.width, o.height,
              oneCore ? ", un seul cœur" : "");
  std::vector<double> tool, window, toolWalk, windowWalk, toolEnd, windowEnd, waiting, waitingWalk, waitingEnd;
  for (int r = 0; r < rounds; ++r) {
    std::printf("tour %d\n", r + 1);
    RunCpu t, w;
    const bool fresh = only.empty() && !oneProcess && !paints;
    if (only != "fenetre")
      Print("outil", t = fresh ? ChildRun("outil", record.project, passed) : ToolRun(record.project));
    if (fresh && !toolWaits) {
      // The tool again, waiting as the window waits: the waits' own cost.
      const RunCpu a = ChildRun("outil", record.project, passed + QStringList{"--tool-wait"});
      Print("outil+att", a);
      waiting.push_back(a.Total());
      waitingWalk.push_back(a.PerFrame());
      waitingEnd.push_back(a.Combination());
    }
    if (only != "outil")
      Print("fenêtre", w = fresh ? ChildRun("fenetre", record.project, passed) : WindowRun(record.project));
    tool.push_back(t.Total());
    window.push_back(w.Total());
    toolWalk.push_back(t.PerFrame());
    windowWalk.push_back(w.PerFrame());
    toolEnd.push_back(t.Combination());
    windowEnd.push_back(w.Combination());
  }
  if (paints) {
    std::printf("peintures par image (%d tours) : nombre, ms CPU\n", rounds);
    const double frames = static_cast<double>(rounds * o.frames);
    for (const auto& [name, c] : paints->counts)
      std::printf("  %6.2f  %6.3f  %s\n", c.n / frames, 1e3 * c.cpu / frames, name.c_str());
  }
  const double a = Median(tool), b = Median(window), pa = Median(toolWalk), pb = Median(windowWalk);
  const double ea = Median(toolEnd), eb = Median(windowEnd);
  std::printf(
      "CPU : outil %.2f s, fenêtre %.2f s, rapport %.2f ; par image : outil %.3f s, fenêtre %.3f s, rapport %.2f ; "
      "combinaison et fin : outil %.2f s, fenêtre %.2f s\n",
      a, b, a > 0 ? b / a : 0, pa, pb, pa > 0 ? pb / pa : 0, ea, eb);
  // Each round's own ratio per frame: the tool and the window of a round
  // run one after the other, so that a slower or faster spell of the
  // machine weighs on both; their spread shows how far a batch can be
  // trusted.
  std::vector<double> paired;
  for (size_t r = 0; r < toolWalk.size(); ++r)
    if (toolWalk[r] > 0 && windowWalk[r] > 0) paired.push_back(windowWalk[r] / toolWalk[r]);
  if (!paired.empty()) {
    std::printf("rapport par image, tour par tour :");
    for (double q : paired) std::printf(" %.2f", q);
    std::printf(" ; médiane %.2f\n", Median(paired));
  }
  if (!waiting.empty()) {
    const double c = Median(waiting), pc = Median(waitingWalk), ec = Median(waitingEnd);
    std::printf(
        "CPU, l'outil attendant comme la fenêtre : outil %.2f s, rapport %.2f ; par image : outil %.3f s, rapport "
        "%.2f ; combinaison et fin : outil %.2f s\n",
        c, c > 0 ? b / c : 0, pc, pc > 0 ? pb / pc : 0, ec);
  }
  return 0;
}
