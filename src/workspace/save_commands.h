// The main window's and the editor's save commands, and the batch TIFF
// conversion of the image list.
#pragma once

#include <cstdint>
#include <string>

#include "core/plane.h"
#include "core/session.h"
#include "io/picture_export.h"

namespace qv {

// Writes the image under `fileName` with the writer its extension selects:
// JPEG or BMP from `shown` (the picture as its view shows it), TIFF or FITS
// from the data, the current image or the destination. An empty name saves
// nothing. Returns 0, or the number of the error met.
int SaveImageAs(Session& s, const std::string& fileName, const Plane<int32_t>& shown, bool fromDestination);

// "Enregistrer toutes les images en TIFF": every list image whose name has
// a ".f" and whose TIFF name is not taken is selected, processed and
// written as TIFF; the status label counts them. Runs in the running state
// and stops at the user's stop. Returns the number of images converted.
int SaveAllTiff(Session& s);

// "Entête FITS": while the debug window is not checked, nothing runs and an
// image is selected, the cards of the selected FITS file are added to the
// debug window's lines; the view returned carries them and the caption of
// the window to show modal (shown false: nothing to show).
FitsHeaderView mnuFITS_Click(Session& s);

}  // namespace qv
