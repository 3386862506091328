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
#include <functional>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace {

// SIGINT, SIGTERM and SIGHUP from the start of a run to its end: the handler only writes to a
// pipe, the event loop does the rest.
int signal_pipe[2] = {-1, -1};
volatile std::sig_atomic_t last_signal = 0;

void on_signal(int sig) {
  last_signal = sig;
  const char c = 1;
  if (::write(signal_pipe[1], &c, 1) < 0) {
    // The flag alone ends the loop at its next poll.
  }
}

constexpr int watched_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Installs the handlers while it lives (once per process; an inner one leaves them to the outer).
class TSignalWatch {
public:
  explicit TSignalWatch(std::function<void()> on_signal_arrived) {
    if (signal_pipe[0] >= 0 || ::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
      return;
    owner_ = true;
    notifier_ = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, std::move(on_signal_arrived));
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (std::size_t k = 0; k < std::size(watched_signals); ++k)
      sigaction(watched_signals[k], &sa, &old_[k]);
    // A reader of standard output that went away must not end the program with the output on.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old_pipe_);
  }
  ~TSignalWatch() {
    if (!owner_)
      return;
    for (std::size_t k = 0; k < std::size(watched_signals); ++k)
      sigaction(watched_signals[k], &old_[k], nullptr);
    sigaction(SIGPIPE, &old_pipe_, nullptr);
    notifier_.reset();
    ::close(signal_pipe[0]);
    ::close(signal_pipe[1]);
    signal_pipe[0] = signal_pipe[1] = -1;
  }
  TSignalWatch(const TSignalWatch &) = delete;
  TSignalWatch &operator=(const TSignalWatch &) = delete;

private:
  bool owner_ = false;
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction old_[std::size(watched_signals)]{};
  struct sigaction old_pipe_ {};
};

QString seconds_text(double s) { return QString::number(s, 'f', 3); }

const char *const end_names[] = {nullptr,         "completed",   "stopped", "interrupted", "over_temperature",
                                 "board_removed", "device_lost", "timeout", "log_failed",  "duration"};

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
        add_start_keys(false, TPollEnd{}, QString());
      print_result(result_);
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
    print_result(result_);
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
      if (check == TQX5200_DRIVER::board_ok && driver_->over_temperature()) // got hot during the upload
        return fail(exit_not_now,
                    QStringLiteral("%1 is over temperature: let the load board cool down.").arg(name()));
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

// Polls (run state, and the status when logging) on a fixed schedule: the k-th poll is due
// k * interval after the first, so rows do not drift with the time a poll takes. A poll that
// ran late loses the slots it overran. Ends when the duration has passed, the run has ended
// (until_end), the timeout has passed, a signal came, the device stopped answering or a row
// could not be written.
TCtl::TPollEnd TCtl::poll(int interval_ms, double duration, bool until_end, double timeout, TRunLog *log) {
  TSignalWatch watch([this] { interrupt_wait(); });
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

  TPollEnd end;
  QElapsedTimer clock;
  clock.start();
  if (log)
    log->restart_clock();    // the rows' offsets are the schedule's
  qint64 step = interval_ms; // what the link can keep, a multiple of interval_ms
  qint64 slot = 0;           // ms from the start: when the coming poll is due
  qint64 first_ns = 0;
  int polls = 0, missed = 0;
  for (;;) {
    if (interrupted_ || last_signal) {
      end.reason = interrupted;
      break;
    }
    if (timeout >= 0 && double(clock.elapsed()) >= timeout * 1000) {
      end.reason = TEnd::timeout;
      break;
    }
    if (!stopped_by_.isEmpty() && !stopped_remotely) {
      stopped_remotely = true;
      if (!driver_->stop_output()) {
        end.reason = device_lost;
        break;
      }
      std::fprintf(stderr, "qx5200-ctl: stopped by %s\n", stopped_by_.toLocal8Bit().constData());
    }
    const qint64 began = clock.nsecsElapsed();
    if (!driver_->query_run_state() || (log && !driver_->read_status())) {
      end.reason = device_lost;
      break;
    }
    if (++polls == 1)
      first_ns = clock.nsecsElapsed() - began;
    if (log) {
      if (!log->write_row(TRunLog::row_from(*driver_), slot, reason)) {
        end.reason = log_failed;
        end.log_error = reason;
        break;
      }
      ++end.rows;
    }
    if (until_end && !driver_->is_running()) {
      // The device ended it: on its own, or to protect a board that got hot or was pulled out.
      if (stopped_remotely)
        end.reason = stopped;
      else if (!log && !driver_->read_status())
        end.reason = device_lost;
      else
        end.reason = !driver_->load_board_present() ? board_removed
                     : driver_->over_temperature()  ? over_temperature
                                                    : completed;
      break;
    }
    // A link slower than the interval asked for: rows on the coarsest grid it keeps, said once.
    if (log && polls == 1 && first_ns > step * 1000000) {
      const double poll_ms = double(first_ns) / 1e6;
      step = qint64(std::ceil(poll_ms * 1.25 / interval_ms)) * interval_ms;
      std::fprintf(stderr,
                   "qx5200-ctl: a status poll takes %.1f ms on this link, so --interval %d cannot be kept: "
                   "one row every %lld ms instead\n",
                   poll_ms, interval_ms, static_cast<long long>(step));
    }
    slot += step;
    if (duration >= 0 && double(slot) > duration * 1000) {
      end.reason = duration_passed;
      break;
    }
    qint64 now = clock.elapsed();
    if (now >= slot + step) {
      const qint64 lost = (now - slot) / step;
      missed += int(lost);
      slot += lost * step;
    }
    qint64 wait_ms = std::max<qint64>(slot - now, 0);
    if (timeout >= 0)
      wait_ms = std::min(wait_ms, std::max<qint64>(qint64(std::ceil(timeout * 1000)) - now, 0));
    if (wait_ms > 0) {
      TEventWait wait(int(wait_ms), 1);
      waiting_ = &wait;
      if (!interrupted_ && !last_signal && stopped_by_.isEmpty())
        wait.run();
      waiting_ = nullptr;
    }
  }
  end.signal = end.reason == interrupted ? (last_signal ? int(last_signal) : SIGINT) : 0;
  end.seconds = double(clock.nsecsElapsed()) / 1e9;
  end.interval_ms = int(step);
  if (log && missed > 0)
    std::fprintf(stderr, "qx5200-ctl: %d scheduled rows were left out: their polls came too late\n", missed);
  return end;
}

