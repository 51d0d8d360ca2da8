#include "io/fits_writer.h"

#include <cstring>
#include <new>

#include "io/file.h"

namespace qv {

namespace {

constexpr size_t kBlock = 2880;

// A card: keyword from column 1, value right-justified to column 30.
void PutCard(std::vector<uint8_t>& header, int card, const std::string& keyword, const std::string& value) {
  uint8_t* c = header.data() + static_cast<size_t>(card) * 80;
  std::memcpy(c, keyword.data(), std::min<size_t>(keyword.size(), 80));
  if (!value.empty()) {
    const size_t n = std::min<size_t>(value.size(), 30);
    std::memcpy(c + 30 - n, value.data() + value.size() - n, n);
  }
}

}  // namespace

SavedPlanes SavedPlanes::Picture(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, bool mono) {
  SavedPlanes p;
  p.mono = mono;
  p.pic[0] = r;
  p.pic[1] = g;
  p.pic[2] = b;
  return p;
}

SavedPlanes SavedPlanes::Destination(const Plane<float>& sumR, const Plane<float>& sumG, const Plane<float>& sumB,
                                     const Plane<float>& weightR, const Plane<float>& weightG,
                                     const Plane<float>& weightB, bool mono) {
  SavedPlanes p;
  p.fromDestination = true;
  p.mono = mono;
  p.sum[0] = sumR;
  p.sum[1] = sumG;
  p.sum[2] = sumB;
  p.weight[0] = weightR;
  p.weight[1] = weightG;
  p.weight[2] = weightB;
  return p;
}

SavedImage::SavedImage(const SavedPlanes& planes)
    : source_(planes),
      w_(planes.fromDestination ? planes.sum[0].Width() : planes.pic[0].Width()),
      h_(planes.fromDestination ? planes.sum[0].Height() : planes.pic[0].Height()),
      planes_(planes.mono ? 1 : 3) {
  if (w_ < 1 || h_ < 1) Raise(kErrSubscript);
  for (int p = 0; p < planes_; ++p) {
    const bool ok = source_.fromDestination ? source_.sum[p].SameSize(w_, h_) && source_.weight[p].SameSize(w_, h_)
                                            : source_.pic[p].SameSize(w_, h_);
    if (!ok) Raise(kErrSubscript);
  }
}

FitsImage BuildFitsImage(const SavedPlanes& planes) {
  const SavedImage img(planes);
  const int W = img.Width(), H = img.Height(), P = img.Planes();

  FitsImage out;
  const size_t planeBytes = 2 * static_cast<size_t>(W) * H;
  const size_t dataBytes = planeBytes * P;
  out.data.assign((dataBytes + kBlock - 1) / kBlock * kBlock, 0);
  float minimum = 65535.0f, maximum = 0.0f;
  for (int p = 0; p < P; ++p) {
    uint8_t* dst = out.data.data() + planeBytes * p;
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x, dst += 2) {
        float v = img.Value(p, x, y);
        // A negative value is not stored: its bytes stay 0.
        if (!(v >= 0)) continue;
        if (v > 65535) v = 65535;
        if (v < minimum) minimum = v;
        if (v > maximum) maximum = v;
        v = static_cast<float>(static_cast<double>(v) - 32768);
        if (v < 0) v = static_cast<float>(static_cast<double>(v) + 65536);
        const int32_t n = CLng(v);
        dst[0] = static_cast<uint8_t>((n / 256) & 255);
        dst[1] = static_cast<uint8_t>(n & 255);
      }
    }
  }

  out.header.assign(kBlock, ' ');
  int card = 0;
  PutCard(out.header, card++, "SIMPLE  =", "T");
  PutCard(out.header, card++, "BITPIX  =", "16");
  PutCard(out.header, card++, "NAXIS   =", P == 1 ? "2" : "3");
  PutCard(out.header, card++, "NAXIS1  =", Str(int64_t{W}));
  PutCard(out.header, card++, "NAXIS2  =", Str(int64_t{H}));
  if (P == 1)
    PutCard(out.header, card++, "HISTORY =    Forced Monochrome", "");
  else
    PutCard(out.header, card++, "NAXIS3  =", "3");
  PutCard(out.header, card++, "BSCALE  =", "1.0");
  PutCard(out.header, card++, "BZERO   =", "32768");
  PutCard(out.header, card++, "BACKGRND=", StrSingle(minimum));
  PutCard(out.header, card++, "RANGE   =", StrSingle(static_cast<float>(maximum - minimum + 1)));
  PutCard(out.header, card++, "END", "");
  return out;
}

Outcome WriteFitsFile(const SavedPlanes& planes, const std::string& FileName) {
  try {
    const FitsImage img = BuildFitsImage(planes);
    return WriteFileReplacing(FileName, {&img.header, &img.data});
  } catch (const RuntimeError& e) {
    return Outcome::From(e);
  } catch (const std::bad_alloc&) {
    return Outcome::FromNumber(kErrOutOfMemory);
  }
}

}  // namespace qv
