#include "TablePoints.h"

#include "NumberConversion.h"
#include "TQGridModel.h"

#include <cmath>
#include <limits>

bool cell_real(QStringView text, long double &value, QChar decimal) {
  long double v = 0;
  if (!text_to_real(text, v, decimal.isNull() ? locale_decimal_separator() : decimal) ||
      std::fabs(v) > static_cast<long double>(std::numeric_limits<double>::max()))
    return false;
  value = v;
  return true;
}

namespace {

bool row_point(const TQGridModel &table, int row, TWavePoint &point, QChar decimal) {
  return cell_real(table.cell_view(TQGridModel::time_col, row), point.time, decimal) &&
         cell_real(table.cell_view(TQGridModel::value_col, row), point.value, decimal);
}

QChar or_locale(QChar decimal) { return decimal.isNull() ? locale_decimal_separator() : decimal; }

} // namespace

void table_points(const TQGridModel &table, std::vector<TWavePoint> &points, QChar wanted) {
  const QChar decimal = or_locale(wanted);
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

QChar foreign_decimal_separator(const TQGridModel &table, QChar wanted) {
  const QChar decimal = or_locale(wanted);
  const QChar other = decimal == u',' ? QChar(u'.') : QChar(u',');
  if (has_point(table, decimal) || !has_point(table, other))
    return {};
  return other;
}

namespace {

bool blank(QStringView text) { return text.trimmed().isEmpty(); }

// The cell of a skipped row that is not a number, time first; -1 when the row is not skipped.
int bad_cell(const TQGridModel &table, int row, QChar decimal) {
  const QStringView time = table.cell_view(TQGridModel::time_col, row);
  const QStringView value = table.cell_view(TQGridModel::value_col, row);
  if (blank(time) && blank(value))
    return -1;
  long double x = 0;
  if (!cell_real(time, x, decimal))
    return TQGridModel::time_col;
  if (!cell_real(value, x, decimal))
    return TQGridModel::value_col;
  return -1;
}

} // namespace

TSkippedRows skipped_rows(const TQGridModel &table, QChar wanted) {
  const QChar decimal = or_locale(wanted);
  TSkippedRows skipped;
  for (int row = TQGridModel::fixed_rows; row < table.row_count(); ++row) {
    const int col = bad_cell(table, row, decimal);
    if (col < 0)
      continue;
    if (skipped.count++ == 0) {
      skipped.first_row = row;
      skipped.first_text = table.cell_view(col, row).toString();
    }
  }
  return skipped;
}

bool skipped_cell(const TQGridModel &table, int col, int row) {
  if ((col != TQGridModel::time_col && col != TQGridModel::value_col) || row < TQGridModel::fixed_rows ||
      row >= table.row_count())
    return false;
  const QChar decimal = locale_decimal_separator();
  if (bad_cell(table, row, decimal) < 0)
    return false;
  long double x = 0;
  return !cell_real(table.cell_view(col, row), x, decimal);
}
