#pragma once

#include "Delay.h"
#include "LoadBoardRecord.h"
#include "QX5200_Conversions.h"
#include "QX5200_Protocol.h"
#include "QX5200_Waveform.h"
#include "tqhid_unit.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class THidBackend;

// The component through which the program talks to the QX5200: the command set with its reply
// layouts, the wait for a reply, the start-up sequence, the status poll, the load board record,
// the conversions, and the upload and start of the waveform. Every device operation returns
// whether a reply came; nothing here shows messages, raises errors or retries.
//
// The waveform side (point list, validation, statistics, upload words) is one owned
// TQX5200Waveform; its operations are offered here under their own names.
class TQX5200_DRIVER : public QObject {
  Q_OBJECT
public:
  static constexpr const char *device_product = qx5200_protocol::product_string;
  static constexpr int rx_size = int(qx5200_protocol::reply_bytes_used);
  static constexpr int tx_size = int(qx5200_protocol::command_data_size);
  static constexpr int wait_tick_ms = 10;
  static constexpr int max_waits = 50;
  static constexpr int block_words = qx5200_protocol::block_words;

  // The back end goes down to the transport's controller (an empty one: no device is ever found).
  TQX5200_DRIVER(QObject *owner, std::unique_ptr<THidBackend> backend);
  ~TQX5200_DRIVER() override;

  TQHID *hid() const { return hid_; }
  TDelay *delay() const { return delay_; }

  // Connection and polling.
  int enumerate();
  bool is_connected() const;
  bool is_running() const { return running_; }
  bool initialize();
  bool query_run_state();
  bool read_status();
  bool read_usb_voltage(long double &volts);
  bool set_output_normalized(long double x);
  bool set_output_value(long double v);
  bool stop_output();

  // Hardware information.
  bool read_serial_number(quint16 &serial);
  bool read_revision(QString &text);
  bool read_dac_offset(long double &value);
  bool read_fs_dac_code(quint16 &code);
  bool read_adc_offset(long double &value);
  bool read_adc_gain(long double &value);
  bool read_load_board_record();
  bool write_load_board_record();

  // Upload.
  bool upload_prepare();
  bool upload_begin();
  bool upload_set_index(quint16 index);
  bool upload_blocks(int count);
  bool upload_end();
  bool upload_waveform();
  bool start_output();

  // What the board check before a start found.
  enum TBoardCheck { board_ok, board_none, board_changed, board_unanswered };
  // start_output for a device whose board may have changed since the words were built: after
  // the upload, the status and the record are read again, and 33 is sent only when a board is
  // in and its record is the one the words were built against. `check` says why a start was
  // refused for the board's sake (board_ok otherwise).
  bool start_for_inserted_board(TBoardCheck &check);
  // The record in load_board() was read from the board that, as far as the last status read
  // knows, is inserted now.
  bool board_record_current() const { return board_record_current_; }

  // Conversions. The DAC conversions store their result in dac_code.
  quint16 normalized_to_dac_code(long double x);
  quint16 value_to_dac_code(long double v);
  long double adc_to_volts(quint16 code) const;
  quint16 volts_to_adc(long double v) const;
  long double volts_to_sensor_value(long double v) const;
  long double adc_to_temperature(quint16 code) const;

  // Device-side state.
  long double offset() const { return waveform_.calibration.offset; }
  long double dac_step() const { return ::dac_step; }
  long double ad_offset() const { return waveform_.calibration.ad_offset; }
  long double ad_gain() const { return waveform_.calibration.ad_gain; }
  quint16 serial_number() const { return serial_number_; }
  const QString &revision() const { return revision_; }
  quint16 dac_code() const { return dac_code_; }
  bool running() const { return running_; }
  bool load_board_present() const { return load_board_present_; }
  bool over_temperature() const { return over_temperature_; }
  quint16 temperature_code() const { return temperature_code_; }
  long double temperature() const { return temperature_; }
  quint16 sensor_code() const { return sensor_code_; }
  long double sensor_value() const { return sensor_value_; }
  // The last read_usb_voltage's reading (0 when it got no answer).
  long double usb_voltage() const { return usb_voltage_; }

