// The program's real HID path against a kernel HID device: the driver, the transport and the
// HID controller on the Linux back end (hidapi hidraw + libudev) talk to qx5200-uhid, which this
// program starts and kills to plug and unplug the device. It needs /dev/uhid and the hid,
// uhid and hid-generic modules, so it runs in a guest (scripts/e2e-hid), not under ctest.
// It prints one line starting "E2E-HID RESULT: " with PASS and the figures, or FAIL and why.
#include "DeviceLock.h"
#include "HidBackendLinux.h"
#include "QX5200_Driver.h"
#include "TVirtualQX5200.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <hidapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Failure {
  QString why;
};

void check(bool ok, const QString &why) {
  if (!ok)
    throw Failure{why};
}

void say(const QString &line) {
  std::fprintf(stderr, "e2e-hid: %s\n", qPrintable(line));
  std::fflush(stderr);
}

// Runs the event loop until pred holds or timeout_ms has passed.
bool wait_for(const std::function<bool()> &pred, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() >= timeout_ms)
      return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

void settle(int ms) {
  wait_for([] { return false; }, ms);
}

// Paths of the hidraw nodes whose product string is the QX5200's, straight from hidapi.
QStringList enumerated_qx5200() {
  QStringList paths;
  hid_device_info *list = hid_enumerate(0, 0);
  for (hid_device_info *info = list; info; info = info->next)
    if (info->product_string &&
        QString::fromWCharArray(info->product_string) == QLatin1String(TQX5200_DRIVER::device_product) &&
        !paths.contains(QString::fromLocal8Bit(info->path)))
      paths.append(QString::fromLocal8Bit(info->path));
  hid_free_enumeration(list);
  return paths;
}

// One qx5200-uhid: plugging it in is starting it; its messages go to our stderr and are kept.
class DeviceProcess {
public:
  explicit DeviceProcess(const QString &program) {
    process_.setProgram(program);
    process_.setArguments({QStringLiteral("--latency-us"), QStringLiteral("0")});
    QObject::connect(&process_, &QProcess::readyReadStandardError, [this] {
      const QByteArray text = process_.readAllStandardError();
      messages_ += QString::fromLocal8Bit(text);
      std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    });
    process_.start();
    check(process_.waitForStarted(5000),
          QStringLiteral("qx5200-uhid did not start: ") + process_.errorString());
  }
  ~DeviceProcess() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(2000);
    }
  }

  bool running() const { return process_.state() == QProcess::Running; }
  const QString &messages() const { return messages_; }
  // SIGTERM (the device is destroyed by the program) or SIGKILL (by the kernel closing it).
  void unplug(bool hard) {
    if (hard)
      process_.kill();
    else
      process_.terminate();
    check(process_.waitForFinished(5000), QStringLiteral("qx5200-uhid did not end"));
    // Asked to go, it removes the device itself and ends well.
    check(hard || (process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0),
          QStringLiteral("qx5200-uhid ended with status %1 on SIGTERM").arg(process_.exitCode()));
  }

private:
  QProcess process_;
  QString messages_;
};

class Run {
public:
  Run(QString device_program, QString ctl_program)
      : device_program_(std::move(device_program)), ctl_program_(std::move(ctl_program)) {}
  QString execute();

private:
  void plug_and_connect(const char *what);
  void start_up_sequence();
  void raw_handle();
  void measure_exchanges();
  void upload_and_run();
  void unplug(bool hard);
  void replug_within_a_rescan();
  void ctl_processes();

  QString device_program_;
  QString ctl_program_;
  std::unique_ptr<DeviceProcess> device_;
  std::unique_ptr<TQX5200_DRIVER> driver_;
  // A controller that takes no device: it learns of an unplug only from its back end's rescan.
  std::unique_ptr<THidDeviceController> watcher_;
  int watcher_removals_ = 0;
  const TVirtualQX5200 reference_; // the model's defaults, which the device answers with
  QString path_;
  QStringList figures_;
};

