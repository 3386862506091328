#include "WaveFileLoader.h"

#include "NumberConversion.h"
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
      QCommandLineOption(
          QStringLiteral("decimal"),
          QStringLiteral("Decimal separator of a table's numbers: point or comma (default: the locale's)."),
          QStringLiteral("point|comma")),
  };
}

bool wave_file_format(const QString &format_value, const QString &separator_value,
                      const QString &decimal_value, const QString &path, TWaveFileFormat &format,
                      QString &reason) {
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
  if (!decimal_value.isEmpty()) {
    if (decimal_value != u"point" && decimal_value != u"comma") {
      reason = QStringLiteral("--decimal: '%1' is not point or comma").arg(decimal_value);
      return false;
    }
    if (format.pwl) {
      reason = QStringLiteral("--decimal: a PWL file's numbers always use a point");
      return false;
    }
    format.decimal = decimal_value == u"point" ? u'.' : u',';
    // "1,5" would be two fields before it is a number.
    if (format.decimal == format.separator) {
      reason = QStringLiteral("--decimal comma: the fields are separated by commas too (use --separator "
                              "semicolon or tab)");
      return false;
    }
  }
  return true;
}

QString decimal_name(QChar decimal) {
  return decimal == u',' ? QStringLiteral("comma") : QStringLiteral("point");
}

QChar used_decimal(const TWaveFileFormat &format) {
  return format.decimal.isNull() ? locale_decimal_separator() : format.decimal;
}

QString other_decimal_text(const TWaveFileFormat &format, QChar other) {
  return QStringLiteral("No Data with \"%1\" as decimal separator: the file's numbers read with --decimal %2")
      .arg(used_decimal(format), decimal_name(other));
}

bool wave_file_format(const QCommandLineParser &parser, const QString &path, TWaveFileFormat &format,
                      QString &reason) {
  return wave_file_format(parser.value(QStringLiteral("format")), parser.value(QStringLiteral("separator")),
                          parser.value(QStringLiteral("decimal")), path, format, reason);
}

bool load_wave_file(const QString &path, const TWaveFileFormat &format, std::vector<TWavePoint> &points,
                    QString &reason) {
  TSkippedRows skipped;
  return load_wave_file(path, format, points, skipped, reason);
}

bool load_wave_file(const QString &path, const TWaveFileFormat &format, std::vector<TWavePoint> &points,
                    TSkippedRows &skipped, QString &reason, QChar *other_decimal) {
  TQGridModel table;
  table.set_auto_number(true);
  table.set_data_separator(format.separator.toLatin1());
  const TGridFileResult result = format.pwl ? load_pwl_file(table, path) : table.load_from_file(path);
  switch (result.status) {
  case TGridFileResult::Done:
    table_points(table, points, format.decimal);
    skipped = skipped_rows(table, format.decimal);
    if (other_decimal) {
      // Too few points for a waveform ("No Data"): would the other separator give one? A row of
      // whole numbers reads either way, so the count decides, not whether any row read.
      *other_decimal = QChar();
      const QChar other = used_decimal(format) == u',' ? QChar(u'.') : QChar(u',');
      std::vector<TWavePoint> alternative;
      if (!format.pwl && points.size() < 2 && other != format.separator &&
          (table_points(table, alternative, other), alternative.size() >= 2))
        *other_decimal = other;
    }
    return true;
  case TGridFileResult::Missing: reason = QStringLiteral("No such file"); return false;
  case TGridFileResult::Failed: reason = result.error; return false;
  }
  return false;
}