int TCtl::start(bool quiet) {
  // From here to the end a signal is a decision of this program: it is never left half-done.
  TSignalWatch watch([this] { interrupt_wait(); });
  if (!quiet) {
    if (const int r = connect())
      return r;
    // A new program does not know what the device holds; it starts what was sent earlier.
    driver_->set_waveform_changed(false);
  }
  if (interrupted_ || last_signal) {
    if (run_log_)
      run_log_->abandon();
    const int sig = last_signal ? int(last_signal) : SIGINT;
    return fail(
        exit_signal + sig,
        QStringLiteral("interrupted by %1 before the start: nothing was started.").arg(signal_name(sig)));
  }
  if (const int r = start_output(quiet)) {
    if (run_log_)
      run_log_->abandon();
    return r;
  }
  const bool wait = o_.wait || run_log_;
  TPollEnd end;
  if (wait) {
    if (!o_.json)
      print(QStringLiteral("Started.\n"));
    end = poll(run_log_ ? o_.interval : std::min(o_.interval, 50), -1, true, o_.timeout, run_log_);
  }
  return finish_run(end);
}

// Every run's result has the same keys, whatever stopped it: null where one does not apply.
void TCtl::add_start_keys(bool started, const TPollEnd &end, const QString &output) {
  const bool waited = end.reason != end_none;
  const bool ended = end.reason == completed || end.reason == stopped || end.reason == over_temperature ||
                     end.reason == board_removed;
  auto or_null = [](bool given, const QJsonValue &v) { return given ? v : QJsonValue(); };
  result_.insert(QStringLiteral("started"), started);
  result_.insert(QStringLiteral("running"), or_null(output != u"unknown", driver_->is_running()));
  result_.insert(QStringLiteral("ended"), or_null(waited, ended));
  result_.insert(QStringLiteral("end_reason"),
                 or_null(waited, QString::fromLatin1(waited ? end_names[end.reason] : "")));
  result_.insert(QStringLiteral("duration_s"), or_null(waited, std::round(end.seconds * 1000) / 1000));
  result_.insert(QStringLiteral("output"),
                 output.isEmpty() ? QJsonValue(driver_->is_running() ? "running" : "stopped") : output);
  result_.insert(QStringLiteral("interrupted"), or_null(end.reason == interrupted, signal_name(end.signal)));
  result_.insert(QStringLiteral("stopped_by"), or_null(end.reason == stopped, stopped_by_));
  result_.insert(QStringLiteral("log_rows"), or_null(run_log_ && waited, end.rows));
  result_.insert(QStringLiteral("interval_ms"), or_null(run_log_ && waited, end.interval_ms));
}

