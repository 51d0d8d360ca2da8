#include "app/editor_windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "core/options.h"
#include "display/render.h"
#include "workspace/save_commands.h"

namespace qvapp {

namespace {

bool PixAspect(const qv::Session& s) { return s.opt.Has(qv::PixAspect); }

}  // namespace

// ---------------------------------------------------------------- Form2

namespace {

// The result's picture, painted from the window's own image: a label would
// hold a second copy of it as a pixmap, made again at every redraw.
class ResultPicture : public QWidget {
 public:
  ResultPicture(const QImage& image, QWidget* parent) : QWidget(parent), image_(image) {}

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter p(this);
    p.drawImage(event->rect().topLeft(), image_, event->rect());
  }

 private:
  const QImage& image_;
};

}  // namespace

DestinationWindow::DestinationWindow(qv::Session& s, qv::Form2& f, QWidget* parent)
    : QWidget(parent, Qt::Window), s_(s), f_(f) {
  setObjectName("Form2");
  Picture1_ = new ResultPicture(shown_, this);
  Picture1_->setObjectName("Picture1");
  Picture1_->installEventFilter(this);
  HScroll1_ = new QScrollBar(Qt::Horizontal, this);
  HScroll1_->setObjectName("HScroll1");
  VScroll1_ = new QScrollBar(Qt::Vertical, this);
  VScroll1_->setObjectName("VScroll1");
  Picture2_ = new QWidget(this);
  Picture2_->setObjectName("Picture2");
  Picture2_->setAutoFillBackground(true);
  connect(HScroll1_, &QScrollBar::valueChanged, this, [this](int v) {
    if (mirroring_) return;
    f_.HScroll1 = v;
    Layout();
  });
  connect(VScroll1_, &QScrollBar::valueChanged, this, [this](int v) {
    if (mirroring_) return;
    f_.VScroll1 = v;
    Layout();
  });
  f_.view = this;
  setWindowTitle(Q(f_.Caption));
  resize(400, 300);
}

DestinationWindow::~DestinationWindow() {
  if (f_.view == this) f_.view = nullptr;
}

int DestinationWindow::BarThickness() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent); }

void DestinationWindow::Refresh(const qv::Form2& form) {
  setWindowTitle(Q(form.Caption));
  // While the editor's rows are computed off this thread, the picture they
  // are written into is not read: the window keeps what it showed.
  const Made now{form.Picture, PixAspect(s_), s_.opt.PixRatio};
  if (!form.Rendering && !(now == made_)) {
    // A picture shown as it is made (no zoom, stretch or mirror) goes to
    // the screen's image without an intermediate copy; a picture of the
    // same size is drawn into the memory of the last one.
    if (form.Pixels && qv::ShowsAsIs(form.Geometry(now.pixAspect, now.pixRatio)))
      PackedToImage(*form.Pixels, shown_);
    else
      PackedToImage(form.Shown(now.pixAspect, now.pixRatio), shown_);
    Picture1_->resize(shown_.isNull() ? QSize(0, 0) : shown_.size());
    Picture1_->update();
    made_ = now;
  }
  Layout();
  // The editor calls this every 100 rows while it renders: paint now, so
  // each band shows before the next is computed.
  if (isVisible() && !form.Rendering) Picture1_->repaint();
}

void DestinationWindow::Layout() {
  const qv::ScrollLayout& l = f_.Scroll;
  mirroring_ = true;
  auto place = [](QWidget* w, bool visible, const std::array<int, 4>& r) {
    w->setVisible(visible);
    if (visible) w->setGeometry(r[0], r[1], r[2], r[3]);
  };
  place(HScroll1_, l.hVisible, l.hRect);
  place(VScroll1_, l.vVisible, l.vRect);
  place(Picture2_, l.cornerVisible, l.cornerRect);
  HScroll1_->setRange(0, l.hMax);
  HScroll1_->setPageStep(std::max(1, l.hLargeChange));
  HScroll1_->setValue(f_.HScroll1);
  VScroll1_->setRange(0, l.vMax);
  VScroll1_->setPageStep(std::max(1, l.vLargeChange));
  VScroll1_->setValue(f_.VScroll1);
  mirroring_ = false;
  Picture1_->move(qv::ScrolledEdge(f_.HScroll1), qv::ScrolledEdge(f_.VScroll1));
  Picture1_->lower();
}

