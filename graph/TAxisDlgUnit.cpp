#include "TAxisDlgUnit.h"

#include "AxisRangeCheck.h"
#include "TColorBoxUnit.h"
#include "TNumEditUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cmath>

namespace {

template <class W> W *named(W *w, const char *name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

QComboBox *count_box(QWidget *parent, const char *name, int last) {
  auto *box = named(new QComboBox(parent), name);
  for (int i = 1; i <= last; ++i)
    box->addItem(QString::number(i));
  return box;
}

TNumEdit *range_edit(QWidget *parent, const char *name, int digits, int max_decimal_pos) {
  auto *e = named(new TNumEdit(parent), name);
  e->setDigitCount(digits);
  e->setMaxDecimalPos(max_decimal_pos);
  e->setAllowLessThanOne(true);
  e->setAllowNegative(true);
  e->setDataType(tGeneral);
  e->setMaxValue(100000000.0);
  // Wide enough for its longest value in the font in use (sign, digits and point), so a value
  // such as 4.99915 is seen whole rather than scrolled.
  e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QString(digits + 3, u'8')) + 12);
  return e;
}

QLabel *caption(const QString &text, QWidget *parent) { return new QLabel(text, parent); }

// Colour box k in two columns of five, each with the number of the curve it colours before it.
void add_color_box(QWidget *g, QGridLayout *grid, TColorBox *box, int k) {
  QLabel *label = caption(QStringLiteral("Data %1").arg(k), g);
  label->setBuddy(box);
  const int row = 8 + (k - 1) / 2, col = (k - 1) % 2 * 2;
  grid->addWidget(label, row, col);
  grid->addWidget(box, row, col + 1);
}

// Position of a count or digits value in a "1".."n" drop-down, and back; no selection stores 0.
int position_of(int value) { return value - 1; }
int value_of(const QComboBox *box) { return box->currentIndex() + 1; }

} // namespace

