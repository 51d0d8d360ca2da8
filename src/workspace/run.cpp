#include "workspace/run.h"

#include "core/paths.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "stack/run_control.h"
#include "workspace/image_list.h"

namespace qv {

int SubsetBoxNumber(const Session& s, const std::string& text) {
  try {
    return CInt(LocaleToDouble(text, s.locale));
  } catch (const RuntimeError&) {
    return 0;
  }
}

RunRequest RequestFromWindow(const Form1& f) {
  RunRequest r;
  if (f.Text7Visible) {
    r.first = SubsetBoxNumber(f.s, f.Text7);
    r.last = SubsetBoxNumber(f.s, f.Text8);
  }
  r.expand = f.Check6 == 1;
  return r;
}

void RunRange(const Session& s, const RunRequest& r, int& first, int& last) {
  const int n = s.ImageCount();
  first = r.first == 0 ? 1 : r.first;
  last = r.last == 0 ? n : r.last;
  first = std::min(n, std::max(1, first));
  last = std::min(n, std::max(first, last));
}

void RunRange(const Form1& f, int& first, int& last) { RunRange(f.s, RequestFromWindow(f), first, last); }

namespace {

// The run. The window's controls (`given` null) are read where the run
// reads them: the subset boxes once it has started, "Etendre la mosaïque"
// when it ends, since the user may change them meanwhile.
Outcome Run(Form1& f, const RunRequest* given) {
  Session& s = f.s;
  if (s.RunState != 0) return Outcome::Failure("");
  if (f.mnuDebug) {
    f.DebugLog.clear();
    f.DebugLog.push_back("Exécution");
  }
  s.DoEvents();
  StartProcess(s);
  s.stack.StackCount = 0;
  int first, last;
  RunRange(s, given ? *given : RequestFromWindow(f), first, last);
  const int n = s.ImageCount();
  int count = 0;
  // The progress of a run: images done out of the checked images to do.
  int todo = 0, done = 0;
  for (int i = first; i <= last && i >= 1; ++i) todo += s.Img[static_cast<size_t>(i)].ImgChecked == 1;
  for (int i = first; i <= last && i >= 1; ++i) {
    if (s.Img[static_cast<size_t>(i)].ImgChecked != 1) continue;
    if (!s.Running()) break;
    const Outcome processed = SelectPic(f, i, false, false);
    if (!s.Running()) break;
    const ImageEntry& e = s.Img[static_cast<size_t>(i)];
    const bool accepted = s.guide.GuideBox > 64 || !(s.guide.Quality < s.opt.MinQual);
    Outcome stacked;
    if (accepted) {
      // A shift stays in force for the rest of the run.
      if (e.ImgShiftX != 0 || e.ImgShiftY != 0) {
        Ignoring([&] { s.guide.AnchorX += CInt(s.pic.PicR.UBound1() * e.ImgShiftX); });
        Ignoring([&] { s.guide.AnchorY += CInt(s.pic.PicR.UBound2() * e.ImgShiftY); });
      }
      stacked = AccumulateImage(s);
      ++count;
    }
    f.Label6 = std::to_string(count) + "/" + std::to_string(n) + " Ok";
    s.view->RunImage(i, accepted, processed, stacked);
    s.Report("", static_cast<double>(++done) / todo);
  }
  // A stopped run has no result.
  Outcome result = Outcome::Failure("");
  if (s.RunState == 1) result = given ? FitFinal(f, given->expand) : FitFinal(f);
  StopProcess(s);
  return result;
}

}  // namespace

Outcome RunStack(Form1& f) { return Run(f, nullptr); }

Outcome RunStack(Form1& f, const RunRequest& r) { return Run(f, &r); }

Outcome FitFinal(Form1& f) { return FitFinal(f, f.Check6 == 1); }

Outcome FitFinal(Form1& f, bool expand) {
  Session& s = f.s;
  std::string destination;
  const Outcome r = FinalCombination(s, expand, destination);
  if (!destination.empty()) s.view->OpenDestination(destination);
  return r;
}

}  // namespace qv
