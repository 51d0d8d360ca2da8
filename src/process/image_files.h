// The readers and writers of the program's own names, on the session: the
// file an index names, its header read into its slot, and the current
// image or the destination saved. The readers and writers themselves (io/)
// take only the entry, planes and services they work on.
#pragma once

#include <cstdint>
#include <string>

#include "core/outcome.h"
#include "core/plane.h"
#include "core/session.h"
#include "io/fits_reader.h"
#include "io/fits_writer.h"
#include "io/tiff_writer.h"

namespace qv {

// Index -2 flat, -1 dark, 0 mask, 1..n list image; empty for an index
// outside the list.
std::string ImagePath(const Session& s, int index);

// Fills the header fields of the image's slot (slot 0 for master files)
// without reading any pixel. A list image whose ImgBitpix is set is known
// already and is not read again. A raster picture leaves PicPixels with a
// single element.
HeaderResult ReadHeader(Session& s, int index);

// Why a file's header could not be read, for a header the reader refused
// without a more precise result: a TIFF says what keeps it out (most often
// a compression), anything else the general words.
std::string UnreadableHeaderWords(const std::string& path);

// The planes the writers store: the current image (fromDestination false)
// or the destination; one plane when the Mono option is set, else three.
SavedPlanes SavedPlanesOf(const Session& s, bool fromDestination);

// Writes the current image (FromDestination false) or the destination,
// sum / weight (true), as 16-bit FITS with BZERO 32768. Fails with the
// run-time error met (an existing file is then untouched).
Outcome WriteFitsFile(Session& s, const std::string& FileName, bool& FromDestination);

// The same as an uncompressed 16-bit TIFF.
Outcome WriteTiffFile(Session& s, const std::string& FileName, bool& FromDestination);
// The same without ever replacing a file: the batch conversion's TIFF beside
// each image never takes the place of one that is there, even one created
// while it was written.
Outcome WriteNewTiffFile(Session& s, const std::string& FileName, bool& FromDestination);

// A picture written to `name` as FITS or TIFF (the result, or else the
// current image) holds three identical planes: every list image has one
// plane, "Monochrome" is off, and no colour came from a raw colour matrix
// or from files routed to their colour.
bool ThreeIdenticalPlanes(const Session& s, const std::string& name, bool fromDestination);

// Writes the image under `fileName` with the writer its extension selects:
// JPEG or BMP from `shown` (the picture as its view shows it), TIFF or FITS
// from the data, the current image or the destination. An empty name saves
// nothing. Returns 0, or the number of the error met.
int SaveImageAs(Session& s, const std::string& fileName, const Plane<int32_t>& shown, bool fromDestination);

}  // namespace qv
