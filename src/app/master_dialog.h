// The dialog of "Créer un fichier maître..." (MasterDialog): mirrors the
// model and forwards its events to the model's handlers.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "app/qt_platform.h"
#include "workspace/master_dialog.h"

namespace qvapp {

class MasterDialogWindow : public QDialog {
  Q_OBJECT
 public:
  MasterDialogWindow(qv::MasterDialog& model, GuiDialogs& dialogs, QWidget* parent);
  // Copies every model field into its control.
  void Refresh();

 protected:
  void reject() override;

 private:
  // Runs a handler, then mirrors the model (and closes when it says so).
  template <typename F>
  void Forward(F&& handler);
  qv::MasterDialog& m_;
  GuiDialogs& dialogs_;
  bool mirroring_ = false;
  std::vector<std::function<void()>> mirrors_;
};

}  // namespace qvapp
