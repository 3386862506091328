#include "QX5200_Driver.h"
#include "RunLog.h"
#include "TVirtualQX5200Device.h"
#include "full_disk.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A driver connected to a virtual QX5200 on its own bus.
// Enumerates until the device is taken, as the main window's poll does (the device list is
// scanned once the event loop runs).
bool take_device(TQX5200_DRIVER &driver) {
  return QTest::qWaitFor([&] { return driver.enumerate() >= 0 && driver.is_connected(); }, 5000);
}

// The commands of a full upload of `count` words and the start.
std::vector<int> upload_and_start(int count) {
  std::vector<int> codes{2, 1, 23};
  codes.insert(codes.end(), std::size_t(count / 30 + 1), 24);
  codes.push_back(3);
  codes.push_back(33);
  return codes;
}

struct Rig {
  std::shared_ptr<VirtualHidBus> bus = VirtualHidBus::create();
  TVirtualQX5200Device device{bus};
  TQX5200_DRIVER driver{nullptr, bus->make_backend()};
  TVirtualQX5200 &model = device.model();

  Rig() {
    if (!take_device(driver))
      qFatal("the virtual device was not taken");
    model.clear_log();
  }

  // Command codes of the output reports sent since the log was last cleared.
  std::vector<int> codes() const {
    std::vector<int> out;
    for (const auto &r : model.log())
      out.push_back(r[1]);
    return out;
  }
  const std::vector<std::uint8_t> &last_report() const { return model.log().back(); }
};

long double abs_diff(long double a, long double b) { return std::fabs(a - b); }

} // namespace

class TestQX5200Driver : public QObject {
  Q_OBJECT
private slots:
  void constructor_values();
  void identity_and_calibration();
  void usb_voltage_and_missing_reply();
  void status_board_states_data();
  void status_board_states();
  void run_state_reads_byte_zero();
  void initialize_full_sequence();
  void initialize_stops_at_first_failure_data();
  void initialize_stops_at_first_failure();
  void initialize_without_board();
  void record_read_layout();
  void record_read_without_board_or_reply();
  void record_write_max_value_data();
  void record_write_max_value();
  void record_write_layout_and_round_trip();
  void upload_block_counts_data();
  void upload_block_counts();
  void upload_last_block_is_zero_filled();
  void start_output_refusals();
  void failed_upload_is_not_started();
  void points_changed_during_upload_data();
  void points_changed_during_upload();
  void late_reply_taken_by_next_command();
  void no_device_fails_after_one_wait();
  void unplug_and_replug();
  void garbage_replies_are_harmless();
  void conversions();
  void delay_waits_and_nests();
  void simulated_device_back_end();
  void run_log_on_a_full_disk();
};

void TestQX5200Driver::constructor_values() {
  TQX5200_DRIVER d(nullptr, VirtualHidBus::create()->make_backend());
  QCOMPARE(d.hid()->device_name(), QStringLiteral("QUOR LABS QX5200"));
  QCOMPARE(d.hid()->rx_buffer_size(), 49);
  QCOMPARE(d.hid()->tx_buffer_size(), 60);
  QCOMPARE(double(d.offset()), 32768.0);
  QCOMPARE(d.dac_code(), quint16(0));
  QVERIFY(d.waveform_changed());
  QCOMPARE(d.value_to_dac_code(5), quint16(0)); // nothing maps anywhere before calibration
}

