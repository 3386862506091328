#pragma once

#include "Settings.h"

#include <QObject>

#include <functional>

class QMenu;
class TSettings;

// File > Open Recent: the last files opened or saved, newest first, each with the Data
// Separator it was read with; a file that has gone is said and taken off the list; "Clear List".
class TRecentFiles : public QObject {
  Q_OBJECT
public:
  using TOpen = std::function<void(const TRecentFile &)>;
  using TSay = std::function<void(const QString &)>;

  TRecentFiles(QObject *parent, QMenu *menu, TOpen open, TSay say);
  // The list to show and keep; nullptr keeps it for this run only.
  void set_settings(TSettings *settings);
  void add(const TRecentFile &file);
  void clear();
  const QList<TRecentFile> &files() const { return files_; }

private:
  void open(int index);
  void rebuild();

  QMenu *menu_;
  TOpen open_;
  TSay say_;
  TSettings *settings_ = nullptr;
  QList<TRecentFile> files_;
};
