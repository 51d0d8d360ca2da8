// The Qt side of the platform layer: the event-loop yield, the desktop
// services, the file dialogs and the packed-pixel blit.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QRect>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/aside.h"
#include "core/plane.h"
#include "platform/desktop.h"
#include "platform/platform.h"
#include "workspace/project.h"

class QWidget;

namespace qvapp {

// A yield processes the pending events, so that "&Stop", Escape and
// repaints are seen while a long loop runs on the user-interface thread.
// `beforeYield` lets the windows mirror their models first, at every yield;
// `onReport` hears how far a long operation has come. A work run aside (the
// editor's rows) runs on a thread of its own while this thread serves its
// events, asleep between them until the work ends.
//
// The image pipeline yields every fourth row, thousands of times a second,
// and each pass through the event loop asks the system for events: the
// events are therefore served at most every `serveEvery`, which no eye
// and no hand on "&Stop" can tell from every yield.
class QtEventLoop : public qv::Progress {
 public:
  std::function<void()> beforeYield;
  std::function<void(const std::string&, double)> onReport;
  // Runs on this thread once a work run aside has started, before the wait
  // (tests post their events there).
  std::function<void()> duringAside;
  std::chrono::nanoseconds serveEvery = std::chrono::milliseconds(5);
  void Yield() override;
  void Report(const std::string& caption, double done) override {
    if (onReport) onReport(caption, done);
  }
  void RunAside(const std::function<void()>& work) override;
  void AwaitAside() override { aside_.Await(); }
  // Whether a work run aside is being waited for (its handlers run inside).
  bool InAside() const { return inAside_; }
  // The times a yield served the events.
  long served = 0;

 private:
  qv::AsideThread aside_;
  bool inAside_ = false;
  QElapsedTimer sinceServed_;
};

class QtDesktop : public qv::Desktop {
 public:
  explicit QtDesktop(QWidget*& owner) : owner_(owner) {}
  bool AskYesNo(const std::string& text) override;
  bool AskYesNoDefaultNo(const std::string& text) override;
  bool OpenFolder(const std::string& folder) override;
  qv::ScreenRect Screen() override;
  qv::ScreenRect AvailableArea() override;

 private:
  QWidget*& owner_;
};

// The dialogs the windows open: the engine's open and save dialogs plus
// the multiple selection of "&Ajouter images(s)" and the folder browser.
class GuiDialogs : public qv::FileDialogs {
 public:
  // The chosen files as the engine reads them: one full path, or a folder
  // followed by names in it; empty when cancelled.
  virtual std::vector<std::string> OpenFiles(const qv::FileDialogRequest& request) = 0;
  // The chosen folder, or empty text when cancelled. The Options dialog's
  // browser keeps its own English title; others name what they look for.
  virtual std::string BrowseFolder(const std::string& start, const std::string& title = "Browse for output folder") = 0;
};

class QtDialogs : public GuiDialogs {
 public:
  explicit QtDialogs(QWidget*& owner) : owner_(owner) {}
  std::string OpenFile(const qv::FileDialogRequest& request) override;
  // The save dialog reports the filter selected when the name was
  // confirmed, and adds that filter's extension to a name typed without.
  qv::SaveAnswer SaveFile(const qv::FileDialogRequest& request) override;
  std::vector<std::string> OpenFiles(const qv::FileDialogRequest& request) override;
  std::string BrowseFolder(const std::string& start, const std::string& title = "Browse for output folder") override;

 private:
  QWidget*& owner_;
};

// The window a dialog opens over: the one the user is working in (the
// editor's "Enregistrer" over the editor), so that closing the dialog
// hands that window back instead of raising `owner` over it; `owner` when
// no window of the program is active.
QWidget* DialogOwner(QWidget* owner);

// The open dialog's filter text for a description and its patterns.
QString FilterText(const std::string& description, const std::string& patterns);

// Packed pixels 0x00RRGGBB, row 0 at the top, as a picture (shares no data
// with the plane).
QImage PackedToImage(const qv::Plane<int32_t>& pixels);
// The same into `image`, whose memory serves again when it has the size
// and holds it alone (a view showing image after image of one size).
void PackedToImage(const qv::Plane<int32_t>& pixels, QImage& image);
// The part `part` of the pixels (inside them) into `image`, whose memory
// serves again as above: what a paint of that part of a view needs.
void PackedToImage(const qv::Plane<int32_t>& pixels, const QRect& part, QImage& image);

// A picture as packed pixels 0x00RRGGBB.
qv::Plane<int32_t> ImageToPacked(const QImage& image);

// Groups dropped or chosen paths the way the open dialog answers: the
// folder followed by the names in it, one group per folder.
std::vector<std::vector<std::string>> GroupByFolder(const std::vector<std::string>& paths);

// Waits at least `seconds` in the event loop: the events that come
// meanwhile are served (the windows repaint), and between them the thread
// sleeps. A wait of 0 or less serves the pending events once.
void PauseWithEvents(double seconds);

// Loads Qt's own French texts (qtbase_fr: the buttons and captions of the
// file dialogs and message boxes) into the application, so that nothing
// the user sees is in English. False when they are not installed.
bool InstallFrenchTranslations();

// Window placement. Rectangles named `frame` are a window's outer frame,
// title bar included, in screen pixels; `area` is the free part of a
// screen (without task bars and panels).

// The frame moved, and shrunk on an axis where it is larger, so that it
// lies within the area.
QRect WithinArea(const QRect& frame, const QRect& area);
// Where a window of outer size `size` goes beside the frame `owner`: to its
// right, else to its left, else against the area's right edge, with its top
// level with the owner's, always within the area.
QRect BesideFrame(const QRect& owner, const QSize& size, const QRect& area);
// The free part of the screen a window is on (or of the primary screen).
QRect AvailableArea(const QWidget* window);
// The width and height a window manager's frame adds to a window: the
// window's own once it is framed, otherwise those of another framed
// top-level window, otherwise none (no window manager).
QSize FrameExtra(const QWidget* window);
// Gives a top-level window the outer frame `frame`, limited to the free
// area of its screen. Before a window is first shown its frame is not
// known: that of a framed sibling is assumed.
void SetFrameGeometry(QWidget* window, const QRect& frame);
// Runs `place` for a window just shown, and again once the window manager
// has framed it (when its frame's size is known).
void NowAndWhenFramed(QWidget* window, const std::function<void()>& place);
// Moves (and if need be shrinks) a top-level window just shown so that its
// frame lies within the free area of its screen: now, and again once the
// window manager has framed it.
void KeepWithinScreen(QWidget* window);

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

}  // namespace qvapp
