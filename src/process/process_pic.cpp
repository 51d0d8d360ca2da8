#include "process/process_pic.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "core/paths.h"
#include "io/file.h"
#include "io/picture.h"
#include "io/tiff_reader.h"
#include "process/cfa.h"
#include "process/defects.h"
#include "process/fuse.h"
#include "process/gradient.h"
#include "process/image_files.h"
#include "process/pixel_rows.h"

namespace qv {

namespace {

// A failing step: the call ends with false and the reason in words.
struct StepFailure {
  std::string why;
};

[[noreturn]] void Fail(std::string why) { throw StepFailure{std::move(why)}; }

std::string SizeText(int w, int h) { return std::to_string(w) + " x " + std::to_string(h); }

// The file bytes of one image. Their buffer is kept for the next image of
// the thread: a frame's worth of fresh memory costs more to fault in than to
// read. An image read while another is being read (shown from a yield)
// takes a buffer of its own.
thread_local std::vector<uint8_t> t_kept;
thread_local bool t_lent = false;
// A buffer larger than this goes back to the system after its image.
constexpr size_t kKeptBytes = size_t{256} << 20;

// The sample buffer of one image: values of b bytes, big-endian, x fastest,
// then y, then the plane. A reduced image keeps only the rows it uses,
// every `rowStep`-th one.
struct Samples {
  std::vector<uint8_t> bytes;
  int b = 0, w = 0, h = 0, planes = 0;
  int rowStep = 1, rows = 0;  // rows held per plane
  // A data unit that starts at or past the end of the file holds no bytes:
  // every row reads as zero bytes, without a buffer of the unit's size.
  bool empty = false;
  bool kept = false;
  Samples() {
    if (!t_lent) {
      bytes.swap(t_kept);
      t_lent = kept = true;
    }
  }
  ~Samples() { Release(); }
  Samples(const Samples&) = delete;
  Samples& operator=(const Samples&) = delete;
  void Release() {
    if (kept && bytes.capacity() <= kKeptBytes) {
      bytes.swap(t_kept);
    } else {
      std::vector<uint8_t>().swap(bytes);
    }
    if (kept) t_lent = false;
    kept = false;
  }
  const uint8_t* Row(int plane, int y) const {
    if (empty) return bytes.data();
    return bytes.data() + ((static_cast<size_t>(plane) * rows + y / rowStep) * w) * b;
  }
};

// After a floating-point row failed to decode: the position in the row of
// the value that failed, when that value is not a number or is infinite;
// -1 when the failure was an ordinary value out of range.
int NotANumberAt(const uint8_t* row, int bitpix, int step, int count) {
  const int b = BytesPerValue(bitpix);
  for (int i = 0; i < count; ++i) {
    const uint8_t* p = row + static_cast<size_t>(i) * step * b;
    try {
      bitpix == -32 ? DecodeFitsFloat(p) : DecodeFitsDouble(p);
    } catch (const RuntimeError&) {
      uint64_t u = 0;
      for (int k = 0; k < b; ++k) u = (u << 8) | p[k];
      const double v = bitpix == -32 ? static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(u)))
                                     : std::bit_cast<double>(u);
      return std::isfinite(v) ? -1 : i;
    }
  }
  return -1;
}

void Allocate(std::vector<uint8_t>& v, size_t n) {
  try {
    v.assign(n, 0);
  } catch (const std::bad_alloc&) {
    Raise(kErrOutOfMemory);
  }
}

// Room for n bytes that are about to be read over: only new room is cleared.
void RoomFor(std::vector<uint8_t>& v, size_t n) {
  try {
    if (v.size() < n) v.resize(n);
  } catch (const std::bad_alloc&) {
    Raise(kErrOutOfMemory);
  }
}

// A file may declare any size; what the program would have to allocate for
// it is bounded before anything is made. A file cut short is told so first,
// since that is what its reader can mend.
void CheckBudget(const Samples& buf, const std::string& path) {
  if (int64_t{buf.w} * buf.h * buf.planes > kMaxImageValues)
    Fail("taille d'image démesurée (" + SizeText(buf.w, buf.h) + " pixels" +
         (buf.planes > 1 ? ", " + std::to_string(buf.planes) + " plans" : std::string()) + ") : " + path);
}

