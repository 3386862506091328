// qx5200-ctl: drives the QX5200 from scripts (list, status, upload, start, stop, run, log, board)
// over the same driver, transport and HID back ends as the window.

#include "CtlServe.h"
#include "Delay.h"
#include "DeviceLock.h"
#include "DeviceStatus.h"
#include "FormulaOptions.h"
#include "HidBackendLinux.h"
#include "HidControllerClass.h"
#include "HolderSocket.h"
#include "QX5200_Driver.h"
#include "RunLog.h"
#include "TVirtualQX5200Device.h"
#include "WaveFileLoader.h"
#include "WaveReport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

enum TExit {
  exit_done = 0,
  exit_data_error = 1,
  exit_usage = 2,
  exit_no_device = 3,
  exit_no_permission = 4,
  exit_in_use = 5,
  exit_no_answer = 6,
  exit_not_now = 7, // no load board, over-temperature, running, or --timeout passed
  exit_record_differs = 8,
};

const QString udev_fix = QStringLiteral(
    "install 70-qx5200.rules into /etc/udev/rules.d, then: sudo udevadm control --reload-rules && "
    "sudo udevadm trigger --action=add --subsystem-match=hidraw");

void print(const QString &text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
  std::fflush(stdout);
}

void print_json(const QJsonObject &object) {
  print(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + u'\n');
}

int fail(int code, const QString &message) {
  std::fprintf(stderr, "qx5200-ctl: %s\n", message.toLocal8Bit().constData());
  return code;
}

// A record value as the device stores it (a single-precision float), in its shortest form.
QString float_text(long double v) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, float(v));
  return QString::fromLatin1(buf, res.ptr - buf);
}

// The record as it goes over the wire: what is written is what a read gives back.
QList<std::pair<QString, QString>> wire_fields(const TLoadBoardRecord &lb) {
  auto latin1 = [](const QString &s, int n) {
    QString out;
    for (QChar c : s.left(n))
      if (c.unicode() != 0)
        out += c.unicode() < 256 ? c : QChar(u'?');
    return out;
  };
  const long double whole = std::nearbyint(lb.lb_max_value);
  long double low = std::isfinite(whole) ? std::fmod(whole, 256.0L) : 0;
  if (low < 0)
    low += 256;
  return {
      {QStringLiteral("name"), latin1(lb.lb_name, qx5200_protocol::record_name_size)},
      {QStringLiteral("units"), latin1(lb.lb_units, 1)},
      {QStringLiteral("gain"), float_text(lb.lb_gain)},
      {QStringLiteral("sensor_gain"), float_text(lb.lb_sensor_gain)},
      {QStringLiteral("max_temp"), float_text(lb.lb_max_temp)},
      {QStringLiteral("max_power"), float_text(lb.lb_max_power)},
      {QStringLiteral("max_p2t"), float_text(lb.lb_max_p2t)},
      {QStringLiteral("offset"), float_text(lb.lb_offset)},
      {QStringLiteral("sensor_offset"), float_text(lb.lb_sensor_offset)},
      // An empty sensor unit is written as 'A'.
      {QStringLiteral("sensor_units"),
       lb.lb_sensor_units.isEmpty() ? QStringLiteral("A") : latin1(lb.lb_sensor_units, 1)},
      {QStringLiteral("return_to_zero"), QString::number(lb.lb_return_to_zero)},
      {QStringLiteral("sensor_max"), float_text(lb.lb_sensor_max)},
      {QStringLiteral("monitor_gain"), float_text(lb.lb_monitor_gain)},
      {QStringLiteral("max_value"), QString::number(int(low))},
  };
}

bool is_text_field(const QString &name) {
  return name == u"name" || name == u"units" || name == u"sensor_units";
}

QJsonValue field_json(const QString &name, const QString &text) {
  return is_text_field(name) ? QJsonValue(text) : QJsonValue(text.toDouble());
}

QJsonObject record_json(const TLoadBoardRecord &lb) {
  QJsonObject o;
  for (const auto &[name, text] : wire_fields(lb))
    o.insert(name, field_json(name, text));
  return o;
}

