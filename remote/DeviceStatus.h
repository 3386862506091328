#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class TQX5200_DRIVER;
struct TLoadBoardRecord;

// The maker field of *IDN?: the product string without the model.
QByteArray qx5200_maker();

// The load board record as the device stores it (single-precision reals in their shortest form,
// the name and units as their bytes give them), one JSON member per field.
QJsonObject board_record_json(const TLoadBoardRecord &lb);

// What `qx5200-ctl --json status` prints, from what the driver's last polls left: the device's
// holder answers it for other programs without another exchange.
QJsonObject device_status_json(const TQX5200_DRIVER &driver, const QString &path, long double usb_voltage);
