#pragma once

#include "TWavePoint.h"

#include <QChar>
#include <QString>
#include <QStringView>

#include <vector>

class TQGridModel;

// A cell's number with `decimal` as its decimal separator (a null QChar: the locale's). Beside
// what text_to_real refuses (inf, nan, hexadecimal), a magnitude beyond the range of a double is
// refused: the figures built from it could not be written or read back by other programs.
bool cell_real(QStringView text, long double &value, QChar decimal);

// The waveform points the table holds: rows 1 to the last, in order, whose time (column 1) and
// value (column 2) both read as numbers by cell_real (the locale's notation unless `decimal` is
// given). Any other row, empty rows included, is skipped without a message. The points are
// appended to `points`.
void table_points(const TQGridModel &table, std::vector<TWavePoint> &points, QChar decimal = {});

// The point one row holds by that rule; false when it holds none. For reads that stop early or
// need the row of a point.
bool table_row_point(const TQGridModel &table, int row, TWavePoint &point);

// Whether the table holds a point at all; stops at the first one.
bool table_has_point(const TQGridModel &table);

// For a table without a point: the other of "." and "," when its rows would give points with
// that as the decimal separator (a file or a paste from a system that writes numbers the other
// way). A null QChar otherwise.
QChar foreign_decimal_separator(const TQGridModel &table, QChar decimal = {});

// Rows that hold text in their time or value cell but give no point (a typo, a unit, a missing
// value): skipped like empty rows, but worth saying. first_row is the table row (1 for the first
// row under the headings), first_text the text of its first cell that is not a number.
struct TSkippedRows {
  qsizetype count = 0;
  int first_row = 0;
  QString first_text;
};
TSkippedRows skipped_rows(const TQGridModel &table, QChar decimal = {});
// Whether the cell (grid coordinates) is a time or value cell that is not a number in such a row.
bool skipped_cell(const TQGridModel &table, int col, int row);
