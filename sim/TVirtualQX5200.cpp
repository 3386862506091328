#include "TVirtualQX5200.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

using namespace qx5200_protocol;

namespace {

constexpr long double fast_period = 5e-8L;
constexpr long double timed_period_base = 2e-7L;
constexpr long double timed_period_step = 2.5e-8L;
constexpr long double hold_tick = 2.5e-8L;
// The hold counter runs after a fixed overhead; the last segment's counter is 8 ticks
// shorter because the end of the pass takes that long.
constexpr long double hold_overhead = 4.5e-7L;
constexpr long double last_hold_overhead = 6.5e-7L;
constexpr int adc_max = 4095;

void put_float(std::uint8_t *to, const std::array<std::uint8_t, 4> &b) { std::copy(b.begin(), b.end(), to); }

void put_word(std::uint8_t *to, std::uint16_t w) {
  to[0] = std::uint8_t(w >> 8);
  to[1] = std::uint8_t(w & 0xFF);
}

std::uint16_t word_at(const std::uint8_t *p) { return std::uint16_t(p[0] << 8 | p[1]); }

} // namespace

std::array<std::uint8_t, 4> TVirtualQX5200::ieee_bytes(float x) {
  const auto u = std::bit_cast<std::uint32_t>(x);
  return {std::uint8_t(u >> 24), std::uint8_t(u >> 16), std::uint8_t(u >> 8), std::uint8_t(u)};
}

float TVirtualQX5200::ieee_value(const std::uint8_t *b) {
  const std::uint32_t u =
      std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
  return std::bit_cast<float>(u);
}

std::array<std::uint8_t, 4> TVirtualQX5200::exp_first_bytes(float x) {
  if (x == 0)
    return {0, 0, 0, 0};
  const auto u = std::bit_cast<std::uint32_t>(x);
  const std::uint8_t e = std::uint8_t(u >> 23);
  const std::uint8_t s = std::uint8_t(u >> 31);
  return {e, std::uint8_t(s << 7 | ((u >> 16) & 0x7F)), std::uint8_t(u >> 8), std::uint8_t(u)};
}

std::array<std::uint8_t, TVirtualQX5200::record_size> TVirtualQX5200::default_record() {
  std::array<std::uint8_t, record_size> r{};
  r[0] = 'L';
  r[1] = 'B';
  r[2] = '1';
  r[record_units_at] = 'A';
  put_float(r.data() + record_gain_at, ieee_bytes(100.0f));
  put_float(r.data() + record_sensor_gain_at, ieee_bytes(25.0f));
  put_float(r.data() + record_max_temp_at, ieee_bytes(80.0f));
  put_float(r.data() + record_max_power_at, ieee_bytes(50.0f));
  put_float(r.data() + record_max_p2t_at, ieee_bytes(100.0f));
  put_float(r.data() + record_offset_at, ieee_bytes(0.0f));
  put_float(r.data() + record_sensor_offset_at, ieee_bytes(0.0f));
  r[record_sensor_units_at] = 'V';
  r[record_return_to_zero_at] = 0;
  put_float(r.data() + record_sensor_max_at, ieee_bytes(50.0f));
  put_float(r.data() + record_monitor_gain_at, ieee_bytes(0.01f));
  r[record_max_value_at] = 100;
  return r;
}

TVirtualQX5200::TVirtualQX5200(Clock clock) : clock_(std::move(clock)) {}

