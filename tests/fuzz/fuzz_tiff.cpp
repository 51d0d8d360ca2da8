// The TIFF directory parser and the strip reader over the fuzzer's bytes,
// then the pipeline on the same bytes as a .tif file.
#include <cstdint>
#include <span>
#include <vector>

#include "core/numeric.h"
#include "core/session.h"
#include "fuzz_support.h"
#include "io/tiff_reader.h"
#include "platform/platform.h"
#include "process/process_pic.h"

namespace {

// See fuzz_fits.cpp: a small image walks the same paths as a large one.
constexpr int64_t kFuzzValues = int64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  qv::TiffHeader h;
  if (!qv::ParseTiffHeader(bytes, h)) return 0;
  // Each side first: two 32-bit sides and three samples overflow 64 bits.
  const auto large = [](int64_t side) { return side > kFuzzValues || side < -kFuzzValues; };
  if (large(h.width) || large(h.height) || int64_t{h.width} * h.height * (h.samples < 3 ? 1 : 3) > kFuzzValues)
    return 0;
  std::vector<uint8_t> samples;
  try {
    // The data position as the header reader makes it: an offset at the
    // top of the range is an overflow error, not a wrapped position.
    qv::ReadTiffSamples(bytes, qv::CLng(static_cast<double>(h.offset) + 1), h.bits, h.samples, h.width, h.height,
                        samples);
  } catch (const qv::RuntimeError&) {
  } catch (const qv::TiffUnsupported&) {
  }

  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  s.ResizeImageArrays(1);
  s.Img[1] = qv::ImageEntry{};
  s.Img[1].ImgFile = qvfuzz::WriteScratch("image.tif", bytes);
  s.CurPic = 1;
  qv::ProcessPic(s, 1, 1);
  return 0;
}
