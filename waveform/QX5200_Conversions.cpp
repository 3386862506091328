#include "QX5200_Conversions.h"

#include <cmath>

namespace {

// The code of a normalised output of 0.
constexpr long double dac_code_zero = 32768.0L;

quint16 clamp_to_code(long double c) {
  if (c > dac_code_max)
    c = dac_code_max;
  if (c < 0)
    c = 0;
  if (std::isnan(c))
    return 0;
  return static_cast<quint16>(std::nearbyint(c));
}

} // namespace

quint16 normalized_to_dac_code(long double x, const TCalibration &calibration) {
  if (std::fabs(x) > 1)
    x = x > 0 ? 1.0L : -1.0L;
  return clamp_to_code((x - calibration.offset) / dac_step + dac_code_zero);
}

quint16 value_to_dac_code(long double v, const TLoadBoardRecord &board, const TCalibration &calibration) {
  long double lim = board.lb_gain;
  if (board.lb_max_value < lim)
    lim = board.lb_max_value;
  if (std::fabs(v) > lim)
    v = v > 0 ? lim : -lim;
  return clamp_to_code(((v - board.lb_offset) / board.lb_gain - calibration.offset) / dac_step +
                       dac_code_zero);
}
