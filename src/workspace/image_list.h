// The image list of the main window: clearing it, building its thumbnail
// strip and selecting an entry. The control state lives in Form1; what is
// drawn goes through the session's main-window listener.
#pragma once

#include "core/outcome.h"
#include "core/session.h"
#include "workspace/form1.h"

namespace qv {

// "&Nouveau": empties the list and the strip, clears the view and the
// subset boxes. Does nothing while the window is busy or a run is active.
void mnuNew_Click(Form1& f);

// Builds the strip for entries k..n, in the running state (a stop request
// ends the loop after the current entry), and selects entry k. With
// forceChecked every entry built is checked; otherwise its box shows
// ImgChecked. Entry 1 always gets NewRef and NewPos. Always leaves the
// running state, also after a run-time error.
void Populate(Form1& f, int k, bool forceChecked);

// Selects entry `index` (-1 clears the view): its check box follows
// ImgChecked and shows its registration flags, CurPic and the strip's
// scroll bar follow, then the picture part runs (select_pic.h). Busy while
// it runs. An index outside the strip does nothing. Gives back the outcome
// of the processing it ran, success when it ran none.
Outcome SelectPic(Form1& f, int index, bool noLoad, bool vsOnly);

// Check9(index) clicked: the entry takes the box's value.
void Check9_Click(Form1& f, int index);

}  // namespace qv
