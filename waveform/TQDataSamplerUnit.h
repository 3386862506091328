#pragma once

#include "TWavePoint.h"

#include <QtGlobal>

#include <vector>

// Statistics of one point set, in this order.
struct TDataStatistics {
  long double max_time = 0;
  long double min_time = 0;
  long double max_dx = 0;
  long double min_dx = 0;
  long double max_value = 0;
  long double min_value = 0;
  long double max_dy = 0;
  long double min_dy = 0;
  long double max_slope = 0;
  long double min_slope = 0;
  // Largest time step over which the value changes by less than 1e-12.
  long double max_flat_dx = 0;
};

// Turns a short list of (time, value) points into a zero-order-hold staircase of samples at a
// fixed period, optionally after adding points along sloped stretches on the period's grid.
// Plain arithmetic in extended precision; knows nothing of the device.
class TQDataSampler {
public:
  // Default ceiling of the sampled set; see max_samples.
  static constexpr qsizetype default_max_samples = qsizetype(1) << 22;

  long double sample_period = 5e-8L;
  bool interpolate = false;
  // Treat a time going backwards as an error when statistics are computed.
  bool monotonic = true;
  bool error = false;
  // A tiny period over a long span would otherwise fill memory (or never end once time + period
  // no longer changes time). sample_data stops after this many samples and sets truncated();
  // the samples it did produce are exactly the first ones of the full result.
  qsizetype max_samples = default_max_samples;

  int error_index() const { return error_index_; }
  int error_number() const { return error_number_; }
  qsizetype raw_data_size() const { return qsizetype(raw_.size()); }
  qsizetype interpolated_data_size() const { return qsizetype(interpolated_data().size()); }
  qsizetype sampled_data_size() const { return qsizetype(sampled_.size()); }
  bool truncated() const { return truncated_; }

  void reset_data();
  void add_raw_point(long double time, long double value);
  void add_raw_points(const TWavePoint *first, qsizetype count);
  // Replaces the sampled set. A period that is not a positive finite number is refused: the
  // sampled set is left empty, since no grid can be stepped with it.
  void sample_data();
  // An index outside the sampled set yields (0, 0).
  void get_sampled_point(qsizetype index, TWavePoint &point) const;
  void sampled_statistics(TDataStatistics &record);

  // Sampling streams the interpolated points without keeping them; this builds the set (the raw
  // set interpolated at the current period, when `interpolate` is on) on demand.
  const std::vector<TWavePoint> &interpolated_data() const;
  const std::vector<TWavePoint> &sampled_data() const { return sampled_; }

private:
  // Calls sink(point) for every interpolated point in order until it returns false.
  template <class Sink> void for_each_interpolated(Sink &&sink) const;
  void compute_statistics(const std::vector<TWavePoint> &set, TDataStatistics &record);

  std::vector<TWavePoint> raw_;
  mutable std::vector<TWavePoint> interpolated_;
  mutable bool interpolated_stale_ = true;
  std::vector<TWavePoint> sampled_;
  TDataStatistics sampled_statistics_;
  bool sampled_stale_ = true;
  bool truncated_ = false;
  int error_index_ = 0;
  int error_number_ = 0;
};
