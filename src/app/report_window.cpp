#include "app/report_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt_platform.h"
#include "workspace/frame_report.h"

namespace qvapp {

ReportWindow::ReportWindow(qv::Form1& f, QWidget* parent) : QWidget(parent, Qt::Window), f_(f) {
  setObjectName("FormReport");
  setWindowTitle(QStringLiteral("Rapport"));
  auto* layout = new QVBoxLayout(this);
  table_ = new QTableWidget(this);
  table_->setObjectName("ReportTable");
  const auto& columns = qv::ReportColumns();
  table_->setColumnCount(static_cast<int>(columns.size()));
  QStringList titles;
  for (const std::string& c : columns) titles << Q(c);
  table_->setHorizontalHeaderLabels(titles);
  table_->verticalHeader()->setVisible(false);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->horizontalHeader()->setStretchLastSection(true);
  connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) { RowChosen(row); });
  // The keys that move through the rows show each row's image as a click
  // does; Escape puts the report away.
  table_->installEventFilter(this);
  total_ = new QLabel(this);
  total_->setObjectName("ReportTotal");
  // A long summary (many frames missing) wraps rather than widening the
  // window beyond the screen.
  total_->setWordWrap(true);
  total_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  layout->addWidget(table_);
  layout->addWidget(total_);
  resize(1180, 420);
}

void ReportWindow::Refresh() {
  const qv::FrameReport& r = f_.Report;
  bool changed = shownRows_ != r.rows.size();
  table_->setRowCount(static_cast<int>(r.rows.size()));
  for (size_t k = 0; k < r.rows.size(); ++k) {
    const qv::ReportRow& row = r.rows[k];
    const std::vector<std::string> cells = qv::ReportCells(row);
    for (int c = 0; c < static_cast<int>(cells.size()); ++c) {
      const QString text = Q(cells[static_cast<size_t>(c)]);
      QTableWidgetItem* item = table_->item(static_cast<int>(k), c);
      if (!item) {
        item = new QTableWidgetItem(text);
        table_->setItem(static_cast<int>(k), c, item);
        changed = true;
      } else if (item->text() != text) {
        item->setText(text);
        changed = true;
      }
      // The images left out of the result stand out.
      item->setForeground(row.notStacked ? QColor(200, 0, 0) : palette().color(QPalette::Text));
    }
  }
  total_->setText(Q(r.Summary()));
  if (changed) {
    // The columns follow what they hold now: a run fills the reasons and
    // qualities of rows the list's opening made. A stretched last section
    // keeps the width it was stretched to: it is sized to its contents
    // like the others, then stretched again.
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    shownRows_ = r.rows.size();
  }
}

void ReportWindow::ShowFirstLeftOut() {
  const auto& rows = f_.Report.rows;
  for (size_t k = 0; k < rows.size(); ++k)
    if (rows[k].notStacked) {
      table_->scrollToItem(table_->item(static_cast<int>(k), 0), QAbstractItemView::PositionAtCenter);
      return;
    }
}

QSize ReportWindow::Fitting(const QSize& limit) const {
  int w = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < table_->columnCount(); ++c) w += table_->horizontalHeader()->sectionSize(c);
  int h = 2 * table_->frameWidth() + table_->horizontalHeader()->height();
  for (int r = 0; r < table_->rowCount(); ++r) h += table_->rowHeight(r);
  const QMargins m = layout()->contentsMargins();
  w += m.left() + m.right();
  h += m.top() + m.bottom() + layout()->spacing() + total_->sizeHint().height();
  return QSize(std::min(w, limit.width()), std::min(h, limit.height()));
}

void ReportWindow::RowChosen(int row) {
  if (row >= 0 && static_cast<size_t>(row) < f_.Report.rows.size() && onRowClicked)
    onRowClicked(f_.Report.rows[static_cast<size_t>(row)].image);
}

bool ReportWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched != table_ || event->type() != QEvent::KeyPress || inKey_) return QWidget::eventFilter(watched, event);
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: {
      // Only a row the key moved to: the table may move its current row by
      // itself (when it takes the focus), which must not select an image.
      const int before = table_->currentRow();
      inKey_ = true;
      QCoreApplication::sendEvent(table_, event);
      inKey_ = false;
      if (table_->currentRow() != before) RowChosen(table_->currentRow());
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void ReportWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape)
    close();
  else
    QWidget::keyPressEvent(event);
}

void ReportWindow::closeEvent(QCloseEvent* event) {
  f_.mnuReport = false;
  event->accept();
  if (onClosed) onClosed();
}

}  // namespace qvapp
