#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPaintEngine>
#include <QPainter>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>
#include <utility>

#include "app/master_dialog.h"
#include "app/options_dialog.h"
#include "app/plain_controls.h"
#include "app/small_windows.h"
#include "core/options.h"
#include "core/paths.h"
#include "display/histogram.h"
#include "display/render.h"
#include "workspace/add_images.h"
#include "workspace/form1_events.h"
#include "workspace/form5.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"
#include "workspace/master_dialog.h"
#include "workspace/run.h"
#include "workspace/save_commands.h"
#include "workspace/settings.h"
#include "workspace/show_histo.h"

namespace qvapp {

namespace {

// The progress bar's text; a run's combination names itself.
const QString kProgressFormat = QStringLiteral("%p %");
const QString kCombiningFormat = QStringLiteral("Combinaison : %p %");

// The narrowest the picture's view gets.
constexpr int kMinPictureWidth = 240;
// The main window's size where the screen leaves room for it.
constexpr QSize kPreferredSize(1200, 800);
// Room for a window manager's title bar and borders, before the window is
// framed and its own can be measured.
constexpr QSize kFrameAllowance(16, 48);
// The largest preview of an image being read (8192 x 8192).
constexpr int64_t kMaxPreviewPixels = int64_t{1} << 26;
// The strip's thumbnails are shown this wide. A list is filled at a step
// that makes them about as wide, but a project whose lines carry no widths
// gives step 0, and the thumbnails then come at the frames' full size: kept
// as they are, a few hundred frames of a camera would hold gigabytes for
// pictures shown 120 pixels wide (and stretched, blurred, as previews).
constexpr int kStripWidth = 120;

QString Lines(const std::string& crlf) {
  QString t = Q(crlf);
  t.replace("\r\n", "\n");
  return t;
}

void SetText(QLineEdit* edit, const std::string& text) {
  if (edit->text() != Q(text)) edit->setText(Q(text));
}

int ShiftBits(Qt::KeyboardModifiers m) {
  return ((m & Qt::ShiftModifier) ? qv::kShiftMask : 0) | ((m & Qt::ControlModifier) ? qv::kCtrlMask : 0) |
         ((m & Qt::AltModifier) ? qv::kAltMask : 0);
}

}  // namespace

// A thumbnail of the strip. The strip is disabled during a run, and Qt
// would grey every picture in it: the frames going by stay as they are,
// only the boxes under them are greyed.
class StripThumbnail : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override {
    if (isEnabled()) {
      QLabel::paintEvent(event);
      return;
    }
    QPainter p(this);
    drawFrame(&p);
    const QPixmap picture = pixmap();
    if (!picture.isNull())
      p.drawPixmap(
          QStyle::alignedRect(layoutDirection(), alignment(), picture.deviceIndependentSize().toSize(), contentsRect()),
          picture);
  }
};

// Picture1: the current image with its marks.
class PictureBox : public QWidget {
 public:
  explicit PictureBox(MainWindow& w, QWidget* parent) : QWidget(parent), w_(w) {
    setObjectName("Picture1");
    setCursor(Qt::CrossCursor);
    // The picture paints every pixel of the box itself: the frame behind
    // it is not painted first at each image of a run.
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter p(this);
    const QSize covered = w_.ShownSize();
    if (covered.width() < width() || covered.height() < height()) p.fillRect(rect(), Qt::black);
    if (w_.previewing_) {
      // Only the part on screen is stretched, and only when it is painted:
      // the picture replaces the preview a few rows of reading later.
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      p.drawImage(QRect(QPoint(0, 0), w_.previewSize_), w_.preview_);
    } else if (w_.shownPacked_) {
      const QRect part = event->rect() & QRect(QPoint(0, 0), covered);
      if (!part.isEmpty()) {
        // The packed pixels are laid out as Qt's opaque 32-bit pixels
        // (0xRRGGBB) but leave the fourth byte 0, which Qt copies as it
        // is: onto an opaque surface (the window's own, on X11 and
        // offscreen) the part is painted straight from the drawing, where
        // the byte is dropped; onto anything that keeps alpha (a grab, a
        // translucent surface) it is first made opaque.
        const qv::Plane<int32_t>& px = w_.picture_.shown;
        const QPaintDevice* target = p.paintEngine() ? p.paintEngine()->paintDevice() : nullptr;
        if (target && target->devType() == QInternal::Image && !static_cast<const QImage*>(target)->hasAlphaChannel()) {
          const QImage view(reinterpret_cast<const uchar*>(px.Row(part.top()) + part.left()), part.width(),
                            part.height(), static_cast<qsizetype>(px.Width()) * 4, QImage::Format_RGB32);
          p.drawImage(part.topLeft(), view);
        } else {
          PackedToImage(px, part, w_.painted_);
          p.drawImage(part.topLeft(), w_.painted_);
        }
      }
    } else {
      p.drawImage(0, 0, w_.shown_);
    }
    const qv::Form1& f = w_.f_;
    auto rectOf = [](const qv::ShapeMark& m) { return QRectF(m.Left, m.Top, m.Width, m.Height); };
    auto lineOf = [](const qv::LineMark& l) { return QLineF(l.X1, l.Y1, l.X2, l.Y2); };
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 255, 0)));
    if (f.Shape2.Visible) p.drawRect(rectOf(f.Shape2));
    p.setPen(QPen(QColor(255, 255, 0)));
    if (f.Shape3.Visible) p.drawRect(rectOf(f.Shape3));
    if (f.Line2.Visible) p.drawLine(lineOf(f.Line2));
    p.setPen(QPen(QColor(0, 200, 255)));
    if (f.Shape4.Visible) p.drawRect(rectOf(f.Shape4));
    if (f.Shape5.Visible) p.drawEllipse(rectOf(f.Shape5));
    p.setPen(QPen(QColor(255, 128, 0)));
    if (f.Line3.Visible) p.drawLine(lineOf(f.Line3));
    if (f.Label9.Visible) p.drawText(QPointF(f.Label9.Left, f.Label9.Top), "R");
    if (f.Line4.Visible) p.drawLine(lineOf(f.Line4));
    if (f.Label10.Visible) {
      // Both rotation stars on the same star: "NR" goes under "R" rather
      // than over it.
      const bool shared = f.Label9.Visible && std::abs(f.Label9.Left - f.Label10.Left) < 16 &&
                          std::abs(f.Label9.Top - f.Label10.Top) < p.fontMetrics().height();
      p.drawText(QPointF(f.Label10.Left, f.Label10.Top + (shared ? p.fontMetrics().height() : 0)), "NR");
    }
  }

  void mousePressEvent(QMouseEvent* e) override {
    const int button = e->button() == Qt::RightButton ? qv::kRightButton : qv::kLeftButton;
    const int shift = ShiftBits(e->modifiers());
    const QPointF at = e->position();
    w_.Forward([&] { qv::Picture1_MouseDown(w_.f_, button, shift, at.x(), at.y()); });
  }
  // The second press of a double click is no press: one zone point, one mark.
  void mouseDoubleClickEvent(QMouseEvent*) override {}

 private:
  MainWindow& w_;
};

