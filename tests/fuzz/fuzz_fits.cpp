// The FITS header parser on the fuzzer's bytes, then the whole pipeline on
// the same bytes as a file: header, data unit, decoding, colour, defects,
// fusion and gradient removal.
#include <cstdint>
#include <span>

#include "core/session.h"
#include "fuzz_support.h"
#include "io/fits_reader.h"
#include "platform/platform.h"
#include "process/process_pic.h"

namespace {

// The pipeline's own budget lets an image of 2^28 values through; an
// image a thousand times smaller still walks every path of the pipeline
// and keeps each run short enough to try thousands of files a minute.
constexpr int64_t kFuzzValues = int64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The byte parser alone, on the whole input.
  qv::ImageEntry parsed;
  const qv::HeaderResult header = qv::ParseFitsHeader(std::span<const uint8_t>(data, size), parsed);

  // Two control bytes at the end choose the options: the data unit is read
  // from the front, so bytes past it are padding to the file.
  qvfuzz::Tail tail(data, size);
  const uint8_t bits = tail.Byte();
  const uint8_t step = tail.Byte();
  if (header == qv::HeaderResult::Ok &&
      int64_t{parsed.ImgNaxis1} * parsed.ImgNaxis2 * (parsed.ImgNaxis3 < 3 ? 1 : 3) > kFuzzValues)
    return 0;

  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  s.opt.UseMask = (bits & 1 ? qv::HotCalc : 0) | (bits & 2 ? qv::CalcFill : 0) | (bits & 4 ? qv::Bin2x2 : 0) |
                  (bits & 8 ? qv::GradRemove : 0) | (bits & 16 ? qv::Mono : 0) | (bits & 32 ? qv::ColourOnly : 0) |
                  (bits & 64 ? qv::PixAspect : 0);
  s.ResizeImageArrays(1);
  s.Img[1] = qv::ImageEntry{};
  s.Img[1].ImgFile = qvfuzz::WriteScratch("image.fit", std::span<const uint8_t>(data, size));
  s.CurPic = 1;
  qv::ProcessPic(s, 1, 1 + step % 3);
  return 0;
}
