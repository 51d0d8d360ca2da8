// "E&xécuter": one stacking run over the checked images of the list.
#pragma once

#include "workspace/form1.h"

namespace qv {

// The range of a run from the subset boxes (0 or no number: the whole
// list), limited to 1..n with last not below first.
void RunRange(const Form1& f, int& first, int& last);

// Walks the checked images of the range: each is selected (processed and
// tracked), accepted by its quality, shifted, rotated and parked; a run
// that was not stopped ends with the final combination. Does nothing
// while another operation runs.
void RunStack(Form1& f);

// The end of a run: the final combination over the canvas that "Etendre la
// mosaïque" asks for; then the destination window opens, or a message box
// tells what went wrong.
void FitFinal(Form1& f);

}  // namespace qv