void ReadFitsSamples(const std::string& path, const ImageEntry& e, HeaderResult header, int step, Samples& buf) {
  const size_t need = static_cast<size_t>(buf.b) * buf.w * buf.h * buf.planes;
  BinaryFile f;
  f.OpenRead(path);
  const int64_t start = static_cast<int64_t>(e.ImgDataPos) - 1;
  const int64_t length = f.Length();
  // The data unit is read in one piece; checking it is all there before the
  // buffer is made keeps an absurd header from claiming gigabytes.
  if (start >= length && start >= 0) {
    // Without an END card the whole file was taken for the header, so no
    // byte of data is found: the samples are zeros. An image too large to
    // be made of nothing is refused.
    if (static_cast<int64_t>(buf.w) * buf.h > (int64_t{1} << 26))
      Fail("en-tête sans données (" + std::to_string(need) + " octets attendus) : " + path);
    buf.empty = true;
    Allocate(buf.bytes, static_cast<size_t>(buf.w) * buf.b);
    return;
  }
  if (start < 0 || length - start < static_cast<int64_t>(need)) {
    if (header == HeaderResult::NoEndCard) Fail("en-tête sans carte END : " + path);
    Fail("données FITS tronquées (" + std::to_string(need) + " octets attendus, " +
         std::to_string(std::max<int64_t>(0, length - std::max<int64_t>(0, start))) + " présents) : " + path);
  }
  CheckBudget(buf, path);
  if (step <= 1) {
    RoomFor(buf.bytes, need);
    f.ReadExactly(start, buf.bytes.data(), need);
    return;
  }
  // A reduced image (a thumbnail) reads only the rows it shows.
  buf.rowStep = step;
  buf.rows = (buf.h - 1) / step + 1;
  const size_t row = static_cast<size_t>(buf.b) * buf.w;
  RoomFor(buf.bytes, row * buf.rows * buf.planes);
  uint8_t* to = buf.bytes.data();
  for (int p = 0; p < buf.planes; ++p)
    for (int y = 0; y < buf.h; y += step, to += row)
      f.ReadExactly(start + static_cast<int64_t>((static_cast<size_t>(p) * buf.h + y) * row), to, row);
}

void PicturePixelsToSamples(Session& s, int wr, int hr, int step, Samples& buf) {
  Allocate(buf.bytes, static_cast<size_t>(buf.w) * buf.h * 3);
  for (int yo = 0; yo <= hr; ++yo) {
    const int y = yo * step;
    for (int xo = 0; xo <= wr; ++xo) {
      const int x = xo * step;
      const int32_t px = s.pic.PicPixels.At(x, y);
      const size_t at = static_cast<size_t>(y) * buf.w + x;
      const size_t plane = static_cast<size_t>(buf.w) * buf.h;
      buf.bytes[at] = static_cast<uint8_t>((px >> 16) & 255);
      buf.bytes[plane + at] = static_cast<uint8_t>((px >> 8) & 255);
      buf.bytes[2 * plane + at] = static_cast<uint8_t>(px & 255);
    }
  }
}

// Decodes plane p of file row y, every `step` values, into `out`. A value
// that is not a number is a failure that names its position.
void DecodeFileRow(const Samples& buf, const ImageEntry& e, int p, int y, int step, const std::string& path,
                   std::vector<int32_t>& out) {
  const int n = static_cast<int>(out.size());
  try {
    DecodeRow(buf.Row(p, y), e.ImgBitpix, e.ImgBzero, step, n, out.data());
  } catch (const RuntimeError& err) {
    // Still a failure, but one a user can act on only if told what it is.
    const int at =
        err.Number() == kErrOverflow && e.ImgBitpix < 0 ? NotANumberAt(buf.Row(p, y), e.ImgBitpix, step, n) : -1;
    if (at >= 0)
      Fail(std::string(kNotNumbersMessage) + " (la première au pixel x " + std::to_string(at * step) + ", y " +
           std::to_string(y) + " du plan " + std::to_string(p + 1) + ") : " + path);
    throw;
  }
}