// The run's result: why it ended, after how long, and whether the output is on now. A signal
// and a failed log stop the output (unless --keep-running): a bench whose script was killed, or
// whose record is lost, must not go on driving its load.
int TCtl::finish_run(const TPollEnd &end) {
  const bool stop_it = (end.reason == interrupted || end.reason == log_failed) && !o_.keep_running;
  bool known = end.reason != device_lost;
  if (stop_it)
    known = driver_->stop_output() && driver_->query_run_state();
  const QString output = !known                  ? QStringLiteral("unknown")
                         : driver_->is_running() ? QStringLiteral("running")
                                                 : QStringLiteral("stopped");
  const bool waited = end.reason != end_none;
  if (o_.json) {
    add_start_keys(true, end, output);
    print_result(result_);
  } else if (waited) {
    const QString after = seconds_text(end.seconds);
    if (end.reason == completed)
      print(QStringLiteral("Run completed after %1 s.\n").arg(after));
    else if (end.reason == stopped)
      print(QStringLiteral("Run stopped by %1 after %2 s.\n").arg(stopped_by_, after));
    else
      print(QStringLiteral("Run ended after %1 s (%2); the output is %3.\n")
                .arg(after, QString::fromLatin1(end_names[end.reason]).replace(u'_', u' '), output));
  } else {
    print(QStringLiteral("Started.\n"));
  }
  const QString state = output == u"running"   ? QStringLiteral("the output is still running%1")
                        : output == u"stopped" ? QStringLiteral("the output was stopped%1")
                                               : QStringLiteral("whether the output runs is not known%1");
  const QString keep = o_.keep_running ? QStringLiteral(" (--keep-running)") : QString();
  switch (end.reason) {
  case interrupted:
    return fail(exit_signal + end.signal,
                QStringLiteral("interrupted by %1 after %2 s: %3.")
                    .arg(signal_name(end.signal), seconds_text(end.seconds), state.arg(keep)));
  case log_failed:
    return fail(
        exit_log_failed,
        QStringLiteral("cannot write %1: %2: the log stopped after %3 rows, and %4.")
            .arg(run_log_->path(), end.log_error)
            .arg(end.rows)
            .arg(state.arg(o_.keep_running ? keep : QStringLiteral(" (--keep-running leaves it running)"))));
  case over_temperature:
    return fail(exit_not_now,
                QStringLiteral("%1 cut the output after %2 s: its load board is over temperature.")
                    .arg(name(), seconds_text(end.seconds)));
  case board_removed:
    return fail(exit_not_now, QStringLiteral("%1 cut the output after %2 s: its load board was removed.")
                                  .arg(name(), seconds_text(end.seconds)));
  case device_lost: return lost();
  case TEnd::timeout:
    return fail(exit_not_now, QStringLiteral("%1 is still running after %2 s; qx5200-ctl stop ends it.")
                                  .arg(name(), QString::number(o_.timeout)));
  default: return exit_done;
  }
}

int TCtl::run(const QString &file) {
  starts_ = true;
  TSignalWatch watch([this] { interrupt_wait(); });
  // The log is opened before anything is sent: a path that cannot be written leaves the device
  // untouched.
  TRunLog log;
  if (!o_.log.isEmpty()) {
    QString reason;
    if (!log.open(o_.log, TRunLog::csv, reason))
      return fail(exit_usage, QStringLiteral("cannot open %1: %2: nothing was sent.").arg(o_.log, reason));
    run_log_ = &log;
  }
  int result = upload(file, true);
  if (result != exit_done)
    log.abandon();
  else
    result = start(true);
  run_log_ = nullptr;
  return result;
}

int TCtl::log() {
  TRunLog log;
  QString reason;
  // Opened before the device is looked for: a log that cannot be written is a usage error.
  if (!log.open(o_.output, o_.json ? TRunLog::json_lines : TRunLog::csv, reason))
    return fail(exit_usage, QStringLiteral("cannot open %1: %2").arg(o_.output, reason));
  if (const int r = connect()) {
    log.abandon();
    return r;
  }
  const TPollEnd end = poll(o_.interval, o_.duration, false, -1, &log);
  if (end.reason == device_lost)
    return lost();
  if (end.reason == log_failed)
    return fail(exit_log_failed, QStringLiteral("cannot write %1: %2: the log stopped after %3 rows.")
                                     .arg(o_.output, end.log_error)
                                     .arg(end.rows));
  // Ctrl+C, SIGTERM or SIGHUP is how a log without --duration ends: said, but not a failure.
  const QString how = end.reason == interrupted ? QStringLiteral("ended by %1").arg(signal_name(end.signal))
                                                : QStringLiteral("--duration passed");
  if (end.reason == interrupted)
    std::fprintf(stderr, "qx5200-ctl: log %s after %d rows, %s s\n", how.toLocal8Bit().constData(), end.rows,
                 seconds_text(end.seconds).toLocal8Bit().constData());
  if (o_.output != u"-") { // standard output is free for the result
    if (o_.json)
      print_json({{QStringLiteral("log_rows"), end.rows},
                  {QStringLiteral("end_reason"),
                   end.reason == interrupted ? QStringLiteral("interrupted") : QStringLiteral("duration")},
                  {QStringLiteral("interrupted"),
                   end.reason == interrupted ? QJsonValue(signal_name(end.signal)) : QJsonValue()},
                  {QStringLiteral("duration_s"), std::round(end.seconds * 1000) / 1000},
                  {QStringLiteral("interval_ms"), end.interval_ms}});
    else
      print(QStringLiteral("Logged %1 rows to %2 in %3 s (%4).\n")
                .arg(end.rows)
                .arg(o_.output, seconds_text(end.seconds), how));
  }
  return exit_done;
}
