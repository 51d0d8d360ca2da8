#include "app/report_window.h"

#include <QCloseEvent>
#include <QHeaderView>
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
  connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) {
    if (row >= 0 && static_cast<size_t>(row) < f_.Report.rows.size() && onRowClicked)
      onRowClicked(f_.Report.rows[static_cast<size_t>(row)].image);
  });
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

void ReportWindow::closeEvent(QCloseEvent* event) {
  f_.mnuReport = false;
  event->accept();
  if (onClosed) onClosed();
}

}  // namespace qvapp
