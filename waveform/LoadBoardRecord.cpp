#include "LoadBoardRecord.h"

#include "NumberConversion.h"

namespace {

bool read_real(QStringView text, long double &value, QString &reason) {
  if (text_to_real(text, value, u'.'))
    return true;
  reason = QStringLiteral("'%1' is not a number").arg(text);
  return false;
}

} // namespace

bool TLoadBoardRecord::set_field(QStringView name, QStringView text, QString &reason) {
  struct RealField {
    const char *name;
    long double TLoadBoardRecord::*field;
  };
  static constexpr RealField reals[] = {
      {"gain", &TLoadBoardRecord::lb_gain},
      {"sensor_gain", &TLoadBoardRecord::lb_sensor_gain},
      {"max_temp", &TLoadBoardRecord::lb_max_temp},
      {"max_power", &TLoadBoardRecord::lb_max_power},
      {"max_p2t", &TLoadBoardRecord::lb_max_p2t},
      {"offset", &TLoadBoardRecord::lb_offset},
      {"sensor_offset", &TLoadBoardRecord::lb_sensor_offset},
      {"sensor_max", &TLoadBoardRecord::lb_sensor_max},
      {"monitor_gain", &TLoadBoardRecord::lb_monitor_gain},
      {"max_value", &TLoadBoardRecord::lb_max_value},
  };
  for (const RealField &f : reals) {
    if (name == QLatin1StringView(f.name)) {
      long double v = 0;
      if (!read_real(text, v, reason))
        return false;
      this->*f.field = v;
      return true;
    }
  }
  if (name == u"name") {
    if (text.size() > name_length) {
      reason = QStringLiteral("a board name has at most 7 characters");
      return false;
    }
    lb_name = text.toString();
    return true;
  }
  if (name == u"units" || name == u"sensor_units") {
    if (text.size() > 1) {
      reason = QStringLiteral("units are one character");
      return false;
    }
    (name == u"units" ? lb_units : lb_sensor_units) = text.toString();
    return true;
  }
  if (name == u"return_to_zero") {
    // true and false as the JSON forms of the record print it, 1 and 0 as its byte.
    const bool on = text == u"1" || text == u"true";
    if (!on && text != u"0" && text != u"false") {
      reason = QStringLiteral("return_to_zero is true or false (or 1 or 0)");
      return false;
    }
    lb_return_to_zero = on ? 1 : 0;
    return true;
  }
  reason = QStringLiteral("unknown load board field '%1'").arg(name);
  return false;
}