// Picture3: the histogram of the "Niveau" frame, in the box coordinates
// that the display model gives it.
class HistoBox : public QWidget {
 public:
  explicit HistoBox(MainWindow& w, QWidget* parent) : QWidget(parent), w_(w) {
    setObjectName("Picture3");
    setMinimumSize(220, 80);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Its paint covers it whole: the frame around it is not painted again
    // under it at each image of a run.
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  std::vector<qv::HistoBar> bars;
  qv::DisplayLevels levels;

 protected:
  qv::HistoBox Box() const { return qv::HistoBoxFor(qv::kHistoBins - 1, width(), height()); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const qv::HistoBox box = Box();
    if (!bars.empty()) {
      p.setPen(QColor(40, 40, 40));
      for (const qv::HistoBar& bar : bars)
        p.drawLine(QPointF(box.PixelX(bar.bin), box.PixelY(bar.bottom)),
                   QPointF(box.PixelX(bar.bin), box.PixelY(bar.top)));
      p.setPen(Qt::red);
      for (double level : {levels.markBlack, levels.markWhite})
        p.drawLine(QPointF(box.PixelX(level), box.PixelY(-0.1)), QPointF(box.PixelX(level), box.PixelY(1.1)));
    }
    const qv::Form1& f = w_.f_;
    if (f.Line1Visible) {
      p.setPen(Qt::blue);
      p.drawLine(QPointF(box.PixelX(f.Line1X), 0), QPointF(box.PixelX(f.Line1X), height()));
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    const qv::HistoBox box = Box();
    const double bin = box.left + e->position().x() * (box.right - box.left) / std::max(1, box.pixelWidth);
    w_.Forward([&] { qv::Picture3_MouseDown(w_.f_, bin); });
  }

 private:
  MainWindow& w_;
};

// A wrapped label asks the layout for room for several lines however short
// its text (it balances its lines), and the status bar would take it: the
// line is made exactly as tall as its text needs at its width, up to
// kStatusLines lines; a longer text ends in "…" and shows whole under the
// pointer (the marks' summary names every image left out, and the box and
// the report hold it whole).
class WrappedStatus : public QLabel {
 public:
  static constexpr int kStatusLines = 3;

  explicit WrappedStatus(QWidget* parent) : QLabel(parent) {
    setObjectName("status");
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setIndent(4);
    // A path is one long word: it must not widen the window.
    setMinimumWidth(1);
    Fit();
  }
  // French puts a space before ";", ":", "%", "!", "?" and "»" and after
  // "«": a wrapped line must not start with the sign, so those spaces are
  // shown as no-break spaces; a path may wrap after each of its slashes.
  void Show(const QString& text) {
    given_ = text;
    shown_ = text;
    static const QRegularExpression before(QStringLiteral(" (?=[;:%!?»])")), after(QStringLiteral("(?<=«) "));
    shown_.replace(before, QStringLiteral("\u00A0")).replace(after, QStringLiteral("\u00A0"));
    shown_.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    Fit();
  }
  // The text as given.
  const QString& Text() const { return given_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Fit();
  }
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Fit();
  }

 private:
  QString given_, shown_;

  int Height(const QString& text, int room) const {
    return fontMetrics().boundingRect(QRect(0, 0, room, 1 << 20), Qt::TextWordWrap, text).height();
  }
  void Fit() {
    const int room = std::max(1, contentsRect().width() - indent());
    const int most = kStatusLines * fontMetrics().lineSpacing();
    QString fits = shown_;
    int needed = Height(fits, room);
    if (needed > most) {
      // The longest beginning that ends in "…" within the lines.
      int low = 0, high = static_cast<int>(shown_.size());
      while (low < high) {
        const int mid = (low + high + 1) / 2;
        if (Height(shown_.left(mid) + QStringLiteral("…"), room) <= most)
          low = mid;
        else
          high = mid - 1;
      }
      fits = shown_.left(low) + QStringLiteral("…");
      needed = Height(fits, room);
    }
    if (text() != fits) setText(fits);
    const QString tip = fits == shown_ ? QString() : given_;
    if (toolTip() != tip) setToolTip(tip);
    const int h = std::max(fontMetrics().height(), std::min(most, needed));
    if (minimumHeight() != h || maximumHeight() != h) setFixedHeight(h);
  }
};

MainWindow::MainWindow(qv::Form1& f, qv::SettingsStore& store, qv::Desktop& desktop, GuiDialogs& dialogs)
    : s_(f.s), f_(f), store_(store), desktop_(desktop), dialogs_(dialogs) {
  setObjectName("Form1");
  setAcceptDrops(true);
  BuildMenus();
  BuildControls();
  // Labels, bars and the status bar that change during a run paint their own
  // background where it is the window's: the window behind them is then not
  // painted again at every frame. Inside a group box the background is the
  // box's, which they leave to it.
  for (QWidget* w : findChildren<QWidget*>()) {
    bool inBox = false;
    for (QWidget* p = w->parentWidget(); p && !inBox; p = p->parentWidget()) inBox = qobject_cast<QGroupBox*>(p);
    if (!inBox && (qobject_cast<QLabel*>(w) || qobject_cast<QProgressBar*>(w) || qobject_cast<QStatusBar*>(w) ||
                   qobject_cast<QScrollBar*>(w)))
      w->setAutoFillBackground(true);
  }
  InstallHooks();
  qApp->installEventFilter(this);
  resize(kPreferredSize);
  Refresh();
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  f_.outer = nullptr;
  delete debug_;
  delete zone_;
  delete report_;
  // The editor windows refer to the models this window owns, which go
  // before the child widgets would.
  delete form3Window_;
  delete form2Window_;
}

template <typename F>
void MainWindow::Forward(F&& handler) {
  if (mirroring_) return;
  // A command may change the destination (a run combines a new one): the
  // editor's band of rows under way, which reads it, ends first.
  if (form3_) form3_->AwaitRows();
  handler();
  Refresh();
}

void MainWindow::BuildMenus() {
  auto action = [this](QMenu* menu, const char* name, const QString& caption, auto slot, QKeySequence key = {}) {
    auto* a = menu->addAction(caption);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Fichier"));
  file->menuAction()->setObjectName("mnu_0");
  mnu_[0] = file->menuAction();
  mnuNew_ = action(file, "mnuNew", QStringLiteral("&Nouveau"), [this] { Forward([&] { qv::mnuNew_Click(f_); }); });
  mnuLoad_ = action(
      file, "mnuLoad", QStringLiteral("&Ajouter images(s)"),
      [this] {
        if (!qv::Form1Idle(f_)) return;
        qv::FileDialogRequest r;
        r.title = "Ouvrir une image astro";
        r.filterDescription = "Image Astro (FTS FIT BMP JPEG TIF)";
        r.pattern = "*.fts;*.fit;*.fits;*.bmp;*.jpg;*.jpeg;*.tif;*.tiff";
        r.startFolder = s_.opt.InitDir;
        const std::vector<std::string> parts = dialogs_.OpenFiles(r);
        if (!parts.empty()) Forward([&] { qv::mnuLoad_Click(f_, parts); });
      },
      QKeySequence(Qt::CTRL | Qt::Key_O));
  mnuMaster_ = action(file, "mnuMaster", QStringLiteral("Créer un fichier maître..."), [this] { MasterCommand(); });
  mnuSavPicBmp_ = action(
      file, "mnuSavPicBmp", QStringLiteral("Enregistrer l'image ..."), [this] { SavePicture(); },
      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  mnuSavPicAll_ =
      action(file, "mnuSavPicAll", QStringLiteral("Enregistrer toutes les images en TIFF"), [this] { SaveAllTiff(); });
  file->addSeparator();
  mnuExplSource_ = action(file, "mnuExplSource", QStringLiteral("Explorer le répertoire Source..."),
                          [this] { Forward([&] { qv::mnuExplSource_Click(f_, desktop_); }); });
  mnuExplOutput_ = action(file, "mnuExplOutput", QStringLiteral("Explorer le répertoire Destination..."),
                          [this] { Forward([&] { qv::mnuExplOutput_Click(f_, desktop_); }); });
  file->addSeparator();
  mnuLoadPrj_ = action(
      file, "mnuLoadPrj", QStringLiteral("Ouvrir un projet"),
      [this] { Forward([&] { qv::mnuLoadPrj_Click(f_, dialogs_); }); }, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  mnuSavePrj_ = action(
      file, "mnuSavePrj", QStringLiteral("Enregistrer le projet"),
      [this] { Forward([&] { qv::mnuSavePrj_Click(f_, dialogs_); }); }, QKeySequence(Qt::CTRL | Qt::Key_S));
  file->addSeparator();
  mnuExit_ = action(
      file, "mnuExit", QStringLiteral("Terminer"),
      [this] {
        // Like the other menus, it does nothing while the window is busy or
        // a run goes on; the close box acts at once.
        if (qv::mnuExit_Click(f_)) close();
      },
      QKeySequence(Qt::CTRL | Qt::Key_Q));

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edition"));
  mnu_[1] = edit->menuAction();
  mnuCopy_ = action(edit, "mnuCopy", QStringLiteral("&Copier"), [this] { CopyPicture(); });
  edit->addSeparator();
  action(edit, "mnuAutoMarks", QStringLiteral("Marques automatiques"),
         [this] { Forward([&] { qv::mnuAutoMarks_Click(f_, false); }); });
  action(edit, "mnuAutoMarksRot", QStringLiteral("Marques automatiques et étoile de rotation"),
         [this] { Forward([&] { qv::mnuAutoMarks_Click(f_, true); }); });

  QMenu* view = menuBar()->addMenu(QStringLiteral("&Affichage"));
  mnu_[2] = view->menuAction();
  QMenu* zoom = view->addMenu(QStringLiteral("Zoom"));
  zoom->menuAction()->setObjectName("mnuZ");
  const QString zooms[4] = {"100%", "50%", "25%", "12.5%"};
  for (int i = 0; i < 4; ++i) {
    mnuZoom_[static_cast<size_t>(i)] =
        action(zoom, "", zooms[i], [this, i] { Forward([&] { qv::mnuZoom_Click(f_, i, store_); }); });
    mnuZoom_[static_cast<size_t>(i)]->setObjectName(QStringLiteral("mnuZoom_%1").arg(i));
    mnuZoom_[static_cast<size_t>(i)]->setCheckable(true);
  }
  mnuFITS_ = action(view, "mnuFITS", QStringLiteral("Entête FITS"), [this] { ShowFitsHeader(); });
  mnubar11_ =
      action(view, "mnubar11", QStringLiteral("Sous-ensemble"), [this] { Forward([&] { qv::mnubar11_Click(f_); }); });
  mnuDebug_ = action(view, "mnuDebug", QStringLiteral("Fenêtre de débogage"), [this] {
    Forward([&] { qv::mnuDebug_Click(f_, desktop_); });
    if (f_.mnuDebug) {
      auto rect = [](const qv::ScreenRect& r) { return QRect(r.Left, r.Top, r.Width, r.Height); };
      showNormal();
      // The rectangles are outer frames: the windows' frames come off their
      // insides.
      SetFrameGeometry(this, rect(f_.Form1Rect));
      if (!debug_) {
        debug_ = new DebugWindow(f_);
        debug_->onClosed = [this] { Refresh(); };
      }
      debug_->setWindowTitle(QStringLiteral("Débogage"));
      SetFrameGeometry(debug_, rect(f_.Form4Rect));
      debug_->show();
      KeepWithinScreen(debug_);
      debug_->Refresh();
    } else if (debug_) {
      debug_->close();
    }
  });
  mnuGrad_ =
      action(view, "mnuGrad", QStringLiteral("Zone de gradient"), [this] { Forward([&] { qv::mnuGrad_Click(f_); }); });
  mnuZone_ =
      action(view, "mnuZone", QStringLiteral("Zone de sélection"), [this] { Forward([&] { qv::mnuZone_Click(f_); }); });
  mnuReport_ =
      action(view, "mnuReport", QStringLiteral("Rapport"), [this] { Forward([&] { qv::mnuReport_Click(f_); }); });
  for (QAction* a : {mnubar11_, mnuDebug_, mnuGrad_, mnuZone_, mnuReport_}) a->setCheckable(true);

  const QString commands[3] = {QStringLiteral("&Options"), QStringLiteral("E&xécuter"), QStringLiteral("&Stop")};
  for (int i = 3; i <= 5; ++i) {
    QAction* a = menuBar()->addAction(commands[i - 3]);
    a->setObjectName(QStringLiteral("mnu_%1").arg(i));
    mnu_[static_cast<size_t>(i)] = a;
    connect(a, &QAction::triggered, this,
            [this, i] { Forward([&] { qv::mnu_Click(f_, i, desktop_, [this] { OptionsCommand(); }); }); });
  }
}

void MainWindow::BuildControls() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(4, 4, 4, 4);

  // The strip of thumbnails and its scroll bar.
  Picture11_ = new QScrollArea(central);
  Picture11_->setObjectName("Picture11");
  Picture11_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Picture11_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Picture11_->setWidgetResizable(true);
  Picture11_->setFixedWidth(170);
  Picture10_ = new QWidget;
  Picture10_->setObjectName("Picture10");
  stripLayout_ = new QVBoxLayout(Picture10_);
  stripLayout_->setContentsMargins(4, 4, 4, 4);
  stripLayout_->setSpacing(8);
  stripLayout_->addStretch();
  Picture11_->setWidget(Picture10_);
  VScroll1_ = new QScrollBar(Qt::Vertical, central);
  VScroll1_->setObjectName("VScroll1");
  // Moved at every image of a run: painted plainly.
  auto* plainBar = new PlainScrollBarStyle(QStyleFactory::create(style()->name()));
  plainBar->setParent(VScroll1_);
  VScroll1_->setStyle(plainBar);
  VScroll1_->setRange(1, 1);
  // Its Change comes when the thumb is let go (or a step is clicked), not
  // at every step of a drag: each would select an image with its wait.
  VScroll1_->setTracking(false);
  // A click on the bar gives it the keyboard, whose arrows then scroll the
  // strip rather than select the next image; a click on the picture takes
  // the keyboard back.
  VScroll1_->setFocusPolicy(Qt::ClickFocus);
  connect(VScroll1_, &QScrollBar::valueChanged, this, [this](int v) {
    if (mirroring_) return;
    f_.VScroll1Value = static_cast<int16_t>(v);
    Forward([&] { qv::VScroll1_Change(f_); });
  });
  row->addWidget(Picture11_);
  row->addWidget(VScroll1_);

  // The picture and its pan scroll bars (in percent of the picture).
  auto* view = new QWidget(central);
  auto* vg = new QGridLayout(view);
  vg->setContentsMargins(0, 0, 0, 0);
  vg->setSpacing(0);
  area_ = new QWidget(view);
  area_->setObjectName("Frame2Area");
  area_->setAutoFillBackground(true);
  QPalette pal = area_->palette();
  pal.setColor(QPalette::Window, QColor(48, 48, 48));
  area_->setPalette(pal);
  area_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  // The strip and the side panel keep their widths: however narrow the
  // window, the picture keeps room to be seen and clicked.
  area_->setMinimumWidth(kMinPictureWidth);
  area_->installEventFilter(this);
  Picture1_ = new PictureBox(*this, area_);
  Picture1_->setFocusPolicy(Qt::ClickFocus);
  resized_ = new QTimer(this);
  resized_->setSingleShot(true);
  resized_->setInterval(50);
  connect(resized_, &QTimer::timeout, this, [this] {
    Forward([&] { qv::Form_Resize(f_); });
    if (Picture1_->isVisible()) Picture1_->setFocus();
  });
  previewPaint_ = new QTimer(this);
  previewPaint_->setSingleShot(true);
  previewPaint_->setInterval(kPreviewAfterMs);
  connect(previewPaint_, &QTimer::timeout, this, [this] {
    if (previewing_) Picture1_->update();
  });
  HScroll2_ = new QScrollBar(Qt::Horizontal, view);
  HScroll2_->setObjectName("HScroll2");
  VScroll2_ = new QScrollBar(Qt::Vertical, view);
  VScroll2_->setObjectName("VScroll2");
  for (QScrollBar* bar : {HScroll2_, VScroll2_}) {
    bar->setRange(0, 100);
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int v) {
      if (mirroring_) return;
      (bar == HScroll2_ ? f_.HScroll2Value : f_.VScroll2Value) = static_cast<int16_t>(v);
      PlacePicture();
    });
  }
  Picture6_ = new QWidget(view);
  Picture6_->setFixedSize(VScroll2_->sizeHint().width(), HScroll2_->sizeHint().height());
  vg->addWidget(area_, 0, 0);
  vg->addWidget(VScroll2_, 0, 1);
  vg->addWidget(HScroll2_, 1, 0);
  vg->addWidget(Picture6_, 1, 1);
  row->addWidget(view, 1);

  // The side panel. It scrolls where the screen is too low for all of it,
  // so that a small screen does not push the window's foot below its edge.
  auto* sideScroll = new QScrollArea(central);
  sideScroll->setObjectName("SidePanel");
  sideScroll->setFrameShape(QFrame::NoFrame);
  sideScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sideScroll->setWidgetResizable(true);
  auto* side = new QWidget;
  side->setFixedWidth(310);
  sideScroll->setFixedWidth(310 + sideScroll->verticalScrollBar()->sizeHint().width());
  auto* sl = new QVBoxLayout(side);
  sl->setContentsMargins(0, 0, 0, 0);

  auto* niveau = new QGroupBox(QStringLiteral("Niveau"), side);
  niveau->setObjectName("Frame3");
  auto* nl = new QGridLayout(niveau);
  Picture3_ = new HistoBox(*this, niveau);
  nl->addWidget(Picture3_, 0, 0, 1, 4);
  HScroll1_ = new QScrollBar(Qt::Horizontal, niveau);
  HScroll1_->setObjectName("HScroll1");
  HScroll1_->setRange(0, 20);
  HScroll1_->setTracking(false);  // acts when let go, as the strip's bar
  connect(HScroll1_, &QScrollBar::valueChanged, this, [this](int v) {
    if (mirroring_) return;
    Forward([&] { qv::Ignoring([&] { qv::SetHScroll1(f_, v); }); });
  });
  nl->addWidget(HScroll1_, 1, 0, 1, 3);
  Check3_ = new QCheckBox(QStringLiteral("Auto"), niveau);
  Check3_->setObjectName("Check3");
  connect(Check3_, &QCheckBox::toggled, this, [this](bool on) {
    if (!mirroring_) Forward([&] { qv::SetCheck3(f_, on ? 1 : 0); });
  });
  nl->addWidget(Check3_, 1, 3);
  nl->addWidget(new QLabel(QStringLiteral("Minimum"), niveau), 2, 0);
  nl->addWidget(new QLabel(QStringLiteral("Maximum"), niveau), 2, 2);
  Text1_ = new QLineEdit(niveau);
  Text1_->setObjectName("Text1");
  Text2_ = new QLineEdit(niveau);
  Text2_->setObjectName("Text2");
  connect(Text1_, &QLineEdit::textEdited, this, [this](const QString& t) { f_.Text1 = S(t); });
  connect(Text2_, &QLineEdit::textEdited, this, [this](const QString& t) { f_.Text2 = S(t); });
  // A typed level shows once the user is done with the field, as the next
  // redraw would show it; with "Auto" the text waits for that redraw, which
  // replaces it, and a zone point drawn meanwhile takes it.
  for (QLineEdit* e : {Text1_, Text2_})
    connect(e, &QLineEdit::editingFinished, this, [this] {
      if (!mirroring_ && qv::Form1Idle(f_) && f_.Check3 == 0) Forward([&] { ShowHisto(); });
    });
  nl->addWidget(Text1_, 3, 0, 1, 2);
  nl->addWidget(Text2_, 3, 2, 1, 2);
  sl->addWidget(niveau);

  auto* quality = new QHBoxLayout;
  quality->addWidget(new QLabel(QStringLiteral("Qualité minimale (%)"), side));
  Text3_ = new QLineEdit(side);
  Text3_->setObjectName("Text3");
  Text3_->setMaximumWidth(70);
  connect(Text3_, &QLineEdit::textEdited, this, [this](const QString& t) { Forward([&] { qv::SetText3(f_, S(t)); }); });
  quality->addWidget(Text3_);
  sl->addLayout(quality);
  Check6_ = new QCheckBox(QStringLiteral("Etendre la mosaïque"), side);
  Check6_->setObjectName("Check6");
  Check6_->setToolTip(
      QStringLiteral("<p>Coché : le résultat s'agrandit pour contenir toutes les images, même décalées (mosaïque) ; "
                     "décoché : il garde la taille de la première image et ce qui en déborde est perdu</p>"));
  connect(Check6_, &QCheckBox::toggled, this, [this](bool on) {
    if (!mirroring_) Forward([&] { f_.Check6 = on ? 1 : 0; });
  });
  sl->addWidget(Check6_);

  // Registration: click modes and their boxes.
  regFrame_ = new QGroupBox(side);
  regFrame_->setObjectName("Frame2");
  auto* rl = new QGridLayout(regFrame_);
  rl->setVerticalSpacing(2);
  struct RegRow {
    const char* name;
    QString caption;
    int option;
    int16_t qv::Form1::*field;
    void (*handler)(qv::Form1&);
  };
  const RegRow rows[4] = {
      {"Check5", QStringLiteral("Nouvelle référence (Maj. Click)"), 0, &qv::Form1::Check5, qv::Check5_Click},
      {"Check2", QStringLiteral("Nouvelle position (Click)"), 1, &qv::Form1::Check2, qv::Check2_Click},
      {"Check7", QStringLiteral("Rotation (CTL click)"), 2, &qv::Form1::Check7, qv::Check7_Click},
      {"Check8", QStringLiteral("Nouvelle Rotation (ALT click)"), 3, &qv::Form1::Check8, qv::Check8_Click}};
  QCheckBox** boxes[4] = {&Check5_, &Check2_, &Check7_, &Check8_};
  for (int r = 0; r < 4; ++r) {
    auto* opt = new QRadioButton(regFrame_);
    opt->setObjectName(QStringLiteral("Option2_%1").arg(rows[r].option));
    Option2_[static_cast<size_t>(rows[r].option)] = opt;
    auto* box = new QCheckBox(rows[r].caption, regFrame_);
    box->setObjectName(rows[r].name);
    *boxes[r] = box;
    rl->addWidget(opt, r, 0);
    rl->addWidget(box, r, 1);
    const RegRow entry = rows[r];
    connect(box, &QCheckBox::toggled, this, [this, entry](bool on) {
      if (mirroring_) return;
      f_.*entry.field = on ? 1 : 0;
      Forward([&] { entry.handler(f_); });
    });
  }
  Option2_[4] = new QRadioButton(QStringLiteral("Sélection de zone (CTL ALT click)"), regFrame_);
  Option2_[4]->setToolTip(QStringLiteral(
      "<p>Chaque clic (ou Ctrl+Alt+clic) ajoute un point au contour d'une zone de l'image affichée ; la zone est "
      "écartée de l'estimation du fond quand «&nbsp;Enlever le gradient&nbsp;» est coché dans "
      "«&nbsp;Options&nbsp;».</p>"));
  Option2_[4]->setObjectName("Option2_4");
  rl->addWidget(Option2_[4], 4, 0, 1, 2);
  rl->setColumnStretch(1, 1);
  auto* shifts = new QGridLayout;
  shifts->setHorizontalSpacing(8);
  rl->addLayout(shifts, 5, 0, 1, 2);
  for (int i = 0; i < 5; ++i)
    connect(Option2_[static_cast<size_t>(i)], &QRadioButton::toggled, this, [this, i](bool on) {
      if (on && !mirroring_) Forward([&] { qv::SelectOption2(f_, i); });
    });
  auto shiftField = [&](const char* name, const QString& label, int r, int c, std::string qv::Form1::*field,
                        void (*handler)(qv::Form1&)) {
    auto* edit = new QLineEdit(regFrame_);
    edit->setObjectName(name);
    shifts->addWidget(new QLabel(label, regFrame_), r, c);
    shifts->addWidget(edit, r, c + 1);
    connect(edit, &QLineEdit::textEdited, this, [this, field, handler](const QString& t) {
      f_.*field = S(t);
      Forward([&] { handler(f_); });
    });
    return edit;
  };
  Text4_ = shiftField("Text4", QStringLiteral("Décalage X"), 0, 0, &qv::Form1::Text4, qv::Text4_Change);
  Text5_ = shiftField("Text5", QStringLiteral("Y"), 0, 2, &qv::Form1::Text5, qv::Text5_Change);
  Text6_ = shiftField("Text6", QStringLiteral("Angle"), 1, 0, &qv::Form1::Text6, qv::Text6_Change);
  sl->addWidget(regFrame_);

  // Guide box and the guide thumbnails.
  Frame4_ = new QGroupBox(QStringLiteral("Référence"), side);
  Frame4_->setObjectName("Frame4");
  auto* gl = new QGridLayout(Frame4_);
  const QString boxes1[3] = {QStringLiteral("32 x 32"), QStringLiteral("64 x 64"), QStringLiteral("Aucun")};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(boxes1[i], Frame4_);
    r->setObjectName(QStringLiteral("Option1_%1").arg(i));
    Option1_[static_cast<size_t>(i)] = r;
    gl->addWidget(r, i, 0);
    connect(r, &QRadioButton::toggled, this, [this, i](bool on) {
      if (on && !mirroring_) Forward([&] { qv::Ignoring([&] { qv::SelectOption1(f_, i); }); });
    });
  }
  Picture4_ = new QLabel(Frame4_);
  Picture4_->setObjectName("Picture4");
  Picture5_ = new QLabel(Frame4_);
  Picture5_->setObjectName("Picture5");
  for (QLabel* l : {Picture4_, Picture5_}) {
    l->setFixedSize(66, 66);
    l->setFrameStyle(QFrame::Box);
    l->setAlignment(Qt::AlignCenter);
  }
  gl->addWidget(Picture4_, 0, 1, 3, 1);
  gl->addWidget(Picture5_, 0, 2, 3, 1);
  sl->addWidget(Frame4_);

