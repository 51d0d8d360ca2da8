// BMP and JPEG pictures through the platform's picture loader, with its
// size guard, and then through the pipeline. The loader reads its own
// header checks and BMP repairs (cut files, version 4/5 headers, RLE rows)
// before FreeImage decodes anything; those are ours and are what this
// target is for.
#include <cstdint>
#include <span>

#include "core/plane.h"
#include "core/session.h"
#include "fuzz_support.h"
#include "io/picture.h"
#include "platform/platform.h"
#include "process/process_pic.h"

namespace {

// A guard far below the program's (kMaxImageValues / 3 pixels) so that a
// picture the guard lets through decodes in milliseconds; the guard's code
// is the same whatever its limit.
constexpr int64_t kFuzzPixels = int64_t{1} << 18;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  // The name's extension is the only thing the program knows of a picture
  // before it is decoded; the content decides which decoder runs.
  const bool bmp = size >= 2 && data[0] == 'B' && data[1] == 'M';
  const std::string path = qvfuzz::WriteScratch(bmp ? "picture.bmp" : "picture.jpg", bytes);

  qv::FreeImageLoader loader(kFuzzPixels);
  qv::HeadlessProgress events;
  qv::SystemClock clock;
  qv::Session s(qv::Platform{&loader, &events, &clock});
  qv::Plane<int32_t> pixels;
  if (!qv::LoadPictureToPixels(&loader, path, pixels)) return 0;

  s.ResizeImageArrays(1);
  s.Img[1] = qv::ImageEntry{};
  s.Img[1].ImgFile = path;
  s.CurPic = 1;
  qv::ProcessPic(s, 1, 1);
  return 0;
}
