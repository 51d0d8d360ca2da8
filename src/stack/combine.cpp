#include "stack/combine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/parallel.h"
#include "core/paths.h"
#include "io/file.h"
#include "stack/accumulate.h"
#include "stack/reject.h"

namespace qv {

namespace {

// The destination may span a mosaic of many frames, but a canvas built from
// absurd shifts must not claim memory without bound.
constexpr int64_t kMaxCanvasPixels = int64_t{1} << 28;

void Log(Session& s, const std::string& line) { s.messages->ShowDebugLine(line); }

// A file known to be grey has its red plane read and copied to green and
// blue: the same planes as reading all three.
void ReadTempFile(Session& s, const std::string& name, int32_t box[4], bool knownGrey) {
  BinaryFile f;
  f.OpenRead(name);
  uint8_t head[24];
  f.ReadExactly(0, head, sizeof head);
  uint64_t a = 0;
  for (int k = 7; k >= 0; --k) a = (a << 8) | head[k];
  std::memcpy(&s.stack.StackAngle, &a, 8);
  for (int q = 0; q < 4; ++q) {
    uint32_t u = 0;
    for (int k = 3; k >= 0; --k) u = (u << 8) | head[8 + 4 * q + k];
    box[q] = static_cast<int32_t>(u);
  }
  const int64_t offset = 24;
  Plane<int32_t>* const planes[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
  // Planes already of the stack's size, and a file long enough to fill them:
  // read straight over them, without clearing them first. Anything else (or
  // a read that fails) takes the plain way, which leaves what it always left.
  const int32_t w1 = s.stack.StackW1, h1 = s.stack.StackH1;
  bool sized = w1 >= 0 && h1 >= 0;
  for (const Plane<int32_t>* p : planes) sized = sized && p->UBound1() == w1 && p->UBound2() == h1;
  auto read = [&](bool clear) {
    int64_t at = offset;
    for (Plane<int32_t>* p : planes) {
      if (clear) p->Redim(w1, h1);
      const size_t bytes = p->Size() * 4;
      f.ReadExactly(at, p->Data(), bytes);
      at += static_cast<int64_t>(bytes);
    }
  };
  const size_t planeBytes = planes[0]->Size() * 4;
  if (sized && f.Length() >= offset + 3 * static_cast<int64_t>(planeBytes)) {
    try {
      // Half the bytes each, the second half through a handle of its own:
      // copying out of the page cache goes about twice as fast on two cores.
      const size_t readPlanes = knownGrey ? 1 : 3;
      RunInTwo([&](int part, int parts) {
        const size_t total = readPlanes * planeBytes, half = total / 2;
        const size_t from = part == 0 ? 0 : half, to = parts == 1 || part == 1 ? total : half;
        BinaryFile own;
        if (part == 1) own.OpenRead(name);
        BinaryFile& file = part == 1 ? own : f;
        for (size_t p = 0; p < readPlanes; ++p) {
          const size_t lo = std::max(from, p * planeBytes), hi = std::min(to, (p + 1) * planeBytes);
          if (lo < hi)
            file.ReadExactly(offset + static_cast<int64_t>(lo),
                             reinterpret_cast<uint8_t*>(planes[p]->Data()) + (lo - p * planeBytes), hi - lo);
        }
        // A grey file's red is its green and blue: each core copies the half it read.
        if (knownGrey) {
          const uint8_t* red = reinterpret_cast<const uint8_t*>(planes[0]->Data());
          for (int p = 1; p < 3; ++p)
            std::memcpy(reinterpret_cast<uint8_t*>(planes[p]->Data()) + from, red + from, to - from);
        }
      });
      return;
    } catch (const RuntimeError&) {
    }
  }
  read(true);
}

// The source frame of the weights: the centre of the source planes and the
// inverse of the tent's half widths.
struct SourceFrame {
  double cxS, cyS, ix, iy;
  int xmax, ymax;  // the last column and row the edge cut keeps
};

double WeightAt(const Weighting& wt, const SourceFrame& f, int xs, int ys) {
  const double wx = 1 - std::fabs(xs - f.cxS) * f.ix, wy = 1 - std::fabs(ys - f.cyS) * f.iy;
  if (wt.circle) {
    const double d = std::sqrt((xs - wt.cx) * (xs - wt.cx) + (ys - wt.cy) * (ys - wt.cy));
    if (wt.blend) return d < wt.r ? 1 - d / (wt.r + 1) : std::min(wt.outside * std::min(wx, wy), 1 - wt.r / (wt.r + 1));
    return d < wt.r ? 1 : 0;
  }
  return wt.blend ? std::min(wx, wy) : 1;
}

}  // namespace

Weighting WeightingOf(const Options& o, int32_t w1, int32_t h1) {
  Weighting wt;
  wt.circle = o.Has(CircCrop);
  wt.blend = o.Has(ProgBlend);
  if (wt.circle) {
    wt.cx = static_cast<double>(o.FovX) * w1;
    wt.cy = static_cast<double>(o.FovY) * h1;
    wt.r = static_cast<double>(o.FovR) * h1 + 1;
  }
  wt.outside = o.FovF;
  wt.edge = o.Has(EdgeCut) ? o.EdgeSize : 0;
  return wt;
}

namespace {

// For every destination row yd of the clamped box, rowOf(yd) gives what
// takes its samples, called as (xd, xs, ys, w) for every destination pixel
// that a source pixel (xs, ys) of upper bounds (u1, u2) reaches with a
// weight w above 0, nearest-neighbour, and `yield` after each destination
// row whose y is a multiple of 4: false when it says stop. The rows between
// two stop tests are shared by both cores, each row on one of them, so that
// every value is the one the single loop gives and a stop leaves the same
// rows done. Only where no pixel can fail: a failure must leave the pixels
// before it done and none after, as one loop does. The source position is
// affine in the destination's, so the corners bound it; a non-negative edge
// keeps it inside the planes.
template <class RowOf>
bool ForEachSample(int u1, int u2, int wd, int hd, const Weighting& weighting, const Placement& placement,
                   const YieldPoint& yield, const RowOf& rowOf) {
  SourceFrame f;
  f.cxS = u1 * 0.5;
  f.cyS = u2 * 0.5;
  f.ix = 1 / (f.cxS + 1);
  f.iy = 1 / (f.cyS + 1);
  const int e = weighting.edge;
  f.xmax = u1 - e;
  f.ymax = u2 - e;

  // The box's centre is taken before the box is clamped to the destination.
  const double cxD = (placement.minX + placement.maxX) * 0.5, cyD = (placement.minY + placement.maxY) * 0.5;
  const int x0 = static_cast<int>(std::clamp(placement.minX, 0.0, static_cast<double>(wd)));
  const int x1 = static_cast<int>(std::clamp(placement.maxX, 0.0, static_cast<double>(wd)));
  const int y0 = static_cast<int>(std::clamp(placement.minY, 0.0, static_cast<double>(hd)));
  const int y1 = static_cast<int>(std::clamp(placement.maxY, 0.0, static_cast<double>(hd)));
  const double c = std::cos(placement.angle), sn = std::sin(placement.angle);
  const bool even = !weighting.circle && !weighting.blend;  // every sample weighs 1
  bool canFail = e < 0;
  for (const int yd : {y0, y1})
    for (const int xd : {x0, x1}) {
      const double rx = xd - cxD, ry = yd - cyD;
      const double xs = rx * c + ry * sn + f.cxS, ys = -rx * sn + ry * c + f.cyS;
      if (!(std::fabs(xs) < 32000 && std::fabs(ys) < 32000)) canFail = true;
    }
  // A frame that is not turned takes every row through the same source
  // columns and each row from one source row: ry * sn and rx * sn are zeros,
  // which leave the sums they join unchanged, so the loop's own expressions
  // less those terms give the columns once and each row's source row once.
  const bool unturned = sn == 0 && c == 1 && !canFail && x0 <= x1;
  std::vector<int> columnOf;
  if (unturned) {
    columnOf.resize(static_cast<size_t>(x1 - x0 + 1));
    for (int xd = x0; xd <= x1; ++xd) {
      const double rx = xd - cxD;
      columnOf[static_cast<size_t>(xd - x0)] = CInt(RoundHalfEven(rx * c + f.cxS));
    }
  }
  auto sampleRow = [&](int yd) {
    const double ry = yd - cyD;
    const auto sample = rowOf(yd);
    if (unturned) {
      const int ys = CInt(RoundHalfEven(ry * c + f.cyS));
      if (ys < e || ys > f.ymax) return;
      for (int xd = x0; xd <= x1; ++xd) {
        const int xs = columnOf[static_cast<size_t>(xd - x0)];
        if (xs < e || xs > f.xmax) continue;
        const double w = even ? 1.0 : WeightAt(weighting, f, xs, ys);
        if (w > 0) sample(xd, xs, ys, w);
      }
      return;
    }
    for (int xd = x0; xd <= x1; ++xd) {
      const double rx = xd - cxD;
      const int xs = CInt(RoundHalfEven(rx * c + ry * sn + f.cxS));
      const int ys = CInt(RoundHalfEven(-rx * sn + ry * c + f.cyS));
      if (xs < e || xs > f.xmax || ys < e || ys > f.ymax) continue;
      // A negative edge lets the test above reach outside the planes.
      if (xs < 0 || xs > u1 || ys < 0 || ys > u2) Raise(kErrSubscript);
      const double w = even ? 1.0 : WeightAt(weighting, f, xs, ys);
      if (w > 0) sample(xd, xs, ys, w);
    }
  };
  int yd = y0;
  while (yd <= y1) {
    // Up to the next row that ends with a stop test.
    const int last = std::min(y1, yd + (4 - yd % 4) % 4);
    if (canFail || last == yd) {
      for (int y = yd; y <= last; ++y) sampleRow(y);
    } else {
      const int first = yd;
      RunInTwo([&](int part, int parts) {
        int from, to;
        ShareOf(first, last, part, parts, from, to);
        for (int y = from; y <= to; ++y) sampleRow(y);
      });
    }
    if (last % 4 == 0 && !GoOn(yield)) return false;
    yd = last + 1;
  }
  return true;
}

}  // namespace

bool ResampleImage(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b,
                   const PlaneView<float> (&sum)[3], const PlaneView<float> (&weight)[3], const Weighting& weighting,
                   const Placement& placement, const YieldPoint& yield, int colours) {
  RequireSameSize(r, g, b);
  const int wd = sum[0].UBound1(), hd = sum[0].UBound2();
  for (int p = 0; p < 3; ++p)
    if (!sum[p].SameSize(wd + 1, hd + 1) || !weight[p].SameSize(wd + 1, hd + 1)) Raise(kErrSubscript);
  if (sum[0].Empty()) return true;
  const ConstPlaneView<int32_t> src[3] = {r, g, b};
  colours = std::clamp(colours, 1, 3);
  return ForEachSample(r.UBound1(), r.UBound2(), wd, hd, weighting, placement, yield, [&](int yd) {
    float* const sums[3] = {sum[0].Row(yd), sum[1].Row(yd), sum[2].Row(yd)};
    float* const weights[3] = {weight[0].Row(yd), weight[1].Row(yd), weight[2].Row(yd)};
    return [&src, sums, weights, colours](int xd, int xs, int ys, double w) {
      for (int p = 0; p < colours; ++p) {
        const int32_t v = src[p].Row(ys)[xs];
        if (v <= 0) continue;
        float& wv = weights[p][xd];
        float& sv = sums[p][xd];
        wv = static_cast<float>(wv + w);
        sv = static_cast<float>(sv + v * w);
      }
    };
  });
}

bool GreyPlanes(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b) {
  RequireSameSize(r, g, b);
  const size_t row = static_cast<size_t>(r.UBound1() + 1) * sizeof(int32_t);
  // Each core compares half of the rows.
  bool differ[2] = {false, false};
  RunInTwo([&](int part, int parts) {
    int from, to;
    ShareOf(0, r.UBound2(), part, parts, from, to);
    for (int y = from; y <= to && !differ[part]; ++y)
      differ[part] = std::memcmp(r.Row(y), g.Row(y), row) != 0 || std::memcmp(r.Row(y), b.Row(y), row) != 0;
  });
  return !differ[0] && !differ[1];
}

bool ResampleToLayer(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b, int wd, int hd,
                     const Weighting& weighting, const Placement& placement, const YieldPoint& yield, Layer& layer) {
  RequireSameSize(r, g, b);
  layer.x0 = static_cast<int>(std::clamp(placement.minX, 0.0, static_cast<double>(wd)));
  layer.x1 = static_cast<int>(std::clamp(placement.maxX, 0.0, static_cast<double>(wd)));
  layer.y0 = static_cast<int>(std::clamp(placement.minY, 0.0, static_cast<double>(hd)));
  layer.y1 = static_cast<int>(std::clamp(placement.maxY, 0.0, static_cast<double>(hd)));
  layer.weighted = weighting.circle || weighting.blend;
  layer.grey = GreyPlanes(r, g, b);
  const size_t w = layer.Width(), sampleBytes = layer.SampleBytes();
  layer.bytes.assign(w * layer.Height() * sampleBytes, 0);
  const ConstPlaneView<int32_t> src[3] = {r, g, b};
  const int planes = layer.grey ? 1 : 3;
  const size_t valueAt = layer.weighted ? sizeof(double) : 0;
  return ForEachSample(r.UBound1(), r.UBound2(), wd, hd, weighting, placement, yield, [&](int yd) {
    uint8_t* const row = layer.bytes.data() + static_cast<size_t>(yd - layer.y0) * w * sampleBytes;
    const int x0 = layer.x0;
    return [&src, row, x0, sampleBytes, valueAt, planes](int xd, int xs, int ys, double wt) {
      uint8_t* const at = row + static_cast<size_t>(xd - x0) * sampleBytes;
      if (valueAt) std::memcpy(at, &wt, sizeof wt);
      for (int p = 0; p < planes; ++p) std::memcpy(at + valueAt + p * sizeof(int32_t), &src[p].Row(ys)[xs], 4);
    };
  });
}

namespace {

// The destination's green and blue held back while only grey frames come:
// they are red's copies, made when a frame in colour comes and whenever
// the combination ends (a stop, an error, the end), so that every way out
// leaves the six planes as summing all three colours would.
class GreyNight {
 public:
  explicit GreyNight(Destination& d) : d_(d) {}
  ~GreyNight() { CatchUp(); }
  GreyNight(const GreyNight&) = delete;
  GreyNight& operator=(const GreyNight&) = delete;
  // Whether this frame may add to red alone.
  bool Grey(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, bool knownGrey) {
    if (colour_ || !(knownGrey || GreyPlanes(r, g, b))) {
      CatchUp();
      colour_ = true;
      return false;
    }
    behind_ = true;
    return true;
  }