  // The subset of a partial run.
  auto* subset = new QHBoxLayout;
  Text7_ = new QLineEdit(side);
  Text7_->setObjectName("Text7");
  Label11_ = new QLabel(QStringLiteral("A"), side);
  Label11_->setObjectName("Label11");
  Text8_ = new QLineEdit(side);
  Text8_->setObjectName("Text8");
  // The boxes carry no caption of their own but the "A" between them.
  Text7_->setToolTip(
      QStringLiteral("Sous-ensemble : numéro de la première image de la liste à empiler "
                     "(vide ou 0 : depuis la première)"));
  Text8_->setToolTip(
      QStringLiteral("Sous-ensemble : numéro de la dernière image de la liste à empiler "
                     "(vide ou 0 : jusqu'à la dernière ; jamais avant la première)"));
  connect(Text7_, &QLineEdit::textEdited, this, [this](const QString& t) { f_.Text7 = S(t); });
  connect(Text8_, &QLineEdit::textEdited, this, [this](const QString& t) { f_.Text8 = S(t); });
  subset->addWidget(Text7_);
  subset->addWidget(Label11_);
  subset->addWidget(Text8_);
  sl->addLayout(subset);

  Label1_ = new QLabel(side);
  Label1_->setObjectName("Label1");
  Label1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1_->setMinimumHeight(Label1_->fontMetrics().lineSpacing() * 8);
  Label1_->setWordWrap(true);
  // The run's count stands beside the image's lines, not under their eight
  // lines of room, where a screen of 768 rows would cut it off.
  auto* status = new QHBoxLayout;
  status->addWidget(Label1_, 1);
  Label6_ = new QLabel(side);
  Label6_->setObjectName("Label6");
  Label6_->setAlignment(Qt::AlignRight | Qt::AlignTop);
  status->addWidget(Label6_, 0, Qt::AlignRight | Qt::AlignTop);
  sl->addLayout(status);
  sl->addStretch();
  sideScroll->setWidget(side);
  row->addWidget(sideScroll);

