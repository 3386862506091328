#pragma once

#include <QDialog>

#include <functional>
#include <vector>

#include "LoadBoardRecord.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TNumEdit;
class TQX5200_DRIVER;

// "Hardware Information": the device's identity and calibration, asked afresh each time the
// dialog is shown, and the load board record the driver last read. The READ/WRITE buttons are
// for servicing and stay hidden when the dialog is shown.
class Tdlg_hardware : public QDialog {
  Q_OBJECT
public:
  explicit Tdlg_hardware(QWidget *parent = nullptr);

  TQX5200_DRIVER *driver = nullptr;
  // Tells the user why WRITE wrote nothing. A warning box unless the owner routes it elsewhere.
  std::function<void(const QString &)> show_message;

  QGroupBox *gb_qx5200 = nullptr;
  QLineEdit *le_serial_number = nullptr;
  QLineEdit *le_firmware = nullptr;
  QLineEdit *le_dac_offset = nullptr;
  QLineEdit *le_fs_dac = nullptr;
  QLineEdit *le_adc_offset = nullptr;
  QLineEdit *le_adc_gain = nullptr;

  QGroupBox *gb_load_board = nullptr;
  QLineEdit *le_load_board_name = nullptr;
  QLineEdit *le_load_board_units = nullptr;
  TNumEdit *ne_load_board_gain = nullptr;
  TNumEdit *ne_load_board_offset = nullptr;
  TNumEdit *ne_load_board_max_value = nullptr;
  TNumEdit *ne_load_board_monitor_gain = nullptr;
  TNumEdit *ne_load_board_sensor_gain = nullptr;
  TNumEdit *ne_load_board_sensor_offset = nullptr;
  QLineEdit *le_load_board_sensor_units = nullptr;
  TNumEdit *ne_load_board_sensor_max = nullptr;
  TNumEdit *ne_load_board_max_temp = nullptr;
  TNumEdit *ne_load_board_max_power = nullptr;
  QCheckBox *cb_rtz = nullptr;
  TNumEdit *ne_load_board_max_p2t = nullptr;
  QPushButton *bt_read_eeprom = nullptr;
  QPushButton *bt_close = nullptr;
  QPushButton *bt_write_eeprom = nullptr;

  void FormShow();
  void bt_read_eepromClick();
  void bt_write_eepromClick();

signals:
  // FormShow has filled every field (the dialog is on screen from here on).
  void shown();

protected:
  void showEvent(QShowEvent *event) override;

private:
  void fill_load_board();

  // A number editor and the record field it shows. WRITE stores the record's own value while the
  // text is still the one filled in (the text is rounded), and refuses a field that could not
  // show the record's value or holds no number of its kind.
  struct BoardNumber {
    TNumEdit *edit = nullptr;
    long double TLoadBoardRecord::*field = nullptr;
    QString caption;
    long double shown_value = 0;
    QString shown_text; // null while the field shows no record value
    bool not_shown = false;
    QLabel *unit = nullptr;                                   // beside the field, when it has one
    std::function<QString(const TLoadBoardRecord &)> unit_of; // the unit the record gives it
  };
  // The value WRITE stores for n, or an explanation of why there is none.
  bool value_to_write(const BoardNumber &n, long double &value, QString &problem) const;

  QList<QLineEdit *> board_texts_;
  std::vector<BoardNumber> board_numbers_;
};
