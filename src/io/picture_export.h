// Saving a picture as it is shown (JPEG, BMP), the choice of writer by the
// file name, the batch TIFF names and the FITS header view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "core/plane.h"

struct FIBITMAP;

namespace qv {

// The writer a save command uses: the last three characters of the name,
// in lower case, "jpg", "bmp" or "tif"; anything else is FITS.
enum class PictureWriter { Jpeg, Bmp, Tiff, Fits };
PictureWriter WriterForName(const std::string& fileName);

// The name a save dialog starts from: the name without its last four
// characters (its point and extension).
std::string SaveDialogInitialName(const std::string& fileName);

// A picture as shown (packed pixels, row 0 at the top, after the stretch of
// the view) copied into a new 24-bit FreeImage bitmap; nullptr when the
// picture is empty or the bitmap cannot be allocated. The caller unloads it.
FIBITMAP* PictureToFreeImage(const Plane<int32_t>& shown);

// Writes the picture as JPEG at the library's good quality. Fails with the
// run-time error met; an empty picture writes no file, and an existing file
// of that name is replaced only by a complete one.
Outcome SaveJpeg(const Plane<int32_t>& shown, const std::string& FileName);

// The 24-bit BMP file of the picture: 14-byte file header, 40-byte info
// header, rows bottom first as blue, green, red, each padded with zeros to
// a multiple of 4 bytes. Empty for an empty picture.
std::vector<uint8_t> BuildBmpFile(const Plane<int32_t>& shown);
// Writes it, replacing an existing file only with a complete one. Fails with
// the run-time error met (an empty picture writes no file).
Outcome SavePictureAsBmp(const Plane<int32_t>& shown, const std::string& FileName);

// The TIFF name of "Enregistrer toutes les images en TIFF": the file name up
// to and including the point of its first ".f" (looked for in lower case),
// followed by "tif"; empty when the name holds no ".f" (the image is skipped).
std::string BatchTiffName(const std::string& fileName);

// The FITS header view ("Entête FITS").
struct FitsHeaderView {
  bool shown = false;              // false: not a FITS name or no such file; nothing shows
  std::vector<std::string> lines;  // the 80-character cards, up to the END card included
  std::string caption;             // "Entête FTS - " and the file name without its folder
};
// The extension is the last four characters in lower case, without their
// first when that is a point, else their first three; it must be "fts" or
// "fit". Cards are read in blocks of 36 until the END card (its first three
// characters, trimmed, "end" in any case) or the end of the file; a last
// block cut short gives its whole cards. The list stops after about 100000
// cards (a file without END card would otherwise list all of its data).
FitsHeaderView ReadFitsHeaderView(const std::string& path);

}  // namespace qv
