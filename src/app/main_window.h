// The main window (Form1): it mirrors the Form1 model of the session and
// forwards every event to the handler of the control's name.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <map>
#include <memory>
#include <tuple>

#include "app/editor_windows.h"
#include "app/qt_platform.h"
#include "app/report_window.h"
#include "app/small_windows.h"
#include "core/session.h"
#include "core/view.h"
#include "platform/settings_store.h"
#include "workspace/form1.h"
#include "workspace/show_histo.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QTimer;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QScrollArea;
class QScrollBar;
class QVBoxLayout;

namespace qvapp {

class PictureBox;
class HistoBox;

// The model's marks that Picture1 paints over the picture: a refresh
// repaints the picture only when they changed.
struct PictureMarks {
  qv::ShapeMark Shape2, Shape3, Shape4, Shape5, Label9, Label10;
  qv::LineMark Line2, Line3, Line4;
  static PictureMarks Of(const qv::Form1& f) {
    return {f.Shape2, f.Shape3, f.Shape4, f.Shape5, f.Label9, f.Label10, f.Line2, f.Line3, f.Line4};
  }
  bool operator==(const PictureMarks&) const = default;
};

// The status line, wrapped within the window: a run's summary is read whole.
class WrappedStatus;

class MainWindow : public QMainWindow, public qv::Form1Window {
  Q_OBJECT

 public:
  MainWindow(qv::Form1& f, qv::SettingsStore& store, qv::Desktop& desktop, GuiDialogs& dialogs);
  ~MainWindow() override;

  // Copies every model field into its control; safe to call at any time.
  void Refresh();
  // Refresh at most every tenth of a second: called at every yield of a
  // long loop, so the captions follow the work without slowing it.
  void Tick();
  // Lets the window mirror its models at each yield of `events` and show
  // the progress it reports.
  void FollowEvents(QtEventLoop& events);
  // How far the running operation has come (0..1; negative when it cannot tell).
  void ShowProgress(double done);
  // The status line as it reads (the model's StatusText).
  QString StatusLine() const;
  // The start-up sequence with the program's argument (may be empty).
  void Load(const std::string& commandLine);
  // Shows the window at its own size where the screen's free area holds
  // it, otherwise over the whole free area, so that every control is in
  // sight.
  void ShowWithinScreen();

  // The picture as shown (after the last ShowHisto, or the preview of the
  // image being read), for tests and export.
  const QImage& Shown();
  // The size of the thumbnail kept for entry i (empty without one).
  QSize ThumbnailSize(int i) const {
    const auto it = thumbs_.find(i);
    return it == thumbs_.end() ? QSize() : it->second.size();
  }
  qv::Session& session() { return s_; }
  qv::Form1& form1() { return f_; }
  DebugWindow* debugWindow() const { return debug_; }
  ZoneDialog* zoneDialog() const { return zone_; }
  ReportWindow* reportWindow() const { return report_; }
  // The destination and editor windows, once a combination opened them.
  DestinationWindow* destinationWindow() const { return form2Window_; }
  EditorWindow* editorWindow() const { return form3Window_; }
  qv::Form2* form2() const { return form2_.get(); }
  qv::Form3* form3() const { return form3_.get(); }
  // Adds dropped or given files as "&Ajouter images(s)" adds them; a
  // project file is opened.
  void OpenPaths(const QStringList& paths);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class PictureBox;
  friend class HistoBox;

  void BuildMenus();
  void BuildControls();
  void InstallHooks();
  // Runs a handler and mirrors the model afterwards; controls changed from
  // code while mirroring do not call back.
  template <typename F>
  void Forward(F&& handler);
  // What the engine asks the window to show.
  void ShowHisto() override;
  void Thumbnail(int i) override;
  void ShowImage() override;
  void Preview(int i) override;
  void ShowZones(bool drawImage) override;
  void UpdateList() override;
  void Pause(double seconds) override;
  void RunImage(int i, bool accepted, const qv::Outcome& processed, const qv::Outcome& stacked) override;
  void MsgBox(const std::string& text) override;
  void Combining() override;
  void OpenDestination(const std::string& caption) override;
  void UnloadDestination() override;
  void RebuildStrip();
  // Shows the packed pixels of picture_.shown in Picture1 as they are.
  void ShowPicture();
  // Puts the zone dialog beside this window when it opens.
  void PlaceZoneDialog();
  void PlacePicture();
  void SavePicture();
  void SaveAllTiff();
  void CopyPicture();
  void ShowFitsHeader();
  void OptionsCommand();
  // "Créer un fichier maître...".
  void MasterCommand();

  qv::Session& s_;
  qv::Form1& f_;
  qv::SettingsStore& store_;
  qv::Desktop& desktop_;
  GuiDialogs& dialogs_;
  bool mirroring_ = false;

  // The preview of the image being read, its thumbnail stretched over the
  // picture's size: painted stretched, and made a picture of that size
  // (shown_) only when its pixels are asked for (MakePreviewShown).
  void MakePreviewShown();
  bool previewing_ = false;
  QImage preview_;
  QSize previewSize_;
  // The preview is painted only once the reading has lasted this long: an
  // image read in a few hundredths of a second (every image of a run, as a
  // rule) would show its stretched thumbnail for no one to see, and the
  // stretching costs the run more than the reading's own counting.
  static constexpr int kPreviewAfterMs = 100;
  QTimer* previewPaint_ = nullptr;
  // The window's resize handler, run once the edge has stopped moving: a
  // picture drawn again at each step of a drag would make the drag stutter.
  QTimer* resized_ = nullptr;

