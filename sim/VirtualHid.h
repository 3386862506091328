#pragma once

#include "HidBackend.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// A virtual HID bus for tests and the simulator: devices are plugged and unplugged by product
// string, every output report is recorded and passed to the device's firmware model, and input
// reports are delivered from any thread after a chosen delay. Its back end stands where the
// Linux one would; nothing above the HID access layer can tell them apart.

class VirtualHidDevice;
class VirtualHidHandle;
class VirtualHidBackend;

// The device model's seat: it sees every output report and answers through
// VirtualHidDevice::deliver_input_report (at once, later, from another thread, or never).
class VirtualHidFirmware {
public:
  virtual ~VirtualHidFirmware() = default;
  // Runs on the thread that wrote the report, with no lock of the bus held. The report is as
  // written: report ID first.
  virtual void output_report(VirtualHidDevice &device, const QByteArray &report) = 0;
};

class VirtualHidDevice {
public:
  // refused: the system refuses this user access to it (scans say permission_denied, opens fail
  // with EACCES), as a real device without a udev rule.
  VirtualHidDevice(const QString &product_string, bool read_write, bool refused = false);
  ~VirtualHidDevice();

  QString product_string() const { return m_product; }
  bool plugged_in() const;
  // The path it was last plugged at ("virtual:hidN", reused like /dev/hidrawN), empty before.
  QString path() const;

  void set_firmware(std::shared_ptr<VirtualHidFirmware> firmware);
  // So a watcher can stand in front of the model and pass every report on to it.
  std::shared_ptr<VirtualHidFirmware> firmware() const;

  // Any thread. The report reaches every handle open at this moment once delay has passed,
  // like the kernel: up to 64 waiting reports per handle, newer ones dropped. Dropped when the
  // device is unplugged.
  void deliver_input_report(std::uint8_t report_id, QByteArrayView data,
                            std::chrono::milliseconds delay = std::chrono::milliseconds(0));

  // Every output report written to the device, report ID first.
  QList<QByteArray> output_reports() const;
  int output_report_count() const;
  void clear_output_reports();
  int open_handle_count() const;

private:
  friend class VirtualHidBus;
  friend class VirtualHidHandle;
  friend class VirtualHidBackend;

  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  const QString m_product;
  const bool m_read_write;
  const bool m_refused;
  bool m_plugged = false;
  QString m_path;
  QString m_instance;
  std::vector<VirtualHidHandle *> m_handles;
  QList<QByteArray> m_outputs;
  std::shared_ptr<VirtualHidFirmware> m_firmware;
};

class VirtualHidBus : public std::enable_shared_from_this<VirtualHidBus> {
public:
  static std::shared_ptr<VirtualHidBus> create();

  // Any thread. A new device, plugged in at the end of the bus.
  std::shared_ptr<VirtualHidDevice> plug(const QString &product_string, bool read_write = true,
                                         bool refused = false);
  // Plugs an unplugged device again: it gets a new identity, maybe its old path.
  void plug(const std::shared_ptr<VirtualHidDevice> &device);
  // Open handles fail from now on, as after a real unplug.
  void unplug(const std::shared_ptr<VirtualHidDevice> &device);

  // A back end for one controller; every plug and unplug reaches it as a device-change notice.
  std::unique_ptr<THidBackend> make_backend();

private:
  VirtualHidBus() = default;
  friend class VirtualHidBackend;

  void notify_locked();

  mutable std::mutex m_mutex;
  QList<std::shared_ptr<VirtualHidDevice>> m_plugged;
  std::vector<VirtualHidBackend *> m_backends;
  quint64 m_next_instance = 1;
};