  progress_ = new PlainProgressBar(this);
  progress_->setObjectName("progress");
  progress_->setMaximumWidth(240);
  // Wide enough for the combination's name on one line.
  progress_->setMinimumWidth(
      progress_->fontMetrics().horizontalAdvance(QString(kCombiningFormat).replace("%p", "100")) + 32);
  progress_->setRange(0, kProgressSteps);
  progress_->setFormat(kProgressFormat);
  {
    // The percentage is written in the text's own colour over the filled
    // part too: white on the fill's light blue, "44 %" read as "4 %".
    QPalette palette = progress_->palette();
    palette.setColor(QPalette::HighlightedText, palette.color(QPalette::Text));
    progress_->setPalette(palette);
  }
  statusBar()->addPermanentWidget(progress_);
  // A label rather than the bar's own message, which stays on one line and
  // ran past the window's edge with a run's summary. A menu item's tip
  // still covers it while the pointer is on the item.
  status_ = new WrappedStatus(this);
  statusBar()->addWidget(status_, 1);
  progressPaint_ = new QTimer(this);
  progressPaint_->setSingleShot(true);
  progressPaint_->setInterval(kProgressPaintMs);
  connect(progressPaint_, &QTimer::timeout, this, &MainWindow::PaintProgress);
}

void MainWindow::InstallHooks() {
  // What the engine shows reaches the model first, then this window.
  f_.outer = this;
}