QString record_text(const TLoadBoardRecord &lb, const QString &indent) {
  QString out;
  for (const auto &[name, text] : wire_fields(lb))
    out += indent + name + QStringLiteral(": ") + text + u'\n';
  return out;
}

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

struct TOptions {
  bool json = false;
  bool simulate = false;
  QString device;
  QString format;    // --format value, empty when not given
  QString separator; // --separator value, empty when not given
  int repeat = 1;
  bool wait = false;
  double timeout = -1;  // s; < 0: none
  int interval = 1000;  // ms
  double duration = -1; // s; < 0: until stopped
  QString output = QStringLiteral("-");
  QString log;
  bool yes = false;
  QStringList args;        // positional arguments after the command
  TFormulaOptions formula; // upload and run: the waveform from a formula instead of a FILE
};

class TCtl {
public:
  TCtl(const TOptions &o, THidBackendFactory backends) : o_(o), backends_(std::move(backends)) {}

  int list();
  int status();
  int upload(const QString &file, bool quiet = false);
  int start(bool quiet = false);
  int stop();
  int run(const QString &file);
  int log();
  int board_read();
  int board_write(const QString &file);

private:
  int connect();
  int lost();
  QString name() const;
  int load_and_build(const QString &file);
  int start_output(bool uploaded_here);
  int connect_to_idle_board();
  void write_upload_stamp();
  int poll(int interval_ms, double duration, bool until_end, double timeout, TRunLog *log, int &rows);
  QJsonObject status_json() const;
  void interrupt_wait();

  const TOptions &o_;
  THidBackendFactory backends_;
  TDeviceLock lock_{QStringLiteral("qx5200-ctl")};
  std::unique_ptr<TQX5200_DRIVER> driver_;
  long double usb_voltage_ = 0;
  TEventWait *waiting_ = nullptr;
  bool interrupted_ = false;
  bool holder_request_ = false; // status and stop ask the device's holder when refused
  QString stopped_by_;          // who asked this holder to stop, over its socket
  QJsonObject result_;          // --json: what upload, start and run print as one object
};

QString TCtl::name() const {
  return QStringLiteral("QX5200 %1")
      .arg(driver_ && driver_->serial_number() ? QString::number(driver_->serial_number()) : lock_.path());
}

int TCtl::lost() {
  return fail(
      exit_no_answer,
      QStringLiteral("%1 stopped answering: check its USB cable and power, then run the command again.")
          .arg(name()));
}

// Finds the device, takes its lock before anything is sent to it, and reads what the window reads
// when it connects. A run in progress is left alone: no start-up sequence, no output level.
int TCtl::connect() {
  driver_ = std::make_unique<TQX5200_DRIVER>(nullptr, backends_());
  lock_.attach(driver_->hid(), o_.device);
  // The controller's first scan runs from the event loop.
  QCoreApplication::processEvents();
  driver_->enumerate();
  TQHID *hid = driver_->hid();
  if (!hid->connected()) {
    if (hid->device_in_use()) {
      if (holder_request_)
        return exit_in_use;
      return fail(exit_in_use,
                  lock_.in_use_text() + QStringLiteral(": wait until it ends, or end it "
                                                       "(status and stop still work: they ask it)."));
    }
    if (hid->permission_denied())
      return fail(exit_no_permission, QStringLiteral("this user may not open the QX5200: ") + udev_fix);
    if (!o_.device.isEmpty())
      return fail(exit_no_device, QStringLiteral("no QX5200 at %1: see qx5200-ctl list.").arg(o_.device));
    return fail(exit_no_device, QStringLiteral("no QX5200 found: plug it in, or use --simulate."));
  }
  quint16 serial = 0;
  QString revision;
  if (!driver_->read_serial_number(serial) || !driver_->read_revision(revision) ||
      !driver_->query_run_state())
    return lost();
  lock_.set_serial(serial);
  if (driver_->is_running()) {
    long double v = 0;
    if (!driver_->read_dac_offset(v) || !driver_->read_adc_offset(v) || !driver_->read_adc_gain(v) ||
        !driver_->read_status())
      return lost();
    // The record supplies the sensor conversion; the settings a read sends back are those the
    // device already has from the same record.
    if (driver_->load_board_present() && !driver_->read_load_board_record())
      return lost();
  } else if (!driver_->initialize()) {
    if (!driver_->read_status() || driver_->load_board_present())
      return lost();
  }
  // Read again now that the record is known: the sensor value depends on its gain and offset.
  if (!driver_->read_status() || !driver_->read_usb_voltage(usb_voltage_))
    return lost();
  return exit_done;
}