TAxisDlg::TAxisDlg(QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Graph Setup"));
  setModal(true);

  // At least the size its contents need in the font in use; a fixed size cut texts.
  auto *root = new QVBoxLayout(this);
  root->setSizeConstraint(QLayout::SetMinimumSize);
  auto *top = new QHBoxLayout;
  edTitle = named(new QLineEdit(this), "edTitle");
  edSubTitle = named(new QLineEdit(this), "edSubTitle");
  top->addWidget(caption(QStringLiteral("Title"), this));
  top->addWidget(edTitle);
  top->addWidget(caption(QStringLiteral("Subtitle"), this));
  top->addWidget(edSubTitle);
  root->addLayout(top);

  auto *groups = new QHBoxLayout;
  root->addLayout(groups);

  // Rows shared by the three groups: title, min/max, range/digits, units.
  auto axis_rows = [this](QGroupBox *g, QGridLayout *grid, QLineEdit *title, TNumEdit *min, TNumEdit *max,
                          QComboBox *range, QComboBox *digits, QLineEdit *units) {
    grid->addWidget(caption(QStringLiteral("Title"), g), 0, 0);
    grid->addWidget(title, 0, 1, 1, 3);
    grid->addWidget(caption(QStringLiteral("Min"), g), 1, 0);
    grid->addWidget(min, 1, 1);
    grid->addWidget(caption(QStringLiteral("Max"), g), 1, 2);
    grid->addWidget(max, 1, 3);
    grid->addWidget(caption(QStringLiteral("Range"), g), 2, 0);
    grid->addWidget(range, 2, 1);
    grid->addWidget(caption(QStringLiteral("Digits"), g), 2, 2);
    grid->addWidget(digits, 2, 3);
    grid->addWidget(caption(QStringLiteral("Units"), g), 3, 0);
    grid->addWidget(units, 3, 1);
    (void)this;
  };

  // X axis.
  gbXAxis = named(new QGroupBox(QStringLiteral("X Axis"), this), "gbXAxis");
  {
    auto *g = gbXAxis;
    auto *grid = new QGridLayout(g);
    leXTitle = named(new QLineEdit(g), "leXTitle");
    neXMin = range_edit(g, "neXMin", 8, 10);
    neXMax = range_edit(g, "neXMax", 8, 10);
    cbXRange = named(new QComboBox(g), "cbXRange");
    cbXDecimals = count_box(g, "cbXDecimals", 8);
    edXUnits = named(new QLineEdit(g), "edXUnits");
    axis_rows(g, grid, leXTitle, neXMin, neXMax, cbXRange, cbXDecimals, edXUnits);
    cbXMajInc = count_box(g, "cbXMajInc", 20);
    cbXMinInc = count_box(g, "cbXMinInc", 20);
    grid->addWidget(caption(QStringLiteral("Major"), g), 4, 0);
    grid->addWidget(cbXMajInc, 4, 1);
    grid->addWidget(caption(QStringLiteral("Minor"), g), 4, 2);
    grid->addWidget(cbXMinInc, 4, 3);
    cbXLog = named(new QCheckBox(QStringLiteral("Log"), g), "cbXLog");
    cbXAutoScale = named(new QCheckBox(QStringLiteral("AutoScale"), g), "cbXAutoScale");
    cbXDisplayUnits = named(new QCheckBox(QStringLiteral("Show Units"), g), "cbXDisplayUnits");
    cbXShowMajGrid = named(new QCheckBox(QStringLiteral("Show Major Grid"), g), "cbXShowMajGrid");
    cbXShowMinGRid = named(new QCheckBox(QStringLiteral("Show Minor Grid"), g), "cbXShowMinGRid");
    grid->addWidget(cbXLog, 5, 0, 1, 2);
    grid->addWidget(cbXAutoScale, 5, 2, 1, 2);
    grid->addWidget(cbXDisplayUnits, 6, 0, 1, 2);
    grid->addWidget(cbXShowMajGrid, 7, 0, 1, 4);
    grid->addWidget(cbXShowMinGRid, 8, 0, 1, 4);
    grid->setRowStretch(9, 1);
    groups->addWidget(g);
  }

  // Y axis 1.
  gbYAxis = named(new QGroupBox(QStringLiteral("Y Axis 1"), this), "gbYAxis");
  {
    auto *g = gbYAxis;
    auto *grid = new QGridLayout(g);
    leYTitle = named(new QLineEdit(g), "leYTitle");
    neYMin = range_edit(g, "neYMin", 4, 3);
    neYMax = range_edit(g, "neYMax", 4, 3);
    cbYRange = named(new QComboBox(g), "cbYRange");
    cbYDecimals = count_box(g, "cbYDecimals", 8);
    edYUnits = named(new QLineEdit(g), "edYUnits");
    axis_rows(g, grid, leYTitle, neYMin, neYMax, cbYRange, cbYDecimals, edYUnits);
    cbYMajInc = count_box(g, "cbYMajInc", 20);
    cbYMinInc = count_box(g, "cbYMinInc", 20);
    grid->addWidget(caption(QStringLiteral("Major"), g), 4, 0);
    grid->addWidget(cbYMajInc, 4, 1);
    grid->addWidget(caption(QStringLiteral("Minor"), g), 4, 2);
    grid->addWidget(cbYMinInc, 4, 3);
    cbYLog = named(new QCheckBox(QStringLiteral("Log"), g), "cbYLog");
    cbYAutoScale = named(new QCheckBox(QStringLiteral("AutoScale"), g), "cbYAutoScale");
    cbYDisplayUnits = named(new QCheckBox(QStringLiteral("Show Units"), g), "cbYDisplayUnits");
    cbYShowMajGrid = named(new QCheckBox(QStringLiteral("Show Major Grid"), g), "cbYShowMajGrid");
    cbYShowMinGrid = named(new QCheckBox(QStringLiteral("Show Minor Grid"), g), "cbYShowMinGrid");
    grid->addWidget(cbYLog, 5, 0, 1, 2);
    grid->addWidget(cbYAutoScale, 5, 2, 1, 2);
    grid->addWidget(cbYDisplayUnits, 6, 0, 1, 2);
    grid->addWidget(cbYShowMajGrid, 6, 2, 1, 2);
    grid->addWidget(cbYShowMinGrid, 7, 2, 1, 2);
    for (int k = 1; k <= kDataCurveCount; ++k) {
      cb_YColor[k] = new TColorBox(g);
      cb_YColor[k]->setObjectName(QStringLiteral("cb_YColor%1").arg(k));
      cb_YColor[k]->setToolTip(QStringLiteral("Data %1 Color").arg(k));
      add_color_box(g, grid, cb_YColor[k], k);
    }
    cb_yShowPoints = named(new QCheckBox(QStringLiteral("Show Points"), g), "cb_yShowPoints");
    cb_YShowLines = named(new QCheckBox(QStringLiteral("Show Lines"), g), "cb_YShowLines");
    cb_yaxis_line_width = count_box(g, "cb_yaxis_line_width", 10);
    grid->addWidget(cb_yShowPoints, 13, 0, 1, 2);
    grid->addWidget(cb_YShowLines, 13, 2, 1, 2);
    grid->addWidget(caption(QStringLiteral("Line Width"), g), 14, 0, 1, 2);
    grid->addWidget(cb_yaxis_line_width, 14, 2, 1, 2);
    groups->addWidget(g);
  }

  // Y axis 2: no style, counts or grid of its own; it follows the y axis there.
  gbY2Axis = named(new QGroupBox(QStringLiteral("Y Axis 2"), this), "gbY2Axis");
  {
    auto *g = gbY2Axis;
    auto *grid = new QGridLayout(g);
    leYTitle2 = named(new QLineEdit(g), "leYTitle2");
    neYMin2 = range_edit(g, "neYMin2", 5, 3);
    neYMax2 = range_edit(g, "neYMax2", 5, 3);
    cbYRange2 = named(new QComboBox(g), "cbYRange2");
    cbYDecimals2 = count_box(g, "cbYDecimals2", 8);
    edYUnits2 = named(new QLineEdit(g), "edYUnits2");
    axis_rows(g, grid, leYTitle2, neYMin2, neYMax2, cbYRange2, cbYDecimals2, edYUnits2);
    cbYDisplayUnits2 = named(new QCheckBox(QStringLiteral("Show Units"), g), "cbYDisplayUnits2");
    cbYAutoscale2 = named(new QCheckBox(QStringLiteral("AutoScale"), g), "cbYAutoscale2");
    cb_showY2Axis = named(new QCheckBox(QStringLiteral("Enable Axis"), g), "cb_showY2Axis");
    grid->addWidget(cbYDisplayUnits2, 4, 0, 1, 2);
    grid->addWidget(cbYAutoscale2, 4, 2, 1, 2);
    grid->addWidget(cb_showY2Axis, 5, 0, 1, 2);
    for (int k = 1; k <= kDataCurveCount; ++k) {
      cb_Y2Color[k] = new TColorBox(g);
      cb_Y2Color[k]->setObjectName(QStringLiteral("cb_Y2Color%1").arg(k));
      cb_Y2Color[k]->setToolTip(QStringLiteral("Data %1 Color").arg(k));
      add_color_box(g, grid, cb_Y2Color[k], k);
    }
    cb_Y2ShowPoints = named(new QCheckBox(QStringLiteral("Show Points"), g), "cb_Y2ShowPoints");
    cb_Y2ShowLines = named(new QCheckBox(QStringLiteral("Show Lines"), g), "cb_Y2ShowLines");
    cb_y2axis_line_width = count_box(g, "cb_y2axis_line_width", 10);
    grid->addWidget(cb_Y2ShowPoints, 13, 0, 1, 2);
    grid->addWidget(cb_Y2ShowLines, 13, 2, 1, 2);
    grid->addWidget(caption(QStringLiteral("Line Width"), g), 14, 0, 1, 2);
    grid->addWidget(cb_y2axis_line_width, 14, 2, 1, 2);
    groups->addWidget(g);
  }

  auto *buttons = new QHBoxLayout;
  cb_round_ticks =
      named(new QCheckBox(QStringLiteral("Round tick values (1, 2, 5)"), this), "cb_round_ticks");
  cb_round_ticks->setToolTip(
      QStringLiteral("Linear axes run over whole steps of 1, 2 or 5 x 10^n, at most the "
                     "Major count of them; the data is not changed"));
  buttons->addWidget(cb_round_ticks);
  lbRangeError = named(new QLabel(this), "lbRangeError");
  lbRangeError->setStyleSheet(QStringLiteral("color: #c00000"));
  lbRangeError->hide();
  buttons->addWidget(lbRangeError);
  buttons->addStretch(1);
  OKBtn = named(new QPushButton(QStringLiteral("OK"), this), "OKBtn");
  OKBtn->setDefault(true);
  CancelBtn = named(new QPushButton(QStringLiteral("Cancel"), this), "CancelBtn");
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  root->addLayout(buttons);

  connect(OKBtn, &QPushButton::clicked, this, &TAxisDlg::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &TAxisDlg::CancelBtnClick);
  connect(cbXAutoScale, &QCheckBox::clicked, this, &TAxisDlg::cbXAutoScaleClick);
  connect(cbYAutoScale, &QCheckBox::clicked, this, &TAxisDlg::cbYAutoScaleClick);
  connect(cbYAutoscale2, &QCheckBox::clicked, this, &TAxisDlg::cbYAutoscale2Click);
  connect(cbXShowMajGrid, &QCheckBox::clicked, this, &TAxisDlg::cbXShowMajGridClick);
  for (QCheckBox *b : {cbYShowMajGrid, cb_yShowPoints, cb_YShowLines, cb_Y2ShowPoints, cb_Y2ShowLines})
    connect(b, &QCheckBox::clicked, this, &TAxisDlg::cbYShowMajGridClick);
  connect(cbXLog, &QCheckBox::clicked, this, &TAxisDlg::cbXLogClick);
  connect(cbYLog, &QCheckBox::clicked, this, &TAxisDlg::cbYLogClick);
  connect(edXUnits, &QLineEdit::textChanged, this, &TAxisDlg::edXUnitsChange);
  connect(edYUnits, &QLineEdit::textChanged, this, &TAxisDlg::edYUnitsChange);
  connect(edYUnits2, &QLineEdit::textChanged, this, &TAxisDlg::edYUnitsChange2);
  resize(QSize(778, 433).expandedTo(minimumSizeHint()));
}

