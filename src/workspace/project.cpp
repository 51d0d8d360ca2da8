#include "workspace/project.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <new>
#include <vector>

#include "core/paths.h"
#include "io/file.h"
#include "stack/masters.h"
#include "workspace/form1.h"
#include "workspace/image_list.h"
#include "workspace/settings.h"

namespace qv {

namespace {

constexpr int kErrInvalidCall = 5;  // logarithm of a number that is not positive

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

// The file search of the platform: an existing file of that exact name, or
// a match of the wildcards of the name part. Wildcards in the folder part
// match nothing (the search looks in one folder), and no name holds a NUL.
bool Found(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
  if (PathFolder(path).find_first_of("*?[") != std::string::npos) return false;
  return FileExists(path);
}

// A found file: the name itself, else the project's folder with its file
// name part; empty when neither exists.
std::string Locate(const Session& s, const std::string& name) {
  if (Found(name)) return name;
  const std::string moved = s.opt.InitDir + PathName(name);
  return Found(moved) ? moved : std::string();
}

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

// Lines 2..10 of a tagged file.
void ReadSettings(Form1& window, LineReader& file) {
  Session& s = window.s;
  Options& o = s.opt;
  o.UseMask = CLng(Val(file.Line()));

  // Master files that are not where the project says are taken from the
  // project's folder, whether or not they exist there.
  std::vector<std::string> masters = Fields(file.Line() + "\t\t", 3);
  for (std::string& m : masters)
    if (!m.empty() && !Found(m)) m = o.InitDir + PathName(m);
  o.MaskFile = masters[0];
  o.DarkFile = masters[1];
  o.FlatFile = masters[2];

  o.MaskThr = CLng(Val(file.Line()));
  o.MaskSize = CInt(Val(file.Line()));

  const std::string border = file.Line();
  if (!border.empty()) {
    const std::vector<std::string> f = Fields(border, 5);
    o.EdgeSize = CInt(Val(f[0]));
    if (FieldCount(border) >= 5) {
      o.FovX = ToSingle(Val(f[1]));
      o.FovY = ToSingle(Val(f[2]));
      o.FovR = ToSingle(Val(f[3]));
      o.FovF = ToSingle(Val(f[4]));
    }
  }

  o.PixRatio = ToSingle(Val(file.Line()));
  o.CalcThr = CLng(Val(file.Line()));
  o.CalcSize = CInt(Val(file.Line()));
  window.Check6 = Flag(Val(file.Line()));
}

// Lines 11..16; `line11` has been read already.
void ReadWindowSettings(Form1& window, LineReader& file, const std::string& line11) {
  Session& s = window.s;
  s.opt.GradRatio = CInt(MaxOf(0, MinOf(10, Val(line11))));
  SetText3(window, LocaleFromDouble(Val(file.Line()), s.locale));

  const double box = Val(file.Line());
  if (!(box > 0)) Raise(kErrInvalidCall);
  SelectOption1(window, CInt(std::log(box) / std::log(2.0) - 5));

  SetCheck3(window, Flag(Val(file.Line())));
  SetHScroll1(window, CInt(Val(file.Line())));

  const std::string colours = file.Line();
  if (!colours.empty() && FieldCount(colours) >= 6) {
    const std::vector<std::string> f = Fields(colours, 6);
    for (size_t i = 0; i < 3; ++i) {
      s.opt.ColorText[i] = f[2 * i];
      s.opt.ColorChk[i] = CInt(Val(f[2 * i + 1]));
    }
  }
}

// Positions of files written before positions became fractions are pixels;
// a position above 1 can only be one.
void PixelsToFractions(const Session& s, ImageEntry& e) {
  const std::array<double*, 5> xs{&e.ImgGuideX, &e.ImgRefX, &e.ImgRotX, &e.ImgNewRotX, &e.ImgShiftX};
  const std::array<double*, 5> ys{&e.ImgGuideY, &e.ImgRefY, &e.ImgRotY, &e.ImgNewRotY, &e.ImgShiftY};
  bool pixels = false;
  for (size_t i = 0; i < xs.size(); ++i) pixels = pixels || *xs[i] > 1 || *ys[i] > 1;
  if (!pixels) return;
  double w = e.ImgNaxis1, h = e.ImgNaxis2;
  // The positions were taken on the processed image, half size under the
  // 2 x 2 fusion of the settings just read.
  if (s.opt.Has(Bin2x2)) {
    w /= 2;
    h /= 2;
  }
  if (w - 1 == 0 || h - 1 == 0) Raise(kErrDivisionByZero);
  const double fx = 1 / (w - 1), fy = 1 / (h - 1);
  for (double* x : xs) *x *= fx;
  for (double* y : ys) *y *= fy;
}

// One image line: a new entry when its file is found.
void ReadImageLine(Session& s, const std::string& line) {
  if (FieldCount(line) < 4) return;  // fewer than three tabs
  const std::vector<std::string> f = Fields(line, 22);
  const std::string file = Locate(s, f[0]);
  if (file.empty()) return;

  const int n = s.ImageCount() + 1;
  if (n > kMaxListEntries) Raise(kErrOverflow);
  s.ResizeImageArrays(n);
  // Fields are taken in column order, so an error leaves the entry with the
  // columns before the faulty one.
  ImageEntry& e = s.Img[static_cast<size_t>(n)];
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
  PixelsToFractions(s, e);
  // Whoever set a non-zero pair, the project keeps it as a mark.
  if (e.ImgGuideX != 0 || e.ImgGuideY != 0) e.GuideOrigin = PairOrigin::Loaded;
  if (e.ImgRefX != 0 || e.ImgRefY != 0) e.RefOrigin = PairOrigin::Loaded;
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

std::string Short(double v) {
  if (!std::isfinite(v)) Raise(kErrOverflow);
  return Str(v);
}

std::string Whole(int64_t v) { return std::to_string(v); }

// The minimum quality as the box shows it; while the box holds no number,
// the value its handler last took.
std::string MinQualPercent(const Form1& f) {
  const Session& s = f.s;
  try {
    return Short(LocaleToDouble(f.Text3, s.locale));
  } catch (const RuntimeError&) {
    return Short(s.opt.MinQual * 100.0f);
  }
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

ProjectSave SaveProject(Form1& f, const std::string& path) {
  Session& s = f.s;
  ProjectSave result;
  const int n = s.ImageCount();
  if (n < 1) return result;
  try {
    const Options& o = s.opt;
    std::vector<uint8_t> bytes;
    auto line = [&bytes](const std::string& text) {
      const std::string ansi = Utf8ToWindows1252(text);
      bytes.insert(bytes.end(), ansi.begin(), ansi.end());
      bytes.push_back('\r');
      bytes.push_back('\n');
    };
    line(kProjectTag);
    line(Whole(o.UseMask));
    line(o.MaskFile + "\t" + o.DarkFile + "\t" + o.FlatFile);
    line(Whole(o.MaskThr));
    line(Whole(o.MaskSize));
    line(Whole(o.EdgeSize) + "\t" + Short(o.FovX) + "\t" + Short(o.FovY) + "\t" + Short(o.FovR) + "\t" + Short(o.FovF));
    line(Short(o.PixRatio));
    line(Whole(o.CalcThr));
    line(Whole(o.CalcSize));
    line(Whole(f.Check6));
    line(Whole(o.GradRatio));
    line(MinQualPercent(f));
    line(Whole(s.guide.GuideBox));
    line(Whole(f.Check3));
    line(Whole(f.HScroll1));
    std::string colours;
    for (size_t i = 0; i < 3; ++i) colours += (i ? "\t" : "") + o.ColorText[i] + "\t" + Whole(o.ColorChk[i]);
    line(colours);
    for (int i = 1; i <= n; ++i) line(ImageLine(s.Img[static_cast<size_t>(i)]));

    const int err = WriteFileReplacing(path, {&bytes});
    if (err != 0) Raise(err);
    f.Project = path;
    result.outcome = ProjectSave::Saved;
  } catch (const RuntimeError& e) {
    result.outcome = ProjectSave::Failed;
    result.error = e.Number();
  } catch (const std::bad_alloc&) {
    result.outcome = ProjectSave::Failed;
    result.error = kErrOutOfMemory;
  }
  return result;
}

namespace {

// The load from its first line on, once the bytes are at hand. `path` is
// the project's own name: its folder is where moved images are looked for.
void ReadProject(Form1& f, LineReader& file, const std::string& path, ProjectLoad& result) {
  Session& s = f.s;
  std::string line = file.Line();
  if (line == kProjectTag || line == kProjectTagEarlier) {
    ReadSettings(f, file);
    s.DoEvents();
    BuildMasters(s);
    line = file.Line();
  }
  // Files without a tag start with line 11.
  ReadWindowSettings(f, file, line);

  s.ResizeImageArrays(0);
  s.Img[0].ImgFile.clear();

  line = file.LineOrEmpty();
  // Without its first image the project loads no image at all.
  if (Locate(s, line.substr(0, line.find('\t'))).empty()) {
    result.outcome = ProjectLoad::NoImages;
    return;
  }
  while (!line.empty() && !IsEndMarker(line)) {
    ReadImageLine(s, line);
    line = file.LineOrEmpty();
  }
  f.Project = path;
  result.outcome = ProjectLoad::Completed;
  Populate(f, 1, false);
}

// Runs one load step; a run-time error ends the load where it happens.
template <typename Step>
void Guarded(ProjectLoad& result, Step step) {
  try {
    step();
  } catch (const RuntimeError& e) {
    result.outcome = ProjectLoad::Failed;
    result.error = e.Number();
  } catch (const std::bad_alloc&) {
    result.outcome = ProjectLoad::Failed;
    result.error = kErrOutOfMemory;
  } catch (const std::length_error&) {
    result.outcome = ProjectLoad::Failed;
    result.error = kErrOutOfMemory;
  }
}

ProjectLoad LoadFrom(Form1& f, ByteSource& source, const std::string& path) {
  ProjectLoad result;
  LineReader file(source);
  Guarded(result, [&] { ReadProject(f, file, path, result); });
  result.line = file.Number();
  if (!f.s.Img.empty()) f.s.Img[0].ImgFile.clear();
  return result;
}

}  // namespace

ProjectLoad LoadProject(Form1& f, const std::string& path) {
  mnuNew_Click(f);
  ProjectLoad result;
  BinaryFile file;
  Guarded(result, [&] {
    if (!Found(path)) return;
    // Later open dialogs start in the project's folder, and files that
    // moved with the project are looked for there.
    f.s.opt.InitDir = PathFolder(path);
    file.OpenRead(path);
  });
  if (!file.IsOpen()) {
    if (!f.s.Img.empty()) f.s.Img[0].ImgFile.clear();
    return result;
  }
  return LoadFrom(f, file, path);
}

ProjectLoad LoadProjectBytes(Form1& f, std::span<const uint8_t> bytes, const std::string& path) {
  mnuNew_Click(f);
  f.s.opt.InitDir = PathFolder(path);
  MemoryBytes source(bytes);
  return LoadFrom(f, source, path);
}

std::string FilterExtension(const std::string& pattern) {
  if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0) return {};
  const std::string ext = pattern.substr(2);
  return ext.find_first_of("*?;. ") == std::string::npos ? ext : std::string();
}

std::string SavedName(const FileDialogRequest& request, const SaveAnswer& answer) {
  if (answer.file.empty()) return {};
  // A point in the name part, not at its start, begins an extension; one in
  // a folder's name does not.
  const std::string name = PathName(answer.file);
  const size_t point = name.rfind('.');
  if (point != std::string::npos && point > 0 && point + 1 < name.size()) return answer.file;
  std::string ext;
  if (answer.filter == 0) ext = FilterExtension(request.pattern);
  if (answer.filter >= 1 && static_cast<size_t>(answer.filter) <= request.moreFilters.size())
    ext = FilterExtension(request.moreFilters[static_cast<size_t>(answer.filter) - 1].second);
  if (ext.empty()) ext = LCase(request.defaultExt);
  if (ext.empty()) return answer.file;
  std::string file = answer.file;
  if (file.back() != '.') file += '.';
  return file + ext;
}

void mnuSavePrj_Click(Form1& f, FileDialogs& dialogs) {
  if (!Form1Idle(f)) return;
  std::string name;
  Ignoring([&] {
    FileDialogRequest r;
    r.title = "Enregistrer un projet";
    r.filterDescription = "Projet Quelvista (TXT)";
    r.pattern = "*.txt";
    r.initialFile = f.Project;
    r.defaultExt = "txt";
    name = SavedName(r, dialogs.SaveFile(r));
  });
  if (!name.empty()) Ignoring([&] { SaveProject(f, name); });
}

void mnuLoadPrj_Click(Form1& f, FileDialogs& dialogs) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  std::string start, name;
  Ignoring([&] { start = PathFolder(f.Project); });
  if (start.empty()) start = s.opt.InitDir;
  Ignoring([&] {
    FileDialogRequest r;
    r.title = "Ouvrir un projet";
    r.filterDescription = "Projet Quelvista (TXT)";
    r.pattern = "*.txt";
    r.startFolder = start;
    name = dialogs.OpenFile(r);
  });
  if (!name.empty()) {
    if (f.mnuDebug) {
      f.DebugLog.clear();
      f.DebugLog.push_back("Ouverture du projet " + name);
    }
    Ignoring([&] { LoadProject(f, name); });
  }
  // The subset boxes name images of the previous list.
  f.Text7.clear();
  f.Text8.clear();
}

}  // namespace qv
