// The Options dialog (Form5): mirrors the Form5 model and forwards its
// events to the model's handlers.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "app/qt_platform.h"
#include "workspace/form5.h"

namespace qvapp {

class OptionsDialog : public QDialog {
  Q_OBJECT
 public:
  OptionsDialog(qv::Form5& model, GuiDialogs& dialogs, QWidget* parent);
  // Copies every model field into its control.
  void Refresh();

 protected:
  void reject() override;

 private:
  qv::Form5& m_;
  GuiDialogs& dialogs_;
  bool mirroring_ = false;
  std::vector<std::function<void()>> mirrors_;
};

}  // namespace qvapp
