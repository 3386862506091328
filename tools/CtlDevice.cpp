// qx5200-ctl's connection to the device and the commands that only read it or stop it.
#include "Ctl.h"

#include "BoardFields.h"
#include "CtlServe.h"
#include "DeviceStatus.h"

#include "WaveReport.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <optional>

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

namespace {
bool json_failures = false;
std::optional<QJsonObject> held_result;
} // namespace

void set_json_failures(bool on) { json_failures = on; }

void print_result(const QJsonObject &object) { held_result = object; }

void print_held_result() {
  if (!held_result)
    return;
  QJsonObject o = *held_result;
  held_result.reset();
  if (!o.contains(QStringLiteral("error")))
    o.insert(QStringLiteral("error"), QJsonValue());
  print_json(o);
}

QString signal_name(int sig) {
  switch (sig) {
  case SIGINT: return QStringLiteral("SIGINT");
  case SIGTERM: return QStringLiteral("SIGTERM");
  case SIGHUP: return QStringLiteral("SIGHUP");
  default: return QStringLiteral("signal %1").arg(sig);
  }
}

QString exit_kind(int code) {
  static const char *const kinds[] = {"done",           "data_error",    "usage",       "no_device",
                                      "no_permission",  "in_use",        "no_answer",   "not_possible",
                                      "record_differs", "cannot_listen", "not_written", "log_failed"};
  if (code >= 0 && code < int(std::size(kinds)))
    return QString::fromLatin1(kinds[code]);
  return code > exit_signal ? QStringLiteral("interrupted") : QStringLiteral("unknown");
}

int fail(int code, const QString &message) {
  std::fprintf(stderr, "qx5200-ctl: %s\n", message.toLocal8Bit().constData());
  if (json_failures) {
    QJsonObject o = held_result.value_or(QJsonObject{});
    held_result.reset();
    o.insert(QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), code},
                                                  {QStringLiteral("kind"), exit_kind(code)},
                                                  {QStringLiteral("message"), message}});
    print_json(o);
  }
  return code;
}

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
  // Finding none is an answer, not a failure: a script asks to learn whether there is one.
  if (o_.json)
    print_json({{QStringLiteral("devices"), devices}});
  else
    print(entries.isEmpty() ? QStringLiteral("No QX5200 found.\n") : text);
  return exit_done;
}

namespace {

QString yes_no(bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); }

// A JSON figure's own text: the shortest that reads back as it.
QString num(const QJsonValue &v) {
  return v.isDouble() ? QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest)
                      : QStringLiteral("?");
}

// The record's fields in the record's order.
QString board_lines(const QJsonObject &board, const QString &indent) {
  QString t;
  for (const auto &[name, text] : board_wire_fields(TLoadBoardRecord())) {
    const QJsonValue v = board.value(name);
    t += indent + name + QStringLiteral(": ") +
         (v.isString() ? v.toString()
          : v.isBool() ? yes_no(v.toBool())
                       : num(v)) +
         u'\n';
  }
  return t;
}

} // namespace

QString record_text(const TLoadBoardRecord &lb, const QString &indent) {
  return board_lines(board_record_json(lb), indent);
}

QString status_text(const QJsonObject &o) {
  const QJsonObject units = o.value(u"units").toObject();
  auto figure = [&](const char *key) {
    return num(o.value(QLatin1StringView(key))) + u' ' + units.value(QLatin1StringView(key)).toString();
  };
  const QJsonObject cal = o.value(u"calibration").toObject();
  QString t =
      QStringLiteral("Connected: %1\nPath: %2\nUSB voltage: %3\nSerial: %4\nFirmware: %5\n")
          .arg(yes_no(o.value(u"connected").toBool()), o.value(u"path").toString(), figure("usb_voltage"))
          .arg(o.value(u"serial").toInt())
          .arg(o.value(u"firmware").toString());
  t += QStringLiteral("Calibration: offset %1, ad_offset %2, ad_gain %3\n")
           .arg(num(cal.value(u"offset")), num(cal.value(u"ad_offset")), num(cal.value(u"ad_gain")));
  const bool present = o.value(u"board_present").toBool();
  t += QStringLiteral("Load board: %1\n").arg(present ? QStringLiteral("present") : QStringLiteral("none"));
  if (present)
    t += board_lines(o.value(u"board").toObject(), QStringLiteral("  "));
  t += QStringLiteral("Sensor: %1\nTemperature: %2\nOver-temperature: %3\nRunning: %4\n")
           .arg(figure("sensor_value"), figure("temperature"), yes_no(o.value(u"over_temperature").toBool()),
                yes_no(o.value(u"running").toBool()));
  return t;
}

int TCtl::status() {
  holder_request_ = true;
  if (const int r = connect())
    return r == exit_in_use ? ctl_holder_status(lock_.refused_path(), lock_.in_use_text(), o_.json) : r;
  const QJsonObject o = device_status_json(*driver_, lock_.path(), usb_voltage_);
  if (o_.json)
    print_json(o);
  else
    print(status_text(o));
  return exit_done;
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
