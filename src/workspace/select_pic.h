// The picture part of selecting an image: processing, marks, status text,
// guide tracking and overlays.
#pragma once

#include "core/outcome.h"
#include "core/session.h"
#include "workspace/form1.h"

namespace qv {

// Steps of SelectPic once entry `index` is the selected one. Loading makes
// it the current image and processes it at full resolution; the debug log
// says why a file of values that are not numbers failed.
Outcome LoadSelectedImage(Form1& f, int index);
// Then the caption, the registration controls, the guide tracking, the
// rotation marks, the status text and the overlays follow the entry.
void ShowSelectedImage(Form1& f, int index);

// The status text under the picture for the current image.
std::string StatusText(const Session& s);

}  // namespace qv
