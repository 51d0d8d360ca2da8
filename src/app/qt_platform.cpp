#include "app/qt_platform.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <map>

#include "core/big_buffer.h"
#include "core/paths.h"

namespace qvapp {

void QtEventLoop::Yield() {
  if (beforeYield) beforeYield();
  if (sinceServed_.isValid() && sinceServed_.nsecsElapsed() < serveEvery.count()) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  ++served;
  sinceServed_.start();
}

void QtEventLoop::RunAside(const std::function<void()>& work) {
  // The worker wakes this thread's event loop when it ends; a wake-up that
  // comes before the loop sleeps is kept, so the last one is never lost.
  QAbstractEventDispatcher* const dispatcher = QAbstractEventDispatcher::instance();
  aside_.Start(work, [dispatcher] {
    if (dispatcher) dispatcher->wakeUp();
  });
  struct Flag {
    bool& on;
    explicit Flag(bool& f) : on(f) { on = true; }
    ~Flag() { on = false; }
  } inAside(inAside_);
  try {
    if (duringAside) duringAside();
    // A handler that runs its own event loop meanwhile (a modal dialog) may
    // take the wake-up: a slow timer then ends the sleep all the same.
    QTimer watch;
    watch.start(100);
    // At least once: what came meanwhile is served before the work is
    // taken back, however soon it ended.
    do {
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } while (aside_.Running());
  } catch (...) {
    // Whatever a handler threw, the work may still read what the caller
    // owns: it ends first.
    aside_.Await();
    throw;
  }
  aside_.Finish();
}

QWidget* DialogOwner(QWidget* owner) {
  QWidget* active = QApplication::activeWindow();
  return active && !qobject_cast<QMenu*>(active) ? active : owner;
}

bool QtDesktop::AskYesNo(const std::string& text) {
  return QMessageBox::question(DialogOwner(owner_), QStringLiteral("Quelvista"), Q(text),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtDesktop::AskYesNoDefaultNo(const std::string& text) {
  return QMessageBox::question(DialogOwner(owner_), QStringLiteral("Quelvista"), Q(text),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool QtDesktop::OpenFolder(const std::string& folder) {
  // The desktop's own file manager.
  return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(folder)));
}

namespace {
qv::ScreenRect ToRect(const QRect& r) { return {r.left(), r.top(), r.width(), r.height()}; }
}  // namespace

qv::ScreenRect QtDesktop::Screen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? ToRect(screen->geometry()) : qv::ScreenRect{0, 0, 1024, 768};
}

qv::ScreenRect QtDesktop::AvailableArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? ToRect(screen->availableGeometry()) : Screen();
}

QString FilterText(const std::string& description, const std::string& patterns) {
  QString p = Q(patterns);
  p.replace(';', ' ');
  return Q(description) + " (" + p + ")";
}

namespace {
// Every filter of a request, in order, as the dialog lists them.
QStringList FilterList(const qv::FileDialogRequest& r) {
  QStringList filters{FilterText(r.filterDescription, r.pattern)};
  for (const auto& [description, pattern] : r.moreFilters) filters << FilterText(description, pattern);
  return filters;
}
QString Filters(const qv::FileDialogRequest& r) { return FilterList(r).join(";;"); }
// The descriptions already name their extensions ("Image Astro (FTS FIT
// ...)"): the list shows them alone, without the patterns repeated after.
constexpr QFileDialog::Options kDialogOptions = QFileDialog::HideNameFilterDetails;
}  // namespace

namespace {

// The list's size, type and date columns as wide as what they hold (Qt
// gives them a fixed width that cuts "Dernière modification" and the French
// type names; sizing them once the folder is read came too early for the
// type names at times), the names taking the rest of a dialog wide enough.
void FitColumns(QFileDialog& dialog) {
  if (auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < list->header()->count(); ++c)
      list->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  }
  dialog.resize(std::max(dialog.width(), 860), dialog.height());
}

// The chosen files of an open dialog, or none when it was cancelled.
QStringList ChooseToOpen(QWidget* owner, const qv::FileDialogRequest& r, const QString& filters,
                         QFileDialog::FileMode mode) {
  QFileDialog dialog(owner, Q(r.title), Q(r.startFolder), filters);
  dialog.setOptions(kDialogOptions);
  dialog.setFileMode(mode);
  FitColumns(dialog);
  return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

}  // namespace

std::string QtDialogs::OpenFile(const qv::FileDialogRequest& r) {
  const QStringList files = ChooseToOpen(DialogOwner(owner_), r, Filters(r), QFileDialog::ExistingFile);
  return files.isEmpty() ? std::string() : S(files.first());
}

qv::SaveAnswer QtDialogs::SaveFile(const qv::FileDialogRequest& r) {
  std::vector<std::string> patterns{r.pattern};
  for (const auto& entry : r.moreFilters) patterns.push_back(entry.second);
  const QStringList filters = FilterList(r);
  // The dialog opens on the filter of the default extension, and a name
  // typed without extension takes the selected filter's, so the dialog's
  // question about replacing a file is about the file that will be written.
  int start = 0;
  for (size_t i = 0; i < patterns.size(); ++i)
    if (qv::LCase(qv::FilterExtension(patterns[i])) == qv::LCase(r.defaultExt)) {
      start = static_cast<int>(i);
      break;
    }
  auto suffix = [&](int index) {
    const std::string ext = index >= 0 && static_cast<size_t>(index) < patterns.size()
                                ? qv::FilterExtension(patterns[static_cast<size_t>(index)])
                                : std::string();
    return Q(ext.empty() ? qv::LCase(r.defaultExt) : ext);
  };
  // With the patterns hidden the dialog names a filter by its description
  // alone in some of its answers and by its whole text in others.
  QStringList descriptions{Q(r.filterDescription)};
  for (const auto& entry : r.moreFilters) descriptions << Q(entry.first);
  auto indexOf = [&](const QString& filter) {
    const int whole = int(filters.indexOf(filter));
    return whole >= 0 ? whole : int(descriptions.indexOf(filter));
  };
  const QString opensOn = Q(qv::SaveDialogStart(r));
  QFileDialog dialog(DialogOwner(owner_), Q(r.title), opensOn, filters.join(";;"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOptions(kDialogOptions);
  dialog.selectNameFilter(filters[start]);
  dialog.setDefaultSuffix(suffix(start));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&](const QString& filter) { dialog.setDefaultSuffix(suffix(indexOf(filter))); });
  if (!opensOn.isEmpty()) dialog.selectFile(opensOn);
  FitColumns(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return {S(dialog.selectedFiles().first()), indexOf(dialog.selectedNameFilter())};
}

std::vector<std::string> QtDialogs::OpenFiles(const qv::FileDialogRequest& r) {
  const QStringList files =
      ChooseToOpen(DialogOwner(owner_), r, FilterText(r.filterDescription, r.pattern), QFileDialog::ExistingFiles);
  if (files.isEmpty()) return {};
  if (files.size() == 1) return {S(files.first())};
  std::vector<std::string> paths;
  for (const QString& f : files) paths.push_back(S(f));
  // The dialog chooses in one folder.
  return GroupByFolder(paths).front();
}

std::string QtDialogs::BrowseFolder(const std::string& start, const std::string& title) {
  QFileDialog dialog(DialogOwner(owner_), Q(title), Q(start));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly);
  FitColumns(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return S(dialog.selectedFiles().first());
}

QImage PackedToImage(const qv::Plane<int32_t>& pixels) {
  QImage image;
  PackedToImage(pixels, image);
  return image;
}

namespace {

// A picture of a camera's size in memory mapped by large pages, as the
// engine's planes are: mapped page by page, the result's picture cost the
// end of a run more than the editor's drawing of it. Empty when memory is
// short, as Qt's own picture would be.
QImage BlankImage(int w, int h) {
  const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
  if (bytes < (size_t{4} << 20)) return QImage(w, h, QImage::Format_RGB32);
  void* memory = nullptr;
  try {
    memory = qv::AllocateBig(bytes);
  } catch (const std::bad_alloc&) {
    return QImage();
  }
  return QImage(
      static_cast<uchar*>(memory), w, h, static_cast<qsizetype>(w) * 4, QImage::Format_RGB32,
      [](void* m) { std::free(m); }, memory);
}

}  // namespace

void PackedToImage(const qv::Plane<int32_t>& pixels, QImage& image) {
  PackedToImage(pixels, QRect(0, 0, pixels.Width(), pixels.Height()), image);
}

void PackedToImage(const qv::Plane<int32_t>& pixels, const QRect& part, QImage& image) {
  const QRect inside = part & QRect(0, 0, pixels.Width(), pixels.Height());
  if (pixels.Empty() || inside.isEmpty()) {
    image = QImage();
    return;
  }
  const int w = inside.width(), h = inside.height();
  if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32 || !image.isDetached())
    image = BlankImage(w, h);
  if (image.isNull()) return;
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    const int32_t* row = pixels.Row(inside.top() + y) + inside.left();
    // The fourth byte is ignored by the packed layout; RGB32 wants it opaque.
    for (int x = 0; x < w; ++x) line[x] = 0xFF000000u | (static_cast<uint32_t>(row[x]) & 0xFFFFFFu);
  }
}

