#include "app/master_dialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace qvapp {

MasterDialogWindow::MasterDialogWindow(qv::MasterDialog& model, GuiDialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_(model), dialogs_(dialogs) {
  setObjectName("MasterDialog");
  setModal(true);
  auto button = [&](const char* name, const QString& caption, auto handler) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, handler] { Forward(handler); });
    return b;
  };

  // "Type": the kind of master.
  auto* kind = new QGroupBox(QStringLiteral("Type"), this);
  kind->setObjectName("Frame1");
  auto* kl = new QHBoxLayout(kind);
  auto* group = new QButtonGroup(this);
  const QString kinds[3] = {QStringLiteral("Dark"), QStringLiteral("PLU"), QStringLiteral("Masque")};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(kinds[i], kind);
    r->setObjectName(QStringLiteral("Option1_%1").arg(i));
    group->addButton(r, i);
    kl->addWidget(r);
    mirrors_.push_back([this, r, i] { r->setChecked(m_.Option1[static_cast<size_t>(i)]); });
  }
  kl->addStretch();
  connect(group, &QButtonGroup::idClicked, this, [this](int id) { Forward([this, id] { m_.Option1_Click(id); }); });

  // "Images": the frames.
  auto* images = new QGroupBox(QStringLiteral("Images"), this);
  images->setObjectName("Frame2");
  auto* il = new QGridLayout(images);
  auto* list = new QListWidget(images);
  list->setObjectName("List1");
  list->setMinimumSize(520, 180);
  mirrors_.push_back([this, list] {
    QStringList items;
    for (const std::string& file : m_.List1) items << Q(file);
    QStringList shown;
    for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
    if (shown != items) {
      list->clear();
      list->addItems(items);
    }
  });
  auto* count = new QLabel(images);
  count->setObjectName("Label1");
  mirrors_.push_back([this, count] { count->setText(Q(m_.Label1)); });
  il->addWidget(list, 0, 0, 4, 1);
  il->addWidget(button("Command1", QStringLiteral("Ajouter des images..."),
                       [this] {
                         const std::vector<std::string> chosen = dialogs_.OpenFiles(m_.FramesDialog());
                         m_.Command1_Click(chosen);
                       }),
                0, 1);
  il->addWidget(
      button("Command2", QStringLiteral("Ajouter un dossier..."),
             [this] {
               m_.Command2_Click(dialogs_.BrowseFolder(m_.BrowseStart(), "Dossier des images du fichier maître"));
             }),
      1, 1);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto removeSelected = [this, list] {
    std::vector<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) rows.push_back(index.row());
    if (!rows.empty()) m_.Command8_Click(rows);
  };
  il->addWidget(button("Command8", QStringLiteral("Retirer"), removeSelected), 2, 1);
  il->addWidget(button("Command3", QStringLiteral("Vider la liste"), [this] { m_.Command3_Click(); }), 3, 1);
  // The Delete key removes the selected frames too.
  auto* remove = new QShortcut(QKeySequence::Delete, list, [this, removeSelected] { Forward(removeSelected); });
  remove->setContext(Qt::WidgetShortcut);
  il->addWidget(count, 4, 0, 1, 2);

  // The dark of a PLU, and the output.
  auto* files = new QGridLayout;
  auto text = [&](const char* name, std::string& field, std::function<void()> changed) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    connect(edit, &QLineEdit::textEdited, this, [&field, changed](const QString& t) {
      field = S(t);
      if (changed) changed();
    });
    mirrors_.push_back([edit, &field] {
      if (edit->text() != Q(field)) edit->setText(Q(field));
    });
    return edit;
  };
  auto* darkLabel = new QLabel(QStringLiteral("Dark ou offset à soustraire (PLU)"), this);
  auto* dark = text("Text1", m_.Text1, nullptr);
  auto* darkBrowse = button("Command4", QStringLiteral("Explorer"), [this] { m_.Command4_Click(dialogs_); });
  const QString darkTip = QStringLiteral(
      "Un dark pris à la pose des PLU, ou un offset. Pas le dark des images : ses pixels chauds creuseraient "
      "la PLU et ressortiraient en points brillants.");
  darkLabel->setToolTip(darkTip);
  dark->setToolTip(darkTip);
  mirrors_.push_back([this, darkLabel, dark, darkBrowse] {
    for (QWidget* w :
         {static_cast<QWidget*>(darkLabel), static_cast<QWidget*>(dark), static_cast<QWidget*>(darkBrowse)})
      w->setEnabled(m_.Text1Enabled);
  });
  files->addWidget(darkLabel, 0, 0);
  files->addWidget(dark, 0, 1);
  files->addWidget(darkBrowse, 0, 2);
  files->addWidget(new QLabel(QStringLiteral("Fichier maître"), this), 1, 0);
  files->addWidget(text("Text2", m_.Text2, [this] { m_.Text2_Change(); }), 1, 1);
  files->addWidget(button("Command5", QStringLiteral("Explorer"), [this] { m_.Command5_Click(dialogs_); }), 1, 2);
  files->setColumnStretch(1, 1);

  auto* create = new QPushButton(QStringLiteral("Créer"), this);
  create->setObjectName("Command6");
  create->setDefault(true);
  connect(create, &QPushButton::clicked, this, [this] { Forward([this] { m_.Command6_Click(dialogs_); }); });
  auto* cancel = new QPushButton(QStringLiteral("Annuler"), this);
  cancel->setObjectName("Command7");
  cancel->setAutoDefault(false);
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(kind);
  layout->addWidget(images);
  layout->addLayout(files);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(create);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  Refresh();
}

template <typename F>
void MasterDialogWindow::Forward(F&& handler) {
  if (mirroring_) return;
  handler();
  Refresh();
  if (m_.Accepted && !m_.Visible) accept();
}

void MasterDialogWindow::Refresh() {
  mirroring_ = true;
  setWindowTitle(Q(m_.Caption));
  for (auto& mirror : mirrors_) mirror();
  mirroring_ = false;
}

void MasterDialogWindow::reject() {
  m_.Command7_Click();
  QDialog::reject();
}

}  // namespace qvapp
