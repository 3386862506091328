#pragma once

#include "LoadBoardRecord.h"
#include "QX5200_Conversions.h"
#include "TQDataSamplerUnit.h"
#include "TWavePoint.h"

#include <QtGlobal>

#include <array>
#include <utility>
#include <vector>

// One stretch of the waveform as it is uploaded: a ramp (changing) or the lead-in that holds the
// first value.
// Its points are the point list's points first .. first + point_count - 1 (a view rather than a
// copy: a million-point export is not duplicated).
struct TWaveSegment {
  long double duration = 0; // first to last point; 50 ns for a lead-in
  long double hold = 0;     // how long the last value is held; 0 when it ends the waveform
  qsizetype first = 0;
  qsizetype point_count = 0;
  bool changing = false;
};

// The driver's waveform side: the user's point list, its validation and statistics, and the
// upload words with the device point list (the waveform as the device will play it). Plain
// arithmetic: no event loop, no device.
class TQX5200Waveform {
public:
  static constexpr int upload_buffer_size = 7961;
  // Words this side fills at most; the append that would exceed it raises error kind 2.
  static constexpr int word_capacity = 7959;
  static constexpr long double fast_period = 5e-8L;      // mode 0
  static constexpr long double min_timed_period = 2e-7L; // mode 1, period code 0
  static constexpr long double period_step = 2.5e-8L;
  static constexpr long double max_single_period = 4e-4L;
  // Segments up to and including this duration are short (mode 0) in every pass.
  static constexpr long double short_segment = 1e-5L;
  static constexpr int word_budget = 7960;
  static constexpr int single_sample_budget = 7952;

  enum ErrorType { no_data = 0, time_not_increasing = 1, overflow = 2, max_power = 3, max_p2t = 4 };

  // Inputs the driver keeps up to date.
  TLoadBoardRecord load_board;
  TCalibration calibration;
  int repeat_count = 0;
  // Set when the words have been rebuilt, cleared by the driver once they have been sent.
  bool waveform_changed = true;

  // Point list.
  void add_point(long double time, long double value);
  void clear_points();
  // clear_points, then these points as the list.
  void set_points(std::vector<TWavePoint> points);
  // An index outside the list leaves `point` untouched.
  void get_point(qsizetype index, TWavePoint &point) const;
  void get_device_point(qsizetype index, TWavePoint &point) const;
  qsizetype data_count() const { return qsizetype(points_.size()); }
  qsizetype sampled_data_count() const { return qsizetype(device_points_.size()); }
  // Time of the last device point; 100 us when there is none.
  long double max_time() const;

  // Validation and building.
  bool check_times();
  void compute_statistics(long double sensor_value);
  bool build_waveform(long double sensor_value);
  void build_segments();
  void build_upload_words();

  static quint16 period_to_code(long double period);
  static long double code_to_period(int code);
  static long double round_period_up(long double period);
  // The hold count h whose 32-bit complement follows each segment. Not limited to 32 bits here:
  // a count that does not fit raises error kind 2 when the words are built.
  static long double hold_count(long double hold, bool last);

  // Error state.
  bool data_error() const { return data_error_; }
  int error_type() const { return error_type_; }
  int error_index() const { return error_index_; }

  // Upload words.
  int buffer_count() const { return buffer_count_; }
  // A lower bound of the words the segments need, for telling how far an overflow is off: the
  // fast samples of the short segments and the fixed words of every other one.
  qint64 min_words_needed() const;
  const std::array<quint16, upload_buffer_size> &upload_buffer() const { return upload_buffer_; }

  // Statistics over the device point list.
  long double max_value() const { return max_value_; }
  long double max_dy() const { return max_dy_; }
  long double min_dy() const { return min_dy_; }
  long double max_dx() const { return max_dx_; }
  long double min_dx() const { return min_dx_; }
  long double max_dy_dx() const { return max_dy_dx_; }
  long double total_time() const { return total_time_; }
  long double pulse_time() const { return pulse_time_; }
  long double average() const { return average_; }
  long double pulse_average() const { return pulse_average_; }
  long double average_power() const { return average_power_; }
  long double pulse_power() const { return pulse_power_; }
  long double energy() const { return energy_; }
  long double p2t() const { return p2t_; }
  // The largest magnitude the board plays: the smaller of its gain and its maximum value. A
  // sample beyond it is played at the limit.
  long double output_limit() const;
  // Device points whose value is beyond output_limit().
  qsizetype limited_samples() const { return limited_samples_; }

  const std::vector<TWaveSegment> &segments() const { return segments_; }
  const std::vector<TWavePoint> &points() const { return points_; }
  const std::vector<TWavePoint> &device_points() const { return device_points_; }

private:
  void raise(int type);
  void append_word(quint32 word);
  const TWavePoint &first_point(const TWaveSegment &segment) const {
    return points_[std::size_t(segment.first)];
  }
  void append_hold(long double hold, bool last);
  // Resamples a changing segment at `period`, never producing more samples than can still
  // reach the word buffer (more would overflow it anyway).
  void resample(const TWaveSegment &segment, long double period);
  void encode_segment(const TWaveSegment &segment, int mode, long double period, bool last);
  bool is_short(const TWaveSegment &segment) const { return segment.duration <= short_segment; }

  std::vector<TWavePoint> points_;
  std::vector<TWavePoint> device_points_;
  std::vector<TWaveSegment> segments_;
  TQDataSampler sampler_;
  std::array<quint16, upload_buffer_size> upload_buffer_{};
  int buffer_count_ = 0;

  bool data_error_ = false;
  int error_type_ = 0;
  int error_index_ = 0;

  long double max_value_ = 0;
  long double max_dy_ = 0;
  long double min_dy_ = 0;
  long double max_dx_ = 0;
  long double min_dx_ = 0;
  long double max_dy_dx_ = 0;
  long double total_time_ = 0;
  long double pulse_time_ = 0;
  long double average_ = 0;
  long double pulse_average_ = 0;
  long double average_power_ = 0;
  long double pulse_power_ = 0;
  long double energy_ = 0;
  long double p2t_ = 0;
  qsizetype limited_samples_ = 0;
};