  // The main picture at its display size. The picture ShowHisto draws
  // (picture_.shown) is painted from its packed pixels, the part on screen
  // only, and made a picture of its own (shown_) only when its pixels are
  // asked for (Shown): a run shows a whole frame's picture at each image,
  // of which the view holds a part.
  QImage shown_;
  QImage painted_;            // the part of the packed picture last painted, made opaque
  bool shownPacked_ = false;  // the picture is picture_.shown, not shown_
  QSize ShownSize() const;
  qv::MainPicture picture_;    // what the last ShowHisto drew, its storage kept for the next
  PictureMarks paintedMarks_;  // the marks Picture1 was last asked to paint
  bool paintedLine1Visible_ = false;
  double paintedLine1X_ = 0;
  std::map<int, QImage> thumbs_;  // Image1(i)
  double progressDone_ = -1;      // fraction last reported by a running operation; -1 when none
  static constexpr int kProgressSteps = 1000;
  // A new value of the bar is painted with the next picture, or after this
  // long at the latest: painted on its own, at each report, the bar cost a
  // run's window more than the rest of its status line.
  static constexpr int kProgressPaintMs = 200;
  QTimer* progressPaint_ = nullptr;
  void PaintProgress();
  QElapsedTimer sinceRefresh_;
  int mirroredRunState_ = 0;

  // Menus.
  std::array<QAction*, 6> mnu_{};
  QAction *mnuNew_, *mnuLoad_, *mnuMaster_, *mnuSavPicBmp_, *mnuSavPicAll_, *mnuExplSource_, *mnuExplOutput_,
      *mnuLoadPrj_, *mnuSavePrj_, *mnuExit_, *mnuCopy_, *mnuFITS_, *mnubar11_, *mnuDebug_, *mnuGrad_, *mnuZone_,
      *mnuReport_;
  std::array<QAction*, 4> mnuZoom_{};

  // Strip.
  QScrollArea* Picture11_ = nullptr;
  QWidget* Picture10_ = nullptr;
  QVBoxLayout* stripLayout_ = nullptr;
  std::vector<QLabel*> Image1_;
  QLabel* pressedThumbnail_ = nullptr;  // the thumbnail the left button went down on
  std::vector<QCheckBox*> Check9_;
  // The strip's model as last mirrored, the picture each cell's thumbnail
  // was made from (0 for none), the thumbnails' changes as last mirrored,
  // and the cell that has the selection frame (0 for none).
  std::vector<qv::StripCheckBox> stripModel_;
  std::vector<qint64> stripPictures_;
  int thumbsChanged_ = 0, stripThumbs_ = -1;
  int framedCell_ = 0;
  QScrollBar* VScroll1_ = nullptr;
  int centredThumb_ = -1;
  // The strip's count, viewport height and laid-out height the bar's page
  // was measured for: a run's mirror does not measure the strip again.
  std::tuple<int, int, int> pagedFor_{-1, -1, -1};

  // View.
  QWidget* Frame2_ = nullptr;
  QWidget* area_ = nullptr;
  PictureBox* Picture1_ = nullptr;
  QScrollBar *HScroll2_ = nullptr, *VScroll2_ = nullptr;
  QWidget* Picture6_ = nullptr;

  // Side panel.
  HistoBox* Picture3_ = nullptr;
  QScrollBar* HScroll1_ = nullptr;
  QCheckBox* Check3_ = nullptr;
  QLineEdit *Text1_ = nullptr, *Text2_ = nullptr, *Text3_ = nullptr;
  QCheckBox* Check6_ = nullptr;
  QGroupBox* regFrame_ = nullptr;
  QCheckBox *Check2_ = nullptr, *Check5_ = nullptr, *Check7_ = nullptr, *Check8_ = nullptr;
  std::array<QRadioButton*, 5> Option2_{};
  QLineEdit *Text4_ = nullptr, *Text5_ = nullptr, *Text6_ = nullptr;
  QGroupBox* Frame4_ = nullptr;
  std::array<QRadioButton*, 3> Option1_{};
  QLabel *Picture4_ = nullptr, *Picture5_ = nullptr;
  qv::Plane<int32_t> mirrored4_, mirrored5_;  // what the guide thumbnails show
  QLineEdit *Text7_ = nullptr, *Text8_ = nullptr;
  QLabel* Label11_ = nullptr;
  QLabel *Label1_ = nullptr, *Label6_ = nullptr;
  QProgressBar* progress_ = nullptr;
  WrappedStatus* status_ = nullptr;

  QPointer<DebugWindow> debug_;
  QPointer<ZoneDialog> zone_;
  QPointer<ReportWindow> report_;
  int reportedRuns_ = 0;  // the runs ended when the report was last brought forward

  std::unique_ptr<qv::Form2> form2_;
  std::unique_ptr<qv::Form3> form3_;
  QPointer<DestinationWindow> form2Window_;
  QPointer<EditorWindow> form3Window_;
  std::string statusBeforeEditorClosed_;  // the status line the closed editor's note stands in for
};

}  // namespace qvapp
