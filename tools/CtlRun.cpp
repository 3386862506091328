// qx5200-ctl's waveform commands: upload, start, run, and the poll that waits and logs.
#include "Ctl.h"

#include "BoardFields.h"
#include "Delay.h"
#include "DeviceStatus.h"
#include "HolderSocket.h"
#include "RunLog.h"
#include "WaveFileLoader.h"
#include "WaveReport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Ctrl+C and SIGTERM while polling: the handler only writes to a pipe, the event loop does the rest.
int signal_pipe[2] = {-1, -1};
volatile std::sig_atomic_t last_signal = 0;

void on_signal(int sig) {
  last_signal = sig;
  const char c = 1;
  if (::write(signal_pipe[1], &c, 1) < 0) {
    // The flag alone ends the loop at its next poll.
  }
}

} // namespace

// Reads the file as the window's Open does and builds it as before START, against the board in
// the device. Prints the statistics panel (or JSON) either way.
// Connected, with a load board in and no waveform running: what changing the words or the record
// needs.
int TCtl::connect_to_idle_board() {
  if (const int r = connect())
    return r;
  if (!driver_->load_board_present())
    return fail(exit_not_now,
                QStringLiteral("%1 has no load board: insert one, then run the command again.").arg(name()));
  if (driver_->is_running())
    return fail(exit_not_now,
                QStringLiteral("%1 is running a waveform: stop it first (qx5200-ctl stop).").arg(name()));
  // Nothing is uploaded that could not be started.
  if (starts_ && driver_->over_temperature())
    return fail(exit_not_now,
                QStringLiteral("%1 is over temperature: let the load board cool down.").arg(name()));
  return exit_done;
}

int TCtl::load_and_build(const QString &file) {
  std::vector<TWavePoint> points;
  QString reason;
  TWaveFileFormat format;
  TFormulaResult placed;
  TSkippedRows skipped;
  QChar other_decimal;
  if (o_.formula.given) {
    // The default accuracy follows the board in the device.
    if (const int r = connect_to_idle_board())
      return r;
    if (!formula_wave_points(o_.formula, driver_->load_board().lb_max_value, points, placed, reason))
      return fail(exit_usage, reason);
  } else {
    if (!wave_file_format(o_.format, o_.separator, o_.decimal, file, format, reason))
      return fail(exit_usage, reason);
    if (!load_wave_file(file, format, points, skipped, reason, &other_decimal))
      return fail(exit_usage, QStringLiteral("%1: %2").arg(file, reason));
    if (const int r = connect_to_idle_board())
      return r;
  }
  driver_->set_repeat_count(o_.repeat);
  driver_->set_points(std::move(points));
  driver_->build_waveform(driver_->sensor_value());
  const TQX5200Waveform &w = driver_->waveform();
  if (o_.json) {
    result_ = QJsonObject{
        {QStringLiteral("file"), file},
        {QStringLiteral("data_count"), qint64(w.data_count())},
        {QStringLiteral("data_error"), w.data_error()},
        {QStringLiteral("error_type"), w.error_type()},
        {QStringLiteral("error_index"), w.error_index()},
        // "error" is reserved for a failure's object: this is the panel's Error line.
        {QStringLiteral("error_text"), error_text(w)},
        {QStringLiteral("buffer_count"), w.buffer_count()},
        {QStringLiteral("statistics"),
         QJsonDocument::fromJson(QByteArray::fromStdString(statistics_json(w))).object()},
        {QStringLiteral("rows_skipped"),
         QJsonDocument::fromJson(QByteArray::fromStdString(skipped_rows_json(skipped))).object()},
        {QStringLiteral("board"), board_record_json(driver_->load_board())},
        {QStringLiteral("repeat"), o_.repeat},
        {QStringLiteral("decimal"),
         o_.formula.given || format.pwl ? QJsonValue() : QJsonValue(decimal_name(used_decimal(format)))},
        {QStringLiteral("other_decimal"),
         other_decimal.isNull() ? QJsonValue() : QJsonValue(decimal_name(other_decimal))},
        {QStringLiteral("uploaded"), false},
        {QStringLiteral("points"),
         QJsonDocument::fromJson(QByteArray::fromStdString(points_json(w.points()))).array()},
    };
    if (o_.formula.given) {
      result_.remove(QStringLiteral("file"));
      result_.insert(
          QStringLiteral("formula"),
          QJsonDocument::fromJson(QByteArray::fromStdString(formula_json(o_.formula, placed))).object());
    }
  } else {
    print((o_.formula.given ? formula_summary(placed) : QString()) + panel_text(w) +
          notices_text(w, skipped) +
          (other_decimal.isNull() ? QString() : other_decimal_text(format, other_decimal) + u'\n'));
  }
  if (w.data_error()) {
    const QString where = w.error_type() == TQX5200Waveform::time_not_increasing
                              ? QStringLiteral(" (row %1)").arg(w.error_index() + 1)
                              : QString();
    if (o_.json) {
      // A run's result has the keys of one that started, whatever stopped it.
      if (starts_)
        add_start_keys(false, false, -1);
      print_json(result_);
    }
    return fail(exit_data_error, QStringLiteral("%1: %2%3 for load board %4: nothing was sent.")
                                     .arg(o_.formula.given ? QStringLiteral("--formula") : file,
                                          error_message(w), where, driver_->load_board().lb_name));
  }
  return exit_done;
}

