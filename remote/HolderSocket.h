#pragma once

#include <QString>

// The local socket of a device's holder, beside its lock file: the program that holds the
// device answers other programs there (status and stop at least).
QString holder_socket_path(const QString &device_path);