void Run::plug_and_connect(const char *what) {
  QElapsedTimer timer;
  timer.start();
  device_ = std::make_unique<DeviceProcess>(device_program_);
  QStringList found;
  check(wait_for(
            [&] {
              found = enumerated_qx5200();
              return !found.isEmpty() || !device_->running();
            },
            5000),
        QStringLiteral("hid_enumerate did not list a device with product string \"%1\"")
            .arg(QLatin1String(TQX5200_DRIVER::device_product)));
  check(device_->running(), QStringLiteral("qx5200-uhid ended: ") + device_->messages().trimmed());
  check(found.size() == 1, QStringLiteral("hid_enumerate listed %1 QX5200 nodes").arg(found.size()));
  path_ = found.first();
  // The window's poll: enumerate until the transport has taken the device.
  check(wait_for(
            [&] {
              driver_->enumerate();
              return driver_->is_connected();
            },
            5000),
        QStringLiteral("the transport did not take %1").arg(path_));
  check(
      driver_->hid()->device()->pnp_info().path == path_,
      QStringLiteral("the transport took %1, not %2").arg(driver_->hid()->device()->pnp_info().path, path_));
  figures_ << QStringLiteral("%1_ms=%2").arg(QLatin1String(what)).arg(timer.elapsed());
  say(QStringLiteral("%1: %2 connected after %3 ms").arg(QLatin1String(what), path_).arg(timer.elapsed()));
}

void Run::start_up_sequence() {
  // As the window does on connecting.
  check(driver_->query_run_state(), QStringLiteral("no reply to the run state query"));
  check(!driver_->is_running(), QStringLiteral("a fresh device says it is running"));
  check(driver_->initialize(), QStringLiteral("the start-up sequence failed"));
  check(driver_->offset() == reference_.dac_offset && driver_->ad_offset() == reference_.ad_offset &&
            driver_->ad_gain() == reference_.ad_gain,
        QStringLiteral("calibration read as %1 %2 %3")
            .arg(double(driver_->offset()))
            .arg(double(driver_->ad_offset()))
            .arg(double(driver_->ad_gain())));
  check(driver_->read_status(), QStringLiteral("no reply to the status poll"));
  check(driver_->load_board_present() && !driver_->over_temperature(),
        QStringLiteral("status says board %1, over-temperature %2")
            .arg(driver_->load_board_present())
            .arg(driver_->over_temperature()));
  check(std::fabs(driver_->temperature() - reference_.temperature_c) < 0.5L,
        QStringLiteral("temperature read as %1").arg(double(driver_->temperature())));
  check(driver_->read_load_board_record(), QStringLiteral("the load board record read failed"));
  const TLoadBoardRecord &lb = driver_->load_board();
  check(lb.lb_name == QStringLiteral("LB1") && lb.lb_units == QStringLiteral("A") && lb.lb_gain == 100 &&
            lb.lb_sensor_units == QStringLiteral("V"),
        QStringLiteral("load board record read as \"%1\" \"%2\" gain %3")
            .arg(lb.lb_name, lb.lb_units)
            .arg(double(lb.lb_gain)));
  check(driver_->set_output_normalized(0), QStringLiteral("no reply to the output level"));
  long double volts = 0;
  check(driver_->read_usb_voltage(volts), QStringLiteral("no reply to the USB voltage query"));
  check(std::fabs(volts - reference_.usb_voltage) < 1e-5L,
        QStringLiteral("USB voltage read as %1").arg(double(volts)));
  quint16 serial = 0;
  QString revision;
  check(driver_->read_serial_number(serial) && serial == reference_.serial_number,
        QStringLiteral("serial number read as %1").arg(serial));
  check(driver_->read_revision(revision) &&
            revision == QStringLiteral("%1.%2").arg(reference_.revision_major).arg(reference_.revision_minor),
        QStringLiteral("revision read as %1").arg(revision));
}

// Median and 99th percentile of round trips in nanoseconds, as figures in microseconds.
QStringList percentiles(const QString &prefix, std::vector<qint64> ns) {
  std::sort(ns.begin(), ns.end());
  auto us = [&](std::size_t at) {
    return QString::number(double(ns[std::min(at, ns.size() - 1)]) / 1e3, 'f', 0);
  };
  return {prefix + QStringLiteral("median_us=") + us(ns.size() / 2),
          prefix + QStringLiteral("p99_us=") + us(ns.size() * 99 / 100),
          prefix + QStringLiteral("max_us=") + us(ns.size() - 1)};
}

