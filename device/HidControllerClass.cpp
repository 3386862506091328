#include "HidControllerClass.h"

#include <QHash>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

Q_LOGGING_CATEGORY(lc_hid, "qx5200.hid", QtWarningMsg)

namespace {

// Largest report hidraw delivers, plus the report ID byte the back end puts in front.
constexpr std::size_t kReportBufferSize = 4096 + 1;
constexpr int kMinSleepTime = 10;
constexpr int kMaxSleepTime = 10000;
constexpr int kDefaultSleepTime = 100;

bool valid_sleep_time(int ms) { return ms >= kMinSleepTime && ms <= kMaxSleepTime; }

// What a controller given no back end runs on: no devices, nothing to open.
class TNoDevices : public THidBackend {
public:
  QList<THidScanEntry> scan() override { return {}; }
  std::unique_ptr<THidHandle> open(const QString &, int *error) override {
    if (error)
      *error = ENODEV;
    return nullptr;
  }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// THidDeviceReadThread

// What the reader shares with the events it posts to the UI thread. Those events may outlive
// the thread object (and even the device), so they hold this rather than the thread.
struct THidDeviceReadThread::Shared {
  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;    // written on the UI thread only
  bool pending = false; // a report waits for the UI thread
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kReportBufferSize);
  THidDevice *device = nullptr; // used on the UI thread while stop is false

  bool stopped() {
    std::lock_guard lock(mutex);
    return stop;
  }

