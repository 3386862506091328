#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes a JPEG with libjpeg straight into a QImage. Corrupt, truncated or oversized data gives
// a null image and a reason in `error`; nothing is thrown and nothing is left half-decoded.
QImage decode_jpeg(const QByteArray &data, QString *error = nullptr);

// Largest picture accepted, in pixels; a header that claims more is refused before any allocation.
inline constexpr qint64 kMaxJpegPixels = qint64(64) * 1024 * 1024;
