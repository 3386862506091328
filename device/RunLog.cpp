#include "RunLog.h"

#include "QX5200_Driver.h"
#include "SafeFile.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString number(std::optional<long double> v) {
  // Neither CSV nor JSON has a way to write an infinity: such a reading stays empty / null.
  if (!v || !std::isfinite(*v) || std::fabs(*v) > static_cast<long double>(std::numeric_limits<float>::max()))
    return {};
  // The device's readings are singles: their shortest text, as status prints them.
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<float>(*v));
  return QString::fromLatin1(buf, res.ptr - buf);
}

QString flag(std::optional<bool> b) { return b ? QString(QChar(*b ? u'1' : u'0')) : QString(); }

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

bool TRunLog::fail(int number, QString &reason) {
  errno_ = number;
  reason = QString::fromLocal8Bit(std::strerror(number));
  return false;
}

bool TRunLog::open(const QString &path, TFormat format, TOpenMode mode, QString &reason) {
  close();
  format_ = format;
  path_ = path;
  errno_ = 0;
  needs_newline_ = false;
  created_ = false;
  size_ = -1;
  restart_clock();
  const QByteArray header = format_ == csv ? csv_header() : QByteArray();
  if (path == u"-") {
    fd_ = STDOUT_FILENO;
    if (write_all(header, reason))
      return true;
    close();
    return false;
  }
  const QByteArray name = QFile::encodeName(path);
  if (mode == replace) {
    TSafeFile file(path);
    if (!file.open(reason) || !file.write(header.constData(), std::size_t(header.size()), reason) ||
        !file.commit(reason)) {
      errno_ = file.error_number();
      return false;
    }
    fd_ = file.take_fd();
    owns_fd_ = true;
    size_ = header.size();
    return true;
  }
  bool created = false;
  fd_ = ::open(name.constData(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd_ < 0 && errno == EACCES) // a file we may append to but not read: its end is not checked
    fd_ = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd_ < 0 && errno == ENOENT) {
    fd_ = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    created = fd_ >= 0;
  }
  if (fd_ < 0)
    return fail(errno, reason);
  owns_fd_ = true;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    fail(errno, reason);
    close();
    return false;
  }
  size_ = st.st_size;
  char last = '\n';
  if (size_ > 0 && ::pread(fd_, &last, 1, size_ - 1) == 1 && last != '\n')
    needs_newline_ = true;
  if (size_ == 0 && !header.isEmpty() && !write_all(header, reason)) {
    close();
    if (created) // no empty file is left for a log that never began
      ::unlink(name.constData());
    return false;
  }
  created_ = created;
  return true;
}

void TRunLog::restart_clock() {
  clock_.start();
  start_utc_ = QDateTime::currentDateTimeUtc();
}

void TRunLog::abandon() {
  const bool remove = created_ && is_open();
  close();
  if (remove)
    ::unlink(QFile::encodeName(path_).constData());
  created_ = false;
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

QByteArray TRunLog::format_row(TFormat format, const QString &iso_time, double elapsed, const TRow &row) {
  const QString seconds = QString::number(elapsed, 'f', 3);
  const QString units = row.sensor ? row.sensor_units : QString();
  if (format == csv) {
    return (iso_time + u',' + seconds + u',' + QChar(row.running ? u'1' : u'0') + u',' + number(row.sensor) +
            u',' + csv_field(units) + u',' + number(row.temperature) + u',' + flag(row.over_temperature) +
            u',' + flag(row.board_present) + u'\n')
        .toUtf8();
  }
  auto json_number = [](std::optional<long double> v) {
    const QString n = number(v);
    return n.isEmpty() ? QStringLiteral("null") : n;
  };
  auto json_bool = [](std::optional<bool> b) {
    return !b ? QStringLiteral("null") : *b ? QStringLiteral("true") : QStringLiteral("false");
  };
  return (QStringLiteral("{\"time\":") + json_string(iso_time) + QStringLiteral(",\"seconds\":") + seconds +
          QStringLiteral(",\"running\":") + json_bool(row.running) + QStringLiteral(",\"sensor_value\":") +
          json_number(row.sensor) + QStringLiteral(",\"sensor_units\":") +
          (row.sensor ? json_string(units) : QStringLiteral("null")) + QStringLiteral(",\"temperature\":") +
          json_number(row.temperature) + QStringLiteral(",\"over_temperature\":") +
          json_bool(row.over_temperature) + QStringLiteral(",\"board_present\":") +
          json_bool(row.board_present) + QStringLiteral("}\n"))
      .toUtf8();
}

QByteArray TRunLog::format_row(TFormat format, const QString &iso_time, double elapsed, bool running,
                               long double sensor, const QString &sensor_units, long double temperature,
                               bool over_temperature, bool board_present) {
  return format_row(format, iso_time, elapsed,
                    TRow{running, sensor, sensor_units, temperature, over_temperature, board_present});
}

TRunLog::TRow TRunLog::row_from(const TQX5200_DRIVER &driver, bool status_read) {
  TRow row;
  row.running = driver.running();
  if (!status_read)
    return row;
  row.board_present = driver.load_board_present();
  row.over_temperature = driver.over_temperature();
  // Without a board the status words measure nothing.
  if (driver.load_board_present()) {
    row.sensor = driver.sensor_value();
    row.sensor_units = driver.load_board().lb_sensor_units;
    row.temperature = driver.temperature();
  }
  return row;
}

bool TRunLog::write_row(const TRow &row, QString &reason) {
  if (fd_ < 0) {
    reason = QStringLiteral("the log is not open");
    return false;
  }
  const double elapsed = double(clock_.nsecsElapsed()) / 1e9;
  const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
  return write_formatted(format_row(format_, now, elapsed, row), reason);
}

bool TRunLog::write_row(const TRow &row, qint64 offset_ms, QString &reason) {
  if (fd_ < 0) {
    reason = QStringLiteral("the log is not open");
    return false;
  }
  const QString time = start_utc_.addMSecs(offset_ms).toString(Qt::ISODateWithMs);
  return write_formatted(format_row(format_, time, double(offset_ms) / 1000, row), reason);
}

bool TRunLog::write_formatted(QByteArray bytes, QString &reason) {
  created_ = false;
  if (needs_newline_)
    bytes.prepend('\n');
  if (!write_all(bytes, reason))
    return false;
  needs_newline_ = false;
  return true;
}

bool TRunLog::write_all(const QByteArray &bytes, QString &reason) {
  const char *p = bytes.constData();
  std::size_t left = std::size_t(bytes.size());
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      const int number = errno;
      // A row cut off by a full disk is taken back, if nobody else wrote meanwhile.
      const qint64 written = p - bytes.constData();
      if (written > 0) {
        struct stat st {};
        const bool taken_back = owns_fd_ && size_ >= 0 && ::fstat(fd_, &st) == 0 &&
                                st.st_size == size_ + written && ::ftruncate(fd_, size_) == 0;
        if (!taken_back) { // the next row starts on a new line instead
          needs_newline_ = true;
          size_ = -1;
        }
      }
      return fail(number, reason);
    }
    p += n;
    left -= std::size_t(n);
  }
  if (size_ >= 0)
    size_ += bytes.size();
  return true;
}
