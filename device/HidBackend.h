#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// What the HID access layer needs from the operating system, behind one small interface. The
// Linux back end (hidapi + libudev) lives in HidBackendLinux; a virtual one lives in sim/.
// The program's start chooses the back end and hands it down to the controller; nothing above
// the controller knows which one it runs on.

// How a device is found again: the path that is opened, and an identity that stays the same
// from one scan to the next for as long as the device stays plugged in (a re-plugged device
// gets a new one even when its path is reused).
struct THidPnPInfo {
  QString path;
  QString device_instance;
};

// One device as a scan reports it.
struct THidScanEntry {
  THidPnPInfo pnp;
  QString product_string;  // empty when the device has none
  bool read_write = false; // false: the device can be listed and queried but not opened
  // The system refuses this user access to the device (no udev rule, no local session):
  // distinct from a device that is merely busy or going away.
  bool permission_denied = false;
};

// Whether an errno-style code from open() or a read says the user lacks permission.
inline bool hid_permission_error(int error) { return error == EACCES || error == EPERM; }

// An open device. Writes and the destructor run on the UI thread; read() runs on the device's
// reader thread; cancel_read() may be called from any thread.
class THidHandle {
public:
  virtual ~THidHandle() = default;
  // Writes one output report (report ID first). Bytes written, or -1.
  virtual int write(const std::uint8_t *data, std::size_t length) = 0;
  // Reads one input report into buffer with its report ID first (0 for a device without
  // numbered reports). Bytes read, 0 when nothing came within timeout_ms or the read was
  // cancelled, -1 on an error (the device is gone, for instance) with errno-style code in *error.
  virtual int read(std::uint8_t *buffer, std::size_t length, int timeout_ms, int *error) = 0;
  // Makes a read that is running, or the next one, return soon.
  virtual void cancel_read() = 0;
};

class THidBackend : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;
  ~THidBackend() override = default;

  // The HID devices present now, in a stable order. UI thread.
  virtual QList<THidScanEntry> scan() = 0;
  // Opens a device for reading and writing; nullptr when that is refused, with an errno-style
  // reason in *error when error is given (0 when there is none). UI thread.
  virtual std::unique_ptr<THidHandle> open(const QString &path, int *error = nullptr) = 0;

signals:
  // The set of devices may have changed: raised on the UI thread, bursts already coalesced.
  void device_nodes_changed();
};

// Makes one back end per controller, for a program that creates several (qx5200-ctl list).
using THidBackendFactory = std::function<std::unique_ptr<THidBackend>()>;
