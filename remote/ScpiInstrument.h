#pragma once

#include "ScpiCommands.h"

#include <QChar>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class TDeviceLock;
class TDeviceTurn;
class TQX5200_DRIVER;

// The QX5200 as a SCPI instrument: the command set over the driver, and the poll that keeps
// the driver's view of the device current while clients come and go (run state every 50 ms
// while a waveform plays, the status every 500 ms, a search every second while the device is
// gone). Device work happens only while holding the turn, so the poll and the clients'
// commands never nest their exchanges.
class TQX5200Instrument : public QObject {
  Q_OBJECT
public:
  static constexpr int run_interval_ms = 50;
  static constexpr int status_interval_ms = 500;
  static constexpr int search_interval_ms = 1000;
  // A measurement query reads the status again when the last reading is older than this.
  static constexpr int fresh_ms = 50;

  // The driver's transport is already attached to the lock.
  TQX5200Instrument(TQX5200_DRIVER &driver, TDeviceLock &lock, TDeviceTurn &turn, QObject *parent = nullptr);

  // Reads what the window reads when it finds the device (a run in progress is left alone);
  // false when the device is not there or does not answer.
  bool open_device();
  void start_polling();
  TScpiCommandTable &table() { return table_; }
  long double usb_voltage() const { return usb_voltage_; }

  // After each status reading (the run log's row).
  std::function<void()> on_status;

private:
  void add_commands();
  void tick();
  void poll_device();
  bool device_ready(TScpiCall &call);
  bool fresh_status(TScpiCall &call);
  void lost(TScpiCall &call);
  void board_changed();
  void rebuild();
  void report_data_error(TScpiCall &call);
  void set_block(TScpiCall &call);
  void start(TScpiCall &call);
  QByteArray condition() const;

  TQX5200_DRIVER &driver_;
  TDeviceLock &lock_;
  TDeviceTurn &turn_;
  TScpiCommandTable table_;
  QTimer timer_;
  QElapsedTimer status_age_;
  bool connected_ = false;
  bool board_ready_ = false;
  long double usb_voltage_ = 0;
  bool pwl_ = false;
  QChar separator_ = u'\t';
};
