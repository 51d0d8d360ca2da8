#include "workspace/run.h"

#include "core/paths.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "stack/run_control.h"
#include "workspace/image_list.h"

namespace qv {

namespace {

// The number typed in a subset box, 0 when there is none.
int BoxNumber(const Session& s, const std::string& text) {
  try {
    return CInt(LocaleToDouble(text, s.locale));
  } catch (const RuntimeError&) {
    return 0;
  }
}

}  // namespace

void RunRange(const Form1& f, int& first, int& last) {
  const Session& s = f.s;
  const int n = s.ImageCount();
  first = 0;
  last = 0;
  if (f.Text7Visible) {
    first = BoxNumber(s, f.Text7);
    last = BoxNumber(s, f.Text8);
  }
  if (first == 0) first = 1;
  if (last == 0) last = n;
  first = std::min(n, std::max(1, first));
  last = std::min(n, std::max(first, last));
}

void RunStack(Form1& f) {
  Session& s = f.s;
  if (s.RunState != 0) return;
  if (f.mnuDebug) {
    f.DebugLog.clear();
    f.DebugLog.push_back("Exécution");
  }
  s.DoEvents();
  StartProcess(s);
  s.stack.StackCount = 0;
  int first, last;
  RunRange(f, first, last);
  const int n = s.ImageCount();
  int count = 0;
  for (int i = first; i <= last && i >= 1; ++i) {
    if (s.Img[static_cast<size_t>(i)].ImgChecked != 1) continue;
    s.DoEvents();
    if (s.RunState != 1) break;
    SelectPic(f, i, false, false);
    s.DoEvents();
    if (s.RunState != 1) break;
    const ImageEntry& e = s.Img[static_cast<size_t>(i)];
    const bool accepted = s.guide.GuideBox > 64 || !(s.guide.Quality < s.opt.MinQual);
    if (accepted) {
      // A shift stays in force for the rest of the run.
      if (e.ImgShiftX != 0 || e.ImgShiftY != 0) {
        Ignoring([&] { s.guide.AnchorX += CInt(s.pic.PicR.UBound1() * e.ImgShiftX); });
        Ignoring([&] { s.guide.AnchorY += CInt(s.pic.PicR.UBound2() * e.ImgShiftY); });
      }
      AccumulateImage(s);
      ++count;
    }
    f.Label6 = std::to_string(count) + "/" + std::to_string(n) + " Ok";
    s.view->RunImage(i, accepted);
  }
  if (s.RunState == 1) FitFinal(f);
  StopProcess(s);
}

void FitFinal(Form1& f) {
  Session& s = f.s;
  std::string destination;
  const Outcome r = FinalCombination(s, f.Check6 == 1, destination);
  if (!destination.empty()) s.view->OpenDestination(destination);
  if (!r.why.empty()) s.view->MsgBox(r.why);
  if (r.err != 0) s.stack.StackError = "erreur " + std::to_string(r.err) + " : " + r.why;
}

}  // namespace qv
