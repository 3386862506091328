#pragma once

#include "TWavePoint.h"

#include <QChar>

#include <vector>

class TQGridModel;

// The waveform points the table holds: rows 1 to the last, in order, whose time (column 1) and
// value (column 2) both read as numbers in the locale's notation. Any other row, empty rows
// included, is skipped without a message. The points are appended to `points`.
void table_points(const TQGridModel &table, std::vector<TWavePoint> &points);

// The point one row holds by that rule; false when it holds none. For reads that stop early or
// need the row of a point.
bool table_row_point(const TQGridModel &table, int row, TWavePoint &point);

// Whether the table holds a point at all; stops at the first one.
bool table_has_point(const TQGridModel &table);

// For a table without a point: the other of "." and "," when its rows would give points with
// that as the decimal separator (a file or a paste from a system that writes numbers the other
// way). A null QChar otherwise.
QChar foreign_decimal_separator(const TQGridModel &table);