// On a handle of our own beside the transport's (each open node gets its own copy of every
// input report): a report of the wrong length gets no reply and the next good one does; then
// the bare round trip of hidapi and the kernel, the floor under the driver's figures.
void Run::raw_handle() {
  hid_device *raw = hid_open_path(path_.toLocal8Bit().constData());
  check(raw != nullptr, QStringLiteral("hid_open_path(%1) failed").arg(path_));
  std::uint8_t report[62] = {0, 8};
  std::uint8_t reply[65] = {};
  const int written = hid_write(raw, report, 10);
  const int early = written == 10 ? hid_read_timeout(raw, reply, sizeof reply, 300) : -2;
  const int good = hid_write(raw, report, sizeof report);
  const int answer = good == int(sizeof report) ? hid_read_timeout(raw, reply, sizeof reply, 1000) : -2;
  constexpr int count = 1000;
  std::vector<qint64> ns;
  for (int i = 0; i < count && answer > 0; ++i) {
    QElapsedTimer one;
    one.start();
    if (hid_write(raw, report, sizeof report) != int(sizeof report) ||
        hid_read_timeout(raw, reply, sizeof reply, 1000) != int(TVirtualQX5200::reply_size))
      break;
    ns.push_back(one.nsecsElapsed());
  }
  hid_close(raw);
  // The transport's reader got these replies too: let them land now, not inside the next
  // exchange, which would take one for its own.
  settle(300);
  check(written == 10, QStringLiteral("the 10-byte write returned %1").arg(written));
  check(early == 0, QStringLiteral("a 10-byte report was answered (%1)").arg(early));
  check(wait_for(
            [&] {
              return device_->messages().contains(QStringLiteral("rejected an output report of 10 bytes"));
            },
            1000),
        QStringLiteral("qx5200-uhid did not say it rejected the 10-byte report"));
  check(answer == int(TVirtualQX5200::reply_size) && reply[0] == 8,
        QStringLiteral("the 62-byte report after it was answered with %1 bytes").arg(answer));
  check(ns.size() == count, QStringLiteral("bare round trip %1 of %2 failed").arg(ns.size() + 1).arg(count));
  figures_ << percentiles(QStringLiteral("raw_"), std::move(ns));
}

void Run::measure_exchanges() {
  constexpr int count = 1000;
  std::vector<qint64> ns;
  ns.reserve(count);
  QElapsedTimer total;
  total.start();
  for (int i = 0; i < count; ++i) {
    QElapsedTimer one;
    one.start();
    quint16 serial = 0;
    check(driver_->read_serial_number(serial) && serial == reference_.serial_number,
          QStringLiteral("exchange %1 of %2 failed").arg(i + 1).arg(count));
    ns.push_back(one.nsecsElapsed());
  }
  const double seconds = double(total.nsecsElapsed()) / 1e9;
  figures_ << QStringLiteral("exchanges=%1").arg(count)
           << QStringLiteral("per_s=%1").arg(count / seconds, 0, 'f', 0)
           << percentiles(QString(), std::move(ns));
}

void Run::upload_and_run() {
  // One fast ramp that fills the whole word buffer: 7959 words, 266 blocks. Repeated for about
  // a second so the run state can be seen running and then stopping by itself.
  constexpr int repeats = 5000;
  driver_->clear_points();
  driver_->set_repeat_count(repeats);
  driver_->add_point(0, 0);
  driver_->add_point(1.9879e-4L, 50);
  // build_waveform answers whether the data has an error.
  check(!driver_->build_waveform(0),
        QStringLiteral("the ramp did not build (error kind %1)").arg(driver_->error_type()));
  check(driver_->buffer_count() == 7959,
        QStringLiteral("the ramp took %1 words, not the full buffer").arg(driver_->buffer_count()));
  QElapsedTimer upload;
  upload.start();
  check(driver_->upload_waveform(), QStringLiteral("the full-buffer upload failed"));
  const qint64 upload_ms = upload.elapsed();
  figures_ << QStringLiteral("upload_ms=%1").arg(upload_ms);

  QElapsedTimer run;
  run.start();
  check(driver_->start_output(), QStringLiteral("no reply to start"));
  check(driver_->query_run_state() && driver_->is_running(),
        QStringLiteral("the device is not running after start"));
  // The device decoded the words it was sent, or it would not run for their duration.
  const long double expected_ms = (driver_->total_time() * repeats) * 1000;
  check(
      wait_for([&] { return driver_->query_run_state() && !driver_->is_running(); }, int(expected_ms) + 5000),
      QStringLiteral("the run did not end"));
  const qint64 run_ms = run.elapsed();
  check(run_ms >= expected_ms * 0.9L,
        QStringLiteral("the run ended after %1 ms, expected %2 ms").arg(run_ms).arg(double(expected_ms)));
  figures_ << QStringLiteral("run_ms=%1").arg(run_ms);

  // Started again (nothing changed: no upload) and stopped by the program.
  check(!driver_->waveform_changed(), QStringLiteral("the waveform counts as changed after its upload"));
  check(driver_->start_output() && driver_->query_run_state() && driver_->is_running(),
        QStringLiteral("the second start did not run"));
  check(driver_->stop_output() && driver_->query_run_state() && !driver_->is_running(),
        QStringLiteral("stop did not stop the run"));
}