void MainWindow::Thumbnail(int i) {
  // The thumbnail goes to the strip only: the main picture shows the
  // current image at the zoom, never a drawing made for the strip.
  QImage thumb = PackedToImage(qv::ThumbnailPicture(s_));
  if (thumb.width() > 2 * kStripWidth) thumb = thumb.scaledToWidth(kStripWidth, Qt::SmoothTransformation);
  thumbs_[i] = std::move(thumb);
  ++thumbsChanged_;
  Refresh();
}

void MainWindow::ShowImage() {
  PlacePicture();
  Picture1_->update();
  PaintProgress();
}

void MainWindow::ShowPicture() {
  previewing_ = false;
  preview_ = QImage();
  previewPaint_->stop();
  shownPacked_ = !picture_.shown.Empty();
  shown_ = QImage();
  PlacePicture();
  Picture1_->update();
  PaintProgress();
}

void MainWindow::Preview(int i) {
  // The size the image will have: its planes' upper bounds divided by the
  // zoom step, as DrawImage sizes its array, with the pixel aspect.
  const qv::ImageEntry* e = i >= 1 && i <= s_.ImageCount() ? &s_.Img[static_cast<size_t>(i)] : nullptr;
  if (!e || e->ImgNaxis1 < 1 || e->ImgNaxis2 < 1) return;
  int w = e->ImgNaxis1, h = e->ImgNaxis2;
  if (s_.opt.Has(qv::Bin2x2)) {
    w /= 2;
    h /= 2;
  }
  const int zoom = std::max<int>(1, s_.opt.PicZoom);
  const qv::PixelsGeometry g = qv::ShowPixelsGeometry((w - 1) / zoom + 1, (h - 1) / zoom + 1, s_.opt.Has(qv::PixAspect),
                                                      s_.opt.PixRatio, 0, false);
  // Without a thumbnail the picture is cleared; a header that claims more
  // pixels than any screen shows gets no preview (its file is read, and
  // refused, next).
  const auto thumb = thumbs_.find(i);
  const bool previewed =
      thumb != thumbs_.end() && g.dw >= 1 && g.dh >= 1 && static_cast<int64_t>(g.dw) * g.dh <= kMaxPreviewPixels;
  previewing_ = previewed;
  preview_ = previewed ? thumb->second : QImage();
  previewSize_ = QSize(g.dw, g.dh);
  if (!previewed) {
    shown_ = QImage();
    shownPacked_ = false;
  }
  PlacePicture();
  // Until the preview is painted, the box keeps the last image (or paints
  // the preview when something else has it painted meanwhile).
  if (previewed)
    previewPaint_->start();
  else
    Picture1_->update();
}

void MainWindow::MakePreviewShown() {
  if (!previewing_) return;
  // A preview not painted yet is painted as the picture it becomes.
  if (previewPaint_->isActive()) {
    previewPaint_->stop();
    Picture1_->update();
  }
  shown_ = preview_.scaled(previewSize_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  shownPacked_ = false;
  previewing_ = false;
  preview_ = QImage();
}

const QImage& MainWindow::Shown() {
  MakePreviewShown();
  if (shownPacked_) {
    PackedToImage(picture_.shown, shown_);
    shownPacked_ = false;
  }
  return shown_;
}

QSize MainWindow::ShownSize() const {
  if (previewing_) return previewSize_;
  if (shownPacked_) return QSize(picture_.shown.Width(), picture_.shown.Height());
  return shown_.isNull() ? QSize(0, 0) : shown_.size();
}

void MainWindow::ShowZones(bool drawImage) {
  // What is drawn becomes the picture shown: a later zone point whose
  // levels cannot be read goes over it.
  qv::Plane<int32_t> pixels = qv::ZonesPicture(f_, s_.opt.PicZoom, picture_.shown, drawImage);
  if (pixels.Empty()) return;
  picture_.shown = std::move(pixels);
  ShowPicture();
}

void MainWindow::UpdateList() { PlacePicture(); }

void MainWindow::Pause(double seconds) {
  Refresh();
  PauseWithEvents(seconds);
}

void MainWindow::RunImage(int, bool, const qv::Outcome&, const qv::Outcome&) {
  // The count of the run shows with the next yield's mirror, at once when
  // the last one is a tenth of a second old (the closing wait of the image
  // has passed since).
  Tick();
}

void MainWindow::ShowProgress(double done) {
  // An operation that cannot tell how far it has come leaves the bar as it is.
  if (done < 0) return;
  progressDone_ = std::min(1.0, done);
  // The bar would repaint itself at once, in the middle of the work, and
  // again at each report: the value waits for the next picture shown, or
  // for a moment at most when the work shows none, and is painted then.
  // Its paint is never held back: a report that came before the bar was
  // painted would leave it showing an old value.
  // A bar that comes into sight shows the operation's first value, not the
  // last operation's.
  if (!progress_->isVisible())
    PaintProgress();
  else if (!progressPaint_->isActive())
    progressPaint_->start();
  progress_->setVisible(s_.RunState >= 1);
}

void MainWindow::Combining() {
  // The bar starts again for the combination: it says so, rather than
  // seem to fall back, and shows nothing of the frames' count under its
  // new name.
  progress_->setFormat(kCombiningFormat);
  progressDone_ = 0;
  PaintProgress();
}

QString MainWindow::StatusLine() const { return status_->Text(); }

void MainWindow::PaintProgress() {
  progressPaint_->stop();
  const int value = static_cast<int>(progressDone_ * kProgressSteps + 0.5);
  if (progressDone_ < 0 || value == progress_->value()) return;
  // setValue repaints at once; the bar is painted with the rest of the
  // window at the next turn of events instead.
  progress_->setUpdatesEnabled(false);
  progress_->setValue(value);
  progress_->setUpdatesEnabled(true);
}

void MainWindow::MsgBox(const std::string& text) {
  // The box waits for the user inside the handler: the window shows the
  // state the handler has reached (caption, menus) rather than the one
  // before it.
  Refresh();
  QMessageBox::information(DialogOwner(this), QStringLiteral("Quelvista"), Lines(text));
}

void MainWindow::OpenDestination(const std::string& caption) {
  if (!form2_) {
    form2_ = std::make_unique<qv::Form2>();
    form3_ = std::make_unique<qv::Form3>(s_, *form2_);
  }
  if (!form2Window_) form2Window_ = new DestinationWindow(s_, *form2_, this);
  if (!form3Window_) {
    form3Window_ = new EditorWindow(s_, *form3_, *form2_, *form2Window_, dialogs_, this);
    form3Window_->onStatus = [this](const std::string& note) {
      f_.StatusText = note;
      Refresh();
    };
    // The run's line gives way to how to bring the editor back, and comes
    // back with it.
    form3Window_->onClosedAlone = [this](bool closed) {
      static const std::string note =
          "Modification de l'image fermée : cliquez sur le résultat pour la rouvrir telle que vous l'avez laissée";
      if (closed) {
        statusBeforeEditorClosed_ = f_.StatusText;
        f_.StatusText = note;
      } else if (f_.StatusText == note) {
        f_.StatusText = statusBeforeEditorClosed_;
      }
      Refresh();
    };
  }
  // While the destination window is hidden nobody sees what it shows: the
  // caption over the last result, the rows drawn every 100, the layouts
  // before it is placed. Each would cost a copy of the whole picture; the
  // window is given the finished state once, as it is shown.
  struct HeldBack : qv::Form2View {
    void Refresh(const qv::Form2&) override {}
  } held;
  const bool unseen = !form2Window_->isVisible();
  struct Release {
    qv::Form2& form;
    QPointer<DestinationWindow>& window;
    bool held;
    ~Release() {
      if (held) form.view = window.data();
    }
  } release{*form2_, form2Window_, unseen};
  if (unseen) form2_->view = &held;
  form2_->SetCaption(caption);
  // A new destination: the detail caches of the last one no longer match.
  form3_->InvalidateDetail();
  form3_->Form_Load();
  if (!form2Window_ || !form3Window_) return;
  form2Window_->FitToPicture();
  form3Window_->Refresh();
  // The destination at the top left of the free area, the editor beside
  // it (or over its right part when the screen is too narrow for both);
  // placed before they show, so that the window manager maps them there.
  const QRect area = AvailableArea(this);
  const QRect destination = WithinArea(QRect(area.topLeft(), form2Window_->size() + FrameExtra(form2Window_)), area);
  SetFrameGeometry(form2Window_, destination);
  form3Window_->adjustSize();
  SetFrameGeometry(form3Window_, BesideFrame(destination, form3Window_->size() + FrameExtra(form3Window_), area));
  form2Window_->show();
  if (unseen) {
    form2_->view = form2Window_;
    form2Window_->Refresh(*form2_);
  }
  form3Window_->show();
  KeepWithinScreen(form2Window_);
  KeepWithinScreen(form3Window_);
  form3Window_->raise();
}

void MainWindow::UnloadDestination() {
  // Closing the destination closes the editor with it.
  if (form2Window_ && form2Window_->isVisible()) form2Window_->close();
  if (form3Window_) form3Window_->CloseWithResult();
}

void MainWindow::ShowHisto() {
  qv::Form1& f = f_;
  qv::LevelTexts texts{f.Text1, f.Text2};
  // A redraw shows the zones while "Zone de sélection" is checked; the zone
  // mode draws them itself when it opens and at each point added.
  qv::ShowHisto(f_, texts, s_.opt.PicZoom, f.mnuZone, f.mnuGrad, picture_);
  if (!picture_.drawn) return;
  f.Text1 = texts.Text1;
  f.Text2 = texts.Text2;
  Picture3_->bars.swap(picture_.bars);
  Picture3_->levels = picture_.levels;
  Picture3_->update();
  ShowPicture();
}

void MainWindow::PlacePicture() {
  const QSize size = ShownSize();
  Picture1_->resize(size);
  // The scroll value is the percentage of the picture that lies in the
  // middle of the view.
  const int left = area_->width() / 2 - f_.HScroll2Value * size.width() / 100;
  const int top = area_->height() / 2 - f_.VScroll2Value * size.height() / 100;
  Picture1_->move(left, top);
}

namespace {

// The colour of a label's box frame, the same enabled or not: the strip is
// disabled while a run goes on and its selection must still show.
void FrameColour(QLabel* label, const QColor& colour) {
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, colour);
  label->setPalette(pal);
}

}  // namespace

