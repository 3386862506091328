#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

// The local files of a drag, in the order they were dragged; other URLs are nothing to open.
QStringList dropped_files(const QMimeData *mime);

// One Data Separator item as a dropped file is matched against it: the extension its file
// filter names, and its separator.
struct TSeparatorChoice {
  QString extension;
  char separator;
};

// The Data Separator item a dropped file opens with. Among the items whose extension is the
// file's, the one whose separator splits the file's first line into `fields` fields (the
// current item first); else the current item when it is among them; else the first of them. A
// file whose extension no item names keeps the current item. So a ".csv" from a comma-decimal
// spreadsheet ("Zeit;Strom") opens as Semicolon even while Comma is chosen, and the other way.
int separator_item_for_file(const QString &file_name, int current, const QList<TSeparatorChoice> &items,
                            int fields);

// Takes every drag of local files over `window`, whatever child is under the pointer, and hands
// the dropped files to `open`: a number field would otherwise take a file's path as text.
class TFileDropCatcher : public QObject {
public:
  TFileDropCatcher(QWidget *window, std::function<void(const QStringList &)> open);
  ~TFileDropCatcher() override;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  QWidget *window_;
  std::function<void(const QStringList &)> open_;
};
