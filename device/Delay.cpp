#include "Delay.h"

#include <climits>

TEventWait::TEventWait(int tick_ms, int ticks) : ticks_(ticks) {
  tick_.setTimerType(Qt::PreciseTimer);
  tick_.setInterval(tick_ms);
}

void TEventWait::run(const std::function<bool()> &done) {
  if (done && done())
    return;
  int waits = 0;
  QMetaObject::Connection counting;
  if (ticks_ > 0) {
    counting = QObject::connect(&tick_, &QTimer::timeout, &loop_, [&] {
      ++waits;
      if (waits >= ticks_ || (done && done()))
        loop_.quit();
    });
    tick_.start();
  }
  loop_.exec();
  tick_.stop();
  QObject::disconnect(counting);
}

TDelay::TDelay(QObject *owner) : QObject(owner) {
  // The tick disables the timer; the wait ends on it.
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
}

void TDelay::delay_ms(double ms) {
  if (ms == 0)
    return;
  if (!(ms >= 1)) // also a NaN
    ms = 1;
  if (ms > INT_MAX)
    ms = INT_MAX;
  timer_.start(int(ms));
  // Ends on the timer's tick rather than on a timer of the wait's own: a nested delay_ms reuses
  // the timer, and its tick must end this wait too.
  TEventWait wait;
  wait.end_on(&timer_, &QTimer::timeout);
  wait.run();
}
