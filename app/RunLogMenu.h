#pragma once

#include "RunLog.h"

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class TForm1;

// The window's run log: a checkable "Run Log" item (off at start) that writes one row per tick
// of the window's polling loop while a device is connected, with the columns of qx5200-ctl's
// log. The file is asked for the first time it is turned on and kept for later ones; while
// logging, the status bar shows it. A row is one unbuffered write of what the tick has already
// read, so logging adds no exchange to the poll.
class TRunLogMenu : public QObject {
  Q_OBJECT
public:
  using TAskFile = std::function<QString()>;

  TRunLogMenu(TForm1 &window, QMenu *menu, TAskFile ask_file);

  QAction *action() const { return action_; }
  bool logging() const { return log_.is_open(); }
  const QString &file_name() const { return file_name_; }

private:
  void toggled(bool on);
  void tick();
  void stop(const QString &why);

  TForm1 &window_;
  TAskFile ask_file_;
  QAction *action_;
  QLabel *label_;
  TRunLog log_;
  QString file_name_;
};
