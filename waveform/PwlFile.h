#pragma once

#include "TQGridModel.h"

#include <QString>
#include <QStringView>

// SPICE piecewise-linear (PWL) files: the time-value pairs of a circuit simulator's PWL source.
// Numbers are in SPICE form and always use '.', whatever the locale.

// Reads one number in SPICE form: an optional sign, digits with an optional '.', an optional
// exponent, then an optional scale suffix (f p n u m k meg g t, in either letter case; 'm' is
// milli, "meg" mega) and unit letters, which are ignored ("1us", "5V"). The value is read straight
// into long double. `plain`, when given, gets the same number without the suffix ("2.5e-3" for
// "2.5m"), so a table cell holding it reads back as the same value.
bool spice_number(QStringView token, long double &value, QString *plain = nullptr);

// True for a file name ending in ".pwl", in any letter case.
bool is_pwl_file_name(const QString &file_name);

// Replaces the table with the PWL file's points: the heading row "Time", "Value", then one row
// per pair, its numbers written with the locale's decimal separator. Pairs may stand one or
// many to a line, separated by blanks, tabs or commas; '+' continues a line, '*' starts a comment
// line and ';' a comment to the end of the line; the whole list may be wrapped as PWL(...).
// A token that is not a number or an odd count of values fails the load with the line and the
// token named, and the table stays as it was. A missing file is treated as the table files'.
TGridFileResult load_pwl_file(TQGridModel &table, const QString &file_name);

// Writes the table's points (the rows whose time and value both read as numbers, as START takes
// them) as a PWL file: one pair a line, 15 significant digits, '.', CR LF. A table without
// points fails and writes nothing.
TGridFileResult save_pwl_file(const TQGridModel &table, const QString &file_name);
