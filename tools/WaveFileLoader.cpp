#include "WaveFileLoader.h"

#include "TQGridModel.h"
#include "TablePoints.h"

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
