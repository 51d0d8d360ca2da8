#include "app/options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace qvapp {

namespace {

// A hidden frame keeps its place, so the dialog does not jump while the
// user ticks the boxes that show them.
void KeepPlace(QWidget* w) {
  QSizePolicy p = w->sizePolicy();
  p.setRetainSizeWhenHidden(true);
  w->setSizePolicy(p);
}

// A scroll area that asks for room for the whole of its page; the dialog
// limits it to the screen.
class WholePage : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  QSize sizeHint() const override {
    if (!widget()) return QScrollArea::sizeHint();
    const int f = 2 * frameWidth();
    return widget()->sizeHint() + QSize(f, f);
  }
};

}  // namespace

OptionsDialog::OptionsDialog(qv::Form5& model, GuiDialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_(model), dialogs_(dialogs) {
  setObjectName("Form5");
  setModal(true);

  auto check = [&](const char* name, const QString& caption, int16_t& field, void (qv::Form5::*handler)()) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    connect(box, &QCheckBox::toggled, this, [this, &field, handler](bool on) {
      if (mirroring_) return;
      field = on ? 1 : 0;
      if (handler) (m_.*handler)();
      Refresh();
    });
    mirrors_.push_back([box, &field] { box->setChecked(field != 0); });
    return box;
  };
  auto text = [&](const char* name, std::string& field) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    connect(edit, &QLineEdit::textEdited, this, [&field](const QString& t) { field = S(t); });
    mirrors_.push_back([edit, &field] {
      if (edit->text() != Q(field)) edit->setText(Q(field));
    });
    return edit;
  };
  auto frame = [&](const char* name, const QString& caption, qv::Form5::Frame* shown) {
    auto* g = new QGroupBox(caption, this);
    g->setObjectName(name);
    if (shown) {
      KeepPlace(g);
      mirrors_.push_back([g, shown] { g->setVisible(shown->Visible); });
    }
    return g;
  };
  auto labelled = [&](QGridLayout* grid, int row, const QString& label, QWidget* w, QWidget* extra = nullptr) {
    grid->addWidget(new QLabel(label, this), row, 0);
    grid->addWidget(w, row, 1);
    if (extra) grid->addWidget(extra, row, 2);
  };
  auto browse = [&](const char* name, std::string& field, std::function<std::string(const std::string&)> ask) {
    auto* b = new QPushButton(QStringLiteral("Explorer"), this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, &field, ask] {
      const std::string chosen = ask(field);
      if (!chosen.empty()) field = chosen;
      Refresh();
    });
    return b;
  };
  auto openFile = [this](const char* title) {
    return [this, title](const std::string& start) {
      qv::FileDialogRequest r;
      r.title = title;
      r.filterDescription = "Astro picture (FTS FIT)";
      r.pattern = "*.fts;*.fit;*.tif;*.tiff";
      r.startFolder = start;
      return dialogs_.OpenFile(r);
    };
  };
  auto folder = [this](const std::string& start) { return dialogs_.BrowseFolder(start); };

  // "Images": the processing switches.
  auto* images = frame("Frame2", QStringLiteral("Images"), nullptr);
  auto* il = new QGridLayout(images);
  // The calculation cannot tell a hot pixel from the core of a fine star:
  // the user hears it where the option is chosen.
  const QString calcTip = QStringLiteral(
      "<p>Un pixel plus clair que ses quatre voisins en diagonale de plus de «&nbsp;Écart&nbsp;» (seuil qui croît "
      "avec la clarté de ces voisins) est effacé, avec le carré de «&nbsp;Rayon&nbsp;» autour : 1 le pixel seul, "
      "2 un carré de 3 x 3. Le cœur d'une étoile fine et brillante est pris de même : si les étoiles montrent un "
      "trou, montez «&nbsp;Écart&nbsp;», prenez «&nbsp;Rayon&nbsp;» 1 ou cochez «&nbsp;Remplissage&nbsp;» (les "
      "pixels effacés prennent la moyenne de leurs voisins).</p>");
  auto* check1 =
      check("Check1", QStringLiteral("Enlever les pixels chauds (Calcul)"), m_.Check1, &qv::Form5::Check1_Click);
  check1->setToolTip(calcTip);
  il->addWidget(check1, 0, 0);
  il->addWidget(
      check("Check2", QStringLiteral("Enlever les pixels chauds (Masque)"), m_.Check2, &qv::Form5::Check2_Click), 1, 0);
  auto* check4 = check("Check4", QStringLiteral("Découpage de la bordure"), m_.Check4, &qv::Form5::Check4_Click);
  check4->setToolTip(QStringLiteral(
      "<p>Chaque image perd, avant l'empilement, une bande de «&nbsp;Dimension&nbsp;» pixels sur ses quatre bords "
      "(bords abîmés ou assombris) ; le rectangle gardé est dessiné sur l'image. Avec «&nbsp;Etendre la "
      "mosaïque&nbsp;», le résultat garde la place des images entières : une bande vide de cette largeur "
      "l'entoure.</p>"));
  il->addWidget(check4, 2, 0);
  il->addWidget(check("Check5", QStringLiteral("Découpage circulaire"), m_.Check5, &qv::Form5::Check5_Click), 3, 0);
  il->addWidget(check("Check6", QStringLiteral("Monochrome"), m_.Check6, nullptr), 4, 0);
  il->addWidget(check("Check7", QStringLiteral("Images en couleur seulement"), m_.Check7, nullptr), 5, 0);
  il->addWidget(check("Check9", QStringLiteral("Fusion 2 x 2"), m_.Check9, nullptr), 0, 1);
  auto* check10 = check("Check10", QStringLiteral("Mélange progressif"), m_.Check10, nullptr);
  check10->setToolTip(QStringLiteral(
      "<p>Chaque pixel compte d'autant moins qu'il est loin du centre de son image (avec «&nbsp;Découpage "
      "circulaire&nbsp;», du centre du cercle) : les raccords d'une mosaïque s'effacent.</p>"));
  il->addWidget(check10, 1, 1);
  auto* check11 = check("Check11", QStringLiteral("Enlever le gradient"), m_.Check11, &qv::Form5::Check11_Click);
  check11->setToolTip(QStringLiteral(
      "<p>Le fond du ciel est estimé sur une grille ; chaque image en est divisée et son fond ramené à un niveau "
      "uniforme. Les zones tracées sur une image («&nbsp;Sélection de zone (CTL ALT click)&nbsp;») sont écartées "
      "de l'estimation : entourez-y une nébuleuse ou une galaxie. «&nbsp;Affichage&nbsp;» › «&nbsp;Zone de "
      "gradient&nbsp;» montre les cases retenues.</p>"));
  il->addWidget(check11, 2, 1);
  auto* hs = new QScrollBar(Qt::Horizontal, this);
  hs->setObjectName("HScroll1");
  hs->setRange(qv::Form5::kHScroll1Min, qv::Form5::kHScroll1Max);
  KeepPlace(hs);
  connect(hs, &QScrollBar::valueChanged, this, [this](int v) {
    if (!mirroring_) m_.HScroll1 = static_cast<int16_t>(v);
  });
  // The bar shows no number: its tooltip gives the value it holds.
  auto gradTip = [hs](int v) {
    hs->setToolTip(QStringLiteral("<p>Seuil des pixels clairs écartés de l'estimation du fond, de 0 à 10 : plus "
                                  "grand, plus de pixels servent au fond (5 par défaut ; réglé à %1)</p>")
                       .arg(v));
  };
  connect(hs, &QScrollBar::valueChanged, this, gradTip);
  mirrors_.push_back([this, hs, gradTip] {
    hs->setValue(m_.HScroll1);
    hs->setVisible(m_.HScroll1Visible);
    gradTip(m_.HScroll1);
  });
  il->addWidget(hs, 3, 1);
  il->addWidget(check("Check12", QStringLiteral("Soustraire le fichier Dark"), m_.Check12, nullptr), 4, 1);
  il->addWidget(check("Check13", QStringLiteral("Appliquer le fichier PLU"), m_.Check13, nullptr), 5, 1);

  // "Répertoires": folders and calibration files.
  auto* dirs = frame("Frame1", QStringLiteral("Répertoires"), nullptr);
  auto* dl = new QGridLayout(dirs);
  labelled(dl, 0, QStringLiteral("Répertoire Source au démarrage"), text("Text1", m_.Text1),
           browse("Command3", m_.Text1, folder));
  labelled(dl, 1, QStringLiteral("Répertoire de destination"), text("Text2", m_.Text2),
           browse("Command4", m_.Text2, folder));
  labelled(dl, 2, QStringLiteral("Fichier Masque"), text("Text3", m_.Text3),
           browse("Command5", m_.Text3, openFile("Ouvrir le Fichier Masque")));
  labelled(dl, 3, QStringLiteral("Fichier Plage de Lumière Uniforme (PLU)"), text("Text11", m_.Text11),
           browse("Command6", m_.Text11, openFile("Ouvrir le Fichier PLU")));
  labelled(dl, 4, QStringLiteral("Fichier Dark"), text("Text12", m_.Text12),
           browse("Command7", m_.Text12, openFile("Ouvrir le Fichier Dark")));
  dl->setColumnStretch(1, 1);

  // "Couleurs": name patterns routed to channels.
  auto* colours = frame("Frame9", QStringLiteral("Couleurs"), nullptr);
  auto* cl = new QGridLayout(colours);
  for (int i = 1; i <= 3; ++i) {
    const QByteArray n = QByteArray::number(i);
    cl->addWidget(text(("Text13_" + n).constData(), m_.Text13[static_cast<size_t>(i)]), i, 0);
    cl->addWidget(check(("Check14_" + n).constData(), "R", m_.Check14[static_cast<size_t>(i)], nullptr), i, 1);
    cl->addWidget(check(("Check15_" + n).constData(), "V", m_.Check15[static_cast<size_t>(i)], nullptr), i, 2);
    cl->addWidget(check(("Check16_" + n).constData(), "B", m_.Check16[static_cast<size_t>(i)], nullptr), i, 3);
  }

  auto* mask = frame("Frame8", QStringLiteral("Masque"), &m_.Frame8);
  auto* ml = new QGridLayout(mask);
  labelled(ml, 0, QStringLiteral("Seuil"), text("Text10", m_.Text10));
  labelled(ml, 1, QStringLiteral("Rayon"), text("Text8", m_.Text8));
  ml->addWidget(check("Check3", QStringLiteral("Remplissage"), m_.Check3, nullptr), 2, 0, 1, 2);

  auto* calc = frame("Frame4", QStringLiteral("Calcul"), &m_.Frame4);
  auto* kl = new QGridLayout(calc);
  for (auto [row, caption, name, field] : {std::tuple{0, QStringLiteral("Écart"), "Text5", &m_.Text5},
                                           std::tuple{1, QStringLiteral("Rayon"), "Text7", &m_.Text7}}) {
    QWidget* box = text(name, *field);
    box->setToolTip(calcTip);
    labelled(kl, row, caption, box);
  }
  kl->addWidget(check("Check8", QStringLiteral("Remplissage"), m_.Check8, nullptr), 2, 0, 1, 2);

  auto* border = frame("Frame5", QStringLiteral("Bordure"), &m_.Frame5);
  auto* bl = new QGridLayout(border);
  labelled(bl, 0, QStringLiteral("Dimension (pixels)"), text("Text6", m_.Text6));

  auto* pixel = frame("Frame3", QStringLiteral("Format de Pixel"), nullptr);
  auto* pl = new QGridLayout(pixel);
  auto* group1 = new QButtonGroup(this);
  const QString o1[2] = {QStringLiteral("X / Y = 1"), QStringLiteral("Autre")};
  for (int i = 0; i < 2; ++i) {
    auto* r = new QRadioButton(o1[i], this);
    r->setObjectName(QStringLiteral("Option1_%1").arg(i));
    group1->addButton(r, i);
    pl->addWidget(r, i, 0);
    mirrors_.push_back([this, r, i] { r->setChecked(m_.Option1[static_cast<size_t>(i)]); });
  }
  connect(group1, &QButtonGroup::idClicked, this, [this](int id) {
    m_.Option1_Click(id);
    Refresh();
  });
  auto* t4 = text("Text4", m_.Text4);
  KeepPlace(t4);
  // The ratio stretches what is shown, not what is stacked, and a click on
  // a stretched picture is read as on the picture itself.
  const QString ratioTip = QStringLiteral(
      "<p>Largeur d'un pixel de la caméra divisée par sa hauteur (1 à 2) : les images et le résultat sont "
      "affichés élargis d'autant. L'empilement n'en tient pas compte, ni les fichiers FITS et TIFF enregistrés ; "
      "les JPEG et BMP, faits de l'image affichée, sont élargis. Un clic sur une image élargie n'est pas corrigé "
      "de l'élargissement (il tombe trop à droite) : placez les étoiles avec «&nbsp;X / Y = 1&nbsp;».</p>");
  t4->setToolTip(ratioTip);
  group1->button(1)->setToolTip(ratioTip);
  mirrors_.push_back([this, t4] { t4->setVisible(m_.Text4Visible); });
  pl->addWidget(t4, 1, 1);

  auto* circ = frame("Frame6", QStringLiteral("Découpage circulaire"), &m_.Frame6);
  auto* ccl = new QGridLayout(circ);
  const QString fov[4] = {"X/L", "Y/H", "R/H", "F. Zone Ext."};
  // The four numbers are fractions, which the captions alone do not say.
  const QString fovTips[4] = {
      QStringLiteral("Centre du cercle, en fraction de la largeur de l'image, de 0 à 1 (la moitié : au milieu)"),
      QStringLiteral("Centre du cercle, en fraction de la hauteur de l'image, de 0 à 1 (la moitié : au milieu)"),
      QStringLiteral("Rayon du cercle, en fraction de la hauteur de l'image, de 0 à 2 (la moitié : le cercle touche "
                     "le haut et le bas)"),
      QStringLiteral("Facteur du poids des pixels hors du cercle, de 0 (écartés) à 1 ; ce poids reste au plus celui "
                     "du bord du cercle ; avec « Mélange progressif » seulement")};
  for (int i = 0; i < 4; ++i) {
    QLineEdit* edit = text(QStringLiteral("Text9_%1").arg(i).toLatin1().constData(), m_.Text9[static_cast<size_t>(i)]);
    edit->setToolTip(QStringLiteral("<p>") + fovTips[i].toHtmlEscaped() + QStringLiteral("</p>"));
    labelled(ccl, i, fov[i], edit);
  }

  auto* median = frame("Frame7", QStringLiteral("Filtre Médiane"), nullptr);
  auto* mdl = new QGridLayout(median);
  auto* group2 = new QButtonGroup(this);
  const QString o2[4] = {QStringLiteral("Aucun"), "3x3", "4x4", "5x5"};
  for (int i = 0; i < 4; ++i) {
    auto* r = new QRadioButton(o2[i], this);
    r->setObjectName(QStringLiteral("Option2_%1").arg(i));
    group2->addButton(r, i);
    mdl->addWidget(r, i / 2, i % 2);
    mirrors_.push_back([this, r, i] { r->setChecked(m_.Option2[static_cast<size_t>(i)]); });
  }
  connect(group2, &QButtonGroup::idClicked, this, [this](int id) {
    m_.Option2_Click(id);
    Refresh();
  });
  mdl->addWidget(new QLabel(QStringLiteral("Limite sup."), this), 2, 0);
  mdl->addWidget(text("Text14", m_.Text14), 2, 1);

  // "Rejet": the outlier rejection of the final combination. Its settings
  // are greyed, as the model says, rather than hidden: they keep their
  // values for when a rejection is chosen again.
  auto* rejection = frame("Frame10", QStringLiteral("Rejet"), nullptr);
  auto* rl = new QGridLayout(rejection);
  auto* group3 = new QButtonGroup(this);
  const QString o3[3] = {QStringLiteral("Aucun"), QStringLiteral("Sigma"), QStringLiteral("Winsorisé")};
  // What each choice does, for a user who meets the words here first; as
  // paragraphs, so that Qt wraps them instead of one line across the screen.
  auto tip = [](const QString& words) {
    return QStringLiteral("<p>") + words.toHtmlEscaped() + QStringLiteral("</p>");
  };
  const QString tips3[3] = {
      QStringLiteral("La moyenne de toutes les images, sans rien écarter"),
      QStringLiteral("Pixel par pixel, écarte les valeurs à plus de κ écarts-types de la médiane des images "
                     "(une traînée de satellite, un rayon cosmique), puis recommence sur les valeurs gardées"),
      QStringLiteral("Comme Sigma, mais l'écart-type est mesuré sur les valeurs ramenées à 1,5 écart-type de la "
                     "médiane : une traînée présente sur plusieurs images ne le gonfle pas")};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(o3[i], this);
    r->setToolTip(tip(tips3[i]));
    r->setObjectName(QStringLiteral("Option3_%1").arg(i));
    group3->addButton(r, i);
    rl->addWidget(r, 0, i);
    mirrors_.push_back([this, r, i] { r->setChecked(m_.Option3[static_cast<size_t>(i)]); });
  }
  connect(group3, &QButtonGroup::idClicked, this, [this](int id) {
    m_.Option3_Click(id);
    Refresh();
  });
  auto enabledWith = [&](QWidget* w, const bool& on) { mirrors_.push_back([w, &on] { w->setEnabled(on); }); };
  auto* kappas = new QHBoxLayout;
  const struct {
    QString caption;
    QLineEdit* edit;
    const bool& on;
  } kappaBoxes[2] = {{QStringLiteral("κ bas"), text("Text15", m_.Text15), m_.Text15Enabled},
                     {QStringLiteral("κ haut"), text("Text16", m_.Text16), m_.Text16Enabled}};
  for (const auto& box : kappaBoxes) {
    box.edit->setToolTip(
        tip(QStringLiteral("En écarts-types, de 0,5 à 10 (3 par défaut) : plus petit, le rejet "
                           "écarte davantage de valeurs")));
    auto* label = new QLabel(box.caption, this);
    label->setBuddy(box.edit);
    kappas->addWidget(label);
    kappas->addWidget(box.edit);
    enabledWith(label, box.on);
    enabledWith(box.edit, box.on);
  }
  rl->addLayout(kappas, 1, 0, 1, 3);
  auto* check17 = check("Check17", QStringLiteral("Normalisation du fond"), m_.Check17, &qv::Form5::Check17_Click);
  check17->setToolTip(
      tip(QStringLiteral("Avant le rejet, ramène le fond et l'étalement de chaque image à ceux de la première, pour "
                         "qu'un ciel plus clair ne fasse pas écarter toute une image")));
  enabledWith(check17, m_.Check17Enabled);
  rl->addWidget(check17, 2, 0, 1, 3);
  auto* check18 = check("Check18", QStringLiteral("Sortie normalisée"), m_.Check18, nullptr);
  check18->setToolTip(tip(QStringLiteral("Additionne les valeurs normalisées plutôt que celles des images")));
  enabledWith(check18, m_.Check18Enabled);
  rl->addWidget(check18, 3, 0, 1, 3);

  // "Marques automatiques": the FWHM factor beyond which the marks uncheck
  // a frame. One short number: the box keeps its own width rather than
  // spreading over the frame.
  auto* marks = frame("Frame11", QStringLiteral("Marques automatiques"), nullptr);
  auto* al = new QHBoxLayout(marks);
  auto* text17 = text("Text17", m_.Text17);
  text17->setToolTip(
      QStringLiteral("Les marques automatiques décochent une image dont la FWHM dépasse ce facteur "
                     "fois la médiane (1 à 5) ; 0 ou vide : aucune"));
  auto* fwhmLabel = new QLabel(QStringLiteral("FWHM max. (x médiane)"), this);
  fwhmLabel->setBuddy(text17);
  al->addWidget(fwhmLabel);
  al->addWidget(text17);
  al->addStretch();

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("Command1");
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Annuler"), this);
  cancel->setObjectName("Command2");
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, [this] {
    m_.Command1_Click();
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });

  // Two columns, so that the dialog is wider than high as screens are: the
  // switches, folders and colours at the left, the settings of each
  // cleaning step at the right. The whole scrolls where even so the
  // screen is too small, and OK and "Annuler" stay below it in sight.
  auto* content = new QWidget;
  content->setObjectName("Form5Content");
  auto* columns = new QHBoxLayout(content);
  columns->setContentsMargins(0, 0, 0, 0);
  auto* left = new QVBoxLayout;
  left->addWidget(images);
  left->addWidget(dirs);
  left->addWidget(colours);
  left->addStretch();
  auto* right = new QGridLayout;
  right->addWidget(mask, 0, 0);
  right->addWidget(calc, 0, 1);
  right->addWidget(border, 1, 0);
  right->addWidget(pixel, 1, 1);
  right->addWidget(circ, 2, 0);
  right->addWidget(median, 2, 1);
  right->addWidget(rejection, 3, 0, 1, 2);
  right->addWidget(marks, 4, 0, 1, 2);
  right->setRowStretch(5, 1);
  columns->addLayout(left, 3);
  columns->addLayout(right, 2);
  auto* scroll = new WholePage(this);
  scroll->setObjectName("Form5Scroll");
  scroll->setWidget(content);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* page = new QVBoxLayout(this);
  page->addWidget(scroll, 1);
  page->addLayout(buttons);

  // As large as the page needs, within the free part of the screen less
  // the frame a window manager will add; where the page is cut, its scroll
  // bar takes room from the other side.
  const QRect area = AvailableArea(parent);
  const QSize extra = FrameExtra(this);
  const QSize fits(area.width() - extra.width(), area.height() - extra.height());
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  QSize want = sizeHint();
  if (want.height() > fits.height()) want.rwidth() += bar;
  if (want.width() > fits.width()) want.rheight() += bar;
  resize(want.boundedTo(fits));

  Refresh();
}

void OptionsDialog::Refresh() {
  mirroring_ = true;
  setWindowTitle(Q(m_.Caption));
  for (auto& mirror : mirrors_) mirror();
  mirroring_ = false;
}

void OptionsDialog::reject() {
  m_.Command2_Click();
  QDialog::reject();
}

}  // namespace qvapp
