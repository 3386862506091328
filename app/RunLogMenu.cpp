#include "RunLogMenu.h"

#include "QX5200_Driver.h"
#include "QX5200_unit.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

TRunLogMenu::TRunLogMenu(TForm1 &window, QMenu *menu, TAskFile ask_file)
    : QObject(&window), window_(window), ask_file_(std::move(ask_file)),
      action_(new QAction(QStringLiteral("&Run Log..."), &window)), label_(new QLabel(window.statusBar())) {
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

void TRunLogMenu::toggled(bool on) {
  if (!on) {
    stop({});
    return;
  }
  if (file_name_.isEmpty())
    file_name_ = ask_file_();
  if (file_name_.isEmpty()) { // cancelled: nothing is logged
    action_->setChecked(false);
    return;
  }
  QString reason;
  if (!log_.open(file_name_, TRunLog::csv, reason)) {
    // Asked again next time: this one could not be written.
    const QString name = file_name_;
    file_name_.clear();
    stop(QStringLiteral(" Log: %1: %2").arg(name, reason));
    return;
  }
  label_->setText(QStringLiteral(" Log: ") + file_name_);
  label_->show();
}

void TRunLogMenu::tick() {
  if (!log_.is_open() || !window_.driver->is_connected())
    return;
  QString reason;
  if (!log_.write_row(*window_.driver, reason))
    stop(QStringLiteral(" Log: %1: %2").arg(file_name_, reason));
}

void TRunLogMenu::stop(const QString &why) {
  log_.close();
  action_->setChecked(false);
  label_->setText(why);
  label_->setVisible(!why.isEmpty());
}