int TCtl::list() {
  struct Entry {
    QString path;
    bool refused = false;
  };
  QList<Entry> entries;
  {
    THidDeviceController scan(nullptr, backends_());
    QCoreApplication::processEvents();
    scan.OnEnumerate = [&](THidDevice *device, int) {
      if (device->product_string() == QString::fromLatin1(TQX5200_DRIVER::device_product))
        entries.append({device->pnp_info().path, device->permission_denied()});
      return true;
    };
    scan.enumerate_devices();
  }
  QJsonArray devices;
  QString text;
  for (const Entry &e : entries) {
    QJsonObject d{{QStringLiteral("path"), e.path}};
    TDeviceLock::Holder holder;
    if (e.refused) {
      d.insert(QStringLiteral("access"), QStringLiteral("no_permission"));
      d.insert(QStringLiteral("fix"), udev_fix);
      text += e.path + QStringLiteral("  no permission: ") + udev_fix + u'\n';
    } else if (TDeviceLock::probe(e.path, holder)) {
      d.insert(QStringLiteral("access"), QStringLiteral("in_use"));
      d.insert(QStringLiteral("serial"),
               holder.serial.isEmpty() ? QJsonValue() : QJsonValue(holder.serial.toInt()));
      d.insert(QStringLiteral("holder"),
               QJsonObject{{QStringLiteral("program"), holder.program}, {QStringLiteral("pid"), holder.pid}});
      text += e.path + QStringLiteral("  serial %1  in use by %2 (pid %3)\n")
                           .arg(holder.serial.isEmpty() ? QStringLiteral("?") : holder.serial, holder.program)
                           .arg(holder.pid);
    } else {
      TDeviceLock lock(QStringLiteral("qx5200-ctl"));
      TQX5200_DRIVER driver(nullptr, backends_());
      lock.attach(driver.hid(), e.path);
      QCoreApplication::processEvents();
      driver.enumerate();
      quint16 serial = 0;
      const bool answered = driver.is_connected() && driver.read_serial_number(serial);
      d.insert(QStringLiteral("access"), answered ? QStringLiteral("ok") : QStringLiteral("no_answer"));
      d.insert(QStringLiteral("serial"), answered ? QJsonValue(serial) : QJsonValue());
      text += e.path + (answered ? QStringLiteral("  serial %1  ok\n").arg(serial)
                                 : QStringLiteral("  serial ?  does not answer\n"));
    }
    devices.append(d);
  }
  if (o_.json)
    print_json({{QStringLiteral("devices"), devices}});
  else
    print(text);
  if (entries.isEmpty())
    return fail(exit_no_device, QStringLiteral("no QX5200 found: plug it in, or use --simulate."));
  return exit_done;
}

QJsonObject TCtl::status_json() const {
  const TQX5200_DRIVER &d = *driver_;
  QJsonObject o{
      {QStringLiteral("connected"), true},
      {QStringLiteral("path"), lock_.path()},
      {QStringLiteral("usb_voltage"), double(usb_voltage_)},
      {QStringLiteral("serial"), d.serial_number()},
      {QStringLiteral("firmware"), d.revision()},
      {QStringLiteral("calibration"), QJsonObject{{QStringLiteral("offset"), double(d.offset())},
                                                  {QStringLiteral("ad_offset"), double(d.ad_offset())},
                                                  {QStringLiteral("ad_gain"), double(d.ad_gain())}}},
      {QStringLiteral("board_present"), d.load_board_present()},
      {QStringLiteral("sensor_value"), double(d.sensor_value())},
      {QStringLiteral("sensor_units"), d.load_board().lb_sensor_units},
      {QStringLiteral("temperature"), double(d.temperature())},
      {QStringLiteral("over_temperature"), d.over_temperature()},
      {QStringLiteral("running"), d.running()},
  };
  o.insert(QStringLiteral("board"),
           d.load_board_present() ? QJsonValue(record_json(d.load_board())) : QJsonValue());
  return o;
}

