#include "TQDataSamplerUnit.h"

#include <algorithm>
#include <cmath>

namespace {

// Added points must stay at least one period (less this) before the next raw point.
constexpr long double interpolation_tolerance = 1e-15L;
// Sample times this close to a point's time count as that time.
constexpr long double sample_tolerance = 1e-12L;
// Value steps below this count as flat.
constexpr long double flat_tolerance = 1e-12L;

long double snap(long double d) { return std::fabs(d) < sample_tolerance ? 0.0L : d; }

// Expected number of grid steps over a span, as a count that is safe to reserve.
qsizetype grid_estimate(long double span, long double period, qsizetype ceiling) {
  const long double steps = span / period;
  if (!(steps >= 0) || steps > static_cast<long double>(ceiling))
    return ceiling;
  return static_cast<qsizetype>(steps) + 2;
}

// Appends samples as interpolated (or raw) points arrive: every sample carries the value of the
// last point at or before its time.
struct Staircase {
  std::vector<TWavePoint> &out;
  long double period;
  qsizetype cap;
  bool started = false;
  bool truncated = false;
  long double t = 0;
  long double held = 0;

  bool operator()(const TWavePoint &p) {
    if (!started) {
      started = true;
      t = p.time;
    } else if (snap(t - p.time) < 0) {
      do {
        if (qsizetype(out.size()) >= cap) {
          truncated = true;
          return false;
        }
        out.push_back({t, held});
        t += period;
      } while (snap(t - p.time) < 0);
    }
    held = p.value;
    return true;
  }

  void finish() {
    if (!started || truncated)
      return;
    if (qsizetype(out.size()) >= cap) {
      truncated = true;
      return;
    }
    out.push_back({t, held});
  }
};

} // namespace

void TQDataSampler::reset_data() {
  raw_.clear();
  interpolated_.clear();
  interpolated_stale_ = true;
  sampled_.clear();
  sampled_statistics_ = TDataStatistics{};
  sampled_stale_ = true;
  truncated_ = false;
}

void TQDataSampler::add_raw_point(long double time, long double value) {
  raw_.push_back({time, value});
  interpolated_stale_ = true;
}

void TQDataSampler::add_raw_points(const TWavePoint *first, qsizetype count) {
  if (count > 0)
    raw_.insert(raw_.end(), first, first + count);
  interpolated_stale_ = true;
}

template <class Sink> void TQDataSampler::for_each_interpolated(Sink &&sink) const {
  if (raw_.empty())
    return;
  const long double period = sample_period;
  const qsizetype cap = std::max<qsizetype>(max_samples, 1);
  // Added points beyond this time cannot reach the first `cap` samples; the count limit covers
  // data whose times do not rise.
  const long double horizon = raw_.front().time + (static_cast<long double>(cap) + 2) * period;
  const long double most_added = static_cast<long double>(cap) + 4;
  long double added = 0;
  for (std::size_t i = 0; i + 1 < raw_.size(); ++i) {
    const TWavePoint &a = raw_[i];
    const TWavePoint &b = raw_[i + 1];
    if (!sink(a))
      return;
    // Points go on a's own grid up to, not within one period (less 1e-15 s) of, b. With less
    // than one period between them (the common case in a dense export) there is none to add.
    const long double dx = b.time - a.time;
    const long double ratio = dx / period;
    if (!(ratio >= 1))
      continue;
    const long double slope = (b.value - a.value) / dx;
    if (slope == 0)
      continue;
    const long double steps = std::min(std::trunc(ratio), most_added - added);
    long double t = a.time;
    long double u = 0;
    for (long double j = 1; j <= steps; j += 1) {
      t += period;
      u += period;
      if (t > horizon)
        break;
      if (b.time - t >= period - interpolation_tolerance) {
        if (!sink(TWavePoint{t, a.value + u * slope}))
          return;
        added += 1;
      }
    }
  }
  sink(raw_.back());
}

const std::vector<TWavePoint> &TQDataSampler::interpolated_data() const {
  if (interpolated_stale_) {
    interpolated_.clear();
    if (interpolate && sample_period > 0 && std::isfinite(sample_period))
      for_each_interpolated([this](const TWavePoint &p) {
        interpolated_.push_back(p);
        return true;
      });
    interpolated_stale_ = false;
  }
  return interpolated_;
}

void TQDataSampler::sample_data() {
  truncated_ = false;
  interpolated_stale_ = true;
  const long double period = sample_period;
  if (!(period > 0) || !std::isfinite(period)) {
    sampled_.clear();
    sampled_stale_ = true;
    return;
  }
  if (raw_.empty())
    return; // nothing to sample: the sampled set keeps its contents
  sampled_.clear();
  sampled_stale_ = true;
  const qsizetype cap = std::max<qsizetype>(max_samples, 1);
  sampled_.reserve(std::size_t(grid_estimate(raw_.back().time - raw_.front().time, period, cap)));
  Staircase stairs{sampled_, period, cap};
  if (interpolate) {
    for_each_interpolated(stairs);
  } else {
    for (const TWavePoint &p : raw_)
      if (!stairs(p))
        break;
  }
  stairs.finish();
  truncated_ = stairs.truncated;
}

void TQDataSampler::get_sampled_point(qsizetype index, TWavePoint &point) const {
  if (index >= 0 && index < qsizetype(sampled_.size()))
    point = sampled_[std::size_t(index)];
  else
    point = TWavePoint{};
}

void TQDataSampler::sampled_statistics(TDataStatistics &record) {
  if (sampled_stale_) {
    compute_statistics(sampled_, sampled_statistics_);
    sampled_stale_ = false;
  }
  record = sampled_statistics_;
}

void TQDataSampler::compute_statistics(const std::vector<TWavePoint> &set, TDataStatistics &r) {
  error = false;
  // Start afresh, so a recomputation does not carry the previous set's longest flat step.
  r = TDataStatistics{};
  for (std::size_t i = 0; i < set.size(); ++i) {
    const long double x = set[i].time;
    const long double y = set[i].value;
    if (i == 0) {
      r.max_time = r.min_time = x;
      r.max_value = r.min_value = y;
      continue;
    }
    const long double dx = x - set[i - 1].time;
    const long double dy = y - set[i - 1].value;
    if (std::fabs(dy) < flat_tolerance && dx > r.max_flat_dx)
      r.max_flat_dx = dx;
    if (monotonic && !(dx >= 0)) {
      error = true;
      error_number_ = 1;
      error_index_ = int(i);
    }
    const long double slope = dx == 0 ? 0.0L : dy / dx;
    if (i == 1) {
      r.max_dx = r.min_dx = dx;
      r.max_dy = r.min_dy = dy;
      r.max_slope = r.min_slope = slope;
    } else {
      r.max_dx = std::max(r.max_dx, dx);
      r.min_dx = std::min(r.min_dx, dx);
      r.max_dy = std::max(r.max_dy, dy);
      r.min_dy = std::min(r.min_dy, dy);
      r.max_slope = std::max(r.max_slope, slope);
      r.min_slope = std::min(r.min_slope, slope);
    }
    r.max_time = std::max(r.max_time, x);
    r.min_time = std::min(r.min_time, x);
    r.max_value = std::max(r.max_value, y);
    r.min_value = std::min(r.min_value, y);
  }
}
