#pragma once

#include <QString>

class TQX5200Waveform;
struct TSkippedRows;

// What the window's notices and the tools' text say of a waveform that plays otherwise than its
// table reads; empty when there is nothing to say.
// "14 samples are limited to the load board's maximum of 100 A"
QString limited_samples_text(const TQX5200Waveform &w);
// "2 rows skipped: row 5 "abc""
QString skipped_rows_text(const TSkippedRows &skipped);
