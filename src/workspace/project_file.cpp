#include "workspace/project_file.h"

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/numeric.h"
#include "core/options.h"
#include "core/paths.h"
#include "stack/guide.h"
#include "stack/masters.h"
#include "workspace/option_table.h"

namespace qv {

namespace {

// The window starts with "Etendre la mosaïque" and "Auto" checked, and the
// guide box "32 x 32" selected (a box of 0 reads as no choice at all).
constexpr int16_t kDefaultExpand = 1;
constexpr int16_t kDefaultAutoLevels = 1;
constexpr int16_t kDefaultGuideBox = 32;

// ---------------------------------------------------------------------------
// Windows-1252

// Characters of the bytes 0x80..0x9F; 0 where the code page defines none.
constexpr std::array<char32_t, 32> kHigh = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t ByteToChar(unsigned char b) {
  if (b < 0x80 || b >= 0xA0) return b;
  const char32_t c = kHigh[b - 0x80];
  return c ? c : b;  // undefined bytes stand for the control character of the same number
}

// The byte of a character, or -1 when the code page has none.
int CharToByte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (size_t i = 0; i < kHigh.size(); ++i)
    if (kHigh[i] == c || (kHigh[i] == 0 && c == 0x80 + i)) return static_cast<int>(0x80 + i);
  return -1;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// ---------------------------------------------------------------------------
// Reading

// Lines of the project file, one at a time, converted to UTF-8. The bytes
// are read in chunks, so a long file is never held whole.
class LineReader {
 public:
  explicit LineReader(ByteSource& source) : source_(source) {}

  bool AtEnd() { return Peek() < 0; }

  // The next line; reading past the end is a run-time error.
  std::string Line() {
    if (AtEnd()) Raise(kErrInputPastEnd);
    ++number_;
    std::string raw;
    for (;;) {
      const int c = Get();
      if (c < 0 || c == '\n') break;
      if (c == '\r') {
        if (Peek() == '\n') Get();
        break;
      }
      if (raw.size() >= kMaxProjectLine) Raise(kErrOutOfMemory);
      raw += static_cast<char>(c);
    }
    return Windows1252ToUtf8(raw);
  }

  // The next line, or empty text at the end of the file.
  std::string LineOrEmpty() { return AtEnd() ? std::string() : Line(); }

  int Number() const { return number_; }

 private:
  // The next byte without taking it, or -1 at the end.
  int Peek() {
    if (at_ == chunk_.size()) {
      chunk_.resize(kChunk);
      chunk_.resize(source_.ReadAt(offset_, chunk_.data(), kChunk));
      offset_ += static_cast<int64_t>(chunk_.size());
      at_ = 0;
      if (chunk_.empty()) return -1;
    }
    return chunk_[at_];
  }
  int Get() {
    const int c = Peek();
    if (c >= 0) ++at_;
    return c;
  }

