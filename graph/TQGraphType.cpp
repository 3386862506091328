#include "TQGraphType.h"

#include "NumberConversion.h"

#include <algorithm>
#include <cmath>

namespace {

// Pixel offsets further out than this are pulled in; keeps rounding defined for far-off values.
constexpr double kPixelLimit = 1e7;

int round_even(double v) { return static_cast<int>(std::nearbyint(v)); }

// base + round(offset); a non-finite offset (a value the axis cannot show) lands on base.
int to_pixel(int base, double offset) {
  if (!std::isfinite(offset))
    return base;
  return base + round_even(std::clamp(offset, -kPixelLimit, kPixelLimit));
}

double pow10(int e) { return std::pow(10.0, e); }

// The clamps every range goes through: a log axis starts above 0, an empty or reversed range
// becomes min to 10 x min. A range that would still be empty (both 0) or is not finite becomes
// a usable one, so no later step divides by a zero span.
void clamp_range(double &min, double &max, bool log) {
  if (!std::isfinite(min))
    min = log ? 0.01 : 0;
  if (!std::isfinite(max))
    max = min;
  if (log && min <= 0)
    min = 0.01;
  if (!(max > min))
    max = 10 * min;
  if (max == min)
    max = min + 10;
  if (!std::isfinite(max)) {
    // 10 x min overflowed: keep a span of one decade below min instead.
    max = min;
    min = min / 10;
  }
}

struct Extremes {
  double min = 9.99e99;
  double max = -9.99e99;
  void take(double lo, double hi) {
    if (hi > max)
      max = hi;
    if (!(lo >= min))
      min = lo;
  }
};

// Decade bounds of a log range; returns the decade count.
int decade_bounds(double min, double max, double &out_min, double &out_max) {
  // A y2 range auto-ranged under its own linear style may still reach below 0 here; such a
  // start has no decade, so it takes the log axes' usual start.
  if (!(min + 1e-20 > 0))
    min = 0.01;
  if (!(max > min))
    max = 10 * min;
  int v = round_even(std::log10(min + 1e-20));
  if (min < pow10(v))
    --v;
  int a = round_even(std::log10(max));
  if (max > pow10(a) + 1e-20)
    ++a;
  out_min = pow10(v);
  out_max = pow10(a);
  return a - v;
}

void write_back_log(TQAxis &axis, double min, double max) {
  axis.MajInc = decade_bounds(min, max, axis.MinVal, axis.MaxVal);
  axis.MinInc = 10;
}

// log10(|v / min|) as a share of the log span; 0 where the logarithm is not defined.
double log_share(double v, double min, double max, bool absolute) {
  double ratio = v / min;
  if (absolute)
    ratio = std::fabs(ratio);
  const double span = std::log10(std::fabs(max / min));
  if (!(ratio > 0) || !std::isfinite(span) || span == 0)
    return 0;
  return std::log10(ratio) / span;
}

// A rounded axis's tick text: as many decimals as its step needs, so that a step of 0.2 reads
// "0.2" and one of 50 reads "50"; far from 1, just enough significant digits to tell
// neighbouring ticks apart.
QString round_tick_text(const TQAxis &axis, double value) {
  const double f = RangeFactor(axis.Range);
  const int e = static_cast<int>(std::floor(std::log10(axis.round_step * f) + 1e-9));
  const double biggest = std::max(std::fabs(axis.round_min * f), std::fabs(axis.round_max * f));
  if (e >= -6 && biggest < 1e9)
    return QString::number(value, 'f', std::max(0, -e));
  const int top = biggest > 0 ? static_cast<int>(std::floor(std::log10(biggest))) : e;
  return FloatToSignificant(std::clamp(top - e + 1, 1, 15), value);
}

void apply_round_ticks(TQAxis &axis, const TRoundTicks &t) {
  axis.rounded = t.ok ? 1 : 0;
  axis.round_min = t.min;
  axis.round_max = t.max;
  axis.round_step = t.step;
  axis.round_divisions = t.divisions;
}

} // namespace

