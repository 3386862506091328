#include "WaveFileLoader.h"

#include "PwlFile.h"
#include "TQGridModel.h"
#include "TablePoints.h"

#include <QCommandLineParser>
#include <QFileInfo>

QList<QCommandLineOption> wave_file_options() {
  return {
      QCommandLineOption(
          QStringLiteral("format"),
          QStringLiteral("File format: table or pwl (SPICE PWL; default: pwl for .pwl, else table)."),
          QStringLiteral("table|pwl")),
      QCommandLineOption(
          QStringLiteral("separator"),
          QStringLiteral(
              "Table field separator: tab, comma, space or semicolon (default: comma for .csv, else tab)."),
          QStringLiteral("tab|comma|space|semicolon")),
  };
}

bool wave_file_format(const QCommandLineParser &parser, const QString &path, TWaveFileFormat &format,
                      QString &reason) {
  const QString suffix = QFileInfo(path).suffix();
  format = {};
  format.pwl = is_pwl_file_name(path);
  if (parser.isSet(QStringLiteral("format"))) {
    const QString f = parser.value(QStringLiteral("format"));
    if (f != u"table" && f != u"pwl") {
      reason = QStringLiteral("--format: '%1' is not table or pwl").arg(f);
      return false;
    }
    format.pwl = f == u"pwl";
  }
  if (parser.isSet(QStringLiteral("separator"))) {
    if (format.pwl) {
      reason = QStringLiteral("--separator: a PWL file has no separator choice (use --format table "
                              "to read it as a table)");
      return false;
    }
    const QString s = parser.value(QStringLiteral("separator"));
    static const std::pair<const char16_t *, char16_t> names[] = {
        {u"tab", u'\t'}, {u"comma", u','}, {u"space", u' '}, {u"semicolon", u';'}};
    bool known = false;
    for (const auto &[name, separator] : names)
      if (s == QStringView(name)) {
        format.separator = separator;
        known = true;
      }
    if (!known) {
      reason = QStringLiteral("--separator: '%1' is not tab, comma, space or semicolon").arg(s);
      return false;
    }
  } else if (suffix.compare(u"csv", Qt::CaseInsensitive) == 0) {
    format.separator = u',';
  }
  return true;
}

bool load_wave_file(const QString &path, const TWaveFileFormat &format, std::vector<TWavePoint> &points,
                    QString &reason) {
  TQGridModel table;
  table.set_auto_number(true);
  table.set_data_separator(format.separator.toLatin1());
  const TGridFileResult result = format.pwl ? load_pwl_file(table, path) : table.load_from_file(path);
  switch (result.status) {
  case TGridFileResult::Done: table_points(table, points); return true;
  case TGridFileResult::Missing: reason = QStringLiteral("No such file"); return false;
  case TGridFileResult::Failed: reason = result.error; return false;
  }
  return false;
}

bool load_wave_file(const QString &path, QChar separator, std::vector<TWavePoint> &points, QString &reason) {
  TWaveFileFormat format;
  format.separator = separator;
  return load_wave_file(path, format, points, reason);
}
