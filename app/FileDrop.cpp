#include "FileDrop.h"

#include "SplitFunctions.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <vector>

QStringList dropped_files(const QMimeData *mime) {
  QStringList files;
  if (!mime)
    return files;
  for (const QUrl &url : mime->urls())
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
      files << url.toLocalFile();
  return files;
}

namespace {

// The file's first line; a heading line is short, so the first 64 KB hold it.
QString first_line(const QString &file_name) {
  QFile f(file_name);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  QByteArray head = f.read(1 << 16);
  if (head.startsWith("\xEF\xBB\xBF"))
    head.remove(0, 3);
  qsizetype end = 0;
  while (end < head.size() && head[end] != '\n' && head[end] != '\r')
    ++end;
  // The separators are ASCII, so any decoding that keeps ASCII finds them.
  return QString::fromLatin1(head.left(end));
}

} // namespace

int separator_item_for_file(const QString &file_name, int current, const QList<TSeparatorChoice> &items,
                            int fields) {
  const QString extension = QFileInfo(file_name).suffix();
  QList<int> candidates;
  for (int i = 0; i < items.size(); ++i)
    if (items[i].extension.compare(extension, Qt::CaseInsensitive) == 0)
      candidates << i;
  if (candidates.isEmpty())
    return current;
  if (candidates.size() > 1) {
    const QString line = first_line(file_name);
    std::vector<QStringView> split;
    auto fits = [&](int item) {
      split_fields(line, QChar::fromLatin1(items[item].separator), split);
      return int(split.size()) == fields;
    };
    if (candidates.contains(current) && fits(current))
      return current;
    for (int item : candidates)
      if (fits(item))
        return item;
  }
  return candidates.contains(current) ? current : candidates.front();
}

TFileDropCatcher::TFileDropCatcher(QWidget *window, std::function<void(const QStringList &)> open)
    : QObject(window), window_(window), open_(std::move(open)) {
  window_->setAcceptDrops(true);
  qApp->installEventFilter(this);
}

TFileDropCatcher::~TFileDropCatcher() { qApp->removeEventFilter(this); }

bool TFileDropCatcher::eventFilter(QObject *watched, QEvent *event) {
  const QEvent::Type type = event->type();
  if ((type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) ||
      !watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != window_)
    return false;
  auto *drop = static_cast<QDropEvent *>(event); // the enter and move events are drop events too
  const QStringList files = dropped_files(drop->mimeData());
  if (files.isEmpty())
    return false;
  drop->acceptProposedAction();
  if (type == QEvent::Drop)
    open_(files);
  return true;
}
