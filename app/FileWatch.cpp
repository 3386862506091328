#include "FileWatch.h"

#include "QX5200_unit.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>

TFileWatch::TFileWatch(TForm1 &window, THooks hooks)
    : QObject(&window), window_(window), hooks_(std::move(hooks)) {}

qint64 TFileWatch::age_of(const QString &file) {
  const QFileInfo info(file);
  if (!info.exists())
    return -1;
  return info.lastModified().toMSecsSinceEpoch();
}

void TFileWatch::watch(const QString &file, qint64 age) {
  file_name_ = file;
  file_age_ = file.isEmpty() ? 0 : age;
  kept_age_ = -1;
}

void TFileWatch::tick() {
  // Never behind a question or dialog the user has not answered yet.
  if (!enabled_ || file_name_.isEmpty() || QApplication::activeModalWidget() ||
      !QFileInfo::exists(file_name_))
    return;
  const qint64 age = age_of(file_name_);
  if (age == file_age_ || age == kept_age_)
    return;
  const QString shown = QFileInfo(file_name_).fileName();
  if (hooks_.modified()) {
    kept_age_ = age; // asked once for this change, whatever the answer
    const int answer = window_.dialogs().ask(&window_,
                                             tr("%1 changed on disk; the table has edits not saved.\n"
                                                "Reloading replaces them, and Edit > Undo brings them back.")
                                                 .arg(shown),
                                             {tr("Reload from disk"), tr("Keep my edits")});
    if (answer != 0)
      return;
  }
  // Taken as seen first: a file that cannot be read is reported once, not on every tick.
  file_age_ = age;
  const QString file = file_name_;
  if (hooks_.reload(file))
    window_.show_status_message(tr("%1 changed on disk and was read again").arg(shown));
}
