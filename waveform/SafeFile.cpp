#include "SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString os_reason(int number) { return QString::fromLocal8Bit(std::strerror(number)); }

mode_t new_file_mode() {
  // mkstemp makes 0600; a new file gets what open(O_CREAT, 0666) would give under the umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

} // namespace

TSafeFile::TSafeFile(const QString &file_name) : target_(file_name) {
  const QFileInfo info(file_name);
  if (info.isSymLink() && info.exists())
    target_ = info.canonicalFilePath();
}

TSafeFile::~TSafeFile() {
  if (fd_ >= 0)
    ::close(fd_);
  if (!committed_ && !temp_name_.isEmpty())
    ::unlink(temp_name_.constData());
}

bool TSafeFile::fail(int number, const QString &text, QString &error) {
  errno_ = number;
  error = text;
  return false;
}

bool TSafeFile::open(QString &error) {
  const QByteArray target = QFile::encodeName(target_);
  mode_t mode = new_file_mode();
  struct stat st {};
  if (::stat(target.constData(), &st) == 0) {
    if (S_ISDIR(st.st_mode))
      return fail(EISDIR, os_reason(EISDIR), error);
    // Replacing a file the user may not write would bypass its protection.
    if (::access(target.constData(), W_OK) != 0)
      return fail(errno, os_reason(errno), error);
    mode = st.st_mode & 07777;
  }
  const QFileInfo info(target_);
  const QString folder = info.absolutePath();
  temp_name_ = QFile::encodeName(folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
  fd_ = ::mkostemp(temp_name_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    const int number = errno;
    temp_name_.clear();
    if (number == EACCES || number == EPERM || number == EROFS)
      return fail(number,
                  QCoreApplication::translate("TSafeFile", "its folder \"%1\" allows no temporary file (%2), "
                                                           "and it is not written in place")
                      .arg(QDir::toNativeSeparators(folder), os_reason(number)),
                  error);
    return fail(number, os_reason(number), error);
  }
  if (::fchmod(fd_, mode) != 0)
    return fail(errno, os_reason(errno), error);
  return true;
}

bool TSafeFile::write(const char *data, std::size_t size, QString &error) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return fail(errno, os_reason(errno), error);
    }
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

bool TSafeFile::commit(QString &error) {
  if (fd_ < 0 || temp_name_.isEmpty())
    return fail(EBADF, os_reason(EBADF), error);
  // Some file systems report a lack of space only when the data reach the disk.
  if (::fsync(fd_) != 0 && errno != EINVAL)
    return fail(errno, os_reason(errno), error);
  if (::rename(temp_name_.constData(), QFile::encodeName(target_).constData()) != 0)
    return fail(errno, os_reason(errno), error);
  committed_ = true;
  return true;
}

int TSafeFile::take_fd() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool save_file_safely(const QString &file_name, const std::function<bool(QIODevice &)> &write,
                      QString &error) {
  TSafeFile safe(file_name);
  if (!safe.open(error))
    return false;
  QFile f;
  if (!f.open(safe.fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
    error = f.errorString();
    return false;
  }
  const bool written = write(f) && f.flush();
  if (!written || f.error() != QFileDevice::NoError) {
    error =
        f.error() != QFileDevice::NoError ? f.errorString() : QStringLiteral("The file could not be written");
    return false;
  }
  f.close();
  return safe.commit(error);
}
