#include "app/small_windows.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/qt_platform.h"
#include "workspace/form1_events.h"

namespace qvapp {

namespace {
constexpr int kMargin = 8;
}

DebugWindow::DebugWindow(qv::Form1& f, QWidget* parent) : QWidget(parent, Qt::Window), f_(f) {
  setObjectName("Form4");
  setWindowTitle(QStringLiteral("Débogage"));
  list_ = new QListWidget(this);
  list_->setObjectName("List1");
  list_->move(kMargin, kMargin);
  // Header cards are laid out in columns of characters (keyword, "= ",
  // value from column 11): only a fixed-width font keeps them aligned.
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this, [this] { close(); });
  escape_->setContext(Qt::WindowShortcut);
  escape_->setEnabled(false);
  resize(320, 480);
}

void DebugWindow::Refresh() {
  const auto& log = f_.DebugLog;
  if (log.size() < shown_ || (shown_ > 0 && list_->count() >= static_cast<int>(shown_) &&
                              list_->item(static_cast<int>(shown_) - 1)->text() != Q(log[shown_ - 1]))) {
    // The log was cleared (a new run or project), and perhaps written again
    // as far as it went before.
    list_->clear();
    shown_ = 0;
  }
  for (; shown_ < log.size(); ++shown_) list_->addItem(Q(log[shown_]));
  if (shown_ > 0) list_->scrollToBottom();
}

void DebugWindow::ShowLines(const std::vector<std::string>& lines) {
  list_->clear();
  for (const std::string& l : lines) list_->addItem(Q(l));
  shown_ = f_.DebugLog.size();
  // A header is read and put away, as a dialog is.
  escape_->setEnabled(true);
}

void DebugWindow::closeEvent(QCloseEvent* event) {
  qv::form4::Form_QueryUnload(f_);
  event->accept();
  if (onClosed) onClosed();
}

void DebugWindow::resizeEvent(QResizeEvent* event) {
  // The list fills the window with the same margin on every side.
  list_->setGeometry(kMargin, kMargin, width() - 2 * kMargin, height() - 2 * kMargin);
  QWidget::resizeEvent(event);
}

ZoneDialog::ZoneDialog(qv::Form1& f, QWidget* parent) : QDialog(parent), f_(f) {
  setObjectName("Form6");
  setWindowTitle(QStringLiteral("Zone"));
  setModal(false);
  // Above the main window and the other windows while the user clicks zone
  // points on the picture.
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  auto* layout = new QVBoxLayout(this);
  auto add = [&](const char* name, const QString& caption, void (*handler)(qv::Form1&), const QString& tip) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setToolTip(QStringLiteral("<p>") + tip + QStringLiteral("</p>"));
    b->setAutoDefault(false);
    layout->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, handler] {
      handler(f_);
      if (onChanged) onChanged();
    });
  };
  add("Command3", QStringLiteral("Nouvelle sélection"), qv::form6::Command3_Click,
      QStringLiteral("Ferme le contour en cours : les points suivants commencent une autre zone"));
  add("Command2", QStringLiteral("Appliquer aux images suivantes"), qv::form6::Command2_Click,
      QStringLiteral("Remplace les zones des images qui suivent dans la liste par celles de l'image affichée"));
  add("Command1", QStringLiteral("Initialisation"), qv::form6::Command1_Click,
      QStringLiteral("Efface les zones de l'image affichée"));
}

void ZoneDialog::closeEvent(QCloseEvent* event) {
  qv::form6::Form_QueryUnload(f_);
  event->accept();
  if (onChanged) onChanged();
}

void ZoneDialog::reject() { close(); }

}  // namespace qvapp
