#include "DeviceStatus.h"

#include "BoardFields.h"
#include "QX5200_Driver.h"

#include <QJsonValue>

#include <charconv>
#include <cmath>
#include <limits>

QByteArray qx5200_maker() {
  QByteArray p(qx5200_protocol::product_string);
  const qsizetype model = p.lastIndexOf(" QX5200");
  return model > 0 ? p.left(model) : p;
}

double device_single(long double v) {
  // Beyond a single's range the float would be inf, which JSON cannot hold.
  if (!std::isfinite(v) || std::fabs(v) > static_cast<long double>(std::numeric_limits<float>::max()))
    return std::numeric_limits<double>::quiet_NaN();
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v));
  double d = 0;
  std::from_chars(buf, res.ptr, d);
  return d;
}

QJsonObject device_status_json(const TQX5200_DRIVER &d, const QString &path, long double usb_voltage) {
  // A NaN is no JSON number: such a figure is null.
  auto number = [](long double v) {
    const double x = device_single(v);
    return std::isnan(x) ? QJsonValue() : QJsonValue(x);
  };
  const QString sensor_units = d.load_board().lb_sensor_units;
  return {
      {QStringLiteral("connected"), d.is_connected()},
      {QStringLiteral("path"), path},
      {QStringLiteral("usb_voltage"), number(usb_voltage)},
      {QStringLiteral("serial"), d.serial_number()},
      {QStringLiteral("firmware"), d.revision()},
      {QStringLiteral("calibration"), QJsonObject{{QStringLiteral("offset"), number(d.offset())},
                                                  {QStringLiteral("ad_offset"), number(d.ad_offset())},
                                                  {QStringLiteral("ad_gain"), number(d.ad_gain())}}},
      {QStringLiteral("board_present"), d.load_board_present()},
      {QStringLiteral("sensor_value"), number(d.sensor_value())},
      {QStringLiteral("sensor_units"), sensor_units},
      {QStringLiteral("temperature"), number(d.temperature())},
      {QStringLiteral("over_temperature"), d.over_temperature()},
      {QStringLiteral("running"), d.running()},
      {QStringLiteral("board"),
       d.load_board_present() ? QJsonValue(board_record_json(d.load_board())) : QJsonValue()},
      {QStringLiteral("units"), QJsonObject{{QStringLiteral("usb_voltage"), QStringLiteral("V")},
                                            {QStringLiteral("sensor_value"), sensor_units},
                                            {QStringLiteral("temperature"), QStringLiteral("°C")}}},
  };
}