int TCtl::upload(const QString &file, bool quiet) {
  if (const int r = load_and_build(file))
    return r;
  QFile::remove(TDeviceLock::upload_stamp_file(lock_.path()));
  if (!driver_->upload_waveform())
    return lost();
  write_upload_stamp();
  result_.insert(QStringLiteral("uploaded"), true);
  if (!o_.json)
    print(QStringLiteral("Uploaded %1 words to %2.\n").arg(driver_->buffer_count()).arg(name()));
  else if (!quiet)
    print_json(result_);
  return exit_done;
}

// The board record as text, one field a line, exact (the record's reals are 4-byte floats).
static QString record_stamp(const TLoadBoardRecord &lb) {
  QStringList lines{lb.lb_name, lb.lb_units, lb.lb_sensor_units, QString::number(lb.lb_return_to_zero),
                    QString::number(lb.lb_max_value_byte)};
  for (long double x : {lb.lb_gain, lb.lb_sensor_gain, lb.lb_max_temp, lb.lb_max_power, lb.lb_max_p2t,
                        lb.lb_offset, lb.lb_sensor_offset, lb.lb_sensor_max, lb.lb_monitor_gain})
    lines << QString::number(double(x), 'g', 17);
  return lines.join(u'\n') + u'\n';
}

void TCtl::write_upload_stamp() {
  QFile f(TDeviceLock::upload_stamp_file(lock_.path()));
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
    f.write(record_stamp(driver_->load_board()).toUtf8());
}

// Words are codes scaled by the board's gain: they are started only on the board they were built
// for. In the process that uploaded them the driver reads the board again right before the
// start; a start in a new process needs the record the uploading one left beside the lock.
int TCtl::start_output(bool uploaded_here) {
  if (!driver_->load_board_present())
    return fail(exit_not_now,
                QStringLiteral("%1 has no load board: insert one, then run the command again.").arg(name()));
  if (driver_->over_temperature())
    return fail(exit_not_now,
                QStringLiteral("%1 is over temperature: let the load board cool down.").arg(name()));
  if (uploaded_here) {
    TQX5200_DRIVER::TBoardCheck check = TQX5200_DRIVER::board_ok;
    if (!driver_->start_for_inserted_board(check)) {
      if (check == TQX5200_DRIVER::board_unanswered)
        return lost();
      if (check != TQX5200_DRIVER::board_ok)
        return fail(exit_not_now, QStringLiteral("The load board of %1 changed after the waveform was built: "
                                                 "nothing was started. Run the command again.")
                                      .arg(name()));
      return lost();
    }
  } else {
    QFile f(TDeviceLock::upload_stamp_file(lock_.path()));
    if (!f.open(QIODevice::ReadOnly) || QString::fromUtf8(f.readAll()) != record_stamp(driver_->load_board()))
      return fail(
          exit_not_now,
          lock_.path().startsWith(u"virtual:")
              ? QStringLiteral("the virtual QX5200 of this process holds no waveform: every --simulate "
                               "process starts with an empty one, so use run (upload and start at once).")
              : QStringLiteral("%1 holds no waveform that qx5200-ctl uploaded for the load board now in: "
                               "upload it again, or use run.")
                    .arg(name()));
    if (!driver_->start_output())
      return lost();
  }
  if (!driver_->query_run_state())
    return lost();
  return exit_done;
}

void TCtl::interrupt_wait() {
  char buf[16];
  while (::read(signal_pipe[0], buf, sizeof buf) > 0) {
  }
  interrupted_ = true;
  if (waiting_)
    waiting_->end();
}

