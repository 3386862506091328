#include "WaveFileLoader.h"

#include "PwlFile.h"
#include "TQGridModel.h"
#include "TablePoints.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QStringList>

namespace {

struct SeparatorName {
  const char16_t *name;
  char16_t separator;
};
constexpr SeparatorName separator_names[] = {
    {u"tab", u'\t'}, {u"comma", u','}, {u"space", u' '}, {u"semicolon", u';'}};

} // namespace

bool parse_separator(const QString &name, QChar &separator) {
  for (const SeparatorName &s : separator_names) {
    if (name == QStringView(s.name)) {
      separator = QChar(s.separator);
      return true;
    }
  }
  return false;
}

QString separator_choices() {
  QStringList names;
  for (const SeparatorName &s : separator_names)
    names << QString::fromUtf16(s.name);
  const QString last = names.takeLast();
  return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QChar default_separator(const QString &path) {
  return QFileInfo(path).suffix().compare(u"csv", Qt::CaseInsensitive) == 0 ? u',' : u'\t';
}

QList<QCommandLineOption> wave_file_options() {
  return {
      QCommandLineOption(
          QStringLiteral("format"),
          QStringLiteral("File format: table or pwl (SPICE PWL; default: pwl for .pwl, else table)."),
          QStringLiteral("table|pwl")),
      QCommandLineOption(QStringLiteral("separator"),
                         QStringLiteral("Table field separator: %1 (default: comma for .csv, else tab).")
                             .arg(separator_choices()),
                         QStringLiteral("NAME")),
  };
}

bool wave_file_format(const QString &format_value, const QString &separator_value, const QString &path,
                      TWaveFileFormat &format, QString &reason) {
  format = {};
  format.pwl = is_pwl_file_name(path);
  if (!format_value.isEmpty()) {
    if (format_value != u"table" && format_value != u"pwl") {
      reason = QStringLiteral("--format: '%1' is not table or pwl").arg(format_value);
      return false;
    }
    format.pwl = format_value == u"pwl";
  }
  format.separator = default_separator(path);
  if (!separator_value.isEmpty()) {
    if (format.pwl) {
      reason = QStringLiteral("--separator: a PWL file has no separator choice (use --format table "
                              "to read it as a table)");
      return false;
    }
    if (!parse_separator(separator_value, format.separator)) {
      reason = QStringLiteral("--separator: '%1' is not %2").arg(separator_value, separator_choices());
      return false;
    }
  }
  return true;
}

bool wave_file_format(const QCommandLineParser &parser, const QString &path, TWaveFileFormat &format,
                      QString &reason) {
  return wave_file_format(parser.value(QStringLiteral("format")), parser.value(QStringLiteral("separator")),
                          path, format, reason);
}

bool load_wave_file(const QString &path, const TWaveFileFormat &format, std::vector<TWavePoint> &points,
                    QString &reason) {
  TSkippedRows skipped;
  return load_wave_file(path, format, points, skipped, reason);
}

bool load_wave_file(const QString &path, const TWaveFileFormat &format, std::vector<TWavePoint> &points,
                    TSkippedRows &skipped, QString &reason) {
  TQGridModel table;
  table.set_auto_number(true);
  table.set_data_separator(format.separator.toLatin1());
  const TGridFileResult result = format.pwl ? load_pwl_file(table, path) : table.load_from_file(path);
  switch (result.status) {
  case TGridFileResult::Done:
    table_points(table, points);
    skipped = skipped_rows(table);
    return true;
  case TGridFileResult::Missing: reason = QStringLiteral("No such file"); return false;
  case TGridFileResult::Failed: reason = result.error; return false;
  }
  return false;
}
