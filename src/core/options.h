// Bits of the UseMask option set.
#pragma once

#include <cstdint>

namespace qv {

enum UseMaskBit : int32_t {
  HotCalc = 0x1,
  HotMaskOn = 0x2,
  CalcFill = 0x4,
  EdgeCut = 0x8,
  PixAspect = 0x10,
  MaskFill = 0x20,
  Mono = 0x40,
  ColourOnly = 0x80,
  Bin2x2 = 0x200,
  ProgBlend = 0x400,
  MedianMode = 0x1800,
  CircCrop = 0x2000,
  GradRemove = 0x4000,
  DarkSub = 0x8000,
  FlatApply = 0x10000,
};

// Bits of ImgFlags, taken from the FITS header.
enum ImgFlagBit : uint8_t {
  FlagRawCfa = 1,
  FlagOddX = 2,
  FlagOddY = 4,
  FlagSsdsi = 8,
};

}  // namespace qv
