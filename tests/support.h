// Shared helpers of the test suite.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/session.h"
#include "platform/platform.h"
#include "process/process_pic.h"
#include "workspace/form1.h"

namespace qvtest {

// A session with headless services and the main window's model, owned
// together.
struct TestSession {
  qv::HeadlessPlatform services;
  std::unique_ptr<qv::Session> s;
  qv::Form1 form1;
  TestSession() : s(std::make_unique<qv::Session>(services.Get())), form1(*s) {}
  // With a list of one image, `file`, made the current picture.
  explicit TestSession(const std::string& file);
  qv::Session& operator*() { return *s; }
  qv::Session* operator->() { return s.get(); }
};

// A window that tells the test what the engine showed in it.
struct ViewSpy : qv::Form1Window {
  std::function<void()> onShowHisto;
  std::function<void(const std::string&)> onOpenDestination;
  std::function<void(int, bool)> onRunImage;
  std::function<void(const std::string&)> onMsgBox;
  std::function<void(double)> onPause;
  void ShowHisto() override {
    if (onShowHisto) onShowHisto();
  }
  void MsgBox(const std::string& text) override {
    if (onMsgBox) onMsgBox(text);
  }
  void OpenDestination(const std::string& caption) override {
    if (onOpenDestination) onOpenDestination(caption);
  }
  void RunImage(int i, bool accepted, const qv::Outcome&, const qv::Outcome&) override {
    if (onRunImage) onRunImage(i, accepted);
  }
  void Pause(double seconds) override {
    if (onPause) onPause(seconds);
  }
};

// ProcessPic as a test assertion: a failure says why.
inline ::testing::AssertionResult Processed(qv::Session& s, int index, int step) {
  const qv::Outcome r = qv::ProcessPic(s, index, step);
  if (r) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "ProcessPic failed: " << r.Text();
}

// A fresh, empty folder for one test, removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// A session in a run over a list of n entries, whose temporary files go to
// a folder of the test's own.
struct RunSession {
  TestSession ts;
  TempDir dir;
  qv::Session& s;
  explicit RunSession(int n);
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Fill a plane from a row-major list of values (row 0 first).
template <class T>
void SetPlane(qv::Plane<T>& p, int w, int h, const std::vector<T>& values) {
  p.Redim(w - 1, h - 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p(x, y) = values.at(static_cast<size_t>(y) * w + x);
}

// The current picture: three planes of w x h pixels, plane c (0 red, 1 green,
// 2 blue) valued f(c, x, y).
template <class F>
void SetPicture(qv::Session& s, int w, int h, F f) {
  qv::Plane<int32_t>* planes[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
  for (int c = 0; c < 3; ++c) {
    planes[c]->Redim(w - 1, h - 1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) (*planes[c])(x, y) = f(c, x, y);
  }
}

// Run a shell command, returning its exit status; stdout goes to `out`.
int RunCommand(const std::string& cmd, std::string* out = nullptr);

std::string ReadText(const std::string& path);

// A list of one image, file `file`, made the current picture.
void OneImage(qv::Session& s, const std::string& file);

// Header cards, each blank-padded to 80 characters, the whole padded with
// blank cards to whole 2880-byte blocks.
std::vector<uint8_t> FitsHeader(const std::vector<std::string>& cards);

// A FITS header of the given cards, `extra` before its END, followed by
// `dataBytes` bytes of 0x11.
std::vector<uint8_t> FitsBytes(const std::string& bitpix, const std::string& naxis, const std::string& w,
                               const std::string& h, size_t dataBytes, const std::vector<std::string>& extra = {});

// A 16-bit FITS file of `planes` planes, values stored as given (BZERO only
// when `extra` brings one), big-endian and zero-padded to whole blocks.
void WriteFits16(const std::string& path, int w, int h, int planes, const std::vector<int>& values,
                 const std::vector<std::string>& extra = {});

// A TIFF file in Intel order whose directory of `entries` (tag, type,
// count, value) comes first, then `tail`.
struct TiffEntry {
  uint16_t tag, type;
  uint32_t count, value;
};
std::vector<uint8_t> TiffFile(const std::vector<TiffEntry>& entries, const std::vector<uint8_t>& tail);
// Where the bytes after a directory of `entries` entries start.
inline uint32_t AfterTiffDirectory(size_t entries) { return static_cast<uint32_t>(8 + 2 + 12 * entries + 4); }

// An uncompressed one-strip grey TIFF (Intel order) of w x h pixels of
// `bits` bits whose strip holds only `dataBytes` bytes of `fill`: cut short
// unless dataBytes covers the declared size.
std::vector<uint8_t> OneStripTiff(int w, int h, int bits, int dataBytes, uint8_t fill);

// A BMP file with a 40-byte info header, then the palette (4 bytes an
// entry: blue, green, red, 0) and the pixel bytes as given.
std::vector<uint8_t> BmpFile(int w, int h, int bits, int compression, const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& pixels);

// A FITS file as cfitsio reads it back: every plane, BZERO applied. A file
// cfitsio cannot read fails the calling test and gives no values.
struct FitsImage {
  std::vector<int> values;
};
FitsImage ReadFitsImage(const std::string& path);

struct CliResult {
  int status = -1;
  std::string out, err;
};

// The name of an installed locale whose decimal sign is a comma (the set-up
// makes fr_FR.UTF-8), or null. The process's locale is left as it was.
const char* CommaLocale();

// Runs the command-line tool in the C locale with a home of `dir`'s own, so
// that the user's store is never read; `prefix` (variables, a locale too)
// goes before it in the shell.
CliResult Cli(const TempDir& dir, const std::string& args, const std::string& prefix = "");

// `path` between single quotes, for the shell.
std::string Q(const std::string& path);

// True when `text` holds `part`; a failure shows the whole text.
::testing::AssertionResult Contains(const std::string& text, const std::string& part);

// The tool's simulator run into dir/`name` with `options` (a failure fails
// the calling test); that folder.
std::string SimulateNight(const TempDir& dir, const std::string& name, const std::string& options,
                          const std::string& prefix = "");

// The number after "key": in `text` (its first such key), or `otherwise`.
double JsonNumber(const std::string& text, const std::string& key, double otherwise = 0);

// What the simulator's truth.json records about its sky.
struct Truth {
  struct Frame {
    double guideX, guideY;  // where its guide star lies
    double fwhm;            // its stars' FWHM in pixels; 0 when the night records none
  };
  std::vector<Frame> frames;
};
Truth ReadTruth(const std::string& path);

// The tool's line for each image of a stacking run, in run order.
struct RunLine {
  int image;
  bool accepted;
  double guideX, stackAngle;
};
std::vector<RunLine> RunLines(const std::string& out);

}  // namespace qvtest
