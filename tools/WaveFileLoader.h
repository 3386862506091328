#pragma once

#include "TWavePoint.h"

#include <QChar>
#include <QString>

#include <vector>

// Stand-in for the point table's file loading until the checker can use the table model itself:
// reads a waveform text file as Open does (the first line is the heading row; each further line
// is split with split_line at `separator`) and keeps the rows whose first two fields (time,
// value) both parse as numbers with the locale's decimal separator, in file order.
// Returns false, with the reason, when the file cannot be opened or read.
bool load_wave_file(const QString &path, QChar separator, std::vector<TWavePoint> &points, QString &reason);
