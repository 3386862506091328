#include "QX5200_Waveform.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr long double empty_max_time = 1e-4L;
constexpr long double sample_tolerance = 1e-12L;
constexpr long double hold_offset = 6e-7L;
constexpr long double hold_step = 1e-7L;
constexpr long double largest_32_bit = 4294967295.0L;
constexpr int max_period_code = 65535;
// Within this fraction of a step, a period or hold counts as on its grid.
constexpr long double grid_tolerance = 1e-6L;
// Hold count: ((hold - hold_offset) / hold_step, truncated) * hold_factor + hold_base, less
// last_hold_drop for the last segment, and never below min_hold_count.
constexpr int hold_factor = 4;
constexpr int hold_base = 6;
constexpr int last_hold_drop = 8;
constexpr int min_hold_count = 2;
// Bit 0 of a sample's code is cleared in its first word and set in the second of a mode 0 pair.
constexpr quint32 pair_bit = 1u;

// Word counts of the buffer: the repeat count and segment count first; a mode 0 segment's mode,
// count, period code and two hold words, and two words per sample; a lead-in's seven words; what
// a mode 1 segment costs besides its samples.
constexpr int header_words = 2;
constexpr int fast_segment_words = 5;
constexpr int fast_sample_words = 2;
constexpr int lead_in_words = 7;
constexpr int timed_segment_words = 8;
// Words held back when the long segments share the budget: for the trial period, for the final.
constexpr int trial_reserve = 5;
constexpr int final_reserve = 10;

} // namespace

void TQX5200Waveform::add_point(long double time, long double value) { points_.push_back({time, value}); }

void TQX5200Waveform::clear_points() {
  points_.clear();
  device_points_.clear();
  segments_.clear();
  data_error_ = false;
  max_value_ = max_dy_ = min_dy_ = max_dx_ = min_dx_ = max_dy_dx_ = 0;
}

void TQX5200Waveform::set_points(std::vector<TWavePoint> points) {
  clear_points();
  points_ = std::move(points);
}

void TQX5200Waveform::get_point(qsizetype index, TWavePoint &point) const {
  if (index >= 0 && index < data_count())
    point = points_[std::size_t(index)];
}

void TQX5200Waveform::get_device_point(qsizetype index, TWavePoint &point) const {
  if (index >= 0 && index < sampled_data_count())
    point = device_points_[std::size_t(index)];
}

long double TQX5200Waveform::max_time() const {
  return device_points_.empty() ? empty_max_time : device_points_.back().time;
}

void TQX5200Waveform::raise(int type) {
  data_error_ = true;
  error_type_ = type;
}

bool TQX5200Waveform::check_times() {
  bool passed = true;
  // A time that is not a finite number would make every later step meaningless; it fails like
  // a time going backwards.
  if (!points_.empty() && !std::isfinite(points_.front().time)) {
    error_type_ = time_not_increasing;
    error_index_ = 0;
    passed = false;
  }
  for (std::size_t i = 0; i + 1 < points_.size(); ++i) {
    const long double t = points_[i + 1].time;
    if (!(t - points_[i].time >= 0) || !(t >= 0) || !std::isfinite(t)) {
      error_type_ = time_not_increasing;
      error_index_ = int(i + 1);
      passed = false;
    }
  }
  return passed;
}

long double TQX5200Waveform::output_limit() const {
  return std::min(load_board.lb_gain, load_board.lb_max_value);
}

