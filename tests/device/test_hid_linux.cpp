#include "HidBackendLinux.h"
#include "tqhid_unit.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

// Nodes this machine does not have, answering access() and open() as the test says.
struct FakeNodes {
  struct Node {
    QByteArray path;
    QString product;
    int access_error = 0; // 0: access() grants read and write
    int open_error = 0;   // 0: open() gives a descriptor, but of /dev/null: not a hidraw node
  };
  QList<Node> nodes;

  const Node *find(const char *path) const {
    for (const Node &node : nodes)
      if (node.path == path)
        return &node;
    return nullptr;
  }

  static THidBackendLinux::Options options(const std::shared_ptr<FakeNodes> &fake) {
    THidBackendLinux::Options options;
    options.udev_control_path = "/nonexistent/udev/control";
    options.rescan_interval_ms = 20;
    options.system.list_nodes = [fake] {
      QList<THidLinuxSystem::Node> list;
      unsigned long long number = 0;
      for (const Node &node : fake->nodes)
        // Device numbers no real node has: the identity falls back to path and number.
        list.append({node.path, node.product, (4095ULL << 20) + 4000 + number++});
      return list;
    };
    options.system.access = [fake](const char *path, int) {
      const Node *node = fake->find(path);
      errno = node ? node->access_error : ENOENT;
      return errno == 0 ? 0 : -1;
    };
    options.system.open = [fake](const char *path, int flags) {
      const Node *node = fake->find(path);
      errno = node ? node->open_error : ENOENT;
      return errno == 0 ? ::open("/dev/null", flags) : -1;
    };
    return options;
  }
};

const QString qx5200 = QStringLiteral("QUOR LABS QX5200");

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
    TQHID hid(nullptr, std::make_unique<THidBackendLinux>());
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

  void refused_device_data() {
    QTest::addColumn<QString>("product");
    QTest::addColumn<int>("access_error");
    QTest::addColumn<int>("open_error");
    QTest::addColumn<bool>("scan_read_write");
    QTest::addColumn<bool>("scan_denied");
    QTest::addColumn<bool>("transport_denied");
    QTest::newRow("no access to the node") << qx5200 << EACCES << EACCES << false << true << true;
    QTest::newRow("not permitted") << qx5200 << EPERM << EPERM << false << true << true;
    // access() said yes, a security module refuses the open itself.
    QTest::newRow("refused on open") << qx5200 << 0 << EACCES << true << false << true;
    QTest::newRow("another product refused") << "USB Keyboard" << EACCES << EACCES << false << true << false;
    QTest::newRow("name differs in case") << "quor labs qx5200" << EACCES << EACCES << false << true << false;
    QTest::newRow("node gone") << qx5200 << ENOENT << ENOENT << false << false << false;
    QTest::newRow("open fails otherwise") << qx5200 << 0 << ENXIO << true << false << false;
  }
  void refused_device() {
    QFETCH(QString, product);
    QFETCH(int, access_error);
    QFETCH(int, open_error);
    QFETCH(bool, scan_read_write);
    QFETCH(bool, scan_denied);
    QFETCH(bool, transport_denied);
    auto fake = std::make_shared<FakeNodes>();
    fake->nodes = {{"/dev/hidraw-fake0", "USB Mouse"},
                   {"/dev/hidraw-fake1", product, access_error, open_error}};

    THidBackendLinux backend(FakeNodes::options(fake));
    const QList<THidScanEntry> entries = backend.scan();
    QCOMPARE(entries.size(), 2);
    QVERIFY(entries[0].read_write);
    QVERIFY(!entries[0].permission_denied);
    QCOMPARE(entries[1].product_string, product);
    QCOMPARE(entries[1].read_write, scan_read_write);
    QCOMPARE(entries[1].permission_denied, scan_denied);
    int error = 0;
    QVERIFY(!backend.open(entries[1].pnp.path, &error));
    QCOMPARE(error, open_error);

    TQHID hid(nullptr, std::make_unique<THidBackendLinux>(FakeNodes::options(fake)));
    hid.set_device_name(qx5200);
    QSignalSpy changes(&hid, &TQHID::permission_denied_changed);
    QTRY_COMPARE(hid.controller()->device_count(), 2);
    QCOMPARE(hid.enumerate(), 2);
    QCOMPARE(hid.permission_denied(), transport_denied);
    QCOMPARE(changes.count(), transport_denied ? 1 : 0);
    if (transport_denied) {
      QVERIFY(!hid.connected());
      QCOMPARE(hid.controller()->checked_out_count(), 0);
      // Asking again says the same without a new notice.
      hid.enumerate();
      QVERIFY(hid.permission_denied());
      QCOMPARE(changes.count(), 1);
    }
  }

  void permission_granted_or_device_gone_clears_the_refusal() {
    auto fake = std::make_shared<FakeNodes>();
    fake->nodes = {{"/dev/hidraw-fake0", qx5200, EACCES, EACCES}};
    TQHID hid(nullptr, std::make_unique<THidBackendLinux>(FakeNodes::options(fake)));
    hid.set_device_name(qx5200);
    QSignalSpy changes(&hid, &TQHID::permission_denied_changed);
    QTRY_COMPARE(hid.controller()->device_count(), 1);
    hid.enumerate();
    QVERIFY(hid.permission_denied());
    const QString instance = hid.controller()->device(0)->pnp_info().device_instance;

    // The rule applied with "udevadm trigger": same device, now accessible. It is taken (the
    // stand-in node answers no reports, so it stays a device without replies).
    fake->nodes[0].access_error = 0;
    fake->nodes[0].open_error = ENXIO;
    QTRY_VERIFY(hid.controller()->device(0)->read_write_access());
    QCOMPARE(hid.controller()->device(0)->pnp_info().device_instance, instance);
    QVERIFY(!hid.controller()->device(0)->permission_denied());
    hid.enumerate();
    QVERIFY(!hid.permission_denied());
    QCOMPARE(changes.count(), 2);
    QCOMPARE(changes.at(1).at(0).toBool(), false);

    // Unplugged, and plugged in again somewhere the user may not open it; then gone for good:
    // nothing left to complain about.
    fake->nodes.clear();
    QTRY_VERIFY(!hid.connected());
    fake->nodes = {{"/dev/hidraw-fake1", qx5200, EACCES, EACCES}};
    QTRY_COMPARE(hid.controller()->device_count(), 1);
    hid.enumerate();
    QVERIFY(hid.permission_denied());
    fake->nodes.clear();
    QTRY_COMPARE(hid.controller()->device_count(), 0);
    hid.enumerate();
    QVERIFY(!hid.permission_denied());
    QCOMPARE(changes.count(), 4);
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
