#include "stack/accumulate.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/paths.h"
#include "core/run_files.h"
#include "io/file.h"
#include "stack/combine.h"
#include "stack/guide.h"

namespace qv {

double AngleOf(double& dy, double& dx) {
  double a;
  if (dx > 0) {
    a = std::atan(dy / dx);
  } else if (dx < 0) {
    const double t = std::atan(std::fabs(dy / dx));
    a = dy > 0 ? kPi - t : dy < 0 ? -(kPi - t) : kPi;
  } else {
    a = dy == 0 ? 0 : (dy > 0 ? kPi / 2 : -kPi / 2);
  }
  if (a >= kTwoPi) a -= kTwoPi;
  if (a < 0) a += kTwoPi;
  return a;
}

std::string TempFileName(const Session& s, int k) { return s.stack.TempBase + std::to_string(k) + ".bin"; }

void DeleteTempFiles(const Session& s) {
  if (s.stack.TempBase.empty()) return;
  const std::filesystem::path base(s.stack.TempBase);
  const std::string prefix = base.filename().string();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(base.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    // The parked images, and the layers a combination with rejection writes:
    // the base, anything or nothing, then the suffix.
    if (name.size() >= prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
        (name.compare(name.size() - 4, 4, ".bin") == 0 || name.compare(name.size() - 4, 4, ".rej") == 0))
      std::filesystem::remove(entry.path(), ec);
  }
}

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(u >> (8 * k));
}

// The transform of one pixel: rotation by the stack angle about the guide
// star, then the guide star onto the anchor.
struct ImagePlacement {
  double c, s, gx, gy, ax, ay;
  int32_t X(double x, double y) const { return CLng(RoundHalfEven((x - gx) * c - (y - gy) * s) + ax); }
  int32_t Y(double x, double y) const { return CLng(RoundHalfEven((x - gx) * s + (y - gy) * c) + ay); }
};

void WriteTempFile(const std::string& name, Session& s, int32_t bx0, int32_t by0, int32_t bx1, int32_t by1,
                   ScratchWriter* writer) {
  const size_t wh = static_cast<size_t>(s.stack.StackW1 + 1) * (s.stack.StackH1 + 1);
  std::vector<uint8_t> head(24);
  uint64_t angle;
  std::memcpy(&angle, &s.stack.StackAngle, 8);
  for (int k = 0; k < 8; ++k) head[k] = static_cast<uint8_t>(angle >> (8 * k));
  Put32(head, 8, bx0);
  Put32(head, 12, by0);
  Put32(head, 16, bx1);
  Put32(head, 20, by1);
  // The planes are stored as they are in memory on a little-endian machine.
  auto bytes = [wh](const Plane<int32_t>& p) { return std::span(reinterpret_cast<const uint8_t*>(p.Data()), 4 * wh); };
  s.stack.KnownGreyFiles.erase(name);
  // A grey frame's three planes are one plane's bytes three times: the
  // combination reads its red plane alone, the copy a writer takes is a
  // third of the size, and written from the one plane the bytes stay in the
  // processor's cache between the three copies.
  const bool grey = GreyPlanes(s.pic.PicR, s.pic.PicG, s.pic.PicB);
  const std::span<const uint8_t> red = bytes(s.pic.PicR);
  const std::vector<std::span<const uint8_t>> parts = {head, red, grey ? red : bytes(s.pic.PicG),
                                                       grey ? red : bytes(s.pic.PicB)};
  // A file that could not be written whole is removed (at once, or by a
  // writer when its write fails later): the combination then skips its
  // number instead of reading a short image.
  if (writer) {
    writer->Start(name, parts);
  } else {
    const Outcome written = WriteScratchFile(name, parts);
    if (!written) Raise(written.err);
  }
  if (grey) s.stack.KnownGreyFiles.insert(name);
}

}  // namespace