std::chrono::nanoseconds TVirtualQX5200::now() const {
  if (clock_)
    return clock_();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

bool TVirtualQX5200::take_fault(int &counter) {
  if (counter == 0)
    return false;
  if (counter > 0)
    --counter;
  return true;
}

void TVirtualQX5200::set_board_present(bool present) {
  board_present_ = present;
  if (!present)
    playing_ = false;
}

std::uint16_t TVirtualQX5200::volts_to_code(long double volts) const {
  if (ad_gain == 0)
    return 0;
  const long double code = std::nearbyint((volts - ad_offset) / ad_gain);
  if (!(code >= 0))
    return 0;
  return std::uint16_t(std::min<long double>(code, adc_max));
}

std::uint16_t TVirtualQX5200::status_temperature_code() const {
  // The board's sensor gives 0.5 V at 0 degrees and 10 mV per degree. A board over temperature
  // is one whose sensor reads beyond its record's limit, as a real one would.
  long double celsius = temperature_c;
  if (const long double limit = record_float(record_max_temp_at);
      force_over_temperature && std::isfinite(limit))
    celsius = std::max(celsius, limit + 5);
  return volts_to_code(celsius * 0.01L + 0.5L);
}

std::uint16_t TVirtualQX5200::status_sensor_code() const {
  const long double gain = record_float(record_sensor_gain_at);
  if (gain == 0 || !std::isfinite(gain))
    return 0;
  return volts_to_code((sensor_reading - record_float(record_sensor_offset_at)) / gain);
}

std::uint8_t TVirtualQX5200::board_state() const {
  if (forced_board_state)
    return *forced_board_state;
  if (!board_present_)
    return qx5200_protocol::board_absent;
  const bool over = force_over_temperature ||
                    (temperature_limit_code != 0 && status_temperature_code() > temperature_limit_code);
  return over ? qx5200_protocol::board_over_temperature : qx5200_protocol::board_present;
}

bool TVirtualQX5200::is_playing() {
  if (!playing_)
    return false;
  if (!board_present_ || board_state() == qx5200_protocol::board_over_temperature) {
    playing_ = false; // the firmware cuts the output to protect the board
  } else if (play_length_.count() > 0 && now() - play_start_ >= play_length_) {
    playing_ = false;
  }
  return playing_;
}

std::optional<TVirtualQX5200::Reply>
TVirtualQX5200::handle_output_report(std::span<const std::uint8_t> report) {
  // The report as the program writes it: report ID, command, data bytes.
  std::array<std::uint8_t, output_report_written> image{};
  std::copy_n(report.begin(), std::min(report.size(), image.size()), image.begin());
  const std::uint8_t code = image[output_command_at];
  ++counts_[code];
  if (playing_) {
    const std::chrono::nanoseconds into = now() - play_start_;
    if (board_removed_into_run.count() >= 0 && into >= board_removed_into_run) {
      board_removed_into_run = std::chrono::nanoseconds(-1);
      set_board_present(false);
    }
    if (hot_into_run.count() >= 0 && into >= hot_into_run) {
      hot_into_run = std::chrono::nanoseconds(-1);
      force_over_temperature = true;
    }
  }
  log_.emplace_back(image.begin(), image.end());
  if (log_.size() > log_capacity)
    log_.pop_front();

  Reply reply;
  answer(code, image.data() + output_data_at, reply.data);
  reply.latency = latency;
  if (answer_limit == 0)
    return std::nullopt;
  if (answer_limit > 0)
    --answer_limit;
  if (unanswered.count(code) != 0 || take_fault(lose_replies))
    return std::nullopt;
  if (take_fault(late_replies))
    reply.latency = late_latency;
  if (take_fault(garbage_replies)) {
    for (auto &b : reply.data)
      b = std::uint8_t(garbage_());
  }
  return reply;
}

void TVirtualQX5200::answer(std::uint8_t code, const std::uint8_t *data,
                            std::array<std::uint8_t, reply_size> &out) {
  out.fill(0);
  out[reply_run_state_at] = code; // echoed; the run-state query answers there instead
  std::uint8_t *r = out.data() + reply_data_at;
  switch (code) {
  case cmd_upload_begin: upload_index_ = 0; break;
  case cmd_upload_prepare: // a new waveform replaces the old one
    playing_ = false;
    words_.clear();
    upload_index_ = 0;
    blocks_ = 0;
    waveform_ = Waveform{};
    break;
  case cmd_upload_end: waveform_ = decode(words_); break;
  case cmd_usb_voltage: put_float(r, exp_first_bytes(usb_voltage)); break;
  case cmd_serial_number: put_word(r, serial_number); break;
  case cmd_run_state: out[reply_run_state_at] = is_playing() ? run_state_running : run_state_idle; break;
  case cmd_revision:
    r[0] = revision_major;
    r[1] = revision_minor;
    break;
  case cmd_dac_code: dac_code = word_at(data); break;
  case cmd_dac_offset: put_float(r, exp_first_bytes(dac_offset)); break;
  case cmd_upload_index: upload_index_ = word_at(data); break;
  case cmd_upload_block: {
    ++blocks_;
    // Words beyond the device's memory are dropped.
    for (int k = 0; k < block_words; ++k) {
      const int at = upload_index_ + k;
      if (at >= word_capacity)
        break;
      if (at >= int(words_.size()))
        words_.resize(at + 1, 0);
      words_[at] = word_at(data + 2 * k);
    }
    upload_index_ = std::min(upload_index_ + block_words, word_capacity);
    break;
  }
  case cmd_stop: playing_ = false; break;
  case cmd_write_fs_dac_code:
    written_fs_dac_code = word_at(data);
    fs_dac_code = written_fs_dac_code;
    break;
  case cmd_read_fs_dac_code: put_word(r, fs_dac_code); break;
  case cmd_start: {
    if (!waveform_.valid || !board_present_ || board_state() == board_over_temperature)
      break;
    playing_ = true;
    play_start_ = now();
    const long double ns = waveform_.duration * 1e9L * waveform_.repeat_count;
    const long double cap = static_cast<long double>(std::numeric_limits<std::int64_t>::max() / 2);
    play_length_ = std::chrono::nanoseconds(std::int64_t(std::min(std::ceil(ns), cap)));
    if (waveform_.repeat_count != 0 && play_length_.count() == 0)
      play_length_ = std::chrono::nanoseconds(1);
    break;
  }
  case cmd_status: {
    out[status_board_state_at] = board_state();
    put_word(out.data() + status_temperature_at, status_temperature_code());
    put_word(out.data() + status_sensor_at, status_sensor_code());
    break;
  }
  case cmd_read_record:
    if (board_present_)
      std::copy(record.begin(), record.end(), r);
    else
      std::fill_n(r, record_size, 0xFF); // nothing on the bus
    break;
  case cmd_write_record:
    if (board_present_)
      std::copy_n(data, record_size, record.begin());
    break;
  case cmd_adc_offset: put_float(r, exp_first_bytes(ad_offset)); break;
  case cmd_temperature_limit: temperature_limit_code = word_at(data); break;
  case cmd_adc_gain: put_float(r, exp_first_bytes(ad_gain)); break;
  case cmd_zero_code: zero_code = word_at(data); break;
  case cmd_return_to_zero: return_to_zero = data[0]; break;
  default: break;
  }
}

TVirtualQX5200::Waveform TVirtualQX5200::decode(std::span<const std::uint16_t> words) {
  Waveform w;
  std::size_t pos = 0;
  auto fail = [&w](std::string why) {
    w.valid = false;
    w.error = std::move(why);
    w.segments.clear();
    return w;
  };
  if (words.size() < 2)
    return fail("no header");
  w.repeat_count = words[0];
  const int segment_count = words[1];
  pos = 2;
  if (segment_count == 0)
    return fail("no segments");
  long double t = 0;
  for (int s = 0; s < segment_count; ++s) {
    Segment seg;
    seg.start = t;
    seg.last = s == segment_count - 1;
    if (words.size() - pos < 3)
      return fail("segment header beyond the words received");
    seg.mode = words[pos];
    seg.count_word = words[pos + 1];
    seg.period_code = words[pos + 2];
    pos += 3;
    std::size_t n = 0;
    if (seg.mode == 0) {
      // Two words per 50 ns sample; the count is the number of words minus one.
      const std::size_t word_count = (seg.count_word + 1u) & 0xFFFFu;
      if (word_count % 2 != 0)
        return fail("odd word count in fast mode");
      if (seg.period_code != 0)
        return fail("period code in fast mode");
      n = word_count / 2;
      seg.period = fast_period;
      if (words.size() - pos < word_count)
        return fail("samples beyond the words received");
      for (std::size_t k = 0; k < n; ++k) {
        const std::uint16_t a = words[pos + 2 * k];
        const std::uint16_t b = words[pos + 2 * k + 1];
        if ((a & 1) != 0 || b != (a | 1))
          return fail("broken sample pair");
        seg.codes.push_back(a);
      }
      pos += word_count;
    } else if (seg.mode == 1) {
      n = seg.count_word;
      seg.period = timed_period_base + seg.period_code * timed_period_step;
      if (words.size() - pos < n)
        return fail("samples beyond the words received");
      for (std::size_t k = 0; k < n; ++k) {
        const std::uint16_t c = words[pos + k];
        if ((c & 1) != 0)
          return fail("marker bit set in a timed sample");
        seg.codes.push_back(c);
      }
      pos += n;
    } else {
      return fail("unknown mode");
    }
    if (words.size() - pos < 2)
      return fail("hold beyond the words received");
    seg.hold_count = ~(std::uint32_t(words[pos]) | std::uint32_t(words[pos + 1]) << 16);
    pos += 2;
    if (seg.hold_count < 2)
      return fail("hold count below 2");
    if (seg.last)
      seg.hold = seg.hold_count == 2 ? 0 : last_hold_overhead + seg.hold_count * hold_tick;
    else
      seg.hold = hold_overhead + seg.hold_count * hold_tick;
    t += n * seg.period + seg.hold;
    w.segments.push_back(std::move(seg));
  }
  w.duration = t;
  w.valid = true;
  return w;
}
