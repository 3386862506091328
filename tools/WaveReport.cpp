#include "WaveReport.h"

#include "NumberConversion.h"
#include "WaveNotices.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

bool json_representable(long double v) {
  return std::isfinite(v) && std::fabs(v) <= static_cast<long double>(std::numeric_limits<double>::max());
}

std::string json_number(long double v) {
  if (!json_representable(v))
    return "null";
  // A reader gets a double whatever we print: its shortest text is all the precision it holds.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v));
  return std::string(buf, res.ptr);
}

// The panel has no text of its own for a P2t error.
QString error_text(const TQX5200Waveform &w) {
  if (!w.data_error())
    return QStringLiteral("None");
  switch (w.error_type()) {
  case TQX5200Waveform::no_data: return QStringLiteral("No Data");
  case TQX5200Waveform::time_not_increasing: return QStringLiteral("Time Data");
  case TQX5200Waveform::overflow: return QStringLiteral("Overflow");
  case TQX5200Waveform::max_power: return QStringLiteral("Max Power");
  default: return QStringLiteral("Max P2t");
  }
}

std::string json_string(const std::string &utf8) {
  return QJsonDocument(QJsonArray{QString::fromStdString(utf8)})
      .toJson(QJsonDocument::Compact)
      .chopped(1)
      .mid(1)
      .toStdString();
}

QString panel_text(const TQX5200Waveform &w) {
  const QString u = w.load_board.lb_units.isEmpty() ? QStringLiteral("V") : w.load_board.lb_units;
  auto fig = [](int min_exp, int round_digit, long double v, const QString &units) {
    return FloatToEngineering(3, min_exp, round_digit, double(v), 1000000, units);
  };
  const QString lines[] = {
      QStringLiteral("Data Points : %1").arg(w.sampled_data_count()),
      QStringLiteral("Max dY : ") + fig(-6, -4, w.max_dy(), u),
      QStringLiteral("Min dY : ") + fig(-6, -4, w.min_dy(), u),
      QStringLiteral("Max dt : ") + fig(-9, -9, w.max_dx(), QStringLiteral("s")),
      QStringLiteral("Min dt : ") + fig(-9, -9, w.min_dx(), QStringLiteral("s")),
      QStringLiteral("Max dy/dt : ") + fig(-9, -9, w.max_dy_dx() / 1000000, u + QStringLiteral("/us")),
      QStringLiteral("Avg Y : ") + fig(-6, -4, w.average(), u),
      QStringLiteral("Pulse Avg Y : ") + fig(-6, -4, w.pulse_average(), u),
      QStringLiteral("Avg Power : ") + fig(-6, -4, w.average_power(), QStringLiteral("W")),
      QStringLiteral("Energy : ") + fig(-6, -4, w.energy(), QStringLiteral("J")),
      QStringLiteral("P2t : ") + fig(-6, -4, w.p2t(), QStringLiteral("WWs")),
      QStringLiteral("Limited : %1").arg(w.limited_samples()),
      QStringLiteral("Error : ") + error_text(w),
  };
  QString text;
  for (const QString &line : lines)
    text += line + u'\n';
  return text;
}

QString error_message(const TQX5200Waveform &w) {
  if (!w.data_error())
    return {};
  switch (w.error_type()) {
  case TQX5200Waveform::no_data: return QStringLiteral("No Data");
  case TQX5200Waveform::time_not_increasing: return QStringLiteral("Time Data Not Increasing");
  case TQX5200Waveform::overflow: return QStringLiteral("Data Overflow");
  case TQX5200Waveform::max_power: return QStringLiteral("Maximum Power Exceeded");
  default: return QStringLiteral("Maximum P2t Exceeded");
  }
}

std::string statistics_json(const TQX5200Waveform &w) {
  const std::string u = w.load_board.lb_units.isEmpty() ? "V" : w.load_board.lb_units.toStdString();
  const std::string per_s = u + "/s";
  std::string out = "{";
  struct Figure {
    const char *name;
    long double value;
    std::string unit; // empty for a count
  };
  const Figure figures[] = {
      {"sampled_data_count", static_cast<long double>(w.sampled_data_count()), {}},
      {"max_value", w.max_value(), u},
      {"max_dy", w.max_dy(), u},
      {"min_dy", w.min_dy(), u},
      {"max_dx", w.max_dx(), "s"},
      {"min_dx", w.min_dx(), "s"},
      {"max_dy_dx", w.max_dy_dx(), per_s},
      {"total_time", w.total_time(), "s"},
      {"pulse_time", w.pulse_time(), "s"},
      {"average", w.average(), u},
      {"pulse_average", w.pulse_average(), u},
      {"average_power", w.average_power(), "W"},
      {"pulse_power", w.pulse_power(), "W"},
      {"energy", w.energy(), "J"},
      {"p2t", w.p2t(), "W^2s"},
      {"limited_samples", static_cast<long double>(w.limited_samples()), {}},
      {"output_limit", w.output_limit(), u},
      {"max_time", w.max_time(), "s"},
  };
  std::string units, unrepresentable;
  for (const Figure &f : figures) {
    out += '"' + std::string(f.name) + "\":" + json_number(f.value) + ',';
    if (!f.unit.empty())
      units += (units.empty() ? "\"" : ",\"") + std::string(f.name) + "\":" + json_string(f.unit);
    // Written as null: the reason is that a double cannot hold it.
    if (!json_representable(f.value))
      unrepresentable += (unrepresentable.empty() ? "\"" : ",\"") + std::string(f.name) + '"';
  }
  return out + "\"units\":{" + units + "},\"out_of_range\":[" + unrepresentable + "]}";
}

QString notices_text(const TQX5200Waveform &w, const TSkippedRows &skipped) {
  QString text;
  for (const QString &line : {limited_samples_text(w), skipped_rows_text(skipped)})
    if (!line.isEmpty())
      text += line + u'\n';
  return text;
}

std::string skipped_rows_json(const TSkippedRows &skipped) {
  const QJsonObject o{{QStringLiteral("count"), qint64(skipped.count)},
                      {QStringLiteral("first_row"), skipped.first_row},
                      {QStringLiteral("first_text"), skipped.first_text}};
  return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}