int TCtl::status() {
  holder_request_ = true;
  if (const int r = connect())
    return r == exit_in_use ? ctl_holder_status(lock_.refused_path(), lock_.in_use_text(), o_.json) : r;
  const TQX5200_DRIVER &d = *driver_;
  if (o_.json) {
    print_json(status_json());
    return exit_done;
  }
  auto yes_no = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
  QString t = QStringLiteral("Connected: yes\nPath: %1\nUSB voltage: %2 V\nSerial: %3\nFirmware: %4\n")
                  .arg(lock_.path(), QString::number(double(usb_voltage_), 'f', 2))
                  .arg(d.serial_number())
                  .arg(d.revision());
  t += QStringLiteral("Calibration: offset %1, ad_offset %2, ad_gain %3\n")
           .arg(QString::number(double(d.offset()), 'g', 7), QString::number(double(d.ad_offset()), 'g', 7),
                QString::number(double(d.ad_gain()), 'g', 7));
  t += QStringLiteral("Load board: %1\n")
           .arg(d.load_board_present() ? QStringLiteral("present") : QStringLiteral("none"));
  if (d.load_board_present())
    t += record_text(d.load_board(), QStringLiteral("  "));
  t += QStringLiteral("Sensor: %1 %2\nTemperature: %3 C\nOver-temperature: %4\nRunning: %5\n")
           .arg(QString::number(double(d.sensor_value()), 'g', 7), d.load_board().lb_sensor_units,
                QString::number(double(d.temperature()), 'f', 1), yes_no(d.over_temperature()),
                yes_no(d.running()));
  print(t);
  return exit_done;
}

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
  return exit_done;
}

