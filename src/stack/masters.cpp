#include "stack/masters.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "core/paths.h"
#include "process/process_pic.h"
#include "stack/run_control.h"

namespace qv {

namespace {

// The build was stopped between two rows: the closing code runs as it does
// after a run-time error.
struct BuildEnded {};

void ShowCaption(Session& s, const char* caption) {
  s.progress.Report(caption);
  s.messages->ShowDebugLine(caption);
}

// After each row of a master: how far the build has come, then the stop
// test. The rows do not yield themselves; the yields are inside ProcessPic.
void RowDone(Session& s, int y, int h1) {
  s.progress.Report("", (y + 1.0) / (h1 + 1.0));
  if (!s.progress.StillRunningWithoutYield()) throw BuildEnded{};
}

// Upper bounds of a master: the size in the header of the file just read,
// which sits in slot 0.
int MasterUBound1(const Session& s) { return s.Img.at(0).ImgNaxis1 - 1; }
int MasterUBound2(const Session& s) { return s.Img.at(0).ImgNaxis2 - 1; }

// The last column of row y, at most w1, that the current planes hold. The
// planes are normally exactly the header's size; when they are smaller, the
// row is handled up to their edge and the caller then raises the subscript
// error, so a master ends up filled exactly as far as the planes reached.
int ReadableColumns(const Session& s, int y, int w1) {
  const int ub1 = std::min({s.pic.PicR.UBound1(), s.pic.PicG.UBound1(), s.pic.PicB.UBound1()});
  const int ub2 = std::min({s.pic.PicR.UBound2(), s.pic.PicG.UBound2(), s.pic.PicB.UBound2()});
  if (y > ub2 || ub1 < 0) Raise(kErrSubscript);
  return std::min(w1, ub1);
}

void BuildFlat(Session& s) {
  const int w1 = MasterUBound1(s), h1 = MasterUBound2(s);
  s.cal.FlatPic.Redim(w1, h1);
  for (int y = 0; y <= h1; ++y) {
    const int last = ReadableColumns(s, y, w1);
    const int32_t* r = s.pic.PicR.Row(y);
    const int32_t* g = s.pic.PicG.Row(y);
    const int32_t* b = s.pic.PicB.Row(y);
    int32_t* out = s.cal.FlatPic.Row(y);
    for (int x = 0; x <= last; ++x) {
      const int32_t sum = CheckedLong(int64_t{r[x]} + g[x] + b[x]);
      // A third of the sum, never below 1: empty pixels of the flat must not
      // divide by zero later.
      out[x] = CLng(MaxOf(1, sum * 0.333333333333333));
    }
    if (last < w1) Raise(kErrSubscript);
    RowDone(s, y, h1);
  }
  // The middle of the main histogram range, from bins of three planes (96
  // units) to the units of one plane.
  s.cal.FlatMean = (s.pic.LevelHigh + s.pic.LevelLow) * 16;
}

void BuildDark(Session& s) {
  const int w1 = MasterUBound1(s), h1 = MasterUBound2(s);
  s.cal.DarkR.Redim(w1, h1);
  s.cal.DarkG.Redim(w1, h1);
  s.cal.DarkB.Redim(w1, h1);
  for (int y = 0; y <= h1; ++y) {
    const int last = ReadableColumns(s, y, w1);
    std::copy_n(s.pic.PicR.Row(y), last + 1, s.cal.DarkR.Row(y));
    std::copy_n(s.pic.PicG.Row(y), last + 1, s.cal.DarkG.Row(y));
    std::copy_n(s.pic.PicB.Row(y), last + 1, s.cal.DarkB.Row(y));
    if (last < w1) Raise(kErrSubscript);
    RowDone(s, y, h1);
  }
}

// Every pixel with a plane above MaskThr marks the square of half-side
// MaskSize - 1 around it. The squares are laid row by row exactly as a
// pixel-by-pixel marking would leave them, but in time independent of the
// square's size: a MaskSize read from a damaged settings store can be huge.
void BuildMask(Session& s) {
  const int w1 = MasterUBound1(s), h1 = MasterUBound2(s);
  s.cal.HotMask.Redim(w1, h1);
  const int m = s.opt.MaskSize - 1;
  const int32_t thr = s.opt.MaskThr;
  int64_t good = 0;
  std::vector<uint8_t> hot(static_cast<size_t>(w1) + 1);
  std::vector<int> before(static_cast<size_t>(w1) + 2);  // hot pixels left of x
  // Per column, the last row already marked: the squares of one column
  // overlap in rows, so each new one only extends the run below.
  std::vector<int> markedTo(static_cast<size_t>(w1) + 1, -1);
  for (int y = 0; y <= h1; ++y) {
    const int last = ReadableColumns(s, y, w1);
    const int32_t* r = s.pic.PicR.Row(y);
    const int32_t* g = s.pic.PicG.Row(y);
    const int32_t* b = s.pic.PicB.Row(y);
    bool any = false;
    std::fill(hot.begin(), hot.end(), uint8_t{0});
    for (int x = 0; x <= last; ++x) {
      if (r[x] > thr || g[x] > thr || b[x] > thr) {
        hot[static_cast<size_t>(x)] = 1;
        any = true;
      } else {
        good += 3;
      }
    }
    if (any && m >= 0) {
      for (int x = 0; x <= w1; ++x)
        before[static_cast<size_t>(x) + 1] = before[static_cast<size_t>(x)] + hot[static_cast<size_t>(x)];
      const int rowTo = std::min(h1, y + m);
      for (int x = 0; x <= w1; ++x) {
        const int lo = std::max(0, x - m), hi = std::min(w1, x + m);
        if (before[static_cast<size_t>(hi) + 1] == before[static_cast<size_t>(lo)]) continue;
        int& done = markedTo[static_cast<size_t>(x)];
        for (int row = std::max({0, y - m, done + 1}); row <= rowTo; ++row) s.cal.HotMask(x, row) = 1;
        done = std::max(done, rowTo);
      }
    }
    if (last < w1) Raise(kErrSubscript);
    RowDone(s, y, h1);
  }
  // A file mostly above the threshold is not a mask of defects: rather no
  // mask than one that hides most of every image.
  if (good < int64_t{w1} * h1) s.cal.HotMask.Redim(0, 0);
}

void Build(Session& s) {
  s.cal.HotMask.Redim(0, 0);
  s.cal.DarkR.Redim(0, 0);
  s.cal.DarkG.Redim(0, 0);
  s.cal.DarkB.Redim(0, 0);
  s.cal.FlatPic.Redim(0, 0);
  s.cal.FlatMean = 0;
  ShowCaption(s, "Démarrage de la calibration");

  if (s.opt.Has(FlatApply)) {
    StartProcess(s);
    if (ProcessPic(s, -2, 0)) BuildFlat(s);
  }
  if (s.opt.Has(DarkSub)) {
    StartProcess(s);
    if (ProcessPic(s, -1, 0)) BuildDark(s);
  }
  if (s.opt.Has(HotMaskOn)) {
    StartProcess(s);
    if (ProcessPic(s, 0, 0)) BuildMask(s);
  }
}

}  // namespace

void BuildMasters(Session& s) {
  try {
    Build(s);
  } catch (const BuildEnded&) {
  } catch (const RuntimeError&) {
  } catch (const std::exception&) {
    // Storage that cannot be had for a master ends the build like any
    // other run-time error.
  }
  if (s.progress.StopRequestedWithoutYield()) ShowCaption(s, "Arrêt de la calibration par utilisateur");
  StopProcess(s);
  s.progress.Report(kAppTitle);
}

}  // namespace qv
