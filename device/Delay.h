#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

// The one wait of the device link: the message loop runs until the wait ends. Every wait for a
// reply, a pause and qx5200-ctl's poll interval goes through it.
//
// What runs inside it: everything the event queue delivers meanwhile, handled as in the main
// loop. Input reports (a reader thread hands each over and the transport stores it), clicks and
// keys, timers (the window's poll tick among them), device notices and scans, queued calls.
// A handler may start another wait; that nested wait runs to its own end first, and an outer
// wait whose end came meanwhile (its signal, its last tick, end()) returns as soon as the inner
// one has. Nothing here keeps waits from nesting: the window queues its requests so that device
// exchanges never do.
//
// What ends it: a signal named with end_on (a stored report, a lost device); done() found true
// when the wait starts or at a tick; the last tick; end() from a handler; the application
// quitting (QCoreApplication::exit ends every running QEventLoop, and a wait started after it
// returns at once). A tick lasts at least its tick_ms: the timer is a precise one.
class TEventWait {
public:
  // `ticks` ticks of tick_ms each; with 0 ticks only the other ends apply.
  explicit TEventWait(int tick_ms = 0, int ticks = 0);

  template <typename Sender, typename Signal> void end_on(const Sender *sender, Signal signal) {
    QObject::connect(sender, signal, &loop_, &QEventLoop::quit);
  }
  void end() { loop_.quit(); }

  // Waits until one of the ends above. `done`, when given, is looked at first and at every tick.
  void run(const std::function<bool()> &done = {});

private:
  QEventLoop loop_;
  QTimer tick_;
  int ticks_;
};

// A pause of the message loop through TEventWait, on a timer of its own whose tick disables it.
class TDelay : public QObject {
  Q_OBJECT
public:
  explicit TDelay(QObject *owner = nullptr);

  // Returns at once for 0; otherwise waits at least max(ms, 1) milliseconds (the whole part).
  // A delay_ms started by a handler inside this one restarts the same timer, and its tick ends
  // both: the outer wait never outlasts the inner one.
  void delay_ms(double ms);

  bool enabled() const { return timer_.isActive(); }

private:
  QTimer timer_;
};
