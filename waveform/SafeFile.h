#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

// A file written so that what was there before survives any failure: the new content goes into a
// temporary file beside the target, which takes the target's place only once every byte is written
// and synced. Until then (a full disk, a crash, a cancel) the old file is untouched and no empty
// or partial file is left. A folder that allows no temporary file is refused: writing in place
// would cut the old file before the new one is known to fit.
class TSafeFile {
public:
  explicit TSafeFile(const QString &file_name);
  ~TSafeFile(); // removes the temporary file unless committed
  TSafeFile(const TSafeFile &) = delete;
  TSafeFile &operator=(const TSafeFile &) = delete;

  // Makes the temporary file. False, with the reason, when it cannot be made or the target may
  // not be replaced (a read-only file, a folder).
  bool open(QString &error);
  // The temporary file's descriptor until commit, then the committed file's (owned until take_fd).
  int fd() const { return fd_; }
  bool write(const char *data, std::size_t size, QString &error);
  // Syncs the temporary file and moves it over the target.
  bool commit(QString &error);
  // The descriptor, no longer closed by this object.
  int take_fd();
  // The file that is replaced: the target of a symbolic link rather than the link.
  const QString &target() const { return target_; }
  // The errno of the last failure (ENOSPC, EACCES, ...), 0 when none.
  int error_number() const { return errno_; }

private:
  bool fail(int number, const QString &text, QString &error);

  QString target_;
  QByteArray temp_name_;
  int fd_ = -1;
  bool committed_ = false;
  int errno_ = 0;
};

// The whole file through TSafeFile: `write` puts the content into the device and says whether
// every write went through. False, with the reason, when the old file was kept.
bool save_file_safely(const QString &file_name, const std::function<bool(QIODevice &)> &write,
                      QString &error);
