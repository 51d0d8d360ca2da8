// What the engine needs from the machine it runs on, as small interfaces.
// The headless implementations here serve the command-line tool and the
// tests; the GUI supplies its own event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/aside.h"
#include "core/plane.h"
#include "core/progress.h"

namespace qv {

// Decodes a raster picture (BMP, JPEG, PNG, TIFF, ...) into packed pixels
// 0x00RRGGBB, y 0 at the top. Returns false when the file cannot be decoded;
// `pixels` is then left empty.
class PictureLoader {
 public:
  virtual ~PictureLoader() = default;
  virtual bool Load(const std::string& path, Plane<int32_t>& pixels) = 0;
  // Why the last Load returned false, in words for the user; empty when the
  // decoder gave no reason.
  std::string failure;
};

// Seconds since midnight, local time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual double SecondsSinceMidnight() = 0;
};

// The most values (width x height x planes) one image may hold. An image
// declaring more is refused before anything is allocated for it: a file of
// a few bytes can declare a picture of billions of pixels. 2^28 values let
// a 61-megapixel colour frame (183 million values) and a monochrome frame of
// 268 million pixels through; the pipeline then holds four bytes per pixel
// and plane.
inline constexpr int64_t kMaxImageValues = int64_t{1} << 28;

// Picture loader built on FreeImage. Pictures wider or taller than 32767
// pixels (the image header fields are 16-bit) or of more than `maxPixels`
// pixels are refused from their header, before their pixels are decoded;
// the default keeps the three planes a picture becomes within
// kMaxImageValues. Only regular files are opened, and only formats whose
// size can be read before they are decoded; an uncompressed BMP shorter
// than the pixels it declares is refused as cut.
class FreeImageLoader : public PictureLoader {
 public:
  explicit FreeImageLoader(int64_t maxPixels = kMaxImageValues / 3) : maxPixels_(maxPixels) {}
  bool Load(const std::string& path, Plane<int32_t>& pixels) override;

 private:
  static constexpr int64_t kMaxSide = 32767;
  // False, with the reason in `failure`, for a size the program cannot use.
  bool SizeAllowed(int64_t w, int64_t h);
  int64_t maxPixels_;
};

// The event loop's side of the progress contract, by the name the windows'
// code knew it by.
using EventLoop = Progress;

// Progress without windows: a yield runs an optional hook (tests and the
// command-line tool use it to request a stop); the last report is kept, and
// heard by another hook.
class HeadlessProgress : public Progress {
 public:
  std::function<void()> onYield;
  std::function<void(const std::string&, double)> onReport;
  long yields = 0;
  std::string caption;
  double done = -1;
  void Yield() override {
    ++yields;
    if (onYield) onYield();
  }
  void Report(const std::string& text, double fraction) override {
    caption = text;
    done = fraction;
    if (onReport) onReport(text, fraction);
  }
  // With `duringAside` set, RunAside runs its work on a thread of its own
  // and the hook here meanwhile, as a window's handlers run while it waits
  // (a test's edits made during the work); without, the work runs here.
  std::function<void()> duringAside;
  long asides = 0;
  void RunAside(const std::function<void()>& work) override;
  void AwaitAside() override { aside_.Await(); }

 private:
  AsideThread aside_;
};

class SystemClock : public Clock {
 public:
  double SecondsSinceMidnight() override;
};

// The set of services a session uses.
struct Platform {
  PictureLoader* loader = nullptr;
  Progress* events = nullptr;
  Clock* clock = nullptr;
};

// Headless services owned together, for the command-line tool and tests.
struct HeadlessPlatform {
  FreeImageLoader loader;
  HeadlessProgress events;
  SystemClock clock;
  Platform Get() { return Platform{&loader, &events, &clock}; }
};

}  // namespace qv