void TestQX5200Driver::identity_and_calibration() {
  Rig rig;
  rig.model.serial_number = 0xABCD;
  quint16 serial = 0;
  QVERIFY(rig.driver.read_serial_number(serial));
  QCOMPARE(serial, quint16(43981));
  QCOMPARE(rig.driver.serial_number(), quint16(43981));
  QCOMPARE(rig.last_report().size(), std::size_t(62));
  QCOMPARE(int(rig.last_report()[0]), 0);
  QCOMPARE(int(rig.last_report()[1]), 8);

  QString revision;
  QVERIFY(rig.driver.read_revision(revision));
  QCOMPARE(revision, QStringLiteral("2.15"));
  QCOMPARE(rig.driver.revision(), QStringLiteral("2.15"));

  long double v = 0;
  QVERIFY(rig.driver.read_dac_offset(v));
  QCOMPARE(double(v), -1.0 / 4096);
  QCOMPARE(double(rig.driver.offset()), -1.0 / 4096);
  rig.model.ad_offset = -0.75f;
  QVERIFY(rig.driver.read_adc_offset(v));
  QCOMPARE(double(rig.driver.ad_offset()), -0.75);
  rig.model.ad_gain = 1.0f / 1024;
  QVERIFY(rig.driver.read_adc_gain(v));
  QCOMPARE(double(rig.driver.ad_gain()), 1.0 / 1024);
  quint16 fs = 0;
  QVERIFY(rig.driver.read_fs_dac_code(fs));
  QCOMPARE(fs, quint16(65400));
  QCOMPARE(rig.codes(), (std::vector<int>{8, 11, 22, 37, 40, 30}));

  // A lost reply leaves the value as it was.
  rig.model.lose_replies = 1;
  rig.model.dac_offset = 0.5f;
  QVERIFY(!rig.driver.read_dac_offset(v));
  QCOMPARE(double(rig.driver.offset()), -1.0 / 4096);
}

void TestQX5200Driver::usb_voltage_and_missing_reply() {
  Rig rig;
  long double volts = -1;
  QVERIFY(rig.driver.read_usb_voltage(volts));
  QCOMPARE(double(volts), double(4.98f));
  rig.model.lose_replies = 1;
  QVERIFY(!rig.driver.read_usb_voltage(volts));
  QCOMPARE(double(volts), 0.0);
}

void TestQX5200Driver::status_board_states_data() {
  QTest::addColumn<int>("state");
  QTest::addColumn<bool>("present");
  QTest::addColumn<bool>("over");
  QTest::addColumn<bool>("reset_gain");
  // The flags start as present and over-temperature.
  QTest::newRow("0 no board") << 0 << false << false << true;
  QTest::newRow("1 board") << 1 << true << false << false;
  QTest::newRow("2 unknown") << 2 << true << true << false;
  QTest::newRow("3 over-temperature") << 3 << true << true << false;
  QTest::newRow("200 unknown") << 200 << true << true << false;
}

void TestQX5200Driver::status_board_states() {
  QFETCH(int, state);
  QFETCH(bool, present);
  QFETCH(bool, over);
  QFETCH(bool, reset_gain);
  Rig rig;
  rig.model.force_over_temperature = true;
  QVERIFY(rig.driver.read_status());
  QVERIFY(rig.driver.load_board_present());
  QVERIFY(rig.driver.over_temperature());
  rig.driver.load_board().lb_gain = 100;
  rig.driver.load_board().lb_offset = 3;
  rig.driver.load_board().lb_sensor_gain = 25;
  rig.model.forced_board_state = std::uint8_t(state);
  rig.model.force_over_temperature = false; // the sensor reads temperature_c again
  rig.model.temperature_c = 40;
  QVERIFY(rig.driver.read_status());
  QCOMPARE(rig.driver.load_board_present(), present);
  QCOMPARE(rig.driver.over_temperature(), over);
  QCOMPARE(double(rig.driver.load_board().lb_gain), reset_gain ? 1.0 : 100.0);
  QCOMPARE(double(rig.driver.load_board().lb_offset), reset_gain ? 0.0 : 3.0);
  // Temperature and sensor always follow the reply.
  QCOMPARE(rig.driver.temperature_code(), rig.model.status_temperature_code());
  QVERIFY(abs_diff(rig.driver.temperature(), 40) < 0.1);
  QCOMPARE(rig.driver.sensor_code(), rig.model.status_sensor_code());
  QVERIFY(abs_diff(rig.driver.sensor_value(), 12) < 0.05);
}

void TestQX5200Driver::run_state_reads_byte_zero() {
  Rig rig;
  QVERIFY(rig.driver.query_run_state());
  QVERIFY(!rig.driver.is_running());
  rig.driver.set_repeat_count(0);
  rig.driver.add_point(0, 0);
  rig.driver.add_point(1e-3L, 10);
  QVERIFY(!rig.driver.build_waveform(0));
  QVERIFY(rig.driver.start_output());
  QVERIFY(rig.driver.query_run_state());
  QVERIFY(rig.driver.is_running());
  QVERIFY(rig.driver.stop_output());
  rig.model.lose_replies = 1;
  QVERIFY(!rig.driver.query_run_state()); // unanswered: the last answer stands
  QVERIFY(rig.driver.is_running());
  QVERIFY(rig.driver.query_run_state());
  QVERIFY(!rig.driver.is_running());
}

