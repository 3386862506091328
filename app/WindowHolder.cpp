#include "WindowHolder.h"

#include "DeviceLock.h"
#include "DeviceStatus.h"
#include "HolderSocket.h"
#include "QX5200_Driver.h"
#include "QX5200_unit.h"

#include <cstdio>

TWindowHolder::TWindowHolder(TForm1 &window, TDeviceLock &lock) : window_(window), lock_(lock) {
  lock_.set_on_held([this](bool held) { held ? serve() : end(); });
  if (lock_.held())
    serve();
  connect(&window_, &TForm1::tick_finished, this, [this] {
    const quint16 serial = window_.driver->serial_number();
    if (lock_.held() && serial != 0 && serial != recorded_serial_) {
      lock_.set_serial(serial);
      recorded_serial_ = serial;
    }
  });
}

TWindowHolder::~TWindowHolder() {
  lock_.set_on_held({});
  end();
}

void TWindowHolder::serve() {
  end();
  recorded_serial_ = 0; // a lock taken anew names no device yet
  THolderService::THandlers handlers;
  handlers.status = [this] {
    return device_status_json(*window_.driver, lock_.path(), window_.driver->usb_voltage());
  };
  handlers.stop = [this](const QString &who) {
    window_.stop_waveform();
    window_.show_status_message(QStringLiteral("Stopped by %1").arg(who));
  };
  service_ = new THolderService(std::move(handlers), this);
  QString reason;
  if (!service_->listen(lock_.path(), reason))
    std::fprintf(stderr, "qx5200: other programs cannot ask for status or stop: %s\n",
                 reason.toLocal8Bit().constData());
}

void TWindowHolder::end() {
  if (!service_)
    return;
  // The socket goes now, before the lock; the service itself once the request it may be
  // answering has returned.
  service_->close();
  service_->deleteLater();
  service_ = nullptr;
}