void Run::unplug(bool hard) {
  QElapsedTimer timer;
  timer.start();
  const QString path = path_;
  const int removals = watcher_removals_;
  device_->unplug(hard);
  const char *what = hard ? "kill" : "unplug";
  check(wait_for([&] { return !driver_->is_connected(); }, 5000),
        QStringLiteral("the transport did not notice the %1").arg(QLatin1String(what)));
  figures_ << QStringLiteral("%1_ms=%2").arg(QLatin1String(what)).arg(timer.elapsed());
  check(wait_for([&] { return watcher_removals_ > removals; }, 3000),
        QStringLiteral("the rescan did not notice the %1").arg(QLatin1String(what)));
  figures_ << QStringLiteral("%1_rescan_ms=%2").arg(QLatin1String(what)).arg(timer.elapsed());
  quint16 serial = 0;
  check(!driver_->read_serial_number(serial), QStringLiteral("an exchange succeeded with no device"));
  check(driver_->hid()->device() == nullptr, QStringLiteral("the transport still holds a device"));
  check(!enumerated_qx5200().contains(path), QStringLiteral("hid_enumerate still lists %1").arg(path));
  device_.reset();
}

// Unplugged and a new device plugged before the program looks: the new one gets the same node
// and must be told from the old by its identity, not its path.
void Run::replug_within_a_rescan() {
  const QString old_identity = driver_->hid()->device()->pnp_info().device_instance;
  int disconnects = 0;
  const QMetaObject::Connection counting =
      QObject::connect(driver_->hid(), &TQHID::disconnected, [&] { ++disconnects; });
  // No events run from here until the new device is listed.
  device_->unplug(true);
  device_.reset();
  device_ = std::make_unique<DeviceProcess>(device_program_);
  QElapsedTimer timer;
  timer.start();
  while (enumerated_qx5200().isEmpty() && timer.elapsed() < 5000)
    QThread::msleep(5);
  const QStringList found = enumerated_qx5200();
  check(found.size() == 1,
        QStringLiteral("hid_enumerate lists %1 QX5200 nodes after a quick replug").arg(found.size()));
  check(wait_for(
            [&] {
              driver_->enumerate();
              return driver_->is_connected() &&
                     driver_->hid()->device()->pnp_info().device_instance != old_identity;
            },
            5000),
        QStringLiteral("the transport did not take the new device at %1").arg(found.first()));
  QObject::disconnect(counting);
  check(disconnects == 1,
        QStringLiteral("the quick replug reached the transport as %1 removals").arg(disconnects));
  figures_ << QStringLiteral("same_node=%1").arg(found.first() == path_ ? "yes" : "no");
  path_ = found.first();
  check(driver_->initialize(), QStringLiteral("the start-up sequence failed after a quick replug"));
}

