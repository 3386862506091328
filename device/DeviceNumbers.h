#pragma once

#include <cstdint>

// The number layouts of the device's reports.
//
// Device word: 16-bit unsigned, most significant byte first.
// IEEE single: the usual 32-bit layout sent most significant byte first (load board record).
// Exponent-first float: the biased exponent in the first byte, then the sign bit and the
// fraction (calibration values and the USB supply voltage).
// In both float layouts a pattern means (-1)^s * (1 + f / 2^23) * 2^(e - 127) and the all-zero
// pattern means 0; there are no infinities, NaNs or subnormals.

void device_word_to_bytes(std::uint16_t word, std::uint8_t bytes[2]);
std::uint16_t device_word_from_bytes(const std::uint8_t bytes[2]);

// Encodes x with the fraction truncated, never rounded (0.1 gives 3D CC CC CC), as the device's
// own encoder does. Values the layout cannot hold: |x| below 2^-126 and NaN give the zero
// pattern; |x| of 2^128 and more (infinities included) give the largest finite single with x's
// sign, so a stored limit never turns into an infinity on the device.
void ieee_single_encode(long double x, std::uint8_t bytes[4]);
long double ieee_single_decode(const std::uint8_t bytes[4]);
long double exp_float_decode(const std::uint8_t bytes[4]);
