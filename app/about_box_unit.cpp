#include "about_box_unit.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

Tabout_box::Tabout_box(QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About"));
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

  auto *icon = new QLabel(this);
  icon->setPixmap(QApplication::windowIcon().pixmap(48, 48));
  icon->setFixedSize(56, 56);
  auto *maker = new QLabel(QStringLiteral("Quor Labs"), this);
  QFont maker_font(QStringLiteral("Arial"));
  maker_font.setPixelSize(19);
  maker_font.setBold(true);
  maker->setFont(maker_font);
  auto *product = new QLabel(QStringLiteral("QX5200 Waveform Generator"), this);
  QFont product_font(QStringLiteral("Arial"));
  product_font.setPixelSize(13);
  product->setFont(product_font);
  auto *version = new QLabel(QStringLiteral("Version :"), this);
  lb_version = new QLabel(QStringLiteral("0.6.0"), this);
  lb_version->setObjectName(QStringLiteral("lb_version"));
  auto *ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(16, 16, 16, 12);
  grid->setHorizontalSpacing(12);
  grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(maker, 0, 1, 1, 2);
  grid->addWidget(product, 1, 1, 1, 2);
  grid->addWidget(version, 2, 1);
  grid->addWidget(lb_version, 2, 2);
  grid->setColumnStretch(2, 1);
  grid->setRowMinimumHeight(3, 12);
  grid->addWidget(ok, 4, 0, 1, 3, Qt::AlignHCenter);
  grid->setSizeConstraint(QLayout::SetFixedSize);
}

void Tabout_box::showEvent(QShowEvent *event) {
  const QString version = QCoreApplication::applicationVersion();
  if (!version.isEmpty())
    lb_version->setText(version);
  if (const QScreen *screen = this->screen()) {
    QRect r = frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
  }
  QDialog::showEvent(event);
}
