// The destination window "Etalement destination" (Form2) and the editor
// "Modification de l'image" (Form3): both mirror their plain models and
// forward every event to the handler of the control's name.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

#include "app/qt_platform.h"
#include "core/session.h"
#include "editor/form2.h"
#include "editor/form3.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace qvapp {

class DestinationWindow : public QWidget, public qv::Form2View {
  Q_OBJECT

 public:
  DestinationWindow(qv::Session& s, qv::Form2& f, QWidget* parent = nullptr);
  ~DestinationWindow() override;

  // A press on the picture, at the displayed pixel (x, y) with the button
  // number (1 left, 2 right): the editor's BalWhite.
  std::function<void(float, float, int16_t&)> onPress;
  // The window was closed by the user.
  std::function<void()> onClose;

  void Refresh(const qv::Form2& form) override;
  // Sizes the window to show the whole picture within the screen, lays the
  // bars out and puts them in the middle of their range.
  void FitToPicture();
  // The picture as shown (zoom, pixel aspect, mirror applied).
  const QImage& Shown() const { return shown_; }
  QWidget* picture() const { return Picture1_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Layout();
  int BarThickness() const;

  qv::Session& s_;
  qv::Form2& f_;
  QImage shown_;
  // What shown_ was made from: a refresh for the scroll bars or the caption
  // alone keeps it rather than making the whole picture again.
  struct Made {
    uint64_t picture = 0;
    bool pixAspect = false;
    double pixRatio = 0;
    bool operator==(const Made&) const = default;
  } made_;
  QWidget* Picture1_ = nullptr;  // paints shown_ itself: no pixmap copy of the picture
  QWidget* Picture2_ = nullptr;
  QScrollBar *HScroll1_ = nullptr, *VScroll1_ = nullptr;
  bool mirroring_ = false;
};

class EditorHistoBox;
class EditorCurveBox;

class EditorWindow : public QWidget {
  Q_OBJECT

 public:
  EditorWindow(qv::Session& s, qv::Form3& f, qv::Form2& dest, DestinationWindow& destWindow, GuiDialogs& dialogs,
               QWidget* parent = nullptr);

  ~EditorWindow() override { f_.ControlsSet = nullptr; }
  // Copies every model field into its control.
  void Refresh();
  qv::Form3& form() { return f_; }

  // "Enregistrer" and "Copier".
  void Save();
  void Copy();
  // Hears what a save did, for the main window's status bar.
  std::function<void(const std::string&)> onStatus;
  // Hears that the editor was closed over a result still shown (true), or
  // brought back by a click on it (false).
  std::function<void(bool)> onClosedAlone;
  // Closes the editor with its result, or before a run or the program's
  // end: a redraw under way stops at the end of its band. Closed by the
  // user alone, the redraw goes on, so that the result it leaves on the
  // screen shows the settings the editor was left with.
  void CloseWithResult();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class EditorHistoBox;
  friend class EditorCurveBox;
  bool saveWaiting_ = false;  // a save asked during a redraw, its dialog not open yet
  template <typename F>
  void Forward(F&& handler);

  qv::Session& s_;
  qv::Form3& f_;
  qv::Form2& dest_;
  DestinationWindow& destWindow_;
  GuiDialogs& dialogs_;
  bool mirroring_ = false;

  EditorHistoBox* Picture1_ = nullptr;
  EditorCurveBox* Picture2_ = nullptr;
  std::array<QLineEdit*, 3> Text1_{}, Text2_{};
  std::array<QCheckBox*, 3> Check1_{}, Check2_{};
  QCheckBox *Check3_ = nullptr, *Check4_ = nullptr, *Check5_ = nullptr, *Check6_ = nullptr;
  std::array<QScrollBar*, 6> HScroll_{};
  QLabel* Label4_ = nullptr;  // caption of the white-balance slider
  std::array<QRadioButton*, 3> Option1_{};
  QComboBox* Combo1_ = nullptr;
};

}  // namespace qvapp