TRoundTicks RoundTicks(double min, double max, int most) {
  TRoundTicks found;
  const double span = max - min;
  most = std::max(most, 1);
  if (!std::isfinite(min) || !std::isfinite(max) || !std::isfinite(span) || !(span / most > 0))
    return found;
  // Beyond 2^52 steps from 0 a double no longer holds every whole step: such a step is too fine
  // for the values and is passed over.
  constexpr double kExact = 4503599627370496.0;
  // A span across 0 never fits one step; past a step of twice the largest value none other does.
  const double last = 2 * std::max(std::fabs(min), std::fabs(max));
  static constexpr int mantissas[] = {1, 2, 5};
  const int first = static_cast<int>(std::floor(std::log10(span / most)));
  TRoundTicks two;
  for (int i = 0; i < 3 * 700; ++i) {
    const int e = first + i / 3;
    const double step = e >= 0 ? mantissas[i % 3] * pow10(e) : mantissas[i % 3] / pow10(-e);
    if (!std::isfinite(step) || (step > last && step > span))
      break;
    const double q_min = min / step, q_max = max / step;
    if (!(step > 0) || !(std::fabs(q_min) < kExact && std::fabs(q_max) < kExact))
      continue;
    // Values a hair past a whole step (from the division) count as on it.
    const double lo = std::floor(q_min + 1e-9);
    const double hi = std::max(std::ceil(q_max - 1e-9), lo + 1);
    const TRoundTicks t{true, lo * step, hi * step, step, static_cast<int>(hi - lo)};
    if (!std::isfinite(t.max))
      break;
    if (t.divisions <= most)
      return t;
    if (t.divisions <= 2 && !two.ok)
      two = t;
  }
  return two;
}

TQGraphArea DefaultGraphArea() {
  TQGraphArea a;
  for (TQAxis *axis : {&a.y, &a.y2}) {
    axis->MajInc = 10;
    axis->DecimalCount = 2;
  }
  a.y.Title = QStringLiteral("Efficiency");
  a.y2.Title = QStringLiteral("Power Loss");
  a.y2.AutoRange = 1;
  for (int n = 1; n <= kCurveCount; ++n) {
    const bool fit = n > kDataCurveCount;
    a.y.curve[n].pen_width = fit ? 2 : 1;
    a.y.curve[n].show_points = fit ? 0 : 1;
    a.y2.curve[n].pen_width = 1;
    a.y2.curve[n].show_points = 1;
  }
  return a;
}

QString RangePrefix(int range) {
  switch (range) {
  case -4: return QStringLiteral("p");
  case -3: return QStringLiteral("n");
  case -2: return QStringLiteral("u");
  case -1: return QStringLiteral("m");
  case 1: return QStringLiteral("k");
  case 2: return QStringLiteral("M");
  case 3: return QStringLiteral("G");
  default: return {};
  }
}

double RangeFactor(int range) { return std::pow(10.0, -3.0 * range); }

bool GraphHasData(const TCurves &curves) {
  for (int n = 1; n <= kDataCurveCount; ++n)
    if (!curves[n].points.empty())
      return true;
  return false;
}