void TestQX5200Driver::initialize_full_sequence() {
  Rig rig;
  QVERIFY(rig.driver.initialize());
  QCOMPARE(rig.codes(), (std::vector<int>{22, 37, 40, 30, 28, 34, 35, 39, 49, 48, 20}));
  QCOMPARE(rig.model.written_fs_dac_code, quint16(65400));
  QVERIFY(rig.driver.load_board_present());
  QCOMPARE(rig.driver.load_board().lb_name, QStringLiteral("LB1"));
  // The limit of 80 degrees as the ADC code of 1.3 V: (1.3 + 1) * 4096 / 3 = 3140.27.
  QCOMPARE(rig.model.temperature_limit_code, quint16(3140));
  QCOMPARE(rig.model.return_to_zero, quint8(0));
  // Zero output with an offset of -1/4096 normalised units is 8 codes above mid-scale.
  QCOMPARE(rig.model.zero_code, quint16(32776));
  QCOMPARE(rig.model.dac_code, quint16(32776));
  QCOMPARE(rig.driver.value_to_dac_code(50), quint16(32776 + 16316));
  // 50 of the board's full swing of 100 is half of the 32632 codes above mid-scale.
  QVERIFY(rig.driver.set_output_value(50));
  QCOMPARE(rig.model.dac_code, quint16(32776 + 16316));
  QVERIFY(rig.driver.set_output_value(-500)); // limited to the board's maximum value, 100
  QCOMPARE(rig.model.dac_code, quint16(32776 - 32632));
  QVERIFY(rig.driver.set_output_normalized(2)); // limited to full scale
  QCOMPARE(rig.model.dac_code, quint16(65400));
}

void TestQX5200Driver::initialize_stops_at_first_failure_data() {
  QTest::addColumn<int>("silent");
  QTest::addColumn<int>("sent");
  const int order[] = {22, 37, 40, 30, 28, 34, 35, 39, 49, 48, 20};
  for (int k = 0; k < 11; ++k) {
    // The record read itself succeeds when only the settings behind it fail.
    const bool settings = order[k] == 39 || order[k] == 49 || order[k] == 48;
    const int sent = settings ? (order[k] == 39 ? 8 : order[k] == 49 ? 9 : 10) + 1 : k + 1;
    QTest::addRow("command %d", order[k]) << order[k] << sent;
  }
}

void TestQX5200Driver::initialize_stops_at_first_failure() {
  QFETCH(int, silent);
  QFETCH(int, sent);
  Rig rig;
  rig.model.unanswered.insert(std::uint8_t(silent));
  const bool settings = silent == 39 || silent == 49 || silent == 48;
  // A failed settings step does not fail the record read, so the sequence goes on to 20.
  QCOMPARE(rig.driver.initialize(), settings);
  const auto codes = rig.codes();
  if (settings) {
    QCOMPARE(int(codes.size()), sent);
    QCOMPARE(codes.back(), 20);
  } else {
    QCOMPARE(int(codes.size()), sent);
    QCOMPARE(codes.back(), silent);
  }
}

void TestQX5200Driver::initialize_without_board() {
  Rig rig;
  rig.model.set_board_present(false);
  QVERIFY(!rig.driver.initialize());
  QCOMPARE(rig.codes(), (std::vector<int>{22, 37, 40, 30, 28, 34}));
  QVERIFY(!rig.driver.load_board_present());
}

