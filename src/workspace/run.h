// "E&xécuter": one stacking run over the checked images of the list.
#pragma once

#include <string>
#include <vector>

#include "core/outcome.h"
#include "platform/desktop.h"
#include "stack/stacking.h"
#include "workspace/form1.h"
#include "workspace/results.h"

namespace qv {

// The request the main window makes: the subset boxes while they are shown,
// and "Etendre la mosaïque".
RunRequest RequestFromWindow(const Form1& f);

// The range of the run the window would make.
void RunRange(const Form1& f, int& first, int& last);

// Before "E&xécuter" starts the run: when the temporary folder has less
// room than the run's files need, the user is asked whether to go on anyway
// (No by default). True when the run may start; the run itself is the same
// either way.
bool TempSpaceAgreed(const Form1& f, Desktop& desktop);

// "E&xécuter": the engine's run (StackRun) shown in the window, each image
// selected as a click selects it. Does nothing while another operation
// runs. Without a request, the window's.
RunResult RunStack(Form1& f, const RunRequest& r);
RunResult RunStack(Form1& f);

// The end of a run: the final combination over the canvas that "Etendre la
// mosaïque" asks for (or the request), whose outcome it gives back; then
// the destination window opens.
// `combined` receives the numbers of the temporary files that reached it.
Outcome FitFinal(Form1& f);
Outcome FitFinal(Form1& f, bool expand, std::vector<int>* combined = nullptr);

}  // namespace qv
