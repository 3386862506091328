#pragma once

#include "LoadBoardRecord.h"

#include <QtGlobal>

// The device's calibration values, with the values they hold until the device has been read.
struct TCalibration {
  long double offset = 32768.0L;         // main DAC offset, normalised output units
  long double ad_offset = -1.0L;         // volts at ADC code 0
  long double ad_gain = 0.000732421875L; // volts per ADC code (3/4096)
};

// Normalised output units per DAC code: codes 32768..65400 span 0..1.
inline constexpr long double dac_step = 1.0L / 32632.0L;
inline constexpr long double dac_code_max = 65400.0L;

// DAC code for a normalised output x (limited to -1..1), nearest code with ties to even.
quint16 normalized_to_dac_code(long double x, const TCalibration &calibration);

// DAC code for a value in the load board's units, limited to the smaller of the board's gain and
// maximum value. A result that is not a number (an erased record's gain) gives code 0, the code
// every value has before a record has been read.
quint16 value_to_dac_code(long double v, const TLoadBoardRecord &board, const TCalibration &calibration);
