#include "VirtualHid.h"
#include "tqhid_unit.h"

#include <QSignalSpy>
#include <QTest>

#include <thread>

using namespace std::chrono_literals;

namespace {

const QString kName = QStringLiteral("QUOR LABS QX5200");

// Answers every output report with one 64-byte input report: the command code, then the
// report's data bytes, after a chosen delay.
class EchoFirmware : public VirtualHidFirmware {
public:
  explicit EchoFirmware(std::chrono::milliseconds delay) : m_delay(delay) {}
  void output_report(VirtualHidDevice &device, const QByteArray &report) override {
    QByteArray reply = report.mid(1).leftJustified(64, '\0', true);
    device.deliver_input_report(0, reply, m_delay);
  }

private:
  std::chrono::milliseconds m_delay;
};

struct Fixture {
  std::shared_ptr<VirtualHidBus> bus = VirtualHidBus::create();
  std::unique_ptr<TQHID> hid;

  void create() {
    hid = std::make_unique<TQHID>(nullptr, bus->make_backend());
    hid->set_device_name(kName);
    hid->set_rx_buffer_size(49);
    hid->set_tx_buffer_size(60);
  }
  // Enumerates until connected, as the main window's poll does.
  bool connect() {
    return QTest::qWaitFor([&] { return hid->enumerate() >= 0 && hid->connected(); }, 5000);
  }
  // Sends a report into the transport and waits until it is stored.
  bool receive(const QByteArray &data) {
    QSignalSpy stored(hid.get(), &TQHID::data_stored);
    bus_device->deliver_input_report(0, data);
    return stored.wait(5000);
  }
  std::shared_ptr<VirtualHidDevice> bus_device;
};

} // namespace

