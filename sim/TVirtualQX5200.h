#pragma once

#include "QX5200_Protocol.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

// Firmware model of the QX5200 behind the virtual HID back end. It takes one output report
// (report ID, command code, 60 data bytes) and gives the input report it answers with (the 64
// data bytes behind the report ID) and when. It keeps its calibration, the load board and its
// EEPROM record, receives the upload words, decodes them into the waveform it would play and
// plays it against an injectable clock. Pure logic: no Qt, no threads; the owner serialises calls.
class TVirtualQX5200 {
public:
  using Clock = std::function<std::chrono::nanoseconds()>;

  static constexpr int reply_size = int(qx5200_protocol::input_report_size);
  static constexpr int record_size = qx5200_protocol::record_size;
  // Room for the largest upload the program can send: 266 blocks.
  static constexpr int word_capacity = 266 * qx5200_protocol::block_words;
  // Replies this late fall outside the program's 500 ms wait, and inside the next one.
  static constexpr std::chrono::milliseconds late_latency{750};
  static constexpr std::size_t log_capacity = 1024;

  struct Reply {
    std::array<std::uint8_t, reply_size> data{};
    std::chrono::microseconds latency{0};
  };

  // One decoded segment: the device starts it at `start`, outputs codes[k-1] from
  // start + k * period on (k = 1..n), then holds the last code for `hold`.
  struct Segment {
    std::uint16_t mode = 0;
    std::uint16_t count_word = 0;
    std::uint16_t period_code = 0;
    long double period = 0; // s
    std::vector<std::uint16_t> codes;
    std::uint32_t hold_count = 0; // the hold counter as sent (complemented back)
    long double hold = 0;         // s
    long double start = 0;        // s, from the waveform's start
    bool last = false;
  };

  struct Waveform {
    bool valid = false;
    std::string error; // why decoding failed, empty when valid
    std::uint16_t repeat_count = 0;
    std::vector<Segment> segments;
    long double duration = 0; // one pass, s
  };

  // The record of the default load board "LB1" as its EEPROM holds it.
  static std::array<std::uint8_t, record_size> default_record();

  // Device float layouts, most significant byte first.
  static std::array<std::uint8_t, 4> ieee_bytes(float x);
  static float ieee_value(const std::uint8_t *bytes);
  static std::array<std::uint8_t, 4> exp_first_bytes(float x);

  explicit TVirtualQX5200(Clock clock = {});

  // The answer to one output report; nothing when the reply is lost (fault injection).
  // The report starts with its report ID; a short report reads as zeros beyond its end.
  std::optional<Reply> handle_output_report(std::span<const std::uint8_t> report);

  // Calibration and identity.
  float usb_voltage = 4.98f;
  std::uint16_t serial_number = 5200;
  std::uint8_t revision_major = 2;
  std::uint8_t revision_minor = 15;
  float dac_offset = -1.0f / 4096; // normalised units
  std::uint16_t fs_dac_code = 65400;
  float ad_offset = -1.0f;
  float ad_gain = 3.0f / 4096;
  std::chrono::microseconds latency{1000};

  // The load board and the world around it.
  void set_board_present(bool present);
  bool board_present() const { return board_present_; }
  std::array<std::uint8_t, record_size> record{default_record()};
  long double temperature_c = 25;                 // what the board's sensor sees
  long double sensor_reading = 12;                // in the record's sensor units
  bool force_over_temperature = false;            // the sensor then reads 5 degrees above lb_max_temp
  std::optional<std::uint8_t> forced_board_state; // e.g. 2 (flags kept) or above 3 (garbled)

  // Faults: each counter is the number of coming replies affected (-1: all of them).
  int lose_replies = 0;
  int late_replies = 0;
  int garbage_replies = 0;
  // Replies still given before the device falls silent for good (-1: no end).
  int answer_limit = -1;
  // Faults that strike a waveform while it plays: that long after its start the board is pulled
  // out, or gets hot (negative: never). Each strikes once.
  std::chrono::nanoseconds board_removed_into_run{-1};
  std::chrono::nanoseconds hot_into_run{-1};
  // Commands whose replies are always lost (the command itself still takes effect).
  std::set<std::uint8_t> unanswered;

  // What the device has been told.
  std::uint16_t dac_code = 0;
  std::uint16_t temperature_limit_code = 0;
  std::uint16_t zero_code = 0;
  std::uint8_t return_to_zero = 0;
  std::uint16_t written_fs_dac_code = 0;
  std::uint16_t status_temperature_code() const;
  std::uint16_t status_sensor_code() const;
  std::uint8_t board_state() const;

  // Upload and play.
  const std::vector<std::uint16_t> &received_words() const { return words_; }
  const Waveform &waveform() const { return waveform_; }
  bool is_playing();
  int blocks_received() const { return blocks_; }
  std::uint64_t command_count(std::uint8_t code) const { return counts_[code]; }
  // The most recent output reports (report ID included), oldest first.
  const std::deque<std::vector<std::uint8_t>> &log() const { return log_; }
  void clear_log() { log_.clear(); }

  static Waveform decode(std::span<const std::uint16_t> words);

private:
  static bool take_fault(int &counter);
  std::chrono::nanoseconds now() const;
  void answer(std::uint8_t code, const std::uint8_t *data, std::array<std::uint8_t, reply_size> &out);
  float record_float(int offset) const { return ieee_value(record.data() + offset); }
  std::uint16_t volts_to_code(long double volts) const;

  Clock clock_;
  bool board_present_ = true;
  std::vector<std::uint16_t> words_;
  int upload_index_ = 0;
  int blocks_ = 0;
  Waveform waveform_;
  bool playing_ = false;
  std::chrono::nanoseconds play_start_{0};
  std::chrono::nanoseconds play_length_{0}; // 0 with repeat 0: until stopped
  std::array<std::uint64_t, 256> counts_{};
  std::deque<std::vector<std::uint8_t>> log_;
  std::mt19937 garbage_{5200};
};
