#pragma once

#include <QString>
#include <QStringList>

class TVirtualQX5200Device;

// The faults `--simulate=FAULT[,FAULT...]` gives the virtual QX5200, so that a script's (or a
// user's) handling of a failing device can be tried without one:
//   no-board[=SECONDS]       no load board is inserted (or it is pulled out SECONDS into a run)
//   over-temperature[=SECS]  the load board reports over-temperature (or from SECS into a run on)
//   latency=MS               every reply takes MS milliseconds (a slow link)
//   unplug-after=SECONDS     the USB cable is pulled SECONDS after the program started
//   no-reply-after=COMMANDS  the device answers COMMANDS commands, then no more
struct TSimulateFaults {
  bool no_board = false;
  bool over_temperature = false;
  double board_removed_after = -1; // s into a run; < 0: never
  double hot_after = -1;           // s into a run; < 0: never
  double latency_ms = -1;          // < 0: the model's own
  double unplug_after = -1;        // s; < 0: never
  int no_reply_after = -1;         // commands; < 0: always answers

  // Reads a comma-separated list; false, with a reason naming the wrong entry, otherwise.
  bool parse(const QString &list, QString &reason);
  // Sets the device up; the unplug timer runs on the calling thread's event loop.
  void apply(TVirtualQX5200Device &device) const;
  static QString choices();
};

// Takes "--simulate=LIST" out of args, leaving "--simulate" in its place for the option
// parser, which knows no option with an optional value. list gets LIST (empty without one).
QStringList take_simulate_list(QStringList args, QString &list);
