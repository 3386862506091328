#include "Delay.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <climits>

TDelay::TDelay(QObject *owner) : QObject(owner) {
  // The tick disables the timer; the wait ends once it is disabled.
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
  // Loop on the timer's state rather than on a private flag: a nested delay_ms started by a
  // handler inside this wait reuses the timer, and its tick must end this wait too.
  while (timer_.isActive())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
