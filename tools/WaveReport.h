#pragma once

#include "QX5200_Waveform.h"
#include "TablePoints.h"

#include <QString>

#include <string>

// What the tools print about a built waveform, as the window's statistics panel shows it.

// The panel's error line: "None", "No Data", "Time Data", "Overflow", "Max Power" or "Max P2t".
QString error_text(const TQX5200Waveform &w);
// The message the window shows before START for a data error ("Maximum Power Exceeded"...).
QString error_message(const TQX5200Waveform &w);
// The statistics panel, one "Name : value" line each, newline-terminated.
QString panel_text(const TQX5200Waveform &w);
// The window's notices of samples played at the board's limit and of rows that gave no point,
// a line each (none when there is nothing to say).
QString notices_text(const TQX5200Waveform &w, const TSkippedRows &skipped);
// {"count":2,"first_row":5,"first_text":"abc"}; first_row 0 and first_text "" with none.
std::string skipped_rows_json(const TSkippedRows &skipped);
// Whether a double, the number every JSON reader makes of it, holds v (finite, in range).
bool json_representable(long double v);
// The shortest text that reads back as the double nearest v, '.' whatever the locale; null when
// json_representable is false.
std::string json_number(long double v);
// A text as a JSON string, quotes and escapes included.
std::string json_string(const std::string &utf8);
// The statistics as one JSON object; its "units" object gives each figure's unit (counts have
// none), its "out_of_range" array names the figures written as null since no double holds them.
std::string statistics_json(const TQX5200Waveform &w);