void MainWindow::RebuildStrip() {
  const size_t n = f_.Check9.size();
  // Elements above the model's upper bound are removed, highest first.
  while (Image1_.size() + 1 > n) {
    // An entry that comes back under this number is another image: its
    // old thumbnail must not stand for it.
    thumbs_.erase(static_cast<int>(Image1_.size()));
    ++thumbsChanged_;
    if (framedCell_ == static_cast<int>(Image1_.size())) framedCell_ = 0;
    delete Image1_.back()->parentWidget();
    Image1_.pop_back();
    Check9_.pop_back();
    stripPictures_.pop_back();
  }
  while (Image1_.size() + 1 < n) {
    const int i = static_cast<int>(Image1_.size()) + 1;
    auto* cell = new QWidget(Picture10_);
    auto* cl = new QVBoxLayout(cell);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(4);
    auto* image = new StripThumbnail(cell);
    image->setObjectName(QStringLiteral("Image1_%1").arg(i));
    image->setAlignment(Qt::AlignCenter);
    image->setMinimumSize(124, 40);
    // The selection frame is the label's own 2-pixel box, drawn in its text
    // colour: moving it repaints two labels, where a style sheet would lay
    // the whole strip out again.
    image->setFrameShape(QFrame::Box);
    image->setLineWidth(2);
    FrameColour(image, Qt::transparent);
    image->installEventFilter(this);
    auto* check = new QCheckBox(cell);
    check->setObjectName(QStringLiteral("Check9_%1").arg(i));
    connect(check, &QCheckBox::toggled, this, [this, i](bool on) {
      if (mirroring_) return;
      if (static_cast<size_t>(i) < f_.Check9.size()) f_.Check9[static_cast<size_t>(i)].Value = on ? 1 : 0;
      Forward([&] { qv::Check9_Click(f_, i); });
    });
    cl->addWidget(image);
    cl->addWidget(check);
    stripLayout_->insertWidget(stripLayout_->count() - 1, cell);
    Image1_.push_back(image);
    Check9_.push_back(check);
    stripPictures_.push_back(0);
  }
}

