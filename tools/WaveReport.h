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
// 17 significant digits, '.' whatever the locale; JSON has no infinities, so those are null.
std::string json_number(long double v);
// The statistics as one JSON object.
std::string statistics_json(const TQX5200Waveform &w);
