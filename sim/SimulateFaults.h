#pragma once

#include <QString>
#include <QStringList>

class TVirtualQX5200Device;

// The faults `--simulate=FAULT[,FAULT...]` gives the virtual QX5200, so that a script's (or a
// user's) handling of a failing device can be tried without one:
//   no-board                 no load board is inserted
//   over-temperature         the load board reports over-temperature
//   unplug-after=SECONDS     the USB cable is pulled SECONDS after the program started
//   no-reply-after=COMMANDS  the device answers COMMANDS commands, then no more
struct TSimulateFaults {
  bool no_board = false;
  bool over_temperature = false;
  double unplug_after = -1; // s; < 0: never
  int no_reply_after = -1;  // commands; < 0: always answers

  // Reads a comma-separated list; false, with a reason naming the wrong entry, otherwise.
  bool parse(const QString &list, QString &reason);
  // Sets the device up; the unplug timer runs on the calling thread's event loop.
  void apply(TVirtualQX5200Device &device) const;
  static QString choices();
};

// Takes "--simulate=LIST" out of args, leaving "--simulate" in its place for the option
// parser, which knows no option with an optional value. list gets LIST (empty without one).
QStringList take_simulate_list(QStringList args, QString &list);