qv::Plane<int32_t> ImageToPacked(const QImage& image) {
  qv::Plane<int32_t> pixels;
  if (image.isNull()) return pixels;
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  pixels.Redim(rgb.width() - 1, rgb.height() - 1);
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) pixels(x, y) = static_cast<int32_t>(line[x] & 0xFFFFFFu);
  }
  return pixels;
}

std::vector<std::vector<std::string>> GroupByFolder(const std::vector<std::string>& paths) {
  std::map<std::string, std::vector<std::string>> byFolder;
  std::vector<std::string> order;
  for (const std::string& p : paths) {
    const QFileInfo info(Q(p));
    const std::string folder = S(QDir::toNativeSeparators(info.absolutePath()));
    if (!byFolder.count(folder)) order.push_back(folder);
    byFolder[folder].push_back(S(info.fileName()));
  }
  std::vector<std::vector<std::string>> groups;
  for (const std::string& folder : order) {
    std::vector<std::string> g{folder};
    g.insert(g.end(), byFolder[folder].begin(), byFolder[folder].end());
    groups.push_back(g);
  }
  return groups;
}

void PauseWithEvents(double seconds) {
  if (seconds <= 0) {
    QCoreApplication::processEvents();
    return;
  }
  // A coarse timer may fire a little early, so the loop is left only once
  // the deadline has passed; a precise one keeps the wake-ups to one.
  const QDeadlineTimer deadline(static_cast<qint64>(std::ceil(std::min(seconds, 86400.0) * 1000)), Qt::PreciseTimer);
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  while (!deadline.hasExpired()) {
    timer.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    // The program is quitting: the loop returns at once, and must not be
    // entered again and again until the deadline.
    if (loop.exec() != 0) break;
  }
}