Outcome AccumulateImage(Session& s, ScratchWriter* writer) {
  try {
    const int i = s.CurPic;
    ImageEntry& e = s.Entry(i);
    if (s.stack.StackCount == 0) {
      s.stack.StackW1 = s.pic.PicR.UBound1();
      s.stack.StackH1 = s.pic.PicR.UBound2();
      s.stack.CanvasMinX = s.stack.CanvasMinY = 100000;
      s.stack.CanvasMaxX = s.stack.CanvasMaxY = -100000;
      s.stack.StackAngle = 0;
      s.stack.RotAngleRef = 0;
      s.stack.KnownGreyFiles.clear();
      if (e.ImgNewRot) {
        // On the first image a new rotation star only fixes the reference direction.
        e.ImgNewRot = e.ImgRot;
        e.ImgRot = 0;
        e.ImgNewRotX = e.ImgRotX;
        e.ImgNewRotY = e.ImgRotY;
      }
      if (s.stack.TempBase.empty()) {
        const double ms = (s.platform.clock ? s.platform.clock->SecondsSinceMidnight() : 0) * 1000;
        s.stack.TempBase = RunTempBase(static_cast<unsigned>(CLng(ms)));
      }
    } else if (s.pic.PicR.UBound1() != s.stack.StackW1 || s.pic.PicR.UBound2() != s.stack.StackH1) {
      return Outcome::Failure("");
    }
    s.stack.StackCount = CInt(s.stack.StackCount + 1.0);
    const int k = s.stack.StackCount;

    if (e.ImgAngle != 0) s.stack.StackAngle -= e.ImgAngle * kDegree;
    if (e.ImgRot) {
      double rx, ry;
      StarCentroid(s, CInt(RoundHalfEven(s.stack.StackW1 * e.ImgRotX)),
                   CInt(RoundHalfEven(s.stack.StackH1 * e.ImgRotY)), rx, ry);
      double dy = ry - s.guide.RotCentreY, dx = rx - s.guide.RotCentreX;
      const double a = AngleOf(dy, dx);
      e.ImgRotX = rx / s.stack.StackW1;
      e.ImgRotY = ry / s.stack.StackH1;
      s.stack.StackAngle -= a - s.stack.RotAngleRef;
      s.stack.RotAngleRef = a;
    }
    if (e.ImgNewRot) {
      double nx, ny;
      StarCentroid(s, CInt(RoundHalfEven(s.stack.StackW1 * e.ImgNewRotX)),
                   CInt(RoundHalfEven(s.stack.StackH1 * e.ImgNewRotY)), nx, ny);
      double dy = ny - s.guide.GuideY, dx = nx - s.guide.GuideX;
      s.stack.RotAngleRef = AngleOf(dy, dx);
      e.ImgNewRotX = nx / s.stack.StackW1;
      e.ImgNewRotY = ny / s.stack.StackH1;
    }
    const double c = std::cos(s.stack.StackAngle), sn = std::sin(s.stack.StackAngle);
    if (s.stack.StackCount > 1) {
      // The guide-star change moved the anchor by the unrotated offset
      // between the stars; turn that offset with the image.
      s.guide.AnchorX =
          CLng(s.guide.AnchorX + RoundHalfEven(-s.guide.RotCentreX * c + s.guide.RotCentreY * sn) -
               RoundHalfEven(-s.guide.GuideX * c + s.guide.GuideY * sn) - s.guide.GuideX + s.guide.RotCentreX);
      s.guide.AnchorY =
          CLng(s.guide.AnchorY + RoundHalfEven(-s.guide.RotCentreX * sn - s.guide.RotCentreY * c) -
               RoundHalfEven(-s.guide.GuideX * sn - s.guide.GuideY * c) - s.guide.GuideY + s.guide.RotCentreY);
    }
    const ImagePlacement p{c, sn, s.guide.GuideX, s.guide.GuideY, s.guide.AnchorX, s.guide.AnchorY};
    int32_t bx0 = 100000, by0 = 100000, bx1 = -100000, by1 = -100000;
    const double cx[4] = {0, static_cast<double>(s.stack.StackW1), static_cast<double>(s.stack.StackW1), 0};
    const double cy[4] = {0, 0, static_cast<double>(s.stack.StackH1), static_cast<double>(s.stack.StackH1)};
    for (int q = 0; q < 4; ++q) {
      const int32_t x = p.X(cx[q], cy[q]), y = p.Y(cx[q], cy[q]);
      bx0 = std::min(bx0, x);
      by0 = std::min(by0, y);
      bx1 = std::max(bx1, x);
      by1 = std::max(by1, y);
    }
    s.stack.CanvasMinX = std::min(s.stack.CanvasMinX, bx0);
    s.stack.CanvasMinY = std::min(s.stack.CanvasMinY, by0);
    s.stack.CanvasMaxX = std::max(s.stack.CanvasMaxX, bx1);
    s.stack.CanvasMaxY = std::max(s.stack.CanvasMaxY, by1);
    WriteTempFile(TempFileName(s, k), s, bx0, by0, bx1, by1, writer);
    return Outcome::Success();
  } catch (const RuntimeError& err) {
    // The caller names the temporary folder in its words.
    return Outcome::From(err);
  } catch (const std::bad_alloc&) {
    return Outcome::Failure("Mémoire insuffisante", kErrOutOfMemory);
  }
}

}  // namespace qv
