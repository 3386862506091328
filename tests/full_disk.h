#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

// A real full file system: a 16 KiB tmpfs mounted for the test (root only, as in CI), filled by
// fill() so that every further write fails with "No space left on device".
class TFullDisk {
public:
  TFullDisk() {
    if (::geteuid() == 0 && dir_.isValid())
      mounted_ = ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, "size=16k") == 0;
  }
  ~TFullDisk() {
    if (mounted_)
      ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  QString path(const QString &name) const { return dir_.filePath(name); }
  void fill() const {
    QFile filler(path(QStringLiteral("filler")));
    if (filler.open(QIODevice::WriteOnly))
      while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
      }
  }

private:
  QTemporaryDir dir_;
  bool mounted_ = false;
};

#define QX5200_REQUIRE_FULL_DISK(disk)                                                                       \
  if (!(disk).mounted())                                                                                     \
  QSKIP("a full file system needs root to mount a 16 KiB tmpfs; run as root (as CI does) to test it")