void ComputeRanges(TQGraphArea &area, const TCurves &curves) {
  const bool x_log = area.x.Style == Log;
  const bool y_log = area.y.Style == Log;
  double x_min = area.x.MinVal, x_max = area.x.MaxVal;
  double y_min = area.y.MinVal, y_max = area.y.MaxVal;
  double y2_min = area.y2.MinVal, y2_max = area.y2.MaxVal;
  // The y2 axis is scaled with the y axis's style.
  clamp_range(x_min, x_max, x_log);
  clamp_range(y_min, y_max, y_log);
  clamp_range(y2_min, y2_max, y_log);

  const bool has_data = GraphHasData(curves);
  auto auto_range = [&](auto lo, auto hi, bool log, double &min, double &max) {
    Extremes e;
    for (int n = 1; n <= kDataCurveCount; ++n)
      if (!curves[n].points.empty())
        e.take(curves[n].*lo, curves[n].*hi);
    min = e.min;
    max = e.max;
    clamp_range(min, max, log);
  };
  if (area.x.AutoRange && has_data)
    auto_range(&TCurve::min_x, &TCurve::max_x, x_log, x_min, x_max);
  if (area.y.AutoRange && has_data)
    auto_range(&TCurve::min_y, &TCurve::max_y, y_log, y_min, y_max);
  // The auto-ranged y2 minimum is the one place y2's own style is consulted.
  if (area.y2.AutoRange && has_data && area.showY2Axis)
    auto_range(&TCurve::min_y2, &TCurve::max_y2, area.y2.Style == Log, y2_min, y2_max);

  if (x_log) {
    write_back_log(area.x, x_min, x_max);
  } else {
    area.x.MinVal = x_min;
    area.x.MaxVal = x_max;
  }
  if (y_log) {
    write_back_log(area.y, y_min, y_max);
    write_back_log(area.y2, y2_min, y2_max);
    if (area.showY2Axis) {
      // Stretch the axis with fewer decades downward so both share the y divisions.
      TQAxis &fewer = area.y.MajInc < area.y2.MajInc ? area.y : area.y2;
      const int more = std::max(area.y.MajInc, area.y2.MajInc);
      fewer.MinVal /= pow10(more - fewer.MajInc);
      fewer.MajInc = more;
    }
  } else {
    area.y.MinVal = y_min;
    area.y.MaxVal = y_max;
    area.y2.MinVal = y2_min;
    area.y2.MaxVal = y2_max;
  }

  area.x.rounded = area.y.rounded = area.y2.rounded = 0;
  if (!area.round_ticks)
    return;
  if (!x_log)
    apply_round_ticks(area.x, RoundTicks(area.x.MinVal, area.x.MaxVal, area.x.MajInc));
  if (y_log)
    return;
  apply_round_ticks(area.y, RoundTicks(area.y.MinVal, area.y.MaxVal, area.y.MajInc));
  // The y2 ticks sit on the y grid lines: a round step that fills the same divisions, the top
  // moved up to the last of them.
  const int n = std::max(AxisDivisions(area.y), 1);
  TRoundTicks y2 = RoundTicks(area.y2.MinVal, area.y2.MaxVal, n);
  y2.ok = y2.ok && y2.divisions <= n && std::isfinite(y2.min + n * y2.step);
  y2.max = y2.min + n * y2.step;
  y2.divisions = n;
  apply_round_ticks(area.y2, y2);
}

void ComputeDivisions(TQGraphArea &area) {
  // Counts below 1 would divide by zero or run the grid backwards.
  for (TQAxis *axis : {&area.x, &area.y}) {
    if (axis->MajInc < 1)
      axis->MajInc = 1;
    if (axis->MinInc < 1)
      axis->MinInc = 1;
  }
  TGraphRect &p = area.plot;
  TQAxis &x = area.x;
  const int xn = AxisDivisions(x);
  x.value_per_major = (AxisMax(x) - AxisMin(x)) / xn;
  x.pixels_per_major = (p.right - p.left) / xn / x.MinInc * x.MinInc;
  p.right = p.left + xn * x.pixels_per_major;

  TQAxis &y = area.y;
  const int yn = AxisDivisions(y);
  y.value_per_major = (AxisMax(y) - AxisMin(y)) / yn;
  area.y2.value_per_major = (AxisMax(area.y2) - AxisMin(area.y2)) / yn;
  y.pixels_per_major = (p.top - p.bottom) / yn / y.MinInc * y.MinInc;
  area.y2.pixels_per_major = y.pixels_per_major;
  p.top = p.bottom + yn * y.pixels_per_major;
}

