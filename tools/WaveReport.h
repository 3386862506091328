#pragma once

#include "QX5200_Waveform.h"

#include <QString>

#include <string>

// What the tools print about a built waveform, as the window's statistics panel shows it.

// The panel's error line: "None", "No Data", "Time Data", "Overflow", "Max Power" or "Max P2t".
QString error_text(const TQX5200Waveform &w);
// The message the window shows before START for a data error ("Maximum Power Exceeded"...).
QString error_message(const TQX5200Waveform &w);
// The statistics panel, one "Name : value" line each, newline-terminated.
QString panel_text(const TQX5200Waveform &w);
// 17 significant digits, '.' whatever the locale; JSON has no infinities, so those are null.
std::string json_number(long double v);
// The statistics as one JSON object.
std::string statistics_json(const TQX5200Waveform &w);