bool Body(Session& s, int index, int step, bool& grey) {
  // 1. Path and kind.
  const std::string path = ImagePath(s, index);
  const std::string kind = FileKind(path);
  const bool fits = IsFitsKind(kind);
  if (!FileExists(path)) Fail(path.empty() ? "aucun fichier" : "fichier introuvable : " + path);
  if (IsSpecialFile(path)) Fail(std::string(kNotRegularFile) + " : " + path);

  // 2. Header; master files use slot 0 from here on.
  const HeaderResult header = ReadHeader(s, index);
  if (index < 0) index = 0;
  ImageEntry& e = s.Entry(index);

  // 3. Pictures are decoded whole; a TIFF is read from its strips instead.
  if (!fits && kind != "tif") {
    const Outcome loaded = LoadPictureToPixels(s.platform.loader, path, s.pic.PicPixels);
    if (!loaded) Fail(loaded.why);
  }

  // 4. Size check against the reference image.
  const ImageEntry& mask = s.Img[0];
  int refW = e.ImgNaxis1, refH = e.ImgNaxis2;
  if (index >= 1) {
    const bool maskRule =
        mask.ImgNaxis1 == e.ImgNaxis1 && mask.ImgNaxis1 != 0 && s.opt.Has(HotMaskOn) && mask.ImgNaxis2 == e.ImgNaxis2;
    if (!maskRule) {
      const ImageEntry& first = s.Entry(1);
      refW = first.ImgNaxis1;
      refH = first.ImgNaxis2;
    }
  }
  if (e.ImgNaxis < 1 || e.ImgNaxis1 < 2 || e.ImgNaxis2 < 2) {
    // A header read when the list was filled is not read again; what its
    // reading met is asked of a scratch entry so the refusal says why.
    HeaderResult why = header;
    if (fits && why == HeaderResult::AlreadyRead) {
      ImageEntry scratch;
      Plane<int32_t> unused;
      why = ReadHeader(path, scratch, nullptr, unused);
    }
    switch (why) {
      case HeaderResult::Truncated:
        Fail("en-tête FITS tronqué : " + path);
      case HeaderResult::Empty:
        Fail("fichier vide : " + path);
      case HeaderResult::NoEndCard:
        Fail("en-tête sans carte END : " + path);
      case HeaderResult::NotRegularFile:
        Fail(std::string(kNotRegularFile) + " : " + path);
      case HeaderResult::Unreadable:
        Fail(UnreadableHeaderWords(path) + " : " + path);
      default:
        Fail("dimensions invalides (NAXIS " + std::to_string(e.ImgNaxis) + ", " + SizeText(e.ImgNaxis1, e.ImgNaxis2) +
             ") : " + path);
    }
  }
  // An unreadable first image leaves no size to compare with: saying so
  // beats "0 x 0" in every later frame's refusal.
  if (refW < 1 || refH < 1) Fail("l'image de référence (image 1) est illisible, sa taille est inconnue : " + path);
  if (e.ImgNaxis1 != refW || e.ImgNaxis2 != refH)
    Fail("taille différente de l'image de référence (" + SizeText(e.ImgNaxis1, e.ImgNaxis2) + " au lieu de " +
         SizeText(refW, refH) + ") : " + path);

  // 5. Bytes per value.
  const int b = BytesPerValue(e.ImgBitpix);
  if (b == 0) Fail("BITPIX non pris en charge : " + std::to_string(e.ImgBitpix));

  // 6. Plane routing of single-plane files.
  const int planesInFile = e.ImgNaxis3 < 3 ? 1 : 3;
  int16_t chan = 0;
  if (planesInFile == 1) {
    if (e.ImgNaxis < 2) Fail("nombre d'axes invalide (NAXIS " + std::to_string(e.ImgNaxis) + ")");
    if (!s.opt.Has(Mono)) chan = ChannelOf(s, e.ImgFile);
  }

  // 7. Output size.
  if (step == 0) step = 1;
  if (step < 0) Raise(kErrSubscript);
  const int W = e.ImgNaxis1, H = e.ImgNaxis2;
  const int wr = (W - 1) / step, hr = (H - 1) / step;

  // 8. Samples.
  Samples buf;
  buf.b = b;
  buf.w = W;
  buf.h = H;
  buf.planes = planesInFile;
  buf.rows = H;
  if (!FileExists(path)) Fail("fichier introuvable : " + path);
  if (fits) {
    ReadFitsSamples(path, e, header, step, buf);
  } else if (kind == "tif") {
    // The strips become the same big-endian planes a FITS data unit holds,
    // decoded below as BITPIX 8 or 16 with the BZERO 0 of a TIFF header.
    if (e.ImgBitpix != 8 && e.ImgBitpix != 16)
      Fail("TIFF à " + std::to_string(e.ImgBitpix) + " bits par échantillon non pris en charge : " + path);
    CheckBudget(buf, path);
    try {
      ReadTiffSamples(path, e.ImgDataPos, e.ImgBitpix, e.ImgNaxis3, W, H, buf.bytes);
    } catch (const TiffUnsupported& u) {
      Fail("TIFF non pris en charge (" + u.why + ") : " + path);
    }
  } else {
    if (b != 1 || planesInFile != 3) Raise(kErrTypeMismatch);
    PicturePixelsToSamples(s, wr, hr, step, buf);
  }
  s.pic.PicPixels.Redim(0, 0);

  // 9. Calibration applies to list images whose size matches the master.
  s.cal.UseHotMask = s.opt.Has(HotMaskOn) && s.cal.HotMask.HasSize(W, H) && index > 0;
  s.cal.UseDark = index > 0 && s.opt.Has(DarkSub) && s.cal.DarkR.HasSize(wr + 1, hr + 1);
  s.cal.UseFlat = s.cal.FlatMean > 0 && s.cal.FlatPic.HasSize(wr + 1, hr + 1) && index > 0 && s.opt.Has(FlatApply);

  // 10. Fresh planes and histogram. The pixel loop writes every row it
  // reaches; the rows a failure or a stop leaves are cleared on the way
  // out, so the planes hold what fresh ones would, without clearing them
  // all first.
  s.pic.PicR.RedimToOverwrite(wr, hr);
  s.pic.PicG.RedimToOverwrite(wr, hr);
  s.pic.PicB.RedimToOverwrite(wr, hr);
  struct Unreached {
    Plane<int32_t>* planes[3];
    int from = 0, to;
    ~Unreached() {
      for (Plane<int32_t>* p : planes)
        for (int y = from; y <= to; ++y) std::fill(p->Row(y), p->Row(y) + p->Width(), 0);
    }
  } unreached{{&s.pic.PicR, &s.pic.PicG, &s.pic.PicB}, 0, hr};
  s.pic.HasR = s.pic.HasG = s.pic.HasB = false;
  s.pic.Histo.fill(0);
  s.pic.HistoMax = 0;
  const int usedPlanes = std::min(2, planesInFile - 1) + 1;

  // 11. Pixel loop: each output row goes through the row steps; the stop
  // test comes after every fourth row.
  std::vector<int32_t> decoded[3];
  for (auto& r : decoded) r.resize(static_cast<size_t>(wr) + 1);
  const int32_t* planes[3] = {decoded[0].data(), decoded[1].data(), decoded[2].data()};
  std::vector<uint8_t> skip(s.cal.UseHotMask ? static_cast<size_t>(wr) + 1 : 0);
  const uint8_t* skipped = s.cal.UseHotMask ? skip.data() : nullptr;
  bool has[3] = {false, false, false};
  for (int yo = 0; yo <= hr; ++yo) {
    const int y = yo * step;
    for (int p = 0; p < usedPlanes; ++p) DecodeFileRow(buf, e, p, y, step, path, decoded[p]);
    const RgbRow row{{s.pic.PicR.Row(yo), s.pic.PicG.Row(yo), s.pic.PicB.Row(yo)}, wr + 1};
    RouteRow(planes, usedPlanes, chan, row);
    if (s.cal.UseHotMask) MaskRow(s.cal.HotMask.Row(y), step, row, skip.data());
    NoteData(row, has);
    // The masters are chosen by the reduced size but read at the file
    // position, so with a step above 1 a read can fall outside them.
    RowFault fault{row.n};
    if (s.cal.UseDark) {
      const ConstPlaneView<int32_t> darks[3] = {s.cal.DarkR, s.cal.DarkG, s.cal.DarkB};
      SubtractDark(row, darks, y, step, fault);
    }
    if (s.cal.UseFlat) ApplyFlat(row, skipped, s.cal.FlatPic, s.cal.FlatMean, y, step, fault);
    CountRow(row, skipped, s.pic.Histo, fault);
    // Row yo is written (a failing row is cleared from its failing pixel
    // just below).
    unreached.from = yo + 1;
    if (fault.number != 0) {
      // A failed image stays in the planes, and a run still tracks and may
      // stack it: they hold the pixels finished before the failing one and
      // nothing from it on.
      for (int32_t* v : row.v) std::fill(v + fault.end, v + row.n, 0);
      Raise(fault.number);
    }
    if (yo % 4 == 0) {
      s.pic.HasR = has[0];
      s.pic.HasG = has[1];
      s.pic.HasB = has[2];
      if (s.progress.StopRequested()) Fail("arrêt demandé");
    }
  }
  s.pic.HasR = has[0];
  s.pic.HasG = has[1];
  s.pic.HasB = has[2];

  // A single plane copied into all three stays grey through the mask and
  // the flat, which treat the three alike; darks have planes of their own.
  grey = planesInFile == 1 && chan == 0 && !s.cal.UseDark;

  // 12. Raw colour-filter-array readouts become colour.
  if (e.ImgFlags & FlagRawCfa) {
    grey = false;
    DecodeCfa(s, e.ImgFlags);
  }

  // 13. Levels.
  buf.Release();
  if (!ComputeLevels(s)) Fail("aucun pixel exploitable");

  // 14. Whole-image steps, list images only; each may treat the planes
  // apart, so a frame they reshape is no longer known grey.
  if (index > 0) {
    if (s.opt.Has(HotCalc) || s.opt.Has(Bin2x2) || s.opt.Has(GradRemove) || (s.cal.UseHotMask && s.opt.Has(MaskFill)))
      grey = false;
    if (s.opt.Has(HotCalc)) RemoveHotPixels(s);
    if ((s.cal.UseHotMask && s.opt.Has(MaskFill)) || (s.opt.Has(HotCalc) && s.opt.Has(CalcFill))) FillEmpty(s);
    if (s.opt.Has(Bin2x2)) Fuse2x2(s.pic.PicR, s.pic.PicG, s.pic.PicB);
    if (s.opt.Has(GradRemove)) {
      RemoveGradient(s);
      ComputeLevels(s);
    }
  }
  return true;
}

}  // namespace