void TAxisDlg::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TAxisDlg::keyPressEvent(QKeyEvent *event) {
  // Escape is the Cancel button's key; the close box alone leaves the flag as it was.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    CancelBtnClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TAxisDlg::FormShow() {
  lbRangeError->hide();
  LoadControls();
}

void TAxisDlg::FillRangeList(QComboBox *box, const TQAxis &axis) {
  static const char *const prefixes[] = {"p", "n", "u", "m", "", "k", "M", "G"};
  const QSignalBlocker block(box);
  box->clear();
  for (const char *p : prefixes)
    box->addItem(QString::fromLatin1(p) + axis.Units);
  box->setCurrentIndex(axis.Range + 4 >= 0 && axis.Range + 4 < box->count() ? axis.Range + 4 : -1);
}

void TAxisDlg::LoadControls() {
  const TQGraphArea &s = Settings;
  edTitle->setText(s.Title);
  edSubTitle->setText(s.Subtitle);
  cb_showY2Axis->setChecked(s.showY2Axis);
  cb_round_ticks->setChecked(s.round_ticks);

  struct Row {
    const TQAxis &axis;
    QLineEdit *title;
    TNumEdit *min, *max;
    QCheckBox *autoscale, *units_shown;
    QComboBox *digits, *range;
    QLineEdit *units;
  };
  const Row rows[] = {
      {s.x, leXTitle, neXMin, neXMax, cbXAutoScale, cbXDisplayUnits, cbXDecimals, cbXRange, edXUnits},
      {s.y, leYTitle, neYMin, neYMax, cbYAutoScale, cbYDisplayUnits, cbYDecimals, cbYRange, edYUnits},
      {s.y2, leYTitle2, neYMin2, neYMax2, cbYAutoscale2, cbYDisplayUnits2, cbYDecimals2, cbYRange2,
       edYUnits2},
  };
  for (const Row &r : rows) {
    const double f = RangeFactor(r.axis.Range);
    r.title->setText(r.axis.Title);
    // The edits check what they are given; clear first so a refused value leaves no stale text.
    r.min->clear();
    r.max->clear();
    r.min->setValue(r.axis.MinVal * f);
    r.max->setValue(r.axis.MaxVal * f);
    r.autoscale->setChecked(r.axis.AutoRange);
    r.digits->setCurrentIndex(position_of(r.axis.DecimalCount));
    r.units->setText(r.axis.Units);
    FillRangeList(r.range, r.axis);
    r.units_shown->setChecked(r.axis.ShowUnits);
  }
  cbXLog->setChecked(s.x.Style == Log);
  cbYLog->setChecked(s.y.Style == Log);
  cbXShowMajGrid->setChecked(s.x.show_major_grid);
  cbXShowMinGRid->setChecked(s.x.show_minor_grid);
  cbYShowMajGrid->setChecked(s.y.show_major_grid);
  cbYShowMinGrid->setChecked(s.y.show_minor_grid);
  cbXMajInc->setCurrentIndex(position_of(s.x.MajInc));
  cbXMinInc->setCurrentIndex(position_of(s.x.MinInc));
  cbYMajInc->setCurrentIndex(position_of(s.y.MajInc));
  cbYMinInc->setCurrentIndex(position_of(s.y.MinInc));

  for (int k = 1; k <= kDataCurveCount; ++k) {
    cb_YColor[k]->setSelected(s.y.curve[k].line_color);
    cb_Y2Color[k]->setSelected(s.y2.curve[k].line_color);
  }
  cb_yShowPoints->setChecked(s.y.curve[1].show_points);
  cb_YShowLines->setChecked(s.y.curve[1].show_lines);
  cb_Y2ShowPoints->setChecked(s.y2.curve[1].show_points);
  cb_Y2ShowLines->setChecked(s.y2.curve[1].show_lines);
  cb_yaxis_line_width->setCurrentIndex(position_of(s.yLineWidth));
  cb_y2axis_line_width->setCurrentIndex(position_of(s.y2LineWidth));

  cbXAutoScaleClick();
  cbYAutoScaleClick();
  cbYAutoscale2Click();
  cbXShowMajGridClick();
  cbYShowMajGridClick();
  const bool x_log = cbXLog->isChecked(), y_log = cbYLog->isChecked();
  cbXMajInc->setEnabled(!x_log);
  cbXMinInc->setEnabled(!x_log);
  cbYMajInc->setEnabled(!y_log);
  cbYMinInc->setEnabled(!y_log);
}

