#include "DeviceLock.h"

#include "tqhid_unit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString lock_dir() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(QString::fromLocal8Bit(runtime)).isDir())
    return QString::fromLocal8Bit(runtime);
  // Per user: another user's file would not be writable, and a user without the seat cannot
  // open the device anyway.
  const QString dir = QStringLiteral("/tmp/qx5200-%1").arg(::getuid());
  QDir().mkpath(dir);
  QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return dir;
}

TDeviceLock::Holder read_holder(int fd) {
  TDeviceLock::Holder h;
  char buf[512];
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0)
    return h;
  // "program\npid\nserial\n": the program's name may hold spaces.
  const QStringList lines = QString::fromUtf8(buf, n).split(u'\n');
  if (lines.size() >= 2) {
    h.program = lines[0];
    h.pid = lines[1].toLongLong();
  }
  if (lines.size() >= 3)
    h.serial = lines[2];
  return h;
}

} // namespace

TDeviceLock::TDeviceLock(QString program) : program_(std::move(program)) {}

TDeviceLock::~TDeviceLock() {
  if (hid_)
    hid_->set_claim_handlers({}, {});
  release();
}

QString TDeviceLock::lock_file(const QString &path) {
  // "/dev/hidraw3" -> qx5200-dev_hidraw3.lock
  QString name = path;
  for (QChar &c : name)
    if (!c.isLetterOrNumber() && c != u'-')
      c = u'_';
  while (name.startsWith(u'_'))
    name.remove(0, 1);
  // A virtual device lives inside its program: two programs each have one of their own, which
  // never stand in each other's way, nor do they see what the other uploaded.
  if (path.startsWith(u"virtual:")) {
    const qint64 owner = qEnvironmentVariableIntValue("QX5200_SIMULATE_PID");
    name += QStringLiteral("-pid%1").arg(owner > 0 ? owner : QCoreApplication::applicationPid());
  }
  return lock_dir() + QStringLiteral("/qx5200-%1.lock").arg(name);
}

bool TDeviceLock::acquire(const QString &path) {
  if (held() && path == path_)
    return true;
  release();
  holder_ = {};
  const QByteArray file = QFile::encodeName(lock_file(path));
  const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    holder_.program = QStringLiteral("an unknown program (%1 cannot be opened)").arg(lock_file(path));
    return false;
  }
  int r;
  do
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    holder_ = read_holder(fd);
    if (holder_.program.isEmpty())
      holder_.program = QStringLiteral("another program");
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  serial_.clear();
  write_holder();
  if (on_held_)
    on_held_(true);
  return true;
}

void TDeviceLock::release() {
  if (fd_ < 0)
    return;
  if (on_held_)
    on_held_(false);
  // The file stays: removing it would race with a program that has just opened it.
  if (::ftruncate(fd_, 0) != 0) {
    // Only the holder line is lost; the lock still goes with the close.
  }
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

void TDeviceLock::set_serial(quint16 serial) {
  serial_ = QString::number(serial);
  if (held())
    write_holder();
}

void TDeviceLock::write_holder() {
  const QByteArray text =
      (program_ + u'\n' + QString::number(QCoreApplication::applicationPid()) + u'\n' + serial_ + u'\n')
          .toUtf8();
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, text.constData(), std::size_t(text.size()), 0) < 0) {
    // The lock holds without its note; a refused program then names no holder.
  }
}

QString TDeviceLock::in_use_text() const {
  const QString who =
      holder_.pid > 0 ? QStringLiteral("%1 (pid %2)").arg(holder_.program).arg(holder_.pid) : holder_.program;
  const QString id = holder_.serial.isEmpty() ? refused_path_ : holder_.serial;
  return QStringLiteral("QX5200 %1 is in use by %2").arg(id, who);
}

bool TDeviceLock::probe(const QString &path, Holder &holder) {
  TDeviceLock probe_lock(QString{});
  if (probe_lock.acquire(path))
    return false;
  holder = probe_lock.holder();
  return true;
}

void TDeviceLock::attach(TQHID *hid, const QString &only_path) {
  hid_ = hid;
  hid->set_claim_handlers(
      [this, only_path](const THidPnPInfo &pnp) {
        if (!only_path.isEmpty() && pnp.path != only_path)
          return TQHID::claim_skip;
        if (acquire(pnp.path)) {
          if (clears_upload_stamp_)
            QFile::remove(upload_stamp_file(pnp.path));
          return TQHID::claim_taken;
        }
        refused_path_ = pnp.path;
        return TQHID::claim_in_use;
      },
      [this] { release(); });
}
