// The per-image pipeline: one image file in, the current image out.
#pragma once

#include <string_view>

#include "core/outcome.h"
#include "core/session.h"

namespace qv {

// Index -2 flat, -1 dark, 0 mask, 1..n list image; Step sub-samples the
// image (0 counts as 1). Succeeds only when every step succeeded; a
// failure says why (and gives the run-time error number where there is
// one). A stop requested while the pixels are read is a failure too.
Outcome ProcessPic(Session& s, int index, int step);
// The same; on success `grey` tells whether the three planes are known to
// hold the same values (a single-plane file routed to all three and only
// steps that treat the three alike); false when that is not known.
Outcome ProcessPic(Session& s, int index, int step, bool& grey);

// How the reason of a failed ProcessPic begins when a floating-point file
// holds values that are not numbers or are infinite; the rest names the
// first one and the file.
inline constexpr std::string_view kNotNumbersMessage =
    "le fichier contient des valeurs qui ne sont pas des nombres ou qui sont infinies";

// HistoMax and the four display levels from Histo; false when HistoMax < 1.
bool ComputeLevels(Session& s);

// The plane routing of a single-plane file from its name: 0 or a sum of
// 1 red, 2 green, 4 blue.
int16_t ChannelOf(const Session& s, const std::string& file);

}  // namespace qv