void TAxisDlg::StoreControls() {
  TQGraphArea &s = Settings;
  s.Title = edTitle->text();
  s.Subtitle = edSubTitle->text();
  s.showY2Axis = cb_showY2Axis->isChecked();
  s.round_ticks = cb_round_ticks->isChecked();

  struct Row {
    TQAxis &axis;
    QLineEdit *title;
    TNumEdit *min, *max;
    QCheckBox *autoscale, *units_shown;
    QComboBox *digits, *range;
    QLineEdit *units;
  };
  const Row rows[] = {
      {s.x, leXTitle, neXMin, neXMax, cbXAutoScale, cbXDisplayUnits, cbXDecimals, cbXRange, edXUnits},
      {s.y, leYTitle, neYMin, neYMax, cbYAutoScale, cbYDisplayUnits, cbYDecimals, cbYRange, edYUnits},
      {s.y2, leYTitle2, neYMin2, neYMax2, cbYAutoscale2, cbYDisplayUnits2, cbYDecimals2, cbYRange2,
       edYUnits2},
  };
  for (const Row &r : rows) {
    r.axis.Range = r.range->currentIndex() - 4;
    const double f = RangeFactor(r.axis.Range);
    r.axis.Title = r.title->text();
    r.axis.MinVal = r.min->Value() / f;
    r.axis.MaxVal = r.max->Value() / f;
    r.axis.AutoRange = r.autoscale->isChecked();
    r.axis.DecimalCount = value_of(r.digits);
    r.axis.Units = r.units->text();
    r.axis.ShowUnits = r.units_shown->isChecked();
  }
  s.x.Style = cbXLog->isChecked() ? Log : Linear;
  s.y.Style = cbYLog->isChecked() ? Log : Linear;
  s.x.show_major_grid = cbXShowMajGrid->isChecked();
  s.x.show_minor_grid = cbXShowMinGRid->isChecked();
  s.y.show_major_grid = cbYShowMajGrid->isChecked();
  s.y.show_minor_grid = cbYShowMinGrid->isChecked();
  s.x.MajInc = value_of(cbXMajInc);
  s.x.MinInc = value_of(cbXMinInc);
  s.y.MajInc = value_of(cbYMajInc);
  s.y.MinInc = value_of(cbYMinInc);

  for (int k = 1; k <= kDataCurveCount; ++k) {
    s.y.curve[k].line_color = s.y.curve[k].marker_color = cb_YColor[k]->Selected();
    s.y2.curve[k].line_color = s.y2.curve[k].marker_color = cb_Y2Color[k]->Selected();
    s.y.curve[k].show_points = cb_yShowPoints->isChecked();
    s.y.curve[k].show_lines = cb_YShowLines->isChecked();
    s.y2.curve[k].show_points = cb_Y2ShowPoints->isChecked();
    s.y2.curve[k].show_lines = cb_Y2ShowLines->isChecked();
  }
  s.yLineWidth = value_of(cb_yaxis_line_width);
  s.y2LineWidth = value_of(cb_y2axis_line_width);
}

