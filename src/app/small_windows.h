// The debug log (Form4) and the zone dialog (Form6).
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>

#include "workspace/form1.h"

class QListWidget;
class QShortcut;

namespace qvapp {

// The debug log: a list that fills the window with an equal margin; it
// shows the lines the main window's model collects.
class DebugWindow : public QWidget {
  Q_OBJECT
 public:
  explicit DebugWindow(qv::Form1& f, QWidget* parent = nullptr);
  // Shows the model's lines (only the new ones are added).
  void Refresh();
  // Shows `lines` instead (the FITS header view); Escape then closes the
  // window.
  void ShowLines(const std::vector<std::string>& lines);
  QListWidget* List1() const { return list_; }
  std::function<void()> onClosed;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  qv::Form1& f_;
  QListWidget* list_;
  QShortcut* escape_;
  size_t shown_ = 0;
};

// The zone dialog "Zone", kept above the main window.
class ZoneDialog : public QDialog {
  Q_OBJECT
 public:
  ZoneDialog(qv::Form1& f, QWidget* parent);
  // Runs after each command, so that the main window mirrors the model.
  std::function<void()> onChanged;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  qv::Form1& f_;
};

}  // namespace qvapp
