#include "Hardware_Dialog.h"

#include "NumberConversion.h"
#include "QX5200_Driver.h"
#include "TNumEditUnit.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>
#include <cmath>

namespace {

// Wider than the fields alone need: each number has its unit beside it, so the second column
// sits further right.
constexpr int client_width = 360;
constexpr int right_column_shift = 22;
// The Return To Zero box has a row of its own, and the buttons one below the two groups.
constexpr int board_height = 360;
constexpr int buttons_top = board_height + 10;
constexpr int client_height = buttons_top + 37;

QLineEdit *display_field(QWidget *parent, const QString &caption, int top) {
  auto *label = new QLabel(caption, parent);
  label->setGeometry(8, top - 16, 110, 14);
  auto *edit = new QLineEdit(parent);
  edit->setGeometry(8, top, 71, 21);
  // Shown, not edited: read-only keeps the text as readable as any other.
  edit->setReadOnly(true);
  return edit;
}

QString fixed_8_7(long double value) { return float_to_fixed(value, 8, 7); }

} // namespace

Tdlg_hardware::Tdlg_hardware(QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Hardware Information"));
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(client_width, client_height);

  gb_qx5200 = new QGroupBox(QStringLiteral("QX5200"), this);
  gb_qx5200->setGeometry(4, 4, 125, 300);
  le_serial_number = display_field(gb_qx5200, QStringLiteral("Serial Number"), 40);
  le_serial_number->setObjectName(QStringLiteral("le_serial_number"));
  le_firmware = display_field(gb_qx5200, QStringLiteral("Firmware"), 80);
  le_firmware->setObjectName(QStringLiteral("le_firmware"));
  le_dac_offset = display_field(gb_qx5200, QStringLiteral("Main DAC Offset"), 120);
  le_dac_offset->setObjectName(QStringLiteral("le_dac_offset"));
  le_fs_dac = display_field(gb_qx5200, QStringLiteral("FS DAC code"), 165);
  le_fs_dac->setObjectName(QStringLiteral("le_fs_dac"));
  le_adc_offset = display_field(gb_qx5200, QStringLiteral("ADC Offset"), 208);
  le_adc_offset->setObjectName(QStringLiteral("le_adc_offset"));
  le_adc_gain = display_field(gb_qx5200, QStringLiteral("ADC Gain"), 253);
  le_adc_gain->setObjectName(QStringLiteral("le_adc_gain"));

  gb_load_board = new QGroupBox(QStringLiteral("Load Board"), this);
  gb_load_board->setObjectName(QStringLiteral("gb_load_board"));
  gb_load_board->setGeometry(133, 4, client_width - 137, board_height);

  auto text_editor = [this](const char *name, const char *caption, int left, int top) {
    left = left < 50 ? left : left + right_column_shift;
    auto *label = new QLabel(QString::fromLatin1(caption), gb_load_board);
    label->setGeometry(left, top - 16, 80, 14);
    auto *edit = new QLineEdit(gb_load_board);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(left, top, 70, 21);
    board_texts_ << edit;
    return edit;
  };
  auto number_editor = [this](const char *name, const char *caption, int left, int top, int digits,
                              int decimals, int length, bool negative, double max,
                              long double TLoadBoardRecord::*field,
                              std::function<QString(const TLoadBoardRecord &)> unit_of = {}) {
    left = left < 50 ? left : left + right_column_shift;
    auto *label = new QLabel(QString::fromLatin1(caption), gb_load_board);
    label->setGeometry(left, top - 16, 80, 14);
    auto *edit = new TNumEdit(gb_load_board);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(left, top, 70, 21);
    edit->setDataType(tReal);
    edit->setAllowLessThanOne(true);
    edit->setDigitCount(digits);
    edit->setMaxDecimalPos(decimals);
    edit->setMaxLength(length);
    edit->setAllowNegative(negative);
    edit->setMaxValue(max);
    BoardNumber n;
    n.edit = edit;
    n.field = field;
    n.caption = QString::fromLatin1(caption).trimmed();
    if (unit_of) {
      n.unit = new QLabel(gb_load_board);
      n.unit->setGeometry(left + 72, top, right_column_shift + 8, 21);
      n.unit_of = std::move(unit_of);
    }
    board_numbers_.push_back(n);
    return edit;
  };
  const auto units = [](const TLoadBoardRecord &lb) { return lb.lb_units; };
  const auto sensor_units = [](const TLoadBoardRecord &lb) { return lb.lb_sensor_units; };
  const auto fixed = [](const QString &unit) { return [unit](const TLoadBoardRecord &) { return unit; }; };
  le_load_board_name = text_editor("le_load_board_name", "Name", 10, 42);
  le_load_board_name->setMaxLength(7);
  le_load_board_units = text_editor("le_load_board_units", "Units", 98, 42);
  le_load_board_units->setMaxLength(1);
  ne_load_board_gain = number_editor("ne_load_board_gain", " Gain", 10, 80, 5, 4, 6, true, 1000000,
                                     &TLoadBoardRecord::lb_gain);
  ne_load_board_offset = number_editor("ne_load_board_offset", "Offset", 98, 80, 7, 6, 7, true, 1000000,
                                       &TLoadBoardRecord::lb_offset);
  ne_load_board_max_value = number_editor("ne_load_board_max_value", "Max Value", 10, 119, 5, 4, 5, false,
                                          1000000, &TLoadBoardRecord::lb_max_value, units);
  ne_load_board_monitor_gain =
      number_editor("ne_load_board_monitor_gain", "Monitor Gain", 98, 119, 5, 4, 6, true, 1000000,
                    &TLoadBoardRecord::lb_monitor_gain, [](const TLoadBoardRecord &lb) {
                      return lb.lb_units.isEmpty() ? QString() : lb.lb_sensor_units + u'/' + lb.lb_units;
                    });
  ne_load_board_sensor_gain = number_editor("ne_load_board_sensor_gain", "Sensor Gain", 10, 173, 5, 3, 6,
                                            true, 1000000, &TLoadBoardRecord::lb_sensor_gain);
  ne_load_board_sensor_offset =
      number_editor("ne_load_board_sensor_offset", "Sensor Offset", 98, 173, 5, 3, 6, true, 1000000,
                    &TLoadBoardRecord::lb_sensor_offset, sensor_units);
  le_load_board_sensor_units = text_editor("le_load_board_sensor_units", "Sensor Units", 10, 213);
  le_load_board_sensor_units->setMaxLength(1);
  ne_load_board_sensor_max = number_editor("ne_load_board_sensor_max", "Sensor Max", 98, 213, 5, 3, 6, true,
                                           1000000, &TLoadBoardRecord::lb_sensor_max, sensor_units);
  ne_load_board_max_temp = number_editor("ne_load_board_max_temp", "Max Temp", 10, 270, 4, 4, 5, false, 150,
                                         &TLoadBoardRecord::lb_max_temp, fixed(QStringLiteral("\u00B0C")));
  ne_load_board_max_power = number_editor("ne_load_board_max_power", "Max Power", 98, 269, 4, 4, 5, false,
                                          100, &TLoadBoardRecord::lb_max_power, fixed(QStringLiteral("W")));
  cb_rtz = new QCheckBox(QStringLiteral("Return To Zero"), gb_load_board);
  cb_rtz->setObjectName(QStringLiteral("cb_rtz"));
  // As wide as its text in the font in use: a fixed width cut it off.
  cb_rtz->setGeometry(10, 340, std::min(cb_rtz->sizeHint().width(), gb_load_board->width() - 14), 17);
  ne_load_board_max_p2t = number_editor("ne_load_board_max_p2t", "Max P2t", 98, 310, 4, 4, 5, false, 100,
                                        &TLoadBoardRecord::lb_max_p2t, fixed(QStringLiteral("WWs")));
  for (int top : {146, 241}) {
    auto *bevel = new QFrame(gb_load_board);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(4, top, gb_load_board->width() - 8, 2);
  }

  bt_read_eeprom = new QPushButton(QStringLiteral("READ"), this);
  bt_read_eeprom->setGeometry(6, buttons_top, 71, 31);
  bt_read_eeprom->setVisible(false);
  bt_write_eeprom = new QPushButton(QStringLiteral("WRITE"), this);
  bt_write_eeprom->setGeometry(94, buttons_top, 71, 31);
  bt_write_eeprom->setVisible(false);
  bt_close = new QPushButton(QStringLiteral("Close"), this);
  bt_close->setObjectName(QStringLiteral("bt_close"));
  bt_close->setGeometry(client_width - 81, buttons_top, 75, 31);
  bt_close->setDefault(true);
  connect(bt_close, &QPushButton::clicked, this, &QDialog::accept);
  connect(bt_read_eeprom, &QPushButton::clicked, this, &Tdlg_hardware::bt_read_eepromClick);
  connect(bt_write_eeprom, &QPushButton::clicked, this, &Tdlg_hardware::bt_write_eepromClick);
  show_message = [this](const QString &text) { QMessageBox::warning(this, windowTitle(), text); };
}