  // UI thread: runs the data handler for the report the reader waits with.
  static void hand_over(const std::shared_ptr<Shared> &self, int count) {
    {
      std::lock_guard lock(self->mutex);
      if (self->stop || !self->pending)
        return;
    }
    // The handler may stop this reader (check_in from inside it); the buffer stays valid
    // because this event holds `self`, and nothing touches the device afterwards.
    self->device->deliver_report(self->buffer[0], self->buffer.data() + 1, count - 1);
    {
      std::lock_guard lock(self->mutex);
      self->pending = false;
    }
    self->cv.notify_all();
  }
};

THidDeviceReadThread::THidDeviceReadThread(THidDevice *device, THidDeviceController *controller,
                                           THidHandle *read_handle)
    : m_shared(std::make_shared<Shared>()), m_controller(controller), m_read_handle(read_handle) {
  m_shared->device = device;
  setObjectName(QStringLiteral("hid reader"));
}

THidDeviceReadThread::~THidDeviceReadThread() { stop(); }

void THidDeviceReadThread::stop() {
  {
    std::lock_guard lock(m_shared->mutex);
    m_shared->stop = true;
  }
  m_shared->cv.notify_all();
  m_read_handle->cancel_read();
  wait();
}

void THidDeviceReadThread::run() {
  const std::shared_ptr<Shared> shared = m_shared;
  THidDevice *const device = shared->device; // only its atomic sleep time is read here
  while (!shared->stopped()) {
    std::fill(shared->buffer.begin(), shared->buffer.end(), std::uint8_t{0});
    int error = 0;
    const int count = m_read_handle->read(shared->buffer.data(), shared->buffer.size(),
                                          device->thread_sleep_time(), &error);
    if (count > 0) {
      std::unique_lock lock(shared->mutex);
      if (shared->stop)
        break;
      shared->pending = true;
      QMetaObject::invokeMethod(
          m_controller, [shared, count] { Shared::hand_over(shared, count); }, Qt::QueuedConnection);
      shared->cv.wait(lock, [&] { return !shared->pending || shared->stop; });
    } else if (count < 0) {
      QMetaObject::invokeMethod(
          m_controller,
          [shared, error] {
            if (!shared->stopped())
              shared->device->deliver_error(error);
          },
          Qt::QueuedConnection);
      // A failing read (a device being unplugged) fails again at once: wait one slice before
      // trying again rather than spinning.
      std::unique_lock lock(shared->mutex);
      shared->cv.wait_for(lock, std::chrono::milliseconds(device->thread_sleep_time()),
                          [&] { return shared->stop; });
    }
  }
}

// ---------------------------------------------------------------------------------------------
// THidDevice

THidDevice::THidDevice(THidDeviceController *controller, const THidScanEntry &entry, int thread_sleep_time)
    : m_controller(controller), m_pnp(entry.pnp), m_scanned_product(entry.product_string),
      m_read_write(entry.read_write), m_permission_denied(entry.permission_denied),
      m_data_handler(controller->OnDeviceData), m_data_error_handler(controller->OnDeviceDataError),
      m_unplug_handler(controller->OnDeviceUnplug), m_thread_sleep_time(thread_sleep_time) {}

THidDevice::~THidDevice() {
  stop_reader();
  close_handles();
}

QString THidDevice::product_string() {
  // The back end reads the product string with the scan (on Linux it comes from sysfs, which
  // needs no permission on the node); it becomes visible here as the open would.
  if (m_product.isEmpty() && may_open())
    m_product = m_scanned_product.left(254);
  return m_product;
}

void THidDevice::set_data_handler(THidDataEvent handler) {
  m_data_handler = std::move(handler);
  if (!m_data_handler)
    stop_reader();
  else
    start_reader();
}

bool THidDevice::write_report(const std::uint8_t *data, int count, int *written) {
  if (written)
    *written = 0;
  if (!data || count <= 0)
    return false;
  if (!m_main_handle && may_open() && m_read_write)
    m_main_handle = open_handle(nullptr);
  if (!m_main_handle)
    return false;
  const int n = m_main_handle->write(data, static_cast<std::size_t>(count));
  if (written)
    *written = std::max(n, 0);
  return n == count;
}

void THidDevice::set_thread_sleep_time(int ms) {
  if (valid_sleep_time(ms))
    m_thread_sleep_time = ms;
}

void THidDevice::start_reader() {
  if (m_reader || !m_data_handler || !m_plugged_in || !m_checked_out || !m_read_write)
    return;
  // Opened here on the UI thread: hidapi's open shares global state and is not thread-safe.
  int error = 0;
  if (!m_read_handle)
    m_read_handle = open_handle(&error);
  if (!m_read_handle) {
    deliver_error(error != 0 ? error : EACCES);
    return;
  }
  m_reader = std::make_unique<THidDeviceReadThread>(this, m_controller, m_read_handle.get());
  m_reader->start();
  qCDebug(lc_hid) << "reader started:" << m_pnp.path;
}

void THidDevice::stop_reader() {
  if (m_reader) {
    m_reader->stop();
    m_reader.reset();
    qCDebug(lc_hid) << "reader stopped:" << m_pnp.path;
  }
}

std::unique_ptr<THidHandle> THidDevice::open_handle(int *error) {
  int reason = 0;
  std::unique_ptr<THidHandle> handle = m_controller->m_backend->open(m_pnp.path, &reason);
  if (!handle && hid_permission_error(reason))
    m_permission_denied = true;
  if (handle)
    qCDebug(lc_hid) << "opened:" << m_pnp.path;
  else
    qCInfo(lc_hid) << "cannot open" << m_pnp.path << "-" << qt_error_string(reason);
  if (error)
    *error = reason;
  return handle;
}

void THidDevice::close_handles() {
  // Never under a running reader: the read handle is in use there.
  stop_reader();
  if (m_main_handle || m_read_handle)
    qCDebug(lc_hid) << "closed:" << m_pnp.path;
  m_main_handle.reset();
  m_read_handle.reset();
}

void THidDevice::deliver_report(std::uint8_t report_id, const std::uint8_t *data, int size) {
  // A copy: the handler may replace itself.
  if (THidDataEvent handler = m_data_handler)
    handler(this, report_id, data, size);
}

void THidDevice::deliver_error(int error) {
  qCInfo(lc_hid) << "read error on" << m_pnp.path << "-" << qt_error_string(error);
  if (THidDataErrorEvent handler = m_data_error_handler)
    handler(this, error);
  // A read that fails usually means the device is going: look without waiting for the notice
  // (there is none within a second where the back end has to poll).
  m_controller->request_device_change();
}

// ---------------------------------------------------------------------------------------------
// THidDeviceController

THidDeviceController::THidDeviceController(QObject *owner, std::unique_ptr<THidBackend> backend)
    : QObject(owner), m_backend(backend ? std::move(backend) : std::make_unique<TNoDevices>()) {
  connect(m_backend.get(), &THidBackend::device_nodes_changed, this, [this] { DeviceChange(false); });
  // The first scan runs once the event loop processes events, like a posted device-change
  // notice: the owner finishes setting up its handlers first.
  QMetaObject::invokeMethod(
      this, [this] { DeviceChange(true); }, Qt::QueuedConnection);
}

THidDeviceController::~THidDeviceController() {
  OnArrival = nullptr;
  OnEnumerate = nullptr;
  OnDeviceChange = nullptr;
  OnDeviceData = nullptr;
  OnDeviceDataError = nullptr;
  OnDeviceUnplug = nullptr;
  OnRemoval = nullptr;
  const QList<THidDevice *> devices = std::exchange(m_devices, {});
  for (THidDevice *device : devices)
    delete device; // stops its reader and closes its handles before the back end goes
  m_backend.reset();
}

void THidDeviceController::setDevThreadSleepTime(int ms) {
  const int old = m_dev_thread_sleep_time;
  m_dev_thread_sleep_time = ms;
  for (THidDevice *device : std::as_const(m_devices))
    if (device->thread_sleep_time() == old)
      device->set_thread_sleep_time(ms);
}

THidDevice *THidDeviceController::device(int index) const {
  if (index < 0 || index >= m_devices.size())
    return nullptr;
  return m_devices[index];
}

int THidDeviceController::enumerate_devices() {
  int offered = 0;
  const QList<THidDevice *> devices = m_devices;
  for (int index = 0; index < devices.size(); ++index) {
    THidDevice *device = devices[index];
    // A handler that runs the event loop may let a scan change the list meanwhile.
    if (!m_devices.contains(device) || !device->m_plugged_in)
      continue;
    device->m_enumerating = true;
    ++offered;
    bool go_on = true;
    if (THidEnumerateEvent handler = OnEnumerate)
      go_on = handler(device, static_cast<int>(m_devices.indexOf(device)));
    if (m_devices.contains(device)) {
      device->m_enumerating = false;
      if (!device->m_checked_out)
        device->close_handles();
    }
    if (!go_on)
      break;
  }
  return offered;
}

THidDevice *THidDeviceController::check_out(int index) {
  THidDevice *device = this->device(index);
  if (!device || device->m_checked_out)
    return nullptr;
  device->m_checked_out = true;
  recount();
  device->start_reader();
  return device;
}

void THidDeviceController::check_in(THidDevice *&device) {
  THidDevice *const held = std::exchange(device, nullptr);
  if (!held || !m_devices.contains(held))
    return;
  held->stop_reader();
  held->close_handles();
  held->m_checked_out = false;
  if (!held->m_plugged_in) {
    m_devices.removeOne(held);
    // Checked in from inside its own unplug notice: DeviceChange still passes it to OnRemoval
    // and deletes it afterwards.
    if (m_notifying.contains(held))
      held->m_discard_pending = true;
    else
      delete held;
  }
  recount();
}

void THidDeviceController::request_device_change() {
  if (m_change_posted)
    return;
  m_change_posted = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_change_posted = false;
        DeviceChange(false);
      },
      Qt::QueuedConnection);
}

