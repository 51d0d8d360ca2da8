#include "editor/result.h"

#include <algorithm>
#include <new>

#include "core/session.h"
#include "process/process_pic.h"
#include "stack/combine.h"

namespace qv {

Outcome LoadResult(Session& s, const std::string& path) {
  // The result was calibrated when it was stacked: read it with every
  // processing option off, then give the user's options back. A result of
  // one plane is grey whatever its name: a name ending in r, g, b or c
  // must not send it to one colour, as it would a frame of a filter.
  const int32_t useMask = s.opt.UseMask;
  const auto colorChk = s.opt.ColorChk;
  s.opt.UseMask = Mono;
  s.opt.ColorChk = {0, 0, 0};
  s.ResizeImageArrays(1);
  s.Img[1] = ImageEntry{};
  s.Img[1].ImgFile = path;
  const Outcome read = ProcessPic(s, 1, 1);
  s.opt.UseMask = useMask;
  s.opt.ColorChk = colorChk;
  if (!read) return read;
  try {
    const int u1 = s.pic.PicR.UBound1(), u2 = s.pic.PicR.UBound2();
    const Plane<int32_t>* pic[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
    Plane<float>* sum[3] = {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB};
    Plane<float>* weight[3] = {&s.dest.DestWeightR, &s.dest.DestWeightG, &s.dest.DestWeightB};
    for (int c = 0; c < 3; ++c) {
      sum[c]->Redim(u1, u2);
      weight[c]->Redim(u1, u2);
      const int32_t* src = pic[c]->Data();
      for (size_t k = 0; k < sum[c]->Size(); ++k)
        if (src[k] > 0) {
          sum[c]->Data()[k] = static_cast<float>(src[k]);
          weight[c]->Data()[k] = 1;
        }
    }
    // A uniform picture is still a picture: it renders, even though a
    // combination giving it would open no window.
    if (!MeasureDestination(s))
      s.dest.DestHistoMax = *std::max_element(s.dest.DestHisto.begin(), s.dest.DestHisto.end());
  } catch (const RuntimeError& err) {
    return Outcome::From(err);
  } catch (const std::bad_alloc&) {
    return Outcome::Failure("Mémoire insuffisante", kErrOutOfMemory);
  }
  return Outcome::Success();
}

}  // namespace qv