class TestTQHID : public QObject {
  Q_OBJECT
private slots:
  void starts_unconnected_and_finds_the_device_after_the_first_scan() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QCOMPARE(f.hid->enumerate(), 0);
    QVERIFY(!f.hid->connected());
    QVERIFY(f.connect());
    QVERIFY(!f.hid->data_received());
  }

  void output_report_layout() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    f.hid->set_tx_buffer_index(0);
    f.hid->put_word(0x1234);
    f.hid->put_byte(0xEE);
    f.hid->send_command(42);
    f.hid->set_tx_buffer_index(0);
    f.hid->put_byte(0x55);
    f.hid->send_command(43);
    const QList<QByteArray> reports = f.bus_device->output_reports();
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[0].size(), 62);
    QCOMPARE(reports[0].left(6), QByteArray::fromHex("002A1234EE00"));
    QCOMPARE(reports[0].mid(5), QByteArray(57, '\0'));
    // Stale bytes stay: only position 0 was written for the second command.
    QCOMPARE(reports[1].left(6), QByteArray::fromHex("002B5534EE00"));
  }

  void put_float_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("1") << 1.0 << QByteArray::fromHex("3F800000");
    QTest::newRow("-2.5") << -2.5 << QByteArray::fromHex("C0200000");
    QTest::newRow("150") << 150.0 << QByteArray::fromHex("43160000");
    QTest::newRow("0") << 0.0 << QByteArray::fromHex("00000000");
    QTest::newRow("0.1") << 0.1 << QByteArray::fromHex("3DCCCCCC");
  }
  void put_float() {
    QFETCH(double, value);
    QFETCH(QByteArray, bytes);
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    f.hid->put_byte(0x99);
    f.hid->put_float(value);
    QCOMPARE(f.hid->tx_buffer_index(), 5);
    f.hid->send_command(1);
    QCOMPARE(f.bus_device->output_reports().value(0).mid(2, 5).toHex(), (QByteArray("\x99") + bytes).toHex());
  }

  void index_stops_at_64() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    f.hid->set_tx_buffer_size(65);
    for (int i = 1; i <= 65; ++i)
      f.hid->put_byte(std::uint8_t(i));
    QCOMPARE(f.hid->tx_buffer_index(), 64);
    f.hid->send_command(0);
    f.hid->put_byte(66);
    QCOMPARE(f.hid->tx_buffer_index(), 64);
    f.hid->send_command(0);
    const QList<QByteArray> reports = f.bus_device->output_reports();
    QCOMPARE(reports[0].size(), 67);
    QCOMPARE(std::uint8_t(reports[0].at(2 + 63)), 64);
    QCOMPARE(std::uint8_t(reports[0].at(2 + 64)), 65);
    QCOMPARE(std::uint8_t(reports[1].at(2 + 64)), 66);
    QCOMPARE(std::uint8_t(reports[1].at(2 + 63)), 64);
  }

  void getters_read_the_receive_area_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("expected");
    QTest::newRow("word") << QByteArray::fromHex("ABCD") << "word" << 43981.0;
    QTest::newRow("float 5") << QByteArray::fromHex("40A00000") << "float" << 5.0;
    QTest::newRow("exp 1") << QByteArray::fromHex("7F000000") << "exp" << 1.0;
    QTest::newRow("exp 2") << QByteArray::fromHex("80000000") << "exp" << 2.0;
    QTest::newRow("exp -1") << QByteArray::fromHex("7F800000") << "exp" << -1.0;
    QTest::newRow("exp 5") << QByteArray::fromHex("81200000") << "exp" << 5.0;
    QTest::newRow("exp 0") << QByteArray::fromHex("00000000") << "exp" << 0.0;
  }
  void getters_read_the_receive_area() {
    QFETCH(QByteArray, data);
    QFETCH(QString, kind);
    QFETCH(double, expected);
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    // Behind a leading byte, as most replies carry their command code first.
    QVERIFY(f.receive(QByteArray("\x11") + data + QByteArray(44, '\x77')));
    f.hid->set_rx_buffer_index(1);
    const double got = kind == "word"    ? f.hid->get_word()
                       : kind == "float" ? double(f.hid->get_float())
                                         : double(f.hid->get_exp_float());
    QCOMPARE(got, expected);
    QCOMPARE(f.hid->rx_buffer_index(), 1 + int(data.size()));
  }

  void receive_area_edges() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    QByteArray full(64, '\0');
    for (int i = 0; i < 64; ++i)
      full[i] = char(i + 1);
    QVERIFY(f.receive(full));
    f.hid->set_rx_buffer_index(48);
    QCOMPARE(f.hid->get_byte(), 49);
    QCOMPARE(f.hid->get_byte(), 0); // beyond rx_buffer_size nothing was copied
    // A short report: bytes past its end read 0, not what the previous report left.
    QVERIFY(f.receive(QByteArray::fromHex("AABB")));
    f.hid->set_rx_buffer_index(0);
    QCOMPARE(f.hid->get_word(), 0xAABB);
    QCOMPARE(f.hid->get_byte(), 0);
    f.hid->set_rx_buffer_index(48);
    QCOMPARE(f.hid->get_byte(), 0);
    // The stopped position 64 reads 0 and stays.
    f.hid->set_rx_buffer_index(64);
    QCOMPARE(f.hid->get_byte(), 0);
    QCOMPARE(f.hid->rx_buffer_index(), 64);
  }

  void product_string_matching_data() {
    QTest::addColumn<QStringList>("plugged");
    QTest::addColumn<int>("taken"); // index into plugged, -1 for none
    QTest::newRow("exact") << QStringList{kName} << 0;
    QTest::newRow("case differs") << QStringList{"QUOR LABS qx5200"} << -1;
    QTest::newRow("prefix only") << QStringList{"QUOR LABS QX5200 "} << -1;
    QTest::newRow("after another device") << QStringList{"Keyboard", kName} << 1;
    QTest::newRow("two matching: first") << QStringList{kName, kName} << 0;
  }
  void product_string_matching() {
    QFETCH(QStringList, plugged);
    QFETCH(int, taken);
    Fixture f;
    QList<std::shared_ptr<VirtualHidDevice>> devices;
    for (const QString &name : plugged)
      devices << f.bus->plug(name);
    f.create();
    QTRY_COMPARE(f.hid->controller()->device_count(), plugged.size());
    f.hid->enumerate();
    QCOMPARE(f.hid->connected(), taken >= 0);
    f.hid->send_command(5);
    for (int i = 0; i < devices.size(); ++i)
      QCOMPARE(devices[i]->output_report_count(), i == taken ? 1 : 0);
    QCOMPARE(f.hid->controller()->checked_out_count(), taken >= 0 ? 1 : 0);
  }

  void unplug_and_replug() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    QSignalSpy lost(f.hid.get(), &TQHID::disconnected);
    f.bus->unplug(f.bus_device);
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!f.hid->connected());
    QCOMPARE(f.hid->controller()->device_count(), 0); // checked in and discarded
    f.hid->send_command(9);
    QVERIFY(!f.hid->data_received());
    f.bus->plug(f.bus_device);
    QCOMPARE(f.bus_device->output_report_count(), 0);
    QVERIFY(f.connect());
    f.hid->send_command(9);
    QCOMPARE(f.bus_device->output_report_count(), 1);
    QVERIFY(f.receive(QByteArray(64, '\1')));
  }

  void unplugging_another_device_keeps_the_connection() {
    Fixture f;
    auto keyboard = f.bus->plug("Keyboard");
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    f.bus->unplug(keyboard);
    QTRY_COMPARE(f.hid->controller()->device_count(), 1);
    QVERIFY(f.hid->connected());
    f.hid->send_command(3);
    QCOMPARE(f.bus_device->output_report_count(), 1);
  }

  void unsolicited_report_sets_data_received() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    f.hid->send_command(1);
    QVERIFY(!f.hid->data_received());
    QVERIFY(f.receive(QByteArray::fromHex("0102")));
    QVERIFY(f.hid->data_received());
    f.hid->send_command(1);
    QVERIFY(!f.hid->data_received());
  }

  void wait_for_reply_data() {
    QTest::addColumn<bool>("answers");
    QTest::newRow("answered") << true;
    QTest::newRow("silent") << false;
  }
  void wait_for_reply() {
    QFETCH(bool, answers);
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    if (answers)
      f.bus_device->set_firmware(std::make_shared<EchoFirmware>(20ms));
    f.create();
    QVERIFY(!f.hid->wait_for_reply(10000)); // not connected: no wait at all
    QVERIFY(f.connect());
    f.hid->set_tx_buffer_index(0);
    f.hid->put_word(0xBEEF);
    f.hid->send_command(7);
    QCOMPARE(f.hid->wait_for_reply(answers ? 10000 : 50), answers);
    if (answers) {
      f.hid->set_rx_buffer_index(0);
      QCOMPARE(f.hid->get_byte(), 7);
      QCOMPARE(f.hid->get_word(), 0xBEEF);
    }
  }

  void wait_ends_when_the_device_goes() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    f.hid->send_command(1);
    std::thread unplugger([&] {
      std::this_thread::sleep_for(20ms);
      f.bus->unplug(f.bus_device);
    });
    QVERIFY(!f.hid->wait_for_reply(60000));
    unplugger.join();
    QVERIFY(!f.hid->connected());
  }

  void destroyed_while_reports_stream_in() {
    Fixture f;
    f.bus_device = f.bus->plug(kName);
    f.create();
    QVERIFY(f.connect());
    std::atomic<bool> done{false};
    std::thread sender([&] {
      while (!done)
        f.bus_device->deliver_input_report(0, QByteArray(64, '\5'));
    });
    QTest::qWait(20);
    f.hid.reset();
    done = true;
    sender.join();
    QCoreApplication::processEvents();
    QCOMPARE(f.bus_device->open_handle_count(), 0);
  }
};

QTEST_GUILESS_MAIN(TestTQHID)
#include "test_tqhid.moc"
