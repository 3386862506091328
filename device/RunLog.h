#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class TQX5200_DRIVER;

// The run log: one row per status poll (time, seconds since the log began, running, sensor value
// and units, temperature, over-temperature, board present), as CSV with a header line or as
// JSON Lines. Each row goes to the file in one write as soon as it is made, unbuffered, so a
// program that crashes or is killed loses at most the row it was writing. A file that exists is
// appended to (a test restarted after a crash keeps what the first run logged); the CSV header is
// written only into an empty file.
class TRunLog {
public:
  enum TFormat { csv, json_lines };

  TRunLog() = default;
  ~TRunLog();
  TRunLog(const TRunLog &) = delete;
  TRunLog &operator=(const TRunLog &) = delete;

  // path "-" is standard output. False, with the reason, when the file cannot be opened.
  bool open(const QString &path, TFormat format, QString &reason);
  void close();
  bool is_open() const { return fd_ >= 0; }
  const QString &path() const { return path_; }
  // The elapsed column counts from here (open starts it too).
  void restart_clock() { clock_.start(); }

  // One row from what the driver's last status poll and run-state query left. False, with the
  // reason, when the row could not be written.
  bool write_row(const TQX5200_DRIVER &driver, QString &reason);

  static QByteArray csv_header();
  static QByteArray format_row(TFormat format, const QString &iso_time, double elapsed, bool running,
                               long double sensor, const QString &sensor_units, long double temperature,
                               bool over_temperature, bool board_present);

private:
  bool write_all(const QByteArray &bytes, QString &reason);

  int fd_ = -1;
  bool owns_fd_ = false;
  TFormat format_ = csv;
  QString path_;
  QElapsedTimer clock_;
};
