#include "HolderSocket.h"

#include "DeviceLock.h"

QString holder_socket_path(const QString &device_path) {
  return TDeviceLock::lock_file(device_path) + QStringLiteral(".sock");
}