void TQX5200Waveform::compute_statistics(long double sensor_value) {
  average_ = pulse_average_ = pulse_time_ = total_time_ = 0;
  long double area = 0;
  limited_samples_ = 0;
  const long double limit = output_limit();
  for (std::size_t i = 0; i < device_points_.size(); ++i) {
    const long double y = device_points_[i].value;
    // As value_to_dac_code limits it.
    if (std::fabs(y) > limit)
      ++limited_samples_;
    if (i == 0) {
      max_value_ = y;
      continue;
    }
    const long double dt = device_points_[i].time - device_points_[i - 1].time;
    const long double y0 = device_points_[i - 1].value;
    const long double dy = y - y0;
    area += dt * y0 + dt * dy * 0.5L;
    total_time_ += dt;
    if (y != 0)
      pulse_time_ += dt;
    const long double slope = dt == 0 ? 0.0L : dy / dt;
    if (i == 1) {
      max_dy_ = min_dy_ = dy;
      max_dx_ = min_dx_ = dt;
      max_dy_dx_ = slope;
    } else {
      if (dy > max_dy_)
        max_dy_ = dy;
      if (dy < min_dy_)
        min_dy_ = dy;
      if (dt > max_dx_)
        max_dx_ = dt;
      if (dt < min_dx_)
        min_dx_ = dt;
      if (slope > max_dy_dx_)
        max_dy_dx_ = slope;
    }
    if (y > max_value_)
      max_value_ = y;
  }
  if (total_time_ != 0)
    average_ = area / total_time_;
  if (pulse_time_ != 0)
    pulse_average_ = area / pulse_time_;
  average_power_ = sensor_value * average_;
  pulse_power_ = sensor_value * pulse_average_;
  energy_ = sensor_value * area;
  p2t_ = pulse_power_ * pulse_power_ * pulse_time_;
  // "Not at most" rather than "greater", so a figure that is not a number is refused too.
  if (!(average_power_ <= load_board.lb_max_power) && repeat_count != 1)
    raise(max_power);
  if (!(p2t_ <= load_board.lb_max_p2t))
    raise(max_p2t);
}

bool TQX5200Waveform::build_waveform(long double sensor_value) {
  data_error_ = false;
  if (!check_times()) {
    data_error_ = true;
    return data_error_;
  }
  build_segments();
  if (data_error_)
    return data_error_;
  build_upload_words();
  compute_statistics(sensor_value);
  return data_error_;
}

void TQX5200Waveform::build_segments() {
  segments_.clear();
  const qsizetype n = data_count();
  if (n < 2) {
    raise(no_data);
    error_index_ = 0;
    return;
  }
  const qsizetype last = n - 1;
  auto value = [this](qsizetype i) { return points_[std::size_t(i)].value; };
  auto time = [this](qsizetype i) { return points_[std::size_t(i)].time; };
  // End of the ramp starting at a: the first b with value(b) = value(b + 1), or the last index.
  auto ramp_end = [&](qsizetype a) {
    qsizetype b = a + 1;
    while (b < last && value(b) != value(b + 1))
      ++b;
    return b;
  };
  // End of the flat run starting at a: the first b with value(b) != value(b + 1), or the last.
  auto flat_end = [&](qsizetype a) {
    qsizetype b = a + 1;
    while (b < last && value(b) == value(b + 1))
      ++b;
    return b;
  };
  qsizetype a = 0;
  while (a < last) {
    TWaveSegment s;
    if (value(a) != value(a + 1)) {
      const qsizetype b = ramp_end(a);
      s.changing = true;
      s.first = a;
      s.point_count = b - a + 1;
      s.duration = time(b) - time(a);
      if (b == last) {
        s.hold = 0;
        segments_.push_back(s);
        break;
      }
      const qsizetype c = flat_end(b);
      s.hold = time(c) - time(b);
      segments_.push_back(s);
      a = c;
    } else {
      // Only the very first run can be flat: it becomes the lead-in holding the first value.
      const qsizetype b = flat_end(a);
      s.changing = false;
      s.first = a;
      s.point_count = 1;
      s.duration = fast_period;
      s.hold = time(b) - time(a) - fast_period;
      segments_.push_back(s);
      a = b;
    }
  }
}

namespace {

// Index of the grid period at or below `period` (period > 200 ns). A grid period itself does not
// come out exactly in binary: (k * 25 ns + 200 ns - 200 ns) / 25 ns lands just below k for about
// one k in fifteen, and plain truncation would then send the code of the next shorter period
// than the one the samples were made for. Within a millionth of a step counts as on the grid.
long double grid_index(long double period) {
  return std::trunc((period - TQX5200Waveform::min_timed_period) / TQX5200Waveform::period_step +
                    grid_tolerance);
}

} // namespace

quint16 TQX5200Waveform::period_to_code(long double period) {
  if (!(period > min_timed_period))
    return 0;
  const long double k = grid_index(period);
  // A longer period than the code can say is held at the longest one rather than wrapped.
  return k >= max_period_code ? quint16(max_period_code) : quint16(k);
}

