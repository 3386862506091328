#include "VirtualHid.h"

#include <QMetaObject>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

namespace {
constexpr std::size_t kMaxQueuedReports = 64;
using Clock = std::chrono::steady_clock;
} // namespace

// ---------------------------------------------------------------------------------------------
// Handles

class VirtualHidHandle : public THidHandle {
public:
  explicit VirtualHidHandle(std::shared_ptr<VirtualHidDevice> device) : m_device(std::move(device)) {}

  ~VirtualHidHandle() override {
    std::lock_guard lock(m_device->m_mutex);
    auto &handles = m_device->m_handles;
    handles.erase(std::remove(handles.begin(), handles.end(), this), handles.end());
  }

  int write(const std::uint8_t *data, std::size_t length) override {
    const QByteArray report(reinterpret_cast<const char *>(data), static_cast<qsizetype>(length));
    std::shared_ptr<VirtualHidFirmware> firmware;
    {
      std::lock_guard lock(m_device->m_mutex);
      if (m_gone) {
        errno = ENODEV;
        return -1;
      }
      m_device->m_outputs.append(report);
      firmware = m_device->m_firmware;
    }
    if (firmware)
      firmware->output_report(*m_device, report);
    return static_cast<int>(length);
  }

  int read(std::uint8_t *buffer, std::size_t length, int timeout_ms, int *error) override {
    std::unique_lock lock(m_device->m_mutex);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    for (;;) {
      if (m_cancel) {
        m_cancel = false;
        return 0;
      }
      if (m_gone) {
        if (error)
          *error = ENODEV;
        return -1;
      }
      const auto now = Clock::now();
      if (!m_queue.empty() && m_queue.front().due <= now) {
        const QByteArray report = m_queue.front().report;
        m_queue.pop_front();
        // Like hidraw: a report longer than the buffer is cut.
        const std::size_t n = std::min(length, static_cast<std::size_t>(report.size()));
        std::memcpy(buffer, report.constData(), n);
        return static_cast<int>(n);
      }
      if (now >= deadline)
        return 0;
      auto wake = deadline;
      if (!m_queue.empty())
        wake = std::min(wake, m_queue.front().due);
      m_device->m_cv.wait_until(lock, wake);
    }
  }

  void cancel_read() override {
    {
      std::lock_guard lock(m_device->m_mutex);
      m_cancel = true;
    }
    m_device->m_cv.notify_all();
  }

private:
  friend class VirtualHidDevice;
  friend class VirtualHidBus;

  struct Queued {
    Clock::time_point due;
    QByteArray report;
  };

  // Guarded by the device's mutex.
  void enqueue_locked(Clock::time_point due, const QByteArray &report) {
    if (m_queue.size() >= kMaxQueuedReports)
      return;
    // Ordered by due time; equal times keep their order.
    auto it = std::upper_bound(m_queue.begin(), m_queue.end(), due,
                               [](Clock::time_point t, const Queued &q) { return t < q.due; });
    m_queue.insert(it, Queued{due, report});
  }

  std::shared_ptr<VirtualHidDevice> m_device;
  std::deque<Queued> m_queue;
  bool m_cancel = false;
  bool m_gone = false;
};

// ---------------------------------------------------------------------------------------------
// Device

VirtualHidDevice::VirtualHidDevice(const QString &product_string, bool read_write, bool refused)
    : m_product(product_string), m_read_write(read_write && !refused), m_refused(refused) {}

VirtualHidDevice::~VirtualHidDevice() = default;

bool VirtualHidDevice::plugged_in() const {
  std::lock_guard lock(m_mutex);
  return m_plugged;
}

QString VirtualHidDevice::path() const {
  std::lock_guard lock(m_mutex);
  return m_path;
}

void VirtualHidDevice::set_firmware(std::shared_ptr<VirtualHidFirmware> firmware) {
  std::lock_guard lock(m_mutex);
  m_firmware = std::move(firmware);
}

std::shared_ptr<VirtualHidFirmware> VirtualHidDevice::firmware() const {
  std::lock_guard lock(m_mutex);
  return m_firmware;
}

void VirtualHidDevice::deliver_input_report(std::uint8_t report_id, QByteArrayView data,
                                            std::chrono::milliseconds delay) {
  QByteArray report;
  report.reserve(data.size() + 1);
  report.append(static_cast<char>(report_id));
  report.append(data);
  const auto due = Clock::now() + delay;
  {
    std::lock_guard lock(m_mutex);
    if (!m_plugged)
      return;
    for (VirtualHidHandle *handle : m_handles)
      handle->enqueue_locked(due, report);
  }
  m_cv.notify_all();
}

QList<QByteArray> VirtualHidDevice::output_reports() const {
  std::lock_guard lock(m_mutex);
  return m_outputs;
}

