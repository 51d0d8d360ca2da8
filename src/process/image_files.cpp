#include "process/image_files.h"

#include <new>

namespace qv {

std::string ImagePath(const Session& s, int index) {
  switch (index) {
    case -2:
      return s.opt.FlatFile;
    case -1:
      return s.opt.DarkFile;
    case 0:
      return s.opt.MaskFile;
    default:
      return index > 0 && index < static_cast<int>(s.Img.size()) ? s.Img[static_cast<size_t>(index)].ImgFile
                                                                 : std::string();
  }
}

HeaderResult ReadHeader(Session& s, int index) {
  try {
    if (index >= 1 && s.Entry(index).ImgBitpix != 0) return HeaderResult::AlreadyRead;
    // Master files share slot 0.
    ImageEntry& e = s.Entry(index < 0 ? 0 : index);
    return ReadHeader(ImagePath(s, index), e, s.platform.loader, s.pic.PicPixels);
  } catch (const RuntimeError&) {
    return HeaderResult::Unreadable;
  } catch (const std::bad_alloc&) {
    return HeaderResult::Unreadable;
  }
}

SavedPlanes SavedPlanesOf(const Session& s, bool fromDestination) {
  const bool mono = s.opt.Has(Mono);
  if (!fromDestination) return SavedPlanes::Picture(s.pic.PicR, s.pic.PicG, s.pic.PicB, mono);
  const Destination& d = s.dest;
  return SavedPlanes::Destination(d.DestSumR, d.DestSumG, d.DestSumB, d.DestWeightR, d.DestWeightG, d.DestWeightB,
                                  mono);
}

Outcome WriteFitsFile(Session& s, const std::string& FileName, bool& FromDestination) {
  return WriteFitsFile(SavedPlanesOf(s, FromDestination), FileName);
}

Outcome WriteTiffFile(Session& s, const std::string& FileName, bool& FromDestination) {
  return WriteTiffFile(SavedPlanesOf(s, FromDestination), FileName);
}

}  // namespace qv
