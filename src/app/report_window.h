// The report of every frame: a table of what the last run and the last
// automatic marks decided for each image, with the total below it.
#pragma once

#include <QWidget>
#include <functional>

#include "workspace/form1.h"

class QLabel;
class QTableWidget;

namespace qvapp {

class ReportWindow : public QWidget {
  Q_OBJECT
 public:
  explicit ReportWindow(qv::Form1& f, QWidget* parent = nullptr);
  // Shows the model's report.
  void Refresh();
  QTableWidget* Table() const { return table_; }
  // Scrolls to the first image left out of the result, if any.
  void ShowFirstLeftOut();
  // The size that shows every column and row, no larger than `limit`.
  QSize Fitting(const QSize& limit) const;
  // A row was clicked: the image it names.
  std::function<void(int)> onRowClicked;
  std::function<void()> onClosed;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void RowChosen(int row);
  qv::Form1& f_;
  bool inKey_ = false;  // a key the table is handling, sent on by the filter
  QTableWidget* table_;
  QLabel* total_;
  size_t shownRows_ = 0;
};

}  // namespace qvapp
