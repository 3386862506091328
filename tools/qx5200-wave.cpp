// qx5200-wave: validates and resamples a waveform file exactly as the window does before START,
// for scripts and machines without the device.

#include "BoardFields.h"
#include "FormulaOptions.h"
#include "GraphExport.h"
#include "LoadBoardRecord.h"
#include "NumberConversion.h"
#include "QX5200_Waveform.h"
#include "TQGraphUnit.h"
#include "WaveFileLoader.h"
#include "WaveReport.h"
#include "WaveformGraph.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

constexpr int exit_valid = 0;
constexpr int exit_data_error = 1;
constexpr int exit_usage = 2;

void print(const QString &text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
}

int fail(const QString &message) {
  std::fprintf(stderr, "qx5200-wave: %s\n", message.toLocal8Bit().constData());
  return exit_usage;
}

// KEY=VALUE,KEY=VALUE: numbers in options always use '.', since ',' separates the pairs.
bool apply_pairs(const QString &list, const QString &option,
                 const std::function<bool(QStringView, QStringView, QString &)> &set, QString &reason) {
  for (const QString &pair : list.split(u',', Qt::SkipEmptyParts)) {
    const qsizetype eq = pair.indexOf(u'=');
    if (eq <= 0) {
      reason = QStringLiteral("--%1: '%2' is not KEY=VALUE").arg(option, pair);
      return false;
    }
    QString why;
    if (!set(QStringView(pair).left(eq).trimmed(), QStringView(pair).mid(eq + 1).trimmed(), why)) {
      reason = QStringLiteral("--%1: %2").arg(option, why);
      return false;
    }
  }
  return true;
}

bool set_calibration(TCalibration &cal, QStringView key, QStringView text, QString &reason) {
  long double *field = key == u"offset"      ? &cal.offset
                       : key == u"ad_offset" ? &cal.ad_offset
                       : key == u"ad_gain"   ? &cal.ad_gain
                                             : nullptr;
  if (!field) {
    reason = QStringLiteral("unknown calibration value '%1'").arg(key);
    return false;
  }
  if (!text_to_real(text, *field, u'.')) {
    reason = QStringLiteral("'%1' is not a number").arg(text);
    return false;
  }
  return true;
}

// "point", "comma" or null.
std::string decimal_json(QChar decimal) {
  return decimal.isNull() ? "null" : '"' + decimal_name(decimal).toStdString() + '"';
}

void print_json(const TQX5200Waveform &w, const TSkippedRows &skipped, const std::string &formula,
                QChar decimal, QChar other_decimal) {
  std::string out = "{";
  if (!formula.empty())
    out += "\"formula\":" + formula + ',';
  out += "\"board\":" +
         QJsonDocument(board_record_json(w.load_board)).toJson(QJsonDocument::Compact).toStdString();
  out += ",\"repeat\":" + std::to_string(w.repeat_count) + ',';
  out += "\"decimal\":" + decimal_json(decimal) + ",\"other_decimal\":" + decimal_json(other_decimal) + ',';
  out += "\"data_count\":" + std::to_string(w.data_count());
  out += ",\"data_error\":" + std::string(w.data_error() ? "true" : "false");
  out += ",\"error_type\":" + std::to_string(w.error_type());
  out += ",\"error_index\":" + std::to_string(w.error_index());
  out += ",\"error_text\":" + json_string(error_text(w).toStdString());
  out += ",\"buffer_count\":" + std::to_string(w.buffer_count());
  out += ",\"words\":[";
  for (int i = 0; i < w.buffer_count(); ++i) {
    if (i)
      out += ',';
    out += std::to_string(w.upload_buffer()[std::size_t(i)]);
  }
  out += "],\"device_points\":[";
  for (qsizetype i = 0; i < w.sampled_data_count(); ++i) {
    TWavePoint p;
    w.get_device_point(i, p);
    if (i)
      out += ',';
    out += '[' + json_number(p.time) + ',' + json_number(p.value) + ']';
  }
  out += "],\"points\":" + points_json(w.points());
  out += ",\"statistics\":" + statistics_json(w);
  out += ",\"rows_skipped\":" + skipped_rows_json(skipped);
  out += "}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
}