int16_t ChannelOf(const Session& s, const std::string& file) {
  const std::string name = LCase(PathName(file));
  size_t p = InStr(name, ".f");
  if (p == 0) p = InStr(name, ".ti");
  if (p <= 1) return 0;
  for (int k = 0; k < 3; ++k)
    if (s.opt.ColorChk[k] > 0 && InStr(name, LCase(s.opt.ColorText[k])) > 0) return s.opt.ColorChk[k];
  switch (name[p - 2]) {
    case 'r':
      return 1;
    case 'g':
      return 2;
    case 'b':
      return 4;
    case 'c':
      return 6;
    default:
      return 0;
  }
}

bool ComputeLevels(Session& s) {
  s.pic.HistoMax = *std::max_element(s.pic.Histo.begin(), s.pic.Histo.end());
  s.pic.LevelMin = s.pic.LevelLow = 2048;
  s.pic.LevelMax = s.pic.LevelHigh = 0;
  if (s.pic.HistoMax < 1) return false;
  for (int i = 0; i < kHistoBins; ++i) {
    const double r = static_cast<double>(s.pic.Histo[static_cast<size_t>(i)]) / s.pic.HistoMax;
    if (r > 0) {
      if (i < s.pic.LevelMin && i > 0) s.pic.LevelMin = i;
      if (i > s.pic.LevelMax) s.pic.LevelMax = i;
    }
    if (r > 0.1) {
      if (i < s.pic.LevelLow) s.pic.LevelLow = i;
      if (i > s.pic.LevelHigh) s.pic.LevelHigh = i;
    }
  }
  return true;
}

Outcome ProcessPic(Session& s, int index, int step) {
  bool grey = false;
  return ProcessPic(s, index, step, grey);
}

Outcome ProcessPic(Session& s, int index, int step, bool& grey) {
  Outcome result = Outcome::Failure("");
  grey = false;
  try {
    if (Body(s, index, step, grey)) result = Outcome::Success();
  } catch (const StepFailure& f) {
    result = Outcome::Failure(f.why);
  } catch (const RuntimeError& err) {
    result = Outcome::From(err);
  } catch (const std::bad_alloc&) {
    result = Outcome::Failure("Mémoire insuffisante", kErrOutOfMemory);
  }
  // Common exit: the files were closed where they were opened; the
  // decoded picture is never kept.
  if (!result.ok && s.pic.PicPixels.Size() != 1) s.pic.PicPixels.Redim(0, 0);
  if (!result.ok) grey = false;
  return result;
}

}  // namespace qv