void TestQX5200Driver::record_read_layout() {
  Rig rig;
  QVERIFY(rig.driver.read_status());
  auto &rec = rig.model.record;
  const Bytes name{0x4C, 0x00, 0x42, 0x31, 0x00, 0x00, 0x00};
  std::copy(name.begin(), name.end(), rec.begin());
  rec[46] = 200;
  rec[37] = 1;
  const auto t = TVirtualQX5200::ieee_bytes(60.0f);
  std::copy(t.begin(), t.end(), rec.begin() + 16);
  const auto so = TVirtualQX5200::ieee_bytes(-0.5f);
  std::copy(so.begin(), so.end(), rec.begin() + 32);
  QVERIFY(rig.driver.read_load_board_record());
  const auto &lb = rig.driver.load_board();
  QCOMPARE(lb.lb_name, QStringLiteral("LB1"));
  QCOMPARE(lb.lb_units, QStringLiteral("A"));
  QCOMPARE(double(lb.lb_gain), 100.0);
  QCOMPARE(double(lb.lb_sensor_gain), 25.0);
  QCOMPARE(double(lb.lb_max_temp), 60.0);
  QCOMPARE(double(lb.lb_max_power), 50.0);
  QCOMPARE(double(lb.lb_max_p2t), 100.0);
  QCOMPARE(double(lb.lb_offset), 0.0);
  QCOMPARE(double(lb.lb_sensor_offset), -0.5);
  QCOMPARE(lb.lb_sensor_units, QStringLiteral("V"));
  QCOMPARE(int(lb.lb_return_to_zero), 1);
  QCOMPARE(double(lb.lb_sensor_max), 50.0);
  QCOMPARE(double(lb.lb_monitor_gain), double(0.01f));
  QCOMPARE(double(lb.lb_max_value), 200.0);
  QCOMPARE(int(lb.lb_max_value_byte), 200);
  // The settings follow the record just read: 60 degrees is the ADC code of 1.1 V.
  QCOMPARE(rig.codes(), (std::vector<int>{34, 35, 39, 49, 48}));
  QCOMPARE(rig.model.temperature_limit_code, quint16(2867));
  QCOMPARE(rig.model.return_to_zero, quint8(1));
}

void TestQX5200Driver::record_read_without_board_or_reply() {
  Rig rig;
  QVERIFY(rig.driver.read_status());
  QVERIFY(rig.driver.read_load_board_record());
  rig.driver.load_board().lb_offset = 2;
  rig.driver.load_board().lb_return_to_zero = 1;

  rig.model.unanswered.insert(35);
  QVERIFY(!rig.driver.read_load_board_record());
  QCOMPARE(rig.driver.load_board().lb_name, QString());
  QCOMPARE(double(rig.driver.load_board().lb_gain), 100.0);
  QCOMPARE(double(rig.driver.load_board().lb_offset), 2.0);
  rig.model.unanswered.clear();

  rig.model.set_board_present(false);
  QVERIFY(rig.driver.read_status()); // state 0 resets gain and offset
  rig.driver.load_board().lb_gain = 7;
  rig.model.clear_log();
  QVERIFY(!rig.driver.read_load_board_record());
  QCOMPARE(rig.codes(), (std::vector<int>{39, 49, 48})); // no 35 without a board
  const auto &lb = rig.driver.load_board();
  QCOMPARE(double(lb.lb_gain), 1.0);
  QCOMPARE(double(lb.lb_offset), 0.0);
  QCOMPARE(int(lb.lb_return_to_zero), 0);
  QCOMPARE(lb.lb_name, QString());
  QCOMPARE(double(lb.lb_max_temp), 80.0); // the last board's other fields stay
}

void TestQX5200Driver::record_write_max_value_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<int>("byte");
  QTest::newRow("2.5 ties to even") << 2.5 << 2;
  QTest::newRow("3.5 ties to even") << 3.5 << 4;
  QTest::newRow("300 wraps") << 300.0 << 44;
  QTest::newRow("255") << 255.0 << 255;
  QTest::newRow("-1") << -1.0 << 255;
  QTest::newRow("nan") << double(NAN) << 0;
}

void TestQX5200Driver::record_write_max_value() {
  QFETCH(double, value);
  QFETCH(int, byte);
  Rig rig;
  QVERIFY(rig.driver.read_status());
  rig.driver.load_board().lb_max_value = value;
  QVERIFY(rig.driver.write_load_board_record());
  QCOMPARE(int(rig.model.record[46]), byte);
  QCOMPARE(int(rig.driver.load_board().lb_max_value_byte), byte);
}

