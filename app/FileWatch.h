#pragma once

#include <QObject>
#include <QString>

#include <functional>

class TForm1;

// The watched data file: the one last opened or saved, followed back and forth by undoing an
// Open. While no waveform runs, the polling loop asks on each tick whether another program
// changed it. Without unsaved edits the table is read again and a notice says so; with unsaved
// edits the user is asked first, and an answer to keep them holds for that change of the file:
// the next change asks again. A reload is an Open, so one step undoes it.
class TFileWatch : public QObject {
  Q_OBJECT
public:
  struct THooks {
    std::function<bool()> modified;                  // the table holds edits not saved
    std::function<bool(const QString &file)> reload; // reads the file in as an Open; true when read
  };
  TFileWatch(TForm1 &window, THooks hooks);

  // Watches `file` from its file age `age` (taken when it was read or written, or now for an
  // Open undone or redone); an empty name watches nothing.
  void watch(const QString &file, qint64 age);
  const QString &file_name() const { return file_name_; }
  qint64 file_age() const { return file_age_; }
  // One look at the file, from the polling loop while no waveform runs.
  void tick();

  // The file age compared: modification time in ms, -1 for a missing file.
  static qint64 age_of(const QString &file);

private:
  TForm1 &window_;
  THooks hooks_;
  bool enabled_ = true;
  QString file_name_;
  qint64 file_age_ = 0;
  qint64 kept_age_ = -1; // the change whose reload the user declined
};
