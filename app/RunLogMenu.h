#pragma once

#include "RunLog.h"

#include <QObject>
#include <QString>

class QAction;
class QLabel;
class QMenu;
class TForm1;

// The window's run log: a checkable "Run Log" item (off at start) that writes one row per tick
// of the window's polling loop while a device is connected, with the columns of qx5200-ctl's
// log. Each start asks where to: the last file again (its rows appended) or a new file, and of a
// file that already holds rows, whether to append or replace. While logging, the status bar
// shows the file. A row is one unbuffered write of what the tick has already read, so logging
// adds no exchange to the poll; what the tick did not read (the status during a run, a board not
// known) stays empty. A file that cannot be written is said in a message and the status bar; a
// failure while logging ends the log, never the run.
class TRunLogMenu : public QObject {
  Q_OBJECT
public:
  TRunLogMenu(TForm1 &window, QMenu *menu);

  QAction *action() const { return action_; }
  bool logging() const { return log_.is_open(); }
  const QString &file_name() const { return file_name_; }

private:
  void toggled(bool on);
  bool choose_file(QString &name, TRunLog::TOpenMode &mode);
  void tick();
  void stop(const QString &why);

  TForm1 &window_;
  QAction *action_;
  QLabel *label_;
  TRunLog log_;
  QString file_name_; // the last file logged to
};
