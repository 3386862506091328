#pragma once

#include "HidBackend.h"

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class THidDevice;
class THidDeviceController;

// "qx5200.hid": scans, permissions, open and close, readers, read errors, the device the
// transport takes. Off unless QT_LOGGING_RULES switches it on.
Q_DECLARE_LOGGING_CATEGORY(lc_hid)

using THidPlugEvent = std::function<void(THidDevice *device)>;
using THidEnumerateEvent = std::function<bool(THidDevice *device, int index)>;
using THidNotifyEvent = std::function<void()>;
// data points at the bytes behind the report ID; size is their count.
using THidDataEvent =
    std::function<void(THidDevice *device, std::uint8_t report_id, const std::uint8_t *data, int size)>;
using THidDataErrorEvent = std::function<void(THidDevice *device, int error)>;

// The reader of one checked-out device. It hands every input report to the UI thread and waits
// until the device's data handler has run there, so handlers need no locks. Stopping it cancels
// a hand-over that the UI thread has not started yet (the report is dropped: whoever stops the
// reader no longer wants its data) and joins the thread; the UI thread never waits for a
// hand-over it would have to run itself, so stopping never deadlocks and runs no other events.
class THidDeviceReadThread : public QThread {
  Q_OBJECT
public:
  THidDeviceReadThread(THidDevice *device, THidDeviceController *controller, THidHandle *read_handle);
  ~THidDeviceReadThread() override;

  // UI thread. Returns once the thread has finished.
  void stop();

protected:
  void run() override;

private:
  struct Shared;
  std::shared_ptr<Shared> m_shared;
  THidDeviceController *m_controller;
  THidHandle *m_read_handle;
};

class THidDevice {
public:
  THidDevice(const THidDevice &) = delete;
  THidDevice &operator=(const THidDevice &) = delete;

  const THidPnPInfo &pnp_info() const { return m_pnp; }
  bool plugged_in() const { return m_plugged_in; }
  bool enumerating() const { return m_enumerating; }
  bool read_write_access() const { return m_read_write; }
  // The system refuses this user access to the device: said by the last scan, or by an open
  // that was refused since.
  bool permission_denied() const { return m_permission_denied; }
  bool reader_running() const { return m_reader != nullptr; }

  // At most 254 characters; read when the device may be opened (checked out or being
  // enumerated) and cached from then on. Empty when unknown.
  QString product_string();

  // Setting a handler starts the reader when the device is plugged in, checked out and
  // writable; setting none stops it.
  void set_data_handler(THidDataEvent handler);

  // One output report, report ID first, written synchronously. True when all bytes went out.
  bool write_report(const std::uint8_t *data, int count, int *written = nullptr);

  int thread_sleep_time() const { return m_thread_sleep_time; }
  // Milliseconds per wait of the reader; values outside 10..10000 are ignored.
  void set_thread_sleep_time(int ms);

private:
  friend class THidDeviceController;
  friend class THidDeviceReadThread;

  THidDevice(THidDeviceController *controller, const THidScanEntry &entry, int thread_sleep_time);
  ~THidDevice();

  bool may_open() const { return m_plugged_in && (m_checked_out || m_enumerating); }
  void start_reader();
  void stop_reader();
  void close_handles();
  std::unique_ptr<THidHandle> open_handle(int *error);
  void deliver_report(std::uint8_t report_id, const std::uint8_t *data, int size);
  void deliver_error(int error);

  THidDeviceController *m_controller;
  THidPnPInfo m_pnp;
  QString m_scanned_product;
  QString m_product;
  bool m_plugged_in = true;
  bool m_checked_out = false;
  bool m_enumerating = false;
  bool m_read_write = false;
  bool m_permission_denied = false;
  bool m_removal_notified = false;
  bool m_discard_pending = false;
  std::unique_ptr<THidHandle> m_main_handle;
  std::unique_ptr<THidHandle> m_read_handle;
  THidDataEvent m_data_handler;
  THidDataErrorEvent m_data_error_handler;
  THidPlugEvent m_unplug_handler;
  std::atomic<int> m_thread_sleep_time;
  std::unique_ptr<THidDeviceReadThread> m_reader;
};

// Keeps the list of present HID devices, rescans on every device-change notice of its back end,
// offers the devices to its owner, hands them out (check_out) and takes them back (check_in).
// Everything here runs on the UI thread.
class THidDeviceController : public QObject {
  Q_OBJECT
public:
  // The back end is the one the program start chose. An empty one gives a controller that sees
  // no device and opens nothing (a window under test, say): forgetting to name one never falls
  // back on the system's devices. The first scan runs when the event loop first processes
  // events, so enumerate_devices offers nothing before.
  THidDeviceController(QObject *owner, std::unique_ptr<THidBackend> backend);
  ~THidDeviceController() override;

  int DevThreadSleepTime() const { return m_dev_thread_sleep_time; }
  // Devices still on the old value follow; new devices start with it.
  void setDevThreadSleepTime(int ms);

  THidPlugEvent OnArrival;
  THidEnumerateEvent OnEnumerate;
  THidNotifyEvent OnDeviceChange;
  THidDataEvent OnDeviceData;
  THidDataErrorEvent OnDeviceDataError;
  THidPlugEvent OnDeviceUnplug;
  THidPlugEvent OnRemoval;

  // Offers each plugged-in device in list order to OnEnumerate until it answers false.
  // Returns the number offered.
  int enumerate_devices();
  // nullptr when index is outside the list or the device is checked out already.
  THidDevice *check_out(int index);
  // Stops the reader and closes the handles; a device that is gone is discarded. Clears device.
  void check_in(THidDevice *&device);

  int device_count() const { return static_cast<int>(m_devices.size()); }
  THidDevice *device(int index) const;
  int available_count() const { return m_available; }
  int checked_out_count() const { return m_checked_out; }
  THidBackend *backend() const { return m_backend.get(); }

private:
  friend class THidDevice;
  friend class THidDeviceReadThread;

  void DeviceChange(bool startup);
  void request_device_change();
  void recount();

  std::unique_ptr<THidBackend> m_backend;
  QList<THidDevice *> m_devices;
  QSet<THidDevice *> m_notifying;
  int m_dev_thread_sleep_time = 100;
  int m_available = 0;
  int m_checked_out = 0;
  bool m_in_device_change = false;
  bool m_change_again = false;
  bool m_change_posted = false;
};