  // The load board record (the lb_* fields), read and written directly by its users.
  TLoadBoardRecord &load_board() { return waveform_.load_board; }
  const TLoadBoardRecord &load_board() const { return waveform_.load_board; }

  // The waveform side.
  TQX5200Waveform &waveform() { return waveform_; }
  const TQX5200Waveform &waveform() const { return waveform_; }
  int repeat_count() const { return waveform_.repeat_count; }
  void set_repeat_count(int count) { waveform_.repeat_count = count; }
  bool waveform_changed() const { return waveform_.waveform_changed; }
  void set_waveform_changed(bool changed) { waveform_.waveform_changed = changed; }
  void add_point(long double time, long double value) { waveform_.add_point(time, value); }
  void clear_points() { waveform_.clear_points(); }
  void set_points(std::vector<TWavePoint> points) { waveform_.set_points(std::move(points)); }
  void get_point(qsizetype index, TWavePoint &point) const { waveform_.get_point(index, point); }
  void get_device_point(qsizetype index, TWavePoint &point) const {
    waveform_.get_device_point(index, point);
  }
  qsizetype data_count() const { return waveform_.data_count(); }
  qsizetype sampled_data_count() const { return waveform_.sampled_data_count(); }
  long double max_time() const { return waveform_.max_time(); }
  bool check_times() { return waveform_.check_times(); }
  void compute_statistics(long double sensor) { waveform_.compute_statistics(sensor); }
  // Builds the words and remembers which board record (if any) they were built against.
  bool build_waveform(long double sensor);
  bool data_error() const { return waveform_.data_error(); }
  int error_type() const { return waveform_.error_type(); }
  int error_index() const { return waveform_.error_index(); }
  int buffer_count() const { return waveform_.buffer_count(); }
  long double max_value() const { return waveform_.max_value(); }
  long double max_dy() const { return waveform_.max_dy(); }
  long double min_dy() const { return waveform_.min_dy(); }
  long double max_dx() const { return waveform_.max_dx(); }
  long double min_dx() const { return waveform_.min_dx(); }
  long double max_dy_dx() const { return waveform_.max_dy_dx(); }
  long double total_time() const { return waveform_.total_time(); }
  long double pulse_time() const { return waveform_.pulse_time(); }
  long double average() const { return waveform_.average(); }
  long double pulse_average() const { return waveform_.pulse_average(); }
  long double average_power() const { return waveform_.average_power(); }
  long double pulse_power() const { return waveform_.pulse_power(); }
  long double energy() const { return waveform_.energy(); }
  long double p2t() const { return waveform_.p2t(); }

private:
  bool exchange(quint8 code);
  bool write_dac_code(quint16 code);
  bool write_fs_dac_code(quint16 code);
  bool write_temperature_limit(quint16 code);
  bool write_return_to_zero(quint8 flag);
  bool write_zero_code(quint16 code);
  bool send_load_board_settings();
  bool command_without_arguments(quint8 code);
  bool command_with_word(quint8 code, quint16 word);
  bool read_exp_float(quint8 code, long double &value);
  bool read_record_into(TLoadBoardRecord &lb);
  TBoardCheck check_inserted_board();

  TQHID *hid_;
  TDelay *delay_;
  TQX5200Waveform waveform_;

  quint16 serial_number_ = 0;
  QString revision_;
  quint16 dac_code_ = 0;
  bool running_ = false;
  bool load_board_present_ = false;
  bool over_temperature_ = false;
  quint16 temperature_code_ = 0;
  long double temperature_ = 0;
  long double usb_voltage_ = 0;
  quint16 sensor_code_ = 0;
  long double sensor_value_ = 0;
  bool board_record_current_ = false;
  // The record the current words were built against; empty when built without a board.
  std::optional<TLoadBoardRecord> words_board_;
};
