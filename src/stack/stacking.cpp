#include "stack/stacking.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/error_words.h"
#include "core/options.h"
#include "core/paths.h"
#include "platform/disk_space.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "stack/run_control.h"

namespace qv {

int RunResult::Accepted() const {
  return static_cast<int>(std::count_if(frames.begin(), frames.end(), [](const FrameResult& r) { return r.accepted; }));
}

int RunResult::Combined() const {
  return static_cast<int>(std::count_if(frames.begin(), frames.end(), [](const FrameResult& r) { return r.combined; }));
}

std::vector<const FrameResult*> RunResult::Missing() const {
  std::vector<const FrameResult*> missing;
  if (stopped || !outcome) return missing;
  for (const FrameResult& frame : frames)
    if (frame.accepted && !frame.combined) missing.push_back(&frame);
  return missing;
}

std::string Counted(int n, const char* singular, const char* plural) {
  return std::to_string(n) + " " + (n > 1 ? plural : singular);
}

std::string CombinedOfAccepted(int combined, int accepted) {
  return Counted(combined, "image combinée", "images combinées") + " sur " + Counted(accepted, "acceptée", "acceptées");
}

std::string WhyMissing(const FrameResult& frame) {
  // Another size than the first image is left out before any file is begun,
  // and says nothing of itself.
  if (frame.tempFile == 0 && frame.parked.why.empty()) return "autre taille que l'image 1";
  if (!frame.parked)
    return "fichier temporaire non écrit (" +
           (frame.parked.err == kErrDiskFull
                ? std::string("disque plein")
                : ErrorWords(frame.parked.err, TemporaryFolderShown(), FileTask::Temporary)) +
           ")";
  // Written, yet not read back whole by the combination: removed or cut
  // meanwhile by something else.
  return "fichier temporaire disparu ou incomplet à la combinaison";
}

TempSpace TempSpaceForRun(const Session& s, const RunRequest& r) {
  TempSpace space;
  space.folder = TemporaryFolderShown();
  int first, last;
  RunRange(s, r, first, last);
  const bool halved = (s.opt.UseMask & Bin2x2) != 0;
  uint64_t layers = 0;
  for (int i = first; i <= last && i >= 1; ++i) {
    const ImageEntry& e = s.Img[static_cast<size_t>(i)];
    if (e.ImgChecked != 1) continue;
    // A header that could not be read gives no size; its image parks nothing
    // worth counting.
    uint64_t w = static_cast<uint64_t>(std::max<int>(e.ImgNaxis1, 0));
    uint64_t h = static_cast<uint64_t>(std::max<int>(e.ImgNaxis2, 0));
    if (halved) {
      w /= 2;
      h /= 2;
    }
    space.needed += 24 + 12 * w * h;
    layers += 16 + 24 * w * h;
  }
  // With rejection every frame is also written resampled, 24 bytes a pixel,
  // while the parked images go one by one: at the end of that pass the
  // layers are all there.
  if (s.opt.RejectMode == 1 || s.opt.RejectMode == 2) space.needed = std::max(space.needed, layers);
  space.known = FreeBytes(TempFolder(), space.free);
  return space;
}

RunListener& RunListener::Headless() {
  static RunListener none;
  return none;
}

void RunRange(const Session& s, const RunRequest& r, int& first, int& last) {
  const int n = s.ImageCount();
  first = r.first == 0 ? 1 : r.first;
  last = r.last == 0 ? n : r.last;
  first = std::min(n, std::max(1, first));
  last = std::min(n, std::max(first, last));
}

RunResult StackRun(Session& s, const RunRequest& request, RunListener& shown) {
  RunResult result;
  if (!s.progress.Idle()) return result;
  s.progress.Yield();
  StartProcess(s);
  s.stack.StackCount = 0;
  const RunRequest range = shown.Range(request);
  int first, last;
  RunRange(s, range, first, last);
  result.first = first;
  result.last = last;
  int count = 0;
  // The progress of a run: images done out of the checked images to do.
  int todo = 0, done = 0;
  for (int i = first; i <= last && i >= 1; ++i) todo += s.Img[static_cast<size_t>(i)].ImgChecked == 1;
  auto tell = [&](FrameResult&& frame, int accepted) {
    shown.FrameDone(frame, accepted);
    result.frames.push_back(std::move(frame));
    s.progress.Report("", static_cast<double>(++done) / todo);
  };
  // The frame whose file is being written, told once the file is done.
  std::optional<ScratchWriter> writer;
  if (shown.TakesFramesLate()) writer.emplace();
  std::optional<std::pair<FrameResult, int>> writing;
  auto release = [&] {
    if (!writing) return;
    const Outcome written = writer->Await();
    if (!written) writing->first.parked = written;
    tell(std::move(writing->first), writing->second);
    writing.reset();
  };
  for (int i = first; i <= last && i >= 1; ++i) {
    if (s.Img[static_cast<size_t>(i)].ImgChecked != 1) continue;
    if (!s.progress.StillRunning()) break;
    shown.Reaching(s, i);
    if (s.Img[static_cast<size_t>(i)].ImgChecked != 1) continue;
    FrameResult frame;
    frame.image = i;
    frame.processed = shown.Select(s, i);
    if (!s.progress.StillRunning()) break;
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
      release();
      frame.parked = AccumulateImage(s, writer ? &*writer : nullptr);
      if (s.stack.StackCount != before) frame.tempFile = s.stack.StackCount;
      ++count;
    }
    frame.guideX = s.guide.GuideX;
    frame.guideY = s.guide.GuideY;
    frame.anchorX = s.guide.AnchorX;
    frame.anchorY = s.guide.AnchorY;
    frame.angle = s.stack.StackAngle;
    frame.planesOf = s.CurPic;
    release();
    if (writer && writer->Pending())
      writing.emplace(std::move(frame), count);
    else
      tell(std::move(frame), count);
  }
  release();
  writer.reset();  // its buffer, a frame's size, is not kept through the combination
  result.stopped = !s.progress.StillRunningWithoutYield();
  if (!result.stopped) {
    std::vector<int> combined;
    std::string caption;
    shown.Combining();
    result.outcome = FinalCombination(s, shown.Expand(range.expand), caption, &combined);
    // A stop asked while the frames are combined ends the run there: it
    // was stopped, not failed.
    if (!result.outcome && s.progress.StopRequestedWithoutYield()) result.stopped = true;
    if (!caption.empty()) shown.ResultReady(caption);
    // The files that reached the result, against the images they came from.
    if (result.outcome)
      for (FrameResult& frame : result.frames)
        frame.combined =
            frame.tempFile > 0 && std::find(combined.begin(), combined.end(), frame.tempFile) != combined.end();
  }
  StopProcess(s);
  return result;
}

int RangeBoundFromText(const Session& s, const std::string& text) {
  try {
    return CInt(LocaleToDouble(text, s.locale));
  } catch (const RuntimeError&) {
    return 0;
  }
}

}  // namespace qv