void DestinationWindow::FitToPicture() {
  const qv::PixelsGeometry g = f_.Geometry(PixAspect(s_), s_.opt.PixRatio);
  QSize want(std::max(g.dw, 100), std::max(g.dh, 60));
  if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    // Leave room for the frame and the editor beside it.
    const QRect avail = screen->availableGeometry();
    want = want.boundedTo(QSize(avail.width() * 9 / 10, avail.height() * 9 / 10));
  }
  resize(want);
  f_.form_scroll(width(), height(), BarThickness(), PixAspect(s_), s_.opt.PixRatio);
  f_.CentreScrollBars();
}

void DestinationWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  f_.form_scroll(width(), height(), BarThickness(), PixAspect(s_), s_.opt.PixRatio);
}

void DestinationWindow::closeEvent(QCloseEvent* event) {
  f_.Visible = false;
  if (onClose) onClose();
  event->accept();
}

bool DestinationWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Picture1_ && event->type() == QEvent::MouseButtonPress) {
    const auto* me = static_cast<QMouseEvent*>(event);
    int16_t button = me->button() == Qt::RightButton ? 2 : me->button() == Qt::MiddleButton ? 4 : 1;
    if (onPress) onPress(static_cast<float>(me->position().x()), static_cast<float>(me->position().y()), button);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- Form3 boxes

class EditorHistoBox : public QWidget {
 public:
  explicit EditorHistoBox(EditorWindow& w) : QWidget(&w), w_(w) {
    setObjectName("Picture1");
    setFixedSize(300, 110);
  }
  // Pixel x of a level, and back.
  double PixelX(double x) const {
    const qv::Form3& f = w_.f_;
    return (x - f.Picture1ScaleLeft) / f.Picture1ScaleWidth * width();
  }
  double PixelY(double y) const {
    const qv::Form3& f = w_.f_;
    return (y - f.Picture1ScaleTop) / f.Picture1ScaleHeight * height();
  }
  double LevelX(double px) const {
    const qv::Form3& f = w_.f_;
    return f.Picture1ScaleLeft + px / width() * f.Picture1ScaleWidth;
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const auto& h = w_.s_.dest.DestHisto;
    const int32_t max = *std::max_element(h.begin(), h.end());
    if (max > 0) {
      p.setPen(QColor(40, 40, 40));
      for (size_t i = 0; i < h.size(); ++i)
        if (h[i] > 0)
          p.drawLine(QPointF(PixelX(double(i)), PixelY(0)), QPointF(PixelX(double(i)), PixelY(double(h[i]) / max)));
    }
    const QColor colours[3] = {Qt::red, QColor(0, 160, 0), Qt::blue};
    for (int c = 0; c < 3; ++c) {
      p.setPen(QPen(colours[c], 1, Qt::SolidLine));
      p.drawLine(QPointF(PixelX(w_.f_.Line1X[c]), 0), QPointF(PixelX(w_.f_.Line1X[c]), height()));
      p.setPen(QPen(colours[c], 1, Qt::DashLine));
      p.drawLine(QPointF(PixelX(w_.f_.Line2X[c]), 0), QPointF(PixelX(w_.f_.Line2X[c]), height()));
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    const int16_t button = e->button() == Qt::LeftButton ? 1 : e->button() == Qt::RightButton ? 2 : 4;
    const double x = LevelX(e->position().x());
    w_.Forward([&] { w_.f_.Picture1_MouseDown(button, x); });
  }
  // The second press of a double click is a double click, which the box
  // does not answer, not another press.
  void mouseDoubleClickEvent(QMouseEvent*) override {}

 private:
  EditorWindow& w_;
};

class EditorCurveBox : public QWidget {
 public:
  explicit EditorCurveBox(EditorWindow& w) : QWidget(&w), w_(w) {
    setObjectName("Picture2");
    setFixedSize(int(qv::Form3::kCurveBoxWidth), int(qv::Form3::kCurveBoxHeight));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const qv::Form3& f = w_.f_;
    const double W = qv::Form3::kCurveBoxWidth - 1, H = qv::Form3::kCurveBoxHeight - 1;
    p.setPen(Qt::red);
    p.drawLine(QPointF(f.CurveLineX, 0), QPointF(f.CurveLineX, H));
    p.setPen(Qt::black);
    QPointF last;
    for (int px = 0; px <= int(W); ++px) {
      const size_t i = std::min<size_t>(32767, size_t(px / W * 32767 + 0.5));
      const QPointF pt(px, H * (1 - f.Curve[i] / 255.0));
      if (px > 0) p.drawLine(last, pt);
      last = pt;
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    const double x = e->position().x();
    w_.Forward([&] { w_.f_.Picture2_MouseDown(x); });
  }
  void mouseDoubleClickEvent(QMouseEvent*) override {}

 private:
  EditorWindow& w_;
};

// ---------------------------------------------------------------- Form3

template <typename F>
void EditorWindow::Forward(F&& handler) {
  if (mirroring_) return;
  handler();
  Refresh();
}

EditorWindow::EditorWindow(qv::Session& s, qv::Form3& f, qv::Form2& dest, DestinationWindow& destWindow,
                           GuiDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), s_(s), f_(f), dest_(dest), destWindow_(destWindow), dialogs_(dialogs) {
  setObjectName("Form3");
  setWindowTitle(QStringLiteral("Modification de l'image"));
  f_.ControlsSet = [this] { Refresh(); };
  auto* top = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  top->addLayout(left);
  top->addLayout(right);

  Picture1_ = new EditorHistoBox(*this);
  left->addWidget(Picture1_);
  auto* levels = new QGridLayout;
  const char* names[3] = {"R", "V", "B"};
  levels->addWidget(new QLabel(QStringLiteral("Noir")), 0, 1, 1, 2);
  levels->addWidget(new QLabel(QStringLiteral("Blanc")), 0, 3, 1, 2);
  for (int c = 0; c < 3; ++c) {
    levels->addWidget(new QLabel(QString::fromLatin1(names[c])), c + 1, 0);
    Check1_[c] = new QCheckBox;
    Check1_[c]->setObjectName(QStringLiteral("Check1_%1").arg(c));
    Text1_[c] = new QLineEdit;
    Text1_[c]->setObjectName(QStringLiteral("Text1_%1").arg(c));
    Check2_[c] = new QCheckBox;
    Check2_[c]->setObjectName(QStringLiteral("Check2_%1").arg(c));
    Text2_[c] = new QLineEdit;
    Text2_[c]->setObjectName(QStringLiteral("Text2_%1").arg(c));
    levels->addWidget(Check1_[c], c + 1, 1);
    levels->addWidget(Text1_[c], c + 1, 2);
    levels->addWidget(Check2_[c], c + 1, 3);
    levels->addWidget(Text2_[c], c + 1, 4);
    const auto idx = static_cast<int16_t>(c);
    connect(Check1_[c], &QCheckBox::toggled, this, [this, c](bool on) { Forward([&] { f_.Check1[c] = on; }); });
    connect(Check2_[c], &QCheckBox::toggled, this, [this, c](bool on) { Forward([&] { f_.Check2[c] = on; }); });
    connect(Text1_[c], &QLineEdit::textEdited, this, [this, c, idx](const QString& t) {
      Forward([&] {
        f_.Text1[c] = t.toStdString();
        f_.Text1_Change(idx);
      });
    });
    connect(Text2_[c], &QLineEdit::textEdited, this, [this, c, idx](const QString& t) {
      Forward([&] {
        f_.Text2[c] = t.toStdString();
        f_.Text2_Change(idx);
      });
    });
  }
  left->addLayout(levels);

  auto* modes = new QGroupBox;
  auto* modesLayout = new QHBoxLayout(modes);
  const char* modeNames[3] = {"Couleur", "Monochrome", "Échelle de couleur"};
  for (int i = 0; i < 3; ++i) {
    Option1_[i] = new QRadioButton(QString::fromUtf8(modeNames[i]));
    Option1_[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
    modesLayout->addWidget(Option1_[i]);
    connect(Option1_[i], &QRadioButton::toggled, this, [this, i](bool on) {
      if (on)
        Forward([&] {
          f_.Option1 = static_cast<int16_t>(i);
          f_.Option1_Click(static_cast<int16_t>(i));
        });
    });
  }
  left->addWidget(modes);

  // Sliders: 0..2 detail, 3 white balance, 4 colour-scale slope, 5 edge radius.
  struct SliderDef {
    const char* name;
    int min, max;
    int16_t qv::Form3::*field;
    void (qv::Form3::*handler)();
  };
  const SliderDef sliders[6] = {
      {"HScroll1", -20, 20, &qv::Form3::HScroll1, &qv::Form3::HScroll1_Change},
      {"HScroll2", -20, 20, &qv::Form3::HScroll2, &qv::Form3::HScroll2_Change},
      {"HScroll3", -20, 20, &qv::Form3::HScroll3, &qv::Form3::HScroll3_Change},
      {"HScroll4", 0, 32767, &qv::Form3::HScroll4, &qv::Form3::HScroll4_Change},
      {"HScroll5", 0, 100, &qv::Form3::HScroll5, &qv::Form3::HScroll5_Change},
      {"HScroll6", 0, 10, &qv::Form3::HScroll6, &qv::Form3::HScroll6_Change},
  };
  for (int i = 0; i < 6; ++i) {
    auto* bar = new QScrollBar(Qt::Horizontal);
    bar->setObjectName(QString::fromLatin1(sliders[i].name));
    bar->setRange(sliders[i].min, sliders[i].max);
    bar->setMinimumWidth(160);
    // Its handler runs when the value is let go, not at every step of a
    // drag (a dragged thumb moves without redrawing).
    bar->setTracking(false);
    HScroll_[i] = bar;
    const SliderDef slider = sliders[i];
    connect(bar, &QScrollBar::valueChanged, this, [this, slider](int v) {
      Forward([&] {
        f_.*slider.field = static_cast<int16_t>(v);
        (f_.*slider.handler)();
      });
    });
  }
  auto* details = new QGroupBox(QStringLiteral("Détails"));
  auto* dl = new QGridLayout(details);
  Check3_ = new QCheckBox(QStringLiteral("Actif"));
  Check3_->setObjectName("Check3");
  dl->addWidget(Check3_, 0, 0, 1, 2);
  for (int i = 0; i < 3; ++i) {
    dl->addWidget(new QLabel(QString::number(i + 1)), i + 1, 0);
    dl->addWidget(HScroll_[i], i + 1, 1);
  }
  left->addWidget(details);

  auto* scales = new QGridLayout;
  scales->addWidget(new QLabel(QStringLiteral("Pente de l'échelle")), 0, 0);
  scales->addWidget(HScroll_[4], 0, 1);
  scales->addWidget(new QLabel(QStringLiteral("Rayon des bords")), 1, 0);
  scales->addWidget(HScroll_[5], 1, 1);
  Label4_ = new QLabel(QStringLiteral("Balance des blancs"));
  scales->addWidget(Label4_, 2, 0);
  scales->addWidget(HScroll_[3], 2, 1);
  left->addLayout(scales);
  // The white balance's row comes and goes: the space it leaves stays at
  // the bottom instead of swelling the boxes above.
  left->addStretch();

  auto* contrast = new QLabel(QStringLiteral("Contraste"));
  contrast->setObjectName("Label6");
  right->addWidget(contrast);
  Picture2_ = new EditorCurveBox(*this);
  right->addWidget(Picture2_);
  Check4_ = new QCheckBox(QStringLiteral("Inverser Horiz."));
  Check4_->setObjectName("Check4");
  Check5_ = new QCheckBox(QStringLiteral("Cacher le niveau max."));
  Check5_->setObjectName("Check5");
  Check6_ = new QCheckBox(QStringLiteral("Remplissage"));
  Check6_->setObjectName("Check6");
  struct CheckSpec {
    QCheckBox* box;
    int16_t qv::Form3::*field;
    void (qv::Form3::*handler)();
  };
  for (const CheckSpec& c : {CheckSpec{Check3_, &qv::Form3::Check3, &qv::Form3::Check3_Click},
                             CheckSpec{Check4_, &qv::Form3::Check4, &qv::Form3::Check4_Click},
                             CheckSpec{Check5_, &qv::Form3::Check5, &qv::Form3::Check5_Click},
                             CheckSpec{Check6_, &qv::Form3::Check6, &qv::Form3::Check6_Click}}) {
    connect(c.box, &QCheckBox::toggled, this, [this, c](bool on) {
      Forward([&] {
        f_.*c.field = on ? 1 : 0;
        (f_.*c.handler)();
      });
    });
  }
  right->addWidget(Check4_);
  right->addWidget(Check5_);
  right->addWidget(Check6_);
  auto* zoomRow = new QHBoxLayout;
  zoomRow->addWidget(new QLabel(QStringLiteral("Zoom (%)")));
  Combo1_ = new QComboBox;
  Combo1_->setObjectName("Combo1");
  for (const char* z : {"25", "50", "75", "100", "125", "150", "175", "200"}) Combo1_->addItem(QString::fromLatin1(z));
  connect(Combo1_, &QComboBox::activated, this, [this](int) {
    Forward([&] {
      f_.Combo1 = Combo1_->currentText().toStdString();
      f_.Combo1_Click();
    });
  });
  zoomRow->addWidget(Combo1_);
  right->addLayout(zoomRow);

  auto button = [&](const char* name, const QString& caption, std::function<void()> click, QBoxLayout* row = nullptr) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    connect(b, &QPushButton::clicked, this, [click] { click(); });
    (row ? row : right)->addWidget(b);
  };
  button("Command1", QStringLiteral("Enregistrer"), [this] { Save(); });
  button("Command2", QStringLiteral("Copier"), [this] { Copy(); });
  // "Étirement auto" sits beside "Initialiser", the other way to set every
  // level at once.
  auto* levelButtons = new QHBoxLayout;
  right->addLayout(levelButtons);
  button(
      "Command3", QStringLiteral("Initialiser"), [this] { Forward([&] { f_.Command3_Click(); }); }, levelButtons);
  button(
      "Command7", QStringLiteral("Étirement auto"), [this] { Forward([&] { f_.Command7_Click(); }); }, levelButtons);
  button("Command4", QStringLiteral("Tourner"), [this] { Forward([&] { f_.Command4_Click(); }); });
  button("Command5", QStringLiteral("2 x 2"), [this] { Forward([&] { f_.Command5_Click(); }); });
  button("Command6", QStringLiteral("3 x 3"), [this] { Forward([&] { f_.Command6_Click(); }); });
  right->addStretch();

  destWindow_.onPress = [this](float x, float y, int16_t& b) {
    // The editor closed over a result still shown comes back as it was
    // left at a left press on the result, rather than that press changing
    // the white balance of a picture nobody could then edit or save.
    if (!isVisible() && b == 1) {
      show();
      raise();
      activateWindow();
      Forward([&] { f_.draw(); });
      if (onClosedAlone) onClosedAlone(false);
      return;
    }
    Forward([&] { f_.BalWhite(x, y, b); });
    // The press brought the result to the front: the editor, whose levels
    // and balance slider the press has just set, comes back over it.
    if (b != 2) raise();
  };
  destWindow_.onClose = [this] { CloseWithResult(); };
  Refresh();
}

void EditorWindow::CloseWithResult() {
  if (isVisible()) close();
  // Closed by the user or now, its redraw stops at the end of its band.
  f_.Form_Unload();
}

void EditorWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // Closed alone, the result it edits stays on the screen with no other way
  // back to its levels and its "Enregistrer" than a new run.
  if (dest_.Visible && onClosedAlone) onClosedAlone(true);
}

void EditorWindow::Refresh() {
  mirroring_ = true;
  for (int c = 0; c < 3; ++c) {
    if (Text1_[c]->text() != Q(f_.Text1[c])) Text1_[c]->setText(Q(f_.Text1[c]));
    if (Text2_[c]->text() != Q(f_.Text2[c])) Text2_[c]->setText(Q(f_.Text2[c]));
    Check1_[c]->setChecked(f_.Check1[c] != 0);
    Check2_[c]->setChecked(f_.Check2[c] != 0);
    Option1_[c]->setChecked(f_.Option1 == c);
  }
  Check3_->setChecked(f_.Check3 != 0);
  Check4_->setChecked(f_.Check4 != 0);
  Check5_->setChecked(f_.Check5 != 0);
  Check6_->setChecked(f_.Check6 != 0);
  const int16_t values[6] = {f_.HScroll1, f_.HScroll2, f_.HScroll3, f_.HScroll4, f_.HScroll5, f_.HScroll6};
  for (int i = 0; i < 6; ++i) HScroll_[i]->setValue(values[i]);
  HScroll_[3]->setVisible(f_.HScroll4Visible);
  Label4_->setVisible(f_.HScroll4Visible);
  Combo1_->setCurrentIndex(Combo1_->findText(Q(f_.Combo1)));
  mirroring_ = false;
  Picture1_->update();
  Picture2_->update();
}

void EditorWindow::Save() {
  // The dialog would run inside the redraw's wait, which could then not go
  // on until it closed: the destination would show the old picture behind
  // it. It opens once the redraw is done, over the picture it saves.
  if (f_.Drawing()) {
    // One save waits, however often the button is pressed meanwhile.
    if (!saveWaiting_) {
      saveWaiting_ = true;
      f_.WhenDrawn([this] {
        saveWaiting_ = false;
        // A save that waited for the redraw goes with a window closed meanwhile.
        if (isVisible()) Save();
      });
    }
    return;
  }
  const qv::SaveDialogParams params = qv::EditorSaveDialog(s_);
  const qv::FileDialogRequest request = params.Request();
  const std::string name = qv::SavedName(request, dialogs_.SaveFile(request));
  if (name.empty()) return;
  // JPEG and BMP take the picture as the destination window shows it, once
  // a redraw under way has finished with the settings of the moment.
  f_.WhenDrawn([this, name] {
    const qv::Plane<int32_t> shown = dest_.Shown(PixAspect(s_), s_.opt.PixRatio);
    const int err = qv::SaveDestinationAs(s_, name, shown);
    Refresh();
    const std::string note = qv::SaveNote(s_, name, err, true, shown);
    if (onStatus) onStatus(note);
    // The main window's status bar lies behind the result and this window:
    // a save that failed must be said where the user pressed the button.
    if (err != 0) QMessageBox::warning(DialogOwner(this), QStringLiteral("Quelvista"), Q(note));
  });
}

void EditorWindow::Copy() {
  f_.WhenDrawn([this] {
    // A copy that waited for the redraw goes with a window closed meanwhile.
    if (!isVisible()) return;
    const qv::Plane<int32_t> shown = dest_.Shown(PixAspect(s_), s_.opt.PixRatio);
    if (shown.Empty()) return;
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setImage(PackedToImage(shown));
    // Nothing else shows that it happened.
    if (onStatus)
      onStatus("Image copiée dans le presse-papiers (" + std::to_string(shown.Width()) + " x " +
               std::to_string(shown.Height()) + ")");
  });
}

}  // namespace qvapp
