// "&Ajouter images(s)": the chosen files join the list.
#pragma once

#include <string>
#include <vector>

#include "core/session.h"
#include "workspace/form1.h"

namespace qv {

// The open dialog's answer: one full path, or a folder followed by names
// in that folder. Names are sorted, "Images en couleur seulement" drops
// those containing "L", zones follow from the previous entry under gradient
// removal, and the strip is built for the new entries.
void mnuLoad_Click(Form1& f, std::vector<std::string> parts);

}  // namespace qv