long double TQX5200Waveform::code_to_period(int code) { return code * period_step + min_timed_period; }

long double TQX5200Waveform::round_period_up(long double period) {
  if (!(period > min_timed_period))
    return min_timed_period; // also for a period that is not a number
  if (!std::isfinite(period))
    return period;
  const long double k = grid_index(period);
  const long double p = k * period_step + min_timed_period;
  return period > p ? (k + 1) * period_step + min_timed_period : p;
}

long double TQX5200Waveform::hold_count(long double hold, bool last) {
  // A hold worked out as the difference of two times can land a hair below its grid value;
  // truncating that would drop a whole 100 ns step, so within a millionth of a step counts as on
  // the grid (as for period codes).
  long double h = std::trunc((hold - hold_offset) / hold_step + grid_tolerance) * hold_factor + hold_base;
  if (last)
    h -= last_hold_drop;
  if (h < min_hold_count)
    h = min_hold_count;
  return h;
}

void TQX5200Waveform::append_word(quint32 word) {
  if (buffer_count_ >= word_capacity) {
    raise(overflow);
    return;
  }
  upload_buffer_[std::size_t(buffer_count_++)] = quint16(word & 0xFFFFu);
}

void TQX5200Waveform::append_hold(long double hold, bool last) {
  long double h = hold_count(hold, last);
  if (!(h <= largest_32_bit)) {
    // A hold of more than about 107 s cannot be said in 32 bits; wrapping it would play a
    // different waveform, so it is refused like any waveform that does not fit.
    raise(overflow);
    h = largest_32_bit;
  }
  const quint32 w = ~quint32(h);
  append_word(w & 0xFFFFu);
  append_word(w >> 16);
}

void TQX5200Waveform::resample(const TWaveSegment &segment, long double period) {
  sampler_.reset_data();
  sampler_.add_raw_points(&first_point(segment), segment.point_count);
  sampler_.interpolate = true;
  sampler_.sample_period = period;
  // Every sample after the first costs at least one word, so two more than the words left
  // already overflow; the samples built are the first ones of the full set.
  sampler_.max_samples = qsizetype(word_capacity - buffer_count_) + 2;
  sampler_.sample_data();
}

void TQX5200Waveform::encode_segment(const TWaveSegment &segment, int mode, long double period, bool last) {
  auto code = [this](long double v) { return value_to_dac_code(v, load_board, calibration); };
  // The lead-in's layout: mode 0, a count of 1, period code 0, then one sample pair.
  auto single_sample = [this](quint16 c) {
    append_word(0);
    append_word(1);
    append_word(0);
    append_word(c & ~pair_bit);
    append_word(c | pair_bit);
  };
  if (!segment.changing) {
    single_sample(code(first_point(segment).value));
    append_hold(segment.hold, last);
    device_points_.push_back(first_point(segment));
    return;
  }
  const std::vector<TWavePoint> &samples = sampler_.sampled_data();
  if (samples.empty()) {
    // Only a refused period leaves no sample; nothing playable can be built from it.
    raise(overflow);
    return;
  }
  long double n = static_cast<long double>(samples.size() - 1);
  if (sampler_.truncated()) {
    // The count word of a segment that overflows: grid steps up to its last point.
    const long double span =
        segment.point_count > 0
            ? points_[std::size_t(segment.first + segment.point_count - 1)].time - first_point(segment).time
            : 0;
    const long double steps = std::ceil((span - sample_tolerance) / period);
    if (steps > n)
      n = std::min(steps, largest_32_bit);
  }
  if (n == 0) {
    // A vertical step resamples to one sample. Sent with the lead-in's layout (one sample pair in
    // mode 0) so that its value is played and no count of -1 reaches the device.
    single_sample(code(samples.front().value));
  } else {
    const quint64 count = mode == 0 ? quint64(2 * n - 1) : quint64(n);
    append_word(quint32(mode));
    append_word(quint32(count & 0xFFFFu));
    append_word(mode == 0 ? 0u : period_to_code(period));
  }
  device_points_.push_back(samples.front());
  if (n > 0) {
    for (std::size_t k = 1; k < samples.size(); ++k) {
      const quint16 c = code(samples[k].value);
      append_word(c & ~pair_bit);
      if (mode == 0)
        append_word(c | pair_bit);
      if (!data_error_)
        device_points_.push_back(samples[k]);
    }
  }
  if (last && !data_error_ && segment.hold != 0) {
    const TWavePoint end = device_points_.back();
    device_points_.push_back({end.time + segment.hold, end.value});
  }
  append_hold(segment.hold, last);
}

