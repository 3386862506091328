#include "HidControllerClass.h"
#include "VirtualHid.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <thread>

using namespace std::chrono_literals;

namespace {

struct Fixture {
  std::shared_ptr<VirtualHidBus> bus = VirtualHidBus::create();
  std::unique_ptr<THidDeviceController> controller;

  void create() { controller = std::make_unique<THidDeviceController>(nullptr, bus->make_backend()); }
  // Waits until the controller lists exactly `count` plugged-in devices.
  bool wait_plugged(int count) {
    return QTest::qWaitFor(
        [&] {
          int plugged = 0;
          for (int i = 0; i < controller->device_count(); ++i)
            plugged += controller->device(i)->plugged_in() ? 1 : 0;
          return plugged == count;
        },
        5000);
  }
};

} // namespace

class TestHidController : public QObject {
  Q_OBJECT
private slots:
  void first_scan_runs_once_the_event_loop_does() {
    Fixture f;
    f.bus->plug("QUOR LABS QX5200");
    f.create();
    int changes = 0;
    f.controller->OnDeviceChange = [&] { ++changes; };
    QCOMPARE(f.controller->enumerate_devices(), 0);
    QTRY_COMPARE(changes, 1);
    QCOMPARE(f.controller->enumerate_devices(), 1);
    QCOMPARE(f.controller->available_count(), 1);
  }

  void start_up_notice_fires_with_no_device() {
    Fixture f;
    f.create();
    int changes = 0;
    f.controller->OnDeviceChange = [&] { ++changes; };
    QTRY_COMPARE(changes, 1);
    QCOMPARE(f.controller->device_count(), 0);
  }

  void enumeration_stops_at_first_false() {
    Fixture f;
    for (const char *name : {"a", "b", "c"})
      f.bus->plug(name);
    f.create();
    QVERIFY(f.wait_plugged(3));
    QStringList offered;
    QList<int> indexes;
    bool marked = true;
    f.controller->OnEnumerate = [&](THidDevice *device, int index) {
      offered << device->product_string();
      indexes << index;
      marked = marked && device->enumerating();
      return device->product_string() != "b";
    };
    QCOMPARE(f.controller->enumerate_devices(), 2);
    QCOMPARE(offered, QStringList({"a", "b"}));
    QCOMPARE(indexes, QList<int>({0, 1}));
    QVERIFY(marked);
    QVERIFY(!f.controller->device(1)->enumerating());
    // The product string is read only while the device may be opened, then kept.
    QCOMPARE(f.controller->device(2)->product_string(), QString());
    QCOMPARE(f.controller->device(0)->product_string(), QString("a"));
  }

