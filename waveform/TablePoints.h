#pragma once

#include "TWavePoint.h"

#include <vector>

class TQGridModel;

// The waveform points the table holds: rows 1 to the last, in order, whose time (column 1) and
// value (column 2) both read as numbers in the locale's notation. Any other row, empty rows
// included, is skipped without a message. The points are appended to `points`.
void table_points(const TQGridModel &table, std::vector<TWavePoint> &points);

// The point one row holds by that rule; false when it holds none. For reads that stop early or
// need the row of a point.
bool table_row_point(const TQGridModel &table, int row, TWavePoint &point);
