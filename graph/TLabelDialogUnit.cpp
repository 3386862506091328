#include "TLabelDialogUnit.h"

#include "TColorBoxUnit.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TLabelDialog::TLabelDialog(QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("QX5200 Label Editor"));
  setFixedSize(240, 144);
  setModal(true);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(8, 8, 224, 97);

  Label1 = new QLabel(QStringLiteral("Label"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(16, 16, 40, 16);

  ed_label = new QLineEdit(this);
  ed_label->setObjectName(QStringLiteral("ed_label"));
  ed_label->setGeometry(16, 34, 208, 22);

  cb_line_color = new TColorBox(this);
  cb_line_color->setObjectName(QStringLiteral("cb_line_color"));
  cb_line_color->setGeometry(16, 66, 110, 24);

  cb_show_line = new QCheckBox(QStringLiteral("Show Line"), this);
  cb_show_line->setObjectName(QStringLiteral("cb_show_line"));
  cb_show_line->setGeometry(140, 68, 84, 20);

  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setGeometry(79, 112, 75, 25);
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

  CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn->setGeometry(158, 112, 75, 25);
  // Escape rejects a QDialog already; the button does the same.
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

QString TLabelDialog::LabelText() const { return ed_label->text(); }
void TLabelDialog::setLabelText(const QString &text) { ed_label->setText(text); }
bool TLabelDialog::ShowLine() const { return cb_show_line->isChecked(); }
void TLabelDialog::setShowLine(bool on) { cb_show_line->setChecked(on); }
int TLabelDialog::LineColor() const { return cb_line_color->Selected(); }
void TLabelDialog::setLineColor(int color) { cb_line_color->setSelected(color); }