void MainWindow::Refresh() {
  if (mirroring_) return;
  mirroring_ = true;
  sinceRefresh_.start();
  mirroredRunState_ = s_.RunState;
  qv::Form1& f = f_;
  setWindowTitle(Q(f.Caption));
  const bool running = s_.RunState >= 1;
  for (size_t i = 0; i < 5; ++i) mnu_[i]->setEnabled(!running);
  mnu_[5]->setEnabled(running);
  for (size_t i = 0; i < 4; ++i) mnuZoom_[i]->setChecked(f.mnuZoom[i]);
  mnubar11_->setChecked(f.mnubar11);
  mnuDebug_->setChecked(f.mnuDebug);
  // The header view lists its cards in the debug window: it is not offered
  // while that window shows the log.
  mnuFITS_->setEnabled(!f.mnuDebug);
  mnuGrad_->setChecked(f.mnuGrad);
  mnuZone_->setChecked(f.mnuZone);

  RebuildStrip();
  // The window is mirrored several times an image while a run of hundreds
  // goes on: the strip is walked only when its model or thumbnails changed,
  // and each cell is given only what changed in it, since a font, palette
  // or style set again, even the same, lays it out anew. The user changes
  // only the checks: they are compared with the boxes themselves each time.
  for (size_t k = 0; k < Check9_.size(); ++k)
    if (const bool on = f.Check9[k + 1].Value != 0; Check9_[k]->isChecked() != on) Check9_[k]->setChecked(on);
  const bool stripChanged = f.Check9 != stripModel_ || thumbsChanged_ != stripThumbs_;
  for (size_t k = 0; stripChanged && k < Image1_.size(); ++k) {
    const int i = static_cast<int>(k) + 1;
    const qv::StripCheckBox& box = f.Check9[static_cast<size_t>(i)];
    QCheckBox* check = Check9_[k];
    // A cell made since the last mirror has nothing to compare with.
    const qv::StripCheckBox* was =
        static_cast<size_t>(i) < stripModel_.size() ? &stripModel_[static_cast<size_t>(i)] : nullptr;
    if (!was || was->Caption != box.Caption) check->setText(Q(box.Caption));
    if (!was || was->Bold != box.Bold) {
      QFont font = check->font();
      font.setBold(box.Bold);
      check->setFont(font);
    }
    if (!was || was->ForeColor != box.ForeColor) {
      QPalette pal = check->palette();
      pal.setColor(QPalette::WindowText, QColor::fromRgb(static_cast<QRgb>(box.ForeColor)));
      check->setPalette(pal);
    }
    qint64& picture = stripPictures_[k];
    auto it = thumbs_.find(i);
    if (it != thumbs_.end() && picture != it->second.cacheKey()) {
      const QPixmap thumb = QPixmap::fromImage(it->second.scaledToWidth(kStripWidth, Qt::SmoothTransformation));
      Image1_[k]->setPixmap(thumb);
      // A long list scrolls: the strip must not squeeze the thumbnails to
      // slivers of their pictures (the 2-pixel selection border included).
      Image1_[k]->setMinimumHeight(std::max(40, thumb.height() + 4));
      picture = it->second.cacheKey();
    } else if (it == thumbs_.end() && picture != 0) {
      Image1_[k]->clear();
      picture = 0;
    }
  }
  if (stripChanged) {
    stripModel_ = f.Check9;
    stripThumbs_ = thumbsChanged_;
  }
  // The selection frame around the selected thumbnail: moved, not redrawn.
  const int framed = f.Shape6Index >= 1 && f.Shape6Index <= static_cast<int>(Image1_.size()) ? f.Shape6Index : 0;
  if (framed != framedCell_) {
    if (framedCell_ >= 1) FrameColour(Image1_[static_cast<size_t>(framedCell_ - 1)], Qt::transparent);
    if (framed >= 1) FrameColour(Image1_[static_cast<size_t>(framed - 1)], Qt::red);
    framedCell_ = framed;
  }
  Picture11_->setVisible(true);
  Picture10_->setVisible(f.Picture10Visible);
  VScroll1_->setVisible(f.VScroll1Visible);
  VScroll1_->setRange(f.VScroll1Min, std::max(f.VScroll1Min, f.VScroll1Max));
  const int count = static_cast<int>(Image1_.size());
  const std::tuple paging{count, Picture11_->viewport()->height(), Picture10_->height()};
  if (count > 0 && paging != pagedFor_) {
    // A page of the bar is what the strip shows at once: a click in its
    // groove brings the next thumbnails, none skipped, and the slider is
    // as long as the share of the list in sight. Thumbnails differ in
    // height (an unreadable frame's, another size's): the strip's mean
    // pitch, from its layout's own measure, laid out or not yet.
    pagedFor_ = paging;
    const int pitch = std::max(1, stripLayout_->sizeHint().height() / count);
    VScroll1_->setPageStep(std::clamp(std::get<1>(paging) / pitch, 1, count));
  }
  VScroll1_->setValue(f.VScroll1Value);
  if (f.VScroll1Value != centredThumb_ && f.VScroll1Value >= 1 && f.VScroll1Value <= static_cast<int>(Image1_.size())) {
    centredThumb_ = f.VScroll1Value;
    QWidget* cell = Image1_[static_cast<size_t>(centredThumb_ - 1)]->parentWidget();
    if (f.VScroll1Value == f.Shape6Index) {
      // A selection brings its thumbnail into sight.
      Picture11_->ensureWidgetVisible(cell, 0, Picture11_->viewport()->height() / 2);
    } else {
      // The bar moved alone: the strip moves so that the bar's thumbnail
      // sits in the middle (a thumbnail already in sight is moved too).
      const int middle = cell->mapTo(Picture11_->widget(), QPoint(0, 0)).y() + cell->height() / 2;
      Picture11_->verticalScrollBar()->setValue(middle - Picture11_->viewport()->height() / 2);
    }
  }

  Picture1_->setVisible(f.Picture1Visible);
  HScroll2_->setVisible(f.PanBarsVisible);
  VScroll2_->setVisible(f.PanBarsVisible);
  Picture6_->setVisible(f.PanBarsVisible);
  if (f.Picture3Cleared && !Picture3_->bars.empty()) {
    Picture3_->bars.clear();
    Picture3_->levels = {};
    Picture3_->update();
  }
  regFrame_->setVisible(f.Frame2Visible);
  Frame4_->setVisible(f.Frame2Visible);
  Picture1_->setEnabled(!running);
  Picture10_->setEnabled(!running);
  regFrame_->setEnabled(!running);
  // A pan the model set (a new list is shown from its middle) moves the
  // picture as a pan by the bars does.
  const bool panned = HScroll2_->value() != f.HScroll2Value || VScroll2_->value() != f.VScroll2Value;
  HScroll2_->setValue(f.HScroll2Value);
  VScroll2_->setValue(f.VScroll2Value);
  if (panned) PlacePicture();

  HScroll1_->setValue(f.HScroll1);
  Check3_->setChecked(f.Check3 != 0);
  SetText(Text1_, f.Text1);
  SetText(Text2_, f.Text2);
  SetText(Text3_, f.Text3);
  Check6_->setChecked(f.Check6 != 0);
  Check2_->setChecked(f.Check2 != 0);
  Check5_->setChecked(f.Check5 != 0);
  Check7_->setChecked(f.Check7 != 0);
  Check8_->setChecked(f.Check8 != 0);
  if (f.Option2 >= 0 && f.Option2 <= 4) Option2_[static_cast<size_t>(f.Option2)]->setChecked(true);
  SetText(Text4_, f.Text4);
  SetText(Text5_, f.Text5);
  SetText(Text6_, f.Text6);
  if (f.Option1 >= 0 && f.Option1 <= 2) Option1_[static_cast<size_t>(f.Option1)]->setChecked(true);
  // The guide thumbnails change once a frame at most, while the window is
  // mirrored many times: a label given a new pixmap repaints, greyed again
  // while the run disables it.
  for (auto [label, model, mirrored] :
       {std::tuple{Picture4_, &f.Picture4, &mirrored4_}, std::tuple{Picture5_, &f.Picture5, &mirrored5_}}) {
    if (*model == *mirrored) continue;
    *mirrored = *model;
    label->setPixmap(model->Empty() ? QPixmap() : QPixmap::fromImage(PackedToImage(*model).scaled(64, 64)));
  }
  Text7_->setVisible(f.Text7Visible);
  Text8_->setVisible(f.Text7Visible);
  Label11_->setVisible(f.Text7Visible);
  SetText(Text7_, f.Text7);
  SetText(Text8_, f.Text8);
  Label1_->setText(Lines(f.Label1));
  Label6_->setText(Q(f.Label6));

  // The bar lives while a long operation reports how far it has come; the
  // next one starts it again from nothing.
  if (!running) {
    PaintProgress();  // the last value reached, for whoever watches the bar
    progressDone_ = -1;
    progress_->setFormat(kProgressFormat);
  }
  progress_->setVisible(running && progressDone_ >= 0);

  // The zone dialog lives while its click mode is selected.
  if (f.Form6Visible && !zone_) {
    zone_ = new ZoneDialog(f_, this);
    zone_->onChanged = [this] {
      Refresh();
      Picture1_->update();
    };
  }
  if (zone_) {
    if (f.Form6Visible && !zone_->isVisible()) {
      PlaceZoneDialog();
      zone_->show();
      KeepWithinScreen(zone_);
      zone_->raise();
    } else if (!f.Form6Visible && zone_->isVisible()) {
      zone_->hide();
    }
  }
  if (debug_) debug_->Refresh();

  // The report of every frame lives while its menu is checked.
  mnuReport_->setChecked(f.mnuReport);
  if (f.mnuReport && !report_) {
    report_ = new ReportWindow(f_, this);
    report_->onRowClicked = [this](int image) { Forward([&] { qv::ReportRow_Click(f_, image); }); };
    report_->onClosed = [this] { Refresh(); };
  }
  if (report_) {
    report_->Refresh();
    if (f.mnuReport && !report_->isVisible()) {
      // At the foot of the free area, on the left: under the result's
      // picture, leaving its top and the editor's controls in view.
      const QRect area = AvailableArea(this);
      const QSize size =
          report_->Fitting(QSize(area.width(), area.height() * 35 / 100) - FrameExtra(report_)) + FrameExtra(report_);
      SetFrameGeometry(report_, QRect(QPoint(area.left(), area.bottom() - size.height() + 1), size));
      report_->show();
      KeepWithinScreen(report_);
      // Once laid out, the table can scroll to the frame that needs a look.
      QTimer::singleShot(0, report_, [report = report_.data()] { report->ShowFirstLeftOut(); });
      report_->raise();
    } else if (f.mnuReport && f.RunsEnded != reportedRuns_ && f.Report.AnyLeftOut()) {
      // A run that left frames out says so even where the report was
      // minimised or buried under the result's windows.
      if (report_->isMinimized()) report_->showNormal();
      report_->raise();
      report_->ShowFirstLeftOut();
    } else if (!f.mnuReport && report_->isVisible()) {
      report_->hide();
    }
  }
  reportedRuns_ = f.RunsEnded;
  const QString status = Q(f.StatusText);
  if (status_->Text() != status) status_->Show(status);

  // The hourglass while the window is busy.
  const bool wait = f.Busy;
  if (wait != property("waiting").toBool()) {
    if (wait)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
    setProperty("waiting", wait);
  }
  // The marks painted over the pictures; the pictures themselves ask for
  // their repaint when they change.
  if (const PictureMarks marks = PictureMarks::Of(f); !(marks == paintedMarks_)) {
    paintedMarks_ = marks;
    Picture1_->update();
  }
  if (f.Line1Visible != paintedLine1Visible_ || f.Line1X != paintedLine1X_) {
    paintedLine1Visible_ = f.Line1Visible;
    paintedLine1X_ = f.Line1X;
    Picture3_->update();
  }
  mirroring_ = false;
}

