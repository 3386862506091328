#pragma once

// One waveform point: time in seconds, value in the load board's units. Both are 80-bit
// extended reals because the period and hold tolerances (1e-12, 1e-15) rely on that precision.
struct TWavePoint {
  long double time = 0;
  long double value = 0;
};
