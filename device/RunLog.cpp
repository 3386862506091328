#include "RunLog.h"

#include "QX5200_Driver.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString number(long double v) {
  // Neither CSV nor JSON has a way to write an infinity: such a reading stays empty / null.
  if (!std::isfinite(v))
    return {};
  return QString::number(double(v), 'g', 7);
}

QString csv_field(const QString &text) {
  if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
    return text;
  return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString json_string(const QString &text) {
  QString out = QStringLiteral("\"");
  for (const QChar c : text) {
    if (c == u'"' || c == u'\\')
      out += u'\\' + QString(c);
    else if (c.unicode() < 0x20)
      out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out + u'"';
}

} // namespace

TRunLog::~TRunLog() { close(); }

bool TRunLog::open(const QString &path, TFormat format, QString &reason) {
  close();
  format_ = format;
  path_ = path;
  if (path == u"-") {
    fd_ = STDOUT_FILENO;
    owns_fd_ = false;
  } else {
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      reason = QString::fromLocal8Bit(std::strerror(errno));
      return false;
    }
    owns_fd_ = true;
  }
  clock_.start();
  if (format_ == csv) {
    const off_t end = owns_fd_ ? ::lseek(fd_, 0, SEEK_END) : 0;
    if (end == 0 && !write_all(csv_header(), reason)) {
      close();
      return false;
    }
  }
  return true;
}

void TRunLog::close() {
  if (fd_ >= 0 && owns_fd_)
    ::close(fd_);
  fd_ = -1;
  owns_fd_ = false;
}

QByteArray TRunLog::csv_header() {
  return QByteArrayLiteral(
      "time,seconds,running,sensor_value,sensor_units,temperature,over_temperature,board_present\n");
}

QByteArray TRunLog::format_row(TFormat format, const QString &iso_time, double elapsed, bool running,
                               long double sensor, const QString &sensor_units, long double temperature,
                               bool over_temperature, bool board_present) {
  const QString seconds = QString::number(elapsed, 'f', 3);
  if (format == csv) {
    return (iso_time + u',' + seconds + u',' + QChar(running ? u'1' : u'0') + u',' + number(sensor) + u',' +
            csv_field(sensor_units) + u',' + number(temperature) + u',' +
            QChar(over_temperature ? u'1' : u'0') + u',' + QChar(board_present ? u'1' : u'0') + u'\n')
        .toUtf8();
  }
  auto json_number = [](long double v) {
    const QString n = number(v);
    return n.isEmpty() ? QStringLiteral("null") : n;
  };
  auto json_bool = [](bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); };
  return (QStringLiteral("{\"time\":") + json_string(iso_time) + QStringLiteral(",\"seconds\":") + seconds +
          QStringLiteral(",\"running\":") + json_bool(running) + QStringLiteral(",\"sensor_value\":") +
          json_number(sensor) + QStringLiteral(",\"sensor_units\":") + json_string(sensor_units) +
          QStringLiteral(",\"temperature\":") + json_number(temperature) +
          QStringLiteral(",\"over_temperature\":") + json_bool(over_temperature) +
          QStringLiteral(",\"board_present\":") + json_bool(board_present) + QStringLiteral("}\n"))
      .toUtf8();
}

bool TRunLog::write_row(const TQX5200_DRIVER &driver, QString &reason) {
  if (fd_ < 0) {
    reason = QStringLiteral("the log is not open");
    return false;
  }
  const double elapsed = double(clock_.nsecsElapsed()) / 1e9;
  const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
  return write_all(format_row(format_, now, elapsed, driver.running(), driver.sensor_value(),
                              driver.load_board().lb_sensor_units, driver.temperature(),
                              driver.over_temperature(), driver.load_board_present()),
                   reason);
}

bool TRunLog::write_all(const QByteArray &bytes, QString &reason) {
  const char *p = bytes.constData();
  std::size_t left = std::size_t(bytes.size());
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      reason = QString::fromLocal8Bit(std::strerror(errno));
      return false;
    }
    p += n;
    left -= std::size_t(n);
  }
  return true;
}