void TestQX5200Driver::record_write_layout_and_round_trip() {
  Rig rig;
  auto &lb = rig.driver.load_board();
  QVERIFY(!rig.driver.write_load_board_record()); // no status read yet: no board known
  QVERIFY(rig.codes().empty());

  QVERIFY(rig.driver.read_status());
  lb.lb_name = QStringLiteral("LB1");
  lb.lb_units = QStringLiteral("A");
  lb.lb_gain = 1.0L;
  lb.lb_sensor_gain = 0.1L;
  lb.lb_max_temp = 70;
  lb.lb_max_power = 150;
  lb.lb_max_p2t = 2.5L;
  lb.lb_offset = -2.5L;
  lb.lb_sensor_offset = 0.25L;
  lb.lb_sensor_units.clear();
  lb.lb_return_to_zero = 1;
  lb.lb_sensor_max = 20;
  lb.lb_monitor_gain = 0.5L;
  lb.lb_max_value = 99;
  QVERIFY(rig.driver.write_load_board_record());
  const auto &r = rig.last_report();
  QCOMPARE(int(r[1]), 36);
  const Bytes head(r.begin() + 2, r.begin() + 14);
  QCOMPARE(head, (Bytes{'L', 'B', '1', 0, 0, 0, 0, 'A', 0x3F, 0x80, 0x00, 0x00}));
  QCOMPARE(Bytes(r.begin() + 2 + 12, r.begin() + 2 + 16), (Bytes{0x3D, 0xCC, 0xCC, 0xCC})); // truncated
  QCOMPARE(Bytes(r.begin() + 2 + 28, r.begin() + 2 + 32), (Bytes{0xC0, 0x20, 0x00, 0x00}));
  QCOMPARE(int(r[2 + 36]), int('A'));
  QCOMPARE(int(r[2 + 37]), 1);
  QCOMPARE(int(r[2 + 46]), 99);

  // Read back what the board stored.
  lb = TLoadBoardRecord{};
  QVERIFY(rig.driver.read_load_board_record());
  QCOMPARE(lb.lb_name, QStringLiteral("LB1"));
  QCOMPARE(double(lb.lb_max_power), 150.0);
  QCOMPARE(double(lb.lb_max_p2t), 2.5);
  QCOMPARE(double(lb.lb_offset), -2.5);
  QCOMPARE(double(lb.lb_sensor_offset), 0.25);
  QCOMPARE(lb.lb_sensor_units, QStringLiteral("A"));
  QCOMPARE(double(lb.lb_max_value), 99.0);
  QVERIFY(abs_diff(lb.lb_sensor_gain, 0.1L) < 1e-7L);

  rig.model.unanswered.insert(36);
  QVERIFY(!rig.driver.write_load_board_record());
}

void TestQX5200Driver::upload_block_counts_data() {
  QTest::addColumn<int>("count");
  QTest::addColumn<int>("blocks");
  QTest::newRow("0") << 0 << 1;
  QTest::newRow("29") << 29 << 1;
  QTest::newRow("30") << 30 << 2;
  QTest::newRow("59") << 59 << 2;
  QTest::newRow("60") << 60 << 3;
  QTest::newRow("7959") << 7959 << 266;
}

void TestQX5200Driver::upload_block_counts() {
  QFETCH(int, count);
  QFETCH(int, blocks);
  Rig rig;
  QVERIFY(rig.driver.upload_blocks(count));
  QCOMPARE(rig.codes(), std::vector<int>(std::size_t(blocks), 24));
  // A block that is not answered ends the transfer.
  rig.model.clear_log();
  rig.model.unanswered.insert(24);
  QVERIFY(!rig.driver.upload_blocks(count));
  QCOMPARE(rig.codes(), std::vector<int>{24});
}