qint64 TQX5200Waveform::min_words_needed() const {
  // A changing segment takes at least one sample per longest period it may be given.
  const long double longest = segments_.size() == 1 ? max_single_period : code_to_period(max_period_code);
  auto at_most = [](long double x) { return qint64(std::min(std::ceil(x), 1e15L)); };
  qint64 words = header_words;
  for (const TWaveSegment &s : segments_) {
    if (!s.changing)
      words += lead_in_words;
    else if (is_short(s))
      words += at_most(std::nearbyint(s.duration / fast_period)) * fast_sample_words + fast_segment_words;
    else
      words += timed_segment_words + at_most(s.duration / longest);
  }
  return words;
}

void TQX5200Waveform::build_upload_words() {
  upload_buffer_.fill(0);
  buffer_count_ = 0;
  device_points_.clear();
  append_word(quint32(repeat_count) & 0xFFFFu);
  append_word(quint32(segments_.size()) & 0xFFFFu);
  if (segments_.size() == 1) {
    const TWaveSegment &s = segments_.front();
    const long double total = points_.back().time;
    int mode = 0;
    long double period = fast_period;
    if (!(total * 2 / single_sample_budget <= fast_period)) {
      mode = 1;
      period = total / single_sample_budget;
      if (period < min_timed_period)
        period = min_timed_period;
      else
        period = round_period_up(period);
      if (period > max_single_period)
        period = max_single_period;
    }
    if (s.changing)
      resample(s, period);
    encode_segment(s, mode, period, true);
  } else if (segments_.size() > 1) {
    // Pass 1: short segments cost their samples in mode 0; the rest share what is left.
    qint64 budget = word_budget;
    long double long_time = 0;
    for (const TWaveSegment &s : segments_) {
      if (is_short(s))
        budget -= qint64(std::nearbyint(s.duration / fast_period)) * fast_sample_words + fast_segment_words;
      else
        long_time += s.duration;
    }
    // Pass 2: sample the long segments at an even share of the budget to see how steep each is.
    std::vector<long double> step_sizes;
    const long double p0 = long_time / static_cast<long double>(budget - trial_reserve);
    for (const TWaveSegment &s : segments_) {
      if (is_short(s))
        continue;
      if (!(p0 > 0) || !std::isfinite(p0)) {
        // The short segments leave no room for the long ones: no period can make this fit.
        raise(overflow);
        waveform_changed = true;
        return;
      }
      resample(s, p0);
      TDataStatistics st;
      sampler_.sampled_statistics(st);
      step_sizes.push_back(std::max(std::fabs(st.max_dy), std::fabs(st.min_dy)));
    }
    const long double average = step_sizes.empty()
                                    ? 0.0L
                                    : std::accumulate(step_sizes.begin(), step_sizes.end(), 0.0L) /
                                          static_cast<long double>(step_sizes.size());
    // Pass 3: steeper segments than average get a finer period.
    std::size_t k = 0;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
      const TWaveSegment &s = segments_[i];
      const bool last = i + 1 == segments_.size();
      if (is_short(s)) {
        if (s.changing)
          resample(s, fast_period);
        encode_segment(s, 0, fast_period, last);
        continue;
      }
      long double q = long_time / static_cast<long double>(budget - final_reserve);
      const long double step = step_sizes[k++];
      if (step > average)
        q = q * average / step;
      long double period = round_period_up(q);
      if (period > code_to_period(max_period_code))
        period = code_to_period(max_period_code);
      resample(s, period);
      budget -= timed_segment_words + qint64(sampler_.sampled_data_size());
      long_time -= s.duration;
      encode_segment(s, 1, period, last);
    }
  }
  waveform_changed = true;
}
