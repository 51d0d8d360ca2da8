// Zone texts, as a project line or a click sequence leaves them: parsed,
// filled on a small surface as the gradient removal rasterises them, and
// drawn as the picture shows them (points, outline and hatch, or filled).
#include <cstdint>
#include <string>

#include "core/numeric.h"
#include "core/plane.h"
#include "display/overlays.h"
#include "display/zones.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::Tail tail(data, size);
  const int w = 1 + tail.Byte() % 96, h = 1 + tail.Byte() % 64;
  const std::string zone(reinterpret_cast<const char*>(tail.Rest().data()), tail.Rest().size());
  qv::Plane<int32_t> surface;
  surface.Redim(w - 1, h - 1);
  try {
    qv::ParseZones(zone);
    qv::DrawZonesFilled(zone, surface);
  } catch (const qv::RuntimeError&) {
    // A number beyond a double, or a coordinate that does not fit an
    // integer: an overflow, for the caller's error boundary (the pipeline's
    // gradient removal fails the image; the drawing below shows no zone).
  }
  qv::Plane<int32_t> shown;
  shown.Redim(w - 1, h - 1);
  qv::DrawZones(shown, zone, false);
  qv::DrawZones(shown, zone, true);
  return 0;
}