int TCtl::load_and_build(const QString &file) {
  std::vector<TWavePoint> points;
  QString reason;
  TWaveFileFormat format;
  TFormulaResult placed;
  TSkippedRows skipped;
  if (o_.formula.given) {
    // The default accuracy follows the board in the device.
    if (const int r = connect_to_idle_board())
      return r;
    if (!formula_wave_points(o_.formula, driver_->load_board().lb_max_value, points, placed, reason))
      return fail(exit_usage, reason);
  } else {
    if (!wave_file_format(o_.format, o_.separator, file, format, reason))
      return fail(exit_usage, reason);
    if (!load_wave_file(file, format, points, skipped, reason))
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
        {QStringLiteral("error"), error_text(w)},
        {QStringLiteral("buffer_count"), w.buffer_count()},
        {QStringLiteral("statistics"),
         QJsonDocument::fromJson(QByteArray::fromStdString(statistics_json(w))).object()},
        {QStringLiteral("rows_skipped"),
         QJsonDocument::fromJson(QByteArray::fromStdString(skipped_rows_json(skipped))).object()},
        {QStringLiteral("board"), driver_->load_board().lb_name},
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
          notices_text(w, skipped));
  }
  if (w.data_error()) {
    const QString where = w.error_type() == TQX5200Waveform::time_not_increasing
                              ? QStringLiteral(" (row %1)").arg(w.error_index() + 1)
                              : QString();
    if (o_.json)
      print_json(result_);
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
      return fail(exit_not_now,
                  QStringLiteral("%1 holds no waveform that qx5200-ctl uploaded for the load board now in: "
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
    result_.insert(QStringLiteral("started"), true);
    result_.insert(QStringLiteral("running"), driver_->is_running());
    if (wait)
      result_.insert(QStringLiteral("ended"), !driver_->is_running());
    if (log.is_open())
      result_.insert(QStringLiteral("log_rows"), rows);
    print_json(result_);
  } else {
    print(wait && !driver_->is_running() ? QStringLiteral("Run ended.\n") : QStringLiteral("Started.\n"));
  }
  return result;
}

int TCtl::stop() {
  holder_request_ = true;
  if (const int r = connect())
    return r == exit_in_use ? ctl_holder_stop(lock_.refused_path(), lock_.in_use_text(), o_.json) : r;
  if (!driver_->stop_output() || !driver_->query_run_state())
    return lost();
  if (o_.json)
    print_json({{QStringLiteral("stopped"), true}, {QStringLiteral("running"), driver_->is_running()}});
  else
    print(QStringLiteral("Stopped.\n"));
  return exit_done;
}

int TCtl::run(const QString &file) {
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

int TCtl::board_read() {
  if (const int r = connect())
    return r;
  if (!driver_->load_board_present())
    return fail(exit_not_now,
                QStringLiteral("%1 has no load board: insert one, then run the command again.").arg(name()));
  if (o_.json)
    print_json(record_json(driver_->load_board()));
  else
    print(record_text(driver_->load_board(), {}));
  return exit_done;
}

int TCtl::board_write(const QString &file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly))
    return fail(exit_usage, QStringLiteral("%1: %2").arg(file, f.errorString()));
  // A record is a few hundred bytes; anything far larger is not one.
  const QByteArray bytes = f.read(1 << 16);
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject())
    return fail(exit_usage, QStringLiteral("%1: not a JSON object (%2)").arg(file, error.errorString()));
  if (const int r = connect_to_idle_board())
    return r;

  const TLoadBoardRecord old_record = driver_->load_board();
  TLoadBoardRecord record = old_record;
  const QJsonObject object = doc.object();
  for (auto it = object.begin(); it != object.end(); ++it) {
    QString text;
    if (it->isString())
      text = it->toString();
    else if (it->isDouble())
      text = QString::number(it->toDouble(), 'g', 17);
    else if (it->isBool())
      text = it->toBool() ? QStringLiteral("1") : QStringLiteral("0");
    else
      return fail(exit_usage, QStringLiteral("%1: %2 is neither a number nor a text").arg(file, it.key()));
    QString why;
    if (!record.set_field(it.key(), text, why))
      return fail(exit_usage, QStringLiteral("%1: %2").arg(file, why));
    for (QChar c : record.lb_name + record.lb_units + record.lb_sensor_units)
      if (c.unicode() == 0 || c.unicode() > 255)
        return fail(exit_usage,
                    QStringLiteral("%1: %2 holds a character the record cannot store").arg(file, it.key()));
  }
  // The record keeps max_value in one byte: 300 would come back as 44.
  if (!(record.lb_max_value >= 0 && record.lb_max_value <= 255 &&
        record.lb_max_value == std::floor(record.lb_max_value)))
    return fail(exit_usage, QStringLiteral("%1: max_value is a whole number from 0 to 255").arg(file));

  const auto before = wire_fields(old_record);
  const auto after = wire_fields(record);
  QJsonArray changes;
  QString text;
  for (qsizetype i = 0; i < before.size(); ++i) {
    if (before[i].second == after[i].second)
      continue;
    const QString &field = before[i].first;
    changes.append(QJsonObject{{QStringLiteral("field"), field},
                               {QStringLiteral("from"), field_json(field, before[i].second)},
                               {QStringLiteral("to"), field_json(field, after[i].second)}});
    text += QStringLiteral("%1: %2 -> %3\n").arg(field, before[i].second, after[i].second);
  }
  const bool write = o_.yes && !changes.isEmpty();
  QJsonArray differs;
  QString differ_text;
  if (write) {
    driver_->load_board() = record;
    if (!driver_->write_load_board_record() || !driver_->read_load_board_record())
      return lost();
    const auto back = wire_fields(driver_->load_board());
    for (qsizetype i = 0; i < after.size(); ++i) {
      if (after[i].second == back[i].second)
        continue;
      differs.append(QJsonObject{{QStringLiteral("field"), after[i].first},
                                 {QStringLiteral("written"), field_json(after[i].first, after[i].second)},
                                 {QStringLiteral("read"), field_json(after[i].first, back[i].second)}});
      differ_text +=
          QStringLiteral(" %1 (wrote %2, read %3)").arg(after[i].first, after[i].second, back[i].second);
    }
  }
  if (o_.json)
    print_json({{QStringLiteral("changes"), changes},
                {QStringLiteral("written"), write},
                {QStringLiteral("differs"), differs}});
  else
    print(changes.isEmpty() ? QStringLiteral("No field changes.\n") : text);
  if (!differs.isEmpty())
    return fail(exit_record_differs,
                QStringLiteral("the record read back from %1 differs:%2").arg(name(), differ_text));
  if (!changes.isEmpty() && !o_.yes)
    std::fprintf(stderr, "qx5200-ctl: not written: run again with --yes to write these changes.\n");
  else if (write && !o_.json)
    print(QStringLiteral("Written and read back.\n"));
  return exit_done;
}