void TestQX5200Driver::upload_last_block_is_zero_filled() {
  Rig rig;
  QVERIFY(rig.driver.initialize());
  // A long waveform first, so the word buffer holds words behind the short one's.
  rig.driver.set_repeat_count(1);
  for (int i = 0; i <= 40; ++i)
    rig.driver.add_point(i * 1e-6L, i % 2 ? 50 : 0);
  QVERIFY(!rig.driver.build_waveform(0));
  const int long_count = rig.driver.buffer_count();
  rig.driver.clear_points();
  rig.driver.add_point(0, 0);
  rig.driver.add_point(2e-4L, 10);
  QVERIFY(!rig.driver.build_waveform(0));
  const int count = rig.driver.buffer_count();
  QVERIFY(count < long_count);
  QVERIFY(rig.driver.upload_waveform());
  const auto &words = rig.model.received_words();
  QCOMPARE(int(words.size()), (count / 30 + 1) * 30);
  const auto &buffer = rig.driver.waveform().upload_buffer();
  for (int i = 0; i < int(words.size()); ++i)
    QCOMPARE(words[std::size_t(i)], i < count ? buffer[std::size_t(i)] : quint16(0));
  QVERIFY(rig.model.waveform().valid);
  QVERIFY(!rig.driver.waveform_changed());
}

void TestQX5200Driver::start_output_refusals() {
  Rig rig;
  QVERIFY(rig.driver.initialize());
  rig.driver.add_point(0, 0);
  QVERIFY(rig.driver.build_waveform(0)); // one point: no data
  rig.model.clear_log();
  QVERIFY(!rig.driver.start_output());
  QVERIFY(rig.codes().empty());

  rig.driver.add_point(1e-3L, 20);
  QVERIFY(!rig.driver.build_waveform(0));
  rig.model.force_over_temperature = true;
  QVERIFY(rig.driver.read_status());
  rig.model.clear_log();
  QVERIFY(!rig.driver.start_output());
  QVERIFY(rig.codes().empty());

  rig.model.force_over_temperature = false;
  QVERIFY(rig.driver.read_status());
  rig.model.clear_log();
  QVERIFY(rig.driver.start_output());
  QCOMPARE(rig.codes(), upload_and_start(rig.driver.buffer_count()));
  // An unchanged waveform starts again without being sent again.
  rig.model.clear_log();
  QVERIFY(rig.driver.start_output());
  QCOMPARE(rig.codes(), std::vector<int>{33});
}

void TestQX5200Driver::failed_upload_is_not_started() {
  Rig rig;
  QVERIFY(rig.driver.initialize());
  rig.driver.add_point(0, 0);
  rig.driver.add_point(1e-3L, 20);
  QVERIFY(!rig.driver.build_waveform(0));
  rig.model.clear_log();
  rig.model.unanswered.insert(23);
  QVERIFY(!rig.driver.start_output());
  QCOMPARE(rig.codes(), (std::vector<int>{2, 1, 23}));
  QVERIFY(rig.driver.waveform_changed()); // the next start sends the words again
  rig.model.unanswered.clear();
  rig.model.clear_log();
  QVERIFY(rig.driver.start_output());
  QCOMPARE(rig.codes(), upload_and_start(rig.driver.buffer_count()));
  QVERIFY(rig.driver.query_run_state());
  QVERIFY(rig.driver.is_running());
}

void TestQX5200Driver::points_changed_during_upload_data() {
  QTest::addColumn<bool>("still_valid");
  QTest::newRow("turned into no data") << false;
  QTest::newRow("another valid waveform") << true;
}

// The window lets the user load a file or click START while the upload's replies are awaited:
// whatever the device got then is neither started nor taken as sent.
void TestQX5200Driver::points_changed_during_upload() {
  QFETCH(bool, still_valid);
  Rig rig;
  QVERIFY(rig.driver.initialize());
  rig.driver.add_point(0, 0);
  rig.driver.add_point(1e-3L, 20);
  QVERIFY(!rig.driver.build_waveform(0));
  rig.model.clear_log();
  bool changed = false;
  connect(rig.driver.hid(), &TQHID::data_stored, this, [&] {
    if (changed || rig.model.blocks_received() == 0)
      return;
    changed = true;
    rig.driver.clear_points();
    rig.driver.add_point(0, 0);
    if (still_valid)
      rig.driver.add_point(2e-3L, 10);
    rig.driver.build_waveform(0);
  });
  QVERIFY(!rig.driver.start_output());
  QVERIFY(changed);
  QCOMPARE(rig.model.command_count(33), 0u);
  QCOMPARE(rig.driver.data_error(), !still_valid);
  if (!still_valid)
    return;
  QVERIFY(rig.driver.waveform_changed());
  // The next start sends the new words whole and starts them.
  rig.model.clear_log();
  QVERIFY(rig.driver.start_output());
  QCOMPARE(rig.codes(), upload_and_start(rig.driver.buffer_count()));
  QVERIFY(!rig.driver.waveform_changed());
  const auto &buffer = rig.driver.waveform().upload_buffer();
  const auto &words = rig.model.received_words();
  QVERIFY(std::equal(buffer.begin(), buffer.begin() + rig.driver.buffer_count(), words.begin()));
}