void ValueToPixel(const TQGraphArea &area, TGraphPoint &pt, int marker_size) {
  const TGraphRect &p = area.plot;
  const double width = p.right - p.left;
  const double height = p.top - p.bottom;
  const double x_min = AxisMin(area.x), x_max = AxisMax(area.x);
  if (area.x.Style == Log) {
    // A value of exactly 0 has no logarithm; it maps to the axis start.
    pt.px = pt.x == 0 ? p.left : to_pixel(p.left, log_share(pt.x, x_min, x_max, true) * width);
  } else {
    pt.px = to_pixel(p.left, (pt.x - x_min) * (width / (x_max - x_min)));
  }
  const double y_min = AxisMin(area.y), y_max = AxisMax(area.y);
  const double y2_min = AxisMin(area.y2), y2_max = AxisMax(area.y2);
  if (area.y.Style == Log) {
    // Values <= 0 have no place on a log axis: they sit on its start like 0 does.
    pt.py = to_pixel(p.bottom, log_share(pt.y, y_min, y_max, false) * height);
    pt.py2 = to_pixel(p.bottom, log_share(pt.y2, y2_min, y2_max, false) * height);
  } else {
    pt.py = to_pixel(p.bottom, (pt.y - y_min) * (height / (y_max - y_min)));
    const double span = y2_max - y2_min == 0 ? 1 : y2_max - y2_min;
    pt.py2 = to_pixel(p.bottom, (pt.y2 - y2_min) * (height / span));
  }
  const int h = marker_size / 2;
  pt.y_box = {pt.px - h, pt.py - h, pt.px + h, pt.py + h};
  pt.y2_box = {pt.px - h, pt.py2 - h, pt.px + h, pt.py2 + h};
}

void PixelToValue(const TQGraphArea &area, int px, int py, double &x, double &y) {
  const TGraphRect &p = area.plot;
  const double x_min = AxisMin(area.x), x_max = AxisMax(area.x);
  const double y_min = AxisMin(area.y), y_max = AxisMax(area.y);
  // A plot without width or height has no inverse; it reads as the axis start.
  const double fx = p.right == p.left ? 0 : double(px - p.left) / (p.right - p.left);
  const double fy = p.top == p.bottom ? 0 : double(py - p.bottom) / (p.top - p.bottom);
  if (area.x.Style == Log)
    x = x_min * std::pow(10.0, std::log10(std::fabs(x_max / x_min)) * fx);
  else
    x = x_min + fx * (x_max - x_min);
  if (area.y.Style == Log)
    y = y_min * std::pow(10.0, std::log10(std::fabs(y_max / y_min)) * fy);
  else
    y = y_min + fy * (y_max - y_min);
}

double TickValue(TQAxis &axis, int r, bool log) {
  const double factor = RangeFactor(axis.Range);
  // Whole steps counted from 0, so that a tick at 0 is exactly 0.
  if (!log && axis.rounded)
    return (std::nearbyint(axis.round_min / axis.round_step) + r) * axis.round_step * factor;
  if (!log)
    return (axis.MinVal + r * axis.value_per_major) * factor;
  if (!(axis.MinVal > 0))
    axis.MinVal = 0.01 * factor;
  return pow10(r) * axis.MinVal * factor;
}

QString TickText(TQAxis &axis, int r, bool log) {
  if (!log && axis.rounded)
    return round_tick_text(axis, TickValue(axis, r, log));
  return FloatToSignificant(axis.DecimalCount, TickValue(axis, r, log));
}

void ComposeAxisTitle(const TQAxis &axis, QString &composed) {
  if (!axis.show_title)
    return;
  composed = axis.Title;
  if (axis.ShowUnits)
    composed += QStringLiteral(" (") + RangePrefix(axis.Range).left(1) + axis.Units + QStringLiteral(")");
}