// qx5200-ctl as separate processes on a fresh device this program leaves alone: each command,
// a log of two seconds, and two programs at once (the holder answers status and stop for the
// other, which is refused anything else).
void Run::ctl_processes() {
  check(QFileInfo(ctl_program_).isExecutable(), QStringLiteral("no qx5200-ctl at %1").arg(ctl_program_));
  device_ = std::make_unique<DeviceProcess>(device_program_);
  check(wait_for([] { return !enumerated_qx5200().isEmpty(); }, 5000),
        QStringLiteral("hid_enumerate lists no QX5200 for qx5200-ctl"));
  auto ctl = [&](const QStringList &args, int expected) {
    QProcess p;
    p.start(ctl_program_, args);
    check(p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit,
          QStringLiteral("qx5200-ctl %1 did not end").arg(args.join(u' ')));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    check(p.exitCode() == expected, QStringLiteral("qx5200-ctl %1 ended with %2, not %3: %4")
                                        .arg(args.join(u' '))
                                        .arg(p.exitCode())
                                        .arg(expected)
                                        .arg(err));
    return QString::fromLocal8Bit(p.readAllStandardOutput()) + err;
  };
  const QString listed = ctl({QStringLiteral("list")}, 0);
  check(listed.contains(QStringLiteral("serial 5200  ok")), QStringLiteral("qx5200-ctl list: ") + listed);
  const QString status = ctl({QStringLiteral("status"), QStringLiteral("--json")}, 0);
  check(status.contains(QStringLiteral("\"serial\":5200")) &&
            status.contains(QStringLiteral("\"name\":\"LB1\"")),
        QStringLiteral("qx5200-ctl status --json: ") + status);

  QFile wave(QStringLiteral("/tmp/e2e-wave.txt"));
  check(wave.open(QIODevice::WriteOnly) && wave.write("t\tv\n0\t0\n1e-3\t0.5\n2e-3\t0\n") > 0,
        QStringLiteral("cannot write /tmp/e2e-wave.txt"));
  wave.close();
  ctl({QStringLiteral("upload"), QStringLiteral("--repeat"), QStringLiteral("0"), wave.fileName()}, 0);
  ctl({QStringLiteral("start")}, 0);
  const QString log_path = QStringLiteral("/tmp/e2e-log.csv");
  ctl({QStringLiteral("log"), QStringLiteral("--duration"), QStringLiteral("2"), QStringLiteral("--interval"),
       QStringLiteral("100"), QStringLiteral("--output"), log_path},
      0);
  QFile log(log_path);
  check(log.open(QIODevice::ReadOnly), QStringLiteral("qx5200-ctl log wrote no file"));
  const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
  check(rows.size() >= 15 && rows.last().split(',').value(2) == "1",
        QStringLiteral("the log of two seconds has %1 lines, the last '%2'")
            .arg(rows.size())
            .arg(QString::fromLatin1(rows.last())));
  figures_ << QStringLiteral("ctl_log_rows=%1").arg(rows.size() - 1);
  ctl({QStringLiteral("stop")}, 0);

  QProcess holder;
  holder.start(ctl_program_, {QStringLiteral("log"), QStringLiteral("--duration"), QStringLiteral("3"),
                              QStringLiteral("--interval"), QStringLiteral("50")});
  check(wait_for([&] { return holder.canReadLine() || holder.state() == QProcess::NotRunning; }, 10000) &&
            holder.state() == QProcess::Running,
        QStringLiteral("the first qx5200-ctl log did not start logging"));
  // The holder answers status for the second program; anything else is refused with its name.
  const QString asked = ctl({QStringLiteral("status"), QStringLiteral("--json")}, 0);
  check(asked.contains(QStringLiteral("\"serial\":5200")),
        QStringLiteral("the holder answered status with: ") + asked);
  const QString refused = ctl({QStringLiteral("start")}, 5);
  check(refused.contains(
            QStringLiteral("QX5200 5200 is in use by qx5200-ctl (pid %1)").arg(holder.processId())),
        QStringLiteral("the second qx5200-ctl said: ") + refused);
  check(holder.waitForFinished(30000) && holder.exitCode() == 0,
        QStringLiteral("the first qx5200-ctl log failed"));

  // A run waiting in one process is stopped from another through the holder: it ends at once.
  QProcess runner;
  runner.start(ctl_program_, {QStringLiteral("run"), QStringLiteral("--repeat"), QStringLiteral("0"),
                              QStringLiteral("--wait"), wave.fileName()});
  const QString lock_file = TDeviceLock::lock_file(enumerated_qx5200().value(0));
  auto serving = [&] {
    QFile f(lock_file);
    return f.open(QIODevice::ReadOnly) &&
           f.readAll().split('\n').value(1).toLongLong() == runner.processId() &&
           QFileInfo::exists(lock_file + QStringLiteral(".sock"));
  };
  check(wait_for([&] { return serving() || runner.state() == QProcess::NotRunning; }, 10000) &&
            runner.state() == QProcess::Running,
        QStringLiteral("qx5200-ctl run --wait did not start waiting: ") + runner.readAllStandardError());
  const QString running = ctl({QStringLiteral("status")}, 0);
  check(running.contains(QStringLiteral("\nRunning: yes")),
        QStringLiteral("the run's holder said: ") + running);
  QProcess stopper;
  stopper.start(ctl_program_, {QStringLiteral("stop")});
  const qint64 stopper_pid = stopper.waitForStarted(10000) ? stopper.processId() : -1;
  check(stopper.waitForFinished(30000) && stopper.exitCode() == 0 &&
            stopper.readAllStandardOutput() == "Stopped.\n",
        QStringLiteral("qx5200-ctl stop through the holder: ") + stopper.readAllStandardError());
  check(runner.waitForFinished(10000), QStringLiteral("the run went on after the stop"));
  const QString run_err = QString::fromLocal8Bit(runner.readAllStandardError());
  check(runner.exitCode() == 0 &&
            QString::fromLocal8Bit(runner.readAllStandardOutput())
                .contains(QStringLiteral("\nRun stopped by qx5200-ctl (pid %1) after ").arg(stopper_pid)) &&
            run_err == QStringLiteral("qx5200-ctl: stopped by qx5200-ctl (pid %1)\n").arg(stopper_pid),
        QStringLiteral("qx5200-ctl run --wait ended with %1: %2").arg(runner.exitCode()).arg(run_err));
  const QString after = ctl({QStringLiteral("status")}, 0);
  check(after.contains(QStringLiteral("\nRunning: no")), QStringLiteral("after the stop: ") + after);
  device_->unplug(false);
  device_.reset();
}

