#pragma once

#include "HidControllerClass.h"

#include <QJsonObject>
#include <QString>

// qx5200-ctl serve: holds the device and serves the SCPI command set on TCP and on the holder's
// local socket until SIGTERM or SIGINT.
struct TServeOptions {
  QString listen = QStringLiteral("127.0.0.1:5025"); // HOST:PORT; port 0 takes a free one
  QString device;                                    // --device, empty for the first one free
  QString log;                                       // --log: CSV, one row per status poll
};

// The exit statuses of qx5200-ctl: 0 after a signal, 2 usage, 3..6 as for the other commands,
// 9 when the address cannot be listened on.
int ctl_serve(const TServeOptions &options, THidBackendFactory backends);

// status and stop of a device another qx5200 program holds: asked of that holder over its local
// socket, printed as the command prints them itself. Exit 5, naming the holder, when it does not
// answer.
int ctl_holder_status(const QString &device_path, const QString &in_use_text, bool json);
int ctl_holder_stop(const QString &device_path, const QString &in_use_text, bool json);
// qx5200-ctl status as text, from the object device_status_json makes (here or in the holder):
// the same figures and units as the JSON.
QString status_text(const QJsonObject &status);
