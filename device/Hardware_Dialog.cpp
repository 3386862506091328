#include "Hardware_Dialog.h"

#include "NumberConversion.h"
#include "QX5200_Driver.h"
#include "TNumEditUnit.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>

namespace {

constexpr int client_width = 313;
// The Return To Zero box has a row of its own, and the buttons one below the two groups.
constexpr int board_height = 360;
constexpr int buttons_top = board_height + 10;
constexpr int client_height = buttons_top + 37;

QLineEdit *display_field(QWidget *parent, const QString &caption, int top) {
  auto *label = new QLabel(caption, parent);
  label->setGeometry(8, top - 16, 110, 14);
  auto *edit = new QLineEdit(parent);
  edit->setGeometry(8, top, 71, 21);
  edit->setEnabled(false);
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
    auto *label = new QLabel(QString::fromLatin1(caption), gb_load_board);
    label->setGeometry(left, top - 16, 80, 14);
    auto *edit = new QLineEdit(gb_load_board);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(left, top, 70, 21);
    board_texts_ << edit;
    return edit;
  };
  auto number_editor = [this](const char *name, const char *caption, int left, int top, int digits,
                              int decimals, int length, bool negative, double max) {
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
    board_numbers_ << edit;
    return edit;
  };
  le_load_board_name = text_editor("le_load_board_name", "Name", 10, 42);
  le_load_board_name->setMaxLength(7);
  le_load_board_units = text_editor("le_load_board_units", "Units", 98, 42);
  le_load_board_units->setMaxLength(1);
  ne_load_board_gain = number_editor("ne_load_board_gain", " Gain", 10, 80, 5, 4, 6, true, 1000000);
  ne_load_board_offset = number_editor("ne_load_board_offset", "Offset", 98, 80, 7, 6, 7, true, 1000000);
  ne_load_board_max_value =
      number_editor("ne_load_board_max_value", "Max Value", 10, 119, 5, 4, 5, false, 1000000);
  ne_load_board_monitor_gain =
      number_editor("ne_load_board_monitor_gain", "Monitor Gain", 98, 119, 5, 4, 6, true, 1000000);
  ne_load_board_sensor_gain =
      number_editor("ne_load_board_sensor_gain", "Sensor Gain", 10, 173, 5, 3, 6, true, 1000000);
  ne_load_board_sensor_offset =
      number_editor("ne_load_board_sensor_offset", "Sensor Offset", 98, 173, 5, 3, 6, true, 1000000);
  le_load_board_sensor_units = text_editor("le_load_board_sensor_units", "Sensor Units", 10, 213);
  le_load_board_sensor_units->setMaxLength(1);
  ne_load_board_sensor_max =
      number_editor("ne_load_board_sensor_max", "Sensor Max", 98, 213, 5, 3, 6, true, 1000000);
  ne_load_board_max_temp = number_editor("ne_load_board_max_temp", "Max Temp", 10, 270, 4, 4, 5, false, 150);
  ne_load_board_max_power =
      number_editor("ne_load_board_max_power", "Max Power", 98, 269, 4, 4, 5, false, 100);
  cb_rtz = new QCheckBox(QStringLiteral("Return To Zero"), gb_load_board);
  cb_rtz->setObjectName(QStringLiteral("cb_rtz"));
  // As wide as its text in the font in use: a fixed width cut it off.
  cb_rtz->setGeometry(10, 340, std::min(cb_rtz->sizeHint().width(), gb_load_board->width() - 14), 17);
  ne_load_board_max_p2t = number_editor("ne_load_board_max_p2t", "Max P2t", 98, 310, 4, 4, 5, false, 100);
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

  for (QWidget *child : gb_load_board->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    child->setEnabled(false);

  if (driver && driver->load_board_present()) {
    gb_load_board->setTitle(QStringLiteral("Load Board"));
    fill_load_board();
  } else {
    gb_load_board->setTitle(QStringLiteral("Load Board (Not Connected)"));
    for (QLineEdit *edit : board_texts_)
      edit->clear();
    for (TNumEdit *edit : board_numbers_)
      edit->clear();
  }
  emit shown();
}

void Tdlg_hardware::fill_load_board() {
  const TLoadBoardRecord &lb = driver->load_board();
  le_load_board_name->setText(lb.lb_name);
  le_load_board_units->setText(lb.lb_units);
  ne_load_board_gain->setValue(double(lb.lb_gain));
  ne_load_board_offset->setValue(double(lb.lb_offset));
  ne_load_board_max_value->setValue(double(lb.lb_max_value));
  ne_load_board_monitor_gain->setValue(double(lb.lb_monitor_gain));
  ne_load_board_sensor_gain->setValue(double(lb.lb_sensor_gain));
  ne_load_board_sensor_offset->setValue(double(lb.lb_sensor_offset));
  le_load_board_sensor_units->setText(lb.lb_sensor_units);
  ne_load_board_sensor_max->setValue(double(lb.lb_sensor_max));
  ne_load_board_max_temp->setValue(double(lb.lb_max_temp));
  ne_load_board_max_power->setValue(double(lb.lb_max_power));
  ne_load_board_max_p2t->setValue(double(lb.lb_max_p2t));
  cb_rtz->setChecked(lb.lb_return_to_zero != 0);
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
    TLoadBoardRecord &lb = driver->load_board();
    lb.lb_name = le_load_board_name->text();
    lb.lb_units = le_load_board_units->text();
    lb.lb_gain = ne_load_board_gain->Value();
    lb.lb_offset = ne_load_board_offset->Value();
    lb.lb_max_value = ne_load_board_max_value->Value();
    lb.lb_monitor_gain = ne_load_board_monitor_gain->Value();
    lb.lb_sensor_gain = ne_load_board_sensor_gain->Value();
    lb.lb_sensor_offset = ne_load_board_sensor_offset->Value();
    lb.lb_sensor_units = le_load_board_sensor_units->text();
    lb.lb_sensor_max = ne_load_board_sensor_max->Value();
    lb.lb_max_temp = ne_load_board_max_temp->Value();
    lb.lb_max_power = ne_load_board_max_power->Value();
    lb.lb_max_p2t = ne_load_board_max_p2t->Value();
    lb.lb_return_to_zero = cb_rtz->isChecked() ? 1 : 0;
  }
  driver->write_load_board_record();
}
