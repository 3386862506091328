// Points, repeat count, board limits and sensor reading decoded from the bytes, through the
// waveform engine. Values come either as raw doubles (NaN, infinities, huge and tiny numbers) or
// as small integers with a decimal scale (sane waveforms that reach the resampler), times either
// as they are or as steps from the previous time. The build must end in bounded time and leave a
// self-consistent result: words within the buffer, a header that says what was built, device
// points in time order (up to one sample period where segments meet), and the same result when
// built again.
#include "QX5200_Waveform.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class Reader {
public:
  Reader(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
  bool empty() const { return p_ >= end_; }
  uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  double raw_double() {
    double d = 0;
    const size_t n = std::min<size_t>(sizeof d, size_t(end_ - p_));
    std::memcpy(&d, p_, n);
    p_ += n;
    return d;
  }
  // A tag byte picks the form: raw double, or a small integer times a power of ten.
  long double number() {
    const uint8_t tag = byte();
    if ((tag & 3) == 0)
      return raw_double();
    const int8_t mantissa = int8_t(byte());
    static const long double scales[] = {1e-9L, 1e-7L, 1e-6L, 1e-5L, 1e-4L, 1e-3L, 1e-2L, 1e-1L,
                                         1,     10,    100,   1e3L,  1e6L,  1e9L,  1e15L, 1e300L};
    return mantissa * scales[(tag >> 2) & 15];
  }

private:
  const uint8_t *p_;
  const uint8_t *end_;
};

bool same_words(const TQX5200Waveform &a, const TQX5200Waveform &b) {
  return a.buffer_count() == b.buffer_count() && a.upload_buffer() == b.upload_buffer() &&
         a.device_points().size() == b.device_points().size() && a.data_error() == b.data_error() &&
         a.error_type() == b.error_type();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4)
    return 0;
  Reader in(data, size);
  const uint8_t flags = in.byte();
  const bool relative_times = flags & 1;
  TQX5200Waveform w;
  w.repeat_count = int16_t(in.byte() | in.byte() << 8);
  if (flags & 2) {
    w.load_board.lb_max_power = in.number();
    w.load_board.lb_max_p2t = in.number();
  } else {
    w.load_board.lb_max_power = 1e30L;
    w.load_board.lb_max_p2t = 1e30L;
  }
  if (flags & 4) {
    w.load_board.lb_gain = in.number();
    w.load_board.lb_offset = in.number();
    w.load_board.lb_max_value = in.number();
  }
  const long double sensor = (flags & 8) ? in.number() : 1.0L;
  long double t = 0;
  while (!in.empty()) {
    const long double time = in.number();
    const long double value = in.number();
    t = relative_times ? t + time : time;
    w.add_point(t, value);
  }

  TQX5200Waveform again = w;
  const bool error = w.build_waveform(sensor);
  if (error != w.data_error())
    std::abort();
  if (w.buffer_count() < 0 || w.buffer_count() > TQX5200Waveform::word_capacity)
    std::abort();
  if (!error) {
    // A waveform the driver may send: its header names the repeat count and the segments.
    const auto &words = w.upload_buffer();
    if (w.buffer_count() < 2 || words[0] != quint16(w.repeat_count) ||
        words[1] != quint16(w.segments().size()) || w.segments().empty())
      std::abort();
    for (const TWaveSegment &s : w.segments())
      if (s.first < 0 || s.point_count < 1 || s.first + s.point_count > w.data_count())
        std::abort();
    const auto &dp = w.device_points();
    if (dp.empty())
      std::abort();
    for (size_t i = 0; i < dp.size(); ++i) {
      if (!std::isfinite(dp[i].time))
        std::abort();
      // A segment's last sample sits on its period's grid at or after its last point, so the
      // next segment may start up to one period earlier than it: never more.
      if (i > 0 && dp[i].time < dp[i - 1].time - TQX5200Waveform::code_to_period(65535))
        std::abort();
    }
    // Every sample costs at least one word, so there are never more device points than words.
    if (qsizetype(dp.size()) > w.buffer_count())
      std::abort();
  } else if (w.error_type() < TQX5200Waveform::no_data || w.error_type() > TQX5200Waveform::max_p2t) {
    std::abort();
  }
  // Building is a function of its inputs: a copy built the same way, and the same object built
  // a second time, give the same words.
  again.build_waveform(sensor);
  if (!same_words(w, again))
    std::abort();
  w.build_waveform(sensor);
  if (!same_words(w, again))
    std::abort();
  return 0;
}