  static constexpr size_t kChunk = 1 << 16;
  ByteSource& source_;
  std::vector<uint8_t> chunk_;
  size_t at_ = 0;
  int64_t offset_ = 0;
  int number_ = 0;
};

// The first `count` tab-separated fields of a line; fields the line does
// not have read as empty. The text after the last wanted field is ignored.
std::vector<std::string> Fields(std::string_view line, size_t count) {
  std::vector<std::string> out;
  out.reserve(count);
  size_t start = 0;
  while (out.size() < count && start <= line.size()) {
    const size_t tab = line.find('\t', start);
    const size_t end = tab == std::string_view::npos ? line.size() : tab;
    out.emplace_back(line.substr(start, end - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  out.resize(count);
  return out;
}

size_t FieldCount(std::string_view line) {
  size_t tabs = 0;
  for (char c : line) tabs += c == '\t';
  return tabs + 1;
}

bool IsEndMarker(std::string_view line) {
  if (line.size() != 3) return false;
  std::string upper(line);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper == "END";
}

int16_t Flag(double v) { return v != 0 ? 1 : 0; }

// One reading of a project's lines into `read.project`.
class Reader {
 public:
  Reader(LineReader& file, const FileTest& exists, int32_t useMaskBefore, ProjectRead& read)
      : file_(file), exists_(exists), useMaskBefore_(useMaskBefore), read_(read), p_(read.project) {}

  void Run() {
    std::string line = file_.Line();
    p_.tagged = line == kProjectTag || line == kProjectTagEarlier;
    if (p_.tagged) {
      ReadSettings();
      line = file_.Line();
    }
    // Files without a tag start with line 11.
    ReadLevelsAndGuide(line);

    p_.images.emplace();
    line = file_.LineOrEmpty();
    // Without its first image the project loads no image at all.
    if (Locate(line.substr(0, line.find('\t'))).empty()) {
      read_.status.outcome = ProjectLoad::NoImages;
      read_.status.missing.push_back(line.substr(0, line.find('\t')));
      return;
    }
    // The positions were taken on the processed image, half size under
    // the 2 x 2 fusion of the settings in force: the file's own, or the
    // program's for a file without them.
    binned_ = ((p_.tagged ? p_.useMask.value_or(0) : useMaskBefore_) & Bin2x2) != 0;
    while (!line.empty() && !IsEndMarker(line)) {
      ReadImageLine(line);
      line = file_.LineOrEmpty();
    }
    read_.status.outcome = ProjectLoad::Completed;
  }

 private:
  // A file's name in the project's folder. A project written on a system
  // whose folders end with "\" names its files so: the name is what
  // follows the last of either mark (":" stays, time stamps hold it).
  std::string Moved(const std::string& path) const {
    std::string name = PathName(path);
    if (const size_t slash = name.find_last_of('\\'); slash != std::string::npos) name.erase(0, slash + 1);
    return p_.folder.value_or("") + name;
  }

  // A found file: the name itself, else the project's folder with its file
  // name part; empty when neither exists.
  std::string Locate(const std::string& name) const {
    if (exists_(name)) return name;
    const std::string moved = Moved(name);
    return exists_(moved) ? moved : std::string();
  }

  // Lines 2..10. Each value is taken once it converts, so an error leaves
  // the values before it.
  void ReadSettings() {
    p_.useMask = CLng(Val(file_.Line()));

    // Master files that are not where the project says are taken from the
    // project's folder, whether or not they exist there.
    std::vector<std::string> masters = Fields(file_.Line() + "\t\t", 3);
    for (std::string& m : masters)
      if (!m.empty() && !exists_(m)) m = Moved(m);
    p_.maskFile = masters[0];
    p_.darkFile = masters[1];
    p_.flatFile = masters[2];

    p_.maskThr = CLng(Val(file_.Line()));
    p_.maskSize = CInt(Val(file_.Line()));

    const std::string border = file_.Line();
    if (!border.empty()) {
      const std::vector<std::string> f = Fields(border, 5);
      p_.edgeSize = CInt(Val(f[0]));
      if (FieldCount(border) >= 5) {
        p_.fovX = ToSingle(Val(f[1]));
        p_.fovY = ToSingle(Val(f[2]));
        p_.fovR = ToSingle(Val(f[3]));
        p_.fovF = ToSingle(Val(f[4]));
      }
    }

    p_.pixRatio = ToSingle(Val(file_.Line()));
    p_.calcThr = CLng(Val(file_.Line()));
    p_.calcSize = CInt(Val(file_.Line()));
    p_.expand = Flag(Val(file_.Line()));
  }

  // Lines 11..16; `line11` has been read already. The values that set a
  // control of the window are checked as the control checks them.
  void ReadLevelsAndGuide(const std::string& line11) {
    p_.gradRatio = CInt(MaxOf(0, MinOf(10, Val(line11))));

    // A number too large for a double fails here, as it would when the
    // window's box is set from it.
    std::string minQual = file_.Line();
    static_cast<void>(Val(minQual));
    p_.minQualPercent = std::move(minQual);

    p_.guideBox = static_cast<int16_t>(32 << GuideBoxChoice(Val(file_.Line())));
    p_.autoLevels = Flag(Val(file_.Line()));
    const int16_t slider = CInt(Val(file_.Line()));
    if (slider < 0 || slider > 20) Raise(kErrInvalidPropertyValue);
    p_.levelSlider = slider;

    const std::string colours = file_.Line();
    if (!colours.empty() && FieldCount(colours) >= 6) {
      const std::vector<std::string> f = Fields(colours, 6);
      for (size_t i = 0; i < 3; ++i) {
        p_.colourNames[i] = f[2 * i];
        p_.colourPlanes[i] = CInt(Val(f[2 * i + 1]));
      }
    }
  }

  // Positions of files written before positions became fractions are
  // pixels; a position above 1 can only be one.
  void PixelsToFractions(ImageEntry& e) const {
    const std::array<double*, 5> xs{&e.ImgGuideX, &e.ImgRefX, &e.ImgRotX, &e.ImgNewRotX, &e.ImgShiftX};
    const std::array<double*, 5> ys{&e.ImgGuideY, &e.ImgRefY, &e.ImgRotY, &e.ImgNewRotY, &e.ImgShiftY};
    bool pixels = false;
    for (size_t i = 0; i < xs.size(); ++i) pixels = pixels || *xs[i] > 1 || *ys[i] > 1;
    if (!pixels) return;
    double w = e.ImgNaxis1, h = e.ImgNaxis2;
    if (binned_) {
      w /= 2;
      h /= 2;
    }
    if (w - 1 == 0 || h - 1 == 0) Raise(kErrDivisionByZero);
    const double fx = 1 / (w - 1), fy = 1 / (h - 1);
    for (double* x : xs) *x *= fx;
    for (double* y : ys) *y *= fy;
  }

  // One image line: a new entry when its file is found.
  void ReadImageLine(const std::string& line) {
    if (FieldCount(line) < 4) return;  // fewer than three tabs
    const std::vector<std::string> f = Fields(line, 22);
    const std::string file = Locate(f[0]);
    if (file.empty()) {
      read_.status.missing.push_back(f[0]);
      return;
    }

    std::vector<ImageEntry>& list = *p_.images;
    if (static_cast<int>(list.size()) + 1 > kMaxListEntries) Raise(kErrOverflow);
    // Fields are taken in column order, so an error leaves the entry with
    // the columns before the faulty one.
    ImageEntry& e = list.emplace_back();
    e.ImgFile = file;
    e.ImgNaxis = CInt(Val(f[1]));
    e.ImgNaxis1 = CInt(Val(f[2]));
    e.ImgNaxis2 = CInt(Val(f[3]));
    e.ImgBzero = CLng(Val(f[4]));
    e.ImgGuideX = Val(f[5]);
    e.ImgGuideY = Val(f[6]);
    e.ImgRegFlags = CByte(Val(f[7]));
    e.ImgChecked = CByte(Val(f[8]));
    e.ImgFlags = CByte(Val(f[9]));
    e.ImgRefX = Val(f[10]);
    e.ImgRefY = Val(f[11]);
    e.ImgShiftX = Val(f[12]);
    e.ImgShiftY = Val(f[13]);
    e.ImgAngle = Val(f[14]);
    e.ImgRot = CByte(Val(f[15]));
    e.ImgRotX = Val(f[16]);
    e.ImgRotY = Val(f[17]);
    e.ImgNewRot = CByte(Val(f[18]));
    e.ImgNewRotX = Val(f[19]);
    e.ImgNewRotY = Val(f[20]);
    e.ImgZone = f[21];
    PixelsToFractions(e);
    // Whoever set a non-zero pair, the project keeps it as a mark.
    if (e.ImgGuideX != 0 || e.ImgGuideY != 0) e.GuideOrigin = PairOrigin::Loaded;
    if (e.ImgRefX != 0 || e.ImgRefY != 0) e.RefOrigin = PairOrigin::Loaded;
  }

  LineReader& file_;
  const FileTest& exists_;
  const int32_t useMaskBefore_;
  ProjectRead& read_;
  Project& p_;
  bool binned_ = false;
};

// Runs one step of a load; a run-time error ends it where it happens.
template <typename Step>
bool Guarded(ProjectLoad& status, Step step) {
  try {
    step();
    return true;
  } catch (const RuntimeError& e) {
    status.error = e.Number();
  } catch (const std::bad_alloc&) {
    status.error = kErrOutOfMemory;
  } catch (const std::length_error&) {
    status.error = kErrOutOfMemory;
  }
  status.outcome = ProjectLoad::Failed;
  return false;
}

// ---------------------------------------------------------------------------
// Writing

// Decimal of an image line: "." as decimal point, a 0 before it below 1, at
// most 15 significant digits, no leading blank.
std::string Decimal(double v) {
  if (!std::isfinite(v)) Raise(kErrOverflow);
  return LocaleFromDouble(v, NumLocale::Dot());
}

std::string Short(float v) {
  if (!std::isfinite(v)) Raise(kErrOverflow);
  return StrSingle(v);
}

std::string Whole(int64_t v) { return std::to_string(v); }

std::string ImageLine(const ImageEntry& e) {
  std::string l;
  auto col = [&l](const std::string& v) {
    l += v;
    l += '\t';
  };
  col(e.ImgFile);
  col(Whole(e.ImgNaxis));
  col(Whole(e.ImgNaxis1));
  col(Whole(e.ImgNaxis2));
  col(Whole(e.ImgBzero));
  col(Decimal(e.ImgGuideX));
  col(Decimal(e.ImgGuideY));
  col(Whole(e.ImgRegFlags));
  col(Whole(e.ImgChecked));
  col(Whole(e.ImgFlags));
  col(Decimal(e.ImgRefX));
  col(Decimal(e.ImgRefY));
  col(Decimal(e.ImgShiftX));
  col(Decimal(e.ImgShiftY));
  col(Decimal(e.ImgAngle));
  col(Whole(e.ImgRot));
  col(Decimal(e.ImgRotX));
  col(Decimal(e.ImgRotY));
  col(Whole(e.ImgNewRot));
  col(Decimal(e.ImgNewRotX));
  col(Decimal(e.ImgNewRotY));
  col(e.ImgZone);
  return l;
}

}  // namespace

std::string Utf8ToWindows1252(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const unsigned char b = static_cast<unsigned char>(in[i]);
    size_t len = 0;
    char32_t c = 0;
    if (b < 0x80)
      len = 1, c = b;
    else if (b >= 0xC2 && b <= 0xDF)
      len = 2, c = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF)
      len = 3, c = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4)
      len = 4, c = b & 0x07;
    bool valid = len > 0 && i + len <= in.size();
    for (size_t k = 1; valid && k < len; ++k) {
      const unsigned char t = static_cast<unsigned char>(in[i + k]);
      if ((t & 0xC0) != 0x80)
        valid = false;
      else
        c = (c << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not characters.
    if (valid &&
        ((len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (len == 4 && (c < 0x10000 || c > 0x10FFFF))))
      valid = false;
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    const int byte = CharToByte(c);
    out += byte < 0 ? '?' : static_cast<char>(byte);
    i += len;
  }
  return out;
}

std::string Windows1252ToUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (char ch : in) AppendUtf8(out, ByteToChar(static_cast<unsigned char>(ch)));
  return out;
}

bool FindsFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
  if (PathFolder(path).find_first_of("*?[") != std::string::npos) return false;
  return FileExists(path);
}

int GuideBoxChoice(double box) {
  if (!(box > 0)) Raise(kErrInvalidCall);
  const int choice = CInt(std::log(box) / std::log(2.0) - 5);
  // The window has three buttons.
  if (choice < 0 || choice > 2) Raise(kErrNoSuchControl);
  return choice;
}

ProjectRead ParseProject(ByteSource& bytes, const std::string& path, const FileTest& fileExists,
                         int32_t useMaskBefore) {
  ProjectRead read;
  read.project.folder = PathFolder(path);
  LineReader file(bytes);
  Guarded(read.status, [&] { Reader(file, fileExists, useMaskBefore, read).Run(); });
  read.status.line = file.Number();
  return read;
}

ProjectRead ParseProject(std::span<const uint8_t> bytes, const std::string& path, const FileTest& fileExists,
                         int32_t useMaskBefore) {
  MemoryBytes source(bytes);
  return ParseProject(source, path, fileExists, useMaskBefore);
}

ProjectRead ReadProjectFile(const std::string& path, int32_t useMaskBefore) {
  ProjectRead read;
  BinaryFile file;
  Guarded(read.status, [&] {
    if (!FindsFile(path)) return;
    read.project.folder = PathFolder(path);
    file.OpenRead(path);
  });
  if (!file.IsOpen()) return read;
  return ParseProject(file, path, FindsFile, useMaskBefore);
}

void EngineControls::SetExpand(int16_t value) { expand = value; }

void EngineControls::SetMinQualPercent(const std::string& text) {
  // The number as the window's box shows it, in the user's conventions,
  // and read back from there, so MinQual is the window's to the last bit.
  minQualPercent = LocaleFromDouble(Val(text), s_.locale);
  if (!s_.progress.Idle()) return;
  try {
    s_.opt.MinQual = ToSingle(MaxOf(0, MinOf(100, LocaleToDouble(minQualPercent, s_.locale))) / 100);
  } catch (const RuntimeError&) {
  }
}

void EngineControls::SelectGuideBox(int choice) {
  if (choice < 0 || choice > 2) Raise(kErrNoSuchControl);
  guideBoxChoice = choice;
  if (!s_.progress.Idle()) return;
  s_.guide.GuideBox = CInt(std::ldexp(1.0, choice + 5));
  // A template of the old size would be compared against boxes of the new
  // one: searching stays off until a new reference is taken.
  s_.guide.GuideTemplate.Redim(0, 0);
  FindGuide(s_, CInt(s_.guide.GuideX), CInt(s_.guide.GuideY), false);
}

void EngineControls::SetAutoLevels(int16_t value) {
  autoLevels = value;
  s_.window->ShowHisto();
}

void EngineControls::SetLevelSlider(int16_t value) {
  if (value < 0 || value > 20) Raise(kErrInvalidPropertyValue);
  levelSlider = value;
  // As the window's slider: the setting follows it once an image is shown.
  if (s_.pic.HistoMax >= 1) s_.opt.Hsens = value;
  s_.window->ShowHisto();
}

ProjectLoad ApplyProject(Session& s, const ProjectRead& read, ProjectControls& controls) {
  ProjectLoad result = read.status;
  if (result.outcome != ProjectLoad::NoFile) {
    const Project& p = read.project;
    // An untagged file starts with line 11.
    const int missing = p.tagged ? 0 : 10;
    int line = 0;
    const bool applied = Guarded(result, [&] {
      Options& o = s.opt;
      // Later open dialogs start in the project's folder.
      if (p.folder) o.InitDir = *p.folder;
      if (p.useMask) o.UseMask = *p.useMask;
      if (p.maskFile) o.MaskFile = *p.maskFile;
      if (p.darkFile) o.DarkFile = *p.darkFile;
      if (p.flatFile) o.FlatFile = *p.flatFile;
      if (p.maskThr) o.MaskThr = *p.maskThr;
      if (p.maskSize) o.MaskSize = *p.maskSize;
      if (p.edgeSize) o.EdgeSize = *p.edgeSize;
      if (p.fovX) o.FovX = *p.fovX;
      if (p.fovY) o.FovY = *p.fovY;
      if (p.fovR) o.FovR = *p.fovR;
      if (p.fovF) o.FovF = *p.fovF;
      if (p.pixRatio) o.PixRatio = *p.pixRatio;
      if (p.calcThr) o.CalcThr = *p.calcThr;
      if (p.calcSize) o.CalcSize = *p.calcSize;
      line = 10 - missing;
      if (p.expand) controls.SetExpand(*p.expand);
      // Once line 10, the last of the tagged lines, is in, the master files
      // of line 3 become the masters, before the images are read.
      if (p.tagged && p.expand) {
        s.progress.Yield();
        BuildMasters(s);
      }

      if (p.gradRatio) o.GradRatio = *p.gradRatio;
      line = 12 - missing;
      if (p.minQualPercent) controls.SetMinQualPercent(*p.minQualPercent);
      line = 13 - missing;
      if (p.guideBox) controls.SelectGuideBox(GuideBoxChoice(*p.guideBox));
      line = 14 - missing;
      if (p.autoLevels) controls.SetAutoLevels(*p.autoLevels);
      line = 15 - missing;
      if (p.levelSlider) controls.SetLevelSlider(*p.levelSlider);
      for (size_t i = 0; i < 3; ++i) {
        if (p.colourNames[i]) o.ColorText[i] = *p.colourNames[i];
        if (p.colourPlanes[i]) o.ColorChk[i] = *p.colourPlanes[i];
      }

      line = read.status.line;
      if (p.images) {
        s.ResizeImageArrays(0);
        s.Img[0].ImgFile.clear();
        s.Img.insert(s.Img.end(), p.images->begin(), p.images->end());
      }
    });
    if (!applied) result.line = line;
  }
  if (!s.Img.empty()) s.Img[0].ImgFile.clear();
  return result;
}

std::vector<uint8_t> ProjectBytes(const Project& p) {
  const Options d;
  std::vector<uint8_t> bytes;
  auto line = [&bytes](const std::string& text) {
    const std::string ansi = Utf8ToWindows1252(text);
    bytes.insert(bytes.end(), ansi.begin(), ansi.end());
    bytes.push_back('\r');
    bytes.push_back('\n');
  };
  line(kProjectTag);
  line(Whole(p.useMask.value_or(d.UseMask)));
  line(p.maskFile.value_or(d.MaskFile) + "\t" + p.darkFile.value_or(d.DarkFile) + "\t" +
       p.flatFile.value_or(d.FlatFile));
  line(Whole(p.maskThr.value_or(d.MaskThr)));
  line(Whole(p.maskSize.value_or(d.MaskSize)));
  line(Whole(p.edgeSize.value_or(d.EdgeSize)) + "\t" + Short(p.fovX.value_or(d.FovX)) + "\t" +
       Short(p.fovY.value_or(d.FovY)) + "\t" + Short(p.fovR.value_or(d.FovR)) + "\t" + Short(p.fovF.value_or(d.FovF)));
  line(Short(p.pixRatio.value_or(d.PixRatio)));
  line(Whole(p.calcThr.value_or(d.CalcThr)));
  line(Whole(p.calcSize.value_or(d.CalcSize)));
  line(Whole(p.expand.value_or(kDefaultExpand)));
  line(Whole(p.gradRatio.value_or(d.GradRatio)));
  line(p.minQualPercent.value_or(Short(d.MinQual * 100.0f)));
  line(Whole(p.guideBox.value_or(kDefaultGuideBox)));
  line(Whole(p.autoLevels.value_or(kDefaultAutoLevels)));
  line(Whole(p.levelSlider.value_or(d.Hsens)));
  std::string colours;
  for (size_t i = 0; i < 3; ++i) {
    if (i) colours += '\t';
    colours += p.colourNames[i].value_or(d.ColorText[i]);
    colours += '\t';
    colours += Whole(p.colourPlanes[i].value_or(d.ColorChk[i]));
  }
  line(colours);
  if (p.images)
    for (const ImageEntry& e : *p.images) line(ImageLine(e));
  return bytes;
}

namespace {

// The minimum quality in the short form, as the box shows it; while the
// box holds no number, the value its handler last took.
std::string MinQualPercent(const Session& s, const std::string& shown) {
  double number = 0;
  try {
    number = LocaleToDouble(shown, s.locale);
  } catch (const RuntimeError&) {
    const float taken = s.opt.MinQual * 100.0f;
    if (!std::isfinite(taken)) Raise(kErrOverflow);
    return StrSingle(taken);
  }
  return Str(number);
}

}  // namespace

Project ProjectOf(const Session& s, const ShownSettings& shown) {
  const Options& o = s.opt;
  Project p;
  p.useMask = o.UseMask;
  p.maskFile = o.MaskFile;
  p.darkFile = o.DarkFile;
  p.flatFile = o.FlatFile;
  p.maskThr = o.MaskThr;
  p.maskSize = o.MaskSize;
  p.edgeSize = o.EdgeSize;
  p.fovX = o.FovX;
  p.fovY = o.FovY;
  p.fovR = o.FovR;
  p.fovF = o.FovF;
  p.pixRatio = o.PixRatio;
  p.calcThr = o.CalcThr;
  p.calcSize = o.CalcSize;
  p.expand = shown.expand;
  p.gradRatio = o.GradRatio;
  p.minQualPercent = MinQualPercent(s, shown.minQualShown);
  p.guideBox = s.guide.GuideBox;
  p.autoLevels = shown.autoLevels;
  p.levelSlider = shown.levelSlider;
  for (size_t i = 0; i < 3; ++i) {
    p.colourNames[i] = o.ColorText[i];
    p.colourPlanes[i] = o.ColorChk[i];
  }
  p.images.emplace(s.Img.begin() + (s.Img.empty() ? 0 : 1), s.Img.end());
  return p;
}

namespace {
// A save that fails, by a run-time error or for want of memory, gives its
// error number back instead of raising it.
template <class Work>
ProjectSave Guarded(Work work) {
  ProjectSave result;
  try {
    work(result);
  } catch (const RuntimeError& e) {
    result.outcome = ProjectSave::Failed;
    result.error = e.Number();
  } catch (const std::bad_alloc&) {
    result.outcome = ProjectSave::Failed;
    result.error = kErrOutOfMemory;
  }
  return result;
}
}  // namespace

ProjectSave SaveProject(const Session& s, const ShownSettings& shown, const std::string& path) {
  if (s.ImageCount() < 1) return {};
  return Guarded([&](ProjectSave& result) { result = WriteProjectFile(ProjectOf(s, shown), path); });
}

ProjectSave WriteProjectFile(const Project& p, const std::string& path) {
  if (!p.images || p.images->empty()) return {};
  return Guarded([&](ProjectSave& result) {
    const std::vector<uint8_t> bytes = ProjectBytes(p);
    const Outcome written = WriteFileReplacing(path, {&bytes});
    if (!written) Raise(written.err);
    result.outcome = ProjectSave::Saved;
  });
}

}  // namespace qv
