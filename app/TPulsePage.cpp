#include "TPulsePage.h"

#include "JpegImage.h"
#include "LoadBoardRecord.h"
#include "NumberConversion.h"
#include "QX5200_Waveform.h"
#include "TEngineeringEditUnit.h"
#include "TNumEditUnit.h"
#include "TQGridModel.h"

#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

// Outside any namespace, as Qt requires; pulls the picture into programs that link the library.
static void init_pulse_resource() { Q_INIT_RESOURCE(pulse); }

namespace {

constexpr int picture_panel_height = 201;
constexpr QSize field_size(90, 37);

struct FieldSetup {
  const char *name;
  const char *caption;
  int first_base;
  const char *units;
  double value;
};

// T fields: n..none seconds, shown in us at start, at most 5 s. Y fields: m..none amperes until a
// load board says otherwise, at most 100.
const FieldSetup duration_setup[8] = {
    {"ee_pulse_t1", "T1", -3, "s", 0.00001},  {"ee_pulse_t2", "T2", -3, "s", 0.0001},
    {"ee_pulse_t3", "T3", -3, "s", 0.000001}, {"ee_pulse_t4", "T4", -3, "s", 0.0001},
    {"ee_pulse_t5", "T5", -3, "s", 0.000001}, {"ee_pulse_t6", "T6", -3, "s", 0.0001},
    {"ee_pulse_t7", "T7", -3, "s", 0.00001},  {"ee_pulse_t8", "T8", -3, "s", 0.0001},
};
const FieldSetup level_setup[3] = {
    {"ee_pulse_y1", "Y1", -1, "A", 1},
    {"ee_pulse_y2", "Y2", -1, "A", 10},
    {"ee_pulse_y3", "Y3", -1, "A", 1},
};
constexpr double duration_max = 5;
constexpr double level_max = 100;

TEngineeringEdit *make_field(const FieldSetup &s, double max_value, QWidget *parent) {
  auto *e = new TEngineeringEdit(parent);
  e->setObjectName(QString::fromLatin1(s.name));
  e->setFixedSize(field_size);
  e->setCaption(QString::fromLatin1(s.caption));
  e->setFirstBase(s.first_base);
  e->setLastBase(0);
  e->setUnits(QString::fromLatin1(s.units));
  e->setExponent(1);
  e->setAllowNegative(false);
  e->setAllowLessThanOne(true);
  e->setMaxValue(max_value);
  e->SetEnabled(true);
  e->setShowCaption(true);
  e->setValue(s.value);
  return e;
}

} // namespace

QString pulse_number_text(double value, QChar separator) {
  // Always plain decimals: a column that mixes "5E-7" with "0.00001" is hard to read down.
  const QString text = float_to_general(value, 15, separator);
  const qsizetype e = text.indexOf(u'E');
  if (e < 0)
    return text;
  QString mantissa = text.left(e);
  const int exponent = text.mid(e + 1).toInt();
  QString sign;
  if (mantissa.startsWith(u'-')) {
    sign = QStringLiteral("-");
    mantissa.remove(0, 1);
  }
  qsizetype point = mantissa.indexOf(separator);
  if (point < 0)
    point = mantissa.size();
  const QString digits = QString(mantissa).remove(separator);
  const qsizetype at = point + exponent; // where the separator goes in `digits`
  if (at <= 0)
    return sign + u'0' + separator + QString(-at, u'0') + digits;
  if (at >= digits.size())
    return sign + digits + QString(at - digits.size(), u'0');
  return sign + digits.left(at) + separator + digits.mid(at);
}

