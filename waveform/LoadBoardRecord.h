#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

// The load board's EEPROM record as the driver keeps it, with the values it holds before any
// board has been read. Reals are extended precision like every figure they feed.
struct TLoadBoardRecord {
  static constexpr int name_length = 7; // characters of lb_name on the wire

  QString lb_name = QStringLiteral("-----"); // up to name_length characters on the wire
  QString lb_units;                          // one character or empty
  long double lb_gain = 1.0L;                // output at full swing
  long double lb_sensor_gain = 1.0L;         // sensor units per ADC volt
  long double lb_max_temp = 1.0L;            // degrees Celsius
  long double lb_max_power = 1.0L;           // average power limit
  long double lb_max_p2t = 0.0L;             // P2t limit
  long double lb_offset = 0.0L;              // output units
  long double lb_sensor_offset = 0.0L;       // sensor units
  QString lb_sensor_units = QStringLiteral("V");
  quint8 lb_return_to_zero = 0;
  long double lb_sensor_max = 0.0L;
  long double lb_monitor_gain = 0.0L;
  long double lb_max_value = 0.0L;
  quint8 lb_max_value_byte = 0; // the byte form last read or written

  // Sets one field by its name without the "lb_" prefix (e.g. "max_power"). Numbers are read
  // with '.' as the decimal point. Returns false, with a reason, for an unknown name or a value
  // the field cannot hold; the record is then unchanged.
  bool set_field(QStringView name, QStringView text, QString &reason);
};
