#include "QX5200_Driver.h"

#include "QX5200_Protocol.h"

#include <QElapsedTimer>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>

using namespace qx5200_protocol;

namespace {

// Every command and its reply at debug level, lost replies and devices at info level.
Q_LOGGING_CATEGORY(lc_driver, "qx5200.driver", QtWarningMsg)

// A byte of the record as text: one Latin-1 character, or nothing for a zero byte.
QString byte_text(quint8 b) { return b == 0 ? QString() : QString(QChar(b)); }

// The first character of a text as a record byte; 0 for an empty text.
quint8 text_byte(const QString &text) {
  if (text.isEmpty())
    return 0;
  const QChar c = text.at(0);
  return c.unicode() < 256 ? quint8(c.unicode()) : quint8('?');
}

// Two records hold the same bytes: a NaN read from the EEPROM equals itself here.
bool same_real(long double a, long double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool same_record(const TLoadBoardRecord &a, const TLoadBoardRecord &b) {
  return a.lb_name == b.lb_name && a.lb_units == b.lb_units && same_real(a.lb_gain, b.lb_gain) &&
         same_real(a.lb_sensor_gain, b.lb_sensor_gain) && same_real(a.lb_max_temp, b.lb_max_temp) &&
         same_real(a.lb_max_power, b.lb_max_power) && same_real(a.lb_max_p2t, b.lb_max_p2t) &&
         same_real(a.lb_offset, b.lb_offset) && same_real(a.lb_sensor_offset, b.lb_sensor_offset) &&
         a.lb_sensor_units == b.lb_sensor_units && a.lb_return_to_zero == b.lb_return_to_zero &&
         same_real(a.lb_sensor_max, b.lb_sensor_max) && same_real(a.lb_monitor_gain, b.lb_monitor_gain) &&
         a.lb_max_value_byte == b.lb_max_value_byte;
}

} // namespace

TQX5200_DRIVER::TQX5200_DRIVER(QObject *owner, std::unique_ptr<THidBackend> backend)
    : QObject(owner), hid_(new TQHID(this, std::move(backend))), delay_(new TDelay(this)) {
  hid_->set_device_name(QString::fromLatin1(device_product));
  hid_->set_rx_buffer_size(rx_size);
  hid_->set_tx_buffer_size(tx_size);
  value_to_dac_code(0);
}

TQX5200_DRIVER::~TQX5200_DRIVER() {
  // The delay first: a wait in progress must not outlive it, then the transport.
  delete delay_;
  delete hid_;
}

int TQX5200_DRIVER::enumerate() { return hid_->enumerate(); }

bool TQX5200_DRIVER::is_connected() const { return hid_->connected(); }

// One command and the wait for the next input report. The wait runs the message loop and ends
// as soon as a report is stored, the device is lost, or after max_waits ticks of 10 ms. Any
// report stored after the command was sent counts as its reply, even one meant for an earlier
// command that came late.
bool TQX5200_DRIVER::exchange(quint8 code) {
  hid_->send_command(code);
  if (!hid_->connected()) {
    qCDebug(lc_driver, "command %d: no device", code);
    delay_->delay_ms(wait_tick_ms);
    return hid_->data_received();
  }
  // Timed only while the category is on: the reply's wait is what the log is about.
  QElapsedTimer waited;
  if (lc_driver().isDebugEnabled()) {
    waited.start();
    qCDebug(lc_driver, "command %d sent", code);
  }
  TEventWait wait(wait_tick_ms, max_waits);
  wait.end_on(hid_, &TQHID::data_stored);
  wait.end_on(hid_, &TQHID::disconnected);
  wait.run([this] { return !hid_->connected() || hid_->data_received(); });
  if (hid_->data_received())
    qCDebug(lc_driver, "command %d: reply after %lld us", code, waited.nsecsElapsed() / 1000);
  else if (!hid_->connected())
    qCInfo(lc_driver, "command %d: the device was lost while waiting", code);
  else
    qCInfo(lc_driver, "command %d: no reply within %d ms", code, max_waits * wait_tick_ms);
  return hid_->data_received();
}

bool TQX5200_DRIVER::command_without_arguments(quint8 code) {
  hid_->set_tx_buffer_index(0);
  return exchange(code);
}

bool TQX5200_DRIVER::command_with_word(quint8 code, quint16 word) {
  hid_->set_tx_buffer_index(0);
  hid_->put_word(word);
  return exchange(code);
}

bool TQX5200_DRIVER::read_exp_float(quint8 code, long double &value) {
  hid_->set_rx_buffer_index(reply_data_at);
  if (!exchange(code))
    return false;
  value = hid_->get_exp_float();
  return true;
}

// --- Polling -------------------------------------------------------------------------------

bool TQX5200_DRIVER::query_run_state() {
  hid_->set_rx_buffer_index(reply_run_state_at);
  if (!exchange(cmd_run_state))
    return false;
  running_ = hid_->get_byte() == run_state_running;
  return true;
}

bool TQX5200_DRIVER::read_status() {
  hid_->set_rx_buffer_index(reply_data_at);
  if (!exchange(cmd_status))
    return false;
  const quint8 state = hid_->get_byte();
  // A state the device never sends marks a garbled reply: its temperature and sensor codes are
  // as garbled, and a wrong sensor value would move the power and P2t limits. It counts as no
  // reply; the last good reading stays.
  if (state > board_over_temperature) {
    qCInfo(lc_driver, "status reply with board state %d taken as no reply", state);
    return false;
  }
  switch (state) {
  case board_absent:
    load_board_present_ = false;
    board_record_current_ = false;
    over_temperature_ = false;
    load_board().lb_gain = 1.0L;
    load_board().lb_offset = 0.0L;
    break;
  case board_present:
    load_board_present_ = true;
    over_temperature_ = false;
    break;
  case board_over_temperature:
    load_board_present_ = true;
    over_temperature_ = true;
    break;
  case board_keep_flags: break;
  default: break;
  }
  temperature_code_ = hid_->get_word();
  temperature_ = adc_to_temperature(temperature_code_);
  sensor_code_ = hid_->get_word();
  sensor_value_ = volts_to_sensor_value(adc_to_volts(sensor_code_));
  return true;
}

bool TQX5200_DRIVER::read_usb_voltage(long double &volts) {
  volts = 0;
  const bool answered = read_exp_float(cmd_usb_voltage, volts);
  usb_voltage_ = volts;
  return answered;
}

bool TQX5200_DRIVER::set_output_normalized(long double x) {
  return write_dac_code(normalized_to_dac_code(x));
}

bool TQX5200_DRIVER::set_output_value(long double v) { return write_dac_code(value_to_dac_code(v)); }

bool TQX5200_DRIVER::stop_output() { return command_without_arguments(cmd_stop); }

bool TQX5200_DRIVER::initialize() {
  long double value = 0;
  if (!read_dac_offset(value) || !read_adc_offset(value) || !read_adc_gain(value))
    return false;
  quint16 fs = 0;
  if (!read_fs_dac_code(fs) || !write_fs_dac_code(fs))
    return false;
  if (!read_status() || !load_board_present_)
    return false;
  if (!read_load_board_record())
    return false;
  return set_output_normalized(0);
}

// --- Hardware information --------------------------------------------------------------------

bool TQX5200_DRIVER::read_serial_number(quint16 &serial) {
  hid_->set_rx_buffer_index(reply_data_at);
  if (!exchange(cmd_serial_number))
    return false;
  serial_number_ = hid_->get_word();
  serial = serial_number_;
  return true;
}

bool TQX5200_DRIVER::read_revision(QString &text) {
  hid_->set_rx_buffer_index(reply_data_at);
  if (!exchange(cmd_revision))
    return false;
  const int major = hid_->get_byte();
  const int minor = hid_->get_byte();
  revision_ = QString::number(major) + QLatin1Char('.') + QString::number(minor);
  text = revision_;
  return true;
}

bool TQX5200_DRIVER::read_dac_offset(long double &value) {
  if (!read_exp_float(cmd_dac_offset, waveform_.calibration.offset))
    return false;
  value = waveform_.calibration.offset;
  return true;
}

bool TQX5200_DRIVER::read_fs_dac_code(quint16 &code) {
  hid_->set_rx_buffer_index(reply_data_at);
  if (!exchange(cmd_read_fs_dac_code))
    return false;
  code = hid_->get_word();
  return true;
}

bool TQX5200_DRIVER::read_adc_offset(long double &value) {
  if (!read_exp_float(cmd_adc_offset, waveform_.calibration.ad_offset))
    return false;
  value = waveform_.calibration.ad_offset;
  return true;
}

bool TQX5200_DRIVER::read_adc_gain(long double &value) {
  if (!read_exp_float(cmd_adc_gain, waveform_.calibration.ad_gain))
    return false;
  value = waveform_.calibration.ad_gain;
  return true;
}

bool TQX5200_DRIVER::read_load_board_record() {
  TLoadBoardRecord &lb = load_board();
  board_record_current_ = false;
  if (!load_board_present_) {
    lb.lb_gain = 1.0L;
    lb.lb_offset = 0.0L;
    lb.lb_return_to_zero = 0;
    send_load_board_settings();
    lb.lb_name.clear();
    return false;
  }
  if (!read_record_into(lb)) {
    lb.lb_name.clear();
    return false;
  }
  board_record_current_ = true;
  send_load_board_settings();
  return true;
}

bool TQX5200_DRIVER::read_record_into(TLoadBoardRecord &lb) {
  hid_->set_rx_buffer_index(reply_data_at);
  if (!exchange(cmd_read_record))
    return false;
  // Zero bytes are skipped wherever they stand; they do not end the name.
  lb.lb_name.clear();
  for (int i = 0; i < record_name_size; ++i) {
    const quint8 b = hid_->get_byte();
    if (b != 0)
      lb.lb_name.append(QChar(b));
  }
  lb.lb_units = byte_text(hid_->get_byte());
  lb.lb_gain = hid_->get_float();
  lb.lb_sensor_gain = hid_->get_float();
  lb.lb_max_temp = hid_->get_float();
  lb.lb_max_power = hid_->get_float();
  lb.lb_max_p2t = hid_->get_float();
  lb.lb_offset = hid_->get_float();
  lb.lb_sensor_offset = hid_->get_float();
  lb.lb_sensor_units = byte_text(hid_->get_byte());
  lb.lb_return_to_zero = hid_->get_byte();
  lb.lb_sensor_max = hid_->get_float();
  lb.lb_monitor_gain = hid_->get_float();
  lb.lb_max_value_byte = hid_->get_byte();
  lb.lb_max_value = lb.lb_max_value_byte;
  return true;
}

bool TQX5200_DRIVER::write_load_board_record() {
  TLoadBoardRecord &lb = load_board();
  hid_->set_tx_buffer_index(0);
  if (!load_board_present_)
    return false;
  // Name positions beyond the name are sent as zeros, which the reader drops.
  for (int i = 0; i < record_name_size; ++i)
    hid_->put_byte(i < lb.lb_name.size() ? text_byte(lb.lb_name.mid(i, 1)) : 0);
  hid_->put_byte(text_byte(lb.lb_units));
  for (long double x : {lb.lb_gain, lb.lb_sensor_gain, lb.lb_max_temp, lb.lb_max_power, lb.lb_max_p2t,
                        lb.lb_offset, lb.lb_sensor_offset})
    hid_->put_float(x);
  hid_->put_byte(lb.lb_sensor_units.isEmpty() ? quint8('A') : text_byte(lb.lb_sensor_units));
  hid_->put_byte(lb.lb_return_to_zero);
  hid_->put_float(lb.lb_sensor_max);
  hid_->put_float(lb.lb_monitor_gain);
  // Nearest whole number, ties to even; the byte carries its low 8 bits (300 goes as 44).
  const long double whole = std::nearbyint(lb.lb_max_value);
  long double low = std::isfinite(whole) ? std::fmod(whole, 256.0L) : 0;
  if (low < 0)
    low += 256;
  lb.lb_max_value_byte = quint8(low);
  hid_->put_byte(lb.lb_max_value_byte);
  return exchange(cmd_write_record);
}

// --- Single-command writers ----------------------------------------------------------------

bool TQX5200_DRIVER::write_dac_code(quint16 code) { return command_with_word(cmd_dac_code, code); }

bool TQX5200_DRIVER::write_fs_dac_code(quint16 code) {
  return command_with_word(cmd_write_fs_dac_code, code);
}

bool TQX5200_DRIVER::write_temperature_limit(quint16 code) {
  return command_with_word(cmd_temperature_limit, code);
}

bool TQX5200_DRIVER::write_return_to_zero(quint8 flag) {
  hid_->set_tx_buffer_index(0);
  hid_->put_byte(flag);
  return exchange(cmd_return_to_zero);
}

bool TQX5200_DRIVER::write_zero_code(quint16 code) { return command_with_word(cmd_zero_code, code); }

bool TQX5200_DRIVER::send_load_board_settings() {
  const TLoadBoardRecord &lb = load_board();
  return write_temperature_limit(volts_to_adc(lb.lb_max_temp * 0.01L + 0.5L)) &&
         write_return_to_zero(lb.lb_return_to_zero) && write_zero_code(value_to_dac_code(0));
}

// --- Upload ----------------------------------------------------------------------------------

bool TQX5200_DRIVER::upload_prepare() { return command_without_arguments(cmd_upload_prepare); }

bool TQX5200_DRIVER::upload_begin() { return command_without_arguments(cmd_upload_begin); }

bool TQX5200_DRIVER::upload_set_index(quint16 index) { return command_with_word(cmd_upload_index, index); }

bool TQX5200_DRIVER::upload_end() { return command_without_arguments(cmd_upload_end); }

// floor(count / 30) + 1 blocks of 30 words: one more than needed when count is a multiple of
// 30. Words at or beyond count (and beyond the buffer) go as zeros, so the last block never
// reads past the word buffer.
bool TQX5200_DRIVER::upload_blocks(int count) {
  const auto &buffer = waveform_.upload_buffer();
  count = std::clamp(count, 0, int(buffer.size()));
  const int blocks = count / block_words + 1;
  for (int k = 0; k < blocks; ++k) {
    hid_->set_tx_buffer_index(0);
    for (int i = k * block_words; i < (k + 1) * block_words; ++i)
      hid_->put_word(i < count ? buffer[std::size_t(i)] : 0);
    if (!exchange(cmd_upload_block))
      return false;
  }
  return true;
}

bool TQX5200_DRIVER::upload_waveform() {
  // Cleared first: the user may change the points while the replies are awaited, and a rebuild
  // then marks the waveform changed again, so what the device got is not taken as current.
  waveform_.waveform_changed = false;
  const bool sent = upload_prepare() && upload_begin() && upload_set_index(0) &&
                    upload_blocks(waveform_.buffer_count()) && upload_end();
  // A transfer that broke off leaves the device with part of a waveform: the next start must
  // send the words again.
  if (!sent)
    waveform_.waveform_changed = true;
  return sent && !waveform_.waveform_changed;
}

bool TQX5200_DRIVER::start_output() {
  if (waveform_.data_error() || over_temperature_)
    return false;
  // Starting after a failed upload would run whatever the device holds and report success.
  if (waveform_.waveform_changed && !upload_waveform())
    return false;
  // The points may have turned bad during the upload's waits.
  if (waveform_.data_error())
    return false;
  return exchange(cmd_start);
}

bool TQX5200_DRIVER::start_for_inserted_board(TBoardCheck &check) {
  check = board_ok;
  if (waveform_.data_error() || over_temperature_)
    return false;
  if (waveform_.waveform_changed && !upload_waveform())
    return false;
  // Checked after the upload, the last wait before the start: the board may have been pulled or
  // swapped at any time since the words were built, and words built for another gain would
  // drive the new board far beyond what the table asks for.
  check = check_inserted_board();
  // The points may also have changed during the check's waits: the device holds the old words.
  if (check != board_ok || waveform_.data_error() || waveform_.waveform_changed || over_temperature_)
    return false;
  return exchange(cmd_start);
}

TQX5200_DRIVER::TBoardCheck TQX5200_DRIVER::check_inserted_board() {
  if (!words_board_)
    return board_none;
  if (!read_status())
    return board_unanswered;
  if (!load_board_present_)
    return board_none;
  TLoadBoardRecord now;
  if (!read_record_into(now))
    return board_unanswered;
  return same_record(now, *words_board_) ? board_ok : board_changed;
}

bool TQX5200_DRIVER::build_waveform(long double sensor) {
  words_board_.reset();
  if (board_record_current_ && load_board_present_)
    words_board_ = load_board();
  return waveform_.build_waveform(sensor);
}

// --- Conversions -------------------------------------------------------------------------------

quint16 TQX5200_DRIVER::normalized_to_dac_code(long double x) {
  dac_code_ = ::normalized_to_dac_code(x, waveform_.calibration);
  return dac_code_;
}

quint16 TQX5200_DRIVER::value_to_dac_code(long double v) {
  dac_code_ = ::value_to_dac_code(v, waveform_.load_board, waveform_.calibration);
  return dac_code_;
}

long double TQX5200_DRIVER::adc_to_volts(quint16 code) const {
  if (code == 0)
    return 0;
  return code * ad_gain() + ad_offset();
}

quint16 TQX5200_DRIVER::volts_to_adc(long double v) const {
  const long double g = ad_gain() == 0 ? 1.0L : ad_gain();
  if (std::fabs(v) > 100)
    v = 0;
  const long double r = std::nearbyint((v - ad_offset()) / g);
  // A result that is not a number or does not fit counts as a failed computation.
  if (!std::isfinite(r) || std::fabs(r) > 9.0e18L)
    return 0;
  return quint16(static_cast<long long>(r) & 0xFFFF);
}

long double TQX5200_DRIVER::volts_to_sensor_value(long double v) const {
  if (v == 0)
    return 0;
  return v * load_board().lb_sensor_gain + load_board().lb_sensor_offset;
}

long double TQX5200_DRIVER::adc_to_temperature(quint16 code) const {
  return (adc_to_volts(code) - 0.5L) / 0.01L;
}
