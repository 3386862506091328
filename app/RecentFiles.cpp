#include "RecentFiles.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

TRecentFiles::TRecentFiles(QObject *parent, QMenu *menu, TOpen open, TSay say)
    : QObject(parent), menu_(menu), open_(std::move(open)), say_(std::move(say)) {
  rebuild();
}

void TRecentFiles::set_settings(TSettings *settings) {
  settings_ = settings;
  files_ = settings ? settings->recent_files() : QList<TRecentFile>();
  rebuild();
}

void TRecentFiles::add(const TRecentFile &file) {
  const QString path = QFileInfo(file.path).absoluteFilePath();
  files_.removeIf([&](const TRecentFile &f) { return f.path == path; });
  files_.prepend({path, file.separator});
  while (files_.size() > TSettings::recent_count)
    files_.removeLast();
  rebuild();
}

void TRecentFiles::clear() {
  files_.clear();
  rebuild();
}

void TRecentFiles::open(int index) {
  if (index < 0 || index >= files_.size())
    return;
  const TRecentFile file = files_[index];
  if (!QFileInfo(file.path).isFile()) {
    files_.removeAt(index);
    rebuild();
    say_(tr("\"%1\" is no longer there; it was taken off the recent files.")
             .arg(QDir::toNativeSeparators(file.path)));
    return;
  }
  open_(file);
}

void TRecentFiles::rebuild() {
  if (settings_)
    settings_->set_recent_files(files_);
  menu_->clear();
  for (int i = 0; i < files_.size(); ++i) {
    // "&1 name", the folder in the tooltip; an & in a name is shown, not taken as a mnemonic.
    QString name = QFileInfo(files_[i].path).fileName();
    name.replace(u'&', QStringLiteral("&&"));
    QAction *action = menu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(name));
    action->setToolTip(QDir::toNativeSeparators(files_[i].path));
    action->setStatusTip(action->toolTip());
    connect(action, &QAction::triggered, this, [this, i] { open(i); });
  }
  menu_->addSeparator();
  QAction *clear_action = menu_->addAction(tr("&Clear List"));
  clear_action->setObjectName(QStringLiteral("ac_clear_recent"));
  clear_action->setEnabled(!files_.isEmpty());
  connect(clear_action, &QAction::triggered, this, &TRecentFiles::clear);
  menu_->setToolTipsVisible(true);
  menu_->setEnabled(true);
}
