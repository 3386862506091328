#include "CtlServe.h"

#include "Ctl.h"

#include "Delay.h"
#include "DeviceLock.h"
#include "HolderSocket.h"
#include "QX5200_Driver.h"
#include "RunLog.h"
#include "ScpiInstrument.h"
#include "ScpiServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const char c = 1;
  if (::write(signal_pipe[1], &c, 1) < 0) {
    // The pipe is full: a quit is already on its way.
  }
}

// "127.0.0.1:5025", "localhost:5025", "[::1]:5025", "0.0.0.0:5025".
bool parse_listen(const QString &text, QHostAddress &address, quint16 &port) {
  const qsizetype colon = text.lastIndexOf(u':');
  if (colon <= 0)
    return false;
  QString host = text.left(colon);
  bool ok = false;
  const uint p = text.mid(colon + 1).toUInt(&ok);
  if (!ok || p > 65535)
    return false;
  port = quint16(p);
  if (host.startsWith(u'[') && host.endsWith(u']'))
    host = host.mid(1, host.size() - 2);
  if (host.compare(u"localhost", Qt::CaseInsensitive) == 0) {
    address = QHostAddress(QHostAddress::LocalHost);
    return true;
  }
  return address.setAddress(host);
}

} // namespace

int ctl_serve(const TServeOptions &o, THidBackendFactory backends) {
  QHostAddress address;
  quint16 port = 0;
  if (!parse_listen(o.listen, address, port))
    return fail(exit_usage,
                QStringLiteral("--listen: '%1' is not HOST:PORT with an IP address (or localhost) "
                               "and a port from 0 to 65535")
                    .arg(o.listen));
  TRunLog log;
  QString reason;
  if (!o.log.isEmpty() && !log.open(o.log, TRunLog::csv, reason))
    return fail(exit_usage, QStringLiteral("cannot open %1: %2").arg(o.log, reason));

  TDeviceTurn turn;
  TQX5200_DRIVER driver(nullptr, backends());
  TDeviceLock lock(QStringLiteral("qx5200-ctl"));
  TQX5200Instrument instrument(driver, lock, turn);
  TScpiServer server(instrument.table(), turn);
  // The port first: a server that cannot listen never touches the device.
  if (!server.listen_tcp(address, port, reason))
    return fail(exit_cannot_listen, QStringLiteral("cannot listen on %1: %2").arg(o.listen, reason));

  lock.attach(driver.hid(), o.device);
  QCoreApplication::processEvents(); // the controller's first scan
  turn.take();
  const bool opened = instrument.open_device();
  turn.give();
  if (!opened) {
    TQHID *hid = driver.hid();
    if (hid->connected())
      return fail(exit_no_answer,
                  QStringLiteral("the QX5200 does not answer: check its USB cable and power."));
    if (hid->device_in_use())
      return fail(exit_in_use, lock.in_use_text() + QStringLiteral(": wait until it ends, or end it."));
    if (hid->permission_denied())
      return fail(exit_no_permission,
                  QStringLiteral("this user may not open the QX5200: install its udev rule "
                                 "(see qx5200-ctl list)."));
    if (!o.device.isEmpty())
      return fail(exit_no_device, QStringLiteral("no QX5200 at %1: see qx5200-ctl list.").arg(o.device));
    return fail(exit_no_device, QStringLiteral("no QX5200 found: plug it in, or use --simulate."));
  }
  const QString socket = holder_socket_path(lock.path());
  if (!server.listen_local(socket, reason))
    return fail(exit_cannot_listen, QStringLiteral("cannot listen on %1: %2").arg(socket, reason));

  if (log.is_open()) {
    instrument.on_status = [&] {
      QString why;
      if (!log.write_row(driver, why)) {
        std::fprintf(stderr, "qx5200-ctl: cannot write %s: %s\n", o.log.toLocal8Bit().constData(),
                     why.toLocal8Bit().constData());
        QCoreApplication::exit(exit_usage);
      }
    };
  }

  if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return fail(exit_usage, QStringLiteral("cannot watch for signals"));
  QSocketNotifier notifier(signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  const QString where = QStringLiteral("%1:%2")
                            .arg(address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? QStringLiteral("[%1]").arg(address.toString())
                                     : address.toString())
                            .arg(server.tcp_port());
  if (!address.isLoopback())
    std::fprintf(stderr,
                 "qx5200-ctl: warning: %s is reachable from other computers, and SCPI has no "
                 "authentication: anyone who reaches it can drive the QX5200.\n",
                 where.toLocal8Bit().constData());
  std::printf("Serving QX5200 %u on %s and %s\n", unsigned(driver.serial_number()),
              where.toLocal8Bit().constData(), socket.toLocal8Bit().constData());
  std::fflush(stdout);
  instrument.start_polling();
  const int result = QCoreApplication::exec();
  // What the device plays goes on: ending the server is not a stop.
  return result;
}

namespace {

int holder_silent(const QString &in_use_text, const QString &reason) {
  return fail(exit_in_use, QStringLiteral("%1, which does not answer on its socket (%2): wait until it ends, "
                                          "or end it.")
                               .arg(in_use_text, reason));
}

void print_line(const QByteArray &line) {
  std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
  std::fflush(stdout);
}

} // namespace

int ctl_holder_status(const QString &device_path, const QString &in_use_text, bool json) {
  QByteArray answer;
  QString reason;
  if (!ask_holder(device_path, "STAT:DEV?\n", 1, answer, reason))
    return holder_silent(in_use_text, reason);
  const QJsonObject o = QJsonDocument::fromJson(answer).object();
  if (o.isEmpty())
    return holder_silent(in_use_text, QStringLiteral("an answer that is not a status"));
  if (json) {
    print_line(answer);
    return 0;
  }
  // The text of qx5200-ctl status, from the holder's figures.
  print_line(status_text(o).toLocal8Bit());
  return 0;
}

int ctl_holder_stop(const QString &device_path, const QString &in_use_text, bool json) {
  QByteArray answer;
  QString reason;
  if (!ask_holder(device_path, "OUTP OFF;*OPC?\n", 1, answer, reason))
    return holder_silent(in_use_text, reason);
  // The holder stops at its next poll, within a few of them.
  QElapsedTimer clock;
  clock.start();
  bool running = true;
  while (clock.elapsed() < 10000) {
    // A holder that was only waiting for the run ends once it has stopped it.
    if (!ask_holder(device_path, "OUTP?;:SYST:ERR?\n", 1, answer, reason)) {
      running = false;
      break;
    }
    if (!answer.contains(";0,")) {
      const qsizetype semicolon = answer.indexOf(';');
      return fail(exit_no_answer,
                  QStringLiteral("%1 could not stop the output: %2")
                      .arg(in_use_text, QString::fromUtf8(answer.mid(semicolon + 1)).trimmed()));
    }
    running = answer.startsWith('1');
    if (!running)
      break;
    TEventWait(20, 1).run();
  }
  if (running)
    return fail(exit_no_answer, QStringLiteral("%1 did not stop the output within 10 s.").arg(in_use_text));
  print_line(json ? QByteArray("{\"running\":false,\"stopped\":true}\n") : QByteArray("Stopped.\n"));
  return 0;
}