namespace {

// Qt 6 moved the file dialog's type names ("Folder") to the icon provider,
// whose context its French file does not have yet: they are looked up
// under the file dialog, where they were before. The French file also
// drops the full stop of the replace question, which then runs on into
// its second line.
class MovedTexts : public QTranslator {
 public:
  MovedTexts(const QTranslator& qt, QObject* parent) : QTranslator(parent), qt_(qt) {}
  QString translate(const char* context, const char* source, const char* disambiguation, int n) const override {
    if (qstrcmp(context, "QFileDialog") == 0 && qstrcmp(source, "%1 already exists.\nDo you want to replace it?") == 0)
      return QStringLiteral("Le fichier %1 existe déjà.\nVoulez-vous l'écraser ?");
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
    return qt_.translate("QFileDialog", source, disambiguation, n);
  }
  bool isEmpty() const override { return false; }

 private:
  const QTranslator& qt_;
};

}  // namespace

bool InstallFrenchTranslations() {
  auto* app = QCoreApplication::instance();
  if (!app) return false;
  // One translator for the program's lifetime, kept by the application.
  auto* qt = new QTranslator(app);
  if (!qt->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete qt;
    return false;
  }
  // Qt's own dates and file types (the file dialogs' columns) in French
  // too. The program's numbers follow the system's conventions by their
  // own rules, not Qt's locale.
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  return QCoreApplication::installTranslator(qt) && QCoreApplication::installTranslator(new MovedTexts(*qt, app));
}

