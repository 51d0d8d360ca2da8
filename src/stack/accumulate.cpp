#include "stack/accumulate.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/paths.h"
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

std::string TempFolder() {
  std::string dir;
  if (const char* t = std::getenv("TMPDIR"); t && *t) dir = t;
  else dir = std::filesystem::temp_directory_path().string();
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string TempFileName(const Session& s, int k) { return s.TempBase + std::to_string(k) + ".bin"; }

void DeleteTempFiles(const Session& s) {
  if (s.TempBase.empty()) return;
  const std::filesystem::path base(s.TempBase);
  const std::string prefix = base.filename().string();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(base.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - 4, 4, ".bin") == 0)
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
struct Placement {
  double c, s, gx, gy, ax, ay;
  int32_t X(double x, double y) const { return CLng(RoundHalfEven((x - gx) * c - (y - gy) * s) + ax); }
  int32_t Y(double x, double y) const { return CLng(RoundHalfEven((x - gx) * s + (y - gy) * c) + ay); }
};

void WriteTempFile(const std::string& name, const Session& s, int32_t bx0, int32_t by0, int32_t bx1, int32_t by1) {
  const size_t wh = static_cast<size_t>(s.StackW1 + 1) * (s.StackH1 + 1);
  std::vector<uint8_t> head(24);
  uint64_t angle;
  std::memcpy(&angle, &s.StackAngle, 8);
  for (int k = 0; k < 8; ++k) head[k] = static_cast<uint8_t>(angle >> (8 * k));
  Put32(head, 8, bx0);
  Put32(head, 12, by0);
  Put32(head, 16, bx1);
  Put32(head, 20, by1);
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) Raise(errno == ENOSPC ? kErrDiskFull : kErrPathAccess);
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
  std::vector<uint8_t> row;
  for (const Plane<int32_t>* p : {&s.PicR, &s.PicG, &s.PicB}) {
    // The planes are stored as they are in memory on a little-endian machine.
    if (ok) ok = std::fwrite(p->Data(), 4, wh, f) == wh;
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    // A partial file would be read back as a short image; without it the
    // combination simply skips this number.
    ::unlink(name.c_str());
    Raise(kErrDiskFull);
  }
}

}  // namespace

void AccumulateImage(Session& s) {
  try {
    const int i = s.CurPic;
    ImageEntry& e = s.Entry(i);
    if (s.StackCount == 0) {
      s.StackW1 = s.PicR.UBound1();
      s.StackH1 = s.PicR.UBound2();
      s.CanvasMinX = s.CanvasMinY = 100000;
      s.CanvasMaxX = s.CanvasMaxY = -100000;
      s.StackAngle = 0;
      s.RotAngleRef = 0;
      if (e.ImgNewRot) {
        // On the first image a new rotation star only fixes the reference direction.
        e.ImgNewRot = e.ImgRot;
        e.ImgRot = 0;
        e.ImgNewRotX = e.ImgRotX;
        e.ImgNewRotY = e.ImgRotY;
      }
      if (s.TempBase.empty()) {
        const double ms = (s.platform.clock ? s.platform.clock->SecondsSinceMidnight() : 0) * 1000;
        char hex[32];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(CLng(ms)));
        // The process number keeps two programs started in the same
        // millisecond apart.
        s.TempBase = TempFolder() + "Quelvista_" + hex + "_" + std::to_string(::getpid()) + "_";
      }
    } else if (s.PicR.UBound1() != s.StackW1 || s.PicR.UBound2() != s.StackH1) {
      return;
    }
    s.StackCount = CInt(s.StackCount + 1.0);
    const int k = s.StackCount;

    if (e.ImgAngle != 0) s.StackAngle -= e.ImgAngle * kDegree;
    if (e.ImgRot) {
      double rx, ry;
      StarCentroid(s, CInt(RoundHalfEven(s.StackW1 * e.ImgRotX)), CInt(RoundHalfEven(s.StackH1 * e.ImgRotY)), rx, ry);
      double dy = ry - s.RotCentreY, dx = rx - s.RotCentreX;
      const double a = AngleOf(dy, dx);
      e.ImgRotX = rx / s.StackW1;
      e.ImgRotY = ry / s.StackH1;
      s.StackAngle -= a - s.RotAngleRef;
      s.RotAngleRef = a;
    }
    if (e.ImgNewRot) {
      double nx, ny;
      StarCentroid(s, CInt(RoundHalfEven(s.StackW1 * e.ImgNewRotX)), CInt(RoundHalfEven(s.StackH1 * e.ImgNewRotY)), nx, ny);
      double dy = ny - s.GuideY, dx = nx - s.GuideX;
      s.RotAngleRef = AngleOf(dy, dx);
      e.ImgNewRotX = nx / s.StackW1;
      e.ImgNewRotY = ny / s.StackH1;
    }
    const double c = std::cos(s.StackAngle), sn = std::sin(s.StackAngle);
    if (s.StackCount > 1) {
      // The guide-star change moved the anchor by the unrotated offset
      // between the stars; turn that offset with the image.
      s.AnchorX = CLng(s.AnchorX + RoundHalfEven(-s.RotCentreX * c + s.RotCentreY * sn) -
                       RoundHalfEven(-s.GuideX * c + s.GuideY * sn) - s.GuideX + s.RotCentreX);
      s.AnchorY = CLng(s.AnchorY + RoundHalfEven(-s.RotCentreX * sn - s.RotCentreY * c) -
                       RoundHalfEven(-s.GuideX * sn - s.GuideY * c) - s.GuideY + s.RotCentreY);
    }
    const Placement p{c, sn, s.GuideX, s.GuideY, s.AnchorX, s.AnchorY};
    int32_t bx0 = 100000, by0 = 100000, bx1 = -100000, by1 = -100000;
    const double cx[4] = {0, static_cast<double>(s.StackW1), static_cast<double>(s.StackW1), 0};
    const double cy[4] = {0, 0, static_cast<double>(s.StackH1), static_cast<double>(s.StackH1)};
    for (int q = 0; q < 4; ++q) {
      const int32_t x = p.X(cx[q], cy[q]), y = p.Y(cx[q], cy[q]);
      bx0 = std::min(bx0, x);
      by0 = std::min(by0, y);
      bx1 = std::max(bx1, x);
      by1 = std::max(by1, y);
    }
    s.CanvasMinX = std::min(s.CanvasMinX, bx0);
    s.CanvasMinY = std::min(s.CanvasMinY, by0);
    s.CanvasMaxX = std::max(s.CanvasMaxX, bx1);
    s.CanvasMaxY = std::max(s.CanvasMaxY, by1);
    WriteTempFile(TempFileName(s, k), s, bx0, by0, bx1, by1);
  } catch (const RuntimeError& err) {
    s.StackError = "image " + std::to_string(s.CurPic) + " non empilée (erreur " + std::to_string(err.Number()) + " : " +
                   err.what() + ", dossier temporaire " + TempFolder() + ")";
  } catch (const std::bad_alloc&) {
    s.StackError = "image " + std::to_string(s.CurPic) + " non empilée (erreur 7 : Mémoire insuffisante)";
  }
}

}  // namespace qv