TPulsePage::TPulsePage(TQGridModel *table, QWidget *parent) : QWidget(parent), table_(table) {
  init_pulse_resource();
  setObjectName(QStringLiteral("pulse_page"));

  auto *page = new QVBoxLayout(this);
  page->setContentsMargins(4, 4, 4, 4);
  page->setSpacing(4);

  im_pulse = new QLabel(this);
  im_pulse->setObjectName(QStringLiteral("im_pulse"));
  im_pulse->setFixedHeight(picture_panel_height);
  im_pulse->setAlignment(Qt::AlignCenter);
  page->addWidget(im_pulse);

  gb_pulse_time = new QGroupBox(QStringLiteral("Time"), this);
  gb_pulse_time->setObjectName(QStringLiteral("gb_pulse_time"));
  auto *time_grid = new QGridLayout(gb_pulse_time);
  time_grid->setContentsMargins(12, 2, 12, 4);
  time_grid->setVerticalSpacing(2);
  time_grid->setHorizontalSpacing(60);
  std::array<TEngineeringEdit *, 8> t{};
  for (int i = 0; i < 8; ++i) {
    t[i] = make_field(duration_setup[i], duration_max, gb_pulse_time);
    time_grid->addWidget(t[i], i % 4, i / 4);
  }
  time_grid->setColumnStretch(2, 1);
  page->addWidget(gb_pulse_time);
  ee_pulse_t1 = t[0];
  ee_pulse_t2 = t[1];
  ee_pulse_t3 = t[2];
  ee_pulse_t4 = t[3];
  ee_pulse_t5 = t[4];
  ee_pulse_t6 = t[5];
  ee_pulse_t7 = t[6];
  ee_pulse_t8 = t[7];

  gb_pulse_value = new QGroupBox(QStringLiteral("Value"), this);
  gb_pulse_value->setObjectName(QStringLiteral("gb_pulse_value"));
  auto *value_row = new QHBoxLayout(gb_pulse_value);
  value_row->setContentsMargins(12, 2, 12, 4);
  value_row->setSpacing(60);
  std::array<TEngineeringEdit *, 3> y{};
  for (int i = 0; i < 3; ++i) {
    y[i] = make_field(level_setup[i], level_max, gb_pulse_value);
    value_row->addWidget(y[i]);
  }
  value_row->addStretch(1);
  page->addWidget(gb_pulse_value);
  ee_pulse_y1 = y[0];
  ee_pulse_y2 = y[1];
  ee_pulse_y3 = y[2];

  Button1 = new QPushButton(QStringLiteral("Update Data"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  auto *button_row = new QHBoxLayout;
  button_row->addWidget(Button1);
  button_row->addStretch(1);
  page->addLayout(button_row);
  page->addStretch(1);

  for (TEngineeringEdit *e : durations())
    connect(e, &TEngineeringEdit::OnValueChange, this, &TPulsePage::pulse_value_change);
  for (TEngineeringEdit *e : levels())
    connect(e, &TEngineeringEdit::OnValueChange, this, &TPulsePage::pulse_value_change);
  connect(Button1, &QPushButton::clicked, this, &TPulsePage::Button1Click);

  QFile picture(QString::fromLatin1(picture_resource));
  set_picture_data(picture.open(QIODevice::ReadOnly) ? picture.readAll() : QByteArray());
}

std::array<TEngineeringEdit *, 8> TPulsePage::durations() const {
  return {ee_pulse_t1, ee_pulse_t2, ee_pulse_t3, ee_pulse_t4,
          ee_pulse_t5, ee_pulse_t6, ee_pulse_t7, ee_pulse_t8};
}

std::array<TEngineeringEdit *, 3> TPulsePage::levels() const {
  return {ee_pulse_y1, ee_pulse_y2, ee_pulse_y3};
}

bool TPulsePage::set_picture_data(const QByteArray &data) {
  picture_ = decode_jpeg(data);
  show_picture();
  return !picture_.isNull();
}

void TPulsePage::show_picture() {
  if (picture_.isNull())
    im_pulse->clear();
  else
    im_pulse->setPixmap(picture_for_ratio(picture_, im_pulse->devicePixelRatioF()));
}

void TPulsePage::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  // The screen, and with it the pixel ratio, may differ from the one the page was made on.
  if (!picture_.isNull() && im_pulse->pixmap().devicePixelRatio() != im_pulse->devicePixelRatioF())
    show_picture();
}

QPixmap picture_for_ratio(const QImage &image, qreal ratio) {
  if (ratio <= 0 || ratio == 1)
    return QPixmap::fromImage(image);
  QImage scaled =
      image.scaled((QSizeF(image.size()) * ratio).toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  scaled.setDevicePixelRatio(ratio);
  return QPixmap::fromImage(scaled);
}

bool TPulsePage::picture_shown() const { return !im_pulse->pixmap().isNull(); }

TEngineeringEdit *TPulsePage::apply_pending_edits() {
  TEngineeringEdit *refused = nullptr;
  for (TEngineeringEdit *e : durations())
    if (!e->apply_edit() && !refused)
      refused = e;
  for (TEngineeringEdit *e : levels())
    if (!e->apply_edit() && !refused)
      refused = e;
  return refused;
}

QString TPulsePage::refuse_for(TEngineeringEdit *field, const QString &action) {
  field->number_field()->setFocus();
  field->number_field()->selectAll();
  const QString text = field->Text();
  return text.isEmpty() ? tr("%1 refused: %2 is empty; type a value.").arg(action, field->Caption())
                        : tr("%1 refused: %2 holds \"%3\", which is not a value it can take.")
                              .arg(action, field->Caption(), text);
}

void TPulsePage::Button1Click() {
  if (TEngineeringEdit *refused = apply_pending_edits()) {
    emit EditRefused(refused, tr("Update Data"));
    return;
  }
  build_pulse();
}

void TPulsePage::pulse_value_change() {
  apply_load_board_limits();
  // Setting a value from here raises no change notice, so this does not run again.
  for (TEngineeringEdit *e : durations())
    if (e->Value() < min_duration)
      e->setValue(min_duration);
  build_pulse();
}

void TPulsePage::build_pulse() {
  apply_load_board_limits();
  const auto t = durations();
  const double y1 = ee_pulse_y1->Value();
  const double y2 = ee_pulse_y2->Value();
  const double y3 = ee_pulse_y3->Value();
  const double levels_by_row[9] = {0, y1, y1, y2, y2, y3, y3, 0, 0};

  table_->reset_table();
  const QChar sep = locale_decimal_separator();
  double time = 0;
  for (int row = 1; row <= 9; ++row) {
    if (row > 1)
      time += t[static_cast<std::size_t>(row - 2)]->Value();
    table_->set_cell(1, row, pulse_number_text(time, sep));
    table_->set_cell(2, row, pulse_number_text(levels_by_row[row - 1], sep));
  }
  table_->set_changed(true);
  emit UpdateWaveform();
}

bool TPulsePage::set_from_points(std::span<const TWavePoint> points) {
  if (points.size() != 9)
    return false;
  // The fields take no negative numbers: a negative value would move the prefix but keep the old
  // mantissa, showing a number the file never held. Such a field is left as it is.
  const auto set = [](TEngineeringEdit *e, long double v) {
    if (v >= 0)
      e->setValue(static_cast<double>(v));
  };
  const auto t = durations();
  set(t[0], points[1].time);
  for (std::size_t k = 2; k <= 8; ++k)
    set(t[k - 1], points[k].time - points[k - 1].time);
  set(ee_pulse_y1, points[1].value);
  set(ee_pulse_y2, points[3].value);
  set(ee_pulse_y3, points[5].value);
  return true;
}

bool TPulsePage::set_from_waveform(const TQX5200Waveform &waveform) {
  if (waveform.data_count() != 9)
    return false;
  std::vector<TWavePoint> points(9);
  for (qsizetype i = 0; i < 9; ++i)
    waveform.get_point(i, points[static_cast<std::size_t>(i)]);
  return set_from_points(points);
}

void TPulsePage::apply_load_board_limits() {
  const TLoadBoardRecord *board = load_board_ ? load_board_() : nullptr;
  if (!board)
    return;
  const double max_value = static_cast<double>(board->lb_max_value);
  for (TEngineeringEdit *e : levels()) {
    if (e->MaxValue() != max_value)
      e->setMaxValue(max_value);
    if (e->Units() != board->lb_units)
      e->setUnits(board->lb_units);
  }
}