// --- Command line ----------------------------------------------------------------------------

struct TCommand {
  const char *name;
  const char *arguments;
  const char *summary;
  QStringList options; // names of the command's own options
};

const QList<TCommand> &commands() {
  static const QList<TCommand> list = {
      {"list", "", "The QX5200s present: path, serial number, whether this user may open each.", {}},
      {"status",
       "",
       "Connection, USB voltage, serial, firmware, calibration, load board, sensor, "
       "temperature, over-temperature, running.",
       {}},
      {"upload",
       "FILE | --formula EXPR --span START:END",
       "Reads, validates and builds FILE as the window does before START, then uploads it.",
       {"format", "separator", "repeat", "formula", "span", "accuracy", "points"}},
      {"start", "", "Starts the waveform the device holds.", {"wait", "timeout"}},
      {"stop", "", "Stops the output.", {}},
      {"run",
       "FILE | --formula EXPR --span START:END",
       "Uploads FILE as upload does, then starts it.",
       {"format", "separator", "repeat", "wait", "timeout", "log", "interval", "formula", "span", "accuracy",
        "points"}},
      {"log",
       "",
       "Writes one CSV row (JSON Lines with --json) per status poll.",
       {"interval", "duration", "output"}},
      {"board",
       "read | write FILE.json",
       "Prints the load board record, or writes the fields FILE.json "
       "changes (only with --yes) and reads them back.",
       {"yes"}},
      {"serve",
       "",
       "Holds the device and serves SCPI on TCP (--listen, default 127.0.0.1:5025) and on its "
       "local socket until SIGTERM or SIGINT.",
       {"listen", "log"}},
  };
  return list;
}

QString general_help() {
  QString t = QStringLiteral("Usage: qx5200-ctl [--simulate] [--device PATH] [--json] COMMAND [options]\n\n"
                             "Drives the QX5200 arbitrary waveform generator from scripts.\n\nCommands:\n");
  for (const TCommand &c : commands())
    t += QStringLiteral("  %1 %2\n      %3\n")
             .arg(QString::fromLatin1(c.name), QString::fromLatin1(c.arguments),
                  QString::fromLatin1(c.summary));
  t += QStringLiteral(
      "\nCommon options: --json (one JSON object; JSON Lines for log), --device PATH, --simulate (the "
      "virtual "
      "QX5200), -h/--help (also after a command), -v/--version.\n\n"
      "Exit status: 0 done, 1 waveform data error, 2 usage, 3 no device, 4 no permission, 5 device in use, "
      "6 the device stopped answering, 7 not possible now (no load board, over-temperature, running, "
      "--timeout passed), 8 the board record read back differs, 9 serve cannot listen (port in use). "
      "Interrupted waits end with 128 + signal.\n");
  return t;
}