 private:
  void CatchUp() {
    if (!behind_) return;
    d_.DestSumG = d_.DestSumB = d_.DestSumR;
    d_.DestWeightG = d_.DestWeightB = d_.DestWeightR;
    behind_ = false;
  }
  Destination& d_;
  bool behind_ = false, colour_ = false;
};

bool Combine(Session& s, bool expand, std::vector<int>* combined) {
  if (s.stack.StackCount == 0) return false;
  const Weighting wt = WeightingOf(s.opt, s.stack.StackW1, s.stack.StackH1);
  const int16_t mode = static_cast<int16_t>((s.opt.UseMask & MedianMode) / 2048);

  int32_t wd, hd;
  if (expand) {
    wd = CheckedLong(int64_t{s.stack.CanvasMaxX} - s.stack.CanvasMinX);
    hd = CheckedLong(int64_t{s.stack.CanvasMaxY} - s.stack.CanvasMinY);
  } else {
    wd = s.stack.StackW1;
    hd = s.stack.StackH1;
    s.stack.CanvasMinX = s.stack.CanvasMinY = 0;
  }
  // Images that were stacked without any data (their processing failed)
  // leave no extent: that is a subscript error, not a lack of memory.
  if (wd < 0 || hd < 0) Raise(kErrSubscript);
  if ((int64_t{wd} + 1) * (int64_t{hd} + 1) > kMaxCanvasPixels) Raise(kErrOutOfMemory);
  const std::string t = "W=" + std::to_string(wd + 1) + "  H=" + std::to_string(hd + 1);
  // The combination shows how far it has come from nothing again: the
  // files read (the first half when the bands of a rejection follow).
  s.progress.Report(t, 0);
  s.progress.Yield();
  Destination& d = s.dest;
  for (Plane<float>* p : {&d.DestSumR, &d.DestSumG, &d.DestSumB, &d.DestWeightR, &d.DestWeightG, &d.DestWeightB})
    p->Redim(wd, hd);
  s.progress.Yield();

  const PlaneView<float> sum[3] = {d.DestSumR, d.DestSumG, d.DestSumB};
  const PlaneView<float> weight[3] = {d.DestWeightR, d.DestWeightG, d.DestWeightB};
  const RejectRule rule = RejectRuleOf(s.opt);
  const bool rejecting = rule.mode != kRejectNone;
  // While every frame is grey, green and blue would add what red adds: red
  // alone is summed, and copied to them however the combination ends.
  GreyNight greySoFar(d);
  std::vector<ParkedLayer> layers;
  Layer layer;
  uint64_t heldBytes = 0;
  for (int k = 1; k <= s.stack.StackCount; ++k) {
    std::string caption = t + " - " + std::to_string(k) + "/" + std::to_string(s.stack.StackCount);
    s.progress.Report(caption, (rejecting ? 0.5 : 1.0) * (k - 1) / s.stack.StackCount);
    const std::string name = TempFileName(s, k);
    if (!FileExists(name)) continue;
    caption += " Ok";
    s.progress.Report(caption);
    Log(s, caption);
    int32_t box[4];
    const bool knownGrey = s.stack.KnownGreyFiles.count(name) > 0;
    ReadTempFile(s, name, box, knownGrey);
    std::remove(name.c_str());
    if (mode > 0) {
      caption += " Median";
      s.progress.Report(caption);
      Log(s, caption);
      MedianFilter(s, mode);
    }
    // The box moves to canvas coordinates.
    Placement at;
    at.minX = static_cast<double>(box[0]) - s.stack.CanvasMinX;
    at.maxX = static_cast<double>(box[2]) - s.stack.CanvasMinX;
    at.minY = static_cast<double>(box[1]) - s.stack.CanvasMinY;
    at.maxY = static_cast<double>(box[3]) - s.stack.CanvasMinY;
    at.angle = s.stack.StackAngle;
    if (rejecting) {
      // Each frame is kept resampled, in a layer of its own, until all of
      // them can be compared pixel by pixel.
      caption += " Rejet";
      s.progress.Report(caption);
      Log(s, caption);
      ParkedLayer parked;
      parked.k = k;
      if (!ResampleToLayer(s.pic.PicR, s.pic.PicG, s.pic.PicB, wd, hd, wt, at, s.progress.WhileStillRunning(), layer))
        return false;
      if (rule.normalise) parked.background = BackgroundOf(s.pic.PicR, s.pic.PicG, s.pic.PicB);
      parked.x0 = layer.x0, parked.y0 = layer.y0, parked.x1 = layer.x1, parked.y1 = layer.y1;
      parked.weighted = layer.weighted;
      parked.grey = layer.grey;
      if (heldBytes + layer.bytes.size() <= HeldLayerBytes()) {
        // Small nights stay in memory: no file to write and read back.
        heldBytes += layer.bytes.size();
        parked.held = std::make_shared<const std::vector<uint8_t>>(std::move(layer.bytes));
        layer.bytes = {};
        layers.push_back(std::move(parked));
      } else if (WriteLayerFile(LayerFileName(s, k), layer)) {
        // A layer that cannot be written leaves its frame out, as a parked
        // image that could not be written is left out.
        layers.push_back(std::move(parked));
      }
      continue;
    }
    caption += " Sum";
    s.progress.Report(caption);
    Log(s, caption);
    const bool grey = greySoFar.Grey(s.pic.PicR, s.pic.PicG, s.pic.PicB, knownGrey);
    if (!ResampleImage(s.pic.PicR, s.pic.PicG, s.pic.PicB, sum, weight, wt, at, s.progress.WhileStillRunning(),
                       grey ? 1 : 3))
      return false;
    if (combined) combined->push_back(k);
  }
  if (rejecting) return CombineLayers(s, layers, rule, t, combined);
  return true;
}

}  // namespace

Outcome CombineStack(Session& s, bool expand, std::vector<int>* combined) {
  Outcome result = Outcome::Failure("");
  if (combined) combined->clear();
  try {
    if (Combine(s, expand, combined)) result = Outcome::Success();
  } catch (const RuntimeError& err) {
    Log(s, " Erreur " + std::to_string(err.Number()));
    result = Outcome::From(err);
  } catch (const std::bad_alloc&) {
    Log(s, " Erreur 7");
    result = Outcome::Failure("Mémoire insuffisante", kErrOutOfMemory);
  }
  DeleteTempFiles(s);
  return result;
}

int32_t MedianOf(int16_t n, std::vector<int32_t>& values) {
  if (n <= 0) return 0;
  const int k = (n - 1) / 2 + 1;
  for (int i = 1; i <= k; ++i)
    for (int j = i + 1; j <= n; ++j)
      if (values[static_cast<size_t>(j)] < values[static_cast<size_t>(i)])
        std::swap(values[static_cast<size_t>(i)], values[static_cast<size_t>(j)]);
  return values[static_cast<size_t>(k)];
}

int32_t MiddleOfNine(int32_t* v) {
  // A fixed network of 19 exchanges that leaves the fifth smallest of nine
  // values in v[4].
  auto order = [v](int a, int b) {
    const int32_t lo = std::min(v[a], v[b]), hi = std::max(v[a], v[b]);
    v[a] = lo;
    v[b] = hi;
  };
  order(1, 2), order(4, 5), order(7, 8), order(0, 1), order(3, 4), order(6, 7), order(1, 2), order(4, 5);
  order(7, 8), order(0, 3), order(5, 8), order(4, 7), order(3, 6), order(1, 4), order(2, 5), order(4, 7);
  order(4, 2), order(6, 4), order(4, 2);
  return v[4];
}

void MedianFilter(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, int16_t mode, int32_t limit,
                  const YieldPoint& yield) {
  const int u1 = r.UBound1(), u2 = r.UBound2();
  RequireSameSize(r, g, b);
  int lo = -1, hi = 1;
  if (mode == 2)
    hi = 2;
  else if (mode == 3)
    lo = -2, hi = 2;
  const PlaneView<int32_t> planes[3] = {r, g, b};
  Plane<int32_t> med[3];
  // One row of one plane's medians, columns from..to.
  auto medianRow = [&](int p, int y, int from, int to) {
    const PlaneView<int32_t> src = planes[p];
    int32_t* out = med[p].Row(y);
    int32_t window[25];
    for (int x = from; x <= to; ++x) {
      int n = 0;
      for (int wy = std::max(0, y + lo); wy <= std::min(u2, y + hi); ++wy) {
        const int32_t* row = src.Row(wy);
        for (int wx = std::max(0, x + lo); wx <= std::min(u1, x + hi); ++wx)
          if (row[wx] > 0) window[n++] = row[wx];
      }
      // The k-th smallest value is unique, so selecting it directly gives
      // what the partial exchange sort of MedianOf gives.
      int32_t m = 0;
      if (n == 9) {
        m = MiddleOfNine(window);
      } else if (n > 0) {
        const int k = (n - 1) / 2;
        std::nth_element(window, window + k, window + n);
        m = window[k];
      }
      out[x] = m;
    }
  };
  for (int p = 0; p < 3; ++p) {
    med[p].Redim(u1, u2);
    for (int y = 0; y <= u2; ++y) {
      // The columns of a row on both cores; the row's stop test after both.
      RunInTwo([&](int part, int parts) {
        int from, to;
        ShareOf(0, u1, part, parts, from, to);
        medianRow(p, y, from, to);
      });
      if (!GoOn(yield)) return;
    }
  }
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y <= u2; ++y) {
      int32_t* dst = planes[p].Row(y);
      const int32_t* m = med[p].Row(y);
      for (int x = 0; x <= u1; ++x)
        if (m[x] <= limit) dst[x] = m[x];
    }
}

void MedianFilter(Session& s, int16_t mode) {
  MedianFilter(s.pic.PicR, s.pic.PicG, s.pic.PicB, mode, s.opt.MedianLimit, s.progress.WhileStillRunning());
}

std::string BaseName(const Session& s) {
  if (s.ImageCount() < 1) return std::string();
  std::string base = PathName(s.Img[1].ImgFile);
  for (int i = 2; i <= s.ImageCount(); ++i) {
    const std::string name = PathName(s.Img[static_cast<size_t>(i)].ImgFile);
    const size_t shorter = std::min(base.size(), name.size());
    for (size_t j = 1; j <= shorter; ++j) {
      if (LCase(base.substr(j - 1, 2)) != LCase(name.substr(j - 1, 2))) {
        base = base.substr(0, std::max<size_t>(j - 1, 1));
        break;
      }
    }
  }
  return base;
}

bool MeasureDestination(Session& s) {
  std::fill(s.dest.DestHisto.begin(), s.dest.DestHisto.end(), 0);
  int32_t lo = 65535, hi = 0;
  const Plane<float>* sum[3] = {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB};
  const Plane<float>* weight[3] = {&s.dest.DestWeightR, &s.dest.DestWeightG, &s.dest.DestWeightB};
  const size_t count = s.dest.DestSumR.Size();
  for (size_t k = 0; k < count; ++k) {
    double v = 0;
    for (int p = 0; p < 3; ++p) {
      const float w = weight[p]->Data()[k];
      if (w > 0) v = std::max(v, CLng(sum[p]->Data()[k]) / static_cast<double>(w));
    }
    if (v > 0) {
      v = std::min(v, 65535.0);
      const int32_t r = CLng(v);
      hi = std::max(hi, r);
      lo = std::min(lo, r);
      s.dest.DestHisto[static_cast<size_t>(r)]++;
    }
  }
  if (hi - lo <= 0) return false;
  s.dest.DestHistoMax = *std::max_element(s.dest.DestHisto.begin(), s.dest.DestHisto.end());
  return true;
}

Outcome FinalCombination(Session& s, bool expand, std::string& destination, std::vector<int>* combined) {
  destination.clear();
  Outcome ownError = Outcome::Success();
  try {
    if (Outcome result = CombineStack(s, expand, combined); !result) return result;
    if (!MeasureDestination(s)) return Outcome::Failure("");
    const std::string base = BaseName(s);
    std::string folder = s.opt.OutDir;
    if (folder.empty() || folder.back() != '/') folder += '/';
    for (int n = 1;; ++n) {
      s.dest.DestFileName = folder + base + "_" + std::to_string(n) + ".bmp";
      if (!FileExists(s.dest.DestFileName)) {
        destination = base + "_" + std::to_string(n) + ".bmp";
        return Outcome::Success();
      }
    }
  } catch (const RuntimeError& err) {
    ownError = Outcome::From(err);
  } catch (const std::bad_alloc&) {
    // Storage refused by the machine, not a run-time error of the program:
    // it is shown, but carries no error number.
    ownError = Outcome::Failure("Mémoire insuffisante");
  }
  // The final step's own errors are shown; the combination's were logged.
  if (!ownError.why.empty()) s.messages->MsgBox(ownError.why);
  return ownError;
}

}  // namespace qv