void TestQX5200Driver::late_reply_taken_by_next_command() {
  Rig rig;
  rig.model.serial_number = 0x0A0B;
  rig.model.late_replies = 1;
  quint16 serial = 0;
  QVERIFY(!rig.driver.read_serial_number(serial));
  QCOMPARE(serial, quint16(0));
  // The revision's own reply is lost; the serial number's late one answers it instead.
  rig.model.lose_replies = 1;
  QString revision;
  QVERIFY(rig.driver.read_revision(revision));
  QCOMPARE(revision, QStringLiteral("10.11"));
}

void TestQX5200Driver::no_device_fails_after_one_wait() {
  auto bus = VirtualHidBus::create();
  TQX5200_DRIVER d(nullptr, bus->make_backend());
  QCOMPARE(d.enumerate(), 0);
  QElapsedTimer clock;
  clock.start();
  quint16 serial = 7;
  QVERIFY(!d.read_serial_number(serial));
  long double volts = 1;
  QVERIFY(!d.read_usb_voltage(volts));
  QVERIFY(!d.initialize());
  // One 10 ms wait each, far from the 500 ms a silent device costs.
  QVERIFY2(clock.elapsed() < 400, QByteArray::number(clock.elapsed()));
  QCOMPARE(serial, quint16(7));
  QCOMPARE(double(volts), 0.0);

  // A connected device that stays silent costs the whole wait of 50 ticks.
  TVirtualQX5200Device device(bus);
  QVERIFY(take_device(d));
  device.model().lose_replies = 1;
  clock.restart();
  QVERIFY(!d.read_serial_number(serial));
  QVERIFY2(clock.elapsed() >= 490, QByteArray::number(clock.elapsed()));
}

void TestQX5200Driver::unplug_and_replug() {
  Rig rig;
  QVERIFY(rig.driver.initialize());
  QSignalSpy lost(rig.driver.hid(), &TQHID::disconnected);
  rig.device.unplug();
  QTRY_VERIFY(!rig.driver.is_connected());
  quint16 serial = 0;
  QVERIFY(!rig.driver.read_serial_number(serial));
  QVERIFY(rig.driver.load_board_present()); // a lost device leaves the state as it was
  rig.device.replug();
  QVERIFY(take_device(rig.driver));
  QVERIFY(rig.driver.initialize());
  QVERIFY(rig.driver.read_serial_number(serial));
  QCOMPARE(serial, quint16(5200));
}

void TestQX5200Driver::garbage_replies_are_harmless() {
  Rig rig;
  QVERIFY(rig.driver.initialize());
  rig.model.garbage_replies = -1;
  quint16 w = 0;
  QString text;
  long double v = 0;
  QVERIFY(rig.driver.read_status());
  QVERIFY(rig.driver.read_load_board_record() || !rig.driver.load_board_present());
  QVERIFY(rig.driver.read_revision(text));
  QVERIFY(rig.driver.read_fs_dac_code(w));
  QVERIFY(rig.driver.read_usb_voltage(v));
  QVERIFY(rig.driver.query_run_state());
  // Whatever the record now says, the conversions stay within their ranges.
  rig.driver.value_to_dac_code(1e30L);
  QVERIFY(rig.driver.dac_code() <= 65400);
  rig.model.garbage_replies = 0;
  QVERIFY(rig.driver.read_status());
  QVERIFY(rig.driver.load_board_present());
}