QRect WithinArea(const QRect& frame, const QRect& area) {
  const QSize size = frame.size().boundedTo(area.size());
  const int left = std::clamp(frame.left(), area.left(), area.left() + area.width() - size.width());
  const int top = std::clamp(frame.top(), area.top(), area.top() + area.height() - size.height());
  return QRect(QPoint(left, top), size);
}

QRect BesideFrame(const QRect& owner, const QSize& size, const QRect& area) {
  const int right = area.left() + area.width();
  int left = owner.left() + owner.width();
  if (left + size.width() > right) {
    left = owner.left() - size.width();
    if (left < area.left()) left = right - size.width();
  }
  return WithinArea(QRect(QPoint(left, owner.top()), size), area);
}

QRect AvailableArea(const QWidget* window) {
  const QScreen* screen = window && window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

namespace {
QSize ExtraOf(const QWidget* w) {
  const QRect frame = w->frameGeometry(), inner = w->geometry();
  return QSize(frame.width() - inner.width(), frame.height() - inner.height());
}
}  // namespace

QSize FrameExtra(const QWidget* window) {
  if (window && window->isVisible()) {
    const QSize own = ExtraOf(window);
    if (!own.isNull()) return own;
  }
  // A window that is not framed yet will get the frame its siblings have.
  for (const QWidget* other : QApplication::topLevelWidgets()) {
    if (other == window || !other->isVisible() || other->windowType() == Qt::Popup) continue;
    const QSize extra = ExtraOf(other);
    if (!extra.isNull()) return extra;
  }
  return QSize(0, 0);
}

void SetFrameGeometry(QWidget* window, const QRect& frame) {
  const QRect placed = WithinArea(frame, AvailableArea(window));
  const QSize extra = FrameExtra(window);
  // move() places the frame's corner; resize() sizes the inside.
  window->move(placed.topLeft());
  window->resize((placed.size() - extra).expandedTo(QSize(1, 1)));
}

namespace {

// Runs `place` once the window is on the screen: a window manager frames a
// window only when it maps it, and only then is the frame's size known.
class WhenExposed : public QObject {
 public:
  WhenExposed(QWidget* window, std::function<void()> place) : QObject(window), place_(std::move(place)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* handle = qobject_cast<QWindow*>(watched);
    if (event->type() == QEvent::Expose && handle && handle->isExposed()) {
      handle->removeEventFilter(this);
      // After the exposure itself, when the frame's extents have come.
      QTimer::singleShot(0, parent(), place_);
      deleteLater();
    }
    return false;
  }

 private:
  std::function<void()> place_;
};

}  // namespace

void NowAndWhenFramed(QWidget* window, const std::function<void()>& place) {
  place();
  QWindow* handle = window->windowHandle();
  if (handle && !handle->isExposed()) handle->installEventFilter(new WhenExposed(window, place));
}

void KeepWithinScreen(QWidget* window) {
  NowAndWhenFramed(window, [window] {
    const QRect frame = window->frameGeometry();
    if (!AvailableArea(window).contains(frame)) SetFrameGeometry(window, frame);
  });
}

}  // namespace qvapp
