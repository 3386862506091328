#include "WindowDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

QString TQtWindowDialogs::run(QWidget *parent, bool save, const QStringList &filters,
                              const QString &default_suffix, bool confirm_overwrite) {
  QFileDialog dialog(parent);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirm_overwrite);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(default_suffix);
  const QString folder = start_folder.isEmpty() ? directory_ : start_folder;
  if (!folder.isEmpty())
    dialog.setDirectory(folder);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return {};
  const QString name = dialog.selectedFiles().constFirst();
  directory_ = QFileInfo(name).absolutePath();
  return name;
}

QString TQtWindowDialogs::open_file_name(QWidget *parent, const QStringList &filters,
                                         const QString &default_suffix) {
  return run(parent, false, filters, default_suffix);
}

QString TQtWindowDialogs::save_file_name(QWidget *parent, const QStringList &filters,
                                         const QString &default_suffix) {
  return run(parent, true, filters, default_suffix);
}

QString TQtWindowDialogs::append_file_name(QWidget *parent, const QStringList &filters,
                                           const QString &default_suffix) {
  return run(parent, true, filters, default_suffix, false);
}

void TQtWindowDialogs::information(QWidget *parent, const QString &text, const QPoint &pos) {
  QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                  parent);
  box.move(pos);
  box.exec();
}

void TQtWindowDialogs::error(QWidget *parent, const QString &text) {
  QMessageBox::warning(parent, QApplication::applicationDisplayName(), text);
}

int TWindowDialogs::exec(QDialog &dialog) { return dialog.exec(); }

namespace {

int question(QWidget *parent, const QString &text, const QStringList &buttons, bool cancel) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), text, QMessageBox::NoButton,
                  parent);
  QList<QAbstractButton *> choices;
  for (const QString &caption : buttons)
    choices << box.addButton(caption, QMessageBox::AcceptRole);
  if (cancel)
    box.addButton(QMessageBox::Cancel);
  else if (!choices.isEmpty())
    box.setEscapeButton(choices.back());
  if (!choices.isEmpty())
    box.setDefaultButton(qobject_cast<QPushButton *>(choices.front()));
  box.exec();
  const int chosen = int(choices.indexOf(box.clickedButton()));
  return cancel || chosen >= 0 ? chosen : int(choices.size()) - 1;
}

} // namespace

int TWindowDialogs::choose(QWidget *parent, const QString &text, const QStringList &buttons) {
  return question(parent, text, buttons, true);
}

int TWindowDialogs::ask(QWidget *parent, const QString &text, const QStringList &buttons) {
  return question(parent, text, buttons, false);
}
