// All process-wide state of the program. The program has exactly one
// Session; every test makes its own.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/image_entry.h"
#include "core/numeric.h"
#include "core/options.h"
#include "core/plane.h"
#include "core/progress.h"
#include "core/view.h"
#include "platform/platform.h"

namespace qv {

// Processing options and their defaults on a fresh settings store.
struct Options {
  int32_t UseMask = 0;
  int32_t CalcThr = 100;
  int16_t CalcSize = 2;
  int32_t MaskThr = 1000;
  int16_t MaskSize = 3;
  int16_t GradRatio = 5;
  std::string MaskFile, DarkFile, FlatFile;
  std::array<std::string, 3> ColorText{"_HA", "_SII", "_OIII"};
  std::array<int16_t, 3> ColorChk{0, 0, 0};
  // Settings that the image routines do not read.
  float MinQual = 0.75f;
  std::string InitDir, OutDir;
  float PixRatio = 1.28f;
  int16_t PicZoom = 2;
  int16_t EdgeSize = 5;
  float FovX = 0.5f, FovY = 0.5f, FovR = 0.5f, FovF = 0.01f;
  int32_t MedianLimit = 1500;
  int16_t Hsens = 10;
  // Beyond the plain average, off by default: outlier rejection in the
  // final combination (0 none, 1 sigma, 2 winsorised) with its kappas below
  // and above the centre, and the backgrounds brought to one level for the
  // test (and for the sums).
  int16_t RejectMode = 0;
  float RejectLow = 3, RejectHigh = 3;
  int16_t Normalise = 0, NormaliseOutput = 0;
  // The automatic marks uncheck a frame whose stars' FWHM exceeds this
  // factor of the marked frames' median FWHM; 0 leaves every frame.
  float MaxFwhm = 0;

  bool Has(int32_t bits) const { return (UseMask & bits) != 0; }
  // What the program holds before its settings are read: every value zero
  // or empty, which is what a setting that cannot be read keeps.
  static Options Fresh() {
    Options o;
    o.CalcThr = o.MaskThr = o.MedianLimit = 0;
    o.CalcSize = o.MaskSize = o.GradRatio = o.PicZoom = o.EdgeSize = o.Hsens = 0;
    o.MinQual = o.PixRatio = o.FovX = o.FovY = o.FovR = o.FovF = o.RejectLow = o.RejectHigh = 0;
    o.ColorText = {"", "", ""};
    return o;
  }
};

// A FWHM factor as the options take it: 0 (off) for nothing sensible,
// otherwise within 1..5 times the median.
constexpr float kMaxFwhmMin = 1.0f, kMaxFwhmMax = 5.0f;
inline float MaxFwhmOf(float v) { return v > 0 ? std::clamp(v, kMaxFwhmMin, kMaxFwhmMax) : 0.f; }

constexpr int kHistoBins = 2049;  // Histo is indexed 0..2048

// The current image: its planes, histogram and levels, the decoded raster
// picture and the gradient grid of its last gradient removal.
struct CurrentImage {
  Plane<int32_t> PicR, PicG, PicB;
  bool HasR = false, HasG = false, HasB = false;
  std::array<int32_t, kHistoBins> Histo{};
  int32_t HistoMax = 0;
  double LevelMin = 0, LevelMax = 0, LevelLow = 0, LevelHigh = 0;
  // A decoded raster picture, 0x00RRGGBB, y 0 at the top.
  Plane<int32_t> PicPixels;
  // Gradient grid of the last gradient removal: 1 for a cell with samples.
  Plane<uint8_t> GradMask;
  // Set only while a frame just processed is shown, when its three planes
  // are known to hold the same values: drawing them then need not compare
  // them. Anything else that changes the planes runs outside that moment.
  bool KnownGrey = false;
};

// The calibration masters and whether each is in use.
struct Masters {
  Plane<int32_t> DarkR, DarkG, DarkB;
  Plane<int32_t> FlatPic;
  double FlatMean = 0;
  Plane<uint8_t> HotMask;
  bool UseHotMask = false, UseDark = false, UseFlat = false;
};

// The guide star: where it is, its template and how well it was found.
struct GuideStar {
  double GuideX = 100, GuideY = 100;
  int16_t GuideBox = 0;          // side of the template box minus one; 128 or more: no guide star
  Plane<int32_t> GuideTemplate;  // the reference box, background-subtracted
  double RefPeak = 0;
  float Quality = 0;
  // The last guide search's best match lay on the edge of its search area:
  // the star may have left it. Read by the command-line tool's report only.
  bool GuideOnEdge = false;
  double AnchorX = 0, AnchorY = 0;
  double RotCentreX = 0, RotCentreY = 0;
};

// The stack of the current run: the parked images and their canvas.
struct StackState {
  int16_t StackCount = 0;
  int32_t StackW1 = 0, StackH1 = 0;
  int32_t CanvasMinX = 100000, CanvasMinY = 100000, CanvasMaxX = -100000, CanvasMaxY = -100000;
  double StackAngle = 0;
  double RotAngleRef = 0;
  std::string TempBase;  // path prefix of the temporary files; empty until the first stack
  // The temporary files of this run written from a grey frame (three equal
  // planes): the combination reads their red plane and copies it, instead of
  // reading all three and comparing them.
  std::unordered_set<std::string> KnownGreyFiles;
};

// The destination: the accumulator (value = sum / weight where weight > 0)
// and the statistics and name of the result.
struct Destination {
  Plane<float> DestSumR, DestSumG, DestSumB;
  Plane<float> DestWeightR, DestWeightG, DestWeightB;
  std::vector<int32_t> DestHisto = std::vector<int32_t>(65536, 0);
  int32_t DestHistoMax = 0;
  std::string DestFileName;
};

class Session {
 public:
  explicit Session(Platform platform);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Services of the machine.
  Platform platform;
  // What the engine shows, one listener per concern: the main-window model
  // while there is one, otherwise listeners that show nothing. Never null.
  Messages* messages = &Messages::None();
  GuideDisplay* guideDisplay = &GuideDisplay::None();
  MainWindowView* window = &MainWindowView::None();
  NumLocale locale = NumLocale::Dot();

  // The session's named parts; each keeps the program's own field names.
  CurrentImage pic;
  Masters cal;
  // The image list, slots 0..n.
  std::vector<ImageEntry> Img;
  Options opt;
  GuideStar guide;
  StackState stack;
  Destination dest;

  // Set by OK in the Options dialog.
  bool OptionsApplied = false;

  // The image being shown in the main window (0: none).
  int16_t CurPic = 0;
  // The window's running state: kIdle, kRunning or kStopRequested
  // (core/progress.h). The windows' commands write it (StartProcess,
  // StopProcess, "&Stop", Escape); long loops read it through `progress`.
  int16_t RunState = kIdle;
  // What every long loop yields to, asks whether to go on and reports to.
  RunProgress progress{RunState, platform.events, messages};

  // Resize every per-image table to 0..n keeping the existing entries.
  void ResizeImageArrays(int n);
  // Number of list images (upper bound of the tables).
  int ImageCount() const { return static_cast<int>(Img.size()) - 1; }
  ImageEntry& Entry(int index);
};

}  // namespace qv
