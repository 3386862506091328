#pragma once

#include "TWavePoint.h"

#include <QChar>
#include <QString>

#include <vector>

// Reads a waveform text file exactly as the window's Open does: into a point table laid out as
// the window's (three columns, numbered rows), then the rows whose time and value both parse
// become points, in file order. Returns false, with the reason, when the file is missing or
// cannot be read.
bool load_wave_file(const QString &path, QChar separator, std::vector<TWavePoint> &points, QString &reason);

// The --separator values both tools accept ("tab", "comma", "space"); false for another word.
bool parse_separator(const QString &name, QChar &separator);
// What --separator accepts, for help and error texts: "tab, comma or space".
QString separator_choices();
// The separator a file gets without --separator: comma for .csv, else tab.
QChar default_separator(const QString &path);
