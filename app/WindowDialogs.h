#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

// The main window's message boxes and file dialogs. The window owns one; tests replace it so
// nothing modal ever waits for a user who is not there.
class TWindowDialogs {
public:
  virtual ~TWindowDialogs() = default;
  // The chosen file name, empty when cancelled.
  virtual QString open_file_name(QWidget *parent, const QStringList &filters,
                                 const QString &default_suffix) = 0;
  virtual QString save_file_name(QWidget *parent, const QStringList &filters,
                                 const QString &default_suffix) = 0;
  // An information box with an OK button, its top-left corner at `pos` (global coordinates).
  virtual void information(QWidget *parent, const QString &text, const QPoint &pos) = 0;
  // A failure the user has to know about (a file that could not be read or written).
  virtual void error(QWidget *parent, const QString &text) = 0;
  // Shows one of the window's own dialogs modally.
  virtual int exec(QDialog &dialog);
  // The folder the next file dialog starts in; empty: the last one it showed.
  QString start_folder;
  // A question answered with one of `buttons` or Cancel: the index of the button, -1 for Cancel.
  virtual int choose(QWidget *parent, const QString &text, const QStringList &buttons);
  // A question answered with one of `buttons` and nothing else: the index of the button; Escape
  // or closing the box gives the last.
  virtual int ask(QWidget *parent, const QString &text, const QStringList &buttons);
  // A file to write to that may exist: whether to append to it or replace it is asked afterwards.
  virtual QString append_file_name(QWidget *parent, const QStringList &filters,
                                   const QString &default_suffix) {
    return save_file_name(parent, filters, default_suffix);
  }
};

// The real dialogs: Qt's own file dialog (not the desktop's), which remembers its folder.
class TQtWindowDialogs : public TWindowDialogs {
public:
  QString open_file_name(QWidget *parent, const QStringList &filters, const QString &default_suffix) override;
  QString save_file_name(QWidget *parent, const QStringList &filters, const QString &default_suffix) override;
  void information(QWidget *parent, const QString &text, const QPoint &pos) override;
  void error(QWidget *parent, const QString &text) override;
  QString append_file_name(QWidget *parent, const QStringList &filters,
                           const QString &default_suffix) override;

private:
  QString run(QWidget *parent, bool save, const QStringList &filters, const QString &default_suffix,
              bool confirm_overwrite = true);
  QString directory_;
};