void TestQX5200Driver::conversions() {
  TQX5200_DRIVER d(nullptr, VirtualHidBus::create()->make_backend());
  // Initial calibration: -1 V + code * 3/4096; the sensor sees 0.5 V at 0 degrees.
  QCOMPARE(double(d.adc_to_volts(0)), 0.0);
  QCOMPARE(double(d.adc_to_temperature(0)), -50.0);
  QVERIFY(abs_diff(d.adc_to_temperature(2048), 0) < 1e-12);
  QVERIFY(abs_diff(d.adc_to_temperature(2185), 10.03) < 0.01);
  QCOMPARE(d.volts_to_adc(0.5), quint16(2048));
  QCOMPARE(d.volts_to_adc(150), d.volts_to_adc(0));      // beyond 100 V counts as 0 V
  QCOMPARE(d.volts_to_adc(-3), quint16(quint16(-2731))); // low 16 bits
  QCOMPARE(d.volts_to_adc(NAN), quint16(0));
  QCOMPARE(double(d.volts_to_sensor_value(0)), 0.0);
  d.load_board().lb_sensor_gain = 25;
  d.load_board().lb_sensor_offset = 1;
  QCOMPARE(double(d.volts_to_sensor_value(0.5)), 13.5);
  QCOMPARE(d.normalized_to_dac_code(0), quint16(0)); // offset 32768 before calibration
}

void TestQX5200Driver::delay_waits_and_nests() {
  TDelay delay;
  QElapsedTimer clock;
  clock.start();
  delay.delay_ms(0);
  QVERIFY(!delay.enabled());
  bool ran = false;
  // A handler inside the wait runs its own delay on the same timer; both waits end.
  QTimer::singleShot(5, [&] {
    ran = true;
    delay.delay_ms(30);
  });
  delay.delay_ms(20);
  QVERIFY(ran);
  QVERIFY(!delay.enabled());
  QVERIFY(clock.elapsed() >= 20);
  delay.delay_ms(0.2); // raised to 1 ms
  QVERIFY(!delay.enabled());
}

void TestQX5200Driver::simulated_device_back_end() {
  auto simulated = std::make_unique<TVirtualQX5200Device>(VirtualHidBus::create());
  {
    TQX5200_DRIVER d(nullptr, simulated->bus()->make_backend()); // the one --simulate runs on
    QVERIFY(take_device(d));
    QVERIFY(d.initialize());
    QCOMPARE(d.load_board().lb_name, QStringLiteral("LB1"));
    QVERIFY(simulated->model().command_count(35) > 0);
  }
}

namespace {
QByteArray file_bytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}
} // namespace

// On a full disk: a new log leaves no file, a replaced one keeps the old bytes, and a row that
// does not fit is taken back so the file still ends with a whole row.
void TestQX5200Driver::run_log_on_a_full_disk() {
  TFullDisk disk;
  QX5200_REQUIRE_FULL_DISK(disk);
  Rig rig;
  QVERIFY(rig.driver.read_status());
  const QString old_path = disk.path(QStringLiteral("old.csv"));
  const QString new_path = disk.path(QStringLiteral("new.csv"));
  const QByteArray old_bytes = TRunLog::csv_header() + "2026-12-09T03:31:20.874Z,1.000,0,12.5,V,25,0,1\n";
  QFile f(old_path);
  QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old_bytes) == old_bytes.size());
  f.close();
  TRunLog kept;
  QString reason;
  QVERIFY(kept.open(old_path, TRunLog::csv, TRunLog::append, reason));
  disk.fill();
  for (const auto mode : {TRunLog::replace, TRunLog::append}) {
    TRunLog log;
    QVERIFY(!log.open(new_path, TRunLog::csv, mode, reason));
    QCOMPARE(reason, QStringLiteral("No space left on device"));
    QCOMPARE(log.error_number(), ENOSPC);
    QVERIFY(!QFile::exists(new_path));
    QVERIFY(!log.open(old_path, TRunLog::csv, TRunLog::replace, reason));
    QCOMPARE(file_bytes(old_path), old_bytes);
  }
  // Rows until the page the old file ends in is full.
  int rows = 0;
  while (kept.write_row(rig.driver, reason) && rows < 1000)
    ++rows;
  QCOMPARE(reason, QStringLiteral("No space left on device"));
  const QByteArray after = file_bytes(old_path);
  QVERIFY(after.startsWith(old_bytes));
  QVERIFY(after.endsWith('\n'));
  QCOMPARE(after.count('\n'), old_bytes.count('\n') + rows);
}

QTEST_GUILESS_MAIN(TestQX5200Driver)
#include "test_qx5200_driver.moc"
