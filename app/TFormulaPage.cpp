#include "TFormulaPage.h"

#include "FormulaEntries.h"
#include "LoadBoardRecord.h"
#include "NumberConversion.h"
#include "QX5200_Waveform.h"
#include "TPulsePage.h"
#include "TQGraphUnit.h"
#include "TQGridModel.h"
#include "WaveformGraph.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

const TFormulaPage::Preset TFormulaPage::presets[5] = {
    {"Sine", "5*sin(2*pi*1k*t)", "10m"},  {"Square", "5*square(t, 1m, 0.5)", "10m"},
    {"Triangle", "5*tri(t, 1m)", "10m"},  {"Decay", "5*exp(-t/1m)", "10m"},
    {"Ramp", "5*ramp(t, 1m, 9m)", "10m"},
};

TFormulaPage::TFormulaPage(TQGridModel *table, QWidget *parent) : QWidget(parent), table_(table) {
  const auto named = [](auto *widget, const char *name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
  };
  auto *page = new QVBoxLayout(this);
  page->setContentsMargins(6, 6, 6, 6);
  auto *form = new QFormLayout;
  cb_formula_preset = named(new QComboBox(this), "cb_formula_preset");
  cb_formula_preset->addItem(tr("(choose a shape)"));
  for (const Preset &p : presets)
    cb_formula_preset->addItem(tr(p.name));
  form->addRow(tr("Preset"), cb_formula_preset);
  le_formula_expression =
      named(new QLineEdit(QString::fromLatin1(presets[0].expression), this), "le_formula_expression");
  le_formula_expression->setMaxLength(TFormula::max_expression_length);
  le_formula_expression->setToolTip(
      tr("A formula of t in seconds, e.g. 5*sin(2*pi*1k*t); helpers: square(t, period, "
         "duty), tri(t, period), saw(t, period), pulse(t, start, width), step(t, at), "
         "ramp(t, from, to)"));
  form->addRow(tr("Formula"), le_formula_expression);
  auto *span = new QHBoxLayout;
  le_formula_start = named(new QLineEdit(QStringLiteral("0"), this), "le_formula_start");
  le_formula_end = named(new QLineEdit(QString::fromLatin1(presets[0].end), this), "le_formula_end");
  span->addWidget(le_formula_start);
  span->addWidget(new QLabel(tr("to"), this));
  span->addWidget(le_formula_end);
  span->addWidget(new QLabel(tr("s"), this));
  form->addRow(tr("Span"), span);
  le_formula_accuracy = named(new QLineEdit(this), "le_formula_accuracy");
  le_formula_accuracy->setPlaceholderText(tr("0.1% of the range or of the board's maximum"));
  form->addRow(tr("Accuracy"), le_formula_accuracy);
  sb_formula_points = named(new QSpinBox(this), "sb_formula_points");
  sb_formula_points->setRange(0, formula_max_points);
  sb_formula_points->setSpecialValueText(tr("fewest for the accuracy"));
  form->addRow(tr("Points"), sb_formula_points);
  page->addLayout(form);

  auto *buttons = new QHBoxLayout;
  lb_formula_result = named(new QLabel(this), "lb_formula_result");
  lb_formula_result->setWordWrap(true);
  buttons->addWidget(lb_formula_result, 1);
  bt_formula_preview = named(new QPushButton(tr("Preview"), this), "bt_formula_preview");
  bt_formula_use = named(new QPushButton(tr("Use"), this), "bt_formula_use");
  buttons->addWidget(bt_formula_preview);
  buttons->addWidget(bt_formula_use);
  page->addLayout(buttons);
  gr_formula_preview = named(new TQGraph(this), "gr_formula_preview");
  SetupWaveformGraph(*gr_formula_preview);
  gr_formula_preview->setTitle(tr("Preview"));
  page->addWidget(gr_formula_preview, 1);

  connect(cb_formula_preset, &QComboBox::activated, this, &TFormulaPage::apply_preset);
  connect(bt_formula_preview, &QPushButton::clicked, this, &TFormulaPage::preview);
  connect(bt_formula_use, &QPushButton::clicked, this, &TFormulaPage::use);
  for (QLineEdit *field : {le_formula_expression, le_formula_start, le_formula_end, le_formula_accuracy})
    connect(field, &QLineEdit::returnPressed, this, &TFormulaPage::preview);
}

void TFormulaPage::remember_in(TSettings *settings) {
  settings_ = settings;
  if (settings)
    restore_formula_entries(*this, *settings);
}

