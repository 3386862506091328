#include "DeviceNumbers.h"

#include <cmath>

namespace {

long double make_value(bool negative, int exponent, std::uint32_t fraction) {
  if (exponent == 0 && fraction == 0 && !negative)
    return 0.0L;
  const long double m = 1.0L + static_cast<long double>(fraction) / 8388608.0L; // 2^23
  const long double v = std::ldexp(m, exponent - 127);
  return negative ? -v : v;
}

} // namespace

void device_word_to_bytes(std::uint16_t word, std::uint8_t bytes[2]) {
  bytes[0] = static_cast<std::uint8_t>(word >> 8);
  bytes[1] = static_cast<std::uint8_t>(word & 0xFF);
}

std::uint16_t device_word_from_bytes(const std::uint8_t bytes[2]) {
  return static_cast<std::uint16_t>(bytes[0] * 256 + bytes[1]);
}

void ieee_single_encode(long double x, std::uint8_t bytes[4]) {
  std::uint32_t pattern = 0;
  const long double a = std::fabs(x);
  if (std::isnan(x) || a < 0x1p-126L) {
    pattern = 0;
  } else if (a >= 0x1p128L) {
    pattern = 0x7F7FFFFFu;
  } else {
    int exp2 = 0;
    const long double half_m = std::frexp(a, &exp2); // a = half_m * 2^exp2, half_m in [0.5, 1)
    const int k = exp2 - 1;                          // floor(log2 a)
    const long double m = half_m * 2.0L;             // in [1, 2)
    // (m - 1) * 2^23 is exact in long double; flooring it is the bitwise truncation.
    const auto fraction = static_cast<std::uint32_t>(std::floor((m - 1.0L) * 8388608.0L));
    pattern = (static_cast<std::uint32_t>(k + 127) << 23) | (fraction & 0x7FFFFFu);
  }
  if (pattern != 0 && x < 0)
    pattern |= 0x80000000u;
  bytes[0] = static_cast<std::uint8_t>(pattern >> 24);
  bytes[1] = static_cast<std::uint8_t>(pattern >> 16);
  bytes[2] = static_cast<std::uint8_t>(pattern >> 8);
  bytes[3] = static_cast<std::uint8_t>(pattern);
}

long double ieee_single_decode(const std::uint8_t bytes[4]) {
  const bool negative = (bytes[0] & 0x80) != 0;
  const int exponent = ((bytes[0] & 0x7F) << 1) | (bytes[1] >> 7);
  const std::uint32_t fraction = (static_cast<std::uint32_t>(bytes[1] & 0x7F) << 16) |
                                 (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
  return make_value(negative, exponent, fraction);
}

long double exp_float_decode(const std::uint8_t bytes[4]) {
  const bool negative = (bytes[1] & 0x80) != 0;
  const int exponent = bytes[0];
  const std::uint32_t fraction = (static_cast<std::uint32_t>(bytes[1] & 0x7F) << 16) |
                                 (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
  return make_value(negative, exponent, fraction);
}