void THidDeviceController::recount() {
  m_available = 0;
  m_checked_out = 0;
  for (const THidDevice *device : std::as_const(m_devices)) {
    if (device->m_checked_out)
      ++m_checked_out;
    else if (device->m_plugged_in)
      ++m_available;
  }
}

void THidDeviceController::DeviceChange(bool startup) {
  if (m_in_device_change) {
    // A handler ran the event loop and a notice came in: scan again when this one ends rather
    // than lose it.
    m_change_again = true;
    return;
  }
  m_in_device_change = true;
  bool changed = false;

  const QList<THidScanEntry> fresh = m_backend->scan();
  if (lc_hid().isDebugEnabled()) {
    qCDebug(lc_hid) << "scan:" << fresh.size() << "HID devices";
    for (const THidScanEntry &entry : fresh)
      qCDebug(lc_hid) << " " << entry.pnp.path << entry.product_string
                      << (entry.permission_denied ? "permission denied"
                          : entry.read_write      ? "read/write"
                                                  : "query only");
  }
  QSet<QString> fresh_instances;
  for (const THidScanEntry &entry : fresh)
    fresh_instances.insert(entry.pnp.device_instance);

  // Vanished devices, from the end of the list. Each is notified once.
  const QList<THidDevice *> snapshot = m_devices;
  for (auto it = snapshot.crbegin(); it != snapshot.crend(); ++it) {
    THidDevice *device = *it;
    if (!m_devices.contains(device) || device->m_removal_notified)
      continue;
    if (device->m_plugged_in && fresh_instances.contains(device->m_pnp.device_instance))
      continue;
    changed = true;
    qCInfo(lc_hid) << "gone:" << device->m_pnp.path;
    device->close_handles();
    device->m_plugged_in = false;
    device->m_removal_notified = true;
    m_notifying.insert(device);
    if (THidPlugEvent unplug = std::exchange(device->m_unplug_handler, nullptr))
      unplug(device);
    if (THidPlugEvent removal = OnRemoval)
      removal(device);
    m_notifying.remove(device);
    if (device->m_discard_pending) {
      delete device;
    } else if (!device->m_checked_out) {
      m_devices.removeOne(device);
      delete device;
    }
  }

  // Devices still present take their access from this scan: permissions change while a device
  // stays plugged in (a udev rule applied with "udevadm trigger", a user logging in locally).
  QHash<QString, const THidScanEntry *> by_instance;
  for (const THidScanEntry &entry : fresh)
    by_instance.insert(entry.pnp.device_instance, &entry);
  QSet<QString> known;
  for (THidDevice *device : std::as_const(m_devices)) {
    if (!device->m_plugged_in)
      continue;
    known.insert(device->m_pnp.device_instance);
    if (device->m_checked_out)
      continue; // its holder decided on what it had
    if (const THidScanEntry *entry = by_instance.value(device->m_pnp.device_instance)) {
      device->m_read_write = entry->read_write;
      device->m_permission_denied = entry->permission_denied;
    }
  }
  QList<THidDevice *> arrived;
  for (const THidScanEntry &entry : fresh) {
    if (known.contains(entry.pnp.device_instance))
      continue;
    known.insert(entry.pnp.device_instance);
    const int sleep = valid_sleep_time(m_dev_thread_sleep_time) ? m_dev_thread_sleep_time : kDefaultSleepTime;
    auto *device = new THidDevice(this, entry, sleep);
    qCInfo(lc_hid) << "arrived:" << entry.pnp.path << entry.product_string;
    if (entry.permission_denied)
      qCInfo(lc_hid) << "this user may not open" << entry.pnp.path << "(no udev rule or local session)";
    m_devices.append(device);
    arrived.append(device);
  }
  if (!arrived.isEmpty())
    changed = true;
  for (THidDevice *device : std::as_const(arrived))
    if (THidPlugEvent handler = OnArrival; handler && m_devices.contains(device))
      handler(device);

  recount();
  if (changed || startup)
    if (THidNotifyEvent handler = OnDeviceChange)
      handler();

  m_in_device_change = false;
  if (std::exchange(m_change_again, false))
    request_device_change();
}
