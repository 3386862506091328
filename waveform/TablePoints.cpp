#include "TablePoints.h"

#include "NumberConversion.h"
#include "TQGridModel.h"

void table_points(const TQGridModel &table, std::vector<TWavePoint> &points) {
  const QChar decimal = locale_decimal_separator();
  for (int row = TQGridModel::fixed_rows; row < table.row_count(); ++row) {
    long double time = 0;
    long double value = 0;
    if (text_to_real(table.cell_view(TQGridModel::time_col, row), time, decimal) &&
        text_to_real(table.cell_view(TQGridModel::value_col, row), value, decimal))
      points.push_back({time, value});
  }
}
