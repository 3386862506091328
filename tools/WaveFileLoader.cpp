#include "WaveFileLoader.h"

#include "TQGridModel.h"
#include "TablePoints.h"

#include <QFileInfo>

bool load_wave_file(const QString &path, QChar separator, std::vector<TWavePoint> &points, QString &reason) {
  TQGridModel table;
  table.set_auto_number(true);
  table.set_data_separator(separator.toLatin1());
  const TGridFileResult result = table.load_from_file(path);
  switch (result.status) {
  case TGridFileResult::Done: table_points(table, points); return true;
  case TGridFileResult::Missing: reason = QStringLiteral("No such file"); return false;
  case TGridFileResult::Failed: reason = result.error; return false;
  }
  return false;
}

namespace {

struct SeparatorName {
  const char16_t *name;
  char16_t separator;
};
constexpr SeparatorName separator_names[] = {{u"tab", u'\t'}, {u"comma", u','}, {u"space", u' '}};

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
