#include "TablePoints.h"

#include "NumberConversion.h"
#include "TQGridModel.h"

namespace {

bool row_point(const TQGridModel &table, int row, TWavePoint &point, QChar decimal) {
  return text_to_real(table.cell_view(TQGridModel::time_col, row), point.time, decimal) &&
         text_to_real(table.cell_view(TQGridModel::value_col, row), point.value, decimal);
}

} // namespace

void table_points(const TQGridModel &table, std::vector<TWavePoint> &points) {
  const QChar decimal = locale_decimal_separator();
  TWavePoint point;
  for (int row = TQGridModel::fixed_rows; row < table.row_count(); ++row)
    if (row_point(table, row, point, decimal))
      points.push_back(point);
}

bool table_row_point(const TQGridModel &table, int row, TWavePoint &point) {
  return row_point(table, row, point, locale_decimal_separator());
}

namespace {

bool has_point(const TQGridModel &table, QChar decimal) {
  TWavePoint point;
  for (int row = TQGridModel::fixed_rows; row < table.row_count(); ++row)
    if (row_point(table, row, point, decimal))
      return true;
  return false;
}

} // namespace

bool table_has_point(const TQGridModel &table) { return has_point(table, locale_decimal_separator()); }

QChar foreign_decimal_separator(const TQGridModel &table) {
  const QChar decimal = locale_decimal_separator();
  const QChar other = decimal == u',' ? QChar(u'.') : QChar(u',');
  if (has_point(table, decimal) || !has_point(table, other))
    return {};
  return other;
}