  void check_out_refusals_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("twice");
    QTest::newRow("index == length") << 2 << false;
    QTest::newRow("negative") << -1 << false;
    QTest::newRow("already checked out") << 1 << true;
  }
  void check_out_refusals() {
    QFETCH(int, index);
    QFETCH(bool, twice);
    Fixture f;
    f.bus->plug("a");
    f.bus->plug("b");
    f.create();
    QVERIFY(f.wait_plugged(2));
    if (twice)
      QVERIFY(f.controller->check_out(index));
    QCOMPARE(f.controller->check_out(index), nullptr);
    QCOMPARE(f.controller->checked_out_count(), twice ? 1 : 0);
  }

  void thread_sleep_time_range_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("5 refused") << 5 << 100;
    QTest::newRow("9 refused") << 9 << 100;
    QTest::newRow("10") << 10 << 10;
    QTest::newRow("10000") << 10000 << 10000;
    QTest::newRow("10001 refused") << 10001 << 100;
    QTest::newRow("20000 refused") << 20000 << 100;
  }
  void thread_sleep_time_range() {
    QFETCH(int, value);
    QFETCH(int, expected);
    Fixture f;
    f.bus->plug("a");
    f.create();
    QVERIFY(f.wait_plugged(1));
    THidDevice *device = f.controller->device(0);
    QCOMPARE(device->thread_sleep_time(), 100);
    device->set_thread_sleep_time(value);
    QCOMPARE(device->thread_sleep_time(), expected);
  }

  void dev_thread_sleep_time_follows_devices_on_the_old_value() {
    Fixture f;
    f.bus->plug("a");
    f.bus->plug("b");
    f.create();
    QVERIFY(f.wait_plugged(2));
    f.controller->device(1)->set_thread_sleep_time(250);
    f.controller->setDevThreadSleepTime(40);
    QCOMPARE(f.controller->device(0)->thread_sleep_time(), 40);
    QCOMPARE(f.controller->device(1)->thread_sleep_time(), 250);
    f.bus->plug("c");
    QVERIFY(f.wait_plugged(3));
    QCOMPARE(f.controller->device(2)->thread_sleep_time(), 40);
  }

  void unplug_calls_unplug_handler_then_removal_on_the_ui_thread() {
    Fixture f;
    auto qx = f.bus->plug("QX");
    f.create();
    QStringList calls;
    QThread *ui = QThread::currentThread();
    bool on_ui = true;
    THidDeviceController *controller = nullptr;
    bool cleared = false;
    f.controller->OnDeviceUnplug = [&](THidDevice *device) {
      calls << "unplug:" + device->pnp_info().path;
      on_ui = on_ui && QThread::currentThread() == ui;
      THidDevice *held = device;
      controller->check_in(held); // as the transport does: the device is discarded
      cleared = held == nullptr;
    };
    f.controller->OnRemoval = [&](THidDevice *device) {
      // Still a live object here (ASan would object otherwise), already out of the list.
      calls << "removal:" + device->pnp_info().path;
      on_ui = on_ui && QThread::currentThread() == ui;
    };
    controller = f.controller.get();
    QVERIFY(f.wait_plugged(1));
    THidDevice *device = f.controller->check_out(0);
    QVERIFY(device);
    device->set_data_handler([](THidDevice *, std::uint8_t, const std::uint8_t *, int) {});
    QVERIFY(device->reader_running());
    const QString path = qx->path();
    std::thread([&] { f.bus->unplug(qx); }).join();
    QTRY_COMPARE(calls.size(), 2);
    QCOMPARE(calls, QStringList({"unplug:" + path, "removal:" + path}));
    QVERIFY(on_ui);
    QVERIFY(cleared);
    QCOMPARE(f.controller->device_count(), 0);
    QCOMPARE(f.controller->checked_out_count(), 0);
  }

  void unplugged_device_kept_until_checked_in_and_replug_is_new() {
    Fixture f;
    auto qx = f.bus->plug("QX");
    f.create();
    int removals = 0;
    f.controller->OnRemoval = [&](THidDevice *) { ++removals; };
    QVERIFY(f.wait_plugged(1));
    THidDevice *held = f.controller->check_out(0);
    f.bus->unplug(qx);
    QTRY_COMPARE(removals, 1);
    QCOMPARE(f.controller->device_count(), 1);
    QVERIFY(!held->plugged_in());
    QCOMPARE(held->write_report(reinterpret_cast<const std::uint8_t *>("\0\1"), 2), false);
    f.bus->plug(qx);
    QVERIFY(f.wait_plugged(1));
    QCOMPARE(f.controller->device_count(), 2);
    QCOMPARE(f.controller->enumerate_devices(), 1); // the gone one is not offered
    f.bus->plug("other");                           // a later scan does not report it again
    QVERIFY(f.wait_plugged(2));
    QCOMPARE(removals, 1);
    f.controller->check_in(held);
    QCOMPARE(f.controller->device_count(), 2);
    QVERIFY(f.controller->check_out(0));
  }

  void write_report_reaches_the_device() {
    Fixture f;
    auto qx = f.bus->plug("QX");
    f.create();
    QVERIFY(f.wait_plugged(1));
    const std::uint8_t report[3] = {0, 7, 9};
    // Not checked out and not being enumerated: the device may not be opened.
    QVERIFY(!f.controller->device(0)->write_report(report, 3));
    THidDevice *device = f.controller->check_out(0);
    int written = -1;
    QVERIFY(device->write_report(report, 3, &written));
    QCOMPARE(written, 3);
    QCOMPARE(qx->output_reports(), QList<QByteArray>{QByteArray::fromHex("000709")});
  }

  void query_only_device_gets_no_reader_and_cannot_write() {
    Fixture f;
    auto qx = f.bus->plug("QX", false);
    f.create();
    QVERIFY(f.wait_plugged(1));
    THidDevice *device = f.controller->check_out(0);
    QVERIFY(device);
    device->set_data_handler([](THidDevice *, std::uint8_t, const std::uint8_t *, int) {});
    QVERIFY(!device->reader_running());
    const std::uint8_t report[2] = {0, 1};
    QVERIFY(!device->write_report(report, 2));
    QCOMPARE(qx->output_report_count(), 0);
  }

  void reports_are_handed_over_one_at_a_time_on_the_ui_thread() {
    Fixture f;
    auto qx = f.bus->plug("QX");
    f.create();
    QVERIFY(f.wait_plugged(1));
    THidDevice *device = f.controller->check_out(0);
    QList<QByteArray> received;
    int depth = 0, max_depth = 0;
    bool on_ui = true;
    QThread *ui = QThread::currentThread();
    device->set_data_handler([&](THidDevice *, std::uint8_t id, const std::uint8_t *data, int size) {
      on_ui = on_ui && QThread::currentThread() == ui;
      max_depth = std::max(max_depth, ++depth);
      received << QByteArray(1, char(id)) + QByteArray(reinterpret_cast<const char *>(data), size);
      // Runs the event loop inside the handler: the reader waits for us, so no second
      // report may be handed over in here.
      QTest::qWait(5);
      --depth;
    });
    std::thread sender([&] {
      for (int i = 0; i < 5; ++i)
        qx->deliver_input_report(3, QByteArray(2, char('a' + i)));
    });
    sender.join();
    QTRY_COMPARE(received.size(), 5);
    QCOMPARE(received.first(), QByteArray("\x03"
                                          "aa"));
    QCOMPARE(received.last(), QByteArray("\x03"
                                         "ee"));
    QCOMPARE(max_depth, 1);
    QVERIFY(on_ui);
  }

  // The reader waits with a report that the UI thread has not taken yet; stopping it must
  // return, and the report must not reach a handler afterwards. Interleavings vary, so repeat.
  void stopping_with_a_pending_hand_over_returns_data() {
    QTest::addColumn<bool>("check_in");
    QTest::newRow("remove handler") << false;
    QTest::newRow("check in") << true;
  }
  void stopping_with_a_pending_hand_over_returns() {
    QFETCH(bool, check_in);
    Fixture f;
    auto qx = f.bus->plug("QX");
    f.create();
    QVERIFY(f.wait_plugged(1));
    int late = 0;
    for (int round = 0; round < 200; ++round) {
      THidDevice *device = f.controller->check_out(0);
      QVERIFY(device);
      bool stopped = false;
      device->set_data_handler(
          [&](THidDevice *, std::uint8_t, const std::uint8_t *, int) { late += stopped; });
      qx->deliver_input_report(0, "x");
      std::this_thread::sleep_for(std::chrono::microseconds(round % 4 * 500));
      stopped = true;
      if (check_in)
        f.controller->check_in(device);
      else {
        device->set_data_handler(nullptr);
        f.controller->check_in(device);
      }
      QCoreApplication::processEvents(); // delivers whatever the reader had posted
    }
    QCOMPARE(late, 0);
  }

  void handler_may_check_its_device_in() {
    Fixture f;
    auto qx = f.bus->plug("QX");
    f.create();
    QVERIFY(f.wait_plugged(1));
    THidDevice *device = f.controller->check_out(0);
    int calls = 0;
    QByteArray seen;
    device->set_data_handler([&](THidDevice *from, std::uint8_t, const std::uint8_t *data, int size) {
      ++calls;
      f.controller->check_in(from);
      // The report stays readable after its reader has gone.
      seen = QByteArray(reinterpret_cast<const char *>(data), size);
    });
    qx->deliver_input_report(0, "first");
    qx->deliver_input_report(0, "second");
    QTRY_COMPARE(calls, 1);
    QTest::qWait(30);
    QCOMPARE(calls, 1);
    QCOMPARE(seen, QByteArray("first"));
    QCOMPARE(f.controller->checked_out_count(), 0);
  }

  void destroying_the_controller_with_a_busy_reader() {
    Fixture f;
    auto qx = f.bus->plug("QX");
    f.create();
    QVERIFY(f.wait_plugged(1));
    THidDevice *device = f.controller->check_out(0);
    int calls = 0;
    device->set_data_handler([&](THidDevice *, std::uint8_t, const std::uint8_t *, int) { ++calls; });
    for (int i = 0; i < 10; ++i)
      qx->deliver_input_report(0, "x");
    std::this_thread::sleep_for(5ms);
    f.controller.reset();
    QCoreApplication::processEvents();
    QCOMPARE(qx->open_handle_count(), 0);
    // Hand-overs the reader had posted are dropped with the controller.
    QCOMPARE(calls, 0);
  }
};

QTEST_GUILESS_MAIN(TestHidController)
#include "test_hid_controller.moc"