QString FormatAxisValue(const TQGraphArea &area, int axis, double value) {
  const TQAxis *a = axis == 1 ? &area.x : axis == 2 ? &area.y : axis == 3 ? &area.y2 : nullptr;
  if (!a)
    return {};
  QString text = FloatToSignificant(a->DecimalCount, value * RangeFactor(a->Range));
  if (a->ShowUnits)
    text += RangePrefix(a->Range) + a->Units;
  return text;
}

void ComputeLayout(TQGraphArea &area, int width, int height, const TTextMeasure &m) {
  TGraphRect &margins = area.margins;
  margins.top = m.TextHeight(area.Title, area.TitleFontSize) + area.gap0 +
                m.TextHeight(area.Subtitle, area.SubtitleFontSize) + area.gap1 + area.gap2;

  margins.bottom = 0;
  if (area.x.show_title) {
    ComposeAxisTitle(area.x, area.x_title);
    margins.bottom = m.TextHeight(area.x_title, area.x.TitleFontSize) + area.gap0 +
                     m.TextHeight(QStringLiteral("1.230E-8"), area.x.tick_label_font_size) + area.x.gapB +
                     area.x.gapA;
  }

  // Room for the wider of the end values' labels, then for the rotated title.
  auto side = [&](const TQAxis &axis, QString &composed) {
    const double f = RangeFactor(axis.Range);
    auto text = [&](double v) {
      return axis.rounded ? round_tick_text(axis, v * f) : FloatToSignificant(axis.DecimalCount, v * f);
    };
    const int w = std::max(m.TextWidth(text(AxisMin(axis)), axis.tick_label_font_size),
                           m.TextWidth(text(AxisMax(axis)), axis.tick_label_font_size));
    int margin = area.gap0 + w + axis.gapA;
    if (axis.show_title) {
      ComposeAxisTitle(axis, composed);
      margin += m.TextHeight(composed, axis.TitleFontSize) + axis.gapB;
    }
    return margin;
  };
  margins.left = side(area.y, area.y_title);
  // Reserved whether or not the y2 axis is shown.
  margins.right = side(area.y2, area.y2_title);

  area.plot = {margins.left, margins.top, width - margins.right, height - margins.bottom};
  ComputeDivisions(area);
}

void RescaleGraph(TQGraphArea &area, std::vector<TQLabel> &labels, TGraphScaling &scaling, int width,
                  int height) {
  const double sx = width / 500.0;
  const double s = std::min(width / 500.0, height / 500.0);
  scaling.sample_line_length = round_even(50 * sx);
  const int gap = round_even(5 * s);
  area.TitleFontSize = round_even(16 * s);
  area.SubtitleFontSize = round_even(10 * s);
  area.gap1 = area.gap2 = gap;
  for (TQAxis *axis : {&area.x, &area.y, &area.y2}) {
    axis->TitleFontSize = round_even(10 * s);
    axis->tick_label_font_size = round_even(8 * s);
    axis->gapA = axis->gapB = gap;
  }
  // Curve 10 keeps its size at any scale.
  for (int n = 1; n <= 9; ++n)
    for (TQAxis *axis : {&area.y, &area.y2}) {
      axis->curve[n].pen_width = s > 1 ? round_even(s) : 1;
      axis->curve[n].marker_size = s > 1 ? round_even(6 * s) : 6;
    }
  // A control that had no size yet has no positions to carry over.
  if (scaling.previous_width > 0 && scaling.previous_height > 0) {
    const double gx = 1 + double(width - scaling.previous_width) / scaling.previous_width;
    const double gy = 1 + double(height - scaling.previous_height) / scaling.previous_height;
    for (TQLabel &label : labels) {
      label.X = to_pixel(0, label.X * gx);
      label.Y = to_pixel(0, label.Y * gy);
    }
  }
  scaling.previous_width = width;
  scaling.previous_height = height;
}