void TAxisDlg::OKBtnClick() {
  if (!accept_axis_ranges(*this))
    return;
  Cancelled = false;
  StoreControls();
  accept();
}

void TAxisDlg::CancelBtnClick() {
  Cancelled = true;
  reject();
}

void TAxisDlg::cbXAutoScaleClick() {
  neXMin->setEnabled(!cbXAutoScale->isChecked());
  neXMax->setEnabled(!cbXAutoScale->isChecked());
}

void TAxisDlg::cbYAutoScaleClick() {
  neYMin->setEnabled(!cbYAutoScale->isChecked());
  neYMax->setEnabled(!cbYAutoScale->isChecked());
}

void TAxisDlg::cbYAutoscale2Click() {
  neYMin2->setEnabled(!cbYAutoscale2->isChecked());
  neYMax2->setEnabled(!cbYAutoscale2->isChecked());
}

void TAxisDlg::cbXShowMajGridClick() { cbXShowMinGRid->setEnabled(cbXShowMajGrid->isChecked()); }

void TAxisDlg::cbYShowMajGridClick() { cbYShowMinGrid->setEnabled(cbYShowMajGrid->isChecked()); }

void TAxisDlg::cbXLogClick() {
  cbXMajInc->setEnabled(!cbXLog->isChecked());
  cbXMinInc->setEnabled(!cbXLog->isChecked());
}

void TAxisDlg::cbYLogClick() {
  const bool log = cbYLog->isChecked();
  cbYMajInc->setEnabled(!log);
  cbYMinInc->setEnabled(!log);
  if (log) {
    remembered_maj_ = cbYMajInc->currentIndex();
    remembered_min_ = cbYMinInc->currentIndex();
    remembered_ = true;
    return;
  }
  cbYAutoscale2Click();
  // Nothing remembered yet (the box was never checked in this dialog): the counts stay.
  if (remembered_) {
    cbYMajInc->setCurrentIndex(remembered_maj_);
    cbYMinInc->setCurrentIndex(remembered_min_);
  }
}

void TAxisDlg::edXUnitsChange() { FillRangeList(cbXRange, Settings.x); }
void TAxisDlg::edYUnitsChange() { FillRangeList(cbYRange, Settings.y); }
void TAxisDlg::edYUnitsChange2() { FillRangeList(cbYRange2, Settings.y2); }
