#pragma once

#include <QPointer>
#include <QString>
#include <QtGlobal>

#include <functional>

class TQHID;

// One program per device: an exclusive flock on a lock file named after the device's path, in
// $XDG_RUNTIME_DIR (or a per-user folder in /tmp). The kernel drops the lock when its holder
// dies, however it dies, so a crashed program never leaves the device locked. The holder writes
// its name, pid and, once known, the device's serial number into the file, so the program that
// is refused can say who holds the device.
class TDeviceLock {
public:
  struct Holder {
    QString program;
    qint64 pid = 0;
    QString serial; // empty until the holder has read it
  };

  explicit TDeviceLock(QString program);
  ~TDeviceLock();
  TDeviceLock(const TDeviceLock &) = delete;
  TDeviceLock &operator=(const TDeviceLock &) = delete;

  // Takes the lock of the device at path (releasing any other held). False when another
  // program holds it: holder() then says who, as far as its file tells.
  bool acquire(const QString &path);
  void release();
  bool held() const { return fd_ >= 0; }
  const QString &path() const { return path_; }
  // Recorded in the lock file for programs that are refused.
  void set_serial(quint16 serial);
  const Holder &holder() const { return holder_; }
  // "QX5200 <serial> is in use by <program> (pid N)" for the last refusal; the path stands in
  // for a serial number the holder has not read yet.
  QString in_use_text() const;
  // The device path of the last refusal.
  const QString &refused_path() const { return refused_path_; }

  // Makes the transport take a device only when this lock can be had, and let it go with the
  // device. Only devices at only_path are taken when it is not empty. Either may go first: the
  // lock takes its handlers back from a transport that outlives it.
  void attach(TQHID *hid, const QString &only_path = {});

  // Told true once the lock is taken and false just before it is let go: what the holder serves
  // beside the lock file goes first, so the next holder never finds its own socket removed.
  void set_on_held(std::function<void(bool held)> on_held) { on_held_ = std::move(on_held); }

  // A virtual device's ("virtual:...") is the calling process's own, or with QX5200_SIMULATE_PID
  // set, that of the process it names: a test's second process then finds the first holding it.
  static QString lock_file(const QString &path);
  // Beside the lock file: the load board record the words last uploaded by qx5200-ctl were built
  // against, so that a later `start` in another process plays them only on that board. A
  // program that may upload anything else (the window) removes it when it takes the device.
  static QString upload_stamp_file(const QString &path) {
    return lock_file(path) + QStringLiteral(".uploaded");
  }
  void set_clears_upload_stamp(bool on) { clears_upload_stamp_ = on; }
  // Who holds the device at path now, without taking it; false when nobody does.
  static bool probe(const QString &path, Holder &holder);

private:
  void write_holder();

  QPointer<TQHID> hid_;
  QString program_;
  QString path_;
  QString serial_;
  QString refused_path_;
  Holder holder_;
  int fd_ = -1;
  bool clears_upload_stamp_ = false;
  std::function<void(bool)> on_held_;
};
