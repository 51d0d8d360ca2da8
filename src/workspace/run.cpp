#include "workspace/run.h"

#include <algorithm>

#include "core/paths.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "stack/run_control.h"
#include "workspace/image_list.h"

namespace qv {

RunRequest RequestFromWindow(const Form1& f) {
  RunRequest r;
  if (f.Text7Visible) {
    r.first = RangeBoundFromText(f.s, f.Text7);
    r.last = RangeBoundFromText(f.s, f.Text8);
  }
  r.expand = f.Check6 == 1;
  return r;
}

void RunRange(const Form1& f, int& first, int& last) { RunRange(f.s, RequestFromWindow(f), first, last); }

bool TempSpaceAgreed(const Form1& f, Desktop& desktop) {
  const TempSpace space = TempSpaceForRun(f.s, RequestFromWindow(f));
  if (space.Enough()) return true;
  return desktop.AskYesNoDefaultNo(
      "Espace libre insuffisant dans " + space.folder + " : " + std::to_string(space.FreeMo()) + " Mo libres, " +
      std::to_string(space.NeededMo()) +
      " Mo nécessaires : les images qui n'y tiendront pas manqueront au résultat. Libérez de la place, ou "
      "relancez le programme avec TMPDIR vers un dossier plus grand. Continuer quand même ?");
}

namespace {

// What the main window shows of a run: each image selected as a click
// would select it, the progress label, and the destination and editor
// windows at the end. Without a request given, the run takes the window's:
// the subset boxes once it has started, "Etendre la mosaïque" when it ends,
// since the user may change them meanwhile.
class WindowRun : public RunListener {
 public:
  WindowRun(Form1& f, const RunRequest* given) : f_(f), given_(given) {}
  Outcome Select(Session&, int i) override { return SelectPic(f_, i, false, false); }
  RunRequest Range(const RunRequest& asked) override { return given_ ? asked : RequestFromWindow(f_); }
  bool Expand(bool asked) override { return given_ ? asked : f_.Check6 == 1; }
  void FrameDone(const FrameResult& frame, int accepted) override {
    f_.Label6 = std::to_string(accepted) + "/" + std::to_string(f_.s.ImageCount()) + " Ok";
    f_.s.window->RunImage(frame.image, frame.accepted, frame.processed, frame.parked);
  }
  void Combining() override { f_.s.window->Combining(); }
  void ResultReady(const std::string& caption) override { f_.s.window->OpenDestination(caption); }

 private:
  Form1& f_;
  const RunRequest* given_;
};

RunResult Run(Form1& f, const RunRequest* given) {
  if (f.s.RunState != kIdle) return {};
  if (f.mnuDebug) {
    f.DebugLog.clear();
    f.DebugLog.push_back("Exécution");
  }
  WindowRun shown(f, given);
  return StackRun(f.s, given ? *given : RunRequest{}, shown);
}

}  // namespace

RunResult RunStack(Form1& f) { return Run(f, nullptr); }

RunResult RunStack(Form1& f, const RunRequest& r) { return Run(f, &r); }

Outcome FitFinal(Form1& f) { return FitFinal(f, f.Check6 == 1); }

Outcome FitFinal(Form1& f, bool expand, std::vector<int>* combined) {
  Session& s = f.s;
  std::string destination;
  const Outcome r = FinalCombination(s, expand, destination, combined);
  if (!destination.empty()) s.window->OpenDestination(destination);
  return r;
}

}  // namespace qv
