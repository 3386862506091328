#pragma once

#include "HidBackend.h"

#include <QHash>
#include <QTimer>

#include <cstddef>
#include <cstdint>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// The Linux back end: hidapi's hidraw back end for enumeration and I/O, and a libudev monitor
// on subsystem "hidraw" for device-change notices. Where no udev daemon runs (containers, CI,
// a bare guest) the monitor would silently receive nothing, so the back end rescans on a timer
// instead; it never fails to start.
class THidBackendLinux : public THidBackend {
  Q_OBJECT
public:
  enum class NoticeSource { UdevMonitor, PeriodicRescan };

  struct Options {
    // udev creates this file when its daemon runs; without it a "udev" monitor stays silent.
    QString udev_control_path = QStringLiteral("/run/udev/control");
    int rescan_interval_ms = 1000;
    // udev sends several events per plug; one scan after the burst is enough.
    int coalesce_ms = 50;
  };

  explicit THidBackendLinux(QObject *parent = nullptr);
  explicit THidBackendLinux(const Options &options, QObject *parent = nullptr);
  ~THidBackendLinux() override;

  NoticeSource notice_source() const {
    return m_monitor ? NoticeSource::UdevMonitor : NoticeSource::PeriodicRescan;
  }

  QList<THidScanEntry> scan() override;
  std::unique_ptr<THidHandle> open(const QString &path) override;

private:
  void drain_monitor();
  QString device_identity(const char *node_path, unsigned long long rdev);

  struct udev *m_udev = nullptr;
  struct udev_monitor *m_monitor = nullptr;
  QSocketNotifier *m_notifier = nullptr;
  QTimer m_rescan_timer;
  QTimer m_coalesce_timer;
};

// Whether a HID report descriptor declares report IDs. hidraw delivers the reports of a device
// without them with no ID byte in front; the back end then adds a 0 so every report looks alike.
bool hid_descriptor_uses_report_ids(const std::uint8_t *descriptor, std::size_t length);