void TFormulaPage::apply_preset(int index) {
  if (index < 1 || index > int(std::size(presets)))
    return;
  le_formula_expression->setText(QString::fromLatin1(presets[index - 1].expression));
  le_formula_start->setText(QStringLiteral("0"));
  le_formula_end->setText(QString::fromLatin1(presets[index - 1].end));
  preview();
}

void TFormulaPage::show_error(const TFormulaError &error, QLineEdit *field) {
  lb_formula_result->setStyleSheet(QStringLiteral("color: #b00000"));
  lb_formula_result->setText(error.message);
  field->setFocus();
  if (field == le_formula_expression && error.position >= 0) {
    // Selects the character the error is about; at the end, the cursor goes there.
    field->setCursorPosition(error.position);
    if (error.position < field->text().size())
      field->setSelection(error.position, 1);
  } else {
    field->selectAll();
  }
}

bool TFormulaPage::preview() {
  TFormulaRequest r;
  r.expression = le_formula_expression->text();
  r.points = sb_formula_points->value();
  const TLoadBoardRecord *board = load_board_ ? load_board_() : nullptr;
  r.board_max = board ? board->lb_max_value : 0;
  result_ = TFormulaResult();
  const auto number = [&](QLineEdit *field, long double &value, bool optional) {
    if (optional && field->text().trimmed().isEmpty())
      return true;
    if (formula_number(field->text(), value))
      return true;
    show_error({tr("\"%1\" is not a number (e.g. 10m, 2.5u, 1k)").arg(field->text()), -1}, field);
    return false;
  };
  if (!number(le_formula_start, r.start, false) || !number(le_formula_end, r.end, false) ||
      !number(le_formula_accuracy, r.accuracy, true))
    return false;
  if (!place_formula(r, result_)) {
    const QString &m = result_.error.message;
    QLineEdit *field = m.startsWith(QStringLiteral("The span"))               ? le_formula_end
                       : result_.needed_points > 0 || m.contains(u"accuracy") ? le_formula_accuracy
                                                                              : le_formula_expression;
    show_error(result_.error, field);
    gr_formula_preview->ClearCurve(1);
    gr_formula_preview->ClearCurve(2);
    gr_formula_preview->Redraw();
    return false;
  }
  lb_formula_result->setStyleSheet(QString());
  lb_formula_result->setText(result_.accuracy > 0 ? tr("%1 points to an accuracy of %2, %3 jumps")
                                                        .arg(result_.points.size())
                                                        .arg(FloatToSignificant(4, double(result_.accuracy)))
                                                        .arg(result_.jumps)
                                                  : tr("%1 evenly spaced points").arg(result_.points.size()));
  // The axes as the Graph page will show the waveform; the points themselves as curve 1.
  TQX5200Waveform w;
  w.set_points(result_.points);
  w.build_waveform(0);
  SetWaveformAxes(*gr_formula_preview, w,
                  board && !board->lb_units.isEmpty() ? board->lb_units : QStringLiteral("V"));
  double lowest = 0, highest = 0;
  for (const TWavePoint &p : result_.points) {
    gr_formula_preview->AddPoint(1, double(p.time), double(p.value), 0);
    lowest = std::min(lowest, double(p.value));
    highest = std::max(highest, double(p.value));
  }
  // Unlike the device's output, a formula may go below 0: the preview shows all of it.
  gr_formula_preview->setYMinVal(lowest);
  gr_formula_preview->setYMaxVal(highest > lowest ? highest : lowest + 1);
  gr_formula_preview->SetCurvePointsVisible(1, result_.points.size() <= 200, false);
  gr_formula_preview->Redraw();
  if (settings_)
    store_formula_entries(*this, *settings_);
  return true;
}

bool TFormulaPage::use() {
  if (!preview())
    return false;
  const QChar sep = locale_decimal_separator();
  table_->reset_table();
  table_->set_row_count(std::max(table_->default_row_count(), int(result_.points.size()) + 1));
  table_->set_cell(1, 0, QStringLiteral("Time"));
  table_->set_cell(2, 0, QStringLiteral("Value"));
  int row = 1;
  for (const TWavePoint &p : result_.points) {
    table_->set_cell(1, row, pulse_number_text(double(p.time), sep));
    table_->set_cell(2, row, pulse_number_text(double(p.value), sep));
    ++row;
  }
  table_->set_changed(true);
  emit UpdateWaveform();
  return true;
}