int VirtualHidDevice::output_report_count() const {
  std::lock_guard lock(m_mutex);
  return static_cast<int>(m_outputs.size());
}

void VirtualHidDevice::clear_output_reports() {
  std::lock_guard lock(m_mutex);
  m_outputs.clear();
}

int VirtualHidDevice::open_handle_count() const {
  std::lock_guard lock(m_mutex);
  return static_cast<int>(m_handles.size());
}

// ---------------------------------------------------------------------------------------------
// Back end

class VirtualHidBackend : public THidBackend {
public:
  explicit VirtualHidBackend(std::shared_ptr<VirtualHidBus> bus) : m_bus(std::move(bus)) {
    std::lock_guard lock(m_bus->m_mutex);
    m_bus->m_backends.push_back(this);
  }

  ~VirtualHidBackend() override {
    // Before the QObject goes: no notice may be posted to it from another thread afterwards.
    std::lock_guard lock(m_bus->m_mutex);
    auto &backends = m_bus->m_backends;
    backends.erase(std::remove(backends.begin(), backends.end(), this), backends.end());
  }

  QList<THidScanEntry> scan() override {
    QList<THidScanEntry> entries;
    std::lock_guard lock(m_bus->m_mutex);
    for (const auto &device : std::as_const(m_bus->m_plugged)) {
      std::lock_guard device_lock(device->m_mutex);
      THidScanEntry entry;
      entry.pnp.path = device->m_path;
      entry.pnp.device_instance = device->m_instance;
      entry.product_string = device->m_product;
      entry.read_write = device->m_read_write;
      entry.permission_denied = device->m_refused;
      entries.append(entry);
    }
    return entries;
  }

  std::unique_ptr<THidHandle> open(const QString &path, int *error = nullptr) override {
    if (error)
      *error = 0;
    std::lock_guard lock(m_bus->m_mutex);
    for (const auto &device : std::as_const(m_bus->m_plugged)) {
      std::lock_guard device_lock(device->m_mutex);
      if (device->m_path != path)
        continue;
      if (!device->m_read_write) {
        if (error && device->m_refused)
          *error = EACCES;
        return nullptr;
      }
      auto handle = std::make_unique<VirtualHidHandle>(device);
      device->m_handles.push_back(handle.get());
      return handle;
    }
    return nullptr;
  }

  void post_notice() {
    QMetaObject::invokeMethod(
        this, [this] { emit device_nodes_changed(); }, Qt::QueuedConnection);
  }

private:
  std::shared_ptr<VirtualHidBus> m_bus;
};

// ---------------------------------------------------------------------------------------------
// Bus

std::shared_ptr<VirtualHidBus> VirtualHidBus::create() {
  return std::shared_ptr<VirtualHidBus>(new VirtualHidBus);
}

std::shared_ptr<VirtualHidDevice> VirtualHidBus::plug(const QString &product_string, bool read_write,
                                                      bool refused) {
  auto device = std::make_shared<VirtualHidDevice>(product_string, read_write, refused);
  plug(device);
  return device;
}

void VirtualHidBus::plug(const std::shared_ptr<VirtualHidDevice> &device) {
  if (!device)
    return;
  std::lock_guard lock(m_mutex);
  std::lock_guard device_lock(device->m_mutex);
  if (device->m_plugged)
    return;
  // The lowest free number, as hidraw reuses its minors.
  QSet<QString> taken;
  for (const auto &other : std::as_const(m_plugged))
    if (other != device)
      taken.insert(other->m_path);
  int number = 0;
  while (taken.contains(QStringLiteral("virtual:hid%1").arg(number)))
    ++number;
  device->m_path = QStringLiteral("virtual:hid%1").arg(number);
  device->m_instance = QStringLiteral("virtual-device-%1").arg(m_next_instance++);
  device->m_plugged = true;
  m_plugged.append(device);
  notify_locked();
}

void VirtualHidBus::unplug(const std::shared_ptr<VirtualHidDevice> &device) {
  if (!device)
    return;
  {
    std::lock_guard lock(m_mutex);
    std::lock_guard device_lock(device->m_mutex);
    if (!device->m_plugged)
      return;
    device->m_plugged = false;
    for (VirtualHidHandle *handle : device->m_handles) {
      handle->m_gone = true;
      handle->m_queue.clear();
    }
    device->m_handles.clear();
    m_plugged.removeOne(device);
    notify_locked();
  }
  device->m_cv.notify_all();
}

std::unique_ptr<THidBackend> VirtualHidBus::make_backend() {
  return std::make_unique<VirtualHidBackend>(shared_from_this());
}

void VirtualHidBus::notify_locked() {
  for (VirtualHidBackend *backend : m_backends)
    backend->post_notice();
}
