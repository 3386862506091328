#pragma once

#include <QObject>
#include <QTimer>

// A wait that keeps the message loop running: everything the queue delivers meanwhile (input
// reports, clicks, timers) is handled inside it.
class TDelay : public QObject {
  Q_OBJECT
public:
  explicit TDelay(QObject *owner = nullptr);

  // Returns at once for 0; otherwise waits at least max(ms, 1) milliseconds (the whole part).
  void delay_ms(double ms);

  bool enabled() const { return timer_.isActive(); }

private:
  QTimer timer_;
};
