#include "process/image_files.h"

#include <new>

#include "core/paths.h"
#include "io/picture_export.h"
#include "io/tiff_reader.h"

namespace qv {

std::string UnreadableHeaderWords(const std::string& path) {
  const std::string why = FileKind(path) == "tif" ? TiffHeaderProblem(path) : std::string();
  return why.empty() ? "en-tête illisible ou valeur hors limites" : why;
}

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

Outcome WriteNewTiffFile(Session& s, const std::string& FileName, bool& FromDestination) {
  return WriteNewTiffFile(SavedPlanesOf(s, FromDestination), FileName);
}

bool ThreeIdenticalPlanes(const Session& s, const std::string& name, bool fromDestination) {
  const PictureWriter w = WriterForName(name);
  if (w == PictureWriter::Jpeg || w == PictureWriter::Bmp || s.opt.Has(Mono) || s.ImageCount() < 1) return false;
  for (int i = 1; i <= s.ImageCount(); ++i) {
    const ImageEntry& e = s.Img[static_cast<size_t>(i)];
    if (e.ImgBitpix == 0 || (e.ImgNaxis >= 3 && e.ImgNaxis3 > 1)) return false;
  }
  // One-plane files still give colour when decoded from a raw colour matrix
  // or routed by name to red, green or blue: the planes themselves say.
  if (fromDestination) {
    const Destination& d = s.dest;
    return d.DestSumG == d.DestSumR && d.DestSumB == d.DestSumR && d.DestWeightG == d.DestWeightR &&
           d.DestWeightB == d.DestWeightR;
  }
  return s.pic.PicG == s.pic.PicR && s.pic.PicB == s.pic.PicR;
}

int SaveImageAs(Session& s, const std::string& fileName, const Plane<int32_t>& shown, bool fromDestination) {
  if (fileName.empty()) return 0;
  switch (WriterForName(fileName)) {
    case PictureWriter::Jpeg:
      return SaveJpeg(shown, fileName).err;
    case PictureWriter::Bmp:
      return SavePictureAsBmp(shown, fileName).err;
    case PictureWriter::Tiff:
      return WriteTiffFile(s, fileName, fromDestination).err;
    case PictureWriter::Fits:
      break;
  }
  return WriteFitsFile(s, fileName, fromDestination).err;
}

}  // namespace qv
