// Control state of the main window, as a plain model: the Qt window only
// mirrors these values and forwards its events to the handlers.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct Form1 {
  std::string Caption = "Quelvista";
  // Guard flag: set while the window is loading or rebuilding its list.
  bool Busy = false;
  // The current project file (saved at quit as the Project key).
  std::string Project;
  // "Qualité minimale (%)": MinQual x 100.
  std::string Text3;
  // "Etendre la mosaïque" (0 or 1).
  int16_t Check6 = 0;
  // "Auto" of the frame "Niveau" (0 or 1).
  int16_t Check3 = 0;
  // Slider of the frame "Niveau", 0..20.
  int16_t HScroll1 = 0;
  // Guide box: 0 "32 x 32", 1 "64 x 64", 2 "Aucun".
  int16_t Option1 = 0;
  // First and last image of a partial run.
  std::string Text7, Text8;
};

}  // namespace qv
