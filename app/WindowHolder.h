#pragma once

#include <QObject>
#include <QtGlobal>

class TDeviceLock;
class TForm1;
class THolderService;

// The window as its device's holder: while it holds the device's lock it answers other programs
// (`qx5200-ctl status` and `stop`) on the holder socket beside the lock file. The status comes
// from what the window's own polls left, a stop is what its STOP button does, and the status bar
// says who asked. The lock file names the device once the window has read its serial number.
// Nothing here talks to the device.
class TWindowHolder : public QObject {
  Q_OBJECT
public:
  // Both outlive this object.
  TWindowHolder(TForm1 &window, TDeviceLock &lock);
  ~TWindowHolder() override;

private:
  void serve();
  void end();

  TForm1 &window_;
  TDeviceLock &lock_;
  THolderService *service_ = nullptr;
  quint16 recorded_serial_ = 0;
};