QList<QCommandLineOption> all_options() {
  return QList<QCommandLineOption>{
             {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")},
             {{QStringLiteral("v"), QStringLiteral("version")},
              QStringLiteral("Show the program's name and version.")},
             {QStringLiteral("json"), QStringLiteral("Print one JSON object (JSON Lines for log).")},
             {QStringLiteral("device"), QStringLiteral("Use the QX5200 at PATH (see list)."),
              QStringLiteral("PATH")},
             {QStringLiteral("simulate"),
              QStringLiteral("Use an in-process virtual QX5200 with load board LB1.")},
             {QStringLiteral("repeat"),
              QStringLiteral("Repeat count, 0 to 65535 (default 1; 0 runs until stopped)."),
              QStringLiteral("N"), QStringLiteral("1")},
             {QStringLiteral("wait"), QStringLiteral("Wait until the device reports the run ended.")},
             {QStringLiteral("timeout"),
              QStringLiteral("With --wait: give up after S seconds (exit 7), leaving it running."),
              QStringLiteral("S")},
             {QStringLiteral("log"), QStringLiteral("Log to FILE (CSV) during the run; implies --wait."),
              QStringLiteral("FILE")},
             {QStringLiteral("interval"),
              QStringLiteral("Milliseconds between polls, 10 to 3600000 (default 1000)."),
              QStringLiteral("MS"), QStringLiteral("1000")},
             {QStringLiteral("duration"),
              QStringLiteral("Stop logging after S seconds (default: until Ctrl+C or SIGTERM)."),
              QStringLiteral("S")},
             {QStringLiteral("output"), QStringLiteral("Append the log to FILE instead of standard output."),
              QStringLiteral("FILE")},
             {QStringLiteral("yes"), QStringLiteral("board write: write the changes.")},
             {QStringLiteral("listen"),
              QStringLiteral(
                  "serve: the TCP address and port (default 127.0.0.1:5025; port 0: any free one)."),
              QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:5025")},
         } +
         wave_file_options() + formula_options();
}

bool is_global(const QString &name) {
  return name == u"h" || name == u"help" || name == u"v" || name == u"version" || name == u"json" ||
         name == u"device" || name == u"simulate";
}

bool positive_seconds(const QString &text, double &value) {
  bool ok = false;
  value = text.toDouble(&ok);
  return ok && std::isfinite(value) && value >= 0 && value <= 1e7;
}

} // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("qx5200-ctl"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QX5200_VERSION));

  QCommandLineParser parser;
  const QList<QCommandLineOption> options = all_options();
  parser.addOptions(options);
  if (!parser.parse(QCoreApplication::arguments()))
    return fail(exit_usage, parser.errorText() + QStringLiteral(" (see qx5200-ctl --help)"));
  QStringList args = parser.positionalArguments();
  const QString command = args.isEmpty() ? QString() : args.takeFirst();
  const auto found = std::find_if(commands().begin(), commands().end(),
                                  [&](const TCommand &c) { return command == QLatin1StringView(c.name); });

  if (parser.isSet(QStringLiteral("version"))) {
    print(QStringLiteral("qx5200-ctl %1\n").arg(QCoreApplication::applicationVersion()));
    return exit_done;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    if (found == commands().end()) {
      print(general_help());
      return exit_done;
    }
    // The command's own help: its options beside the common ones.
    QCommandLineParser own;
    own.setApplicationDescription(QString::fromLatin1(found->summary));
    for (const QCommandLineOption &option : options)
      if (is_global(option.names().last()) || found->options.contains(option.names().last()))
        own.addOption(option);
    QString text = own.helpText();
    // Qt's usage line does not know the command: written here instead.
    text = text.mid(text.indexOf(u'\n'));
    print(QStringLiteral("Usage: qx5200-ctl [options] %1 %2")
              .arg(QString::fromLatin1(found->name), QString::fromLatin1(found->arguments))
              .trimmed() +
          text);
    return exit_done;
  }
  if (command.isEmpty())
    return fail(exit_usage, QStringLiteral("no command given (see qx5200-ctl --help)"));
  if (found == commands().end())
    return fail(exit_usage, QStringLiteral("'%1' is not a command (see qx5200-ctl --help)").arg(command));
  for (const QString &name : parser.optionNames())
    if (!is_global(name) && !found->options.contains(name))
      return fail(
          exit_usage,
          QStringLiteral("--%1 is not an option of %2 (see qx5200-ctl %2 --help)").arg(name, command));

  TOptions o;
  o.json = parser.isSet(QStringLiteral("json"));
  o.simulate = parser.isSet(QStringLiteral("simulate"));
  o.device = parser.value(QStringLiteral("device"));
  o.wait = parser.isSet(QStringLiteral("wait"));
  o.yes = parser.isSet(QStringLiteral("yes"));
  o.log = parser.value(QStringLiteral("log"));
  if (parser.isSet(QStringLiteral("output")))
    o.output = parser.value(QStringLiteral("output"));
  o.format = parser.value(QStringLiteral("format"));
  o.separator = parser.value(QStringLiteral("separator"));
  if (!o.separator.isEmpty()) {
    QChar separator;
    if (!parse_separator(o.separator, separator))
      return fail(exit_usage,
                  QStringLiteral("--separator: '%1' is not %2").arg(o.separator, separator_choices()));
  }
  bool ok = false;
  o.repeat = parser.value(QStringLiteral("repeat")).toInt(&ok);
  if (!ok || o.repeat < 0 || o.repeat > 65535)
    return fail(exit_usage, QStringLiteral("--repeat: '%1' is not a whole number from 0 to 65535")
                                .arg(parser.value(QStringLiteral("repeat"))));
  o.interval = parser.value(QStringLiteral("interval")).toInt(&ok);
  if (!ok || o.interval < 10 || o.interval > 3600000)
    return fail(exit_usage,
                QStringLiteral("--interval: '%1' is not a whole number of milliseconds from 10 to 3600000")
                    .arg(parser.value(QStringLiteral("interval"))));
  for (auto [name, value] : {std::pair{"timeout", &o.timeout}, std::pair{"duration", &o.duration}}) {
    const QString option = QString::fromLatin1(name);
    if (parser.isSet(option) && !positive_seconds(parser.value(option), *value))
      return fail(exit_usage,
                  QStringLiteral("--%1: '%2' is not a number of seconds").arg(option, parser.value(option)));
  }
  if (parser.isSet(QStringLiteral("timeout")) && !o.wait && o.log.isEmpty())
    return fail(exit_usage, QStringLiteral("--timeout goes with --wait"));

  QString reason;
  if (!read_formula_options(parser, o.formula, reason))
    return fail(exit_usage, reason);
  const bool takes_file = (command == u"upload" || command == u"run") && !o.formula.given;
  const QString sub = command == u"board" && !args.isEmpty() ? args.takeFirst() : QString();
  const qsizetype wanted = takes_file || sub == u"write" ? 1 : 0;
  if (command == u"board" && sub != u"read" && sub != u"write")
    return fail(exit_usage, QStringLiteral("board takes read or write FILE.json"));
  if (args.size() != wanted)
    return fail(exit_usage, args.size() < wanted
                                ? QStringLiteral("%1: no FILE given").arg(command)
                                : QStringLiteral("%1: unexpected '%2'").arg(command, args.last()));

  // Every controller gets a back end of its own: on the system's devices, or on one virtual bus.
  std::unique_ptr<TVirtualQX5200Device> simulated;
  THidBackendFactory backends = [] { return std::make_unique<THidBackendLinux>(); };
  if (o.simulate) {
    simulated = std::make_unique<TVirtualQX5200Device>(VirtualHidBus::create());
    backends = [bus = simulated->bus()] { return bus->make_backend(); };
  }

  if (command == u"serve")
    return ctl_serve({parser.value(QStringLiteral("listen")), o.device, o.log}, std::move(backends));
  TCtl ctl(o, std::move(backends));
  if (command == u"list")
    return ctl.list();
  if (command == u"status")
    return ctl.status();
  if (command == u"upload")
    return ctl.upload(args.value(0));
  if (command == u"start")
    return ctl.start();
  if (command == u"stop")
    return ctl.stop();
  if (command == u"run")
    return ctl.run(args.value(0));
  if (command == u"log")
    return ctl.log();
  return sub == u"read" ? ctl.board_read() : ctl.board_write(args.front());
}
