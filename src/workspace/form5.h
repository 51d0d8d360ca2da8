// The Options dialog ("Options") as a plain model: the controls keep their
// designer names and values, the handlers hold all of the dialog's logic,
// and a window only mirrors the fields and forwards its events.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "core/session.h"
#include "platform/settings_store.h"
#include "workspace/form1.h"
#include "workspace/option_table.h"

namespace qv {

class Form5 {
 public:
  struct Frame {
    bool Visible = false;
  };

  Form5(Session& s, SettingsStore& store) : s_(s), store_(store) {}

  std::string Caption = "Options";
  // True from Form_Load until OK or "Annuler" closes the dialog.
  bool Visible = false;

  // Check boxes, 0 or 1. Check1 "Enlever les pixels chauds (Calcul)",
  // Check2 "... (Masque)", Check3 "Remplissage" (Masque), Check4 "Découpage
  // de la bordure", Check5 "Découpage circulaire", Check6 "Monochrome",
  // Check7 "Images en couleur seulement", Check8 "Remplissage" (Calcul),
  // Check9 "Fusion 2 x 2", Check10 "Mélange progressif", Check11 "Enlever
  // le gradient", Check12 "Soustraire le fichier Dark", Check13 "Appliquer
  // le fichier PLU".
  int16_t Check1 = 0, Check2 = 0, Check3 = 0, Check4 = 0, Check5 = 0, Check6 = 0, Check7 = 0, Check8 = 0, Check9 = 0,
          Check10 = 0, Check11 = 0, Check12 = 0, Check13 = 0;
  // Check17 "Normalisation du fond", Check18 "Sortie normalisée" of the
  // frame "Rejet".
  int16_t Check17 = 0, Check18 = 0;
  // "R", "V", "B" of the colour table, indices 1..3 (0 unused).
  std::array<int16_t, 4> Check14{}, Check15{}, Check16{};
  // "X / Y = 1", "Autre".
  std::array<bool, 2> Option1{true, false};
  // "Aucun", "3x3", "4x4", "5x5" of the frame "Filtre Médiane".
  std::array<bool, 4> Option2{true, false, false, false};
  // "Aucun", "Sigma", "Winsorisé" of the frame "Rejet".
  std::array<bool, 3> Option3{true, false, false};

  std::string Text1;                  // "Répertoire Source au démarrage"
  std::string Text2;                  // "Répertoire de destination"
  std::string Text3;                  // "Fichier Masque"
  std::string Text4;                  // pixel ratio, with "Autre"
  std::string Text5;                  // "Écart" (Calcul)
  std::string Text6;                  // "Dimension (pixels)" (Bordure)
  std::string Text7;                  // "Rayon" (Calcul)
  std::string Text8;                  // "Rayon" (Masque)
  std::array<std::string, 4> Text9;   // "X/L", "Y/H", "R/H", "F. Zone Ext."
  std::string Text10;                 // "Seuil" (Masque)
  std::string Text11;                 // "Fichier Plage de Lumière Uniforme (PLU)"
  std::string Text12;                 // "Fichier Dark"
  std::array<std::string, 4> Text13;  // colour patterns, indices 1..3 (0 unused)
  std::string Text14;                 // "Limite sup." (Filtre Médiane)
  std::string Text15;                 // "κ bas" (Rejet)
  std::string Text16;                 // "κ haut" (Rejet)
  std::string Text17;                 // "FWHM max. (x médiane)" (Marques automatiques); empty or 0: off
  bool Text4Visible = false;

  // Gradient ratio slider, 0..10; shown with "Enlever le gradient".
  static constexpr int16_t kHScroll1Min = 0, kHScroll1Max = 10;
  int16_t HScroll1 = 0;
  bool HScroll1Visible = false;

  Frame Frame4;  // "Calcul"
  Frame Frame5;  // "Bordure"
  Frame Frame6;  // "Découpage circulaire"
  Frame Frame8;  // "Masque"

  // The median choice of the option buttons, 0..3.
  int16_t MedianChoice = 0;
  // The rejection chosen by Option3, 0..2.
  int16_t RejectChoice = 0;
  // The rejection's settings mean nothing without a rejection, and the
  // normalised output nothing without the normalisation: their controls
  // are greyed rather than hidden, so that the user sees what "Sigma"
  // would bring.
  bool Text15Enabled = false, Text16Enabled = false, Check17Enabled = false, Check18Enabled = false;

  // Fills the controls from the options (InitDir from the store) and shows
  // the dialog.
  void Form_Load();
  // Each shows its frame exactly while its box is checked.
  void Check1_Click();
  void Check2_Click();
  void Check4_Click();
  void Check5_Click();
  void Check11_Click();
  // Enables "Sortie normalisée" exactly while the normalisation is checked
  // (and a rejection chosen).
  void Check17_Click();
  // Selects one button of the group and runs its handler.
  void Option1_Click(int index);
  void Option2_Click(int index);
  void Option3_Click(int index);
  // "OK": options from the controls, clamped, written, OptionsApplied set.
  void Command1_Click();
  // What OK could not take, as (store key, text typed): the option kept its
  // value.
  KeyTexts refused;
  // "Annuler": closes the dialog, nothing is written.
  void Command2_Click();

 private:
  // What the dialog's controls hold for an option it edits: the text of
  // its box, or the number of its check boxes, option buttons or slider.
  DialogValue ValueOf(OptionKey key);

  Session& s_;
  SettingsStore& store_;
};

// The "&Options" menu command of the main window. Only while the window is
// not busy and nothing runs: clears OptionsApplied, shows the dialog and
// lets `user` act on it (a window runs its modal loop there); when OK was
// pressed, rebuilds the calibration masters and, if an image is shown
// (registration frame visible), selects the current image again so that
// it shows with the new options.
void OptionsCommand(Form1& f, SettingsStore& store, const std::function<void(Form5&)>& user);

// What follows options that change the masters: a yield, the calibration
// masters built again and, if an image is shown (registration frame
// visible), the current image selected again to show with them.
void RebuildMastersAndShow(Form1& f);

}  // namespace qv
