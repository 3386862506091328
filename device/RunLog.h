#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <optional>

class TQX5200_DRIVER;

// The run log: one row per status poll (time, seconds since the log began, running, sensor value
// and units, temperature, over-temperature, board present), as CSV with a header line or as
// JSON Lines. Each row goes to the file in one write as soon as it is made, unbuffered, so a
// program that crashes or is killed loses at most the row it was writing. A value that was not
// read for a row (no board, no status asked during a run) is an empty cell (JSON null), never the
// last reading.
//
// A file is appended to (a test restarted after a crash keeps what the first run logged) or
// replaced. Appending writes the CSV header only into an empty file and starts on a new line when
// the last one was cut off. Replacing keeps the old file until the new one, header included, is
// in place. A row that cannot be written whole is taken back, so the file ends with a whole row.
class TRunLog {
public:
  enum TFormat { csv, json_lines };
  enum TOpenMode { append, replace };

  // One row's readings; an empty optional was not read.
  struct TRow {
    bool running = false;
    std::optional<long double> sensor;
    QString sensor_units; // with the sensor value
    std::optional<long double> temperature;
    std::optional<bool> over_temperature;
    std::optional<bool> board_present;
  };

  TRunLog() = default;
  ~TRunLog();
  TRunLog(const TRunLog &) = delete;
  TRunLog &operator=(const TRunLog &) = delete;

  // path "-" is standard output. False, with the OS's reason, when the file cannot be opened,
  // created or its header written; no file is then left behind and an old one is unchanged.
  bool open(const QString &path, TFormat format, QString &reason) {
    return open(path, format, append, reason);
  }
  bool open(const QString &path, TFormat format, TOpenMode mode, QString &reason);
  void close();
  bool is_open() const { return fd_ >= 0; }
  const QString &path() const { return path_; }
  // The errno of the last failure of open or a write (ENOSPC, EACCES, ...), 0 when none.
  int error_number() const { return errno_; }
  // The elapsed column counts from here (open starts it too).
  void restart_clock();
  // Closes the log; a file that open created and that got no row is removed again.
  void abandon();

  // The readings a driver holds. status_read: its status was asked for this row; without it, or
  // without a board, the board's readings are not the row's.
  static TRow row_from(const TQX5200_DRIVER &driver, bool status_read = true);
  // One row. False, with the reason, when the row could not be written.
  bool write_row(const TRow &row, QString &reason);
  bool write_row(const TQX5200_DRIVER &driver, QString &reason) {
    return write_row(row_from(driver), reason);
  }
  // The row scheduled offset_ms after the clock began, whose readings were taken then (or
  // within one interval after): its time and seconds are the scheduled ones, so rows polled
  // on a fixed schedule carry exact offsets from the start.
  bool write_row(const TRow &row, qint64 offset_ms, QString &reason);

  static QByteArray csv_header();
  static QByteArray format_row(TFormat format, const QString &iso_time, double elapsed, const TRow &row);
  static QByteArray format_row(TFormat format, const QString &iso_time, double elapsed, bool running,
                               long double sensor, const QString &sensor_units, long double temperature,
                               bool over_temperature, bool board_present);

private:
  bool fail(int number, QString &reason);
  bool write_all(const QByteArray &bytes, QString &reason);
  bool write_formatted(QByteArray bytes, QString &reason);

  int fd_ = -1;
  bool owns_fd_ = false;
  bool needs_newline_ = false; // the appended file's last line was cut off
  bool created_ = false;       // open made the file, and no row went into it yet
  qint64 size_ = -1;           // the file's size after the last whole write; -1 not known
  int errno_ = 0;
  TFormat format_ = csv;
  QString path_;
  QElapsedTimer clock_;
  QDateTime start_utc_; // the wall time of the clock's start
};
