// A temporary stacking file read back by the final combination: its angle
// and box, then its three planes, filtered, weighted and resampled into
// the destination. The run that wrote it is replaced by a few control
// bytes: the frame size, the options of the combination and the canvas.
#include <cstdint>
#include <span>
#include <string>

#include "core/session.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "stack/run_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::Tail tail(data, size);
  const uint8_t w = tail.Byte(), h = tail.Byte(), bits = tail.Byte(), edge = tail.Byte();

  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  // A run starts a new stack (no file counted yet), so it comes first.
  qv::StartProcess(s);
  s.stack.StackW1 = w % 40;
  s.stack.StackH1 = h % 30;
  s.stack.StackCount = 1;
  s.stack.TempBase = (qvfuzz::ScratchFolder() / "qv").string();
  s.opt.UseMask = (bits & 1 ? qv::CircCrop : 0) | (bits & 2 ? qv::ProgBlend : 0) | (bits & 4 ? qv::EdgeCut : 0) |
                  ((bits >> 3) & 3) * 0x800;  // the median filter's mode
  s.opt.EdgeSize = static_cast<int16_t>(edge % 8);
  const bool expand = bits & 32;
  if (expand) {
    // A canvas around the frame, as frames shifted both ways leave it.
    s.stack.CanvasMinX = s.stack.CanvasMinY = -(edge % 16);
    s.stack.CanvasMaxX = s.stack.StackW1 + edge % 16;
    s.stack.CanvasMaxY = s.stack.StackH1 + edge / 16;
  }
  qvfuzz::WriteScratch("qv1.bin", tail.Rest());

  std::string destination;
  qv::FinalCombination(s, expand, destination);
  qv::StopProcess(s);
  return 0;
}
