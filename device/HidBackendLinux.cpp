#include "HidBackendLinux.h"

#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>

#include <hidapi.h>
#include <libudev.h>
#include <linux/hidraw.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// hid_init/hid_exit are process-wide; several controllers (tests) may exist one after another.
std::mutex hidapi_mutex;
int hidapi_users = 0;

void hidapi_acquire() {
  std::lock_guard lock(hidapi_mutex);
  if (hidapi_users++ == 0)
    hid_init();
}

void hidapi_release() {
  std::lock_guard lock(hidapi_mutex);
  if (--hidapi_users == 0)
    hid_exit();
}

// Longest wait inside one hid_read_timeout call: a stop request is noticed within this time.
constexpr int kReadSliceMs = 100;
constexpr std::size_t kMaxProductChars = 254;

class TLinuxHidHandle : public THidHandle {
public:
  TLinuxHidHandle(hid_device *device, bool numbered) : m_device(device), m_numbered(numbered) {}
  ~TLinuxHidHandle() override { hid_close(m_device); }

  int write(const std::uint8_t *data, std::size_t length) override {
    return hid_write(m_device, data, length);
  }

  int read(std::uint8_t *buffer, std::size_t length, int timeout_ms, int *error) override {
    if (length < 2)
      return 0;
    std::uint8_t *target = m_numbered ? buffer : buffer + 1;
    const std::size_t room = m_numbered ? length : length - 1;
    int remaining = std::max(timeout_ms, 0);
    for (;;) {
      if (m_cancel.exchange(false))
        return 0;
      const int slice = std::min(remaining, kReadSliceMs);
      errno = 0;
      int n = hid_read_timeout(m_device, target, room, slice);
      if (n < 0) {
        // hidapi reports a hang-up ("device disconnected") without setting errno.
        if (error)
          *error = errno != 0 ? errno : ENODEV;
        return -1;
      }
      if (n > 0) {
        if (!m_numbered) {
          buffer[0] = 0;
          ++n;
        }
        return n;
      }
      remaining -= slice;
      if (remaining <= 0)
        return 0;
    }
  }

  void cancel_read() override { m_cancel = true; }

private:
  hid_device *m_device;
  bool m_numbered;
  std::atomic<bool> m_cancel{false};
};

} // namespace

bool hid_descriptor_uses_report_ids(const std::uint8_t *descriptor, std::size_t length) {
  std::size_t i = 0;
  while (i < length) {
    const std::uint8_t prefix = descriptor[i];
    if (prefix == 0xFE) { // long item: size in the next byte, then a tag byte
      if (i + 1 >= length)
        break;
      i += 3 + descriptor[i + 1];
      continue;
    }
    const std::size_t size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
    if ((prefix & 0xFC) == 0x84) // global item Report ID
      return true;
    i += 1 + size;
  }
  return false;
}

THidBackendLinux::THidBackendLinux(QObject *parent) : THidBackendLinux(Options{}, parent) {}

THidBackendLinux::THidBackendLinux(const Options &options, QObject *parent) : THidBackend(parent) {
  hidapi_acquire();
  m_udev = udev_new();

  m_coalesce_timer.setSingleShot(true);
  m_coalesce_timer.setInterval(options.coalesce_ms);
  connect(&m_coalesce_timer, &QTimer::timeout, this, &THidBackend::device_nodes_changed);

  if (m_udev && QFileInfo::exists(options.udev_control_path)) {
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor && (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) < 0 ||
                      udev_monitor_enable_receiving(m_monitor) < 0 || udev_monitor_get_fd(m_monitor) < 0)) {
      udev_monitor_unref(m_monitor);
      m_monitor = nullptr;
    }
  }
  if (m_monitor) {
    m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &THidBackendLinux::drain_monitor);
  } else {
    m_rescan_timer.setInterval(options.rescan_interval_ms);
    connect(&m_rescan_timer, &QTimer::timeout, this, &THidBackend::device_nodes_changed);
    m_rescan_timer.start();
  }
}

THidBackendLinux::~THidBackendLinux() {
  delete m_notifier;
  if (m_monitor)
    udev_monitor_unref(m_monitor);
  if (m_udev)
    udev_unref(m_udev);
  hidapi_release();
}

void THidBackendLinux::drain_monitor() {
  // The socket is non-blocking: take every queued event, then scan once after the burst.
  while (udev_device *event = udev_monitor_receive_device(m_monitor))
    udev_device_unref(event);
  m_coalesce_timer.start();
}

QString THidBackendLinux::device_identity(const char *node_path, unsigned long long rdev) {
  // The HID device's sysfs path ends in a kernel sequence number ("0003:1234:5678.000A") that a
  // re-plugged device never gets again, while /dev/hidrawN is reused at once.
  if (m_udev) {
    if (udev_device *node = udev_device_new_from_devnum(m_udev, 'c', static_cast<dev_t>(rdev))) {
      QString identity;
      if (udev_device *hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr))
        identity = QString::fromLocal8Bit(udev_device_get_syspath(hid));
      else if (const char *syspath = udev_device_get_syspath(node))
        identity = QString::fromLocal8Bit(syspath);
      udev_device_unref(node);
      if (!identity.isEmpty())
        return identity;
    }
  }
  return QStringLiteral("%1@%2:%3").arg(QString::fromLocal8Bit(node_path)).arg(major(rdev)).arg(minor(rdev));
}

QList<THidScanEntry> THidBackendLinux::scan() {
  QList<THidScanEntry> entries;
  QSet<QString> seen;
  hid_device_info *list = hid_enumerate(0, 0);
  for (hid_device_info *info = list; info; info = info->next) {
    if (!info->path)
      continue;
    const QString path = QString::fromLocal8Bit(info->path);
    // 0.13.1 lists a node once per usage pair.
    if (seen.contains(path))
      continue;
    seen.insert(path);
    struct stat st {};
    if (::stat(info->path, &st) != 0 || !S_ISCHR(st.st_mode))
      continue; // gone already, or not a device node: cannot be opened
    THidScanEntry entry;
    entry.pnp.path = path;
    entry.pnp.device_instance = device_identity(info->path, st.st_rdev);
    if (info->product_string)
      entry.product_string = QString::fromWCharArray(info->product_string).left(kMaxProductChars);
    entry.read_write = ::access(info->path, R_OK | W_OK) == 0;
    entries.append(entry);
  }
  hid_free_enumeration(list);
  return entries;
}

std::unique_ptr<THidHandle> THidBackendLinux::open(const QString &path) {
  const QByteArray native = path.toLocal8Bit();
  // Check the node ourselves first: hidapi 0.13.1 touches freed memory when its descriptor-size
  // ioctl fails (a node that vanished between scan and open). The same check reads the report
  // descriptor, which says whether reports carry an ID byte.
  const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  bool numbered = false;
  int size = 0;
  bool usable = ::ioctl(fd, HIDIOCGRDESCSIZE, &size) >= 0;
  if (usable) {
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<__u32>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
    usable = ::ioctl(fd, HIDIOCGRDESC, &descriptor) >= 0;
    if (usable)
      numbered = hid_descriptor_uses_report_ids(descriptor.value, descriptor.size);
  }
  ::close(fd);
  if (!usable)
    return nullptr;
  hid_device *device = hid_open_path(native.constData());
  if (!device)
    return nullptr;
  return std::make_unique<TLinuxHidHandle>(device, numbered);
}
