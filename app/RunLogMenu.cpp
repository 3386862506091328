#include "RunLogMenu.h"

#include "QX5200_Driver.h"
#include "QX5200_unit.h"
#include "Settings.h"
#include "WindowDialogs.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

TRunLogMenu::TRunLogMenu(TForm1 &window, QMenu *menu)
    : QObject(&window), window_(window), action_(new QAction(QStringLiteral("&Run Log..."), &window)),
      label_(new QLabel(window.statusBar())) {
  action_->setObjectName(QStringLiteral("ac_run_log"));
  action_->setCheckable(true);
  action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  menu->addAction(action_);
  window.addAction(action_);
  label_->setObjectName(QStringLiteral("run_log_panel"));
  label_->hide();
  window.statusBar()->addPermanentWidget(label_);
  connect(action_, &QAction::toggled, this, &TRunLogMenu::toggled);
  connect(&window, &TForm1::tick_finished, this, &TRunLogMenu::tick);
}

bool TRunLogMenu::choose_file(QString &name, TRunLog::TOpenMode &mode) {
  TWindowDialogs &dialogs = window_.dialogs();
  if (!file_name_.isEmpty()) {
    const int choice = dialogs.choose(&window_,
                                      tr("Log to \"%1\" again, adding the new rows, or to a new file?")
                                          .arg(QDir::toNativeSeparators(file_name_)),
                                      {tr("Append"), tr("New File...")});
    if (choice < 0)
      return false;
    if (choice == 0) {
      name = file_name_;
      mode = TRunLog::append;
      return true;
    }
  }
  name = window_.in_folder(TSettings::run_log_folder, [&] {
    return dialogs.append_file_name(&window_, {QStringLiteral("Run Log (*.csv)")}, QStringLiteral("csv"));
  });
  if (name.isEmpty())
    return false;
  mode = TRunLog::replace;
  const QFileInfo info(name);
  if (info.exists() && info.size() > 0) {
    const int choice = dialogs.choose(&window_,
                                      tr("\"%1\" already holds a log. Add the new rows to it, or replace it?")
                                          .arg(QDir::toNativeSeparators(name)),
                                      {tr("Append"), tr("Replace")});
    if (choice < 0)
      return false;
    mode = choice == 0 ? TRunLog::append : TRunLog::replace;
  }
  return true;
}

void TRunLogMenu::toggled(bool on) {
  if (!on) {
    stop({});
    return;
  }
  QString name;
  TRunLog::TOpenMode mode = TRunLog::append;
  if (!choose_file(name, mode)) { // cancelled: nothing is logged
    action_->setChecked(false);
    return;
  }
  QString reason;
  if (!log_.open(name, TRunLog::csv, mode, reason)) {
    stop(QStringLiteral(" Log: %1: %2").arg(QDir::toNativeSeparators(name), reason));
    window_.dialogs().error(&window_, tr("The run log \"%1\" could not be written: %2.\nNothing is logged.")
                                          .arg(QDir::toNativeSeparators(name), reason));
    return;
  }
  file_name_ = name;
  label_->setText(QStringLiteral(" Log: ") + QDir::toNativeSeparators(file_name_));
  label_->show();
}

void TRunLogMenu::tick() {
  if (!log_.is_open() || !window_.driver->is_connected())
    return;
  // A tick reads the status only while no waveform runs; a board whose record is not in has no
  // units or scale yet.
  const TQX5200_DRIVER &driver = *window_.driver;
  TRunLog::TRow row = TRunLog::row_from(driver, !driver.is_running());
  if (!window_.load_board_ready()) {
    row.sensor.reset();
    row.temperature.reset();
  }
  QString reason;
  if (log_.write_row(row, reason))
    return;
  const QString name = QDir::toNativeSeparators(file_name_);
  stop(QStringLiteral(" Log stopped: %1").arg(reason));
  window_.show_status_message((driver.is_running()
                                   ? tr("The run log \"%1\" stopped: %2. The waveform goes on running.")
                                   : tr("The run log \"%1\" stopped: %2."))
                                  .arg(name, reason));
}

void TRunLogMenu::stop(const QString &why) {
  log_.close();
  const QSignalBlocker quiet(action_); // the tick goes off without running toggled again
  action_->setChecked(false);
  label_->setText(why);
  label_->setToolTip(why);
  label_->setVisible(!why.isEmpty());
}
