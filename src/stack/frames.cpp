#include "stack/frames.h"

#include <algorithm>

#include "core/paths.h"
#include "io/picture_export.h"
#include "process/image_files.h"
#include "process/process_pic.h"
#include "stack/guide.h"
#include "stack/run_control.h"

namespace qv {

Outcome FrameListener::Select(Session& s, int i) { return ProcessAndTrack(s, i, true, *this); }

FrameListener& FrameListener::Headless() {
  static FrameListener none;
  return none;
}

FrameMarks MarksOf(const Session& s, const ImageEntry& e) {
  FrameMarks m;
  m.shiftX = CInt(e.ImgShiftX * s.pic.PicR.UBound1());
  m.shiftY = CInt(e.ImgShiftY * s.pic.PicR.UBound2());
  m.angle = e.ImgAngle;
  return m;
}

Outcome ProcessAndTrack(Session& s, int i, bool reload, FrameListener& shown) {
  Outcome processed;
  bool grey = false;
  s.progress.Yield();
  try {
    if (reload) {
      s.CurPic = static_cast<int16_t>(i);
      shown.Loading(i);
      s.progress.Yield();
      processed = ProcessPic(s, i, 1, grey);
      shown.Processed(i, processed);
      s.progress.Yield();
    }
    ImageEntry& e = s.Entry(i);
    {
      // The planes just made are shown before anything else touches them.
      struct Known {
        bool& flag;
        ~Known() { flag = false; }
      } known{s.pic.KnownGrey};
      s.pic.KnownGrey = reload && processed.ok && grey;
      shown.Shown(i);
    }
    // Without planes there is nothing to measure the shifts against: the
    // registration flags show, and the steps end there.
    if (s.pic.PicR.Empty()) {
      FrameMarks unmeasured;
      unmeasured.measured = false;
      shown.Marks(i, unmeasured);
      Raise(kErrSubscript);
    }
    shown.Marks(i, MarksOf(s, e));
    TrackGuide(s, i);
    if (e.ImgRot && e.ImgRotX == 0 && e.ImgRotY == 0 && i > 1) {
      // The rotation star is followed from the previous image.
      e.ImgRotX = s.Img[static_cast<size_t>(i - 1)].ImgRotX;
      e.ImgRotY = s.Img[static_cast<size_t>(i - 1)].ImgRotY;
    }
    shown.Tracked(i);
  } catch (const RuntimeError& err) {
    shown.Failed(err.Number());
  } catch (const std::exception&) {
    shown.Failed(kErrOutOfMemory);
  }
  return processed;
}

int AddImages(Session& s, std::vector<std::string> parts) {
  if (parts.empty() || parts[0].empty()) return 0;
  size_t m = parts.size() - 1;
  if (m >= 1) {
    // Plain character-code order, upper case before lower case.
    std::sort(parts.begin() + 1, parts.end());
  } else {
    const std::string path = parts[0];
    parts = {PathFolder(path), PathName(path)};
    m = 1;
  }
  if (parts[0].empty() || parts[0].back() != '/') parts[0] += '/';
  s.opt.InitDir = parts[0];

  int base = s.ImageCount();
  if (base < 1) {
    s.ResizeImageArrays(0);
    s.ResizeImageArrays(1);
    s.Img[1] = ImageEntry{};
    s.Img[1].ImgFile = parts[0] + parts[1];
    ReadHeader(s, 1);
    base = 0;
  }
  int c = 0;
  for (size_t i = 1; i <= m; ++i) {
    if (s.opt.Has(ColourOnly) && PathName(parts[i]).find('L') != std::string::npos) continue;
    ++c;
    const int at = base + c;
    s.ResizeImageArrays(std::max(at, s.ImageCount()));
    s.Img[static_cast<size_t>(at)].ImgFile = parts[0] + parts[i];
    if (at >= 2 && s.opt.Has(GradRemove) && !s.Img[static_cast<size_t>(at - 1)].ImgZone.empty())
      s.Img[static_cast<size_t>(at)].ImgZone = s.Img[static_cast<size_t>(at - 1)].ImgZone;
  }
  return base + 1;
}

ListListener& ListListener::Headless() {
  static ListListener none;
  return none;
}

int ThumbnailStep(const Session& s) {
  if (s.ImageCount() < 1) Raise(kErrSubscript);
  double w = s.Img[1].ImgNaxis1;
  if (s.opt.Has(Bin2x2)) w = Int(w / 2);
  if (s.opt.Has(PixAspect)) return CInt(w * s.opt.PixRatio / 120);
  return CInt(w / 120);
}

namespace {

// The filling; without `thumbnails` each entry's header is read instead,
// and `selected` gets how the selection of entry k processed it.
int Fill(Session& s, int k, bool forceChecked, ListListener& shown, bool thumbnails, Outcome& selected) {
  int reached = k - 1;
  try {
    StartProcess(s);
    s.progress.Yield();
    s.CurPic = 1;
    shown.Cleared(s);
    const int step = ThumbnailStep(s);
    const int n = s.ImageCount();
    for (int i = k; i <= n; ++i) {
      if (i < 0) Raise(kErrSubscript);
      shown.Reached(i);
      reached = i;
      s.progress.Report(std::to_string(i) + "/" + std::to_string(n), (i - 1.0) / n);
      // A file that cannot be read gets no thumbnail; its entry stays.
      Outcome read = Outcome::Success();
      if (thumbnails) {
        read = ProcessPic(s, i, step);
      } else if (const std::string path = ImagePath(s, i); FileExists(path) && !IsSpecialFile(path)) {
        // What processing it keeps in its entry.
        ReadHeader(s, i);
      }
      ImageEntry& e = s.Entry(i);
      if (forceChecked) e.ImgChecked = 1;
      shown.Thumbnail(i, read);
      if (!s.progress.StillRunning()) break;
    }
    shown.Filled();
    s.Entry(1).ImgRegFlags = kNewRef | kNewPos;
    selected = shown.Select(s, k);
    shown.Selected(k);
  } catch (const RuntimeError&) {
  } catch (const std::exception&) {
    // Storage for the strip that cannot be had ends the filling like any
    // other run-time error.
  }
  StopProcess(s);
  return reached;
}

}  // namespace

int FillList(Session& s, int k, bool forceChecked, ListListener& shown) {
  Outcome selected = Outcome::Success();
  return Fill(s, k, forceChecked, shown, true, selected);
}

int FillListWithoutThumbnails(Session& s, int k, bool forceChecked, ListListener& shown) {
  const std::vector<ImageEntry> entries = s.Img;
  const CurrentImage pic = s.pic;
  const GuideStar guide = s.guide;
  const StackState stack = s.stack;
  const bool use[3] = {s.cal.UseHotMask, s.cal.UseDark, s.cal.UseFlat};
  const int16_t current = s.CurPic;
  Outcome selected = Outcome::Failure("");
  const int reached = Fill(s, k, forceChecked, shown, false, selected);
  if (selected.ok) return reached;
  // The selection tracked the guide star on whatever the planes held, which
  // the thumbnails would have left: the list is filled again the long way.
  s.Img = entries;
  s.pic = pic;
  s.guide = guide;
  s.stack = stack;
  s.cal.UseHotMask = use[0];
  s.cal.UseDark = use[1];
  s.cal.UseFlat = use[2];
  s.CurPic = current;
  return FillList(s, k, forceChecked, shown);
}

int SaveListAsTiff(Session& s, FrameListener& shown,
                   const std::function<void(const std::string& tiff, int count, int n)>& written, int* present) {
  StartProcess(s);
  int count = 0;
  const int n = s.ImageCount();
  for (int i = 1; i <= n; ++i) {
    if (!s.progress.StillRunning()) break;
    // A TIFF already there may be the user's own work: it is never replaced.
    const std::string tiff = BatchTiffName(s.Entry(i).ImgFile);
    if (!tiff.empty() && FileExists(tiff)) {
      if (present) ++*present;
    } else if (!tiff.empty()) {
      shown.Select(s, i);
      ++count;
      bool fromDestination = false;
      if (WriteNewTiffFile(s, tiff, fromDestination) && written) written(tiff, count, n);
      if (!s.progress.StillRunning()) break;
    }
  }
  StopProcess(s);
  return count;
}

std::string StatusText(const Session& s) {
  const ImageEntry& e = s.Img.at(static_cast<size_t>(s.CurPic));
  double w = e.ImgNaxis1, h = e.ImgNaxis2;
  if (s.opt.Has(Bin2x2)) {
    w = Int(w / 2);
    h = Int(h / 2);
  }
  const double zoom = s.opt.PicZoom != 0 ? s.opt.PicZoom : 1;
  std::string t = std::to_string(static_cast<int>(w)) + "x" + std::to_string(static_cast<int>(h)) + "\r\n";
  t += "Zoom=" + FormatPercent(1 / zoom, s.locale) + "\r\n";
  t += "Qualité = " + FormatPercent(s.guide.Quality, s.locale) + "\r\n";
  if (s.opt.Has(HotCalc)) t += "Pixels chauds\r\n";
  if (s.cal.UseHotMask) t += "Masque\r\n";
  if (s.opt.Has(Bin2x2)) t += "Fusion 2x2\r\n";
  if (s.cal.UseDark) t += "Dark ";
  if (s.cal.UseFlat) t += "PLU";
  if (s.opt.Has(GradRemove)) t += "\r\nGradient";
  return t;
}

}  // namespace qv