// Polls every interval_ms (run state, and the status when logging) until the duration has
// passed, the run has ended (until_end), the timeout has passed, or a signal came.
int TCtl::poll(int interval_ms, double duration, bool until_end, double timeout, TRunLog *log, int &rows) {
  if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return fail(exit_usage, QStringLiteral("cannot watch for signals"));
  QSocketNotifier notifier(signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [this] { interrupt_wait(); });
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  struct sigaction old_int {
  }, old_term{};
  sigaction(SIGINT, &sa, &old_int);
  sigaction(SIGTERM, &sa, &old_term);

  // While it waits, the holder answers status and stop for other programs.
  THolderService::THandlers handlers;
  handlers.status = [this] { return device_status_json(*driver_, lock_.path(), usb_voltage_); };
  handlers.stop = [this](const QString &who) {
    stopped_by_ = who;
    if (waiting_)
      waiting_->end();
  };
  THolderService holder(std::move(handlers));
  QString reason;
  if (!holder.listen(lock_.path(), reason))
    std::fprintf(stderr, "qx5200-ctl: other programs cannot ask for status or stop: %s\n",
                 reason.toLocal8Bit().constData());
  bool stopped_remotely = false;

  QElapsedTimer clock;
  clock.start();
  int result = exit_done;
  for (;;) {
    if (interrupted_ || last_signal)
      break;
    if (!stopped_by_.isEmpty() && !stopped_remotely) {
      stopped_remotely = true;
      if (!driver_->stop_output()) {
        result = lost();
        break;
      }
      std::fprintf(stderr, "qx5200-ctl: stopped by %s\n", stopped_by_.toLocal8Bit().constData());
    }
    const bool answered = driver_->query_run_state() && (!log || driver_->read_status());
    if (!answered) {
      result = lost();
      break;
    }
    if (log) {
      if (!log->write_row(*driver_, reason)) {
        result = fail(exit_usage, QStringLiteral("cannot write %1: %2").arg(log->path(), reason));
        break;
      }
      ++rows;
    }
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    if (until_end && !driver_->is_running())
      break;
    if (duration >= 0 && elapsed >= duration)
      break;
    if (timeout >= 0 && elapsed >= timeout) {
      result = fail(exit_not_now, QStringLiteral("%1 is still running after %2 s; qx5200-ctl stop ends it.")
                                      .arg(name(), QString::number(timeout)));
      break;
    }
    // The next poll is due interval_ms after this one began, but never past the end asked for.
    qint64 wait_ms = interval_ms;
    if (duration >= 0)
      wait_ms = std::min<qint64>(wait_ms, qint64(std::ceil((duration - elapsed) * 1000)));
    TEventWait wait(int(std::max<qint64>(wait_ms, 0)), 1);
    waiting_ = &wait;
    if (!interrupted_ && !last_signal)
      wait.run();
    waiting_ = nullptr;
  }
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  ::close(signal_pipe[0]);
  ::close(signal_pipe[1]);
  return result;
}

int TCtl::start(bool quiet) {
  if (!quiet) {
    if (const int r = connect())
      return r;
    // A new program does not know what the device holds; it starts what was sent earlier.
    driver_->set_waveform_changed(false);
  }
  if (const int r = start_output(quiet))
    return r;
  int result = exit_done;
  int rows = 0;
  TRunLog log;
  if (!o_.log.isEmpty()) {
    QString reason;
    if (!log.open(o_.log, TRunLog::csv, reason))
      return fail(exit_usage, QStringLiteral("cannot open %1: %2").arg(o_.log, reason));
  }
  const bool wait = o_.wait || log.is_open();
  if (wait) {
    result = poll(log.is_open() ? o_.interval : std::min(o_.interval, 50), -1, true, o_.timeout,
                  log.is_open() ? &log : nullptr, rows);
    // Ended by Ctrl+C or SIGTERM: the run the program was waiting for is stopped with it.
    if (result == exit_done && (interrupted_ || last_signal)) {
      driver_->stop_output();
      driver_->query_run_state();
      result = 128 + (last_signal ? int(last_signal) : SIGINT);
    }
  }
  if (o_.json) {
    add_start_keys(true, wait, log.is_open() ? rows : -1);
    print_json(result_);
  } else {
    print(wait && !driver_->is_running() ? QStringLiteral("Run ended.\n") : QStringLiteral("Started.\n"));
  }
  return result;
}

// ended is null when nothing was waited for, log_rows when nothing was logged (rows < 0).
void TCtl::add_start_keys(bool started, bool waited, int rows) {
  result_.insert(QStringLiteral("started"), started);
  result_.insert(QStringLiteral("running"), driver_->is_running());
  result_.insert(QStringLiteral("ended"), waited ? QJsonValue(!driver_->is_running()) : QJsonValue());
  result_.insert(QStringLiteral("log_rows"), rows < 0 ? QJsonValue() : QJsonValue(rows));
}

int TCtl::run(const QString &file) {
  starts_ = true;
  if (const int r = upload(file, true))
    return r;
  return start(true);
}

int TCtl::log() {
  TRunLog log;
  QString reason;
  // Opened before the device is looked for: a log that cannot be written is a usage error.
  if (!log.open(o_.output, o_.json && o_.output == u"-" ? TRunLog::json_lines : TRunLog::csv, reason))
    return fail(exit_usage, QStringLiteral("cannot open %1: %2").arg(o_.output, reason));
  if (const int r = connect())
    return r;
  log.restart_clock();
  int rows = 0;
  return poll(o_.interval, o_.duration, false, -1, &log, rows);
}