// The window's graph of the built waveform, written as the file's extension says.
bool write_plot(const TQX5200Waveform &w, const QString &file, QSize size, int dpi, bool round_ticks,
                QString &reason) {
  TQGraph graph;
  graph.resize(size);
  SetupWaveformGraph(graph);
  graph.GraphArea().round_ticks = round_ticks;
  const QString units = w.load_board.lb_units.isEmpty() ? QStringLiteral("V") : w.load_board.lb_units;
  SetWaveformAxes(graph, w, units);
  PlotWaveform(graph, w, units);
  return ExportGraph(graph, file, size, dpi, reason);
}

bool parse_size(const QString &text, QSize &size) {
  const QStringList parts = text.toLower().split(u'x');
  bool w_ok = false, h_ok = false;
  if (parts.size() == 2)
    size = QSize(parts[0].toInt(&w_ok), parts[1].toInt(&h_ok));
  return w_ok && h_ok && size.width() >= 50 && size.height() >= 50 && size.width() <= 20000 &&
         size.height() <= 20000;
}

} // namespace

int main(int argc, char *argv[]) {
  // A plot needs the widgets' painting, drawn offscreen so that no display is needed; the
  // checks alone stay a plain core program.
  bool plot = false;
  for (int i = 1; i < argc; ++i)
    plot = plot || QByteArray(argv[i]).startsWith("--plot");
  if (plot)
    qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::unique_ptr<QCoreApplication> app =
      plot ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("qx5200-wave"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QX5200_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Checks and resamples a QX5200 waveform file as the program does before START.\n"
                     "Exit status: 0 valid, 1 data error, 2 usage error or unreadable file."));
  const QCommandLineOption help_option({QStringLiteral("h"), QStringLiteral("help")},
                                       QStringLiteral("Show this help."));
  const QCommandLineOption version_option({QStringLiteral("v"), QStringLiteral("version")},
                                          QStringLiteral("Show the program's name and version."));
  const QCommandLineOption repeat_option(QStringLiteral("repeat"),
                                         QStringLiteral("Repeat count, 0 to 65535 (default 1)."),
                                         QStringLiteral("N"), QStringLiteral("1"));
  const QCommandLineOption sensor_option(
      QStringLiteral("sensor"), QStringLiteral("Sensor value used for the power figures (default 0)."),
      QStringLiteral("X"), QStringLiteral("0"));
  const QCommandLineOption board_option(
      QStringLiteral("board"),
      QStringLiteral("Load board fields without the lb_ prefix, e.g. gain=10,max_value=5,units=A."),
      QStringLiteral("KEY=VALUE,..."));
  const QCommandLineOption calibration_option(
      QStringLiteral("calibration"), QStringLiteral("Calibration values: offset, ad_offset, ad_gain."),
      QStringLiteral("KEY=VALUE,..."));
  const QCommandLineOption json_option(QStringLiteral("json"), QStringLiteral("Print one JSON object."));
  const QCommandLineOption plot_option(
      QStringLiteral("plot"),
      QStringLiteral("Also write the program's graph of the waveform to FILE (.png, .svg or .pdf)."),
      QStringLiteral("FILE"));
  const QCommandLineOption plot_size_option(
      QStringLiteral("plot-size"), QStringLiteral("The graph's size in screen pixels (default 450x450)."),
      QStringLiteral("WIDTHxHEIGHT"), QStringLiteral("450x450"));
  const QCommandLineOption plot_dpi_option(
      QStringLiteral("plot-dpi"), QStringLiteral("Resolution of a PNG plot, 48 to 1200 (default 96)."),
      QStringLiteral("DPI"), QStringLiteral("96"));
  const QCommandLineOption plot_round_option(
      QStringLiteral("plot-round-ticks"),
      QStringLiteral(
          "Ticks of the plot on whole steps of 1, 2 or 5 x 10^n, as Graph Setup's Round tick values."));
  parser.addOptions({help_option, version_option});
  parser.addOptions(wave_file_options());
  parser.addOptions({repeat_option, sensor_option, board_option, calibration_option, json_option, plot_option,
                     plot_size_option, plot_dpi_option, plot_round_option});
  parser.addOptions(formula_options());
  parser.addPositionalArgument(QStringLiteral("FILE"),
                               QStringLiteral("The waveform text file (none with --formula)."));

  if (!parser.parse(QCoreApplication::arguments()))
    return fail(parser.errorText());
  if (parser.isSet(help_option)) {
    print(parser.helpText());
    return exit_valid;
  }
  if (parser.isSet(version_option)) {
    print(QStringLiteral("qx5200-wave %1\n").arg(QCoreApplication::applicationVersion()));
    return exit_valid;
  }
  TFormulaOptions formula;
  QString reason;
  if (!read_formula_options(parser, formula, reason))
    return fail(reason);
  const QStringList files = parser.positionalArguments();
  if (formula.given && !files.isEmpty())
    return fail(QStringLiteral("give a FILE or --formula, not both"));
  if (!formula.given && files.size() != 1)
    return fail(files.isEmpty() ? QStringLiteral("no FILE given")
                                : QStringLiteral("only one FILE may be given"));
  const QString path = files.value(0);

  TWaveFileFormat format;
  if (!formula.given && !wave_file_format(parser, path, format, reason))
    return fail(reason);

  bool ok = false;
  const int repeat = parser.value(repeat_option).toInt(&ok);
  if (!ok || repeat < 0 || repeat > 65535)
    return fail(QStringLiteral("--repeat: '%1' is not a whole number from 0 to 65535")
                    .arg(parser.value(repeat_option)));
  long double sensor = 0;
  if (!text_to_real(parser.value(sensor_option), sensor, u'.'))
    return fail(QStringLiteral("--sensor: '%1' is not a number").arg(parser.value(sensor_option)));

  QSize plot_size;
  if (!parse_size(parser.value(plot_size_option), plot_size))
    return fail(QStringLiteral("--plot-size: '%1' is not WIDTHxHEIGHT, each from 50 to 20000")
                    .arg(parser.value(plot_size_option)));
  const int plot_dpi = parser.value(plot_dpi_option).toInt(&ok);
  if (!ok || plot_dpi < 48 || plot_dpi > 1200)
    return fail(QStringLiteral("--plot-dpi: '%1' is not a whole number from 48 to 1200")
                    .arg(parser.value(plot_dpi_option)));
  const QString plot_file = parser.value(plot_option);
  if (parser.isSet(plot_option) && GraphFileKind(plot_file) == TGraphFileKind::unknown)
    return fail(QStringLiteral("--plot: '%1' must end in .png, .svg or .pdf").arg(plot_file));

  TQX5200Waveform waveform;
  for (const QString &list : parser.values(board_option)) {
    const auto set = [&](QStringView key, QStringView text, QString &why) {
      return waveform.load_board.set_field(key, text, why);
    };
    if (!apply_pairs(list, QStringLiteral("board"), set, reason))
      return fail(reason);
  }
  for (const QString &list : parser.values(calibration_option)) {
    const auto set = [&](QStringView key, QStringView text, QString &why) {
      return set_calibration(waveform.calibration, key, text, why);
    };
    if (!apply_pairs(list, QStringLiteral("calibration"), set, reason))
      return fail(reason);
  }

  std::vector<TWavePoint> points;
  TSkippedRows skipped;
  TFormulaResult placed;
  QChar other_decimal;
  if (formula.given) {
    if (!formula_wave_points(formula, waveform.load_board.lb_max_value, points, placed, reason))
      return fail(reason);
  } else if (!load_wave_file(path, format, points, skipped, reason, &other_decimal)) {
    return fail(QStringLiteral("%1: %2").arg(path, reason));
  }

  waveform.repeat_count = repeat;
  waveform.set_points(std::move(points));
  waveform.build_waveform(sensor);

  if (parser.isSet(plot_option) &&
      !write_plot(waveform, plot_file, plot_size, plot_dpi, parser.isSet(plot_round_option), reason))
    return fail(QStringLiteral("%1: %2").arg(plot_file, reason));
  if (parser.isSet(json_option))
    print_json(waveform, skipped, formula.given ? formula_json(formula, placed) : std::string(),
               formula.given || format.pwl ? QChar() : used_decimal(format), other_decimal);
  else
    print((formula.given ? formula_summary(placed) : QString()) + panel_text(waveform) +
          notices_text(waveform, skipped) +
          (other_decimal.isNull() ? QString() : other_decimal_text(format, other_decimal) + u'\n'));
  return waveform.data_error() ? exit_data_error : exit_valid;
}
