#include "HolderSocket.h"

#include "DeviceLock.h"
#include "DeviceStatus.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLocalSocket>

QString holder_socket_path(const QString &device_path) {
  return TDeviceLock::lock_file(device_path) + QStringLiteral(".sock");
}

bool ask_holder(const QString &device_path, const QByteArray &message, int lines, QByteArray &answer,
                QString &reason) {
  constexpr int wait_ms = 5000;
  QLocalSocket socket;
  socket.connectToServer(holder_socket_path(device_path));
  if (!socket.waitForConnected(wait_ms)) {
    reason = socket.errorString();
    return false;
  }
  socket.write(message);
  answer.clear();
  QElapsedTimer clock;
  clock.start();
  while (answer.count('\n') < lines) {
    if (clock.elapsed() > wait_ms || socket.state() != QLocalSocket::ConnectedState) {
      reason = QStringLiteral("no answer");
      return false;
    }
    socket.waitForReadyRead(100);
    answer += socket.readAll();
  }
  return true;
}

THolderService::THolderService(THandlers handlers, QObject *parent)
    : QObject(parent), handlers_(std::move(handlers)), server_(table_, turn_) {
  table_.add_status_commands();
  auto status = [this] { return handlers_.status(); };
  table_.add("*IDN", true, {}, [status](TScpiCall &c) {
    const QJsonObject s = status();
    c.reply = qx5200_maker() + ",QX5200," + QByteArray::number(s.value(u"serial").toInt()) + ',' +
              s.value(u"firmware").toString().toLatin1();
  });
  table_.add("STATus:DEVice", true, {},
             [status](TScpiCall &c) { c.reply = QJsonDocument(status()).toJson(QJsonDocument::Compact); });
  table_.add("OUTPut[:STATe]", true, {},
             [status](TScpiCall &c) { c.reply = status().value(u"running").toBool() ? "1" : "0"; });
  table_.add("OUTPut[:STATe]", false, {1, 1}, [this](TScpiCall &c) {
    bool on = true;
    if (!c.boolean(0, on))
      return;
    if (on) {
      c.fail(scpi::settings_conflict, QStringLiteral("the device's holder only stops here"));
      return;
    }
    handlers_.stop(c.session.client.isEmpty() ? QStringLiteral("another program") : c.session.client);
  });
}

bool THolderService::listen(const QString &device_path, QString &error) {
  return server_.listen_local(holder_socket_path(device_path), error);
}
