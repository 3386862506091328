#pragma once

#include "ScpiCommands.h"
#include "ScpiServer.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

// The local socket of a device's holder, beside its lock file: the program that holds the
// device answers other programs there, so a second program never needs the device itself.
QString holder_socket_path(const QString &device_path);

// Sends one message to the holder of the device at device_path and waits (a few seconds at
// most) for `lines` answer lines. False, with the reason, when no holder answers.
bool ask_holder(const QString &device_path, const QByteArray &message, int lines, QByteArray &answer,
                QString &reason);

// The holder side for a program busy with the device (qx5200-ctl run --wait, log, the window):
// STATus:DEVice? from what its own polls left, OUTPut OFF as a request it carries out at its next
// safe point, OUTPut?, *IDN? and the status commands. Nothing here talks to the device.
class THolderService : public QObject {
  Q_OBJECT
public:
  struct THandlers {
    std::function<QJsonObject()> status;          // as qx5200-ctl --json status prints it
    std::function<void(const QString &who)> stop; // who: "qx5200-ctl (pid N)"
  };
  explicit THolderService(THandlers handlers, QObject *parent = nullptr);

  bool listen(const QString &device_path, QString &error);
  // Removes the socket while the lock is still held, so it never takes away the next holder's.
  void close() { server_.close_local(); }

private:
  THandlers handlers_;
  TDeviceTurn turn_;
  TScpiCommandTable table_;
  TScpiServer server_;
};
