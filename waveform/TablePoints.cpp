#include "TablePoints.h"

#include "NumberConversion.h"
#include "TQGridModel.h"

void table_points(const TQGridModel &table, std::vector<TWavePoint> &points) {
  const QChar decimal = locale_decimal_separator();
  for (int row = 1; row < table.row_count(); ++row) {
    long double time = 0;
    long double value = 0;
    if (text_to_real(table.cell_view(1, row), time, decimal) &&
        text_to_real(table.cell_view(2, row), value, decimal))
      points.push_back({time, value});
  }
}
