#include "VirtualHid.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Answers every output report with its command byte and a running number, after a delay.
class CountingFirmware : public VirtualHidFirmware {
public:
  void output_report(VirtualHidDevice &device, const QByteArray &report) override {
    const char reply[2] = {report.size() > 1 ? report[1] : char(0), char(++answered)};
    device.deliver_input_report(0, QByteArrayView(reply, 2), 5ms);
  }
  std::atomic<int> answered{0};
};

int read_one(THidHandle &handle, QByteArray &report, int timeout_ms, int *error = nullptr) {
  std::uint8_t buffer[80] = {};
  const int n = handle.read(buffer, sizeof buffer, timeout_ms, error);
  report = n > 0 ? QByteArray(reinterpret_cast<const char *>(buffer), n) : QByteArray();
  return n;
}

} // namespace

class TestVirtualHid : public QObject {
  Q_OBJECT
private slots:
  void scan_lists_plugged_devices_in_plug_order_and_reuses_paths() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    auto a = bus->plug("A");
    auto b = bus->plug("B", false);
    QList<THidScanEntry> entries = backend->scan();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].product_string, QString("A"));
    QVERIFY(entries[0].read_write);
    QCOMPARE(entries[1].product_string, QString("B"));
    QVERIFY(!entries[1].read_write);
    QVERIFY(!backend->open(entries[1].pnp.path)); // query only

    const THidPnPInfo first = entries[0].pnp;
    bus->unplug(a);
    QCOMPARE(backend->scan().size(), 1);
    bus->plug(a);
    entries = backend->scan();
    QCOMPARE(entries.size(), 2);
    // Same path again, like a hidraw minor, but a new identity.
    QCOMPARE(entries[1].pnp.path, first.path);
    QVERIFY(entries[1].pnp.device_instance != first.device_instance);
  }

  void every_plug_and_unplug_is_a_notice() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    QSignalSpy notices(backend.get(), &THidBackend::device_nodes_changed);
    auto device = bus->plug("A");
    std::thread([&] { bus->unplug(device); }).join();
    QCOMPARE(notices.count(), 0); // notices come through the event loop
    QTRY_COMPARE(notices.count(), 2);
  }

  void writes_are_recorded_and_answered_by_the_firmware() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    auto device = bus->plug("A");
    auto firmware = std::make_shared<CountingFirmware>();
    device->set_firmware(firmware);
    auto handle = backend->open(device->path());
    QVERIFY(handle);
    const std::uint8_t report[4] = {0, 33, 1, 2};
    QCOMPARE(handle->write(report, 4), 4);
    QCOMPARE(device->output_reports(), QList<QByteArray>{QByteArray::fromHex("00210102")});
    QByteArray reply;
    QCOMPARE(read_one(*handle, reply, 5000), 3);
    QCOMPARE(reply, QByteArray::fromHex("002101"));
  }

  void delayed_reports_arrive_in_due_order() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    auto device = bus->plug("A");
    auto handle = backend->open(device->path());
    device->deliver_input_report(7, "late", 60s);
    device->deliver_input_report(7, "soon", 1ms);
    QByteArray report;
    QCOMPARE(read_one(*handle, report, 5000), 5);
    QCOMPARE(report, QByteArray("\x07soon"));
    QCOMPARE(read_one(*handle, report, 0), 0); // "late" is not due
  }

  void a_full_queue_drops_newer_reports() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    auto device = bus->plug("A");
    auto handle = backend->open(device->path());
    for (int i = 0; i < 70; ++i)
      device->deliver_input_report(0, QByteArray(1, char(i)));
    QByteArray report;
    int count = 0;
    while (read_one(*handle, report, 0) > 0) {
      QCOMPARE(report.at(1), char(count));
      ++count;
    }
    QCOMPARE(count, 64);
  }

  void another_thread_wakes_a_blocked_read() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    auto device = bus->plug("A");
    auto handle = backend->open(device->path());
    QByteArray report;
    std::thread sender([&] {
      std::this_thread::sleep_for(20ms);
      device->deliver_input_report(0, "x");
    });
    const int n = read_one(*handle, report, 60000);
    sender.join();
    QCOMPARE(n, 2);
  }

  void cancel_ends_a_blocked_read() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    auto device = bus->plug("A");
    auto handle = backend->open(device->path());
    QByteArray report;
    std::thread canceller([&] {
      std::this_thread::sleep_for(20ms);
      handle->cancel_read();
    });
    const int n = read_one(*handle, report, 60000);
    canceller.join();
    QCOMPARE(n, 0);
  }

  void unplug_fails_open_handles() {
    auto bus = VirtualHidBus::create();
    auto backend = bus->make_backend();
    auto device = bus->plug("A");
    auto handle = backend->open(device->path());
    QCOMPARE(device->open_handle_count(), 1);
    device->deliver_input_report(0, "pending");
    std::thread([&] { bus->unplug(device); }).join();
    QByteArray report;
    int error = 0;
    QCOMPARE(read_one(*handle, report, 1000, &error), -1);
    QCOMPARE(error, ENODEV);
    const std::uint8_t out[2] = {0, 1};
    QCOMPARE(handle->write(out, 2), -1);
    QCOMPARE(device->output_report_count(), 0);
    // Re-plugged, the old handle stays dead; a new one works.
    bus->plug(device);
    QCOMPARE(handle->write(out, 2), -1);
    auto fresh = backend->open(device->path());
    QVERIFY(fresh);
    QCOMPARE(fresh->write(out, 2), 2);
    handle.reset();
    QCOMPARE(device->open_handle_count(), 1);
  }
};

QTEST_GUILESS_MAIN(TestVirtualHid)
#include "test_virtual_hid.moc"