void Tdlg_hardware::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  // Filled from the dialog's own modal loop, not from inside show(): the replies are awaited
  // with events running, and a dialog closed meanwhile must end a loop that already exists.
  if (!event->spontaneous())
    QMetaObject::invokeMethod(this, &Tdlg_hardware::FormShow, Qt::QueuedConnection);
}

void Tdlg_hardware::FormShow() {
  if (driver) {
    // A query without an answer leaves its field empty rather than showing an old value.
    quint16 word = 0;
    QString text;
    long double value = 0;
    le_serial_number->setText(driver->read_serial_number(word) ? QString::number(word) : QString());
    le_firmware->setText(driver->read_revision(text) ? text : QString());
    le_dac_offset->setText(driver->read_dac_offset(value) ? fixed_8_7(value) : QString());
    le_fs_dac->setText(driver->read_fs_dac_code(word) ? QString::number(word) : QString());
    le_adc_offset->setText(driver->read_adc_offset(value) ? fixed_8_7(value) : QString());
    le_adc_gain->setText(driver->read_adc_gain(value) ? fixed_8_7(value) : QString());
  }
  bt_read_eeprom->setVisible(false);
  bt_write_eeprom->setVisible(false);
  setFixedSize(client_width, client_height);

  // The group only displays: its fields are read-only rather than greyed out, and the box
  // takes no clicks.
  for (QLineEdit *edit : gb_load_board->findChildren<QLineEdit *>(Qt::FindDirectChildrenOnly))
    edit->setReadOnly(true);
  cb_rtz->setAttribute(Qt::WA_TransparentForMouseEvents);
  cb_rtz->setFocusPolicy(Qt::NoFocus);

  if (driver && driver->load_board_present()) {
    gb_load_board->setTitle(QStringLiteral("Load Board"));
    fill_load_board();
  } else {
    gb_load_board->setTitle(QStringLiteral("Load Board (Not Connected)"));
    for (QLineEdit *edit : board_texts_)
      edit->clear();
    for (BoardNumber &n : board_numbers_) {
      n.edit->clear();
      n.edit->setPlaceholderText({});
      n.edit->setToolTip({});
      n.shown_text = QString();
      n.not_shown = false;
      if (n.unit)
        n.unit->clear();
    }
  }
  emit shown();
}

