#pragma once

#include "TWavePoint.h"
#include "TablePoints.h"

#include <QChar>
#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <vector>

class QCommandLineParser;

// How a waveform file is read: as a table with a field separator, or as a SPICE PWL file.
struct TWaveFileFormat {
  bool pwl = false;
  QChar separator = u'\t';
  QChar decimal; // a table's decimal separator; null: the locale's, as the window reads
};

// The --format and --separator options of the command-line programs, and their reading for one
// FILE: --format table|pwl (default pwl for a .pwl file, else table), --separator
// tab|comma|space|semicolon for a table (default comma for a .csv file, else tab), --decimal
// point|comma for a table's numbers (default the locale's). Every program that reads waveform
// files takes these, so they read the same files the same way.
QList<QCommandLineOption> wave_file_options();
bool wave_file_format(const QCommandLineParser &parser, const QString &path, TWaveFileFormat &format,
                      QString &reason);
// The same from the options' values (empty when not given).
bool wave_file_format(const QString &format_value, const QString &separator_value,
                      const QString &decimal_value, const QString &path, TWaveFileFormat &format,
                      QString &reason);

// Reads a waveform file exactly as the window's Open does: into a point table laid out as the
// window's (three columns, numbered rows), then the rows whose time and value both parse become
// points, in file order. Returns false, with the reason, when the file is missing or cannot be
// read (a PWL file also when a token is not a number or a value has no partner).
bool load_wave_file(const QString &path, const TWaveFileFormat &format, std::vector<TWavePoint> &points,
                    QString &reason);
// The same, also telling the rows that held text but gave no point, and for a table with too few
// points for a waveform, the other decimal separator when it would read enough (else a null QChar).
bool load_wave_file(const QString &path, const TWaveFileFormat &format, std::vector<TWavePoint> &points,
                    TSkippedRows &skipped, QString &reason, QChar *other_decimal = nullptr);

// "point" for '.', "comma" for ','; what --decimal takes.
QString decimal_name(QChar decimal);
// The line the tools print for a file that gave no point but reads with the other decimal
// separator: "No Data with "," as decimal separator: the file's numbers read with --decimal point".
QString other_decimal_text(const TWaveFileFormat &format, QChar other);
// The decimal separator a table is read with: --decimal's, or the locale's.
QChar used_decimal(const TWaveFileFormat &format);

// The --separator values both tools accept ("tab", "comma", "space", "semicolon"); false for
// another word.
bool parse_separator(const QString &name, QChar &separator);
// What --separator accepts, for help and error texts: "tab, comma, space or semicolon".
QString separator_choices();
// The separator a file gets without --separator: comma for .csv, else tab.
QChar default_separator(const QString &path);