QString Run::execute() {
  check(QFileInfo(device_program_).isExecutable(),
        QStringLiteral("no device program at %1").arg(device_program_));
  driver_ = std::make_unique<TQX5200_DRIVER>(nullptr, std::make_unique<THidBackendLinux>());
  auto *backend = qobject_cast<THidBackendLinux *>(driver_->hid()->controller()->backend());
  check(backend != nullptr, QStringLiteral("the driver does not run on the Linux back end"));
  figures_ << QStringLiteral("notices=%1")
                  .arg(backend->notice_source() == THidBackendLinux::NoticeSource::UdevMonitor ? "udev"
                                                                                               : "rescan");
  watcher_ = std::make_unique<THidDeviceController>(nullptr, std::make_unique<THidBackendLinux>());
  watcher_->OnRemoval = [this](THidDevice *) { ++watcher_removals_; };

  plug_and_connect("connect");
  start_up_sequence();
  raw_handle();
  measure_exchanges();
  upload_and_run();
  unplug(false);
  check(!driver_->query_run_state(), QStringLiteral("the run state query succeeded with no device"));

  plug_and_connect("replug");
  start_up_sequence();
  replug_within_a_rescan();
  unplug(true);
  ctl_processes();
  return figures_.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QString device_program = QCoreApplication::applicationDirPath() + QStringLiteral("/qx5200-uhid");
  const qsizetype at = args.indexOf(QStringLiteral("--device"));
  if (at > 0 && at + 1 < args.size())
    device_program = args[at + 1];

  QString ctl_program = QCoreApplication::applicationDirPath() + QStringLiteral("/qx5200-ctl");
  const qsizetype ctl_at = args.indexOf(QStringLiteral("--ctl"));
  if (ctl_at > 0 && ctl_at + 1 < args.size())
    ctl_program = args[ctl_at + 1];

  QString line;
  int status = 0;
  try {
    Run run(device_program, ctl_program);
    line = QStringLiteral("PASS ") + run.execute();
  } catch (const Failure &failure) {
    line = QStringLiteral("FAIL ") + failure.why;
    status = 1;
  }
  std::printf("E2E-HID RESULT: %s\n", qPrintable(line));
  std::fflush(stdout);
  return status;
}
