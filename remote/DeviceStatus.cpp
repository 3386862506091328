#include "DeviceStatus.h"

#include "QX5200_Driver.h"

#include <QJsonValue>

#include <charconv>
#include <cmath>

namespace {

double stored_float(long double v) {
  // What the record's 4-byte float gives back, printed in its shortest form.
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, float(v));
  return QByteArray(buf, res.ptr - buf).toDouble();
}

QString latin1(const QString &s, int n) {
  QString out;
  for (QChar c : s.left(n))
    if (c.unicode() != 0)
      out += c.unicode() < 256 ? c : QChar(u'?');
  return out;
}

} // namespace

QByteArray qx5200_maker() {
  QByteArray p(qx5200_protocol::product_string);
  const qsizetype model = p.lastIndexOf(" QX5200");
  return model > 0 ? p.left(model) : p;
}

QJsonObject board_record_json(const TLoadBoardRecord &lb) {
  const long double whole = std::nearbyint(lb.lb_max_value);
  long double low = std::isfinite(whole) ? std::fmod(whole, 256.0L) : 0;
  if (low < 0)
    low += 256;
  return {
      {QStringLiteral("name"), latin1(lb.lb_name, TLoadBoardRecord::name_length)},
      {QStringLiteral("units"), latin1(lb.lb_units, 1)},
      {QStringLiteral("gain"), stored_float(lb.lb_gain)},
      {QStringLiteral("sensor_gain"), stored_float(lb.lb_sensor_gain)},
      {QStringLiteral("max_temp"), stored_float(lb.lb_max_temp)},
      {QStringLiteral("max_power"), stored_float(lb.lb_max_power)},
      {QStringLiteral("max_p2t"), stored_float(lb.lb_max_p2t)},
      {QStringLiteral("offset"), stored_float(lb.lb_offset)},
      {QStringLiteral("sensor_offset"), stored_float(lb.lb_sensor_offset)},
      // An empty sensor unit is written as 'A'.
      {QStringLiteral("sensor_units"),
       lb.lb_sensor_units.isEmpty() ? QStringLiteral("A") : latin1(lb.lb_sensor_units, 1)},
      {QStringLiteral("return_to_zero"), int(lb.lb_return_to_zero)},
      {QStringLiteral("sensor_max"), stored_float(lb.lb_sensor_max)},
      {QStringLiteral("monitor_gain"), stored_float(lb.lb_monitor_gain)},
      {QStringLiteral("max_value"), int(low)},
  };
}

QJsonObject device_status_json(const TQX5200_DRIVER &d, const QString &path, long double usb_voltage) {
  QJsonObject o{
      {QStringLiteral("connected"), d.is_connected()},
      {QStringLiteral("path"), path},
      {QStringLiteral("usb_voltage"), double(usb_voltage)},
      {QStringLiteral("serial"), d.serial_number()},
      {QStringLiteral("firmware"), d.revision()},
      {QStringLiteral("calibration"), QJsonObject{{QStringLiteral("offset"), double(d.offset())},
                                                  {QStringLiteral("ad_offset"), double(d.ad_offset())},
                                                  {QStringLiteral("ad_gain"), double(d.ad_gain())}}},
      {QStringLiteral("board_present"), d.load_board_present()},
      {QStringLiteral("sensor_value"), double(d.sensor_value())},
      {QStringLiteral("sensor_units"), d.load_board().lb_sensor_units},
      {QStringLiteral("temperature"), double(d.temperature())},
      {QStringLiteral("over_temperature"), d.over_temperature()},
      {QStringLiteral("running"), d.running()},
  };
  o.insert(QStringLiteral("board"),
           d.load_board_present() ? QJsonValue(board_record_json(d.load_board())) : QJsonValue());
  return o;
}