void Tdlg_hardware::fill_load_board() {
  const TLoadBoardRecord &lb = driver->load_board();
  le_load_board_name->setText(lb.lb_name);
  le_load_board_units->setText(lb.lb_units);
  le_load_board_sensor_units->setText(lb.lb_sensor_units);
  for (BoardNumber &n : board_numbers_) {
    n.shown_value = lb.*n.field;
    n.not_shown = !n.edit->setValue(double(n.shown_value));
    if (n.unit)
      n.unit->setText(n.unit_of(lb));
    // A whole number reads as one ("100", not "1E2").
    if (const long double v = n.shown_value; !n.not_shown && std::fabs(v) < 1e6 && v == std::nearbyint(v)) {
      const QString whole = QString::number(qint64(v));
      if (whole.size() <= n.edit->maxLength())
        n.edit->setText(whole);
    }
    if (n.not_shown) {
      // An erased EEPROM (NAN) or a value beyond the field: an empty field that says why, never
      // the previous board's text.
      n.edit->clear();
      n.edit->setPlaceholderText(QStringLiteral("not shown"));
      n.edit->setToolTip(QStringLiteral("The load board holds %1, which this field cannot show.")
                             .arg(float_to_general(n.shown_value, 8, locale_decimal_separator())));
      n.shown_text = QString();
    } else {
      n.edit->setPlaceholderText({});
      n.edit->setToolTip({});
      n.shown_text = n.edit->text();
    }
  }
  cb_rtz->setChecked(lb.lb_return_to_zero != 0);
}

bool Tdlg_hardware::value_to_write(const BoardNumber &n, long double &value, QString &problem) const {
  const QString text = n.edit->text();
  if (!n.shown_text.isNull() && text == n.shown_text) {
    value = n.shown_value;
    return true;
  }
  if (text.isEmpty() && n.not_shown) {
    problem = QStringLiteral("%1 cannot show the value the load board holds (%2).")
                  .arg(n.caption, float_to_general(n.shown_value, 8, locale_decimal_separator()));
    return false;
  }
  if (!text_to_real(text, value) || std::fabs(value) > n.edit->MaxValue() ||
      (value < 0 && !n.edit->AllowNegative())) {
    problem = QStringLiteral("%1 holds no number it takes: \"%2\".").arg(n.caption, text);
    return false;
  }
  return true;
}

void Tdlg_hardware::bt_read_eepromClick() {
  if (!driver)
    return;
  driver->read_status();
  if (!driver->load_board_present())
    return;
  driver->read_load_board_record();
  fill_load_board();
}

void Tdlg_hardware::bt_write_eepromClick() {
  if (!driver)
    return;
  driver->read_status();
  if (driver->load_board_present()) {
    // Every number is checked before the record changes: the EEPROM gets all of them or none.
    std::vector<long double> values(board_numbers_.size());
    QStringList problems;
    for (std::size_t i = 0; i < board_numbers_.size(); ++i) {
      QString problem;
      if (!value_to_write(board_numbers_[i], values[i], problem))
        problems << problem;
    }
    if (!problems.isEmpty()) {
      show_message(QStringLiteral("Nothing was written to the load board.\n") + problems.join(u'\n'));
      return;
    }
    TLoadBoardRecord &lb = driver->load_board();
    lb.lb_name = le_load_board_name->text();
    lb.lb_units = le_load_board_units->text();
    for (std::size_t i = 0; i < board_numbers_.size(); ++i)
      lb.*board_numbers_[i].field = values[i];
    lb.lb_sensor_units = le_load_board_sensor_units->text();
    lb.lb_return_to_zero = cb_rtz->isChecked() ? 1 : 0;
  }
  driver->write_load_board_record();
}
