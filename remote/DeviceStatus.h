#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class TQX5200_DRIVER;

// The maker field of *IDN?: the product string without the model.
QByteArray qx5200_maker();

// A figure the device gives as a single (or works out from singles and its codes) as JSON: the
// double of its shortest text, so that 4.98 is printed as 4.98 and not as 4.980000019073486.
double device_single(long double v);

// What `qx5200-ctl --json status` prints, from what the driver's last polls left: the one
// source for the status of every front end (qx5200-ctl itself, the holder's socket, SCPI
// STATus:DEVice?), so a status asked of the holder is the same object as one read directly.
// The record is board_record_json's; "units" gives the unit of each figure that has one.
QJsonObject device_status_json(const TQX5200_DRIVER &driver, const QString &path, long double usb_voltage);
