#include "HidBackendLinux.h"
#include "tqhid_unit.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <sys/stat.h>

namespace {

QSet<QString> hidraw_nodes() {
  QSet<QString> nodes;
  for (const QFileInfo &info : QDir("/dev").entryInfoList({"hidraw*"}, QDir::System)) {
    struct stat st {};
    if (::stat(info.filePath().toLocal8Bit().constData(), &st) == 0 && S_ISCHR(st.st_mode))
      nodes.insert(info.filePath());
  }
  return nodes;
}

} // namespace

class TestHidLinux : public QObject {
  Q_OBJECT
private slots:
  void scan_lists_only_hidraw_nodes_once() {
    THidBackendLinux backend;
    const QList<THidScanEntry> entries = backend.scan();
    const QSet<QString> nodes = hidraw_nodes();
    QSet<QString> paths;
    for (const THidScanEntry &entry : entries) {
      QVERIFY2(nodes.contains(entry.pnp.path), qPrintable(entry.pnp.path));
      QVERIFY(!entry.pnp.device_instance.isEmpty());
      QVERIFY(entry.product_string.size() <= 254);
      paths.insert(entry.pnp.path);
    }
    QCOMPARE(paths.size(), entries.size());
    if (nodes.isEmpty())
      QCOMPARE(entries.size(), 0);
  }

  void transport_on_the_real_back_end_finds_no_device_here() {
    if (!hidraw_nodes().isEmpty())
      QSKIP("this machine has hidraw devices");
    TQHID hid; // the default back end
    hid.set_device_name("QUOR LABS QX5200");
    int changes = 0;
    hid.controller()->OnDeviceChange = [&] { ++changes; };
    QTRY_VERIFY(changes > 0);
    QCOMPARE(hid.enumerate(), 0);
    QVERIFY(!hid.connected());
    hid.send_command(1);
    QVERIFY(!hid.wait_for_reply(10));
  }

  void open_refuses_what_is_not_a_hidraw_node_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << "/dev/hidraw-does-not-exist";
    QTest::newRow("not hidraw") << "/dev/null";
  }
  void open_refuses_what_is_not_a_hidraw_node() {
    QFETCH(QString, path);
    THidBackendLinux backend;
    QVERIFY(!backend.open(path));
  }

  void without_udev_daemon_it_rescans_on_a_timer() {
    THidBackendLinux::Options options;
    options.udev_control_path = "/nonexistent/udev/control";
    options.rescan_interval_ms = 20;
    THidBackendLinux backend(options);
    QCOMPARE(backend.notice_source(), THidBackendLinux::NoticeSource::PeriodicRescan);
    QSignalSpy notices(&backend, &THidBackend::device_nodes_changed);
    QTRY_VERIFY(notices.count() >= 2);
  }

  void with_udev_daemon_it_tries_the_monitor() {
    QTemporaryFile control;
    QVERIFY(control.open());
    THidBackendLinux::Options options;
    options.udev_control_path = control.fileName();
    options.rescan_interval_ms = 20;
    THidBackendLinux backend(options);
    QSignalSpy notices(&backend, &THidBackend::device_nodes_changed);
    // Where netlink sockets are refused (some sandboxes) it falls back; either way it runs.
    if (backend.notice_source() == THidBackendLinux::NoticeSource::UdevMonitor) {
      QTest::qWait(60);
      QCOMPARE(notices.count(), 0); // no hidraw events, no timer
    } else {
      QTRY_VERIFY(notices.count() >= 1);
    }
  }

  void report_id_detection_data() {
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<bool>("numbered");
    // Vendor page, 64-byte input and output, no report IDs (the device's own layout).
    QTest::newRow("plain") << QByteArray::fromHex("0600FF0901A101150026FF007508954009018102954009029102C0")
                           << false;
    QTest::newRow("with report ID") << QByteArray::fromHex("0600FF0901A1018501150026FF007508954009018102C0")
                                    << true;
    // 0x85 as the data of Logical Maximum, not as an item.
    QTest::newRow("0x85 as data") << QByteArray::fromHex("0600FF0901A101150026850075089540098102C0") << false;
    // A long item whose data holds 0x85.
    QTest::newRow("long item") << QByteArray::fromHex("FE02108585C0") << false;
    QTest::newRow("cut short") << QByteArray::fromHex("27") << false;
    QTest::newRow("empty") << QByteArray() << false;
  }
  void report_id_detection() {
    QFETCH(QByteArray, descriptor);
    QFETCH(bool, numbered);
    QCOMPARE(hid_descriptor_uses_report_ids(reinterpret_cast<const std::uint8_t *>(descriptor.constData()),
                                            static_cast<std::size_t>(descriptor.size())),
             numbered);
  }
};

QTEST_GUILESS_MAIN(TestHidLinux)
#include "test_hid_linux.moc"
