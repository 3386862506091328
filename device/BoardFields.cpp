#include "BoardFields.h"

#include "DeviceNumbers.h"
#include "NumberConversion.h"

#include <charconv>
#include <cmath>

namespace {

using R = TLoadBoardRecord;

constexpr TBoardNumberField fields[] = {
    {"gain", &R::lb_gain, 5, 4, 6, true, 1000000},
    {"offset", &R::lb_offset, 7, 6, 7, true, 1000000},
    {"max_value", &R::lb_max_value, 5, 4, 5, false, 1000000},
    {"monitor_gain", &R::lb_monitor_gain, 5, 4, 6, true, 1000000},
    {"sensor_gain", &R::lb_sensor_gain, 5, 3, 6, true, 1000000},
    {"sensor_offset", &R::lb_sensor_offset, 5, 3, 6, true, 1000000},
    {"sensor_max", &R::lb_sensor_max, 5, 3, 6, true, 1000000},
    {"max_temp", &R::lb_max_temp, 4, 4, 5, false, 150},
    {"max_power", &R::lb_max_power, 4, 4, 5, false, 100},
    {"max_p2t", &R::lb_max_p2t, 4, 4, 5, false, 100},
};

} // namespace

std::span<const TBoardNumberField> board_number_fields() { return fields; }

const TBoardNumberField *board_number_field(QStringView key) {
  for (const TBoardNumberField &f : fields)
    if (key == QLatin1StringView(f.key))
      return &f;
  return nullptr;
}

const TBoardNumberField *board_number_field(long double TLoadBoardRecord::*field) {
  for (const TBoardNumberField &f : fields)
    if (f.field == field)
      return &f;
  return nullptr;
}

long double board_wire_value(const TBoardNumberField &f, long double v) {
  if (f.field == &R::lb_max_value) {
    const long double whole = std::nearbyint(v);
    long double low = std::isfinite(whole) ? std::fmod(whole, 256.0L) : 0;
    return low < 0 ? low + 256 : low;
  }
  std::uint8_t bytes[4];
  ieee_single_encode(v, bytes);
  return ieee_single_decode(bytes);
}

QString board_number_problem(const TBoardNumberField &f, double v) {
  const QString key = QString::fromLatin1(f.key);
  if (!std::isfinite(v))
    return QStringLiteral("%1 is not a finite number").arg(key);
  // The text the value would be typed as: its shortest exact digits, without an exponent.
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  const QString text = res.ec == std::errc() ? QString::fromLatin1(buf, res.ptr - buf) : QString();
  const auto brief = std::to_chars(buf, buf + sizeof buf, v);
  const QString shown = QString::fromLatin1(buf, brief.ptr - buf);
  if (v < 0 && !f.negative)
    return QStringLiteral("%1 cannot be negative (%2)").arg(key, shown);
  if (std::fabs(v) > f.max)
    return QStringLiteral("%1 is at most %2, not %3").arg(key, QString::number(f.max, 'g', 10), shown);
  if (text.isEmpty() || text.size() > f.length ||
      !real_entry_shape_ok(text, u'.', f.digits, f.decimals, true, f.negative))
    return QStringLiteral("%1 takes at most %2 digits, %3 whole ones (%4 with decimals), not %5")
        .arg(key)
        .arg(f.digits)
        .arg(f.decimals)
        .arg(f.decimals - 1)
        .arg(shown);
  if (f.field == &R::lb_max_value && !(v <= 255 && v == std::floor(v)))
    return QStringLiteral("max_value is a whole number from 0 to 255 (the record keeps one byte), not %1")
        .arg(shown);
  if (f.field == &R::lb_gain && v == 0)
    return QStringLiteral("gain cannot be 0: every output value is divided by it");
  if (v != 0 && board_wire_value(f, v) == 0)
    return QStringLiteral("%1 %2 is too small for the record's single-precision field").arg(key, shown);
  return {};
}

namespace {

QString latin1(const QString &s, int n) {
  QString out;
  for (QChar c : s.left(n))
    if (c.unicode() != 0)
      out += c.unicode() < 256 ? c : QChar(u'?');
  return out;
}

} // namespace

QList<std::pair<QString, QString>> board_wire_fields(const TLoadBoardRecord &lb) {
  auto wire = [&lb](const char *key) {
    const TBoardNumberField &f = *board_number_field(QString::fromLatin1(key));
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, float(board_wire_value(f, lb.*f.field)));
    return QString::fromLatin1(buf, res.ptr - buf);
  };
  return {
      {QStringLiteral("name"), latin1(lb.lb_name, TLoadBoardRecord::name_length)},
      {QStringLiteral("units"), latin1(lb.lb_units, 1)},
      {QStringLiteral("gain"), wire("gain")},
      {QStringLiteral("sensor_gain"), wire("sensor_gain")},
      {QStringLiteral("max_temp"), wire("max_temp")},
      {QStringLiteral("max_power"), wire("max_power")},
      {QStringLiteral("max_p2t"), wire("max_p2t")},
      {QStringLiteral("offset"), wire("offset")},
      {QStringLiteral("sensor_offset"), wire("sensor_offset")},
      // An empty sensor unit is written as 'A'.
      {QStringLiteral("sensor_units"),
       lb.lb_sensor_units.isEmpty() ? QStringLiteral("A") : latin1(lb.lb_sensor_units, 1)},
      {QStringLiteral("return_to_zero"), QString::number(lb.lb_return_to_zero)},
      {QStringLiteral("sensor_max"), wire("sensor_max")},
      {QStringLiteral("monitor_gain"), wire("monitor_gain")},
      {QStringLiteral("max_value"), wire("max_value")},
  };
}

QJsonValue board_field_json(const QString &name, const QString &text) {
  if (name == u"return_to_zero")
    return text != u"0";
  if (name == u"name" || name == u"units" || name == u"sensor_units")
    return text;
  return text.toDouble();
}

QJsonObject board_record_json(const TLoadBoardRecord &lb) {
  QJsonObject o;
  for (const auto &[name, text] : board_wire_fields(lb))
    o.insert(name, board_field_json(name, text));
  return o;
}
