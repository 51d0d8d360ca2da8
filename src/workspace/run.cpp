#include "workspace/run.h"

#include <algorithm>

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

int RunResult::Accepted() const {
  return static_cast<int>(std::count_if(frames.begin(), frames.end(), [](const FrameResult& r) { return r.accepted; }));
}

int RunResult::Combined() const {
  return static_cast<int>(std::count_if(frames.begin(), frames.end(), [](const FrameResult& r) { return r.combined; }));
}

namespace {

// The run. The window's controls (`given` null) are read where the run
// reads them: the subset boxes once it has started, "Etendre la mosaïque"
// when it ends, since the user may change them meanwhile.
RunResult Run(Form1& f, const RunRequest* given) {
  Session& s = f.s;
  RunResult result;
  if (s.RunState != 0) return result;
  if (f.mnuDebug) {
    f.DebugLog.clear();
    f.DebugLog.push_back("Exécution");
  }
  s.DoEvents();
  StartProcess(s);
  s.stack.StackCount = 0;
  int first, last;
  RunRange(s, given ? *given : RequestFromWindow(f), first, last);
  result.first = first;
  result.last = last;
  const int n = s.ImageCount();
  int count = 0;
  // The progress of a run: images done out of the checked images to do.
  int todo = 0, done = 0;
  for (int i = first; i <= last && i >= 1; ++i) todo += s.Img[static_cast<size_t>(i)].ImgChecked == 1;
  for (int i = first; i <= last && i >= 1; ++i) {
    if (s.Img[static_cast<size_t>(i)].ImgChecked != 1) continue;
    if (!s.Running()) break;
    FrameResult frame;
    frame.image = i;
    frame.processed = SelectPic(f, i, false, false);
    if (!s.Running()) break;
    const ImageEntry& e = s.Img[static_cast<size_t>(i)];
    frame.quality = s.guide.Quality;
    frame.onEdge = s.guide.GuideOnEdge;
    frame.accepted = s.guide.GuideBox > 64 || !(s.guide.Quality < s.opt.MinQual);
    if (frame.accepted) {
      // A shift stays in force for the rest of the run.
      if (e.ImgShiftX != 0 || e.ImgShiftY != 0) {
        Ignoring([&] { s.guide.AnchorX += CInt(s.pic.PicR.UBound1() * e.ImgShiftX); });
        Ignoring([&] { s.guide.AnchorY += CInt(s.pic.PicR.UBound2() * e.ImgShiftY); });
      }
      const int before = s.stack.StackCount;
      frame.parked = AccumulateImage(s);
      if (s.stack.StackCount != before) frame.tempFile = s.stack.StackCount;
      ++count;
    }
    frame.guideX = s.guide.GuideX;
    frame.guideY = s.guide.GuideY;
    frame.angle = s.stack.StackAngle;
    f.Label6 = std::to_string(count) + "/" + std::to_string(n) + " Ok";
    s.view->RunImage(i, frame.accepted, frame.processed, frame.parked);
    result.frames.push_back(std::move(frame));
    s.Report("", static_cast<double>(++done) / todo);
  }
  result.stopped = s.RunState != 1;
  if (!result.stopped) {
    std::vector<int> combined;
    result.outcome = given ? FitFinal(f, given->expand, &combined) : FitFinal(f, f.Check6 == 1, &combined);
    // The files that reached the result, against the images they came from.
    if (result.outcome)
      for (FrameResult& frame : result.frames)
        frame.combined =
            frame.tempFile > 0 && std::find(combined.begin(), combined.end(), frame.tempFile) != combined.end();
  }
  StopProcess(s);
  return result;
}

}  // namespace

RunResult RunStack(Form1& f) { return Run(f, nullptr); }

RunResult RunStack(Form1& f, const RunRequest& r) { return Run(f, &r); }

Outcome FitFinal(Form1& f) { return FitFinal(f, f.Check6 == 1); }

Outcome FitFinal(Form1& f, bool expand, std::vector<int>* combined) {
  Session& s = f.s;
  std::string destination;
  const Outcome r = FinalCombination(s, expand, destination, combined);
  if (!destination.empty()) s.view->OpenDestination(destination);
  return r;
}

}  // namespace qv