void MainWindow::PlaceZoneDialog() {
  // Beside the window, so that it hides no part of the picture the user
  // clicks the points on.
  zone_->adjustSize();
  const QSize size = zone_->size() + FrameExtra(zone_);
  SetFrameGeometry(zone_, BesideFrame(frameGeometry(), size, AvailableArea(this)));
}

void MainWindow::FollowEvents(QtEventLoop& events) {
  events.beforeYield = [this] { Tick(); };
  events.onReport = [this](const std::string&, double done) { ShowProgress(done); };
}

void MainWindow::Tick() {
  // A change of the run state shows at once: "&Stop" must be there to press.
  if (sinceRefresh_.isValid() && sinceRefresh_.elapsed() < 100 && s_.RunState == mirroredRunState_) return;
  Refresh();
}

void MainWindow::Load(const std::string& commandLine) {
  qv::StartUpHooks hooks;
  hooks.zoomClick = [this](int item) { qv::mnuZoom_Click(f_, item, store_); };
  hooks.openArgument = [this](const std::string& argument) { qv::OpenCommandLine(f_, argument); };
  qv::Form1_Load(f_, store_, commandLine, qv::ProgramFolder(), hooks);
  Refresh();
}

void MainWindow::ShowWithinScreen() {
  const QRect area = AvailableArea(this);
  const QSize known = FrameExtra(this);
  const QSize frame = known.isNull() ? kFrameAllowance : known;
  if (kPreferredSize.width() + frame.width() <= area.width() &&
      kPreferredSize.height() + frame.height() <= area.height()) {
    resize(kPreferredSize);
    show();
    return;
  }
  // A small screen: the whole free area, so that the pan bar and the foot
  // of the strip are not below the screen's edge.
  move(area.topLeft());
  resize(area.size() - frame);
  show();
  NowAndWhenFramed(this, [this] { SetFrameGeometry(this, AvailableArea(this)); });
}

void MainWindow::OpenPaths(const QStringList& paths) {
  if (paths.isEmpty() || !qv::Form1Idle(f_)) return;
  if (paths.size() == 1 && paths.first().toLower().endsWith("txt")) {
    Forward([&] { qv::LoadProject(f_, S(paths.first())); });
    return;
  }
  std::vector<std::string> files;
  for (const QString& p : paths) files.push_back(S(p));
  for (const auto& group : GroupByFolder(files)) Forward([&] { qv::mnuLoad_Click(f_, group); });
}

void MainWindow::SavePicture() {
  if (!qv::Form1Idle(f_)) return;
  const qv::FileDialogRequest request = qv::MainSaveDialog(s_).Request();
  const std::string name = qv::SavedName(request, dialogs_.SaveFile(request));
  // JPEG and BMP take what the picture shows, at its display size.
  if (!name.empty()) Forward([&] { qv::SaveMainImageAs(f_, name, ImageToPacked(Shown())); });
}

void MainWindow::SaveAllTiff() {
  Forward([&] { qv::SaveAllTiff(f_); });
}

void MainWindow::CopyPicture() {
  if (!qv::Form1Idle(f_)) return;
  QApplication::clipboard()->clear();
  if (Shown().isNull()) return;
  // The picture as drawn (zones and grid included), without the marks
  // that lie over it.
  const QImage& shown = Shown();
  QApplication::clipboard()->setImage(shown);
  f_.StatusText = "Image copiée dans le presse-papiers : " + std::to_string(shown.width()) + " x " +
                  std::to_string(shown.height()) + " pixels";
  Refresh();
}

void MainWindow::ShowFitsHeader() {
  const qv::FitsHeaderView header = qv::mnuFITS_Click(f_);
  if (!header.shown) return;
  DebugWindow view(f_, this);
  view.setWindowFlag(Qt::Dialog, true);
  view.setWindowModality(Qt::ApplicationModal);
  view.setWindowTitle(Q(header.caption));
  view.ShowLines(header.lines);
  view.resize(620, 560);
  view.show();
  KeepWithinScreen(&view);
  QEventLoop loop;
  view.onClosed = [&loop] { loop.quit(); };
  loop.exec();
}

void MainWindow::OptionsCommand() {
  qv::OptionsCommand(f_, store_, [this](qv::Form5& model) {
    OptionsDialog dialog(model, dialogs_, this);
    dialog.exec();
  });
}

void MainWindow::MasterCommand() {
  Forward([&] {
    qv::mnuMaster_Click(f_, store_, [this](qv::MasterDialog& model) {
      MasterDialogWindow dialog(model, dialogs_, this);
      dialog.exec();
    });
  });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (qv::Form_QueryUnload(f_, desktop_, store_)) {
    event->ignore();
    Refresh();
    return;
  }
  if (debug_) debug_->close();
  if (zone_) zone_->hide();
  if (report_) report_->hide();
  // The editor's redraw under way stops: the program ends once it has
  // unwound.
  if (form3_) form3_->Form_Unload();
  // The quit closes every window it opened: the result's two as well.
  UnloadDestination();
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && w->window() == this) {
      auto* key = static_cast<QKeyEvent*>(event);
      int code = 0;
      if (key->key() == Qt::Key_Escape) code = qv::kKeyEscape;
      if (key->key() == Qt::Key_Up) code = qv::kKeyUp;
      if (key->key() == Qt::Key_Down) code = qv::kKeyDown;
      // A held key repeats, as the keyboard sends it; a repeat that comes
      // during a selection finds the window busy and does nothing.
      if (code != 0) {
        const bool onStrip = QApplication::focusWidget() == VScroll1_;
        Forward([&] { qv::Form_KeyDown(f_, code, ShiftBits(key->modifiers()), onStrip); });
        return code != qv::kKeyEscape && !onStrip;
      }
    }
  } else if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
    // A thumbnail's Click: the left button pressed and let go on it.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    for (size_t k = 0; k < Image1_.size(); ++k)
      if (watched == Image1_[k]) {
        if (mouse->button() != Qt::LeftButton) return true;
        if (event->type() == QEvent::MouseButtonPress) {
          pressedThumbnail_ = Image1_[k];
        } else if (pressedThumbnail_ == Image1_[k] && Image1_[k]->rect().contains(mouse->position().toPoint())) {
          pressedThumbnail_ = nullptr;
          const int i = static_cast<int>(k) + 1;
          Forward([&] { qv::Image1_Click(f_, i); });
        }
        return true;
      }
  } else if (event->type() == QEvent::Resize && watched == area_) {
    PlacePicture();
  } else if (event->type() == QEvent::Wheel && watched->isWidgetType() &&
             Picture11_->isAncestorOf(static_cast<QWidget*>(watched))) {
    // The wheel over the strip turns its bar, as its arrows do, so that the
    // bar always says where the strip is; the strip never scrolls alone.
    // A run, which disables the strip, moves it itself.
    // Only the wheel's turn up or down: a sideways stroke moves nothing.
    auto* wheel = static_cast<QWheelEvent*>(event);
    if (Picture10_->isEnabled() && VScroll1_->isVisible() && wheel->angleDelta().y() != 0) {
      QWheelEvent turn(wheel->position(), wheel->globalPosition(), QPoint(), QPoint(0, wheel->angleDelta().y()),
                       wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted());
      QApplication::sendEvent(VScroll1_, &turn);
    }
    return true;
  } else if (event->type() == QEvent::Wheel && watched == area_) {
    // The wheel over the picture pans it as over its bars: up and down, and
    // across with a sideways wheel or with Shift. Each bar takes its own
    // part of a touchpad's slanted stroke, as a plain turn of the wheel
    // (a bar given Shift would move a page a notch).
    auto* wheel = static_cast<QWheelEvent*>(event);
    int down = wheel->angleDelta().y(), across = wheel->angleDelta().x();
    if (wheel->modifiers() & Qt::ShiftModifier) across += std::exchange(down, 0);
    for (const auto& [bar, part] : {std::pair(VScroll2_, down), std::pair(HScroll2_, across)}) {
      if (part == 0 || !bar->isVisible()) continue;
      QWheelEvent turn(wheel->position(), wheel->globalPosition(), QPoint(), QPoint(0, part), wheel->buttons(),
                       wheel->modifiers() & ~Qt::ShiftModifier, wheel->phase(), wheel->inverted());
      QApplication::sendEvent(bar, &turn);
    }
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  event->acceptProposedAction();
  OpenPaths(paths);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The picture keeps its place in the view at once; the rest follows.
  PlacePicture();
  resized_->start();
}

}  // namespace qvapp
